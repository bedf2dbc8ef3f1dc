// SPDX-License-Identifier: Apache-2.0
// SPDX-FileCopyrightText: 2026 The Corla developers
// Port probes (every reason, forged answers) and whether an address is in use.
#include "core/net/addresscheck.h"
#include "core/net/icmpseam.h"
#include "core/net/portprobescheduler.h"
#include "tests/support/datarow.h"
#include "tests/support/debugcapture.h"
#include "tests/support/labguard.h"
#include "tests/support/testdevice.h"

#include <QHash>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QtTest>

using namespace corla;

Q_DECLARE_METATYPE(InUseBy)

namespace {

QList<MacAddress> macs(const QStringList& texts)
{
    QList<MacAddress> out;
    for (const QString& text : texts)
        out << macOf(qPrintable(text));
    return out;
}

} // namespace

class TstLabChecker : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        CORLA_REQUIRE_LAB();
        QVERIFY(!corlaLabEnv("CORLA_LAB_ECHO_SILENT").isEmpty());
    }

    void reasons_data()
    {
        columns<QString, Reachability, ProbeReason>({"address", "status", "reason"});
        const auto no = Reachability::Unreachable;
        row("port 21 open", "10.10.0.15", Reachability::Reachable, ProbeReason::Accepted);
        row("refused by the device", "10.10.0.14", no, ProbeReason::Refused);
        // Nobody answers ARP: the system gives up on the neighbour only after the limit.
        row("silent on-link address", corlaLabEnv("CORLA_LAB_ABSENT"), no, ProbeReason::NoAnswer);
        row("a router reports the host unreachable", corlaLabEnv("CORLA_LAB_ROUTER_UNREACH"), no,
            ProbeReason::HostUnreachable);
        row("no route", corlaLabEnv("CORLA_LAB_NOROUTE"), no, ProbeReason::NoRoute);
        row("no address", "0.0.0.0", Reachability::NoIp, ProbeReason::NoAddress);
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
        QVERIFY(reports[0] == qMakePair(status, reason));
        // A probe outliving its verdict would report again at the system's resend after 1 s.
        if (reason == ProbeReason::NoAnswer)
            QVERIFY(!QTest::qWaitFor([&] { return reports.size() > 1; }, 1500));
    }

    // 200 devices at one address cost one connection and a report each; non-unicast ones none.
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
        QVERIFY(!connections.wait(1500));
        QCOMPARE((QList<int>{connections.count(), accepted, notProbed, int(reportsOf.size())}),
                 (QList<int>{1, 200, 3, 203}));
        QCOMPARE(QSet<int>(reportsOf.begin(), reportsOf.end()), QSet<int>({1}));
    }

    // The raw socket path on purpose: a router's "host unreachable" is a reply from the router.
    void rawEcho_data()
    {
        // target: a lab variable; minMs: an echo nobody answers waits out its limit
        columns<QString, QString, int>({"target", "outcome", "minMs"});
        row("absent", "CORLA_LAB_ABSENT", "0 replies from , status 0, error 110", 150);
        row("router reports unreachable", "CORLA_LAB_ROUTER_UNREACH",
            "1 replies from 10.10.0.254, status 769, error 0", 0);
    }

    void rawEcho()
    {
        QFETCH(QString, target);
        QFETCH(QString, outcome);
        QFETCH(int, minMs);
        QElapsedTimer clock;
        clock.start();
        const EchoOutcome echo =
            icmpEchoVia(EchoPath::Raw, corlaLabEnv(qPrintable(target)).toStdString(), 150);
        const qint64 elapsed = clock.elapsed();
        QCOMPARE(echo.path, EchoPath::Raw);
        QCOMPARE(QStringLiteral("%1 replies from %2, status %3, error %4")
                     .arg(echo.replyCount)
                     .arg(QString::fromStdString(echo.replySource))
                     .arg(echo.status)
                     .arg(echo.errorCode),
                 outcome);
        QVERIFY(echo.roundTripMs <= elapsed);
        QVERIFY2(elapsed >= minMs, qPrintable(QString::number(elapsed)));
    }

    void addressInUse_data()
    {
        QTest::addColumn<QString>("target"); // lab variable
        columns<QStringList, bool, InUseBy, QString>({"disregard", "inUse", "by", "state"});
        QTest::addColumn<QString>("mac");  // "any": some MAC address
        QTest::addColumn<QString>("line"); // the debug line, or how it starts
        const QStringList none, silent{"02:c0:1a:00:00:05"};
        row("present: the echo answers", "CORLA_LAB_PRESENT", none, true, InUseBy::Echo,
            "REACHABLE", "any", "In use: 10.10.0.254 answers echo (from 10.10.0.254) as ");
        row("echo dropped, ARP answered: in use", "CORLA_LAB_ECHO_SILENT", silent, true,
            InUseBy::LinkLayer, "REACHABLE", "02:c0:1a:ff:00:fa",
            "In use: 10.10.0.250 answers ARP (REACHABLE) as 02:c0:1a:ff:00:fa");
        row("ARP answered by a device that answers elsewhere: free", "CORLA_LAB_ECHO_SILENT",
            silent + QStringList{"02:c0:1a:ff:00:fa"}, false, InUseBy::Nobody, "REACHABLE",
            "02:c0:1a:ff:00:fa",
            "Free: 10.10.0.250 gives no echo reply (error 110); its link-layer address "
            "02:c0:1a:ff:00:fa (REACHABLE) belongs to a device that answers elsewhere");
        row("a router reports the host unreachable: free", "CORLA_LAB_ROUTER_UNREACH", none, false,
            InUseBy::Nobody, "", "",
            "Free: 10.99.0.5 gives no echo reply (10.10.0.254 reports ICMP type 3 code 1) and "
            "no link-layer address");
        row("on-link, nobody there: free", "CORLA_LAB_ABSENT", none, false, InUseBy::Nobody,
            "INCOMPLETE", "",
            "Free: 10.10.0.200 gives no echo reply (error 110) and no link-layer address "
            "(INCOMPLETE)");
        row("not on an attached network: free, no entry to look at", "CORLA_LAB_NOROUTE", none,
            false, InUseBy::Nobody, "", "",
            "Free: 10.77.0.5 gives no echo reply (error 101) and no link-layer address");
    }

    void addressInUse()
    {
        QFETCH(QString, target);
        QFETCH(QStringList, disregard);
        QFETCH(bool, inUse);
        QFETCH(InUseBy, by);
        QFETCH(QString, state);
        QFETCH(QString, mac);
        QFETCH(QString, line);
        DebugCapture capture;
        const AddressUse use =
            HostPing::addressInUse(Ipv4Address(corlaLabEnv(qPrintable(target)).toStdString()),
                                   AddressCheck::kPingTimeoutMs, macs(disregard));
        QCOMPARE(use.inUse(), inUse);
        QCOMPARE(use.by, by);
        QCOMPARE(use.neighbourStateName, state);
        QCOMPARE(use.mac.isNull() ? QString() : mac == "any" ? mac : text(use.mac), mac);
        const QStringList messages = capture.messages();
        QVERIFY2(messages.size() == 1 && messages[0].startsWith(line),
                 qPrintable(messages.join('|')));
    }

    // AddressCheck passes on the MACs of devices known to answer elsewhere.
    void ipCheckerDisregardsKnownDevices()
    {
        NetworkSettings proposed(Ipv4Address(corlaLabEnv("CORLA_LAB_ECHO_SILENT").toStdString()));
        auto* checker =
            new AddressCheck(Device(5, DeviceType::NerioHF, NetworkSettings()), proposed);
        checker->setDisregardedLinkAddresses(macs({"02:c0:1a:ff:00:fa"}));
        QSignalSpy spy(checker, &AddressCheck::ipCheckResult);
        checker->checkIpExistence();
        QTRY_COMPARE(spy.count(), 1);
        QCOMPARE(int(spy.at(0).at(0).value<PingResult>()), int(PingNoReply));
    }
};

QTEST_GUILESS_MAIN(TstLabChecker)
#include "tst_lab_checker.moc"
