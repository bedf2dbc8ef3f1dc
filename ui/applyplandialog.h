// SPDX-License-Identifier: Apache-2.0
// SPDX-FileCopyrightText: 2026 The Corla developers
#pragma once
// A commissioning plan against the devices the window lists: every row with its device as
// found and the settings planned, the plan's faults, then the changes made one at a time
// through the commissioning service with each row's outcome as it comes, and the as-left
// report saved as corla-cli apply --report writes it.

#include "core/fleet/commissioning.h"
#include "core/fleet/devicelist.h"
#include "core/fleet/plan.h"

#include <QDialog>
#include <QPointer>
#include <QString>
#include <QVector>

class QDateTime;
class QLabel;
class QPlainTextEdit;
class QProgressBar;
class QPushButton;
class QTableWidget;

namespace corla {

class ApplyPlanDialog : public QDialog
{
    Q_OBJECT
public:
    enum Column
    {
        LineColumn,
        MacColumn,
        SerialColumn,
        TypeColumn,
        FoundColumn,
        PlannedColumn,
        OutcomeColumn,
        ColumnCount,
    };

    // `plan` as read from `planPath`, with the reader's faults; `found` the devices listed
    // now (read here, not kept). Nothing is sent before Apply.
    ApplyPlanDialog(corla::CommissioningService* service, const QString& planPath, const Plan& plan,
                    const DeviceList& found, QWidget* parent = nullptr);
    ~ApplyPlanDialog() override;

    // The reader's faults and those against the devices found, by line. With any, Apply
    // stays disabled.
    const QVector<PlanFault>& faults() const { return m_faults; }
    const QVector<corla::ApplyRow>& rows() const { return m_rows; }
    bool isApplying() const { return m_started && !m_finished; }
    bool isFinished() const { return m_finished; }

    // The buttons' work, also for tests.
    void apply();
    // While applying: no further row starts; the dialog stays until the last one ends.
    // Otherwise closes the dialog.
    void cancel();
    void askForReportPath();
    // Writes the as-left report; a failure is shown in a box. True when written.
    bool saveReport(const QString& path);
    // as-left-YYYYMMDD-HHMM.csv beside the plan.
    QString proposedReportPath(const QDateTime& now) const;

    QTableWidget* table() const { return m_table; }
    QPlainTextEdit* messages() const { return m_messages; }
    QLabel* summary() const { return m_summary; }
    QProgressBar* progressBar() const { return m_progress; }
    QPushButton* applyButton() const { return m_btnApply; }
    QPushButton* cancelButton() const { return m_btnCancel; }
    QPushButton* saveReportButton() const { return m_btnSaveReport; }

signals:
    // A row's outcome, as it comes.
    void rowFinished(const corla::ApplyRow& row);
    void applyFinished(const QVector<corla::ApplyRow>& rows);

protected:
    // Escape and the title bar's close button: as Cancel.
    void reject() override;

private:
    void showRow(int index);
    void addMessage(int line, const QString& message);
    void handleRowFinished(int index);
    void handleFinished(const QVector<corla::ApplyRow>& rows);

    QPointer<corla::ApplyOperation> m_operation;
    QString m_planPath;
    QVector<corla::ApplyRow> m_rows;
    QVector<QString> m_planned; // by row: the settings the plan names, as text
    QVector<PlanFault> m_faults;
    int m_toChange = 0;
    int m_done = 0;
    bool m_started = false;
    bool m_finished = false;

    QLabel* m_summary = nullptr;
    QTableWidget* m_table = nullptr;
    QPlainTextEdit* m_messages = nullptr;
    QProgressBar* m_progress = nullptr;
    QPushButton* m_btnApply = nullptr;
    QPushButton* m_btnCancel = nullptr;
    QPushButton* m_btnSaveReport = nullptr;
};

} // namespace corla
