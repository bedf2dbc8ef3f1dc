// SPDX-License-Identifier: Apache-2.0
// SPDX-FileCopyrightText: 2026 The Corla developers
// Port probes on loopback; unreachable or silent hosts and large fleets are tst_lab_checker's.
#include "core/net/portprobescheduler.h"
#include "tests/support/datarow.h"
#include "tests/support/debugcapture.h"
#include "tests/support/labguard.h"
#include "tests/support/settle.h"

#include <QElapsedTimer>
#include <QScopeGuard>
#include <QTcpServer>
#include <QtTest>

#include <netinet/in.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

using namespace corla;

namespace {

const char* const kReasons[] = {"Accepted", "Refused",   "NoAnswer", "HostUnreachable",
                                "NoRoute",  "NoAddress", "Waiting",  "NotProbed"};

// "serial: net port reason" per report (complete only in signal order), and when it came.
struct Reports
{
    explicit Reports(PortProbeScheduler* checker)
    {
        clock.start();
        QObject::connect(checker, &PortProbeScheduler::netHostStatus,
                         [this](const Device& d, DevicePort, Reachability s) {
                             partial = QStringLiteral("%1: net %2").arg(d.serial()).arg(int(s));
                         });
        QObject::connect(checker, &PortProbeScheduler::portStatus,
                         [this](const Device&, DevicePort, PortState s) {
                             partial += QStringLiteral(" port %1").arg(int(s));
                         });
        QObject::connect(checker, &PortProbeScheduler::probeReason,
                         [this](const Device&, DevicePort, Reachability, ProbeReason r) {
                             lines << partial + ' ' + kReasons[int(r)];
                             atMs << clock.elapsed();
                             partial.clear();
                         });
    }
    QStringList lines;
    QList<qint64> atMs;
    QString partial;
    QElapsedTimer clock;
};

Device device(uint16_t serial, char mac, const char* ip)
{
    const MacAddress address(std::array<uint8_t, 6>{uint8_t(mac), 0, 0, 0, 0xc0, 0x02});
    return Device(serial, DeviceType::NerioHF,
                  NetworkSettings(Ipv4Address(ip), Ipv4Address("255.0.0.0"), Ipv4Address(),
                                  Ipv4Address(), address, AddressModeStatic));
}

// A loopback port that nobody listens on: bind, note the port, close.
DevicePort closedLoopbackPort()
{
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost);
    return DevicePort(probe.serverPort());
}

// A listener that never accepts: `fill` fills a backlog of 0 so requests go unanswered;
// `anyAddress` listens at every 127.x.y.z.
class Listener
{
public:
    explicit Listener(int backlog, bool fill, bool anyAddress = false)
    {
        m_fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(anyAddress ? INADDR_ANY : INADDR_LOOPBACK);
        socklen_t len = sizeof a;
        if (::bind(m_fd, reinterpret_cast<sockaddr*>(&a), len) != 0 || ::listen(m_fd, backlog) ||
            ::getsockname(m_fd, reinterpret_cast<sockaddr*>(&a), &len) != 0)
            return;
        m_port = ntohs(a.sin_port);
        m_filler = fill ? ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0) : -1;
        if (m_filler >= 0 && ::connect(m_filler, reinterpret_cast<sockaddr*>(&a), len) != 0)
            m_port = 0;
    }
    ~Listener()
    {
        for (int fd : {m_filler, m_fd})
            if (fd >= 0)
                ::close(fd);
    }
    DevicePort port() const { return DevicePort(m_port); }

private:
    int m_fd = -1;
    int m_filler = -1;
    uint16_t m_port = 0;
};

} // namespace

