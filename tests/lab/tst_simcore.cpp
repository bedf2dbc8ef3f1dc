// The simulator's device logic without a network: its fleets, its verdicts on new
// settings, its answers as the program's codec reads them, and its fault shapes.

#include "labwire.h"
#include "simfleet.h"
#include "simwire.h"
#include "zelutil.h"

#include <QSet>
#include <QTest>

Q_DECLARE_METATYPE(TevNetHostInfo)
Q_DECLARE_METATYPE(SimFaults)

namespace {

TevMacAddr mac(const char* text)
{
    TevMacAddr m;
    TevMacAddr::parse(text, &m);
    return m;
}

TevNetHostInfo settings(TevAddressMode mode, const char* ip, const char* mask,
                        const char* gateway = "0.0.0.0", const char* dns = "0.0.0.0")
{
    return TevNetHostInfo(TevIpAddr(ip), TevIpAddr(mask), TevIpAddr(gateway), TevIpAddr(dns),
                          mac("02:c0:1a:00:00:01"), mode);
}

SimDevice staticDevice()
{
    SimDevice d;
    d.type = 5;
    d.serial = 1234;
    d.net =
        settings(TevAddressModeManual, "10.10.0.11", "255.255.255.0", "10.10.0.254", "10.10.0.254");
    return d;
}

} // namespace

class TestSimCore : public QObject
{
    Q_OBJECT

private slots:
    void defaultFleetCoversWhatTestsNeed();
    void burstFleetIsDistinct();
    void fleetJsonRoundTrip();
    void fleetJsonErrors_data();
    void fleetJsonErrors();
    void judgeChange_data();
    void judgeChange();
    void requestsDecodeAsTheProgramEncodesThem();
    void truncatedRequestsAreRejected_data();
    void truncatedRequestsAreRejected();
    void answersDecodeWithTheProgramsCodec_data();
    void answersDecodeWithTheProgramsCodec();
    void resetAnswerText();
    void faultShapes_data();
    void faultShapes();
};

void TestSimCore::defaultFleetCoversWhatTestsNeed()
{
    const SimFleet fleet = defaultFleet();
    QSet<int> types;
    QSet<QString> macs;
    int dhcp = 0, manual = 0, noAddress = 0, closed = 0, web = 0, refusing = 0;
    for (const SimDevice& d : fleet) {
        types.insert(d.type);
        macs.insert(QString::fromStdString(d.net.macAddress().toString()));
        dhcp += d.net.addressMode() == TevAddressModeAuto;
        manual += d.net.addressMode() == TevAddressModeManual;
        noAddress += d.net.ipAddress().toInt() == 0;
        closed += !d.port21;
        web += d.web;
        refusing += d.refuse != 0;
    }
    for (const auto& entry : ZelUtil::deviceTypeNames) {
        if (int(entry.first) > 0)
            QVERIFY2(types.contains(int(entry.first)), entry.second.c_str());
    }
    QCOMPARE(macs.size(), fleet.size());
    QVERIFY(dhcp >= 2 && manual >= 2);
    QCOMPARE(noAddress, 1);
    QVERIFY(closed >= 2);
    QVERIFY(web >= 2);
    QCOMPARE(refusing, 1);
}

void TestSimCore::burstFleetIsDistinct()
{
    const SimFleet fleet = burstFleet(5000, TevIpAddr("10.40.0.1"), "dev1");
    QCOMPARE(fleet.size(), 5000);
    QSet<QByteArray> macs;
    QSet<uint32_t> ips;
    for (const SimDevice& d : fleet) {
        const auto& octets = d.net.macAddress().octets();
        macs.insert(QByteArray(reinterpret_cast<const char*>(octets.data()), 6));
        const uint32_t ip = d.net.ipAddress().toInt();
        ips.insert(ip);
        QVERIFY((ip & 0xFF) != 0 && (ip & 0xFF) != 255);
        QCOMPARE(ip & 0xFFFF0000u, TevIpAddr("10.40.0.0").toInt());
        QCOMPARE(d.iface, QString("dev1"));
        QVERIFY(d.burst);
    }
    QCOMPARE(macs.size(), 5000);
    QCOMPARE(ips.size(), 5000);
    QCOMPARE(fleet.last().serial, uint16_t(5000));
}

