#include "app/TerminationSignals.h"

#include <QSignalSpy>
#include <QTest>

#include <csignal>

using namespace bopling;

class TerminationSignalsTest : public QObject
{
    Q_OBJECT

private slots:
    void signalsArriveInTheEventLoopInsteadOfKilling()
    {
        TerminationSignals signals_;
        QVERIFY(signals_.isActive());
        QSignalSpy spy(&signals_, &TerminationSignals::received);

        std::raise(SIGTERM);
        std::raise(SIGINT);
        std::raise(SIGTERM);
        QTRY_COMPARE(spy.count(), 3);
        QCOMPARE(spy.at(0).at(0).toInt(), SIGTERM);
        QCOMPARE(spy.at(1).at(0).toInt(), SIGINT);
        QCOMPARE(spy.at(2).at(0).toInt(), SIGTERM);
    }

    void destructionRestoresTheFormerHandlers()
    {
        const auto handler = [] {
            struct sigaction action = {};
            sigaction(SIGTERM, nullptr, &action);
            return action.sa_handler;
        };
        const auto before = handler();
        {
            TerminationSignals signals_;
            QVERIFY(handler() != before);
            // Only one instance can own the handlers.
            TerminationSignals second;
            QVERIFY(!second.isActive());
        }
        QVERIFY(handler() == before);

        // A new instance works again after the first one is gone.
        TerminationSignals again;
        QVERIFY(again.isActive());
        QSignalSpy spy(&again, &TerminationSignals::received);
        std::raise(SIGINT);
        QTRY_COMPARE(spy.count(), 1);
    }
};

QTEST_GUILESS_MAIN(TerminationSignalsTest)
#include "tst_TerminationSignals.moc"
