// SPDX-License-Identifier: Apache-2.0
// SPDX-FileCopyrightText: 2026 The Corla developers
#include "debugcapture.h"
#include "labguard.h"
#include "settle.h"
#include "tevipcheck.h"

#include <QPointer>
#include <QThread>
#include <QtTest>

#include <memory>

namespace {

TevNetHostInfo settingsFor(const char* ip)
{
    return TevNetHostInfo(TevIpAddr(ip), TevIpAddr("255.0.0.0"), TevIpAddr(), TevIpAddr(),
                          TevMacAddr({0x5e, 0x4d, 0x3c, 0x2b, 0x1a, 0x00}), TevAddressModeManual);
}

} // namespace

class TstIpChecker : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { CORLA_REQUIRE_PRIVATE_NETNS(); }
    void eachReportsOnceWithItsOwnCopies()
    {
        // Two checkers at once: a host answers at the first address; the second has no route.
        ZelDevice device(1234, ZelDeviceType::NerioHF, settingsFor("10.0.0.5"));
        const ZelDevice originalDevice = device;
        TevNetHostInfo proposed[] = {settingsFor("127.0.0.1"), settingsFor("203.0.113.9")};
        const TevNetHostInfo originals[] = {proposed[0], proposed[1]};
        const int expected[] = {TevPingReplied, TevPingNoReply};
        const CorlaInUseBy answeredBy[] = {CorlaInUseBy::Echo, CorlaInUseBy::Nobody};
        DebugCapture capture;
        QPointer<IpChecker> checkers[2];
        std::unique_ptr<QSignalSpy> spies[2];
        QList<QThread*> deliveredOn;
        for (int i = 0; i < 2; ++i) {
            checkers[i] = new IpChecker(device, proposed[i]);
            spies[i] = std::make_unique<QSignalSpy>(checkers[i].data(), &IpChecker::ipCheckResult);
            connect(checkers[i].data(), &IpChecker::ipCheckResult, this,
                    [&deliveredOn] { deliveredOn << QThread::currentThread(); });
            checkers[i]->checkIpExistence();
        }
        // The caller's records change while the echoes run; the results must not follow them.
        device.setSerial(1);
        proposed[0].setIpAddress(TevIpAddr("10.9.9.9"));
        proposed[1].setIpAddress(TevIpAddr("10.9.9.9"));

        for (int i = 0; i < 2; ++i) {
            QTRY_COMPARE(spies[i]->count(), 1);
            const QList<QVariant> args = spies[i]->at(0);
            QCOMPARE(int(args.at(0).value<TevPingResult>()), expected[i]);
            const TevDevice reported = args.at(1).value<TevDevice>();
            QCOMPARE(reported.serial(), originalDevice.serial());
            QVERIFY(reported.netHostInfo() == originalDevice.netHostInfo());
            QVERIFY(args.at(2).value<TevNetHostInfo>() == originals[i]);
            QVERIFY(args.at(3).value<TevAddressUse>().by == answeredBy[i]);
            QVERIFY(
                capture.messages().contains(QStringLiteral("Ping result: %1").arg(expected[i])));
            // Having reported, the checker goes away by itself and says nothing more.
            QTRY_VERIFY(checkers[i].isNull());
        }
        QCOMPARE(deliveredOn, (QList<QThread*>{thread(), thread()}));
        settle();
        QCOMPARE(spies[0]->count() + spies[1]->count(), 2);
    }
};

QTEST_GUILESS_MAIN(TstIpChecker)
#include "tst_tevipcheck.moc"
