#pragma once

#include <QString>
#include <QStringList>

#include <optional>

namespace bopling {

// The familiars after a creature was saved in the creature window: an edited
// creature (`replaced` given) takes its old name's places in the list; a new
// one joins the end while fewer than 3 are chosen. Nothing when the list
// stays as it is and need not be written.
std::optional<QStringList> familiarsAfterSave(const QStringList &familiars, const QString &stored,
                                              const std::optional<QString> &replaced);

} // namespace bopling
