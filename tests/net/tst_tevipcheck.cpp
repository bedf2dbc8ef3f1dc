#include "nettestutil.h"
#include "tevipcheck.h"

#include <QPointer>
#include <QThread>
#include <QtTest>

namespace {

TevNetHostInfo settingsFor(const char* ip)
{
    const uint8_t mac[6] = {0x5e, 0x4d, 0x3c, 0x2b, 0x1a, 0x00};
    return TevNetHostInfo(TevIpAddr(ip).toInt(), TevIpAddr("255.0.0.0").toInt(), 0, 0, mac,
                          TevAddressModeManual);
}

} // namespace

class TstIpChecker : public QObject
{
    Q_OBJECT

private slots:
    void reportsOnceWithItsOwnCopies_data();
    void reportsOnceWithItsOwnCopies();
    void twoCheckersEachReportOnce();
};

void TstIpChecker::reportsOnceWithItsOwnCopies_data()
{
    QTest::addColumn<QString>("address");
    QTest::addColumn<int>("expected");
    QTest::newRow("a host answers") << "127.0.0.1" << int(TevPingReplied);
    QTest::newRow("no route, nobody answers") << "203.0.113.9" << int(TevPingNoReply);
}

void TstIpChecker::reportsOnceWithItsOwnCopies()
{
    QFETCH(QString, address);
    QFETCH(int, expected);

    ZelDevice device(1234, ZelDeviceType::NerioHF, settingsFor("10.0.0.5"));
    TevNetHostInfo proposed = settingsFor(qPrintable(address));
    const ZelDevice originalDevice = device;
    const TevNetHostInfo originalProposed = proposed;

    DebugCapture capture;
    QPointer<IpChecker> checker = new IpChecker(device, proposed);
    QSignalSpy spy(checker.data(), &IpChecker::ipCheckResult);
    QThread* deliveredOn = nullptr;
    connect(checker.data(), &IpChecker::ipCheckResult, this,
            [&deliveredOn] { deliveredOn = QThread::currentThread(); });
    checker->checkIpExistence();
    // The caller's records change while the echo runs; the result must not follow them.
    device.setSerial(1);
    proposed.setIpAddress(TevIpAddr("10.9.9.9"));

    QVERIFY(spy.wait(2000));
    QCOMPARE(deliveredOn, thread());
    const QList<QVariant> args = spy.takeFirst();
    QCOMPARE(int(args.at(0).value<TevPingResult>()), expected);
    const TevDevice reported = args.at(1).value<TevDevice>();
    QCOMPARE(reported.serial(), originalDevice.serial());
    QCOMPARE(reported.devType(), originalDevice.devType());
    QVERIFY(reported.netHostInfo() == originalDevice.netHostInfo());
    QVERIFY(args.at(2).value<TevNetHostInfo>() == originalProposed);
    QVERIFY(capture.messages().contains(QStringLiteral("Ping result: %1").arg(expected)));

    // Having reported, the checker goes away by itself and says nothing more.
    QTRY_VERIFY(checker.isNull());
    QTest::qWait(100);
    QCOMPARE(spy.count(), 0);
}

void TstIpChecker::twoCheckersEachReportOnce()
{
    const ZelDevice device(7, ZelDeviceType::Dorvi, settingsFor("10.0.0.7"));
    auto* first = new IpChecker(device, settingsFor("127.0.0.1"));
    auto* second = new IpChecker(device, settingsFor("127.0.0.2"));
    QSignalSpy firstSpy(first, &IpChecker::ipCheckResult);
    QSignalSpy secondSpy(second, &IpChecker::ipCheckResult);
    first->checkIpExistence();
    second->checkIpExistence();
    QTRY_COMPARE(firstSpy.count(), 1);
    QTRY_COMPARE(secondSpy.count(), 1);
    QCOMPARE(firstSpy.at(0).at(2).value<TevNetHostInfo>().ipAddress(), TevIpAddr("127.0.0.1"));
    QCOMPARE(secondSpy.at(0).at(2).value<TevNetHostInfo>().ipAddress(), TevIpAddr("127.0.0.2"));
    QTest::qWait(150);
    QCOMPARE(firstSpy.count(), 1);
    QCOMPARE(secondSpy.count(), 1);
}

QTEST_GUILESS_MAIN(TstIpChecker)
#include "tst_tevipcheck.moc"
