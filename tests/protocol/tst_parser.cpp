#include "protocoltestutil.h"
#include "zecorla.h"

#include <QtTest>

#include <string>
#include <vector>

namespace {

// Enquiry answer: type 3, serial 0x1234, 00:1a:2b:3c:4d:5e, static, 192.168.1.10/24.
const char* kEnquiryAnswer = "2A571A000334125E4D3C2B1A00020A01A8C000FFFFFF0101A8C004040808F716";

std::vector<uint8_t> cat(std::initializer_list<std::vector<uint8_t>> parts)
{
    std::vector<uint8_t> all;
    for (const auto& p : parts)
        all.insert(all.end(), p.begin(), p.end());
    return all;
}

std::vector<uint8_t> frame(uint8_t code, const std::vector<uint8_t>& payload)
{
    return encodeCorlaFrame(code, payload.data(), payload.size());
}

std::vector<uint8_t> resetAnswer(const char* text)
{
    const std::string t(text);
    return frame(0x59, std::vector<uint8_t>(t.begin(), t.end()));
}

// One line per message naming the fields that tell messages apart.
std::string describe(const ZelCorlaCommand& msg)
{
    const ZelCorlaCommandPayload* p = msg.payload();
    if (!p)
        return "no payload";
    std::string s(1, char(p->commandCode()));
    if (auto* e = msg.payloadAs<ZelNetworkEnqireCmd>())
        s += " " + std::to_string(e->serialNo()) + " " + e->netInfo().macAddress().toString() +
             " " + e->netInfo().ipAddress().toString() + " " + e->netInfo().dns().toString();
    else if (auto* c = msg.payloadAs<ZelChangeNetworkCmd>())
        s += " " + std::to_string(c->serialNo()) + " err " + std::to_string(c->error()) + " " +
             c->netInfo().ipAddress().toString();
    else if (auto* r = msg.payloadAs<ZelResetDeviceCmd>())
        s += " " + r->macAddress().toString();
    return s;
}

struct Collector
{
    std::vector<std::string> seen;
    ZelCorlaProcessor::MessageHandler handler()
    {
        return [this](std::unique_ptr<ZelCorlaCommand> msg) {
            QVERIFY(msg);
            seen.push_back(describe(*msg));
        };
    }
};

// Pours the chunks into one buffer and drives after each, as the adapter does per
// datagram. Standard output of the message layer is swallowed.
std::vector<std::string> parseChunks(const std::vector<std::vector<uint8_t>>& chunks,
                                     uint64_t capacity = ZelCorlaProcessor::ReceiveBufferSize)
{
    CircularByteBuffer buf(capacity);
    ZelCorlaProcessor parser;
    Collector c;
    StdoutCapture quiet;
    for (const auto& chunk : chunks) {
        buf.write(chunk.data(), chunk.size());
        parser.drive(buf, c.handler());
    }
    return c.seen;
}

std::vector<std::string> parseWhole(const std::vector<uint8_t>& bytes)
{
    return parseChunks({bytes});
}

const std::string kEnquiryText = "W 4660 00:1a:2b:3c:4d:5e 192.168.1.10 8.8.4.4";

} // namespace

Q_DECLARE_METATYPE(std::vector<uint8_t>)

class TstParser : public QObject
{
    Q_OBJECT

private slots:
    void skipsStrayBytes_data();
    void skipsStrayBytes();
    void twoFramesOneDrive();
    void splitAtEveryPosition_data();
    void splitAtEveryPosition();
    void byteByByte();
    void headerThenPayloadLater();
    void unknownCodeThenGoodFrame();
    void oversizedLengthIsDropped_data();
    void oversizedLengthIsDropped();
    void largestPayloadThatFits();
    void messageHandedOverOnce();
    void driveClearsOutOfData();
};

void TstParser::skipsStrayBytes_data()
{
    QTest::addColumn<QByteArray>("prefix");

    QTest::newRow("two stray bytes") << QByteArray("1122");
    QTest::newRow("one zero byte") << QByteArray("00");
    QTest::newRow("long junk") << QByteArray("FFFFFFFFFFFFFFFFFFFF0102030405");
    QTest::newRow("code and length without sync") << QByteArray("571A00");
    QTest::newRow("CRC bytes of an earlier frame") << QByteArray("F716");
}

