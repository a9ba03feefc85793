#pragma once

#include <QByteArray>
#include <QString>
#include <QUrl>

namespace bopling {

// Maps a "qx:" address to a file of the web folder and reads it, without any web engine, so
// the rules of what may be served are tested on their own. Only regular files whose real
// path lies inside the web folder's real path are served; a symbolic link inside the folder
// cannot lead out of it, and folders are never served. Main thread, like the scheme handler
// that uses it.
class BundleResolver final
{
public:
    // The two ways a request fails; the scheme handler maps them to the engine's
    // "invalid URL" and "not found" errors.
    enum class Status { ok, urlInvalid, urlNotFound };

    struct Reply
    {
        Status status = Status::urlNotFound;
        QString filePath;       // the file served (its real path), when ok
        QByteArray contentType; // by the requested file name's extension, when ok
        QByteArray data;        // the whole file, when ok
    };

    // `rootFolder` is the web folder; its real path is taken once here.
    explicit BundleResolver(const QString &rootFolder);

    // The web folder's real path ("/" and "." parts and symbolic links resolved). Empty when
    // the folder did not exist at construction: nothing is served then.
    const QString &root() const { return rootPath; }

    // The standardised path the address names inside the web folder, before symbolic links
    // are followed, or an empty string when it does not name a file below the folder.
    // The host part, the query and the fragment are ignored; "/" stands for "/index.html".
    QString requestedPath(const QUrl &url) const;

    // Resolves and reads the file for `url`.
    Reply serve(const QUrl &url) const;

    // "text/html" for "html", "text/javascript" for "js" and "mjs", "application/json",
    // "image/png", "text/css"; "application/octet-stream" for any other extension or none.
    // The comparison is exact: "INDEX.HTML" is octet-stream.
    static QByteArray contentType(const QString &fileName);

private:
    QString rootPath;
};

} // namespace bopling
