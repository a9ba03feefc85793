#include "settings/Resources.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

namespace bopling {

namespace {

QString findResourceFolder()
{
    // applicationDirPath() needs an application object; tools and tests that
    // have none fall back to the build-tree location.
    if (QCoreApplication::instance()) {
        const QDir bin(QCoreApplication::applicationDirPath());
        const QString installed = bin.absoluteFilePath(QStringLiteral("../share/bopling"));
        if (QFileInfo(installed + QStringLiteral("/web")).isDir())
            return QDir::cleanPath(installed);
    }
    return QDir::cleanPath(QStringLiteral(BOPLING_SOURCE_RESOURCES));
}

} // namespace

QString resourceFolder()
{
    static const QString folder = findResourceFolder();
    return folder;
}

QString resourcePath(const QString &relative)
{
    return resourceFolder() + QLatin1Char('/') + relative;
}

} // namespace bopling
