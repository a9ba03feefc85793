#include "app/StateLog.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonParseError>
#include <QJsonValue>

#include <cmath>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace bopling {

namespace {

QByteArray jsonString(const QString &text)
{
    // A one-element array is the simplest way to have Qt escape a string.
    const QByteArray array = QJsonDocument(QJsonArray{text}).toJson(QJsonDocument::Compact);
    return array.mid(1, array.size() - 2);
}

QByteArray jsonNumber(double value)
{
    if (!std::isfinite(value))
        return QByteArrayLiteral("0");
    QByteArray text = QByteArray::number(value, 'g', QLocale::FloatingPointShortest);
    if (!text.contains('.') && !text.contains('e'))
        text += ".0";
    return text;
}

QByteArray jsonBool(bool value)
{
    return value ? QByteArrayLiteral("true") : QByteArrayLiteral("false");
}

// Exactly one JSON value. Wrapped in an array, so that scalars are accepted
// as well as objects; "1,2" would make two elements and is refused.
bool isJsonText(const QByteArray &text)
{
    QJsonParseError error{};
    const QJsonDocument document = QJsonDocument::fromJson("[" + text + "]", &error);
    return error.error == QJsonParseError::NoError && document.array().size() == 1;
}

} // namespace

std::optional<QString> StateLogEntry::pageAnswer(const QVariant &result)
{
    if (result.typeId() != QMetaType::QString)
        return std::nullopt;
    return result.toString();
}

QByteArray stateLogLine(const StateLogEntry &entry)
{
    QByteArray line;
    line += "{\"pid\":" + QByteArray::number(entry.pid);
    line += ",\"web\":" + QByteArray::number(entry.web);
    line += ",\"grab\":" + jsonBool(entry.grab);
    line += ",\"unlocked\":" + jsonBool(entry.unlocked);
    line += ",\"audio\":" + jsonString(entry.audio);
    line += ",\"silentSeconds\":" + jsonNumber(entry.silentSeconds);
    line += ",\"js\":";
    if (!entry.js) {
        line += "null";
    } else {
        const QByteArray answer = entry.js->toUtf8();
        line += isJsonText(answer) ? answer : jsonString(*entry.js);
    }
    line += "}\n";
    return line;
}

bool appendStateLine(const QString &path, const QByteArray &line)
{
    // Never through a link, never into a FIFO or device, never into someone else's file:
    // the path may lie in a shared folder such as /tmp.
    const int fd =
        ::open(QFile::encodeName(path).constData(),
               O_WRONLY | O_APPEND | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0666);
    if (fd < 0)
        return false;
    struct stat info = {};
    const bool ours =
        ::fstat(fd, &info) == 0 && S_ISREG(info.st_mode) && info.st_uid == ::geteuid();
    const bool written = ours && ::write(fd, line.constData(), size_t(line.size())) == line.size();
    ::close(fd);
    return written;
}

} // namespace bopling
