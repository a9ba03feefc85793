#pragma once

#include <QJsonObject>
#include <QPointF>
#include <QString>
#include <QStringList>

#include <chrono>
#include <functional>
#include <mutex>
#include <optional>

namespace bopling {

// The panel's two layouts. The numbers are the menu's item tags.
enum class Layout { corner = 0, strip = 1 };

// The four corners, numbered as the menu's item tags and the placement geometry use them.
enum class Corner { topLeft = 0, topRight = 1, bottomLeft = 2, bottomRight = 3 };

// The two scenes the page can draw.
enum class Scene { campfire = 0, walk = 1 };

// The stored strings of the value types ("corner", "strip", "topLeft", ..., "campfire", "walk").
QString layoutName(Layout layout);
QString cornerName(Corner corner);
QString sceneName(Scene scene);

// The reading rules of the stored strings: exactly "strip" is the strip layout, anything
// else the corner layout; one of the four corner names is that corner, anything else
// bottom right; exactly "walk" is the walk scene, anything else the campfire.
Layout layoutFromName(const QString &name);
Corner cornerFromName(const QString &name);
Scene sceneFromName(const QString &name);

// The persistent settings: a typed JSON object in $XDG_CONFIG_HOME/Bopling/settings.json.
// Every read sees the file as it is now (it is read again whenever its modification time,
// size or inode changed), and every write applies its one key to the file's current content
// and puts the file back atomically, so a value written is on disk when the setter returns
// and a change made by hand or by another instance is neither missed nor undone. Every getter
// yields a sound value: absent keys and values of the wrong JSON type read as the key's
// default, numbers as their clamp. Nothing here throws; a write that cannot reach the disk
// keeps the value in memory (while the file stays as it was) and logs one line.
//
// The program uses the one shared instance from the main thread. Every accessor takes the
// store's mutex, so a stray call from another thread is safe too.
//
// Tests make a private store on a file of their own instead of touching the shared one:
//
//     QTemporaryDir dir;
//     Settings settings(dir.filePath("settings.json"));
//
// A store created on a path that does not exist yet starts from the defaults (and writes the
// file with the migration flag at once).
class Settings final
{
public:
    // The one store of the process, on standardFilePath(), created on first use (safe against
    // concurrent first use), with the migration from earlierEditionFilePath() done inside.
    static Settings &shared();

    // $XDG_CONFIG_HOME/Bopling/settings.json (QStandardPaths::GenericConfigLocation).
    static QString standardFilePath();
    // $XDG_CONFIG_HOME/Dotscope/settings.json: the earlier edition's settings, same format.
    static QString earlierEditionFilePath();

    // A store on `filePath`. Reads the file, then copies once, key by key, the values of the
    // earlier edition's file at `earlierFilePath` that this store does not hold yet (an empty
    // path means there is no earlier edition) and sets `migratedFromDotscope`. Only a regular
    // file of at most 1 MiB is read. A file that is not a JSON object (or not a regular file)
    // is renamed to "settings.json.damaged-<UTC time>" and logged; found so at creation, the
    // store starts from the defaults. Found so on a later read, the last good values stay in
    // use and the file is read again at every access; only when it has stayed damaged and
    // unchanged for kSettleTime is it set aside, and the values in use are written back.
    explicit Settings(const QString &filePath, const QString &earlierFilePath = QString());
    ~Settings();

    Settings(const Settings &) = delete;
    Settings &operator=(const Settings &) = delete;

    QString filePath() const;

    Layout layout() const; // default corner
    void setLayout(Layout layout);
    Corner corner() const; // default bottomRight
    void setCorner(Corner corner);
    int cornerSize() const; // default 1, clamped to 0...3 (0 Small, 1 Medium, 2 Large, 3 Tiny)
    void setCornerSize(int size);
    int stripSize() const; // default 0, clamped to 0...2 (0 Short, 1 Tall, 2 Tiny)
    void setStripSize(int size);
    Scene scene() const; // default campfire
    void setScene(Scene scene);
    int intensity() const; // default 1, clamped to 0...2 (0 Calm, 1 Normal, 2 Wild)
    void setIntensity(int intensity);
    bool warriors() const; // default true
    void setWarriors(bool on);
    int warriorCount() const; // default -1 (automatic), clamped to -1...8; 0 means none
    void setWarriorCount(int count);
    bool beatPulse() const; // default true
    void setBeatPulse(bool on);
    bool monsters() const; // default true
    void setMonsters(bool on);
    bool fadeOnHover() const; // default true
    void setFadeOnHover(bool on);
    bool paused() const; // default false
    void setPaused(bool paused);
    // The application "Listen to" records alone, by the name the menu shows; none (the
    // default, and any text that is blank) for everything the computer plays.
    std::optional<QString> listenTo() const;
    void setListenTo(const std::optional<QString> &application);
    bool songTitles() const; // default true
    void setSongTitles(bool on);

    // The chosen creatures, at most 3 (a longer stored list reads as its first 3). While no
    // list has ever been written, the legacy `tobble` flag decides: ["Tobble"] unless it is
    // false. Writing stores the first 3 names; from then on `tobble` no longer matters.
    QStringList familiars() const;
    void setFamiliars(const QStringList &names);
    bool tobble() const; // default true
    void setTobble(bool on);

    // The display number of the screen the layout was last placed on by hand, if any.
    std::optional<quint32> savedScreen(Layout layout) const;
    // The panel's offset from the lower-left corner of the screen's visible frame, saved for
    // this layout and display number, if any.
    std::optional<QPointF> savedPosition(Layout layout, quint32 display) const;
    // Stores the offset for this layout and display and remembers the display as the
    // layout's saved screen, in one write.
    void savePosition(Layout layout, quint32 display, double x, double y);
    // Forgets every position of this layout and its saved screen; the other layout's stay.
    void clearPositions(Layout layout);

    // True once the earlier edition's settings have been looked at (the key is present).
    bool migratedFromDotscope() const;

    // How long a damaged file found while running may stay as it is before it is set aside:
    // longer than any editor or script takes between emptying a file and writing it again.
    static constexpr std::chrono::milliseconds kSettleTime{1000};

private:
    // The file's identity as far as re-reading goes; all -1 while there is no file.
    struct Stamp
    {
        qint64 device = -1;
        qint64 inode = -1;
        qint64 size = -1;
        qint64 seconds = -1;
        qint64 nanoseconds = -1;
        friend bool operator==(const Stamp &, const Stamp &) = default;
    };
    static Stamp stampOf(const QString &path);

    // Reads the file again when it changed since it was last read or written. Under the lock.
    void refresh() const;
    void load(bool startUp) const;
    // Puts the values in memory on disk, or logs why not. Under the lock.
    void writeValues() const;
    void migrateFrom(const QString &earlierFilePath);
    QJsonValue value(const QString &key) const;
    // Applies `edit` to the file's current values and writes them to disk, under the lock.
    void update(const std::function<void(QJsonObject &)> &edit);

    const QString path;
    mutable std::mutex lock;
    // The file's values as last read or written, and the file's stamp at that moment.
    mutable QJsonObject values;
    mutable Stamp stamp;
    // Set when a file on disk could neither be read nor put aside: it is then never replaced.
    mutable bool keepFileUntouched = false;
    // A damaged file seen while running: its stamp and since when it has been so.
    struct Damage
    {
        Stamp stamp;
        std::chrono::steady_clock::time_point since;
    };
    mutable std::optional<Damage> damaged;
};

} // namespace bopling
