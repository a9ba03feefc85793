#include "creatures/CreatureLibrary.h"

#include "creatures/Graphemes.h"
#include "settings/AtomicFile.h"
#include "settings/Resources.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSet>
#include <QStandardPaths>

#include <algorithm>
#include <limits>
#include <utility>

namespace bopling {

namespace {

const QString kReservedName = QStringLiteral("tobble");
const QString kExtension = QStringLiteral("json");
constexpr qsizetype kNameCutForNumber = 12;

QString filePath(const QString &folder, const QString &name)
{
    return folder + QLatin1Char('/') + CreatureLibrary::fileSlug(name) + QStringLiteral(".json");
}

// Reads and decodes one creature file; nothing for a file that is missing,
// unreadable, larger than kMaxFileBytes (never read whole) or not creature JSON.
std::optional<Creature> readCreature(const QString &path)
{
    const QFileInfo info(path);
    if (!info.isFile() || info.size() > CreatureLibrary::kMaxFileBytes)
        return std::nullopt;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    const QByteArray bytes = file.read(CreatureLibrary::kMaxFileBytes + 1);
    if (bytes.size() > CreatureLibrary::kMaxFileBytes || file.error() != QFileDevice::NoError)
        return std::nullopt;
    try {
        return Creature::decode(bytes);
    } catch (const Creature::DecodingError &) {
        return std::nullopt;
    }
}

// The ".json" files of the folder, oldest first; empty when it cannot be listed.
QFileInfoList creatureFiles(const QString &folder)
{
    if (folder.isEmpty())
        return {};
    const QDir dir(folder);
    if (!dir.exists())
        return {};
    QFileInfoList files;
    for (const QFileInfo &entry : dir.entryInfoList(QDir::Files | QDir::Hidden, QDir::NoSort)) {
        if (entry.suffix() == kExtension)
            files.append(entry);
    }
    // An unreadable date counts as the earliest; equal dates go by file name
    // so that the order is the same on every call.
    auto date = [](const QFileInfo &info) {
        const QDateTime modified = info.lastModified();
        return modified.isValid() ? modified.toMSecsSinceEpoch()
                                  : std::numeric_limits<qint64>::min();
    };
    std::sort(files.begin(), files.end(), [&date](const QFileInfo &a, const QFileInfo &b) {
        const qint64 dateA = date(a);
        const qint64 dateB = date(b);
        return dateA != dateB ? dateA < dateB : a.fileName() < b.fileName();
    });
    return files;
}

} // namespace

CreatureLibrary::Error::Error(QString message) : text(std::move(message)), utf8(text.toUtf8()) {}

CreatureLibrary::CreatureLibrary()
    : builtInFile(resourcePath(QStringLiteral("web/creatures/tobble.json")))
{}

CreatureLibrary::CreatureLibrary(QString folder, QString builtInFile)
    : chosenFolder(std::move(folder)), builtInFile(std::move(builtInFile))
{}

QString CreatureLibrary::standardFolder()
{
    const QString data = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
    if (data.isEmpty())
        return {};
    return data + QStringLiteral("/Bopling/creatures");
}

QString CreatureLibrary::folder() const
{
    return chosenFolder ? *chosenFolder : standardFolder();
}

QString CreatureLibrary::fileSlug(const QString &name)
{
    QString slug;
    bool named = false;
    const QString lower = name.toLower();
    for (QStringView g : graphemes(lower)) {
        if (isLetterOrNumber(g)) {
            slug += g;
            named = true;
        } else {
            slug += QLatin1Char('-');
        }
    }
    // A name of punctuation alone would make a file of dashes only.
    return named ? slug : QStringLiteral("creature");
}

QList<Creature> CreatureLibrary::all() const
{
    QList<Creature> creatures;
    for (const QFileInfo &file : creatureFiles(folder())) {
        if (std::optional<Creature> creature = readCreature(file.filePath()))
            creatures.append(std::move(*creature));
    }
    return creatures;
}

bool CreatureLibrary::folderReadable() const
{
    const QString path = folder();
    if (path.isEmpty())
        return false;
    const QFileInfo info(path);
    if (!info.exists())
        return true;
    return info.isDir() && info.isReadable() && info.isExecutable();
}

std::optional<Creature> CreatureLibrary::builtIn() const
{
    return readCreature(builtInFile);
}

std::optional<Creature> CreatureLibrary::find(const QString &name) const
{
    if (name == kBuiltInName)
        return builtIn();
    for (Creature &creature : all()) {
        if (creature.name == name)
            return std::move(creature);
    }
    return std::nullopt;
}

QString CreatureLibrary::freeName(const QString &name, const std::optional<QString> &oldName) const
{
    const std::optional<QString> oldLower =
        oldName ? std::optional<QString>(oldName->toLower()) : std::nullopt;
    QSet<QString> takenNames{kReservedName};
    QSet<QString> takenSlugs{kReservedName};
    for (const Creature &creature : all()) {
        const QString lower = creature.name.toLower();
        if (lower == oldLower)
            continue;
        takenNames.insert(lower);
        takenSlugs.insert(fileSlug(lower));
    }
    // A file that could not be read (damaged, oversized, being edited by hand)
    // still holds its slug: saving must never write over it. When editing, the
    // old creature's own file is the one to be replaced.
    const QString oldFile = oldName ? fileSlug(*oldName) : QString();
    for (const QFileInfo &file : creatureFiles(folder())) {
        const QString slug = file.completeBaseName();
        if (!oldName || slug != oldFile)
            takenSlugs.insert(slug);
    }

    QString candidate = name;
    const QString stem = leftGraphemes(name, kNameCutForNumber);
    for (int counter = 2;
         takenNames.contains(candidate.toLower()) || takenSlugs.contains(fileSlug(candidate));
         ++counter)
        candidate = stem + QLatin1Char(' ') + QString::number(counter);
    return candidate;
}

namespace {

void write(const QString &folder, const QString &storedName, const Creature &creature)
{
    Creature stored = creature;
    stored.name = storedName;
    const QByteArray bytes = stored.encode();
    // A bigger file would be skipped when the folder is read, so the creature
    // would seem lost.
    if (bytes.size() > CreatureLibrary::kMaxFileBytes)
        throw CreatureLibrary::Error(
            QStringLiteral("The creature is too large to store (%1 bytes; the limit is %2).")
                .arg(bytes.size())
                .arg(CreatureLibrary::kMaxFileBytes));
    const QString path = filePath(folder, storedName);
    if (const std::optional<QString> failure = writeFileAtomically(path, bytes))
        throw CreatureLibrary::Error(path + QStringLiteral(": ") + *failure);
}

QString preparedFolder(const QString &folder)
{
    if (folder.isEmpty())
        throw CreatureLibrary::Error(
            QStringLiteral("There is no data folder for this user to keep creatures in."));
    if (!QDir().mkpath(folder))
        throw CreatureLibrary::Error(QStringLiteral("Could not create the folder ") + folder +
                                     QLatin1Char('.'));
    return folder;
}

} // namespace

QString CreatureLibrary::save(const Creature &creature) const
{
    const QString dir = preparedFolder(folder());
    const QString storedName = freeName(creature.name);
    write(dir, storedName, creature);
    return storedName;
}

QString CreatureLibrary::replace(const QString &oldName, const Creature &creature) const
{
    const QString dir = preparedFolder(folder());
    const QString storedName = freeName(creature.name, oldName);
    write(dir, storedName, creature);
    // With the same slug the write has already replaced the old file.
    if (fileSlug(oldName) != fileSlug(storedName))
        remove(oldName);
    return storedName;
}

void CreatureLibrary::remove(const QString &name) const noexcept
{
    const QString dir = folder();
    if (!dir.isEmpty())
        QFile::remove(filePath(dir, name));
}

} // namespace bopling
