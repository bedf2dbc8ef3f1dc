#include "corlaconfigdialog.h"
#include "corlalog.h"
#include "ui_corlaconfigdialog.h"

#include "tevipcheck.h"
#include "tevnethostpane.h"

#include <QMessageBox>
#include <QPointer>
#include <QPushButton>

CorlaConfigDialog::CorlaConfigDialog(const TevDevice& device, QWidget* parent)
    : QDialog(parent), m_ui(std::make_unique<Ui::CorlaConfigDialog>()), m_device(device)
{
    m_ui->setupUi(this);
    m_sendButton =
        m_ui->buttonBox->addButton(QStringLiteral("Send to Device"), QDialogButtonBox::ActionRole);

    qCDebug(corlaUi).noquote() << "Constructing CorlaConfigDialog with device:"
                               << QString::fromStdString(m_device.toString());

    m_ui->frNetConfig->setNetHostInfo(m_device.netHostInfo());
    m_ui->frNetConfig->setLocalIp(m_device.commsIfaceAddr());

    const QString name = QString::fromStdString(m_device.friendlyName());
    m_ui->gbDevicePanel->setTitle(name);
    setWindowTitle(QStringLiteral("Configure ") + name);

    connect(m_ui->buttonBox, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(m_ui->buttonBox, &QDialogButtonBox::rejected, this, &QDialog::reject);
    connect(m_ui->buttonBox, &QDialogButtonBox::clicked, this,
            &CorlaConfigDialog::onButtonBoxClicked);
    connect(this, &QDialog::accepted, this, &CorlaConfigDialog::emitConfig);
}

CorlaConfigDialog::~CorlaConfigDialog() = default;

TevNetHostPane* CorlaConfigDialog::netHostPane() const
{
    return m_ui->frNetConfig;
}

void CorlaConfigDialog::onButtonBoxClicked(QAbstractButton* button)
{
    const QDialogButtonBox::ButtonRole role = m_ui->buttonBox->buttonRole(button);
    if (role != QDialogButtonBox::ActionRole) {
        // Cancel reaches reject() through the button box's rejected signal as well;
        // rejecting here too would announce the rejection twice.
        if (role != QDialogButtonBox::RejectRole)
            reject();
        return;
    }

    const TevNetHostInfo& settings = m_ui->frNetConfig->netHostInfo();
    if (settings.addressMode() == TevAddressModeAuto) {
        accept();
        return;
    }

    // What the pane (and the command line) refuses is not sent, even when it was loaded
    // from the device rather than entered.
    if (!m_ui->frNetConfig->checkStaticSettings())
        return;

    // The checker delivers its one result and then deletes itself; a result that
    // arrives after this dialog is gone is dropped with the connection.
    auto* checker = new IpChecker(m_device, settings);
    QList<TevMacAddr> elsewhere;
    for (const auto& known : qAsConst(m_knownDevices)) {
        if (known.second != settings.ipAddress())
            elsewhere.append(known.first);
    }
    checker->setDisregardedLinkAddresses(elsewhere);
    connect(checker, &IpChecker::ipCheckResult, this, &CorlaConfigDialog::handleIpCheckResult);
    checker->checkIpExistence();
}

void CorlaConfigDialog::handleIpCheckResult(const TevPingResult& rslt, const TevDevice& device,
                                            const TevNetHostInfo& netHostInfo)
{
    Q_UNUSED(device)
    Q_UNUSED(netHostInfo)
    // A later result of several quick presses must not accept (and send) a second
    // time.
    if (m_asking || result() == QDialog::Accepted)
        return;

    if (rslt == TevPingReplied) {
        qCDebug(corlaUi) << "Host responded... possible duplicate IP!";
        QPointer<CorlaConfigDialog> self(this);
        m_asking = true;
        const QMessageBox::StandardButton answer = QMessageBox::warning(
            nullptr, QStringLiteral("Duplicate IP Detected!"),
            QStringLiteral("The IP address already exists on the current subnet. Using this "
                           "address may cause network problems. Are you sure you want to use "
                           "this address?"),
            QMessageBox::Yes | QMessageBox::No, QMessageBox::No);
        if (!self)
            return;
        m_asking = false;
        if (answer == QMessageBox::Yes)
            accept();
        return;
    }

    if (rslt == TevPingNoReply)
        qCDebug(corlaUi) << " Warning: IP Address is not reachable from this machine. "
                            "Couldn't check for "
                            "duplicates";
    accept();
}

void CorlaConfigDialog::emitConfig()
{
    qCDebug(corlaUi) << "Emitting new config from dialog";
    emit configAccepted(m_device, m_ui->frNetConfig->netHostInfo());
}
