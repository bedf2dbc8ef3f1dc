// SPDX-License-Identifier: Apache-2.0
// SPDX-FileCopyrightText: 2026 The Corla developers
#pragma once
// The dialog in which the user sets new network settings for one device. It
// sends nothing itself: an accepted configuration is handed to the owner
// through configAccepted, after static settings have passed a duplicate-address
// check.

#include "tevnethost.h"
#include "tevpinghelper.h"
#include "zeldevice.h"

#include <QDialog>
#include <QPair>
#include <QVector>

#include <memory>

namespace Ui {
class CorlaConfigDialog;
}
class QAbstractButton;
class QKeyEvent;
class QPushButton;
class TevNetHostPane;

class CorlaConfigDialog : public QDialog
{
    Q_OBJECT

public:
    CorlaConfigDialog(const TevDevice& device, QWidget* parent = nullptr);
    ~CorlaConfigDialog() override;

    const TevDevice& device() const { return m_device; }
    TevNetHostPane* netHostPane() const;
    QPushButton* sendButton() const { return m_sendButton; }
    // The devices listed with the addresses they answer at now. Those that answer at
    // another address than the one checked (one that has just moved away, say) may still
    // hold it in the neighbour table: their link-layer addresses there do not make it taken.
    void setKnownDevices(const QVector<QPair<TevMacAddr, TevIpAddr>>& devices)
    {
        m_knownDevices = devices;
    }

signals:
    // Emitted once per acceptance, after the accept has hidden the dialog.
    // `device` is the dialog's copy of the device it was opened for.
    void configAccepted(const TevDevice& device, const TevNetHostInfo& netHostInfo);

public slots:
    // The outcome of a duplicate-address check. The duplicate question names the checked
    // address (of `netHostInfo`) and what answered there (`use`).
    void handleIpCheckResult(const TevPingResult& rslt, const TevDevice& device,
                             const TevNetHostInfo& netHostInfo,
                             const TevAddressUse& use = TevAddressUse());

protected:
    // No button is the default: Enter presses only a button that has the focus.
    void keyPressEvent(QKeyEvent* event) override;

private slots:
    void onButtonBoxClicked(QAbstractButton* button);

private:
    void emitConfig();

    std::unique_ptr<Ui::CorlaConfigDialog> m_ui;
    const TevDevice m_device;
    QPushButton* m_sendButton = nullptr;
    // Set while the duplicate question is open, so that the result of a second
    // quick press does not stack a second question on top of it.
    bool m_asking = false;
    QVector<QPair<TevMacAddr, TevIpAddr>> m_knownDevices;
};
