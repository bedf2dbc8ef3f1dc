#include "clirunner.h"

#include "cliformat.h"
#include "corladevicelist.h"
#include "corlasettings.h"
#include "tevipcheck.h"
#include "tevpinghelper.h"
#include "zelconnectionchecker.h"

#include "addressinuse.h"

#include <QEventLoop>
#include <QSet>
#include <QTimer>
#include <QUdpSocket>

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

int CliRunner::discover(const CliRequest& request)
{
    CorlaDeviceList list;
    {
        QObject context;
        QObject::connect(&m_adapter, &ZelCorlaAdapter::deviceFound, &context,
                         [&list](std::shared_ptr<TevDevice> device) { list.merge(device); });
        m_adapter.netEnquire(ZelDevice());
        EventWait(request.waitMs).exec();
    }
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

    const TevNetHostInfo settings = settingsToSend(device->netHostInfo(), request.settings);
    const TevIpAddr& address = settings.ipAddress();
    const TevAddressUse use = needsDuplicateCheck(device->netHostInfo(), settings)
                                  ? TevPingHelper::addressInUse(address, IpChecker::kPingTimeoutMs)
                                  : TevAddressUse();
    if (use.inUse()) {
        const QString how =
            use.by == CorlaInUseBy::LinkLayer
                ? QStringLiteral("a host answers ARP there as %1").arg(CorlaText::mac(use.mac))
                : QStringLiteral("a host answered an echo request");
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

    std::shared_ptr<ZelDevice> confirmed;
    QString refusal;
    {
        // Only this device's refusal counts; its text starts with the device's name.
        const QString refusalPrefix = ZelCorlaAdapter::rejectionText(*device, 0);
        EventWait wait(request.waitMs);
        QObject context;
        QObject::connect(&m_adapter, &ZelCorlaAdapter::deviceChanged, &context,
                         [&](std::shared_ptr<ZelDevice> answer) {
                             if (answer->netHostInfo().macAddress() != request.mac)
                                 return;
                             confirmed = answer;
                             wait.finish();
                         });
        QObject::connect(&m_adapter, &ZelCorlaAdapter::error, &context, [&](QString message) {
            if (!refusal.isEmpty() || !message.startsWith(refusalPrefix))
                return;
            refusal = message;
            wait.shorten(kRefusalGraceMs);
        });
        m_adapter.changeNetSettings(device->serial(), device->devType(), settings);
        wait.exec();
    }
    if (confirmed) {
        m_out << QStringLiteral("%1 (%2) accepted: %3")
                     .arg(name, CorlaText::mac(request.mac), settingsText(confirmed->netHostInfo()))
              << Qt::endl;
        return CliExit::Ok;
    }
    // The device's own words, as the window shows them.
    if (!refusal.isEmpty()) {
        m_err << refusal << Qt::endl;
        return CliExit::Refused;
    }
    return fail(CliExit::NoAnswer, QStringLiteral("%1 (%2) did not answer the change within %3 ms")
                                       .arg(name, CorlaText::mac(request.mac))
                                       .arg(request.waitMs));
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
