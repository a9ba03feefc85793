#pragma once

#include <QDBusConnection>
#include <QHash>
#include <QObject>
#include <QString>
#include <QVariantMap>

#include <functional>
#include <optional>

class QDBusMessage;

namespace bopling {

// The media players on the session bus (MPRIS, "org.mpris.MediaPlayer2.*") and
// what they play. Reports each new track a counting player starts playing: any
// player, or, once an application is set, only that application's. Main thread.
class MediaPlayers final : public QObject
{
    Q_OBJECT

public:
    struct Track
    {
        QString title;
        QString artist; // the artists joined by ", "; may be empty
        friend bool operator==(const Track &, const Track &) = default;
    };

    explicit MediaPlayers(QDBusConnection bus = QDBusConnection::sessionBus(),
                          QObject *parent = nullptr);
    ~MediaPlayers() override;

    // Starts watching; players already running are read at once. False
    // without a session bus.
    bool start();
    // Only this application's players count from now on; none: every player.
    void setApplication(std::optional<QString> application);
    // The track a counting player plays now, the one announced last first.
    std::optional<Track> playing() const;

    // A counting player started playing a track it was not known to play.
    std::function<void(const Track &track)> onTrack;

    // Whether the player on `busName` with this identity and desktop entry is
    // `application`'s: one of the three (the bus name without its prefix and
    // instance suffix) names it, letter case, spaces and punctuation aside.
    static bool sameApplication(const QString &busName, const QString &identity,
                                const QString &desktopEntry, const QString &application);
    // The title and artists of an MPRIS metadata map; none without a title.
    static std::optional<Track> trackOf(const QVariantMap &metadata);

private slots:
    void nameOwnerChanged(const QString &name, const QString &oldOwner, const QString &newOwner);
    void propertiesChanged(const QDBusMessage &message);

private:
    struct Player
    {
        QString owner; // the unique name that signals come from
        QString identity;
        QString desktopEntry;
        std::optional<Track> track;
        bool playing = false;
        std::optional<Track> announced;
    };

    void addPlayer(const QString &name, const QString &owner);
    void readProperties(const QString &name, const QString &interface);
    void apply(const QString &name, const QVariantMap &properties);
    bool counts(const QString &name, const Player &player) const;

    QDBusConnection bus;
    QHash<QString, Player> players; // by bus name
    std::optional<QString> application;
    QString lastAnnounced;
};

} // namespace bopling
