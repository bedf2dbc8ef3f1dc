#include "corlamainwin.h"

#include "corlaconfigdialog.h"
#include "corlacsv.h"
#include "corlalog.h"
#include "corlamainwin_form.h"
#include "corlaversion.h"
#include "tevabout.h"
#include "zelutil.h"

#include <QCloseEvent>
#include <QDateTime>
#include <QDesktopServices>
#include <QDir>
#include <QFileDialog>
#include <QGuiApplication>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QMessageBox>
#include <QSettings>
#include <QSortFilterProxyModel>
#include <QStandardPaths>
#include <QUrl>

const char* const MainWindow::Version = CORLA_VERSION;
const char* const MainWindow::BuildDate = CORLA_BUILD_DATE;

namespace {

const ZelPort ProbedPort = ZelPort::Ftp;

// What the window remembers between runs (QSettings, by the names of
// setApplicationIdentity()).
const QString GeometryKey = QStringLiteral("window/geometry");
const QString SortColumnKey = QStringLiteral("table/sortColumn");
const QString SortOrderKey = QStringLiteral("table/sortOrder");
const QString ExportFolderKey = QStringLiteral("export/folder");

const int DefaultSortColumn = 2;

QString trMain(const char* text)
{
    return QCoreApplication::translate("MainWindow", text);
}

QString nameOf(const TevDevice& device)
{
    return QString::fromStdString(device.friendlyName());
}

} // namespace

void MainWindow::setApplicationIdentity()
{
    QCoreApplication::setOrganizationName(QStringLiteral("corla"));
    QCoreApplication::setApplicationName(QStringLiteral("corla"));
    QCoreApplication::setApplicationVersion(QLatin1String(Version));
    // Ties the window to its desktop entry (its icon and name in docks and task lists).
    QGuiApplication::setDesktopFileName(QStringLiteral("org.example.corla"));
}

MainWindow::MainWindow(ZelCorlaAdapter* adapter, ZelConnectionChecker* checker, QWidget* parent)
    : QMainWindow(parent), m_ui(new Ui_MainWindow), m_checker(*checker), m_adapter(*adapter),
      m_service(adapter)
{
    // As long as the "Device Resetting" box says a restart may take.
    m_service.timing().returnLimitMs = 120000;
    m_roundTimer.setSingleShot(true);
    connect(&m_roundTimer, &QTimer::timeout, this, &MainWindow::finishRound);
    m_ui->setupUi(this);
    initializeUi();
    restoreSettings();
    createConnections();
    m_checker.setConnectionTimeout(4000);
    broadcastEnquiry();
}

MainWindow::~MainWindow()
{
    delete m_ui;
}

void MainWindow::setChangeLog(const CorlaChangeLog* log)
{
    m_service.setChangeLog(log, QStringLiteral("corla"));
}

void MainWindow::initializeUi()
{
    setWindowTitle(QStringLiteral("Corla v") + QLatin1String(Version));

    auto* proxy = new QSortFilterProxyModel(this);
    proxy->setSourceModel(&m_model);
    m_ui->tblMainTableView->setModel(proxy);
    m_ui->tblMainTableView->setSortingEnabled(true);
    m_ui->tblMainTableView->setItemDelegate(new CorlaItemDelegate(this));

    QHeaderView* header = m_ui->tblMainTableView->horizontalHeader();
    header->setStretchLastSection(true);
    header->setSortIndicator(DefaultSortColumn, Qt::AscendingOrder);
    m_ui->tblMainTableView->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_ui->tblMainTableView->setSelectionMode(QAbstractItemView::SingleSelection);

    m_ui->gbDeviceActions->setEnabled(false);
    m_ui->btnSettings->hide();
    // The installed theme's icon where there is one, so the window matches the menu entry.
    setWindowIcon(QIcon::fromTheme(QStringLiteral("org.example.corla"),
                                   QIcon(QStringLiteral(":/icons/corla.svg"))));
}

