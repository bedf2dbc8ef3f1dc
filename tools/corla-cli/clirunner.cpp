// SPDX-License-Identifier: Apache-2.0
// SPDX-FileCopyrightText: 2026 The Corla developers
#include "clirunner.h"

#include "cliformat.h"
#include "corlacsv.h"
#include "corladevicelist.h"
#include "corlasettings.h"
#include "corlatext.h"
#include "tevipcheck.h"
#include "tevpinghelper.h"
#include "zelconnectionchecker.h"

#include "addressinuse.h"
#include "cliwatch.h"
#include "hostreport.h"

#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QSet>
#include <QTimer>
#include <QUdpSocket>

#include <algorithm>
#include <cerrno>
#include <unistd.h>

namespace {

QString text(const std::string& s)
{
    return QString::fromStdString(s);
}

// Runs the event loop until finish() or the time limit, whichever comes first.
class EventWait
{
public:
    explicit EventWait(int ms)
    {
        m_timer.setSingleShot(true);
        // A coarse timer may end a wait up to 5 % early; --wait promises the whole time.
        m_timer.setTimerType(Qt::PreciseTimer);
        m_timer.setInterval(ms);
        QObject::connect(&m_timer, &QTimer::timeout, &m_loop, &QEventLoop::quit);
    }
    void finish()
    {
        m_finished = true;
        m_loop.quit();
    }
    // Ends the wait within ms from now at the latest.
    void shorten(int ms)
    {
        if (m_timer.isActive() && m_timer.remainingTime() > ms)
            m_timer.start(ms);
    }
    // True when finish() came before the limit.
    bool exec()
    {
        if (!m_finished) {
            m_timer.start();
            m_loop.exec();
        }
        return m_finished;
    }

private:
    QEventLoop m_loop;
    QTimer m_timer;
    bool m_finished = false;
};

// Probes port 21 of each device as soon as it is listed, and again when a later answer
// changes its settings; a report for an address the device no longer has is dropped, since
// the probe of its new one follows.
class ListProbes
{
public:
    explicit ListProbes(CorlaDeviceList* list) : m_list(*list)
    {
        QObject::connect(&m_checker, &ZelConnectionChecker::probeReason, &m_checker,
                         [this](const TevDevice& device, ZelPort, ZelNetworkStatus status,
                                ZelProbeReason reason) { reported(device, status, reason); });
        const auto probeRow = [this](int row) { probe(*m_list.devices().at(row)); };
        QObject::connect(&m_list, &CorlaDeviceList::appended, &m_checker, probeRow);
        QObject::connect(&m_list, &CorlaDeviceList::settingsChanged, &m_checker, probeRow);
    }

    // Waits for every probe still running; each has its full time limit from its own start,
    // and those beyond the checker's in-flight limit wait their turn.
    CliReasons finish()
    {
        if (!m_pending.isEmpty()) {
            const int rounds = 1 + int(m_pending.size()) / qMax(1, m_checker.maxInFlight());
            EventWait wait(rounds * m_checker.connectionTimeout() + 1000);
            m_wait = &wait;
            wait.exec();
            m_wait = nullptr;
        }
        return m_reasons;
    }

private:
    void probe(const TevDevice& device)
    {
        // Before the request: a device without an address is reported at once.
        m_pending.insert(CorlaText::mac(device.netHostInfo().macAddress()));
        m_checker.checkPort(device, ZelPort::Ftp);
    }

    void reported(const TevDevice& device, ZelNetworkStatus status, ZelProbeReason reason)
    {
        const TevMacAddr& macAddr = device.netHostInfo().macAddress();
        const auto listed = m_list.find(macAddr);
        if (!listed || listed->netHostInfo().ipAddress() != device.netHostInfo().ipAddress())
            return;
        const QString mac = CorlaText::mac(macAddr);
        if (!m_pending.remove(mac))
            return;
        m_list.setStatus(macAddr, status);
        m_reasons.insert(mac, zelProbeExplanation(m_checker, device, reason));
        if (m_pending.isEmpty() && m_wait)
            m_wait->finish();
    }

