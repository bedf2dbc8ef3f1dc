// SPDX-License-Identifier: Apache-2.0
// SPDX-FileCopyrightText: 2026 The Corla developers
// corla-cli discover against more than it can take: a forger inventing 200 000 devices per
// enquiry (the list stops at --max-devices, says how many answers it ignored, and the
// process stays small), and an address that goes away mid-discovery.
#include "tests/support/labguard.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QtTest>

using namespace corla;

namespace {

// The process's peak resident size in KiB (VmHWM), or -1 once it is gone.
qint64 peakKib(qint64 pid)
{
    QFile status(QStringLiteral("/proc/%1/status").arg(pid));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    const QRegularExpression hwm(QStringLiteral("^VmHWM:\\s+(\\d+) kB"),
                                 QRegularExpression::MultilineOption);
    const QRegularExpressionMatch m = hwm.match(QString::fromLatin1(status.readAll()));
    return m.hasMatch() ? m.captured(1).toLongLong() : -1;
}

// The MACs a JSON list names; one "not a JSON array" entry when it is none.
QStringList macsOf(const QByteArray& json)
{
    const QJsonDocument doc = QJsonDocument::fromJson(json);
    QStringList macs;
    for (const QJsonValue& v : doc.array())
        macs << v["macAddress"].toString().toLower();
    return doc.isArray() ? macs : QStringList{"not a JSON array"};
}

} // namespace

class TstLabCaps : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { CORLA_REQUIRE_LAB(); }

    void capHoldsAgainstInventedDevices()
    {
        CorlaLabSim sim;
        const QString simWhy = sim.startOrWhy({"--forge", "macs:200000", "--rate", "0", "--quiet"});
        QVERIFY2(simWhy.isEmpty(), qPrintable(simWhy));

        QProcess cli;
        cli.start(QStringLiteral(CORLA_CLI_BIN),
                  {"discover", "--format", "json", "--max-devices", "1000", "--wait", "3000"});
        QVERIFY2(cli.waitForStarted(5000), qPrintable(cli.errorString()));
        qint64 peak = 0;
        QElapsedTimer clock;
        clock.start();
        while (!cli.waitForFinished(10) && clock.elapsed() < 30000)
            peak = qMax(peak, peakKib(cli.processId()));
        QCOMPARE(cli.state(), QProcess::NotRunning);

        const QString err = QString::fromLocal8Bit(cli.readAllStandardError());
        QCOMPARE(cli.exitStatus(), QProcess::NormalExit);
        QVERIFY2(cli.exitCode() == 0, qPrintable(err));
        const QStringList macs = macsOf(cli.readAllStandardOutput());
        QCOMPARE(macs.size(), 1000);
        QCOMPARE(QSet<QString>(macs.begin(), macs.end()).size(), 1000);

        const QRegularExpressionMatch warning =
            QRegularExpression(QStringLiteral("^corla-cli: warning: (\\d+) further answers "
                                              "ignored: more devices than corla-cli lists at "
                                              "once \\(1000\\)$"),
                               QRegularExpression::MultilineOption)
                .match(err);
        QVERIFY2(warning.hasMatch(), qPrintable(err));
        const int ignored = warning.captured(1).toInt();
        qInfo("%d answers ignored beyond the 1000 listed; peak resident size %lld KiB", ignored,
              peak);
        // Twice the cap and more reached the list, and it did not grow with them.
        QVERIFY2(ignored >= 2000, qPrintable(err));
        QVERIFY2(peak > 0 && peak < 200 * 1024,
                 qPrintable(QStringLiteral("corla-cli peaked at %1 KiB").arg(peak)));
    }

    // An address that goes away while the enquiry is still being repeated from it: said
    // once on stderr, and the devices heard elsewhere are still listed, exit 0.
    void addressGoneMidDiscovery()
    {
        CorlaLabSim sim;
        const QString simWhy = sim.startOrWhy({"--quiet"});
        QVERIFY2(simWhy.isEmpty(), qPrintable(simWhy));
        const auto ip = [](const QStringList& args) {
            return QProcess::execute(QStringLiteral("ip"), args);
        };
        QProcess cli;
        cli.start(QStringLiteral(CORLA_CLI_BIN),
                  {"discover", "--format", "json", "--wait", "3000"});
        QVERIFY2(cli.waitForStarted(5000), qPrintable(cli.errorString()));
        QThread::msleep(500); // past the first copies of the enquiry, before the last
        QCOMPARE(ip({"addr", "del", "10.20.0.1/24", "dev", "lab1"}), 0);
        const bool finished = cli.waitForFinished(20000);
        QCOMPARE(ip({"addr", "add", "10.20.0.1/24", "dev", "lab1"}), 0);
        QVERIFY(finished);

        const QString err = QString::fromLocal8Bit(cli.readAllStandardError());
        QVERIFY2(cli.exitCode() == 0, qPrintable(err));
        const QRegularExpression warning(
            QStringLiteral("^corla-cli: warning: (could not send from|stopped listening on) "
                           "10\\.20\\.0\\.1: .+$"),
            QRegularExpression::MultilineOption);
        QCOMPARE(err.count(warning), 1);
        const QStringList listed = macsOf(cli.readAllStandardOutput());
        // The devices behind lab0 answered throughout.
        QVERIFY2(listed.size() >= 15, qPrintable(listed.join(' ')));
    }
};

QTEST_GUILESS_MAIN(TstLabCaps)
#include "tst_lab_caps.moc"
