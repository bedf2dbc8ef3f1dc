// SPDX-License-Identifier: Apache-2.0
// SPDX-FileCopyrightText: 2026 The Corla developers
#pragma once
// Runs a program under test to its end and keeps what it printed.

#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTest>

namespace corla {

struct CliRun
{
    int exitCode; // -2: it crashed or hung
    QString out, err;
    QString describe() const
    {
        return QStringLiteral("exit %1\nstdout:\n%2\nstderr:\n%3").arg(exitCode).arg(out, err);
    }
};

// With `dir`: run there, offscreen, in the C.UTF-8 locale, with `dir` as Qt's runtime folder.
inline CliRun runProgram(const QString& program, const QStringList& args, const QString& dir = {})
{
    QProcess process;
    if (!dir.isEmpty()) {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("LC_ALL", "C.UTF-8");
        env.insert("QT_QPA_PLATFORM", "offscreen");
        env.insert("XDG_RUNTIME_DIR", dir);
        process.setProcessEnvironment(env);
        process.setWorkingDirectory(dir);
    }
    process.start(program, args);
    if (!process.waitForFinished(60000))
        process.kill();
    process.waitForFinished();
    return {process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -2,
            process.readAllStandardOutput(), process.readAllStandardError()};
}

// corla-cli as CORLA_CLI_BIN (given by the test's CMake target) names it.
inline CliRun cli(const QStringList& args)
{
    return runProgram(QStringLiteral(CORLA_CLI_BIN), args);
}

#define CLI_EXPECT(run, code) QVERIFY2((run).exitCode == (code), qPrintable((run).describe()))

} // namespace corla
