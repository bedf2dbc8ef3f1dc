#include "corlaconfigdialog.h"
#include "modalboxhandler.h"
#include "tevnethostpane.h"

#include <QApplication>
#include <QDialogButtonBox>
#include <QGroupBox>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QtTest>

namespace {

const TevMacAddr kMac(std::array<uint8_t, 6>{0x5e, 0x4d, 0x3c, 0x2b, 0x1a, 0x00});
// Inside the private test namespace only loopback exists: every 127.x address
// answers an echo, and an address outside it has no route, so its echo fails at
// once.
constexpr const char* kTakenAddress = "127.0.0.1";
constexpr const char* kFreeAddress = "10.255.255.1";

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
    void formHasItsButtonsAndPane();
    void loadsTheDeviceIntoThePane();
    void automaticModeEmitsAtOnce();
    void staticFreeAddressEmitsAfterEcho();
    void staticTakenAddressAsks_data();
    void staticTakenAddressAsks();
    void cancelEmitsNothing();
    void quickRepeatedSendAcceptsOnce();
    void resultAfterDialogIsGoneIsDropped();
};

void TstCorlaConfigDialog::initTestCase()
{
    registerCorlaMetaTypes();
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
}

void TstCorlaConfigDialog::formHasItsButtonsAndPane()
{
    CorlaConfigDialog dialog(deviceWith("10.0.0.5", TevAddressModeManual), nullptr);
    auto* box = dialog.findChild<QDialogButtonBox*>(QStringLiteral("buttonBox"));
    QVERIFY(box);
    QCOMPARE(box->buttons().size(), 2);
    QVERIFY(box->button(QDialogButtonBox::Cancel));
    QCOMPARE(dialog.sendButton()->text(), QStringLiteral("Send to Device"));
    QCOMPARE(box->buttonRole(dialog.sendButton()), QDialogButtonBox::ActionRole);
    auto* pane = dialog.findChild<TevNetHostPane*>(QStringLiteral("frNetConfig"));
    QCOMPARE(pane, dialog.netHostPane());
    QCOMPARE(pane->frameShape(), QFrame::StyledPanel);
    QCOMPARE(pane->frameShadow(), QFrame::Raised);
}

void TstCorlaConfigDialog::loadsTheDeviceIntoThePane()
{
    const ZelDevice device = deviceWith("10.0.0.5", TevAddressModeManual);
    CorlaConfigDialog dialog(device, nullptr);
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
