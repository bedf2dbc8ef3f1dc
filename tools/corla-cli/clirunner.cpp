#include "clirunner.h"

#include "cliformat.h"
#include "corlacsv.h"
#include "corladevicelist.h"
#include "corlasettings.h"
#include "tevipcheck.h"
#include "tevpinghelper.h"
#include "zelconnectionchecker.h"

#include "addressinuse.h"

#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QSet>
#include <QTimer>
#include <QUdpSocket>

#include <algorithm>
#include <cerrno>

namespace {

// After a refusal, how long an acceptance may still come: a request goes out once per
// local address, so a device can hear it twice, accept the first copy and refuse the
// second as unchanged, and the two answers may arrive in either order.
constexpr int kRefusalGraceMs = 500;

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

QString inUseText(const TevAddressUse& use)
{
    return use.by == CorlaInUseBy::LinkLayer
               ? QStringLiteral("a host answers ARP there as %1").arg(CorlaText::mac(use.mac))
               : QStringLiteral("a host answered an echo request");
}

} // namespace

CliRunner::CliRunner(QTextStream* out, QTextStream* err) : m_out(*out), m_err(*err) {}

int CliRunner::fail(int status, const QString& message)
{
    m_err << QStringLiteral("corla-cli: ") << message << Qt::endl;
    return status;
}

int CliRunner::run(const CliRequest& request)
{
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
    case CliCommand::Help:
    case CliCommand::Version:
        break;
    }
    return CliExit::Usage;
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

void CliRunner::collect(CorlaDeviceList* list, int waitMs)
{
    QObject context;
    QObject::connect(&m_adapter, &ZelCorlaAdapter::deviceFound, &context,
                     [list](std::shared_ptr<TevDevice> device) { list->merge(device); });
    m_adapter.netEnquire(ZelDevice());
    EventWait(waitMs).exec();
}

int CliRunner::discover(const CliRequest& request)
{
    CorlaDeviceList list;
    collect(&list, request.waitMs);
    CliReasons reasons;
    if (request.probe)
        reasons = probe(&list);

    m_out << formatDevices(list, request.format, request.probe, reasons);
    m_out.flush();
    if (list.size() == 0) {
        return fail(CliExit::NoAnswer,
                    QStringLiteral("no device answered within %1 ms").arg(request.waitMs));
    }
    return CliExit::Ok;
}

CliReasons CliRunner::probe(CorlaDeviceList* list)
{
    // Every probe reports once. Probes beyond the checker's in-flight limit wait their
    // turn, and each has its full time limit from its own start.
    ZelConnectionChecker checker;
    QSet<QString> pending;
    for (const auto& device : list->devices())
        pending.insert(CorlaText::mac(device->netHostInfo().macAddress()));
    const int rounds = 1 + int(pending.size()) / qMax(1, checker.maxInFlight());
    EventWait wait(rounds * checker.connectionTimeout() + 1000);
    CliReasons reasons;
    QObject::connect(
        &checker, &ZelConnectionChecker::probeReason, &checker,
        [&](const TevDevice& device, ZelPort, ZelNetworkStatus status, ZelProbeReason reason) {
            const QString mac = CorlaText::mac(device.netHostInfo().macAddress());
            if (!pending.remove(mac))
                return;
            list->setStatus(device.netHostInfo().macAddress(), status);
            reasons.insert(mac, zelProbeExplanation(checker, device, reason));
            if (pending.isEmpty())
                wait.finish();
        });
    for (const auto& device : list->devices())
        checker.checkPort(*device, ZelPort::Ftp);
    if (!pending.isEmpty())
        wait.exec();
    return reasons;
}

std::shared_ptr<TevDevice> CliRunner::findDevice(const TevMacAddr& mac, int waitMs)
{
    std::shared_ptr<TevDevice> found;
    EventWait wait(waitMs);
    QObject context;
    QObject::connect(&m_adapter, &ZelCorlaAdapter::deviceFound, &context,
                     [&](std::shared_ptr<TevDevice> device) {
                         if (found || device->netHostInfo().macAddress() != mac)
                             return;
                         found = device;
                         wait.finish();
                     });
    TevNetHostInfo identity;
    identity.setMacAddress(mac);
    m_adapter.netEnquire(ZelDevice(0, ZelDeviceType::NoDevice, identity));
    wait.exec();
    return found;
}

