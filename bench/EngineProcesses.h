#pragma once

// This process and the web engine processes it started, read from /proc:
// their CPU time and their memory, summed.

#include <QByteArray>
#include <QList>
#include <QMap>
#include <QString>

namespace bopling::bench {

struct ProcessFacts
{
    int pid = 0;
    int ppid = 0;
    QByteArray name;
    double cpuSeconds = 0; // user + system
};

// This process and every web engine process below it.
QList<ProcessFacts> programProcesses();

// "program" for this process, else the web engine process's --type.
QString role(int pid);

// CPU seconds used so far, by role; the program's capture thread is a role of its own.
QMap<QString, double> cpuSeconds();

// The peak resident memory of each process, summed (kB).
qint64 peakMemoryKb();

// The proportional set size of every process, summed (kB): shared pages are
// split between the processes that map them instead of counted in each.
qint64 pssKb();

// The physical memory of this process and its engine processes, each page
// counted once however many of them map it, and in full however many other
// programs share it (kB): comparable between runs whatever else runs on the
// machine. Needs the right to see page frame numbers (root); -1 without it.
qint64 distinctPagesKb();

// Processes on the machine, not this program's, that map Qt's libraries (web
// engine processes among them). While there are any, the summed PSS depends on
// them: they share those libraries' pages.
int otherQtProcesses();

} // namespace bopling::bench
