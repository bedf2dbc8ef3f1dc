// SPDX-License-Identifier: Apache-2.0
// SPDX-FileCopyrightText: 2026 The Corla developers
// corla-cli's outcomes when datagrams go missing, senders disagree or an address was just left.
#include "tests/support/clirun.h"
#include "tests/support/datarow.h"
#include "tests/support/labguard.h"

#include <QProcess>
#include <QtTest>

using namespace corla;

namespace {

const QString MaskAndWait = " --mask 255.255.255.0 --wait 1000";
const QString Mover = "02:c0:1a:00:00:0d";    // static 10.10.0.23 on dev0, accepts
const QString Follower = "02:c0:1a:00:00:0f"; // static 10.10.0.25 on dev0, accepts
const QString Disputed = "02:c0:1a:00:00:05"; // static 10.10.0.15 on dev0
const QString Resetter = "02:c0:1a:00:00:13"; // static 10.10.0.29 on dev0
const QString Fresh = "10.10.0.77 255.255.255.0 10.10.0.254 10.10.0.254 Static";

// The payload's second byte (the command), seen from the UDP header.
const QString ChangeCode = "@th,72,8 0x58";
const QString ResetCode = "@th,72,8 0x59";

// Runs nft on one side of the lab ("dev" or "host"); "" when it worked, else its words.
QString nft(const QString& side, const QStringList& args, const QByteArray& input = {})
{
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    if (side == "dev")
        process.start("nsenter",
                      QStringList{"--net=" + corlaLabEnv("CORLA_LAB_DEVNS"), "nft"} + args);
    else
        process.start("nft", args);
    process.write(input);
    process.closeWriteChannel();
    if (!process.waitForFinished(10000) || process.exitCode() != 0)
        return "nft " + args.join(' ') + " on the " + side + " side: " + process.readAll();
    return QString();
}

// "dev RULE" or "host RULE": the rule in an input chain of a table of our own on that side.
QString addRule(const QString& rule)
{
    const QString table = "table inet corla_outcomes {\n chain input {\n  type filter hook "
                          "input priority filter; policy accept;\n  " +
                          rule.section(' ', 1) + "\n }\n}\n";
    return rule.isEmpty() ? QString() : nft(rule.section(' ', 0, 0), {"-f", "-"}, table.toUtf8());
}

void dropRules()
{
    for (const char* side : {"dev", "host"})
        nft(side, {"delete", "table", "inet", "corla_outcomes"});
}

// Each device discovery lists, by MAC: "address mask gateway DNS mode".
QMap<QString, QString> discoverCsv(const QString& waitMs, QString* described = nullptr)
{
    const CliRun run = cli({"discover", "--format", "csv", "--wait", waitMs});
    if (described)
        *described = run.describe();
    QMap<QString, QString> devices;
    for (const QString& line : run.out.split('\n', Qt::SkipEmptyParts).mid(1)) {
        const QStringList f = line.split(',');
        if (f.size() == 8)
            devices.insert(f[7], QStringList(f.mid(2, 5)).join(' '));
    }
    return devices;
}

} // namespace

class TstLabOutcomes : public QObject
{
    Q_OBJECT
    CorlaLabSim m_sim;

    QString startSim(const QString& args)
    {
        return m_sim.startOrWhy(QStringList{"--reset-silence", "1500"} +
                                args.split(' ', Qt::SkipEmptyParts));
    }

private slots:
    void initTestCase() { CORLA_REQUIRE_LAB(); }

    void cleanup()
    {
        dropRules();
        // Addresses the devices held in this row must not look taken in the next one.
        QProcess::execute("ip", {"neigh", "flush", "all"});
        QVERIFY2(m_sim.stop(), qPrintable(m_sim.output()));
    }

