// SPDX-License-Identifier: Apache-2.0
// SPDX-FileCopyrightText: 2026 The Corla developers
// Port probes on real sockets against the lab's default fleet and special addresses: every
// reason a probe gives, and forged answers that all claim one address or none that is a
// unicast host.
#include "core/net/portprobescheduler.h"
#include "tests/support/labguard.h"

#include <QHash>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QtTest>

using namespace corla;

class TstLabChecker : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { CORLA_REQUIRE_LAB(); }

    void reasons_data()
    {
        QTest::addColumn<QString>("address");
        QTest::addColumn<Reachability>("status");
        QTest::addColumn<ProbeReason>("reason");
        const auto unreachable = Reachability::Unreachable;
        QTest::newRow("port 21 open")
            << "10.10.0.15" << Reachability::Reachable << ProbeReason::Accepted;
        QTest::newRow("refused by the device")
            << "10.10.0.14" << unreachable << ProbeReason::Refused;
        // Nobody answers ARP: the system gives up on the neighbour only after the limit.
        QTest::newRow("silent on-link address")
            << corlaLabEnv("CORLA_LAB_ABSENT") << unreachable << ProbeReason::NoAnswer;
        QTest::newRow("a router reports the host unreachable")
            << corlaLabEnv("CORLA_LAB_ROUTER_UNREACH") << unreachable
            << ProbeReason::HostUnreachable;
        QTest::newRow("no route") << corlaLabEnv("CORLA_LAB_NOROUTE") << unreachable
                                  << ProbeReason::NoRoute;
        QTest::newRow("no address") << "0.0.0.0" << Reachability::NoIp << ProbeReason::NoAddress;
    }

    void reasons()
    {
        QFETCH(QString, address);
        QFETCH(Reachability, status);
        QFETCH(ProbeReason, reason);
        PortProbeScheduler checker(nullptr);
        // The router reports the host unreachable only once its own neighbour search failed.
        checker.setConnectionTimeout(reason == ProbeReason::HostUnreachable ? 4000 : 1000);
        QList<QPair<Reachability, ProbeReason>> reports;
        connect(&checker, &PortProbeScheduler::probeReason, this,
                [&](const Device&, DevicePort, Reachability s, ProbeReason r) {
                    reports.append({s, r});
                });
        checker.checkPort(Device(7, DeviceType::NerioHF, Ipv4Address(address.toStdString())),
                          DevicePort::Ftp);
        QTRY_COMPARE_WITH_TIMEOUT(reports.size(), 1, 15000);
        QCOMPARE(reports[0].first, status);
        QCOMPARE(reports[0].second, reason);
        // The system resends an unanswered request after a second: a probe that outlived its
        // verdict would report again then.
        if (reason == ProbeReason::NoAnswer)
            QVERIFY(!QTest::qWaitFor([&] { return reports.size() > 1; }, 1500));
    }

    // 200 made-up devices at one address of this side cost one connection and get one report
    // each; those at addresses that are no unicast host are not probed at all.
    void forgedAnswersCostOneConnection()
    {
        QTcpServer server;
        QVERIFY2(server.listen(QHostAddress::AnyIPv4, 21), qPrintable(server.errorString()));
        QSignalSpy connections(&server, &QTcpServer::newConnection);
        PortProbeScheduler checker(nullptr);
        checker.setConnectionTimeout(1000);
        QHash<uint16_t, int> reportsOf;
        int accepted = 0, notProbed = 0;
        connect(&checker, &PortProbeScheduler::probeReason, this,
                [&](const Device& d, DevicePort, Reachability s, ProbeReason r) {
                    ++reportsOf[d.serial()];
                    accepted += s == Reachability::Reachable && r == ProbeReason::Accepted;
                    notProbed += s == Reachability::Unreachable && r == ProbeReason::NotProbed;
                });
        const char* const elsewhere[] = {"127.0.0.1", "224.0.0.1", "255.255.255.255"};
        for (int i = 0; i < 203; ++i) {
            NetworkSettings net(
                Ipv4Address(i % 50 == 1 && i < 150 ? elsewhere[i / 50] : "10.10.0.1"));
            net.setMacAddress(MacAddress(
                std::array<uint8_t, 6>{0x02, 0xc0, 0x1b, 0x0f, uint8_t(i >> 8), uint8_t(i)}));
            checker.checkPort(Device(uint16_t(i + 1), DeviceType::NerioHF, net), DevicePort::Ftp);
        }
        QTRY_COMPARE_WITH_TIMEOUT(accepted + notProbed, 203, 10000);
        // Past the time limit: no second connection.
        QVERIFY(!connections.wait(1500));
        QCOMPARE(connections.count(), 1);
        QCOMPARE(accepted, 200);
        QCOMPARE(notProbed, 3);
        QCOMPARE(reportsOf.size(), 203);
        QCOMPARE(QSet<int>(reportsOf.begin(), reportsOf.end()), QSet<int>({1}));
    }
};

QTEST_GUILESS_MAIN(TstLabChecker)
#include "tst_lab_checker.moc"
