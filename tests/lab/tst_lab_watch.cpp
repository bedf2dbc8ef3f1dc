// SPDX-License-Identifier: Apache-2.0
// SPDX-FileCopyrightText: 2026 The Corla developers
// corla-cli against the lab's default fleet over time: discover --settle ends once the
// fleet has gone quiet, and watch reports a reset (silent, then back) and a change made by
// another corla-cli and a device switched on as they happen, and ends on SIGINT with a
// summary.
#include "tests/support/clirun.h"
#include "tests/support/labguard.h"

#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QProcess>
#include <QRegularExpression>
#include <QtTest>

#include <csignal>

using namespace corla;

namespace {

const QString Resetter = "02:c0:1a:00:00:13";
const QString Mover = "02:c0:1a:00:00:0d";
const QString Newcomer = "02:c0:1b:00:00:00";

} // namespace

class TestLabWatch : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { CORLA_REQUIRE_LAB(); }

    // 300 ms without a new device ends the listening long before the wait would, and
    // devices that answer each copy 200 ms late (a second simulator) are still listed.
    void settleEndsEarly()
    {
        CorlaLabSim late;
        QCOMPARE(late.startOrWhy({"--burst", "5", "--delay", "200", "--quiet"}), QString());
        QElapsedTimer clock;
        clock.start();
        const CliRun run =
            cli({"discover", "--wait", "8000", "--settle", "300", "--format", "json"});
        const qint64 took = clock.elapsed();
        CLI_EXPECT(run, 0);
        QCOMPARE(QJsonDocument::fromJson(run.out.toUtf8()).array().size(), 25);
        QVERIFY2(took < 4000, qPrintable(QString::number(took)));
    }

    // Runs last: it resets a device and moves another.
    void watchReportsEvents()
    {
        QProcess watch;
        watch.start(QStringLiteral(CORLA_CLI_BIN),
                    {"watch", "--interval", "1", "--format", "jsonl"});
        QVERIFY(watch.waitForStarted());
        QStringList lines;
        const auto read = [&]() {
            while (watch.canReadLine())
                lines << QString::fromUtf8(watch.readLine()).trimmed();
            return lines;
        };
        const auto count = [&](const QString& event) {
            return read().filter("{\"event\":\"" + event + "\"").size();
        };
        QTRY_COMPARE_WITH_TIMEOUT(count("appeared"), 20, 10000);
        QTRY_COMPARE_WITH_TIMEOUT(count("verdict"), 20, 10000);

        // A device switched on while watching: a second simulator with one device.
        CorlaLabSim newcomer;
        QCOMPARE(newcomer.startOrWhy({"--burst", "1", "--quiet"}), QString());
        QTRY_COMPARE_WITH_TIMEOUT(count("appeared"), 21, 10000);

        CLI_EXPECT(cli({"reset", Resetter, "--no-wait-return"}), 0);
        CLI_EXPECT(cli({"set", Mover, "--static", "10.10.0.77/24"}), 0);
        QTRY_COMPARE_WITH_TIMEOUT(count("back"), 1, 20000);
        QTRY_COMPARE_WITH_TIMEOUT(count("changed"), 1, 5000);

        ::kill(pid_t(watch.processId()), SIGINT);
        QVERIFY(watch.waitForFinished(5000));
        QCOMPARE(watch.exitCode(), 130);
        QCOMPARE(QString::fromUtf8(watch.readAllStandardError()),
                 QStringLiteral("corla-cli: watch ended: 21 devices answering now, 21 seen in "
                                "all\n"));
        QCOMPARE(read()
                     .filter(Newcomer)
                     .filter("\"appeared\"")
                     .replaceInStrings(QRegularExpression("\"time\":\"[^\"]*\""), "T"),
                 QStringList({R"({"event":"appeared",T,"mac":"02:c0:1b:00:00:00","serial":1,)"
                              R"("type":"Tavio LF","ip":"10.40.0.1","addressMode":"Static",)"
                              R"("subnetMask":"255.255.0.0","gateway":"10.40.0.1",)"
                              R"("dnsServer":"0.0.0.0"})"}));

        // Everything after the fleet's first appearance, times aside.
        const QRegularExpression times("\"(time|lastHeard)\":\"[^\"]*\"|\"goneMs\":[0-9]+");
        QStringList events;
        for (QString line : read()) {
            if (!line.startsWith("{\"event\":\"appeared\"") && !line.contains(Newcomer) &&
                !line.startsWith("{\"event\":\"verdict\""))
                events << line.replace(times, "T");
        }
        const QString settings = R"({"addressMode":"Static","dnsServer":"10.10.0.254",)"
                                 R"("gateway":"10.10.0.254","ipAddress":"%1",)"
                                 R"("subnetMask":"255.255.255.0"})";
        // The change and the reset interleave as their timing falls: each device's own.
        QCOMPARE(
            events.filter(Mover),
            QStringList({
                R"({"event":"changed",T,"mac":"02:c0:1a:00:00:0d","serial":1013,)"
                R"("type":"Battery Pack","ip":"10.10.0.77","old":)" +
                    settings.arg("10.10.0.23") + ",\"new\":" + settings.arg("10.10.0.77") + "}",
            }));
        QCOMPARE(events.filter(Resetter),
                 QStringList({
                     R"({"event":"no answer",T,"mac":"02:c0:1a:00:00:13","serial":1019,)"
                     R"("type":"Nerio HF","ip":"10.10.0.29",T})",
                     R"({"event":"back",T,"mac":"02:c0:1a:00:00:13","serial":1019,)"
                     R"("type":"Nerio HF","ip":"10.10.0.29",T})",
                 }));
        QCOMPARE(events.size(), 3);
    }
};

QTEST_GUILESS_MAIN(TestLabWatch)
#include "tst_lab_watch.moc"
