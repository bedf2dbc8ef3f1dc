// SPDX-License-Identifier: Apache-2.0
// SPDX-FileCopyrightText: 2026 The Corla developers
#include "core/discovery/discoveryclient.h"
#include "tests/support/datarow.h"
#include "tests/support/labguard.h"
#include "tests/support/testdevice.h"
#include "ui/networksettingspane.h"

#include <QtTest>
#include <QtWidgets>

using namespace corla;

namespace {

const char* const kFirstOctetError = "Please enter a value between 1 and 223, excluding 127.";
// Gateway and DNS server: the address field, its check box and its label.
const char* const kOptional[2][3] = {{"ipeGateway", "cbGatewayEnabled", "lblGateway"},
                                     {"ipeDnsServer", "cbDnsEnabled", "lblDns"}};

NetworkSettings settings(const char* gateway, const char* dns)
{
    return NetworkSettings(Ipv4Address("192.168.1.20"), Ipv4Address("255.255.255.252"),
                           Ipv4Address(gateway), Ipv4Address(dns), macOf("00:1a:2b:3c:4d:5e"),
                           AddressModeStatic);
}

QString shown(const Ipv4Edit* edit)
{
    QStringList texts;
    for (int i = 0; i < 4; ++i)
        texts << edit->octetEdit(OctetPosition(i))->text();
    return texts.join('.');
}

// Stands in for the network: Refresh's enquiry is counted, never sent.
constexpr quint64 kRefresh = 7;
class RefreshClient : public DiscoveryClient
{
public:
    using DiscoveryClient::netEnquire;
    quint64 netEnquire(const Device&) const override
    {
        ++enquiries;
        return kRefresh;
    }
    mutable int enquiries = 0;
};

} // namespace

