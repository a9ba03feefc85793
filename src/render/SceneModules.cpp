#include "render/SceneModules.h"

#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSet>
#include <QStringList>
#include <QUrl>

namespace bopling {

namespace {

// Import and re-export statements and import() calls with a literal name.
const QRegularExpression kStaticImport(
    QStringLiteral(R"((?:^|[^\w$.])(?:import|export)\s[^;'"`]*?\bfrom\s*(['"])([^'"\n]*)\1)"));
const QRegularExpression kBareImport(QStringLiteral(R"((?:^|[^\w$.])import\s*(['"])([^'"\n]*)\1)"));
const QRegularExpression
    kDynamicImport(QStringLiteral(R"((?:^|[^\w$.])import\s*\(\s*(?:(['"])([^'"\n]*)\1\s*\))?)"));

QUrl pageUrl(const QString &path)
{
    QUrl url;
    url.setScheme(QStringLiteral("qx"));
    url.setHost(QStringLiteral("app"));
    url.setPath(QLatin1Char('/') + path);
    return url;
}

} // namespace

SceneModules SceneModules::check(const BundleResolver &resolver, const QString &entry)
{
    SceneModules result;
    const BundleResolver::Reply first = resolver.serve(pageUrl(entry));
    if (first.status != BundleResolver::Status::ok) {
        result.error =
            QStringLiteral("the scene module %1 is missing from the web folder").arg(entry);
        return result;
    }
    const QString root = resolver.root() + QLatin1Char('/');
    // Modules below the entry are read where the engine will look for them: relative to the
    // address they were imported by, not to where a link inside the folder points.
    QStringList queue{first.filePath.mid(root.size())};
    QSet<QString> seen(queue.cbegin(), queue.cend());
    while (!queue.isEmpty()) {
        const QString path = queue.takeFirst();
        const BundleResolver::Reply reply = resolver.serve(pageUrl(path));
        if (reply.status != BundleResolver::Status::ok) {
            result.error = QStringLiteral("the scene module %1 cannot be read").arg(path);
            return result;
        }
        const QString text = QString::fromUtf8(reply.data);
        QStringList names;
        for (const QRegularExpression *pattern : {&kStaticImport, &kBareImport, &kDynamicImport}) {
            for (auto it = pattern->globalMatch(text); it.hasNext();) {
                const QRegularExpressionMatch match = it.next();
                if (pattern == &kDynamicImport && !match.hasCaptured(2)) {
                    result.error =
                        QStringLiteral("%1 imports a module whose name is computed").arg(path);
                    return result;
                }
                names.append(match.captured(2));
            }
        }
        const QString folder = QFileInfo(root + path).path();
        for (const QString &name : names) {
            // Resolved as the engine resolves it, against the importing file's own path; a
            // "%" escape or a query could make the engine read something else than checked.
            const bool relative =
                name.startsWith(QLatin1String("./")) || name.startsWith(QLatin1String("../"));
            const QString target = QDir::cleanPath(folder + QLatin1Char('/') + name);
            const bool plain = !name.contains(QRegularExpression(QStringLiteral("[%?#\\\\]")));
            if (!relative || !plain || !target.startsWith(root) ||
                resolver.serve(pageUrl(target.mid(root.size()))).status !=
                    BundleResolver::Status::ok) {
                result.error =
                    QStringLiteral("%1 imports %2, which is not a file of the web folder")
                        .arg(path, name);
                return result;
            }
            const QString inside = target.mid(root.size());
            if (!seen.contains(inside)) {
                seen.insert(inside);
                queue.append(inside);
            }
        }
    }
    result.entryFile = first.filePath;
    return result;
}

} // namespace bopling
