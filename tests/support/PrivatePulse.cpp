#include "support/PrivatePulse.h"

#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QThread>

#include <chrono>
#include <cmath>

namespace bopling {

PrivatePulse::PrivatePulse() : PrivatePulse(Options{}) {}

PrivatePulse::PrivatePulse(Options options) : options(std::move(options))
{
    for (const char *folder : {"runtime", "state", "home"})
        QDir(dir.path()).mkpath(folder);
    QFile::setPermissions(dir.filePath("runtime"),
                          QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    QFile conf(dir.filePath("client.conf")); // clients never start a daemon of their own
    if (conf.open(QIODevice::WriteOnly))
        conf.write("autospawn = no\n");
}

QProcessEnvironment PrivatePulse::environment() const
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("PULSE_SERVER", serverAddress());
    env.insert("PULSE_CLIENTCONFIG", dir.filePath("client.conf"));
    env.remove("PULSE_SINK");
    env.remove("PULSE_SOURCE");
    return env;
}

void PrivatePulse::exportServer() const
{
    qputenv("PULSE_SERVER", serverAddress().toUtf8());
    qputenv("PULSE_CLIENTCONFIG", dir.filePath("client.conf").toUtf8());
}

bool PrivatePulse::start()
{
    if (isRunning())
        return true;
    error.clear();
    // -n: no default.pa, only the modules below.
    QStringList args =
        QStringLiteral("-n --daemonize=no --system=no --exit-idle-time=-1 --use-pid-file=no "
                       "--disable-shm=yes --realtime=no --high-priority=no --log-target=stderr "
                       "--log-level=warning")
            .split(' ');
    args << "--load=module-native-protocol-unix auth-anonymous=1 socket=" +
                dir.filePath("runtime/native");
    for (const QString &sink : options.sinks)
        args << QStringLiteral(
                    "--load=module-null-sink sink_name=%1 rate=%2 channels=%3 format=float32le "
                    "sink_properties=device.description=%1")
                    .arg(sink)
                    .arg(options.rate)
                    .arg(options.channels);
    if (options.sineSource)
        args << QStringLiteral(
                    "--load=module-sine-source source_name=bopling_mic rate=%1 frequency=440")
                    .arg(options.rate);

    // Nothing of the user's session: no configuration, no D-Bus, no X11 cookie.
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const auto &[name, folder] : {std::pair{"HOME", "home"},
                                       {"XDG_CONFIG_HOME", "home/.config"},
                                       {"XDG_RUNTIME_DIR", "runtime"},
                                       {"PULSE_RUNTIME_PATH", "runtime"},
                                       {"PULSE_STATE_PATH", "state"},
                                       {"PULSE_CLIENTCONFIG", "client.conf"}})
        env.insert(name, dir.filePath(folder));
    for (const char *name :
         {"PULSE_SERVER", "DBUS_SESSION_BUS_ADDRESS", "DISPLAY", "WAYLAND_DISPLAY"})
        env.remove(name);
    daemon = std::make_unique<QProcess>();
    daemon->setProcessEnvironment(env);
    daemon->setProcessChannelMode(QProcess::MergedChannels);
    daemon->setStandardOutputFile(dir.filePath("daemon.log"), QIODevice::Append);
    daemon->setStandardInputFile(QProcess::nullDevice());
    daemon->start("pulseaudio", args);

    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!(QFile::exists(dir.filePath("runtime/native")) && pactl({"info"}))) {
        if (!isRunning() || std::chrono::steady_clock::now() > deadline) {
            const QString why =
                isRunning() ? "pulseaudio did not answer within 10 s" : "pulseaudio exited";
            stop();
            QFile log(dir.filePath("daemon.log"));
            error = why + "\n" +
                    (log.open(QIODevice::ReadOnly) ? QString::fromUtf8(log.readAll()) : QString());
            return false;
        }
        QThread::msleep(50);
    }
    // Fixed defaults, the same after every restart.
    return (options.sinks.isEmpty() || setDefaultSink(options.sinks.first())) &&
           (!options.sineSource || pactl({"set-default-source", "bopling_mic"}));
}

void PrivatePulse::stop()
{
    if (isRunning()) {
        daemon->terminate();
        if (!daemon->waitForFinished(5000))
            kill();
    }
    daemon.reset();
}

