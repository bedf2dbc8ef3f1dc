// Is an address in use? For most hosts the echo answers; for one that drops echoes, the
// neighbour table that the echo itself filled. Against the lab's hosts.
#include "labguard.h"
#include "nettestutil.h"
#include "tevipcheck.h"

#include <QtTest>

Q_DECLARE_METATYPE(CorlaInUseBy)

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
        QTest::addColumn<bool>("inUse");
        QTest::addColumn<CorlaInUseBy>("by");
        QTest::addColumn<QString>("state");
        QTest::addColumn<QString>("mac");  // "any": some MAC address
        QTest::addColumn<QString>("line"); // the debug line, or how it starts
        QTest::newRow("present: the echo answers")
            << "CORLA_LAB_PRESENT" << true << CorlaInUseBy::Echo << "REACHABLE"
            << "any"
            << "In use: 10.10.0.254 answers echo (from 10.10.0.254) as ";
        QTest::newRow("echo dropped, ARP answered: in use")
            << "CORLA_LAB_ECHO_SILENT" << true << CorlaInUseBy::LinkLayer << "REACHABLE"
            << "02:c0:1a:ff:00:fa"
            << "In use: 10.10.0.250 answers ARP (REACHABLE) as 02:c0:1a:ff:00:fa";
        QTest::newRow("on-link, nobody there: free")
            << "CORLA_LAB_ABSENT" << false << CorlaInUseBy::Nobody << "INCOMPLETE"
            << ""
            << "Free: 10.10.0.200 gives no echo reply (error 110) and no link-layer address "
               "(INCOMPLETE)";
        QTest::newRow("not on an attached network: free, no entry to look at")
            << "CORLA_LAB_NOROUTE" << false << CorlaInUseBy::Nobody << ""
            << ""
            << "Free: 10.77.0.5 gives no echo reply (error 101) and no link-layer address";
    }

    void addressInUse()
    {
        QFETCH(QString, target);
        QFETCH(bool, inUse);
        QFETCH(CorlaInUseBy, by);
        QFETCH(QString, state);
        QFETCH(QString, mac);
        QFETCH(QString, line);
        DebugCapture capture;
        const TevAddressUse use = TevPingHelper::addressInUse(
            TevIpAddr(corlaLabEnv(qPrintable(target)).toStdString()), IpChecker::kPingTimeoutMs);
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

    void ipCheckerTakesWhatTheLinkLayerShows_data()
    {
        QTest::addColumn<QString>("target");
        QTest::addColumn<int>("result");
        QTest::newRow("echo-silent host: taken") << "CORLA_LAB_ECHO_SILENT" << int(TevPingReplied);
        QTest::newRow("nobody there: free") << "CORLA_LAB_ABSENT" << int(TevPingNoReply);
    }

    void ipCheckerTakesWhatTheLinkLayerShows()
    {
        QFETCH(QString, target);
        QFETCH(int, result);
        TevNetHostInfo proposed(TevIpAddr(corlaLabEnv(qPrintable(target)).toStdString()));
        auto* checker =
            new IpChecker(TevDevice(5, ZelDeviceType::NerioHF, TevNetHostInfo()), proposed);
        QSignalSpy spy(checker, &IpChecker::ipCheckResult);
        checker->checkIpExistence();
        QTRY_COMPARE(spy.count(), 1);
        QCOMPARE(int(spy.at(0).at(0).value<TevPingResult>()), result);
    }
};

QTEST_GUILESS_MAIN(TstLabInUse)
#include "tst_lab_inuse.moc"
