#include "zeldevice.h"

#include <QtTest>

#include <typeinfo>

namespace {

const auto q = [](const std::string& s) { return QString::fromStdString(s); };
const auto type = [](int code) { return static_cast<ZelDeviceType>(code); };
// The dynamic class of a record, "ZelDevice"; the Itanium ABI prefixes its length.
const auto className = [](const TevDevice& dev) {
    return QString(typeid(dev).name()).remove(QRegularExpression("^[0-9]+"));
};
const uint8_t kMac[6] = {0x5e, 0x4d, 0x3c, 0x2b, 0x1a, 0x00};
const TevNetHostInfo kNet(0xC0A8010Au, 0xFFFFFF00u, 0xC0A80101u, 0xC0A80102u, kMac, 2);

} // namespace

class TestZelDevice : public QObject
{
    Q_OBJECT

private slots:
    void metaTypesKnownByName();
    void createDevice_data();
    void createDevice();
    void dump_data();
    void dump();
    void copyThroughBaseKeepsBaseFields();
    void identityAndOrder();
};

void TestZelDevice::createDevice_data()
{
    QTest::addColumn<int>("code");
    QTest::addColumn<QString>("cls");
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("web");

    const auto row = [](int code, const char* name, const char* cls, bool web) {
        QTest::addRow("code %d", code) << code << cls << name << web;
    };
    row(-1, "Unsupported device", "TevDevice", false);
    row(0, "No device", "TevDevice", false);
    row(1, "Tavio LF", "TevDevice", false);
    row(2, "Nerio LF", "TevDevice", false);
    row(3, "VRTQ", "TevDevice", false);
    row(4, "Tavio", "TevDevice", false);
    row(5, "Nerio HF", "ZelDevice", true);
    row(6, "Tavio HF", "TevDevice", false);
    row(7, "Nerio AF", "ZelDevice", true);
    row(8, "Host Controller", "HciDevice", true);
    row(9, "Host Link", "TevDevice", false);
    row(10, "Pivlo", "TevDevice", false);
    row(11, "Extender Host", "TevDevice", false);
    row(12, "Link Board", "TevDevice", false);
    row(13, "Battery Pack", "SmRecDevice", false);
    row(14, "Extender Device", "TevDevice", false);
    row(15, "Dorvi", "ZelDevice", false);
    row(16, "KWT", "HciDevice", true);
    row(65, "Nerio MF", "TevDevice", false);
    row(66, "ZQ", "TevDevice", false);
    row(17, "Unrecognized Device", "TevDevice", false);
    row(127, "Unrecognized Device", "TevDevice", false);
    // 0x85: the low bits of a web-page code must not count.
    row(-123, "Unrecognized Device", "TevDevice", false);
}

void TestZelDevice::createDevice()
{
    QFETCH(int, code);
    QFETCH(QString, cls);
    QFETCH(QString, name);
    QFETCH(bool, web);

    const auto dev = TevDevice::createDevice(type(code));
    QCOMPARE(className(*dev), cls);
    QCOMPARE(dev->hasWebserver(), web);
    // Decimal serial, no leading zeros, no grouping.
    dev->setSerial(1234);
    QCOMPARE(q(dev->friendlyName()), name + " #1234");
    QCOMPARE(q(dev->deviceId().friendlyName()), name + " #1234");
}