void TestSimCore::fleetJsonRoundTrip()
{
    SimFleet fleet = defaultFleet();
    fleet[0].resetSilenceMs = 250;
    fleet[1].net.setAddressMode(TevAddressMode(7));
    SimFleet back;
    QString error;
    QVERIFY2(parseFleet(fleetToJson(fleet), &back, &error), qPrintable(error));
    QCOMPARE(back.size(), fleet.size());
    for (int i = 0; i < fleet.size(); ++i) {
        QCOMPARE(back[i].type, fleet[i].type);
        QCOMPARE(back[i].serial, fleet[i].serial);
        QVERIFY(back[i].net == fleet[i].net);
        QCOMPARE(back[i].port21, fleet[i].port21);
        QCOMPARE(back[i].web, fleet[i].web);
        QCOMPARE(back[i].refuse, fleet[i].refuse);
        QCOMPARE(back[i].resetSilenceMs, fleet[i].resetSilenceMs);
        QCOMPARE(back[i].iface, fleet[i].iface);
    }

    // Only type, serial and MAC are required; a bare array will do.
    QVERIFY(parseFleet(R"([{"type": 66, "serial": 7, "mac": "02-00-00-00-00-07",
                           "ip": "172.16.3.4"}])",
                       &back, &error));
    QCOMPARE(back.size(), 1);
    QCOMPARE(back[0].net.addressMode(), TevAddressModeManual);
    QCOMPARE(back[0].net.subnetMask().toString(), std::string("255.255.0.0"));
    QVERIFY(back[0].port21);
    QVERIFY(!back[0].web);
}

void TestSimCore::fleetJsonErrors_data()
{
    QTest::addColumn<QByteArray>("json");
    QTest::addColumn<QString>("error");
    const QByteArray ok = R"("type": 1, "serial": 2, "mac": "02:00:00:00:00:01")";
    QTest::newRow("not JSON") << QByteArray("{devices") << "";
    QTest::newRow("object without devices") << QByteArray(R"({"fleet": []})") << "expected";
    QTest::newRow("misspelt key") << "[{" + ok + R"(, "port12": true}])"
                                  << R"(unknown key "port12")";
    QTest::newRow("type out of range")
        << QByteArray(R"([{"type": 128, "serial": 1, "mac": "02:00:00:00:00:01"}])") << "type";
    QTest::newRow("serial missing")
        << QByteArray(R"([{"type": 1, "mac": "02:00:00:00:00:01"}])") << "serial";
    QTest::newRow("malformed MAC")
        << QByteArray(R"([{"type": 1, "serial": 1, "mac": "02:00:00:00:01"}])") << "mac";
    QTest::newRow("malformed address") << "[{" + ok + R"(, "ip": "10.0.0.300"}])"
                                       << "\"ip\"";
    QTest::newRow("mode unknown") << "[{" + ok + R"(, "mode": "bootp"}])"
                                  << "mode";
    QTest::newRow("port21 not a boolean") << "[{" + ok + R"(, "port21": 1}])"
                                          << "port21";
    QTest::newRow("MAC twice") << "[{" + ok + "}, {" + ok + "}]"
                               << "appears twice";
    QTest::newRow("entry not an object") << QByteArray("[3]") << "device 0: not an object";
}

void TestSimCore::fleetJsonErrors()
{
    QFETCH(QByteArray, json);
    QFETCH(QString, error);
    SimFleet fleet = defaultFleet();
    QString why;
    QVERIFY(!parseFleet(json, &fleet, &why));
    QVERIFY2(why.contains(error), qPrintable(why));
    QCOMPARE(fleet.size(), defaultFleet().size()); // left alone
}

