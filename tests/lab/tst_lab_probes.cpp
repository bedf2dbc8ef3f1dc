// SPDX-License-Identifier: Apache-2.0
// SPDX-FileCopyrightText: 2026 The Corla developers
// Port probes on real sockets: a fleet of thousands through one checker under the descriptor
// limit many systems still give a program (1024), forged answers that all claim one address
// or one that is no unicast host, and every reason a probe gives.
#include "labguard.h"
#include "zelconnectionchecker.h"

#include <QHash>
#include <QTcpServer>
#include <QTcpSocket>
#include <QtTest>

#include <sys/resource.h>

namespace {

// A TcpExt counter of the device side's network namespace (/proc/net/netstat there), or -1.
qint64 deviceSideCounter(const QByteArray& name)
{
    QProcess cat;
    cat.start("nsenter", {"--net=" + corlaLabEnv("CORLA_LAB_DEVNS"), "cat", "/proc/net/netstat"});
    if (!cat.waitForFinished(10000))
        return -1;
    const QList<QByteArray> lines = cat.readAllStandardOutput().split('\n');
    for (int i = 0; i + 1 < lines.size(); ++i) {
        const QList<QByteArray> names = lines[i].split(' ');
        const QList<QByteArray> values = lines[i + 1].split(' ');
        if (names[0] == "TcpExt:" && values[0] == "TcpExt:" && names.indexOf(name) > 0)
            return values.value(names.indexOf(name)).toLongLong();
    }
    return -1;
}

} // namespace

