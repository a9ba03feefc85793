// The move catalog and the frame name lists.

#include "creatures/Move.h"

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

    void findsExactIds_data()
    {
        QTest::addColumn<QString>("id");
        QTest::addColumn<QString>("title"); // empty: no such move
        QTest::newRow("an id") << "earthspike"
                               << "Earth Spike (dig)";
        QTest::newRow("upper case is not an id") << "Fire" << QString();
        QTest::newRow("prefix") << "fir" << QString();
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

    void listsReferToKnownNames()
    {
        // The defaults are catalog moves; the preview shows each required frame once.
        for (const QString &id : defaultAttacks())
            QVERIFY(findMove(id));
        QStringList cycle = previewCycle();
        QStringList required = requiredFrames();
        cycle.sort();
        required.sort();
        QCOMPARE(cycle, required);
    }
};

QTEST_GUILESS_MAIN(TestMoveCatalog)
#include "tst_movecatalog.moc"
