// SPDX-License-Identifier: Apache-2.0
// SPDX-FileCopyrightText: 2026 The Corla developers
// corla-cli apply and the Apply Plan dialog end to end against the default fleet.
#include "core/fleet/changelog.h"
#include "tests/support/clirun.h"
#include "tests/support/datarow.h"
#include "tests/support/labguard.h"
#include "ui/applyplandialog.h"
#include "ui/mainwindow.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QProgressBar>
#include <QPushButton>
#include <QRegularExpression>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QtTest>

using namespace corla;

namespace {

// One row of the fleet plan and how it ends, applied and with --dry-run.
struct FleetRow
{
    const char* csv; // MAC Address,Address mode,IP Address,Subnet Mask,Gateway,DNS Server
    const char* applied;
    const char* dryRun;
};

const FleetRow FleetPlan[] = {
    // Already as planned, static and DHCP.
    {"02:c0:1a:00:00:01,Static,10.10.0.11,255.255.255.0,10.10.0.254,10.10.0.254", "unchanged",
     "unchanged"},
    {"02:c0:1a:00:00:03,DHCP,,,,", "unchanged", "unchanged"},
    // A swap of 10.10.0.14 and 10.10.0.15.
    {"02:c0:1a:00:00:04,Static,10.10.0.15,255.255.255.0,10.10.0.254,", "refused (order)",
     "refused (order)"},
    {"02:c0:1a:00:00:05,Static,10.10.0.14,255.255.255.0,10.10.0.254,", "refused (order)",
     "refused (order)"},
    // Hosts outside the plan: one answers echo, one only ARP.
    {"02:c0:1a:00:00:06,Static,10.10.0.254,255.255.255.0,,", "in use", "in use"},
    {"02:c0:1a:00:00:07,Static,10.10.0.250,255.255.255.0,,", "in use", "in use"},
    // Waits for the refuser below to leave 10.20.0.20, which it never does.
    {"02:c0:1a:00:00:08,Static,10.20.0.20,255.255.255.0,10.20.0.254,10.20.0.254", "in use",
     "would change"},
    {"02:c0:1a:00:00:09,Static,10.20.0.59,255.255.255.0,10.20.0.254,", "changed", "would change"},
    {"02:c0:1a:00:00:0a,Static,10.20.0.77,255.255.255.0,10.20.0.254,10.20.0.254",
     "refused: An error occured in the device.", "would change"},
    // From a foreign subnet, and from no address at all.
    {"02:c0:1a:00:00:0b,Static,10.10.0.61,255.255.255.0,10.10.0.254,10.10.0.254", "changed",
     "would change"},
    {"02:c0:1a:00:00:0c,Static,10.10.0.60,255.255.255.0,,", "changed", "would change"},
    // A chain: 0d to a free address, 0f to 0d's old one, 11 to 0f's old one.
    {"02:c0:1a:00:00:0d,Static,10.10.0.77,255.255.255.0,10.10.0.254,10.10.0.254", "changed",
     "would change"},
    {"02:c0:1a:00:00:0e,DHCP,,,,", "changed", "would change"},
    {"02:c0:1a:00:00:0f,Static,10.10.0.23,255.255.255.0,10.10.0.254,", "changed", "would change"},
    // Same address, only the gateway and DNS server differ: the device refuses that.
    {"02:c0:1a:00:00:10,Static,10.20.0.26,255.255.255.0,,",
     "refused: The IP address given was the same as the device's existing address.",
     "would change"},
    {"02:c0:1a:00:00:11,Static,10.10.0.25,255.255.255.0,10.10.0.254,10.10.0.254", "changed",
     "would change"},
    {"02:c0:1a:00:00:99,DHCP,,,,", "not found", "not found"},
};

const char* const PlanHeader = "MAC Address,Address mode,IP Address,Subnet Mask,Gateway,DNS Server";

QByteArray plan(std::initializer_list<int> rows)
{
    QByteArray text = QByteArray(PlanHeader) + '\n';
    for (int i : rows)
        text += QByteArray(FleetPlan[i].csv) + '\n';
    return text;
}

struct LabWindow
{
    DiscoveryClient adapter;
    PortProbeScheduler checker;
    MainWindow window{&adapter, &checker};
};

QString joined(const QJsonValue& object, const QStringList& keys)
{
    QStringList values;
    for (const QString& key : keys)
        values << object[key].toString();
    return values.join(' ');
}

QString fileText(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : "(unreadable)";
}

} // namespace

