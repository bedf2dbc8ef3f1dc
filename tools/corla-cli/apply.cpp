// SPDX-License-Identifier: Apache-2.0
// SPDX-FileCopyrightText: 2026 The Corla developers
#include "tools/corla-cli/apply.h"

#include "core/fleet/csv.h"
#include "core/fleet/devicelist.h"
#include "core/fleet/displaytext.h"
#include "core/fleet/plan.h"
#include "tools/corla-cli/cliformat.h"
#include "tools/corla-cli/session.h"

#include <QCommandLineParser>
#include <QFile>
#include <QFileInfo>

#include <algorithm>

namespace corla {

namespace {

const char* const Description =
    R"text(Gives each device of a commissioning plan the settings planned for it. The
plan is the CSV of 'discover --format csv', edited: columns by header name in any
order (MAC Address, Address mode, IP Address and Subnet Mask required; Gateway and
DNS Server empty or missing mean none; other columns ignored), separated by commas,
or by semicolons or tabs when the header line is, UTF-8 with or without a
byte-order mark, LF or CRLF. The unedited export is always a plan that changes
nothing, whatever the devices report.

1. The whole plan is checked first. Any fault (each is listed with its line) refuses
   it whole: nothing is sent (exit status 8).
2. One enquiry, answers collected for --wait ms, finds the devices. A row whose
   device does not answer ends "not found"; one whose device reports what the row
   says, "unchanged". A row asking a device for what no device can be given (the
   mode Unknown, a broadcast or zero MAC address, an address or mask a device
   refuses, an address planned twice) is a fault only when its device reports
   other settings; such a fault refuses the plan whole as well (exit status 8).
3. The changes are ordered so that no device takes an address before the device
   holding it has moved away. A swap or a longer circle of moves, and a move to an
   address held by a device that stays there, cannot be made one device at a time:
   those rows end "refused (order)" and are listed with the reason; the other rows
   do not depend on them and go ahead.
4. For each change in turn: the in-use check of set (one echo of 50 ms and the
   neighbour table), except for an address another device of the plan has just
   left; such a move is made only once that device's own change is confirmed. A
   host answering ends the row "in use" (--force skips the check). Then the change
   is sent and its answer awaited (--wait ms), and an enquiry naming the device
   confirms it: "changed" when every planned field is reported, else "not
   confirmed"; a refusal ends "refused: " and the device's reason.

The report has a line per plan row: MAC address, serial number, type, the settings
as found and as left, and the outcome; a table on stdout (--format csv or json for
machines), and with --report FILE also as CSV in that file. --dry-run sends only
enquiries and in-use checks and reports what would be done ("would change", with
the settings the device would be left with).)text";

// Lists the faults by line and says that nothing was sent.
int refusePlan(CliSession& session, const CliRequest& request, const QVector<PlanFault>& faults)
{
    const QString path = escapedForDisplay(request.planPath);
    for (const PlanFault& fault : faults)
        session.err() << QStringLiteral("corla-cli: %1 %2").arg(path, fault.text()) << Qt::endl;
    return session.fail(CliExit::PlanRefused,
                        QStringLiteral("%1 was refused (%2): nothing was sent")
                            .arg(path, faults.size() == 1
                                           ? QStringLiteral("1 fault")
                                           : QStringLiteral("%1 faults").arg(faults.size())));
}

// Reads and judges the plan before any request; CliExit::Ok when it may be applied.
int readPlanFile(CliSession& session, const CliRequest& request, Plan* plan)
{
    QFile file(request.planPath);
    // A file name may hold anything; the terminal gets it escaped.
    const QString path = escapedForDisplay(request.planPath);
    if (!file.open(QIODevice::ReadOnly))
        return session.fail(
            CliExit::Usage,
            QStringLiteral("cannot read the plan %1: %2").arg(path, file.errorString()));
    *plan = readPlan(file.readAll());
    if (!plan->ok())
        return refusePlan(session, request, plan->faults);
    // Found out now rather than after the changes, when the report would be lost.
    if (!request.reportPath.isEmpty()) {
        const QFileInfo report(request.reportPath);
        const QFileInfo folder(report.absolutePath());
        if (report.isDir() || !folder.isDir() || !folder.isWritable())
            return session.fail(CliExit::Usage,
                                QStringLiteral("cannot write the report %1: %2")
                                    .arg(escapedForDisplay(request.reportPath),
                                         report.isDir() ? QStringLiteral("it is a folder")
                                                        : QStringLiteral("its folder is missing "
                                                                         "or not writable")));
    }
    return CliExit::Ok;
}

} // namespace

