// The move catalog and the frame name lists.

#include "creatures/Move.h"

#include <QSet>
#include <QTest>

using namespace bopling;

class TestMoveCatalog : public QObject
{
    Q_OBJECT

private slots:
    void groupsByCategory()
    {
        const QList<MoveGroup> groups = movesByCategory();
        QList<int> sizes;
        QStringList categories;
        QList<Move> flattened;
        for (const MoveGroup &group : groups) {
            sizes.append(int(group.moves.size()));
            categories.append(group.category);
            for (const Move &move : group.moves) {
                QCOMPARE(move.category, group.category);
                flattened.append(move);
            }
        }
        QCOMPARE(sizes, (QList<int>{3, 5, 5, 5, 4, 2}));
        QCOMPARE(categories, moveCategories());
        // The moves of one category stand together, so grouping keeps the order.
        QCOMPARE(flattened, moveCatalog());
    }

    void idsAreUniqueAndLowerCase()
    {
        QSet<QString> ids;
        for (const Move &move : moveCatalog()) {
            QCOMPARE(move.id, move.id.toLower());
            QVERIFY(!move.title.isEmpty());
            ids.insert(move.id);
        }
        QCOMPARE(ids.size(), 24);
    }

    void findsExactIds_data()
    {
        QTest::addColumn<QString>("id");
        QTest::addColumn<QString>("title");
        QTest::newRow("first") << "pounce"
                               << "Pounce bite";
        QTest::newRow("last") << "holypillar"
                              << "Holy Pillar";
        QTest::newRow("parenthesis") << "earthspike"
                                     << "Earth Spike (dig)";
        QTest::newRow("upper case is not an id") << "Fire" << QString();
        QTest::newRow("bark is not a move") << "bark" << QString();
        QTest::newRow("prefix") << "fir" << QString();
        QTest::newRow("empty") << "" << QString();
    }
    void findsExactIds()
    {
        QFETCH(QString, id);
        QFETCH(QString, title);
        const std::optional<Move> move = findMove(id);
        QCOMPARE(move.has_value(), !title.isEmpty());
        if (move)
            QCOMPARE(move->title, title);
    }

    void defaultsAndFrames()
    {
        QCOMPARE(defaultAttacks(), (QStringList{"pounce", "zoomies", "blast"}));
        for (const QString &id : defaultAttacks())
            QVERIFY(findMove(id));
        QCOMPARE(requiredFrames(),
                 (QStringList{"idle", "idle2", "run1", "run2", "sleep", "attack"}));
        QCOMPARE(optionalFrames(),
                 (QStringList{"crouch", "leap", "walk1", "walk2", "skid", "sleep2"}));
        // The preview shows the attack before the sleep, and only required frames.
        QCOMPARE(previewCycle(), (QStringList{"idle", "idle2", "run1", "run2", "attack", "sleep"}));
        QCOMPARE(QSet<QString>(previewCycle().begin(), previewCycle().end()),
                 QSet<QString>(requiredFrames().begin(), requiredFrames().end()));
    }
};

QTEST_GUILESS_MAIN(TestMoveCatalog)
#include "tst_movecatalog.moc"
