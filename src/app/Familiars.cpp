#include "app/Familiars.h"

namespace bopling {

namespace {

constexpr int kMaxFamiliars = 3;

} // namespace

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
