// SPDX-License-Identifier: Apache-2.0
// SPDX-FileCopyrightText: 2026 The Corla developers
// The command lines of corla-cli, corla-sim and corla as a user mistypes them: the real
// programs, their exit status and the first line of what they say. Every case ends before
// a socket exists; should one not (a regression), it runs in the private namespace that
// initTestCase insists on, and corla-sim's rows carry --dump-fleet so that it exits anyway.

#include "tests/support/datarow.h"
#include "tests/support/labguard.h"

#include <QProcess>
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
        // A plan that passes every check, and one with a fault.
        write("good.csv", "MAC Address,Address mode,IP Address,Subnet Mask\n"
                          "02:c0:1a:00:00:05,Static,10.10.0.50,255.255.255.0\n");
        write("faulty.csv", "MAC Address,Address mode,IP Address,Subnet Mask\n"
                            "02:c0:1a:00:00:05,Static,10.10.0.50,\n");
        write("faulty.json", "{\"devices\": [");
    }

    // program, arguments, exit status, and the first line of stderr (none where empty).
    void commandLines_data()
    {
        QTest::addColumn<QString>("program");
        QTest::addColumn<QString>("arguments");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QString>("firstLine");

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

        const QString sim = "corla-sim";
        row("sim: unknown option", sim, "--dump-fleet --bogus", 2,
            "corla-sim: unknown option '--bogus'");
        row("sim: single-dash word", sim, "--dump-fleet -port 5", 2,
            "corla-sim: unknown option '-port'");
        row("sim: option value missing", sim, "--dump-fleet --port", 2,
            "corla-sim: missing value after '--port'");
        row("sim: number out of range", sim, "--dump-fleet --port 70000", 2,
            "corla-sim: --port must be a number from 1 to 65535, not \"70000\"");
        row("sim: pool backwards", sim, "--dump-fleet --dhcp-pool 10.0.0.9-10.0.0.1", 2,
            "corla-sim: --dhcp-pool: the last address comes before the first");
        row("sim: fleet not JSON", sim, "--dump-fleet --fleet faulty.json", 2,
            "corla-sim: faulty.json: unterminated array at offset 13");
        row("sim: unexpected argument", sim, "--dump-fleet extra", 2,
            "corla-sim: unexpected argument 'extra'");

        const QString gui = "corla";
        row("corla: argument", gui, "foo", 1, "corla: unexpected argument 'foo'");
        row("corla: Qt takes its own options", gui, "-platform offscreen -style fusion -reverse -x",
            1, "corla: unknown option '-x'");
        row("corla: a Qt option's value is no argument", gui, "-style fusion extra", 1,
            "corla: unexpected argument 'extra'");
        row("corla: X11 options left by another platform", gui,
            "-display :9 -geometry 10x10 -name c -fn fixed -bg red -sync --bogus", 1,
            "corla: unknown option '--bogus'");
        row("corla: after --, an argument", gui, "-- -x", 1, "corla: unexpected argument '-x'");
        // Left by the offscreen platform, so ours to catch; without their value they would
        // have let the window open.
        row("corla: -display without its value", gui, "-display", 1,
            "corla: missing value after '-display'");
        row("corla: help with Qt's options", gui, "--help-all", 0, "");
        row("corla: help wins", gui, "--bogus --help", 0, "");
    }

    void commandLines()
    {
        QFETCH(QString, program);
        QFETCH(QString, arguments);
        QFETCH(int, exitCode);
        QFETCH(QString, firstLine);

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

    QTemporaryDir m_dir;
};

QTEST_GUILESS_MAIN(TestUsage)
#include "tst_usage.moc"
