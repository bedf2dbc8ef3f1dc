// SPDX-License-Identifier: Apache-2.0
// SPDX-FileCopyrightText: 2026 The Corla developers
#include "core/wire/crc.h"
#include "tests/support/datarow.h"
#include "tests/support/debugcapture.h"
#include "tests/wire/protocoltestutil.h"

#include <QtTest>

using namespace corla;

class TstCodec : public QObject
{
    Q_OBJECT

private slots:
    // Requests and answers as sent, and the "corla.wire" debug lines of encoding.
    void encode_data()
    {
        columns<int, bool, int, QByteArray, QStringList>(
            {"kind", "answer", "port", "frame", "wireLines"});

        const QStringList none;
        row("enquiry, all zero, port 50000", 0, false, 50000,
            QByteArray("2A570B0000000000000000000050C39A52"), none);
        row("enquiry for one device writes only type, serial, MAC", 1, false, 8080,
            QByteArray("2A570B000334125E4D3C2B1A00901F6E93"), none);
        row("change request, the port where answers put the error", 2, false, 50000,
            QByteArray("2A581C000102015E4D3C2B1A0050C3020A01A8C000FFFFFF0101A8C00808080815C2"),
            none);
        row("reset request, five-digit port", 3, false, 50000,
            QByteArray("2A5920004D41433D30303A31613A32623A33633A34643A35653B504F52543D3530"
                       "303030AD8D"),
            QStringList{"00:1a:2b:3c:4d:5e;50000"});
        row("reset request, zero MAC, one-digit port", 4, false, 7,
            QByteArray("2A591C004D41433D30303A30303A30303A30303A30303A30303B504F52543D37CC36"),
            QStringList{"00:00:00:00:00:00;7"});
        row("enquiry answer: settings in place of the port", 1, true, 8080,
            QByteArray("2A571A000334125E4D3C2B1A00020A01A8C000FFFFFF0101A8C0080808083445"), none);
        row("change answer: the error in place of the port", 2, true, 50000,
            QByteArray("2A581C000102015E4D3C2B1A00FFFF020A01A8C000FFFFFF0101A8C0080808082C92"),
            none);
        row("reset answer, upper case, no port", 3, true, 50000,
            QByteArray("2A5915004D41433D30303A31413A32423A33433A34443A354584C2"), none);
    }

    void encode()
    {
        QFETCH(int, kind);
        QFETCH(bool, answer);
        QFETCH(int, port);
        QFETCH(QByteArray, frame);
        QFETCH(QStringList, wireLines);

        const uint8_t kMacWire[6] = {0x5E, 0x4D, 0x3C, 0x2B, 0x1A, 0x00}; // 00:1a:2b:3c:4d:5e
        const NetworkSettings settings(0xC0A8010Au, 0xFFFFFF00u, 0xC0A80101u, 0x08080808u, kMacWire,
                                       AddressModeStatic);
        EnquiryMessage blank;
        EnquiryMessage one(3, 0x1234, settings);
        ChangeMessage change(1, 0x0102, settings);
        change.setError(-1);
        ResetMessage reset(MacAddress{kMacWire});
        ResetMessage resetZero;
        MessagePayload* payloads[] = {&blank, &one, &change, &reset, &resetZero};
        payloads[kind]->setResponsePort(uint16_t(port));
        const Frame cmd(payloads[kind]); // wraps, and must not delete, a stack payload

        DebugCapture capture;
        if (answer) {
            QCOMPARE(toHex(cmd.frame(PayloadLayout::Answer)), frame);
        } else {
            std::vector<uint8_t> buffer(128, 0xEE);
            uint64_t size = 3;
            cmd.serialize(&size, buffer.data());
            QCOMPARE(toHex(std::vector<uint8_t>(buffer.begin() + 3, buffer.begin() + long(size))),
                     frame);
            QCOMPARE(buffer[size], uint8_t(0xEE));
        }
        QCOMPARE(capture.messages(), wireLines);
    }

    void frameLimits()
    {
        std::vector<uint8_t> big(MaxPayloadSize + 1, 0x2A);
        QVERIFY(encodeFrame(0x41, big.data(), big.size()).empty());

        const auto frame = encodeFrame(0x41, big.data(), MaxPayloadSize);
        QCOMPARE(frame.size(), MaxPayloadSize + 6);
        uint16_t crc = calculateCrc(frame.data(), 0xFFFF);
        for (size_t i = 0xFFFF; i < frame.size() - 2; ++i)
            crc = crcUpdate(frame[i], crc);
        QCOMPARE(uint16_t(frame[frame.size() - 2] | frame.back() << 8), crc);
    }

    void splitFrame_data()
    {
        QTest::addColumn<QByteArray>("datagram");
        QTest::addColumn<QString>("parts"); // code, payload size, CRC verdict

        row("empty payload", QByteArray("2A410000580C"), "A 0 ok");
        row("wrong CRC still splits", QByteArray("2A570B0000000000000000000050C39A53"), "W 11 bad");
        row("no sync byte", QByteArray("2B570B0000000000000000000050C39A52"), "no");
        row("one byte short", QByteArray("2A570B0000000000000000000050C39A"), "no");
        row("trailing byte", QByteArray("2A570B0000000000000000000050C39A5200"), "no");
    }

