// SPDX-License-Identifier: Apache-2.0
// SPDX-FileCopyrightText: 2026 The Corla developers
#pragma once
// Changes and resets whose outcome is what the device reports afterwards. A request or its
// answer may be lost, an answer may come twice, and any host on the LAN can answer in a
// device's name, so no single datagram decides anything here:
// - after every change an enquiry naming the device asks what it has now, and that is the
//   outcome; a request that was lost is sent again (at most three times), but only after
//   that enquiry shows the device still without the new settings;
// - a reset counts once it is acknowledged or the device has gone silent, and its return
//   is watched with enquiries;
// - two senders answering differently for one MAC address make the device conflicting,
//   and nothing is sent to it unless the caller insists.
// The window and corla-cli both go through here; every request and its outcome is
// appended to the change log when one is set. Asynchronous throughout: each operation is
// an object that reports once through `finished` and then deletes itself.

#include "core/fleet/changelog.h"
#include "core/fleet/devicelist.h"
#include "core/fleet/plan.h"
#include "core/net/addressinuse.h"
#include "core/net/device.h"
#include "core/wire/refusal.h"

#include <QElapsedTimer>
#include <QHash>
#include <QObject>
#include <QPointer>
#include <QSet>
#include <QString>
#include <QTimer>
#include <QVector>

#include <functional>
#include <memory>
#include <optional>

namespace corla {

class DiscoveryClient;

class CommissioningService;

// How long the steps of an operation wait. The defaults suit a LAN; corla-cli's --wait
// sets answerMs and lookupMs.
struct Timing
{
    int answerMs = 3000;       // for the answer to a change or reset request
    int lookupMs = 3000;       // for a device to answer an enquiry naming it
    int graceMs = 400;         // after its first answer, for a second sender to disagree
    int returnStepMs = 2000;   // between the enquiries that watch for a reset device
    int returnLimitMs = 60000; // how long a reset device is watched for
    int attempts = 3;          // change or reset requests sent at most
};

// What one enquiry naming a device found.
struct DeviceReport
{
    std::shared_ptr<Device> device; // the first answer; empty when none came
    std::optional<Conflict> conflict;

    bool answered() const { return device != nullptr; }
};

// One enquiry naming `mac`: done at the first answer plus the grace time (so that a
// second, disagreeing sender is heard), or at the lookup time without an answer.
class DeviceLookup : public QObject
{
    Q_OBJECT
public:
    DeviceLookup(DiscoveryClient* adapter, const MacAddress& mac, const Timing& timing,
                 QObject* parent = nullptr);
    void start();

signals:
    void finished(const corla::DeviceReport& report);

private:
    void finish();

    DiscoveryClient& m_adapter;
    MacAddress m_mac;
    Timing m_timing;
    DeviceList m_heard;
    quint64 m_request = 0;
    QTimer m_timer;
    bool m_done = false;
};

enum class ChangeOutcome
{
    Changed,           // accepted, and the device then reports the new settings
    ChangedAnswerLost, // no answer came, but the device then reports the new settings
    Refused,           // the device refused and still reports other settings
    Unchanged,         // no answer to any attempt, and the device still reports its old settings
    NotConfirmed,      // the device reports other settings than an answer claimed, or fell silent
    NotFound,          // the device did not answer an enquiry before the change: nothing sent
    InUse,             // a host answers at the new static address: nothing sent
    Conflicting,       // two senders answer differently for the device: nothing sent
};

struct ChangeResult
{
    ChangeOutcome outcome = ChangeOutcome::NotFound;
    std::shared_ptr<Device> device; // as found before the change
    NetworkSettings requested;
    std::optional<NetworkSettings> reported; // what the device reported afterwards
    // The answer heard to the last request sent, if any.
    bool answered = false;
    Refusal refusal = Refusal::None;
    int attempts = 0;
    InUseFinding inUse; // with InUse: who answers at the address
    std::optional<Conflict> conflict;

