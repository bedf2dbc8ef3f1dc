// SPDX-License-Identifier: Apache-2.0
// SPDX-FileCopyrightText: 2026 The Corla developers
// Is an address in use? For most hosts the echo answers; for one that drops echoes, the
// neighbour table that the echo itself filled, unless its MAC address is that of a device
// known to answer elsewhere. A router's ICMP error is nobody. Against the lab's hosts.
#include "debugcapture.h"
#include "labguard.h"
#include "tevipcheck.h"

#include <QtTest>

Q_DECLARE_METATYPE(CorlaInUseBy)

namespace {

QList<TevMacAddr> macs(const QStringList& texts)
{
    QList<TevMacAddr> out;
    for (const QString& text : texts) {
        TevMacAddr mac;
        TevMacAddr::parse(text.toStdString(), &mac);
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

    void addressInUse_data()
    {
        QTest::addColumn<QString>("target"); // lab variable
        QTest::addColumn<QStringList>("disregard");
        QTest::addColumn<bool>("inUse");
        QTest::addColumn<CorlaInUseBy>("by");
        QTest::addColumn<QString>("state");
        QTest::addColumn<QString>("mac");  // "any": some MAC address
        QTest::addColumn<QString>("line"); // the debug line, or how it starts
        QTest::newRow("present: the echo answers")
            << "CORLA_LAB_PRESENT" << QStringList() << true << CorlaInUseBy::Echo << "REACHABLE"
            << "any"
            << "In use: 10.10.0.254 answers echo (from 10.10.0.254) as ";
        QTest::newRow("echo dropped, ARP answered: in use")
            << "CORLA_LAB_ECHO_SILENT" << QStringList{"02:c0:1a:00:00:05"} << true
            << CorlaInUseBy::LinkLayer << "REACHABLE"
            << "02:c0:1a:ff:00:fa"
            << "In use: 10.10.0.250 answers ARP (REACHABLE) as 02:c0:1a:ff:00:fa";
        QTest::newRow("ARP answered by a device that answers elsewhere: free")
            << "CORLA_LAB_ECHO_SILENT" << QStringList{"02:c0:1a:00:00:05", "02:c0:1a:ff:00:fa"}
            << false << CorlaInUseBy::Nobody << "REACHABLE"
            << "02:c0:1a:ff:00:fa"
            << "Free: 10.10.0.250 gives no echo reply (error 110); its link-layer address "
               "02:c0:1a:ff:00:fa (REACHABLE) belongs to a device that answers elsewhere";
        QTest::newRow("a router reports the host unreachable: free")
            << "CORLA_LAB_ROUTER_UNREACH" << QStringList() << false << CorlaInUseBy::Nobody << ""
            << ""
            << "Free: 10.99.0.5 gives no echo reply (10.10.0.254 reports ICMP type 3 code 1) and "
               "no link-layer address";
        QTest::newRow("on-link, nobody there: free")
            << "CORLA_LAB_ABSENT" << QStringList() << false << CorlaInUseBy::Nobody << "INCOMPLETE"
            << ""
            << "Free: 10.10.0.200 gives no echo reply (error 110) and no link-layer address "
               "(INCOMPLETE)";
        QTest::newRow("not on an attached network: free, no entry to look at")
            << "CORLA_LAB_NOROUTE" << QStringList() << false << CorlaInUseBy::Nobody << ""
            << ""
            << "Free: 10.77.0.5 gives no echo reply (error 101) and no link-layer address";
    }

    void addressInUse()
    {
        QFETCH(QString, target);
        QFETCH(QStringList, disregard);
        QFETCH(bool, inUse);
        QFETCH(CorlaInUseBy, by);
        QFETCH(QString, state);
        QFETCH(QString, mac);
        QFETCH(QString, line);
        DebugCapture capture;
        const TevAddressUse use =
            TevPingHelper::addressInUse(TevIpAddr(corlaLabEnv(qPrintable(target)).toStdString()),
                                        IpChecker::kPingTimeoutMs, macs(disregard));
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

    void routerErrorIsNobodyButItsEchoIsKept()
    {
        // corla-cli ping reports the router's error from the same outcome.
        const CorlaInUse use = corlaAddressInUse(
            corlaLabEnv("CORLA_LAB_ROUTER_UNREACH").toStdString(), IpChecker::kPingTimeoutMs);
        QCOMPARE(use.by, CorlaInUseBy::Nobody);
        QCOMPARE(use.echo.replyCount, 1u);
        QCOMPARE(use.echo.status, 769u);
        QCOMPARE(use.echo.replySource, std::string("10.10.0.254"));
    }

    void ipCheckerTakesWhatTheLinkLayerShows_data()
    {
        QTest::addColumn<QString>("target");
        QTest::addColumn<QStringList>("disregard");
        QTest::addColumn<int>("result");
        QTest::newRow("echo-silent host: taken")
            << "CORLA_LAB_ECHO_SILENT" << QStringList() << int(TevPingReplied);
        QTest::newRow("echo-silent host, a device that answers elsewhere: free")
            << "CORLA_LAB_ECHO_SILENT" << QStringList{"02:c0:1a:ff:00:fa"} << int(TevPingNoReply);
        QTest::newRow("nobody there: free")
            << "CORLA_LAB_ABSENT" << QStringList() << int(TevPingNoReply);
    }

    void ipCheckerTakesWhatTheLinkLayerShows()
    {
        QFETCH(QString, target);
        QFETCH(QStringList, disregard);
        QFETCH(int, result);
        TevNetHostInfo proposed(TevIpAddr(corlaLabEnv(qPrintable(target)).toStdString()));
        auto* checker =
            new IpChecker(TevDevice(5, ZelDeviceType::NerioHF, TevNetHostInfo()), proposed);
        checker->setDisregardedLinkAddresses(macs(disregard));
        QSignalSpy spy(checker, &IpChecker::ipCheckResult);
        checker->checkIpExistence();
        QTRY_COMPARE(spy.count(), 1);
        QCOMPARE(int(spy.at(0).at(0).value<TevPingResult>()), result);
    }
};

QTEST_GUILESS_MAIN(TstLabInUse)
#include "tst_lab_inuse.moc"
