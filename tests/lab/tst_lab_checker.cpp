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
        // One report each, with the reason that tells an answer from the limit running out
        // (coarse timers may fire up to 5% early), and nothing more afterwards.
        QTest::addColumn<QString>("address");
        QTest::addColumn<bool>("open");
        QTest::addColumn<ZelProbeReason>("reason");
        QTest::addColumn<int>("minMs");
        QTest::newRow("port 21 open") << "10.10.0.15" << true << ZelProbeReason::Accepted << 0;
        QTest::newRow("refused by the device")
            << "10.10.0.14" << false << ZelProbeReason::Refused << 0;
        QTest::newRow("no route") << corlaLabEnv("CORLA_LAB_NOROUTE") << false
                                  << ZelProbeReason::NoRoute << 0;
        // Nobody answers ARP for it: the system would give up on the neighbour only seconds
        // later ("Host unreachable"); the probe has ended by then.
        QTest::newRow("silent address: at the limit")
            << corlaLabEnv("CORLA_LAB_ABSENT") << false << ZelProbeReason::NoAnswer << 900;
    }

    void checkPort()
    {
        QFETCH(QString, address);
        QFETCH(bool, open);
        QFETCH(ZelProbeReason, reason);
        QFETCH(int, minMs);
        ZelConnectionChecker checker(nullptr);
        checker.setConnectionTimeout(1000);
        QElapsedTimer clock;
        int net = -1;
        QList<qint64> atMs;
        QList<ZelProbeReason> reasons;
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
        connect(&checker, &ZelConnectionChecker::probeReason, this,
                [&](const TevDevice&, ZelPort, ZelNetworkStatus, ZelProbeReason r) {
                    reasons.append(r);
                });
        clock.start();
        checker.checkPort(TevDevice(1005, ZelDeviceType::NerioHF, TevIpAddr(address.toStdString())),
                          ZelPort::Ftp);
        QTRY_COMPARE_WITH_TIMEOUT(atMs.size(), 1, 15000);
        QCOMPARE(reasons.size(), 1);
        QCOMPARE(int(reasons[0]), int(reason));
        QVERIFY2(atMs[0] >= minMs, qPrintable(QString::number(atMs[0])));
        // The system resends an unanswered request after a second: a probe that outlived its
        // verdict would report again then.
        QTest::qWait(1500);
        QCOMPARE(atMs.size(), 1);
    }
};

QTEST_GUILESS_MAIN(TstLabChecker)
#include "tst_lab_checker.moc"