class TstPortProbeScheduler : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { CORLA_REQUIRE_PRIVATE_NETNS(); }

    void oneProbePerDeviceAndPort_data()
    {
        // "serial mac open|closed|moved|noroute" probes; "restart [X]" forgets all or X's.
        QTest::addColumn<QString>("steps");    // separated by ", "
        QTest::addColumn<QString>("expected"); // the reports, sorted, separated by ", "
        QTest::addColumn<int>("connections");  // that the listener sees; -1: any number
        const QString a1 = "1: net 0 port 2 Accepted", a2 = "2: net 0 port 2 Accepted";
        row("three local addresses: one probe, the first copy", "1 a open, 2 a open, 3 a open", a1,
            1);
        row("two devices at one address: a report each", "1 a open, 2 b open", a1 + ", " + a2, 1);
        row("the probing device forgotten: the other gets it", "1 a open, 2 b open, restart a", a2,
            1);
        row("restarted while its probe runs: a second one after that ends",
            "1 a open, 2 b open, restart a, 3 a open", a2 + ", 3: net 0 port 2 Accepted", 2);
        row("another port: a probe of its own", "1 a open, 2 a closed",
            a1 + ", 2: net 1 port 1 Refused", 1);
        row("after restartProbes: a fresh probe, the earlier silent", "1 a open, restart, 2 a open",
            a2, -1);
        row("after restartProbe of another device: one probe", "1 a open, restart b, 2 a open", a1,
            1);
        row("device at a new address: only the latest reports", "1 a moved, 2 a open", a2, 1);
        row("failed at once, forgotten before its report", "1 a noroute, restart", "", 0);
    }

    void oneProbePerDeviceAndPort()
    {
        QFETCH(QString, steps);
        QFETCH(QString, expected);
        QFETCH(int, connections);
        QTcpServer server;
        QVERIFY(server.listen(QHostAddress::LocalHost));
        int accepted = 0;
        connect(&server, &QTcpServer::newConnection, this, [&] {
            while (QTcpSocket* s = server.nextPendingConnection()) {
                ++accepted;
                s->deleteLater();
            }
        });
        const DevicePort open = DevicePort(server.serverPort());
        const DevicePort closed = closedLoopbackPort();
        PortProbeScheduler checker(nullptr);
        checker.setLoopbackAllowed(true);
        checker.setConnectionTimeout(300);
        Reports reports(&checker);
        for (const QString& step : steps.split(", ")) {
            const QStringList w = step.split(' ');
            if (w[0] == "restart" && w.size() == 1)
                checker.restartProbes();
            else if (w[0] == "restart")
                checker.restartProbe(device(0, w[1][0].toLatin1(), "127.0.0.1"), open);
            else
                checker.checkPort(device(uint16_t(w[0].toInt()), w[1][0].toLatin1(),
                                         w[2] == "moved"     ? "127.0.0.2"
                                         : w[2] == "noroute" ? "203.0.113.9"
                                                             : "127.0.0.1"),
                                  w[2] == "closed" ? closed : open);
        }
        QTRY_VERIFY(checker.idle());
        settle();
        reports.lines.sort();
        QCOMPARE(reports.lines.join(", "), expected);
        if (connections >= 0)
            QTRY_COMPARE(accepted, connections);
    }

    void queuedProbesGetTheirOwnTime()
    {
        // Two at a time, four silent devices: two verdicts at the limit, two at twice that.
        Listener full(0, true, true);
        QVERIFY(full.port() != DevicePort(0));
        PortProbeScheduler checker(nullptr);
        checker.setLoopbackAllowed(true);
        checker.setConnectionTimeout(300);
        checker.setMaxInFlight(2);
        Reports reports(&checker);
        for (int i = 1; i <= 4; ++i)
            checker.checkPort(
                device(uint16_t(i), char('a' + i), "127.0.0." + QByteArray::number(i)),
                full.port());
        QTRY_COMPARE(reports.lines.size(), 4);
        QCOMPARE(reports.lines.filter("NoAnswer").size(), 4);
        // Timers may fire 5 % early; 10 % tells own time from time since queued.
        QVERIFY2(
            reports.atMs[0] >= 270 && reports.atMs[2] >= 540,
            qPrintable(QString::number(reports.atMs[0]) + ' ' + QString::number(reports.atMs[2])));
    }

    void outOfSocketsIsNoVerdict()
    {
        // Three spare descriptors for 24 probes: each still ends accepted, once.
#ifdef __SANITIZE_ADDRESS__
        QSKIP("the sanitizers' type checks open a pipe of their own, and fail falsely while "
              "this test holds every descriptor; the plain build runs it");
#endif
        Listener listener(64, false, true);
        QVERIFY(listener.port() != DevicePort(0));
        PortProbeScheduler checker(nullptr);
        checker.setLoopbackAllowed(true);
        checker.setMaxInFlight(24);
        Reports reports(&checker);
        DebugCapture capture;
        rlimit saved{};
        ::getrlimit(RLIMIT_NOFILE, &saved);
        rlimit spare = saved; // room for three more descriptors
        spare.rlim_cur = rlim_t(QDir("/proc/self/fd").entryList(QDir::NoDotAndDotDot).size() + 3);
        QVERIFY(::setrlimit(RLIMIT_NOFILE, &spare) == 0);
        const auto restore = qScopeGuard([&saved] { ::setrlimit(RLIMIT_NOFILE, &saved); });
        for (uint16_t serial = 1; serial <= 24; ++serial)
            checker.checkPort(device(serial, char(serial), "127.0.0." + QByteArray::number(serial)),
                              listener.port());
        QTRY_COMPARE_WITH_TIMEOUT(reports.lines.size(), 24, 30000);
        QCOMPARE(reports.lines.filter(": net 0 port 2 Accepted").size(), 24);
        QCOMPARE(QSet<QString>(reports.lines.begin(), reports.lines.end()).size(), 24);
        QVERIFY(!capture.messages().filter("Port probes: out of sockets").isEmpty());
    }

    void checksOutlivingTheCheckerStaySilent()
    {
        Listener full(0, true);
        QTcpServer server;
        QVERIFY(server.listen(QHostAddress::LocalHost));
        int reports = 0;
        {
            PortProbeScheduler checker(nullptr);
            checker.setLoopbackAllowed(true);
            checker.setConnectionTimeout(150);
            connect(&checker, &PortProbeScheduler::netHostStatus, this, [&reports] { ++reports; });
            checker.checkPort(device(1, 'a', "127.0.0.1"), DevicePort(server.serverPort()));
            checker.checkPort(device(2, 'b', "127.0.0.1"), closedLoopbackPort());
            checker.checkPort(device(3, 'c', "127.0.0.1"), full.port());
        }
        // Every outcome would come after the checker went; none may reach it.
        settle();
        QCOMPARE(reports, 0);
    }

    // Reported before checkPort() returns; empty `report`: a host, probed.
    void notProbed_data()
    {
        columns<QString, QString, QString>({"address", "report", "text"});
        const QString notProbed = "9: net 1 port 1 NotProbed";
        row("no address", "0.0.0.0", "9: net 2 port 1 NoAddress", "no IP address");
        row("loopback, last", "127.255.255.255", notProbed,
            "not probed: 127.255.255.255 is a loopback address");
        row("multicast, last", "239.255.255.255", notProbed,
            "not probed: 239.255.255.255 is a multicast address");
        row("broadcast", "255.255.255.255", notProbed,
            "not probed: 255.255.255.255 is a broadcast address");
        row("this network", "0.0.0.5", notProbed, "not probed: 0.0.0.5 is no host address");
        row("reserved", "240.0.0.1", notProbed, "not probed: 240.0.0.1 is a reserved address");
        row("reserved, last", "255.255.255.254", notProbed,
            "not probed: 255.255.255.254 is a reserved address");
        for (const char* host : {"1.0.0.0", "126.255.255.255", "128.0.0.0", "223.255.255.255"})
            row(host, host, "", "");
    }

    void notProbed()
    {
        QFETCH(QString, address);
        QFETCH(QString, report);
        QFETCH(QString, text);
        PortProbeScheduler checker(nullptr);
        Reports reports(&checker);
        const Device d = device(9, 'a', address.toLatin1());
        checker.checkPort(d, DevicePort::Ftp);
        QCOMPARE(reports.lines, report.isEmpty() ? QStringList() : QStringList{report});
        const auto reason =
            report.endsWith("NoAddress") ? ProbeReason::NoAddress : ProbeReason::NotProbed;
        if (!text.isEmpty())
            QCOMPARE(probeExplanation(checker, d, reason), text);
    }

    void noAnswerTextFollowsTheLimit()
    {
        PortProbeScheduler checker(nullptr);
        checker.setConnectionTimeout(250);
        QCOMPARE(checker.reasonText(ProbeReason::NoAnswer), "no answer within 0.25 s");
    }
};

QTEST_GUILESS_MAIN(TstPortProbeScheduler)
#include "tst_portprobescheduler.moc"
