// SPDX-License-Identifier: Apache-2.0
// SPDX-FileCopyrightText: 2026 The Corla developers
#include "tests/support/datarow.h"
#include "tests/wire/protocoltestutil.h"

#include <QtTest>

using namespace corla;

namespace {

using Bytes = std::vector<uint8_t>;

// Enquiry answer: type 3, serial 0x1234, 00:1a:2b:3c:4d:5e, static, 192.168.1.10/24.
const char* kEnquiryAnswer = "2A571A000334125E4D3C2B1A00020A01A8C000FFFFFF0101A8C004040808F716";
const QString kEnquiry =
    "W 3 4660 00:1a:2b:3c:4d:5e 2 192.168.1.10 255.255.255.0 192.168.1.1 8.8.4.4";
const QString kNoNetInfo = " 00:00:00:00:00:00 0 0.0.0.0 0.0.0.0 0.0.0.0 0.0.0.0";

Bytes cat(std::initializer_list<Bytes> parts)
{
    Bytes all;
    for (const auto& p : parts)
        all.insert(all.end(), p.begin(), p.end());
    return all;
}

Bytes frame(uint8_t code, const Bytes& payload)
{
    return encodeFrame(code, payload.data(), payload.size());
}

// Pours the chunks into one buffer and drives after each, as the adapter does per datagram.
QStringList parseChunks(const std::vector<Bytes>& chunks,
                        uint64_t capacity = FrameParser::ReceiveBufferSize)
{
    CircularByteBuffer buf(capacity);
    FrameParser parser;
    QStringList seen;
    size_t handed = 0;
    for (const auto& chunk : chunks) {
        buf.write(chunk.data(), chunk.size());
        handed += parser.drive(buf, [&](std::unique_ptr<Frame> msg) {
            seen << (msg ? describe(*msg) : QString("null message"));
        });
    }
    if (handed != size_t(seen.size()))
        seen << "drive() miscounted";
    return seen;
}

} // namespace

Q_DECLARE_METATYPE(Bytes)

class TstParser : public QObject
{
    Q_OBJECT

private slots:
    // Stray bytes that look like the start of a frame (random strays are fuzz_roundtrip's).
    void streams_data()
    {
        columns<Bytes, QStringList>({"stream", "messages"});
        const Bytes enquiry = hexBytes(kEnquiryAnswer);
        row("code and length without sync", cat({hexBytes("571A00"), enquiry}),
            QStringList{kEnquiry});
        row("CRC bytes of an earlier frame", cat({hexBytes("F716"), enquiry}),
            QStringList{kEnquiry});
        // Its CRC is 0xA12A: cut inside the CRC, the 0x2A that follows must not start a frame.
        const std::string mac = "MAC=0E:0E:D1:FF:28:01";
        row("CRC holding a sync byte", cat({frame(0x59, Bytes(mac.begin(), mac.end())), enquiry}),
            QStringList{"Y 0e:0e:d1:ff:28:01", kEnquiry});
        row("change answers, the first with an empty payload",
            cat({frame(0x58, {}), frame(0x58, hexBytes("0102015E4D3C2B1A00FFFF"))}),
            QStringList{"X 0 0" + kNoNetInfo + " err 0",
                        "X 1 258 00:1a:2b:3c:4d:5e 0 0.0.0.0 0.0.0.0 0.0.0.0 0.0.0.0 err -1"});
        row("length one beyond the receive buffer", cat({hexBytes("2A570140"), enquiry}),
            QStringList{kEnquiry});
    }

    // The same messages whether the stream comes whole, byte by byte, or cut in two anywhere.
    void streams()
    {
        QFETCH(Bytes, stream);
        QFETCH(QStringList, messages);
        QCOMPARE(parseChunks({stream}), messages);
        std::vector<Bytes> bytes;
        for (uint8_t b : stream)
            bytes.push_back({b});
        QCOMPARE(parseChunks(bytes), messages);
        for (auto cut = stream.begin() + 1; cut != stream.end(); ++cut) {
            if (parseChunks({Bytes(stream.begin(), cut), Bytes(cut, stream.end())}) != messages)
                QFAIL(qPrintable(
                    QString("differs when cut after byte %1").arg(cut - stream.begin())));
        }
    }

    void payloadLimitIsTheBufferCapacity()
    {
        // A payload exactly as large as the buffer still arrives: the header has left it.
        Bytes payload(FrameParser::ReceiveBufferSize, 0);
        payload[1] = 0x34;
        payload[2] = 0x12;
        const auto big = frame(0x57, payload);
        const Bytes header(big.begin(), big.begin() + 4), body(big.begin() + 4, big.end() - 2);
        const Bytes tail = cat({{big.end() - 2, big.end()}, hexBytes(kEnquiryAnswer)});
        QCOMPARE(parseChunks({header, body, tail}),
                 QStringList({"W 0 4660" + kNoNetInfo, kEnquiry}));
    }

    // Sender 1's first 10 bytes, `otherSenders` frame starts, its rest at `restAtMs`.
    void reassemblyLimits_data()
    {
        QTest::addColumn<int>("otherSenders");
        QTest::addColumn<Bytes>("sameSenderBefore"); // sender 1 first sends this datagram
        columns<int, bool>({"restAtMs", "completes"});
        QTest::addColumn<int>("thenWhole"); // messages in all after a whole answer follows
        const Bytes none;
        row("63 other senders begin frames", 63, none, 10, true, 2);
        row("64 other senders push it out", 64, none, 10, false, 1);
        row("rest just within the idle limit", 0, none, 1000, true, 2);
        row("rest after the idle limit", 0, none, 1001, false, 1);
        // 1024-byte frames are carried; longer ones dropped, the next datagram afresh.
        row("1024-byte frame carried, swallowing what follows", 0, hexBytes("2A41FA03"), 10, false,
            0);
        row("1025-byte frame dropped at the datagram's end", 0, hexBytes("2A41FB03"), 10, true, 2);
    }

    void reassemblyLimits()
    {
        QFETCH(int, otherSenders);
        QFETCH(Bytes, sameSenderBefore);
        QFETCH(int, restAtMs);
        QFETCH(bool, completes);
        QFETCH(int, thenWhole);
        SenderReassembler reassembler(1000);
        QStringList seen;
        const auto collect = [&seen](std::unique_ptr<Frame> msg) { seen << describe(*msg); };
        const Sender one{7, 0x0A0A00FE, 62726};
        const Bytes answer = hexBytes(kEnquiryAnswer);
        const Bytes head(answer.begin(), answer.begin() + 10),
            rest(answer.begin() + 10, answer.end());
        if (!sameSenderBefore.empty())
            reassembler.feed(one, sameSenderBefore.data(), sameSenderBefore.size(), 0, collect);
        reassembler.feed(one, head.data(), head.size(), 0, collect);
        for (int i = 0; i < otherSenders; ++i)
            reassembler.feed(Sender{7, 0x0A0A0001, uint16_t(40000 + i)}, head.data(), head.size(),
                             1, collect);
        QVERIFY(reassembler.partialSenders() <= SenderReassembler::MaxPartialSenders);
        reassembler.feed(one, rest.data(), rest.size(), restAtMs, collect);
        QCOMPARE(seen, completes ? QStringList{kEnquiry} : QStringList{});
        reassembler.feed(one, answer.data(), answer.size(), restAtMs, collect);
        QCOMPARE(seen.size(), thenWhole);
    }
};

QTEST_APPLESS_MAIN(TstParser)
#include "tst_parser.moc"
