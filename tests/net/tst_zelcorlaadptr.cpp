#include "nettestutil.h"
#include "zelcorlaadptr.h"

#include <QtTest>

#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;

void put16(Bytes& b, uint16_t v)
{
    b.push_back(static_cast<uint8_t>(v));
    b.push_back(static_cast<uint8_t>(v >> 8));
}

void put32(Bytes& b, uint32_t v)
{
    put16(b, static_cast<uint16_t>(v));
    put16(b, static_cast<uint16_t>(v >> 16));
}

const TevMacAddr kMac(std::array<uint8_t, 6>{0x5e, 0x4d, 0x3c, 0x2b, 0x1a, 0x00});

TevNetHostInfo sampleSettings()
{
    return TevNetHostInfo(TevIpAddr("192.168.1.10"), TevIpAddr("255.255.255.0"),
                          TevIpAddr("192.168.1.1"), TevIpAddr("192.168.1.2"), kMac,
                          TevAddressModeManual);
}

// Device type, serial, MAC, then the answer's middle field, then mode and addresses.
Bytes settingsPayload(int8_t type, uint16_t serial, const TevNetHostInfo& s, const Bytes& middle)
{
    Bytes b{static_cast<uint8_t>(type)};
    put16(b, serial);
    b.insert(b.end(), s.macAddress().octets().begin(), s.macAddress().octets().end());
    b.insert(b.end(), middle.begin(), middle.end());
    b.push_back(static_cast<uint8_t>(s.addressMode()));
    put32(b, s.ipAddress().toInt());
    put32(b, s.subnetMask().toInt());
    put32(b, s.gateway().toInt());
    put32(b, s.dns().toInt());
    return b;
}

QByteArray frame(uint8_t code, const Bytes& payload)
{
    const Bytes f = encodeCorlaFrame(code, payload.data(), payload.size());
    return QByteArray(reinterpret_cast<const char*>(f.data()), static_cast<int>(f.size()));
}

QByteArray enquiryAnswer(int8_t type, uint16_t serial, const TevNetHostInfo& s)
{
    return frame(ZelCorlaCode::NetworkEnquiry, settingsPayload(type, serial, s, {}));
}

QByteArray changeAnswer(int8_t type, uint16_t serial, int16_t error, const TevNetHostInfo& s)
{
    Bytes code;
    put16(code, static_cast<uint16_t>(error));
    return frame(ZelCorlaCode::ChangeNetwork, settingsPayload(type, serial, s, code));
}

QByteArray resetAnswer(const char* text)
{
    const QByteArray t(text);
    return frame(ZelCorlaCode::ResetDevice, Bytes(t.begin(), t.end()));
}

// The receive step of the adapter, fed with datagrams as a socket would deliver them.
class Adapter : public ZelCorlaAdapter
{
public:
    Adapter()
    {
        connect(this, &ZelCorlaAdapter::deviceFound,
                [this](std::shared_ptr<TevDevice> d) { found.push_back(d); });
        connect(this, &ZelCorlaAdapter::deviceChanged,
                [this](std::shared_ptr<ZelDevice> d) { changed.push_back(d); });
        connect(this, &ZelCorlaAdapter::deviceReset, [this](TevMacAddr m) { reset.append(m); });
        connect(this, &ZelCorlaAdapter::error, [this](const QString& e) { errors.append(e); });
    }
    void feed(const QByteArray& datagram, uint32_t iface = 0)
    {
        processDatagram(reinterpret_cast<const uint8_t*>(datagram.constData()),
                        static_cast<uint64_t>(datagram.size()), iface);
    }
    std::vector<std::shared_ptr<TevDevice>> found;
    std::vector<std::shared_ptr<ZelDevice>> changed;
    QList<TevMacAddr> reset;
    QStringList errors;
};

