#include "settings/AtomicFile.h"

#include <QSaveFile>

#include <cerrno>
#include <cstring>

namespace bopling {

std::optional<QString> writeFileAtomically(const QString &path, const QByteArray &bytes)
{
    // Unbuffered, so that a short write shows in the count.
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Unbuffered))
        return file.errorString();
    errno = 0;
    const qint64 written = file.write(bytes);
    if (written != bytes.size()) {
        const QString reason = written < 0 || errno == 0
                                   ? file.errorString()
                                   : QString::fromLocal8Bit(std::strerror(errno));
        file.cancelWriting();
        return reason;
    }
    if (!file.commit())
        return file.errorString();
    return std::nullopt;
}

} // namespace bopling
