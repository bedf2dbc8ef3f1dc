// SPDX-License-Identifier: Apache-2.0
// SPDX-FileCopyrightText: 2026 The Corla developers
#pragma once

#include "core/discovery/discoveryclient.h"
#include "core/fleet/changelog.h"
#include "core/fleet/commissioning.h"
#include "core/net/device.h"
#include "core/net/portprobescheduler.h"
#include "ui/devicetablemodel.h"

#include <QHash>
#include <QMainWindow>
#include <QMessageBox>
#include <QPointer>
#include <QSet>
#include <QStringList>
#include <QTimer>

#include <functional>
#include <memory>
#include <optional>

class QAction;
class QMenu;
class QItemSelection;
class QDateTime;
class QModelIndex;
class QSortFilterProxyModel;

namespace corla {

class ApplyPlanDialog;
class Ui_MainWindow;

// The application's single window. It owns the device list and turns the signals of the
// discovery adapter and the port checker into rows, colours and message boxes.
class MainWindow : public QMainWindow
{
public:
    // The adapter and the checker stay its creator's and must outlive the window: the
    // program hands in real ones, tests an adapter that records requests instead of
    // sending them. The window sends its first enquiry from here.
    MainWindow(DiscoveryClient* adapter, PortProbeScheduler* checker, QWidget* parent = nullptr);
    ~MainWindow() override;

    // Where every change and reset request sent from the window, and its outcome, is
    // recorded (by the commissioning service, as program "corla"); none (the default)
    // records nothing. It must outlive the window.
    void setChangeLog(const ChangeLog* log);

    static const char* const Version;
    static const char* const BuildDate;

    // The names QSettings, QStandardPaths and the desktop go by; set once, before the
    // application object exists.
    static void setApplicationIdentity();

    // The device of the current row when it is selected, otherwise of the first selected
    // row: Configure, Reset and Open act on it.
    std::shared_ptr<Device> selectedDevice() const;
    void clearMainTable();
    // The selected rows in the table's order as the export writes them: one line each,
    // after the header line when there are several.
    QString selectedRowsCsv() const;

    void handleDeviceFound(std::shared_ptr<Device> device);
    void handleStatus(const Device& device, DevicePort port, Reachability status);
    // Every listed device not heard since the last enquiry went out is marked NotFound,
    // "No answer since" its last answer. Runs by itself RoundEndMs after each enquiry
    // (after its last repeat).
    void finishRound();
    static constexpr int RoundEndMs = 3000;
    // While "Auto refresh" is on, an enquiry goes out this often; rows change in place.
    static constexpr int AutoRefreshMs = 5000;
    void setAutoRefreshInterval(int ms);

    void onResetClicked();
    void onConfigClicked();
    // `force`: the user has agreed to send to a conflicting device. `edits`: settings to
    // show instead of the device's own (what the user asked for before a refusal).
    int openConfigDialog(const Device& device, bool force = false,
                         const std::optional<NetworkSettings>& edits = std::nullopt);
    // Starts the change through the commissioning service; its outcome, once the device
    // reports it, updates the row and tells the user.
    void onConfigAccepted(const Device& device, const NetworkSettings& netHostInfo,
                          bool force = false);
    void openDeviceWebserver(const Device& device);
    void onTblDoubleClicked(const QModelIndex& index);
    void exportCsv();
    // The file name the export dialog proposes at `now`: devices-YYYYMMDD-HHMM.csv in the
    // folder of the last export, or, when there is none (or it is gone), on the desktop,
    // else in the documents folder, else in the home folder.
    QString proposedExportPath(const QDateTime& now) const;
    // Asks for a plan file and previews it (openPlan).
    void applyPlan();
    // Reads the plan at `path` and opens its preview against the devices listed now, from
    // which it is applied; an unreadable file is said in a box instead (and none is
    // returned). The dialog deletes itself when closed.
    ApplyPlanDialog* openPlan(const QString& path);
    // The folder the plan dialog starts in: that of the last plan opened, else the
    // export's.
    QString proposedPlanFolder() const;