void MainWindow::restoreSettings()
{
    const QSettings settings;
    restoreGeometry(settings.value(GeometryKey).toByteArray());

    // A hand-edited or foreign file may hold anything: only a real column and order count.
    bool columnOk = false;
    bool orderOk = false;
    const int column = settings.value(SortColumnKey).toInt(&columnOk);
    const int order = settings.value(SortOrderKey).toInt(&orderOk);
    if (columnOk && orderOk && column >= 0 && column < m_model.columnCount() &&
        (order == Qt::AscendingOrder || order == Qt::DescendingOrder))
        m_ui->tblMainTableView->horizontalHeader()->setSortIndicator(column, Qt::SortOrder(order));

    connect(m_ui->tblMainTableView->horizontalHeader(), &QHeaderView::sortIndicatorChanged, this,
            [](int section, Qt::SortOrder sortOrder) {
                QSettings settings;
                settings.setValue(SortColumnKey, section);
                settings.setValue(SortOrderKey, int(sortOrder));
            });
}

void MainWindow::closeEvent(QCloseEvent* event)
{
    QSettings().setValue(GeometryKey, saveGeometry());
    QMainWindow::closeEvent(event);
}

void MainWindow::createConnections()
{
    connect(m_ui->btnClear, &QPushButton::clicked, this, [this] { clearMainTable(); });
    connect(m_ui->btnConfig, &QPushButton::clicked, this, &MainWindow::onConfigClicked);
    connect(m_ui->btnReset, &QPushButton::clicked, this, &MainWindow::onResetClicked);
    connect(m_ui->btnLogoAbout, &QPushButton::clicked, this, [] {
        TevAboutBox about(QStringLiteral("Corla"), QLatin1String(Version),
                          QLatin1String(BuildDate));
        about.exec();
    });
    connect(&m_refreshTimer, &QTimer::timeout, this,
            [this] { m_ui->btnRefresh->setEnabled(true); });
    connect(m_ui->btnRefresh, &QPushButton::clicked, this, [this] { refresh(); });
    connect(&m_checker, &ZelConnectionChecker::netHostStatus, this, &MainWindow::handleStatus);
    connect(&m_checker, &ZelConnectionChecker::probeReason, this,
            [this](const TevDevice& device, ZelPort, ZelNetworkStatus, ZelProbeReason reason) {
                m_model.setStatusReason(device.netHostInfo().macAddress(),
                                        zelProbeExplanation(m_checker, device, reason));
            });
    connect(&m_adapter, &ZelCorlaAdapter::deviceFound, this, &MainWindow::handleDeviceFound);
    connect(&m_service, &corla::CommissioningService::logFailed, this,
            [this](const QString& path, const QString& why) {
                // The log is a record beside the work, never a reason to stop it: said once
                // a session, above the list, and the changes go ahead.
                qCWarning(corlaUi).noquote()
                    << "The change log" << path << "was not written:" << why;
                showNotice(QStringLiteral("The change log %1 cannot be written (%2): changes "
                                          "and resets go ahead without it.")
                               .arg(path, why));
            });
    // What discovery could not do is said above the list, once per cause, never in a box:
    // it may come during a flood.
    connect(&m_adapter, &ZelCorlaAdapter::warning, this,
            [this](const QString& text) { showNotice(QStringLiteral("Discovery: ") + text); });
    connect(&m_model.list(), &CorlaDeviceList::capacityReached, this, [this](int capacity) {
        showNotice(QStringLiteral("Further answers ignored: more devices than Corla lists at "
                                  "once (%1).")
                       .arg(capacity));
    });
    // The buttons follow the selected row's state.
    const auto rowChanged = [this](int row) {
        const auto selected = selectedDevice();
        if (selected && selected == m_model.deviceList().value(row))
            updateActions();
    };
    connect(&m_model.list(), &CorlaDeviceList::statusChanged, this, rowChanged);
    connect(&m_model.list(), &CorlaDeviceList::conflictChanged, this, rowChanged);
    connect(&m_model, &CorlaTableModel::deviceListChanged, this,
            &MainWindow::handleDeviceListChanged);
    connect(m_ui->tblMainTableView->selectionModel(), &QItemSelectionModel::selectionChanged, this,
            &MainWindow::handleSelection);
    connect(m_ui->tblMainTableView, &QTableView::doubleClicked, this,
            &MainWindow::onTblDoubleClicked);
    connect(m_ui->btnWebserver, &QPushButton::clicked, this, [this] {
        if (auto device = selectedDevice())
            openDeviceWebserver(*device);
    });
    connect(m_ui->btnExport, &QPushButton::clicked, this, [this] { exportCsv(); });
}

