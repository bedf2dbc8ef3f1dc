// SPDX-License-Identifier: Apache-2.0
// SPDX-FileCopyrightText: 2026 The Corla developers
#include "labguard.h"
#include "modalboxhandler.h"
#include "testdevice.h"
#include "tevnethostpane.h"
#include "zelcorlaadptr.h"

#include <QtTest>
#include <QtWidgets>

namespace {

const TevMacAddr kMac(std::array<uint8_t, 6>{0x5e, 0x4d, 0x3c, 0x2b, 0x1a, 0x00});
const QString kFirstOctet = QStringLiteral("first octet");
const QString kFirstOctetError =
    QStringLiteral("Please enter a value between 1 and 223, excluding 127.");
// Gateway and DNS server: the address field, its check box and its label.
const char* const kOptional[2][3] = {{"ipeGateway", "cbGatewayEnabled", "lblGateway"},
                                     {"ipeDnsServer", "cbDnsEnabled", "lblDns"}};

TevNetHostInfo settings(const char* gateway, const char* dns, int mode)
{
    return TevNetHostInfo(TevIpAddr("192.168.1.20"), TevIpAddr("255.255.255.252"),
                          TevIpAddr(gateway), TevIpAddr(dns), kMac, TevAddressMode(mode));
}

// The four octet texts as shown: "..." when all are empty.
QString shown(const TevIpEdit* edit)
{
    QStringList texts;
    for (int i = 0; i < 4; ++i)
        texts << edit->octetEdit(TevIpOctet(i))->text();
    return texts.join('.');
}

// Stands in for the network: Refresh's enquiry is counted, never sent.
constexpr quint64 kRefresh = 7;
class RefreshClient : public ZelCorlaAdapter
{
public:
    using ZelCorlaAdapter::netEnquire;
    quint64 netEnquire(const ZelDevice&) const override
    {
        ++enquiries;
        return kRefresh;
    }
    mutable int enquiries = 0;
};

} // namespace