    // Switches, drop rules, command, exit status, texts said once, settings after, requests heard.
    void outcomes_data()
    {
        columns<QString, QString, QString, int, QStringList, QString, int>(
            {"sim", "rules", "args", "exitCode", "printed", "after", "requests"});

        const QString moveTo77 = "set " + Mover + " --static 10.10.0.77" + MaskAndWait;
        const QString changed77 = "(" + Mover +
                                  ") changed: static 10.10.0.77 mask 255.255.255.0 gateway "
                                  "10.10.0.254 DNS 10.10.0.254\n";
        const QString dispute = "set " + Disputed + " --static 10.10.0.77" + MaskAndWait;
        const QString acknowledged = " acknowledged the reset and is restarting.\n";

        row("set: the first request lost, sent again", "",
            "dev udp dport 62726 " + ChangeCode + " numgen inc mod 1000 < 3 drop", moveTo77, 0,
            QStringList{changed77}, Fresh, 1);
        row("set: the answer lost", "", "host udp sport 62726 " + ChangeCode + " drop", moveTo77, 0,
            QStringList{"(" + Mover +
                        ") changed (answer lost): static 10.10.0.77 mask 255.255.255.0 gateway "
                        "10.10.0.254 DNS 10.10.0.254\n"},
            Fresh, 1);
        row("set: two senders disagree", "--forge enquiry:" + Disputed, "", dispute, 11,
            QStringList{"Nothing was sent; --force sends anyway.\n"}, "", 0);
        // The device takes what --force sends, but the forger still disagrees afterwards.
        row("set: two senders disagree, --force with gateway and DNS server",
            "--forge enquiry:" + Disputed, "",
            dispute + " --force --gateway 10.10.0.1 --dns 10.10.0.2", 2,
            QStringList{"(" + Disputed + ") not confirmed: Answers from ",
                        " differ: Gateway 10.10.0.66 / 10.10.0.1; DNS Server 10.10.0.66 / "
                        "10.10.0.2. "},
            "", 1);

        // The device is silent for 1.5 s after a reset.
        const QString reset = "reset " + Resetter + " --wait 500";
        row("reset: the acknowledgement lost", "", "host udp sport 62726 " + ResetCode + " drop",
            reset, 0,
            QStringList{Resetter + " did not acknowledge the reset but went silent: it is "
                                   "restarting.\n"},
            "", 1);
        row("reset: the first request lost, sent again", "",
            "dev udp dport 62726 " + ResetCode + " numgen inc mod 1000 < 3 drop", reset, 0,
            QStringList{Resetter + acknowledged}, "", 1);
        row("reset: a flood of acknowledgements, then back",
            "--forge ack-flood:2000 --reset-silence 3000", "", reset + " --wait-return", 0,
            QStringList{Resetter + acknowledged, Resetter + " is back after "}, "", 1);
        row("reset: two senders disagree", "--forge enquiry:" + Resetter, "", reset, 11,
            QStringList{"Nothing was sent; --force sends anyway.\n"}, "", 0);
    }

    void outcomes()
    {
        QFETCH(QString, sim);
        QFETCH(QString, rules);
        QFETCH(QString, args);
        QFETCH(int, exitCode);
        QFETCH(QStringList, printed);
        QFETCH(QString, after);
        QFETCH(int, requests);
        QCOMPARE((QStringList{startSim(sim), addRule(rules)}), (QStringList{"", ""}));
        const CliRun run = cli(args.split(' '));
        CLI_EXPECT(run, exitCode);
        for (const QString& text : printed)
            QVERIFY2((run.err + run.out).count(text) == 1, qPrintable(run.describe()));
        const QString kind = args.section(' ', 0, 0) == "set" ? "change" : "reset";
        QVERIFY2(m_sim.output().count(kind + " from 10.10.0.1:") == requests,
                 qPrintable(run.describe()));
        if (after.isEmpty())
            return;
        dropRules(); // discovery's answers must all get through
        QString listed;
        const QMap<QString, QString> found = discoverCsv("1000", &listed);
        QVERIFY2(found.value(args.section(' ', 1, 1)) == after, qPrintable(listed));
    }

    // A leaves X and B takes it, the neighbour entry still A's: A answers elsewhere, so X is free.
    void addressLeftJustNow()
    {
        QCOMPARE(startSim(""), QString());
        const CliRun away = cli(("set " + Mover + " --static 10.10.0.77" + MaskAndWait).split(' '));
        CLI_EXPECT(away, 0);
        QCOMPARE(QProcess::execute("ip", {"neigh", "replace", "10.10.0.23", "lladdr", Mover, "dev",
                                          "lab0", "nud", "stale"}),
                 0);
        const CliRun taken =
            cli(("set " + Follower + " --static 10.10.0.23" + MaskAndWait).split(' '));
        CLI_EXPECT(taken, 0);
        QVERIFY2((taken.err + taken.out).contains("(" + Follower + ") changed: static 10.10.0.23 "),
                 qPrintable(taken.describe()));
    }

    // Run by tst_lab_outcomes_loss20 only: 7 copies in 2.5 s, each answered afresh, beat 20 % loss.
    void discoverUnderLoss()
    {
        if (corlaLabEnv("CORLA_LAB_LOSS") != "20")
            QSKIP("needs a lab made with --loss 20 (tst_lab_outcomes_loss20)");
        QCOMPARE(startSim(""), QString());
        QStringList counts;
        int whole = 0;
        for (int i = 0; i < 5; ++i) {
            const int listed = discoverCsv("2500").size();
            counts << QString::number(listed);
            whole += listed == 20 ? 1 : 0;
        }
        qInfo("devices listed in 5 discoveries at 20 %% loss: %s", qPrintable(counts.join(' ')));
        QVERIFY2(whole >= 4, qPrintable(counts.join(' ')));
    }
};

QTEST_GUILESS_MAIN(TstLabOutcomes)
#include "tst_lab_outcomes.moc"