class TstLabProbes : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        CORLA_REQUIRE_LAB();
        // Before the first socket: both limits, so nothing can raise the soft one again.
        const rlimit limit{1024, 1024};
        QVERIFY(::setrlimit(RLIMIT_NOFILE, &limit) == 0);
    }

    void fleetOfThousandsEachOnceReachable()
    {
        m_defaultFleet = false;
        QVERIFY2(m_sim.startOrWhy({"--burst", "3000"}).isEmpty(), qPrintable(m_sim.output()));
        ZelConnectionChecker checker(nullptr);
        QHash<uint16_t, int> reachable;
        int otherwise = 0;
        connect(&checker, &ZelConnectionChecker::netHostStatus, this,
                [&](const TevDevice& d, ZelPort, ZelNetworkStatus s) {
                    if (s == ZelNetworkStatus::Reachable)
                        ++reachable[d.serial()];
                    else
                        ++otherwise;
                });
        // The burst fleet's addresses: from 10.40.0.1 up, skipping x.y.z.0 and x.y.z.255.
        uint32_t ip = TevIpAddr("10.40.0.1").toInt();
        for (int i = 0; i < 3000; ++i, ++ip) {
            while ((ip & 0xffu) == 0 || (ip & 0xffu) == 255)
                ++ip;
            TevNetHostInfo net(ip);
            net.setMacAddress(TevMacAddr(
                std::array<uint8_t, 6>{uint8_t(i), uint8_t(i >> 8), 0, 0x1b, 0xc0, 0x02}));
            checker.checkPort(TevDevice(uint16_t(i + 1), ZelDeviceType::NerioHF, net),
                              ZelPort::Ftp);
        }
        QTRY_VERIFY_WITH_TIMEOUT(reachable.size() + otherwise >= 3000, 120000);
        QTest::qWait(500);
        QCOMPARE(otherwise, 0);
        QCOMPARE(reachable.size(), 3000);
        QCOMPARE(QSet<int>(reachable.begin(), reachable.end()), QSet<int>({1}));
        // Not one request dropped for want of room in the simulator's accept queue (a drop
        // is resent a second later and still makes it, so only the counter shows it).
        QCOMPARE(deviceSideCounter("ListenOverflows"), 0);
        QVERIFY2(m_sim.stop(), qPrintable(m_sim.output()));
    }

    void forgedAnswersCostOneConnection()
    {
        // Any host on the network can answer discovery for made-up devices: 200 of them at
        // one address of this side, and some at addresses that are no unicast host. A port 21
        // listener at every address of this side, loopback included, counts what arrives.
        QTcpServer server;
        QVERIFY2(server.listen(QHostAddress::AnyIPv4, 21), qPrintable(server.errorString()));
        int connections = 0;
        connect(&server, &QTcpServer::newConnection, this, [&] {
            while (QTcpSocket* socket = server.nextPendingConnection()) {
                ++connections;
                socket->deleteLater();
            }
        });
        ZelConnectionChecker checker(nullptr);
        QHash<uint16_t, int> reportsOf;
        int accepted = 0;
        int notProbed = 0;
        connect(&checker, &ZelConnectionChecker::probeReason, this,
                [&](const TevDevice& d, ZelPort, ZelNetworkStatus s, ZelProbeReason r) {
                    ++reportsOf[d.serial()];
                    accepted += s == ZelNetworkStatus::Reachable && r == ZelProbeReason::Accepted;
                    notProbed +=
                        s == ZelNetworkStatus::Unreachable && r == ZelProbeReason::NotProbed;
                });
        const char* const elsewhere[] = {"127.0.0.1", "224.0.0.1", "255.255.255.255"};
        for (int i = 0; i < 203; ++i) {
            // The odd ones out among the first.
            TevNetHostInfo net(TevIpAddr(i % 50 == 1 && i < 150 ? elsewhere[i / 50] : "10.10.0.1"));
            net.setMacAddress(TevMacAddr(
                std::array<uint8_t, 6>{0x02, 0xc0, 0x1b, 0x0f, uint8_t(i >> 8), uint8_t(i)}));
            checker.checkPort(TevDevice(uint16_t(i + 1), ZelDeviceType::NerioHF, net),
                              ZelPort::Ftp);
        }
        QTRY_COMPARE_WITH_TIMEOUT(accepted + notProbed, 203, 10000);
        // Past the time limit: no second connection, no second report.
        QTest::qWait(4500);
        QCOMPARE(connections, 1);
        QCOMPARE(accepted, 200);
        QCOMPARE(notProbed, 3);
        QCOMPARE(reportsOf.size(), 203);
        QCOMPARE(QSet<int>(reportsOf.begin(), reportsOf.end()), QSet<int>({1}));
    }

    void reasons_data()
    {
        QTest::addColumn<QString>("address");
        QTest::addColumn<int>("limitMs");
        QTest::addColumn<ZelNetworkStatus>("status");
        QTest::addColumn<ZelProbeReason>("reason");
        QTest::newRow("accepted: a fleet device with port 21")
            << "10.10.0.15" << 4000 << ZelNetworkStatus::Reachable << ZelProbeReason::Accepted;
        QTest::newRow("refused: a fleet device without port 21")
            << "10.10.0.14" << 4000 << ZelNetworkStatus::Unreachable << ZelProbeReason::Refused;
        QTest::newRow("no answer: nobody at an on-link address, short limit")
            << corlaLabEnv("CORLA_LAB_ABSENT") << 500 << ZelNetworkStatus::Unreachable
            << ZelProbeReason::NoAnswer;
        QTest::newRow("host unreachable: a router says so")
            << corlaLabEnv("CORLA_LAB_ROUTER_UNREACH") << 4000 << ZelNetworkStatus::Unreachable
            << ZelProbeReason::HostUnreachable;
        QTest::newRow("no route from here")
            << corlaLabEnv("CORLA_LAB_NOROUTE") << 4000 << ZelNetworkStatus::Unreachable
            << ZelProbeReason::NoRoute;
        QTest::newRow("no address")
            << "0.0.0.0" << 4000 << ZelNetworkStatus::NoIp << ZelProbeReason::NoAddress;
    }

    void reasons()
    {
        QFETCH(QString, address);
        QFETCH(int, limitMs);
        QFETCH(ZelNetworkStatus, status);
        QFETCH(ZelProbeReason, reason);
        if (!m_defaultFleet) {
            QVERIFY2(m_sim.startOrWhy({}).isEmpty(), qPrintable(m_sim.output()));
            m_defaultFleet = true;
        }
        ZelConnectionChecker checker(nullptr);
        checker.setConnectionTimeout(limitMs);
        QList<QPair<ZelNetworkStatus, ZelProbeReason>> reports;
        connect(&checker, &ZelConnectionChecker::probeReason, this,
                [&](const TevDevice&, ZelPort, ZelNetworkStatus s, ZelProbeReason r) {
                    reports.append({s, r});
                });
        checker.checkPort(TevDevice(7, ZelDeviceType::NerioHF, TevIpAddr(address.toStdString())),
                          ZelPort::Ftp);
        QTRY_COMPARE_WITH_TIMEOUT(reports.size(), 1, limitMs + 5000);
        QCOMPARE(reports[0].first, status);
        QCOMPARE(reports[0].second, reason);
    }

    void cleanupTestCase() { QVERIFY2(m_sim.stop(), qPrintable(m_sim.output())); }

private:
    CorlaLabSim m_sim;
    bool m_defaultFleet = false;
};

QTEST_GUILESS_MAIN(TstLabProbes)
#include "tst_lab_probes.moc"
