#pragma once

#include <QString>

#include <memory>
#include <optional>

class QLibrary;

namespace bopling {

class RendererHost;
struct WebHostModule;

// Which renderer host runs the page: the light host unless --renderer=web asks for the web
// host. The web host is a module of its own (bopling-webhost.so, from the optional web
// renderer package); when it cannot be loaded, the light host runs and standard error and the
// system log say why. Made before the application object exists, kept for the whole run.
class RendererChoice final
{
public:
    enum class Kind { light, web };

    // "--renderer=light", "--renderer=web" or "--renderer light|web"; none when not given.
    // A value that is neither gives none and says so in `error`.
    static std::optional<Kind> fromArguments(int argc, char **argv, QString *error);

    // Loads the web host's module when `wanted` is web and prepares its engine.
    RendererChoice(Kind wanted, int argc, char **argv);
    ~RendererChoice();

    RendererChoice(const RendererChoice &) = delete;
    RendererChoice &operator=(const RendererChoice &) = delete;

    Kind kind() const { return module ? Kind::web : Kind::light; }
    // Right after the application object exists.
    void applicationCreated() const;
    std::unique_ptr<RendererHost> makeHost(const QString &webFolder) const;

    // Where the module is looked for: beside the program or one folder up (the build tree, its
    // benchmarks), then in lib/bopling/renderer beside its bin folder (installed).
    static QStringList moduleCandidates();

private:
    std::unique_ptr<QLibrary> library;
    const WebHostModule *module = nullptr;
};

} // namespace bopling
