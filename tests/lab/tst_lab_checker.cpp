// SPDX-License-Identifier: Apache-2.0
// SPDX-FileCopyrightText: 2026 The Corla developers
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
        // One report each: within the time limit (1000 ms) or, where nothing answers, at it
        // (coarse timers may fire up to 5% early), and nothing more afterwards.
        QTest::addColumn<QString>("address");
        QTest::addColumn<bool>("open");
        QTest::addColumn<int>("minMs");
        QTest::addColumn<int>("maxMs");
        QTest::newRow("port 21 open") << "10.10.0.15" << true << 0 << 940;
        QTest::newRow("refused by the device") << "10.10.0.14" << false << 0 << 940;
        QTest::newRow("no route") << corlaLabEnv("CORLA_LAB_NOROUTE") << false << 0 << 940;
        // Nobody answers ARP for it: the system would give up on the neighbour only seconds
        // later ("Host unreachable"); the probe has ended by then.
        QTest::newRow("silent address: at the limit")
            << corlaLabEnv("CORLA_LAB_ABSENT") << false << 900 << -1;
    }

    void checkPort()
    {
        QFETCH(QString, address);
        QFETCH(bool, open);
        QFETCH(int, minMs);
        QFETCH(int, maxMs);
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
        QVERIFY2(atMs[0] >= minMs && (maxMs < 0 || atMs[0] < maxMs),
                 qPrintable(QString::number(atMs[0])));
        // Past the limit, and past the system's first resend of the request.
        QTest::qWait(1500);
        QCOMPARE(atMs.size(), 1);
    }
};

QTEST_GUILESS_MAIN(TstLabChecker)
#include "tst_lab_checker.moc"
