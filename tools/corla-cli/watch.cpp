// SPDX-License-Identifier: Apache-2.0
// SPDX-FileCopyrightText: 2026 The Corla developers
#include "tools/corla-cli/watch.h"

#include "core/discovery/discoveryclient.h"
#include "core/fleet/commissioning.h"
#include "tools/corla-cli/session.h"

#include <QCommandLineParser>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLoggingCategory>
#include <QSocketNotifier>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <sys/socket.h>
#include <unistd.h>

namespace corla {

Q_LOGGING_CATEGORY(lcWatch, "corla.cli.watch")

namespace {

const char* const Description =
    R"(Broadcasts a network enquiry every --interval seconds and prints one line per
event as it happens:
  appeared      a device answered for the first time (its settings)
  changed       its settings changed (old -> new)
  verdict       TCP port 21's verdict changed, with its reason (each device is
                probed when it appears and when its address changes)
  conflicting   two senders answered differently for its MAC address
  no answer     it missed two enquiries in a row
  back          it answers again (how long it was silent)
Formats: table (a line of text per event, the time first) or jsonl (one JSON
object per line, for machines: "event", "time" in UTC, "mac", "serial", "type",
"ip" and what the event adds). Ctrl-C (SIGINT) or SIGTERM ends it: a summary
line goes to stderr (devices answering now, devices seen in all).)";

// A signal handler may only write: the signal number goes down a socket pair and the event
// loop reads it from the other end.
int g_signalPipe[2] = {-1, -1};

void onSignal(int number)
{
    const char byte = char(number);
    const auto written = ::write(g_signalPipe[1], &byte, 1);
    (void)written; // nothing a handler could do about a full pipe; one byte is enough
}

// A device's settings as a JSON object, field names as in discover's JSON.
QJsonObject settingsObject(const NetworkSettings& net)
{
    return QJsonObject{
        {"addressMode", DisplayText::addressMode(net.addressMode())},
        {"ipAddress", DisplayText::address(net.ipAddress())},
        {"subnetMask", DisplayText::address(net.subnetMask())},
        {"gateway", DisplayText::address(net.gateway())},
        {"dnsServer", DisplayText::address(net.dns())},
    };
}

// One value as compact JSON text.
QString jsonText(const QJsonValue& value)
{
    const QByteArray array = QJsonDocument(QJsonArray{value}).toJson(QJsonDocument::Compact);
    return QString::fromUtf8(array.mid(1, array.size() - 2));
}

QString mac(const Device& device)
{
    return DisplayText::mac(device.netHostInfo().macAddress());
}

QString clock(const QDateTime& time)
{
    return time.toLocalTime().toString(QStringLiteral("HH:mm:ss"));
}

} // namespace

WatchCommand::WatchCommand()
    : Command(
          {"watch", "watch", "enquire every few seconds and print each change as it happens",
           "watch", "Print each change of the devices that answer, as it happens.", Description},
          {QCommandLineOption("interval",
                              "Seconds from one enquiry to the next (default 5, at least 1).", "s"),
           // watch prints events, not a device list: its --format has words of its own.
           QCommandLineOption("format", "Output format: table (default) or jsonl.", "format")},
          {{CliExit::Usage, "usage error: bad arguments or an unknown interface name"},
           {CliExit::NoNetwork, "no usable local IPv4 address on the (named) interfaces"},
           {CliExit::Interrupted, "ended by SIGINT (Ctrl-C)"},
           {CliExit::Terminated, "ended by SIGTERM"}})
{}

QString WatchCommand::parse(const QCommandLineParser& parser, const QStringList& positional,
                            CliRequest* r) const
{
    QString why = CliCheck::noArgument(positional);
    if (why.isEmpty() && parser.isSet("format")) {
        const QString format = parser.value("format");
        if (format == QLatin1String("table"))
            r->format = CliFormat::Table;
        else if (format == QLatin1String("jsonl"))
            r->format = CliFormat::Jsonl;
        else
            why =
                QStringLiteral("--format of watch must be table or jsonl, not \"%1\"").arg(format);
    }
    if (why.isEmpty() && parser.isSet("interval")) {
        bool ok = false;
        const QString text = parser.value("interval");
        r->intervalS = text.toInt(&ok);
        if (!ok || r->intervalS < 1 || r->intervalS > CliRequest::kMaxMs / 1000)
            why = QStringLiteral("--interval must be a whole number of seconds from 1 to %1, "
                                 "not \"%2\"")
                      .arg(CliRequest::kMaxMs / 1000)
                      .arg(text);
    }
    return why;
}

