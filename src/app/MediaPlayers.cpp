#include "app/MediaPlayers.h"

#include <QDBusArgument>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusVariant>

namespace bopling {

namespace {

const QString kPrefix = QStringLiteral("org.mpris.MediaPlayer2.");
const QString kPath = QStringLiteral("/org/mpris/MediaPlayer2");
const QString kRoot = QStringLiteral("org.mpris.MediaPlayer2");
const QString kPlayer = QStringLiteral("org.mpris.MediaPlayer2.Player");
const QString kProperties = QStringLiteral("org.freedesktop.DBus.Properties");
const QString kBus = QStringLiteral("org.freedesktop.DBus");

// A map sent as a{sv}, whether Qt has already turned it into one or not.
QVariantMap mapOf(const QVariant &value)
{
    if (value.userType() == qMetaTypeId<QDBusArgument>()) {
        QVariantMap map;
        value.value<QDBusArgument>() >> map;
        return map;
    }
    return value.toMap();
}

QVariant plain(const QVariant &value)
{
    return value.userType() == qMetaTypeId<QDBusVariant>() ? value.value<QDBusVariant>().variant()
                                                           : value;
}

// A text or a list of texts (as QStringList, or still marshalled), joined.
QString joined(const QVariant &value)
{
    if (value.userType() == qMetaTypeId<QDBusArgument>()) {
        QStringList list;
        value.value<QDBusArgument>() >> list;
        return list.join(QStringLiteral(", "));
    }
    if (value.userType() == QMetaType::QStringList)
        return value.toStringList().join(QStringLiteral(", "));
    return value.toString();
}

// A name reduced to its letters and digits in lower case: "Google Chrome"
// and "google-chrome" are the same application.
QString folded(const QString &name)
{
    QString out;
    for (const QChar ch : name) {
        if (ch.isLetterOrNumber())
            out += ch.toLower();
    }
    return out;
}

} // namespace

MediaPlayers::MediaPlayers(QDBusConnection connection, QObject *parent)
    : QObject(parent), bus(std::move(connection))
{}

MediaPlayers::~MediaPlayers() = default;

bool MediaPlayers::start()
{
    if (!bus.isConnected())
        return false;
    bus.connect(kBus, QStringLiteral("/org/freedesktop/DBus"), kBus,
                QStringLiteral("NameOwnerChanged"), this,
                SLOT(nameOwnerChanged(QString, QString, QString)));
    bus.connect(QString(), kPath, kProperties, QStringLiteral("PropertiesChanged"), this,
                SLOT(propertiesChanged(QDBusMessage)));
    const QDBusMessage listNames = QDBusMessage::createMethodCall(
        kBus, QStringLiteral("/org/freedesktop/DBus"), kBus, QStringLiteral("ListNames"));
    auto *watcher = new QDBusPendingCallWatcher(bus.asyncCall(listNames), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this](QDBusPendingCallWatcher *w) {
        w->deleteLater();
        const QDBusPendingReply<QStringList> reply = *w;
        if (reply.isError())
            return;
        for (const QString &name : reply.value()) {
            if (!name.startsWith(kPrefix))
                continue;
            const QDBusReply<QString> owner = bus.interface()->serviceOwner(name);
            if (owner.isValid())
                addPlayer(name, owner.value());
        }
    });
    return true;
}

void MediaPlayers::setApplication(std::optional<QString> app)
{
    application = std::move(app);
}

std::optional<MediaPlayers::Track> MediaPlayers::playing() const
{
    const auto shows = [this](const QString &name, const Player &player) {
        return player.playing && player.track && counts(name, player);
    };
    if (const auto last = players.constFind(lastAnnounced);
        last != players.constEnd() && shows(last.key(), *last))
        return last->track;
    for (auto it = players.constBegin(); it != players.constEnd(); ++it) {
        if (shows(it.key(), *it))
            return it->track;
    }
    return std::nullopt;
}

