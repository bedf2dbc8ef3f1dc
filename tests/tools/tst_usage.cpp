// SPDX-License-Identifier: Apache-2.0
// SPDX-FileCopyrightText: 2026 The Corla developers
// The command lines of corla-cli, corla-sim and corla as a user mistypes them: the real
// programs, their exit status and the first line of what they say. Every case ends before
// a socket exists; should one not (a regression), it runs in the private namespace that
// initTestCase insists on, and corla-sim's rows carry --dump-fleet so that it exits anyway.

#include "datarow.h"
#include "labguard.h"

#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>

class TestUsage : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        CORLA_REQUIRE_PRIVATE_NETNS();
        QVERIFY(m_dir.isValid());
        // A plan that passes every check, and one with a fault.
        write("good.csv", "MAC Address,Address mode,IP Address,Subnet Mask\n"
                          "02:c0:1a:00:00:05,Static,10.10.0.50,255.255.255.0\n");
        write("faulty.csv", "MAC Address,Address mode,IP Address,Subnet Mask\n"
                            "02:c0:1a:00:00:05,Static,10.10.0.50,\n");
        write("faulty.json", "{\"devices\": [");
    }

    // program, arguments, exit status, the first line of stderr (none where empty), and for
    // a help text the statuses its "Exit status:" list gives.
    void commandLines_data()
    {
        QTest::addColumn<QString>("program");
        QTest::addColumn<QString>("arguments");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QString>("firstLine");
        QTest::addColumn<QString>("statuses");

        const QString cli = "corla-cli";
        row("cli: unknown option before the command", cli, "--bogus discover", 1,
            "corla-cli: unknown option '--bogus'", "");
        row("cli: unknown option after the command", cli, "discover --bogus", 1,
            "corla-cli: unknown option '--bogus'", "");
        row("cli: unknown short option", cli, "-x discover", 1, "corla-cli: unknown option '-x'",
            "");
#ifndef Q_OS_WIN
        // Qt's parser knows "-?" on Windows only; named as typed, not in Qt's words.
        row("cli: -? outside Windows", cli, "-? discover", 1, "corla-cli: unknown option '-?'", "");
#endif
        row("cli: unknown option without a command", cli, "--bogus", 1,
            "corla-cli: unknown option '--bogus'", "");
        row("cli: option of another command", cli, "reset 02:c0:1a:00:00:05 --probe", 1,
            "corla-cli: unknown option '--probe' for reset (discover takes it)", "");
        row("cli: option value missing", cli, "discover --wait", 1,
            "corla-cli: missing value after '--wait'", "");
        row("cli: value given to a switch", cli, "discover --probe=yes", 1,
            "corla-cli: unexpected value after '--probe'", "");
        row("cli: bad number", cli, "discover --wait abc", 1,
            "corla-cli: --wait must be a whole number of milliseconds from 1 to 3600000, not "
            "\"abc\"",
            "");
        row("cli: bad format", cli, "discover --format xml", 1,
            "corla-cli: --format must be table, csv or json, not \"xml\"", "");
        row("cli: unknown command", cli, "frob --wait 5", 1, "corla-cli: unknown command 'frob'",
            "");
        row("cli: no command", cli, "--wait 5", 1,
            "corla-cli: no command given (discover, set, reset, ping, apply, doctor, watch or "
            "help)",
            "");
        row("cli: set without MAC", cli, "set --dhcp", 1,
            "corla-cli: set needs the device's MAC address", "");
        row("cli: ping without address", cli, "ping", 1, "corla-cli: ping needs an IPv4 address",
            "");
        row("cli: unknown interface", cli, "--interface nosuch0 discover", 1,
            "corla-cli: no interface named \"nosuch0\"", "");
        row("cli: unreadable plan", cli, "apply missing.csv", 1,
            "corla-cli: cannot read the plan missing.csv: No such file or directory", "");
        row("cli: report folder missing", cli, "apply good.csv --report nowhere/report.csv", 1,
            "corla-cli: cannot write the report nowhere/report.csv: its folder is missing or not "
            "writable",
            "");
        row("cli: plan refused", cli, "apply faulty.csv", 8,
            "corla-cli: faulty.csv line 2: Subnet Mask is empty (a static row needs it)", "");
        row("cli: help lists every status", cli, "--help", 0, "",
            "0 1 2 3 4 5 6 7 8 9 10 11 12 130 143");
        row("cli: discover's statuses", cli, "discover --help", 0, "", "0 1 2 6");
        row("cli: set's statuses", cli, "set --help", 0, "", "0 1 2 3 4 6 11");
        row("cli: reset's statuses", cli, "reset --help", 0, "", "0 1 2 6 11");
        row("cli: ping's statuses", cli, "ping --help", 0, "", "0 1 5 6 7");
        row("cli: apply's statuses", cli, "apply --help", 0, "", "0 1 6 8 9 10");
        row("cli: help COMMAND is COMMAND --help", cli, "help ping", 0, "", "0 1 5 6 7");

        const QString sim = "corla-sim";
        row("sim: unknown option", sim, "--dump-fleet --bogus", 2,
            "corla-sim: unknown option '--bogus'", "");
        row("sim: single-dash word", sim, "--dump-fleet -port 5", 2,
            "corla-sim: unknown option '-port'", "");
        row("sim: option value missing", sim, "--dump-fleet --port", 2,
            "corla-sim: missing value after '--port'", "");
        row("sim: number out of range", sim, "--dump-fleet --port 70000", 2,
            "corla-sim: --port must be a number from 1 to 65535, not \"70000\"", "");
        row("sim: not a number", sim, "--dump-fleet --burst many", 2,
            "corla-sim: --burst must be a number from 1 to 65535, not \"many\"", "");
        row("sim: pool backwards", sim, "--dump-fleet --dhcp-pool 10.0.0.9-10.0.0.1", 2,
            "corla-sim: --dhcp-pool: the last address comes before the first", "");
        row("sim: unreadable fleet", sim, "--dump-fleet --fleet missing.json", 2,
            "corla-sim: cannot read missing.json: No such file or directory", "");
        row("sim: fleet not JSON", sim, "--dump-fleet --fleet faulty.json", 2,
            "corla-sim: faulty.json: unterminated array at offset 13", "");
        row("sim: unexpected argument", sim, "--dump-fleet extra", 2,
            "corla-sim: unexpected argument 'extra'", "");

        const QString gui = "corla";
        row("corla: unknown option", gui, "--bogus", 1, "corla: unknown option '--bogus'", "");
        row("corla: argument", gui, "foo", 1, "corla: unexpected argument 'foo'", "");
        row("corla: Qt takes its own options", gui, "-platform offscreen -style fusion -reverse -x",
            1, "corla: unknown option '-x'", "");
        row("corla: a Qt option's value is no argument", gui, "-style fusion extra", 1,
            "corla: unexpected argument 'extra'", "");
        row("corla: X11 options left by another platform", gui,
            "-display :9 -geometry 10x10 -name c -fn fixed -bg red -sync --bogus", 1,
            "corla: unknown option '--bogus'", "");
        row("corla: after --, an argument", gui, "-- -x", 1, "corla: unexpected argument '-x'", "");
        // Left by the offscreen platform, so ours to catch; without their value they would
        // have let the window open.
        row("corla: -display without its value", gui, "-display", 1,
            "corla: missing value after '-display'", "");
        row("corla: -fn without its value", gui, "-sync -fn", 1, "corla: missing value after '-fn'",
            "");
        row("corla: help with Qt's options", gui, "--help-all", 0, "", "");
        row("corla: help wins", gui, "--bogus --help", 0, "", "");
    }

    void commandLines()
    {
        QFETCH(QString, program);
        QFETCH(QString, arguments);
        QFETCH(int, exitCode);
        QFETCH(QString, firstLine);
        QFETCH(QString, statuses);

        QProcess process;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("LC_ALL", "C.UTF-8");
        env.insert("QT_QPA_PLATFORM", "offscreen");
        // Qt warns on stderr when it has no runtime folder of its own.
        env.insert("XDG_RUNTIME_DIR", m_dir.path());
        process.setProcessEnvironment(env);
        process.setWorkingDirectory(m_dir.path());
        process.start(binary(program), arguments.split(' ', Qt::SkipEmptyParts));
        if (!process.waitForFinished(30000))
            process.kill();
        process.waitForFinished();
        const QString out = process.readAllStandardOutput();
        const QString err = process.readAllStandardError();
        const QString what = QStringLiteral("exit %1\nstdout:\n%2\nstderr:\n%3")
                                 .arg(process.exitCode())
                                 .arg(out, err);

        QVERIFY2(process.exitStatus() == QProcess::NormalExit, qPrintable(what));
        QVERIFY2(process.exitCode() == exitCode, qPrintable(what));
        if (firstLine.isEmpty())
            QVERIFY2(err.isEmpty(), qPrintable(what));
        else
            QCOMPARE(err.section('\n', 0, 0), firstLine);
        QVERIFY2(exitCode == 0 ? !out.isEmpty() : out.isEmpty(), qPrintable(what));
        // Each line of a message carries the program's name, or is the pointer to the help.
        const QRegularExpression own(QStringLiteral("^(%1: |Try '%1( [a-z]+)? --help'\\.$)")
                                         .arg(QRegularExpression::escape(program)));
        for (const QString& line : err.split('\n', Qt::SkipEmptyParts))
            QVERIFY2(own.match(line).hasMatch(), qPrintable(what));
        if (!statuses.isEmpty())
            QCOMPARE(listedStatuses(out), statuses);
    }

private:
    void write(const QString& name, const QByteArray& text)
    {
        QFile file(m_dir.filePath(name));
        QVERIFY(file.open(QIODevice::WriteOnly));
        QCOMPARE(file.write(text), text.size());
    }

    static QString binary(const QString& program)
    {
        if (program == QLatin1String("corla-cli"))
            return QStringLiteral(CORLA_CLI_BIN);
        if (program == QLatin1String("corla-sim"))
            return QStringLiteral(CORLA_SIM_BIN);
        return QStringLiteral(CORLA_BIN);
    }

    // The numbers of the "Exit status:" list at the end of a help text, in order.
    static QString listedStatuses(const QString& help)
    {
        QStringList codes;
        const QString list = help.section(QStringLiteral("\nExit status:\n"), 1);
        const QRegularExpression item(QStringLiteral("^ *(\\d+)  "),
                                      QRegularExpression::MultilineOption);
        for (auto it = item.globalMatch(list); it.hasNext();)
            codes << it.next().captured(1);
        return codes.join(' ');
    }

    QTemporaryDir m_dir;
};

QTEST_GUILESS_MAIN(TestUsage)
#include "tst_usage.moc"
