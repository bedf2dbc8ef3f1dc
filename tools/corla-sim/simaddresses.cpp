#include "simaddresses.h"

#include <QFileInfo>
#include <QNetworkInterface>
#include <QProcess>
#include <QStandardPaths>

#include <sys/stat.h>

namespace {

ino_t inodeOf(const QByteArray& path)
{
    struct stat st;
    return ::stat(path.constData(), &st) == 0 ? st.st_ino : 0;
}

QString cidr(TevIpAddr ip)
{
    return QString::fromStdString(ip.toString()) + "/32";
}

} // namespace

SimAddresses::~SimAddresses()
{
    releaseAll();
}

bool SimAddresses::enable(QString* why)
{
    const QByteArray labDev = qgetenv("CORLA_LAB_DEVNS");
    const ino_t own = inodeOf("/proc/self/ns/net");
    if (labDev.isEmpty() || own == 0 || inodeOf(labDev) != own) {
        *why = "--manage-addresses changes interfaces, so it only runs in the lab's device side "
               "(CORLA_LAB_DEVNS must name this process's network namespace)";
        return false;
    }
    m_ipTool = QStandardPaths::findExecutable("ip");
    if (m_ipTool.isEmpty())
        m_ipTool = QStandardPaths::findExecutable("ip", {"/usr/sbin", "/sbin", "/usr/bin", "/bin"});
    if (m_ipTool.isEmpty()) {
        *why = "--manage-addresses needs the ip tool (iproute2)";
        return false;
    }
    m_enabled = true;
    return true;
}

bool SimAddresses::runIp(const QStringList& args, QString* output)
{
    QProcess ip;
    ip.setProcessChannelMode(QProcess::MergedChannels);
    ip.start(m_ipTool, args);
    const bool finished = ip.waitForFinished(10000);
    *output = QString::fromLocal8Bit(ip.readAll()).trimmed();
    return finished && ip.exitStatus() == QProcess::NormalExit && ip.exitCode() == 0;
}

QString SimAddresses::interfaceFor(TevIpAddr ip, const QString& iface) const
{
    if (!iface.isEmpty())
        return iface;
    const QHostAddress address(ip.toInt());
    for (const QNetworkInterface& nic : QNetworkInterface::allInterfaces()) {
        if (nic.flags() & QNetworkInterface::IsLoopBack)
            continue;
        for (const QNetworkAddressEntry& entry : nic.addressEntries()) {
            // Our own /32s say nothing about subnets.
            if (entry.ip().protocol() == QAbstractSocket::IPv4Protocol &&
                entry.prefixLength() < 32 && address.isInSubnet(entry.ip(), entry.prefixLength()))
                return nic.name();
        }
    }
    return "lo";
}

bool SimAddresses::acquire(TevIpAddr ip, const QString& iface, QString* why)
{
    if (!m_enabled || ip.toInt() == 0)
        return true;
    Entry& entry = m_entries[ip.toInt()];
    if (entry.users++ > 0)
        return true;
    entry.iface = interfaceFor(ip, iface);
    QString output;
    if (runIp({"-4", "addr", "add", cidr(ip), "dev", entry.iface}, &output)) {
        entry.added = true;
        return true;
    }
    if (output.contains("File exists"))
        return true;
    *why = QStringLiteral("ip addr add %1 dev %2: %3").arg(cidr(ip), entry.iface, output);
    m_entries.remove(ip.toInt());
    return false;
}

void SimAddresses::release(TevIpAddr ip)
{
    auto it = m_entries.find(ip.toInt());
    if (!m_enabled || it == m_entries.end() || --it->users > 0)
        return;
    if (it->added) {
        QString output;
        runIp({"-4", "addr", "del", cidr(ip), "dev", it->iface}, &output);
    }
    m_entries.erase(it);
}

void SimAddresses::releaseAll()
{
    for (auto it = m_entries.begin(); it != m_entries.end(); ++it) {
        QString output;
        if (it->added)
            runIp({"-4", "addr", "del", cidr(TevIpAddr(it.key())), "dev", it->iface}, &output);
    }
    m_entries.clear();
}
