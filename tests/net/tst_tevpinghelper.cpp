#include "nettestutil.h"
#include "tevpinghelper.h"

#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QtConcurrent/QtConcurrentRun>
#include <QtTest>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

Q_DECLARE_METATYPE(CorlaEchoPath)
Q_DECLARE_METATYPE(CorlaEchoOutcome)

namespace {

const char* const kGroupRange = "/proc/sys/net/ipv4/ping_group_range";
// Routed into loopback but owned by nobody: requests to it vanish without an answer.
const char* const kSilentAddress = "10.9.9.2";

QByteArray readGroupRange()
{
    QFile f(kGroupRange);
    return f.open(QIODevice::ReadOnly) ? f.readAll().trimmed() : QByteArray();
}

bool writeGroupRange(const QByteArray& range)
{
    QFile f(kGroupRange);
    return f.open(QIODevice::WriteOnly) && f.write(range + '\n') > 0;
}

// Admits our (mapped) group to ICMP datagram sockets. Inside a user namespace only
// mapped groups may be written, so "0 0" is the only value there is: once admitted,
// the namespace stays so.
bool admitDatagramSockets()
{
    return inPrivateNetns() && writeGroupRange("0 0");
}

bool datagramSocketsAdmitted()
{
    const QList<QByteArray> range = readGroupRange().simplified().split(' ');
    return range.size() == 2 && range[0].toLongLong() <= range[1].toLongLong();
}

bool ensureSilentRoute()
{
    QProcess ip;
    ip.start(QStringLiteral("ip"),
             {QStringLiteral("route"), QStringLiteral("replace"), QStringLiteral("10.9.9.0/24"),
              QStringLiteral("dev"), QStringLiteral("lo")});
    return ip.waitForFinished(5000) && ip.exitCode() == 0;
}

CorlaEchoOutcome replied(uint32_t count, const char* source, uint32_t status, uint32_t rtt)
{
    CorlaEchoOutcome o;
    o.replyCount = count;
    o.replySource = source;
    o.status = status;
    o.roundTripMs = rtt;
    return o;
}

CorlaEchoOutcome failed(uint32_t errorCode)
{
    CorlaEchoOutcome o;
    o.errorCode = errorCode;
    return o;
}

} // namespace

class TstTevPingHelper : public QObject
{
    Q_OBJECT

private slots:
    // First: it needs the namespace as netns-run made it.
    void fallbackFollowsTheGroupRange_data();
    void fallbackFollowsTheGroupRange();
    void composeDebugMessage_data();
    void composeDebugMessage();
    void echoPath_data();
    void echoPath();
    void requestCarriesTheDataBytes();
    void pingHostLogsTheReply();
    void othersRepliesAreNotOurs_data();
    void othersRepliesAreNotOurs();
};

void TstTevPingHelper::composeDebugMessage_data()
{
    QTest::addColumn<QString>("address");
    QTest::addColumn<CorlaEchoOutcome>("outcome");
    QTest::addColumn<QString>("expected");

    QTest::newRow("one reply, singular wording")
        << "192.168.1.20" << replied(1, "192.168.1.20", 0, 3)
        << "Sent icmp message to 192.168.1.20\n"
           "Received 1 icmp message response \n"
           "Information from the first response: Received from 192.168.1.20\n"
           "Status = 0Roundtrip time = 3 milliseconds \n";
    QTest::newRow("several replies, plural wording")
        << "10.0.0.255" << replied(3, "10.0.0.7", 0, 12)
        << "Sent icmp message to 10.0.0.255\n"
           "Received 3 icmp message responses \n"
           "Information from the first response: Received from 10.0.0.7\n"
           "Status = 0Roundtrip time = 12 milliseconds \n";
    QTest::newRow("router's unreachable report names the router and its status")
        << "172.16.5.9" << replied(1, "172.16.0.1", 3 * 256 + 1, 0)
        << "Sent icmp message to 172.16.5.9\n"
           "Received 1 icmp message response \n"
           "Information from the first response: Received from 172.16.0.1\n"
           "Status = 769Roundtrip time = 0 milliseconds \n";
    QTest::newRow("no reply in time")
        << "10.1.1.1" << failed(110)
        << "Call to IcmpSendEcho failed.\nIcmpSendEcho returned error: 110";
}

void TstTevPingHelper::composeDebugMessage()
{
    QFETCH(QString, address);
    QFETCH(CorlaEchoOutcome, outcome);
    QFETCH(QString, expected);
    QCOMPARE(TevPingHelper::composeDebugMessage(address, outcome), expected);
}

void TstTevPingHelper::fallbackFollowsTheGroupRange_data()
{
    QTest::addColumn<bool>("admitted");
    QTest::newRow("datagram sockets refused: raw socket") << false;
    QTest::newRow("datagram sockets admitted") << true;
}

