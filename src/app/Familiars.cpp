#include "app/Familiars.h"

#include "app/StatusMenu.h"

namespace bopling {

std::optional<QStringList> familiarsAfterSave(const QStringList &familiars, const QString &stored,
                                              const std::optional<QString> &replaced)
{
    QStringList updated = familiars;
    if (replaced) {
        for (QString &name : updated) {
            if (name == *replaced)
                name = stored;
        }
        return updated;
    }
    if (familiars.size() >= kMaxFamiliars)
        return std::nullopt;
    updated.append(stored);
    return updated;
}

} // namespace bopling
