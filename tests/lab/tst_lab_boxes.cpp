// SPDX-License-Identifier: Apache-2.0
// SPDX-FileCopyrightText: 2026 The Corla developers
// Message boxes held open past their sockets' period, and a reset under forged acknowledgements.
#include "core/fleet/changelog.h"
#include "tests/support/datarow.h"
#include "tests/support/labguard.h"
#include "tests/support/modalboxhandler.h"
#include "tests/support/testdevice.h"
#include "ui/configuredialog.h"
#include "ui/mainwindow.h"
#include "ui/mainwindow_form.h"
#include "ui/networksettingspane.h"

#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QTemporaryDir>
#include <QtTest>

using namespace corla;

namespace {

// Static on dev0, port 21 open: heard from both addresses of lab0.
const char* const kDevice = "02:c0:1a:00:00:01";
const char* const kWitness = "02:c0:1a:00:00:02";
constexpr int kPeriodMs = 250;
constexpr int kHoldMs = 900;

// Closes every message box `holdMs` after it opened, noting its title.
class BoxHolder : public QObject
{
public:
    explicit BoxHolder(int holdMs)
    {
        connect(&m_poll, &QTimer::timeout, this, [this, holdMs] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            // Marked on the box itself: the next box may take a closed one's address.
            if (!box || box->property("held").toBool())
                return;
            box->setProperty("held", true);
            titles << box->windowTitle();
            QTimer::singleShot(holdMs, box, [box] { box->accept(); });
        });
        m_poll.start(5);
    }
    QStringList titles;

private:
    QTimer m_poll;
};

QStringList logLines(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return QString::fromUtf8(file.readAll()).split('\n', Qt::SkipEmptyParts);
}

struct LabWindow
{
    DiscoveryClient adapter;
    PortProbeScheduler checker;
    MainWindow window{&adapter, &checker};
    // Shows the window and waits until it lists kDevice and kWitness.
    std::shared_ptr<Device> shown()
    {
        window.show();
        (void)QTest::qWaitFor([&] { return device(kDevice) && device(kWitness); }, 10000);
        return device(kDevice);
    }
    std::shared_ptr<Device> device(const char* mac) { return window.model().device(macOf(mac)); }
};

} // namespace

class TstLabBoxes : public QObject
{
    Q_OBJECT
    CorlaLabSim m_sim;

private slots:
    void initTestCase() { CORLA_REQUIRE_LAB(); }
    void init() { QCOMPARE(m_sim.startOrWhy({}), QString()); }
    void cleanup() { QVERIFY2(m_sim.stop(), qPrintable(m_sim.output())); }

    // One box per request, however many local addresses sent it.
    void boxHeldPastTheSocketPeriod_data()
    {
        columns<QString, QString>({"sent", "box"});
        QTest::addColumn<QString>("addressAfter"); // where port 21 answers then
        row("refusal", "10.10.0.255", "Corla Error!", "10.10.0.11");
        row("change accepted", "10.10.0.62", "Change Accepted", "10.10.0.62");
    }

    void boxHeldPastTheSocketPeriod()
    {
        QFETCH(QString, sent);
        QFETCH(QString, box);
        QFETCH(QString, addressAfter);
        LabWindow lab;
        MainWindow& window = lab.window;
        const auto device = lab.shown();
        QVERIFY(device && lab.device(kWitness));
        window.adapter().setTimeoutPeriod(kPeriodMs);

        BoxHolder holder(kHoldMs);
        NetworkSettings settings = device->netHostInfo();
        settings.setIpAddress(Ipv4Address(sent.toStdString()));
        window.onConfigAccepted(*device, settings);
        QTRY_COMPARE_WITH_TIMEOUT(holder.titles, QStringList{box}, 10000);
        QTRY_VERIFY_WITH_TIMEOUT(!QApplication::activeModalWidget(), 10000);
        QCOMPARE(text(device->netHostInfo().ipAddress()), addressAfter);
        QTRY_COMPARE_WITH_TIMEOUT(device->netStat(), Reachability::Reachable, 6000);

        const auto witness = lab.device(kWitness);
        QTRY_VERIFY_WITH_TIMEOUT(window.ui()->btnRefresh->isEnabled(), 5000);
        QTest::mouseClick(window.ui()->btnRefresh, Qt::LeftButton);
        QCOMPARE(witness->netStat(), Reachability::Pending);
        QTRY_COMPARE_WITH_TIMEOUT(witness->netStat(), Reachability::Reachable, 10000);
        QCOMPARE(holder.titles, QStringList{box}); // and no further box since
    }

