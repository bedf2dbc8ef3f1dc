// SPDX-License-Identifier: Apache-2.0
// SPDX-FileCopyrightText: 2026 The Corla developers
#include "core/wire/circularbuffer.h"
#include "core/wire/crc.h"
#include "tests/support/datarow.h"

#include <QtTest>

#include <numeric>
#include <vector>

using namespace corla;

class TstProtocolPrimitives : public QObject
{
    Q_OBJECT

private slots:
    void circularWriteLimits_data()
    {
        columns<int, int, int>({"preload", "request", "stored"});

        QTest::newRow("overlong into empty") << 0 << 20 << 16;
        QTest::newRow("exactly fills") << 6 << 10 << 10;
        QTest::newRow("partly full, overlong") << 10 << 10 << 6;
        QTest::newRow("full refuses all") << 16 << 1 << 0;
        QTest::newRow("nothing stored, read leaves destination alone") << 0 << 0 << 0;
    }

    void circularWriteLimits()
    {
        QFETCH(int, preload);
        QFETCH(int, request);
        QFETCH(int, stored);

        CircularByteBuffer buf(16);
        std::vector<uint8_t> data(size_t(preload + request));
        std::iota(data.begin(), data.end(), uint8_t(0));
        buf.write(data.data(), uint64_t(preload));
        QCOMPARE(buf.write(data.data() + preload, uint64_t(request)), quint64(stored));

        std::vector<uint8_t> out(32, 0xEE);
        QCOMPARE(buf.read(out.data(), out.size()), quint64(preload + stored));
        data.resize(size_t(preload + stored));
        data.resize(32, 0xEE);
        QCOMPARE(out, data);
    }

    void circularWrapAround()
    {
        // Odd-sized chunks over many wraps, often full, keep the byte order.
        CircularByteBuffer buf(13);
        uint8_t nextIn = 0, nextOut = 0, chunk[11], out[7];
        for (int round = 0; round < 500; ++round) {
            const size_t want = size_t(round % 11) + 1;
            std::iota(chunk, chunk + want, nextIn);
            nextIn = uint8_t(nextIn + buf.write(chunk, want));
            const uint64_t got = buf.read(out, size_t(round % 7) + 1);
            for (uint64_t i = 0; i < got; ++i)
                QCOMPARE(out[i], nextOut++);
        }
    }

    // CRC-16/ARC: the published check value, another text, and an empty block.
    void crcCheckValues()
    {
        QCOMPARE(calculateCrc(reinterpret_cast<const uint8_t*>("123456789"), 9), uint16_t(0xBB3D));
        QCOMPARE(calculateCrc(reinterpret_cast<const uint8_t*>("abc"), 3), uint16_t(0x9738));
        QCOMPARE(calculateCrc(nullptr, 0), uint16_t(0));
    }
};

QTEST_APPLESS_MAIN(TstProtocolPrimitives)
#include "tst_protocol_primitives.moc"