    bool ok() const
    {
        return outcome == ChangeOutcome::Changed || outcome == ChangeOutcome::ChangedAnswerLost;
    }
    // "changed", "changed (answer lost)", "refused: The subnet was invalid.", ...
    QString outcomeText() const;
};

struct ChangeOptions
{
    // The in-use check before a new static address (an echo, then the neighbour table).
    // The window's dialog has made its own by then.
    bool checkInUse = true;
    // Sends even to a conflicting device, and to an address found in use.
    bool force = false;
    // Looks the device up before the change; without, `device` is taken as it is.
    bool lookUpFirst = true;
};

// One change of a device's network settings, as described at the top.
class ChangeOperation : public QObject
{
    Q_OBJECT
public:
    // `settings` is what is sent (its MAC names the device); `device` the device as the
    // caller knows it.
    ChangeOperation(DiscoveryClient* adapter, std::shared_ptr<Device> device,
                    const NetworkSettings& settings, const ChangeOptions& options,
                    const Timing& timing, QObject* parent = nullptr);
    void start();
    // When set, the settings to send are made from the device as looked up (corla-cli set
    // keeps the reported gateway and DNS server). Returning none ends the change as
    // Conflicting: what it would keep is in dispute between two senders.
    using SettingsMaker = std::function<std::optional<NetworkSettings>(const DeviceReport&)>;
    void setSettingsFrom(SettingsMaker make) { m_makeSettings = std::move(make); }

signals:
    // Once the request is on its way (each attempt).
    void sent(const corla::ChangeResult& progress);
    void finished(const corla::ChangeResult& result);

private:
    void lookedUp(const DeviceReport& report);
    void checkInUse();
    void inUseChecked(const InUseFinding& use);
    void attempt();
    void answer(quint64 request, std::shared_ptr<Device> answer, int16_t errorCode);
    void confirm();
    void confirmed(const DeviceReport& report);
    void finish(ChangeOutcome outcome);
    void lookUp(const MacAddress& mac, std::function<void(const DeviceReport&)> then);

    DiscoveryClient& m_adapter;
    ChangeOptions m_options;
    Timing m_timing;
    ChangeResult m_result;
    SettingsMaker m_makeSettings;
    quint64 m_request = 0;
    QTimer m_answerTimer;
    bool m_accepted = false;
    bool m_done = false;
};

enum class ResetOutcome
{
    Acknowledged,  // acknowledged (its return not watched)
    WentSilent,    // no acknowledgement, but the device went silent (its return not watched)
    Back,          // acknowledged or silent, then answering again
    NotBack,       // acknowledged or silent, and not answering within the watch
    KeptAnswering, // acknowledged, but the device answered throughout: no restart seen
    NoAnswer,      // no acknowledgement to any attempt, and the device kept answering
    NotFound,      // the device did not answer an enquiry before the reset: nothing sent
    Conflicting,   // two senders answer differently for the device: nothing sent
};

struct ResetResult
{
    ResetOutcome outcome = ResetOutcome::NotFound;
    MacAddress mac;
    std::shared_ptr<Device> device; // as found before; after Back, as it came back
    bool acknowledged = false;
    int attempts = 0;
    qint64 goneMs = 0; // Back: from the reset to its first answer again
    std::optional<Conflict> conflict;

    bool ok() const
    {
        return outcome == ResetOutcome::Acknowledged || outcome == ResetOutcome::WentSilent ||
               outcome == ResetOutcome::Back;
    }
    QString outcomeText() const;
};

class ResetOperation : public QObject
{
    Q_OBJECT
public:
    ResetOperation(DiscoveryClient* adapter, const MacAddress& mac, bool watchReturn, bool force,
                   const Timing& timing, QObject* parent = nullptr);
    void start();

signals:
    void sent(const corla::ResetResult& progress);
    // Acknowledged, or gone silent: the device is restarting (its return is still watched).
    void restarting(const corla::ResetResult& progress);
    void finished(const corla::ResetResult& result);

private:
    void attempt();
    void unanswered();
    void watch();
    void finish(ResetOutcome outcome);

    DiscoveryClient& m_adapter;
    bool m_watchReturn;
    bool m_force;
    Timing m_timing;
    ResetResult m_result;
    quint64 m_request = 0;
    QTimer m_answerTimer;
    QElapsedTimer m_since;
    bool m_sawSilence = false;
    bool m_done = false;
};

// How one row of a plan ended.
enum class RowOutcome
{
    Unchanged,         // already as planned: nothing sent
    Changed,           // accepted, and an enquiry afterwards reports every planned field
    ChangedAnswerLost, // no answer, but an enquiry afterwards reports every planned field
    WouldChange,       // dry run: the change would be sent
    NotFound,          // no device with the row's MAC address answered
    InUse,             // a host answers at the planned address, or a device of the plan stays there
    Refused,           // the device refused, for `reason`
    RefusedOrder,      // a swap or circle of moves, or waiting for one: nothing sent
    NotConfirmed,      // no answer, or the device reports other settings afterwards
    Conflicting,       // two senders answer differently for the MAC: nothing sent
    NotReached,        // nothing answered on the network any more: nothing sent
    PlanRefused,       // the plan has faults against the devices found: nothing sent
    Cancelled,         // the apply was cancelled before the row's turn: nothing sent
};

struct ApplyRow
{
    int line = 0; // the row's line in the plan
    MacAddress mac;
    // The device as discovery found it; no settings when it did not answer.
    uint16_t serial = 0;
    DeviceType type = DeviceType::NoDevice;
    std::optional<NetworkSettings> found;
    // The settings it was left with (dry run: would be left with); none when unknown.
    std::optional<NetworkSettings> left;
    RowOutcome outcome = RowOutcome::NotFound;
    QString reason;

