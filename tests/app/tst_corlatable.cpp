#include "corlatable.h"

#include <QAbstractItemModelTester>
#include <QImage>
#include <QPainter>
#include <QSet>
#include <QSignalSpy>
#include <QSortFilterProxyModel>
#include <QtTest>

namespace {

TevMacAddr mac(uint8_t last)
{
    return TevMacAddr(std::array<uint8_t, 6>{last, 0x4d, 0x3c, 0x2b, 0x1a, 0x00});
}

TevNetHostInfo netInfo(const char* ip, uint8_t macLast, TevAddressMode mode,
                       const char* gateway = "0.0.0.0")
{
    return TevNetHostInfo(TevIpAddr(ip), TevIpAddr("255.255.255.0"), TevIpAddr(gateway),
                          TevIpAddr("0.0.0.0"), mac(macLast), mode);
}

std::shared_ptr<TevDevice> makeDevice(int type, uint16_t serial, const TevNetHostInfo& info)
{
    auto dev = TevDevice::createDevice(static_cast<ZelDeviceType>(type));
    dev->setSerial(serial);
    dev->setNetHostInfo(info);
    return dev;
}

const QString CsvHeader =
    "Serial,Device Type,IP Address,Subnet Mask,Gateway,DNS Server,Address mode,MAC Address\n";

} // namespace

class TestCorlaTable : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void emptyModel();
    void headerTexts_data();
    void headerTexts();
    void reducedColumns();
    void displayValues_data();
    void displayValues();
    void otherRolesAndCells();
    void addAppendsAndAnnounces();
    void knownMacOrEmptyPointerChangesNothing();
    void clearReleasesRecords();
    void lookups();
    void updateDeviceConfig();
    void updateDeviceStat();
    void updatesForUnknownMacDoNothing();
    void csvFull();
    void proxySorting_data();
    void proxySorting();
    void delegateStatusColour_data();
    void delegateStatusColour();
    void delegateOtherColumnsPaintText();

private:
    CorlaTableModel* m_model = nullptr;
    QAbstractItemModelTester* m_tester = nullptr;
};

void TestCorlaTable::init()
{
    m_model = new CorlaTableModel;
    m_tester = new QAbstractItemModelTester(m_model,
                                            QAbstractItemModelTester::FailureReportingMode::QtTest);
}

void TestCorlaTable::cleanup()
{
    delete m_tester;
    delete m_model;
}

void TestCorlaTable::emptyModel()
{
    QCOMPARE(m_model->rowCount(), 0);
    QCOMPARE(m_model->columnCount(), 6);
    QCOMPARE(m_model->numDevices(), 0);
    QCOMPARE(m_model->toCsv(), CsvHeader);
    QVERIFY(!m_model->data(m_model->index(0, 0)).isValid());
}

void TestCorlaTable::headerTexts_data()
{
    QTest::addColumn<int>("section");
    QTest::addColumn<int>("orientation");
    QTest::addColumn<int>("role");
    QTest::addColumn<QVariant>("value");

    const char* texts[] = {"", "Device Type", "Serial #", "IP Address", "Mode ", "MAC Address"};
    for (int s = 0; s < 6; ++s)
        QTest::addRow("horizontal %d", s)
            << s << int(Qt::Horizontal) << int(Qt::DisplayRole) << QVariant(QString(texts[s]));
    QTest::newRow("horizontal beyond")
        << 6 << int(Qt::Horizontal) << int(Qt::DisplayRole) << QVariant(6);
    QTest::newRow("vertical is the number")
        << 3 << int(Qt::Vertical) << int(Qt::DisplayRole) << QVariant(3);
    QTest::newRow("tool tip role")
        << 1 << int(Qt::Horizontal) << int(Qt::ToolTipRole) << QVariant();
}

void TestCorlaTable::headerTexts()
{
    QFETCH(int, section);
    QFETCH(int, orientation);
    QFETCH(int, role);
    QFETCH(QVariant, value);
    QCOMPARE(m_model->headerData(section, Qt::Orientation(orientation), role), value);
}