void MainWindow::broadcastEnquiry()
{
    m_model.list().beginRound();
    m_adapter.netEnquire(ZelDevice(ZelDeviceType::NoDevice));
    m_roundTimer.start(RoundEndMs);
}

void MainWindow::finishRound()
{
    m_roundTimer.stop();
    const auto devices = m_model.deviceList();
    for (const auto& device : devices) {
        const TevMacAddr& mac = device->netHostInfo().macAddress();
        if (!m_model.list().heardThisRound(mac))
            markUnheard(mac);
    }
    updateActions();
}

void MainWindow::markUnheard(const TevMacAddr& mac)
{
    const auto device = m_model.device(mac);
    if (!device)
        return;
    // A probe still under way would colour the row as if the device were there.
    m_checker.restartProbe(*device, ProbedPort);
    const QDateTime last = m_model.list().lastHeard(mac);
    m_model.list().setStatus(mac, ZelNetworkStatus::NotFound);
    m_model.setStatusReason(mac, last.isValid() ? QStringLiteral("No answer since ") +
                                                      last.toString(QStringLiteral("HH:mm:ss"))
                                                : QStringLiteral("No answer"));
    qCDebug(corlaUi).noquote() << CorlaText::mac(mac) << "did not answer the last enquiry";
}

void MainWindow::probeAgain(const TevMacAddr& mac)
{
    if (const auto device = m_model.device(mac)) {
        m_checker.restartProbe(*device, ProbedPort);
        m_model.list().setStatus(mac, ZelNetworkStatus::Pending);
        m_checker.checkPort(*device, ProbedPort);
    }
}

void MainWindow::refresh()
{
    m_ui->btnRefresh->setEnabled(false);
    m_refreshTimer.start(100);
    m_ui->tblMainTableView->clearSelection();
    // Probes still running belong to the list as it was: their results no longer count.
    m_checker.restartProbes();
    m_model.clearStatusReasons();
    // Copy: an update may not change the list, but it must not matter if it did.
    const auto devices = m_model.deviceList();
    for (const auto& device : devices)
        m_model.list().setStatus(device->netHostInfo().macAddress(), ZelNetworkStatus::Pending);
    broadcastEnquiry();
}

std::shared_ptr<TevDevice> MainWindow::selectedDevice() const
{
    const QModelIndexList indexes = m_ui->tblMainTableView->selectionModel()->selectedIndexes();
    if (indexes.isEmpty())
        return {};
    auto* proxy = qobject_cast<QSortFilterProxyModel*>(m_ui->tblMainTableView->model());
    if (proxy == nullptr)
        return {};
    return m_model.deviceAtIndex(proxy->mapToSource(indexes.first()));
}

void MainWindow::clearMainTable()
{
    m_ui->gbDeviceActions->setEnabled(false);
    m_ui->lblDeviceAction->setText(QStringLiteral("Select a device in the list above."));
    m_model.list().clear();
}

void MainWindow::handleDeviceFound(std::shared_ptr<TevDevice> device)
{
    if (!device)
        return;
    m_model.list().merge(device);
    // Every enquiry is answered several times over: only a row still waiting for its
    // verdict (new, refreshed, changed or back after a silence) is probed.
    const auto listed = m_model.device(device->netHostInfo().macAddress());
    if (listed && (listed->netStat() == ZelNetworkStatus::Pending ||
                   listed->netStat() == ZelNetworkStatus::NotFound))
        m_checker.checkPort(*listed, ProbedPort);
}

void MainWindow::handleStatus(const TevDevice& device, ZelPort, ZelNetworkStatus status)
{
    m_model.list().setStatus(device.netHostInfo().macAddress(), status);
}

void MainWindow::handleSelection(const QItemSelection& selected, const QItemSelection&)
{
    m_ui->gbDeviceActions->setEnabled(!selected.isEmpty());
    updateActions();
}

void MainWindow::updateActions()
{
    const auto device = selectedDevice();
    if (!device) {
        m_ui->lblDeviceAction->setText(QStringLiteral("Select a device in the list above."));
        return;
    }
    m_ui->lblDeviceAction->setText(QString::fromStdString(device->friendlyName()) +
                                   QStringLiteral(" Actions:"));
    m_ui->btnWebserver->setEnabled(device->hasWebserver() &&
                                   device->netStat() == ZelNetworkStatus::Reachable);
    // A device that did not answer lately keeps its last settings and may be tried.
    const bool idle = device->netStat() != ZelNetworkStatus::Pending &&
                      !m_busy.contains(corlaMacKey(device->netHostInfo().macAddress()));
    m_ui->btnConfig->setEnabled(idle);
    m_ui->btnReset->setEnabled(idle);
}

