// SPDX-License-Identifier: Apache-2.0
// SPDX-FileCopyrightText: 2026 The Corla developers
// Mistyped command lines of the real programs: exit status and first line said. Run in a
// private namespace in case one opens a socket; corla-sim's rows carry --dump-fleet to exit.

#include "tests/support/clirun.h"
#include "tests/support/datarow.h"
#include "tests/support/labguard.h"

#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>

using namespace corla;

class TestUsage : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        CORLA_REQUIRE_PRIVATE_NETNS();
        QVERIFY(m_dir.isValid());
        write("good.csv", "MAC Address,Address mode,IP Address,Subnet Mask\n"
                          "02:c0:1a:00:00:05,Static,10.10.0.50,255.255.255.0\n");
        write("faulty.csv", "MAC Address,Address mode,IP Address,Subnet Mask\n"
                            "02:c0:1a:00:00:05,Static,10.10.0.50,\n");
    }

    // program, arguments, exit status, and the first line of stderr (none where empty).
    void commandLines_data()
    {
        columns<QString, QString, int, QString>({"program", "arguments", "exitCode", "firstLine"});

        const QString cli = "corla-cli";
        row("cli: no command", cli, "--wait 5", 1,
            "corla-cli: no command given (discover, set, reset, apply, ping, doctor, watch or "
            "help)");
        row("cli: unreadable plan", cli, "apply missing.csv", 1,
            "corla-cli: cannot read the plan missing.csv: No such file or directory");
        row("cli: report folder missing", cli, "apply good.csv --report nowhere/report.csv", 1,
            "corla-cli: cannot write the report nowhere/report.csv: its folder is missing or not "
            "writable");
        row("cli: plan refused", cli, "apply faulty.csv", 8,
            "corla-cli: faulty.csv line 2: Subnet Mask is empty (a static row needs it)");
        row("cli: help", cli, "help ping", 0, "");

        row("sim: number out of range", "corla-sim", "--dump-fleet --port 70000", 2,
            "corla-sim: --port must be a number from 1 to 65535, not \"70000\"");
        row("corla: Qt takes its own options", "corla",
            "-platform offscreen -style fusion -reverse -x", 1, "corla: unknown option '-x'");
    }

    void commandLines()
    {
        QFETCH(QString, program);
        QFETCH(QString, arguments);
        QFETCH(int, exitCode);
        QFETCH(QString, firstLine);

        const QString bin = program == "corla-cli"   ? CORLA_CLI_BIN
                            : program == "corla-sim" ? CORLA_SIM_BIN
                                                     : CORLA_BIN;
        const CliRun run = runProgram(bin, arguments.split(' ', Qt::SkipEmptyParts), m_dir.path());
        const QString what = run.describe();
        CLI_EXPECT(run, exitCode);
        if (firstLine.isEmpty())
            QVERIFY2(run.err.isEmpty(), qPrintable(what));
        else
            QCOMPARE(run.err.section('\n', 0, 0), firstLine);
        QVERIFY2(exitCode == 0 ? !run.out.isEmpty() : run.out.isEmpty(), qPrintable(what));
        const QRegularExpression own(QStringLiteral("^(%1: |Try '%1( [a-z]+)? --help'\\.$)")
                                         .arg(QRegularExpression::escape(program)));
        for (const QString& line : run.err.split('\n', Qt::SkipEmptyParts))
            QVERIFY2(own.match(line).hasMatch(), qPrintable(what));
    }

private:
    void write(const QString& name, const QByteArray& text)
    {
        QFile file(m_dir.filePath(name));
        QVERIFY(file.open(QIODevice::WriteOnly));
        QCOMPARE(file.write(text), text.size());
    }

    QTemporaryDir m_dir;
};

QTEST_GUILESS_MAIN(TestUsage)
#include "tst_usage.moc"
