// SPDX-License-Identifier: Apache-2.0
// SPDX-FileCopyrightText: 2026 The Corla developers
#include "ui/networksettingspane.h"
#include "core/net/logging.h"
#include "ui_networksettingspane.h"

#include "core/discovery/discoveryclient.h"
#include "core/net/device.h"
#include "core/net/hostping.h"

#include <QCoreApplication>
#include <QMessageBox>
#include <QNetworkInterface>
#include <QPalette>
#include <QPointer>
#include <QProgressDialog>
#include <QtAlgorithms>

#include <array>

namespace corla {

namespace {

constexpr int kHighestCandidate = 254;
constexpr int kLowestCandidate = 1;

QString addressText(const Ipv4Address& address)
{
    return QString::fromStdString(address.toString());
}

// isValidSubnetMask lets 0.0.0.0 pass as "no mask"; a device refuses it as the mask of a
// static address, and corla-cli and commissioning plans refuse it too.
bool isStaticSubnetMask(uint32_t mask)
{
    return mask != 0 && isValidSubnetMask(mask);
}

// A disabled optional address (gateway, DNS server) shows nothing: it stands for
// 0.0.0.0, "not used".
void enableOptionalAddress(bool enabled, Ipv4Edit* edit, QLabel* label)
{
    edit->setEnabled(enabled);
    label->setEnabled(enabled);
    if (!enabled)
        edit->clear();
}

void loadOptionalAddress(const Ipv4Address& address, Ipv4Edit* edit, QCheckBox* enabledBox,
                         QLabel* label)
{
    const bool used = address.toInt() != 0;
    enabledBox->setChecked(used);
    enableOptionalAddress(used, edit, label);
    if (used)
        edit->setAddress(address);
}

// One IPv4 network of this computer: its address there and the network's mask.
struct LocalNetwork
{
    Ipv4Address local;
    uint32_t mask = 0;
};

QList<LocalNetwork> localNetworks()
{
    QList<LocalNetwork> networks;
    for (const QNetworkInterface& iface : QNetworkInterface::allInterfaces()) {
        if (!iface.flags().testFlag(QNetworkInterface::IsUp))
            continue;
        for (const QNetworkAddressEntry& entry : iface.addressEntries()) {
            if (entry.ip().protocol() == QAbstractSocket::IPv4Protocol &&
                entry.netmask().protocol() == QAbstractSocket::IPv4Protocol)
                networks.append(
                    {Ipv4Address(entry.ip().toIPv4Address()), entry.netmask().toIPv4Address()});
        }
    }
    return networks;
}

// The local network that holds `address`, the narrowest when several do; a null local
// address when none does. A single-address entry (a /32) is no network a device can join.
LocalNetwork localNetworkHolding(const Ipv4Address& address)
{
    LocalNetwork best;
    for (const LocalNetwork& network : localNetworks()) {
        if (!isStaticSubnetMask(network.mask) ||
            (network.local.toInt() & network.mask) != (address.toInt() & network.mask))
            continue;
        if (best.local.toInt() == 0 || network.mask > best.mask)
            best = network;
    }
    return best;
}

// The mask of this computer's network on `local`, as its interface entry has it; 0 when
// no interface carries that address.
uint32_t networkMaskOf(const Ipv4Address& local)
{
    for (const LocalNetwork& network : localNetworks())
        if (network.local == local)
            return network.mask;
    return 0;
}

// The mask an address gets: its local network's where one holds it, else its class's.
Ipv4Address maskFor(const Ipv4Address& address)
{
    const LocalNetwork network = localNetworkHolding(address);
    return Ipv4Address(network.local.toInt() != 0 ? network.mask
                                                  : Ipv4Address::defaultMask(address.toArray()[0]));
}

} // namespace

QList<Ipv4Address> NetworkSettingsPane::searchCandidates(const Ipv4Address& local,
                                                         uint32_t networkMask)
{
    QList<Ipv4Address> candidates;
    const uint32_t ip = local.toInt();
    if (isValidSubnetMask(networkMask) && networkMask > 0xFFFFFF00u) {
        // A network smaller than a /24: its own host addresses only, never its network or
        // broadcast address.
        const uint32_t network = ip & networkMask;
        for (uint32_t host = (network | ~networkMask) - 1; host > network; --host)
            candidates.append(Ipv4Address(host));
        return candidates;
    }
    for (int last = kHighestCandidate; last >= kLowestCandidate; --last)
        candidates.append(Ipv4Address((ip & 0xFFFFFF00u) | uint32_t(last)));
    return candidates;
}

NetworkSettingsPane::NetworkSettingsPane(QWidget* parent)
    : QFrame(parent), m_ui(std::make_unique<Ui::NetworkSettingsPane>())
{
    m_ui->setupUi(this);
    // Refresh asks the owner's discovery client; without one there is nothing to ask.
    m_ui->btnRefresh->setEnabled(false);
    // Inside a dialog, a default button would take the Enter that finishes an address.
    for (QPushButton* button : {m_ui->btnSuggest, m_ui->btnRefresh}) {
        button->setAutoDefault(false);
        button->setDefault(false);
    }

    QPalette errorPalette = m_ui->lblErrorDisplay->palette();
    errorPalette.setColor(QPalette::All, QPalette::WindowText, Qt::red);
    m_ui->lblErrorDisplay->setPalette(errorPalette);
    m_ui->lblErrorDisplay->hide();

    connect(m_ui->buttonGroup, QOverload<QAbstractButton*>::of(&QButtonGroup::buttonClicked), this,
            &NetworkSettingsPane::handleModeClicked);
    connect(m_ui->cbGatewayEnabled, &QCheckBox::clicked, this,
            &NetworkSettingsPane::handleGatewayEnabledClicked);
    connect(m_ui->cbDnsEnabled, &QCheckBox::clicked, this,
            &NetworkSettingsPane::handleDnsEnabledClicked);
    connect(m_ui->ipeIpAddr, &Ipv4Edit::octetEdited, this,
            &NetworkSettingsPane::handleIpOctetEdited);
    connect(m_ui->ipeIpAddr, &Ipv4Edit::editingFinished, this,
            &NetworkSettingsPane::handleIpAddrEditingFinished);
    connect(m_ui->ipeSubnet, &Ipv4Edit::editingFinished, this,
            &NetworkSettingsPane::handleSubnetEditingFinished);
    connect(m_ui->ipeGateway, &Ipv4Edit::editingFinished, this,
            &NetworkSettingsPane::handleGatewayEditingFinished);
    connect(m_ui->ipeDnsServer, &Ipv4Edit::editingFinished, this,
            &NetworkSettingsPane::handleDnsServerEditingFinished);
    connect(m_ui->btnSuggest, &QPushButton::clicked, this, &NetworkSettingsPane::onSuggestClicked);
    connect(m_ui->btnRefresh, &QPushButton::clicked, this, &NetworkSettingsPane::onRefreshClicked);
}

void NetworkSettingsPane::setDiscoveryClient(DiscoveryClient* client)
{
    if (m_adapter)
        disconnect(m_adapter, nullptr, this, nullptr);
    m_adapter = client;
    m_refreshRequest = 0;
    m_ui->btnRefresh->setEnabled(client != nullptr);
    if (!client)
        return;
    // Only the answers to the pane's own enquiry: the owner's other enquiries (a refresh of
    // the whole list) must not replace the settings being edited.
    connect(client, &DiscoveryClient::enquiryAnswered, this,
            [this](quint64 request, const std::shared_ptr<Device>& device) {
                if (request != 0 && request == m_refreshRequest)
                    handleDeviceFound(device);
            });
}

NetworkSettingsPane::~NetworkSettingsPane()
{
    // Destroying the children moves focus out of an octet field, which finishes
    // its editing; the handlers must not run on a pane that is half gone.
    for (Ipv4Edit* edit : {m_ui->ipeIpAddr, m_ui->ipeSubnet, m_ui->ipeGateway, m_ui->ipeDnsServer})
        disconnect(edit, nullptr, this, nullptr);
    // A running search may be inside the progress dialog's own setValue (a modal
    // progress dialog processes events there), so the dialog must outlive the pane;
    // the search deletes it once it is back on its own frame.
    if (m_progress) {
        m_progress->hide();
        m_progress->setParent(nullptr);
    }
}

void NetworkSettingsPane::setNetHostInfo(const NetworkSettings& netHostInfo)
{
    m_netHostInfo = netHostInfo;
    m_firstOctet = netHostInfo.ipAddress().toArray()[0];
    m_ui->lblMacAddress->setText(QString::fromStdString(netHostInfo.macAddress().toString()));
    m_ui->ipeIpAddr->setAddress(netHostInfo.ipAddress());
    m_ui->ipeSubnet->setAddress(netHostInfo.subnetMask());
    m_ui->ipeGateway->setAddress(netHostInfo.gateway());

    if (netHostInfo.addressMode() == AddressModeDhcp)
        m_ui->rbModeAuto->setChecked(true);
    else if (netHostInfo.addressMode() == AddressModeStatic)
        m_ui->rbModeManual->setChecked(true);

    loadOptionalAddress(netHostInfo.gateway(), m_ui->ipeGateway, m_ui->cbGatewayEnabled,
                        m_ui->lblGateway);
    loadOptionalAddress(netHostInfo.dns(), m_ui->ipeDnsServer, m_ui->cbDnsEnabled, m_ui->lblDns);
    updateIpDetailsEnabled();
}

void NetworkSettingsPane::setLocalIp(const Ipv4Address& localIp)
{
    m_localIp = localIp;
    m_ui->lblThisCompIp->setText(addressText(localIp));
}

bool NetworkSettingsPane::checkStaticSettings()
{
    clearError();
    if (!isValidHostFirstOctet(m_netHostInfo.ipAddress().toArray()[0])) {
        showError(QStringLiteral("The IP Address is not valid."));
        return false;
    }
    const uint32_t mask = m_netHostInfo.subnetMask().toInt();
    if (!isStaticSubnetMask(mask)) {
        showError(QStringLiteral("The subnet mask is not valid."));
        return false;
    }
    // Neither an entered address nor a suggested one brings a gateway of its own.
    const uint32_t network = m_netHostInfo.ipAddress().toInt() & mask;
    const Ipv4Address& gateway = m_netHostInfo.gateway();
    if (gateway.toInt() != 0 && (gateway.toInt() & mask) != network) {
        showError(QStringLiteral("The gateway %1 is outside the network %2/%3 of the new address.")
                      .arg(addressText(gateway), addressText(Ipv4Address(network)))
                      .arg(qPopulationCount(mask)));
        return false;
    }
    return true;
}

void NetworkSettingsPane::clearError()
{
    m_ui->lblErrorDisplay->setText(QStringLiteral("No error."));
    m_ui->lblErrorDisplay->hide();
}

void NetworkSettingsPane::showError(const QString& message)
{
    m_ui->lblErrorDisplay->setText(message);
    m_ui->lblErrorDisplay->show();
}

void NetworkSettingsPane::updateIpDetailsEnabled()
{
    const bool manual = m_ui->rbModeManual->isChecked();
    m_ui->gbIpDetails->setEnabled(manual);
    m_ui->btnSuggest->setEnabled(manual);
}

void NetworkSettingsPane::handleModeClicked()
{
    updateIpDetailsEnabled();
    m_netHostInfo.setAddressMode(m_ui->rbModeManual->isChecked() ? AddressModeStatic
                                                                 : AddressModeDhcp);
}

void NetworkSettingsPane::handleGatewayEnabledClicked(bool checked)
{
    enableOptionalAddress(checked, m_ui->ipeGateway, m_ui->lblGateway);
    if (!checked)
        m_netHostInfo.setGateway(Ipv4Address(0u));
}

void NetworkSettingsPane::handleDnsEnabledClicked(bool checked)
{
    enableOptionalAddress(checked, m_ui->ipeDnsServer, m_ui->lblDns);
    if (!checked)
        m_netHostInfo.setDns(Ipv4Address(0u));
}

void NetworkSettingsPane::handleIpOctetEdited(OctetPosition octet)
{
    if (octet != FirstOctet)
        return;
    const uint8_t firstOctet = m_ui->ipeIpAddr->octetValue(FirstOctet);
    clearError();
    if (!isValidHostFirstOctet(firstOctet)) {
        showError(QStringLiteral("Please enter a value between 1 and 223, excluding 127."));
        m_ui->ipeIpAddr->jumpToOctet(FirstOctet);
        return;
    }
    // The octet also finishes when focus merely passes through it: only a new value may
    // replace the mask.
    if (firstOctet == m_firstOctet)
        return;
    m_firstOctet = firstOctet;
    const Ipv4Address mask = maskFor(m_ui->ipeIpAddr->address());
    m_ui->ipeSubnet->setAddress(mask);
    m_netHostInfo.setSubnet(mask);
}

void NetworkSettingsPane::handleIpAddrEditingFinished()
{
    clearError();
    // The first-octet rule normally keeps focus in a refused first octet; an
    // address loaded with one (0.0.0.0 from a device without an address) is
    // refused here, so the pane never stores what the command line would refuse.
    if (m_ui->ipeIpAddr->isValidIp() &&
        isValidHostFirstOctet(m_ui->ipeIpAddr->octetValue(FirstOctet))) {
        m_netHostInfo.setIpAddress(m_ui->ipeIpAddr->address());
        qCDebug(logUi).noquote() << "Address entered:" << addressText(m_netHostInfo.ipAddress());
    } else {
        showError(QStringLiteral("The IP Address is not valid."));
    }
}

void NetworkSettingsPane::handleSubnetEditingFinished()
{
    clearError();
    const Ipv4Address mask = m_ui->ipeSubnet->address();
    if (isStaticSubnetMask(mask.toInt()))
        m_netHostInfo.setSubnet(mask);
    else
        showError(QStringLiteral("The subnet mask is not valid."));
}

void NetworkSettingsPane::handleGatewayEditingFinished()
{
    clearError();
    if (m_ui->ipeGateway->isValidIp())
        m_netHostInfo.setGateway(m_ui->ipeGateway->address());
    else
        showError(QStringLiteral("The Gateway Address is not valid."));
}

void NetworkSettingsPane::handleDnsServerEditingFinished()
{
    clearError();
    if (m_ui->ipeDnsServer->isValidIp())
        m_netHostInfo.setDns(m_ui->ipeDnsServer->address());
    else
        showError(QStringLiteral("The DNS Server Address is not valid."));
}

void NetworkSettingsPane::onRefreshClicked()
{
    // Type 0, serial 0: the enquiry is addressed by the MAC address alone.
    const Device enquiry(0, DeviceType::NoDevice, m_netHostInfo);
    if (m_adapter)
        m_refreshRequest = m_adapter->netEnquire(enquiry);
}

void NetworkSettingsPane::handleDeviceFound(const std::shared_ptr<Device>& device)
{
    if (!device)
        return;
    // The enquiry names the edited device by MAC address; an answer from any
    // other device must not replace the settings, or "Send to Device" would
    // reconfigure it.
    const MacAddress& editedMac = m_netHostInfo.macAddress();
    if (!editedMac.isNull() && device->netHostInfo().macAddress() != editedMac)
        return;
    setNetHostInfo(device->netHostInfo());
    setLocalIp(device->commsIfaceAddr());
    setDeviceAddress(device->netHostInfo().ipAddress());
}

void NetworkSettingsPane::onSuggestClicked()
{
    if (m_searching)
        return;

    // The network the device is on, not merely the one it last answered on (with several
    // local addresses that can change from run to run).
    const Ipv4Address deviceAddress =
        m_deviceAddress.toInt() != 0 ? m_deviceAddress : m_netHostInfo.ipAddress();
    LocalNetwork network = localNetworkHolding(deviceAddress);
    if (network.local.toInt() == 0)
        network = {m_localIp, networkMaskOf(m_localIp)};

    // Without this computer's address there is no subnet to search: the candidates
    // would be 0.0.0.x, and the first one that fails to send would be "found".
    if (network.local.toInt() != 0) {
        m_progress = new QProgressDialog(QStringLiteral("Searching for address..."),
                                         QStringLiteral("Abort"), 0, kHighestCandidate, this);
        const QPointer<QProgressDialog> progress = m_progress;
        progress->setModal(true);
        progress->show();
        m_searching = true;
        connect(progress, &QProgressDialog::canceled, this, [this] { m_searching = false; });

        const bool paneAlive = searchCandidates(progress, network.local, network.mask);
        // Still ours even when the pane is gone: its destructor lets go of it.
        if (progress) {
            progress->hide();
            delete progress.data();
        }
        if (!paneAlive || !m_searching)
            return;
    }
    m_searching = false;
    // On the heap: a box on the stack with the pane as parent would be destroyed twice
    // if the pane went away while the box is open.
    const QPointer<QMessageBox> box =
        new QMessageBox(QMessageBox::Warning, QStringLiteral("No address!"),
                        QStringLiteral("No available addresses were found on the current subnet."),
                        QMessageBox::Ok, this);
    box->exec();
    delete box.data();
}

bool NetworkSettingsPane::searchCandidates(const QPointer<QProgressDialog>& progress,
                                           const Ipv4Address& local, uint32_t networkMask)
{
    QPointer<NetworkSettingsPane> self(this);
    // The device gets the mask of the network it is searched on; only where that is unknown
    // does the address class decide.
    m_foundMask = isStaticSubnetMask(networkMask) ? networkMask : 0;
    for (const Ipv4Address& candidate : searchCandidates(local, networkMask)) {
        if (!m_searching)
            break;
        const int last = candidate.toArray()[3];
        if (candidate == m_netHostInfo.ipAddress() || candidate == local || candidate == m_localIp)
            continue;

        qCDebug(logUi).noquote() << "Searching for ip" << addressText(candidate);
        // A modal progress dialog processes events while setting its value.
        if (progress)
            progress->setValue(255 - last);
        if (!self)
            return false;
        if (!m_searching)
            break;

        // A host that drops echo requests still answers ARP: taken as well.
        if (HostPing::addressInUse(candidate, kSearchPingTimeoutMs).inUse()) {
            QCoreApplication::processEvents();
            if (!self)
                return false;
            continue;
        }
        useFoundAddress(candidate);
        QCoreApplication::processEvents();
        return !self.isNull();
    }
    return true;
}

void NetworkSettingsPane::useFoundAddress(const Ipv4Address& candidate)
{
    m_searching = false;
    qCDebug(logUi).noquote().nospace() << "IP Address Found! " << addressText(candidate);
    const Ipv4Address mask(m_foundMask != 0 ? m_foundMask
                                            : Ipv4Address::defaultMask(candidate.toArray()[0]));
    m_netHostInfo.setIpAddress(candidate);
    m_netHostInfo.setSubnet(mask);
    m_firstOctet = candidate.toArray()[0];
    m_ui->ipeIpAddr->setAddress(candidate);
    m_ui->ipeSubnet->setAddress(mask);
}

} // namespace corla