const char* className(const TevDevice* d)
{
    if (dynamic_cast<const ZelDevice*>(d))
        return "ZelDevice";
    if (dynamic_cast<const HciDevice*>(d))
        return "HciDevice";
    if (dynamic_cast<const SmRecDevice*>(d))
        return "SmRecDevice";
    return "TevDevice";
}

} // namespace

class TstZelCorlaAdapter : public QObject
{
    Q_OBJECT

private slots:
    void enquiryAnswerBecomesARecord_data();
    void enquiryAnswerBecomesARecord();
    void acceptedChangeIsReported();
    void refusalText_data();
    void refusalText();
    void resetAnswerNamesTheDevice();
    void datagramShapes_data();
    void datagramShapes();
    void withoutUsableInterfaceNothingIsSent();
};

void TstZelCorlaAdapter::enquiryAnswerBecomesARecord_data()
{
    QTest::addColumn<int>("type");
    QTest::addColumn<QString>("expectedClass");
    QTest::newRow("Nerio HF") << 5 << "ZelDevice";
    QTest::newRow("Dorvi") << 15 << "ZelDevice";
    QTest::newRow("KWT") << 16 << "HciDevice";
    QTest::newRow("Battery Pack") << 13 << "SmRecDevice";
    QTest::newRow("unsupported (-1)") << -1 << "TevDevice";
    QTest::newRow("code without a name") << 20 << "TevDevice";
}

void TstZelCorlaAdapter::enquiryAnswerBecomesARecord()
{
    QFETCH(int, type);
    QFETCH(QString, expectedClass);
    Adapter adapter;
    const uint32_t iface = TevIpAddr("10.10.1.1").toInt();
    adapter.feed(enquiryAnswer(static_cast<int8_t>(type), 4321, sampleSettings()), iface);

    QCOMPARE(adapter.found.size(), size_t(1));
    const TevDevice& d = *adapter.found.front();
    QCOMPARE(QString(className(&d)), expectedClass);
    QCOMPARE(int(d.devType()), type);
    QCOMPARE(d.serial(), uint16_t(4321));
    QVERIFY(d.netHostInfo() == sampleSettings());
    QCOMPARE(d.commsIfaceAddr().toString(), std::string("10.10.1.1"));
    QVERIFY(adapter.changed.empty() && adapter.errors.isEmpty() && adapter.reset.isEmpty());
}

void TstZelCorlaAdapter::acceptedChangeIsReported()
{
    Adapter adapter;
    // A host controller's answer still comes back as the plain hydrophone-class record.
    adapter.feed(changeAnswer(8, 77, 0, sampleSettings()));
    QCOMPARE(adapter.changed.size(), size_t(1));
    const ZelDevice& d = *adapter.changed.front();
    QCOMPARE(d.serial(), uint16_t(77));
    QCOMPARE(d.devType(), ZelDeviceType::HostController);
    QVERIFY(d.netHostInfo() == sampleSettings());
    QVERIFY(adapter.errors.isEmpty() && adapter.found.empty());
}

void TstZelCorlaAdapter::refusalText_data()
{
    QTest::addColumn<int>("code");
    QTest::addColumn<QString>("reason");
    QTest::newRow("-1 device error") << -1 << "An error occured in the device.";
    QTest::newRow("1 address") << 1 << "The IP address was invalid.";
    QTest::newRow("2 subnet") << 2 << "The subnet was invalid.";
    QTest::newRow("3 gateway") << 3 << "The gateway address was invalid.";
    QTest::newRow("4 broadcast") << 4 << "The IP address was a broadcast address.";
    QTest::newRow("5 unchanged")
        << 5 << "The IP address given was the same as the device's existing address.";
    QTest::newRow("6 mode") << 6 << "The address acquisition mode was invalid.";
    QTest::newRow("9 without a known reason") << 9 << "";
}

