#include "render/FamiliarsCall.h"

#include "render/ScriptCalls.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QSet>
#include <QStringDecoder>

namespace bopling {

FamiliarsCall::FamiliarsCall(Evaluate evaluate, Settings &settings, const CreatureLibrary &library)
    : evaluate(std::move(evaluate)), settings(settings), library(library)
{}

void FamiliarsCall::pushFamiliars()
{
    const QString text = familiarsJSON();
    if (text == lastSent)
        return;
    lastSent = text;
    if (evaluate)
        evaluate(ScriptCalls::setFamiliars(text));
}

QString FamiliarsCall::familiarsJSON()
{
    const QList<Creature> creatures = library.all();
    QSet<QString> known{CreatureLibrary::kBuiltInName};
    for (const Creature &creature : creatures)
        known.insert(creature.name);

    // Names of creatures that are gone are dropped from the setting. A folder
    // that cannot be read (an unmounted home, a file in its place) says nothing
    // about which creatures exist, so then the setting is left as it is.
    const QStringList stored = settings.familiars();
    if (library.folderReadable()) {
        QStringList kept;
        for (const QString &name : stored) {
            if (known.contains(name))
                kept << name;
        }
        if (kept != stored)
            settings.setFamiliars(kept);
    }

    QJsonArray array;
    for (const QString &name : settings.familiars()) {
        if (name == CreatureLibrary::kBuiltInName) {
            if (const std::optional<Creature> builtIn = library.builtIn())
                array.append(builtIn->toJsonObject());
            continue;
        }
        for (const Creature &creature : creatures) {
            if (creature.name == name) {
                array.append(creature.toJsonObject());
                break;
            }
        }
    }
    const QByteArray bytes = QJsonDocument(array).toJson(QJsonDocument::Compact);
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    const QString text = utf8.decode(bytes);
    if (utf8.hasError() || bytes.isEmpty())
        return QStringLiteral("[]");
    return text;
}

} // namespace bopling
