#pragma once

#include <QProcess>
#include <QStringList>
#include <QTemporaryDir>

#include <memory>
#include <optional>
#include <vector>

namespace bopling {

// A private PulseAudio daemon for tests and benchmarks: its own folders under /tmp, no
// user or system configuration, anonymous access on a socket of its own, null sinks
// only, never exits when idle. Clients reach it through `serverAddress()`. The pactl
// and pacat helpers block the calling thread (up to ~10 s) and need no event loop.
class PrivatePulse final
{
public:
    struct Options
    {
        QStringList sinks{"bopling_a", "bopling_b"}; // the first is the default sink
        int rate = 48000;
        int channels = 2;
        // Adds a 440 Hz sine source "bopling_mic" as the default source: a stand-in microphone.
        bool sineSource = false;
    };
    struct SourceOutput // the parts of `pactl list source-outputs` tests look at
    {
        QString applicationName, mediaName, source; // source: index of the source recorded from
    };

    PrivatePulse();
    explicit PrivatePulse(Options options);
    ~PrivatePulse() { stop(); }
    PrivatePulse(const PrivatePulse &) = delete;
    PrivatePulse &operator=(const PrivatePulse &) = delete;

    // Starts the daemon (again, on the same address and modules) and waits until it
    // answers; false with errorString() set when it does not within 10 s.
    bool start();
    void stop(); // SIGTERM and wait
    void kill(); // SIGKILL, as when the server crashes
    bool isRunning() const;
    QString errorString() const { return error; }

    QString serverAddress() const { return "unix:" + dir.filePath("runtime/native"); }
    // The system environment pointed at this daemon, for child processes.
    QProcessEnvironment environment() const;
    // Points libpulse clients created afterwards in this process at this daemon.
    void exportServer() const;

    // pactl's standard output, or none when it failed (errorString() says why).
    std::optional<QString> pactl(const QStringList &arguments);
    bool setDefaultSink(const QString &sink)
    {
        return pactl({"set-default-sink", sink}).has_value();
    }
    QString defaultSource() { return pactl({"get-default-source"}).value_or("").trimmed(); }
    std::optional<quint32> loadModule(const QString &name, const QStringList &arguments = {});
    bool unloadModule(quint32 index)
    {
        return pactl({"unload-module", QString::number(index)}).has_value();
    }
    QList<SourceOutput> sourceOutputs();
    int countSourceOutputs(const QString &applicationName);

    // Interleaved stereo at `rate`: a click every half second on the left channel only
    // (20 ms of a decaying square wave from 0.8), or a 441 Hz tone of height 0.5 on both.
    static std::vector<float> testSignal(int rate, double seconds, bool clicks);

    // Starts pacat playing the frames into `sink`, repeated for `seconds`, as the
    // application `client`; ending the returned process stops it. None when pacat
    // does not start.
    std::unique_ptr<QProcess> startPlaying(const QString &sink,
                                           const std::vector<float> &interleaved, int rate,
                                           int channels, double seconds = 30.0,
                                           const QString &client = "bopling-test-player");
    // The same for a raw file of interleaved 32-bit float frames, played once.
    std::unique_ptr<QProcess> startPlayingFile(const QString &sink, const QString &path, int rate,
                                               int channels,
                                               const QString &client = "bopling-test-player");

private:
    Options options;
    QTemporaryDir dir{"/tmp/bopling-pulse-XXXXXX"}; // a socket path must stay under 108 bytes
    std::unique_ptr<QProcess> daemon;
    QString error;
    int fileCount = 0;
};

} // namespace bopling
