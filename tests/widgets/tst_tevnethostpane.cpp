#include "modalboxhandler.h"
#include "tevipedit.h"
#include "tevnethostpane.h"
#include "zelcorlaadptr.h"
#include "zeldevice.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QGroupBox>
#include <QLabel>
#include <QProgressDialog>
#include <QPushButton>
#include <QRadioButton>
#include <QtTest>

namespace {

const TevMacAddr kMac(std::array<uint8_t, 6>{0x5e, 0x4d, 0x3c, 0x2b, 0x1a, 0x00});

TevNetHostInfo settings(const char* ip, const char* mask, const char* gateway, const char* dns,
                        TevAddressMode mode)
{
    return TevNetHostInfo(TevIpAddr(ip), TevIpAddr(mask), TevIpAddr(gateway), TevIpAddr(dns), kMac,
                          mode);
}

QString ipText(const TevIpAddr& address)
{
    return QString::fromStdString(address.toString());
}

bool isEmptyEdit(const TevIpEdit* edit)
{
    for (uint8_t i = 0; i < 4; ++i) {
        if (!edit->octetEdit(static_cast<TevIpOctet>(i))->text().isEmpty())
            return false;
    }
    return true;
}

} // namespace

class TstTevNetHostPane : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void startsWithHiddenRedErrorLineAndNoMode();

    void firstOctetFillsDefaultMask_data();
    void firstOctetFillsDefaultMask();
    void refusedFirstOctetKeepsMaskAndReselects_data();
    void refusedFirstOctetKeepsMaskAndReselects();

    void fieldChecksStoreOrShowError_data();
    void fieldChecksStoreOrShowError();
    void nextCheckHidesPreviousError();

    void loadingShowsSettings();
    void loadingZeroGatewayAndDnsDisablesThem_data();
    void loadingZeroGatewayAndDnsDisablesThem();
    void loadingLeavesRadiosAloneForUnsetMode();

    void uncheckingOptionalAddressClearsIt_data();
    void uncheckingOptionalAddressClearsIt();
    void modeClicksEnableDetailsAndSetMode();

    void answerToRefreshLoadsOnlyTheEditedDevice_data();
    void answerToRefreshLoadsOnlyTheEditedDevice();
    void searchWithoutLocalAddressWarnsAtOnce();
    void destroyedWhileFirstOctetIsRefused();

private:
    template <typename T> T* child(const char* name) const
    {
        T* widget = m_pane->findChild<T*>(QLatin1String(name));
        Q_ASSERT(widget);
        return widget;
    }
    TevIpEdit* edit(const char* name) const { return child<TevIpEdit>(name); }
    QLabel* errorLine() const { return child<QLabel>("lblErrorDisplay"); }
    // Types into one octet and finishes it with Return, as the user does.
    void typeOctet(TevIpEdit* edit, TevIpOctet octet, const QString& text);
    // Leaves the address past its last octet (Right at the end), finishing the
    // whole field.
    void finishAddress(TevIpEdit* edit, const TevIpAddr& address);

    TevNetHostPane* m_pane = nullptr;
};

void TstTevNetHostPane::init()
{
    m_pane = new TevNetHostPane(nullptr);
    m_pane->setNetHostInfo(settings("192.168.1.20", "255.255.255.252", "192.168.1.1", "192.168.1.2",
                                    TevAddressModeManual));
    m_pane->show();
    QApplication::setActiveWindow(m_pane);
    QVERIFY(QTest::qWaitForWindowActive(m_pane));
}

void TstTevNetHostPane::cleanup()
{
    delete m_pane;
    m_pane = nullptr;
}

void TstTevNetHostPane::typeOctet(TevIpEdit* edit, TevIpOctet octet, const QString& text)
{
    TevIpOctetEdit* field = edit->octetEdit(octet);
    field->setFocus(Qt::OtherFocusReason);
    field->clear();
    QTest::keyClicks(field, text);
    QTest::keyClick(field, Qt::Key_Return);
}

void TstTevNetHostPane::finishAddress(TevIpEdit* edit, const TevIpAddr& address)
{
    edit->setAddress(address);
    TevIpOctetEdit* last = edit->octetEdit(TevIpOctetFourth);
    last->setFocus(Qt::OtherFocusReason);
    last->end(false);
    QTest::keyClick(last, Qt::Key_Right);
}

