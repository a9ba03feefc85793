#include "settings/Settings.h"

#include "settings/AtomicFile.h"
#include "settings/SystemLog.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonParseError>
#include <QStandardPaths>

#include <algorithm>
#include <cmath>
#include <limits>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>

namespace bopling {

namespace {

// The built-in creature's name, which stands for it in the familiars list.
const QString kBuiltInFamiliar = QStringLiteral("Tobble");
constexpr qsizetype kMaxFamiliars = 3;

const QString kLayout = QStringLiteral("layout");
const QString kCorner = QStringLiteral("corner");
const QString kCornerSize = QStringLiteral("cornerSize");
const QString kStripSize = QStringLiteral("stripSize");
const QString kScene = QStringLiteral("scene");
const QString kIntensity = QStringLiteral("intensity");
const QString kWarriors = QStringLiteral("warriors");
const QString kWarriorCount = QStringLiteral("warriorCount");
const QString kBeatPulse = QStringLiteral("beatPulse");
const QString kMonsters = QStringLiteral("monsters");
const QString kFadeOnHover = QStringLiteral("fadeOnHover");
const QString kFamiliars = QStringLiteral("familiars");
const QString kTobble = QStringLiteral("tobble");
const QString kPaused = QStringLiteral("paused");
const QString kListenTo = QStringLiteral("listenTo");
const QString kSongTitles = QStringLiteral("songTitles");
const QString kPositions = QStringLiteral("positions");
const QString kMigrated = QStringLiteral("migratedFromDotscope");

QString screenKey(Layout layout)
{
    return QStringLiteral("screen.") + layoutName(layout);
}

QString positionKey(Layout layout, quint32 display)
{
    return layoutName(layout) + QLatin1Char('.') + QString::number(display);
}

// A JSON number without a fraction.
std::optional<double> integral(const QJsonValue &value)
{
    if (!value.isDouble())
        return std::nullopt;
    const double number = value.toDouble();
    if (!std::isfinite(number) || std::trunc(number) != number)
        return std::nullopt;
    return number;
}

// A whole number that fits a 64-bit signed integer, clamped; anything else does not convert
// and reads as `fallback`.
int clampedInteger(const QJsonValue &value, int fallback, int lowest, int highest)
{
    // 2^63: the first double above the largest 64-bit integer; -2^63 itself fits.
    constexpr double kLimit = 9223372036854775808.0;
    const std::optional<double> number = integral(value);
    if (!number || *number < -kLimit || *number >= kLimit)
        return fallback;
    return static_cast<int>(std::clamp(*number, double(lowest), double(highest)));
}

bool boolean(const QJsonValue &value, bool fallback)
{
    return value.isBool() ? value.toBool() : fallback;
}

// The positions dictionary, taken only when every entry is an array of numbers; one entry of
// another kind makes the whole dictionary read as empty.
QJsonObject validPositions(const QJsonValue &stored)
{
    if (!stored.isObject())
        return {};
    const QJsonObject positions = stored.toObject();
    for (auto it = positions.begin(); it != positions.end(); ++it) {
        if (!it.value().isArray())
            return {};
        const QJsonArray numbers = it.value().toArray();
        for (const QJsonValue &number : numbers) {
            if (!number.isDouble())
                return {};
        }
    }
    return positions;
}

// The file beside `path` that keeps a damaged settings file; never one that already exists.
QString damagedCopyPath(const QString &path)
{
    const QString stamp =
        QDateTime::currentDateTimeUtc().toString(QStringLiteral("yyyyMMdd'T'HHmmss'Z'"));
    const QString base = path + QStringLiteral(".damaged-") + stamp;
    QString candidate = base;
    for (int n = 2; QFileInfo::exists(candidate); ++n)
        candidate = base + QLatin1Char('-') + QString::number(n);
    return candidate;
}

struct FileRead
{
    enum class Outcome { missing, unreadable, damaged, ok } outcome = Outcome::missing;
    QJsonObject object;
    QString problem;
};

// Far more than any settings file this program writes; a larger file is not one of them.
constexpr qsizetype kMaxFileBytes = 1024 * 1024;

FileRead readObjectFile(const QString &path)
{
    FileRead result;
    const QByteArray name = QFile::encodeName(path);
    const auto failed = [&result](FileRead::Outcome outcome, const QString &problem) {
        result.outcome = outcome;
        result.problem = problem;
        return result;
    };
    const auto notRegular = [&](const struct stat &info) {
        return failed(FileRead::Outcome::damaged, S_ISDIR(info.st_mode)
                                                      ? QStringLiteral("it is a folder")
                                                      : QStringLiteral("it is not a regular file"));
    };
    struct stat info = {};
    if (::stat(name.constData(), &info) != 0) {
        if (errno == ENOENT || errno == ENOTDIR)
            return result;
        return failed(FileRead::Outcome::unreadable, QString::fromLocal8Bit(std::strerror(errno)));
    }
    // Only a regular file is opened: a FIFO would block the opening, a device
    // could answer without end. Without blocking in case one is swapped in.
    if (!S_ISREG(info.st_mode))
        return notRegular(info);
    const int fd = ::open(name.constData(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0)
        return failed(FileRead::Outcome::unreadable, QString::fromLocal8Bit(std::strerror(errno)));
    QFile file;
    file.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle);
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode))
        return notRegular(info);
    const QByteArray data = file.read(kMaxFileBytes + 1);
    if (file.error() != QFileDevice::NoError)
        return failed(FileRead::Outcome::unreadable, file.errorString());
    if (data.size() > kMaxFileBytes)
        return failed(FileRead::Outcome::damaged, QStringLiteral("larger than 1 MiB"));
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(data, &error);
    if (error.error != QJsonParseError::NoError) {
        return failed(FileRead::Outcome::damaged,
                      QStringLiteral("%1 at offset %2").arg(error.errorString()).arg(error.offset));
    }
    if (!document.isObject())
        return failed(FileRead::Outcome::damaged, QStringLiteral("not a JSON object"));
    result.outcome = FileRead::Outcome::ok;
    result.object = document.object();
    return result;
}

