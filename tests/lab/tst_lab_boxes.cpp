// SPDX-License-Identifier: Apache-2.0
// SPDX-FileCopyrightText: 2026 The Corla developers
// Message boxes opened from the answers of the window's adapter (and of the
// configuration dialog's) stay open longer than the sockets that brought the answers
// live: closing them must find nothing freed under them, and the window must go on
// listing devices afterwards, an accepted change's device probed at its new address.
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
    explicit BoxHolder(int holdMs) : m_holdMs(holdMs)
    {
        connect(&m_poll, &QTimer::timeout, this, [this] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            // Marked on the box itself: the next box may take a closed one's address.
            if (!box || box->property("held").toBool())
                return;
            box->setProperty("held", true);
            titles << box->windowTitle();
            QTimer::singleShot(m_holdMs, box, [box] { box->accept(); });
        });
        m_poll.start(5);
    }
    QStringList titles;

private:
    int m_holdMs;
    QTimer m_poll;
};

} // namespace

class TstLabBoxes : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { CORLA_REQUIRE_LAB(); }

    // One box per request, however many local addresses sent it.
    void boxHeldPastTheSocketPeriod_data()
    {
        QTest::addColumn<QString>("sent");
        QTest::addColumn<QString>("box");
        QTest::addColumn<QString>("addressAfter"); // where port 21 answers then
        QTest::newRow("refusal") << "10.10.0.255"
                                 << "Corla Error!"
                                 << "10.10.0.11";
        QTest::newRow("change accepted") << "10.10.0.62"
                                         << "Change Accepted"
                                         << "10.10.0.62";
    }

    void boxHeldPastTheSocketPeriod()
    {
        QFETCH(QString, sent);
        QFETCH(QString, box);
        QFETCH(QString, addressAfter);
        CorlaLabSim sim;
        QVERIFY2(sim.startOrWhy({}).isEmpty(), qPrintable(sim.output()));

        DiscoveryClient adapter;
        PortProbeScheduler checker;
        MainWindow window(&adapter, &checker);
        window.show();
        window.adapter().setTimeoutPeriod(kPeriodMs);
        QTRY_VERIFY_WITH_TIMEOUT(window.model().device(macOf(kWitness)), 10000);
        QTRY_VERIFY_WITH_TIMEOUT(window.model().device(macOf(kDevice)), 10000);
        const auto device = window.model().device(macOf(kDevice));

        BoxHolder holder(kHoldMs);
        NetworkSettings settings = device->netHostInfo();
        settings.setIpAddress(Ipv4Address(sent.toStdString()));
        window.onConfigAccepted(*device, settings);
        QTRY_COMPARE_WITH_TIMEOUT(holder.titles, QStringList{box}, 10000);
        // Every box closed, each long after its socket's period ran out.
        QTRY_VERIFY_WITH_TIMEOUT(!QApplication::activeModalWidget(), 10000);
        QCOMPARE(text(device->netHostInfo().ipAddress()), addressAfter);
        QTRY_COMPARE_WITH_TIMEOUT(device->netStat(), Reachability::Reachable, 6000);

        // The window still hears the fleet.
        const auto witness = window.model().device(macOf(kWitness));
        QTRY_VERIFY_WITH_TIMEOUT(window.ui()->btnRefresh->isEnabled(), 5000);
        QTest::mouseClick(window.ui()->btnRefresh, Qt::LeftButton);
        QCOMPARE(witness->netStat(), Reachability::Pending);
        QTRY_COMPARE_WITH_TIMEOUT(witness->netStat(), Reachability::Reachable, 10000);
        QCOMPARE(holder.titles, QStringList{box}); // and no further box since
        QVERIFY2(sim.stop(), qPrintable(sim.output()));
    }

    void dialogClosedUnderABoxOfItsPane()
    {
        CorlaLabSim sim;
        QVERIFY2(sim.startOrWhy({}).isEmpty(), qPrintable(sim.output()));
        Device device(1001, DeviceType(1), NetworkSettings());
        NetworkSettings info;
        info.setMacAddress(macOf(kDevice));
        device.setNetHostInfo(info);

        // The owner's client outlives the dialog and goes on answering after it has gone.
        DiscoveryClient client;
        auto* adapter = &client;
        QPointer<ConfigureDialog> dialog = new ConfigureDialog(device);
        dialog->netHostPane()->setDiscoveryClient(adapter);
        dialog->show();
        adapter->setTimeoutPeriod(kPeriodMs);
        // A receiver of the client the pane asks puts a question to the user; meanwhile the
        // dialog goes.
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
        // The client's sockets run out after the dialog has gone.
        QTRY_VERIFY_WITH_TIMEOUT(roundsEnded.count() > 0, 10000);
        QVERIFY(asked >= 1);
        QVERIFY(holder.titles.size() == asked);
        QVERIFY2(sim.stop(), qPrintable(sim.output()));
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
};

QTEST_MAIN(TstLabBoxes)
#include "tst_lab_boxes.moc"
