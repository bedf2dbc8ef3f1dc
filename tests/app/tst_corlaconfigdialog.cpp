#include "corlaconfigdialog.h"
#include "modalboxhandler.h"
#include "tevnethostpane.h"

#include <QApplication>
#include <QDialogButtonBox>
#include <QGroupBox>
#include <QLabel>
#include <QMessageBox>
#include <QPointer>
#include <QProcess>
#include <QPushButton>
#include <QtTest>

#include <unistd.h>

namespace {

const TevMacAddr kMac(std::array<uint8_t, 6>{0x5e, 0x4d, 0x3c, 0x2b, 0x1a, 0x00});
// Inside the private test namespace only loopback exists. The test gives it the
// "taken" address, which then answers echoes; the "free" one has no route, so its
// echo fails at once.
constexpr const char* kTakenAddress = "10.99.99.1";
constexpr const char* kFreeAddress = "10.255.255.1";

// Echoes to these addresses must never leave the machine: only scripts/netns-run's
// namespace (or the lab's host side) is safe.
bool inPrivateNetns()
{
    char link[64] = {};
    const ssize_t n = ::readlink("/proc/self/ns/net", link, sizeof link - 1);
    const QByteArray mark = qgetenv("CORLA_IN_NETNS");
    return n > 0 && !mark.isEmpty() && mark == QByteArray(link, static_cast<int>(n));
}

ZelDevice deviceWith(const char* ip, TevAddressMode mode)
{
    ZelDevice device(1234, ZelDeviceType::NerioHF,
                     TevNetHostInfo(TevIpAddr(ip), TevIpAddr("255.0.0.0"), TevIpAddr("10.0.0.1"),
                                    TevIpAddr(0u), kMac, mode));
    device.setCommsIfaceAddr(TevIpAddr("10.0.0.9"));
    return device;
}

using BoxHandler = ModalBoxHandler<QMessageBox>;

} // namespace

class TstCorlaConfigDialog : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();

    void titlesNameTheDevice();
    void loadsTheDeviceIntoThePane();
    void automaticModeEmitsAtOnce();
    void staticFreeAddressEmitsAfterEcho();
    void staticTakenAddressAsks_data();
    void staticTakenAddressAsks();
    void cancelEmitsNothing();
    void refusedStaticSettingsAreNotSent_data();
    void refusedStaticSettingsAreNotSent();
    void quickRepeatedSendAcceptsOnce();
    void resultAfterDialogIsGoneIsDropped();
};

void TstCorlaConfigDialog::initTestCase()
{
    registerCorlaMetaTypes();
    QVERIFY2(inPrivateNetns(), "this test sends ICMP echoes: run it through scripts/netns-run");
    QProcess ip;
    ip.setProcessChannelMode(QProcess::MergedChannels);
    ip.start(QStringLiteral("ip"),
             {"addr", "replace", QStringLiteral("%1/32").arg(kTakenAddress), "dev", "lo"});
    QVERIFY(ip.waitForFinished(10000));
    QVERIFY2(ip.exitCode() == 0, ip.readAll().constData());
}

void TstCorlaConfigDialog::titlesNameTheDevice()
{
    const ZelDevice device = deviceWith("10.0.0.5", TevAddressModeManual);
    CorlaConfigDialog dialog(device, nullptr);
    const QString name = QString::fromStdString(device.friendlyName());
    QVERIFY(!name.isEmpty());
    QCOMPARE(dialog.windowTitle(), QStringLiteral("Configure ") + name);
    auto* group = dialog.findChild<QGroupBox*>(QStringLiteral("gbDevicePanel"));
    QVERIFY(group);
    QCOMPARE(group->title(), name);
    QVERIFY(group->font().bold());

    auto* box = dialog.findChild<QDialogButtonBox*>(QStringLiteral("buttonBox"));
    QCOMPARE(box->buttons().size(), 2);
    QVERIFY(box->button(QDialogButtonBox::Cancel));
    QCOMPARE(dialog.sendButton()->text(), QStringLiteral("Send to Device"));
    QCOMPARE(box->buttonRole(dialog.sendButton()), QDialogButtonBox::ActionRole);
}