int CliRunner::set(const CliRequest& request)
{
    const std::shared_ptr<TevDevice> device = findDevice(request.mac, request.waitMs);
    if (!device) {
        return fail(CliExit::NoAnswer,
                    QStringLiteral("no device with MAC address %1 answered within %2 ms")
                        .arg(CorlaText::mac(request.mac))
                        .arg(request.waitMs));
    }
    const QString name = text(device->friendlyName());

    const TevNetHostInfo settings = settingsForSet(request, device->netHostInfo());
    const TevIpAddr& address = settings.ipAddress();
    const TevAddressUse use = needsDuplicateCheck(device->netHostInfo(), settings)
                                  ? TevPingHelper::addressInUse(address, IpChecker::kPingTimeoutMs)
                                  : TevAddressUse();
    if (use.inUse()) {
        const QString how = inUseText(use);
        if (!request.force)
            return fail(CliExit::AddressInUse,
                        QStringLiteral("%1 is already in use: %2. "
                                       "Nothing was sent to %3; --force sends it anyway.")
                            .arg(text(address.toString()), how, name));
        m_err << QStringLiteral("corla-cli: warning: a host answers at %1; sending anyway "
                                "(--force)")
                     .arg(text(address.toString()))
              << Qt::endl;
    }

    const ChangeAnswer answer = sendChange(*device, settings, request.waitMs);
    const std::shared_ptr<ZelDevice>& confirmed = answer.accepted;
    const QString& refusal = answer.refusal;
    if (confirmed) {
        m_out << QStringLiteral("%1 (%2) accepted: %3")
                     .arg(name, CorlaText::mac(request.mac), settingsText(confirmed->netHostInfo()))
              << Qt::endl;
        return CliExit::Ok;
    }
    // The device's own words, as the window shows them.
    if (!refusal.isEmpty())
        return fail(CliExit::Refused, refusal);
    return fail(CliExit::NoAnswer, QStringLiteral("%1 (%2) did not answer the change within %3 ms")
                                       .arg(name, CorlaText::mac(request.mac))
                                       .arg(request.waitMs));
}

CliRunner::ChangeAnswer CliRunner::sendChange(const TevDevice& device,
                                              const TevNetHostInfo& settings, int waitMs)
{
    ChangeAnswer answer;
    const TevMacAddr mac = device.netHostInfo().macAddress();
    // Only this device's refusal counts; its text starts with the device's name.
    const QString refusalPrefix = ZelCorlaAdapter::rejectionText(device, 0);
    EventWait wait(waitMs);
    QObject context;
    QObject::connect(&m_adapter, &ZelCorlaAdapter::deviceChanged, &context,
                     [&](std::shared_ptr<ZelDevice> changed) {
                         if (changed->netHostInfo().macAddress() != mac)
                             return;
                         answer.accepted = changed;
                         wait.finish();
                     });
    QObject::connect(&m_adapter, &ZelCorlaAdapter::error, &context, [&](QString message) {
        if (!answer.refusal.isEmpty() || !message.startsWith(refusalPrefix))
            return;
        answer.refusal = message;
        wait.shorten(kRefusalGraceMs);
    });
    m_adapter.changeNetSettings(device.serial(), device.devType(), settings);
    wait.exec();
    return answer;
}

int CliRunner::reset(const CliRequest& request)
{
    EventWait wait(request.waitMs);
    QObject context;
    QObject::connect(&m_adapter, &ZelCorlaAdapter::deviceReset, &context, [&](TevMacAddr mac) {
        if (mac == request.mac)
            wait.finish();
    });
    m_adapter.resetDevice(request.mac);
    if (!wait.exec()) {
        return fail(CliExit::NoAnswer,
                    QStringLiteral("no device with MAC address %1 answered the reset within %2 ms")
                        .arg(CorlaText::mac(request.mac))
                        .arg(request.waitMs));
    }
    m_out << QStringLiteral("%1 acknowledged the reset and is restarting.")
                 .arg(CorlaText::mac(request.mac))
          << Qt::endl;
    return CliExit::Ok;
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
    const QString& path = request.planPath;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return fail(CliExit::Usage,
                    QStringLiteral("cannot read the plan %1: %2").arg(path, file.errorString()));
    *plan = readPlan(file.readAll());
    if (!plan->ok()) {
        for (const CorlaPlanFault& fault : plan->faults)
            m_err << QStringLiteral("corla-cli: %1 %2").arg(path, fault.text()) << Qt::endl;
        return fail(CliExit::PlanRefused,
                    QStringLiteral("%1 was refused (%2): nothing was sent")
                        .arg(path, plan->faults.size() == 1
                                       ? QStringLiteral("1 fault")
                                       : QStringLiteral("%1 faults").arg(plan->faults.size())));
    }
    // Found out now rather than after the changes, when the report would be lost.
    if (!request.reportPath.isEmpty()) {
        const QFileInfo report(request.reportPath);
        const QFileInfo folder(report.absolutePath());
        if (report.isDir() || !folder.isDir() || !folder.isWritable())
            return fail(CliExit::Usage,
                        QStringLiteral("cannot write the report %1: %2")
                            .arg(request.reportPath,
                                 report.isDir() ? QStringLiteral("it is a folder")
                                                : QStringLiteral("its folder is missing or not "
                                                                 "writable")));
    }
    return CliExit::Ok;
}

