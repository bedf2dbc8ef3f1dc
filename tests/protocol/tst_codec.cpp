#include "protocoltestutil.h"
#include "zecorla.h"

#include <QtTest>

#include <cstring>
#include <string>

Q_DECLARE_METATYPE(std::string)

namespace {

const uint8_t kMacWire[6] = {0x5E, 0x4D, 0x3C, 0x2B, 0x1A, 0x00}; // 00:1a:2b:3c:4d:5e

TevNetHostInfo sampleSettings()
{
    return TevNetHostInfo(0xC0A8010Au, 0xFFFFFF00u, 0xC0A80101u, 0x08080808u, kMacWire,
                          TevAddressModeManual);
}

} // namespace

class TstCodec : public QObject
{
    Q_OBJECT

private slots:
    void requestFrames_data();
    void requestFrames();
    void serializeAppendsAtCounter();
    void resetRequestWritesLine();
    void frameLimits();
    void splitFrame_data();
    void splitFrame();
    void decodeAnswer_data();
    void decodeAnswer();
    void decodedCommandOwnsPayload();
};

void TstCodec::requestFrames_data()
{
    QTest::addColumn<int>("kind");
    QTest::addColumn<int>("port");
    QTest::addColumn<QByteArray>("frame");

    QTest::newRow("enquiry, all zero, port 50000")
        << 0 << 50000 << QByteArray("2A570B0000000000000000000050C39A52");
    QTest::newRow("enquiry for one device writes only type, serial, MAC")
        << 1 << 8080 << QByteArray("2A570B000334125E4D3C2B1A00901F6E93");
    QTest::newRow("change request")
        << 2 << 50000
        << QByteArray("2A581C000102015E4D3C2B1A0050C3020A01A8C000FFFFFF0101A8C00808080815C2");
    QTest::newRow("reset request, five-digit port")
        << 3 << 50000
        << QByteArray("2A5920004D41433D30303A31613A32623A33633A34643A35653B504F52543D3530"
                      "303030AD8D");
    QTest::newRow("reset request, zero MAC, one-digit port")
        << 4 << 7
        << QByteArray("2A591C004D41433D30303A30303A30303A30303A30303A30303B504F52543D37CC36");
}

void TstCodec::requestFrames()
{
    QFETCH(int, kind);
    QFETCH(int, port);
    QFETCH(QByteArray, frame);

    ZelNetworkEnqireCmd blank;
    ZelNetworkEnqireCmd one(3, 0x1234, sampleSettings());
    ZelChangeNetworkCmd change(1, 0x0102, sampleSettings());
    ZelResetDeviceCmd reset(TevMacAddr{kMacWire});
    ZelResetDeviceCmd resetZero;
    ZelCorlaCommandPayload* payloads[] = {&blank, &one, &change, &reset, &resetZero};
    ZelCorlaCommandPayload* payload = payloads[kind];
    payload->setResponsePort(uint16_t(port));

    StdoutCapture quiet; // the reset encoder logs a line; checked elsewhere
    const ZelCorlaCommand cmd(payload);
    const std::vector<uint8_t> bytes = cmd.frame();
    quiet.text();
    QCOMPARE(toHex(bytes), toHex(hexBytes(frame.constData())));
    QCOMPARE(cmd.payload(), payload);
}

void TstCodec::serializeAppendsAtCounter()
{
    ZelNetworkEnqireCmd enquiry;
    enquiry.setResponsePort(50000);
    const ZelCorlaCommand cmd(&enquiry);

    uint8_t buffer[1024];
    std::memset(buffer, 0xEE, sizeof buffer);
    uint64_t size = 0;
    cmd.serialize(&size, buffer);
    QCOMPARE(size, quint64(17));
    QCOMPARE(toHex(std::vector<uint8_t>(buffer, buffer + 17)),
             toHex(hexBytes("2A570B0000000000000000000050C39A52")));
    QCOMPARE(buffer[17], uint8_t(0xEE));

    // A second frame goes right behind the first.
    cmd.serialize(&size, buffer);
    QCOMPARE(size, quint64(34));
    QCOMPARE(buffer[17], uint8_t(0x2A));
    QCOMPARE(buffer[33], uint8_t(0x52));
}

