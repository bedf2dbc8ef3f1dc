// SPDX-License-Identifier: Apache-2.0
// SPDX-FileCopyrightText: 2026 The Corla developers
#include "tests/support/datarow.h"
#include "tests/support/labguard.h"
#include "tests/support/modalboxhandler.h"
#include "tests/support/settle.h"
#include "tests/support/testdevice.h"
#include "ui/configuredialog.h"
#include "ui/networksettingspane.h"

#include <QtTest>
#include <QtWidgets>

using namespace corla;

namespace {

// In the namespace loopback holds the "taken" address; the "free" one has no route.
constexpr const char* kTakenAddress = "10.99.99.1";
constexpr const char* kLocalNetwork = "10.98.0.1/16";
constexpr const char* kFreeAddress = "10.255.255.1";

Device deviceAt(const char* ip, const char* mask = "255.0.0.0")
{
    Device device(1234, DeviceType::NerioHF,
                  NetworkSettings(Ipv4Address(ip), Ipv4Address(mask), Ipv4Address("10.0.0.1"),
                                  Ipv4Address(0u), macOf("00:1a:2b:3c:4d:5e"), AddressModeStatic));
    device.setCommsIfaceAddr(Ipv4Address("10.0.0.9"));
    return device;
}

void awaitChecks() // every echo check started has ended and been delivered
{
    QThreadPool::globalInstance()->waitForDone();
    settle();
}

} // namespace

