// SPDX-License-Identifier: Apache-2.0
// SPDX-FileCopyrightText: 2026 The Corla developers
// The simulator's device logic without a network: fleets, verdicts on settings, fault shapes.
#include "tests/support/datarow.h"
#include "tools/corla-sim/simfleet.h"
#include "tools/corla-sim/simwire.h"

#include <QTest>

#include <tuple>

using namespace corla;

Q_DECLARE_METATYPE(NetworkSettings)
Q_DECLARE_METATYPE(SimFaults)
Q_DECLARE_METATYPE(Refusal)

namespace {

// Tavio LF #1001: static at 10.10.0.11/24, gateway and DNS 10.10.0.254.
SimDevice staticDevice()
{
    return defaultFleet().first();
}

NetworkSettings request(int mode, const char* ip, const char* mask, const char* gateway = "0.0.0.0")
{
    return NetworkSettings(Ipv4Address(ip), Ipv4Address(mask), Ipv4Address(gateway), Ipv4Address(),
                           staticDevice().net.macAddress(), AddressMode(mode));
}

} // namespace

class TestSimCore : public QObject
{
    Q_OBJECT

private slots:
    void fleetJsonRoundTrip()
    {
        SimFleet fleet = defaultFleet();
        fleet[0].resetSilenceMs = 250;
        fleet[1].net.setAddressMode(AddressMode(7));
        SimFleet back;
        QString error;
        QVERIFY2(parseFleet(fleetToJson(fleet), &back, &error), qPrintable(error));
        QCOMPARE(back.size(), fleet.size());
        const auto fields = [](const SimDevice& d) {
            return std::tie(d.type, d.serial, d.net, d.port21, d.web, d.refuse, d.resetSilenceMs,
                            d.iface);
        };
        for (int i = 0; i < fleet.size(); ++i)
            QVERIFY2(fields(back[i]) == fields(fleet[i]), qPrintable(QString::number(i)));

        // Only type, serial and MAC are required; the mask follows the address's class.
        QVERIFY(parseFleet(R"([{"type": 66, "serial": 7, "mac": "02-00-00-00-00-07",
                               "ip": "172.16.3.4"}])",
                           &back, &error));
        QCOMPARE(back[0].net.addressMode(), AddressModeStatic);
        QVERIFY(back[0].port21 && !back[0].web);
        QCOMPARE(back[0].net.subnetMask().toString(), std::string("255.255.0.0"));
    }

    void fleetJsonErrors_data()
    {
        columns<QByteArray, QString>({"json", "error"});
        const QByteArray ok = R"("type":1,"serial":2,"mac":"02:00:00:00:00:01")";
        row("object without devices", QByteArray(R"({"fleet": []})"), "expected");
        row("misspelt key", "[{" + ok + R"(,"port12":true}])", R"(key "port12")");
        row("type out of range", QByteArray(R"([{"type": 128}])"), "type");
        row("malformed address", "[{" + ok + R"(,"ip":"10.0.0.300"}])", "\"ip\"");
        row("MAC twice", "[{" + ok + "},{" + ok + "}]", "appears twice");
        row("mask with a hole", "[{" + ok + R"(,"ip":"10.0.0.5","mask":"255.0.255.0"}])",
            "\"mask\"");
    }

    void fleetJsonErrors()
    {
        QFETCH(QByteArray, json);
        QFETCH(QString, error);
        SimFleet fleet = defaultFleet();
        QString why;
        QVERIFY(!parseFleet(json, &fleet, &why));
        QVERIFY2(why.contains(error), qPrintable(why));
        QCOMPARE(fleet.size(), defaultFleet().size()); // left alone
    }

    void judgeChange_data()
    {
        columns<int, NetworkSettings, Refusal>({"currentMode", "requested", "expected"});
        const char *m = "255.255.255.0", *a = "10.10.0.77", *none = "0.0.0.0";
        const int D = AddressModeDhcp, M = AddressModeStatic;
        using R = Refusal;
        row("no gateway", M, request(M, a, m), R::None);
        row("DHCP device pins its lease", D, request(M, "10.10.0.11", m), R::None);
        row("repeated copy of the change made", M, staticDevice().net, R::None);
        row("mode not set", M, request(0, a, m), R::InvalidMode);
        row("mask with a hole", M, request(M, a, "255.0.255.0"), R::InvalidSubnet);
        row("address zero", M, request(M, none, m), R::InvalidAddress);
        row("limited broadcast", M, request(M, "255.255.255.255", m), R::BroadcastAddress);
        row("unchanged address", M, request(M, "10.10.0.11", m), R::SameAddress);
        row("gateway outside the subnet", M, request(M, a, m, "10.20.0.254"), R::InvalidGateway);
    }

    void judgeChange()
    {
        QFETCH(int, currentMode);
        QFETCH(NetworkSettings, requested);
        QFETCH(Refusal, expected);
        SimDevice d = staticDevice();
        d.net.setAddressMode(AddressMode(currentMode));
        QCOMPARE(int(::judgeChange(d, requested)), int(expected));
    }

    void faultShapes_data()
    {
        // Three 32-byte answers: the sizes of the datagrams that carry them.
        columns<SimFaults, QString>({"faults", "sizes"});
        row("duplicate", SimFaults{true, {}, 0, 1, -1, false}, "32 32 32 32 32 32");
        row("stray bytes", SimFaults{false, "\x11\x22", 0, 1, -1, false}, "34 34 34");
        row("two frames per datagram", SimFaults{false, {}, 0, 2, -1, false}, "64 32");
        row("unknown code", SimFaults{false, {}, 0, 1, 0x41, false}, "47 47 47");
        row("all at once, split", SimFaults{true, "\x11", 10, 1, -1, false},
            "10 23 10 23 10 23 10 23 10 23 10 23");
    }

    void faultShapes()
    {
        QFETCH(SimFaults, faults);
        QFETCH(QString, sizes);
        const QByteArray frame = enquiryAnswer(staticDevice(), false);
        QStringList actual;
        for (const QByteArray& datagram : shapeAnswers({frame, frame, frame}, faults))
            actual << QString::number(datagram.size());
        QCOMPARE(actual.join(' '), sizes);
    }
};

QTEST_GUILESS_MAIN(TestSimCore)
#include "tst_simcore.moc"
