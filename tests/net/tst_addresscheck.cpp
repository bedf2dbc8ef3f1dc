// SPDX-License-Identifier: Apache-2.0
// SPDX-FileCopyrightText: 2026 The Corla developers
#include "core/net/addresscheck.h"
#include "tests/support/debugcapture.h"
#include "tests/support/labguard.h"
#include "tests/support/settle.h"

#include <QPointer>
#include <QThread>
#include <QtTest>

#include <memory>

using namespace corla;

namespace {

NetworkSettings settingsFor(const char* ip)
{
    return NetworkSettings(Ipv4Address(ip), Ipv4Address("255.0.0.0"), Ipv4Address(), Ipv4Address(),
                           MacAddress({0x5e, 0x4d, 0x3c, 0x2b, 0x1a, 0x00}), AddressModeStatic);
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
        Device device(1234, DeviceType::NerioHF, settingsFor("10.0.0.5"));
        const Device originalDevice = device;
        NetworkSettings proposed[] = {settingsFor("127.0.0.1"), settingsFor("203.0.113.9")};
        const NetworkSettings originals[] = {proposed[0], proposed[1]};
        const int expected[] = {PingReplied, PingNoReply};
        const InUseBy answeredBy[] = {InUseBy::Echo, InUseBy::Nobody};
        DebugCapture capture;
        QPointer<AddressCheck> checkers[2];
        std::unique_ptr<QSignalSpy> spies[2];
        QList<QThread*> deliveredOn;
        for (int i = 0; i < 2; ++i) {
            checkers[i] = new AddressCheck(device, proposed[i]);
            spies[i] =
                std::make_unique<QSignalSpy>(checkers[i].data(), &AddressCheck::ipCheckResult);
            connect(checkers[i].data(), &AddressCheck::ipCheckResult, this,
                    [&deliveredOn] { deliveredOn << QThread::currentThread(); });
            checkers[i]->checkIpExistence();
        }
        // The caller's records change while the echoes run; the results must not follow them.
        device.setSerial(1);
        proposed[0].setIpAddress(Ipv4Address("10.9.9.9"));
        proposed[1].setIpAddress(Ipv4Address("10.9.9.9"));

        for (int i = 0; i < 2; ++i) {
            QTRY_COMPARE(spies[i]->count(), 1);
            const QList<QVariant> args = spies[i]->at(0);
            QCOMPARE(int(args.at(0).value<PingResult>()), expected[i]);
            const Device reported = args.at(1).value<Device>();
            QCOMPARE(reported.serial(), originalDevice.serial());
            QVERIFY(reported.netHostInfo() == originalDevice.netHostInfo());
            QVERIFY(args.at(2).value<NetworkSettings>() == originals[i]);
            QVERIFY(args.at(3).value<AddressUse>().by == answeredBy[i]);
            QVERIFY(
                capture.messages().contains(QStringLiteral("Ping result: %1").arg(expected[i])));
            QTRY_VERIFY(checkers[i].isNull());
        }
        QCOMPARE(deliveredOn, (QList<QThread*>{thread(), thread()}));
        settle();
        QCOMPARE(spies[0]->count() + spies[1]->count(), 2);
    }
};

QTEST_GUILESS_MAIN(TstIpChecker)
#include "tst_addresscheck.moc"
