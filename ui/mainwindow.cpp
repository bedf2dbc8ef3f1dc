// SPDX-License-Identifier: Apache-2.0
// SPDX-FileCopyrightText: 2026 The Corla developers
#include "ui/mainwindow.h"

#include "core/fleet/csv.h"
#include "core/fleet/displaytext.h"
#include "core/net/devicetypes.h"
#include "core/net/hostreport.h"
#include "core/net/logging.h"
#include "corlaversion.h"
#include "ui/aboutbox.h"
#include "ui/applyplandialog.h"
#include "ui/configuredialog.h"
#include "ui/mainwindow_form.h"
#include "ui/networksettingspane.h"

#include <QAction>
#include <QClipboard>
#include <QCloseEvent>
#include <QDateTime>
#include <QDesktopServices>
#include <QDir>
#include <QFileDialog>
#include <QFutureWatcher>
#include <QGuiApplication>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QScreen>
#include <QScrollBar>
#include <QSettings>
#include <QSortFilterProxyModel>
#include <QStandardPaths>
#include <QStyle>
#include <QStyleOptionViewItem>
#include <QUrl>
#include <QtConcurrent/QtConcurrentRun>

#include <algorithm>

namespace corla {

const char* const MainWindow::Version = CORLA_VERSION;
const char* const MainWindow::BuildDate = CORLA_BUILD_DATE;

namespace {

const DevicePort ProbedPort = DevicePort::Ftp;

// What the window remembers between runs (QSettings, by the names of
// setApplicationIdentity()).
const QString GeometryKey = QStringLiteral("window/geometry");
const QString SortColumnKey = QStringLiteral("table/sortColumn");
const QString SortOrderKey = QStringLiteral("table/sortOrder");
const QString ExportFolderKey = QStringLiteral("export/folder");
const QString PlanFolderKey = QStringLiteral("apply/folder");
const QString ShownColumnsKey = QStringLiteral("table/shownColumns");
const QString AutoRefreshKey = QStringLiteral("window/autoRefresh");

// The columns shown on request as the settings name them, from FirstOptionalColumn on.
const char* const OptionalColumnNames[] = {"subnet", "gateway", "dns", "interface", "reason"};
static_assert(sizeof(OptionalColumnNames) / sizeof(*OptionalColumnNames) ==
                  DeviceTableModel::ColumnCount - DeviceTableModel::FirstOptionalColumn,
              "one name per optional column");

// Matches the filter text, whatever its case, in the columns the table shows: a row must
// not pass for a text nobody can see in it.
class ShownColumnsFilter : public QSortFilterProxyModel
{
public:
    using QSortFilterProxyModel::QSortFilterProxyModel;
    void setHeader(QHeaderView* header) { m_header = header; }
    void setText(const QString& text)
    {
        m_text = text;
        invalidateFilter();
    }
    void columnsShownChanged()
    {
        if (!m_text.isEmpty())
            invalidateFilter();
    }

protected:
    bool filterAcceptsRow(int row, const QModelIndex& parent) const override
    {
        if (m_text.isEmpty())
            return true;
        const QAbstractItemModel* source = sourceModel();
        for (int column = 0; column < source->columnCount(parent); ++column) {
            if (m_header && m_header->isSectionHidden(column))
                continue;
            if (source->index(row, column, parent)
                    .data()
                    .toString()
                    .contains(m_text, Qt::CaseInsensitive))
                return true;
        }
        return false;
    }

private:
    QPointer<QHeaderView> m_header;
    QString m_text;
};

const int DefaultSortColumn = 2;

QString trMain(const char* text)
{
    return QCoreApplication::translate("MainWindow", text);
}

QString nameOf(const Device& device)
{
    return QString::fromStdString(device.friendlyName());
}

// The longest of a vocabulary's display texts.
template <typename Map> QString longestText(const Map& texts)
{
    QString longest;
    for (const auto& entry : texts) {
        const QString text = QString::fromStdString(entry.second);
        if (text.size() > longest.size())
            longest = text;
    }
    return longest;
}

// The widest text each column may have to show on one line, for sizing the window before
// any device is listed.
QString widestCellText(int column)
{
    switch (column) {
    case DeviceTableModel::StatusColumn: {
        QString longest;
        for (int status = 0; status < RowStatusCount; ++status) {
            const QString word = statusWord(RowStatus(status));
            if (word.size() > longest.size())
                longest = word;
        }
        return longest;
    }
    case DeviceTableModel::TypeColumn:
        return longestText(DeviceTexts::deviceTypeNames);
    case DeviceTableModel::SerialColumn:
        return QStringLiteral("65535");
    case DeviceTableModel::IpColumn:
    case DeviceTableModel::SubnetColumn:
    case DeviceTableModel::GatewayColumn:
    case DeviceTableModel::DnsColumn:
    case DeviceTableModel::InterfaceColumn:
        return QStringLiteral("255.255.255.255");
    case DeviceTableModel::ModeColumn: {
        QString longest;
        for (const AddressMode mode : {AddressModeNotSet, AddressModeDhcp, AddressModeStatic}) {
            const QString text = DisplayText::addressMode(mode);
            if (text.size() > longest.size())
                longest = text;
        }
        return longest;
    }
    case DeviceTableModel::MacColumn:
        return QStringLiteral("00:00:00:00:00:00");
    default:
        return QString();
    }
}

// What a cell holding `text` needs in `view`, as its delegate would measure it (with the
// style sheet's item padding).
QSize cellSize(const QTableView* view, const QString& text)
{
    QStyleOptionViewItem option;
    option.initFrom(view);
    option.widget = view;
    option.font = view->font();
    option.fontMetrics = view->fontMetrics();
    option.features = QStyleOptionViewItem::HasDisplay;
    option.text = text;
    option.displayAlignment = Qt::AlignLeft | Qt::AlignVCenter;
    const QSize size =
        view->style()->sizeFromContents(QStyle::CT_ItemViewItem, &option, QSize(), view);
    const int grid = view->showGrid() ? 1 : 0;
    return QSize(size.width() + grid, std::max(size.height(), view->fontMetrics().height()) + grid);
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

MainWindow::MainWindow(DiscoveryClient* adapter, PortProbeScheduler* checker, QWidget* parent)
    : QMainWindow(parent), m_ui(new Ui_MainWindow), m_checker(*checker), m_adapter(*adapter),
      m_service(adapter)
{
    // As long as the "Device Resetting" box says a restart may take.
    m_service.timing().returnLimitMs = 120000;
    m_roundTimer.setSingleShot(true);
    connect(&m_roundTimer, &QTimer::timeout, this, &MainWindow::finishRound);
    m_autoRefreshTimer.setInterval(AutoRefreshMs);
    connect(&m_autoRefreshTimer, &QTimer::timeout, this, &MainWindow::autoRefresh);
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

void MainWindow::setChangeLog(const ChangeLog* log)
{
    m_service.setChangeLog(log, QStringLiteral("corla"));
}

void MainWindow::initializeUi()
{
    setWindowTitle(QStringLiteral("Corla v") + QLatin1String(Version));

    auto* filter = new ShownColumnsFilter(this);
    m_proxy = filter;
    m_proxy->setSourceModel(&m_model);
    // Numbers for addresses and serials: 10.0.0.9 before 10.0.0.10.
    m_proxy->setSortRole(DeviceTableModel::SortRole);
    QTableView* view = m_ui->tblMainTableView;
    view->setModel(m_proxy);
    filter->setHeader(view->horizontalHeader());
    view->setSortingEnabled(true);
    view->setItemDelegate(new DeviceItemDelegate(this));

    QHeaderView* header = view->horizontalHeader();
    header->setStretchLastSection(true);
    header->setSortIndicator(DefaultSortColumn, Qt::AscendingOrder);
    // One line per row, as high as the font needs.
    view->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    view->verticalHeader()->setDefaultSectionSize(oneLineRowHeight());
    view->setSelectionBehavior(QAbstractItemView::SelectRows);
    view->setSelectionMode(QAbstractItemView::ExtendedSelection);
    view->setContextMenuPolicy(Qt::CustomContextMenu);
    createActions();
    createViewMenu();

    m_ui->gbDeviceActions->setEnabled(false);
    m_ui->btnSettings->hide();
    // The installed theme's icon where there is one, so the window matches the menu entry.
    setWindowIcon(QIcon::fromTheme(QStringLiteral("org.example.corla"),
                                   QIcon(QStringLiteral(":/icons/corla.svg"))));
}

void MainWindow::restoreSettings()
{
    const QSettings settings;
    m_geometryRestored = restoreGeometry(settings.value(GeometryKey).toByteArray());

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

    const QStringList shown = settings.value(ShownColumnsKey).toStringList();
    for (int i = 0; i < m_columnActions.size(); ++i)
        m_columnActions[i]->setChecked(shown.contains(QLatin1String(OptionalColumnNames[i])));
    // Saved only from here on: restoring is no choice of the user's.
    for (QAction* action : qAsConst(m_columnActions)) {
        connect(action, &QAction::toggled, this, [this] {
            QStringList names;
            for (int i = 0; i < m_columnActions.size(); ++i) {
                if (m_columnActions[i]->isChecked())
                    names << QLatin1String(OptionalColumnNames[i]);
            }
            QSettings().setValue(ShownColumnsKey, names);
        });
    }

    setAutoRefresh(settings.value(AutoRefreshKey, false).toBool());
    m_ui->cbAutoRefresh->setChecked(m_autoRefreshTimer.isActive());
    connect(m_ui->cbAutoRefresh, &QCheckBox::toggled, this, [this](bool on) {
        QSettings().setValue(AutoRefreshKey, on);
        setAutoRefresh(on);
    });
}

void MainWindow::createViewMenu()
{
    QHeaderView* header = m_ui->tblMainTableView->horizontalHeader();
    m_viewMenu = menuBar()->addMenu(QStringLiteral("&View"));
    for (int column = DeviceTableModel::FirstOptionalColumn; column < DeviceTableModel::ColumnCount;
         ++column) {
        QAction* action =
            m_viewMenu->addAction(m_model.headerData(column, Qt::Horizontal).toString());
        action->setCheckable(true);
        connect(action, &QAction::toggled, this,
                [this, column](bool shown) { setColumnShown(column, shown); });
        m_columnActions << action;
        header->setSectionHidden(column, true);
    }
    header->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(header, &QWidget::customContextMenuRequested, this,
            [this, header](const QPoint& pos) { m_viewMenu->popup(header->mapToGlobal(pos)); });
}

void MainWindow::setColumnShown(int column, bool shown)
{
    QTableView* view = m_ui->tblMainTableView;
    view->horizontalHeader()->setSectionHidden(column, !shown);
    if (shown)
        view->resizeColumnToContents(column);
    static_cast<ShownColumnsFilter*>(m_proxy)->columnsShownChanged();
    updateActions();
}

void MainWindow::setAutoRefreshInterval(int ms)
{
    m_autoRefreshTimer.setInterval(ms);
}

void MainWindow::setAutoRefresh(bool on)
{
    if (on == m_autoRefreshTimer.isActive())
        return;
    qCDebug(logUi) << "Auto refresh" << (on ? "on" : "off");
    if (on)
        m_autoRefreshTimer.start();
    else
        m_autoRefreshTimer.stop();
}

void MainWindow::autoRefresh()
{
    // The round still open ends first, so that who missed it is marked before the next
    // one begins; the rows keep their verdicts, the selection and the order.
    if (m_roundTimer.isActive())
        finishRound();
    broadcastEnquiry();
}

void MainWindow::closeEvent(QCloseEvent* event)
{
    QSettings().setValue(GeometryKey, saveGeometry());
    QMainWindow::closeEvent(event);
}

void MainWindow::showEvent(QShowEvent* event)
{
    // Sized here, not when made: the style sheet (item padding) is in place by now, and so
    // is the screen the window opens on.
    if (!m_shownOnce) {
        m_shownOnce = true;
        fitWindowToTable();
    }
    QMainWindow::showEvent(event);
}

int MainWindow::oneLineRowHeight() const
{
    return cellSize(m_ui->tblMainTableView, QStringLiteral("0")).height();
}

void MainWindow::fitWindowToTable()
{
    QTableView* view = m_ui->tblMainTableView;
    view->verticalHeader()->setDefaultSectionSize(oneLineRowHeight());

    // Never larger than the screen, title bar included: a small or scaled screen (an
    // 800-pixel laptop at 200 %) must still show the whole window and its buttons.
    const QScreen* onScreen = screen();
    const QRect available = onScreen ? onScreen->availableGeometry() : QRect(0, 0, 1024, 768);
    const int titleBar = style()->pixelMetric(QStyle::PM_TitleBarHeight, nullptr, this);
    const QSize room(available.width(), std::max(1, available.height() - titleBar));
    setMinimumSize(QSize(500, 546).boundedTo(room));
    if (m_geometryRestored)
        return;

    // Every column on one line, its header text included.
    const QHeaderView* header = view->horizontalHeader();
    int columns = 0;
    QStringList widths;
    for (int column = 0; column < m_proxy->columnCount(); ++column) {
        if (header->isSectionHidden(column))
            continue;
        const int needed =
            std::max({header->sectionSizeHint(column),
                      static_cast<QAbstractItemView*>(view)->sizeHintForColumn(column),
                      cellSize(view, widestCellText(column)).width()});
        widths << QString::number(needed);
        columns += needed;
    }
    const QMargins margins = m_ui->gridLayout_2->contentsMargins();
    const int width = columns + 2 * view->frameWidth() +
                      view->verticalScrollBar()->sizeHint().width() + margins.left() +
                      margins.right();
    // Room for some twenty rows under the header.
    constexpr int kRows = 20;
    const int tableHeight =
        header->sizeHint().height() + kRows * oneLineRowHeight() + 2 * view->frameWidth();
    const int height = sizeHint().height() + std::max(0, tableHeight - view->sizeHint().height());
    resize(QSize(std::max(width, minimumSizeHint().width()), height)
               .boundedTo(room)
               .expandedTo(minimumSize()));
    qCDebug(logUi).noquote() << "Window sized" << size().width() << "x" << size().height()
                             << "for columns" << widths.join(QLatin1Char(' ')) << "on"
                             << room.width() << "x" << room.height();
}

void MainWindow::createActions()
{
    QTableView* view = m_ui->tblMainTableView;
    const auto make = [this](const QString& text, QWidget* owner, Qt::ShortcutContext context,
                             const QList<QKeySequence>& keys) {
        auto* action = new QAction(text, this);
        action->setShortcuts(keys);
        action->setShortcutContext(context);
        if (owner)
            owner->addAction(action);
        return action;
    };
    // The window's own: wherever the focus is in it.
    m_actions.refresh = make(QStringLiteral("Refresh"), this, Qt::WindowShortcut,
                             {QKeySequence(Qt::Key_F5), QKeySequence(Qt::CTRL + Qt::Key_R)});
    // Through the button, so that the pause after each refresh holds for the keys too.
    connect(m_actions.refresh, &QAction::triggered, m_ui->btnRefresh, &QPushButton::click);
    m_actions.exportList = make(QStringLiteral("Export ..."), this, Qt::WindowShortcut,
                                {QKeySequence(Qt::CTRL + Qt::Key_E)});
    connect(m_actions.exportList, &QAction::triggered, this, [this] { exportCsv(); });
    m_actions.applyPlan = make(QStringLiteral("Apply Plan ..."), this, Qt::WindowShortcut,
                               {QKeySequence(Qt::CTRL + Qt::Key_O)});
    connect(m_actions.applyPlan, &QAction::triggered, this, &MainWindow::applyPlan);
    m_actions.quit = make(QStringLiteral("Quit"), this, Qt::WindowShortcut,
                          {QKeySequence(Qt::CTRL + Qt::Key_Q)});
    connect(m_actions.quit, &QAction::triggered, this, &QWidget::close);
    m_actions.findFilter =
        make(QStringLiteral("Filter"), this, Qt::WindowShortcut, {QKeySequence::Find});
    connect(m_actions.findFilter, &QAction::triggered, this, [this] {
        m_ui->leFilter->setFocus(Qt::ShortcutFocusReason);
        m_ui->leFilter->selectAll();
    });

    // The table's: its context menu, and keys while it has the focus (Ctrl+C in the filter
    // field copies the field's text).
    m_actions.configure = make(QStringLiteral("Configure ..."), nullptr, Qt::WidgetShortcut, {});
    connect(m_actions.configure, &QAction::triggered, this, &MainWindow::onConfigClicked);
    m_actions.reset = make(QStringLiteral("Reset ..."), nullptr, Qt::WidgetShortcut, {});
    connect(m_actions.reset, &QAction::triggered, this, &MainWindow::onResetClicked);
    m_actions.openWeb =
        make(QStringLiteral("Open in Web Browser"), nullptr, Qt::WidgetShortcut, {});
    connect(m_actions.openWeb, &QAction::triggered, this, [this] {
        if (auto device = selectedDevice())
            openDeviceWebserver(*device);
    });
    m_actions.copy = make(QStringLiteral("Copy"), view, Qt::WidgetShortcut, {QKeySequence::Copy});
    connect(m_actions.copy, &QAction::triggered, this, &MainWindow::copySelectedRows);
    m_actions.activate = make(QStringLiteral("Open"), view, Qt::WidgetShortcut,
                              {QKeySequence(Qt::Key_Return), QKeySequence(Qt::Key_Enter)});
    // Enter configures, whatever a double click would open.
    connect(m_actions.activate, &QAction::triggered, this, &MainWindow::onConfigClicked);
    connect(view, &QWidget::customContextMenuRequested, this, &MainWindow::showContextMenu);
}

void MainWindow::showContextMenu(const QPoint& pos)
{
    QTableView* view = m_ui->tblMainTableView;
    const QModelIndex index = view->indexAt(pos);
    if (!index.isValid())
        return;
    // The row under the pointer is the one acted on; within a selection it stays whole.
    if (view->selectionModel()->isRowSelected(index.row(), QModelIndex()))
        view->selectionModel()->setCurrentIndex(index, QItemSelectionModel::NoUpdate);
    else
        view->selectRow(index.row());
    updateActions();
    auto* menu = new QMenu(this);
    menu->setAttribute(Qt::WA_DeleteOnClose);
    menu->addAction(m_actions.configure);
    menu->addAction(m_actions.reset);
    menu->addAction(m_actions.openWeb);
    menu->addSeparator();
    menu->addAction(m_actions.copy);
    menu->popup(view->viewport()->mapToGlobal(pos));
}

QString MainWindow::selectedRowsCsv() const
{
    QModelIndexList rows = m_ui->tblMainTableView->selectionModel()->selectedRows();
    std::sort(rows.begin(), rows.end(),
              [](const QModelIndex& a, const QModelIndex& b) { return a.row() < b.row(); });
    QStringList lines;
    for (const QModelIndex& row : rows) {
        if (const auto device = m_model.deviceAtIndex(m_proxy->mapToSource(row)))
            lines << csvLine(*device);
    }
    if (lines.isEmpty())
        return QString();
    // Several rows go into a spreadsheet: with the header, as the export writes them.
    if (lines.size() > 1)
        lines.prepend(csvHeader());
    return lines.join(QLatin1Char('\n')) + QLatin1Char('\n');
}

void MainWindow::copySelectedRows()
{
    const QString text = selectedRowsCsv();
    if (!text.isEmpty())
        QGuiApplication::clipboard()->setText(text);
}

void MainWindow::createConnections()
{
    connect(m_ui->btnClear, &QPushButton::clicked, this, [this] { clearMainTable(); });
    connect(m_ui->btnConfig, &QPushButton::clicked, this, &MainWindow::onConfigClicked);
    connect(m_ui->btnReset, &QPushButton::clicked, this, &MainWindow::onResetClicked);
    connect(m_ui->btnLogoAbout, &QPushButton::clicked, this, [] {
        AboutBox about(QStringLiteral("Corla"), QLatin1String(Version), QLatin1String(BuildDate));
        about.exec();
    });
    connect(&m_refreshTimer, &QTimer::timeout, this,
            [this] { m_ui->btnRefresh->setEnabled(true); });
    connect(m_ui->btnRefresh, &QPushButton::clicked, this, [this] { refresh(); });
    connect(&m_checker, &PortProbeScheduler::netHostStatus, this, &MainWindow::handleStatus);
    connect(&m_checker, &PortProbeScheduler::probeReason, this,
            [this](const Device& device, DevicePort, Reachability, ProbeReason reason) {
                m_model.setProbeReason(device, reason);
            });
    connect(&m_adapter, &DiscoveryClient::deviceFound, this, &MainWindow::handleDeviceFound);
    connect(&m_service, &corla::CommissioningService::logFailed, this,
            [this](const QString& path, const QString& why) {
                // The log is a record beside the work, never a reason to stop it: said once
                // a session, above the list, and the changes go ahead.
                qCWarning(logUi).noquote() << "The change log" << path << "was not written:" << why;
                showNotice(QStringLiteral("The change log %1 cannot be written (%2): changes "
                                          "and resets go ahead without it.")
                               .arg(path, why));
            });
    // What discovery could not do is said above the list, once per cause, never in a box:
    // it may come during a flood.
    connect(&m_adapter, &DiscoveryClient::warning, this,
            [this](const QString& text) { showNotice(QStringLiteral("Discovery: ") + text); });
    connect(&m_model.list(), &DeviceList::capacityReached, this, [this](int capacity) {
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
    connect(&m_model.list(), &DeviceList::statusChanged, this, rowChanged);
    connect(&m_model.list(), &DeviceList::conflictChanged, this, rowChanged);
    connect(&m_model, &DeviceTableModel::deviceListChanged, this,
            &MainWindow::handleDeviceListChanged);
    connect(m_ui->tblMainTableView->selectionModel(), &QItemSelectionModel::selectionChanged, this,
            &MainWindow::handleSelection);
    connect(m_ui->tblMainTableView->selectionModel(), &QItemSelectionModel::currentChanged, this,
            [this] { updateActions(); });
    // A filter may hide the selected row without a selection signal.
    connect(m_ui->leFilter, &QLineEdit::textChanged, this, [this](const QString& text) {
        static_cast<ShownColumnsFilter*>(m_proxy)->setText(text);
        updateActions();
    });
    connect(m_ui->tblMainTableView, &QTableView::doubleClicked, this,
            &MainWindow::onTblDoubleClicked);
    connect(m_ui->btnWebserver, &QPushButton::clicked, this, [this] {
        if (auto device = selectedDevice())
            openDeviceWebserver(*device);
    });
    connect(m_ui->btnExport, &QPushButton::clicked, this, [this] { exportCsv(); });
    connect(m_ui->btnApplyPlan, &QPushButton::clicked, this, &MainWindow::applyPlan);
}

void MainWindow::broadcastEnquiry()
{
    m_model.list().beginRound();
    m_adapter.netEnquire(Device(DeviceType::NoDevice));
    m_roundTimer.start(RoundEndMs);
}

void MainWindow::finishRound()
{
    m_roundTimer.stop();
    const auto devices = m_model.deviceList();
    for (const auto& device : devices) {
        const MacAddress& mac = device->netHostInfo().macAddress();
        if (!m_model.list().heardThisRound(mac))
            markUnheard(mac);
    }
    // Read once per silence: auto refresh would run the firewall tools every few seconds.
    if (m_model.numDevices() == 0 && m_ui->stkDeviceList->currentWidget() != m_ui->pageNoDevice)
        showNoDeviceExplanation();
    updateDevCountDisplay();
    updateActions();
}

void MainWindow::showNoDeviceExplanation()
{
    // Read once per silent round, away from the window: it looks at the interfaces and
    // runs the firewall tools, each of which may take a while to answer.
    m_ui->txtHostReport->setPlainText(
        QStringLiteral("Looking at this computer's interfaces and firewall ..."));
    m_ui->stkDeviceList->setCurrentWidget(m_ui->pageNoDevice);
    const quint64 round = ++m_hostReportRound;
    auto* watcher = new QFutureWatcher<corla::HostReport>(this);
    connect(watcher, &QFutureWatcherBase::finished, this, [this, watcher, round] {
        watcher->deleteLater();
        if (round != m_hostReportRound)
            return; // a later round asks again
        QStringList lines = corla::hostReportLines(watcher->result());
        if (!lines.isEmpty())
            lines << QString();
        lines << QStringLiteral("Refresh (F5) asks again.");
        m_ui->txtHostReport->setPlainText(lines.join(QLatin1Char('\n')));
        qCDebug(logUi) << "No device answered; the host report is shown";
    });
    watcher->setFuture(QtConcurrent::run([] { return corla::readHostReport(); }));
}

void MainWindow::showDeviceTable()
{
    m_ui->stkDeviceList->setCurrentWidget(m_ui->tblMainTableView);
}

void MainWindow::markUnheard(const MacAddress& mac)
{
    const auto device = m_model.device(mac);
    if (!device)
        return;
    // A probe still under way would colour the row as if the device were there.
    m_checker.restartProbe(*device, ProbedPort);
    const QDateTime last = m_model.list().lastHeard(mac);
    m_unheard.insert(macKey(mac));
    m_model.list().setStatus(mac, Reachability::NotFound);
    m_model.setStatusReason(mac, last.isValid() ? QStringLiteral("No answer since ") +
                                                      last.toString(QStringLiteral("HH:mm:ss"))
                                                : QStringLiteral("No answer"));
    qCDebug(logUi).noquote() << DisplayText::mac(mac) << "did not answer the last enquiry";
}

void MainWindow::probeAgain(const MacAddress& mac)
{
    if (const auto device = m_model.device(mac)) {
        m_checker.restartProbe(*device, ProbedPort);
        m_model.list().setStatus(mac, Reachability::Pending);
        m_checker.checkPort(*device, ProbedPort);
    }
}

void MainWindow::refresh()
{
    m_ui->btnRefresh->setEnabled(false);
    m_refreshTimer.start(100);
    showDeviceTable();
    m_ui->tblMainTableView->clearSelection();
    // Probes still running belong to the list as it was: their results no longer count.
    m_checker.restartProbes();
    m_model.clearStatusReasons();
    m_unheard.clear();
    updateDevCountDisplay();
    // Copy: an update may not change the list, but it must not matter if it did.
    const auto devices = m_model.deviceList();
    for (const auto& device : devices)
        m_model.list().setStatus(device->netHostInfo().macAddress(), Reachability::Pending);
    broadcastEnquiry();
}

std::shared_ptr<Device> MainWindow::selectedDevice() const
{
    const QItemSelectionModel* selection = m_ui->tblMainTableView->selectionModel();
    const QModelIndex current = selection->currentIndex();
    if (current.isValid() && selection->isRowSelected(current.row(), QModelIndex()))
        return m_model.deviceAtIndex(m_proxy->mapToSource(current));
    const QModelIndexList indexes = selection->selectedIndexes();
    if (indexes.isEmpty())
        return {};
    return m_model.deviceAtIndex(m_proxy->mapToSource(indexes.first()));
}

void MainWindow::clearMainTable()
{
    showDeviceTable();
    m_ui->gbDeviceActions->setEnabled(false);
    m_ui->lblDeviceAction->setText(QStringLiteral("Select a device in the list above."));
    m_unheard.clear();
    m_model.list().clear();
}

void MainWindow::handleDeviceFound(std::shared_ptr<Device> device)
{
    if (!device)
        return;
    m_model.list().merge(device);
    // Back after a silence: probed afresh, whatever its settings.
    if (m_unheard.remove(macKey(device->netHostInfo().macAddress()))) {
        probeAgain(device->netHostInfo().macAddress());
        updateDevCountDisplay();
        return;
    }
    // Every enquiry is answered several times over: only a row still waiting for its
    // verdict (new, refreshed, changed or back after a silence) is probed.
    const auto listed = m_model.device(device->netHostInfo().macAddress());
    if (listed &&
        (listed->netStat() == Reachability::Pending || listed->netStat() == Reachability::NotFound))
        m_checker.checkPort(*listed, ProbedPort);
}

void MainWindow::handleStatus(const Device& device, DevicePort, Reachability status)
{
    m_model.list().setStatus(device.netHostInfo().macAddress(), status);
}

void MainWindow::handleSelection(const QItemSelection&, const QItemSelection&)
{
    // The whole selection counts: with several rows, deselecting one leaves the others.
    updateActions();
}

void MainWindow::updateActions()
{
    const auto device = selectedDevice();
    m_actions.copy->setEnabled(device != nullptr);
    if (!device) {
        m_ui->gbDeviceActions->setEnabled(false);
        m_ui->lblDeviceAction->setText(QStringLiteral("Select a device in the list above."));
        m_actions.configure->setEnabled(false);
        m_actions.reset->setEnabled(false);
        m_actions.openWeb->setEnabled(false);
        return;
    }
    m_ui->gbDeviceActions->setEnabled(true);
    m_ui->lblDeviceAction->setText(QString::fromStdString(device->friendlyName()) +
                                   QStringLiteral(" Actions:"));
    m_ui->btnWebserver->setEnabled(device->hasWebPage() &&
                                   device->netStat() == Reachability::Reachable);
    // A device that did not answer lately keeps its last settings and may be tried.
    const bool idle = device->netStat() != Reachability::Pending &&
                      !m_busy.contains(macKey(device->netHostInfo().macAddress()));
    m_ui->btnConfig->setEnabled(idle);
    m_ui->btnReset->setEnabled(idle);
    m_actions.configure->setEnabled(idle);
    m_actions.reset->setEnabled(idle);
    m_actions.openWeb->setEnabled(m_ui->btnWebserver->isEnabled());
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
    const int listed = m_model.numDevices();
    const int silent = std::min(int(m_unheard.size()), listed);
    m_ui->lblDevCount->setText(
        silent > 0 ? QStringLiteral("(%1 of %2 answering)").arg(listed - silent).arg(listed)
                   : QStringLiteral("(%1)").arg(listed));
}

void MainWindow::handleDeviceListChanged()
{
    updateDevCountDisplay();
    if (m_model.numDevices() > 0)
        showDeviceTable();
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
    // Every row holds one line of text, as high as the font needs: measuring thousands of
    // rows one by one blocked the window for hundreds of milliseconds.
    view->verticalHeader()->setDefaultSectionSize(oneLineRowHeight());
    // With the header hidden its texts do not count, so each column is as wide as its cells.
    QHeaderView* header = view->horizontalHeader();
    header->hide();
    view->resizeColumnsToContents();
    // The status words appear as probes end: their column fits the longest from the start.
    const int status = DeviceTableModel::StatusColumn;
    view->setColumnWidth(
        status, qMax(view->columnWidth(status), cellSize(view, widestCellText(status)).width()));
    header->setStretchLastSection(true);
    header->show();
}

QMessageBox* MainWindow::boxFor(const MacAddress& mac, QMessageBox::Icon icon, const QString& title,
                                const QString& text, QMessageBox::StandardButtons buttons)
{
    QPointer<QMessageBox>& open = m_boxes[macKey(mac)];
    if (open) {
        qCDebug(logUi).noquote() << "A box about" << DisplayText::mac(mac)
                                 << "is open already; not shown:" << title << text;
        return nullptr;
    }
    auto* box = new QMessageBox(icon, title, text, buttons, this);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setWindowModality(Qt::WindowModal);
    open = box;
    return box;
}

void MainWindow::showBox(const MacAddress& mac, QMessageBox::Icon icon, const QString& title,
                         const QString& text)
{
    if (QMessageBox* box = boxFor(mac, icon, title, text, QMessageBox::Ok))
        box->open();
}

bool MainWindow::askIfConflicting(const Device& device, const QString& action,
                                  std::function<void()> proceed)
{
    const MacAddress mac = device.netHostInfo().macAddress();
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
    const MacAddress mac = device->netHostInfo().macAddress();
    // A conflicting device's question asks about the reset as well.
    if (!askIfConflicting(*device, QStringLiteral("Reset"), [this, mac] { startReset(mac, true); }))
        confirmReset(mac);
}

void MainWindow::confirmReset(const MacAddress& mac)
{
    const auto device = m_model.device(mac);
    if (!device)
        return;
    QMessageBox* box = boxFor(
        mac, QMessageBox::Question, QStringLiteral("Reset Device"),
        QStringLiteral("Reset %1 (%2)?\n\nThe device restarts and cannot be reached until it is "
                       "back, which may take up to two minutes.")
            .arg(nameOf(*device), DisplayText::mac(mac)),
        QMessageBox::Yes | QMessageBox::Cancel);
    if (!box)
        return;
    box->button(QMessageBox::Yes)->setText(QStringLiteral("&Reset"));
    box->setDefaultButton(QMessageBox::Cancel);
    // Queued, as the conflict question: nothing starts inside the closing box's call. A box
    // accepted by other means than its buttons counts as Yes.
    connect(
        box, &QMessageBox::finished, this,
        [this, mac](int answer) {
            if (answer == QMessageBox::Yes || answer == QDialog::Accepted)
                startReset(mac, false);
        },
        Qt::QueuedConnection);
    box->open();
}

void MainWindow::startReset(const MacAddress& mac, bool force)
{
    const auto device = m_model.device(mac);
    if (!device || m_busy.contains(macKey(mac)))
        return;
    m_busy.insert(macKey(mac));
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
    m_model.list().setStatus(progress.mac, Reachability::Pending);
    m_ui->tblMainTableView->clearSelection();
    showBox(progress.mac, QMessageBox::Information, QStringLiteral("Device Resetting"),
            nameOf(*device) + QStringLiteral(" is resetting. This may take up to two minutes."));
}

void MainWindow::resetFinished(const corla::ResetResult& result)
{
    m_busy.remove(macKey(result.mac));
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
    const MacAddress mac = device->netHostInfo().macAddress();
    const bool asked = askIfConflicting(*device, QStringLiteral("Configure"), [this, mac] {
        if (const auto listed = m_model.device(mac))
            openConfigDialog(*listed, true);
    });
    if (!asked)
        openConfigDialog(*device);
}

int MainWindow::openConfigDialog(const Device& device, bool force,
                                 const std::optional<NetworkSettings>& edits)
{
    auto* dialog = new ConfigureDialog(device, this);
    dialog->netHostPane()->setDiscoveryClient(&m_adapter);
    dialog->setModal(true);
    if (edits)
        dialog->netHostPane()->setNetHostInfo(*edits);
    QVector<QPair<MacAddress, Ipv4Address>> known;
    for (const auto& listed : m_model.deviceList())
        known.append({listed->netHostInfo().macAddress(), listed->netHostInfo().ipAddress()});
    dialog->setKnownDevices(known);
    connect(dialog, &ConfigureDialog::configAccepted, this,
            [this, force](const Device& configured, const NetworkSettings& settings) {
                onConfigAccepted(configured, settings, force);
            });
    connect(dialog, &ConfigureDialog::configAccepted, dialog, &QObject::deleteLater);
    connect(dialog, &QDialog::rejected, dialog, &QObject::deleteLater);
    return dialog->exec();
}

void MainWindow::onConfigAccepted(const Device& device, const NetworkSettings& netHostInfo,
                                  bool force)
{
    const MacAddress mac = device.netHostInfo().macAddress();
    if (m_busy.contains(macKey(mac)))
        return;
    auto listed = m_model.device(mac);
    if (!listed)
        listed = std::make_shared<Device>(device);
    m_busy.insert(macKey(mac));
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
    const MacAddress mac =
        result.device ? result.device->netHostInfo().macAddress() : result.requested.macAddress();
    m_busy.remove(macKey(mac));
    const auto listed = m_model.device(mac);
    const QString name =
        listed ? nameOf(*listed) : (result.device ? nameOf(*result.device) : DisplayText::mac(mac));
    if (result.ok()) {
        if (listed && result.reported) {
            m_checker.restartProbe(*listed, ProbedPort);
            m_model.list().updateSettings(mac, *result.reported);
            m_checker.checkPort(*listed, ProbedPort);
        }
        showBox(mac, QMessageBox::Information, QStringLiteral("Change Accepted"),
                QStringLiteral("The device's configuration was changed successfully"));
    } else if (result.outcome == corla::ChangeOutcome::Refused) {
        const Device& device = listed ? *listed : *result.device;
        QMessageBox* box = boxFor(mac, QMessageBox::Warning, QStringLiteral("Corla Error!"),
                                  DiscoveryClient::rejectionText(device, int16_t(result.refusal)),
                                  QMessageBox::Ok);
        if (box) {
            // Back to the dialog with what the user asked for, to correct it.
            QPushButton* edit =
                box->addButton(QStringLiteral("&Edit Again"), QMessageBox::ActionRole);
            const NetworkSettings requested = result.requested;
            connect(edit, &QPushButton::clicked, this, [this, mac, requested] {
                // After the box has closed: the dialog runs an event loop of its own.
                QTimer::singleShot(0, this, [this, mac, requested] {
                    if (const auto again = m_model.device(mac))
                        openConfigDialog(*again, false, requested);
                });
            });
            box->open();
        }
    } else {
        showBox(mac, QMessageBox::Warning, QStringLiteral("Corla Error!"),
                name + QStringLiteral(": ") + result.outcomeText());
    }
    updateActions();
}

void MainWindow::openDeviceWebserver(const Device& device)
{
    const QString address = QString::fromStdString(device.netHostInfo().ipAddress().toString());
    const QUrl url(QStringLiteral("http://") + address, QUrl::TolerantMode);
    if (QDesktopServices::openUrl(url))
        return;
    // No browser installed, or none the desktop knows of: the user can still go there.
    qCWarning(logUi).noquote() << "No web browser opened" << url.toString();
    if (QMessageBox* box = boxFor(device.netHostInfo().macAddress(), QMessageBox::Warning,
                                  QStringLiteral("Corla Error!"),
                                  QStringLiteral("No web browser could be opened for the web "
                                                 "page of %1.\n\nIts address is %2")
                                      .arg(nameOf(device), url.toString()),
                                  QMessageBox::Ok)) {
        box->setTextInteractionFlags(Qt::TextSelectableByMouse);
        box->open();
    }
}

void MainWindow::onTblDoubleClicked(const QModelIndex& index)
{
    if (!index.isValid() || index.model() != m_proxy)
        return;
    auto device = m_model.deviceAtIndex(m_proxy->mapToSource(index));
    if (!device)
        return;
    if (device->netStat() == Reachability::Reachable && device->hasWebPage()) {
        openDeviceWebserver(*device);
        return;
    }
    const MacAddress mac = device->netHostInfo().macAddress();
    const bool asked = askIfConflicting(*device, QStringLiteral("Configure"), [this, mac] {
        if (const auto listed = m_model.device(mac))
            openConfigDialog(*listed, true);
    });
    if (!asked)
        openConfigDialog(*device);
}

namespace {

// A remembered folder, or, when there is none (or it is gone), the desktop, else the
// documents folder, else the home folder: a folder that is not there would leave a file
// dialog in the working folder, which for a program started from a menu is anywhere.
QString folderOr(const QString& remembered)
{
    if (!remembered.isEmpty() && QFileInfo(remembered).isDir())
        return remembered;
    for (const auto location :
         {QStandardPaths::DesktopLocation, QStandardPaths::DocumentsLocation}) {
        const QString candidate = QStandardPaths::writableLocation(location);
        if (!candidate.isEmpty() && QFileInfo(candidate).isDir())
            return candidate;
    }
    return QDir::homePath();
}

} // namespace

QString MainWindow::proposedExportPath(const QDateTime& now) const
{
    return folderOr(QSettings().value(ExportFolderKey).toString()) + QStringLiteral("/devices-") +
           now.toString(QStringLiteral("yyyyMMdd-HHmm")) + QStringLiteral(".csv");
}

QString MainWindow::proposedPlanFolder() const
{
    const QSettings settings;
    const QString plans = settings.value(PlanFolderKey).toString();
    // A plan is most often an export edited where it was saved.
    return folderOr(!plans.isEmpty() && QFileInfo(plans).isDir()
                        ? plans
                        : settings.value(ExportFolderKey).toString());
}

void MainWindow::applyPlan()
{
    if (m_applyDialog) {
        m_applyDialog->raise();
        m_applyDialog->activateWindow();
        return;
    }
    const QString fileName =
        QFileDialog::getOpenFileName(this, QStringLiteral("Apply Plan"), proposedPlanFolder(),
                                     trMain("Comma Separated Values (*.csv);;All Files (*)"));
    if (!fileName.isEmpty())
        openPlan(fileName);
}

ApplyPlanDialog* MainWindow::openPlan(const QString& path)
{
    if (m_applyDialog)
        return nullptr;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        auto* box = new QMessageBox(
            QMessageBox::Critical, QStringLiteral("Corla Error!"),
            QStringLiteral("Cannot read the plan %1: %2")
                .arg(escapedForDisplay(QDir::toNativeSeparators(path)), file.errorString()),
            QMessageBox::Ok, this);
        box->setAttribute(Qt::WA_DeleteOnClose);
        box->setWindowModality(Qt::WindowModal);
        box->open();
        return nullptr;
    }
    const Plan plan = readPlan(file.readAll());
    QSettings().setValue(PlanFolderKey, QFileInfo(path).absolutePath());
    auto* dialog = new ApplyPlanDialog(&m_service, path, plan, m_model.list(), this);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->setWindowModality(Qt::WindowModal);
    connect(dialog, &ApplyPlanDialog::rowFinished, this, &MainWindow::planRowFinished);
    m_applyDialog = dialog;
    dialog->open();
    return dialog;
}

void MainWindow::planRowFinished(const corla::ApplyRow& row)
{
    const bool changed = row.outcome == corla::RowOutcome::Changed ||
                         row.outcome == corla::RowOutcome::ChangedAnswerLost;
    const auto listed = m_model.device(row.mac);
    if (!changed || !listed || !row.left)
        return;
    m_checker.restartProbe(*listed, ProbedPort);
    m_model.list().updateSettings(row.mac, *row.left);
    m_checker.checkPort(*listed, ProbedPort);
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

} // namespace corla
