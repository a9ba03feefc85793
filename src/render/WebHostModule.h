#pragma once

#include <QString>

namespace bopling {

class RendererHost;

// What the module bopling-webhost.so hands the program: the web host and the set-up its web
// engine needs around the application object. The program maps the module, and with it the
// web engine, only when the web host is chosen.
struct WebHostModule
{
    static constexpr int kVersion = 1;
    static constexpr char kSymbol[] = "bopling_webHostModule";
    static constexpr char kFileName[] = "bopling-webhost.so";

    int version = kVersion;
    // Before the application object exists: the page's scheme, the scene graph and the
    // engine's switches.
    void (*prepare)(int argc, char **argv) = nullptr;
    // Right after the application object exists.
    void (*applicationCreated)() = nullptr;
    RendererHost *(*create)(const QString &webFolder) = nullptr;
};

} // namespace bopling