void TestZelDevice::dump_data()
{
    QTest::addColumn<std::shared_ptr<TevDevice>>("device");
    QTest::addColumn<QString>("text");

    const QString common = "FirmwareVer: n/a\nBuild Date: n/a\nDevice Type: %1\nStatus: 2\n"
                           "Enq.Version: 0\n";
    QTest::newRow("TevDevice, signed type")
        << TevDevice::createDevice(ZelDeviceType::Unsupported)
        << "----------- TevDevice ---------- \nSerial: 0\n" + common.arg(-1) + "\n";

    auto zel = std::make_shared<ZelDevice>(ZelDeviceType::Dorvi);
    zel->setSerial(42);
    zel->setLinkType(ZelLinkType::Ethernet);
    zel->setSensitivity(-165.123456f);
    zel->setTemperature(1234567.f);
    zel->setModelString("DV-2");
    QTest::newRow("ZelDevice, six significant digits")
        << std::shared_ptr<TevDevice>(zel)
        << "----------- ZelDevice ---------- \nSerial: 42\nLink type: 3\n" + common.arg(15) +
               "Sensitivity: -165.123\nFirmwareRel: n/a\nModel: DV-2\nTemperature: 1.23457e+06\n"
               "Batt Stat: 0\nBatt %: 0\n\n";

    QTest::newRow("HciDevice banner runs into first line")
        << TevDevice::createDevice(ZelDeviceType::KWT)
        << "----------- HciDevice ---------- Serial: 0\nLink type: 0\n" + common.arg(16) +
               "FirmwareRel: n/a\n\n";

    QTest::newRow("SmRecDevice banner runs into first line")
        << TevDevice::createDevice(ZelDeviceType::BatteryPack)
        << "----------- SmRecDevice ---------- Serial: 0\nLink type: 0\n" + common.arg(13) + "\n";
}

void TestZelDevice::dump()
{
    QFETCH(std::shared_ptr<TevDevice>, device);
    QFETCH(QString, text);
    QCOMPARE(q(device->toString()), text);
}

void TestZelDevice::copyThroughBaseKeepsBaseFields()
{
    auto original = std::make_shared<ZelDevice>(65535, ZelDeviceType::NerioHF, kNet);
    original->setCommsIfaceAddr(TevIpAddr("192.168.1.100"));
    original->setNetStat(ZelNetworkStatus::Reachable);

    TevDevice copy = *original;
    QCOMPARE(className(copy), QString("TevDevice"));
    QCOMPARE(q(copy.friendlyName()), QString("Nerio HF #65535"));
    QVERIFY(copy.netHostInfo() == kNet);
    QCOMPARE(q(copy.commsIfaceAddr().toString()), QString("192.168.1.100"));
    QCOMPARE(copy.netStat(), ZelNetworkStatus::Reachable);
    // A copy is independent of the listed record.
    copy.setNetStat(ZelNetworkStatus::Pending);
    QCOMPARE(original->netStat(), ZelNetworkStatus::Reachable);
}

void TestZelDevice::identityAndOrder()
{
    // Records are equal by type and serial alone.
    const TevDevice a(10, ZelDeviceType::NerioHF, kNet);
    ZelDevice b(10, ZelDeviceType::NerioHF, TevNetHostInfo());
    QVERIFY(a == b && a.deviceId() == ZelDeviceId(b));
    QVERIFY(a != TevDevice(10, ZelDeviceType::NerioAF, kNet));
    b.setSerial(11);
    QVERIFY(a != b && a.deviceId() != ZelDeviceId(b));

    // Ids order by the type as a signed code, then by serial.
    const ZelDeviceId ascending[] = {{type(-128), 0}, {type(-1), 900}, {type(0), 1},
                                     {type(5), 9},    {type(5), 10},   {type(5), 65535},
                                     {type(7), 0},    {type(66), 0}};
    for (size_t i = 1; i < std::size(ascending); ++i)
        QVERIFY(ascending[i - 1] < ascending[i] && !(ascending[i] < ascending[i - 1]));
}

// Queued signals look the types up by these names.
void TestZelDevice::metaTypesKnownByName()
{
    for (const char* name :
         {"TevDevice", "ZelPort", "ZelNetworkStatus", "ZelPortConnStatus", "TevMacAddr",
          "TevNetHostInfo", "std::shared_ptr<TevDevice>", "std::shared_ptr<ZelDevice>"})
        QVERIFY2(QMetaType::type(name) != QMetaType::UnknownType, name);
}

QTEST_GUILESS_MAIN(TestZelDevice)
#include "tst_zeldevice.moc"