void TstCodec::resetRequestWritesLine()
{
    ZelResetDeviceCmd reset(TevMacAddr{kMacWire});
    reset.setResponsePort(50000);
    StdoutCapture out;
    ZelCorlaCommand(&reset).frame();
    QCOMPARE(out.text(), std::string("00:1a:2b:3c:4d:5e;50000\n"));
}

void TstCodec::frameLimits()
{
    QVERIFY(encodeCorlaFrame(0x57, nullptr, 0).size() == 6);

    std::vector<uint8_t> big(CorlaMaxPayload + 1, 0x2A);
    QVERIFY(encodeCorlaFrame(0x41, big.data(), big.size()).empty());

    // The largest payload still frames, with a CRC over more than 65535 bytes.
    const auto frame = encodeCorlaFrame(0x41, big.data(), CorlaMaxPayload);
    QCOMPARE(frame.size(), CorlaMaxPayload + 6);
    QCOMPARE(frame[2], uint8_t(0xFF));
    QCOMPARE(frame[3], uint8_t(0xFF));
    CorlaFrame split;
    QVERIFY(splitCorlaFrame(frame.data(), frame.size(), &split));
    QVERIFY(split.crcMatches);
    QCOMPARE(split.payload.size(), CorlaMaxPayload);
}

void TstCodec::splitFrame_data()
{
    QTest::addColumn<QByteArray>("datagram");
    QTest::addColumn<bool>("ok");
    QTest::addColumn<bool>("crcMatches");
    QTest::addColumn<int>("code");
    QTest::addColumn<int>("payloadSize");

    QTest::newRow("enquiry request")
        << QByteArray("2A570B0000000000000000000050C39A52") << true << true << 0x57 << 11;
    QTest::newRow("empty payload") << QByteArray("2A410000580C") << true << true << 0x41 << 0;
    QTest::newRow("wrong CRC still splits")
        << QByteArray("2A570B0000000000000000000050C39A53") << true << false << 0x57 << 11;
    QTest::newRow("no sync byte") << QByteArray("2B570B0000000000000000000050C39A52") << false
                                  << false << 0 << 0;
    QTest::newRow("one byte short")
        << QByteArray("2A570B0000000000000000000050C39A") << false << false << 0 << 0;
    QTest::newRow("trailing byte")
        << QByteArray("2A570B0000000000000000000050C39A5200") << false << false << 0 << 0;
    QTest::newRow("header only") << QByteArray("2A570000") << false << false << 0 << 0;
}

void TstCodec::splitFrame()
{
    QFETCH(QByteArray, datagram);
    QFETCH(bool, ok);
    QFETCH(bool, crcMatches);
    QFETCH(int, code);
    QFETCH(int, payloadSize);

    const auto bytes = hexBytes(datagram.constData());
    CorlaFrame frame;
    QCOMPARE(splitCorlaFrame(bytes.data(), bytes.size(), &frame), ok);
    if (!ok)
        return;
    QCOMPARE(frame.crcMatches, crcMatches);
    QCOMPARE(int(frame.code), code);
    QCOMPARE(int(frame.payload.size()), payloadSize);
    if (crcMatches)
        QCOMPARE(toHex(encodeCorlaFrame(frame.code, frame.payload.data(), frame.payload.size())),
                 toHex(bytes));
}

