// The adapter's receive step, fed datagrams as a socket would deliver them. Answers of
// every kind, refusal texts and the simulator's fault shapes are checked on real sockets
// in the lab (tst_lab_adapter).
#include "nettestutil.h"
#include "zelcorlaadptr.h"

#include <QtTest>

#include <typeinfo>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;

void put32(Bytes& b, uint32_t v)
{
    for (int shift = 0; shift < 32; shift += 8)
        b.push_back(uint8_t(v >> shift));
}

const TevNetHostInfo kSettings(TevIpAddr("192.168.1.10"), TevIpAddr("255.255.255.0"),
                               TevIpAddr("192.168.1.1"), TevIpAddr("192.168.1.2"),
                               TevMacAddr({0x5e, 0x4d, 0x3c, 0x2b, 0x1a, 0x00}),
                               TevAddressModeManual);

// Type, serial, MAC, mode, address, mask, gateway, DNS: 32 bytes in all.
QByteArray enquiryAnswer(int8_t type, uint16_t serial)
{
    Bytes b{uint8_t(type), uint8_t(serial), uint8_t(serial >> 8)};
    b.insert(b.end(), kSettings.macAddress().octets().begin(),
             kSettings.macAddress().octets().end());
    b.push_back(uint8_t(kSettings.addressMode()));
    for (const TevIpAddr& a :
         {kSettings.ipAddress(), kSettings.subnetMask(), kSettings.gateway(), kSettings.dns()})
        put32(b, a.toInt());
    const Bytes f = encodeCorlaFrame(ZelCorlaCode::NetworkEnquiry, b.data(), b.size());
    return QByteArray(reinterpret_cast<const char*>(f.data()), int(f.size()));
}

class Adapter : public ZelCorlaAdapter
{
public:
    Adapter()
    {
        connect(this, &ZelCorlaAdapter::deviceFound,
                [this](std::shared_ptr<TevDevice> d) { found.push_back(d); });
    }
    void feed(const QByteArray& datagram, uint32_t iface = 0)
    {
        processDatagram(reinterpret_cast<const uint8_t*>(datagram.constData()),
                        uint64_t(datagram.size()), iface);
    }
    std::vector<std::shared_ptr<TevDevice>> found;
};

} // namespace

class TstZelCorlaAdapter : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { CORLA_REQUIRE_PRIVATE_NETNS(); }
    void enquiryAnswerBecomesARecord_data()
    {
        QTest::addColumn<int>("type");
        QTest::addColumn<QByteArray>("expectedClass");
        QTest::newRow("Nerio HF") << 5 << QByteArray(typeid(ZelDevice).name());
        QTest::newRow("KWT") << 16 << QByteArray(typeid(HciDevice).name());
        QTest::newRow("Battery Pack") << 13 << QByteArray(typeid(SmRecDevice).name());
        QTest::newRow("unsupported (-1)") << -1 << QByteArray(typeid(TevDevice).name());
    }

    void enquiryAnswerBecomesARecord()
    {
        QFETCH(int, type);
        QFETCH(QByteArray, expectedClass);
        Adapter adapter;
        adapter.feed(enquiryAnswer(int8_t(type), 4321), TevIpAddr("10.10.1.1").toInt());
        QCOMPARE(adapter.found.size(), size_t(1));
        const TevDevice& d = *adapter.found.front();
        QCOMPARE(QByteArray(typeid(d).name()), expectedClass);
        QCOMPARE(int(d.devType()), type);
        QCOMPARE(d.serial(), uint16_t(4321));
        QVERIFY(d.netHostInfo() == kSettings);
        QCOMPARE(d.commsIfaceAddr().toString(), std::string("10.10.1.1"));
    }

    void datagramShapes_data()
    {
        // 32-byte answers: 500 nearly fill the 16384-byte receive buffer, 1200 overflow it.
        QTest::addColumn<QList<QByteArray>>("datagrams");
        QTest::addColumn<QList<int>>("foundAfterEach");
        const QByteArray a = enquiryAnswer(5, 1);
        QTest::newRow("empty datagram") << QList<QByteArray>{QByteArray(), a} << QList<int>{0, 1};
        QTest::newRow("datagrams whose sum exceeds the buffer")
            << QList<QByteArray>{a.repeated(500), a.repeated(500)} << QList<int>{500, 1000};
        QTest::newRow("one datagram larger than the buffer")
            << QList<QByteArray>{a.repeated(1200)} << QList<int>{1200};
    }

    void datagramShapes()
    {
        QFETCH(QList<QByteArray>, datagrams);
        QFETCH(QList<int>, foundAfterEach);
        Adapter adapter;
        for (int i = 0; i < datagrams.size(); ++i) {
            adapter.feed(datagrams[i]);
            QCOMPARE(int(adapter.found.size()), foundAfterEach[i]);
        }
    }

    void withoutUsableInterfaceNothingIsSent()
    {
        // The private namespace has loopback only, which requests never use.
        QVERIFY2(inPrivateNetns(), "this test must run inside scripts/netns-run");
        ZelCorlaAdapter adapter;
        adapter.setTimeoutPeriod(50);
        QSignalSpy timeouts(&adapter, &ZelCorlaAdapter::timeout);
        DebugCapture capture;
        QVERIFY(adapter.localAddresses().isEmpty());
        adapter.netEnquire(ZelDevice(ZelDeviceType::NoDevice));
        adapter.resetDevice(kSettings.macAddress());
        QTest::qWait(200);
        QCOMPARE(timeouts.count(), 0);
        QCOMPARE(capture.messages(), QStringList());
    }
};

QTEST_GUILESS_MAIN(TstZelCorlaAdapter)
#include "tst_zelcorlaadptr.moc"
