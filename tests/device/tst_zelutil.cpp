#include "zelutil.h"

#include <QtTest>

namespace {

QString q(const std::string& s)
{
    return QString::fromStdString(s);
}

// One entry point per table, so that every text and every fallback runs through
// the same data-driven test.
QString convert(const QString& table, int value)
{
    if (table == "network")
        return q(ZelUtil::networkStatusStr(static_cast<ZelNetworkStatus>(value)));
    if (table == "port")
        return q(ZelUtil::portConnStatusStr(static_cast<ZelPortConnStatus>(value)));
    if (table == "status")
        return q(ZelUtil::deviceStatusStr(static_cast<ZelDeviceStatus>(value)));
    if (table == "sync")
        return q(ZelUtil::syncStatusStr(static_cast<ZelSyncStatus>(value)));
    if (table == "timesrc")
        return q(ZelUtil::timeSrcString(static_cast<ZelTimeSource>(value)));
    if (table == "hdd")
        return q(ZelUtil::hddStatString(static_cast<ArrayStorageStat>(value)));
    if (table == "link")
        return q(ZelUtil::linkTypeStr(static_cast<ZelLinkType>(value)));
    return "no such table";
}

} // namespace

class TestZelUtil : public QObject
{
    Q_OBJECT

private slots:
    void conversions_data();
    void conversions();
    void deviceTypeTableHasOnlyTheNamedCodes();
};

void TestZelUtil::conversions_data()
{
    QTest::addColumn<QString>("table");
    QTest::addColumn<int>("value");
    QTest::addColumn<QString>("text");

    auto rows = [](const char* table, std::initializer_list<const char*> texts) {
        int value = 0;
        for (const char* text : texts) {
            QTest::addRow("%s %d", table, value) << table << value << text;
            ++value;
        }
    };
    auto fallback = [](const char* table, int value, const char* text) {
        QTest::addRow("%s %d out of range", table, value) << table << value << text;
    };

    rows("network", {"Reachable", "Unreachable", "NoIp", "Pending", "NotFound"});
    fallback("network", 5, "Invalid Status");
    fallback("network", -1, "Invalid Status");

    rows("port", {"Unknown", "Unavailable", "Available", "Connected", "ConnectionLost"});
    fallback("port", 5, "Invalid Status");
    fallback("port", -1, "Invalid Status");

    rows("status", {"Ready", "Acq. Not Ready", "Not Ready", "Config Failed", "Baud Rate Config",
                    "Filesystem Fault"});
    fallback("status", 6, "Invalid Status");
    fallback("status", 255, "Invalid Status");

    rows("sync",
         {"Sync disabled", "Sync Out", "Sync Out/PPS Time", "No PPS", "Syncing to PPS",
          "PPS Synchronized", "No PPS (RE)", "Syncing to PPS (RE)", "PPS Synchronized (RE)"});
    fallback("sync", 9, "Invalid Status");

    rows("hdd", {"Unknown", "Drive not present", "Drive present", "Error"});
    fallback("hdd", 4, "Invalid Status");

    rows("timesrc", {"Not Set", "Manual", "RTC", "Filesystem", "NTP", "GPS", "PTP"});
    QTest::newRow("timesrc PPS flag alone") << "timesrc" << 0x80 << "PPS (Not Set)";
    QTest::newRow("timesrc PPS GPS") << "timesrc" << 0x85 << "PPS (GPS)";
    QTest::newRow("timesrc PPS PTP") << "timesrc" << 0x86 << "PPS (PTP)";
    fallback("timesrc", 7, "Invalid Time Source");
    fallback("timesrc", 0x87, "Invalid Time Source");
    fallback("timesrc", 0x7f, "Invalid Time Source");
    fallback("timesrc", 0xff, "Invalid Time Source");

    rows("link", {"Link Type Unknown", "Serial RS232", "USB", "Ethernet", "Serial RS422",
                  "Serial RS485", "DSL", "Bluetooth", "Serial Bt"});
    fallback("link", 9, "Link Type Unknown");
    fallback("link", 255, "Link Type Unknown");
}

void TestZelUtil::conversions()
{
    QFETCH(QString, table);
    QFETCH(int, value);
    QFETCH(QString, text);
    QCOMPARE(convert(table, value), text);
}

// tst_zeldevice proves every named code and the fallback through friendlyName();
// this catches a stray extra entry.
void TestZelUtil::deviceTypeTableHasOnlyTheNamedCodes()
{
    QCOMPARE(ZelUtil::deviceTypeNames.size(), size_t(20));
}

QTEST_GUILESS_MAIN(TestZelUtil)
#include "tst_zelutil.moc"