void TstCorlaConfigDialog::loadsTheDeviceIntoThePane()
{
    const ZelDevice device = deviceWith("10.0.0.5", TevAddressModeManual);
    CorlaConfigDialog dialog(device, nullptr);
    QCOMPARE(dialog.findChild<TevNetHostPane*>(QStringLiteral("frNetConfig")),
             dialog.netHostPane());
    QVERIFY(dialog.netHostPane()->netHostInfo() == device.netHostInfo());
    QCOMPARE(dialog.netHostPane()->localIp(), TevIpAddr("10.0.0.9"));
}

void TstCorlaConfigDialog::automaticModeEmitsAtOnce()
{
    const ZelDevice device = deviceWith(kTakenAddress, TevAddressModeAuto);
    CorlaConfigDialog dialog(device, nullptr);
    dialog.show();
    QSignalSpy spy(&dialog, &CorlaConfigDialog::configAccepted);

    dialog.sendButton()->click();

    // No echo, no question (the address is one that would answer): accepted
    // synchronously.
    QCOMPARE(spy.count(), 1);
    QVERIFY(!dialog.isVisible());
    QCOMPARE(dialog.result(), int(QDialog::Accepted));
    const TevDevice sent = spy.at(0).at(0).value<TevDevice>();
    QCOMPARE(sent.serial(), device.serial());
    QCOMPARE(sent.devType(), device.devType());
    QVERIFY(spy.at(0).at(1).value<TevNetHostInfo>() == device.netHostInfo());
    QTest::qWait(150);
    QCOMPARE(spy.count(), 1);
}

void TstCorlaConfigDialog::staticFreeAddressEmitsAfterEcho()
{
    const ZelDevice device = deviceWith("10.0.0.5", TevAddressModeManual);
    CorlaConfigDialog dialog(device, nullptr);
    dialog.show();
    TevNetHostInfo edited = device.netHostInfo();
    edited.setIpAddress(TevIpAddr(kFreeAddress));
    dialog.netHostPane()->setNetHostInfo(edited);
    QSignalSpy spy(&dialog, &CorlaConfigDialog::configAccepted);
    BoxHandler unexpected([](QMessageBox* box) { box->reject(); }, 1000);

    dialog.sendButton()->click();
    QCOMPARE(spy.count(), 0); // the echo runs first
    QVERIFY(dialog.isVisible());

    QVERIFY(spy.wait(2000));
    QCOMPARE(spy.count(), 1);
    QCOMPARE(unexpected.handled(), 0);
    QVERIFY(!dialog.isVisible());
    QVERIFY(spy.at(0).at(1).value<TevNetHostInfo>() == edited);
    QCOMPARE(spy.at(0).at(0).value<TevDevice>().serial(), device.serial());
}

void TstCorlaConfigDialog::staticTakenAddressAsks_data()
{
    QTest::addColumn<bool>("answerYes");
    QTest::newRow("Yes uses the address") << true;
    QTest::newRow("No keeps the dialog open") << false;
}

void TstCorlaConfigDialog::staticTakenAddressAsks()
{
    QFETCH(bool, answerYes);
    CorlaConfigDialog dialog(deviceWith(kTakenAddress, TevAddressModeManual), nullptr);
    dialog.show();
    QSignalSpy spy(&dialog, &CorlaConfigDialog::configAccepted);
    QString title, text;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    QMessageBox::StandardButtons buttons;
    QAbstractButton* defaultButton = nullptr;
    QAbstractButton* noButton = nullptr;
    BoxHandler handler([&](QMessageBox* box) {
        title = box->windowTitle();
        text = box->text();
        icon = box->icon();
        buttons = box->standardButtons();
        defaultButton = box->defaultButton();
        noButton = box->button(QMessageBox::No);
        box->button(answerYes ? QMessageBox::Yes : QMessageBox::No)->click();
    });

    dialog.sendButton()->click();
    QTRY_COMPARE_WITH_TIMEOUT(handler.handled(), 1, 3000);

    QCOMPARE(title, QStringLiteral("Duplicate IP Detected!"));
    QCOMPARE(text, QStringLiteral("The IP address already exists on the current subnet. Using "
                                  "this address may cause network problems. Are you sure you "
                                  "want to use this address?"));
    QCOMPARE(icon, QMessageBox::Warning);
    QCOMPARE(buttons, QMessageBox::Yes | QMessageBox::No);
    QCOMPARE(defaultButton, noButton);
    QCOMPARE(spy.count(), answerYes ? 1 : 0);
    QCOMPARE(dialog.isVisible(), !answerYes);
    QTest::qWait(100);
    QCOMPARE(handler.handled(), 1);
    QCOMPARE(spy.count(), answerYes ? 1 : 0);

    if (!answerYes) {
        // Still usable: a second press asks again.
        dialog.sendButton()->click();
        QTRY_COMPARE_WITH_TIMEOUT(handler.handled(), 2, 3000);
        QCOMPARE(spy.count(), 0);
    }
}