// Writes the whole object atomically. Returns the log line when the write failed.
std::optional<QString> writeObjectFile(const QString &path, const QJsonObject &object)
{
    const QString folder = QFileInfo(path).absolutePath();
    if (!QDir().mkpath(folder))
        return QStringLiteral("Bopling: could not save settings: cannot create the folder %1")
            .arg(folder);
    const std::optional<QString> failure =
        writeFileAtomically(path, QJsonDocument(object).toJson(QJsonDocument::Indented));
    if (failure)
        return QStringLiteral("Bopling: could not save settings to %1: %2").arg(path, *failure);
    return std::nullopt;
}

} // namespace

QString layoutName(Layout layout)
{
    return layout == Layout::strip ? QStringLiteral("strip") : QStringLiteral("corner");
}

QString cornerName(Corner corner)
{
    switch (corner) {
    case Corner::topLeft:
        return QStringLiteral("topLeft");
    case Corner::topRight:
        return QStringLiteral("topRight");
    case Corner::bottomLeft:
        return QStringLiteral("bottomLeft");
    case Corner::bottomRight:
        break;
    }
    return QStringLiteral("bottomRight");
}

QString sceneName(Scene scene)
{
    return scene == Scene::walk ? QStringLiteral("walk") : QStringLiteral("campfire");
}

Layout layoutFromName(const QString &name)
{
    return name == QLatin1String("strip") ? Layout::strip : Layout::corner;
}

Corner cornerFromName(const QString &name)
{
    for (Corner corner : {Corner::topLeft, Corner::topRight, Corner::bottomLeft}) {
        if (name == cornerName(corner))
            return corner;
    }
    return Corner::bottomRight;
}

Scene sceneFromName(const QString &name)
{
    return name == QLatin1String("walk") ? Scene::walk : Scene::campfire;
}

Settings &Settings::shared()
{
    // A function-local static is initialised once, and concurrent first callers wait for it.
    static Settings instance(standardFilePath(), earlierEditionFilePath());
    return instance;
}

QString Settings::standardFilePath()
{
    return QDir(QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation))
        .filePath(QStringLiteral("Bopling/settings.json"));
}

QString Settings::earlierEditionFilePath()
{
    return QDir(QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation))
        .filePath(QStringLiteral("Dotscope/settings.json"));
}

Settings::Settings(const QString &filePath, const QString &earlierFilePath) : path(filePath)
{
    load(true);
    migrateFrom(earlierFilePath);
}

Settings::~Settings() = default;

QString Settings::filePath() const
{
    return path;
}

Settings::Stamp Settings::stampOf(const QString &path)
{
    struct stat info = {};
    if (::stat(QFile::encodeName(path).constData(), &info) != 0)
        return {};
    return {qint64(info.st_dev), qint64(info.st_ino), qint64(info.st_size),
            qint64(info.st_mtim.tv_sec), qint64(info.st_mtim.tv_nsec)};
}

void Settings::refresh() const
{
    // A file found damaged is read on every access until it is sound again or set aside.
    if (damaged || stampOf(path) != stamp)
        load(false);
}

