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

// The tables themselves are plain data; what can go wrong is the lookup at and beyond
// their edges, and the time source's PPS flag, which is composed rather than looked up.
void TestZelUtil::conversions_data()
{
    QTest::addColumn<QString>("table");
    QTest::addColumn<int>("value");
    QTest::addColumn<QString>("text");

    QTest::newRow("network: last code") << "network" << 4 << "NotFound";
    QTest::newRow("network: past the end") << "network" << 5 << "Invalid Status";
    QTest::newRow("network: negative") << "network" << -1 << "Invalid Status";
    QTest::newRow("port: past the end") << "port" << 5 << "Invalid Status";
    QTest::newRow("status: past the end") << "status" << 6 << "Invalid Status";
    QTest::newRow("sync: last code") << "sync" << 8 << "PPS Synchronized (RE)";
    QTest::newRow("sync: past the end") << "sync" << 9 << "Invalid Status";
    QTest::newRow("hdd: past the end") << "hdd" << 4 << "Invalid Status";
    QTest::newRow("link: past the end") << "link" << 9 << "Link Type Unknown";
    QTest::newRow("time source: last code") << "timesrc" << 6 << "PTP";
    QTest::newRow("time source: past the end") << "timesrc" << 7 << "Invalid Time Source";
    QTest::newRow("time source: PPS flag alone") << "timesrc" << 0x80 << "PPS (Not Set)";
    QTest::newRow("time source: PPS with GPS") << "timesrc" << 0x85 << "PPS (GPS)";
    QTest::newRow("time source: PPS with an unknown source")
        << "timesrc" << 0x87 << "Invalid Time Source";
    QTest::newRow("time source: all bits") << "timesrc" << 0xff << "Invalid Time Source";
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
