#pragma once

#include <QByteArray>
#include <QString>

#include <optional>

namespace bopling {

// Replaces the file at `path` with `bytes` in one step: afterwards the file holds either all
// of `bytes` or what it held before, and no partial temporary file is left beside it. The
// folder must exist. Returns the system's description of what failed, nothing on success.
//
// QSaveFile alone is not enough: with its buffer, a short write (full disk, quota, file size
// limit) can be lost at commit and a truncated file put in place as a success.
std::optional<QString> writeFileAtomically(const QString &path, const QByteArray &bytes);

} // namespace bopling