bool MediaPlayers::sameApplication(const QString &busName, const QString &identity,
                                   const QString &desktopEntry, const QString &application)
{
    const QString wanted = folded(application);
    if (wanted.isEmpty())
        return false;
    // "org.mpris.MediaPlayer2.firefox.instance_1_23" is Firefox's.
    QString short_ = busName.startsWith(kPrefix) ? busName.mid(kPrefix.size()) : busName;
    short_ = short_.section(u'.', 0, 0);
    return folded(identity) == wanted || folded(desktopEntry) == wanted || folded(short_) == wanted;
}

std::optional<MediaPlayers::Track> MediaPlayers::trackOf(const QVariantMap &metadata)
{
    Track track;
    track.title = plain(metadata.value(QStringLiteral("xesam:title"))).toString();
    if (track.title.isEmpty())
        return std::nullopt;
    // A list of names by the standard; some players send one text.
    track.artist = joined(plain(metadata.value(QStringLiteral("xesam:artist"))));
    return track;
}

void MediaPlayers::nameOwnerChanged(const QString &name, const QString &, const QString &newOwner)
{
    if (!name.startsWith(kPrefix))
        return;
    if (newOwner.isEmpty())
        players.remove(name);
    else
        addPlayer(name, newOwner);
}

void MediaPlayers::addPlayer(const QString &name, const QString &owner)
{
    players[name] = Player{owner, {}, {}, {}, false, {}};
    readProperties(name, kRoot);
    readProperties(name, kPlayer);
}

void MediaPlayers::readProperties(const QString &name, const QString &interface)
{
    QDBusMessage getAll =
        QDBusMessage::createMethodCall(name, kPath, kProperties, QStringLiteral("GetAll"));
    getAll << interface;
    auto *watcher = new QDBusPendingCallWatcher(bus.asyncCall(getAll), this);
    const QString owner = players.value(name).owner;
    connect(watcher, &QDBusPendingCallWatcher::finished, this,
            [this, name, owner](QDBusPendingCallWatcher *w) {
                w->deleteLater();
                const QDBusPendingReply<QVariantMap> reply = *w;
                // A player that went (or came again) since the question was asked.
                if (reply.isError() || players.value(name).owner != owner)
                    return;
                apply(name, reply.value());
            });
}

void MediaPlayers::propertiesChanged(const QDBusMessage &message)
{
    const QList<QVariant> arguments = message.arguments();
    if (arguments.size() < 2)
        return;
    const QString interface = arguments[0].toString();
    if (interface != kPlayer && interface != kRoot)
        return;
    for (auto it = players.begin(); it != players.end(); ++it) {
        if (it->owner == message.service()) {
            apply(it.key(), mapOf(arguments[1]));
            return;
        }
    }
}

void MediaPlayers::apply(const QString &name, const QVariantMap &properties)
{
    auto found = players.find(name);
    if (found == players.end())
        return;
    Player &player = *found;
    if (properties.contains(QStringLiteral("Identity")))
        player.identity = plain(properties.value(QStringLiteral("Identity"))).toString();
    if (properties.contains(QStringLiteral("DesktopEntry")))
        player.desktopEntry = plain(properties.value(QStringLiteral("DesktopEntry"))).toString();
    if (properties.contains(QStringLiteral("Metadata")))
        player.track = trackOf(mapOf(plain(properties.value(QStringLiteral("Metadata")))));
    if (properties.contains(QStringLiteral("PlaybackStatus"))) {
        player.playing = plain(properties.value(QStringLiteral("PlaybackStatus"))).toString() ==
                         QLatin1String("Playing");
    }
    if (!player.playing || !player.track || player.track == player.announced ||
        !counts(name, player))
        return;
    player.announced = player.track;
    lastAnnounced = name;
    if (onTrack)
        onTrack(*player.track);
}

bool MediaPlayers::counts(const QString &name, const Player &player) const
{
    return !application ||
           sameApplication(name, player.identity, player.desktopEntry, *application);
}

} // namespace bopling
