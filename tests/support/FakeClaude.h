#pragma once

#include "creatures/Creature.h"
#include "support/Files.h"

#include <QBuffer>
#include <QImage>
#include <QJsonDocument>
#include <QJsonObject>

#include <cerrno>
#include <csignal>
#include <unistd.h>

// Pieces for tests that run fake `claude` programs.
namespace bopling::fakeclaude {

// A PNG of one colour.
inline QByteArray png(int width, int height, QColor colour = QColor(200, 0, 0))
{
    QImage image(width, height, QImage::Format_ARGB32);
    image.fill(colour);
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return bytes;
}

// Notes what it was given in $FAKE_DIR, runs $FAKE_DIR/extra once if there is
// one, then prints $FAKE_DIR/out and $FAKE_DIR/err.
inline const QByteArray kRecorder = R"(#!/bin/bash
echo $$ > "$FAKE_DIR/pid"
printf '%s\0' "$@" > "$FAKE_DIR/args"
pwd > "$FAKE_DIR/cwd"
printf '%s' "$PATH" > "$FAKE_DIR/path"
readlink /proc/self/fd/0 > "$FAKE_DIR/stdin"
stat -c %a . photo.jpg > "$FAKE_DIR/modes"
cp photo.jpg "$FAKE_DIR/photo.jpg"
mv "$FAKE_DIR/extra" "$FAKE_DIR/extra.$$" 2>/dev/null && . "$FAKE_DIR/extra.$$"
cat "$FAKE_DIR/out" 2>/dev/null
cat "$FAKE_DIR/err" >&2 2>/dev/null
)";

inline QByteArray answer(const QJsonObject &object)
{
    return QJsonDocument(object).toJson(QJsonDocument::Compact);
}

// The CLI's JSON answer with the creature inside prose.
inline QByteArray prose(const Creature &creature)
{
    return answer({{"result", "Here you go: " + QString::fromUtf8(creature.encode())}});
}

inline bool writeFile(const QString &path, const QByteArray &bytes, bool executable = false)
{
    files::write(path, bytes);
    return !executable || QFile::setPermissions(path, QFile::permissions(path) | QFile::ExeOwner);
}

// The process whose number the file holds is neither running nor left
// unreaped by this process (a grandchild handed to init may linger as a
// zombie until init reaps it).
inline bool gone(const QString &pidFile)
{
    const pid_t pid = files::read(pidFile).trimmed().toInt();
    if (pid <= 0)
        return false;
    if (::kill(pid, 0) != 0)
        return errno == ESRCH;
    const QByteArray line = files::read(QStringLiteral("/proc/%1/stat").arg(pid));
    const QList<QByteArray> fields = line.mid(line.lastIndexOf(')') + 2).split(' ');
    return fields.size() > 1 && fields[0] == "Z" && fields[1].toInt() != ::getpid();
}

} // namespace bopling::fakeclaude