void TestCorlaTable::reducedColumns()
{
    m_model->addDevice(makeDevice(5, 1, netInfo("10.0.0.1", 1, TevAddressModeAuto)));
    QSignalSpy removed(m_model, &QAbstractItemModel::columnsRemoved);
    m_model->setShowNetInfo(false);
    QCOMPARE(m_model->columnCount(), 3);
    QCOMPARE(removed.count(), 1);
    QVERIFY(!m_model->index(0, 3).isValid());
    QCOMPARE(m_model->headerData(4, Qt::Horizontal).toString(), QString("Mode "));
    m_model->setShowNetInfo(true);
    QCOMPARE(m_model->columnCount(), 6);
    QCOMPARE(m_model->data(m_model->index(0, 3)).toString(), QString("10.0.0.1"));
}

void TestCorlaTable::displayValues_data()
{
    QTest::addColumn<int>("mode");
    QTest::addColumn<int>("column");
    QTest::addColumn<QVariant>("value");

    QTest::newRow("status as integer") << 1 << 0 << QVariant(int(ZelNetworkStatus::NotFound));
    QTest::newRow("type name") << 1 << 1 << QVariant(QString("Host Controller"));
    QTest::newRow("serial as unsigned") << 1 << 2 << QVariant(uint(4321));
    QTest::newRow("ip address") << 1 << 3 << QVariant(QString("192.168.1.9"));
    QTest::newRow("mode DHCP") << 1 << 4 << QVariant(QString("DHCP"));
    QTest::newRow("mode Static") << 2 << 4 << QVariant(QString("Static"));
    QTest::newRow("mode not set") << 0 << 4 << QVariant(QString("Unknown"));
    QTest::newRow("mode out of range") << 7 << 4 << QVariant(QString("Unknown"));
    QTest::newRow("mac address") << 1 << 5 << QVariant(QString("00:1a:2b:3c:4d:5e"));
}

void TestCorlaTable::displayValues()
{
    QFETCH(int, mode);
    QFETCH(int, column);
    QFETCH(QVariant, value);

    m_model->addDevice(
        makeDevice(8, 4321, netInfo("192.168.1.9", 0x5e, static_cast<TevAddressMode>(mode))));
    const QModelIndex cell = m_model->index(0, column);
    QCOMPARE(m_model->data(cell, Qt::DisplayRole), value);
    QCOMPARE(m_model->data(cell, Qt::EditRole), value);
}

void TestCorlaTable::otherRolesAndCells()
{
    m_model->addDevice(makeDevice(5, 1, netInfo("10.0.0.1", 1, TevAddressModeAuto)));
    QVERIFY(!m_model->data(m_model->index(0, 1), Qt::ToolTipRole).isValid());
    QVERIFY(!m_model->data(m_model->index(1, 0)).isValid());
    QVERIFY(!(m_model->flags(m_model->index(0, 1)) & Qt::ItemIsEditable));
    QVERIFY(m_model->flags(m_model->index(0, 1)) & Qt::ItemIsSelectable);
    QCOMPARE(m_model->flags(QModelIndex()), Qt::ItemFlags(Qt::NoItemFlags));
}

void TestCorlaTable::addAppendsAndAnnounces()
{
    QSignalSpy listChanged(m_model, &CorlaTableModel::deviceListChanged);
    QSignalSpy inserted(m_model, &QAbstractItemModel::rowsInserted);

    m_model->addDevice(makeDevice(5, 1, netInfo("10.0.0.1", 1, TevAddressModeAuto)));
    m_model->addDevice(makeDevice(7, 2, netInfo("10.0.0.2", 2, TevAddressModeAuto)));

    QCOMPARE(m_model->rowCount(), 2);
    QCOMPARE(listChanged.count(), 2);
    QCOMPARE(inserted.count(), 2);
    QCOMPARE(inserted.at(1).at(1).toInt(), 1);
    QCOMPARE(inserted.at(1).at(2).toInt(), 1);
    QCOMPARE(m_model->data(m_model->index(1, 2)).toUInt(), 2u);
}

