#pragma once

#include "creatures/CreatureLibrary.h"
#include "settings/Settings.h"

#include <QString>

#include <functional>

namespace bopling {

// Hands the chosen familiar creatures to the page with qx.setFamiliars([...]), resolving the
// `familiars` setting through the creature library, pruning names that no longer resolve from
// the setting, and not repeating a list the page already has. Owned by the controller; the
// renderer protocol runs pushFamiliars() after every configuration call. Main thread.
class FamiliarsCall final
{
public:
    using Evaluate = std::function<void(const QString &script)>;

    // `settings` and `library` must outlive this object.
    FamiliarsCall(Evaluate evaluate, Settings &settings, const CreatureLibrary &library);

    // The familiars text most recently sent; empty forces the next send.
    const QString &lastFamiliarsJSON() const { return lastSent; }
    // Empties lastFamiliarsJSON: on every "ready" of the page and after a creature was saved.
    void forgetLastFamiliars() { lastSent.clear(); }

    // Sends qx.setFamiliars(...) when the familiars text differs from the last one sent.
    // Gated by the page's readiness through its only caller, the configuration push.
    void pushFamiliars();

    // The JSON array of the resolved familiars, in the setting's order; "[]" when none
    // resolve or encoding fails. Writes the setting back without the names that name no
    // creature (other than "Tobble"); a name whose creature cannot be read is skipped for
    // this call only.
    QString familiarsJSON();

private:
    Evaluate evaluate;
    Settings &settings;
    const CreatureLibrary &library;
    QString lastSent;
};

} // namespace bopling