void TstTevPingHelper::fallbackFollowsTheGroupRange()
{
    QFETCH(bool, admitted);
    if (admitted)
        QVERIFY2(admitDatagramSockets(), "run via scripts/netns-run");
    else if (datagramSocketsAdmitted())
        QSKIP("datagram sockets are already admitted in this namespace");

    const CorlaEchoOutcome outcome = corlaIcmpEcho("127.0.0.1", 500);
    QCOMPARE(outcome.path, admitted ? CorlaEchoPath::Datagram : CorlaEchoPath::Raw);
    QCOMPARE(outcome.replyCount, 1u);
}

void TstTevPingHelper::echoPath_data()
{
    QTest::addColumn<CorlaEchoPath>("path");
    QTest::newRow("unprivileged datagram socket") << CorlaEchoPath::Datagram;
    QTest::newRow("raw socket") << CorlaEchoPath::Raw;
}

void TstTevPingHelper::echoPath()
{
    QFETCH(CorlaEchoPath, path);
    if (path == CorlaEchoPath::Datagram)
        QVERIFY2(admitDatagramSockets(), "run via scripts/netns-run");

    const CorlaEchoOutcome outcome = corlaIcmpEchoVia(path, "127.0.0.1", 500);
    QCOMPARE(outcome.path, path);
    QCOMPARE(outcome.replyCount, 1u);
    QCOMPARE(outcome.replySource, std::string("127.0.0.1"));
    QCOMPARE(outcome.status, 0u);
    QCOMPARE(outcome.errorCode, 0u);
    QVERIFY(outcome.roundTripMs < 500);
}

void TstTevPingHelper::requestCarriesTheDataBytes()
{
    // A raw socket on loopback sees our own request go by.
    const int sniffer = ::socket(AF_INET, SOCK_RAW, IPPROTO_ICMP);
    if (sniffer < 0)
        QSKIP("raw ICMP sockets are not permitted here");
    const auto request = QtConcurrent::run(&corlaIcmpEcho, std::string("127.0.0.1"), 500u);
    QByteArray data;
    for (int i = 0; i < 20 && data.isEmpty(); ++i) {
        pollfd p{sniffer, POLLIN, 0};
        if (::poll(&p, 1, 500) <= 0)
            break;
        uint8_t packet[1500];
        const ssize_t n = ::recv(sniffer, packet, sizeof packet, 0);
        const int ipHeader = (packet[0] & 0x0f) * 4;
        if (n >= ipHeader + 8 && packet[ipHeader] == 8)
            data = QByteArray(reinterpret_cast<const char*>(packet + ipHeader + 8),
                              static_cast<int>(n) - ipHeader - 8);
    }
    ::close(sniffer);
    QCOMPARE(request.result().replyCount, 1u);
    QCOMPARE(data, QByteArray("Data Buffer") + QByteArray(21, '\0'));
}

void TstTevPingHelper::pingHostLogsTheReply()
{
    DebugCapture capture;
    QCOMPARE(TevPingHelper::pingHost(TevIpAddr("127.0.0.1"), 100), TevPingReplied);
    QCOMPARE(capture.messages().size(), 1);
    const QString message = capture.messages().first();
    QVERIFY2(message.startsWith("Sent icmp message to 127.0.0.1\nReceived 1 icmp message "
                                "response \nInformation from the first response: Received "
                                "from 127.0.0.1\nStatus = 0Roundtrip time = "),
             qPrintable(message));
    QVERIFY(message.endsWith(" milliseconds \n"));
}

void TstTevPingHelper::othersRepliesAreNotOurs_data()
{
    echoPath_data();
}

void TstTevPingHelper::othersRepliesAreNotOurs()
{
    // While one echo waits in vain, replies to other echoes of this process pass by
    // (on a raw socket it sees them all); none may be taken for its own.
    QFETCH(CorlaEchoPath, path);
    if (!inPrivateNetns() || !ensureSilentRoute())
        QSKIP("needs a route of its own in the private namespace of scripts/netns-run");
    if (path == CorlaEchoPath::Datagram)
        QVERIFY(admitDatagramSockets());

    const auto waiting =
        QtConcurrent::run(&corlaIcmpEchoVia, path, std::string(kSilentAddress), 400u);
    int answered = 0;
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < 350)
        answered += corlaIcmpEchoVia(path, "127.0.0.1", 100).replyCount;
    QVERIFY(answered > 5);
    const CorlaEchoOutcome outcome = waiting.result();
    QCOMPARE(outcome.path, path);
    QCOMPARE(outcome.replyCount, 0u);
    QCOMPARE(outcome.errorCode, uint32_t(ETIMEDOUT));
}

QTEST_GUILESS_MAIN(TstTevPingHelper)
#include "tst_tevpinghelper.moc"