void TestCorlaTable::knownMacOrEmptyPointerChangesNothing()
{
    m_model->addDevice(makeDevice(5, 1, netInfo("10.0.0.1", 1, TevAddressModeAuto)));
    QSignalSpy listChanged(m_model, &CorlaTableModel::deviceListChanged);
    QSignalSpy inserted(m_model, &QAbstractItemModel::rowsInserted);
    QSignalSpy changed(m_model, &QAbstractItemModel::dataChanged);

    // Same MAC address, everything else different: still the same device.
    m_model->addDevice(makeDevice(8, 99, netInfo("10.0.0.50", 1, TevAddressModeManual)));
    // An empty pointer is no device at all.
    m_model->addDevice(nullptr);

    QCOMPARE(m_model->rowCount(), 1);
    QCOMPARE(listChanged.count(), 0);
    QCOMPARE(inserted.count(), 0);
    QCOMPARE(changed.count(), 0);
    QCOMPARE(m_model->deviceList().at(0)->serial(), uint16_t(1));
}

void TestCorlaTable::clearReleasesRecords()
{
    auto kept = makeDevice(5, 1, netInfo("10.0.0.1", 1, TevAddressModeAuto));
    m_model->addDevice(kept);
    m_model->addDevice(makeDevice(7, 2, netInfo("10.0.0.2", 2, TevAddressModeAuto)));
    QSignalSpy listChanged(m_model, &CorlaTableModel::deviceListChanged);
    QSignalSpy reset(m_model, &QAbstractItemModel::modelReset);

    m_model->clearTable();

    QCOMPARE(m_model->rowCount(), 0);
    QCOMPARE(listChanged.count(), 1);
    QCOMPARE(reset.count(), 1);
    QCOMPARE(kept.use_count(), 1L);
    QCOMPARE(m_model->toCsv(), CsvHeader);
}

void TestCorlaTable::lookups()
{
    auto first = makeDevice(5, 1, netInfo("10.0.0.1", 1, TevAddressModeAuto));
    auto second = makeDevice(7, 2, netInfo("10.0.0.2", 2, TevAddressModeAuto));
    m_model->addDevice(first);
    m_model->addDevice(second);

    QCOMPARE(m_model->device(mac(2)), second);
    QVERIFY(!m_model->device(mac(3)));
    QVERIFY(m_model->containsDevice(
        TevDevice(0, ZelDeviceType::NoDevice, netInfo("0.0.0.0", 1, TevAddressModeNotSet))));
    QVERIFY(!m_model->containsDevice(TevDevice()));

    QCOMPARE(m_model->deviceAtIndex(m_model->index(1, 4)), second);
    QCOMPARE(m_model->deviceAtIndex(m_model->index(0, 0)), first);
    QVERIFY(!m_model->deviceAtIndex(QModelIndex()));
    QVERIFY(!m_model->deviceAtIndex(m_model->index(2, 0)));
}

void TestCorlaTable::updateDeviceConfig()
{
    for (uint8_t i = 1; i <= 3; ++i)
        m_model->addDevice(makeDevice(5, i, netInfo("10.0.0.1", i, TevAddressModeAuto)));
    auto stored = m_model->deviceList().at(1);
    stored->setNetStat(ZelNetworkStatus::Reachable);
    stored->setCommsIfaceAddr(TevIpAddr("10.0.0.100"));

    QSignalSpy changed(m_model, &QAbstractItemModel::dataChanged);
    QSignalSpy listChanged(m_model, &CorlaTableModel::deviceListChanged);

    const ZelDevice answer(999, ZelDeviceType::KWT, netInfo("10.0.0.1", 2, TevAddressModeAuto));
    const TevNetHostInfo fresh = netInfo("172.16.5.5", 2, TevAddressModeManual, "172.16.5.1");
    m_model->updateDeviceConfig(answer, fresh);

    QCOMPARE(changed.count(), 1);
    const auto topLeft = changed.at(0).at(0).value<QModelIndex>();
    const auto bottomRight = changed.at(0).at(1).value<QModelIndex>();
    QCOMPARE(topLeft, m_model->index(1, 0));
    QCOMPARE(bottomRight, m_model->index(1, 5));
    QVERIFY(changed.at(0).at(2).value<QVector<int>>().isEmpty());
    QCOMPARE(listChanged.count(), 0);

    QCOMPARE(stored->netStat(), ZelNetworkStatus::Pending);
    QVERIFY(stored->netHostInfo() == fresh);
    QCOMPARE(stored->serial(), uint16_t(2));
    QCOMPARE(stored->commsIfaceAddr().toString(), std::string("10.0.0.100"));
    QCOMPARE(answer.netStat(), ZelNetworkStatus::NotFound);
    QCOMPARE(m_model->data(m_model->index(1, 3)).toString(), QString("172.16.5.5"));
    QCOMPARE(m_model->deviceList().at(0)->netStat(), ZelNetworkStatus::NotFound);
}

