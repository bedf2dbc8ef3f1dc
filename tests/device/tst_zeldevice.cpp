#include "zeldevice.h"

#include <QSignalSpy>
#include <QtTest>

#include <typeinfo>

namespace {

QString q(const std::string& s)
{
    return QString::fromStdString(s);
}

ZelDeviceType type(int code)
{
    return static_cast<ZelDeviceType>(code);
}

QString className(const TevDevice& dev)
{
    if (typeid(dev) == typeid(ZelDevice))
        return "ZelDevice";
    if (typeid(dev) == typeid(HciDevice))
        return "HciDevice";
    if (typeid(dev) == typeid(SmRecDevice))
        return "SmRecDevice";
    if (typeid(dev) == typeid(TevDevice))
        return "TevDevice";
    return "other";
}

TevNetHostInfo sampleNetInfo()
{
    TevMacAddr mac;
    TevMacAddr::parse("00:1a:2b:3c:4d:5e", &mac);
    return TevNetHostInfo(TevIpAddr("192.168.1.10"), TevIpAddr("255.255.255.0"),
                          TevIpAddr("192.168.1.1"), TevIpAddr("192.168.1.2"), mac,
                          TevAddressModeManual);
}

} // namespace

class TestZelDevice : public QObject
{
    Q_OBJECT

signals:
    void statusSignal(const TevDevice& device, ZelPort port, ZelNetworkStatus status);
    void foundSignal(std::shared_ptr<TevDevice> device);

private slots:
    void createDevice_data();
    void createDevice();
    void friendlyNameSerial_data();
    void friendlyNameSerial();
    void newRecordDefaults();
    void fourArgumentConstructor();
    void streamStatusPerPort();
    void dump_data();
    void dump();
    void copyThroughBaseKeepsBaseFields();
    void equalityIsTypeAndSerial();
    void deviceIdOrder_data();
    void deviceIdOrder();
    void metaTypeNames_data();
    void metaTypeNames();
    void metaTypesTravelInSignals();
};

void TestZelDevice::createDevice_data()
{
    QTest::addColumn<int>("code");
    QTest::addColumn<QString>("cls");
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("web");

    struct Row
    {
        int code;
        const char* cls;
        const char* name;
        bool web;
    };
    const Row rows[] = {
        {-1, "TevDevice", "Unsupported device", false},
        {0, "TevDevice", "No device", false},
        {1, "TevDevice", "Tavio LF", false},
        {2, "TevDevice", "Nerio LF", false},
        {3, "TevDevice", "VRTQ", false},
        {4, "TevDevice", "Tavio", false},
        {5, "ZelDevice", "Nerio HF", true},
        {6, "TevDevice", "Tavio HF", false},
        {7, "ZelDevice", "Nerio AF", true},
        {8, "HciDevice", "Host Controller", true},
        {9, "TevDevice", "Host Link", false},
        {10, "TevDevice", "Pivlo", false},
        {11, "TevDevice", "Extender Host", false},
        {12, "TevDevice", "Link Board", false},
        {13, "SmRecDevice", "Battery Pack", false},
        {14, "TevDevice", "Extender Device", false},
        {15, "ZelDevice", "Dorvi", false},
        {16, "HciDevice", "KWT", true},
        {65, "TevDevice", "Nerio MF", false},
        {66, "TevDevice", "ZQ", false},
        {17, "TevDevice", "Unrecognized Device", false},
        {20, "TevDevice", "Unrecognized Device", false},
        {-2, "TevDevice", "Unrecognized Device", false},
        {127, "TevDevice", "Unrecognized Device", false},
        {-128, "TevDevice", "Unrecognized Device", false},
        // 0x85: the low bits of a web-page code must not count.
        {-123, "TevDevice", "Unrecognized Device", false},
    };
    for (const Row& r : rows)
        QTest::addRow("code %d", r.code) << r.code << r.cls << r.name << r.web;
}

