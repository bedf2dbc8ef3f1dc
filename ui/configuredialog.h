// SPDX-License-Identifier: Apache-2.0
// SPDX-FileCopyrightText: 2026 The Corla developers
#pragma once
// The dialog in which the user sets new network settings for one device. It
// sends nothing itself: an accepted configuration is handed to the owner
// through configAccepted, after static settings have passed a duplicate-address
// check.

#include "core/net/device.h"
#include "core/net/hostping.h"
#include "core/wire/addresses.h"

#include <QDialog>
#include <QPair>
#include <QVector>

#include <memory>

namespace Ui {
class ConfigureDialog;
}
class QAbstractButton;
class QKeyEvent;
class QPushButton;

namespace corla {

class NetworkSettingsPane;

class ConfigureDialog : public QDialog
{
    Q_OBJECT

public:
    ConfigureDialog(const Device& device, QWidget* parent = nullptr);
    ~ConfigureDialog() override;

    const Device& device() const { return m_device; }
    NetworkSettingsPane* netHostPane() const;
    QPushButton* sendButton() const { return m_sendButton; }
    // The devices listed with the addresses they answer at now. Those that answer at
    // another address than the one checked (one that has just moved away, say) may still
    // hold it in the neighbour table: their link-layer addresses there do not make it taken.
    void setKnownDevices(const QVector<QPair<MacAddress, Ipv4Address>>& devices)
    {
        m_knownDevices = devices;
    }

signals:
    // Emitted once per acceptance, after the accept has hidden the dialog.
    // `device` is the dialog's copy of the device it was opened for.
    void configAccepted(const Device& device, const NetworkSettings& netHostInfo);

public slots:
    // The outcome of a duplicate-address check. The duplicate question names the checked
    // address (of `netHostInfo`) and what answered there (`use`).
    void handleIpCheckResult(const PingResult& rslt, const Device& device,
                             const NetworkSettings& netHostInfo,
                             const AddressUse& use = AddressUse());

protected:
    // No button is the default: Enter presses only a button that has the focus.
    void keyPressEvent(QKeyEvent* event) override;

private slots:
    void onButtonBoxClicked(QAbstractButton* button);

private:
    void emitConfig();

    std::unique_ptr<Ui::ConfigureDialog> m_ui;
    const Device m_device;
    QPushButton* m_sendButton = nullptr;
    // Set while the duplicate question is open, so that the result of a second
    // quick press does not stack a second question on top of it.
    bool m_asking = false;
    QVector<QPair<MacAddress, Ipv4Address>> m_knownDevices;
};

} // namespace corla
