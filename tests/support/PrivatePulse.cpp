#include "support/PrivatePulse.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QThread>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <csignal>

namespace bopling {

namespace {

constexpr int kStartTimeoutMs = 10'000;
constexpr int kCommandTimeoutMs = 10'000;

} // namespace

PrivatePulse::PrivatePulse() : PrivatePulse(Options{}) {}

// The socket path must stay under the 108 bytes of a unix socket address, so
// the folder lives directly in /tmp, whatever TMPDIR says.
PrivatePulse::PrivatePulse(Options options)
    : options(std::move(options)), dir(QStringLiteral("/tmp/bopling-pulse-XXXXXX"))
{
    QDir root(dir.path());
    root.mkpath(QStringLiteral("runtime"));
    root.mkpath(QStringLiteral("state"));
    root.mkpath(QStringLiteral("home"));
    QFile::setPermissions(root.filePath(QStringLiteral("runtime")),
                          QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    // Clients never start a daemon of their own when this one is down.
    QFile conf(root.filePath(QStringLiteral("client.conf")));
    if (conf.open(QIODevice::WriteOnly))
        conf.write("autospawn = no\n");
}

QString PrivatePulse::serverAddress() const
{
    return QStringLiteral("unix:") + dir.filePath(QStringLiteral("runtime/native"));
}

QProcessEnvironment PrivatePulse::environment() const
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("PULSE_SERVER"), serverAddress());
    env.insert(QStringLiteral("PULSE_CLIENTCONFIG"), dir.filePath(QStringLiteral("client.conf")));
    env.remove(QStringLiteral("PULSE_SINK"));
    env.remove(QStringLiteral("PULSE_SOURCE"));
    return env;
}

void PrivatePulse::exportServer() const
{
    qputenv("PULSE_SERVER", serverAddress().toUtf8());
    qputenv("PULSE_CLIENTCONFIG", dir.filePath(QStringLiteral("client.conf")).toUtf8());
}

QString PrivatePulse::log() const
{
    QFile file(dir.filePath(QStringLiteral("daemon.log")));
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return QString::fromUtf8(file.readAll());
}

QStringList PrivatePulse::daemonArguments() const
{
    const QString format = QStringLiteral("rate=%1 channels=%2 format=float32le")
                               .arg(options.rate)
                               .arg(options.channels);
    // -n: no default.pa, only the modules below.
    QStringList args = QStringLiteral("-n --daemonize=no --system=no --exit-idle-time=-1 "
                                      "--use-pid-file=no --disable-shm=yes --realtime=no "
                                      "--high-priority=no --log-target=stderr --log-level=warning")
                           .split(' ');
    args << QStringLiteral("--load=module-native-protocol-unix auth-anonymous=1 socket=") +
                dir.filePath(QStringLiteral("runtime/native"));
    for (const QString &sink : options.sinks) {
        args << QStringLiteral(
                    "--load=module-null-sink sink_name=%1 %2 sink_properties=device.description=%1")
                    .arg(sink, format);
    }
    if (options.sineSource) {
        args << QStringLiteral(
                    "--load=module-sine-source source_name=bopling_mic rate=%1 frequency=440")
                    .arg(options.rate);
    }
    return args;
}

bool PrivatePulse::start()
{
    if (isRunning())
        return true;
    error.clear();
    daemon = std::make_unique<QProcess>();
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    // Nothing of the user's session: no configuration, no D-Bus, no X11 cookie.
    env.insert(QStringLiteral("HOME"), dir.filePath(QStringLiteral("home")));
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), dir.filePath(QStringLiteral("home/.config")));
    env.insert(QStringLiteral("XDG_RUNTIME_DIR"), dir.filePath(QStringLiteral("runtime")));
    env.insert(QStringLiteral("PULSE_RUNTIME_PATH"), dir.filePath(QStringLiteral("runtime")));
    env.insert(QStringLiteral("PULSE_STATE_PATH"), dir.filePath(QStringLiteral("state")));
    env.insert(QStringLiteral("PULSE_CLIENTCONFIG"), dir.filePath(QStringLiteral("client.conf")));
    for (const char *name :
         {"PULSE_SERVER", "DBUS_SESSION_BUS_ADDRESS", "DISPLAY", "WAYLAND_DISPLAY"})
        env.remove(QString::fromLatin1(name));
    daemon->setProcessEnvironment(env);
    daemon->setProcessChannelMode(QProcess::MergedChannels);
    daemon->setStandardOutputFile(dir.filePath(QStringLiteral("daemon.log")), QIODevice::Append);
    daemon->setStandardInputFile(QProcess::nullDevice());
    daemon->start(QStringLiteral("pulseaudio"), daemonArguments());
    if (!daemon->waitForStarted(kStartTimeoutMs)) {
        error = QStringLiteral("pulseaudio did not start: ") + daemon->errorString();
        daemon.reset();
        return false;
    }
    if (!waitUntilAnswering(kStartTimeoutMs)) {
        const QString why = error;
        stop();
        error = why + QStringLiteral("\n") + log();
        return false;
    }
    // Fixed defaults, the same after every restart.
    if (!options.sinks.isEmpty() && !setDefaultSink(options.sinks.first()))
        return false;
    if (options.sineSource && !setDefaultSource(QStringLiteral("bopling_mic")))
        return false;
    return true;
}