void TestSimCore::judgeChange_data()
{
    QTest::addColumn<int>("refuse");
    QTest::addColumn<int>("currentMode");
    QTest::addColumn<TevNetHostInfo>("requested");
    QTest::addColumn<int>("expected");
    const int manual = TevAddressModeManual;
    const int automatic = TevAddressModeAuto;
    const auto req = [](int mode, const char* ip, const char* mask, const char* gw = "0.0.0.0") {
        return settings(TevAddressMode(mode), ip, mask, gw);
    };
    QTest::newRow("new static address")
        << 0 << manual << req(manual, "10.10.0.77", "255.255.255.0", "10.10.0.254") << 0;
    QTest::newRow("no gateway") << 0 << manual << req(manual, "10.10.0.77", "255.255.255.0") << 0;
    QTest::newRow("to DHCP, settings ignored")
        << 0 << manual << req(automatic, "0.0.0.0", "0.0.0.0") << 0;
    QTest::newRow("DHCP device pins its lease")
        << 0 << automatic << req(manual, "10.10.0.11", "255.255.255.0") << 0;
    QTest::newRow("mode not set") << 0 << manual << req(0, "10.10.0.77", "255.255.255.0") << 6;
    QTest::newRow("mode 3") << 0 << manual << req(3, "10.10.0.77", "255.255.255.0") << 6;
    QTest::newRow("mask with a hole")
        << 0 << manual << req(manual, "10.10.0.77", "255.0.255.0") << 2;
    QTest::newRow("mask zero") << 0 << manual << req(manual, "10.10.0.77", "0.0.0.0") << 2;
    QTest::newRow("mask all ones")
        << 0 << manual << req(manual, "10.10.0.77", "255.255.255.255") << 2;
    QTest::newRow("address zero") << 0 << manual << req(manual, "0.0.0.0", "255.255.255.0") << 1;
    QTest::newRow("loopback") << 0 << manual << req(manual, "127.0.0.5", "255.0.0.0") << 1;
    QTest::newRow("multicast") << 0 << manual << req(manual, "224.0.0.5", "255.255.255.0") << 1;
    QTest::newRow("network address")
        << 0 << manual << req(manual, "10.10.0.0", "255.255.255.0") << 1;
    QTest::newRow("subnet broadcast")
        << 0 << manual << req(manual, "10.10.0.255", "255.255.255.0") << 4;
    QTest::newRow("limited broadcast")
        << 0 << manual << req(manual, "255.255.255.255", "255.255.255.0") << 4;
    QTest::newRow("unchanged static address")
        << 0 << manual << req(manual, "10.10.0.11", "255.255.255.0") << 5;
    QTest::newRow("repeated copy of the change that was made")
        << 0 << manual
        << settings(TevAddressModeManual, "10.10.0.11", "255.255.255.0", "10.10.0.254",
                    "10.10.0.254")
        << 0;
    QTest::newRow("gateway outside subnet")
        << 0 << manual << req(manual, "10.10.0.77", "255.255.255.0", "10.20.0.254") << 3;
    QTest::newRow("gateway is the address")
        << 0 << manual << req(manual, "10.10.0.77", "255.255.255.0", "10.10.0.77") << 3;
    QTest::newRow("configured refusal beats a fine request")
        << -1 << manual << req(manual, "10.10.0.77", "255.255.255.0") << -1;
    QTest::newRow("configured code without a reason")
        << 9 << manual << req(automatic, "0.0.0.0", "0.0.0.0") << 9;
}

void TestSimCore::judgeChange()
{
    QFETCH(int, refuse);
    QFETCH(int, currentMode);
    QFETCH(TevNetHostInfo, requested);
    QFETCH(int, expected);
    SimDevice d = staticDevice();
    d.refuse = int16_t(refuse);
    d.net.setAddressMode(TevAddressMode(currentMode));
    QCOMPARE(int(::judgeChange(d, requested)), expected);
}