int WatchCommand::run(CliSession& session, const CliRequest& request) const
{
    session.useInterfaces(request);
    if (const int status = session.requireLocalAddress(request))
        return status;
    return CliWatch(&session.adapter(), &session.out(), &session.err()).run(request);
}

CliWatch::CliWatch(DiscoveryClient* adapter, QTextStream* out, QTextStream* err)
    : m_adapter(*adapter), m_out(*out), m_err(*err)
{
    connect(&m_adapter, &DiscoveryClient::enquiryAnswered, this, &CliWatch::answered);
    connect(&m_list, &DeviceList::appended, this, &CliWatch::appeared);
    connect(&m_list, &DeviceList::settingsChanged, this, &CliWatch::settingsChanged);
    connect(&m_checker, &PortProbeScheduler::probeReason, this,
            [this](const Device& device, DevicePort, Reachability status, ProbeReason reason) {
                verdict(device, status, reason);
            });
    connect(&m_rounds, &QTimer::timeout, this, &CliWatch::nextRound);
}

CliWatch::~CliWatch()
{
    std::signal(SIGINT, SIG_DFL);
    std::signal(SIGTERM, SIG_DFL);
    for (int& fd : g_signalPipe) {
        if (fd >= 0)
            ::close(fd);
        fd = -1;
    }
}

int CliWatch::run(const CliRequest& request)
{
    m_format = request.format;
    if (::socketpair(AF_UNIX, SOCK_STREAM, 0, g_signalPipe) != 0) {
        m_err << QStringLiteral("corla-cli: cannot watch for signals: %1")
                     .arg(QString::fromLocal8Bit(std::strerror(errno)))
              << Qt::endl;
        return CliExit::NoNetwork;
    }
    QSocketNotifier notifier(g_signalPipe[0], QSocketNotifier::Read);
    connect(&notifier, &QSocketNotifier::activated, this, &CliWatch::signalled);
    struct sigaction action = {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);

    // An enquiry's sockets close once quiet, so that rounds do not pile them up; the next
    // round asks again anyway.
    const int intervalMs = request.intervalS * 1000;
    m_adapter.setTimeoutPeriod(qMax(3000, intervalMs));
    m_rounds.setTimerType(Qt::PreciseTimer);
    m_rounds.setInterval(intervalMs);
    m_rounds.start();
    nextRound();
    m_loop.exec();
    m_rounds.stop();

    int answering = 0;
    for (const Seen& seen : qAsConst(m_seen))
        answering += seen.gone ? 0 : 1;
    m_out.flush();
    m_err << QStringLiteral("corla-cli: watch ended: %1 answering now, %2 seen in all")
                 .arg(answering == 1 ? QStringLiteral("1 device")
                                     : QStringLiteral("%1 devices").arg(answering))
                 .arg(m_seen.size())
          << Qt::endl;
    return m_exitCode;
}

void CliWatch::signalled()
{
    char byte = 0;
    if (::read(g_signalPipe[0], &byte, 1) != 1)
        return;
    m_exitCode = byte == SIGTERM ? CliExit::Terminated : CliExit::Interrupted;
    m_loop.quit();
}

void CliWatch::nextRound()
{
    if (m_request != 0)
        endRound();
    m_list.beginRound();
    m_request = m_adapter.netEnquire(Device());
    qCDebug(lcWatch) << "round" << m_request;
}

void CliWatch::endRound()
{
    for (const auto& device : m_list.devices()) {
        const MacAddress& macAddr = device->netHostInfo().macAddress();
        Seen& seen = m_seen[mac(*device)];
        if (!m_list.isConflicting(macAddr))
            seen.conflict.clear();
        else
            reportConflict(*device);
        if (m_list.heardThisRound(macAddr)) {
            seen.missed = 0;
            continue;
        }
        if (++seen.missed < 2 || seen.gone)
            continue;
        seen.gone = true;
        print(QStringLiteral("no answer"), *device,
              QStringLiteral("no answer to %1 enquiries since %2")
                  .arg(seen.missed)
                  .arg(clock(seen.lastHeard)),
              {{"lastHeard", seen.lastHeard.toUTC().toString(Qt::ISODateWithMs)}});
    }
}

void CliWatch::answered(quint64 request, const std::shared_ptr<Device>& answer)
{
    // Late answers to an earlier round's copies would count for the wrong round.
    if (request != m_request || !answer)
        return;
    const QDateTime now = QDateTime::currentDateTimeUtc();
    const auto it = m_seen.find(mac(*answer));
    if (it != m_seen.end()) {
        if (it->gone) {
            it->gone = false;
            const qint64 goneMs = it->lastHeard.msecsTo(now);
            print(QStringLiteral("back"), *answer,
                  QStringLiteral("back after %1 s at %2")
                      .arg(goneMs / 1000)
                      .arg(DisplayText::address(answer->netHostInfo().ipAddress())),
                  {{"goneMs", double(goneMs)}});
        }
        it->missed = 0;
        it->lastHeard = now;
    }
    m_list.merge(answer);
    // A new device has its entry now (unless the list is full).
    if (m_list.contains(answer->netHostInfo().macAddress()))
        m_seen[mac(*answer)].lastHeard = now;
}