void TstTevNetHostPane::startsWithHiddenRedErrorLineAndNoMode()
{
    TevNetHostPane fresh(nullptr);
    auto* error = fresh.findChild<QLabel*>(QStringLiteral("lblErrorDisplay"));
    QVERIFY(error);
    QVERIFY(error->isHidden());
    for (auto group : {QPalette::Active, QPalette::Inactive, QPalette::Disabled})
        QCOMPARE(error->palette().color(group, QPalette::WindowText), QColor(Qt::red));

    auto* buttons = fresh.findChild<QButtonGroup*>(QStringLiteral("buttonGroup"));
    QVERIFY(buttons);
    QVERIFY(buttons->exclusive());
    QCOMPARE(buttons->buttons().size(), 2);
    QVERIFY(!buttons->checkedButton());
}

void TstTevNetHostPane::firstOctetFillsDefaultMask_data()
{
    QTest::addColumn<QString>("octet");
    QTest::addColumn<QString>("mask");
    QTest::newRow("lowest host octet 1") << "1"
                                         << "255.0.0.0";
    QTest::newRow("class A 10") << "10"
                                << "255.0.0.0";
    QTest::newRow("126, just below loopback") << "126"
                                              << "255.0.0.0";
    QTest::newRow("128, first class B") << "128"
                                        << "255.255.0.0";
    QTest::newRow("class B 172") << "172"
                                 << "255.255.0.0";
    QTest::newRow("class C 192") << "192"
                                 << "255.255.255.0";
    QTest::newRow("223, last class C") << "223"
                                       << "255.255.255.0";
}

void TstTevNetHostPane::firstOctetFillsDefaultMask()
{
    QFETCH(QString, octet);
    QFETCH(QString, mask);
    // An entered mask is replaced every time the first octet is edited.
    finishAddress(edit("ipeSubnet"), TevIpAddr("255.255.255.128"));
    QCOMPARE(ipText(m_pane->netHostInfo().subnetMask()), QStringLiteral("255.255.255.128"));

    typeOctet(edit("ipeIpAddr"), TevIpOctetFirst, octet);

    QCOMPARE(ipText(edit("ipeSubnet")->address()), mask);
    QCOMPARE(ipText(m_pane->netHostInfo().subnetMask()), mask);
    QVERIFY(errorLine()->isHidden());
    QCOMPARE(errorLine()->text(), QStringLiteral("No error."));
}

void TstTevNetHostPane::refusedFirstOctetKeepsMaskAndReselects_data()
{
    QTest::addColumn<QString>("octet");
    QTest::newRow("0, this network") << "0";
    QTest::newRow("127, loopback") << "127";
    QTest::newRow("224, multicast") << "224";
    QTest::newRow("255, reserved") << "255";
}

void TstTevNetHostPane::refusedFirstOctetKeepsMaskAndReselects()
{
    QFETCH(QString, octet);
    TevIpEdit* address = edit("ipeIpAddr");
    QSignalSpy finished(address, &TevIpEdit::editingFinished);

    typeOctet(address, TevIpOctetFirst, octet);

    QVERIFY(errorLine()->isVisible());
    QCOMPARE(errorLine()->text(),
             QStringLiteral("Please enter a value between 1 and 223, excluding 127."));
    QCOMPARE(ipText(m_pane->netHostInfo().subnetMask()), QStringLiteral("255.255.255.252"));
    QCOMPARE(ipText(edit("ipeSubnet")->address()), QStringLiteral("255.255.255.252"));
    TevIpOctetEdit* first = address->octetEdit(TevIpOctetFirst);
    QVERIFY(first->hasFocus());
    QCOMPARE(first->selectedText(), octet);

    // Tabbing away is refused the same way: focus comes back, the address is not
    // stored.
    QTest::keyClick(first, Qt::Key_Tab);
    QVERIFY(first->hasFocus());
    QCOMPARE(finished.count(), 0);
    QCOMPARE(ipText(m_pane->netHostInfo().ipAddress()), QStringLiteral("192.168.1.20"));
}

