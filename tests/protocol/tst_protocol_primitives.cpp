#include "bytestream.h"
#include "circbuf.h"
#include "crc.h"
#include "fsm.h"

#include <QtTest>

#include <numeric>
#include <vector>

namespace {

std::vector<uint8_t> counting(uint8_t first, size_t n)
{
    std::vector<uint8_t> v(n);
    std::iota(v.begin(), v.end(), first);
    return v;
}

// A machine with three states that records which one ran.
class ThreeStates : public FiniteStateMachine
{
public:
    ThreeStates() : FiniteStateMachine(asState(&ThreeStates::first)) {}
    void first(const StateEvent*)
    {
        ran.push_back(1);
        transition(asState(&ThreeStates::second));
    }
    void second(const StateEvent*)
    {
        ran.push_back(2);
        transition(asState(&ThreeStates::third));
    }
    void third(const StateEvent*) { ran.push_back(3); }
    std::vector<int> ran;
};

} // namespace

class TstProtocolPrimitives : public QObject
{
    Q_OBJECT

private slots:
    void circularWrapAround();
    void circularWriteLimits_data();
    void circularWriteLimits();
    void circularReadFromEmpty();
    void circularWriteToEndResetsIndex();
    void circularLongRun();
    void byteStreamShortRead();
    void byteStreamExactRead();
    void byteStreamEmptyBlock();
    void stateMachineRunsOneStatePerDispatch();
    void stateMachineEndStateReplaced();
    void stateMachineUnsetDoesNothing();
    void crcCheckValues_data();
    void crcCheckValues();
    void crcTable();
};

void TstProtocolPrimitives::circularWrapAround()
{
    CircularByteBuffer buf(16);
    const auto first = counting(0, 10);
    QCOMPARE(buf.write(first.data(), 10), quint64(10));
    uint8_t sink[16];
    QCOMPARE(buf.read(sink, 8), quint64(8));
    QCOMPARE(sink[7], uint8_t(7));

    const auto second = counting(100, 12);
    QCOMPARE(buf.write(second.data(), 12), quint64(12)); // crosses the end of storage
    QCOMPARE(buf.count(), quint64(14));

    uint8_t out[16] = {};
    QCOMPARE(buf.read(out, 16), quint64(14));
    std::vector<uint8_t> expected = {8, 9};
    expected.insert(expected.end(), second.begin(), second.end());
    QCOMPARE(std::vector<uint8_t>(out, out + 14), expected);
    QVERIFY(buf.isEmpty());
}

void TstProtocolPrimitives::circularWriteLimits_data()
{
    QTest::addColumn<int>("preload");
    QTest::addColumn<int>("request");
    QTest::addColumn<int>("stored");

    QTest::newRow("overlong into empty") << 0 << 20 << 16;
    QTest::newRow("exactly fills") << 6 << 10 << 10;
    QTest::newRow("partly full, overlong") << 10 << 10 << 6;
    QTest::newRow("full refuses all") << 16 << 1 << 0;
    QTest::newRow("zero bytes") << 5 << 0 << 0;
}

void TstProtocolPrimitives::circularWriteLimits()
{
    QFETCH(int, preload);
    QFETCH(int, request);
    QFETCH(int, stored);

    CircularByteBuffer buf(16);
    const auto pre = counting(0, size_t(preload));
    buf.write(pre.data(), pre.size());
    const auto data = counting(50, size_t(request));
    QCOMPARE(buf.write(data.data(), data.size()), quint64(stored));
    QCOMPARE(buf.count(), quint64(preload + stored));
    QVERIFY(buf.count() <= buf.capacity());

    std::vector<uint8_t> out(32, 0xEE);
    QCOMPARE(buf.read(out.data(), out.size()), quint64(preload + stored));
    // The stored prefix of the request follows the preload; the rest was lost.
    for (int i = 0; i < stored; ++i)
        QCOMPARE(out[size_t(preload + i)], uint8_t(50 + i));
    QCOMPARE(out[size_t(preload + stored)], uint8_t(0xEE));
}

void TstProtocolPrimitives::circularReadFromEmpty()
{
    CircularByteBuffer buf(8);
    uint8_t out[4] = {1, 2, 3, 4};
    QCOMPARE(buf.read(out, 4), quint64(0));
    QCOMPARE(out[0], uint8_t(1));
    QCOMPARE(buf.read(out, 0), quint64(0));

    const uint8_t three[3] = {7, 8, 9};
    buf.write(three, 3);
    QCOMPARE(buf.read(out, 4), quint64(3)); // short read delivers what is there
    QCOMPARE(out[2], uint8_t(9));
    QCOMPARE(out[3], uint8_t(4));
}

void TstProtocolPrimitives::circularWriteToEndResetsIndex()
{
    CircularByteBuffer buf(8);
    const auto a = counting(0, 8);
    QCOMPARE(buf.write(a.data(), 8), quint64(8));
    QVERIFY(buf.isFull());
    uint8_t out[8];
    QCOMPARE(buf.read(out, 3), quint64(3));
    // The write index wrapped to 0, so these three land at the start of storage.
    const uint8_t b[3] = {20, 21, 22};
    QCOMPARE(buf.write(b, 3), quint64(3));
    QCOMPARE(buf.read(out, 8), quint64(8));
    const std::vector<uint8_t> expected = {3, 4, 5, 6, 7, 20, 21, 22};
    QCOMPARE(std::vector<uint8_t>(out, out + 8), expected);
}

