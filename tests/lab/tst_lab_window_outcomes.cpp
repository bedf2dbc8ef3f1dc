// SPDX-License-Identifier: Apache-2.0
// SPDX-FileCopyrightText: 2026 The Corla developers
// The window's reset against a forging sender that answers every reset request with a flood
// of acknowledgements (corla-sim --forge ack-flood:N): once the user has agreed, the user
// hears of the reset once, the change log holds one request line and one outcome line, and
// the row comes back by itself once the device answers again after its restart.
#include "core/fleet/changelog.h"
#include "tests/support/labguard.h"
#include "tests/support/modalboxhandler.h"
#include "tests/support/testdevice.h"
#include "ui/mainwindow.h"
#include "ui/mainwindow_form.h"

#include <QTemporaryDir>
#include <QtTest>

using namespace corla;

namespace {

// Static on dev0, port 21 open.
const char* const kDevice = "02:c0:1a:00:00:01";

QStringList logLines(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return QString::fromUtf8(file.readAll()).split('\n', Qt::SkipEmptyParts);
}

} // namespace

class TstLabWindowOutcomes : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { CORLA_REQUIRE_LAB(); }

    void resetUnderAnAcknowledgementFlood()
    {
        CorlaLabSim sim;
        // Longer than one enquiry's 2 s, so that the device is seen to go silent.
        QVERIFY2(sim.startOrWhy({"--forge", "ack-flood:2000", "--reset-silence", "3000"}).isEmpty(),
                 qPrintable(sim.output()));
        QTemporaryDir dir;
        const ChangeLog log(dir.filePath(QStringLiteral("changes.csv")));
        DiscoveryClient adapter;
        PortProbeScheduler checker;
        MainWindow window(&adapter, &checker);
        window.setChangeLog(&log);
        window.show();
        QTRY_VERIFY_WITH_TIMEOUT(window.model().device(macOf(kDevice)), 10000);
        const auto device = window.model().device(macOf(kDevice));
        QTRY_COMPARE_WITH_TIMEOUT(device->netStat(), Reachability::Reachable, 6000);

        QStringList boxes;
        ModalBoxHandler<QMessageBox> handler(
            [&boxes](QMessageBox* box) {
                boxes << box->windowTitle() + '|' + box->text();
                box->accept();
            },
            60000);
        QTableView* view = window.ui()->tblMainTableView;
        for (int row = 0; row < view->model()->rowCount(); ++row) {
            if (view->model()->index(row, DeviceTableModel::MacColumn).data() == kDevice)
                view->selectRow(row);
        }
        QVERIFY(window.ui()->btnReset->isEnabled());
        QTest::mouseClick(window.ui()->btnReset, Qt::LeftButton);

        QTRY_VERIFY_WITH_TIMEOUT(logLines(log.path()).size() >= 3, 30000);
        const QStringList lines = logLines(log.path());
        QCOMPARE(lines.size(), 3);
        QCOMPARE(lines[1].section(',', -2), QStringLiteral("reset sent,corla"));
        const QString outcome = lines[2].section(',', -2);
        QVERIFY2(QRegularExpression("^back after [0-9]+ s at 10\\.10\\.0\\.11,corla$")
                     .match(outcome)
                     .hasMatch(),
                 qPrintable(outcome));
        // The question first, agreed to by accepting it.
        QCOMPARE(boxes, (QStringList{"Reset Device|Reset Tavio LF #1001 (02:c0:1a:00:00:01)?\n\n"
                                     "The device restarts and cannot be reached until it is "
                                     "back, which may take up to two minutes.",
                                     "Device Resetting|Tavio LF #1001 is resetting. This may "
                                     "take up to two minutes."}));
        // The rest of the flood, sent with the first acknowledgement seconds before the device
        // came back, changed nothing.
        QTRY_COMPARE_WITH_TIMEOUT(device->netStat(), Reachability::Reachable, 6000);
        QCOMPARE(boxes.size(), 2);
        QCOMPARE(logLines(log.path()).size(), 3);
        QVERIFY2(sim.stop(), qPrintable(sim.output()));
    }
};

QTEST_MAIN(TstLabWindowOutcomes)
#include "tst_lab_window_outcomes.moc"