void TstTevNetHostPane::fieldChecksStoreOrShowError_data()
{
    QTest::addColumn<QString>("field");
    QTest::addColumn<QString>("entered");
    QTest::addColumn<QString>("error"); // empty: accepted and stored
    QTest::newRow("address accepted") << "ipeIpAddr"
                                      << "10.1.2.3"
                                      << "";
    QTest::newRow("address with refused first octet") << "ipeIpAddr"
                                                      << "0.1.2.3"
                                                      << "The IP Address is not valid.";
    QTest::newRow("all-ones mask refused") << "ipeSubnet"
                                           << "255.255.255.255"
                                           << "The subnet mask is not valid.";
    QTest::newRow("mask with a hole refused") << "ipeSubnet"
                                              << "255.0.255.0"
                                              << "The subnet mask is not valid.";
    QTest::newRow("empty mask accepted") << "ipeSubnet"
                                         << "0.0.0.0"
                                         << "";
    QTest::newRow("longest mask accepted") << "ipeSubnet"
                                           << "255.255.255.254"
                                           << "";
    QTest::newRow("gateway accepted") << "ipeGateway"
                                      << "10.1.2.254"
                                      << "";
    QTest::newRow("dns accepted") << "ipeDnsServer"
                                  << "8.8.4.4"
                                  << "";
}

void TstTevNetHostPane::fieldChecksStoreOrShowError()
{
    QFETCH(QString, field);
    QFETCH(QString, entered);
    QFETCH(QString, error);
    const TevNetHostInfo before = m_pane->netHostInfo();

    finishAddress(edit(qPrintable(field)), TevIpAddr(entered.toStdString()));

    const TevNetHostInfo& after = m_pane->netHostInfo();
    const QHash<QString, TevIpAddr> stored{{"ipeIpAddr", after.ipAddress()},
                                           {"ipeSubnet", after.subnetMask()},
                                           {"ipeGateway", after.gateway()},
                                           {"ipeDnsServer", after.dns()}};
    if (error.isEmpty()) {
        QVERIFY(errorLine()->isHidden());
        QCOMPARE(ipText(stored.value(field)), entered);
    } else {
        QVERIFY(errorLine()->isVisible());
        QCOMPARE(errorLine()->text(), error);
        QVERIFY(after == before);
    }
}

void TstTevNetHostPane::nextCheckHidesPreviousError()
{
    finishAddress(edit("ipeSubnet"), TevIpAddr("255.255.255.255"));
    QVERIFY(errorLine()->isVisible());
    finishAddress(edit("ipeGateway"), TevIpAddr("192.168.1.254"));
    QVERIFY(errorLine()->isHidden());
    QCOMPARE(errorLine()->text(), QStringLiteral("No error."));
}

void TstTevNetHostPane::loadingShowsSettings()
{
    const TevNetHostInfo loaded =
        settings("10.0.0.5", "255.0.0.0", "10.0.0.1", "10.0.0.2", TevAddressModeAuto);
    m_pane->setNetHostInfo(loaded);

    QVERIFY(m_pane->netHostInfo() == loaded);
    QCOMPARE(child<QLabel>("lblMacAddress")->text(), QStringLiteral("00:1a:2b:3c:4d:5e"));
    QCOMPARE(edit("ipeIpAddr")->address(), loaded.ipAddress());
    QCOMPARE(edit("ipeSubnet")->address(), loaded.subnetMask());
    QCOMPARE(edit("ipeGateway")->address(), loaded.gateway());
    QCOMPARE(edit("ipeDnsServer")->address(), loaded.dns());
    QVERIFY(child<QRadioButton>("rbModeAuto")->isChecked());
    QVERIFY(!child<QGroupBox>("gbIpDetails")->isEnabled());
    QVERIFY(!child<QPushButton>("btnSuggest")->isEnabled());
}

void TstTevNetHostPane::loadingZeroGatewayAndDnsDisablesThem_data()
{
    QTest::addColumn<QString>("gateway");
    QTest::addColumn<QString>("dns");
    QTest::newRow("zero gateway, dns set") << "0.0.0.0"
                                           << "10.0.0.2";
    QTest::newRow("gateway set, zero dns") << "10.0.0.1"
                                           << "0.0.0.0";
    QTest::newRow("both zero") << "0.0.0.0"
                               << "0.0.0.0";
}