class TestLabApply : public QObject
{
    Q_OBJECT

    QMap<QString, QString> m_fleet; // MAC -> "address mask gateway DNS mode", as dumped
    CorlaLabSim m_sim;
    QTemporaryDir m_dir;

    QString writePlan(const QByteArray& bytes)
    {
        const QString path = m_dir.filePath("plan.csv");
        QFile file(path);
        const bool ok = file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
        return ok ? path : QString();
    }

    // MAC -> change requests the simulator heard for it (one per local address).
    QMap<QString, int> changesOnWire()
    {
        QMap<QString, int> macs;
        static const QRegularExpression line("change from \\S+ port \\d+ for (\\S+):");
        auto it = line.globalMatch(m_sim.output());
        while (it.hasNext())
            ++macs[it.next().captured(1)];
        return macs;
    }

    QMap<QString, QString> discovered()
    {
        const CliRun run = cli({"discover", "--wait", "1000", "--format", "json"});
        QMap<QString, QString> found;
        for (const QJsonValue& v : QJsonDocument::fromJson(run.out.toUtf8()).array())
            found.insert(
                v["macAddress"].toString(),
                joined(v, {"ipAddress", "subnetMask", "gateway", "dnsServer", "addressMode"}));
        return found;
    }

private slots:
    void initTestCase()
    {
        CORLA_REQUIRE_LAB();
        QVERIFY(m_dir.isValid());
        QProcess sim;
        sim.start(corlaLabEnv("CORLA_SIM"), {QStringLiteral("--dump-fleet")});
        QVERIFY(sim.waitForFinished(10000));
        const QMap<QString, QString> modes = {{"dhcp", "DHCP"}, {"static", "Static"}};
        for (const QJsonValue& v :
             QJsonDocument::fromJson(sim.readAllStandardOutput())["devices"].toArray())
            m_fleet.insert(v["mac"].toString(), joined(v, {"ip", "mask", "gateway", "dns"}) + ' ' +
                                                    modes.value(v["mode"].toString()));
        QCOMPARE(m_fleet.size(), 20);
    }

    // A window listing the default fleet, its plan dialog open on `plan`.
    ApplyPlanDialog* openInWindow(LabWindow& lab, const QByteArray& plan)
    {
        lab.window.show();
        [&] { QTRY_COMPARE_WITH_TIMEOUT(lab.window.model().numDevices(), 20, 10000); }();
        if (QTest::currentTestFailed())
            return nullptr;
        return lab.window.openPlan(writePlan(plan));
    }

    // Neighbour entries of an earlier row would answer the next row's in-use checks.
    void init()
    {
        QCOMPARE(QProcess::execute("ip", {"neigh", "flush", "all"}), 0);
        QCOMPARE(m_sim.startOrWhy({}), QString());
    }
    void cleanup() { QVERIFY2(m_sim.stop(), qPrintable(m_sim.output())); }

    // Guards the report per plan row, the fleet as left, and which devices get change requests.
    void fleetPlan_data()
    {
        columns<bool, QStringList>({"dryRun", "sentTo"});
        const QStringList sent = {"02:c0:1a:00:00:09", "02:c0:1a:00:00:0a", "02:c0:1a:00:00:0b",
                                  "02:c0:1a:00:00:0c", "02:c0:1a:00:00:0d", "02:c0:1a:00:00:0e",
                                  "02:c0:1a:00:00:0f", "02:c0:1a:00:00:10", "02:c0:1a:00:00:11"};
        // Dry run first: the applied run leaves neighbour entries the in-use check would count.
        row("dry run: enquiries and in-use checks only", true, QStringList());
        row("applied", false, sent);
    }

