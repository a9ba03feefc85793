// bopling-creature: checks creatures drawn by hand and the CLI's replies,
// draws a frame as a PNG, and turns a photo into a creature with the Claude
// Code CLI (a check of the CLI set-up without any window).
//
//   bopling-creature check FILE
//   bopling-creature reply FILE
//   bopling-creature preview FILE FRAME OUT.png [SCALE]
//   bopling-creature draw PHOTO [--model sonnet|opus] [--note TEXT]
//   bopling-creature --help | --version

#include "creatures/ClaudeRunner.h"
#include "creatures/Creature.h"

#include <QCoreApplication>
#include <QFile>
#include <QImage>
#include <QStringList>

#include <atomic>
#include <csignal>
#include <cstdio>
#include <ctime>
#include <optional>
#include <pthread.h>
#include <thread>

using bopling::Creature;

namespace {

constexpr int kDefaultScale = 6;

void printError(const QString &message)
{
    std::fputs(message.toLocal8Bit().constData(), stderr);
    std::fputc('\n', stderr);
}

const char kUsage[] = "Usage: bopling-creature check FILE\n"
                      "  or:  bopling-creature reply FILE\n"
                      "  or:  bopling-creature preview FILE FRAME OUT.png [SCALE]\n"
                      "  or:  bopling-creature draw PHOTO [--model sonnet|opus] [--note TEXT]\n"
                      "  or:  bopling-creature --help | --version\n";

const char kHelp[] =
    "\n"
    "Checks creatures for Bopling, draws their frames, and makes a creature from\n"
    "a photo with the Claude Code CLI.\n"
    "\n"
    "  check FILE       Reads a creature file (JSON), checks it and prints the\n"
    "                   cleaned creature as compact JSON.\n"
    "  reply FILE       Takes the creature out of a reply text (from its first {\n"
    "                   to its last }) and checks it the same way.\n"
    "  preview FILE FRAME OUT.png [SCALE]  Draws the creature's frame\n"
    "                                      FRAME into the picture OUT.png,\n"
    "                                      each pixel SCALE pixels wide (6\n"
    "                                      unless given).\n"
    "  draw PHOTO       Turns the photo into a creature with the Claude Code CLI\n"
    "                   (claude, installed and signed in) and prints it as\n"
    "                   compact creature JSON; on failure prints the reason on\n"
    "                   standard error. --model sonnet (the default) or opus\n"
    "                   (best quality, slower); --note TEXT asks for changes.\n"
    "  --help           Shows this text.\n"
    "  --version        Shows the version.\n"
    "\n"
    "Exit status: 0 on success; 1 when the file cannot be read, the creature is\n"
    "not valid, the picture cannot be written or the CLI gave no creature; 2 for\n"
    "a wrong command line.\n";

int usage()
{
    std::fputs(kUsage, stderr);
    return 2;
}

// The whole file, or nothing after saying why. Creature JSON is refused beyond
// Creature::kMaxJsonBytes anyway, so reading one byte more is enough to tell.
std::optional<QByteArray> readFile(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        printError(path + QStringLiteral(": ") + file.errorString());
        return std::nullopt;
    }
    QByteArray bytes = file.read(Creature::kMaxJsonBytes + 1);
    if (file.error() != QFileDevice::NoError) {
        printError(path + QStringLiteral(": ") + file.errorString());
        return std::nullopt;
    }
    return bytes;
}

int printChecked(const Creature &creature)
{
    const QByteArray json = creature.validated().encode();
    std::fwrite(json.constData(), 1, size_t(json.size()), stdout);
    std::fputc('\n', stdout);
    return 0;
}

int check(const QString &path)
{
    const std::optional<QByteArray> bytes = readFile(path);
    if (!bytes)
        return 1;
    return printChecked(Creature::decode(*bytes));
}

int reply(const QString &path)
{
    const std::optional<QByteArray> bytes = readFile(path);
    if (!bytes)
        return 1;
    return printChecked(Creature::fromReply(QString::fromUtf8(*bytes)));
}