// Every answer row lists the fields its payload class has; the others stay empty.
void TstCodec::decodeAnswer_data()
{
    QTest::addColumn<int>("code");
    QTest::addColumn<QByteArray>("payload");
    QTest::addColumn<int>("deviceType");
    QTest::addColumn<int>("serial");
    QTest::addColumn<std::string>("mac");
    QTest::addColumn<int>("mode");
    QTest::addColumn<std::string>("ip");
    QTest::addColumn<std::string>("mask");
    QTest::addColumn<std::string>("gateway");
    QTest::addColumn<std::string>("dns");
    QTest::addColumn<int>("error");
    QTest::addColumn<std::string>("stdoutText");

    const std::string mac = "00:1a:2b:3c:4d:5e";
    const std::string zeroMac = "00:00:00:00:00:00";
    const std::string none = "0.0.0.0";
    const QByteArray enquiry = "0334125E4D3C2B1A00020A01A8C000FFFFFF0101A8C004040808";

    QTest::newRow("enquiry answer")
        << 0x57 << enquiry << 3 << 0x1234 << mac << 2 << std::string("192.168.1.10")
        << std::string("255.255.255.0") << std::string("192.168.1.1") << std::string("8.8.4.4") << 0
        << std::string();
    QTest::newRow("enquiry answer of 22 bytes has no DNS")
        << 0x57 << enquiry.left(44) << 3 << 0x1234 << mac << 2 << std::string("192.168.1.10")
        << std::string("255.255.255.0") << std::string("192.168.1.1") << none << 0 << std::string();
    QTest::newRow("enquiry answer ending after the address")
        << 0x57 << enquiry.left(28) << 3 << 0x1234 << mac << 2 << std::string("192.168.1.10")
        << none << none << none << 0 << std::string();
    QTest::newRow("enquiry answer with extra bytes")
        << 0x57 << enquiry + "FFFF" << 3 << 0x1234 << mac << 2 << std::string("192.168.1.10")
        << std::string("255.255.255.0") << std::string("192.168.1.1") << std::string("8.8.4.4") << 0
        << std::string();
    QTest::newRow("enquiry answer, empty payload")
        << 0x57 << QByteArray() << 0 << 0 << zeroMac << 0 << none << none << none << none << 0
        << std::string();
    QTest::newRow("enquiry answer, type byte 0xFF carried as is")
        << 0x57 << QByteArray("FF0100") << 0xFF << 1 << zeroMac << 0 << none << none << none << none
        << 0 << std::string();

    const QByteArray change = "0102015E4D3C2B1A00%1010A01A8C000FFFFFF0101A8C008080808";
    QTest::newRow("change answer accepted")
        << 0x58 << QByteArray(change).replace("%1", "0000") << 1 << 0x0102 << mac << 1
        << std::string("192.168.1.10") << std::string("255.255.255.0") << std::string("192.168.1.1")
        << std::string("8.8.8.8") << 0 << std::string();
    QTest::newRow("change answer error -1")
        << 0x58 << QByteArray(change).replace("%1", "FFFF") << 1 << 0x0102 << mac << 1
        << std::string("192.168.1.10") << std::string("255.255.255.0") << std::string("192.168.1.1")
        << std::string("8.8.8.8") << -1 << std::string();
    QTest::newRow("change answer error 4, no DNS")
        << 0x58 << QByteArray(change).replace("%1", "0400").left(48) << 1 << 0x0102 << mac << 1
        << std::string("192.168.1.10") << std::string("255.255.255.0") << std::string("192.168.1.1")
        << none << 4 << std::string();

    const std::string macLine = mac + "\n";
    const std::string zeroLine = zeroMac + "\n";
    QTest::newRow("reset answer, upper case")
        << 0x59 << QByteArray("MAC=00:1A:2B:3C:4D:5E").toHex() << 0 << 0 << mac << 0 << none << none
        << none << none << 0 << macLine;
    QTest::newRow("reset answer, lower case")
        << 0x59 << QByteArray("MAC=00:1a:2b:3c:4d:5e").toHex() << 0 << 0 << mac << 0 << none << none
        << none << none << 0 << macLine;
    QTest::newRow("reset answer, text after the MAC ignored")
        << 0x59 << QByteArray("MAC=00:1A:2B:3C:4D:5E;PORT=1").toHex() << 0 << 0 << mac << 0 << none
        << none << none << none << 0 << macLine;
    QTest::newRow("reset answer that does not scan")
        << 0x59 << QByteArray("HELLO THERE").toHex() << 0 << 0 << zeroMac << 0 << none << none
        << none << none << 0 << zeroLine;
    QTest::newRow("reset answer cut short")
        << 0x59 << QByteArray("MAC=00:1A:2B").toHex() << 0 << 0 << zeroMac << 0 << none << none
        << none << none << 0 << zeroLine;
    QTest::newRow("reset answer, empty payload") << 0x59 << QByteArray() << 0 << 0 << zeroMac << 0
                                                 << none << none << none << none << 0 << zeroLine;
}