    // True for the outcomes a successful apply ends with.
    bool ok() const;
    // "changed", "refused: The subnet was invalid.", ...
    QString outcomeText() const;
};

struct ApplyOptions
{
    bool force = false;
    bool dryRun = false;
};

// A whole plan against the devices of one discovery (`found`, one round): rows classified,
// changes ordered, then made one at a time through ChangeOperation.
class ApplyOperation : public QObject
{
    Q_OBJECT
public:
    ApplyOperation(CommissioningService* service, const Plan& plan, const DeviceList& found,
                   const ApplyOptions& options);
    void start();
    const QVector<ApplyRow>& rows() const { return m_rows; }
    // Rows that ask for a change no device can be given, judged against the devices found
    // (planFaultsAgainst). With any, start() sends nothing: every row that is not already
    // unchanged, not found or conflicting ends PlanRefused.
    const QVector<PlanFault>& planFaults() const { return m_planFaults; }
    // Changes that cannot be placed in an order (a swap, a circle of moves): their rows
    // end RefusedOrder, and start() reports them through rowMessage.
    const QVector<PlanFault>& orderFaults() const { return m_orderFaults; }
    // The rows start() will change, as indexes into rows(), in the order they are made.
    QVector<int> rowsToChange() const;
    // No further row is started: the change under way ends as it would have, every row
    // after it ends Cancelled, and `finished` follows as usual.
    void cancel();
    bool isCancelled() const { return m_cancelled; }

signals:
    // Why a row ended as it did, for the user (line, message), as it happens.
    void rowMessage(int line, const QString& message);
    void rowFinished(int index);
    void finished(const QVector<corla::ApplyRow>& rows);

private:
    void next();
    void stepChecked(const InUseFinding& use);
    void send();
    void changed(const ChangeResult& result);

    CommissioningService& m_service;
    ApplyOptions m_options;
    QVector<ApplyRow> m_rows;
    QVector<PlanFault> m_orderFaults;
    QVector<PlanFault> m_planFaults;
    QHash<int, int> m_rowAtLine;
    QVector<PlanStep> m_steps;
    QHash<quint64, std::shared_ptr<Device>> m_devices;
    QSet<quint64> m_moved; // devices whose change was confirmed (dry run: would be sent)
    int m_step = -1;
    bool m_checkNetwork = false; // the last confirmation went unanswered
    bool m_cancelled = false;
};

// Makes the operations above on one adapter, and writes their requests and outcomes to
// the change log.
class CommissioningService : public QObject
{
    Q_OBJECT
public:
    explicit CommissioningService(DiscoveryClient* adapter, QObject* parent = nullptr);

    // Every request and outcome is appended there, naming `program`; none records nothing.
    // The log must outlive the service. A failure to append is reported by logFailed.
    void setChangeLog(const ChangeLog* log, const QString& program);
    Timing& timing() { return m_timing; }
    DiscoveryClient& adapter() { return m_adapter; }

    // The operations start at once; each deletes itself after `finished`.
    ChangeOperation* change(std::shared_ptr<Device> device, const NetworkSettings& settings,
                            const ChangeOptions& options);
    ResetOperation* reset(const MacAddress& mac, bool watchReturn, bool force);
    ApplyOperation* apply(const Plan& plan, const DeviceList& found, const ApplyOptions& options);
    DeviceLookup* lookUp(const MacAddress& mac);

signals:
    void logFailed(const QString& path, const QString& why);

private:
    void record(const std::shared_ptr<Device>& device, const MacAddress& mac,
                const std::optional<NetworkSettings>& requested, const QString& outcome);

    DiscoveryClient& m_adapter;
    Timing m_timing;
    const ChangeLog* m_log = nullptr;
    QString m_program;
};

// "static 10.10.0.50 mask 255.255.255.0 gateway 10.10.0.254 DNS 0.0.0.0", "DHCP 10.10.0.100 ..."
QString settingsText(const NetworkSettings& settings);
// "a host answered an echo request", "a host answers ARP there as 02:..."
QString inUseText(const InUseFinding& use);

} // namespace corla

Q_DECLARE_METATYPE(corla::DeviceReport)
Q_DECLARE_METATYPE(corla::ChangeResult)
Q_DECLARE_METATYPE(corla::ResetResult)
Q_DECLARE_METATYPE(corla::ApplyRow)
