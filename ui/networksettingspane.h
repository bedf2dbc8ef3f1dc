// SPDX-License-Identifier: Apache-2.0
// SPDX-FileCopyrightText: 2026 The Corla developers
#pragma once
// The panel in which one device's network settings are edited: automatic or
// static addressing, the four addresses with their entry checks, a search of
// the device's network for a free address, and a re-read of the device's
// current settings over discovery.

#include "core/wire/addresses.h"
#include "ui/ipv4edit.h"

#include <QFrame>
#include <QList>
#include <QPointer>
#include <QString>

#include <memory>

namespace Ui {
class NetworkSettingsPane;
}
class QProgressDialog;

namespace corla {

class Device;
class DiscoveryClient;

class NetworkSettingsPane : public QFrame
{
    Q_OBJECT

public:
    // Echo limit for each candidate of the free-address search.
    static constexpr unsigned int kSearchPingTimeoutMs = 100;

    explicit NetworkSettingsPane(QWidget* parent = nullptr);
    ~NetworkSettingsPane() override;

    const NetworkSettings& netHostInfo() const { return m_netHostInfo; }
    // Loads settings without running the click actions of the check boxes and
    // radios, and without touching the subnet mask: the loaded first octet is the one that
    // later entries are compared with.
    void setNetHostInfo(const NetworkSettings& netHostInfo);

    const Ipv4Address& localIp() const { return m_localIp; }
    void setLocalIp(const Ipv4Address& localIp);

    // The discovery client that Refresh asks (the owner's; the pane does not own it). Without
    // one, Refresh is disabled.
    void setDiscoveryClient(DiscoveryClient* client);

    // The address the device has now, which may differ from the loaded settings (they may
    // be the user's earlier edits). Suggest IP searches the local network that holds it;
    // 0.0.0.0 (unknown, or a device without an address): the edited address stands for it.
    // setNetHostInfo leaves it alone; an answer to Refresh sets it.
    const Ipv4Address& deviceAddress() const { return m_deviceAddress; }
    void setDeviceAddress(const Ipv4Address& address) { m_deviceAddress = address; }

    void clearError();
    // Static settings loaded from a device never went through the field checks (a device
    // without an address reports 0.0.0.0). Checks the held address and mask by the same
    // rules, and that a gateway in use lies in the address's network (a device refuses
    // one outside it); shows the first failure in the error line and returns false on one.
    bool checkStaticSettings();

    // The addresses the search tries, in order, for this computer's address `local` on a
    // network with `networkMask` (0 when unknown).
    static QList<Ipv4Address> searchCandidates(const Ipv4Address& local, uint32_t networkMask);

public slots:
    // Searches the device's network for an address nobody answers at. That network is the
    // one of the local address whose network holds the device's address, else the one of
    // this computer's address (localIp). On a /24 or larger network its /24 from .254 down,
    // on a smaller one that network's own host addresses from the highest down. Proposes
    // the network's mask with it. Blocks in its own loop until found, aborted or exhausted.
    void onSuggestClicked();
    // Asks the edited device (by its MAC address) for its current settings; the
    // answer arrives later and is loaded then.
    void onRefreshClicked();

private:
    void showError(const QString& message);
    void updateIpDetailsEnabled();
    void handleModeClicked();
    void handleGatewayEnabledClicked(bool checked);
    void handleDnsEnabledClicked(bool checked);
    void handleIpOctetEdited(OctetPosition octet);
    void handleIpAddrEditingFinished();
    void handleSubnetEditingFinished();
    void handleGatewayEditingFinished();
    void handleDnsServerEditingFinished();
    void handleDeviceFound(const std::shared_ptr<Device>& device);
    // Runs the candidates on the network of `local`; returns false when the pane was
    // destroyed meanwhile.
    bool searchCandidates(const QPointer<QProgressDialog>& progress, const Ipv4Address& local,
                          uint32_t networkMask);
    void useFoundAddress(const Ipv4Address& candidate);

    std::unique_ptr<Ui::NetworkSettingsPane> m_ui;
    NetworkSettings m_netHostInfo;
    Ipv4Address m_localIp;
    Ipv4Address m_deviceAddress;
    // The address's first octet as loaded or last accepted: leaving the octet without
    // changing it must not replace the mask.
    uint8_t m_firstOctet = 0;
    // The owner's discovery client, for Refresh; the pane's own enquiry and its answers.
    QPointer<DiscoveryClient> m_adapter;
    quint64 m_refreshRequest = 0;
    bool m_searching = false;
    uint32_t m_foundMask = 0; // the mask a found address gets; 0: its class's
    // The progress dialog of the search that is running, if any.
    QPointer<QProgressDialog> m_progress;
};

} // namespace corla