ApplyCommand::ApplyCommand()
    : Command(
          {"apply", "apply PLAN.csv",
           "give the devices of a commissioning plan their planned "
           "settings",
           "apply PLAN.csv", "Give each device of the plan its planned settings.", Description},
          {QCommandLineOption("dry-run",
                              "Send only enquiries and in-use checks; report what would be done."),
           CliOption::force(), CliOption::wait(), CliOption::format(),
           QCommandLineOption("report", "Also write the report to this file as CSV.", "file")},
          {{CliExit::Ok, "every row ended unchanged or changed (with --dry-run: would change)"},
           {CliExit::Usage, "usage error: bad arguments, an unknown interface name, an unreadable "
                            "plan,\nor a report folder that is missing or not writable"},
           {CliExit::NoNetwork, "no usable local IPv4 address on the (named) interfaces"},
           {CliExit::PlanRefused, "the plan was refused (faults, listed by line, in the file or "
                                  "against the\ndevices found): nothing was sent"},
           {CliExit::RowsFailed, "some rows did not end unchanged or changed (not found, in use, "
                                 "refused, not\nconfirmed)"},
           {CliExit::ReportNotWritten,
            "the report file could not be written (the table shows the outcome)"}})
{}

QString ApplyCommand::parse(const QCommandLineParser& parser, const QStringList& positional,
                            CliRequest* r) const
{
    QString why = CliCheck::oneArgument(positional, "the plan's file name");
    if (why.isEmpty() && positional.at(1).isEmpty())
        why = "apply: the plan's file name is empty";
    r->planPath = positional.value(1);
    r->dryRun = parser.isSet("dry-run");
    r->force = parser.isSet("force");
    r->reportPath = parser.value("report");
    if (why.isEmpty() && parser.isSet("report") && r->reportPath.isEmpty())
        why = "--report needs a file name";
    if (why.isEmpty())
        why = CliCheck::format(parser, &r->format);
    if (why.isEmpty())
        why = CliCheck::milliseconds(parser, "wait", &r->waitMs);
    return why;
}

int ApplyCommand::run(CliSession& session, const CliRequest& request) const
{
    session.useInterfaces(request);
    // A refused plan sends nothing, whatever the network.
    Plan plan;
    if (const int status = readPlanFile(session, request, &plan))
        return status;
    if (const int status = session.requireLocalAddress(request))
        return status;
    session.setTiming(request.waitMs);
    const auto rowMessage = [&](int line, const QString& message) {
        session.err() << QStringLiteral("corla-cli: %1 line %2: %3")
                             .arg(escapedForDisplay(request.planPath))
                             .arg(line)
                             .arg(message)
                      << Qt::endl;
    };
    DeviceList list;
    session.collect(&list, request.waitMs);

    corla::ApplyOptions options;
    options.force = request.force;
    options.dryRun = request.dryRun;
    corla::ApplyOperation* operation = session.service().apply(plan, list, options);
    // Rows that ask a device for what no device can be given: refused as a plan read with
    // faults is, and nothing but the enquiry was sent.
    const QVector<PlanFault> faults = operation->planFaults();
    if (!faults.isEmpty()) {
        delete operation;
        return refusePlan(session, request, faults);
    }
    for (const corla::ApplyRow& row : operation->rows()) {
        if (row.outcome == corla::RowOutcome::NotFound)
            rowMessage(row.line, QStringLiteral("no device with MAC address %1 answered within "
                                                "%2 ms")
                                     .arg(DisplayText::mac(row.mac))
                                     .arg(request.waitMs));
    }
    QObject::connect(operation, &corla::ApplyOperation::rowMessage, operation, rowMessage);
    const QVector<corla::ApplyRow> rows = runToEnd(operation, &corla::ApplyOperation::finished);

    session.out() << formatApplyReport(rows, request.format);
    session.out().flush();
    if (!request.reportPath.isEmpty()) {
        const CsvFileResult written =
            writeCsvFile(request.reportPath, formatApplyReport(rows, CliFormat::Csv));
        if (!written.ok())
            return session.fail(CliExit::ReportNotWritten,
                                QStringLiteral("the report %1 was not written: %2")
                                    .arg(escapedForDisplay(request.reportPath), written.reason));
    }
    const auto failed =
        std::count_if(rows.begin(), rows.end(), [](const CliApplyRow& row) { return !row.ok(); });
    if (failed > 0)
        return session.fail(
            CliExit::RowsFailed,
            QStringLiteral("%1 of %2 rows %3 end as planned")
                .arg(failed)
                .arg(rows.size())
                .arg(request.dryRun ? QStringLiteral("would not") : QStringLiteral("did not")));
    return CliExit::Ok;
}

} // namespace corla
