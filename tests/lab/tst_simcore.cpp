// The simulator's device logic without a network: its fleets, its verdicts on new
// settings, the requests it refuses to read, and the shapes of its faults. What it says on
// the wire is checked in the lab (tst_labsim, tst_lab_adapter).

#include "simfleet.h"
#include "simwire.h"
#include "zelutil.h"

#include <QSet>
#include <QTest>

#include <tuple>

Q_DECLARE_METATYPE(TevNetHostInfo)
Q_DECLARE_METATYPE(SimFaults)
Q_DECLARE_METATYPE(CorlaRefusal)

namespace {

// Tavio LF #1001: static at 10.10.0.11/24, gateway and DNS 10.10.0.254.
SimDevice staticDevice()
{
    return defaultFleet().first();
}

TevNetHostInfo request(int mode, const char* ip, const char* mask, const char* gateway = "0.0.0.0")
{
    return TevNetHostInfo(TevIpAddr(ip), TevIpAddr(mask), TevIpAddr(gateway), TevIpAddr(),
                          staticDevice().net.macAddress(), TevAddressMode(mode));
}

} // namespace

class TestSimCore : public QObject
{
    Q_OBJECT

private slots:
    void fleets()
    {
        // The default fleet has every named device type; a burst holds no MAC or address
        // twice, and none ending in 0 or 255.
        QSet<int> types;
        for (const SimDevice& d : defaultFleet())
            types.insert(d.type);
        for (const auto& entry : ZelUtil::deviceTypeNames) {
            if (int(entry.first) > 0)
                QVERIFY2(types.contains(int(entry.first)), entry.second.c_str());
        }
        QSet<uint32_t> ips;
        QSet<QString> macs;
        for (const SimDevice& d : burstFleet(5000, TevIpAddr("10.40.0.1"), "dev1")) {
            const uint32_t ip = d.net.ipAddress().toInt();
            QVERIFY(ip >> 16 == 0x0A28 && (ip & 0xFF) != 0 && (ip & 0xFF) != 255 && d.burst);
            ips.insert(ip);
            macs.insert(QString::fromStdString(d.net.macAddress().toString()));
        }
        QVERIFY(ips.size() == 5000 && macs.size() == 5000);
    }

    void fleetJsonRoundTrip()
    {
        SimFleet fleet = defaultFleet();
        fleet[0].resetSilenceMs = 250;
        fleet[1].net.setAddressMode(TevAddressMode(7));
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
        QCOMPARE(back[0].net.addressMode(), TevAddressModeManual);
        QVERIFY(back[0].port21 && !back[0].web);
        QCOMPARE(back[0].net.subnetMask().toString(), std::string("255.255.0.0"));
    }

    void fleetJsonErrors_data()
    {
        QTest::addColumn<QByteArray>("json");
        QTest::addColumn<QString>("error");
        const QByteArray ok = R"("type":1,"serial":2,"mac":"02:00:00:00:00:01")";
        QTest::newRow("object without devices") << QByteArray(R"({"fleet": []})") << "expected";
        QTest::newRow("misspelt key") << "[{" + ok + R"(,"port12":true}])"
                                      << R"(key "port12")";
        QTest::newRow("type out of range") << QByteArray(R"([{"type": 128}])") << "type";
        QTest::newRow("malformed address") << "[{" + ok + R"(,"ip":"10.0.0.300"}])"
                                           << "\"ip\"";
        QTest::newRow("MAC twice") << "[{" + ok + "},{" + ok + "}]"
                                   << "appears twice";
        QTest::newRow("entry not an object") << QByteArray("[3]") << "device 0: not an object";
        QTest::newRow("serial far beyond int")
            << QByteArray(R"([{"type":1,"serial":1e300,"mac":"02:00:00:00:00:01"}])") << "serial";
        QTest::newRow("fractional serial")
            << QByteArray(R"([{"type":1,"serial":2.5,"mac":"02:00:00:00:00:01"}])") << "serial";
        QTest::newRow("fractional mode") << "[{" + ok + R"(,"mode":1.5}])"
                                         << "\"mode\"";
        QTest::newRow("mode far beyond int") << "[{" + ok + R"(,"mode":-1e300}])"
                                             << "\"mode\"";
        QTest::newRow("mask with a hole")
            << "[{" + ok + R"(,"ip":"10.0.0.5","mask":"255.0.255.0"}])"
            << "\"mask\"";
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
        QTest::addColumn<int>("currentMode");
        QTest::addColumn<TevNetHostInfo>("requested");
        QTest::addColumn<CorlaRefusal>("expected");
        const char *m = "255.255.255.0", *a = "10.10.0.77", *none = "0.0.0.0";
        const int D = TevAddressModeAuto, M = TevAddressModeManual;
        using R = CorlaRefusal;
        QTest::newRow("no gateway") << M << request(M, a, m) << R::None;
        QTest::newRow("DHCP device pins its lease") << D << request(M, "10.10.0.11", m) << R::None;
        QTest::newRow("repeated copy of the change made") << M << staticDevice().net << R::None;
        QTest::newRow("mode not set") << M << request(0, a, m) << R::InvalidMode;
        QTest::newRow("mode 3") << M << request(3, a, m) << R::InvalidMode;
        QTest::newRow("mask with a hole") << M << request(M, a, "255.0.255.0") << R::InvalidSubnet;
        QTest::newRow("mask zero") << M << request(M, a, none) << R::InvalidSubnet;
        QTest::newRow("mask all ones") << M << request(M, a, "255.255.255.255") << R::InvalidSubnet;
        QTest::newRow("address zero") << M << request(M, none, m) << R::InvalidAddress;
        QTest::newRow("loopback") << M << request(M, "127.0.0.5", "255.0.0.0") << R::InvalidAddress;
        QTest::newRow("network address") << M << request(M, "10.10.0.0", m) << R::InvalidAddress;
        QTest::newRow("limited broadcast")
            << M << request(M, "255.255.255.255", m) << R::BroadcastAddress;
        QTest::newRow("unchanged address") << M << request(M, "10.10.0.11", m) << R::SameAddress;
        QTest::newRow("gateway outside the subnet")
            << M << request(M, a, m, "10.20.0.254") << R::InvalidGateway;
        QTest::newRow("gateway is the address") << M << request(M, a, m, a) << R::InvalidGateway;
    }

