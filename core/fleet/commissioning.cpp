// SPDX-License-Identifier: Apache-2.0
// SPDX-FileCopyrightText: 2026 The Corla developers
#include "core/fleet/commissioning.h"

#include "core/discovery/discoveryclient.h"
#include "core/fleet/settingsrules.h"
#include "core/net/logging.h"

#include <QFutureWatcher>
#include <QtConcurrent/QtConcurrentRun>

#include <algorithm>

namespace corla {

namespace {

// The echo limit of the duplicate-address check.
constexpr unsigned kInUseEchoMs = 50;
// A device that answers where the neighbour table still shows it at the address being
// checked has moved away; looking it up must not hold a change for long.
constexpr int kMovedLookupMs = 1000;
// How long a reset device is looked for while it has not yet been seen silent.
constexpr int kSilenceLookMs = 400;
// How long a reset's acknowledgement is waited for before the device is looked for.
constexpr int kResetAnswerMs = 500;

QString text(const std::string& s)
{
    return QString::fromStdString(s);
}

QString refusalText(Refusal code)
{
    return QString::fromLatin1(refusalReason(code));
}

MacAddress macOf(const Neighbour& neighbour)
{
    MacAddress mac;
    MacAddress::parse(linkAddressText(neighbour), &mac);
    return mac;
}

// Runs the in-use check off the event loop's thread and hands its verdict back there.
void checkAddress(QObject* context, const Ipv4Address& address,
                  std::function<void(const InUseFinding&)> then)
{
    auto* watcher = new QFutureWatcher<InUseFinding>(context);
    QObject::connect(watcher, &QFutureWatcher<InUseFinding>::finished, context,
                     [watcher, then = std::move(then)] {
                         const InUseFinding use = watcher->result();
                         watcher->deleteLater();
                         then(use);
                     });
    const std::string dotted = address.toString();
    watcher->setFuture(
        QtConcurrent::run([dotted] { return queryAddressInUse(dotted, kInUseEchoMs); }));
}

// One enquiry naming `mac`, its report handed to `then` in `owner`'s context.
void lookUpThen(QObject* owner, DiscoveryClient* adapter, const MacAddress& mac,
                const Timing& timing, std::function<void(const DeviceReport&)> then)
{
    auto* lookup = new DeviceLookup(adapter, mac, timing, owner);
    QObject::connect(lookup, &DeviceLookup::finished, owner,
                     [lookup, then = std::move(then)](const DeviceReport& report) {
                         lookup->deleteLater();
                         then(report);
                     });
    lookup->start();
}

} // namespace

QString settingsText(const NetworkSettings& settings)
{
    QString mode;
    switch (settings.addressMode()) {
    case AddressModeDhcp:
        mode = QStringLiteral("DHCP");
        break;
    case AddressModeStatic:
        mode = QStringLiteral("static");
        break;
    default:
        mode = QStringLiteral("mode %1").arg(uint(settings.addressMode()));
        break;
    }
    return QStringLiteral("%1 %2 mask %3 gateway %4 DNS %5")
        .arg(mode, DisplayText::address(settings.ipAddress()),
             DisplayText::address(settings.subnetMask()), DisplayText::address(settings.gateway()),
             DisplayText::address(settings.dns()));
}

QString inUseText(const InUseFinding& use)
{
    return use.by == InUseBy::LinkLayer ? QStringLiteral("a host answers ARP there as %1")
                                              .arg(text(linkAddressText(use.neighbour)))
                                        : QStringLiteral("a host answered an echo request");
}

// ---------------------------------------------------------------------------------------

DeviceLookup::DeviceLookup(DiscoveryClient* adapter, const MacAddress& mac, const Timing& timing,
                           QObject* parent)
    : QObject(parent), m_adapter(*adapter), m_mac(mac), m_timing(timing)
{
    m_timer.setSingleShot(true);
    connect(&m_timer, &QTimer::timeout, this, &DeviceLookup::finish);
    // Only answers to this lookup's own enquiry: one to an earlier enquiry may have waited
    // in its socket while the device changed, and would stand beside the new settings.
    connect(&m_adapter, &DiscoveryClient::enquiryAnswered, this,
            [this](quint64 request, std::shared_ptr<Device> device) {
                if (m_done || request == 0 || request != m_request || !device ||
                    device->netHostInfo().macAddress() != m_mac)
                    return;
                const bool first = m_heard.size() == 0;
                m_heard.merge(device);
                if (first)
                    m_timer.start(m_timing.graceMs);
            });
}

void DeviceLookup::start()
{
    m_heard.beginRound();
    NetworkSettings identity;
    identity.setMacAddress(m_mac);
    m_timer.start(m_timing.lookupMs);
    m_request = m_adapter.netEnquire(Device(0, DeviceType::NoDevice, identity));
}

void DeviceLookup::finish()
{
    if (m_done)
        return;
    m_done = true;
    DeviceReport report;
    report.device = m_heard.find(m_mac);
    report.conflict = m_heard.conflict(m_mac);
    emit finished(report);
}

// ---------------------------------------------------------------------------------------

QString ChangeResult::outcomeText() const
{
    switch (outcome) {
    case ChangeOutcome::Changed:
        return QStringLiteral("changed");
    case ChangeOutcome::ChangedAnswerLost:
        return QStringLiteral("changed (answer lost)");
    case ChangeOutcome::Refused:
        return QStringLiteral("refused: ") + refusalText(refusal);
    case ChangeOutcome::Unchanged:
        return QStringLiteral("unchanged: no answer to %1 requests").arg(attempts);
    case ChangeOutcome::NotConfirmed:
        if (!reported)
            return answered ? QStringLiteral("not confirmed: the device answered the change but "
                                             "not an enquiry afterwards")
                            : QStringLiteral("not confirmed: no answer");
        if (conflict)
            return QStringLiteral("not confirmed: ") + conflict->text();
        return QStringLiteral("not confirmed: the device reports ") + settingsText(*reported);
    case ChangeOutcome::NotFound:
        return QStringLiteral("not found");
    case ChangeOutcome::InUse:
        return QStringLiteral("in use: ") + inUseText(inUse);
    case ChangeOutcome::Conflicting:
        return QStringLiteral("conflicting: ") + (conflict ? conflict->text() : QString());
    }
    return QString();
}

ChangeOperation::ChangeOperation(DiscoveryClient* adapter, std::shared_ptr<Device> device,
                                 const NetworkSettings& settings, const ChangeOptions& options,
                                 const Timing& timing, QObject* parent)
    : QObject(parent), m_adapter(*adapter), m_options(options), m_timing(timing)
{
    // The caller's record may be updated in place as answers come in (the window's list
    // is): the result keeps the device as it was found.
    if (device)
        m_result.device = std::make_shared<Device>(*device);
    m_result.requested = settings;
    m_answerTimer.setSingleShot(true);
    connect(&m_answerTimer, &QTimer::timeout, this, &ChangeOperation::confirm);
    connect(&m_adapter, &DiscoveryClient::changeAnswered, this, &ChangeOperation::answer);
}

void ChangeOperation::start()
{
    if (!m_options.lookUpFirst) {
        checkInUse();
        return;
    }
    lookUp(m_result.requested.macAddress(),
           [this](const DeviceReport& report) { lookedUp(report); });
}

void ChangeOperation::lookUp(const MacAddress& mac, std::function<void(const DeviceReport&)> then)
{
    lookUpThen(this, &m_adapter, mac, m_timing, std::move(then));
}

void ChangeOperation::lookedUp(const DeviceReport& report)
{
    if (!report.answered()) {
        finish(ChangeOutcome::NotFound);
        return;
    }
    m_result.device = report.device;
    m_result.conflict = report.conflict;
    if (report.conflict && !m_options.force) {
        finish(ChangeOutcome::Conflicting);
        return;
    }
    if (m_makeSettings) {
        const std::optional<NetworkSettings> settings = m_makeSettings(report);
        if (!settings) {
            finish(ChangeOutcome::Conflicting);
            return;
        }
        m_result.requested = *settings;
    }
    checkInUse();
}

void ChangeOperation::checkInUse()
{
    const NetworkSettings before =
        m_result.device ? m_result.device->netHostInfo() : NetworkSettings();
    if (!m_options.checkInUse || !needsDuplicateCheck(before, m_result.requested)) {
        attempt();
        return;
    }
    checkAddress(this, m_result.requested.ipAddress(),
                 [this](const InUseFinding& use) { inUseChecked(use); });
}

void ChangeOperation::inUseChecked(const InUseFinding& use)
{
    if (!use.inUse()) {
        attempt();
        return;
    }
    const auto held = [this, use] {
        m_result.inUse = use;
        if (m_options.force) {
            qCWarning(logDiscovery).noquote()
                << "Sending although" << inUseText(use) << "at"
                << DisplayText::address(m_result.requested.ipAddress());
            attempt();
            return;
        }
        finish(ChangeOutcome::InUse);
    };
    if (use.by != InUseBy::LinkLayer) {
        held();
        return;
    }
    // The neighbour table keeps a device's old address for a while after it moves: its
    // link-layer address there says nothing if the device now answers somewhere else.
    const MacAddress mac = macOf(use.neighbour);
    Timing quick = m_timing;
    quick.lookupMs = std::min(quick.lookupMs, kMovedLookupMs);
    lookUpThen(this, &m_adapter, mac, quick, [this, held](const DeviceReport& report) {
        if (report.answered() && !report.conflict &&
            report.device->netHostInfo().ipAddress() != m_result.requested.ipAddress()) {
            qCDebug(logDiscovery).noquote()
                << "Not in use:" << DisplayText::address(m_result.requested.ipAddress())
                << "is still in the neighbour table as"
                << DisplayText::mac(report.device->netHostInfo().macAddress())
                << ", a device that now answers at"
                << DisplayText::address(report.device->netHostInfo().ipAddress());
            attempt();
            return;
        }
        held();
    });
}

void ChangeOperation::attempt()
{
    ++m_result.attempts;
    m_accepted = false;
    m_result.answered = false;
    m_result.refusal = Refusal::None;
    const Device* device = m_result.device.get();
    m_request = m_adapter.changeNetSettings(device ? device->serial() : 0,
                                            device ? device->devType() : DeviceType::NoDevice,
                                            m_result.requested);
    emit sent(m_result);
    m_answerTimer.start(m_timing.answerMs);
}

void ChangeOperation::answer(quint64 request, std::shared_ptr<Device>, int16_t errorCode)
{
    if (m_done || request == 0 || request != m_request || !m_answerTimer.isActive())
        return;
    m_answerTimer.stop();
    m_result.answered = true;
    m_accepted = errorCode == 0;
    m_result.refusal = Refusal(errorCode);
    confirm();
}

void ChangeOperation::confirm()
{
    lookUp(m_result.requested.macAddress(),
           [this](const DeviceReport& report) { confirmed(report); });
}

void ChangeOperation::confirmed(const DeviceReport& report)
{
    m_result.conflict = report.conflict;
    m_result.reported.reset();
    if (!report.answered()) {
        finish(ChangeOutcome::NotConfirmed);
        return;
    }
    m_result.reported = report.device->netHostInfo();
    if (report.conflict) {
        finish(ChangeOutcome::NotConfirmed);
        return;
    }
    if (isAsPlanned(m_result.requested, *m_result.reported)) {
        finish(m_result.answered ? ChangeOutcome::Changed : ChangeOutcome::ChangedAnswerLost);
        return;
    }
    if (m_result.answered) {
        finish(m_accepted ? ChangeOutcome::NotConfirmed : ChangeOutcome::Refused);
        return;
    }
    // Neither answer nor change: the request itself was lost (or the answer and the change
    // both). The device does not have the settings, so sending again cannot repeat a change.
    if (m_result.attempts < m_timing.attempts) {
        attempt();
        return;
    }
    const bool asBefore = m_result.device && *m_result.reported == m_result.device->netHostInfo();
    finish(asBefore ? ChangeOutcome::Unchanged : ChangeOutcome::NotConfirmed);
}

void ChangeOperation::finish(ChangeOutcome outcome)
{
    if (m_done)
        return;
    m_done = true;
    m_answerTimer.stop();
    m_result.outcome = outcome;
    emit finished(m_result);
    deleteLater();
}

// ---------------------------------------------------------------------------------------

QString ResetResult::outcomeText() const
{
    const QString where =
        device ? DisplayText::address(device->netHostInfo().ipAddress()) : QString();
    switch (outcome) {
    case ResetOutcome::Acknowledged:
        return QStringLiteral("reset acknowledged");
    case ResetOutcome::WentSilent:
        return QStringLiteral("reset (acknowledgement lost; the device went silent)");
    case ResetOutcome::Back:
        return QStringLiteral("back after %1 s at %2").arg((goneMs + 500) / 1000).arg(where);
    case ResetOutcome::NotBack:
        return QStringLiteral("reset, not back yet");
    case ResetOutcome::KeptAnswering:
        return QStringLiteral("not confirmed: acknowledged, but the device kept answering");
    case ResetOutcome::NoAnswer:
        return QStringLiteral("not confirmed: no acknowledgement to %1 requests, and the device "
                              "kept answering")
            .arg(attempts);
    case ResetOutcome::NotFound:
        return QStringLiteral("not found");
    case ResetOutcome::Conflicting:
        return QStringLiteral("conflicting: ") + (conflict ? conflict->text() : QString());
    }
    return QString();
}

ResetOperation::ResetOperation(DiscoveryClient* adapter, const MacAddress& mac, bool watchReturn,
                               bool force, const Timing& timing, QObject* parent)
    : QObject(parent), m_adapter(*adapter), m_watchReturn(watchReturn), m_force(force),
      m_timing(timing)
{
    m_result.mac = mac;
    m_answerTimer.setSingleShot(true);
    connect(&m_answerTimer, &QTimer::timeout, this, &ResetOperation::unanswered);
    connect(&m_adapter, &DiscoveryClient::resetAnswered, this, [this](quint64 request, MacAddress) {
        if (m_done || request == 0 || request != m_request || !m_answerTimer.isActive())
            return;
        m_answerTimer.stop();
        m_result.acknowledged = true;
        m_since.start();
        emit restarting(m_result);
        if (m_watchReturn)
            watch();
        else
            finish(ResetOutcome::Acknowledged);
    });
}

void ResetOperation::start()
{
    // Only a device that answers now can be seen to go silent and come back.
    lookUpThen(this, &m_adapter, m_result.mac, m_timing, [this](const DeviceReport& report) {
        if (!report.answered()) {
            finish(ResetOutcome::NotFound);
            return;
        }
        m_result.device = report.device;
        m_result.conflict = report.conflict;
        if (report.conflict && !m_force) {
            finish(ResetOutcome::Conflicting);
            return;
        }
        attempt();
    });
}

void ResetOperation::attempt()
{
    ++m_result.attempts;
    m_request = m_adapter.resetDevice(m_result.mac);
    m_since.start();
    emit sent(m_result);
    // An acknowledgement comes at once or not at all, and a device that restarts quickly
    // must still be found silent when it does not come.
    m_answerTimer.start(std::min(m_timing.answerMs, kResetAnswerMs));
}

void ResetOperation::unanswered()
{
    // No acknowledgement: either the request was lost (the device still answers) or the
    // acknowledgement was (the device has gone silent).
    Timing brief = m_timing;
    brief.lookupMs = std::min(m_timing.lookupMs, kSilenceLookMs);
    lookUpThen(this, &m_adapter, m_result.mac, brief, [this](const DeviceReport& report) {
        if (report.answered()) {
            if (m_result.attempts < m_timing.attempts)
                attempt();
            else
                finish(ResetOutcome::NoAnswer);
            return;
        }
        m_sawSilence = true;
        emit restarting(m_result);
        if (m_watchReturn)
            watch();
        else
            finish(ResetOutcome::WentSilent);
    });
}

void ResetOperation::watch()
{
    if (m_since.elapsed() >= m_timing.returnLimitMs) {
        finish(ResetOutcome::NotBack);
        return;
    }
    Timing step = m_timing;
    // Until the device has been seen silent, look briefly and often: a device that
    // restarts within a second or two must still be seen to go.
    step.lookupMs =
        m_sawSilence ? m_timing.returnStepMs : std::min(m_timing.returnStepMs, kSilenceLookMs);
    lookUpThen(this, &m_adapter, m_result.mac, step, [this](const DeviceReport& report) {
        if (!report.answered()) {
            m_sawSilence = true;
            watch();
            return;
        }
        if (!m_sawSilence) {
            // An acknowledgement, and yet the device never stopped answering: the
            // acknowledgement was not its own, or the reset did not happen.
            if (m_since.elapsed() < m_timing.returnStepMs * 2) {
                QTimer::singleShot(kSilenceLookMs / 2, this, &ResetOperation::watch);
                return;
            }
            finish(ResetOutcome::KeptAnswering);
            return;
        }
        m_result.device = report.device;
        m_result.conflict = report.conflict;
        m_result.goneMs = m_since.elapsed();
        finish(ResetOutcome::Back);
    });
}

void ResetOperation::finish(ResetOutcome outcome)
{
    if (m_done)
        return;
    m_done = true;
    m_answerTimer.stop();
    m_result.outcome = outcome;
    emit finished(m_result);
    deleteLater();
}

// ---------------------------------------------------------------------------------------

bool ApplyRow::ok() const
{
    return outcome == RowOutcome::Unchanged || outcome == RowOutcome::Changed ||
           outcome == RowOutcome::ChangedAnswerLost || outcome == RowOutcome::WouldChange;
}

QString ApplyRow::outcomeText() const
{
    switch (outcome) {
    case RowOutcome::Unchanged:
        return QStringLiteral("unchanged");
    case RowOutcome::Changed:
        return QStringLiteral("changed");
    case RowOutcome::ChangedAnswerLost:
        return QStringLiteral("changed (answer lost)");
    case RowOutcome::WouldChange:
        return QStringLiteral("would change");
    case RowOutcome::NotFound:
        return QStringLiteral("not found");
    case RowOutcome::InUse:
        return QStringLiteral("in use");
    case RowOutcome::Refused:
        return QStringLiteral("refused: ") + reason;
    case RowOutcome::RefusedOrder:
        return QStringLiteral("refused (order)");
    case RowOutcome::NotConfirmed:
        return QStringLiteral("not confirmed");
    case RowOutcome::Conflicting:
        return QStringLiteral("conflicting");
    case RowOutcome::NotReached:
        return QStringLiteral("not reached");
    case RowOutcome::PlanRefused:
        return QStringLiteral("not sent (plan refused)");
    case RowOutcome::Cancelled:
        return QStringLiteral("cancelled");
    }
    return QString();
}

ApplyOperation::ApplyOperation(CommissioningService* service, const Plan& plan,
                               const DeviceList& found, const ApplyOptions& options)
    : QObject(service), m_service(*service), m_options(options)
{
    QVector<NetworkSettings> settings;
    for (const auto& device : found.devices()) {
        // A conflicting device's settings are not known: the plan may not rely on them.
        if (found.isConflicting(device->netHostInfo().macAddress()) && !m_options.force)
            continue;
        settings << device->netHostInfo();
        m_devices.insert(macKey(device->netHostInfo().macAddress()), device);
    }
    QVector<PlanRow> changes;
    for (const PlanRow& planned : plan.rows) {
        ApplyRow row;
        row.line = planned.line;
        row.mac = planned.planned.macAddress();
        if (const auto device = found.find(row.mac)) {
            row.serial = device->serial();
            row.type = device->devType();
            row.found = device->netHostInfo();
            row.left = row.found;
        }
        if (found.isConflicting(row.mac) && !m_options.force) {
            row.outcome = RowOutcome::Conflicting;
            row.reason = found.conflict(row.mac)->text();
        } else {
            switch (rowState(planned, settings)) {
            case PlanRowState::NotFound:
                row.outcome = RowOutcome::NotFound;
                break;
            case PlanRowState::AlreadyAsPlanned:
                row.outcome = RowOutcome::Unchanged;
                break;
            case PlanRowState::ToChange:
                // Until the order gives it a place.
                row.outcome = RowOutcome::RefusedOrder;
                changes << planned;
                break;
            }
        }
        m_rowAtLine.insert(row.line, m_rows.size());
        m_rows << row;
    }
    m_planFaults = planFaultsAgainst(plan, settings);
    if (!m_planFaults.isEmpty()) {
        for (ApplyRow& row : m_rows) {
            if (row.outcome == RowOutcome::RefusedOrder)
                row.outcome = RowOutcome::PlanRefused;
        }
        return;
    }
    const ChangeOrder order = orderChanges(changes, settings);
    m_steps = order.steps;
    // Reported from start(), once the caller is listening.
    m_orderFaults = order.faults;
}

void ApplyOperation::start()
{
    for (const PlanFault& fault : m_planFaults)
        emit rowMessage(fault.line, fault.message);
    for (const ApplyRow& row : m_rows) {
        if (row.outcome == RowOutcome::Conflicting)
            emit rowMessage(row.line,
                            DisplayText::mac(row.mac) + QStringLiteral(": ") + row.reason +
                                QStringLiteral(" Nothing was sent; --force sends anyway."));
    }
    for (const PlanFault& fault : m_orderFaults)
        emit rowMessage(fault.line, fault.message);
    next();
}

QVector<int> ApplyOperation::rowsToChange() const
{
    QVector<int> indexes;
    for (const PlanStep& step : m_steps)
        indexes << m_rowAtLine.value(step.row.line);
    return indexes;
}

void ApplyOperation::cancel()
{
    if (!m_cancelled)
        qCDebug(logDiscovery) << "Apply cancelled at change" << m_step + 1 << "of"
                              << m_steps.size();
    m_cancelled = true;
}

void ApplyOperation::next()
{
    ++m_step;
    if (m_cancelled) {
        for (int i = m_step; i < m_steps.size(); ++i) {
            const int index = m_rowAtLine.value(m_steps.at(i).row.line);
            m_rows[index].outcome = RowOutcome::Cancelled;
            emit rowFinished(index);
        }
        m_step = m_steps.size();
    }
    if (m_step >= m_steps.size()) {
        emit finished(m_rows);
        deleteLater();
        return;
    }
    if (m_checkNetwork) {
        // The last device fell silent after its change: if nothing answers at all any more,
        // the rest of the plan cannot be reached and is not tried.
        m_checkNetwork = false;
        auto* any = new QObject(this);
        auto* timer = new QTimer(any);
        timer->setSingleShot(true);
        connect(&m_service.adapter(), &DiscoveryClient::deviceFound, any, [this, any] {
            any->deleteLater();
            --m_step;
            next();
        });
        connect(timer, &QTimer::timeout, any, [this, any] {
            any->deleteLater();
            for (int i = m_step; i < m_steps.size(); ++i) {
                ApplyRow& row = m_rows[m_rowAtLine.value(m_steps.at(i).row.line)];
                row.outcome = RowOutcome::NotReached;
                emit rowMessage(row.line, QStringLiteral("no device answered an enquiry: %1 was "
                                                         "not reached")
                                              .arg(DisplayText::mac(row.mac)));
                emit rowFinished(m_rowAtLine.value(row.line));
            }
            m_step = m_steps.size() - 1;
            next();
        });
        timer->start(m_service.timing().lookupMs);
        m_service.adapter().netEnquire(Device(DeviceType::NoDevice));
        return;
    }

    const PlanStep& step = m_steps.at(m_step);
    const int index = m_rowAtLine.value(step.row.line);
    ApplyRow& row = m_rows[index];
    const auto device = m_devices.value(macKey(row.mac));
    const QString name = text(device->friendlyName());
    const NetworkSettings settings = settingsToSend(*row.found, step.row.planned);
    const QString address = DisplayText::address(settings.ipAddress());
    // A device leaving this address may still be heard there (a late echo, the neighbour
    // table's entry): its own confirmed move is what counts, never a check.
    const auto stays =
        std::find_if(step.leftBy.begin(), step.leftBy.end(),
                     [&](const MacAddress& mac) { return !m_moved.contains(macKey(mac)); });
    if (stays != step.leftBy.end()) {
        row.outcome = RowOutcome::InUse;
        emit rowMessage(row.line, QStringLiteral("%1 is still held by %2, whose own change was "
                                                 "not made. Nothing was sent to %3.")
                                      .arg(address, DisplayText::mac(*stays), name));
        emit rowFinished(index);
        next();
        return;
    }
    if (m_options.dryRun) {
        const auto dry = [this, index](const InUseFinding& use) {
            ApplyRow& row = m_rows[index];
            if (use.inUse()) {
                row.outcome = RowOutcome::InUse;
                emit rowMessage(row.line, QStringLiteral("%1 is already in use: %2.")
                                              .arg(DisplayText::address(
                                                       m_steps.at(m_step).row.planned.ipAddress()),
                                                   inUseText(use)));
            } else {
                row.outcome = RowOutcome::WouldChange;
                row.left = settingsToSend(*row.found, m_steps.at(m_step).row.planned);
                m_moved.insert(macKey(row.mac));
            }
            emit rowFinished(index);
            next();
        };
        if (step.leftBy.isEmpty() && !m_options.force && needsDuplicateCheck(*row.found, settings))
            checkAddress(this, settings.ipAddress(), dry);
        else
            dry(InUseFinding());
        return;
    }

    ChangeOptions options;
    // An address a device of the plan has just left is known free; elsewhere the check runs.
    options.checkInUse = step.leftBy.isEmpty() && !m_options.force;
    options.lookUpFirst = false;
    ChangeOperation* change = m_service.change(device, settings, options);
    connect(change, &ChangeOperation::finished, this, &ApplyOperation::changed);
    change->start();
}

void ApplyOperation::changed(const ChangeResult& result)
{
    const int index = m_rowAtLine.value(m_steps.at(m_step).row.line);
    ApplyRow& row = m_rows[index];
    const QString name = text(result.device->friendlyName());
    if (result.reported)
        row.left = result.reported;
    switch (result.outcome) {
    case ChangeOutcome::Changed:
    case ChangeOutcome::ChangedAnswerLost:
        row.outcome = result.outcome == ChangeOutcome::Changed ? RowOutcome::Changed
                                                               : RowOutcome::ChangedAnswerLost;
        m_moved.insert(macKey(row.mac));
        break;
    case ChangeOutcome::InUse:
        row.outcome = RowOutcome::InUse;
        emit rowMessage(row.line, QStringLiteral("%1 is already in use: %2. Nothing was sent to "
                                                 "%3; --force sends it anyway.")
                                      .arg(DisplayText::address(result.requested.ipAddress()),
                                           inUseText(result.inUse), name));
        break;
    case ChangeOutcome::Refused:
        row.outcome = RowOutcome::Refused;
        row.reason = refusalText(result.refusal);
        emit rowMessage(row.line, name + QStringLiteral(": ") + row.outcomeText());
        break;
    default:
        row.outcome = RowOutcome::NotConfirmed;
        if (!result.reported) {
            row.left.reset();
            m_checkNetwork = true;
        }
        emit rowMessage(row.line, name + QStringLiteral(": ") + result.outcomeText());
        break;
    }
    emit rowFinished(index);
    next();
}

// ---------------------------------------------------------------------------------------

CommissioningService::CommissioningService(DiscoveryClient* adapter, QObject* parent)
    : QObject(parent), m_adapter(*adapter)
{
    qRegisterMetaType<corla::DeviceReport>();
    qRegisterMetaType<corla::ChangeResult>();
    qRegisterMetaType<corla::ResetResult>();
    qRegisterMetaType<QVector<corla::ApplyRow>>();
}

void CommissioningService::setChangeLog(const ChangeLog* log, const QString& program)
{
    m_log = log;
    m_program = program;
}

void CommissioningService::record(const std::shared_ptr<Device>& device, const MacAddress& mac,
                                  const std::optional<NetworkSettings>& requested,
                                  const QString& outcome)
{
    if (!m_log)
        return;
    ChangeLogEntry entry;
    entry.time = QDateTime::currentDateTime();
    entry.mac = mac;
    if (device) {
        entry.serial = device->serial();
        entry.type = device->devType();
        entry.found = device->netHostInfo();
    }
    entry.requested = requested;
    entry.outcome = outcome;
    entry.program = m_program;
    QString why;
    // The log is a record beside the work, never a reason to stop it.
    if (!m_log->append(entry, &why))
        emit logFailed(m_log->path(), why);
}

ChangeOperation* CommissioningService::change(std::shared_ptr<Device> device,
                                              const NetworkSettings& settings,
                                              const ChangeOptions& options)
{
    auto* operation = new ChangeOperation(&m_adapter, device, settings, options, m_timing, this);
    connect(operation, &ChangeOperation::sent, this, [this](const ChangeResult& progress) {
        record(progress.device, progress.requested.macAddress(), progress.requested,
               QStringLiteral("sent"));
    });
    connect(operation, &ChangeOperation::finished, this, [this](const ChangeResult& result) {
        if (result.attempts > 0)
            record(result.device, result.requested.macAddress(), result.requested,
                   result.outcomeText());
    });
    return operation;
}

ResetOperation* CommissioningService::reset(const MacAddress& mac, bool watchReturn, bool force)
{
    auto* operation = new ResetOperation(&m_adapter, mac, watchReturn, force, m_timing, this);
    connect(operation, &ResetOperation::sent, this, [this](const ResetResult& progress) {
        record(progress.device, progress.mac, std::nullopt, QStringLiteral("reset sent"));
    });
    connect(operation, &ResetOperation::finished, this, [this](const ResetResult& result) {
        if (result.attempts > 0)
            record(result.device, result.mac, std::nullopt, result.outcomeText());
    });
    return operation;
}

ApplyOperation* CommissioningService::apply(const Plan& plan, const DeviceList& found,
                                            const ApplyOptions& options)
{
    // Each change of the plan goes through change(), so it is logged like any other.
    return new ApplyOperation(this, plan, found, options);
}

DeviceLookup* CommissioningService::lookUp(const MacAddress& mac)
{
    auto* lookup = new DeviceLookup(&m_adapter, mac, m_timing, this);
    connect(lookup, &DeviceLookup::finished, lookup, &QObject::deleteLater);
    return lookup;
}

} // namespace corla