void MainWindow::showNotice(const QString& line)
{
    // Each cause once, the latest few: a notice, never a flood of its own.
    constexpr int kMaxNotices = 4;
    if (m_notices.contains(line))
        return;
    m_notices.append(line);
    while (m_notices.size() > kMaxNotices)
        m_notices.removeFirst();
    m_ui->lblNotice->setText(m_notices.join(QLatin1Char('\n')));
    m_ui->lblNotice->show();
}

void MainWindow::updateDevCountDisplay()
{
    m_ui->lblDevCount->setText(QStringLiteral("(%1)").arg(m_model.numDevices()));
}

void MainWindow::handleDeviceListChanged()
{
    updateDevCountDisplay();
    // Sizing rows and columns to their contents visits every row (up to a thousand); doing
    // it per appended device made a burst of answers quadratic (a thousand devices took half
    // a minute). A short list is fitted on the next pass of the event loop; a long one at
    // most a few times a second, so that a fleet answering every copy of an enquiry is not
    // measured between every slice of its answers.
    constexpr int kLongList = 200;
    constexpr int kLongListFitMs = 250;
    if (!m_layoutPending) {
        m_layoutPending = true;
        QTimer::singleShot(m_model.numDevices() > kLongList ? kLongListFitMs : 0, this, [this] {
            m_layoutPending = false;
            fitTableToContents();
        });
    }
}

void MainWindow::fitTableToContents()
{
    QTableView* view = m_ui->tblMainTableView;
    // Every row holds one line of text: one row's height is every row's, and measuring
    // thousands of rows one by one blocked the window for hundreds of milliseconds.
    if (m_model.numDevices() > 0) {
        view->resizeRowToContents(0);
        QHeaderView* rows = view->verticalHeader();
        rows->setDefaultSectionSize(view->rowHeight(0));
        rows->setSectionResizeMode(QHeaderView::Fixed);
    }
    // With the header hidden its texts do not count, so each column is as wide as its cells.
    QHeaderView* header = view->horizontalHeader();
    header->hide();
    view->resizeColumnsToContents();
    header->setStretchLastSection(true);
    header->show();
}

QMessageBox* MainWindow::boxFor(const TevMacAddr& mac, QMessageBox::Icon icon, const QString& title,
                                const QString& text, QMessageBox::StandardButtons buttons)
{
    QPointer<QMessageBox>& open = m_boxes[corlaMacKey(mac)];
    if (open) {
        qCDebug(corlaUi).noquote() << "A box about" << CorlaText::mac(mac)
                                   << "is open already; not shown:" << title << text;
        return nullptr;
    }
    auto* box = new QMessageBox(icon, title, text, buttons, this);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setWindowModality(Qt::WindowModal);
    open = box;
    return box;
}

void MainWindow::showBox(const TevMacAddr& mac, QMessageBox::Icon icon, const QString& title,
                         const QString& text)
{
    if (QMessageBox* box = boxFor(mac, icon, title, text, QMessageBox::Ok))
        box->open();
}

bool MainWindow::askIfConflicting(const TevDevice& device, const QString& action,
                                  std::function<void()> proceed)
{
    const TevMacAddr mac = device.netHostInfo().macAddress();
    const auto conflict = m_model.list().conflict(mac);
    if (!conflict)
        return false;
    QMessageBox* box =
        boxFor(mac, QMessageBox::Question, QStringLiteral("Conflicting Answers"),
               conflict->text() + QStringLiteral("\n\n%1 %2 anyway?").arg(action, nameOf(device)),
               QMessageBox::Yes | QMessageBox::No);
    if (!box)
        return true;
    box->setDefaultButton(QMessageBox::No);
    // Queued: what follows may open a dialog of its own, which should not start inside
    // the closing box's call.
    connect(
        box, &QMessageBox::finished, this,
        [proceed = std::move(proceed)](int answer) {
            if (answer == QMessageBox::Yes)
                proceed();
        },
        Qt::QueuedConnection);
    box->open();
    return true;
}