    CorlaDeviceList& m_list;
    ZelConnectionChecker m_checker;
    QSet<QString> m_pending;
    CliReasons m_reasons;
    EventWait* m_wait = nullptr;
};

// The local address the system would send from to reach `target`. Connecting a UDP
// socket only chooses the route; nothing is sent.
QHostAddress sourceAddressFor(const TevIpAddr& target)
{
    QUdpSocket socket;
    socket.connectToHost(QHostAddress(target.toInt()), 9);
    if (!socket.waitForConnected(1000))
        return QHostAddress();
    return socket.localAddress();
}

} // namespace

CliRunner::CliRunner(QTextStream* out, QTextStream* err)
    : m_out(*out), m_err(*err), m_service(&m_adapter), m_log(CorlaChangeLog::defaultPath())
{
    m_service.setChangeLog(&m_log, QStringLiteral("corla-cli"));
    // What discovery could not do (a send that failed, an interface gone) is said as it
    // happens; the adapter says each cause once a request.
    QObject::connect(
        &m_adapter, &ZelCorlaAdapter::warning, &m_adapter, [this](const QString& text) {
            m_err << QStringLiteral("corla-cli: warning: ") << escapedForDisplay(text) << Qt::endl;
        });
    // The change goes ahead; the log's failure is said once.
    QObject::connect(&m_service, &corla::CommissioningService::logFailed, &m_service,
                     [this](const QString& path, const QString& why) {
                         if (m_logFailed)
                             return;
                         m_logFailed = true;
                         m_err << QStringLiteral("corla-cli: warning: the change log %1 was not "
                                                 "written: %2")
                                      .arg(escapedForDisplay(path), why)
                               << Qt::endl;
                     });
}

int CliRunner::fail(int status, const QString& message)
{
    m_err << QStringLiteral("corla-cli: ") << message << Qt::endl;
    return status;
}

int CliRunner::run(const CliRequest& request)
{
    // Reads this computer only: works without addresses, and sends nothing.
    if (request.command == CliCommand::Doctor)
        return doctor();
    m_adapter.setInterfaceFilter(request.interfaces);
    // A refused plan sends nothing, whatever the network.
    CorlaPlan plan;
    if (request.command == CliCommand::Apply) {
        const int status = readPlanFile(request, &plan);
        if (status != CliExit::Ok)
            return status;
    }
    // Discovery requests need an address to go out from; the echo has its own route.
    if (request.command != CliCommand::Ping) {
        const QString why = noLocalAddress(request);
        if (!why.isEmpty())
            return fail(CliExit::NoNetwork, why);
    }
    switch (request.command) {
    case CliCommand::Discover:
        return discover(request);
    case CliCommand::Set:
        return set(request);
    case CliCommand::Reset:
        return reset(request);
    case CliCommand::Ping:
        return ping(request);
    case CliCommand::Apply:
        return apply(request, plan);
    case CliCommand::Watch:
        return CliWatch(&m_adapter, &m_out, &m_err).run(request);
    case CliCommand::Doctor:
    case CliCommand::Help:
    case CliCommand::Version:
        break;
    }
    return CliExit::Usage;
}

int CliRunner::doctor()
{
    const corla::HostReport report = corla::readHostReport();
    for (const QString& line : corla::hostReportLines(report))
        m_out << line << Qt::endl;
    return report.problemFound ? CliExit::HostProblem : CliExit::Ok;
}

QString CliRunner::noLocalAddress(const CliRequest& request) const
{
    if (!m_adapter.localAddresses().isEmpty())
        return QString();
    if (request.interfaces.isEmpty())
        return QStringLiteral("no interface is up with an IPv4 address: nothing to send from");
    return QStringLiteral("no usable IPv4 address on %1 (the interface must be up and running)")
        .arg(request.interfaces.join(QStringLiteral(", ")));
}

