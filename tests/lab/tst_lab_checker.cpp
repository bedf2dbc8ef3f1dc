// Port checks against the default fleet of the lab's simulator and its special addresses.
#include "labguard.h"
#include "zelconnectionchecker.h"

#include <QElapsedTimer>
#include <QtTest>

class TstLabChecker : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { CORLA_REQUIRE_LAB(); }

    void checkPort_data()
    {
        // The first report comes not before firstMin ms and, where firstMax is given, before
        // the time limit (1000 ms; coarse timers may fire up to 5% early); a second one not
        // before secondMin (-1: none comes).
        QTest::addColumn<QString>("address");
        QTest::addColumn<bool>("open");
        QTest::addColumn<int>("firstMin");
        QTest::addColumn<int>("firstMax");
        QTest::addColumn<int>("secondMin");
        QTest::newRow("port 21 open: once") << "10.10.0.15" << true << 0 << 940 << -1;
        QTest::newRow("refused by the device: at once and at the limit")
            << "10.10.0.14" << false << 0 << 940 << 940;
        QTest::newRow("no route: at once and at the limit")
            << corlaLabEnv("CORLA_LAB_NOROUTE") << false << 0 << 940 << 940;
        // Nobody answers ARP for it: the attempt goes on until the system gives up on the
        // neighbour ("Host unreachable").
        QTest::newRow("silent address: at the limit and when the system gives up")
            << corlaLabEnv("CORLA_LAB_ABSENT") << false << 940 << -1 << 2000;
    }

    void checkPort()
    {
        QFETCH(QString, address);
        QFETCH(bool, open);
        QFETCH(int, firstMin);
        QFETCH(int, firstMax);
        QFETCH(int, secondMin);
        ZelConnectionChecker checker(nullptr);
        checker.setConnectionTimeout(1000);
        QElapsedTimer clock;
        int net = -1;
        QList<qint64> atMs;
        connect(&checker, &ZelConnectionChecker::netHostStatus, this,
                [&](const TevDevice&, ZelPort, ZelNetworkStatus s) { net = int(s); });
        connect(
            &checker, &ZelConnectionChecker::portStatus, this,
            [&](const TevDevice&, ZelPort, ZelPortConnStatus s) {
                QCOMPARE(net,
                         int(open ? ZelNetworkStatus::Reachable : ZelNetworkStatus::Unreachable));
                QCOMPARE(s, open ? ZelPortConnStatus::Available : ZelPortConnStatus::Unavailable);
                atMs.append(clock.elapsed());
            });
        clock.start();
        checker.checkPort(TevDevice(1005, ZelDeviceType::NerioHF, TevIpAddr(address.toStdString())),
                          ZelPort::Ftp);
        QTRY_COMPARE_WITH_TIMEOUT(atMs.size(), 1, 15000);
        QVERIFY2(atMs[0] >= firstMin && (firstMax < 0 || atMs[0] < firstMax),
                 qPrintable(QString::number(atMs[0])));
        if (secondMin >= 0) {
            QTRY_COMPARE_WITH_TIMEOUT(atMs.size(), 2, 15000);
            QVERIFY2(atMs[1] >= secondMin, qPrintable(QString::number(atMs[1])));
        }
        QTest::qWait(secondMin < 0 ? 1500 : 500);
        QCOMPARE(atMs.size(), secondMin < 0 ? 1 : 2);
    }
};

QTEST_GUILESS_MAIN(TstLabChecker)
#include "tst_lab_checker.moc"