void TstCodec::decodeAnswer()
{
    QFETCH(int, code);
    QFETCH(QByteArray, payload);
    QFETCH(int, deviceType);
    QFETCH(int, serial);
    QFETCH(std::string, mac);
    QFETCH(int, mode);
    QFETCH(std::string, ip);
    QFETCH(std::string, mask);
    QFETCH(std::string, gateway);
    QFETCH(std::string, dns);
    QFETCH(int, error);
    QFETCH(std::string, stdoutText);

    const auto bytes = hexBytes(payload.constData());
    const uint8_t* data = bytes.data();
    const uint64_t n = bytes.size();

    StdoutCapture out;
    std::unique_ptr<ZelCorlaCommandPayload> decoded;
    switch (code) {
    case 0x57:
        decoded = DeserializationFactory<ZelNetworkEnqireCmd>::create(data, n);
        break;
    case 0x58:
        decoded = DeserializationFactory<ZelChangeNetworkCmd>::create(data, n);
        break;
    default:
        decoded = DeserializationFactory<ZelResetDeviceCmd>::create(data, n);
        break;
    }
    QCOMPARE(out.text(), stdoutText);
    QVERIFY(decoded);
    QCOMPARE(int(decoded->commandCode()), code);
    QCOMPARE(int(decoded->responsePort()), 0);

    TevNetHostInfo info;
    if (auto* e = dynamic_cast<ZelNetworkEnqireCmd*>(decoded.get())) {
        QCOMPARE(int(e->deviceType()), deviceType);
        QCOMPARE(int(e->serialNo()), serial);
        info = e->netInfo();
    } else if (auto* c = dynamic_cast<ZelChangeNetworkCmd*>(decoded.get())) {
        QCOMPARE(int(c->deviceType()), deviceType);
        QCOMPARE(int(c->serialNo()), serial);
        QCOMPARE(int(c->error()), error);
        info = c->netInfo();
    } else {
        auto* r = dynamic_cast<ZelResetDeviceCmd*>(decoded.get());
        QVERIFY(r);
        info.setMacAddress(r->macAddress());
    }
    QCOMPARE(info.macAddress().toString(), mac);
    QCOMPARE(int(info.addressMode()), mode);
    QCOMPARE(info.ipAddress().toString(), ip);
    QCOMPARE(info.subnetMask().toString(), mask);
    QCOMPARE(info.gateway().toString(), gateway);
    QCOMPARE(info.dns().toString(), dns);
}

namespace {
// Counts its own destructions, to see who deletes a payload.
int gDestroyed = 0;
class CountedPayload : public ZelResetDeviceCmd
{
public:
    ~CountedPayload() override { ++gDestroyed; }
};
} // namespace

void TstCodec::decodedCommandOwnsPayload()
{
    gDestroyed = 0;
    {
        CountedPayload onStack;
        {
            ZelCorlaCommand wrapper(&onStack);
        }
        QCOMPARE(gDestroyed, 0); // a request frame leaves its payload alone
    }
    QCOMPARE(gDestroyed, 1);

    gDestroyed = 0;
    {
        ZelCorlaCommand owner(std::make_unique<CountedPayload>());
    }
    QCOMPARE(gDestroyed, 1);
}

QTEST_APPLESS_MAIN(TstCodec)
#include "tst_codec.moc"
