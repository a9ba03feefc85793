#pragma once

#include "creatures/ChildProcess.h"
#include "creatures/Creature.h"

#include <QByteArray>
#include <QObject>
#include <QString>
#include <QStringList>

#include <atomic>
#include <chrono>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

namespace bopling {

// Turns a photo into a creature with the Claude Code CLI (`claude`) that the
// user has installed and signed in to: a JPEG copy of the photo in a private
// temporary folder, a prompt filled from the resource folder, the CLI run
// under a time limit, its answer checked. `run` and `cancel` belong to the
// thread that created the runner (the main thread), which also receives the
// outcomes; each run works on a thread of its own.
class ClaudeRunner final
{
public:
    // Why a run gave no creature; `message()` is shown to the user word for word.
    class Failure final : public std::exception
    {
    public:
        explicit Failure(QString message);
        const QString &message() const { return text; }
        const char *what() const noexcept override { return utf8.constData(); }

    private:
        QString text;
        QByteArray utf8;
    };

    // What a run delivers: the checked creature, or the message saying why not.
    struct Outcome
    {
        std::optional<Creature> creature;
        QString message;
    };
    using Completion = std::function<void(const Outcome &)>;

    using Duration = std::chrono::milliseconds;
    // How long a run may take, and how long a process asked to stop gets
    // before it is killed.
    static constexpr Duration kTimeLimit{240000};
    static constexpr Duration kGrace{3000};
    // How long the login shell may take to name the CLI.
    static constexpr Duration kShellLimit{4000};
    // Longest side of the photo sent.
    static constexpr int kMaxPhotoSide = 1568;
    // Characters of the CLI's own text kept in a message.
    static constexpr qsizetype kErrorTextKept = 300;
    // Bytes read from each of the CLI's outputs. A real answer is a few hundred
    // kB at most; a CLI that writes more is stopped rather than filling memory.
    static constexpr qsizetype kMaxOutputBytes = 8 * 1024 * 1024;

    explicit ClaudeRunner(Duration timeLimit = kTimeLimit, Duration grace = kGrace);
    // Makes every run stale, kills their processes (and login shells) at once
    // and waits for their threads, which then end without waiting for
    // anything the processes left behind.
    ~ClaudeRunner();
    ClaudeRunner(const ClaudeRunner &) = delete;
    ClaudeRunner &operator=(const ClaudeRunner &) = delete;
    // How long each run may take.
    Duration limit() const { return timeLimit; }

    // Starts a new run and makes every earlier one stale (its process is
    // asked to terminate). `completion` is called later on this runner's
    // thread, only if no newer run or cancel came in the meantime.
    // `model` is "sonnet" or "opus".
    void run(QByteArray photo, QString note, QString model, Completion completion);
    // Makes every run stale; their processes and login shells are asked to
    // terminate and killed after the grace period. Safe from any thread.
    void cancel();
    // cancel() on every runner of this thread (the way out of the program).
    static void cancelAll();

    // The whole run on the calling thread: the checked creature, or throws
    // Failure or Creature::Invalid. `id` must be the newest run's number
    // (0 for a runner that never ran), otherwise it throws "Cancelled.".
    Creature runSync(qint64 id, const QByteArray &photo, const QString &note, const QString &model);

    // The path of an executable `claude`: the usual install places, this
    // process's PATH, then the user's login shell.
    static std::optional<QString> findClaude();
    // Runs findClaude() once per process in the background and keeps the
    // answer for cachedClaudePath(). Main thread.
    static void lookUpClaude();
    // The answer of lookUpClaude(); nothing until it is known or when there is none.
    static std::optional<QString> cachedClaudePath();
    // Deletes the folders that runs left in the temporary folder (after a
    // crash): only this program's names, only the user's own entries.
    static void sweepTemporaryFolders();

    // The photo as the CLI gets it: JPEG, quality 90, longest side at most
    // kMaxPhotoSide, orientation applied, transparency on white. Nothing when
    // the bytes are not a picture.
    static std::optional<QByteArray> photoJPEG(const QByteArray &photo);
    // The prompt template filled with the photo's name, the example creature
    // and the note. Nothing when the template or the built-in creature is missing.
    static std::optional<QString> buildPrompt(const QString &note);
    // The CLI's arguments for this prompt and model.
    static QStringList arguments(const QString &prompt, const QString &model);
    // The friendly message for a sign-in problem or a limit, or nothing.
    static std::optional<QString> classifyFailure(const QString &text);

private:
    struct Worker
    {
        std::thread thread;
        std::shared_ptr<std::atomic<bool>> done;
    };

    // Runs the login shell for findClaude(): its standard output (empty when
    // it could not run).
    using ShellRun = std::function<QByteArray(const QString &shell, const QStringList &arguments)>;
    static std::optional<QString> findClaude(const ShellRun &runShell);
    // Starts a program for run `id` unless the run is stale, where cancel()
    // and the destructor reach it, waits for it and forgets it again.
    // Throws "Cancelled." for a stale run, the system's error when the
    // program cannot start.
    ChildProcess::Output runChild(qint64 id, const QString &program, const QStringList &arguments,
                                  const std::optional<QString> &folder,
                                  const QStringList &environment, bool isClaude, Duration limit);
    void throwIfStale(qint64 id);

    // The CLI's output read as its answer: the checked creature, or throws.
    static Creature readAnswer(const QByteArray &out, const QByteArray &err);

    const Duration timeLimit;
    const Duration grace;

    std::mutex lock; // guards generation, process and children
    qint64 generation = 0;
    std::shared_ptr<ChildProcess> process; // the newest run's CLI, while it runs
    std::vector<std::shared_ptr<ChildProcess>>
        children; // every run's CLI and shell, while they run

    std::vector<Worker> workers; // owner thread only
    QObject receiver;            // outcomes are queued to it
};

} // namespace bopling