void TestZelDevice::createDevice()
{
    QFETCH(int, code);
    QFETCH(QString, cls);
    QFETCH(QString, name);
    QFETCH(bool, web);

    const auto dev = TevDevice::createDevice(type(code));
    QVERIFY(dev);
    QCOMPARE(className(*dev), cls);
    QCOMPARE(int(dev->devType()), code);
    QCOMPARE(dev->hasWebserver(), web);
    QCOMPARE(q(dev->friendlyName()), name + " #0");
    QCOMPARE(dev->netStat(), ZelNetworkStatus::NotFound);
}

void TestZelDevice::friendlyNameSerial_data()
{
    QTest::addColumn<int>("code");
    QTest::addColumn<int>("serial");
    QTest::addColumn<QString>("name");

    QTest::newRow("no leading zeros") << 5 << 7 << "Nerio HF #7";
    QTest::newRow("four digits, no grouping") << 5 << 1234 << "Nerio HF #1234";
    QTest::newRow("largest serial") << 8 << 65535 << "Host Controller #65535";
    QTest::newRow("unnamed code") << 20 << 1234 << "Unrecognized Device #1234";
}

void TestZelDevice::friendlyNameSerial()
{
    QFETCH(int, code);
    QFETCH(int, serial);
    QFETCH(QString, name);

    const auto dev = TevDevice::createDevice(type(code));
    dev->setSerial(static_cast<uint16_t>(serial));
    QCOMPARE(q(dev->friendlyName()), name);
    QCOMPARE(q(dev->deviceId().friendlyName()), name);
}

void TestZelDevice::newRecordDefaults()
{
    const TevDevice base(ZelDeviceType::Tavio);
    QCOMPARE(base.netStat(), ZelNetworkStatus::NotFound);
    QCOMPARE(q(base.firmwareVer()), QString("n/a"));
    QCOMPARE(base.status(), ZelDeviceStatus::NotReady);
    QCOMPARE(base.commsIfaceAddr().toInt(), 0u);
    QCOMPARE(q(ZelDevice(ZelDeviceType::NerioHF).modelString()), QString("Unknown"));
    // The meta-type's default construction.
    QCOMPARE(TevDevice().devType(), ZelDeviceType::NoDevice);
}

void TestZelDevice::fourArgumentConstructor()
{
    const ZelDevice dev(4321, ZelDeviceType::NerioAF, sampleNetInfo(), {});
    QCOMPARE(dev.serial(), uint16_t(4321));
    QCOMPARE(dev.devType(), ZelDeviceType::NerioAF);
    QVERIFY(dev.netHostInfo() == sampleNetInfo());
    QVERIFY(dev.jobSettings().empty());

    const TevDevice threeArgs(1, ZelDeviceType::KWT, sampleNetInfo());
    QVERIFY(threeArgs.netHostInfo() == sampleNetInfo());
}

void TestZelDevice::streamStatusPerPort()
{
    TevDevice dev;
    const auto stream = static_cast<ZelPort>(5000);
    QCOMPARE(dev.streamStatus(stream), ZelPortConnStatus::Unknown);
    dev.setStreamStatus(stream, ZelPortConnStatus::Connected);
    dev.setStreamStatus(ZelPort::Ftp, ZelPortConnStatus::Available);
    dev.setStreamStatus(stream, ZelPortConnStatus::ConnectionLost);
    QCOMPARE(dev.streamStatus(stream), ZelPortConnStatus::ConnectionLost);
    QCOMPARE(dev.streamStatus(ZelPort::Ftp), ZelPortConnStatus::Available);
}

