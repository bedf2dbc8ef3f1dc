// SPDX-License-Identifier: Apache-2.0
// SPDX-FileCopyrightText: 2026 The Corla developers
// corla itself: a mistaken command line sends nothing; the window colours the default fleet.
#include "core/net/devicetypes.h"
#include "tests/support/datarow.h"
#include "tests/support/labguard.h"

#include <QImage>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QtTest>

using namespace corla;

namespace {

// Runs `program` offscreen, own settings in `dir`, shot to dir/shot.png after `afterMs`.
void runCorla(QProcess& corla, const QTemporaryDir& dir, const char* program,
              const QStringList& args, const char* afterMs, const QStringList& extra = {})
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const QString& v :
         QStringList{"QT_QPA_PLATFORM=offscreen", "XDG_CONFIG_HOME=" + dir.filePath("config"),
                     "XDG_DATA_HOME=" + dir.filePath("data"),
                     "CORLA_SNAPSHOT=" + dir.filePath("shot.png"),
                     QString("CORLA_SNAPSHOT_AFTER_MS=") + afterMs} +
             extra)
        env.insert(v.section('=', 0, 0), v.section('=', 1));
    corla.setProcessEnvironment(env);
    corla.start(QString::fromUtf8(program), args);
    QVERIFY2(corla.waitForFinished(90000), qPrintable(corla.errorString()));
}

} // namespace

class TestLabCorla : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { CORLA_REQUIRE_LAB(); }

    // A window made before the arguments are judged would broadcast; the snapshot row shows it.
    void usageErrorSendsNothing_data()
    {
        columns<QStringList, int, bool>({"arguments", "exitCode", "sends"});
        row("unknown option", QStringList{"--bogus"}, 1, false);
        row("argument", QStringList{"devices.csv"}, 1, false);
        row("Qt option without its value", QStringList{"-display"}, 1, false);
        row("no mistake", QStringList(), 0, true);
    }
    void usageErrorSendsNothing()
    {
        QFETCH(QStringList, arguments);
        QFETCH(int, exitCode);
        QFETCH(bool, sends);
        QTemporaryDir dir;
        QProcess corla;
        // On a 200 % screen of 800 x 600 pixels the window that opens must fit.
        runCorla(corla, dir, sends ? CORLA_SNAPSHOT_BIN : CORLA_BIN, arguments, "1000",
                 {"QT_LOGGING_RULES=corla.discovery.debug=true", "QT_SCALE_FACTOR=2"});
        const QString err = QString::fromLocal8Bit(corla.readAllStandardError());
        QVERIFY2(corla.exitCode() == exitCode, qPrintable(err));
        QVERIFY2(err.contains(QLatin1String("Sending Command:")) == sends, qPrintable(err));
        const QSize shot = QImage(dir.filePath("shot.png")).size();
        QVERIFY2(!sends || (shot.height() > 0 && shot.height() <= 600 && shot.width() <= 800),
                 qPrintable(QStringLiteral("%1x%2").arg(shot.width()).arg(shot.height())));
    }

    // "MAC status" as the probe of port 21 must find it: only the host's own subnets route.
    void windowListsFleetOnceWithDeservedColours()
    {
        QProcess sim;
        sim.start(qEnvironmentVariable("CORLA_SIM"), {QStringLiteral("--dump-fleet")});
        QVERIFY(sim.waitForFinished(10000));
        const QRegularExpression routable("^10\\.(10\\.[01]|20\\.0)\\.");
        QStringList deserved;
        for (const QJsonValue& v :
             QJsonDocument::fromJson(sim.readAllStandardOutput())["devices"].toArray()) {
            const QString ip = v["ip"].toString();
            const Reachability status = ip == "0.0.0.0" ? Reachability::NoIp
                                        : routable.match(ip).hasMatch() && v["port21"].toBool()
                                            ? Reachability::Reachable
                                            : Reachability::Unreachable;
            deserved << v["mac"].toString() + ' ' + QString::number(int(status));
        }
        QVERIFY2(deserved.size() >= 10, "corla-sim --dump-fleet gave no fleet");
        deserved.sort();

        QTemporaryDir dir;
        QProcess corla;
        // Taken once every row is probed and quiet; the limit only ends a hung run.
        runCorla(corla, dir, CORLA_SNAPSHOT_BIN, {}, "60000");
        QCOMPARE(corla.exitCode(), 0);
        QFile rowsFile(dir.filePath("shot.png.rows"));
        QVERIFY(rowsFile.open(QIODevice::ReadOnly));
        QStringList listed;
        for (const QString& line : QString(rowsFile.readAll()).split('\n', Qt::SkipEmptyParts)) {
            QCOMPARE(line.count(','), 8);
            listed << line.section(',', 8) + ' ' + line.section(',', 0, 0);
        }
        listed.sort();
        QCOMPARE(listed, deserved); // whole: a device listed twice or missing shows
        QVERIFY(QImage(dir.filePath("shot.png")).width() > 0);
    }
};

QTEST_MAIN(TestLabCorla)
#include "tst_lab_corla.moc"
