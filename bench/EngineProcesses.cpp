#include "EngineProcesses.h"

#include <QDir>
#include <QFile>
#include <QSet>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string_view>
#include <vector>

#include <optional>
#include <unistd.h>

namespace bopling::bench {

namespace {

// The stat file of a process, or of one thread with `task`.
std::optional<ProcessFacts> readProcess(int pid, int task = 0)
{
    QFile file(task ? QStringLiteral("/proc/%1/task/%2/stat").arg(pid).arg(task)
                    : QStringLiteral("/proc/%1/stat").arg(pid));
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    const QByteArray text = file.readAll();
    const qsizetype open = text.indexOf('(');
    const qsizetype close = text.lastIndexOf(')');
    if (open < 0 || close < open)
        return std::nullopt;
    ProcessFacts facts;
    facts.pid = pid;
    facts.name = text.mid(open + 1, close - open - 1);
    const QList<QByteArray> fields = text.mid(close + 2).split(' ');
    // After the name: state(0) ppid(1) ... utime(11) stime(12).
    if (fields.size() < 13)
        return std::nullopt;
    facts.ppid = fields[1].toInt();
    facts.cpuSeconds =
        double(fields[11].toLongLong() + fields[12].toLongLong()) / double(sysconf(_SC_CLK_TCK));
    return facts;
}

// The value of the line that starts with `key` in /proc/<pid>/<file> (kB),
// summed over this process and its engine processes.
qint64 summedKb(const char *file, const QByteArray &key)
{
    qint64 total = 0;
    for (const ProcessFacts &facts : programProcesses()) {
        QFile status(QStringLiteral("/proc/%1/%2").arg(facts.pid).arg(QLatin1String(file)));
        if (!status.open(QIODevice::ReadOnly))
            continue;
        for (const QByteArray &line : status.readAll().split('\n')) {
            if (line.startsWith(key))
                total += line.mid(key.size()).trimmed().split(' ').first().toLongLong();
        }
    }
    return total;
}

} // namespace

namespace {

bool isEngineProcess(const ProcessFacts &facts)
{
    return facts.name.startsWith("QtWebEngine");
}

QList<ProcessFacts> allProcesses()
{
    QList<ProcessFacts> all;
    for (const QString &entry : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs)) {
        bool number = false;
        const int pid = entry.toInt(&number);
        if (number)
            if (const auto facts = readProcess(pid))
                all.append(*facts);
    }
    return all;
}

} // namespace

int otherQtProcesses()
{
    QSet<int> mine;
    for (const ProcessFacts &facts : programProcesses())
        mine.insert(facts.pid);
    int others = 0;
    for (const ProcessFacts &facts : allProcesses()) {
        if (mine.contains(facts.pid))
            continue;
        QFile maps(QStringLiteral("/proc/%1/maps").arg(facts.pid));
        if (!maps.open(QIODevice::ReadOnly))
            continue;
        others += isEngineProcess(facts) || maps.readAll().contains("/libQt6Core.so");
    }
    return others;
}

QList<ProcessFacts> programProcesses()
{
    const QList<ProcessFacts> all = allProcesses();
    QList<ProcessFacts> mine;
    QList<int> parents{int(getpid())};
    if (const auto self = readProcess(getpid()))
        mine.append(*self);
    while (!parents.isEmpty()) {
        const int parent = parents.takeFirst();
        for (const ProcessFacts &facts : all) {
            if (facts.ppid == parent && isEngineProcess(facts)) {
                mine.append(facts);
                parents.append(facts.pid);
            }
        }
    }
    return mine;
}

QString role(int pid)
{
    if (pid == int(getpid()))
        return QStringLiteral("program");
    QFile file(QStringLiteral("/proc/%1/cmdline").arg(pid));
    if (!file.open(QIODevice::ReadOnly))
        return QStringLiteral("web");
    for (const QByteArray &argument : file.readAll().split('\0')) {
        if (argument.startsWith("--type="))
            return QStringLiteral("web ") + QString::fromUtf8(argument.mid(7));
    }
    return QStringLiteral("web");
}

QMap<QString, double> cpuSeconds()
{
    QMap<QString, double> byRole;
    for (const ProcessFacts &facts : programProcesses())
        byRole[role(facts.pid)] += facts.cpuSeconds;
    // The capture thread's share of the program's, which follows how often the
    // sound server sends it data.
    const int self = int(getpid());
    const QStringList tasks = QDir(QStringLiteral("/proc/%1/task").arg(self))
                                  .entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    for (const QString &task : tasks) {
        const auto thread = readProcess(self, task.toInt());
        if (thread && thread->name == "qx.audio") {
            byRole[QStringLiteral("program")] -= thread->cpuSeconds;
            byRole[QStringLiteral("capture thread")] += thread->cpuSeconds;
        }
    }
    return byRole;
}

qint64 peakMemoryKb()
{
    return summedKb("status", "VmHWM:");
}

qint64 pssKb()
{
    return summedKb("smaps_rollup", "Pss:");
}

qint64 distinctPagesKb()
{
    // The figure counts this process's own pages, so reading it must not
    // allocate much: the files are read a line and a chunk at a time into
    // buffers on the stack, and the frames go into one array of 8 bytes a page.
    const qint64 pageSize = sysconf(_SC_PAGESIZE);
    std::vector<quint64> frames;
    frames.reserve(std::size_t(peakMemoryKb() * 1024 / pageSize) + 1024);
    bool framesVisible = false;
    for (const ProcessFacts &facts : programProcesses()) {
        QFile smaps(QStringLiteral("/proc/%1/smaps").arg(facts.pid));
        QFile pagemap(QStringLiteral("/proc/%1/pagemap").arg(facts.pid));
        if (!smaps.open(QIODevice::ReadOnly) || !pagemap.open(QIODevice::ReadOnly))
            continue;
        // Only mappings with resident pages are read: the engine reserves terabytes of
        // address space it never touches.
        quint64 start = 0;
        quint64 end = 0;
        char line[512];
        qint64 length = 0;
        while ((length = smaps.readLine(line, sizeof line)) > 0) {
            const std::string_view text(line, std::size_t(length));
            const std::size_t dash = text.find('-');
            const std::size_t space = text.find(' ');
            if (dash != std::string_view::npos && space != std::string_view::npos && dash < space &&
                text[space - 1] != ':') {
                start = std::strtoull(line, nullptr, 16);
                end = std::strtoull(line + dash + 1, nullptr, 16);
                continue;
            }
            if (!text.starts_with("Rss:") || std::strtoll(line + 4, nullptr, 10) == 0)
                continue;
            if (!pagemap.seek(qint64(start / quint64(pageSize) * 8)))
                continue;
            quint64 entries[512];
            for (quint64 page = start; page < end;) {
                const quint64 want = std::min<quint64>(std::size(entries), (end - page) / pageSize);
                const qint64 got =
                    pagemap.read(reinterpret_cast<char *>(entries), qint64(want * 8));
                if (got <= 0)
                    break;
                for (qint64 i = 0; i < got / 8; ++i) {
                    const bool present = entries[i] >> 63;
                    const quint64 frame = entries[i] & ((quint64(1) << 55) - 1);
                    if (!present)
                        continue;
                    framesVisible = framesVisible || frame != 0;
                    frames.push_back(frame);
                }
                page += quint64(got / 8) * quint64(pageSize);
            }
        }
    }
    std::sort(frames.begin(), frames.end());
    const auto distinct = std::unique(frames.begin(), frames.end()) - frames.begin();
    return framesVisible ? qint64(distinct) * pageSize / 1024 : -1;
}

} // namespace bopling::bench