int preview(const QStringList &args)
{
    int scale = kDefaultScale;
    if (args.size() == 5) {
        bool ok = false;
        scale = args[4].toInt(&ok);
        if (!ok || scale < 1)
            return usage();
    }
    const std::optional<QByteArray> bytes = readFile(args[1]);
    if (!bytes)
        return 1;
    const Creature creature = Creature::decode(*bytes);
    const QImage image = creature.frameImage(args[2], scale);
    if (image.isNull()) {
        // A frame with rows that still gives no image is too large at this scale.
        printError(creature.frames.value(args[2]).isEmpty()
                       ? QStringLiteral("The creature has no \"%1\" frame to draw.").arg(args[2])
                       : QStringLiteral("The \"%1\" frame is too large to draw at scale %2; "
                                        "try a smaller scale.")
                             .arg(args[2])
                             .arg(scale));
        return 1;
    }
    if (!image.save(args[3], "PNG")) {
        printError(args[3] + QStringLiteral(": the image could not be written."));
        return 1;
    }
    return 0;
}

int draw(const QStringList &args)
{
    QString model = QStringLiteral("sonnet");
    QString note;
    for (qsizetype i = 2; i < args.size(); i += 2) {
        if (i + 1 >= args.size())
            return usage();
        if (args[i] == QLatin1String("--model") &&
            (args[i + 1] == QLatin1String("sonnet") || args[i + 1] == QLatin1String("opus")))
            model = args[i + 1];
        else if (args[i] == QLatin1String("--note"))
            note = args[i + 1];
        else
            return usage();
    }
    QFile file(args[1]);
    if (!file.open(QIODevice::ReadOnly)) {
        printError(args[1] + QStringLiteral(": ") + file.errorString());
        return 1;
    }
    const QByteArray photo = file.readAll();
    if (file.error() != QFileDevice::NoError) {
        printError(args[1] + QStringLiteral(": ") + file.errorString());
        return 1;
    }
    // A signal that would end the tool cancels the run instead, so that its
    // way out removes the run's folder and stops the CLI; then the signal
    // ends the tool as it would have. Blocked before any thread starts, so
    // only the watcher takes them.
    sigset_t stops;
    ::sigemptyset(&stops);
    for (int sig : {SIGTERM, SIGINT, SIGHUP})
        ::sigaddset(&stops, sig);
    ::pthread_sigmask(SIG_BLOCK, &stops, nullptr);
    bopling::ClaudeRunner runner;
    std::atomic<bool> finished{false};
    std::atomic<int> caught{0};
    std::thread watcher([&] {
        const timespec tick{0, 100 * 1000 * 1000};
        while (!finished.load()) {
            const int sig = ::sigtimedwait(&stops, nullptr, &tick);
            if (sig > 0) {
                caught.store(sig);
                runner.cancel();
                return;
            }
        }
    });
    int status = 1;
    try {
        const QByteArray json = runner.runSync(0, photo, note, model).encode();
        std::fwrite(json.constData(), 1, size_t(json.size()), stdout);
        std::fputc('\n', stdout);
        status = 0;
    } catch (const bopling::ClaudeRunner::Failure &failure) {
        if (caught.load() == 0)
            printError(failure.message());
    } catch (const Creature::Invalid &invalid) {
        printError(invalid.message());
    }
    finished.store(true);
    watcher.join();
    if (const int sig = caught.load()) {
        std::signal(sig, SIG_DFL);
        ::pthread_sigmask(SIG_UNBLOCK, &stops, nullptr);
        ::raise(sig);
    }
    return status;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments().mid(1);
    if (args.isEmpty())
        return usage();
    if (args == QStringList{QStringLiteral("--help")}) {
        std::fputs(kUsage, stdout);
        std::fputs(kHelp, stdout);
        return 0;
    }
    if (args == QStringList{QStringLiteral("--version")}) {
        std::puts("bopling-creature " BOPLING_VERSION);
        return 0;
    }
    try {
        const QString &command = args[0];
        if (command == QLatin1String("draw") && args.size() >= 2)
            return draw(args);
        if (command == QLatin1String("check") && args.size() == 2)
            return check(args[1]);
        if (command == QLatin1String("reply") && args.size() == 2)
            return reply(args[1]);
        if (command == QLatin1String("preview") && (args.size() == 4 || args.size() == 5))
            return preview(args);
        return usage();
    } catch (const Creature::Invalid &invalid) {
        printError(invalid.message());
    } catch (const Creature::DecodingError &error) {
        printError(error.message());
    }
    return 1;
}
