// SPDX-License-Identifier: Apache-2.0
// SPDX-FileCopyrightText: 2026 The Corla developers
#include "ui/configuredialog.h"
#include "core/net/logging.h"
#include "ui_configuredialog.h"

#include "core/net/addresscheck.h"
#include "ui/networksettingspane.h"

#include <QKeyEvent>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>

namespace corla {

namespace {

// What the duplicate question says answered at the address, after a colon; empty when
// the check did not say.
QString answeredText(const AddressUse& use)
{
    const QString as = use.mac.isNull()
                           ? QString()
                           : QStringLiteral(" as ") + QString::fromStdString(use.mac.toString());
    switch (use.by) {
    case InUseBy::Echo:
        return QStringLiteral(": a host answers echo requests there") + as;
    case InUseBy::LinkLayer:
        return QStringLiteral(": a host answers ARP there") + as;
    case InUseBy::Nobody:
        break;
    }
    return QString();
}

} // namespace

ConfigureDialog::ConfigureDialog(const Device& device, QWidget* parent)
    : QDialog(parent), m_ui(std::make_unique<Ui::ConfigureDialog>()), m_device(device)
{
    m_ui->setupUi(this);
    m_sendButton =
        m_ui->buttonBox->addButton(QStringLiteral("Send to Device"), QDialogButtonBox::ActionRole);
    // Enter finishes an address entry; it must not press a button as well (Suggest IP would
    // change the address, Send would send it).
    for (QPushButton* button : findChildren<QPushButton*>()) {
        button->setAutoDefault(false);
        button->setDefault(false);
    }

    qCDebug(logUi).noquote() << "Constructing CorlaConfigDialog with device:"
                             << QString::fromStdString(m_device.toString());

    m_ui->frNetConfig->setNetHostInfo(m_device.netHostInfo());
    m_ui->frNetConfig->setLocalIp(m_device.commsIfaceAddr());
    // The owner may load other settings afterwards (the user's edits of a refused change);
    // the device stays where it is.
    m_ui->frNetConfig->setDeviceAddress(m_device.netHostInfo().ipAddress());

    const QString name = QString::fromStdString(m_device.friendlyName());
    m_ui->gbDevicePanel->setTitle(name);
    setWindowTitle(QStringLiteral("Configure ") + name);

    connect(m_ui->buttonBox, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(m_ui->buttonBox, &QDialogButtonBox::rejected, this, &QDialog::reject);
    connect(m_ui->buttonBox, &QDialogButtonBox::clicked, this,
            &ConfigureDialog::onButtonBoxClicked);
    connect(this, &QDialog::accepted, this, &ConfigureDialog::emitConfig);
}

ConfigureDialog::~ConfigureDialog() = default;

NetworkSettingsPane* ConfigureDialog::netHostPane() const
{
    return m_ui->frNetConfig;
}

void ConfigureDialog::onButtonBoxClicked(QAbstractButton* button)
{
    const QDialogButtonBox::ButtonRole role = m_ui->buttonBox->buttonRole(button);
    if (role != QDialogButtonBox::ActionRole) {
        // Cancel reaches reject() through the button box's rejected signal as well;
        // rejecting here too would announce the rejection twice.
        if (role != QDialogButtonBox::RejectRole)
            reject();
        return;
    }

    const NetworkSettings& settings = m_ui->frNetConfig->netHostInfo();
    if (settings.addressMode() == AddressModeDhcp) {
        accept();
        return;
    }

    // What the pane (and the command line) refuses is not sent, even when it was loaded
    // from the device rather than entered.
    if (!m_ui->frNetConfig->checkStaticSettings())
        return;

    // The checker delivers its one result and then deletes itself; a result that
    // arrives after this dialog is gone is dropped with the connection.
    auto* checker = new AddressCheck(m_device, settings);
    QList<MacAddress> elsewhere;
    for (const auto& known : qAsConst(m_knownDevices)) {
        if (known.second != settings.ipAddress())
            elsewhere.append(known.first);
    }
    checker->setDisregardedLinkAddresses(elsewhere);
    connect(checker, &AddressCheck::ipCheckResult, this, &ConfigureDialog::handleIpCheckResult);
    checker->checkIpExistence();
}

void ConfigureDialog::keyPressEvent(QKeyEvent* event)
{
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
        // A button without auto-default passes Enter on; with the focus, it is meant.
        auto* button = qobject_cast<QPushButton*>(focusWidget());
        if (button && button->isEnabled() && button->isVisible()) {
            button->click();
            event->accept();
            return;
        }
    }
    QDialog::keyPressEvent(event);
}

void ConfigureDialog::handleIpCheckResult(const PingResult& rslt, const Device& device,
                                          const NetworkSettings& netHostInfo, const AddressUse& use)
{
    Q_UNUSED(device)
    // A later result of several quick presses must not accept (and send) a second
    // time.
    if (m_asking || result() == QDialog::Accepted)
        return;

    if (rslt == PingReplied) {
        qCDebug(logUi) << "Host responded... possible duplicate IP!";
        QPointer<ConfigureDialog> self(this);
        m_asking = true;
        const QMessageBox::StandardButton answer = QMessageBox::warning(
            nullptr, QStringLiteral("Duplicate IP Detected!"),
            QStringLiteral("The IP address %1 already exists on the current subnet%2. Using this "
                           "address may cause network problems. Are you sure you want to use "
                           "this address?")
                .arg(QString::fromStdString(netHostInfo.ipAddress().toString()), answeredText(use)),
            QMessageBox::Yes | QMessageBox::No, QMessageBox::No);
        if (!self)
            return;
        m_asking = false;
        if (answer == QMessageBox::Yes)
            accept();
        return;
    }

    if (rslt == PingNoReply)
        qCDebug(logUi) << " Warning: IP Address is not reachable from this machine. "
                          "Couldn't check for "
                          "duplicates";
    accept();
}

void ConfigureDialog::emitConfig()
{
    qCDebug(logUi) << "Emitting new config from dialog";
    emit configAccepted(m_device, m_ui->frNetConfig->netHostInfo());
}

} // namespace corla