void PrivatePulse::kill()
{
    if (isRunning()) {
        daemon->kill();
        daemon->waitForFinished(5000);
    }
    daemon.reset();
}

bool PrivatePulse::isRunning() const
{
    if (!daemon)
        return false;
    daemon->waitForFinished(0); // lets QProcess notice an exit without an event loop
    return daemon->state() != QProcess::NotRunning;
}

std::optional<QString> PrivatePulse::pactl(const QStringList &arguments)
{
    QProcess process;
    process.setProcessEnvironment(environment());
    process.start("pactl", arguments);
    if (!process.waitForFinished(10'000)) {
        process.kill();
        process.waitForFinished();
        error = "pactl " + arguments.join(' ') + ": no answer";
        return std::nullopt;
    }
    if (process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0) {
        error = "pactl " + arguments.join(' ') + ": " +
                QString::fromUtf8(process.readAllStandardError()).trimmed();
        return std::nullopt;
    }
    return QString::fromUtf8(process.readAllStandardOutput());
}

std::optional<quint32> PrivatePulse::loadModule(const QString &name, const QStringList &arguments)
{
    bool ok = false;
    const quint32 index =
        pactl(QStringList{"load-module", name} + arguments).value_or("").trimmed().toUInt(&ok);
    return ok ? std::optional(index) : std::nullopt;
}

QList<PrivatePulse::SourceOutput> PrivatePulse::sourceOutputs()
{
    QList<SourceOutput> outputs;
    const QByteArray json =
        pactl({"--format=json", "list", "source-outputs"}).value_or("").toUtf8();
    for (const QJsonValue &value : QJsonDocument::fromJson(json).array()) {
        const QJsonValue properties = value["properties"];
        outputs << SourceOutput{properties["application.name"].toString(),
                                properties["media.name"].toString(),
                                value["source"].toVariant().toString()};
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

std::vector<float> PrivatePulse::testSignal(int rate, double seconds, bool clicks)
{
    const int frames = int(seconds * rate);
    std::vector<float> out(std::size_t(frames) * 2, 0.0f);
    for (int f = 0; f < frames; ++f) {
        float *frame = &out[std::size_t(f) * 2];
        const double t = double(f % (rate / 2)) / rate;
        if (!clicks)
            frame[0] = frame[1] = float(0.5 * std::sin(2.0 * M_PI * 441.0 * f / rate));
        else if (t < 0.02)
            frame[0] =
                float(0.8 * std::exp(-t / 0.005) * (std::fmod(t * 150.0, 1.0) < 0.5 ? 1 : -1));
    }
    return out;
}

std::unique_ptr<QProcess> PrivatePulse::startPlaying(const QString &sink,
                                                     const std::vector<float> &interleaved,
                                                     int rate, int channels, double seconds,
                                                     const QString &client)
{
    if (interleaved.empty() || channels <= 0 || rate <= 0)
        return nullptr;
    // The frames, repeated for `seconds`, in a raw file for pacat.
    const qsizetype repeats = std::max<qsizetype>(
        1, qsizetype(std::ceil(seconds * channels * rate / interleaved.size())));
    const QByteArray bytes = QByteArray(reinterpret_cast<const char *>(interleaved.data()),
                                        qsizetype(interleaved.size() * sizeof(float)))
                                 .repeated(repeats);
    QFile file(dir.filePath(QStringLiteral("play-%1.raw").arg(fileCount++)));
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size()) {
        error = file.errorString();
        return nullptr;
    }
    file.close();
    return startPlayingFile(sink, file.fileName(), rate, channels, client);
}

std::unique_ptr<QProcess> PrivatePulse::startPlayingFile(const QString &sink, const QString &path,
                                                         int rate, int channels,
                                                         const QString &client)
{
    auto pacat = std::make_unique<QProcess>();
    pacat->setProcessEnvironment(environment());
    pacat->start("pacat", QStringLiteral("--playback --raw --format=float32le --latency-msec=50 "
                                         "--rate=%1 --channels=%2 --device=%3 %4")
                                  .arg(rate)
                                  .arg(channels)
                                  .arg(sink, path)
                                  .split(' ') +
                              QStringList{"--client-name=" + client});
    if (!pacat->waitForStarted(10'000)) {
        error = "pacat did not start: " + pacat->errorString();
        return nullptr;
    }
    return pacat;
}

} // namespace bopling