void CliRunner::collect(CorlaDeviceList* list, int waitMs, int settleMs)
{
    QObject context;
    list->beginRound();
    QObject::connect(&m_adapter, &ZelCorlaAdapter::deviceFound, &context,
                     [list](std::shared_ptr<TevDevice> device) { list->merge(device); });
    EventWait wait(waitMs);
    // Settled: no new device for settleMs, counted from the enquiry's latest copy or from
    // the last new device, whichever came later. Each copy restarts the count, for the
    // devices that missed the ones before it; the copies are then stopped.
    QElapsedTimer clock;
    qint64 lastNewMs = 0;
    const auto latestCopyMs = [waitMs](qint64 now) {
        qint64 latest = 0;
        for (const int at : ZelCorlaAdapter::kEnquiryRepeatsMs) {
            if (at <= now && at < waitMs)
                latest = at;
        }
        return latest;
    };
    QTimer settle;
    settle.setSingleShot(true);
    settle.setTimerType(Qt::PreciseTimer);
    QObject::connect(list, &CorlaDeviceList::appended, &context,
                     [&](int) { lastNewMs = clock.elapsed(); });
    QObject::connect(&settle, &QTimer::timeout, &context, [&]() {
        const qint64 now = clock.elapsed();
        const qint64 left = qMax(latestCopyMs(now), lastNewMs) + settleMs - now;
        if (left > 0)
            settle.start(int(left));
        else
            wait.finish();
    });
    clock.start();
    const quint64 enquiry = m_adapter.netEnquire(ZelDevice());
    if (settleMs > 0)
        settle.start(settleMs);
    wait.exec();
    m_adapter.endRequest(enquiry);
    if (list->ignoredAnswers() > 0)
        m_err << QStringLiteral("corla-cli: warning: %1 further answers ignored: more devices "
                                "than corla-cli lists at once (%2)")
                     .arg(list->ignoredAnswers())
                     .arg(list->capacity())
              << Qt::endl;
}

int CliRunner::discover(const CliRequest& request)
{
    CorlaDeviceList list;
    list.setCapacity(request.maxDevices);
    std::unique_ptr<ListProbes> probes;
    if (request.probe)
        probes = std::make_unique<ListProbes>(&list);
    collect(&list, request.waitMs, request.settleMs);
    CliReasons reasons;
    if (probes)
        reasons = probes->finish();

    writeDevices(m_out, list, request.format, request.probe, reasons);
    m_out.flush();
    if (list.size() == 0) {
        fail(CliExit::NoAnswer,
             QStringLiteral("no device answered within %1 ms").arg(request.waitMs));
        return fail(CliExit::NoAnswer, QStringLiteral("'corla-cli doctor' tells what on this "
                                                      "computer can keep devices from being "
                                                      "heard"));
    }
    return CliExit::Ok;
}

namespace {

// Runs the event loop until the operation reports, and hands back what it reported.
template <class Operation, class Result>
Result runToEnd(Operation* operation, void (Operation::*finished)(const Result&))
{
    Result result;
    bool done = false;
    QEventLoop loop;
    QObject::connect(operation, finished, &loop, [&](const Result& r) {
        result = r;
        done = true;
        loop.quit();
    });
    // An operation with nothing to do reports from inside start(), before the loop runs.
    operation->start();
    if (!done)
        loop.exec();
    return result;
}

// Whether the conflict is about one of these fields ("Gateway", "DNS Server", ...).
bool disputes(const CorlaConflict& conflict, const QStringList& fields)
{
    for (const QString& difference : conflict.differences) {
        for (const QString& field : fields) {
            if (difference.startsWith(field + QLatin1Char(' ')))
                return true;
        }
    }
    return false;
}

} // namespace

void CliRunner::setTiming(int waitMs)
{
    corla::Timing& timing = m_service.timing();
    timing.answerMs = waitMs;
    timing.lookupMs = waitMs;
}

