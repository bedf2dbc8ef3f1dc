#include "corlaconfigdialog.h"
#include "labguard.h"
#include "modalboxhandler.h"
#include "tevnethostpane.h"

#include <QtTest>
#include <QtWidgets>

namespace {

// Inside the private test namespace only loopback exists. The test gives it the
// "taken" address, which then answers echoes; the "free" one has no route, so its
// echo fails at once.
constexpr const char* kTakenAddress = "10.99.99.1";
constexpr const char* kFreeAddress = "10.255.255.1";

ZelDevice deviceAt(const char* ip)
{
    ZelDevice device(1234, ZelDeviceType::NerioHF,
                     TevNetHostInfo(TevIpAddr(ip), TevIpAddr("255.0.0.0"), TevIpAddr("10.0.0.1"),
                                    TevIpAddr(0u), TevMacAddr({0x5e, 0x4d, 0x3c, 0x2b, 0x1a, 0x00}),
                                    TevAddressModeManual));
    device.setCommsIfaceAddr(TevIpAddr("10.0.0.9"));
    return device;
}

} // namespace

class TstCorlaConfigDialog : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        registerCorlaMetaTypes();
        CORLA_REQUIRE_PRIVATE_NETNS();
        QProcess ip;
        ip.setProcessChannelMode(QProcess::MergedChannels);
        ip.start("ip",
                 {"addr", "replace", QStringLiteral("%1/32").arg(kTakenAddress), "dev", "lo"});
        QVERIFY(ip.waitForFinished(10000));
        QVERIFY2(ip.exitCode() == 0, ip.readAll().constData());
    }

    void send_data()
    {
        // The settings put in the pane (address[/mask]), DHCP or not, how often Send is
        // pressed, the answer to the duplicate question (NoButton: none may come), the
        // error shown instead of sending. Settings loaded from a device never went through
        // the pane's field checks, so the dialog must check them itself.
        QTest::addColumn<QString>("address");
        QTest::addColumn<bool>("automatic");
        QTest::addColumn<int>("presses");
        QTest::addColumn<int>("answer");
        QTest::addColumn<QString>("error");
        const int none = QMessageBox::NoButton, yes = QMessageBox::Yes, no = QMessageBox::No;
        QTest::newRow("DHCP: at once, no echo") << kTakenAddress << true << 1 << none << "";
        QTest::newRow("static, free, pressed twice: once")
            << kFreeAddress << false << 2 << none << "";
        QTest::newRow("static, taken: Yes sends") << kTakenAddress << false << 1 << yes << "";
        QTest::newRow("static, taken: No stays open") << kTakenAddress << false << 1 << no << "";
        QTest::newRow("static, no address")
            << "0.0.0.0" << false << 1 << none << "The IP Address is not valid.";
        QTest::newRow("static, all-ones mask") << "10.255.255.1/255.255.255.255" << false << 1
                                               << none << "The subnet mask is not valid.";
    }

    void send()
    {
        QFETCH(QString, address);
        QFETCH(bool, automatic);
        QFETCH(int, presses);
        QFETCH(int, answer);
        QFETCH(QString, error);
        const ZelDevice device = deviceAt("10.0.0.5");
        CorlaConfigDialog dialog(device, nullptr);
        QVERIFY(dialog.netHostPane()->netHostInfo() == device.netHostInfo());
        QCOMPARE(dialog.netHostPane()->localIp(), TevIpAddr("10.0.0.9"));
        dialog.show();
        const QStringList parts = address.split('/');
        TevNetHostInfo edited = device.netHostInfo();
        edited.setIpAddress(TevIpAddr(parts.first().toStdString()));
        edited.setSubnet(TevIpAddr(parts.size() > 1 ? parts.last().toStdString() : "255.0.0.0"));
        edited.setAddressMode(automatic ? TevAddressModeAuto : TevAddressModeManual);
        dialog.netHostPane()->setNetHostInfo(edited);
        QSignalSpy spy(&dialog, &CorlaConfigDialog::configAccepted);
        QString asked;
        bool defaultNo = false;
        ModalBoxHandler<QMessageBox> box([&](QMessageBox* b) {
            asked = b->windowTitle() + '|' + b->text();
            defaultNo = b->defaultButton() == b->button(QMessageBox::No);
            if (QAbstractButton* button = b->button(QMessageBox::StandardButton(answer)))
                button->click();
            else
                b->reject();
        });

        for (int i = 0; i < presses; ++i)
            dialog.sendButton()->click();

        QCOMPARE(spy.count(), automatic ? 1 : 0); // only DHCP settings need no echo
        const bool sent = error.isEmpty() && answer != QMessageBox::No;
        const int asks = answer == QMessageBox::NoButton ? 0 : 1;
        QTRY_COMPARE_WITH_TIMEOUT(spy.count() + box.handled(), int(sent) + asks, 3000);
        QTest::qWait(200);
        QCOMPARE(spy.count(), int(sent));
        QCOMPARE(box.handled(), asks);
        QCOMPARE(dialog.isVisible(), !sent);
        if (sent) {
            QCOMPARE(spy.at(0).at(0).value<TevDevice>().serial(), device.serial());
            QVERIFY(spy.at(0).at(1).value<TevNetHostInfo>() == edited);
        }
        if (asks) {
            QCOMPARE(asked,
                     QStringLiteral("Duplicate IP Detected!|The IP address already exists on "
                                    "the current subnet. Using this address may cause network "
                                    "problems. Are you sure you want to use this address?"));
            QVERIFY(defaultNo);
        }
        auto* errorLine = dialog.findChild<QLabel*>(QStringLiteral("lblErrorDisplay"));
        QCOMPARE(errorLine->isVisible() ? errorLine->text() : QString(), error);
        if (answer == QMessageBox::No) {
            // Still usable: a second press asks again.
            dialog.sendButton()->click();
            QTRY_COMPARE_WITH_TIMEOUT(box.handled(), 2, 3000);
            QCOMPARE(spy.count(), 0);
        }
    }

    // The echo still completes and its checker reports to nobody.
    void resultAfterDialogIsGoneIsDropped()
    {
        ModalBoxHandler<QMessageBox> unexpected([](QMessageBox* box) { box->reject(); }, 1000);
        auto* dialog = new CorlaConfigDialog(deviceAt(kTakenAddress), nullptr);
        dialog->show();
        dialog->sendButton()->click();
        delete dialog;
        QTest::qWait(300);
        QCOMPARE(unexpected.handled(), 0);
    }
};

QTEST_MAIN(TstCorlaConfigDialog)
#include "tst_corlaconfigdialog.moc"