void TestSimCore::requestsDecodeAsTheProgramEncodesThem()
{
    const TevMacAddr target = mac("02:c0:1a:00:00:0f");
    QString why;
    SimRequest r;

    ZelNetworkEnqireCmd enquiry(0, 0, TevNetHostInfo(0, 0, 0, 0, target.octets().data(), 0));
    CorlaFrame frame;
    QByteArray bytes = requestFrame(enquiry, 50000);
    QVERIFY(splitCorlaFrame(reinterpret_cast<const uint8_t*>(bytes.constData()),
                            size_t(bytes.size()), &frame));
    QVERIFY(frame.crcMatches);
    QVERIFY2(decodeRequest(frame.code, frame.payload, &r, &why), qPrintable(why));
    QVERIFY(r.mac == target);
    QCOMPARE(r.responsePort, uint16_t(50000));

    const TevNetHostInfo wanted(TevIpAddr("10.10.0.77"), TevIpAddr("255.255.255.0"),
                                TevIpAddr("10.10.0.254"), TevIpAddr("10.10.0.53"), target,
                                TevAddressModeManual);
    ZelChangeNetworkCmd change(15, 1015, wanted);
    bytes = requestFrame(change, 40001);
    QVERIFY(splitCorlaFrame(reinterpret_cast<const uint8_t*>(bytes.constData()),
                            size_t(bytes.size()), &frame));
    QVERIFY2(decodeRequest(frame.code, frame.payload, &r, &why), qPrintable(why));
    QCOMPARE(int(r.type), 15);
    QCOMPARE(r.serial, uint16_t(1015));
    QCOMPARE(r.responsePort, uint16_t(40001));
    QVERIFY(r.requested == wanted);

    ZelResetDeviceCmd reset(target);
    bytes = requestFrame(reset, 65535);
    QVERIFY(splitCorlaFrame(reinterpret_cast<const uint8_t*>(bytes.constData()),
                            size_t(bytes.size()), &frame));
    QVERIFY2(decodeRequest(frame.code, frame.payload, &r, &why), qPrintable(why));
    QVERIFY(r.mac == target);
    QCOMPARE(r.responsePort, uint16_t(65535));
}

void TestSimCore::truncatedRequestsAreRejected_data()
{
    QTest::addColumn<int>("code");
    QTest::addColumn<QByteArray>("payload");
    QTest::newRow("enquiry of 10 bytes") << 0x57 << QByteArray(10, '\0');
    QTest::newRow("change of 27 bytes") << 0x58 << QByteArray(27, '\0');
    QTest::newRow("reset without port") << 0x59 << QByteArray("MAC=02:c0:1a:00:00:0f");
    QTest::newRow("reset with a port too large")
        << 0x59 << QByteArray("MAC=02:c0:1a:00:00:0f;PORT=65536");
    QTest::newRow("reset with a short MAC") << 0x59 << QByteArray("MAC=02:c0:1a:00:0f;PORT=1");
    QTest::newRow("unknown code") << 0x41 << QByteArray(11, '\0');
}

void TestSimCore::truncatedRequestsAreRejected()
{
    QFETCH(int, code);
    QFETCH(QByteArray, payload);
    SimRequest r;
    QString why;
    QVERIFY(!decodeRequest(uint8_t(code), std::vector<uint8_t>(payload.begin(), payload.end()), &r,
                           &why));
    QVERIFY(!why.isEmpty());
}

void TestSimCore::answersDecodeWithTheProgramsCodec_data()
{
    QTest::addColumn<bool>("withoutDns");
    QTest::addColumn<int>("payloadSize");
    QTest::newRow("full answer") << false << 26;
    QTest::newRow("short answer") << true << 22;
}

void TestSimCore::answersDecodeWithTheProgramsCodec()
{
    QFETCH(bool, withoutDns);
    QFETCH(int, payloadSize);
    SimDevice d = staticDevice();
    d.type = -1; // signed codes survive the trip
    const QByteArray frame = enquiryAnswer(d, withoutDns);
    QCOMPARE(frame.size(), 6 + payloadSize);
    CorlaMessages messages = decodeAnswers({frame});
    QCOMPARE(messages.size(), size_t(1));
    const auto* answer = messages[0]->payloadAs<ZelNetworkEnqireCmd>();
    QVERIFY(answer);
    QCOMPARE(int(int8_t(answer->deviceType())), -1);
    QCOMPARE(answer->serialNo(), d.serial);
    TevNetHostInfo expected = d.net;
    if (withoutDns)
        expected.setDns(TevIpAddr());
    QVERIFY(answer->netInfo() == expected);

    messages = decodeAnswers({changeAnswer(d, -1)});
    QCOMPARE(messages.size(), size_t(1));
    const auto* change = messages[0]->payloadAs<ZelChangeNetworkCmd>();
    QVERIFY(change);
    QCOMPARE(change->error(), int16_t(-1));
    QVERIFY(change->netInfo() == d.net);
}