int CliRunner::set(const CliRequest& request)
{
    setTiming(request.waitMs);
    TevNetHostInfo settings = request.settings;
    settings.setMacAddress(request.mac);
    corla::ChangeOptions options;
    options.force = request.force;
    corla::ChangeOperation* change = m_service.change(nullptr, settings, options);
    change->setSettingsFrom(
        [&request](const corla::DeviceReport& report) -> std::optional<TevNetHostInfo> {
            // What set keeps comes from the device's own answer; when two senders disagree
            // about it, nobody knows which is the device's.
            QStringList kept;
            if (request.keepGateway)
                kept << QStringLiteral("Gateway");
            if (request.keepDns)
                kept << QStringLiteral("DNS Server");
            if (request.settings.addressMode() == TevAddressModeAuto)
                kept << QStringLiteral("IP Address") << QStringLiteral("Subnet Mask")
                     << QStringLiteral("Gateway") << QStringLiteral("DNS Server");
            if (report.conflict && disputes(*report.conflict, kept))
                return std::nullopt;
            return settingsForSet(request, report.device->netHostInfo());
        });
    bool warned = false;
    QObject::connect(change, &corla::ChangeOperation::sent, change,
                     [&](const corla::ChangeResult& progress) {
                         if (warned || !progress.inUse.inUse())
                             return;
                         warned = true;
                         m_err << QStringLiteral("corla-cli: warning: a host answers at %1; "
                                                 "sending anyway (--force)")
                                      .arg(text(progress.requested.ipAddress().toString()))
                               << Qt::endl;
                     });
    const corla::ChangeResult result = runToEnd(change, &corla::ChangeOperation::finished);

    const QString mac = CorlaText::mac(request.mac);
    const QString name = result.device ? text(result.device->friendlyName()) : mac;
    switch (result.outcome) {
    case corla::ChangeOutcome::Changed:
    case corla::ChangeOutcome::ChangedAnswerLost:
        m_out << QStringLiteral("%1 (%2) %3: %4")
                     .arg(name, mac, result.outcomeText(), settingsText(*result.reported))
              << Qt::endl;
        return CliExit::Ok;
    case corla::ChangeOutcome::Refused:
        // The device's own words, as the window shows them.
        return fail(CliExit::Refused,
                    ZelCorlaAdapter::rejectionText(*result.device, int16_t(result.refusal)));
    case corla::ChangeOutcome::NotFound:
        return fail(CliExit::NoAnswer,
                    QStringLiteral("no device with MAC address %1 answered within %2 ms")
                        .arg(mac)
                        .arg(request.waitMs));
    case corla::ChangeOutcome::InUse:
        return fail(CliExit::AddressInUse,
                    QStringLiteral("%1 is already in use: %2. "
                                   "Nothing was sent to %3; --force sends it anyway.")
                        .arg(CorlaText::address(result.requested.ipAddress()),
                             corla::inUseText(result.inUse), name));
    case corla::ChangeOutcome::Conflicting:
        return fail(CliExit::Conflicting,
                    QStringLiteral("%1 (%2): %3 Nothing was sent%4.")
                        .arg(name, mac, result.conflict ? result.conflict->text() : QString(),
                             request.force ? QStringLiteral(": the settings it would keep are in "
                                                            "dispute; give them with --gateway or "
                                                            "--no-gateway and --dns or --no-dns")
                                           : QStringLiteral("; --force sends anyway")));
    case corla::ChangeOutcome::Unchanged:
        return fail(CliExit::NoAnswer,
                    QStringLiteral("%1 (%2) did not answer the change (%3 requests, %4 ms each) "
                                   "and still reports %5")
                        .arg(name, mac)
                        .arg(result.attempts)
                        .arg(request.waitMs)
                        .arg(settingsText(*result.reported)));
    case corla::ChangeOutcome::NotConfirmed:
        break;
    }
    return fail(CliExit::NoAnswer,
                QStringLiteral("%1 (%2) %3").arg(name, mac, result.outcomeText()));
}