    // The window's commands, for its menus and shortcuts (and for tests).
    struct Actions
    {
        QAction* refresh = nullptr;    // F5, Ctrl+R
        QAction* exportList = nullptr; // Ctrl+E
        QAction* applyPlan = nullptr;  // Ctrl+O
        QAction* quit = nullptr;       // Ctrl+Q
        QAction* findFilter = nullptr; // Ctrl+F: to the filter field
        // On the table: its context menu, and Enter and Ctrl+C while it has the focus.
        QAction* configure = nullptr;
        QAction* reset = nullptr;
        QAction* openWeb = nullptr;
        QAction* copy = nullptr;
        QAction* activate = nullptr; // Enter, Return: as a double click on the current row
    };
    const Actions& actions() const { return m_actions; }
    // The "View" menu: one checkable action per column shown on request (the subnet mask,
    // gateway, DNS server, interface and reason columns), in column order. The table
    // header's context menu is the same menu.
    QMenu* viewMenu() const { return m_viewMenu; }
    QList<QAction*> columnActions() const { return m_columnActions; }
    QSortFilterProxyModel* proxy() const { return m_proxy; }

    // The window's parts, for tests and for the lab test driver.
    Ui_MainWindow* ui() const { return m_ui; }
    DeviceTableModel& model() { return m_model; }
    DiscoveryClient& adapter() { return m_adapter; }
    PortProbeScheduler& connectionChecker() { return m_checker; }
    corla::CommissioningService& service() { return m_service; }

    // A line above the table about what could not be done (the change log, discovery);
    // each text once.
    void showNotice(const QString& line);
    QStringList notices() const { return m_notices; }

protected:
    void closeEvent(QCloseEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    void initializeUi();
    void createActions();
    void createViewMenu();
    void setColumnShown(int column, bool shown);
    void setAutoRefresh(bool on);
    void autoRefresh();
    void showContextMenu(const QPoint& pos);
    void copySelectedRows();
    // Wide enough for every column on one line, within the screen.
    void fitWindowToTable();
    int oneLineRowHeight() const;
    // The explanation in the table's place after a round that no device answered; the
    // table again as soon as there is a row.
    void showNoDeviceExplanation();
    void showDeviceTable();
    void restoreSettings();
    void createConnections();
    void refresh();
    void broadcastEnquiry();
    void handleSelection(const QItemSelection& selected, const QItemSelection& deselected);
    void updateDevCountDisplay();
    void handleDeviceListChanged();
    void fitTableToContents();
    void updateActions();
    void confirmReset(const MacAddress& mac);
    void startReset(const MacAddress& mac, bool force);
    void changeFinished(const corla::ChangeResult& result);
    // A row of an applied plan: a device that took its settings is listed with them.
    void planRowFinished(const corla::ApplyRow& row);
    void resetRestarting(const corla::ResetResult& progress);
    void resetFinished(const corla::ResetResult& result);
    void markUnheard(const MacAddress& mac);
    void probeAgain(const MacAddress& mac);
    // Asks before anything is sent to a conflicting device; `proceed` runs on Yes. True
    // when the device is conflicting (and so the question is open, or one already was).
    bool askIfConflicting(const Device& device, const QString& action,
                          std::function<void()> proceed);
    // A window-modal box about one device, unless one about it is open already.
    void showBox(const MacAddress& mac, QMessageBox::Icon icon, const QString& title,
                 const QString& text);
    QMessageBox* boxFor(const MacAddress& mac, QMessageBox::Icon icon, const QString& title,
                        const QString& text, QMessageBox::StandardButtons buttons);

    Ui_MainWindow* m_ui;
    DeviceTableModel m_model;
    QSortFilterProxyModel* m_proxy = nullptr;
    Actions m_actions;
    bool m_geometryRestored = false;
    bool m_shownOnce = false;
    PortProbeScheduler& m_checker;
    DiscoveryClient& m_adapter;
    QTimer m_refreshTimer;
    QStringList m_notices;
    bool m_layoutPending = false;

    QTimer m_roundTimer;
    QTimer m_autoRefreshTimer;
    QMenu* m_viewMenu = nullptr;
    QList<QAction*> m_columnActions;
    // Listed devices that did not answer their latest round, by macKey.
    QSet<quint64> m_unheard;

    corla::CommissioningService m_service;
    // Devices with a change or reset under way (no second one is started), and the one
    // box open about each device, by macKey.
    QSet<quint64> m_busy;
    QHash<quint64, QPointer<QMessageBox>> m_boxes;
    quint64 m_hostReportRound = 0; // the empty round whose report may fill the page
    QPointer<ApplyPlanDialog> m_applyDialog;
};

} // namespace corla