void MainWindow::onResetClicked()
{
    const auto device = selectedDevice();
    if (!device)
        return;
    const TevMacAddr mac = device->netHostInfo().macAddress();
    if (!askIfConflicting(*device, QStringLiteral("Reset"), [this, mac] { startReset(mac, true); }))
        startReset(mac, false);
}

void MainWindow::startReset(const TevMacAddr& mac, bool force)
{
    const auto device = m_model.device(mac);
    if (!device || m_busy.contains(corlaMacKey(mac)))
        return;
    m_busy.insert(corlaMacKey(mac));
    updateActions();
    corla::ResetOperation* reset = m_service.reset(mac, true, force);
    connect(reset, &corla::ResetOperation::restarting, this, &MainWindow::resetRestarting);
    connect(reset, &corla::ResetOperation::finished, this, &MainWindow::resetFinished);
    reset->start();
}

void MainWindow::resetRestarting(const corla::ResetResult& progress)
{
    const auto device = m_model.device(progress.mac);
    if (!device)
        return;
    m_checker.restartProbe(*device, ProbedPort);
    m_model.list().setStatus(progress.mac, ZelNetworkStatus::Pending);
    m_ui->tblMainTableView->clearSelection();
    showBox(progress.mac, QMessageBox::Information, QStringLiteral("Device Resetting"),
            nameOf(*device) + QStringLiteral(" is resetting. This may take up to two minutes."));
}

void MainWindow::resetFinished(const corla::ResetResult& result)
{
    m_busy.remove(corlaMacKey(result.mac));
    const auto device = m_model.device(result.mac);
    if (device) {
        switch (result.outcome) {
        case corla::ResetOutcome::Back:
            if (result.device)
                m_model.list().merge(result.device);
            probeAgain(result.mac);
            break;
        case corla::ResetOutcome::NotBack:
            markUnheard(result.mac);
            break;
        case corla::ResetOutcome::Acknowledged:
        case corla::ResetOutcome::WentSilent:
            break;
        case corla::ResetOutcome::NotFound:
            markUnheard(result.mac);
            showBox(result.mac, QMessageBox::Warning, QStringLiteral("Corla Error!"),
                    nameOf(*device) + QStringLiteral(": ") + result.outcomeText());
            break;
        case corla::ResetOutcome::KeptAnswering:
        case corla::ResetOutcome::NoAnswer:
        case corla::ResetOutcome::Conflicting:
            probeAgain(result.mac);
            showBox(result.mac, QMessageBox::Warning, QStringLiteral("Corla Error!"),
                    nameOf(*device) + QStringLiteral(": ") + result.outcomeText());
            break;
        }
    }
    updateActions();
}

void MainWindow::onConfigClicked()
{
    const auto device = selectedDevice();
    if (!device)
        return;
    const TevMacAddr mac = device->netHostInfo().macAddress();
    const bool asked = askIfConflicting(*device, QStringLiteral("Configure"), [this, mac] {
        if (const auto listed = m_model.device(mac))
            openConfigDialog(*listed, true);
    });
    if (!asked)
        openConfigDialog(*device);
}

int MainWindow::openConfigDialog(const TevDevice& device, bool force)
{
    auto* dialog = new CorlaConfigDialog(device, this);
    dialog->setModal(true);
    QVector<QPair<TevMacAddr, TevIpAddr>> known;
    for (const auto& listed : m_model.deviceList())
        known.append({listed->netHostInfo().macAddress(), listed->netHostInfo().ipAddress()});
    dialog->setKnownDevices(known);
    connect(dialog, &CorlaConfigDialog::configAccepted, this,
            [this, force](const TevDevice& configured, const TevNetHostInfo& settings) {
                onConfigAccepted(configured, settings, force);
            });
    connect(dialog, &CorlaConfigDialog::configAccepted, dialog, &QObject::deleteLater);
    connect(dialog, &QDialog::rejected, dialog, &QObject::deleteLater);
    return dialog->exec();
}

void MainWindow::onConfigAccepted(const TevDevice& device, const TevNetHostInfo& netHostInfo,
                                  bool force)
{
    const TevMacAddr mac = device.netHostInfo().macAddress();
    if (m_busy.contains(corlaMacKey(mac)))
        return;
    auto listed = m_model.device(mac);
    if (!listed)
        listed = std::make_shared<TevDevice>(device);
    m_busy.insert(corlaMacKey(mac));
    updateActions();
    corla::ChangeOptions options;
    options.checkInUse = false; // the dialog has checked
    options.force = force;
    options.lookUpFirst = false;
    corla::ChangeOperation* change = m_service.change(listed, netHostInfo, options);
    connect(change, &corla::ChangeOperation::finished, this, &MainWindow::changeFinished);
    change->start();
}

