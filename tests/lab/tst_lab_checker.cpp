// Port checks against the default fleet of the lab's simulator and its special addresses.
#include "labguard.h"
#include "zelconnectionchecker.h"

#include <QElapsedTimer>
#include <QtTest>

namespace {

// One reported pair: reachability and port state, and when it came.
struct Pair
{
    int net;
    int port;
    qint64 atMs;
};

class PairRecorder : public QObject
{
public:
    explicit PairRecorder(ZelConnectionChecker* checker)
    {
        m_clock.start();
        connect(checker, &ZelConnectionChecker::netHostStatus, this,
                [this](const TevDevice&, ZelPort, ZelNetworkStatus s) { m_net = int(s); });
        connect(checker, &ZelConnectionChecker::portStatus, this,
                [this](const TevDevice& d, ZelPort, ZelPortConnStatus s) {
                    pairs.append({m_net, int(s), m_clock.elapsed()});
                    serials.append(d.serial());
                });
    }
    QList<Pair> pairs;
    QList<uint16_t> serials;

private:
    int m_net = -1;
    QElapsedTimer m_clock;
};

constexpr int kReachable = int(ZelNetworkStatus::Reachable);
constexpr int kUnreachable = int(ZelNetworkStatus::Unreachable);
constexpr int kAvailable = int(ZelPortConnStatus::Available);
constexpr int kUnavailable = int(ZelPortConnStatus::Unavailable);

TevDevice deviceAt(const QString& ip, uint16_t serial = 1)
{
    return TevDevice(serial, ZelDeviceType::NerioHF, TevNetHostInfo(TevIpAddr(ip.toStdString())));
}

} // namespace

class TstLabChecker : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void openPortIsReportedOnce();
    void closedPortIsReportedTwice_data();
    void closedPortIsReportedTwice();
    void silentAddressReportsAtTheLimitAndAgainLater();
};

void TstLabChecker::initTestCase()
{
    CORLA_REQUIRE_LAB();
}

void TstLabChecker::openPortIsReportedOnce()
{
    // Nerio HF #1005 at 10.10.0.15 listens on port 21.
    ZelConnectionChecker checker(nullptr);
    checker.setConnectionTimeout(1000);
    PairRecorder rec(&checker);
    checker.checkPort(deviceAt("10.10.0.15", 1005), ZelPort::Ftp);
    QTRY_COMPARE_WITH_TIMEOUT(rec.pairs.size(), 1, 1000);
    QCOMPARE(rec.pairs[0].net, kReachable);
    QCOMPARE(rec.pairs[0].port, kAvailable);
    QCOMPARE(rec.serials[0], uint16_t(1005));
    QTest::qWait(1500);
    QCOMPARE(rec.pairs.size(), 1);
}

void TstLabChecker::closedPortIsReportedTwice_data()
{
    QTest::addColumn<QString>("address");
    // Tavio #1004 at 10.10.0.14 has no listener on port 21: the device side refuses.
    QTest::newRow("refused by the device") << "10.10.0.14";
    QTest::newRow("no route to the address") << corlaLabEnv("CORLA_LAB_NOROUTE");
}

void TstLabChecker::closedPortIsReportedTwice()
{
    QFETCH(QString, address);
    ZelConnectionChecker checker(nullptr);
    checker.setConnectionTimeout(1000);
    PairRecorder rec(&checker);
    checker.checkPort(deviceAt(address), ZelPort::Ftp);
    QTRY_COMPARE_WITH_TIMEOUT(rec.pairs.size(), 1, 500);
    QVERIFY(rec.pairs[0].atMs < 500);
    QTRY_COMPARE_WITH_TIMEOUT(rec.pairs.size(), 2, 1500);
    QVERIFY2(rec.pairs[1].atMs >= 940, "the second report comes with the time limit");
    for (const Pair& p : qAsConst(rec.pairs)) {
        QCOMPARE(p.net, kUnreachable);
        QCOMPARE(p.port, kUnavailable);
    }
    QTest::qWait(500);
    QCOMPARE(rec.pairs.size(), 2);
}

void TstLabChecker::silentAddressReportsAtTheLimitAndAgainLater()
{
    // Nobody answers ARP for the absent address: the limit passes first (coarse timers may
    // fire up to 5% early), and the attempt
    // goes on until the system gives up on the neighbour ("Host unreachable").
    ZelConnectionChecker checker(nullptr);
    checker.setConnectionTimeout(1000);
    PairRecorder rec(&checker);
    checker.checkPort(deviceAt(corlaLabEnv("CORLA_LAB_ABSENT")), ZelPort::Ftp);
    QTRY_COMPARE_WITH_TIMEOUT(rec.pairs.size(), 1, 1500);
    QVERIFY2(rec.pairs[0].atMs >= 940 && rec.pairs[0].atMs < 1400,
             qPrintable(QString::number(rec.pairs[0].atMs)));
    QTRY_COMPARE_WITH_TIMEOUT(rec.pairs.size(), 2, 15000);
    QVERIFY(rec.pairs[1].atMs > 2000);
    for (const Pair& p : qAsConst(rec.pairs)) {
        QCOMPARE(p.net, kUnreachable);
        QCOMPARE(p.port, kUnavailable);
    }
}

QTEST_GUILESS_MAIN(TstLabChecker)
#include "tst_lab_checker.moc"
