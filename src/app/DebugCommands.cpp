#include "app/DebugCommands.h"

#include <QFileInfo>
#include <QRegularExpression>
#include <QStringDecoder>
#include <QTemporaryFile>

#include <cmath>
#include <cstdio>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace bopling {

namespace {

using namespace debug;

// The command file is a handful of lines; anything much larger is not one.
constexpr qint64 kMaxCommandFileBytes = 1 << 20;

// Up to `maxParts` words separated by runs of spaces; the last part is the
// rest of the text with its inner spaces (and no leading ones).
QStringList splitWords(QStringView text, int maxParts)
{
    QStringList parts;
    qsizetype at = 0;
    while (at < text.size()) {
        while (at < text.size() && text[at] == u' ')
            ++at;
        if (at == text.size())
            break;
        if (parts.size() == maxParts - 1) {
            parts.append(text.mid(at).toString());
            break;
        }
        qsizetype end = at;
        while (end < text.size() && text[end] != u' ')
            ++end;
        parts.append(text.mid(at, end - at).toString());
        at = end;
    }
    return parts;
}

QStringList splitAll(QStringView text)
{
    return splitWords(text, int(text.size()) + 1);
}

// An optional sign and decimal digits that fit an int, else `fallback`.
int integer(const QString &text, int fallback)
{
    static const QRegularExpression digits(QStringLiteral("^[+-]?[0-9]+$"));
    if (!digits.match(text).hasMatch())
        return fallback;
    bool ok = false;
    const int value = text.toInt(&ok);
    return ok ? value : fallback;
}

std::optional<double> decimal(const QString &text)
{
    bool ok = false;
    const double value = text.toDouble(&ok);
    if (!ok || !std::isfinite(value))
        return std::nullopt;
    return value;
}

Set setCommand(const QString &key, const QString &value)
{
    const bool flag = value == QLatin1String("1");
    static const QHash<QString, Key> keys = {
        {QStringLiteral("layout"), Key::layout},
        {QStringLiteral("corner"), Key::corner},
        {QStringLiteral("cornerSize"), Key::cornerSize},
        {QStringLiteral("stripSize"), Key::stripSize},
        {QStringLiteral("intensity"), Key::intensity},
        {QStringLiteral("tobble"), Key::tobble},
        {QStringLiteral("paused"), Key::paused},
        {QStringLiteral("move"), Key::move},
        {QStringLiteral("hover"), Key::hover},
        {QStringLiteral("scene"), Key::scene},
        {QStringLiteral("warriors"), Key::warriors},
        {QStringLiteral("warriorCount"), Key::warriorCount},
        {QStringLiteral("monsters"), Key::monsters},
        {QStringLiteral("listen"), Key::listen},
        {QStringLiteral("songTitles"), Key::songTitles},
    };
    const auto found = keys.find(key);
    if (found == keys.end())
        return {};
    Set set{*found, {}};
    switch (*found) {
    case Key::layout:
        set.value = layoutFromName(value);
        break;
    case Key::corner:
        set.value = cornerFromName(value);
        break;
    case Key::scene:
        set.value = sceneFromName(value);
        break;
    case Key::cornerSize:
    case Key::intensity:
        set.value = integer(value, 1);
        break;
    case Key::stripSize:
        set.value = integer(value, 0);
        break;
    case Key::warriorCount:
        set.value = integer(value, -1);
        break;
    case Key::hover:
        set.value = value == QLatin1String("none") ? Hover() : Hover(flag);
        break;
    case Key::listen:
        set.value = value;
        break;
    case Key::songTitles:
        set.value = flag || value == QLatin1String("true");
        break;
    case Key::tobble:
    case Key::paused:
    case Key::move:
    case Key::warriors:
    case Key::monsters:
        set.value = flag;
        break;
    }
    return set;
}

// Shortest text that reads back as the same number, with a decimal point.
QString decimalText(double value)
{
    QString text = QString::number(value, 'g', QLocale::FloatingPointShortest);
    if (!text.contains(u'.') && !text.contains(u'e') && std::isfinite(value))
        text += QStringLiteral(".0");
    return text;
}

QString flagText(bool on)
{
    return on ? QStringLiteral("true") : QStringLiteral("false");
}

} // namespace