void TstTevNetHostPane::loadingZeroGatewayAndDnsDisablesThem()
{
    QFETCH(QString, gateway);
    QFETCH(QString, dns);
    m_pane->setNetHostInfo(settings("10.0.0.5", "255.0.0.0", qPrintable(gateway), qPrintable(dns),
                                    TevAddressModeManual));

    const struct
    {
        QString address;
        const char* edit;
        const char* box;
        const char* label;
    } optional[] = {{gateway, "ipeGateway", "cbGatewayEnabled", "lblGateway"},
                    {dns, "ipeDnsServer", "cbDnsEnabled", "lblDns"}};
    for (const auto& o : optional) {
        const bool used = o.address != QLatin1String("0.0.0.0");
        QCOMPARE(isEmptyEdit(edit(o.edit)), !used);
        QCOMPARE(edit(o.edit)->isEnabled(), used);
        QCOMPARE(child<QLabel>(o.label)->isEnabled(), used);
        QCOMPARE(child<QCheckBox>(o.box)->isChecked(), used);
    }
    QVERIFY(child<QGroupBox>("gbIpDetails")->isEnabled());
    QVERIFY(child<QPushButton>("btnSuggest")->isEnabled());
}

void TstTevNetHostPane::loadingLeavesRadiosAloneForUnsetMode()
{
    m_pane->setNetHostInfo(
        settings("10.0.0.5", "255.0.0.0", "0.0.0.0", "0.0.0.0", TevAddressModeNotSet));
    QVERIFY(child<QRadioButton>("rbModeManual")->isChecked());
    QVERIFY(child<QGroupBox>("gbIpDetails")->isEnabled());
    // Loading runs none of the click actions: the stored mode stays what was
    // loaded.
    QCOMPARE(m_pane->netHostInfo().addressMode(), TevAddressModeNotSet);
}

void TstTevNetHostPane::uncheckingOptionalAddressClearsIt_data()
{
    QTest::addColumn<QString>("editName");
    QTest::addColumn<QString>("boxName");
    QTest::addColumn<QString>("labelName");
    QTest::newRow("gateway") << "ipeGateway"
                             << "cbGatewayEnabled"
                             << "lblGateway";
    QTest::newRow("dns server") << "ipeDnsServer"
                                << "cbDnsEnabled"
                                << "lblDns";
}

void TstTevNetHostPane::uncheckingOptionalAddressClearsIt()
{
    QFETCH(QString, editName);
    QFETCH(QString, boxName);
    QFETCH(QString, labelName);
    TevIpEdit* field = edit(qPrintable(editName));
    auto* box = child<QCheckBox>(qPrintable(boxName));
    auto* label = child<QLabel>(qPrintable(labelName));
    const auto stored = [&] {
        return editName == QLatin1String("ipeGateway") ? m_pane->netHostInfo().gateway()
                                                       : m_pane->netHostInfo().dns();
    };

    QTest::mouseClick(box, Qt::LeftButton);
    QVERIFY(!box->isChecked());
    QVERIFY(isEmptyEdit(field));
    QVERIFY(!field->isEnabled());
    QVERIFY(!label->isEnabled());
    QCOMPARE(stored().toInt(), 0u);

    // Checking again offers an empty field and stores nothing until an entry is
    // finished.
    QTest::mouseClick(box, Qt::LeftButton);
    QVERIFY(field->isEnabled());
    QVERIFY(label->isEnabled());
    QVERIFY(isEmptyEdit(field));
    QCOMPARE(stored().toInt(), 0u);
    finishAddress(field, TevIpAddr("192.168.1.3"));
    QCOMPARE(ipText(stored()), QStringLiteral("192.168.1.3"));
}

