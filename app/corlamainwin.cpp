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

QString macKey(const TevMacAddr& mac)
{
    return CorlaText::mac(mac);
}

CorlaChangeLogEntry logEntry(const TevDevice& device,
                             const std::optional<TevNetHostInfo>& requested = std::nullopt)
{
    CorlaChangeLogEntry entry;
    entry.mac = device.netHostInfo().macAddress();
    entry.serial = device.serial();
    entry.type = device.devType();
    entry.found = device.netHostInfo();
    entry.requested = requested;
    return entry;
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
    : QMainWindow(parent), m_ui(new Ui_MainWindow), m_checker(*checker), m_adapter(*adapter)
{
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
    connect(&m_adapter, &ZelCorlaAdapter::deviceChanged, this,
            [this](std::shared_ptr<ZelDevice> dev) { handleDeviceChanged(std::move(dev)); });
    connect(&m_adapter, &ZelCorlaAdapter::deviceReset, this, &MainWindow::handleDeviceReset);
    connect(&m_adapter, &ZelCorlaAdapter::error, this, [this](const QString& text) {
        recordRefusal(text);
        QMessageBox::warning(this, QStringLiteral("Corla Error!"), text, QMessageBox::Ok);
    });
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
    m_adapter.netEnquire(ZelDevice(ZelDeviceType::NoDevice));
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
    m_checker.checkPort(*device, ProbedPort);
}

void MainWindow::handleStatus(const TevDevice& device, ZelPort, ZelNetworkStatus status)
{
    m_model.list().setStatus(device.netHostInfo().macAddress(), status);
}

void MainWindow::handleSelection(const QItemSelection& selected, const QItemSelection&)
{
    m_ui->gbDeviceActions->setEnabled(!selected.isEmpty());
    const auto device = selectedDevice();
    if (!device) {
        m_ui->lblDeviceAction->setText(QStringLiteral("Select a device in the list above."));
        return;
    }
    m_ui->lblDeviceAction->setText(QString::fromStdString(device->friendlyName()) +
                                   QStringLiteral(" Actions:"));
    m_ui->btnWebserver->setEnabled(device->hasWebserver() &&
                                   device->netStat() == ZelNetworkStatus::Reachable);
    m_ui->btnConfig->setEnabled(device->netStat() != ZelNetworkStatus::Pending);
    m_ui->btnReset->setEnabled(device->netStat() != ZelNetworkStatus::Pending);
}

void MainWindow::updateDevCountDisplay()
{
    m_ui->lblDevCount->setText(QStringLiteral("(%1)").arg(m_model.numDevices()));
}

void MainWindow::handleDeviceListChanged()
{
    updateDevCountDisplay();
    // Sizing rows and columns to their contents visits every row; doing it per appended
    // device made a burst of answers quadratic (a thousand devices took half a minute).
    // Once per pass of the event loop gives the same layout.
    if (!m_layoutPending) {
        m_layoutPending = true;
        QTimer::singleShot(0, this, [this] {
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

void MainWindow::record(CorlaChangeLogEntry entry, const QString& outcome)
{
    if (!m_changeLog)
        return;
    entry.time = QDateTime::currentDateTime();
    entry.outcome = outcome;
    QString why;
    // The log is a record beside the work, never a reason to stop it.
    if (!m_changeLog->append(entry, &why))
        qCWarning(corlaUi).noquote()
            << "The change log" << m_changeLog->path() << "was not written:" << why;
}

void MainWindow::recordRefusal(const QString& errorText)
{
    for (auto sent = m_sentChanges.begin(); sent != m_sentChanges.end(); ++sent) {
        if (errorText.startsWith(sent->refusalPrefix)) {
            record(sent->entry,
                   QStringLiteral("refused: ") + errorText.mid(sent->refusalPrefix.size()));
            m_sentChanges.erase(sent);
            return;
        }
    }
}

void MainWindow::onResetClicked()
{
    if (auto device = selectedDevice()) {
        m_adapter.resetDevice(device->netHostInfo().macAddress());
        const CorlaChangeLogEntry entry = logEntry(*device);
        record(entry, QStringLiteral("reset sent"));
        m_sentResets.insert(macKey(entry.mac), entry);
    }
}

void MainWindow::handleDeviceReset(const TevMacAddr& mac)
{
    // A device may acknowledge once per local address; the first one counts.
    const auto sent = m_sentResets.constFind(macKey(mac));
    if (sent != m_sentResets.constEnd()) {
        record(*sent, QStringLiteral("reset acknowledged"));
        m_sentResets.erase(sent);
    }
    auto device = m_model.device(mac);
    if (!device)
        return;
    const QString name = QString::fromStdString(device->friendlyName());
    m_checker.restartProbe(*device, ProbedPort);
    m_model.list().setStatus(mac, ZelNetworkStatus::Pending);
    m_ui->tblMainTableView->clearSelection();
    QMessageBox::information(
        this, QStringLiteral("Device Resetting"),
        name + QStringLiteral(" is resetting. This may take up to two minutes."), QMessageBox::Ok);
}

void MainWindow::onConfigClicked()
{
    if (auto device = selectedDevice())
        openConfigDialog(*device);
}

int MainWindow::openConfigDialog(const TevDevice& device)
{
    auto* dialog = new CorlaConfigDialog(device, this);
    dialog->setModal(true);
    connect(dialog, &CorlaConfigDialog::configAccepted, this, &MainWindow::onConfigAccepted);
    connect(dialog, &CorlaConfigDialog::configAccepted, dialog, &QObject::deleteLater);
    connect(dialog, &QDialog::rejected, dialog, &QObject::deleteLater);
    return dialog->exec();
}

void MainWindow::onConfigAccepted(const TevDevice& device, const TevNetHostInfo& netHostInfo)
{
    m_adapter.changeNetSettings(device.serial(), device.devType(), netHostInfo);
    const SentChange sent{logEntry(device, netHostInfo), ZelCorlaAdapter::rejectionText(device, 0)};
    record(sent.entry, QStringLiteral("sent"));
    m_sentChanges.insert(macKey(sent.entry.mac), sent);
}

void MainWindow::handleDeviceChanged(std::shared_ptr<TevDevice> changed)
{
    if (changed) {
        const auto sent = m_sentChanges.constFind(macKey(changed->netHostInfo().macAddress()));
        if (sent != m_sentChanges.constEnd()) {
            record(sent->entry, QStringLiteral("accepted"));
            m_sentChanges.erase(sent);
        }
        auto listed = m_model.device(changed->netHostInfo().macAddress());
        // Every local address sends the request, so confirmations arrive more than once;
        // only the first one still differs from the listed settings.
        if (listed && listed->netHostInfo() != changed->netHostInfo()) {
            m_checker.restartProbe(*listed, ProbedPort);
            m_model.list().updateSettings(listed->netHostInfo().macAddress(),
                                          changed->netHostInfo());
            m_checker.checkPort(*listed, ProbedPort);
            QMessageBox::information(
                this, QStringLiteral("Change Accepted"),
                QStringLiteral("The device's configuration was changed successfully"),
                QMessageBox::Ok);
        }
    }
    if (!selectedDevice())
        m_ui->gbDeviceActions->setEnabled(false);
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
    if (device->netStat() == ZelNetworkStatus::Reachable && device->hasWebserver())
        openDeviceWebserver(*device);
    else
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
                              QStringLiteral("The file could not be opened for writing."),
                              QMessageBox::Ok);
    } else if (written.failure == CsvFileResult::NotWritten) {
        // A full disk or a vanished share must not look like a finished export.
        QMessageBox::critical(this, QStringLiteral("Export Error!"),
                              QStringLiteral("The file could not be written completely."),
                              QMessageBox::Ok);
    }
}