void TestSimCore::resetAnswerText()
{
    const QByteArray frame = resetAnswer(mac("02:c0:1a:0b:cd:ef"));
    QCOMPARE(frame.mid(4, frame.size() - 6), QByteArray("MAC=02:C0:1A:0B:CD:EF"));
    const CorlaMessages messages = decodeAnswers({frame});
    QCOMPARE(messages.size(), size_t(1));
    QVERIFY(messages[0]->payloadAs<ZelResetDeviceCmd>()->macAddress() == mac("02:c0:1a:0b:cd:ef"));
}

void TestSimCore::faultShapes_data()
{
    QTest::addColumn<SimFaults>("faults");
    QTest::addColumn<QList<int>>("sizes");
    QTest::addColumn<QByteArray>("head"); // how every datagram starts (empty: not checked)
    QTest::addColumn<int>("messages");
    SimFaults f;
    QTest::newRow("none") << f << QList<int>{32, 32, 32} << QByteArray("\x2A\x57") << 3;
    f = SimFaults();
    f.duplicate = true;
    QTest::newRow("duplicate") << f << QList<int>{32, 32, 32, 32, 32, 32} << QByteArray("\x2A\x57")
                               << 6;
    f = SimFaults();
    f.stray = QByteArray("\x11\x22");
    QTest::newRow("stray bytes") << f << QList<int>{34, 34, 34} << QByteArray("\x11\x22\x2A\x57")
                                 << 3;
    f = SimFaults();
    f.splitAt = 4;
    QTest::newRow("split after the header")
        << f << QList<int>{4, 28, 4, 28, 4, 28} << QByteArray() << 3;
    f = SimFaults();
    f.framesPerDatagram = 2;
    QTest::newRow("two frames per datagram")
        << f << QList<int>{64, 32} << QByteArray("\x2A\x57") << 3;
    f = SimFaults();
    f.unknownCode = 0x41;
    QTest::newRow("unknown code first")
        << f << QList<int>{47, 47, 47} << QByteArray("\x2A\x41\x09\x00") << 3;
    f = SimFaults();
    f.duplicate = true;
    f.splitAt = 10;
    f.stray = QByteArray("\x11");
    QTest::newRow("all at once") << f << QList<int>{10, 23, 10, 23, 10, 23, 10, 23, 10, 23, 10, 23}
                                 << QByteArray() << 6;
}

void TestSimCore::faultShapes()
{
    QFETCH(SimFaults, faults);
    QFETCH(QList<int>, sizes);
    QFETCH(QByteArray, head);
    QFETCH(int, messages);
    SimDevice d = staticDevice();
    QList<QByteArray> frames;
    for (uint16_t serial : {1, 2, 3}) {
        d.serial = serial;
        frames.append(enquiryAnswer(d, false));
    }
    const QList<QByteArray> datagrams = shapeAnswers(frames, faults);
    QList<int> actual;
    for (const QByteArray& datagram : datagrams) {
        actual.append(datagram.size());
        QVERIFY(datagram.startsWith(head));
    }
    QCOMPARE(actual, sizes);
    const CorlaMessages decoded = decodeAnswers(datagrams);
    QCOMPARE(int(decoded.size()), messages);
    // Whatever the shape, the answers come out in order.
    const int copies = faults.duplicate && faults.framesPerDatagram == 1 ? 2 : 1;
    for (size_t i = 0; i < decoded.size(); ++i)
        QCOMPARE(decoded[i]->payloadAs<ZelNetworkEnqireCmd>()->serialNo(),
                 uint16_t(1 + i / copies));
}

QTEST_GUILESS_MAIN(TestSimCore)
#include "tst_simcore.moc"