int CliRunner::reset(const CliRequest& request)
{
    setTiming(request.waitMs);
    const bool watch =
        request.waitReturn == CliRequest::WaitReturn::Yes ||
        (request.waitReturn == CliRequest::WaitReturn::Auto && isatty(STDOUT_FILENO));
    corla::ResetOperation* reset = m_service.reset(request.mac, watch, request.force);
    const QString mac = CorlaText::mac(request.mac);
    QObject::connect(
        reset, &corla::ResetOperation::restarting, reset, [&](const corla::ResetResult& progress) {
            m_out << (progress.acknowledged ? QStringLiteral("%1 acknowledged the reset and is "
                                                             "restarting.")
                                            : QStringLiteral("%1 did not acknowledge the reset but "
                                                             "went silent: it is restarting."))
                         .arg(mac)
                  << Qt::endl;
        });
    const corla::ResetResult result = runToEnd(reset, &corla::ResetOperation::finished);
    switch (result.outcome) {
    case corla::ResetOutcome::Acknowledged:
    case corla::ResetOutcome::WentSilent:
        return CliExit::Ok;
    case corla::ResetOutcome::Back:
        m_out << QStringLiteral("%1 is %2.").arg(mac, result.outcomeText()) << Qt::endl;
        return CliExit::Ok;
    case corla::ResetOutcome::NotBack:
        return fail(CliExit::NoAnswer,
                    QStringLiteral("%1 did not answer again within %2 s of the reset")
                        .arg(mac)
                        .arg(m_service.timing().returnLimitMs / 1000));
    case corla::ResetOutcome::NotFound:
        return fail(CliExit::NoAnswer,
                    QStringLiteral("no device with MAC address %1 answered within %2 ms "
                                   "(nothing was sent; a device restarting from an earlier "
                                   "reset is silent for a while)")
                        .arg(mac)
                        .arg(request.waitMs));
    case corla::ResetOutcome::Conflicting:
        return fail(CliExit::Conflicting,
                    QStringLiteral("%1: %2 Nothing was sent; --force sends anyway.")
                        .arg(mac, result.conflict ? result.conflict->text() : QString()));
    case corla::ResetOutcome::KeptAnswering:
    case corla::ResetOutcome::NoAnswer:
        break;
    }
    return fail(CliExit::NoAnswer, QStringLiteral("%1: %2").arg(mac, result.outcomeText()));
}

int CliRunner::ping(const CliRequest& request)
{
    const QString target = text(request.target.toString());
    if (!request.interfaces.isEmpty()) {
        const QHostAddress source = sourceAddressFor(request.target);
        if (source.isNull() || !m_adapter.localAddresses().contains(source)) {
            return fail(CliExit::NoNetwork,
                        QStringLiteral("%1 is not routed through %2")
                            .arg(target, request.interfaces.join(QStringLiteral(", "))));
        }
    }
    const CorlaInUse use =
        corlaAddressInUse(request.target.toString(), uint32_t(request.timeoutMs));
    const CorlaEchoOutcome& echo = use.echo;
    if (echo.replyCount > 0 && echo.status == 0) {
        m_out << QStringLiteral("%1 answered.").arg(target) << Qt::endl;
        return CliExit::Ok;
    }
    if (echo.replyCount > 0) {
        // An ICMP error quoting the request: someone on the way speaks for the address.
        const bool unreachable = echo.status >> 8 == 3;
        return fail(CliExit::NoReply,
                    unreachable ? QStringLiteral("%1 is unreachable: %2 reports host unreachable")
                                      .arg(target, text(echo.replySource))
                                : QStringLiteral("%1 did not answer: %2 reports ICMP type %3 "
                                                 "code %4")
                                      .arg(target, text(echo.replySource))
                                      .arg(echo.status >> 8)
                                      .arg(echo.status & 0xff));
    }
    if (use.by == CorlaInUseBy::LinkLayer) {
        return fail(CliExit::LinkOnly,
                    QStringLiteral("%1 does not answer echo requests, but a host answers ARP "
                                   "there as %2 (%3)")
                        .arg(target, text(corlaLinkAddressText(use.neighbour)),
                             text(use.neighbour.stateName)));
    }
    if (echo.errorCode == ENETUNREACH)
        return fail(CliExit::NoNetwork,
                    QStringLiteral("no route to %1 from this computer").arg(target));
    if (echo.errorCode == EHOSTUNREACH)
        return fail(CliExit::NoReply,
                    QStringLiteral("%1 is unreachable (host unreachable)").arg(target));
    return fail(CliExit::NoReply,
                QStringLiteral("no reply from %1 within %2 ms").arg(target).arg(request.timeoutMs));
}

