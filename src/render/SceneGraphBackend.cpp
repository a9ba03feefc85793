#include "render/SceneGraphBackend.h"

#include <QByteArray>
#include <QGuiApplication>
#include <QOffscreenSurface>
#include <QOpenGLContext>
#include <QOpenGLFunctions>
#include <QQuickWindow>
#include <QSGRendererInterface>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>
#include <utility>

namespace bopling {

namespace {

// The child has this long to answer; a display or driver that hangs counts as
// no OpenGL.
constexpr int kProbeMilliseconds = 5000;

// The GL_RENDERER string of a default context, or nothing when OpenGL is
// unavailable. Needs the application object.
QByteArray openGlRenderer()
{
    QOpenGLContext context;
    if (!context.create())
        return {};
    QOffscreenSurface surface;
    surface.setFormat(context.format());
    surface.create();
    if (!surface.isValid() || !context.makeCurrent(&surface))
        return {};
    const auto *name =
        reinterpret_cast<const char *>(context.functions()->glGetString(GL_RENDERER));
    QByteArray renderer = name ? QByteArray(name) : QByteArray();
    context.doneCurrent();
    return renderer;
}

// Asks a child process, which connects to the display on its own, for the
// renderer's name. Nothing when it fails, hangs or finds no OpenGL.
QByteArray probeRenderer(int argc, char **argv)
{
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0)
        return {};
    const pid_t child = fork();
    if (child < 0) {
        close(fds[0]);
        close(fds[1]);
        return {};
    }
    if (child == 0) {
        close(fds[0]);
        QByteArray renderer;
        {
            QGuiApplication app(argc, argv);
            renderer = openGlRenderer();
        }
        const ssize_t written = write(fds[1], renderer.constData(), size_t(renderer.size()));
        _exit(written == renderer.size() ? 0 : 1);
    }
    close(fds[1]);
    QByteArray answer;
    const auto giveUp =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(kProbeMilliseconds);
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                              giveUp - std::chrono::steady_clock::now())
                              .count();
        pollfd readable{fds[0], POLLIN, 0};
        const int ready = left > 0 ? poll(&readable, 1, int(left)) : 0;
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready <= 0) {
            kill(child, SIGKILL);
            answer.clear();
            break;
        }
        char buffer[256];
        const ssize_t got = read(fds[0], buffer, sizeof buffer);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            break;
        answer.append(buffer, got);
    }
    close(fds[0]);
    int status = 0;
    while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    return WIFEXITED(status) && WEXITSTATUS(status) == 0 ? answer : QByteArray();
}

// Without OpenGL, Qt and the web engine each say once that they found none;
// on this path that is the intent, not a fault worth a line in the terminal.
QtMessageHandler passOn = nullptr;
bool integrationSetHere = false;

void dropNoOpenGlWarnings(QtMsgType type, const QMessageLogContext &context, const QString &text)
{
    if (type == QtWarningMsg &&
        (text.startsWith(QLatin1String("QXcbIntegration: Cannot create platform OpenGL context")) ||
         text.trimmed() == QLatin1String("No suitable graphics backend found")))
        return;
    if (passOn)
        passOn(type, context, text);
}

bool isSoftwareRasterizer(const QByteArray &renderer)
{
    const QByteArray name = renderer.toLower();
    return name.isEmpty() || name.contains("llvmpipe") || name.contains("softpipe") ||
           name.contains("software rasterizer");
}

// Appends `flag` to the engine's switches unless it is there already.
void addSwitch(QByteArray &switches, const QByteArray &flag)
{
    if (!switches.split(' ').contains(flag))
        switches += (switches.isEmpty() ? "" : " ") + flag;
}

} // namespace

bool chooseSceneGraphBackend(int argc, char **argv)
{
    const bool userChoice = !qEnvironmentVariableIsEmpty("QT_QUICK_BACKEND") ||
                            !qEnvironmentVariableIsEmpty("QSG_RHI_BACKEND");
    if (userChoice || !isSoftwareRasterizer(probeRenderer(argc, argv))) {
        // The web engine shares its OpenGL textures with Qt Quick.
        QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
        return false;
    }
    QQuickWindow::setGraphicsApi(QSGRendererInterface::Software);
    // No OpenGL in this process: the web engine's start-up would otherwise
    // load the rasterizer only to make a context nothing draws with.
    if (qEnvironmentVariableIsEmpty("QT_XCB_GL_INTEGRATION")) {
        qputenv("QT_XCB_GL_INTEGRATION", "none");
        integrationSetHere = true;
        passOn = qInstallMessageHandler(dropNoOpenGlWarnings);
    }
    return true;
}

void applicationCreated()
{
    // Read once, by the display connection just made; the engine's own
    // processes and programs started from here go without it.
    if (std::exchange(integrationSetHere, false))
        qunsetenv("QT_XCB_GL_INTEGRATION");
}

void addEngineSwitches(bool software)
{
    QByteArray switches = qgetenv("QTWEBENGINE_CHROMIUM_FLAGS").trimmed();
    // Without a GPU the engine composes in software anyway; saying so spares
    // it the attempt to start OpenGL.
    if (software)
        addSwitch(switches, "--disable-gpu");
    // The engine keeps a second, unsandboxed zygote process only to start
    // helper processes this program never uses (its GPU work runs in the
    // program itself); the sandboxed zygote that starts the page is kept.
    addSwitch(switches, "--no-unsandboxed-zygote");
    qputenv("QTWEBENGINE_CHROMIUM_FLAGS", switches);
}

} // namespace bopling
