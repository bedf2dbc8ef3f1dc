#pragma once

#include "corlachangelog.h"
#include "corlatable.h"
#include "zelconnectionchecker.h"
#include "zelcorlaadptr.h"
#include "zeldevice.h"

#include <QHash>
#include <QMainWindow>
#include <QTimer>

#include <memory>

class Ui_MainWindow;
class QItemSelection;
class QDateTime;
class QModelIndex;

// The application's single window. It owns the device list and turns the signals of the
// discovery adapter and the port checker into rows, colours and message boxes.
class MainWindow : public QMainWindow
{
public:
    // The adapter and the checker stay its creator's and must outlive the window: the
    // program hands in real ones, tests an adapter that records requests instead of
    // sending them. The window sends its first enquiry from here.
    MainWindow(ZelCorlaAdapter* adapter, ZelConnectionChecker* checker, QWidget* parent = nullptr);
    ~MainWindow() override;

    // Where every change and reset request sent from the window, and every answer to one,
    // is recorded; none (the default) records nothing. It must outlive the window.
    void setChangeLog(const CorlaChangeLog* log) { m_changeLog = log; }

    static const char* const Version;
    static const char* const BuildDate;

    // The names QSettings, QStandardPaths and the desktop go by; set once, before the
    // application object exists.
    static void setApplicationIdentity();

    std::shared_ptr<TevDevice> selectedDevice() const;
    void clearMainTable();

    void handleDeviceFound(std::shared_ptr<TevDevice> device);
    void handleStatus(const TevDevice& device, ZelPort port, ZelNetworkStatus status);
    void handleDeviceChanged(std::shared_ptr<TevDevice> changed);
    void handleDeviceReset(const TevMacAddr& mac);

    void onResetClicked();
    void onConfigClicked();
    int openConfigDialog(const TevDevice& device);
    void onConfigAccepted(const TevDevice& device, const TevNetHostInfo& netHostInfo);
    void openDeviceWebserver(const TevDevice& device);
    void onTblDoubleClicked(const QModelIndex& index);
    void exportCsv();
    // The file name the export dialog proposes at `now`: devices-YYYYMMDD-HHMM.csv in the
    // folder of the last export, or on the desktop when there is none (or it is gone).
    QString proposedExportPath(const QDateTime& now) const;

    // The window's parts, for tests and for the lab test driver.
    Ui_MainWindow* ui() const { return m_ui; }
    CorlaTableModel& model() { return m_model; }
    ZelCorlaAdapter& adapter() { return m_adapter; }
    ZelConnectionChecker& connectionChecker() { return m_checker; }

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void initializeUi();
    void restoreSettings();
    void createConnections();
    void refresh();
    void broadcastEnquiry();
    void handleSelection(const QItemSelection& selected, const QItemSelection& deselected);
    void updateDevCountDisplay();
    void handleDeviceListChanged();
    void fitTableToContents();
    // Appends the entry with this outcome to the change log, if there is one.
    void record(CorlaChangeLogEntry entry, const QString& outcome);
    void recordRefusal(const QString& errorText);

    Ui_MainWindow* m_ui;
    CorlaTableModel m_model;
    ZelConnectionChecker& m_checker;
    ZelCorlaAdapter& m_adapter;
    QTimer m_refreshTimer;
    bool m_layoutPending = false;

    const CorlaChangeLog* m_changeLog = nullptr;
    // Requests sent and not answered yet, by MAC address text, for the log's answer lines.
    struct SentChange
    {
        CorlaChangeLogEntry entry;
        QString refusalPrefix; // how the adapter's error text for a refusal begins
    };
    QHash<QString, SentChange> m_sentChanges;
    QHash<QString, CorlaChangeLogEntry> m_sentResets;
};