    void judgeChange()
    {
        QFETCH(int, currentMode);
        QFETCH(TevNetHostInfo, requested);
        QFETCH(CorlaRefusal, expected);
        SimDevice d = staticDevice();
        d.net.setAddressMode(TevAddressMode(currentMode));
        QCOMPARE(int(::judgeChange(d, requested)), int(expected));
    }

    void malformedRequestsAreRejected()
    {
        SimRequest r;
        QString why;
        for (const auto& [code, payload] :
             {std::make_pair(0x57, QByteArray(10, '\0')),
              std::make_pair(0x59, QByteArray("MAC=02:c0:1a:00:00:0f;PORT=65536")),
              std::make_pair(0x41, QByteArray(11, '\0'))}) {
            QVERIFY(!decodeRequest(uint8_t(code), {payload.begin(), payload.end()}, &r, &why));
            QVERIFY(!why.isEmpty());
        }
    }

    void faultShapes_data()
    {
        // Three 32-byte answers: the sizes of the datagrams that carry them.
        QTest::addColumn<SimFaults>("faults");
        QTest::addColumn<QString>("sizes");
        QTest::newRow("duplicate") << SimFaults{true, {}, 0, 1, -1, false} << "32 32 32 32 32 32";
        QTest::newRow("stray bytes") << SimFaults{false, "\x11\x22", 0, 1, -1, false} << "34 34 34";
        QTest::newRow("two frames per datagram")
            << SimFaults{false, {}, 0, 2, -1, false} << "64 32";
        QTest::newRow("unknown code") << SimFaults{false, {}, 0, 1, 0x41, false} << "47 47 47";
        QTest::newRow("all at once, split")
            << SimFaults{true, "\x11", 10, 1, -1, false} << "10 23 10 23 10 23 10 23 10 23 10 23";
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

    // What the rogue sender says about Tavio LF #1001 (10.10.0.11), datagram by datagram;
    // binary answers carry the MAC last octet first.
    void rogueDatagrams_data()
    {
        QTest::addColumn<int>("index");
        QTest::addColumn<QByteArray>("expected");
        const auto hex = [](const char* text) { return QByteArray::fromHex(text); };
        QTest::newRow("header announcing 16000 bytes") << 0 << hex("2a57803e");
        QTest::newRow("largest UDP payload of sync bytes") << 1 << QByteArray(65507, '*');
        QTest::newRow("enquiry answer cut before its CRC")
            << 2 << hex("2a571a0001e9030100001ac002020b000a0a00fffffffe000a0afe000a0a");
        QTest::newRow("change refused as broadcast")
            << 3 << hex("2a581c0001e9030100001ac0020400020b000a0a00fffffffe000a0afe000a0a5625");
        QTest::newRow("change accepted at .222")
            << 4 << hex("2a581c0001e9030100001ac002000002de000a0a00fffffffe000a0afe000a0a39da");
        QTest::newRow("reset") << 5
                               << hex("2a5915004d41433d30323a43303a31413a30303a30303a3031debe");
        QTest::newRow("header announcing 100 bytes, left hanging") << 6 << hex("2a576400");
    }

    void rogueDatagrams()
    {
        QFETCH(int, index);
        QFETCH(QByteArray, expected);
        const QList<QByteArray> datagrams = ::rogueDatagrams(staticDevice());
        QCOMPARE(datagrams.size(), 7);
        QCOMPARE(datagrams.at(index).toHex(), expected.toHex());
    }
};

QTEST_GUILESS_MAIN(TestSimCore)
#include "tst_simcore.moc"
