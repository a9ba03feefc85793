#include "render/BundleResolver.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <sys/stat.h>

using namespace bopling;

class TestBundleResolver : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir tmp;
    QString web;

    void write(const QString &relative, const QByteArray &data)
    {
        const QString path = tmp.filePath(relative);
        QDir().mkpath(QFileInfo(path).absolutePath());
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(data);
    }

private slots:
    void initTestCase()
    {
        QVERIFY(tmp.isValid());
        web = tmp.filePath(QStringLiteral("web"));
        write(QStringLiteral("web/index.html"), "<html>page</html>");
        write(QStringLiteral("web/INDEX.HTML"), "upper");
        write(QStringLiteral("web/app.js"), "js");
        write(QStringLiteral("web/mod.mjs"), "mjs");
        write(QStringLiteral("web/style.css"), "css");
        write(QStringLiteral("web/sprite.png"), "png");
        write(QStringLiteral("web/anim.gif"), "gif");
        write(QStringLiteral("web/icon.svg"), "svg");
        write(QStringLiteral("web/README"), "no extension");
        write(QStringLiteral("web/creatures/tobble.json"), "{}");
        write(QStringLiteral("web/sub/page.html"), "sub");
        write(QStringLiteral("web/empty.txt"), "");
        write(QStringLiteral("web2/stolen.js"), "neighbour");
        write(QStringLiteral("secret.txt"), "secret");
        write(QStringLiteral("outside/inner.txt"), "outside");
        QVERIFY(QFile::link(tmp.filePath(QStringLiteral("secret.txt")),
                            tmp.filePath(QStringLiteral("web/out.js"))));
        QVERIFY(QFile::link(tmp.filePath(QStringLiteral("outside")),
                            tmp.filePath(QStringLiteral("web/linked"))));
        QVERIFY(QFile::link(tmp.filePath(QStringLiteral("web/app.js")),
                            tmp.filePath(QStringLiteral("web/alias.json"))));
        QVERIFY(::mkfifo(QFile::encodeName(tmp.filePath(QStringLiteral("web/pipe.js"))), 0600) ==
                0);
    }

    void serve_data()
    {
        QTest::addColumn<QString>("url");
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("file"); // served file, relative to the temporary folder
        QTest::addColumn<QByteArray>("type");

        const int ok = int(BundleResolver::Status::ok);
        const int missing = int(BundleResolver::Status::urlNotFound);
        const QByteArray html = "text/html";
        const QByteArray js = "text/javascript";
        const QByteArray octets = "application/octet-stream";

        QTest::newRow("slash is index") << "qx://app/" << ok << "web/index.html" << html;
        QTest::newRow("index") << "qx://app/index.html" << ok << "web/index.html" << html;
        QTest::newRow("empty path") << "qx://app" << missing << "" << QByteArray();
        QTest::newRow("other host, same file")
            << "qx://other/index.html" << ok << "web/index.html" << html;
        QTest::newRow("query and fragment ignored")
            << "qx://app/index.html?x=../../secret.txt#y" << ok << "web/index.html" << html;
        QTest::newRow("dot dot inside")
            << "qx://app/sub/../index.html" << ok << "web/index.html" << html;
        QTest::newRow("dot dot out") << "qx://app/../secret.txt" << missing << "" << QByteArray();
        QTest::newRow("encoded dot dot")
            << "qx://app/%2e%2e/secret.txt" << missing << "" << QByteArray();
        QTest::newRow("encoded slash")
            << "qx://app/sub%2f..%2f..%2fsecret.txt" << missing << "" << QByteArray();
        QTest::newRow("neighbour folder with the same prefix")
            << "qx://app/../web2/stolen.js" << missing << "" << QByteArray();
        QTest::newRow("the folder itself") << "qx://app/." << missing << "" << QByteArray();
        QTest::newRow("a subfolder") << "qx://app/sub" << missing << "" << QByteArray();
        QTest::newRow("a subfolder with slash") << "qx://app/sub/" << missing << "" << QByteArray();
        QTest::newRow("missing file") << "qx://app/nothing.js" << missing << "" << QByteArray();
        QTest::newRow("link to a file outside")
            << "qx://app/out.js" << missing << "" << QByteArray();
        QTest::newRow("through a linked folder outside")
            << "qx://app/linked/inner.txt" << missing << "" << QByteArray();
        QTest::newRow("link inside, typed by its own name")
            << "qx://app/alias.json" << ok << "web/app.js" << QByteArray("application/json");
        QTest::newRow("fifo") << "qx://app/pipe.js" << missing << "" << QByteArray();
        QTest::newRow("nul byte") << "qx://app/index.html%00.png" << missing << "" << QByteArray();
        QTest::newRow("nested json")
            << "qx://app/creatures/tobble.json" << ok << "web/creatures/tobble.json"
            << QByteArray("application/json");
        QTest::newRow("upper-case extension")
            << "qx://app/INDEX.HTML" << ok << "web/INDEX.HTML" << octets;
        QTest::newRow("js") << "qx://app/app.js" << ok << "web/app.js" << js;
        QTest::newRow("mjs") << "qx://app/mod.mjs" << ok << "web/mod.mjs" << js;
        QTest::newRow("css") << "qx://app/style.css" << ok << "web/style.css"
                             << QByteArray("text/css");
        QTest::newRow("png") << "qx://app/sprite.png" << ok << "web/sprite.png"
                             << QByteArray("image/png");
        QTest::newRow("gif") << "qx://app/anim.gif" << ok << "web/anim.gif" << octets;
        QTest::newRow("svg") << "qx://app/icon.svg" << ok << "web/icon.svg" << octets;
        QTest::newRow("no extension") << "qx://app/README" << ok << "web/README" << octets;
        QTest::newRow("empty file") << "qx://app/empty.txt" << ok << "web/empty.txt" << octets;
    }

    void serve()
    {
        QFETCH(QString, url);
        QFETCH(int, status);
        QFETCH(QString, file);
        QFETCH(QByteArray, type);

        const BundleResolver resolver(web);
        const BundleResolver::Reply reply = resolver.serve(QUrl(url));
        QCOMPARE(int(reply.status), status);
        if (status != int(BundleResolver::Status::ok)) {
            QVERIFY(reply.data.isEmpty());
            return;
        }
        QFile expected(tmp.filePath(file));
        QVERIFY(expected.open(QIODevice::ReadOnly));
        QCOMPARE(reply.data, expected.readAll());
        QCOMPARE(reply.filePath, QFileInfo(expected).canonicalFilePath());
        QCOMPARE(reply.contentType, type);
    }

    void noUrlIsInvalid()
    {
        const BundleResolver resolver(web);
        QCOMPARE(resolver.serve(QUrl()).status, BundleResolver::Status::urlInvalid);
    }

    void rootGivenThroughALink()
    {
        const QString link = tmp.filePath(QStringLiteral("web-link"));
        QVERIFY(QFile::link(web, link));
        const BundleResolver resolver(link);
        QCOMPARE(resolver.root(), QFileInfo(web).canonicalFilePath());
        const BundleResolver::Reply reply = resolver.serve(QUrl(QStringLiteral("qx://app/")));
        QCOMPARE(reply.status, BundleResolver::Status::ok);
        QCOMPARE(reply.data, QByteArray("<html>page</html>"));
    }

    void missingRootServesNothing()
    {
        const BundleResolver resolver(tmp.filePath(QStringLiteral("no-such-folder")));
        QVERIFY(resolver.root().isEmpty());
        QCOMPARE(resolver.serve(QUrl(QStringLiteral("qx://app/index.html"))).status,
                 BundleResolver::Status::urlNotFound);
        // Not even a file at the filesystem root.
        QCOMPARE(resolver.serve(QUrl(QStringLiteral("qx://app/etc/hostname"))).status,
                 BundleResolver::Status::urlNotFound);
    }

    void largeFileLengthEqualsSize()
    {
        QByteArray big(5 * 1024 * 1024 + 3, '\0');
        for (qsizetype i = 0; i < big.size(); ++i)
            big[i] = char(i * 7);
        write(QStringLiteral("web/big.png"), big);
        const BundleResolver resolver(web);
        const BundleResolver::Reply reply =
            resolver.serve(QUrl(QStringLiteral("qx://app/big.png")));
        QCOMPARE(reply.status, BundleResolver::Status::ok);
        QCOMPARE(reply.data.size(), QFileInfo(tmp.filePath(QStringLiteral("web/big.png"))).size());
        QVERIFY(reply.data == big);
    }
};

QTEST_GUILESS_MAIN(TestBundleResolver)
#include "tst_bundle_resolver.moc"
