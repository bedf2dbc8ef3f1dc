// SPDX-License-Identifier: Apache-2.0
// SPDX-FileCopyrightText: 2026 The Corla developers
#include "crc.h"
#include "protocoltestutil.h"

#include <QtTest>

class TstCodec : public QObject
{
    Q_OBJECT

private slots:
    void requestFrames_data()
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

    void requestFrames()
    {
        QFETCH(int, kind);
        QFETCH(int, port);
        QFETCH(QByteArray, frame);

        const uint8_t kMacWire[6] = {0x5E, 0x4D, 0x3C, 0x2B, 0x1A, 0x00}; // 00:1a:2b:3c:4d:5e
        const TevNetHostInfo settings(0xC0A8010Au, 0xFFFFFF00u, 0xC0A80101u, 0x08080808u, kMacWire,
                                      TevAddressModeManual);
        ZelNetworkEnqireCmd blank;
        ZelNetworkEnqireCmd one(3, 0x1234, settings);
        ZelChangeNetworkCmd change(1, 0x0102, settings);
        ZelResetDeviceCmd reset(TevMacAddr{kMacWire});
        ZelResetDeviceCmd resetZero;
        ZelCorlaCommandPayload* payloads[] = {&blank, &one, &change, &reset, &resetZero};
        payloads[kind]->setResponsePort(uint16_t(port));
        const ZelCorlaCommand cmd(payloads[kind]); // wraps, and must not delete, a stack payload

        // The frame is appended behind what the buffer already holds.
        std::vector<uint8_t> buffer(128, 0xEE);
        uint64_t size = 3;
        ReportCapture quiet;
        cmd.serialize(&size, buffer.data());
        QCOMPARE(toHex(std::vector<uint8_t>(buffer.begin() + 3, buffer.begin() + long(size))),
                 frame);
        QCOMPARE(buffer[size], uint8_t(0xEE));
    }

    void frameLimits()
    {
        std::vector<uint8_t> big(CorlaMaxPayload + 1, 0x2A);
        QVERIFY(encodeCorlaFrame(0x41, big.data(), big.size()).empty());

        // The largest payload still frames, with a CRC over more than one calculateCrc call.
        const auto frame = encodeCorlaFrame(0x41, big.data(), CorlaMaxPayload);
        QCOMPARE(frame.size(), CorlaMaxPayload + 6);
        uint16_t crc = calculateCrc(frame.data(), 0xFFFF);
        for (size_t i = 0xFFFF; i < frame.size() - 2; ++i)
            crc = crcUpdate(frame[i], crc);
        QCOMPARE(uint16_t(frame[frame.size() - 2] | frame.back() << 8), crc);
    }

    void splitFrame_data()
    {
        QTest::addColumn<QByteArray>("datagram");
        QTest::addColumn<QString>("parts"); // code, payload size, CRC verdict

        QTest::newRow("enquiry request")
            << QByteArray("2A570B0000000000000000000050C39A52") << "W 11 ok";
        QTest::newRow("empty payload") << QByteArray("2A410000580C") << "A 0 ok";
        QTest::newRow("wrong CRC still splits")
            << QByteArray("2A570B0000000000000000000050C39A53") << "W 11 bad";
        QTest::newRow("no sync byte") << QByteArray("2B570B0000000000000000000050C39A52") << "no";
        QTest::newRow("one byte short") << QByteArray("2A570B0000000000000000000050C39A") << "no";
        QTest::newRow("trailing byte")
            << QByteArray("2A570B0000000000000000000050C39A5200") << "no";
    }

    void splitFrame()
    {
        QFETCH(QByteArray, datagram);
        QFETCH(QString, parts);

        const auto bytes = hexBytes(datagram.constData());
        CorlaFrame f;
        QString got = "no";
        if (splitCorlaFrame(bytes.data(), bytes.size(), &f))
            got = QString("%1 %2 ").arg(QChar(f.code)).arg(f.payload.size()) +
                  (f.crcMatches ? "ok" : "bad");
        QCOMPARE(got, parts);
        if (f.crcMatches)
            QCOMPARE(toHex(encodeCorlaFrame(f.code, f.payload.data(), f.payload.size())),
                     toHex(bytes));
    }

    void decodeAnswer_data()
    {
        QTest::addColumn<QByteArray>("payload");
        QTest::addColumn<QString>("fields"); // as describe() writes them; the code letter first

        const QByteArray enq =
            QByteArray::fromHex("0334125E4D3C2B1A00020A01A8C000FFFFFF0101A8C004040808");
        const QString enqHead =
            "W 3 4660 00:1a:2b:3c:4d:5e 2 192.168.1.10 255.255.255.0 192.168.1.1 ";
        const QString zero = "00:00:00:00:00:00 0 0.0.0.0 0.0.0.0 0.0.0.0 0.0.0.0";
        QTest::newRow("enquiry answer") << enq << enqHead + "8.8.4.4";
        QTest::newRow("enquiry answer of 22 bytes has no DNS")
            << enq.left(22) << enqHead + "0.0.0.0";
        QTest::newRow("enquiry answer with extra bytes") << enq + "\xFF\xFF" << enqHead + "8.8.4.4";
        QTest::newRow("enquiry answer, empty payload") << QByteArray() << "W 0 0 " + zero;
        QTest::newRow("enquiry answer, type byte 0xFF carried as is")
            << QByteArray::fromHex("FF0100") << "W 255 1 " + zero;

        const QByteArray change =
            QByteArray::fromHex("0102015E4D3C2B1A00FFFF010A01A8C000FFFFFF0101A8C008080808");
        const QString changeHead =
            "X 1 258 00:1a:2b:3c:4d:5e 1 192.168.1.10 255.255.255.0 192.168.1.1 ";
        QTest::newRow("change answer error -1") << change << changeHead + "8.8.8.8 err -1";
        QTest::newRow("change answer error 4, no DNS")
            << change.left(24).replace(9, 2, "\x04\x00", 2) << changeHead + "0.0.0.0 err 4";

        QTest::newRow("reset answer, upper case")
            << QByteArray("MAC=00:1A:2B:3C:4D:5E") << "Y 00:1a:2b:3c:4d:5e";
        QTest::newRow("reset answer, text after the MAC ignored")
            << QByteArray("MAC=00:1A:2B:3C:4D:5E;PORT=1") << "Y 00:1a:2b:3c:4d:5e";
        QTest::newRow("reset answer that does not scan")
            << QByteArray("HELLO THERE") << "Y 00:00:00:00:00:00";
    }

    void decodeAnswer()
    {
        QFETCH(QByteArray, payload);
        QFETCH(QString, fields);

        const auto* data = reinterpret_cast<const uint8_t*>(payload.constData());
        const uint64_t n = uint64_t(payload.size());
        ReportCapture quiet;
        std::unique_ptr<ZelCorlaCommandPayload> decoded;
        if (fields[0] == 'W')
            decoded = DeserializationFactory<ZelNetworkEnqireCmd>::create(data, n);
        else if (fields[0] == 'X')
            decoded = DeserializationFactory<ZelChangeNetworkCmd>::create(data, n);
        else
            decoded = DeserializationFactory<ZelResetDeviceCmd>::create(data, n);
        QCOMPARE(describe(ZelCorlaCommand(std::move(decoded))), fields);
    }
};

QTEST_APPLESS_MAIN(TstCodec)
#include "tst_codec.moc"
