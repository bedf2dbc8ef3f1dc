// SPDX-License-Identifier: Apache-2.0
// SPDX-FileCopyrightText: 2026 The Corla developers
#pragma once
// Runs the corla-cli under test (CORLA_CLI_BIN, given by the test's CMake target) and keeps
// what it printed.

#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTest>

namespace corla {

struct CliRun
{
    int exitCode;
    QString out, err;
    QString describe() const
    {
        return QStringLiteral("exit %1\nstdout:\n%2\nstderr:\n%3").arg(exitCode).arg(out, err);
    }
};

inline CliRun cli(const QStringList& args)
{
    QProcess process;
    process.start(QStringLiteral(CORLA_CLI_BIN), args);
    if (!process.waitForFinished(60000))
        process.kill(); // a crash exit below
    process.waitForFinished();
    return {process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -2,
            process.readAllStandardOutput(), process.readAllStandardError()};
}

#define CLI_EXPECT(run, code) QVERIFY2((run).exitCode == (code), qPrintable((run).describe()))

} // namespace corla