void TestCorlaTable::updateDeviceStat()
{
    for (uint8_t i = 1; i <= 3; ++i)
        m_model->addDevice(makeDevice(5, i, netInfo("10.0.0.1", i, TevAddressModeAuto)));
    QSignalSpy changed(m_model, &QAbstractItemModel::dataChanged);

    // The checker reports on a sliced copy; the row is found by MAC address.
    const TevDevice copy = *m_model->deviceList().at(2);
    m_model->updateDeviceStat(copy, ZelNetworkStatus::Unreachable);

    QCOMPARE(changed.count(), 1);
    QCOMPARE(changed.at(0).at(0).value<QModelIndex>(), m_model->index(2, 0));
    QCOMPARE(changed.at(0).at(1).value<QModelIndex>(), m_model->index(2, 0));
    QCOMPARE(m_model->data(m_model->index(2, 0)).toInt(), int(ZelNetworkStatus::Unreachable));
    QCOMPARE(m_model->deviceList().at(1)->netStat(), ZelNetworkStatus::NotFound);
}

void TestCorlaTable::updatesForUnknownMacDoNothing()
{
    m_model->addDevice(makeDevice(5, 1, netInfo("10.0.0.1", 1, TevAddressModeAuto)));
    QSignalSpy changed(m_model, &QAbstractItemModel::dataChanged);
    const TevDevice stranger(1, ZelDeviceType::NerioHF, netInfo("10.0.0.1", 9, TevAddressModeAuto));

    m_model->updateDeviceStat(stranger, ZelNetworkStatus::Reachable);
    m_model->updateDeviceConfig(stranger, netInfo("10.9.9.9", 9, TevAddressModeManual));

    QCOMPARE(changed.count(), 0);
    QCOMPARE(m_model->deviceList().at(0)->netStat(), ZelNetworkStatus::NotFound);
    QCOMPARE(m_model->data(m_model->index(0, 3)).toString(), QString("10.0.0.1"));
}

void TestCorlaTable::csvFull()
{
    m_model->addDevice(makeDevice(8, 100, netInfo("192.168.1.10", 0x5e, TevAddressModeAuto)));
    m_model->addDevice(
        makeDevice(5, 9, netInfo("10.1.2.3", 0x01, TevAddressModeManual, "10.1.2.254")));
    m_model->addDevice(makeDevice(20, 65535, netInfo("0.0.0.0", 0xff, TevAddressModeNotSet)));

    QCOMPARE(m_model->toCsv(),
             CsvHeader +
                 "100,Host Controller,192.168.1.10,255.255.255.0,0.0.0.0,0.0.0.0,DHCP,"
                 "00:1a:2b:3c:4d:5e\n"
                 "9,Nerio HF,10.1.2.3,255.255.255.0,10.1.2.254,0.0.0.0,Static,00:1a:2b:3c:4d:01\n"
                 "65535,Unrecognized Device,0.0.0.0,255.255.255.0,0.0.0.0,0.0.0.0,Unknown,"
                 "00:1a:2b:3c:4d:ff\n");
}