    void fleetPlan()
    {
        QFETCH(bool, dryRun);
        QFETCH(QStringList, sentTo);
        const QString planPath =
            writePlan(plan({0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16}));
        const QString report = m_dir.filePath("as-left.csv");
        QFile::remove(report);
        QStringList args{"apply",    planPath, "--wait",   "1000",
                         "--report", report,   "--format", "json"};
        if (dryRun)
            args << "--dry-run";
        const CliRun run = cli(args);
        CLI_EXPECT(run, 9);

        QStringList lines = fileText(report).split('\n');
        QCOMPARE(
            lines.takeFirst(),
            "Line,MAC Address,Serial,Device Type,Found IP Address,Found Subnet Mask,Found "
            "Gateway,Found DNS Server,Found Address mode,Left IP Address,Left Subnet Mask,Left "
            "Gateway,Left DNS Server,Left Address mode,Outcome");
        QCOMPARE(lines.takeLast(), QString());
        const QJsonArray json = QJsonDocument::fromJson(run.out.toUtf8()).array();
        QCOMPARE(lines.size(), int(std::size(FleetPlan)));
        QCOMPARE(json.size(), lines.size());
        const QMap<QString, QString> now = discovered();
        for (int i = 0; i < lines.size(); ++i) {
            const FleetRow& planned = FleetPlan[i];
            const QString mac = QString(planned.csv).section(',', 0, 0);
            // The outcome is the last field; only refusals have a comma in it.
            const QStringList f = QString(lines.at(i)).remove('"').split(',');
            const QString outcome = f.mid(14).join(',');
            QCOMPARE(f.mid(0, 2), QStringList({QString::number(i + 2), mac}));
            QCOMPARE(outcome, dryRun ? planned.dryRun : planned.applied);
            QCOMPARE(json.at(i)["outcome"].toString(), outcome);
            if (outcome == "not found") {
                QCOMPARE(f.mid(2, 12).join(""), QString());
                continue;
            }
            QCOMPARE(f.mid(4, 5).join(' '), m_fleet.value(mac));
            QString left = m_fleet.value(mac);
            const QStringList p = QString(planned.csv).split(',');
            const bool moves = outcome == "changed" || outcome == "would change";
            if (moves && p.at(1) == "Static")
                left = QStringList{p.at(2), p.at(3), p.value(4).isEmpty() ? "0.0.0.0" : p.at(4),
                                   p.value(5).isEmpty() ? "0.0.0.0" : p.at(5), "Static"}
                           .join(' ');
            else if (outcome == "changed") // the first address of the simulator's pool
                left = "10.10.0.100 255.255.255.0 10.10.0.254 10.10.0.254 DHCP";
            else if (outcome == "would change") // the request keeps the reported addresses
                left = left.section(' ', 0, 3) + " DHCP";
            QVERIFY2(f.mid(9, 5).join(' ') == left, qPrintable(lines.at(i)));
            const QString expectedNow = dryRun ? m_fleet.value(mac) : left;
            QVERIFY2(now.value(mac) == expectedNow, qPrintable(mac + ": " + now.value(mac)));
        }
        const QMap<QString, int> wire = changesOnWire();
        QCOMPARE(wire.keys(), sentTo);
        for (int copies : wire)
            QCOMPARE(copies, corlaLabList("CORLA_LAB_HOST_ADDRS").size());
        QVERIFY2(run.err.endsWith(dryRun ? "corla-cli: 5 of 17 rows would not end as planned\n"
                                         : "corla-cli: 8 of 17 rows did not end as planned\n"),
                 qPrintable(run.err));
    }

    // Faults seen only against the devices' reports are refused before any change request.
    void refusedAgainstReports()
    {
        const QString path = writePlan(
            QByteArray(PlanHeader) + "\n02:c0:1a:00:00:0d,Static,10.10.0.77,255.255.255.0,,\n" +
            "02:c0:1a:00:00:0f,Unknown,10.10.0.25,255.255.255.0,10.10.0.254,\n" +
            "02:c0:1a:00:00:01,Static,10.10.0.11,0.0.0.0,10.10.0.254,10.10.0.254\n" +
            "03:c0:1a:00:00:01,DHCP,,,,\n");
        const CliRun run = cli({"apply", path, "--wait", "500"});
        CLI_EXPECT(run, 8);
        QCOMPARE(run.out, QString());
        for (const QString& error : QStringList{
                 "corla-cli: " + path +
                     " line 3: Address mode: \"Unknown\" is neither DHCP nor Static (its device "
                     "reports other settings: the row asks for a change)",
                 "corla-cli: " + path +
                     " line 4: Subnet Mask: 0.0.0.0 leaves the device no network",
                 QStringLiteral("(2 faults): nothing was sent")})
            QVERIFY2(run.err.contains(error), qPrintable(run.describe()));
        QVERIFY2(m_sim.output().contains(" from ") && !m_sim.output().contains("change from"),
                 qPrintable(m_sim.output()));
    }

