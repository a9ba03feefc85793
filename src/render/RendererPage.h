#pragma once

#include <QWebEnginePage>

namespace bopling {

// The renderer page's web page: it stays on the program's own "qx" pages (a stray link or
// script cannot take the panel to the web), opens no windows, and keeps the page's console
// quiet, because the page reports its errors through the "error" message instead.
// Main thread.
class RendererPage final : public QWebEnginePage
{
    Q_OBJECT
public:
    using QWebEnginePage::QWebEnginePage;

protected:
    bool acceptNavigationRequest(const QUrl &url, NavigationType type, bool isMainFrame) override;
    QWebEnginePage *createWindow(WebWindowType type) override;
    void javaScriptConsoleMessage(JavaScriptConsoleMessageLevel level, const QString &message,
                                  int lineNumber, const QString &sourceID) override;
};

} // namespace bopling