int CliRunner::apply(const CliRequest& request, const CorlaPlan& plan)
{
    const auto rowMessage = [&](int line, const QString& message) {
        m_err << QStringLiteral("corla-cli: %1 line %2: %3")
                     .arg(request.planPath)
                     .arg(line)
                     .arg(message)
              << Qt::endl;
    };
    CorlaDeviceList list;
    collect(&list, request.waitMs);
    QVector<TevNetHostInfo> found;
    for (const auto& device : list.devices())
        found << device->netHostInfo();

    QVector<CliApplyRow> rows;
    QHash<int, int> rowAtLine;
    QVector<CorlaPlanRow> changes;
    for (const CorlaPlanRow& planned : plan.rows) {
        CliApplyRow row;
        row.line = planned.line;
        row.mac = planned.planned.macAddress();
        if (const auto device = list.find(row.mac)) {
            row.serial = device->serial();
            row.type = device->devType();
            row.found = device->netHostInfo();
            row.left = row.found;
        }
        switch (rowState(planned, found)) {
        case CorlaRowState::NotFound:
            row.outcome = CliOutcome::NotFound;
            rowMessage(row.line, QStringLiteral("no device with MAC address %1 answered within "
                                                "%2 ms")
                                     .arg(CorlaText::mac(row.mac))
                                     .arg(request.waitMs));
            break;
        case CorlaRowState::AlreadyAsPlanned:
            row.outcome = CliOutcome::Unchanged;
            break;
        case CorlaRowState::ToChange:
            // Until the order gives it a place.
            row.outcome = CliOutcome::RefusedOrder;
            changes << planned;
            break;
        }
        rowAtLine.insert(row.line, rows.size());
        rows << row;
    }

    // The steps never wait for a refused change, and none takes an address that a refused
    // one holds: they can go ahead without ever putting two devices at one address.
    const CorlaChangeOrder order = orderChanges(changes, found);
    for (const CorlaPlanFault& fault : order.faults)
        rowMessage(fault.line, fault.message);

    QSet<QString> moved; // devices whose change was confirmed (--dry-run: would be sent)
    for (const CorlaPlanStep& step : order.steps) {
        CliApplyRow& row = rows[rowAtLine.value(step.row.line)];
        const std::shared_ptr<TevDevice> device = list.find(row.mac);
        const QString name = text(device->friendlyName());
        const TevNetHostInfo settings = settingsToSend(*row.found, step.row.planned);
        const QString address = CorlaText::address(settings.ipAddress());
        row.outcome = CliOutcome::InUse;
        // A device leaving this address may still be heard there (a late echo, the
        // neighbour table's entry): its own confirmed move is what counts, never a check.
        const auto stays =
            std::find_if(step.leftBy.begin(), step.leftBy.end(), [&](const TevMacAddr& mac) {
                return !moved.contains(CorlaText::mac(mac));
            });
        if (stays != step.leftBy.end()) {
            rowMessage(row.line, QStringLiteral("%1 is still held by %2, whose own change was not "
                                                "made. Nothing was sent to %3.")
                                     .arg(address, CorlaText::mac(*stays), name));
            continue;
        }
        if (step.leftBy.isEmpty() && !request.force && needsDuplicateCheck(*row.found, settings)) {
            const TevAddressUse use =
                TevPingHelper::addressInUse(settings.ipAddress(), IpChecker::kPingTimeoutMs);
            if (use.inUse()) {
                rowMessage(row.line, QStringLiteral("%1 is already in use: %2. Nothing was sent "
                                                    "to %3; --force sends it anyway.")
                                         .arg(address, inUseText(use), name));
                continue;
            }
        }
        if (request.dryRun) {
            row.outcome = CliOutcome::WouldChange;
            moved.insert(CorlaText::mac(row.mac));
            continue;
        }

        const ChangeAnswer answer = sendChange(*device, settings, request.waitMs);
        if (!answer.accepted && !answer.refusal.isEmpty()) {
            row.outcome = CliOutcome::Refused;
            row.reason = answer.refusal.mid(ZelCorlaAdapter::rejectionText(*device, 0).size());
            rowMessage(row.line, name + QStringLiteral(": ") + row.outcomeText());
            continue;
        }
        // Without an answer the change may still have been made: the enquiry tells.
        const std::shared_ptr<TevDevice> now = findDevice(row.mac, request.waitMs);
        row.left.reset();
        if (now)
            row.left = now->netHostInfo();
        if (now && isAsPlanned(step.row.planned, now->netHostInfo())) {
            row.outcome = CliOutcome::Changed;
            moved.insert(CorlaText::mac(row.mac));
            continue;
        }
        row.outcome = CliOutcome::NotConfirmed;
        const QString heard = answer.accepted ? QStringLiteral("accepted the change")
                                              : QStringLiteral("did not answer the change");
        rowMessage(
            row.line,
            now ? QStringLiteral("%1 %2 but reports %3").arg(name, heard, settingsText(*row.left))
                : QStringLiteral("%1 %2 and did not answer an enquiry within %3 ms")
                      .arg(name, heard)
                      .arg(request.waitMs));
    }

    m_out << formatApplyReport(rows, request.format);
    m_out.flush();
    if (!request.reportPath.isEmpty()) {
        const CsvFileResult written =
            writeCsvFile(request.reportPath, formatApplyReport(rows, CliFormat::Csv));
        if (!written.ok())
            return fail(CliExit::ReportNotWritten,
                        QStringLiteral("the report %1 was not written: %2")
                            .arg(request.reportPath, written.reason));
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
