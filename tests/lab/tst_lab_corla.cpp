// SPDX-License-Identifier: Apache-2.0
// SPDX-FileCopyrightText: 2026 The Corla developers
// Corla itself against the simulator's default fleet: the shipped binary refuses a mistaken
// command line before it sends, and the window (offscreen, in corla-snapshot, which ends it
// with its list and a screenshot) lists every device once with the colour its port 21
// deserves.
#include "core/net/devicetypes.h"
#include "tests/support/labguard.h"

#include <QImage>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QtTest>

using namespace corla;

class TestLabCorla : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { CORLA_REQUIRE_LAB(); }

    // On the lab's host side there are addresses to broadcast from, so a window made before
    // the arguments were judged would show in the discovery debug lines. The last row shows
    // that a window that does broadcast is seen; the shipped binary would not end, so that
    // row runs the snapshot build, whose command line is the same code.
    void usageErrorSendsNothing_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<bool>("sends");
        QTest::newRow("unknown option") << QStringList{"--bogus"} << 1 << false;
        QTest::newRow("argument") << QStringList{"devices.csv"} << 1 << false;
        QTest::newRow("Qt option without its value") << QStringList{"-display"} << 1 << false;
        QTest::newRow("no mistake") << QStringList() << 0 << true;
    }
    void usageErrorSendsNothing()
    {
        QFETCH(QStringList, arguments);
        QFETCH(int, exitCode);
        QFETCH(bool, sends);
        QTemporaryDir dir;
        QProcess corla;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        env.insert(QStringLiteral("QT_LOGGING_RULES"),
                   QStringLiteral("corla.discovery.debug=true"));
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), dir.filePath(QStringLiteral("config")));
        env.insert(QStringLiteral("XDG_DATA_HOME"), dir.filePath(QStringLiteral("data")));
        // Ends the window that is right to open, once it has sent its enquiry.
        env.insert(QStringLiteral("CORLA_SNAPSHOT"), dir.filePath(QStringLiteral("shot.png")));
        // A 200 % screen of 800 x 600 pixels: the window that opens must fit it.
        env.insert(QStringLiteral("QT_SCALE_FACTOR"), QStringLiteral("2"));
        env.insert(QStringLiteral("CORLA_SNAPSHOT_AFTER_MS"), QStringLiteral("1000"));
        corla.setProcessEnvironment(env);
        corla.start(QString::fromUtf8(sends ? CORLA_SNAPSHOT_BIN : CORLA_BIN), arguments);
        QVERIFY2(corla.waitForFinished(60000), qPrintable(corla.errorString()));
        const QString err = QString::fromLocal8Bit(corla.readAllStandardError());
        QVERIFY2(corla.exitCode() == exitCode, qPrintable(err));
        QVERIFY2(err.contains(QLatin1String("Sending Command:")) == sends, qPrintable(err));
        if (sends) {
            const QSize shot = QImage(dir.filePath(QStringLiteral("shot.png"))).size();
            QVERIFY2(shot.height() > 0 && shot.height() <= 600 && shot.width() <= 800,
                     qPrintable(QStringLiteral("%1x%2").arg(shot.width()).arg(shot.height())));
        }
    }

    void windowListsFleetOnceWithDeservedColours()
    {
        // "MAC status" as the probe of port 21 must find it: only devices on the host's own
        // subnets are routable.
        QProcess sim;
        sim.start(qEnvironmentVariable("CORLA_SIM"), {QStringLiteral("--dump-fleet")});
        QVERIFY(sim.waitForFinished(10000));
        const QRegularExpression routable("^10\\.(10\\.[01]|20\\.0)\\.");
        QStringList deserved;
        for (const QJsonValue& value : QJsonDocument::fromJson(sim.readAllStandardOutput())
                                           .object()
                                           .value(QStringLiteral("devices"))
                                           .toArray()) {
            const QString ip = value["ip"].toString();
            const Reachability status = ip == "0.0.0.0" ? Reachability::NoIp
                                        : routable.match(ip).hasMatch() && value["port21"].toBool()
                                            ? Reachability::Reachable
                                            : Reachability::Unreachable;
            deserved << value["mac"].toString() + ' ' + QString::number(int(status));
        }
        QVERIFY2(deserved.size() >= 10, "corla-sim --dump-fleet gave no fleet");
        deserved.sort();

        QTemporaryDir dir;
        const QString shot = dir.filePath(QStringLiteral("corla.png"));
        QProcess corla;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        // Settings and the change log of its own, not the user's.
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), dir.filePath(QStringLiteral("config")));
        env.insert(QStringLiteral("XDG_DATA_HOME"), dir.filePath(QStringLiteral("data")));
        env.insert(QStringLiteral("CORLA_SNAPSHOT"), shot);
        // Taken once every row is probed and quiet; the limit only ends a hung run.
        env.insert(QStringLiteral("CORLA_SNAPSHOT_AFTER_MS"), QStringLiteral("60000"));
        corla.setProcessEnvironment(env);
        corla.start(QStringLiteral(CORLA_SNAPSHOT_BIN), QStringList());
        QVERIFY2(corla.waitForFinished(90000), qPrintable(corla.errorString()));
        QCOMPARE(corla.exitCode(), 0);

        QFile rowsFile(shot + QStringLiteral(".rows"));
        QVERIFY(rowsFile.open(QIODevice::ReadOnly));
        QStringList listed;
        for (const QString& line : QString(rowsFile.readAll()).split('\n', Qt::SkipEmptyParts)) {
            QCOMPARE(line.count(','), 8);
            listed << line.section(',', 8) + ' ' + line.section(',', 0, 0);
        }
        listed.sort();
        // Compared whole: a device listed twice or missing shows as a differing line.
        QCOMPARE(listed, deserved);
        QVERIFY(QImage(shot).width() > 0);
    }
};

QTEST_MAIN(TestLabCorla)
#include "tst_lab_corla.moc"
