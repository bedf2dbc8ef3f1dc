// SPDX-License-Identifier: Apache-2.0
// SPDX-FileCopyrightText: 2026 The Corla developers
// The kernel's neighbour dump from canned rtnetlink datagrams, and the in-use verdict.
#include "core/net/addressinuse.h"
#include "core/net/neighbourseam.h"
#include "tests/support/datarow.h"

#include <QtTest>

#include <arpa/inet.h>

using namespace corla;

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

LinkAddress linkAddress(const QString& text)
{
    LinkAddress octets{};
    const QStringList pairs = text.split(':');
    for (int i = 0; i < pairs.size() && i < 6; ++i)
        octets[size_t(i)] = uint8_t(pairs[i].toUInt(nullptr, 16));
    return octets;
}

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
        columns<QByteArray, QString>({"datagram", "address"});
        QTest::addColumn<QString>("expected"); // "goes on|ends STATE MAC error N"
        const QByteArray both = dump({kReachable250, kIncomplete200, kDone});
        const QString reachable = "ends REACHABLE 02:c0:1a:ff:00:fa error 0";
        row("reachable, with its MAC", both, "10.10.0.250", reachable);
        row("incomplete, no MAC yet", both, "10.10.0.200", "ends INCOMPLETE  error 0");
        row("no entry", both, "10.10.0.9", "ends   error 0");
        row("stale on one interface, then reachable on another",
            dump({kStale250, kReachable250, kDone}), "10.10.0.250", reachable);
        row("reachable, then stale on another interface", dump({kReachable250, kStale250, kDone}),
            "10.10.0.250", reachable);
        row("a datagram without the end: the dump goes on", dump({kStale250}), "10.10.0.250",
            "goes on STALE 02:c0:1a:ff:00:fb error 0");
        row("the kernel's error ends it", dump({kRefused}), "10.10.0.250", "ends   error 1");
        row("cut short: malformed", dump({kCutShort}), "10.10.0.200", "ends   error 74");
    }

    void parse()
    {
        QFETCH(QByteArray, datagram);
        QFETCH(QString, address);
        QFETCH(QString, expected);
        std::array<uint8_t, 4> target{};
        QVERIFY(inet_pton(AF_INET, qPrintable(address), target.data()) == 1);
        Neighbour found;
        int failure = 0;
        const bool goesOn =
            parseNeighbourDump(reinterpret_cast<const uint8_t*>(datagram.constData()),
                               std::size_t(datagram.size()), target, &found, &failure);
        QCOMPARE(QStringLiteral("%1 %2 %3 error %4")
                     .arg(goesOn ? "goes on" : "ends", QString::fromStdString(found.stateName),
                          QString::fromStdString(linkAddressText(found)))
                     .arg(failure),
                 expected);
    }

    void judge_data()
    {
        QTest::addColumn<uint>("status"); // of the one reply; none: ~0u
        QTest::addColumn<int>("state");   // NeighbourState
        columns<QString, QStringList>({"mac", "disregard"});
        QTest::addColumn<int>("by"); // InUseBy
        QTest::addColumn<bool>("disregarded");
        const int absent = int(NeighbourState::Absent);
        const int lately = int(NeighbourState::SeenLately);
        const int confirmed = int(NeighbourState::Confirmed);
        const int nobody = int(InUseBy::Nobody);
        const int echo = int(InUseBy::Echo);
        const int link = int(InUseBy::LinkLayer);
        const QString moved = "02:c0:1a:00:00:05";
        const QString other = "02:c0:1a:00:00:06";
        const uint none = ~0u;
        row("echo reply", 0u, confirmed, moved, QStringList{}, echo, false);
        row("echo reply from a listed device: it answers here", 0u, confirmed, moved,
            QStringList{moved}, echo, false);
        row("router: host unreachable", 769u, absent, "", QStringList{}, nobody, false);
        row("ICMP error, but ARP answered", 769u, confirmed, other, QStringList{moved}, link,
            false);
        row("silent, ARP answered", none, confirmed, moved, QStringList{}, link, false);
        row("silent, seen lately", none, lately, moved, QStringList{other}, link, false);
        row("silent, MAC of a device that moved", none, confirmed, moved, QStringList{other, moved},
            nobody, true);
        row("silent, stale entry of a device that moved", none, lately, moved, QStringList{moved},
            nobody, true);
        row("no reply, no entry", none, absent, "", QStringList{moved}, nobody, false);
    }

    void judge()
    {
        QFETCH(uint, status);
        QFETCH(int, state);
        QFETCH(QString, mac);
        QFETCH(QStringList, disregard);
        QFETCH(int, by);
        QFETCH(bool, disregarded);
        EchoOutcome echo;
        if (status != ~0u) {
            echo.replyCount = 1;
            echo.status = status;
            echo.replySource = "10.10.0.254";
        } else {
            echo.errorCode = 110;
        }
        Neighbour neighbour;
        neighbour.state = NeighbourState(state);
        neighbour.hasLinkAddress = !mac.isEmpty();
        neighbour.linkAddress = linkAddress(mac);
        std::vector<LinkAddress> set;
        for (const QString& m : disregard)
            set.push_back(linkAddress(m));
        const InUseFinding use = judgeInUse(echo, neighbour, set);
        QCOMPARE(int(use.by), by);
        QCOMPARE(use.linkAddressDisregarded, disregarded);
    }
};

QTEST_GUILESS_MAIN(TstNeighbourSeam)
#include "tst_neighbourseam.moc"