void TstProtocolPrimitives::circularLongRun()
{
    // Odd-sized chunks in and out over many wraps keep the byte order intact.
    CircularByteBuffer buf(13);
    uint8_t nextIn = 0, nextOut = 0;
    for (int round = 0; round < 500; ++round) {
        uint8_t chunk[11];
        const size_t want = size_t(round % 11) + 1;
        for (size_t i = 0; i < want; ++i)
            chunk[i] = uint8_t(nextIn + i);
        nextIn = uint8_t(nextIn + buf.write(chunk, want));
        uint8_t out[7];
        const uint64_t got = buf.read(out, size_t(round % 7) + 1);
        for (uint64_t i = 0; i < got; ++i)
            QCOMPARE(out[i], nextOut++);
        QVERIFY(buf.count() <= buf.capacity());
    }
}

void TstProtocolPrimitives::byteStreamShortRead()
{
    const uint8_t block[5] = {1, 2, 3, 4, 5};
    ByteStream s(block, 5);
    char a[4];
    QVERIFY(s.read(a, 4));
    QCOMPARE(s.bytesAvailable(), quint64(1));

    char b[2] = {'x', 'y'};
    s.read(b, 2);
    QCOMPARE(b[0], char(5));
    QCOMPARE(b[1], 'y');
    QVERIFY(s.fail());
    QVERIFY(s.eof());
    QCOMPARE(s.gcount(), std::streamsize(1));
    QCOMPARE(s.bytesAvailable(), quint64(0));

    char c = 'z';
    s.read(&c, 1);
    QCOMPARE(c, 'z');
    QCOMPARE(s.gcount(), std::streamsize(0));
}

void TstProtocolPrimitives::byteStreamExactRead()
{
    const uint8_t block[3] = {0xAA, 0xBB, 0xCC};
    ByteStream s(block, 3);
    char out[3];
    QVERIFY(s.read(out, 3));
    QVERIFY(!s.fail());
    QCOMPARE(uint8_t(out[2]), uint8_t(0xCC));
    QCOMPARE(s.bytesAvailable(), quint64(0));
}

void TstProtocolPrimitives::byteStreamEmptyBlock()
{
    ByteStream s(nullptr, 0);
    char c = 'q';
    s.read(&c, 1);
    QVERIFY(s.fail());
    QCOMPARE(c, 'q');
}

void TstProtocolPrimitives::stateMachineRunsOneStatePerDispatch()
{
    ThreeStates m;
    StateEvent e;
    m.dispatch(&e);
    QCOMPARE(m.ran, std::vector<int>{1});
    QVERIFY(m.state() == FiniteStateMachine::asState(&ThreeStates::second));
    m.dispatch(&e);
    m.dispatch(&e);
    m.dispatch(&e);
    QCOMPARE(m.ran, (std::vector<int>{1, 2, 3, 3}));
}

void TstProtocolPrimitives::stateMachineEndStateReplaced()
{
    ThreeStates m;
    const auto second = FiniteStateMachine::asState(&ThreeStates::second);
    const auto third = FiniteStateMachine::asState(&ThreeStates::third);
    m.addEndState(second);
    m.addEndState(third);
    QVERIFY(m.isEndState(third));
    QVERIFY(!m.isEndState(second));

    StateEvent e;
    m.dispatch(&e); // now in second
    QVERIFY(!m.isAtEndState());
    m.dispatch(&e); // now in third
    QVERIFY(m.isAtEndState());
}

void TstProtocolPrimitives::stateMachineUnsetDoesNothing()
{
    FiniteStateMachine m;
    StateEvent e;
    m.dispatch(&e);
    QVERIFY(m.state() == nullptr);
    QVERIFY(m.isAtEndState()); // two unset states compare equal
}

void TstProtocolPrimitives::crcCheckValues_data()
{
    QTest::addColumn<QByteArray>("data");
    QTest::addColumn<int>("crc");

    QTest::newRow("published check 123456789") << QByteArray("123456789") << 0xBB3D;
    QTest::newRow("abc") << QByteArray("abc") << 0x9738;
    QTest::newRow("empty") << QByteArray() << 0;
    QTest::newRow("single 0x01") << QByteArray(1, '\x01') << 0xC0C1;
    QTest::newRow("enquiry frame head")
        << QByteArray::fromHex("2A570B0000000000000000000050C3") << 0x529A;
}

void TstProtocolPrimitives::crcCheckValues()
{
    QFETCH(QByteArray, data);
    QFETCH(int, crc);
    QCOMPARE(int(calculateCrc(reinterpret_cast<const uint8_t*>(data.constData()),
                              uint16_t(data.size()))),
             crc);
}

void TstProtocolPrimitives::crcTable()
{
    QCOMPARE(ausCrc16Table[0], uint16_t(0));
    QCOMPARE(ausCrc16Table[1], uint16_t(0xC0C1));
    QCOMPARE(ausCrc16Table[128], uint16_t(0xA001));
    QCOMPARE(ausCrc16Table[255], uint16_t(0x4040));
    QCOMPARE(crcUpdate(0x31, 0), ausCrc16Table[0x31]);
}

QTEST_APPLESS_MAIN(TstProtocolPrimitives)
#include "tst_protocol_primitives.moc"