void TestZelDevice::dump_data()
{
    QTest::addColumn<std::shared_ptr<TevDevice>>("device");
    QTest::addColumn<QString>("text");

    const QString common = "FirmwareVer: n/a\nBuild Date: n/a\nDevice Type: %1\nStatus: 2\n"
                           "Enq.Version: 0\n";

    QTest::newRow("TevDevice defaults")
        << TevDevice::createDevice(ZelDeviceType::NoDevice)
        << "----------- TevDevice ---------- \nSerial: 0\n" + common.arg(0) + "\n";

    auto unsupported = TevDevice::createDevice(ZelDeviceType::Unsupported);
    unsupported->setSerial(1234);
    unsupported->setFirmwareVer("1.2.3");
    unsupported->setBuildDate("Apr 23 2021");
    unsupported->setStatus(ZelDeviceStatus::Ready);
    unsupported->setEnqVersion(200);
    QTest::newRow("TevDevice signed type, set fields")
        << unsupported
        << QString("----------- TevDevice ---------- \nSerial: 1234\nFirmwareVer: 1.2.3\n"
                   "Build Date: Apr 23 2021\nDevice Type: -1\nStatus: 0\nEnq.Version: 200\n\n");

    QTest::newRow("ZelDevice defaults")
        << TevDevice::createDevice(ZelDeviceType::NerioHF)
        << "----------- ZelDevice ---------- \nSerial: 0\nLink type: 0\n" + common.arg(5) +
               "Sensitivity: 0\nFirmwareRel: n/a\nModel: Unknown\nTemperature: 0\n"
               "Batt Stat: 0\nBatt %: 0\n\n";

    auto zel = std::make_shared<ZelDevice>(ZelDeviceType::Dorvi);
    zel->setSerial(42);
    zel->setLinkType(ZelLinkType::Ethernet);
    zel->setSensitivity(-165.123456f);
    zel->setTemperature(1234567.f);
    zel->setModelString("DV-2");
    zel->setFirmwareRel("r7");
    zel->setBattPercent(87);
    QTest::newRow("ZelDevice six significant digits")
        << std::shared_ptr<TevDevice>(zel)
        << "----------- ZelDevice ---------- \nSerial: 42\nLink type: 3\n" + common.arg(15) +
               "Sensitivity: -165.123\nFirmwareRel: r7\nModel: DV-2\nTemperature: 1.23457e+06\n"
               "Batt Stat: 0\nBatt %: 87\n\n";

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
    auto original = std::make_shared<ZelDevice>(ZelDeviceType::NerioHF);
    original->setSerial(77);
    original->setNetHostInfo(sampleNetInfo());
    original->setCommsIfaceAddr(TevIpAddr("192.168.1.100"));
    original->setNetStat(ZelNetworkStatus::Reachable);
    original->setModelString("HF-9");
    const TevDevice& base = *original;

    TevDevice copy = base;
    TevDevice assigned;
    assigned = base;
    for (const TevDevice* dev : {&copy, &assigned}) {
        QCOMPARE(className(*dev), QString("TevDevice"));
        QCOMPARE(dev->serial(), uint16_t(77));
        QCOMPARE(dev->devType(), ZelDeviceType::NerioHF);
        QVERIFY(dev->netHostInfo() == sampleNetInfo());
        QCOMPARE(q(dev->commsIfaceAddr().toString()), QString("192.168.1.100"));
        QCOMPARE(dev->netStat(), ZelNetworkStatus::Reachable);
        QVERIFY(dev->hasWebserver());
        QVERIFY(q(dev->toString()).startsWith("----------- TevDevice"));
    }

    // A copy is independent of the listed record.
    copy.setNetStat(ZelNetworkStatus::Pending);
    QCOMPARE(original->netStat(), ZelNetworkStatus::Reachable);
}

void TestZelDevice::equalityIsTypeAndSerial()
{
    const TevDevice a(10, ZelDeviceType::NerioHF, sampleNetInfo());
    ZelDevice b(10, ZelDeviceType::NerioHF, TevNetHostInfo());
    QVERIFY(a == b);
    QVERIFY(a.deviceId() == ZelDeviceId(b));
    b.setSerial(11);
    QVERIFY(a != b);
    QVERIFY(a != TevDevice(10, ZelDeviceType::NerioAF, sampleNetInfo()));
    QVERIFY(ZelDeviceId() == ZelDeviceId(ZelDeviceType::NoDevice, 0));
}