void MainWindow::changeFinished(const corla::ChangeResult& result)
{
    const TevMacAddr mac =
        result.device ? result.device->netHostInfo().macAddress() : result.requested.macAddress();
    m_busy.remove(corlaMacKey(mac));
    const auto listed = m_model.device(mac);
    const QString name =
        listed ? nameOf(*listed) : (result.device ? nameOf(*result.device) : CorlaText::mac(mac));
    if (result.ok()) {
        if (listed && result.reported) {
            m_checker.restartProbe(*listed, ProbedPort);
            m_model.list().updateSettings(mac, *result.reported);
            m_checker.checkPort(*listed, ProbedPort);
        }
        showBox(mac, QMessageBox::Information, QStringLiteral("Change Accepted"),
                QStringLiteral("The device's configuration was changed successfully"));
    } else if (result.outcome == corla::ChangeOutcome::Refused) {
        const TevDevice& device = listed ? *listed : *result.device;
        showBox(mac, QMessageBox::Warning, QStringLiteral("Corla Error!"),
                ZelCorlaAdapter::rejectionText(device, int16_t(result.refusal)));
    } else {
        showBox(mac, QMessageBox::Warning, QStringLiteral("Corla Error!"),
                name + QStringLiteral(": ") + result.outcomeText());
    }
    updateActions();
}

void MainWindow::openDeviceWebserver(const TevDevice& device)
{
    const QString address = QString::fromStdString(device.netHostInfo().ipAddress().toString());
    QDesktopServices::openUrl(QUrl(QStringLiteral("http://") + address, QUrl::TolerantMode));
}

void MainWindow::onTblDoubleClicked(const QModelIndex& index)
{
    auto* proxy = qobject_cast<QSortFilterProxyModel*>(m_ui->tblMainTableView->model());
    if (!index.isValid() || proxy == nullptr)
        return;
    auto device = m_model.deviceAtIndex(proxy->mapToSource(index));
    if (!device)
        return;
    if (device->netStat() == ZelNetworkStatus::Reachable && device->hasWebserver()) {
        openDeviceWebserver(*device);
        return;
    }
    const TevMacAddr mac = device->netHostInfo().macAddress();
    const bool asked = askIfConflicting(*device, QStringLiteral("Configure"), [this, mac] {
        if (const auto listed = m_model.device(mac))
            openConfigDialog(*listed, true);
    });
    if (!asked)
        openConfigDialog(*device);
}

QString MainWindow::proposedExportPath(const QDateTime& now) const
{
    QString folder = QSettings().value(ExportFolderKey).toString();
    if (folder.isEmpty() || !QFileInfo(folder).isDir())
        folder = QStandardPaths::writableLocation(QStandardPaths::DesktopLocation);
    return folder + QStringLiteral("/devices-") + now.toString(QStringLiteral("yyyyMMdd-HHmm")) +
           QStringLiteral(".csv");
}

void MainWindow::exportCsv()
{
    const QString fileName = QFileDialog::getSaveFileName(
        this, trMain("Export CSV"), proposedExportPath(QDateTime::currentDateTime()),
        trMain("Comma Separated Values (*.csv)"));
    if (fileName.isEmpty())
        return;

    const CsvFileResult written = writeCsvFile(fileName, m_model.toCsv());
    if (written.ok())
        QSettings().setValue(ExportFolderKey, QFileInfo(fileName).absolutePath());
    if (written.failure == CsvFileResult::NotOpened) {
        QMessageBox::critical(this, QStringLiteral("Export Error!"),
                              QStringLiteral("The file could not be opened for writing.") +
                                  QStringLiteral("\n\n") + written.reason,
                              QMessageBox::Ok);
    } else if (written.failure == CsvFileResult::NotWritten) {
        // A full disk or a vanished share must not look like a finished export.
        QMessageBox::critical(this, QStringLiteral("Export Error!"),
                              QStringLiteral("The file could not be written completely.") +
                                  QStringLiteral("\n\n") + written.reason,
                              QMessageBox::Ok);
    }
}