class TstNetworkSettingsPane : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { CORLA_REQUIRE_PRIVATE_NETNS(); }
    void init()
    {
        m_pane = new NetworkSettingsPane(nullptr);
        m_pane->setNetHostInfo(settings("192.168.1.1", "192.168.1.2"));
        m_pane->show();
        QApplication::setActiveWindow(m_pane);
        QVERIFY(QTest::qWaitForWindowActive(m_pane));
    }
    void cleanup()
    {
        delete m_pane;
        m_pane = nullptr;
    }

    // An address finished or a first octet with Return: stored or refused, kept; or mode clicks.
    void entries_data()
    {
        columns<QString, QString, QString, QString>({"field", "entered", "stored", "error"});
        row("first octet 128", "first", "128", "255.255.0.0", "");
        row("first octet 127", "first", "127", "", kFirstOctetError);
        row("address", "ipeIpAddr", "10.1.2.3", "10.1.2.3", "");
        row("address, first octet 0", "ipeIpAddr", "0.1.2.3", "", "The IP Address is not valid.");
        row("all-ones mask", "ipeSubnet", "255.255.255.255", "", "The subnet mask is not valid.");
        row("empty mask", "ipeSubnet", "0.0.0.0", "", "The subnet mask is not valid.");
        row("automatic mode", "mode", "rbModeAuto", "off DHCP", "");
        row("manual mode again", "mode", "rbModeAuto rbModeManual", "on Static", "");
    }
    void entries()
    {
        QFETCH(QString, field);
        QFETCH(QString, entered);
        QFETCH(QString, stored);
        QFETCH(QString, error);
        if (field == "mode") {
            for (const QString& button : entered.split(' '))
                QTest::mouseClick(child<QRadioButton>(qPrintable(button)), Qt::LeftButton);
            const bool on = child<QGroupBox>("gbIpDetails")->isEnabled();
            QCOMPARE(child<QPushButton>("btnSuggest")->isEnabled(), on);
            QCOMPARE(
                QString(on ? "on " : "off ") +
                    (m_pane->netHostInfo().addressMode() == AddressModeStatic ? "Static" : "DHCP"),
                stored);
            return;
        }
        finishAddress(child("ipeSubnet"), "255.0.255.0"); // an error an accepted entry hides
        QVERIFY(!shownError().isEmpty());
        const NetworkSettings before = m_pane->netHostInfo();
        OctetEdit* first = child("ipeIpAddr")->octetEdit(FirstOctet);
        if (field == "first") {
            first->setFocus(Qt::OtherFocusReason);
            first->setText(entered);
            QTest::keyClick(first, Qt::Key_Return);
        } else {
            finishAddress(child(qPrintable(field)), qPrintable(entered));
        }

        QCOMPARE(shownError(), error);
        if (error.isEmpty()) {
            QCOMPARE(this->stored(field == "first" ? "ipeSubnet" : field), stored);
            QCOMPARE(shown(child(qPrintable(field == "first" ? "ipeSubnet" : field))), stored);
            return;
        }
        QVERIFY(m_pane->netHostInfo() == before);
        if (error == kFirstOctetError) {
            QVERIFY(first->hasFocus());
            QCOMPARE(first->selectedText(), entered);
            QTest::keyClick(first, Qt::Key_Tab);
            QVERIFY(first->hasFocus());
            QVERIFY(m_pane->netHostInfo() == before);
        }
    }

    // 0.0.0.0 is "not used": an unchecked, empty field; checked, it stores what is entered.
    void optionalAddress_data()
    {
        QTest::addColumn<int>("which");
        row("gateway", 0);
        row("dns server", 1);
    }
    void optionalAddress()
    {
        QFETCH(int, which);
        const QString field = kOptional[which][0];
        auto* box = child<QCheckBox>(kOptional[which][1]);
        QCOMPARE(optional(which), QStringLiteral("on 192.168.1.%1").arg(which + 1));
        m_pane->setNetHostInfo(
            settings(which ? "10.0.0.1" : "0.0.0.0", which ? "0.0.0.0" : "10.0.0.2"));
        QCOMPARE((QStringList{optional(which), optional(1 - which)}),
                 (QStringList{"off ...", QStringLiteral("on 10.0.0.%1").arg(2 - which)}));
        QTest::mouseClick(box, Qt::LeftButton);
        QCOMPARE((QStringList{optional(which), stored(field)}), (QStringList{"on ...", "0.0.0.0"}));
        finishAddress(child(kOptional[which][0]), "192.168.1.3");
        QCOMPARE(stored(field), QStringLiteral("192.168.1.3"));
        QTest::mouseClick(box, Qt::LeftButton);
        QCOMPARE((QStringList{optional(which), stored(field)}),
                 (QStringList{"off ...", "0.0.0.0"}));
    }

    // Only the edited device's answer to the pane's own enquiry is loaded into the fields.
    void answerToRefreshLoadsOnlyTheEditedDevice_data()
    {
        columns<bool, bool, quint64, bool>({"paneHasMac", "sameMac", "request", "loaded"});
        row("the edited device answers", true, true, kRefresh, true);
        row("another device answers", true, false, kRefresh, false);
        row("pane without a MAC takes any answer", false, false, kRefresh, true);
        row("the edited device, for the list's refresh", true, true, kRefresh + 1, false);
    }
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
        NetworkSettings edited = m_pane->netHostInfo();
        if (!paneHasMac)
            edited.setMacAddress(MacAddress());
        m_pane->setNetHostInfo(edited);
        m_pane->setLocalIp(Ipv4Address("192.168.1.10"));
        auto device =
            testDevice(DeviceType::NerioHF, 7, sameMac ? "00:1a:2b:3c:4d:5e" : "06:05:04:03:02:01",
                       "10.0.0.5", AddressModeDhcp);
        device->setCommsIfaceAddr(Ipv4Address("10.0.0.9"));

        QTest::mouseClick(refresh, Qt::LeftButton);
        QCOMPARE(client.enquiries, 1);
        emit client.enquiryAnswered(request, device);
        QVERIFY(m_pane->netHostInfo() == (loaded ? device->netHostInfo() : edited));
        QCOMPARE(m_pane->localIp(), Ipv4Address(loaded ? "10.0.0.9" : "192.168.1.10"));
    }

private:
    template <typename T = Ipv4Edit> T* child(const char* name) const
    {
        return m_pane->findChild<T*>(QLatin1String(name));
    }
    QString shownError() const
    {
        auto* line = child<QLabel>("lblErrorDisplay");
        return line->isVisible() ? line->text() : QString();
    }
    QString stored(const QString& field) const
    {
        const NetworkSettings& info = m_pane->netHostInfo();
        return text(field == "ipeIpAddr"    ? info.ipAddress()
                    : field == "ipeSubnet"  ? info.subnetMask()
                    : field == "ipeGateway" ? info.gateway()
                                            : info.dns());
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
    static void finishAddress(Ipv4Edit* edit, const char* address) // past its last octet
    {
        edit->setAddress(Ipv4Address(address));
        OctetEdit* last = edit->octetEdit(FourthOctet);
        last->setFocus(Qt::OtherFocusReason);
        last->end(false);
        QTest::keyClick(last, Qt::Key_Right);
    }

    NetworkSettingsPane* m_pane = nullptr;
};

QTEST_MAIN(TstNetworkSettingsPane)
#include "tst_networksettingspane.moc"
