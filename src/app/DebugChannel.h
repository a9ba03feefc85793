#pragma once

#include "app/DebugCommands.h"

#include <QObject>
#include <QString>

#include <memory>

class QTimer;

namespace bopling {

class AppDelegate;
class ClaudeRunner;

// The debug command channel, started only in debug mode: at once and then
// every 400 ms it takes the command file "qx-cmd.txt" from its folder (/tmp
// unless QX_CMD_DIR says otherwise) and runs its lines on the controller;
// the answers go to files named in the commands or to fixed files in the
// same folder ("qx-js-error.txt" when a js command's script threw). Owned by
// the controller, which it reaches into as a part of it. Main thread only.
class DebugChannel final : public QObject
{
    Q_OBJECT

public:
    static constexpr int kPeriodMilliseconds = 400;

    DebugChannel(AppDelegate &controller, QString folder);
    ~DebugChannel() override;

    // Reads the command file at once, then every 400 ms.
    void start();
    // One run: takes the command file, if there is one, and runs its lines in order.
    void readCommandFile();
    void execute(const DebugCommand &command);

private:
    QString fixedPath(const char *name) const;
    void snapshot(const QString &path);
    void windowInfo(const QString &path);
    void makeCreature(const debug::MakeCreature &make);
    void creatureWindow(const debug::CreatureWindow &command);
    void saveCreature(const QString &path);
    void menuDump(const QString &path);
    void script(const QString &code);
    void drag(double dx, double dy);
    void set(const debug::Set &set);
    void change(debug::Key key, const debug::SetValue &value);

    AppDelegate &controller;
    const QString folder;
    QTimer *timer = nullptr;
    // The runner of the latest makecreature.
    std::unique_ptr<ClaudeRunner> testRunner;
};

} // namespace bopling