void TestCorlaTable::proxySorting_data()
{
    QTest::addColumn<int>("column");
    QTest::addColumn<QStringList>("expected");

    QTest::newRow("serials numerically") << 2 << QStringList{"9", "10", "100"};
    QTest::newRow("addresses as text")
        << 3 << QStringList{"192.168.1.10", "192.168.1.100", "192.168.1.9"};
}

void TestCorlaTable::proxySorting()
{
    QFETCH(int, column);
    QFETCH(QStringList, expected);

    m_model->addDevice(makeDevice(5, 100, netInfo("192.168.1.9", 1, TevAddressModeAuto)));
    m_model->addDevice(makeDevice(5, 9, netInfo("192.168.1.100", 2, TevAddressModeAuto)));
    m_model->addDevice(makeDevice(5, 10, netInfo("192.168.1.10", 3, TevAddressModeAuto)));

    QSortFilterProxyModel proxy;
    proxy.setSourceModel(m_model);
    proxy.sort(column, Qt::AscendingOrder);
    QStringList shown;
    for (int row = 0; row < proxy.rowCount(); ++row)
        shown << proxy.index(row, column).data().toString();
    QCOMPARE(shown, expected);
}

void TestCorlaTable::delegateStatusColour_data()
{
    QTest::addColumn<int>("status");
    QTest::addColumn<QColor>("colour");

    QTest::newRow("Reachable green") << 0 << QColor(0, 255, 0);
    QTest::newRow("Unreachable yellow") << 1 << QColor(255, 255, 0);
    QTest::newRow("NoIp red") << 2 << QColor(255, 0, 0);
    QTest::newRow("Pending grey") << 3 << QColor(160, 160, 164);
    QTest::newRow("NotFound white") << 4 << QColor(255, 255, 255);
    QTest::newRow("out of range white") << 9 << QColor(255, 255, 255);
}

void TestCorlaTable::delegateStatusColour()
{
    QFETCH(int, status);
    QFETCH(QColor, colour);

    auto dev = makeDevice(5, 1, netInfo("10.0.0.1", 1, TevAddressModeAuto));
    dev->setNetStat(static_cast<ZelNetworkStatus>(status));
    m_model->addDevice(dev);

    QImage image(40, 20, QImage::Format_RGB32);
    image.fill(Qt::magenta);
    QStyleOptionViewItem option;
    option.rect = QRect(4, 2, 30, 16);
    // Selection and focus must not show through the status colour.
    option.state = QStyle::State_Enabled | QStyle::State_Selected | QStyle::State_HasFocus;
    {
        QPainter painter(&image);
        painter.setPen(Qt::black);
        CorlaItemDelegate().paint(&painter, option, m_model->index(0, 0));
        // The painter's state is handed back as it came.
        QCOMPARE(painter.pen().color(), QColor(Qt::black));
    }

    for (int y = option.rect.top(); y <= option.rect.bottom(); ++y) {
        for (int x = option.rect.left(); x <= option.rect.right(); ++x)
            QCOMPARE(image.pixelColor(x, y), colour);
    }
    QCOMPARE(image.pixelColor(0, 0), QColor(Qt::magenta));
}

void TestCorlaTable::delegateOtherColumnsPaintText()
{
    m_model->addDevice(makeDevice(8, 1, netInfo("10.0.0.1", 1, TevAddressModeAuto)));
    QImage image(160, 24, QImage::Format_RGB32);
    image.fill(Qt::white);
    QStyleOptionViewItem option;
    option.rect = image.rect();
    option.state = QStyle::State_Enabled;
    option.palette.setColor(QPalette::Text, Qt::black);
    {
        QPainter painter(&image);
        CorlaItemDelegate().paint(&painter, option, m_model->index(0, 1));
    }

    QSet<QRgb> colours;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x)
            colours.insert(image.pixel(x, y));
    }
    QVERIFY2(colours.size() > 1, "the type name was not drawn");
    QVERIFY(colours.contains(QColor(Qt::white).rgb()));
}

QTEST_MAIN(TestCorlaTable)
#include "tst_corlatable.moc"
