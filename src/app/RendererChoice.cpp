#include "app/RendererChoice.h"

#include "render/LightHost.h"
#include "render/WebHostModule.h"
#include "settings/SystemLog.h"

#include <QFileInfo>
#include <QLibrary>
#include <QLoggingCategory>
#include <QStringList>

#include <cstdio>
#include <cstring>

namespace bopling {

std::optional<RendererChoice::Kind> RendererChoice::fromArguments(int argc, char **argv,
                                                                  QString *error)
{
    std::optional<Kind> kind;
    for (int i = 1; i < argc; ++i) {
        QString value;
        if (std::strncmp(argv[i], "--renderer=", 11) == 0)
            value = QString::fromLocal8Bit(argv[i] + 11);
        else if (std::strcmp(argv[i], "--renderer") == 0 && i + 1 < argc)
            value = QString::fromLocal8Bit(argv[++i]);
        else if (std::strcmp(argv[i], "--renderer") == 0)
            value.clear();
        else
            continue;
        if (value == QLatin1String("light")) {
            kind = Kind::light;
        } else if (value == QLatin1String("web")) {
            kind = Kind::web;
        } else {
            if (error)
                *error = QStringLiteral("--renderer takes light or web, not \"%1\"").arg(value);
            return std::nullopt;
        }
    }
    return kind;
}

QStringList RendererChoice::moduleCandidates()
{
    const QFileInfo program(QStringLiteral("/proc/self/exe"));
    const QString folder = QFileInfo(program.canonicalFilePath()).path();
    const QString name = QString::fromLatin1(WebHostModule::kFileName);
    return {folder + QLatin1Char('/') + name, folder + QStringLiteral("/../") + name,
            folder + QStringLiteral("/../" BOPLING_LIBDIR "/bopling/renderer/") + name};
}

RendererChoice::RendererChoice(Kind wanted, int argc, char **argv)
{
    if (wanted != Kind::web)
        return;
    QString why =
        QStringLiteral("%1 is not installed").arg(QString::fromLatin1(WebHostModule::kFileName));
    for (const QString &candidate : moduleCandidates()) {
        if (!QFileInfo::exists(candidate))
            continue;
        auto loaded = std::make_unique<QLibrary>(candidate);
        using Entry = const WebHostModule *(*)();
        const auto entry = reinterpret_cast<Entry>(loaded->resolve(WebHostModule::kSymbol));
        const WebHostModule *found = entry ? entry() : nullptr;
        if (found && found->version == WebHostModule::kVersion) {
            library = std::move(loaded);
            module = found;
            module->prepare(argc, argv);
            return;
        }
        why = found ? QStringLiteral("%1 is of another version").arg(candidate)
                    : loaded->errorString();
    }
    const QString message =
        QStringLiteral(
            "the web renderer cannot be loaded (%1); install the bopling-web package for "
            "--renderer=web. Using the light renderer.")
            .arg(why);
    std::fprintf(stderr, "Bopling: %s\n", qPrintable(message));
    systemLog(QStringLiteral("Bopling: ") + message);
}

RendererChoice::~RendererChoice() = default;

void RendererChoice::applicationCreated() const
{
    if (module) {
        module->applicationCreated();
        return;
    }
    // The script engine's compiler remarks on the page's style on every start.
    if (qEnvironmentVariableIsEmpty("QT_LOGGING_RULES"))
        QLoggingCategory::setFilterRules(QStringLiteral("qt.qml.compiler=false"));
}

std::unique_ptr<RendererHost> RendererChoice::makeHost(const QString &webFolder) const
{
    if (module)
        return std::unique_ptr<RendererHost>(module->create(webFolder));
    return std::make_unique<LightHost>(webFolder);
}

} // namespace bopling
