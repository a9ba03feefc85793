#pragma once

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStringList>

namespace bopling::files {

// Writes `data` to `path`, making its folder first; a test cannot go on when that fails.
// Returns the path.
inline QString write(const QString &path, const QByteArray &data)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(data) != data.size())
        qFatal("cannot write %s", qPrintable(path));
    return path;
}

// The bytes of the file, or none when it cannot be read.
inline QByteArray read(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// The lines of a text file, without empty ones.
inline QStringList lines(const QString &path)
{
    return QString::fromUtf8(read(path)).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

} // namespace bopling::files