class TstTevNetHostPane : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { CORLA_REQUIRE_PRIVATE_NETNS(); }
    void init()
    {
        m_pane = new TevNetHostPane(nullptr);
        m_pane->setNetHostInfo(settings("192.168.1.1", "192.168.1.2", TevAddressModeManual));
        m_pane->show();
        QApplication::setActiveWindow(m_pane);
        QVERIFY(QTest::qWaitForWindowActive(m_pane));
    }

    void cleanup()
    {
        delete m_pane;
        m_pane = nullptr;
    }

    void entries_data()
    {
        // A whole address finished past its end, or a first octet finished with Return,
        // which puts its class's mask in place of the subnet mask (the classes and the octets
        // allowed are the address rules' own, tested with them). Accepted: the pane stores
        // `stored` (for a first octet: as the mask). Refused: it shows `error` and keeps
        // everything as it was.
        QTest::addColumn<QString>("field");
        QTest::addColumn<QString>("entered");
        QTest::addColumn<QString>("stored");
        QTest::addColumn<QString>("error");
        const QString none, first = kFirstOctet;
        QTest::newRow("first octet 128") << first << "128" << QStringLiteral("255.255.0.0") << none;
        QTest::newRow("first octet 127") << first << "127" << none << kFirstOctetError;
        QTest::newRow("address") << "ipeIpAddr" << QStringLiteral("10.1.2.3") << "10.1.2.3" << none;
        QTest::newRow("address, first octet 0") << "ipeIpAddr" << QStringLiteral("0.1.2.3") << none
                                                << QStringLiteral("The IP Address is not valid.");
        QTest::newRow("all-ones mask") << "ipeSubnet" << QStringLiteral("255.255.255.255") << none
                                       << QStringLiteral("The subnet mask is not valid.");
        // A device refuses a static address without a mask.
        QTest::newRow("empty mask") << "ipeSubnet" << QStringLiteral("0.0.0.0") << none
                                    << QStringLiteral("The subnet mask is not valid.");
    }

    // Each row starts with an error showing, so an accepted entry must hide it.
    void entries()
    {
        QFETCH(QString, field);
        QFETCH(QString, entered);
        QFETCH(QString, stored);
        QFETCH(QString, error);
        finishAddress(child("ipeSubnet"), "255.0.255.0");
        QVERIFY(!shownError().isEmpty());
        const TevNetHostInfo before = m_pane->netHostInfo();
        TevIpOctetEdit* first = child("ipeIpAddr")->octetEdit(TevIpOctetFirst);
        if (field == kFirstOctet) {
            first->setFocus(Qt::OtherFocusReason);
            first->setText(entered);
            QTest::keyClick(first, Qt::Key_Return);
        } else {
            finishAddress(child(qPrintable(field)), qPrintable(entered));
        }

        QCOMPARE(shownError(), error);
        if (error.isEmpty()) {
            QCOMPARE(this->stored(field == kFirstOctet ? "ipeSubnet" : field), stored);
            if (field == kFirstOctet)
                QCOMPARE(shown(child("ipeSubnet")), stored);
            return;
        }
        QVERIFY(m_pane->netHostInfo() == before);
        if (error == kFirstOctetError) {
            // The refused octet keeps the focus, selected to be typed over, even against Tab.
            // (cleanup() then destroys the pane while it does, which finishes its editing again.)
            QVERIFY(first->hasFocus());
            QCOMPARE(first->selectedText(), entered);
            QTest::keyClick(first, Qt::Key_Tab);
            QVERIFY(first->hasFocus());
            QVERIFY(m_pane->netHostInfo() == before);
        }
    }

    void modeClicksEnableDetailsAndSetMode()
    {
        for (bool manual : {false, true}) {
            QTest::mouseClick(child<QRadioButton>(manual ? "rbModeManual" : "rbModeAuto"),
                              Qt::LeftButton);
            QCOMPARE(child<QGroupBox>("gbIpDetails")->isEnabled(), manual);
            QCOMPARE(child<QPushButton>("btnSuggest")->isEnabled(), manual);
            QCOMPARE(m_pane->netHostInfo().addressMode(),
                     manual ? TevAddressModeManual : TevAddressModeAuto);
        }
    }

    void optionalAddress_data()
    {
        QTest::addColumn<int>("which");
        QTest::newRow("gateway") << 0;
        QTest::newRow("dns server") << 1;
    }

    void optionalAddress()
    {
        QFETCH(int, which);
        const QString field = kOptional[which][0];
        auto* box = child<QCheckBox>(kOptional[which][1]);
        QCOMPARE(optional(which), QStringLiteral("on 192.168.1.%1").arg(which + 1));
        // Loaded as 0.0.0.0 ("not used"), it shows nothing at all; the other stays in use.
        m_pane->setNetHostInfo(settings(which ? "10.0.0.1" : "0.0.0.0",
                                        which ? "0.0.0.0" : "10.0.0.2", TevAddressModeManual));
        QCOMPARE(optional(which), QStringLiteral("off ..."));
        QCOMPARE(optional(1 - which), QStringLiteral("on 10.0.0.%1").arg(2 - which));
        // Checked, it offers an empty field and stores nothing until an entry is finished.
        QTest::mouseClick(box, Qt::LeftButton);
        QCOMPARE(optional(which), QStringLiteral("on ..."));
        QCOMPARE(stored(field), QStringLiteral("0.0.0.0"));
        finishAddress(child(kOptional[which][0]), "192.168.1.3");
        QCOMPARE(stored(field), QStringLiteral("192.168.1.3"));
        // Unchecked, it is cleared and not used again.
        QTest::mouseClick(box, Qt::LeftButton);
        QCOMPARE(optional(which), QStringLiteral("off ..."));
        QCOMPARE(stored(field), QStringLiteral("0.0.0.0"));
    }

    void answerToRefreshLoadsOnlyTheEditedDevice_data()
    {
        QTest::addColumn<bool>("paneHasMac");
        QTest::addColumn<bool>("sameMac");
        QTest::addColumn<quint64>("request");
        QTest::addColumn<bool>("loaded");
        QTest::newRow("the edited device answers") << true << true << kRefresh << true;
        QTest::newRow("another device answers") << true << false << kRefresh << false;
        QTest::newRow("pane without a MAC takes any answer") << false << false << kRefresh << true;
        QTest::newRow("the edited device, for another enquiry (the list's refresh)")
            << true << true << kRefresh + 1 << false;
    }

    // Loading another device's answer would make "Send to Device" reconfigure it; loading an
    // answer to another enquiry would change the fields while they are being edited.
    void answerToRefreshLoadsOnlyTheEditedDevice()
    {
        QFETCH(bool, paneHasMac);
        QFETCH(bool, sameMac);
        QFETCH(quint64, request);
        QFETCH(bool, loaded);
        auto* refresh = m_pane->findChild<QPushButton*>("btnRefresh");
        QVERIFY(!refresh->isEnabled());
        RefreshClient client;
        m_pane->setDiscoveryClient(&client);
        QVERIFY(refresh->isEnabled());
        TevNetHostInfo edited = m_pane->netHostInfo();
        if (!paneHasMac)
            edited.setMacAddress(TevMacAddr());
        m_pane->setNetHostInfo(edited);
        m_pane->setLocalIp(TevIpAddr("192.168.1.10"));
        auto device = testDevice(ZelDeviceType::NerioHF, 7,
                                 sameMac ? "00:1a:2b:3c:4d:5e" : "06:05:04:03:02:01", "10.0.0.5",
                                 TevAddressModeAuto);
        device->setCommsIfaceAddr(TevIpAddr("10.0.0.9"));

        QTest::mouseClick(refresh, Qt::LeftButton);
        QCOMPARE(client.enquiries, 1);
        emit client.enquiryAnswered(request, device);

        QVERIFY(m_pane->netHostInfo() == (loaded ? device->netHostInfo() : edited));
        QCOMPARE(m_pane->localIp(), TevIpAddr(loaded ? "10.0.0.9" : "192.168.1.10"));
    }

    // Without this computer's address there is no subnet: nothing is searched or changed.
    void searchWithoutLocalAddressWarnsAtOnce()
    {
        const TevNetHostInfo before = m_pane->netHostInfo();
        ModalBoxHandler<QProgressDialog> progress([](QProgressDialog* d) { d->cancel(); }, 2000);
        QString text;
        ModalBoxHandler<QMessageBox> warning([&](QMessageBox* box) {
            text = box->windowTitle() + '|' + box->text();
            box->accept();
        });

        QTest::mouseClick(child<QPushButton>("btnSuggest"), Qt::LeftButton);

        QCOMPARE(warning.handled(), 1);
        QCOMPARE(progress.handled(), 0);
        QCOMPARE(text, QStringLiteral(
                           "No address!|No available addresses were found on the current subnet."));
        QVERIFY(m_pane->netHostInfo() == before);
    }

