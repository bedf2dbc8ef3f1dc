#include "zelconnectionchecker.h"

#include <QElapsedTimer>
#include <QPointer>
#include <QTcpServer>
#include <QtTest>

namespace {

// One report of either signal, in arrival order, with its time since the start.
struct Report
{
    QString signal;
    uint16_t serial;
    int status;
    qint64 atMs;
};

class Recorder : public QObject
{
public:
    explicit Recorder(ZelConnectionChecker* checker)
    {
        m_clock.start();
        connect(checker, &ZelConnectionChecker::netHostStatus, this,
                [this](const TevDevice& d, ZelPort port, ZelNetworkStatus s) {
                    add("net", d, port, static_cast<int>(s));
                });
        connect(checker, &ZelConnectionChecker::portStatus, this,
                [this](const TevDevice& d, ZelPort port, ZelPortConnStatus s) {
                    add("port", d, port, static_cast<int>(s));
                });
    }
    QList<Report> reports;
    QList<ZelPort> ports;

private:
    void add(const char* signal, const TevDevice& device, ZelPort port, int status)
    {
        reports.append({QString::fromLatin1(signal), device.serial(), status, m_clock.elapsed()});
        ports.append(port);
    }
    QElapsedTimer m_clock;
};

TevDevice deviceAt(uint16_t serial, const char* ip)
{
    return ZelDevice(serial, ZelDeviceType::NerioHF, TevNetHostInfo(TevIpAddr(ip)));
}

constexpr int kReachable = int(ZelNetworkStatus::Reachable);
constexpr int kUnreachable = int(ZelNetworkStatus::Unreachable);
constexpr int kNoIp = int(ZelNetworkStatus::NoIp);
constexpr int kAvailable = int(ZelPortConnStatus::Available);
constexpr int kUnavailable = int(ZelPortConnStatus::Unavailable);

// A loopback port that nobody listens on: bind, note the port, close.
quint16 closedLoopbackPort()
{
    QTcpServer probe;
    if (!probe.listen(QHostAddress::LocalHost))
        return 0;
    const quint16 port = probe.serverPort();
    probe.close();
    return port;
}

} // namespace

class TstZelConnectionChecker : public QObject
{
    Q_OBJECT

private slots:
    void deviceWithoutAddressIsReportedAtOnce();
    void refusalIsReportedTwice();
    void acceptedConnectionIsReportedOnce();
    void checksReportIndependently();
    void checksOutlivingTheCheckerStaySilent();
};

void TstZelConnectionChecker::deviceWithoutAddressIsReportedAtOnce()
{
    ZelConnectionChecker checker(nullptr);
    Recorder rec(&checker);
    checker.checkPort(deviceAt(42, "0.0.0.0"), ZelPort::Ftp);
    // Before returning to the event loop:
    QCOMPARE(rec.reports.size(), 2);
    QCOMPARE(rec.reports[0].signal, QStringLiteral("net"));
    QCOMPARE(rec.reports[0].status, kNoIp);
    QCOMPARE(rec.reports[1].signal, QStringLiteral("port"));
    QCOMPARE(rec.reports[1].status, kUnavailable);
    QCOMPARE(rec.reports[1].serial, uint16_t(42));
    QCOMPARE(rec.ports, (QList<ZelPort>{ZelPort::Ftp, ZelPort::Ftp}));
    QTest::qWait(100);
    QCOMPARE(rec.reports.size(), 2);
}

void TstZelConnectionChecker::refusalIsReportedTwice()
{
    const quint16 port = closedLoopbackPort();
    QVERIFY(port != 0);
    ZelConnectionChecker checker(nullptr);
    checker.setConnectionTimeout(300);
    Recorder rec(&checker);
    checker.checkPort(deviceAt(7, "127.0.0.1"), static_cast<ZelPort>(port));

    QTRY_COMPARE_WITH_TIMEOUT(rec.reports.size(), 2, 250);
    QVERIFY2(rec.reports[1].atMs < 250, "the refusal is reported at once");
    QTRY_COMPARE_WITH_TIMEOUT(rec.reports.size(), 4, 1000);
    QVERIFY2(rec.reports[2].atMs >= 280, "the second report comes with the time limit");
    for (int i = 0; i < 4; ++i) {
        QCOMPARE(rec.reports[i].signal, QString::fromLatin1(i % 2 ? "port" : "net"));
        QCOMPARE(rec.reports[i].status, i % 2 ? kUnavailable : kUnreachable);
        QCOMPARE(rec.ports[i], static_cast<ZelPort>(port));
    }
    QTest::qWait(400);
    QCOMPARE(rec.reports.size(), 4);
}

void TstZelConnectionChecker::acceptedConnectionIsReportedOnce()
{
    QTcpServer server;
    QVERIFY(server.listen(QHostAddress::LocalHost));
    ZelConnectionChecker checker(nullptr);
    checker.setConnectionTimeout(300);
    Recorder rec(&checker);
    checker.checkPort(deviceAt(9, "127.0.0.1"), static_cast<ZelPort>(server.serverPort()));

    QTRY_COMPARE_WITH_TIMEOUT(rec.reports.size(), 2, 250);
    QCOMPARE(rec.reports[0].status, kReachable);
    QCOMPARE(rec.reports[1].status, kAvailable);
    // The device closing the unused connection right away changes nothing.
    QTRY_VERIFY(server.hasPendingConnections());
    delete server.nextPendingConnection();
    QTest::qWait(500);
    QCOMPARE(rec.reports.size(), 2);
}

void TstZelConnectionChecker::checksReportIndependently()
{
    QTcpServer server;
    QVERIFY(server.listen(QHostAddress::LocalHost));
    const quint16 closed = closedLoopbackPort();
    ZelConnectionChecker checker(nullptr);
    checker.setConnectionTimeout(200);
    Recorder rec(&checker);
    ZelDevice open(1, ZelDeviceType::NerioHF, TevNetHostInfo(TevIpAddr("127.0.0.1")));
    checker.checkPort(open, static_cast<ZelPort>(server.serverPort()));
    checker.checkPort(deviceAt(2, "127.0.0.1"), static_cast<ZelPort>(closed));
    // The caller's record may change at once; the reports carry the copy.
    open.setSerial(99);

    QTest::qWait(500);
    QList<int> statusesOf1, statusesOf2;
    for (const Report& r : qAsConst(rec.reports))
        (r.serial == 1 ? statusesOf1 : statusesOf2).append(r.status);
    QCOMPARE(statusesOf1, (QList<int>{kReachable, kAvailable}));
    QCOMPARE(statusesOf2, (QList<int>{kUnreachable, kUnavailable, kUnreachable, kUnavailable}));
}

void TstZelConnectionChecker::checksOutlivingTheCheckerStaySilent()
{
    QTcpServer server;
    QVERIFY(server.listen(QHostAddress::LocalHost));
    const quint16 closed = closedLoopbackPort();
    int reports = 0;
    {
        ZelConnectionChecker checker(nullptr);
        checker.setConnectionTimeout(150);
        connect(&checker, &ZelConnectionChecker::netHostStatus, this, [&reports] { ++reports; });
        checker.checkPort(deviceAt(1, "127.0.0.1"), static_cast<ZelPort>(server.serverPort()));
        checker.checkPort(deviceAt(2, "127.0.0.1"), static_cast<ZelPort>(closed));
    }
    // Connection, refusal and time limit all come after the checker has gone.
    QTest::qWait(400);
    QCOMPARE(reports, 0);
}

QTEST_GUILESS_MAIN(TstZelConnectionChecker)
#include "tst_zelconnectionchecker.moc"
