#pragma once

#include <QString>

namespace bopling {

// The program's resource folder: `<prefix>/share/bopling` when the binary runs
// from `<prefix>/bin`, otherwise the source tree's `resources/` (a build-tree
// run). Found once and kept; safe from any thread.
QString resourceFolder();

// A file or folder inside the resource folder, for example "web/creatures/tobble.json".
QString resourcePath(const QString &relative);

} // namespace bopling
