// The move catalog and the frame name lists.

#include "creatures/Move.h"

#include <QTest>

using namespace bopling;

class TestMoveCatalog : public QObject
{
    Q_OBJECT

private slots:

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
