#pragma once

#include "render/BundleResolver.h"

#include <QWebEngineUrlSchemeHandler>

namespace bopling {

// Serves the "qx" scheme straight from the web folder: every request is answered, with the
// whole file or with an error, before requestStarted returns. Main thread.
class BundleSchemeHandler final : public QWebEngineUrlSchemeHandler
{
    Q_OBJECT
public:
    explicit BundleSchemeHandler(const QString &root, QObject *parent = nullptr);

    // The web folder's real path.
    const QString &root() const { return resolver.root(); }

    void requestStarted(QWebEngineUrlRequestJob *job) override;

private:
    BundleResolver resolver;
};

} // namespace bopling