void Settings::load(bool startUp) const
{
    // Taken before the read: a change made while reading shows at the next refresh.
    const Stamp seen = stampOf(path);
    const FileRead read = readObjectFile(path);
    if (read.outcome == FileRead::Outcome::missing || read.outcome == FileRead::Outcome::ok) {
        values = read.object;
        stamp = seen;
        keepFileUntouched = false;
        damaged.reset();
        return;
    }
    stamp = seen;
    if (!startUp) {
        // Editors and scripts that rewrite the file in place leave it empty or half written
        // for a moment: the last good values hold until the file has stayed as it is, still
        // damaged, for a while.
        const auto now = std::chrono::steady_clock::now();
        if (!damaged || damaged->stamp != seen)
            damaged = Damage{seen, now};
        if (now - damaged->since < kSettleTime)
            return;
        damaged.reset();
    } else {
        values = QJsonObject();
    }
    keepFileUntouched = true;
    const QString outcome = startUp ? QStringLiteral("started from the defaults")
                                    : QStringLiteral("kept the settings in use");
    if (read.outcome == FileRead::Outcome::unreadable) {
        systemLog(QStringLiteral("Bopling: could not read settings from %1 (%2); %3 and left "
                                 "the file as it is")
                      .arg(path, read.problem, outcome));
        return;
    }
    const QString aside = damagedCopyPath(path);
    if (!QFile::rename(path, aside)) {
        systemLog(QStringLiteral("Bopling: settings file %1 was damaged (%2) and could not be "
                                 "kept aside; %3 and left the file as it is")
                      .arg(path, read.problem, outcome));
        return;
    }
    systemLog(QStringLiteral("Bopling: settings file %1 was damaged (%2); kept it as %3 and %4")
                  .arg(path, read.problem, aside, outcome));
    keepFileUntouched = false;
    stamp = stampOf(path);
    // The settings in use go back to disk at once, so that the next start finds them too.
    if (!startUp)
        writeValues();
}

void Settings::migrateFrom(const QString &earlierFilePath)
{
    if (values.contains(kMigrated))
        return;
    const FileRead earlier =
        earlierFilePath.isEmpty() ? FileRead{} : readObjectFile(earlierFilePath);
    if (earlier.outcome == FileRead::Outcome::unreadable ||
        earlier.outcome == FileRead::Outcome::damaged) {
        // The earlier edition's file is not ours to move; it is only left out of the copy.
        systemLog(QStringLiteral("Bopling: could not read the earlier settings in %1 (%2); "
                                 "nothing copied")
                      .arg(earlierFilePath, earlier.problem));
    }
    update([&earlier](QJsonObject &current) {
        for (auto it = earlier.object.begin(); it != earlier.object.end(); ++it) {
            if (!current.contains(it.key()))
                current.insert(it.key(), it.value());
        }
        current.insert(kMigrated, true);
    });
}

QJsonValue Settings::value(const QString &key) const
{
    std::lock_guard guard(lock);
    refresh();
    return values.value(key);
}

void Settings::update(const std::function<void(QJsonObject &)> &edit)
{
    std::lock_guard guard(lock);
    refresh();
    edit(values);
    // The write stays under the lock so that two writers cannot put an older state on disk
    // after a newer one.
    if (!keepFileUntouched)
        writeValues();
}

void Settings::writeValues() const
{
    const std::optional<QString> failure = writeObjectFile(path, values);
    // After a failed write the file is as it was, so the values stay in memory.
    if (failure)
        systemLog(*failure);
    else
        stamp = stampOf(path);
}

Layout Settings::layout() const
{
    return layoutFromName(value(kLayout).toString());
}

void Settings::setLayout(Layout layout)
{
    update([&](QJsonObject &v) { v.insert(kLayout, layoutName(layout)); });
}

Corner Settings::corner() const
{
    return cornerFromName(value(kCorner).toString());
}

void Settings::setCorner(Corner corner)
{
    update([&](QJsonObject &v) { v.insert(kCorner, cornerName(corner)); });
}

int Settings::cornerSize() const
{
    return clampedInteger(value(kCornerSize), 1, 0, 3);
}

void Settings::setCornerSize(int size)
{
    update([&](QJsonObject &v) { v.insert(kCornerSize, size); });
}

int Settings::stripSize() const
{
    return clampedInteger(value(kStripSize), 0, 0, 2);
}

void Settings::setStripSize(int size)
{
    update([&](QJsonObject &v) { v.insert(kStripSize, size); });
}

Scene Settings::scene() const
{
    return sceneFromName(value(kScene).toString());
}

void Settings::setScene(Scene scene)
{
    update([&](QJsonObject &v) { v.insert(kScene, sceneName(scene)); });
}

int Settings::intensity() const
{
    return clampedInteger(value(kIntensity), 1, 0, 2);
}

void Settings::setIntensity(int intensity)
{
    update([&](QJsonObject &v) { v.insert(kIntensity, intensity); });
}

bool Settings::warriors() const
{
    return boolean(value(kWarriors), true);
}

void Settings::setWarriors(bool on)
{
    update([&](QJsonObject &v) { v.insert(kWarriors, on); });
}

