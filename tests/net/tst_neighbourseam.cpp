// Reading the kernel's neighbour dump: canned rtnetlink datagrams as a little-endian Linux
// sends them. The table itself, filled by a real echo, is read in the lab (tst_lab_inuse).
#include "neighbourseam.h"

#include <QtTest>

#include <arpa/inet.h>

namespace {

// RTM_NEWNEIGH, AF_INET, on interface 3: 10.10.0.250 REACHABLE as 02:c0:1a:ff:00:fa.
const char* const kReachable250 = "30000000 1c00 0200 01000000 00000000"
                                  "02000000 03000000 0200 00 01"
                                  "0800 0100 0a0a00fa 0a00 0200 02c01aff00fa 0000";
// The same address STALE on interface 4, as 02:c0:1a:ff:00:fb.
const char* const kStale250 = "30000000 1c00 0200 01000000 00000000"
                              "02000000 04000000 0400 00 01"
                              "0800 0100 0a0a00fa 0a00 0200 02c01aff00fb 0000";
// 10.10.0.200 INCOMPLETE: no link-layer address yet.
const char* const kIncomplete200 = "24000000 1c00 0200 01000000 00000000"
                                   "02000000 03000000 0100 00 01 0800 0100 0a0a00c8";
const char* const kDone = "14000000 0300 0200 01000000 00000000 00000000";
// NLMSG_ERROR with -EPERM, quoting the request's header.
const char* const kRefused = "24000000 0200 0000 01000000 00000000 ffffffff"
                             "14000000 1e00 0103 01000000 00000000";
// A header that claims more bytes than the datagram holds.
const char* const kCutShort = "40000000 1c00 0200 01000000 00000000"
                              "02000000 03000000 0100 00 01 0800 0100 0a0a00c8";

QByteArray dump(std::initializer_list<const char*> parts)
{
    QByteArray hex;
    for (const char* p : parts)
        hex += p;
    return QByteArray::fromHex(hex);
}

} // namespace

class TstNeighbourSeam : public QObject
{
    Q_OBJECT

private slots:
    void parse_data()
    {
        QTest::addColumn<QByteArray>("datagram");
        QTest::addColumn<QString>("address");
        QTest::addColumn<bool>("goesOn");
        QTest::addColumn<QString>("state");
        QTest::addColumn<QString>("mac");
        QTest::addColumn<int>("error");
        const QByteArray both = dump({kReachable250, kIncomplete200, kDone});
        QTest::newRow("reachable, with its MAC") << both << "10.10.0.250" << false << "REACHABLE"
                                                 << "02:c0:1a:ff:00:fa" << 0;
        QTest::newRow("incomplete, no MAC yet") << both << "10.10.0.200" << false << "INCOMPLETE"
                                                << "" << 0;
        QTest::newRow("no entry") << both << "10.10.0.9" << false << ""
                                  << "" << 0;
        QTest::newRow("stale on one interface, then reachable on another")
            << dump({kStale250, kReachable250, kDone}) << "10.10.0.250" << false << "REACHABLE"
            << "02:c0:1a:ff:00:fa" << 0;
        QTest::newRow("reachable, then stale on another interface")
            << dump({kReachable250, kStale250, kDone}) << "10.10.0.250" << false << "REACHABLE"
            << "02:c0:1a:ff:00:fa" << 0;
        QTest::newRow("a datagram without the end: the dump goes on")
            << dump({kStale250}) << "10.10.0.250" << true << "STALE"
            << "02:c0:1a:ff:00:fb" << 0;
        QTest::newRow("the kernel's error ends it")
            << dump({kRefused}) << "10.10.0.250" << false << ""
            << "" << 1;
        QTest::newRow("cut short: malformed") << dump({kCutShort}) << "10.10.0.200" << false << ""
                                              << "" << 74;
    }

    void parse()
    {
        QFETCH(QByteArray, datagram);
        QFETCH(QString, address);
        QFETCH(bool, goesOn);
        QFETCH(QString, state);
        QFETCH(QString, mac);
        QFETCH(int, error);
        std::array<uint8_t, 4> target{};
        QVERIFY(inet_pton(AF_INET, qPrintable(address), target.data()) == 1);
        CorlaNeighbour found;
        int failure = 0;
        QCOMPARE(corlaParseNeighbourDump(reinterpret_cast<const uint8_t*>(datagram.constData()),
                                         std::size_t(datagram.size()), target, &found, &failure),
                 goesOn);
        QCOMPARE(QString::fromStdString(found.stateName), state);
        QCOMPARE(QString::fromStdString(corlaLinkAddressText(found)), mac);
        QCOMPARE(failure, error);
    }
};

QTEST_GUILESS_MAIN(TstNeighbourSeam)
#include "tst_neighbourseam.moc"
