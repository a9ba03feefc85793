#include "app/SceneGraphBackend.h"

#include <QByteArray>
#include <QOffscreenSurface>
#include <QOpenGLContext>
#include <QOpenGLFunctions>
#include <QQuickWindow>
#include <QSGRendererInterface>

namespace bopling {

namespace {

// The GL_RENDERER string of a default context, or nothing when OpenGL is
// unavailable.
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

} // namespace

bool chooseSceneGraphBackend()
{
    if (!qEnvironmentVariableIsEmpty("QT_QUICK_BACKEND") ||
        !qEnvironmentVariableIsEmpty("QSG_RHI_BACKEND"))
        return false;
    const QByteArray renderer = openGlRenderer().toLower();
    const bool software = renderer.isEmpty() || renderer.contains("llvmpipe") ||
                          renderer.contains("softpipe") || renderer.contains("software rasterizer");
    if (software)
        QQuickWindow::setGraphicsApi(QSGRendererInterface::Software);
    return software;
}

} // namespace bopling
