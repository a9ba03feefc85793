#include "creatures/ClaudeRunner.h"

#include "creatures/ChildProcess.h"
#include "creatures/CreatureLibrary.h"
#include "creatures/Graphemes.h"
#include "creatures/Move.h"
#include "settings/Resources.h"

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QImageReader>
#include <QImageWriter>
#include <QJsonDocument>
#include <QJsonObject>
#include <QPainter>
#include <QProcessEnvironment>
#include <QRegularExpression>
#include <QStringDecoder>
#include <QUuid>

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <pthread.h>
#include <pwd.h>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>

namespace bopling {

namespace {

const QString kNotFound = QStringLiteral(
    "Claude Code was not found on this computer. Install it and sign in, then try again.");
const QString kNotAPicture = QStringLiteral("That file could not be read as a picture.");
const QString kNoPrompt = QStringLiteral("The creature prompt is missing from the app bundle.");
const QString kCancelled = QStringLiteral("Cancelled.");
const QString kNotSignedIn = QStringLiteral(
    "Claude Code is not signed in. Open a terminal, run claude once, sign in, then try again.");
const QString kBusy =
    QStringLiteral("Claude is busy or you hit a usage limit. Try again in a bit.");
const QString kSystemPrompt =
    QStringLiteral("You design small pixel-art game sprites from photos. "
                   "Reply with exactly one JSON object and nothing else.");

std::optional<QString> strictUtf8(const QByteArray &bytes)
{
    QStringDecoder decoder(QStringDecoder::Utf8);
    QString text = decoder(bytes);
    if (decoder.hasError())
        return std::nullopt;
    return text;
}

QString trimmed(const QString &text, QStringView characters)
{
    qsizetype begin = 0;
    qsizetype end = text.size();
    while (begin < end && characters.contains(text[begin]))
        ++begin;
    while (end > begin && characters.contains(text[end - 1]))
        --end;
    return text.sliced(begin, end - begin);
}

QString lastGraphemes(const QString &text, qsizetype count)
{
    const QList<QStringView> all = graphemes(text);
    if (all.size() <= count)
        return text;
    const QStringView first = all[all.size() - count];
    return text.sliced(first.data() - text.constData());
}

QString systemMessage(const QString &path, int code)
{
    return path + QStringLiteral(": ") +
           QString::fromStdString(std::generic_category().message(code));
}

QStringList pathParts()
{
    return qEnvironmentVariable("PATH").split(u':', Qt::SkipEmptyParts);
}

bool isExecutableFile(const QString &path)
{
    const QByteArray name = QFile::encodeName(path);
    struct stat st;
    return ::stat(name.constData(), &st) == 0 && S_ISREG(st.st_mode) &&
           ::access(name.constData(), X_OK) == 0;
}

// The user's own login shell: the account's, then $SHELL, then /bin/sh.
QString loginShell()
{
    struct passwd entry;
    struct passwd *found = nullptr;
    char buffer[4096];
    if (::getpwuid_r(::getuid(), &entry, buffer, sizeof buffer, &found) == 0 && found &&
        found->pw_shell && *found->pw_shell)
        return QFile::decodeName(found->pw_shell);
    const QString shell = qEnvironmentVariable("SHELL");
    return shell.isEmpty() ? QStringLiteral("/bin/sh") : shell;
}

void nameThread(const char *name)
{
    ::pthread_setname_np(::pthread_self(), name);
}

// Deletes a run's temporary folder on every way out.
struct FolderRemover
{
    QString path;
    ~FolderRemover() { QDir(path).removeRecursively(); }
};

// The runners that cancelAll() reaches.
std::mutex registryLock;
std::vector<ClaudeRunner *> &registry()
{
    static std::vector<ClaudeRunner *> runners;
    return runners;
}

// The process-wide answer of lookUpClaude; leaked so the lookup thread may
// outlive main().
struct ClaudeCache
{
    std::mutex lock;
    bool started = false;
    std::optional<QString> path;
};
ClaudeCache &claudeCache()
{
    static auto *cache = new ClaudeCache;
    return *cache;
}

} // namespace

ClaudeRunner::Failure::Failure(QString message) : text(std::move(message)), utf8(text.toUtf8()) {}

ClaudeRunner::ClaudeRunner(Duration timeLimit, Duration grace) : timeLimit(timeLimit), grace(grace)
{
    const std::lock_guard guard(registryLock);
    registry().push_back(this);
}

ClaudeRunner::~ClaudeRunner()
{
    {
        const std::lock_guard guard(registryLock);
        std::erase(registry(), this);
    }
    std::vector<std::shared_ptr<ChildProcess>> live;
    {
        const std::lock_guard guard(lock);
        ++generation;
        process.reset();
        live = children;
    }
    // The program is quitting or the runner is being replaced: nothing a
    // process left holding its pipes may keep it waiting.
    for (const std::shared_ptr<ChildProcess> &child : live)
        child->abandon();
    for (Worker &worker : workers)
        worker.thread.join();
}

void ClaudeRunner::run(QByteArray photo, QString note, QString model, Completion completion)
{
    qint64 id;
    std::shared_ptr<ChildProcess> previous;
    {
        const std::lock_guard guard(lock);
        id = ++generation;
        previous = process;
    }
    if (previous)
        previous->terminate();

    std::erase_if(workers, [](Worker &worker) {
        if (!worker.done->load())
            return false;
        worker.thread.join();
        return true;
    });
    auto done = std::make_shared<std::atomic<bool>>(false);
    std::thread thread([this, id, photo = std::move(photo), note = std::move(note),
                        model = std::move(model), completion = std::move(completion), done] {
        nameThread("qx.claude");
        Outcome outcome;
        try {
            outcome.creature = runSync(id, photo, note, model);
        } catch (const Failure &failure) {
            outcome.message = failure.message();
        } catch (const Creature::Invalid &invalid) {
            outcome.message = invalid.message();
        } catch (const std::exception &error) {
            outcome.message = QString::fromLocal8Bit(error.what());
        }
        QMetaObject::invokeMethod(
            &receiver,
            [this, id, outcome, completion] {
                {
                    const std::lock_guard guard(lock);
                    if (generation != id)
                        return;
                }
                // Called without the lock: the completion may start a new run.
                if (completion)
                    completion(outcome);
            },
            Qt::QueuedConnection);
        done->store(true);
    });
    workers.push_back({std::move(thread), std::move(done)});
}

void ClaudeRunner::cancel()
{
    std::vector<std::shared_ptr<ChildProcess>> live;
    {
        const std::lock_guard guard(lock);
        ++generation;
        process.reset();
        live = children;
    }
    // Earlier runs' processes too: they were only asked to terminate.
    for (const std::shared_ptr<ChildProcess> &child : live) {
        child->terminate();
        child->killAfter(grace);
    }
}

void ClaudeRunner::cancelAll()
{
    const std::lock_guard guard(registryLock);
    for (ClaudeRunner *runner : registry())
        runner->cancel();
}

Creature ClaudeRunner::runSync(qint64 id, const QByteArray &photo, const QString &note,
                               const QString &model)
{
    const QStringList environment = QProcessEnvironment::systemEnvironment().toStringList();
    const std::optional<QString> claude =
        findClaude([&](const QString &shell, const QStringList &arguments) {
            try {
                return runChild(id, shell, arguments, std::nullopt, environment, false, kShellLimit)
                    .out;
            } catch (const Failure &) {
                return QByteArray(); // stale, or the shell could not start
            }
        });
    if (!claude) {
        // A cancel stops the shell, which then names nothing.
        throwIfStale(id);
        throw Failure(kNotFound);
    }
    const std::optional<QByteArray> jpeg = photoJPEG(photo);
    if (!jpeg)
        throw Failure(kNotAPicture);
    const std::optional<QString> prompt = buildPrompt(note);
    if (!prompt)
        throw Failure(kNoPrompt);

    // Private: the photo is the user's, and /tmp is shared.
    const QString temp = QDir::tempPath();
    const QString folder = temp + QStringLiteral("/bopling-") +
                           QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper();
    QDir().mkpath(temp);
    if (::mkdir(QFile::encodeName(folder).constData(), 0700) != 0)
        throw Failure(systemMessage(folder, errno));
    const FolderRemover remover{folder};
    ::chmod(QFile::encodeName(folder).constData(), 0700);

    const QString photoPath = folder + QStringLiteral("/photo.jpg");
    const int fd = ::open(QFile::encodeName(photoPath).constData(),
                          O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd < 0)
        throw Failure(systemMessage(photoPath, errno));
    QFile file;
    const bool written = file.open(fd, QIODevice::WriteOnly, QFileDevice::AutoCloseHandle) &&
                         file.write(*jpeg) == jpeg->size() && file.flush();
    const QString writeError = file.errorString();
    file.close();
    if (!written)
        throw Failure(photoPath + QStringLiteral(": ") + writeError);

    QStringList searchPath = {QDir::homePath() + QStringLiteral("/.local/bin"),
                              QStringLiteral("/opt/homebrew/bin"), QStringLiteral("/usr/local/bin"),
                              QStringLiteral("/usr/bin"), QStringLiteral("/bin")};
    searchPath += pathParts();
    QProcessEnvironment claudeEnvironment = QProcessEnvironment::systemEnvironment();
    claudeEnvironment.insert(QStringLiteral("PATH"), searchPath.join(u':'));

    const ChildProcess::Output output = runChild(id, *claude, arguments(*prompt, model), folder,
                                                 claudeEnvironment.toStringList(), true, timeLimit);
    throwIfStale(id);
    if (output.overflowed) {
        throw Failure(
            QStringLiteral("Claude Code wrote more than %1 MB, so I stopped it. Try again.")
                .arg(kMaxOutputBytes / (1024 * 1024)));
    }
    if (output.timedOut) {
        throw Failure(
            QStringLiteral("Claude took longer than 4 minutes, so I stopped it. Try again") +
            (model == QLatin1String("opus")
                 ? QStringLiteral(", or pick the faster Standard quality")
                 : QString()) +
            QLatin1Char('.'));
    }
    return readAnswer(output.out, output.err);
}

ChildProcess::Output ClaudeRunner::runChild(qint64 id, const QString &program,
                                            const QStringList &arguments,
                                            const std::optional<QString> &folder,
                                            const QStringList &environment, bool isClaude,
                                            Duration limit)
{
    std::shared_ptr<ChildProcess> child;
    {
        const std::lock_guard guard(lock);
        if (generation != id)
            throw Failure(kCancelled);
        try {
            child = ChildProcess::start(program, arguments, folder, environment, isClaude);
        } catch (const std::runtime_error &error) {
            throw Failure(QString::fromStdString(error.what()));
        }
        if (isClaude)
            process = child;
        children.push_back(child);
    }
    const ChildProcess::Output output = child->finish(limit, grace, kMaxOutputBytes);
    const std::lock_guard guard(lock);
    if (process == child)
        process.reset();
    std::erase(children, child);
    return output;
}

void ClaudeRunner::throwIfStale(qint64 id)
{
    const std::lock_guard guard(lock);
    if (generation != id)
        throw Failure(kCancelled);
}

Creature ClaudeRunner::readAnswer(const QByteArray &out, const QByteArray &err)
{
    QJsonParseError parseError;
    const QJsonDocument document = QJsonDocument::fromJson(out, &parseError);
    if (parseError.error == QJsonParseError::NoError && document.isObject()) {
        const QJsonObject answer = document.object();
        const QString result = answer.value(QLatin1String("result")).toString();
        const QJsonValue isError = answer.value(QLatin1String("is_error"));
        if (isError.isBool() && isError.toBool()) {
            throw Failure(
                classifyFailure(result).value_or(QStringLiteral("Claude Code reported an error: ") +
                                                 leftGraphemes(result, kErrorTextKept)));
        }
        return Creature::fromReply(result).validated();
    }
    // Leniently: a reason with a stray invalid byte still says what went wrong.
    QString text = QString::fromUtf8(err);
    if (text.isEmpty())
        text = QString::fromUtf8(out);
    const QString tail = lastGraphemes(text, kErrorTextKept);
    throw Failure(
        classifyFailure(tail).value_or(QStringLiteral("Claude Code did not answer. ") + tail));
}

QStringList ClaudeRunner::arguments(const QString &prompt, const QString &model)
{
    return {QStringLiteral("-p"),
            prompt,
            QStringLiteral("--output-format"),
            QStringLiteral("json"),
            QStringLiteral("--model"),
            model,
            QStringLiteral("--tools"),
            QStringLiteral("Read"),
            QStringLiteral("--no-session-persistence"),
            QStringLiteral("--setting-sources"),
            QStringLiteral("project"),
            QStringLiteral("--strict-mcp-config"),
            QStringLiteral("--disable-slash-commands"),
            QStringLiteral("--system-prompt"),
            kSystemPrompt};
}

std::optional<QString> ClaudeRunner::findClaude()
{
    return findClaude([](const QString &shell, const QStringList &arguments) {
        try {
            return ChildProcess::start(shell, arguments, std::nullopt,
                                       QProcessEnvironment::systemEnvironment().toStringList(),
                                       false)
                ->finish(kShellLimit, kGrace, kMaxOutputBytes)
                .out;
        } catch (const std::runtime_error &) {
            return QByteArray();
        }
    });
}

std::optional<QString> ClaudeRunner::findClaude(const ShellRun &runShell)
{
    const QString home = QDir::homePath();
    QStringList candidates = {home + QStringLiteral("/.local/bin/claude"),
                              home + QStringLiteral("/.claude/local/claude"),
                              QStringLiteral("/opt/homebrew/bin/claude"),
                              QStringLiteral("/usr/local/bin/claude"),
                              home + QStringLiteral("/.npm-global/bin/claude"),
                              home + QStringLiteral("/.bun/bin/claude")};
    for (const QString &dir : pathParts())
        candidates.append(dir + QStringLiteral("/claude"));
    for (const QString &candidate : candidates) {
        if (isExecutableFile(candidate))
            return candidate;
    }

    // Installs that only the user's shell set-up puts on PATH.
    const QByteArray shellOutput =
        runShell(loginShell(), {QStringLiteral("-lic"), QStringLiteral("command -v claude")});
    const std::optional<QString> text = strictUtf8(shellOutput);
    if (!text)
        return std::nullopt;
    const QStringList lines = text->split(u'\n', Qt::SkipEmptyParts);
    if (lines.isEmpty())
        return std::nullopt;
    const QString path = trimmed(lines.last(), u" \t");
    if (!isExecutableFile(path))
        return std::nullopt;
    return path;
}

void ClaudeRunner::lookUpClaude()
{
    ClaudeCache &cache = claudeCache();
    {
        const std::lock_guard guard(cache.lock);
        if (cache.started)
            return;
        cache.started = true;
    }
    std::thread([&cache] {
        nameThread("qx.claude.find");
        std::optional<QString> path = findClaude();
        const std::lock_guard guard(cache.lock);
        cache.path = std::move(path);
    }).detach();
}

std::optional<QString> ClaudeRunner::cachedClaudePath()
{
    ClaudeCache &cache = claudeCache();
    const std::lock_guard guard(cache.lock);
    return cache.path;
}

void ClaudeRunner::sweepTemporaryFolders()
{
    // Only names this program makes: other programs' "bopling-..." entries stay.
    static const QRegularExpression ours(
        QStringLiteral("^bopling-[0-9A-F]{8}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{12}$"));
    const QDir temp(QDir::tempPath());
    const QStringList names = temp.entryList({QStringLiteral("bopling-*")},
                                             QDir::AllEntries | QDir::Hidden | QDir::System);
    for (const QString &name : names) {
        if (!ours.match(name).hasMatch())
            continue;
        const QString path = temp.filePath(name);
        const QByteArray encoded = QFile::encodeName(path);
        struct stat st;
        // On a shared /tmp, even root leaves other users' entries alone.
        if (::lstat(encoded.constData(), &st) != 0 || st.st_uid != ::geteuid())
            continue;
        if (S_ISDIR(st.st_mode))
            QDir(path).removeRecursively();
        else
            ::unlink(encoded.constData());
    }
}

std::optional<QByteArray> ClaudeRunner::photoJPEG(const QByteArray &photo)
{
    QBuffer source;
    source.setData(photo);
    source.open(QIODevice::ReadOnly);
    QImageReader reader(&source);
    reader.setAutoTransform(true);
    const QSize size = reader.size();
    if (size.isValid() && std::max(size.width(), size.height()) > kMaxPhotoSide)
        reader.setScaledSize(size.scaled(kMaxPhotoSide, kMaxPhotoSide, Qt::KeepAspectRatio));
    QImage image = reader.read();
    if (image.isNull())
        return std::nullopt;
    if (std::max(image.width(), image.height()) > kMaxPhotoSide) {
        image = image.scaled(kMaxPhotoSide, kMaxPhotoSide, Qt::KeepAspectRatio,
                             Qt::SmoothTransformation);
    }

    QImage flat(image.size(), QImage::Format_RGB32);
    flat.fill(Qt::white);
    QPainter painter(&flat);
    painter.drawImage(0, 0, image);
    painter.end();

    QByteArray jpeg;
    QBuffer target(&jpeg);
    target.open(QIODevice::WriteOnly);
    QImageWriter writer(&target, "jpeg");
    writer.setQuality(90);
    if (!writer.write(flat))
        return std::nullopt;
    return jpeg;
}

std::optional<QString> ClaudeRunner::buildPrompt(const QString &note)
{
    if (resourceFolder().isEmpty())
        return std::nullopt;
    QFile file(resourcePath(QStringLiteral("web/creatures/prompt.txt")));
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    std::optional<QString> prompt = strictUtf8(file.readAll());
    const std::optional<Creature> builtIn = CreatureLibrary().builtIn();
    if (!prompt || file.error() != QFileDevice::NoError || !builtIn)
        return std::nullopt;

    Creature example;
    example.name = builtIn->name;
    example.palette = builtIn->palette;
    for (const QString &frame : requiredFrames()) {
        if (builtIn->frames.contains(frame))
            example.frames.insert(frame, builtIn->frames.value(frame));
    }
    example.attacks = defaultAttacks();
    example.sound = QStringLiteral("WOOF!");
    const std::optional<QString> exampleJson = strictUtf8(example.encode());
    if (!exampleJson)
        return std::nullopt;

    const QString wish = trimmed(note, u" \t\r\n");
    prompt->replace(QLatin1String("{{PHOTO}}"), QLatin1String("./photo.jpg"));
    prompt->replace(QLatin1String("{{EXAMPLE}}"), *exampleJson);
    prompt->replace(QLatin1String("{{NOTE}}"),
                    wish.isEmpty()
                        ? QString()
                        : QStringLiteral("The user asks for these changes to the creature: ") +
                              wish);
    return prompt;
}

std::optional<QString> ClaudeRunner::classifyFailure(const QString &text)
{
    const QString lower = text.toLower();
    const auto mentions = [&lower](std::initializer_list<const char *> words) {
        return std::any_of(words.begin(), words.end(), [&lower](const char *word) {
            return lower.contains(QLatin1String(word));
        });
    };
    if (mentions({"not logged in", "/login", "invalid api key", "authentication", "401"}))
        return kNotSignedIn;
    if (mentions({"rate limit", "usage limit", "overloaded"}))
        return kBusy;
    return std::nullopt;
}

} // namespace bopling
