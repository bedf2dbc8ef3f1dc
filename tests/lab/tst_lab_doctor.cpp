// SPDX-License-Identifier: Apache-2.0
// SPDX-FileCopyrightText: 2026 The Corla developers
// corla-cli doctor on the lab's host side, against the lab's default fleet: the interfaces
// as they are, an nftables input policy of drop (the devices go unheard, discover points to
// doctor, and the command doctor prints lets their answers in again), and an interface with
// a link-local address only.
#include "tests/support/clirun.h"
#include "tests/support/datarow.h"
#include "tests/support/labguard.h"

#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QtTest>

using namespace corla;

namespace {

const char* const DropTable = "corla_doctor";
const char* const LinkLocal = "corla-ll";

int run(const QString& program, const QStringList& args)
{
    QProcess process;
    process.start(program, args);
    if (!process.waitForFinished(10000))
        return -1;
    return process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
}

// What the machine's own ufw or firewalld (read from its files and services, not the lab's)
// adds to the report; the lab's own findings are judged beside it.
bool hostFirewallFound(const CliRun& doctor)
{
    static const QRegularExpression found("ufw: (active,|enabled)|firewalld: running,");
    return doctor.out.contains(found);
}

} // namespace

class TestLabDoctor : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        CORLA_REQUIRE_LAB();
        if (QStandardPaths::findExecutable("nft", {"/usr/sbin", "/sbin"}).isEmpty())
            QSKIP("nft is not installed (package nftables)");
    }

    void cleanup()
    {
        run("nft", {"delete", "table", "inet", DropTable});
        run("ip", {"link", "del", LinkLocal});
    }

    void interfacesAsTheyAre()
    {
        const CliRun doctor = cli({"doctor"});
        CLI_EXPECT(doctor, hostFirewallFound(doctor) ? 12 : 0);
        QCOMPARE(doctor.err, QString());
        for (const char* line :
             {"Interfaces:\n  lab0: 10.10.0.1/24, 10.10.1.1/24\n  lab1: 10.20.0.1/24\n",
              "  nftables: no input chain drops by policy\n",
              "Routers: devices behind a router cannot be found by broadcast"})
            QVERIFY2(doctor.out.contains(line), qPrintable(doctor.describe()));
        QVERIFY2(!doctor.out.contains("lo:"), qPrintable(doctor.out));
    }

    // Connection tracking does not take the devices' answers for replies to the broadcast:
    // the drop policy keeps every device out until the printed rule lets them in.
    void dropPolicy()
    {
        const QString table = QString::fromLatin1(DropTable);
        QCOMPARE(run("nft", {"add", "table", "inet", table}), 0);
        QCOMPARE(run("nft", {"add chain inet " + table +
                             " input { type filter hook input priority 0; policy drop; }"}),
                 0);
        QCOMPARE(run("nft", {"add rule inet " + table +
                             " input ct state established,related "
                             "accept"}),
                 0);

        const CliRun unheard = cli({"discover", "--wait", "1000"});
        CLI_EXPECT(unheard, 2);
        QVERIFY2(unheard.err.endsWith("corla-cli: 'corla-cli doctor' tells what on this computer "
                                      "can keep devices from being heard\n"),
                 qPrintable(unheard.describe()));

        const CliRun doctor = cli({"doctor"});
        CLI_EXPECT(doctor, 12);
        const QString said = "  nftables: the input chain \"inet " + table +
                             " input\" has the policy drop. Connection tracking does not relate "
                             "the devices' answers to a broadcast enquiry, so a drop policy drops "
                             "them too. To let the devices' answers (UDP from port 62726) in: "
                             "sudo nft insert rule inet " +
                             table + " input udp sport 62726 accept\n";
        QVERIFY2(doctor.out.contains(said), qPrintable(doctor.describe()));

        // The lab is root already: the command without its sudo.
        const QString command = said.section(": sudo ", 1).trimmed();
        QCOMPARE(run(command.section(' ', 0, 0), command.section(' ', 1).split(' ')), 0);
        const CliRun again = cli({"doctor"});
        CLI_EXPECT(again, hostFirewallFound(again) ? 12 : 0);
        QVERIFY2(again.out.contains("\"inet " + table +
                                    " input\" drops by policy, and a rule "
                                    "lets UDP from port 62726 in"),
                 qPrintable(again.describe()));
        const CliRun heard = cli({"discover", "--wait", "1000", "--format", "csv"});
        CLI_EXPECT(heard, 0);
        QCOMPARE(heard.out.count('\n'), 1 + 20);
    }

    void linkLocalOnly()
    {
        const QString iface = QString::fromLatin1(LinkLocal), peer = iface + "-peer";
        QCOMPARE(run("ip", {"link", "add", iface, "type", "veth", "peer", "name", peer}), 0);
        QCOMPARE(run("ip", {"addr", "add", "169.254.10.1/16", "dev", iface}), 0);
        QCOMPARE(run("ip", {"link", "set", iface, "up"}), 0);
        QCOMPARE(run("ip", {"link", "set", peer, "up"}), 0);
        QVERIFY(QTest::qWaitFor(
            [&] {
                QProcess ip;
                ip.start("ip", {"-o", "link", "show", iface});
                return ip.waitForFinished(5000) && ip.readAll().contains("LOWER_UP");
            },
            10000));

        const CliRun doctor = cli({"doctor"});
        CLI_EXPECT(doctor, 12);
        for (const QString& line :
             {"  " + iface +
                  ": 169.254.10.1/16 only, a link-local address: no DHCP server gave it "
                  "one.",
              "  " + peer + ": up, without an IPv4 address: discovery does not use it\n",
              QString("  lab0: 10.10.0.1/24, 10.10.1.1/24\n")})
            QVERIFY2(doctor.out.contains(line), qPrintable(doctor.describe()));
    }
};

QTEST_GUILESS_MAIN(TestLabDoctor)
#include "tst_lab_doctor.moc"
