#include "creatures/ChildProcess.h"

#include <QFile>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <stdexcept>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <system_error>
#include <tuple>
#include <unistd.h>
#include <vector>

namespace bopling {

namespace {

std::string systemError(const QString &what, int code)
{
    return (what + QStringLiteral(": ")).toStdString() + std::generic_category().message(code);
}

void closeFd(int &fd)
{
    if (fd >= 0)
        ::close(fd);
    fd = -1;
}

// NUL-terminated copies that stay alive across fork().
struct CStrings
{
    std::vector<QByteArray> bytes;
    std::vector<char *> pointers;

    explicit CStrings(const QStringList &texts)
    {
        for (const QString &text : texts)
            bytes.push_back(text.toLocal8Bit());
        for (QByteArray &b : bytes)
            pointers.push_back(b.data());
        pointers.push_back(nullptr);
    }
};

int milliseconds(ChildProcess::Clock::duration d)
{
    const auto ms = std::chrono::ceil<std::chrono::milliseconds>(d).count();
    return int(std::clamp<decltype(ms)>(ms, 0, 60 * 60 * 1000));
}

} // namespace

ChildProcess::~ChildProcess()
{
    for (int *fd : {&outFd, &errFd, &exitFd, &wakeRead, &wakeWrite})
        closeFd(*fd);
}

std::shared_ptr<ChildProcess> ChildProcess::start(const QString &program,
                                                  const QStringList &arguments,
                                                  const std::optional<QString> &folder,
                                                  const QStringList &environment, bool captureError)
{
    std::shared_ptr<ChildProcess> child(new ChildProcess);
    int outPipe[2] = {-1, -1};
    int errPipe[2] = {-1, -1};
    int wakePipe[2] = {-1, -1};
    int execPipe[2] = {-1, -1}; // carries errno when exec fails
    const int nullFd = ::open("/dev/null", O_RDWR | O_CLOEXEC);
    const auto closeAll = [&] {
        for (int *fd : {&outPipe[0], &outPipe[1], &errPipe[0], &errPipe[1], &execPipe[0],
                        &execPipe[1], &wakePipe[0], &wakePipe[1]})
            closeFd(*fd);
        if (nullFd >= 0)
            ::close(nullFd);
    };
    if (nullFd < 0 || ::pipe2(outPipe, O_CLOEXEC) != 0 ||
        (captureError && ::pipe2(errPipe, O_CLOEXEC) != 0) || ::pipe2(execPipe, O_CLOEXEC) != 0 ||
        ::pipe2(wakePipe, O_CLOEXEC | O_NONBLOCK) != 0) {
        const int code = errno;
        closeAll();
        throw std::runtime_error(systemError(program, code));
    }

    QStringList argv = arguments;
    argv.prepend(program);
    const CStrings args(argv);
    const CStrings env(environment);
    const QByteArray path = QFile::encodeName(program);
    const QByteArray dir = folder ? QFile::encodeName(*folder) : QByteArray();
    const pid_t parent = ::getpid();

    const pid_t pid = ::fork();
    if (pid == 0) {
        // Only async-signal-safe calls from here to exec.
        ::setsid();
        ::prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (::getppid() != parent)
            ::_exit(127);
        ::dup2(nullFd, STDIN_FILENO);
        ::dup2(outPipe[1], STDOUT_FILENO);
        ::dup2(captureError ? errPipe[1] : nullFd, STDERR_FILENO);
        struct sigaction dfl = {};
        dfl.sa_handler = SIG_DFL;
        for (int sig : {SIGTERM, SIGINT, SIGPIPE, SIGCHLD})
            ::sigaction(sig, &dfl, nullptr);
        sigset_t none;
        ::sigemptyset(&none);
        ::sigprocmask(SIG_SETMASK, &none, nullptr);
        if (folder && ::chdir(dir.constData()) != 0) {
            const int code = -errno; // negative: the folder failed, not the program
            (void)!::write(execPipe[1], &code, sizeof code);
            ::_exit(127);
        }
        ::execve(path.constData(), args.pointers.data(), env.pointers.data());
        const int code = errno;
        (void)!::write(execPipe[1], &code, sizeof code);
        ::_exit(127);
    }
    if (pid < 0) {
        const int code = errno;
        closeAll();
        throw std::runtime_error(systemError(program, code));
    }

    closeFd(execPipe[1]);
    int code = 0;
    ssize_t got;
    do {
        got = ::read(execPipe[0], &code, sizeof code);
    } while (got < 0 && errno == EINTR);
    const int pidfd = got == 0 ? int(::syscall(SYS_pidfd_open, pid, 0)) : -1;
    if (got != 0 || pidfd < 0) {
        if (got == 0) {
            code = errno;
            ::kill(pid, SIGKILL);
        }
        ::waitpid(pid, nullptr, 0);
        closeAll();
        throw std::runtime_error(code < 0 && folder ? systemError(*folder, -code)
                                                    : systemError(program, code));
    }
    child->leader = pid;
    child->exitFd = pidfd;
    child->outFd = outPipe[0];
    child->errFd = errPipe[0];
    child->wakeRead = wakePipe[0];
    child->wakeWrite = wakePipe[1];
    outPipe[0] = errPipe[0] = wakePipe[0] = wakePipe[1] = -1;
    closeAll();
    return child;
}

void ChildProcess::signal(int number)
{
    const std::lock_guard guard(lock);
    // A reaped program's number may belong to someone else by now.
    if (!reaped)
        ::kill(-leader, number);
}

void ChildProcess::terminate()
{
    signal(SIGTERM);
}

void ChildProcess::killAfter(Clock::duration delay)
{
    {
        const std::lock_guard guard(lock);
        const Clock::time_point when = Clock::now() + delay;
        if (!killAt || when < *killAt)
            killAt = when;
    }
    wake();
}

void ChildProcess::abandon()
{
    {
        const std::lock_guard guard(lock);
        abandoned = true;
    }
    killAfter(Clock::duration::zero());
}

void ChildProcess::wake()
{
    const char byte = 0;
    (void)!::write(wakeWrite, &byte, 1);
}

ChildProcess::Output ChildProcess::finish(Clock::duration limit, Clock::duration grace,
                                          qsizetype maxBytes)
{
    Output output;
    const Clock::time_point deadline = Clock::now() + limit;
    bool killed = false;
    bool ended = false;
    std::optional<Clock::time_point> giveUpAt;
    for (;;) {
        if (ended && outFd < 0 && errFd < 0)
            break;
        const Clock::time_point now = Clock::now();
        std::optional<Clock::time_point> killTime;
        bool hurry = false;
        {
            const std::lock_guard guard(lock);
            killTime = killAt;
            hurry = abandoned;
        }
        if (ended && hurry)
            break;
        if (!output.timedOut && !output.overflowed && now >= deadline) {
            output.timedOut = true;
            terminate();
            killAfter(grace);
            continue;
        }
        if (!killed && killTime && now >= *killTime) {
            signal(SIGKILL);
            killed = true;
        }
        if (ended && !giveUpAt)
            giveUpAt = now + grace;
        if (giveUpAt && now >= *giveUpAt) {
            // Something the program started still holds the pipes.
            signal(SIGKILL);
            break;
        }

        std::optional<Clock::time_point> wake = giveUpAt;
        for (const std::optional<Clock::time_point> &t :
             {output.timedOut || output.overflowed ? std::nullopt : std::optional(deadline),
              killed ? std::nullopt : killTime})
            if (t && (!wake || *t < *wake))
                wake = t;
        pollfd fds[4] = {{outFd, POLLIN, 0},
                         {errFd, POLLIN, 0},
                         {ended ? -1 : exitFd, POLLIN, 0},
                         {wakeRead, POLLIN, 0}};
        if (::poll(fds, 4, wake ? milliseconds(*wake - now) : -1) < 0)
            continue;
        char buffer[65536];
        for (auto [index, fd, target] :
             {std::tuple{0, &outFd, &output.out}, std::tuple{1, &errFd, &output.err}}) {
            if (!fds[index].revents)
                continue;
            const ssize_t n = ::read(*fd, buffer, sizeof buffer);
            if (n > 0 && target->size() + n > maxBytes) {
                // Closing the pipe also makes a further write fail at once.
                closeFd(*fd);
                if (!output.overflowed && !output.timedOut) {
                    terminate();
                    killAfter(grace);
                }
                output.overflowed = true;
            } else if (n > 0) {
                target->append(buffer, n);
            } else if (n == 0 || errno != EINTR) {
                closeFd(*fd);
            }
        }
        if (fds[2].revents)
            ended = true;
        if (fds[3].revents)
            while (::read(wakeRead, buffer, sizeof buffer) > 0) {
            }
    }
    // What the program started and left in its group goes with it (the
    // leader is not reaped yet, so the group's number is still ours). Whatever
    // made a session of its own is out of reach.
    signal(SIGKILL);
    {
        const std::lock_guard guard(lock);
        reaped = true;
    }
    while (::waitpid(leader, nullptr, 0) < 0 && errno == EINTR) {
    }
    return output;
}

} // namespace bopling
