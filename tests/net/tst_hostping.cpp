// SPDX-License-Identifier: Apache-2.0
// SPDX-FileCopyrightText: 2026 The Corla developers
// The echo on loopback: the socket chosen, the request's data, others' replies (hosts
// present and absent are the lab's, tst_lab_checker).
#include "core/net/hostping.h"
#include "tests/support/debugcapture.h"
#include "tests/support/labguard.h"

#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QtConcurrent/QtConcurrentRun>
#include <QtTest>

#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

using namespace corla;

Q_DECLARE_METATYPE(EchoPath)

namespace {

const char* const kGroupRange = "/proc/sys/net/ipv4/ping_group_range";

// Admits our group to ICMP datagram sockets ("0 0": the only mapped group in the namespace).
bool admitDatagramSockets()
{
    QFile f(kGroupRange);
    return inPrivateNetns() && f.open(QIODevice::WriteOnly) && f.write("0 0\n") > 0;
}

bool datagramSocketsAdmitted()
{
    QFile f(kGroupRange);
    const QList<QByteArray> range =
        f.open(QIODevice::ReadOnly) ? f.readAll().simplified().split(' ') : QList<QByteArray>();
    return range.size() == 2 && range[0].toLongLong() <= range[1].toLongLong();
}

} // namespace

class TstHostPing : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { CORLA_REQUIRE_PRIVATE_NETNS(); }
    // First: it needs the namespace as netns-run made it.
    void fallbackFollowsTheGroupRange_data()
    {
        QTest::addColumn<bool>("admitted");
        QTest::newRow("datagram sockets refused: raw socket") << false;
        QTest::newRow("datagram sockets admitted") << true;
    }

    void fallbackFollowsTheGroupRange()
    {
        QFETCH(bool, admitted);
        if (admitted)
            QVERIFY2(admitDatagramSockets(), "run via scripts/netns-run");
        else if (datagramSocketsAdmitted())
            QSKIP("datagram sockets are already admitted in this namespace");
        const EchoOutcome echo = icmpEcho("127.0.0.1", 500);
        QCOMPARE(echo.path, admitted ? EchoPath::Datagram : EchoPath::Raw);
        QCOMPARE(echo.replyCount, 1u);
    }

    void requestCarriesTheDataBytes()
    {
        const int sniffer = ::socket(AF_INET, SOCK_RAW, IPPROTO_ICMP);
        if (sniffer < 0)
            QSKIP("raw ICMP sockets are not permitted here");
        const auto request = QtConcurrent::run(&icmpEcho, std::string("127.0.0.1"), 500u);
        QByteArray data;
        pollfd p{sniffer, POLLIN, 0};
        for (int i = 0; i < 20 && data.isEmpty() && ::poll(&p, 1, 500) > 0; ++i) {
            uint8_t packet[1500];
            const ssize_t n = ::recv(sniffer, packet, sizeof packet, 0);
            const int ipHeader = (packet[0] & 0x0f) * 4;
            if (n >= ipHeader + 8 && packet[ipHeader] == 8) // an echo request
                data = QByteArray(reinterpret_cast<const char*>(packet + ipHeader + 8),
                                  int(n) - ipHeader - 8);
        }
        ::close(sniffer);
        QCOMPARE(request.result().replyCount, 1u);
        QCOMPARE(data, QByteArray("Data Buffer") + QByteArray(21, '\0'));
    }

    void othersRepliesAreNotOurs_data()
    {
        QTest::addColumn<EchoPath>("path");
        QTest::newRow("unprivileged datagram socket") << EchoPath::Datagram;
        QTest::newRow("raw socket") << EchoPath::Raw;
    }

    void othersRepliesAreNotOurs()
    {
        // Replies to other echoes pass by one waiting in vain; none may be taken for its own.
        QFETCH(EchoPath, path);
        if (!inPrivateNetns() ||
            QProcess::execute("ip", {"route", "replace", "10.9.9.0/24", "dev", "lo"}) != 0)
            QSKIP("needs a route of its own in the private namespace of scripts/netns-run");
        if (path == EchoPath::Datagram)
            QVERIFY(admitDatagramSockets());
        const auto waiting = QtConcurrent::run(&icmpEchoVia, path, std::string("10.9.9.2"), 400u);
        int answered = 0;
        QElapsedTimer clock;
        clock.start();
        while (clock.elapsed() < 350)
            answered += icmpEchoVia(path, "127.0.0.1", 100).replyCount;
        QVERIFY(answered > 5);
        const EchoOutcome outcome = waiting.result();
        QCOMPARE(outcome.path, path);
        QCOMPARE(outcome.replyCount, 0u);
        QCOMPARE(outcome.errorCode, uint32_t(ETIMEDOUT));
    }
};

QTEST_GUILESS_MAIN(TstHostPing)
#include "tst_hostping.moc"