void TstCorlaConfigDialog::cancelEmitsNothing()
{
    CorlaConfigDialog dialog(deviceWith("10.0.0.5", TevAddressModeAuto), nullptr);
    dialog.show();
    QSignalSpy accepted(&dialog, &CorlaConfigDialog::configAccepted);
    QSignalSpy rejected(&dialog, &QDialog::rejected);
    auto* box = dialog.findChild<QDialogButtonBox*>(QStringLiteral("buttonBox"));

    box->button(QDialogButtonBox::Cancel)->click();

    QVERIFY(!dialog.isVisible());
    QCOMPARE(rejected.count(), 1);
    QTest::qWait(100);
    QCOMPARE(accepted.count(), 0);
}

void TstCorlaConfigDialog::refusedStaticSettingsAreNotSent_data()
{
    QTest::addColumn<QString>("address");
    QTest::addColumn<QString>("mask");
    QTest::addColumn<QString>("error");
    QTest::newRow("no address yet") << "0.0.0.0"
                                    << "255.0.0.0"
                                    << "The IP Address is not valid.";
    QTest::newRow("loopback address") << "127.0.0.5"
                                      << "255.0.0.0"
                                      << "The IP Address is not valid.";
    QTest::newRow("multicast address") << "224.0.0.5"
                                       << "255.255.255.0"
                                       << "The IP Address is not valid.";
    QTest::newRow("all-ones mask") << kFreeAddress << "255.255.255.255"
                                   << "The subnet mask is not valid.";
}

void TstCorlaConfigDialog::refusedStaticSettingsAreNotSent()
{
    // Settings loaded from a device never went through the pane's field checks.
    QFETCH(QString, address);
    QFETCH(QString, mask);
    QFETCH(QString, error);
    ZelDevice device = deviceWith(qPrintable(address), TevAddressModeManual);
    TevNetHostInfo loaded = device.netHostInfo();
    loaded.setSubnet(TevIpAddr(mask.toStdString()));
    device.setNetHostInfo(loaded);
    CorlaConfigDialog dialog(device, nullptr);
    dialog.show();
    QSignalSpy spy(&dialog, &CorlaConfigDialog::configAccepted);
    BoxHandler unexpected([](QMessageBox* box) { box->reject(); }, 1000);

    dialog.sendButton()->click();

    auto* errorLine = dialog.findChild<QLabel*>(QStringLiteral("lblErrorDisplay"));
    QVERIFY(errorLine->isVisible());
    QCOMPARE(errorLine->text(), error);
    QTest::qWait(200);
    QCOMPARE(spy.count(), 0);
    QCOMPARE(unexpected.handled(), 0);
    QVERIFY(dialog.isVisible());
}

void TstCorlaConfigDialog::quickRepeatedSendAcceptsOnce()
{
    const ZelDevice device = deviceWith(kFreeAddress, TevAddressModeManual);
    CorlaConfigDialog dialog(device, nullptr);
    dialog.show();
    QSignalSpy spy(&dialog, &CorlaConfigDialog::configAccepted);

    dialog.sendButton()->click();
    dialog.sendButton()->click();

    QVERIFY(spy.wait(2000));
    QTest::qWait(200);
    QCOMPARE(spy.count(), 1);
}

void TstCorlaConfigDialog::resultAfterDialogIsGoneIsDropped()
{
    BoxHandler unexpected([](QMessageBox* box) { box->reject(); }, 1000);
    {
        QPointer<CorlaConfigDialog> dialog =
            new CorlaConfigDialog(deviceWith(kTakenAddress, TevAddressModeManual), nullptr);
        dialog->show();
        dialog->sendButton()->click();
        delete dialog;
    }
    // The echo still completes and its checker reports to nobody.
    QTest::qWait(300);
    QCOMPARE(unexpected.handled(), 0);
}

QTEST_MAIN(TstCorlaConfigDialog)
#include "tst_corlaconfigdialog.moc"
