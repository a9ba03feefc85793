#include "app/SingleInstance.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QLocalServer>
#include <QLocalSocket>
#include <QStandardPaths>
#include <QThread>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace bopling {

namespace {

constexpr char kMenuRequest[] = "menu\n";
constexpr char kAnswer[] = "ok\n";
// A request is one short line; anything longer is not one.
constexpr qint64 kLongestRequest = 64;
// A start that has the lock may not be listening yet: the later one tries again this often.
constexpr int kConnectRetryMilliseconds = 50;

// Connects to the running Bopling's socket, sends the request and waits for
// its answer, all before `deadline`.
bool askForMenu(const QByteArray &path, const QDeadlineTimer &deadline)
{
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (path.size() >= qsizetype(sizeof address.sun_path))
        return false;
    std::memcpy(address.sun_path, path.constData(), size_t(path.size()));
    while (!deadline.hasExpired()) {
        const int socket = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (socket < 0)
            return false;
        if (::connect(socket, reinterpret_cast<const sockaddr *>(&address), sizeof address) != 0) {
            ::close(socket);
            QThread::msleep(kConnectRetryMilliseconds);
            continue;
        }
        bool answered = ::send(socket, kMenuRequest, sizeof kMenuRequest - 1, MSG_NOSIGNAL) ==
                        ssize_t(sizeof kMenuRequest - 1);
        QByteArray answer;
        while (answered && !answer.contains('\n')) {
            pollfd readable{socket, POLLIN, 0};
            char buffer[16];
            if (::poll(&readable, 1, int(deadline.remainingTime())) <= 0) {
                answered = false;
                break;
            }
            const ssize_t got = ::read(socket, buffer, sizeof buffer);
            if (got <= 0) {
                answered = false;
                break;
            }
            answer.append(buffer, got);
        }
        ::close(socket);
        return answered && answer == kAnswer;
    }
    return false;
}

} // namespace

SingleInstance::SingleInstance(const QString &folder)
    : lockPath(folder + QStringLiteral("/bopling.lock")),
      socketPath(folder + QStringLiteral("/bopling.socket"))
{
    // Close-on-exec: a child such as a running `claude` must not keep the
    // lock after Bopling has gone.
    lockFile = ::open(QFile::encodeName(lockPath).constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (lockFile < 0) {
        std::fprintf(stderr, "Bopling: cannot open %s (%s); not checking for another Bopling.\n",
                     qPrintable(lockPath), std::strerror(errno));
        return;
    }
    if (::flock(lockFile, LOCK_EX | LOCK_NB) == 0) {
        first = true;
        return;
    }
    if (errno != EWOULDBLOCK) {
        std::fprintf(stderr, "Bopling: cannot lock %s (%s); not checking for another Bopling.\n",
                     qPrintable(lockPath), std::strerror(errno));
        ::close(lockFile);
        lockFile = -1;
    }
}

SingleInstance::~SingleInstance()
{
    // The socket file goes with the server, before the lock is let go.
    if (server)
        server->close();
    if (lockFile >= 0)
        ::close(lockFile);
}

QString SingleInstance::sessionFolder()
{
    const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    return !runtime.isEmpty() ? runtime
                              : QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
}

int SingleInstance::handOver() const
{
    if (askForMenu(QFile::encodeName(socketPath),
                   QDeadlineTimer(kAnswerMilliseconds, Qt::CoarseTimer))) {
        std::puts("Bopling is already running; its menu is open next to its panel.");
        return 0;
    }
    std::fprintf(stderr,
                 "Bopling is already running but did not answer on %s. End it (for example "
                 "with \"pkill -x bopling\") and start Bopling again.\n",
                 qPrintable(socketPath));
    return 1;
}

void SingleInstance::listen(std::function<void()> onMenuRequest)
{
    if (!first || server)
        return;
    // A socket left by a Bopling that was killed is in the way; the lock says it is gone.
    QLocalServer::removeServer(socketPath);
    server = new QLocalServer(this);
    server->setSocketOptions(QLocalServer::UserAccessOption);
    if (!server->listen(socketPath)) {
        std::fprintf(stderr,
                     "Bopling: cannot listen on %s (%s); starting Bopling again will "
                     "not open this one's menu.\n",
                     qPrintable(socketPath), qPrintable(server->errorString()));
        return;
    }
    connect(server, &QLocalServer::newConnection, this, [this, onMenuRequest] {
        while (QLocalSocket *client = server->nextPendingConnection()) {
            connect(client, &QLocalSocket::disconnected, client, &QObject::deleteLater);
            connect(client, &QLocalSocket::readyRead, this, [client, onMenuRequest] {
                if (!client->canReadLine()) {
                    if (client->bytesAvailable() > kLongestRequest)
                        client->disconnectFromServer();
                    return;
                }
                const bool menu = client->readLine() == kMenuRequest;
                if (menu)
                    client->write(kAnswer);
                client->disconnectFromServer();
                if (menu && onMenuRequest)
                    onMenuRequest();
            });
        }
    });
}

} // namespace bopling
