#include "render/RendererPage.h"

namespace bopling {

bool RendererPage::acceptNavigationRequest(const QUrl &url, NavigationType, bool isMainFrame)
{
    return !isMainFrame || url.scheme() == QLatin1String("qx");
}

QWebEnginePage *RendererPage::createWindow(WebWindowType)
{
    return nullptr;
}

void RendererPage::javaScriptConsoleMessage(JavaScriptConsoleMessageLevel, const QString &, int,
                                            const QString &)
{}

} // namespace bopling