    void dialogClosedUnderABoxOfItsPane()
    {
        NetworkSettings info;
        info.setMacAddress(macOf(kDevice));
        // The owner's client outlives the dialog and goes on answering after it has gone.
        DiscoveryClient client;
        auto* adapter = &client;
        QPointer<ConfigureDialog> dialog = new ConfigureDialog(Device(1001, DeviceType(1), info));
        dialog->netHostPane()->setDiscoveryClient(adapter);
        dialog->show();
        adapter->setTimeoutPeriod(kPeriodMs);
        int asked = 0;
        connect(adapter, &DiscoveryClient::deviceFound, this, [&asked, dialog] {
            ++asked;
            QTimer::singleShot(50, [dialog] { delete dialog.data(); });
            QMessageBox::information(nullptr, QStringLiteral("Found"), QStringLiteral("found"));
        });
        BoxHolder holder(kHoldMs);
        QSignalSpy roundsEnded(adapter, &DiscoveryClient::timeout);
        QTest::mouseClick(dialog->netHostPane()->findChild<QPushButton*>("btnRefresh"),
                          Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(dialog.isNull(), 10000);
        QTRY_VERIFY_WITH_TIMEOUT(!QApplication::activeModalWidget(), 10000);
        QTRY_VERIFY_WITH_TIMEOUT(roundsEnded.count() > 0, 10000);
        QVERIFY(asked >= 1);
        QCOMPARE(holder.titles.size(), asked);
    }

    // The duplicate question names the address and, for a host that only ARP shows, its MAC.
    void duplicateQuestionNamesTheArpAnswer()
    {
        Device device(1001, DeviceType(1),
                      NetworkSettings(Ipv4Address("10.10.0.40"), Ipv4Address("255.255.255.0"),
                                      Ipv4Address(), Ipv4Address(), macOf(kDevice),
                                      AddressModeStatic));
        device.setCommsIfaceAddr(Ipv4Address("10.10.0.1"));
        ConfigureDialog dialog(device);
        dialog.show();
        NetworkSettings edited = device.netHostInfo();
        edited.setIpAddress(Ipv4Address(corlaLabEnv("CORLA_LAB_ECHO_SILENT").toStdString()));
        dialog.netHostPane()->setNetHostInfo(edited);
        QSignalSpy accepted(&dialog, &ConfigureDialog::configAccepted);
        QString asked;
        ModalBoxHandler<QMessageBox> box([&asked](QMessageBox* b) {
            asked = b->windowTitle() + '|' + b->text();
            b->button(QMessageBox::No)->click();
        });

        dialog.sendButton()->click();

        QTRY_COMPARE_WITH_TIMEOUT(box.handled(), 1, 5000);
        QCOMPARE(asked, QStringLiteral("Duplicate IP Detected!|The IP address 10.10.0.250 already "
                                       "exists on the current subnet: a host answers ARP there "
                                       "as 02:c0:1a:ff:00:fa. Using this address may cause "
                                       "network problems. Are you sure you want to use this "
                                       "address?"));
        QCOMPARE(accepted.count(), 0);
    }

    // One box and one request and outcome line for a reset whose acknowledgement is flooded.
    void resetUnderAnAcknowledgementFlood()
    {
        // Silent for longer than one enquiry's 2 s, so that the device is seen to go.
        QCOMPARE(m_sim.startOrWhy({"--forge", "ack-flood:2000", "--reset-silence", "3000"}),
                 QString());
        QTemporaryDir dir;
        const ChangeLog log(dir.filePath(QStringLiteral("changes.csv")));
        LabWindow lab;
        MainWindow& window = lab.window;
        window.setChangeLog(&log);
        const auto device = lab.shown();
        QVERIFY(device);
        QTRY_COMPARE_WITH_TIMEOUT(device->netStat(), Reachability::Reachable, 6000);

        QStringList boxes;
        ModalBoxHandler<QMessageBox> handler(
            [&boxes](QMessageBox* box) {
                boxes << box->windowTitle() + '|' + box->text();
                box->accept();
            },
            60000);
        QTableView* view = window.ui()->tblMainTableView;
        for (int row = 0; row < view->model()->rowCount(); ++row)
            if (view->model()->index(row, DeviceTableModel::MacColumn).data() == kDevice)
                view->selectRow(row);
        QVERIFY(window.ui()->btnReset->isEnabled());
        QTest::mouseClick(window.ui()->btnReset, Qt::LeftButton);

        QTRY_VERIFY_WITH_TIMEOUT(logLines(log.path()).size() >= 3, 30000);
        const QStringList lines = logLines(log.path());
        QCOMPARE(lines.size(), 3);
        QCOMPARE(lines[1].section(',', -2), QStringLiteral("reset sent,corla"));
        QVERIFY2(lines[2].contains(
                     QRegularExpression(",back after [0-9]+ s at 10\\.10\\.0\\.11,corla$")),
                 qPrintable(lines[2]));
        QCOMPARE(boxes, (QStringList{"Reset Device|Reset Tavio LF #1001 (02:c0:1a:00:00:01)?\n\n"
                                     "The device restarts and cannot be reached until it is "
                                     "back, which may take up to two minutes.",
                                     "Device Resetting|Tavio LF #1001 is resetting. This may "
                                     "take up to two minutes."}));
        QTRY_COMPARE_WITH_TIMEOUT(device->netStat(), Reachability::Reachable, 6000);
        QCOMPARE((QList<int>{int(boxes.size()), int(logLines(log.path()).size())}),
                 (QList<int>{2, 3}));
    }
};

QTEST_MAIN(TstLabBoxes)
#include "tst_lab_boxes.moc"
