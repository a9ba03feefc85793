#include "render/WebHostModule.h"

#include "render/SceneGraphBackend.h"
#include "render/WebHost.h"

#include <QLoggingCategory>

namespace bopling {

namespace {

void prepare(int argc, char **argv)
{
    // The page's scheme must be known before the application object exists.
    WebHost::registerScheme();
    addEngineSwitches(chooseSceneGraphBackend(argc, argv));
}

void created()
{
    applicationCreated();
    // The web engine describes its set-up on every start; users have no use for it.
    if (qEnvironmentVariableIsEmpty("QT_LOGGING_RULES"))
        QLoggingCategory::setFilterRules(QStringLiteral("qt.webenginecontext.info=false"));
}

RendererHost *create(const QString &webFolder)
{
    return new WebHost(webFolder);
}

} // namespace

} // namespace bopling

extern "C" __attribute__((visibility("default"))) const bopling::WebHostModule *
bopling_webHostModule()
{
    static const bopling::WebHostModule module{bopling::WebHostModule::kVersion, &bopling::prepare,
                                               &bopling::created, &bopling::create};
    return &module;
}
