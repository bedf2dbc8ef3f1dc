#include "clirunner.h"

#include "cliformat.h"
#include "corladevicelist.h"
#include "corlasettings.h"
#include "tevipcheck.h"
#include "tevpinghelper.h"
#include "zelconnectionchecker.h"

#include <QEventLoop>
#include <QSet>
#include <QTimer>
#include <QUdpSocket>

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
    if (request.probe)
        probe(&list);

    m_out << formatDevices(list, request.format, request.probe);
    m_out.flush();
    if (list.size() == 0) {
        return fail(CliExit::NoAnswer,
                    QStringLiteral("no device answered within %1 ms").arg(request.waitMs));
    }
    return CliExit::Ok;
}

void CliRunner::probe(CorlaDeviceList* list)
{
    // The first verdict of each check counts: a refusal reports at once and again at the
    // limit, and a late connection after the limit is not waited for.
    ZelConnectionChecker checker;
    QSet<QString> pending;
    for (const auto& device : list->devices())
        pending.insert(CorlaText::mac(device->netHostInfo().macAddress()));
    EventWait wait(checker.connectionTimeout() + 1000);
    QObject::connect(&checker, &ZelConnectionChecker::netHostStatus, &checker,
                     [&](const TevDevice& device, ZelPort, ZelNetworkStatus status) {
                         if (!pending.remove(CorlaText::mac(device.netHostInfo().macAddress())))
                             return;
                         list->setStatus(device.netHostInfo().macAddress(), status);
                         if (pending.isEmpty())
                             wait.finish();
                     });
    for (const auto& device : list->devices())
        checker.checkPort(*device, ZelPort::Ftp);
    if (!pending.isEmpty())
        wait.exec();
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
    if (needsDuplicateCheck(device->netHostInfo(), settings) &&
        TevPingHelper::pingHost(address, IpChecker::kPingTimeoutMs) == TevPingReplied) {
        if (!request.force)
            return fail(CliExit::AddressInUse,
                        QStringLiteral("%1 is already in use: a host answered an echo request. "
                                       "Nothing was sent to %2; --force sends it anyway.")
                            .arg(text(address.toString()), name));
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
    if (TevPingHelper::pingHost(request.target, unsigned(request.timeoutMs)) != TevPingReplied) {
        return fail(
            CliExit::NoReply,
            QStringLiteral("no reply from %1 within %2 ms").arg(target).arg(request.timeoutMs));
    }
    m_out << QStringLiteral("%1 answered.").arg(target) << Qt::endl;
    return CliExit::Ok;
}
