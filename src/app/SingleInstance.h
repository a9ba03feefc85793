#pragma once

#include <QObject>
#include <QString>

#include <functional>

class QLocalServer;

namespace bopling {

// One Bopling per user session. The first start holds a lock in the session's
// runtime folder (released by the system however the process ends, so a
// killed Bopling never blocks the next start) and answers on a local socket
// beside it; a later start asks the running one to open its menu and ends.
// Made before the application object; the answering runs on the main thread.
class SingleInstance final : public QObject
{
    Q_OBJECT

public:
    // How long a later start waits for the running one to answer.
    static constexpr int kAnswerMilliseconds = 5000;

    // Takes the lock in `folder` unless another Bopling holds it.
    explicit SingleInstance(const QString &folder = sessionFolder());
    ~SingleInstance() override;

    // $XDG_RUNTIME_DIR, or the private folder Qt makes in its place.
    static QString sessionFolder();

    // Another Bopling holds the lock. False too when the lock cannot be
    // taken at all: then this one runs rather than none.
    bool anotherIsRunning() const { return !first && lockFile >= 0; }

    // For a later start: asks the running Bopling to open its menu and says
    // so; the process's exit status, 0 once the running one has answered.
    int handOver() const;

    // For the first start, once the application object exists: calls
    // `onMenuRequest` whenever a later start asks for the menu.
    void listen(std::function<void()> onMenuRequest);

private:
    const QString lockPath;
    const QString socketPath;
    int lockFile = -1;
    bool first = false;
    QLocalServer *server = nullptr;
};

} // namespace bopling