    void splitFrame()
    {
        QFETCH(QByteArray, datagram);
        QFETCH(QString, parts);

        const auto bytes = hexBytes(datagram.constData());
        FrameParts f;
        QString got = "no";
        if (corla::splitFrame(bytes.data(), bytes.size(), &f))
            got = QString("%1 %2 ").arg(QChar(f.code)).arg(f.payload.size()) +
                  (f.crcMatches ? "ok" : "bad");
        QCOMPARE(got, parts);
        if (f.crcMatches)
            QCOMPARE(toHex(encodeFrame(f.code, f.payload.data(), f.payload.size())), toHex(bytes));
    }

    // Short, long and malformed input (whole messages are fuzz_roundtrip's).
    void decode_data()
    {
        columns<bool, QByteArray>({"request", "payload"});
        QTest::addColumn<QString>("fields"); // as describe() writes them; the code letter first
        QTest::addColumn<QString>("status");

        const QByteArray enq =
            QByteArray::fromHex("0334125E4D3C2B1A00020A01A8C000FFFFFF0101A8C004040808");
        const QString enqHead =
            "W 3 4660 00:1a:2b:3c:4d:5e 2 192.168.1.10 255.255.255.0 192.168.1.1 ";
        const QString zero = "00:00:00:00:00:00 0 0.0.0.0 0.0.0.0 0.0.0.0 0.0.0.0";
        const QString ok = "complete", shortened = "short", malformed = "malformed";
        row("enquiry answer of 22 bytes has no DNS", false, enq.left(22), enqHead + "0.0.0.0",
            shortened);
        row("enquiry answer with extra bytes", false, enq + "\xFF\xFF", enqHead + "8.8.4.4", ok);
        row("enquiry answer, empty payload", false, QByteArray(), "W 0 0 " + zero, shortened);
        row("enquiry answer, type byte 0xFF carried as is", false, QByteArray::fromHex("FF0100"),
            "W 255 1 " + zero, shortened);

        const QByteArray change =
            QByteArray::fromHex("0102015E4D3C2B1A00FFFF010A01A8C000FFFFFF0101A8C008080808");
        const QString changeHead =
            "X 1 258 00:1a:2b:3c:4d:5e 1 192.168.1.10 255.255.255.0 192.168.1.1 ";
        row("change answer error 4, no DNS", false, change.left(24).replace(9, 2, "\x04\x00", 2),
            changeHead + "0.0.0.0 err 4", shortened);

        row("reset answer, text after the MAC ignored", false,
            QByteArray("MAC=00:1A:2B:3C:4D:5E;PORT=1"), "Y 00:1a:2b:3c:4d:5e", ok);
        row("reset answer that does not scan", false, QByteArray("HELLO THERE"),
            "Y 00:00:00:00:00:00", malformed);
        row("unknown code", false, QByteArray("A"), "none", "unknown");

        row("enquiry request one byte short", true, QByteArray::fromHex("0334125E4D3C2B1A0090"),
            "W 3 4660 00:1a:2b:3c:4d:5e 0 0.0.0.0 0.0.0.0 0.0.0.0 0.0.0.0 port 144", shortened);
        row("reset request, hex of either case", true,
            QByteArray("MAC=00:1a:2B:3c:4D:5e;PORT=50000"), "Y 00:1a:2b:3c:4d:5e port 50000", ok);
        row("reset request, port 65536", true, QByteArray("MAC=00:1a:2b:3c:4d:5e;PORT=65536"),
            "Y 00:00:00:00:00:00", malformed);
        row("reset request with a terminating zero", true,
            QByteArray("MAC=00:1a:2b:3c:4d:5e;PORT=7", 29), "Y 00:00:00:00:00:00", malformed);
        row("reset request, '-' between the pairs", true,
            QByteArray("MAC=00-1a-2b-3c-4d-5e;PORT=7"), "Y 00:00:00:00:00:00", malformed);
    }

    void decode()
    {
        QFETCH(bool, request);
        QFETCH(QByteArray, payload);
        QFETCH(QString, fields);
        QFETCH(QString, status);

        const auto* data = reinterpret_cast<const uint8_t*>(payload.constData());
        const uint8_t code = fields == "none" ? uint8_t(payload[0]) : uint8_t(fields[0].toLatin1());
        std::unique_ptr<MessagePayload> decoded;
        DebugCapture capture;
        const DecodeStatus got =
            decodeCorlaPayload(code, request ? PayloadLayout::Request : PayloadLayout::Answer, data,
                               size_t(payload.size()), &decoded);
        const char* names[] = {"complete", "short", "malformed", "unknown"};
        QCOMPARE(QString(names[int(got)]), status);
        QCOMPARE(decoded ? describe(Frame(std::move(decoded))) : QString("none"), fields);
        const bool resetAnswer = !request && fields.startsWith('Y');
        QCOMPARE(capture.messages(), resetAnswer ? QStringList{fields.mid(2)} : QStringList());
    }

    // An unknown code is skipped with a wire line; a null handler still counts the rest.
    void unknownCodeIsSkipped()
    {
        const auto unknown = encodeFrame(0x41, nullptr, 0);
        const auto enquiry =
            hexBytes("2A571A000334125E4D3C2B1A00020A01A8C000FFFFFF0101A8C0080808083445");
        CircularByteBuffer buffer(64);
        buffer.write(unknown.data(), unknown.size());
        buffer.write(enquiry.data(), enquiry.size());
        DebugCapture capture;
        QCOMPARE(FrameParser().drive(buffer, nullptr), size_t(1));
        QCOMPARE(capture.messages(), QStringList{"Unknown Corla message received! Code=A"});
    }
};

QTEST_APPLESS_MAIN(TstCodec)
#include "tst_codec.moc"
