// SPDX-License-Identifier: Apache-2.0
// SPDX-FileCopyrightText: 2026 The Corla developers
// The echo and "is an address in use?" against the lab's hosts. For most hosts the echo
// answers; for one that drops echoes, the neighbour table that the echo itself filled, unless
// its MAC address is that of a device known to answer elsewhere. A router's ICMP error is
// nobody.
#include "core/net/addresscheck.h"
#include "core/net/icmpseam.h"
#include "tests/support/debugcapture.h"
#include "tests/support/labguard.h"

#include <QElapsedTimer>
#include <QtTest>

#include <cerrno>

using namespace corla;

Q_DECLARE_METATYPE(InUseBy)

namespace {

QList<MacAddress> macs(const QStringList& texts)
{
    QList<MacAddress> out;
    for (const QString& text : texts) {
        MacAddress mac;
        MacAddress::parse(text.toStdString(), &mac);
        out << mac;
    }
    return out;
}

} // namespace

class TstLabInUse : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        CORLA_REQUIRE_LAB();
        QVERIFY(!corlaLabEnv("CORLA_LAB_ECHO_SILENT").isEmpty());
    }

    // The raw socket path, taken on purpose (the lab admits datagram sockets, which the
    // checks below use): a router's "host unreachable" is a reply from the router.
    void rawEcho_data()
    {
        QTest::addColumn<QString>("target"); // lab variable
        QTest::addColumn<uint>("replies");   // from the lab's router, CORLA_LAB_PRESENT
        QTest::addColumn<uint>("status");
        QTest::addColumn<uint>("error");
        QTest::addColumn<int>("minMs"); // an echo nobody answers waits out its limit
        QTest::newRow("present") << "CORLA_LAB_PRESENT" << 1u << 0u << 0u << 0;
        QTest::newRow("absent") << "CORLA_LAB_ABSENT" << 0u << 0u << uint(ETIMEDOUT) << 150;
        QTest::newRow("router reports unreachable")
            << "CORLA_LAB_ROUTER_UNREACH" << 1u << 769u << 0u << 0;
        QTest::newRow("no route") << "CORLA_LAB_NOROUTE" << 0u << 0u << uint(ENETUNREACH) << 0;
    }

    void rawEcho()
    {
        QFETCH(QString, target);
        QFETCH(uint, replies);
        QFETCH(uint, status);
        QFETCH(uint, error);
        QFETCH(int, minMs);
        QElapsedTimer clock;
        clock.start();
        const EchoOutcome outcome =
            icmpEchoVia(EchoPath::Raw, corlaLabEnv(qPrintable(target)).toStdString(), 150);
        const qint64 elapsed = clock.elapsed();
        QCOMPARE(outcome.path, EchoPath::Raw);
        QCOMPARE(outcome.replyCount, replies);
        QCOMPARE(outcome.errorCode, error);
        QCOMPARE(outcome.replySource,
                 replies ? corlaLabEnv("CORLA_LAB_PRESENT").toStdString() : std::string());
        QCOMPARE(outcome.status, status);
        QVERIFY(outcome.roundTripMs <= elapsed);
        QVERIFY2(elapsed >= minMs, qPrintable(QString::number(elapsed)));
    }

    void addressInUse_data()
    {
        QTest::addColumn<QString>("target"); // lab variable
        QTest::addColumn<QStringList>("disregard");
        QTest::addColumn<bool>("inUse");
        QTest::addColumn<InUseBy>("by");
        QTest::addColumn<QString>("state");
        QTest::addColumn<QString>("mac");  // "any": some MAC address
        QTest::addColumn<QString>("line"); // the debug line, or how it starts
        QTest::newRow("present: the echo answers")
            << "CORLA_LAB_PRESENT" << QStringList() << true << InUseBy::Echo << "REACHABLE"
            << "any"
            << "In use: 10.10.0.254 answers echo (from 10.10.0.254) as ";
        QTest::newRow("echo dropped, ARP answered: in use")
            << "CORLA_LAB_ECHO_SILENT" << QStringList{"02:c0:1a:00:00:05"} << true
            << InUseBy::LinkLayer << "REACHABLE"
            << "02:c0:1a:ff:00:fa"
            << "In use: 10.10.0.250 answers ARP (REACHABLE) as 02:c0:1a:ff:00:fa";
        QTest::newRow("ARP answered by a device that answers elsewhere: free")
            << "CORLA_LAB_ECHO_SILENT" << QStringList{"02:c0:1a:00:00:05", "02:c0:1a:ff:00:fa"}
            << false << InUseBy::Nobody << "REACHABLE"
            << "02:c0:1a:ff:00:fa"
            << "Free: 10.10.0.250 gives no echo reply (error 110); its link-layer address "
               "02:c0:1a:ff:00:fa (REACHABLE) belongs to a device that answers elsewhere";
        QTest::newRow("a router reports the host unreachable: free")
            << "CORLA_LAB_ROUTER_UNREACH" << QStringList() << false << InUseBy::Nobody << ""
            << ""
            << "Free: 10.99.0.5 gives no echo reply (10.10.0.254 reports ICMP type 3 code 1) and "
               "no link-layer address";
        QTest::newRow("on-link, nobody there: free")
            << "CORLA_LAB_ABSENT" << QStringList() << false << InUseBy::Nobody << "INCOMPLETE"
            << ""
            << "Free: 10.10.0.200 gives no echo reply (error 110) and no link-layer address "
               "(INCOMPLETE)";
        QTest::newRow("not on an attached network: free, no entry to look at")
            << "CORLA_LAB_NOROUTE" << QStringList() << false << InUseBy::Nobody << ""
            << ""
            << "Free: 10.77.0.5 gives no echo reply (error 101) and no link-layer address";
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
        if (mac == "any")
            QVERIFY(!use.mac.isNull());
        else
            QCOMPARE(use.mac.isNull() ? QString() : QString::fromStdString(use.mac.toString()),
                     mac);
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

QTEST_GUILESS_MAIN(TstLabInUse)
#include "tst_lab_inuse.moc"
