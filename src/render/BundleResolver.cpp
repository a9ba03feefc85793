#include "render/BundleResolver.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <sys/stat.h>

namespace bopling {

namespace {

// A regular file only: a folder, a FIFO or a device inside the web folder is never read
// (a FIFO would block the main thread).
bool isRegularFile(const QString &path)
{
    struct stat info
    {
    };
    return ::stat(QFile::encodeName(path).constData(), &info) == 0 && S_ISREG(info.st_mode);
}

bool isInside(const QString &path, const QString &folder)
{
    return !folder.isEmpty() && path.startsWith(folder + QLatin1Char('/')) &&
           path.size() > folder.size() + 1;
}

} // namespace

BundleResolver::BundleResolver(const QString &rootFolder)
    : rootPath(QFileInfo(rootFolder).canonicalFilePath())
{}

QString BundleResolver::requestedPath(const QUrl &url) const
{
    if (rootPath.isEmpty())
        return {};
    // Fully decoded, so "%2e%2e" and "%2f" become ".." and "/" here and are judged by the
    // same containment check as plain ones.
    QString path = url.path(QUrl::FullyDecoded);
    if (path == QLatin1String("/"))
        path = QStringLiteral("/index.html");
    if (path.contains(QChar(u'\0')))
        return {};
    const QString relative = path.mid(1);
    const QString standardised = QDir::cleanPath(rootPath + QLatin1Char('/') + relative);
    if (!isInside(standardised, rootPath))
        return {};
    return standardised;
}

BundleResolver::Reply BundleResolver::serve(const QUrl &url) const
{
    Reply reply;
    if (url.isEmpty() || !url.isValid()) {
        reply.status = Status::urlInvalid;
        return reply;
    }
    const QString requested = requestedPath(url);
    if (requested.isEmpty())
        return reply;
    // The real path must still lie inside the web folder: a link may point anywhere.
    const QString real = QFileInfo(requested).canonicalFilePath();
    if (!isInside(real, rootPath) || !isRegularFile(real))
        return reply;
    QFile file(real);
    if (!file.open(QIODevice::ReadOnly))
        return reply;
    QByteArray data = file.readAll();
    if (file.error() != QFileDevice::NoError)
        return reply;
    reply.status = Status::ok;
    reply.filePath = real;
    reply.contentType = contentType(QFileInfo(requested).fileName());
    reply.data = std::move(data);
    return reply;
}

QByteArray BundleResolver::contentType(const QString &fileName)
{
    const qsizetype dot = fileName.lastIndexOf(QLatin1Char('.'));
    const QString extension = dot < 0 ? QString() : fileName.mid(dot + 1);
    if (extension == QLatin1String("html"))
        return "text/html";
    if (extension == QLatin1String("js") || extension == QLatin1String("mjs"))
        return "text/javascript";
    if (extension == QLatin1String("json"))
        return "application/json";
    if (extension == QLatin1String("png"))
        return "image/png";
    if (extension == QLatin1String("css"))
        return "text/css";
    return "application/octet-stream";
}

} // namespace bopling