void CliWatch::appeared(int row)
{
    const Device& device = *m_list.devices().at(row);
    Seen& seen = m_seen[mac(device)];
    seen.settings = device.netHostInfo();
    seen.lastHeard = QDateTime::currentDateTimeUtc();
    const NetworkSettings& net = device.netHostInfo();
    print(QStringLiteral("appeared"), device, corla::settingsText(net),
          {{"addressMode", DisplayText::addressMode(net.addressMode())},
           {"subnetMask", DisplayText::address(net.subnetMask())},
           {"gateway", DisplayText::address(net.gateway())},
           {"dnsServer", DisplayText::address(net.dns())}});
    probe(device);
}

void CliWatch::settingsChanged(int row)
{
    const Device& device = *m_list.devices().at(row);
    Seen& seen = m_seen[mac(device)];
    const NetworkSettings before = seen.settings;
    const NetworkSettings& now = device.netHostInfo();
    if (before == now)
        return;
    seen.settings = now;
    print(QStringLiteral("changed"), device,
          QStringLiteral("%1 -> %2").arg(corla::settingsText(before), corla::settingsText(now)),
          {{"old", settingsObject(before)}, {"new", settingsObject(now)}});
    if (before.ipAddress() != now.ipAddress())
        probe(device);
}

// Said when the round ends: a device that changes its settings during a round may answer
// one local address before the change and another after it, which reads as two senders
// disagreeing until its next answer.
void CliWatch::reportConflict(const Device& device)
{
    const auto conflict = m_list.conflict(device.netHostInfo().macAddress());
    if (!conflict)
        return;
    Seen& seen = m_seen[mac(device)];
    // A duplicate answers every round: said once while it lasts, again when it differs.
    const QString text = conflict->text();
    if (seen.conflict == text)
        return;
    seen.conflict = text;
    print(QStringLiteral("conflicting"), device, text,
          {{"reason", text}, {"differences", QJsonArray::fromStringList(conflict->differences)}});
}

void CliWatch::probe(const Device& device)
{
    m_checker.checkPort(device, DevicePort::Ftp);
}

void CliWatch::verdict(const Device& device, Reachability status, ProbeReason reason)
{
    const auto listed = m_list.find(device.netHostInfo().macAddress());
    // The device has moved since: the probe of its new address reports for it.
    if (!listed || listed->netHostInfo().ipAddress() != device.netHostInfo().ipAddress())
        return;
    m_list.setStatus(device.netHostInfo().macAddress(), status);
    Seen& seen = m_seen[mac(device)];
    if (seen.probed && seen.verdict == status)
        return;
    const QJsonValue previous =
        seen.probed ? QJsonValue(DisplayText::status(seen.verdict)) : QJsonValue(QJsonValue::Null);
    seen.probed = true;
    seen.verdict = status;
    const QString why = probeExplanation(m_checker, device, reason);
    print(QStringLiteral("verdict"), *listed,
          QStringLiteral("%1 (%2)").arg(DisplayText::status(status), why),
          {{"status", DisplayText::status(status)}, {"reason", why}, {"previous", previous}});
}

void CliWatch::print(const QString& event, const Device& device, const QString& text,
                     const Fields& fields)
{
    const QDateTime now = QDateTime::currentDateTimeUtc();
    const QString name = QString::fromStdString(device.friendlyName());
    if (m_format != CliFormat::Jsonl) {
        m_out << QStringLiteral("%1  %2 %3 (%4): %5")
                     .arg(clock(now), event.leftJustified(11), name, mac(device), text)
              << Qt::endl;
        return;
    }
    Fields all = {
        {"event", event},
        {"time", now.toString(Qt::ISODateWithMs)},
        {"mac", mac(device)},
        {"serial", int(device.serial())},
        {"type", DisplayText::deviceType(device.devType())},
        {"ip", DisplayText::address(device.netHostInfo().ipAddress())},
    };
    all += fields;
    // Written by hand: QJsonObject would sort the members, and "event" belongs first.
    QStringList members;
    for (const auto& field : qAsConst(all))
        members << jsonText(field.first) + QLatin1Char(':') + jsonText(field.second);
    m_out << QLatin1Char('{') << members.join(QLatin1Char(',')) << QLatin1Char('}') << Qt::endl;
}

} // namespace corla