private:
    template <typename T = TevIpEdit> T* child(const char* name) const
    {
        return m_pane->findChild<T*>(QLatin1String(name));
    }
    QString shownError() const
    {
        auto* line = child<QLabel>("lblErrorDisplay");
        return line->isVisible() ? line->text() : QString();
    }
    // What the pane stores for the address field of this name.
    QString stored(const QString& field) const
    {
        const TevNetHostInfo& info = m_pane->netHostInfo();
        return QString::fromStdString(field == "ipeIpAddr"    ? info.ipAddress().toString()
                                      : field == "ipeSubnet"  ? info.subnetMask().toString()
                                      : field == "ipeGateway" ? info.gateway().toString()
                                                              : info.dns().toString());
    }
    // "on" or "off" when the check box, the label and the field agree, then the field.
    QString optional(int which) const
    {
        const bool box = child<QCheckBox>(kOptional[which][1])->isChecked();
        const bool label = child<QLabel>(kOptional[which][2])->isEnabled();
        const bool field = child(kOptional[which][0])->isEnabled();
        const char* state = box != label || label != field ? "mixed " : box ? "on " : "off ";
        return state + shown(child(kOptional[which][0]));
    }
    // Leaves the address past its last octet (Right at the end), finishing the field.
    static void finishAddress(TevIpEdit* edit, const char* address)
    {
        edit->setAddress(TevIpAddr(address));
        TevIpOctetEdit* last = edit->octetEdit(TevIpOctetFourth);
        last->setFocus(Qt::OtherFocusReason);
        last->end(false);
        QTest::keyClick(last, Qt::Key_Right);
    }

    TevNetHostPane* m_pane = nullptr;
};

QTEST_MAIN(TstTevNetHostPane)
#include "tst_tevnethostpane.moc"