class TstCorlaConfigDialog : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        registerMetaTypes();
        CORLA_REQUIRE_PRIVATE_NETNS();
        for (const QString& address :
             {QStringLiteral("%1/32").arg(kTakenAddress), QString(kLocalNetwork)}) {
            QProcess ip;
            ip.setProcessChannelMode(QProcess::MergedChannels);
            ip.start("ip", {"addr", "replace", address, "dev", "lo"});
            QVERIFY(ip.waitForFinished(10000));
            QVERIFY2(ip.exitCode() == 0, ip.readAll().constData());
        }
    }

    // Only a new first octet replaces the mask (local network's, else class's); the gateway stays.
    void firstOctetWalk_data()
    {
        columns<QString, bool, QString, QString>({"device", "click", "typed", "mask"});
        row("click, Tab: kept", "10.0.0.5", true, "", "255.255.255.0");
        row("same value typed: kept", "10.0.0.5", true, "10", "255.255.255.0");
        row("new value: its class's", "10.0.0.5", false, "172", "255.255.0.0");
        row("new value in a local network: its mask", "172.98.3.4", true, "10", "255.255.0.0");
        row("new value outside: its class's", "172.98.3.4", true, "11", "255.0.0.0");
    }
    void firstOctetWalk()
    {
        QFETCH(QString, device);
        QFETCH(bool, click);
        QFETCH(QString, typed);
        QFETCH(QString, mask);
        ConfigureDialog dialog(deviceAt(qPrintable(device), "255.255.255.0"), nullptr);
        showActive(&dialog);
        OctetEdit* first = dialog.findChild<Ipv4Edit*>("ipeIpAddr")->octetEdit(FirstOctet);
        click ? QTest::mouseClick(first, Qt::LeftButton) : first->setFocus(Qt::TabFocusReason);
        QVERIFY(first->hasFocus());
        if (!typed.isEmpty()) {
            first->selectAll();
            QTest::keyClicks(first, typed);
        }
        QTest::keyClick(first, Qt::Key_Tab);

        QVERIFY(!first->hasFocus());
        const NetworkSettings& stored = dialog.netHostPane()->netHostInfo();
        QCOMPARE(text(stored.subnetMask()), mask);
        QCOMPARE(text(dialog.findChild<Ipv4Edit*>("ipeSubnet")->address()), mask);
        QCOMPARE(text(stored.gateway()), QStringLiteral("10.0.0.1"));
    }

    // Return sends, searches or changes nothing; it presses only a button with the focus.
    void returnPressesOnlyAFocusedButton_data()
    {
        QTest::addColumn<bool>("cancel");
        row("Return in the address", false);
        row("Return on Cancel", true);
    }
    void returnPressesOnlyAFocusedButton()
    {
        QFETCH(bool, cancel);
        const Device device = deviceAt("10.0.0.5", "255.255.255.0");
        ConfigureDialog dialog(device, nullptr);
        showActive(&dialog);
        QSignalSpy spy(&dialog, &ConfigureDialog::configAccepted);
        ModalBoxHandler<QDialog> unexpected([](QDialog* d) { d->reject(); }, 1000);
        if (cancel)
            dialog.findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Cancel)->setFocus();
        else
            dialog.findChild<Ipv4Edit*>("ipeIpAddr")->octetEdit(FirstOctet)->setFocus();
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
        awaitChecks();
        QCOMPARE(spy.count(), 0);
        QCOMPARE(unexpected.handled(), 0);
        QVERIFY(dialog.netHostPane()->netHostInfo() == device.netHostInfo());
        QCOMPARE(dialog.isVisible(), !cancel);
        QCOMPARE(dialog.result(), int(QDialog::Rejected));
    }

    // Settings as from a device, Send presses, the duplicate answer (NoButton: none), the error.
    void send_data()
    {
        columns<QString, bool, int, int, QString>(
            {"address", "automatic", "presses", "answer", "error"});
        const int none = QMessageBox::NoButton, yes = QMessageBox::Yes, no = QMessageBox::No;
        row("DHCP: at once, no echo", kTakenAddress, true, 1, none, "");
        row("static, free, pressed twice: once", kFreeAddress, false, 2, none, "");
        row("static, taken: Yes sends", kTakenAddress, false, 1, yes, "");
        row("static, taken: No stays open", kTakenAddress, false, 1, no, "");
        row("static, no address", "0.0.0.0", false, 1, none, "The IP Address is not valid.");
        row("static, gateway outside the network", "10.255.255.1/255.255.255.0", false, 1, none,
            "The gateway 10.0.0.1 is outside the network 10.255.255.0/24 of the new address.");
        row("static, no gateway", "10.255.255.1/255.255.255.0/0.0.0.0", false, 1, none, "");
    }
    void send()
    {
        QFETCH(QString, address);
        QFETCH(bool, automatic);
        QFETCH(int, presses);
        QFETCH(int, answer);
        QFETCH(QString, error);
        const Device device = deviceAt("10.0.0.5");
        ConfigureDialog dialog(device, nullptr);
        QVERIFY(dialog.netHostPane()->netHostInfo() == device.netHostInfo());
        QCOMPARE(dialog.netHostPane()->localIp(), Ipv4Address("10.0.0.9"));
        dialog.show();
        const QStringList parts = address.split('/');
        NetworkSettings edited = device.netHostInfo();
        edited.setIpAddress(Ipv4Address(parts.first().toStdString()));
        edited.setSubnet(Ipv4Address(parts.value(1, "255.0.0.0").toStdString()));
        if (parts.size() > 2)
            edited.setGateway(Ipv4Address(parts.at(2).toStdString()));
        edited.setAddressMode(automatic ? AddressModeDhcp : AddressModeStatic);
        dialog.netHostPane()->setNetHostInfo(edited);
        QCOMPARE(dialog.netHostPane()->deviceAddress(), Ipv4Address("10.0.0.5"));
        QSignalSpy spy(&dialog, &ConfigureDialog::configAccepted);
        QString asked;
        ModalBoxHandler<QMessageBox> box([&](QMessageBox* b) {
            asked = b->windowTitle() + '|' + b->text();
            QVERIFY(b->defaultButton() == b->button(QMessageBox::No));
            QAbstractButton* button = b->button(QMessageBox::StandardButton(answer));
            button ? button->click() : b->reject();
        });

        for (int i = 0; i < presses; ++i)
            dialog.sendButton()->click();
        QCOMPARE(spy.count(), automatic ? 1 : 0);
        awaitChecks();
        const bool sent = error.isEmpty() && answer != QMessageBox::No;
        QCOMPARE(spy.count(), int(sent));
        QCOMPARE(box.handled(), answer == QMessageBox::NoButton ? 0 : 1);
        QCOMPARE(dialog.isVisible(), !sent);
        if (sent) {
            QCOMPARE(spy.at(0).at(0).value<Device>().serial(), device.serial());
            QVERIFY(spy.at(0).at(1).value<NetworkSettings>() == edited);
        }
        if (box.handled())
            QCOMPARE(asked, QStringLiteral("Duplicate IP Detected!|The IP address 10.99.99.1 "
                                           "already exists on the current subnet: a host answers "
                                           "echo requests there. Using this address may cause "
                                           "network problems. Are you sure you want to use this "
                                           "address?"));
        auto* errorLine = dialog.findChild<QLabel*>(QStringLiteral("lblErrorDisplay"));
        QCOMPARE(errorLine->isVisible() ? errorLine->text() : QString(), error);
        if (answer == QMessageBox::No) {
            dialog.sendButton()->click();
            awaitChecks();
            QCOMPARE((QList<int>{box.handled(), spy.count()}), (QList<int>{2, 0}));
        }
    }

private:
    static void showActive(QDialog* dialog)
    {
        dialog->show();
        QApplication::setActiveWindow(dialog);
        QVERIFY(QTest::qWaitForWindowActive(dialog));
    }
};

QTEST_MAIN(TstCorlaConfigDialog)
#include "tst_configuredialog.moc"
