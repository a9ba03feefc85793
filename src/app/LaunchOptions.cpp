#include "app/LaunchOptions.h"

#include <QProcessEnvironment>

namespace bopling {

LaunchOptions LaunchOptions::fromEnvironment(const QHash<QString, QString> &env)
{
    LaunchOptions options;
    options.debug = env.value(QStringLiteral("QX_DEBUG")) == QLatin1String("1");
    if (!options.debug)
        return options;
    if (const auto it = env.find(QStringLiteral("QX_TEST_AUDIO")); it != env.end())
        options.testAudio = it.value();
    if (const auto it = env.find(QStringLiteral("QX_LOG")); it != env.end())
        options.logPath = it.value();
    return options;
}

QHash<QString, QString> LaunchOptions::processEnvironment()
{
    QHash<QString, QString> env;
    const QProcessEnvironment system = QProcessEnvironment::systemEnvironment();
    for (const QString &key : system.keys())
        env.insert(key, system.value(key));
    return env;
}

} // namespace bopling
