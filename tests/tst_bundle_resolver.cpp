#include "render/BundleResolver.h"
#include "support/Files.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <sys/stat.h>

using namespace bopling;

class TestBundleResolver : public QObject
{
    Q_OBJECT

    QTemporaryDir tmp;
    QString web = tmp.filePath("web");

    void write(const QString &relative, const QByteArray &data)
    {
        files::write(tmp.filePath(relative), data);
    }

private slots:
    void initTestCase()
    {
        write("web/index.html", "<html>page</html>");
        // Each file holds its own name, so a wrong file is told apart.
        for (const char *name : {"web/app.js", "web/creatures/tobble.json", "web/sub/page.html",
                                 "web2/stolen.js", "secret.txt", "outside/inner.txt"})
            write(name, name);
        write("web/big.png", QByteArray(5 * 1024 * 1024 + 3, 'x')); // read whole, not in part
        const auto link = [this](const char *target, const char *name) {
            QVERIFY(QFile::link(tmp.filePath(target), tmp.filePath(name)));
        };
        link("secret.txt", "web/out.js");
        link("outside", "web/linked");
        link("web/app.js", "web/alias.json");
        QCOMPARE(::mkfifo(QFile::encodeName(tmp.filePath("web/pipe.js")), 0600), 0);
    }

    void serve_data()
    {
        QTest::addColumn<QString>("url");
        QTest::addColumn<QString>("file"); // served file below web/; empty: refused
        QTest::addColumn<QByteArray>("type");
        const auto refused = [](const char *name, const char *url) {
            QTest::newRow(name) << url << QString() << QByteArray();
        };
        const QByteArray html = "text/html";
        // A file served under its own name, or under `url` if given.
        const auto served = [](const char *name, const QString &file, const QByteArray &type,
                               const char *url = nullptr) {
            QTest::newRow(name) << (url ? QString(url) : "qx://app/" + file) << file << type;
        };

        served("slash is index", "index.html", html, "qx://app/");
        served("query and fragment ignored", "index.html", html,
               "qx://app/index.html?x=../../secret.txt#y");
        served("dot dot inside", "index.html", html, "qx://app/sub/../index.html");
        refused("no url", "");
        refused("empty path", "qx://app");
        refused("dot dot out", "qx://app/../secret.txt");
        refused("encoded dot dot", "qx://app/%2e%2e/secret.txt");
        refused("encoded slash", "qx://app/sub%2f..%2f..%2fsecret.txt");
        refused("neighbour folder with the same prefix", "qx://app/../web2/stolen.js");
        refused("the folder itself", "qx://app/.");
        refused("a subfolder", "qx://app/sub/");
        refused("missing file", "qx://app/nothing.js");
        refused("link to a file outside", "qx://app/out.js");
        refused("through a linked folder outside", "qx://app/linked/inner.txt");
        refused("fifo", "qx://app/pipe.js");
        refused("nul byte", "qx://app/index.html%00.png");
        served("link inside, typed by its own name", "app.js", "application/json",
               "qx://app/alias.json");
        served("large file", "big.png", "image/png");
    }

    void serve()
    {
        QFETCH(QString, url);
        QFETCH(QString, file);
        QFETCH(QByteArray, type);
        const BundleResolver::Reply reply = BundleResolver(web).serve(QUrl(url));
        if (file.isEmpty()) {
            QCOMPARE(reply.status, url.isEmpty() ? BundleResolver::Status::urlInvalid
                                                 : BundleResolver::Status::urlNotFound);
            QVERIFY(reply.data.isEmpty());
            return;
        }
        QCOMPARE(reply.status, BundleResolver::Status::ok);
        QFile expected(web + '/' + file);
        QVERIFY(expected.open(QIODevice::ReadOnly));
        QVERIFY2(reply.data == expected.readAll(), "the bytes of the file, all of them");
        QCOMPARE(reply.filePath, QFileInfo(expected).canonicalFilePath());
        QCOMPARE(reply.contentType, type);
    }

    void rootGivenThroughALink()
    {
        QVERIFY(QFile::link(web, tmp.filePath("web-link")));
        const BundleResolver resolver(tmp.filePath("web-link"));
        QCOMPARE(resolver.root(), QFileInfo(web).canonicalFilePath());
        QCOMPARE(resolver.serve(QUrl("qx://app/")).data, QByteArray("<html>page</html>"));
    }

    // Not even a file at the filesystem root.
    void missingRootServesNothing()
    {
        const BundleResolver resolver(tmp.filePath("no-such-folder"));
        QVERIFY(resolver.root().isEmpty());
        QCOMPARE(resolver.serve(QUrl("qx://app/index.html")).status,
                 BundleResolver::Status::urlNotFound);
        QCOMPARE(resolver.serve(QUrl("qx://app/etc/hostname")).status,
                 BundleResolver::Status::urlNotFound);
    }
};

QTEST_GUILESS_MAIN(TestBundleResolver)
#include "tst_bundle_resolver.moc"
