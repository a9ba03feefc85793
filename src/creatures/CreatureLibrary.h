#pragma once

#include "creatures/Creature.h"

#include <QList>
#include <QString>

#include <exception>
#include <optional>

namespace bopling {

// The user's creatures, one JSON file each in a folder of their own
// (`$XDG_DATA_HOME/Bopling/creatures`), and the built-in creature "Tobble"
// from the resource folder. Holds no state: every call reads the folder
// afresh. Main thread in practice; shows nothing to the user.
class CreatureLibrary final
{
public:
    // A creature could not be stored; `message()` carries the system's own
    // description of what failed.
    class Error final : public std::exception
    {
    public:
        explicit Error(QString message);
        const QString &message() const { return text; }
        const char *what() const noexcept override { return utf8.constData(); }

    private:
        QString text;
        QByteArray utf8;
    };

    // The standard folder and the shipped "web/creatures/tobble.json".
    CreatureLibrary();
    // Another folder and built-in file (tests, tools).
    CreatureLibrary(QString folder, QString builtInFile);

    // The name that stands for the built-in creature.
    static inline const QString kBuiltInName = QStringLiteral("Tobble");
    // Files larger than this are skipped without being read.
    static constexpr qint64 kMaxFileBytes = 1024 * 1024;

    // GenericDataLocation + "/Bopling/creatures"; empty when the system names
    // no data folder for the user.
    static QString standardFolder();
    // The folder this library uses (may be empty, see standardFolder()).
    QString folder() const;

    // Lower case; every character that is neither a letter nor a number
    // becomes "-"; "creature" when no letter or number is left.
    // "Mr Whiskers" -> "mr-whiskers".
    static QString fileSlug(const QString &name);

    // The user's creatures, oldest file first, not validated. Never fails:
    // unreadable, damaged or oversized files are skipped.
    QList<Creature> all() const;
    // False when the folder's content cannot be known: no data folder, or a
    // path that exists but is not a readable folder. A missing folder is
    // readable: it simply holds no creatures yet.
    bool folderReadable() const;
    // The built-in creature, or nothing when its file is missing or damaged.
    std::optional<Creature> builtIn() const;
    // "Tobble" gives builtIn(); any other name the first creature of all()
    // with exactly that name.
    std::optional<Creature> find(const QString &name) const;

    // The name `name` would be stored under: itself, or the first 12
    // characters + " 2", " 3", ... while the name or its slug is taken
    // (case-insensitively; "tobble" is always taken). With `oldName`, the
    // creatures of that name do not count as taken (editing).
    QString freeName(const QString &name, const std::optional<QString> &oldName = {}) const;

    // Stores a new creature under a free name and returns that name; the
    // folder is created when missing. Throws Error.
    QString save(const Creature &creature) const;
    // Stores the edited creature that was stored as `oldName` and returns the
    // name it is stored under; the old file goes only after the new one is
    // written. Throws Error.
    QString replace(const QString &oldName, const Creature &creature) const;
    // Deletes the file of this name; never fails.
    void remove(const QString &name) const noexcept;

private:
    std::optional<QString> chosenFolder; // nothing: the standard folder, looked up on each call
    QString builtInFile;
};

} // namespace bopling
