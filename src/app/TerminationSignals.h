#pragma once

#include <QObject>

#include <csignal>

class QSocketNotifier;

namespace bopling {

// Turns SIGTERM and SIGINT into a Qt signal on the main thread, so that they
// end the program through its normal termination instead of killing it. The
// handler only writes the signal number into a pipe; a socket notifier reads
// it in the event loop. One instance per process; the handlers stay
// installed until it is destroyed.
class TerminationSignals final : public QObject
{
    Q_OBJECT

public:
    explicit TerminationSignals(QObject *parent = nullptr);
    ~TerminationSignals() override;

    // False when the pipe or a handler could not be set up (the default
    // dispositions then stay in place).
    bool isActive() const { return notifier != nullptr; }

signals:
    void received(int signalNumber);

private:
    void readPipe();

    QSocketNotifier *notifier = nullptr;
    struct sigaction previousTerm
    {
    };
    struct sigaction previousInt
    {
    };
};

} // namespace bopling