void TstParser::skipsStrayBytes()
{
    QFETCH(QByteArray, prefix);
    const auto seen = parseWhole(cat({hexBytes(prefix.constData()), hexBytes(kEnquiryAnswer)}));
    QCOMPARE(seen, std::vector<std::string>{kEnquiryText});
}

void TstParser::twoFramesOneDrive()
{
    CircularByteBuffer buf(ZelCorlaProcessor::ReceiveBufferSize);
    const auto bytes = cat({hexBytes(kEnquiryAnswer), resetAnswer("MAC=00:00:00:00:00:01")});
    buf.write(bytes.data(), bytes.size());
    ZelCorlaProcessor parser;
    Collector c;
    StdoutCapture quiet;
    QCOMPARE(parser.drive(buf, c.handler()), size_t(2));
    quiet.text();
    QCOMPARE(c.seen, (std::vector<std::string>{kEnquiryText, "Y 00:00:00:00:00:01"}));
    QVERIFY(parser.outOfData());
    QCOMPARE(buf.count(), quint64(0));
}

void TstParser::splitAtEveryPosition_data()
{
    QTest::addColumn<std::vector<uint8_t>>("stream");

    QTest::newRow("one enquiry answer") << hexBytes(kEnquiryAnswer);
    QTest::newRow("stray bytes, then a frame")
        << cat({hexBytes("11222B"), hexBytes(kEnquiryAnswer)});
    QTest::newRow("stray byte right before the sync byte")
        << cat({hexBytes("11"), hexBytes(kEnquiryAnswer)});
    QTest::newRow("two frames") << cat(
        {hexBytes(kEnquiryAnswer), resetAnswer("MAC=00:1A:2B:3C:4D:5E")});
    QTest::newRow("unknown code between two frames")
        << cat({resetAnswer("MAC=00:1A:2B:3C:4D:5E"), frame(0x41, hexBytes("0102")),
                hexBytes(kEnquiryAnswer)});
    QTest::newRow("change answer with empty-payload frame ahead")
        << cat({frame(0x58, {}), frame(0x58, hexBytes("0102015E4D3C2B1A00FFFF"))});
}

void TstParser::splitAtEveryPosition()
{
    QFETCH(std::vector<uint8_t>, stream);
    const auto expected = parseWhole(stream);
    QVERIFY(!expected.empty());

    for (size_t cut = 0; cut <= stream.size(); ++cut) {
        const std::vector<uint8_t> head(stream.begin(), stream.begin() + long(cut));
        const std::vector<uint8_t> tail(stream.begin() + long(cut), stream.end());
        const auto seen = parseChunks({head, tail});
        if (seen != expected)
            QFAIL(qPrintable(QString("differs when cut after byte %1").arg(cut)));
    }
}

void TstParser::byteByByte()
{
    const auto stream = cat({hexBytes("00"), hexBytes(kEnquiryAnswer),
                             resetAnswer("MAC=00:1A:2B:3C:4D:5E"), hexBytes(kEnquiryAnswer)});
    std::vector<std::vector<uint8_t>> chunks;
    for (uint8_t b : stream)
        chunks.push_back({b});
    QCOMPARE(parseChunks(chunks), parseWhole(stream));
    QCOMPARE(parseChunks(chunks).size(), size_t(3));
}

void TstParser::headerThenPayloadLater()
{
    const auto bytes = hexBytes(kEnquiryAnswer);
    CircularByteBuffer buf(ZelCorlaProcessor::ReceiveBufferSize);
    ZelCorlaProcessor parser;
    Collector c;

    buf.write(bytes.data(), 4);
    QCOMPARE(parser.drive(buf, c.handler()), size_t(0));
    QVERIFY(parser.outOfData());
    QVERIFY(parser.state() == FiniteStateMachine::asState(&ZelCorlaProcessor::st_readPayload));
    QVERIFY(!parser.message());

    buf.write(bytes.data() + 4, bytes.size() - 4);
    QCOMPARE(parser.drive(buf, c.handler()), size_t(1));
    QCOMPARE(c.seen, std::vector<std::string>{kEnquiryText});
    QVERIFY(parser.state() == FiniteStateMachine::asState(&ZelCorlaProcessor::st_sync));
}

