// SPDX-License-Identifier: Apache-2.0
// SPDX-FileCopyrightText: 2026 The Corla developers
#include "ui/applyplandialog.h"

#include "core/fleet/applyreport.h"
#include "core/fleet/csv.h"
#include "core/fleet/displaytext.h"
#include "core/net/logging.h"

#include <QDateTime>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRegularExpression>
#include <QScreen>
#include <QScrollBar>
#include <QTableWidget>
#include <QVBoxLayout>

#include <algorithm>

namespace corla {

namespace {

// "static 10.10.0.11/24 gw 10.10.0.254 dns 10.10.0.254": a table cell's form of the
// settings; its tooltip has the whole text.
QString shortSettings(const QString& settings)
{
    QString text = settings;
    static const QRegularExpression mask(QStringLiteral(" mask (\\d+\\.\\d+\\.\\d+\\.\\d+)"));
    const QRegularExpressionMatch m = mask.match(text);
    if (m.hasMatch()) {
        const Ipv4Address value = Ipv4Address::fromString(m.captured(1).toStdString());
        const uint32_t bits = value.toInt();
        const int prefix = __builtin_popcount(bits);
        // Only a contiguous mask has a prefix length.
        const bool contiguous = bits == (prefix == 0 ? 0u : ~0u << (32 - prefix));
        if (contiguous)
            text.replace(m.capturedStart(), m.capturedLength(), QStringLiteral("/%1").arg(prefix));
    }
    text.replace(QStringLiteral(" gateway "), QStringLiteral(" gw "));
    text.replace(QStringLiteral(" DNS "), QStringLiteral(" dns "));
    return text;
}

QString plannedText(const NetworkSettings& planned)
{
    // A DHCP row plans the mode alone: the server chooses the addresses.
    return planned.addressMode() == AddressModeDhcp ? QStringLiteral("DHCP")
                                                    : corla::settingsText(planned);
}

QString faultCount(int faults)
{
    return faults == 1 ? QStringLiteral("1 fault") : QStringLiteral("%1 faults").arg(faults);
}

// The commissioning service words some reasons for the command line, whose --force has no
// counterpart here.
QString withoutForceHint(QString message)
{
    static const QRegularExpression hint(QStringLiteral("; --force sends (it )?anyway\\.$"));
    return message.replace(hint, QStringLiteral("."));
}

} // namespace

ApplyPlanDialog::ApplyPlanDialog(corla::CommissioningService* service, const QString& planPath,
                                 const Plan& plan, const DeviceList& found, QWidget* parent)
    : QDialog(parent), m_planPath(planPath)
{
    setObjectName(QStringLiteral("ApplyPlanDialog"));
    setWindowTitle(QStringLiteral("Apply Plan"));

    auto* planLabel = new QLabel(
        QStringLiteral("Plan: ") + escapedForDisplay(QDir::toNativeSeparators(planPath)), this);
    planLabel->setObjectName(QStringLiteral("lblPlan"));
    planLabel->setTextFormat(Qt::PlainText);
    m_summary = new QLabel(this);
    m_summary->setObjectName(QStringLiteral("lblSummary"));
    m_summary->setTextFormat(Qt::PlainText);
    m_summary->setWordWrap(true);

    m_table = new QTableWidget(0, ColumnCount, this);
    m_table->setObjectName(QStringLiteral("tblPlanRows"));
    m_table->setHorizontalHeaderLabels({QStringLiteral("Line"), QStringLiteral("MAC Address"),
                                        QStringLiteral("Serial #"), QStringLiteral("Device Type"),
                                        QStringLiteral("Found"), QStringLiteral("Planned"),
                                        QStringLiteral("Outcome")});
    m_table->verticalHeader()->setVisible(false);
    m_table->horizontalHeader()->setStretchLastSection(true);
    m_table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_table->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_table->setWordWrap(false);

    m_messages = new QPlainTextEdit(this);
    m_messages->setObjectName(QStringLiteral("txtMessages"));
    m_messages->setReadOnly(true);
    m_messages->setMaximumBlockCount(1000);
    m_messages->setFixedHeight(m_messages->fontMetrics().lineSpacing() * 6);

    m_progress = new QProgressBar(this);
    m_progress->setObjectName(QStringLiteral("progressBar"));
    m_progress->setFormat(QStringLiteral("%v / %m rows"));

    m_btnApply = new QPushButton(QStringLiteral("&Apply"), this);
    m_btnApply->setObjectName(QStringLiteral("btnApply"));
    m_btnSaveReport = new QPushButton(QStringLiteral("&Save report ..."), this);
    m_btnSaveReport->setObjectName(QStringLiteral("btnSaveReport"));
    m_btnSaveReport->setEnabled(false);
    m_btnCancel = new QPushButton(QStringLiteral("Cancel"), this);
    m_btnCancel->setObjectName(QStringLiteral("btnCancel"));
    m_btnApply->setAutoDefault(false);
    m_btnSaveReport->setAutoDefault(false);
    m_btnCancel->setAutoDefault(false);

    auto* buttons = new QHBoxLayout();
    buttons->addWidget(m_progress, 1);
    buttons->addWidget(m_btnApply);
    buttons->addWidget(m_btnSaveReport);
    buttons->addWidget(m_btnCancel);
    auto* column = new QVBoxLayout(this);
    column->addWidget(planLabel);
    column->addWidget(m_summary);
    column->addWidget(m_table, 1);
    column->addWidget(m_messages);
    column->addLayout(buttons);

    connect(m_btnApply, &QPushButton::clicked, this, &ApplyPlanDialog::apply);
    connect(m_btnCancel, &QPushButton::clicked, this, &ApplyPlanDialog::cancel);
    connect(m_btnSaveReport, &QPushButton::clicked, this, &ApplyPlanDialog::askForReportPath);

    // Made now for the rows it classifies and the faults it finds; started only by Apply.
    m_operation = service->apply(plan, found, corla::ApplyOptions());
    m_rows = m_operation->rows();
    m_faults = plan.faults + m_operation->planFaults();
    std::stable_sort(m_faults.begin(), m_faults.end(),
                     [](const PlanFault& a, const PlanFault& b) { return a.line < b.line; });
    for (const corla::ApplyRow& row : qAsConst(m_rows)) {
        const auto planned = std::find_if(plan.rows.begin(), plan.rows.end(),
                                          [&](const PlanRow& r) { return r.line == row.line; });
        m_planned << (planned != plan.rows.end() ? plannedText(planned->planned) : QString());
    }
    const QVector<int> toChange = m_operation->rowsToChange();
    m_toChange = toChange.size();
    connect(m_operation, &corla::ApplyOperation::rowMessage, this, &ApplyPlanDialog::addMessage);
    connect(m_operation, &corla::ApplyOperation::rowFinished, this,
            &ApplyPlanDialog::handleRowFinished);
    connect(m_operation, &corla::ApplyOperation::finished, this, &ApplyPlanDialog::handleFinished);

    m_table->setRowCount(m_rows.size());
    for (int i = 0; i < m_rows.size(); ++i)
        showRow(i);
    for (const int index : toChange)
        m_table->item(index, OutcomeColumn)->setText(QStringLiteral("to change"));
    for (const PlanFault& fault : qAsConst(m_faults))
        addMessage(fault.line, fault.message);
    for (const PlanFault& fault : m_operation->orderFaults())
        addMessage(fault.line, fault.message);
    m_table->resizeColumnsToContents();

    m_progress->setRange(0, std::max(1, int(m_rows.size())));
    m_progress->setValue(0);
    if (!m_faults.isEmpty()) {
        m_btnApply->setEnabled(false);
        m_summary->setText(QStringLiteral("The plan cannot be applied (%1): nothing is sent "
                                          "until the plan is corrected.")
                               .arg(faultCount(m_faults.size())));
    } else {
        m_summary->setText(
            QStringLiteral("%1 of %2 rows ask for a change.").arg(m_toChange).arg(m_rows.size()));
    }
    // Wide enough for every column where the screen allows: the outcome is the last one.
    int wanted = m_table->verticalHeader()->width() + 2 * m_table->frameWidth() +
                 m_table->verticalScrollBar()->sizeHint().width() + 40;
    for (int column = 0; column < m_table->columnCount(); ++column)
        wanted += m_table->columnWidth(column);
    const QScreen* screen =
        parentWidget() ? parentWidget()->screen() : QGuiApplication::primaryScreen();
    const int room = screen ? screen->availableGeometry().width() * 9 / 10 : 960;
    resize(std::clamp(wanted, 960, std::max(960, room)), 540);
    qCDebug(logUi).noquote() << "Plan" << planPath << "previewed:" << m_rows.size() << "rows,"
                             << m_toChange << "to change," << m_faults.size() << "faults";
}

ApplyPlanDialog::~ApplyPlanDialog()
{
    if (!m_operation)
        return;
    if (!m_started)
        delete m_operation.data();
    else
        m_operation->cancel(); // the change under way ends by itself
}

void ApplyPlanDialog::showRow(int index)
{
    const corla::ApplyRow& row = m_rows.at(index);
    const QStringList cells{QString::number(row.line),
                            DisplayText::mac(row.mac),
                            corla::foundSerialText(row),
                            corla::foundTypeText(row),
                            row.found ? corla::settingsText(*row.found) : QString(),
                            m_planned.value(index),
                            row.outcomeText()};
    for (int column = 0; column < ColumnCount; ++column) {
        QTableWidgetItem* item = m_table->item(index, column);
        if (!item) {
            item = new QTableWidgetItem();
            m_table->setItem(index, column, item);
        }
        if (column == FoundColumn || column == PlannedColumn) {
            item->setText(shortSettings(cells.at(column)));
            item->setToolTip(cells.at(column));
        } else {
            item->setText(cells.at(column));
        }
    }
}

void ApplyPlanDialog::addMessage(int line, const QString& message)
{
    const QString text = PlanFault{line, withoutForceHint(message)}.text(); // "line 3: ..."
    // Faults found before the start are reported again by it.
    if (m_messages->toPlainText().split(QLatin1Char('\n')).contains(text))
        return;
    m_messages->appendPlainText(text);
}

void ApplyPlanDialog::apply()
{
    if (m_started || !m_faults.isEmpty() || !m_operation)
        return;
    m_started = true;
    m_btnApply->setEnabled(false);
    m_done = m_rows.size() - m_toChange;
    m_progress->setValue(m_done);
    m_summary->setText(QStringLiteral("Applying the plan ..."));
    qCDebug(logUi).noquote() << "Applying plan" << m_planPath;
    // May finish at once, when nothing is to change.
    m_operation->start();
}

void ApplyPlanDialog::cancel()
{
    if (!isApplying()) {
        QDialog::reject();
        return;
    }
    if (m_operation)
        m_operation->cancel();
    m_btnCancel->setEnabled(false);
    m_summary->setText(QStringLiteral("Cancelling: the change under way ends first ..."));
}

void ApplyPlanDialog::reject()
{
    cancel();
}

void ApplyPlanDialog::handleRowFinished(int index)
{
    if (!m_operation || index < 0 || index >= m_rows.size())
        return;
    m_rows[index] = m_operation->rows().at(index);
    showRow(index);
    m_progress->setValue(++m_done);
    emit rowFinished(m_rows.at(index));
}

void ApplyPlanDialog::handleFinished(const QVector<corla::ApplyRow>& rows)
{
    m_rows = rows;
    for (int i = 0; i < m_rows.size(); ++i)
        showRow(i);
    m_finished = true;
    m_progress->setValue(m_progress->maximum());
    m_table->resizeColumnsToContents();
    const auto failed = std::count_if(m_rows.begin(), m_rows.end(),
                                      [](const corla::ApplyRow& row) { return !row.ok(); });
    const bool cancelled = m_operation && m_operation->isCancelled();
    const QString outcome = failed == 0 ? QStringLiteral("Every row ended as planned.")
                                        : QStringLiteral("%1 of %2 rows did not end as planned.")
                                              .arg(failed)
                                              .arg(m_rows.size());
    m_summary->setText(cancelled ? QStringLiteral("Cancelled. ") + outcome : outcome);
    m_btnCancel->setText(QStringLiteral("Close"));
    m_btnCancel->setEnabled(true);
    m_btnSaveReport->setEnabled(true);
    qCDebug(logUi).noquote() << "Plan" << m_planPath << "applied:" << failed << "of"
                             << m_rows.size() << "rows not as planned";
    emit applyFinished(m_rows);
}

QString ApplyPlanDialog::proposedReportPath(const QDateTime& now) const
{
    return QFileInfo(m_planPath).absolutePath() + QStringLiteral("/as-left-") +
           now.toString(QStringLiteral("yyyyMMdd-HHmm")) + QStringLiteral(".csv");
}

void ApplyPlanDialog::askForReportPath()
{
    if (!m_finished)
        return;
    const QString path = QFileDialog::getSaveFileName(
        this, QStringLiteral("Save Report"), proposedReportPath(QDateTime::currentDateTime()),
        QStringLiteral("Comma Separated Values (*.csv)"));
    if (!path.isEmpty())
        saveReport(path);
}

bool ApplyPlanDialog::saveReport(const QString& path)
{
    const CsvFileResult written = writeCsvFile(path, corla::applyReportCsv(m_rows));
    if (written.ok())
        return true;
    // A full disk or a vanished share must not look like a saved report.
    const QString what = written.failure == CsvFileResult::NotOpened
                             ? QStringLiteral("The file could not be opened for writing.")
                             : QStringLiteral("The file could not be written completely.");
    auto* box =
        new QMessageBox(QMessageBox::Critical, QStringLiteral("Export Error!"),
                        what + QStringLiteral("\n\n") + written.reason, QMessageBox::Ok, this);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setWindowModality(Qt::WindowModal);
    box->open();
    return false;
}

} // namespace corla