void TstTevNetHostPane::modeClicksEnableDetailsAndSetMode()
{
    m_pane->setNetHostInfo(
        settings("10.0.0.5", "255.0.0.0", "0.0.0.0", "0.0.0.0", TevAddressModeAuto));
    auto* details = child<QGroupBox>("gbIpDetails");
    auto* suggest = child<QPushButton>("btnSuggest");
    QVERIFY(!details->isEnabled());
    QVERIFY(!suggest->isEnabled());

    QTest::mouseClick(child<QRadioButton>("rbModeManual"), Qt::LeftButton);
    QVERIFY(details->isEnabled());
    QVERIFY(suggest->isEnabled());
    QCOMPARE(m_pane->netHostInfo().addressMode(), TevAddressModeManual);
    QVERIFY(!child<QRadioButton>("rbModeAuto")->isChecked());

    QTest::mouseClick(child<QRadioButton>("rbModeAuto"), Qt::LeftButton);
    QVERIFY(!details->isEnabled());
    QVERIFY(!suggest->isEnabled());
    QCOMPARE(m_pane->netHostInfo().addressMode(), TevAddressModeAuto);
}

void TstTevNetHostPane::answerToRefreshLoadsOnlyTheEditedDevice_data()
{
    QTest::addColumn<bool>("paneHasMac");
    QTest::addColumn<bool>("sameMac");
    QTest::addColumn<bool>("loaded");
    QTest::newRow("the edited device answers") << true << true << true;
    QTest::newRow("another device answers") << true << false << false;
    QTest::newRow("pane without a MAC takes any answer") << false << false << true;
}

void TstTevNetHostPane::answerToRefreshLoadsOnlyTheEditedDevice()
{
    QFETCH(bool, paneHasMac);
    QFETCH(bool, sameMac);
    QFETCH(bool, loaded);
    TevNetHostInfo edited = m_pane->netHostInfo();
    if (!paneHasMac)
        edited.setMacAddress(TevMacAddr());
    m_pane->setNetHostInfo(edited);
    m_pane->setLocalIp(TevIpAddr("192.168.1.10"));

    TevNetHostInfo reported =
        settings("10.0.0.5", "255.0.0.0", "0.0.0.0", "0.0.0.0", TevAddressModeAuto);
    if (!sameMac)
        reported.setMacAddress(TevMacAddr(std::array<uint8_t, 6>{1, 2, 3, 4, 5, 6}));
    auto device = TevDevice::createDevice(ZelDeviceType::NerioHF);
    device->setNetHostInfo(reported);
    device->setCommsIfaceAddr(TevIpAddr("10.0.0.9"));

    auto* adapter = m_pane->findChild<ZelCorlaAdapter*>();
    QVERIFY(adapter);
    emit adapter->deviceFound(device);

    QCOMPARE(m_pane->netHostInfo() == reported, loaded);
    QCOMPARE(m_pane->netHostInfo() == edited, !loaded);
    QCOMPARE(ipText(m_pane->localIp()),
             loaded ? QStringLiteral("10.0.0.9") : QStringLiteral("192.168.1.10"));
    QCOMPARE(child<QRadioButton>("rbModeAuto")->isChecked(), loaded);
}

void TstTevNetHostPane::searchWithoutLocalAddressWarnsAtOnce()
{
    // Without this computer's address there is no subnet: nothing is searched or changed.
    const TevNetHostInfo before = m_pane->netHostInfo();
    ModalBoxHandler<QProgressDialog> progress([](QProgressDialog* d) { d->cancel(); }, 2000);
    QString title, text;
    ModalBoxHandler<QMessageBox> warning([&](QMessageBox* box) {
        title = box->windowTitle();
        text = box->text();
        box->accept();
    });

    QTest::mouseClick(child<QPushButton>("btnSuggest"), Qt::LeftButton);

    QCOMPARE(warning.handled(), 1);
    QCOMPARE(progress.handled(), 0);
    QCOMPARE(title, QStringLiteral("No address!"));
    QCOMPARE(text, QStringLiteral("No available addresses were found on the current subnet."));
    QVERIFY(m_pane->netHostInfo() == before);
}

void TstTevNetHostPane::destroyedWhileFirstOctetIsRefused()
{
    // Destruction moves focus out of the refused octet, which finishes its editing again.
    typeOctet(edit("ipeIpAddr"), TevIpOctetFirst, QStringLiteral("0"));
    QVERIFY(edit("ipeIpAddr")->octetEdit(TevIpOctetFirst)->hasFocus());
    delete m_pane;
    m_pane = nullptr;
}

QTEST_MAIN(TstTevNetHostPane)
#include "tst_tevnethostpane.moc"