void TstParser::unknownCodeThenGoodFrame()
{
    const auto bytes = cat({frame(0x41, hexBytes("DEADBEEF")), hexBytes(kEnquiryAnswer)});
    CircularByteBuffer buf(ZelCorlaProcessor::ReceiveBufferSize);
    buf.write(bytes.data(), bytes.size());
    ZelCorlaProcessor parser;
    Collector c;
    StdoutCapture out;
    parser.drive(buf, c.handler());
    QCOMPARE(out.text(), std::string("Unknown Corla message received! Code=A\n"));
    QCOMPARE(c.seen, std::vector<std::string>{kEnquiryText});
}

void TstParser::oversizedLengthIsDropped_data()
{
    QTest::addColumn<QByteArray>("header");
    QTest::addColumn<int>("capacity");

    QTest::newRow("largest length field") << QByteArray("2A57FFFF") << 16384;
    QTest::newRow("one byte beyond the receive buffer") << QByteArray("2A570140") << 16384;
    QTest::newRow("beyond a small buffer") << QByteArray("2A594100") << 64;
}

void TstParser::oversizedLengthIsDropped()
{
    QFETCH(QByteArray, header);
    QFETCH(int, capacity);

    // The header arrives alone; the next datagram holds a good frame, which must
    // be found even though the header announced a payload that can never fit.
    const auto seen =
        parseChunks({hexBytes(header.constData()), hexBytes(kEnquiryAnswer)}, uint64_t(capacity));
    QCOMPARE(seen, std::vector<std::string>{kEnquiryText});
}

void TstParser::largestPayloadThatFits()
{
    // A payload exactly as large as the buffer still arrives: the header has left it.
    std::vector<uint8_t> payload(ZelCorlaProcessor::ReceiveBufferSize, 0);
    payload[1] = 0x34;
    payload[2] = 0x12;
    const auto big = frame(0x57, payload);
    const std::vector<uint8_t> header(big.begin(), big.begin() + 4);
    const std::vector<uint8_t> body(big.begin() + 4, big.end() - 2);
    const std::vector<uint8_t> tail = cat({{big.end() - 2, big.end()}, hexBytes(kEnquiryAnswer)});

    const auto seen = parseChunks({header, body, tail});
    QCOMPARE(seen,
             (std::vector<std::string>{"W 4660 00:00:00:00:00:00 0.0.0.0 0.0.0.0", kEnquiryText}));
}

void TstParser::messageHandedOverOnce()
{
    const auto bytes = hexBytes(kEnquiryAnswer);
    CircularByteBuffer buf(ZelCorlaProcessor::ReceiveBufferSize);
    buf.write(bytes.data(), bytes.size());
    ZelCorlaProcessor parser;
    CorlaMessageEvent event(buf);

    // Driven by hand: sync, payload, CRC reaches the end state.
    for (int i = 0; i < 3; ++i)
        parser.dispatch(&event);
    QVERIFY(parser.isAtEndState());
    QVERIFY(parser.message());
    std::unique_ptr<ZelCorlaCommand> msg = parser.takeMessage();
    QVERIFY(msg);
    QCOMPARE(describe(*msg), kEnquiryText);
    QVERIFY(!parser.message());

    parser.dispatch(&event); // leaves the end state
    QVERIFY(!parser.isAtEndState());
    parser.dispatch(&event);
    QVERIFY(parser.outOfData());
    QVERIFY(!parser.takeMessage());
}

void TstParser::driveClearsOutOfData()
{
    CircularByteBuffer buf(ZelCorlaProcessor::ReceiveBufferSize);
    ZelCorlaProcessor parser;
    parser.drive(buf, nullptr);
    QVERIFY(parser.outOfData());

    const auto bytes = hexBytes(kEnquiryAnswer);
    buf.write(bytes.data(), bytes.size());
    // A caller that forgets to clear the flag still gets the message, and a null
    // handler just discards it.
    QCOMPARE(parser.drive(buf, nullptr), size_t(1));
}

QTEST_APPLESS_MAIN(TstParser)
#include "tst_parser.moc"
