#pragma once

#include "render/BundleResolver.h"

#include <QString>

namespace bopling {

// The script engine loads ES modules straight from files and follows their imports wherever
// they lead. Before it is given the scene's entry module, every module the entry reaches is
// looked up here under the web folder's rules (BundleResolver: nothing outside the folder, no
// links out of it), and the load is refused when any import names something else: a bare or
// absolute name, a path that leaves the folder, a missing file, or an import() whose name is
// computed at run time.
struct SceneModules
{
    QString entryFile; // the entry's real path, to hand to the engine; empty on refusal
    QString error;     // why the load was refused

    // `entry` is a path inside the web folder, such as "js/light.js".
    static SceneModules check(const BundleResolver &resolver, const QString &entry);
};

} // namespace bopling
