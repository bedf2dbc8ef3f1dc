// The echo against the lab's hosts: one that answers, one that is absent, a router that
// reports the destination unreachable, a destination without a route.
#include "labguard.h"
#include "nettestutil.h"
#include "tevipcheck.h"
#include "tevpinghelper.h"

#include <QElapsedTimer>
#include <QPointer>
#include <QtTest>

#include <cerrno>

Q_DECLARE_METATYPE(CorlaEchoPath)

namespace {

constexpr uint32_t kHostUnreachableStatus = 3 * 256 + 1;

std::string labAddress(const char* variable)
{
    return corlaLabEnv(variable).toStdString();
}

} // namespace

class TstLabPing : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void echo_data();
    void echo();
    void pingHostReports_data();
    void pingHostReports();
    void ipCheckerReportsOnce_data();
    void ipCheckerReportsOnce();
};

void TstLabPing::initTestCase()
{
    CORLA_REQUIRE_LAB();
    QVERIFY(!corlaLabEnv("CORLA_LAB_PRESENT").isEmpty());
}

void TstLabPing::echo_data()
{
    QTest::addColumn<CorlaEchoPath>("path");
    QTest::addColumn<QString>("target"); // lab variable
    QTest::addColumn<uint>("replies");
    QTest::addColumn<QString>("source"); // lab variable naming the replying host
    QTest::addColumn<uint>("status");
    QTest::addColumn<uint>("error");
    QTest::addColumn<int>("minMs");
    QTest::addColumn<int>("maxMs");

    // The lab admits datagram sockets; the raw path is taken here on purpose (its automatic
    // choice, when datagram sockets are refused, is covered by the unit test).
    for (CorlaEchoPath path : {CorlaEchoPath::Datagram, CorlaEchoPath::Raw}) {
        const char* p = path == CorlaEchoPath::Datagram ? "datagram" : "raw";
        QTest::addRow("%s: present host answers", p)
            << path << "CORLA_LAB_PRESENT" << 1u << "CORLA_LAB_PRESENT" << 0u << 0u << 0 << 150;
        QTest::addRow("%s: absent host, nothing within the limit", p)
            << path << "CORLA_LAB_ABSENT" << 0u << "" << 0u << uint(ETIMEDOUT) << 150 << 450;
        QTest::addRow("%s: router's host-unreachable report counts as a reply", p)
            << path << "CORLA_LAB_ROUTER_UNREACH" << 1u << "CORLA_LAB_PRESENT"
            << kHostUnreachableStatus << 0u << 0 << 150;
        QTest::addRow("%s: no route, fails at once", p)
            << path << "CORLA_LAB_NOROUTE" << 0u << "" << 0u << uint(ENETUNREACH) << 0 << 100;
    }
}

void TstLabPing::echo()
{
    QFETCH(CorlaEchoPath, path);
    QFETCH(QString, target);
    QFETCH(uint, replies);
    QFETCH(QString, source);
    QFETCH(uint, status);
    QFETCH(uint, error);
    QFETCH(int, minMs);
    QFETCH(int, maxMs);

    QElapsedTimer clock;
    clock.start();
    const CorlaEchoOutcome outcome = corlaIcmpEchoVia(path, labAddress(qPrintable(target)), 150);
    const qint64 elapsed = clock.elapsed();
    QCOMPARE(outcome.path, path);
    QCOMPARE(outcome.replyCount, replies);
    QCOMPARE(outcome.errorCode, error);
    if (replies) {
        QCOMPARE(outcome.replySource, labAddress(qPrintable(source)));
        QCOMPARE(outcome.status, status);
        QVERIFY(outcome.roundTripMs <= elapsed);
    }
    QVERIFY2(elapsed >= minMs && elapsed <= maxMs, qPrintable(QString::number(elapsed)));
}

void TstLabPing::pingHostReports_data()
{
    QTest::addColumn<QString>("target");
    QTest::addColumn<int>("result");
    QTest::addColumn<QString>("messageStart");
    QTest::newRow("present") << "CORLA_LAB_PRESENT" << int(TevPingReplied)
                             << "Sent icmp message to 10.10.0.254\nReceived 1 icmp message "
                                "response \nInformation from the first response: Received from "
                                "10.10.0.254\nStatus = 0Roundtrip time = ";
    QTest::newRow("router reports unreachable")
        << "CORLA_LAB_ROUTER_UNREACH" << int(TevPingReplied)
        << "Sent icmp message to 10.99.0.5\nReceived 1 icmp message response \nInformation from "
           "the first response: Received from 10.10.0.254\nStatus = 769Roundtrip time = ";
}

void TstLabPing::pingHostReports()
{
    QFETCH(QString, target);
    QFETCH(int, result);
    QFETCH(QString, messageStart);
    DebugCapture capture;
    QCOMPARE(int(TevPingHelper::pingHost(TevIpAddr(labAddress(qPrintable(target))), 100)), result);
    QCOMPARE(capture.messages().size(), 1);
    QVERIFY2(capture.messages().first().startsWith(messageStart),
             qPrintable(capture.messages().first()));
}

void TstLabPing::ipCheckerReportsOnce_data()
{
    QTest::addColumn<QString>("target");
    QTest::addColumn<int>("result");
    QTest::newRow("address in use") << "CORLA_LAB_PRESENT" << int(TevPingReplied);
    QTest::newRow("free address") << "CORLA_LAB_ABSENT" << int(TevPingNoReply);
}

void TstLabPing::ipCheckerReportsOnce()
{
    QFETCH(QString, target);
    QFETCH(int, result);
    const TevIpAddr address(labAddress(qPrintable(target)));
    const ZelDevice device(1005, ZelDeviceType::NerioHF, TevNetHostInfo(TevIpAddr("10.10.0.15")));
    TevNetHostInfo proposed(address);
    proposed.setSubnet(TevIpAddr("255.255.255.0"));

    QPointer<IpChecker> checker = new IpChecker(device, proposed);
    QSignalSpy spy(checker.data(), &IpChecker::ipCheckResult);
    checker->checkIpExistence();
    QVERIFY(spy.wait(2000));
    QCOMPARE(int(spy.at(0).at(0).value<TevPingResult>()), result);
    QCOMPARE(spy.at(0).at(1).value<TevDevice>().serial(), uint16_t(1005));
    QVERIFY(spy.at(0).at(2).value<TevNetHostInfo>() == proposed);
    QTRY_VERIFY(checker.isNull());
    QTest::qWait(200);
    QCOMPARE(spy.count(), 1);
}

QTEST_GUILESS_MAIN(TstLabPing)
#include "tst_lab_ping.moc"