void TestZelDevice::deviceIdOrder_data()
{
    QTest::addColumn<int>("typeA");
    QTest::addColumn<int>("serialA");
    QTest::addColumn<int>("typeB");
    QTest::addColumn<int>("serialB");

    // Rows list a < b.
    QTest::newRow("signed type before zero") << -1 << 900 << 0 << 1;
    QTest::newRow("most negative first") << -128 << 0 << 66 << 0;
    QTest::newRow("type before serial") << 5 << 65535 << 7 << 0;
    QTest::newRow("same type by serial") << 5 << 9 << 5 << 10;
}

void TestZelDevice::deviceIdOrder()
{
    QFETCH(int, typeA);
    QFETCH(int, serialA);
    QFETCH(int, typeB);
    QFETCH(int, serialB);

    const ZelDeviceId a(type(typeA), static_cast<uint16_t>(serialA));
    const ZelDeviceId b(type(typeB), static_cast<uint16_t>(serialB));
    QVERIFY(a < b);
    QVERIFY(!(b < a));
    QVERIFY(!(a < a));
    QVERIFY(a != b);
}

void TestZelDevice::metaTypeNames_data()
{
    QTest::addColumn<int>("id");
    QTest::addColumn<QString>("name");

    QTest::newRow("TevDevice") << qMetaTypeId<TevDevice>() << "TevDevice";
    QTest::newRow("ZelPort") << qMetaTypeId<ZelPort>() << "ZelPort";
    QTest::newRow("ZelNetworkStatus") << qMetaTypeId<ZelNetworkStatus>() << "ZelNetworkStatus";
    QTest::newRow("ZelPortConnStatus") << qMetaTypeId<ZelPortConnStatus>() << "ZelPortConnStatus";
    QTest::newRow("TevMacAddr") << qMetaTypeId<TevMacAddr>() << "TevMacAddr";
    QTest::newRow("TevNetHostInfo") << qMetaTypeId<TevNetHostInfo>() << "TevNetHostInfo";
    QTest::newRow("shared TevDevice")
        << qMetaTypeId<std::shared_ptr<TevDevice>>() << "std::shared_ptr<TevDevice>";
    QTest::newRow("shared ZelDevice")
        << qMetaTypeId<std::shared_ptr<ZelDevice>>() << "std::shared_ptr<ZelDevice>";
}

void TestZelDevice::metaTypeNames()
{
    QFETCH(int, id);
    QFETCH(QString, name);
    QCOMPARE(QString(QMetaType::typeName(id)), name);
    // Known by name before anything asked for the id: signal signatures look it up so.
    QCOMPARE(QMetaType::type(name.toLatin1()), id);
}

void TestZelDevice::metaTypesTravelInSignals()
{
    QSignalSpy statusSpy(this, &TestZelDevice::statusSignal);
    QVERIFY(statusSpy.isValid());

    std::shared_ptr<TevDevice> queued;
    QObject context;
    connect(
        this, &TestZelDevice::foundSignal, &context,
        [&](std::shared_ptr<TevDevice> dev) { queued = dev; }, Qt::QueuedConnection);

    auto dev = TevDevice::createDevice(ZelDeviceType::NerioHF);
    dev->setSerial(5);
    emit statusSignal(*dev, ZelPort::Ftp, ZelNetworkStatus::Unreachable);
    emit foundSignal(dev);

    QCOMPARE(statusSpy.count(), 1);
    const auto args = statusSpy.takeFirst();
    QCOMPARE(args.at(0).value<TevDevice>().serial(), uint16_t(5));
    QCOMPARE(args.at(1).value<ZelPort>(), ZelPort::Ftp);
    QCOMPARE(args.at(2).value<ZelNetworkStatus>(), ZelNetworkStatus::Unreachable);

    QTRY_VERIFY(queued);
    QCOMPARE(queued.get(), dev.get());
}

QTEST_GUILESS_MAIN(TestZelDevice)
#include "tst_zeldevice.moc"