int Settings::warriorCount() const
{
    return clampedInteger(value(kWarriorCount), -1, -1, 8);
}

void Settings::setWarriorCount(int count)
{
    update([&](QJsonObject &v) { v.insert(kWarriorCount, count); });
}

bool Settings::beatPulse() const
{
    return boolean(value(kBeatPulse), true);
}

void Settings::setBeatPulse(bool on)
{
    update([&](QJsonObject &v) { v.insert(kBeatPulse, on); });
}

bool Settings::monsters() const
{
    return boolean(value(kMonsters), true);
}

void Settings::setMonsters(bool on)
{
    update([&](QJsonObject &v) { v.insert(kMonsters, on); });
}

bool Settings::fadeOnHover() const
{
    return boolean(value(kFadeOnHover), true);
}

void Settings::setFadeOnHover(bool on)
{
    update([&](QJsonObject &v) { v.insert(kFadeOnHover, on); });
}

bool Settings::paused() const
{
    return boolean(value(kPaused), false);
}

void Settings::setPaused(bool paused)
{
    update([&](QJsonObject &v) { v.insert(kPaused, paused); });
}

std::optional<QString> Settings::listenTo() const
{
    const QString name = value(kListenTo).toString().trimmed();
    return name.isEmpty() ? std::nullopt : std::optional(name);
}

void Settings::setListenTo(const std::optional<QString> &application)
{
    update([&](QJsonObject &v) {
        if (application && !application->trimmed().isEmpty())
            v.insert(kListenTo, application->trimmed());
        else
            v.remove(kListenTo);
    });
}

bool Settings::songTitles() const
{
    return boolean(value(kSongTitles), true);
}

void Settings::setSongTitles(bool on)
{
    update([&](QJsonObject &v) { v.insert(kSongTitles, on); });
}

QStringList Settings::familiars() const
{
    QJsonValue stored;
    QJsonValue legacy;
    {
        std::lock_guard guard(lock);
        refresh();
        stored = values.value(kFamiliars);
        legacy = values.value(kTobble);
    }
    if (stored.isArray()) {
        const QJsonArray array = stored.toArray();
        const bool allStrings = std::all_of(array.begin(), array.end(),
                                            [](const QJsonValue &name) { return name.isString(); });
        if (allStrings) {
            QStringList names;
            for (const QJsonValue &name : array) {
                if (names.size() == kMaxFamiliars)
                    break;
                names.append(name.toString());
            }
            return names;
        }
    }
    if (boolean(legacy, true))
        return {kBuiltInFamiliar};
    return {};
}

void Settings::setFamiliars(const QStringList &names)
{
    update([&](QJsonObject &v) {
        v.insert(kFamiliars, QJsonArray::fromStringList(names.mid(0, kMaxFamiliars)));
    });
}

bool Settings::tobble() const
{
    return boolean(value(kTobble), true);
}

void Settings::setTobble(bool on)
{
    update([&](QJsonObject &v) { v.insert(kTobble, on); });
}

std::optional<quint32> Settings::savedScreen(Layout layout) const
{
    const std::optional<double> number = integral(value(screenKey(layout)));
    if (!number || *number < 0 || *number > double(std::numeric_limits<quint32>::max()))
        return std::nullopt;
    return static_cast<quint32>(*number);
}

std::optional<QPointF> Settings::savedPosition(Layout layout, quint32 display) const
{
    const QJsonValue entry = validPositions(value(kPositions)).value(positionKey(layout, display));
    const QJsonArray offset = entry.toArray();
    if (offset.size() != 2)
        return std::nullopt;
    return QPointF(offset.at(0).toDouble(), offset.at(1).toDouble());
}

void Settings::savePosition(Layout layout, quint32 display, double x, double y)
{
    // JSON has no infinity or NaN: such an entry would come back as null and make the whole
    // dictionary unreadable, losing every other screen's position.
    if (!std::isfinite(x) || !std::isfinite(y))
        return;
    update([&](QJsonObject &v) {
        QJsonObject positions = validPositions(v.value(kPositions));
        positions.insert(positionKey(layout, display), QJsonArray{x, y});
        v.insert(kPositions, positions);
        v.insert(screenKey(layout), qint64(display));
    });
}

void Settings::clearPositions(Layout layout)
{
    const QString prefix = layoutName(layout) + QLatin1Char('.');
    update([&](QJsonObject &v) {
        QJsonObject positions = validPositions(v.value(kPositions));
        for (auto it = positions.begin(); it != positions.end();) {
            if (it.key().startsWith(prefix))
                it = positions.erase(it);
            else
                ++it;
        }
        v.insert(kPositions, positions);
        v.remove(screenKey(layout));
    });
}

bool Settings::migratedFromDotscope() const
{
    std::lock_guard guard(lock);
    refresh();
    return values.contains(kMigrated);
}

} // namespace bopling