std::optional<DebugCommand> parseDebugCommand(const QString &line)
{
    QStringList words = splitWords(line, 2);
    if (words.size() < 2)
        return std::nullopt; // every command takes an argument
    const QString command = words.takeFirst();
    const QString rest = words.takeFirst();

    if (command == QLatin1String("snapshot"))
        return Snapshot{rest};
    if (command == QLatin1String("windowinfo"))
        return WindowInfo{rest};
    if (command == QLatin1String("savecreature"))
        return SaveCreature{rest};
    if (command == QLatin1String("menudump"))
        return MenuDump{rest};
    if (command == QLatin1String("js"))
        return Script{rest};
    if (command == QLatin1String("makecreature")) {
        const QStringList parts = splitWords(rest, 3);
        MakeCreature make;
        make.photo = parts.value(0);
        if (parts.size() > 1)
            make.model = parts[1];
        make.note = parts.value(2);
        return make;
    }
    if (command == QLatin1String("creaturewindow")) {
        const QStringList parts = splitAll(rest);
        if (parts.size() < 3)
            return std::nullopt;
        return CreatureWindow{parts[0], parts[1], parts[2],
                              parts.value(3) == QLatin1String("edit")};
    }
    if (command == QLatin1String("drag")) {
        const QStringList parts = splitAll(rest);
        if (parts.size() != 2)
            return std::nullopt;
        const auto dx = decimal(parts[0]);
        const auto dy = decimal(parts[1]);
        if (!dx || !dy)
            return std::nullopt;
        return Drag{*dx, *dy};
    }
    if (command == QLatin1String("set")) {
        // An application's name may hold spaces: the rest of the line is the value.
        if (const QStringList keyAndName = splitWords(rest, 2);
            keyAndName.size() == 2 && keyAndName[0] == QLatin1String("listen"))
            return setCommand(keyAndName[0], keyAndName[1].trimmed());
        const QStringList parts = splitAll(rest);
        if (parts.size() != 2)
            return std::nullopt;
        return setCommand(parts[0], parts[1]);
    }
    return std::nullopt;
}

QList<DebugCommand> parseDebugCommands(const QString &text)
{
    QList<DebugCommand> commands;
    for (const QString &line : text.split(u'\n', Qt::SkipEmptyParts)) {
        if (auto command = parseDebugCommand(line))
            commands.append(std::move(*command));
    }
    return commands;
}

QString windowInfoLine(const WindowFacts &facts)
{
    const auto number = [](double value) {
        return QString::number(value, 'g', QLocale::FloatingPointShortest);
    };
    const Frame &f = facts.frame;
    return QStringLiteral("frame=(%1, %2, %3, %4) visible=%5 level=%6 screens=%7 number=%8 "
                          "occlusion=%9 alpha=%10 ignoresMouse=%11 hover=%12 target=%13")
        .arg(number(f.x), number(f.y), number(f.width), number(f.height), flagText(facts.visible),
             QString::number(facts.level), QString::number(facts.screens),
             QString::number(facts.number), flagText(facts.occlusion))
        .arg(QString::asprintf("%.2f", facts.alpha), flagText(facts.ignoresMouse),
             facts.hover ? flagText(*facts.hover) : QStringLiteral("none"),
             decimalText(facts.target));
}

std::optional<QString> takeCommandFile(const QString &path)
{
    const QByteArray name = QFile::encodeName(path);
    // O_NONBLOCK: a FIFO planted at the path must not stall the main thread.
    const int fd = ::open(name.constData(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return std::nullopt;
    QByteArray bytes;
    struct stat info = {};
    if (::fstat(fd, &info) == 0 && S_ISREG(info.st_mode) && info.st_uid == ::geteuid() &&
        info.st_size > 0 && info.st_size <= kMaxCommandFileBytes) {
        bytes.resize(qsizetype(info.st_size));
        qsizetype got = 0;
        while (got < bytes.size()) {
            const ssize_t n = ::read(fd, bytes.data() + got, size_t(bytes.size() - got));
            if (n <= 0)
                break;
            got += n;
        }
        bytes.truncate(got);
    }
    ::close(fd);
    if (bytes.isEmpty())
        return std::nullopt;
    QStringDecoder utf8(QStringDecoder::Utf8);
    const QString text = utf8(bytes);
    if (utf8.hasError())
        return std::nullopt;
    ::unlink(name.constData());
    return text;
}

bool writeResultFile(const QString &path, const QByteArray &bytes)
{
    return writeResultFile(path, [&](const QString &draft) {
        QFile file(draft);
        return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size() && file.flush();
    });
}

bool writeResultFile(const QString &path, const std::function<bool(const QString &)> &write)
{
    const QFileInfo target(path);
    // A name of our own beside the target (created exclusively, never through
    // a link), then renamed over whatever the target path holds.
    QTemporaryFile draft(target.absolutePath() + QStringLiteral("/.") + target.fileName() +
                         QStringLiteral(".XXXXXX"));
    if (!draft.open())
        return false;
    draft.close();
    if (!write(draft.fileName()))
        return false;
    if (std::rename(QFile::encodeName(draft.fileName()).constData(),
                    QFile::encodeName(target.absoluteFilePath()).constData()) != 0)
        return false;
    draft.setAutoRemove(false);
    return true;
}

} // namespace bopling
