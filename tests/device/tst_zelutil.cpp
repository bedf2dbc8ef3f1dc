#include "zelutil.h"

#include <QtTest>

namespace {

// One entry point per table, so that every text and every fallback runs through
// the same data-driven test.
std::string convert(const QString& table, int value)
{
    if (table == "network")
        return ZelUtil::networkStatusStr(static_cast<ZelNetworkStatus>(value));
    if (table == "port")
        return ZelUtil::portConnStatusStr(static_cast<ZelPortConnStatus>(value));
    if (table == "status")
        return ZelUtil::deviceStatusStr(static_cast<ZelDeviceStatus>(value));
    if (table == "sync")
        return ZelUtil::syncStatusStr(static_cast<ZelSyncStatus>(value));
    if (table == "timesrc")
        return ZelUtil::timeSrcString(static_cast<ZelTimeSource>(value));
    if (table == "hdd")
        return ZelUtil::hddStatString(static_cast<ArrayStorageStat>(value));
    return ZelUtil::linkTypeStr(static_cast<ZelLinkType>(value));
}

} // namespace

class TestZelUtil : public QObject
{
    Q_OBJECT

private slots:
    void conversions_data();
    void conversions();
};

void TestZelUtil::conversions_data()
{
    QTest::addColumn<QString>("table");
    QTest::addColumn<int>("value");
    QTest::addColumn<QString>("text");

    // The texts of codes 0, 1, ... in order, then values outside the table and their fallback.
    auto rows = [](const char* table, std::initializer_list<const char*> texts,
                   std::initializer_list<int> outside, const char* fallback) {
        for (int value = 0; value < int(texts.size()); ++value)
            QTest::addRow("%s %d", table, value) << table << value << texts.begin()[value];
        for (int v : outside)
            QTest::addRow("%s %d out of range", table, v) << table << v << fallback;
    };

    rows("network", {"Reachable", "Unreachable", "NoIp", "Pending", "NotFound"}, {5, -1},
         "Invalid Status");
    rows("port", {"Unknown", "Unavailable", "Available", "Connected", "ConnectionLost"}, {5, -1},
         "Invalid Status");
    rows("status",
         {"Ready", "Acq. Not Ready", "Not Ready", "Config Failed", "Baud Rate Config",
          "Filesystem Fault"},
         {6, 255}, "Invalid Status");
    rows("sync",
         {"Sync disabled", "Sync Out", "Sync Out/PPS Time", "No PPS", "Syncing to PPS",
          "PPS Synchronized", "No PPS (RE)", "Syncing to PPS (RE)", "PPS Synchronized (RE)"},
         {9}, "Invalid Status");
    rows("hdd", {"Unknown", "Drive not present", "Drive present", "Error"}, {4}, "Invalid Status");
    rows("timesrc", {"Not Set", "Manual", "RTC", "Filesystem", "NTP", "GPS", "PTP"},
         {7, 0x87, 0x7f, 0xff}, "Invalid Time Source");
    QTest::newRow("timesrc PPS flag alone") << "timesrc" << 0x80 << "PPS (Not Set)";
    QTest::newRow("timesrc PPS GPS") << "timesrc" << 0x85 << "PPS (GPS)";
    QTest::newRow("timesrc PPS PTP") << "timesrc" << 0x86 << "PPS (PTP)";
    rows("link",
         {"Link Type Unknown", "Serial RS232", "USB", "Ethernet", "Serial RS422", "Serial RS485",
          "DSL", "Bluetooth", "Serial Bt"},
         {9, 255}, "Link Type Unknown");
}

void TestZelUtil::conversions()
{
    QFETCH(QString, table);
    QFETCH(int, value);
    QFETCH(QString, text);
    QCOMPARE(QString::fromStdString(convert(table, value)), text);
}

QTEST_GUILESS_MAIN(TestZelUtil)
#include "tst_zelutil.moc"