int CliRunner::readPlanFile(const CliRequest& request, CorlaPlan* plan)
{
    QFile file(request.planPath);
    // A file name may hold anything; the terminal gets it escaped.
    const QString path = escapedForDisplay(request.planPath);
    if (!file.open(QIODevice::ReadOnly))
        return fail(CliExit::Usage,
                    QStringLiteral("cannot read the plan %1: %2").arg(path, file.errorString()));
    *plan = readPlan(file.readAll());
    if (!plan->ok())
        return refusePlan(request, plan->faults);
    // Found out now rather than after the changes, when the report would be lost.
    if (!request.reportPath.isEmpty()) {
        const QFileInfo report(request.reportPath);
        const QFileInfo folder(report.absolutePath());
        if (report.isDir() || !folder.isDir() || !folder.isWritable())
            return fail(CliExit::Usage,
                        QStringLiteral("cannot write the report %1: %2")
                            .arg(escapedForDisplay(request.reportPath),
                                 report.isDir() ? QStringLiteral("it is a folder")
                                                : QStringLiteral("its folder is missing or not "
                                                                 "writable")));
    }
    return CliExit::Ok;
}

int CliRunner::refusePlan(const CliRequest& request, const QVector<CorlaPlanFault>& faults)
{
    const QString path = escapedForDisplay(request.planPath);
    for (const CorlaPlanFault& fault : faults)
        m_err << QStringLiteral("corla-cli: %1 %2").arg(path, fault.text()) << Qt::endl;
    return fail(CliExit::PlanRefused,
                QStringLiteral("%1 was refused (%2): nothing was sent")
                    .arg(path, faults.size() == 1
                                   ? QStringLiteral("1 fault")
                                   : QStringLiteral("%1 faults").arg(faults.size())));
}

int CliRunner::apply(const CliRequest& request, const CorlaPlan& plan)
{
    setTiming(request.waitMs);
    const auto rowMessage = [&](int line, const QString& message) {
        m_err << QStringLiteral("corla-cli: %1 line %2: %3")
                     .arg(escapedForDisplay(request.planPath))
                     .arg(line)
                     .arg(message)
              << Qt::endl;
    };
    CorlaDeviceList list;
    collect(&list, request.waitMs);

    corla::ApplyOptions options;
    options.force = request.force;
    options.dryRun = request.dryRun;
    corla::ApplyOperation* operation = m_service.apply(plan, list, options);
    // Rows that ask a device for what no device can be given: refused as a plan read with
    // faults is, and nothing but the enquiry was sent.
    const QVector<CorlaPlanFault> faults = operation->planFaults();
    if (!faults.isEmpty()) {
        delete operation;
        return refusePlan(request, faults);
    }
    for (const corla::ApplyRow& row : operation->rows()) {
        if (row.outcome == corla::RowOutcome::NotFound)
            rowMessage(row.line, QStringLiteral("no device with MAC address %1 answered within "
                                                "%2 ms")
                                     .arg(CorlaText::mac(row.mac))
                                     .arg(request.waitMs));
    }
    QObject::connect(operation, &corla::ApplyOperation::rowMessage, operation, rowMessage);
    const QVector<corla::ApplyRow> rows = runToEnd(operation, &corla::ApplyOperation::finished);

    m_out << formatApplyReport(rows, request.format);
    m_out.flush();
    if (!request.reportPath.isEmpty()) {
        const CsvFileResult written =
            writeCsvFile(request.reportPath, formatApplyReport(rows, CliFormat::Csv));
        if (!written.ok())
            return fail(CliExit::ReportNotWritten,
                        QStringLiteral("the report %1 was not written: %2")
                            .arg(escapedForDisplay(request.reportPath), written.reason));
    }
    const auto failed =
        std::count_if(rows.begin(), rows.end(), [](const CliApplyRow& row) { return !row.ok(); });
    if (failed > 0)
        return fail(CliExit::RowsFailed, QStringLiteral("%1 of %2 rows %3 end as planned")
                                             .arg(failed)
                                             .arg(rows.size())
                                             .arg(request.dryRun ? QStringLiteral("would not")
                                                                 : QStringLiteral("did not")));
    return CliExit::Ok;
}