void TstZelCorlaAdapter::refusalText()
{
    QFETCH(int, code);
    QFETCH(QString, reason);
    Adapter adapter;
    adapter.feed(changeAnswer(5, 1234, static_cast<int16_t>(code), sampleSettings()));
    QCOMPARE(adapter.errors,
             QStringList{"The network configuration was rejected by Nerio HF #1234.\n\nReason: " +
                         reason});
    QVERIFY(adapter.changed.empty());
}

void TstZelCorlaAdapter::resetAnswerNamesTheDevice()
{
    Adapter adapter;
    adapter.feed(resetAnswer("MAC=00:1A:2B:3C:4D:5E"));
    QCOMPARE(adapter.reset.size(), 1);
    QCOMPARE(adapter.reset.front().toString(), std::string("00:1a:2b:3c:4d:5e"));
    QVERIFY(adapter.reset.front() == kMac);
}

void TstZelCorlaAdapter::datagramShapes_data()
{
    QTest::addColumn<QList<QByteArray>>("datagrams");
    QTest::addColumn<QList<int>>("foundAfterEach");

    const QByteArray a = enquiryAnswer(5, 1, sampleSettings());
    const QByteArray b = enquiryAnswer(7, 2, sampleSettings());
    QTest::newRow("the same answer twice: two records")
        << QList<QByteArray>{a, a} << QList<int>{1, 2};
    QTest::newRow("two frames in one datagram") << QList<QByteArray>{a + b} << QList<int>{2};
    QTest::newRow("frame split after its header")
        << QList<QByteArray>{a.left(4), a.mid(4)} << QList<int>{0, 1};
    QTest::newRow("frame split inside its header")
        << QList<QByteArray>{a.left(2), a.mid(2)} << QList<int>{0, 1};
    QTest::newRow("stray bytes before a frame")
        << QList<QByteArray>{QByteArray("\x11\x22", 2) + a} << QList<int>{1};
    QTest::newRow("unknown code, then an answer")
        << QList<QByteArray>{frame('A', {1, 2, 3}), a} << QList<int>{0, 1};
    QTest::newRow("empty datagram changes nothing")
        << QList<QByteArray>{QByteArray(), a} << QList<int>{0, 1};
    // 32-byte answers: 500 nearly fill the 16384-byte buffer, 1200 overflow it.
    QByteArray fiveHundred, twelveHundred;
    for (int i = 0; i < 500; ++i)
        fiveHundred += a;
    for (int i = 0; i < 1200; ++i)
        twelveHundred += b;
    QTest::newRow("datagrams whose sum exceeds the buffer")
        << QList<QByteArray>{fiveHundred, fiveHundred} << QList<int>{500, 1000};
    QTest::newRow("one datagram larger than the buffer")
        << QList<QByteArray>{twelveHundred} << QList<int>{1200};
}

void TstZelCorlaAdapter::datagramShapes()
{
    QFETCH(QList<QByteArray>, datagrams);
    QFETCH(QList<int>, foundAfterEach);
    Adapter adapter;
    for (int i = 0; i < datagrams.size(); ++i) {
        adapter.feed(datagrams[i]);
        QCOMPARE(int(adapter.found.size()), foundAfterEach[i]);
    }
}

void TstZelCorlaAdapter::withoutUsableInterfaceNothingIsSent()
{
    // The private namespace has loopback only, which requests never use.
    if (!inPrivateNetns())
        QFAIL("this test must run inside scripts/netns-run");
    ZelCorlaAdapter adapter;
    adapter.setTimeoutPeriod(50);
    QSignalSpy timeouts(&adapter, &ZelCorlaAdapter::timeout);
    DebugCapture capture;
    QVERIFY(adapter.localAddresses().isEmpty());
    adapter.netEnquire(ZelDevice(ZelDeviceType::NoDevice));
    adapter.resetDevice(kMac);
    QTest::qWait(200);
    QCOMPARE(timeouts.count(), 0);
    QCOMPARE(capture.messages(), QStringList());
}

QTEST_GUILESS_MAIN(TstZelCorlaAdapter)
#include "tst_zelcorlaadptr.moc"