bool PrivatePulse::waitUntilAnswering(int timeoutMs)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (std::chrono::steady_clock::now() < deadline) {
        if (!isRunning()) {
            error = QStringLiteral("pulseaudio exited");
            return false;
        }
        if (QFile::exists(dir.filePath(QStringLiteral("runtime/native"))) &&
            pactl({QStringLiteral("info")}))
            return true;
        QThread::msleep(50);
    }
    error = QStringLiteral("pulseaudio did not answer within %1 ms").arg(timeoutMs);
    return false;
}

void PrivatePulse::stop()
{
    if (daemon && daemon->state() != QProcess::NotRunning) {
        resume();
        daemon->terminate();
        if (!daemon->waitForFinished(5000))
            kill();
    }
    daemon.reset();
}

void PrivatePulse::kill()
{
    if (daemon && daemon->state() != QProcess::NotRunning) {
        daemon->kill();
        daemon->waitForFinished(5000);
    }
    daemon.reset();
}

void PrivatePulse::pause()
{
    if (daemon && daemon->state() != QProcess::NotRunning)
        ::kill(pid_t(daemon->processId()), SIGSTOP);
}

void PrivatePulse::resume()
{
    if (daemon && daemon->state() != QProcess::NotRunning)
        ::kill(pid_t(daemon->processId()), SIGCONT);
}

bool PrivatePulse::isRunning() const
{
    if (!daemon)
        return false;
    // Lets QProcess notice an exit without an event loop.
    daemon->waitForFinished(0);
    return daemon->state() != QProcess::NotRunning;
}

std::optional<QString> PrivatePulse::pactl(const QStringList &arguments)
{
    QProcess process;
    process.setProcessEnvironment(environment());
    process.start(QStringLiteral("pactl"), arguments);
    if (!process.waitForFinished(kCommandTimeoutMs)) {
        process.kill();
        process.waitForFinished();
        error = QStringLiteral("pactl %1: no answer").arg(arguments.join(' '));
        return std::nullopt;
    }
    if (process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0) {
        error = QStringLiteral("pactl %1: %2")
                    .arg(arguments.join(' '),
                         QString::fromUtf8(process.readAllStandardError()).trimmed());
        return std::nullopt;
    }
    return QString::fromUtf8(process.readAllStandardOutput());
}

std::optional<quint32> PrivatePulse::loadModule(const QString &name, const QStringList &arguments)
{
    const std::optional<QString> out =
        pactl(QStringList{QStringLiteral("load-module"), name} + arguments);
    if (!out)
        return std::nullopt;
    bool ok = false;
    const quint32 index = out->trimmed().toUInt(&ok);
    return ok ? std::optional(index) : std::nullopt;
}

QList<PrivatePulse::SourceOutput> PrivatePulse::sourceOutputs()
{
    const std::optional<QString> out =
        pactl({QStringLiteral("--format=json"), QStringLiteral("list"),
               QStringLiteral("source-outputs")});
    QList<SourceOutput> outputs;
    if (!out)
        return outputs;
    const QJsonArray list = QJsonDocument::fromJson(out->toUtf8()).array();
    for (const QJsonValue &value : list) {
        const QJsonObject object = value.toObject();
        const QJsonObject properties = object.value(QStringLiteral("properties")).toObject();
        outputs << SourceOutput{properties.value(QStringLiteral("application.name")).toString(),
                                properties.value(QStringLiteral("media.name")).toString(),
                                object.value(QStringLiteral("source")).toVariant().toString()};
    }
    return outputs;
}

int PrivatePulse::countSourceOutputs(const QString &applicationName)
{
    const QList<SourceOutput> outputs = sourceOutputs();
    return int(std::count_if(outputs.begin(), outputs.end(), [&](const SourceOutput &output) {
        return output.applicationName == applicationName;
    }));
}

std::unique_ptr<QProcess> PrivatePulse::startPlaying(const QString &sink,
                                                     const std::vector<float> &interleaved,
                                                     int rate, int channels, double seconds)
{
    if (interleaved.empty() || channels <= 0 || rate <= 0)
        return nullptr;
    // The frames, repeated for `seconds`, in a raw file for pacat.
    const double bufferSeconds = double(interleaved.size()) / channels / rate;
    const qsizetype repeats = std::max<qsizetype>(1, qsizetype(std::ceil(seconds / bufferSeconds)));
    const QByteArray bytes(reinterpret_cast<const char *>(interleaved.data()),
                           qsizetype(interleaved.size() * sizeof(float)));
    QFile file(dir.filePath(QStringLiteral("play-%1.raw").arg(fileCount++)));
    bool written = file.open(QIODevice::WriteOnly);
    for (qsizetype i = 0; written && i < repeats; ++i)
        written = file.write(bytes) == bytes.size();
    if (!written) {
        error = file.errorString();
        return nullptr;
    }
    file.close();

    QStringList args = QStringLiteral("--playback --raw --format=float32le --latency-msec=50 "
                                      "--client-name=bopling-test-player")
                           .split(' ');
    args << QStringLiteral("--rate=%1").arg(rate) << QStringLiteral("--channels=%1").arg(channels)
         << QStringLiteral("--device=") + sink << file.fileName();
    auto pacat = std::make_unique<QProcess>();
    pacat->setProcessEnvironment(environment());
    pacat->start(QStringLiteral("pacat"), args);
    if (!pacat->waitForStarted(kCommandTimeoutMs)) {
        error = QStringLiteral("pacat did not start: ") + pacat->errorString();
        return nullptr;
    }
    return pacat;
}

} // namespace bopling
