// Port checks on loopback. Open, refused, unroutable and silent addresses, with the time of
// each report, are checked against the simulator in the lab (tst_lab_checker).
#include "labguard.h"
#include "zelconnectionchecker.h"

#include <QTcpServer>
#include <QtTest>

namespace {

// One report: "net" or "port", the device's serial, the port checked and the status.
template <class Status> QString report(const char* signal, uint16_t serial, ZelPort port, Status s)
{
    return QStringLiteral("%1 %2 :%3 %4").arg(signal).arg(serial).arg(int(port)).arg(int(s));
}

// Appends every report of either signal to `reports`, in arrival order.
void record(ZelConnectionChecker* checker, QStringList* reports)
{
    QObject::connect(checker, &ZelConnectionChecker::netHostStatus,
                     [reports](const TevDevice& d, ZelPort port, ZelNetworkStatus s) {
                         *reports << report("net", d.serial(), port, s);
                     });
    QObject::connect(checker, &ZelConnectionChecker::portStatus,
                     [reports](const TevDevice& d, ZelPort port, ZelPortConnStatus s) {
                         *reports << report("port", d.serial(), port, s);
                     });
}

TevDevice deviceAt(uint16_t serial, const char* ip)
{
    return ZelDevice(serial, ZelDeviceType::NerioHF, TevNetHostInfo(TevIpAddr(ip)));
}

// A loopback port that nobody listens on: bind, note the port, close.
ZelPort closedLoopbackPort()
{
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost);
    return ZelPort(probe.serverPort());
}

} // namespace

class TstZelConnectionChecker : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { CORLA_REQUIRE_PRIVATE_NETNS(); }
    void deviceWithoutAddressIsReportedAtOnce()
    {
        QStringList reports;
        ZelConnectionChecker checker(nullptr);
        record(&checker, &reports);
        checker.checkPort(deviceAt(42, "0.0.0.0"), ZelPort::Ftp);
        // Before returning to the event loop:
        QCOMPARE(reports,
                 QStringList({report("net", 42, ZelPort::Ftp, ZelNetworkStatus::NoIp),
                              report("port", 42, ZelPort::Ftp, ZelPortConnStatus::Unavailable)}));
        QTest::qWait(100);
        QCOMPARE(reports.size(), 2);
    }

    void checksReportIndependently()
    {
        // An open port is reported once, even when the device closes the unused connection
        // at once; a refused one at once and again at the time limit.
        QTcpServer server;
        QVERIFY(server.listen(QHostAddress::LocalHost));
        const ZelPort closed = closedLoopbackPort();
        QStringList reports;
        ZelConnectionChecker checker(nullptr);
        checker.setConnectionTimeout(200);
        record(&checker, &reports);
        ZelDevice open(1, ZelDeviceType::NerioHF, TevNetHostInfo(TevIpAddr("127.0.0.1")));
        const ZelPort listening = ZelPort(server.serverPort());
        checker.checkPort(open, listening);
        checker.checkPort(deviceAt(2, "127.0.0.1"), closed);
        // The caller's record may change at once; the reports carry the copy.
        open.setSerial(99);
        QTRY_VERIFY(server.hasPendingConnections());
        delete server.nextPendingConnection();
        QTest::qWait(500);
        QCOMPARE(reports.filter(" 1 :"),
                 QStringList({report("net", 1, listening, ZelNetworkStatus::Reachable),
                              report("port", 1, listening, ZelPortConnStatus::Available)}));
        const QStringList refused = {report("net", 2, closed, ZelNetworkStatus::Unreachable),
                                     report("port", 2, closed, ZelPortConnStatus::Unavailable)};
        QCOMPARE(reports.filter(" 2 :"), refused + refused);
    }

    void checksOutlivingTheCheckerStaySilent()
    {
        QTcpServer server;
        QVERIFY(server.listen(QHostAddress::LocalHost));
        int reports = 0;
        {
            ZelConnectionChecker checker(nullptr);
            checker.setConnectionTimeout(150);
            connect(&checker, &ZelConnectionChecker::netHostStatus, this,
                    [&reports] { ++reports; });
            checker.checkPort(deviceAt(1, "127.0.0.1"), ZelPort(server.serverPort()));
            checker.checkPort(deviceAt(2, "127.0.0.1"), closedLoopbackPort());
        }
        // Connection, refusal and time limit all come after the checker has gone.
        QTest::qWait(400);
        QCOMPARE(reports, 0);
    }
};

QTEST_GUILESS_MAIN(TstZelConnectionChecker)
#include "tst_zelconnectionchecker.moc"
