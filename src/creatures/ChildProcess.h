#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <sys/types.h>

#include <chrono>
#include <memory>
#include <mutex>
#include <optional>

namespace bopling {

// One external program run by the creature runner: started in a session and
// process group of its own (so a stop reaches whatever it started too, and it
// never reads the terminal), killed with the program when the program dies,
// standard input from the null device, standard output (and optionally
// standard error) read through pipes. One thread calls finish(); any thread
// may call terminate() and killAfter().
class ChildProcess final
{
public:
    struct Output
    {
        QByteArray out;
        QByteArray err;
        bool timedOut = false;   // the time limit ended it
        bool overflowed = false; // it wrote more than it was allowed to, and was stopped
    };

    using Clock = std::chrono::steady_clock;

    ChildProcess(const ChildProcess &) = delete;
    ChildProcess &operator=(const ChildProcess &) = delete;
    ~ChildProcess();

    // Starts `program` with `arguments` and `environment` ("NAME=value"
    // entries) in `folder` when given, else in this process's own. Without
    // `captureError`, standard error goes to the null device. Throws the
    // system's description of what failed (as std::runtime_error text).
    static std::shared_ptr<ChildProcess> start(const QString &program, const QStringList &arguments,
                                               const std::optional<QString> &folder,
                                               const QStringList &environment, bool captureError);

    // Reads both pipes at the same time until they close and the program has
    // ended, then reaps it. After `limit` the group is asked to terminate and
    // `grace` later killed. Once the program has ended, whatever it started
    // gets `grace` more to close the pipes before the group is killed and the
    // reading stops; whatever is left in the group then is killed too. A pipe
    // that brings more than `maxBytes` is closed and the group stopped as at
    // the time limit, so memory stays bounded whatever the program writes.
    Output finish(Clock::duration limit, Clock::duration grace, qsizetype maxBytes);

    // SIGTERM to the group, unless the program was already reaped.
    void terminate();
    // SIGKILL to the group `delay` from now (at once for zero), unless it has
    // been reaped by then.
    void killAfter(Clock::duration delay);
    // SIGKILL to the group at once; finish() then returns as soon as the
    // program has ended, without waiting for the pipes to close.
    void abandon();

    pid_t pid() const { return leader; }

private:
    ChildProcess() = default;
    void signal(int number);

    pid_t leader = -1;
    int outFd = -1;
    int errFd = -1;
    int exitFd = -1; // pidfd: readable once the program has ended
    int wakeRead = -1;
    int wakeWrite = -1;

    void wake();

    std::mutex lock; // guards reaped, abandoned and killAt
    bool reaped = false;
    bool abandoned = false;
    std::optional<Clock::time_point> killAt;
};

} // namespace bopling