    // Guards the window's report against drifting from corla-cli's, and the log against gaps.
    void windowReportIsTheCliReport()
    {
        const QByteArray planText = plan({0, 1, 2, 3, 7, 8, 11, 12, 16});
        const QString cliReport = m_dir.filePath("cli-as-left.csv");
        QFile::remove(cliReport);
        const CliRun run =
            cli({"apply", writePlan(planText), "--wait", "1000", "--report", cliReport});
        CLI_EXPECT(run, 9);
        const QString expected = fileText(cliReport);
        QVERIFY(expected.contains(",changed\n") && expected.contains(",not found\n"));

        cleanup();
        init();
        const ChangeLog log(m_dir.filePath("changes.csv"));
        QFile::remove(log.path());
        LabWindow lab;
        lab.window.setChangeLog(&log);
        ApplyPlanDialog* dialog = openInWindow(lab, planText);
        QVERIFY(dialog);
        QVERIFY(dialog->faults().isEmpty());
        QTest::mouseClick(dialog->applyButton(), Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(dialog->isFinished(), 60000);
        QCOMPARE(dialog->progressBar()->value(), 9);
        QCOMPARE(dialog->progressBar()->maximum(), 9);
        QVERIFY(dialog->saveReportButton()->isEnabled());
        const QString saved = m_dir.filePath("window-as-left.csv");
        QVERIFY(dialog->saveReport(saved));
        QCOMPARE(fileText(saved), expected);
        // The README's picture: CORLA_APPLY_SHOT=FILE saves the finished dialog there.
        if (qEnvironmentVariableIsSet("CORLA_APPLY_SHOT")) {
            dialog->resize(1500, 540); // as on a wide screen; the offscreen one is narrow
            QVERIFY(dialog->grab().save(qEnvironmentVariable("CORLA_APPLY_SHOT")));
        }

        // Sent to 09, 0a, 0d and 0e: a request line and an outcome line each.
        const QStringList logged = fileText(log.path()).split('\n', Qt::SkipEmptyParts).mid(1);
        QCOMPARE((QList<int>{int(logged.size()),
                             int(logged.filter(QRegularExpression(",sent,corla$")).size())}),
                 (QList<int>{8, 4}));
    }

    // Guards against rows started after Cancel: the rest end "cancelled".
    void windowCancel()
    {
        LabWindow lab;
        ApplyPlanDialog* dialog = openInWindow(lab, plan({7, 11, 12}));
        QVERIFY(dialog);
        QString first;
        connect(dialog, &ApplyPlanDialog::rowFinished, this, [&](const corla::ApplyRow& row) {
            if (first.isEmpty()) {
                first = DisplayText::mac(row.mac);
                QTest::mouseClick(dialog->cancelButton(), Qt::LeftButton);
            }
        });
        QTest::mouseClick(dialog->applyButton(), Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(dialog->isFinished(), 30000);
        QCOMPARE(dialog->progressBar()->value(), dialog->progressBar()->maximum());
        int cancelled = 0;
        for (int row = 0; row < 3; ++row) {
            const bool wasFirst = DisplayText::mac(dialog->rows().at(row).mac) == first;
            cancelled += wasFirst ? 0 : 1;
            QCOMPARE(dialog->table()->item(row, ApplyPlanDialog::OutcomeColumn)->text(),
                     QString(wasFirst ? "changed" : "cancelled"));
        }
        QCOMPARE(cancelled, 2);
        QCOMPARE(changesOnWire().keys(), QStringList{first});
        QCOMPARE(dialog->cancelButton()->text(), QStringLiteral("Close"));
    }
};

QTEST_MAIN(TestLabApply)
#include "tst_lab_apply.moc"
