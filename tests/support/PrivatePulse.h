#pragma once

#include <QProcess>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <memory>
#include <optional>
#include <vector>

namespace bopling {

// A private PulseAudio daemon for tests and benchmarks: its own runtime and state
// folders under a temporary directory, no user or system configuration, the
// native protocol on a socket of its own (anonymous access), never exits when
// idle, null sinks only. Works as root. Nothing here touches the user's sound
// server; clients reach this one through `serverAddress()`.
//
// Helpers that talk to the server run pactl/pacat with PULSE_SERVER set to this
// daemon; they block the calling thread (up to ~10 s) and do not need an event loop.
class PrivatePulse final
{
public:
    struct Options
    {
        // One module-null-sink per name; the first is the default sink.
        QStringList sinks{QStringLiteral("bopling_a"), QStringLiteral("bopling_b")};
        int rate = 48000;
        int channels = 2;
        // Adds a module-sine-source named "bopling_mic" (440 Hz) and makes it the
        // default source: something that looks like a microphone.
        bool sineSource = false;
    };

    // One line of `pactl list source-outputs`, the parts tests look at.
    struct SourceOutput
    {
        QString applicationName; // application.name
        QString mediaName;       // media.name
        QString source;          // index of the source it records from
    };

    PrivatePulse();
    explicit PrivatePulse(Options options);
    // Stops the daemon and removes its folders.
    ~PrivatePulse() { stop(); }

    PrivatePulse(const PrivatePulse &) = delete;
    PrivatePulse &operator=(const PrivatePulse &) = delete;

    // Starts the daemon (again, after stop/kill, on the same address and with the
    // same modules) and waits until it answers. False with errorString() set when
    // it does not come up within 10 s.
    bool start();
    // SIGTERM, then waits for the daemon to exit.
    void stop();
    // SIGKILL, as when the sound server crashes; waits until it is gone.
    void kill();
    // SIGSTOP / SIGCONT: a server that hangs without going away.
    void pause();
    void resume();
    bool isRunning() const;
    QString errorString() const { return error; }
    // The daemon's own log (stderr), for failure messages.
    QString log() const;

    // "unix:<runtime dir>/native": the value for PULSE_SERVER.
    QString serverAddress() const;
    // The process environment with PULSE_SERVER set (and no user configuration),
    // for child processes such as the program under test.
    QProcessEnvironment environment() const;
    // Sets PULSE_SERVER in this process, so libpulse clients created afterwards
    // connect here.
    void exportServer() const;

    // Runs pactl with the given arguments; returns its standard output, or none
    // when it failed (errorString() says why).
    std::optional<QString> pactl(const QStringList &arguments);
    bool setDefaultSink(const QString &sink)
    {
        return pactl({"set-default-sink", sink}).has_value();
    }
    bool setDefaultSource(const QString &source)
    {
        return pactl({"set-default-source", source}).has_value();
    }
    QString defaultSource() { return pactl({"get-default-source"}).value_or("").trimmed(); }
    // Loads a module; returns its index, or none.
    std::optional<quint32> loadModule(const QString &name, const QStringList &arguments = {});
    bool unloadModule(quint32 index)
    {
        return pactl({"unload-module", QString::number(index)}).has_value();
    }
    QList<SourceOutput> sourceOutputs();
    // Source outputs whose application.name is `applicationName`.
    int countSourceOutputs(const QString &applicationName);

    // Starts pacat playing the frames into `sink`, repeated for `seconds`, and
    // returns at once; killing or destroying the returned process stops the
    // playing. None when pacat does not start (errorString() says why).
    std::unique_ptr<QProcess> startPlaying(const QString &sink,
                                           const std::vector<float> &interleaved, int rate,
                                           int channels, double seconds = 30.0);

private:
    bool waitUntilAnswering(int timeoutMs);
    QStringList daemonArguments() const;

    Options options;
    QTemporaryDir dir;
    std::unique_ptr<QProcess> daemon;
    QString error;
    int fileCount = 0;
};

} // namespace bopling
