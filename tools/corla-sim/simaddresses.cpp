// SPDX-License-Identifier: Apache-2.0
// SPDX-FileCopyrightText: 2026 The Corla developers
#include "tools/corla-sim/simaddresses.h"

#include <QNetworkInterface>

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <net/if.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

namespace corla {

namespace {

ino_t inodeOf(const QByteArray& path)
{
    struct stat st;
    return ::stat(path.constData(), &st) == 0 ? st.st_ino : 0;
}

QString cidr(Ipv4Address ip)
{
    return QString::fromStdString(ip.toString()) + "/32";
}

void addAttribute(nlmsghdr* message, unsigned short type, const void* data, size_t size)
{
    auto* attribute = reinterpret_cast<rtattr*>(reinterpret_cast<char*>(message) +
                                                NLMSG_ALIGN(message->nlmsg_len));
    attribute->rta_type = type;
    attribute->rta_len = static_cast<unsigned short>(RTA_LENGTH(size));
    std::memcpy(RTA_DATA(attribute), data, size);
    message->nlmsg_len = NLMSG_ALIGN(message->nlmsg_len) + RTA_ALIGN(attribute->rta_len);
}

// Adds or deletes ip/32 on the interface through rtnetlink (what `ip addr` does, without
// a process per address). Returns 0 or the kernel's errno.
int changeAddress(int fd, int type, Ipv4Address ip, unsigned int ifindex)
{
    struct
    {
        nlmsghdr header;
        ifaddrmsg body;
        char attributes[64];
    } request = {};
    request.header.nlmsg_len = NLMSG_LENGTH(sizeof(ifaddrmsg));
    request.header.nlmsg_type = static_cast<unsigned short>(type);
    request.header.nlmsg_flags = NLM_F_REQUEST | NLM_F_ACK;
    if (type == RTM_NEWADDR)
        request.header.nlmsg_flags |= NLM_F_CREATE | NLM_F_EXCL;
    request.body.ifa_family = AF_INET;
    request.body.ifa_prefixlen = 32;
    request.body.ifa_scope = RT_SCOPE_UNIVERSE;
    request.body.ifa_index = ifindex;
    const uint32_t address = htonl(ip.toInt());
    addAttribute(&request.header, IFA_LOCAL, &address, sizeof address);
    addAttribute(&request.header, IFA_ADDRESS, &address, sizeof address);
    if (::send(fd, &request, request.header.nlmsg_len, 0) < 0)
        return errno;
    char reply[1024];
    const ssize_t n = ::recv(fd, reply, sizeof reply, 0);
    if (n < ssize_t(NLMSG_LENGTH(sizeof(nlmsgerr))))
        return n < 0 ? errno : EPROTO;
    const auto* header = reinterpret_cast<const nlmsghdr*>(reply);
    if (header->nlmsg_type != NLMSG_ERROR)
        return EPROTO;
    return -static_cast<const nlmsgerr*>(NLMSG_DATA(header))->error;
}

} // namespace

SimAddresses::~SimAddresses()
{
    releaseAll();
    if (m_netlink >= 0)
        ::close(m_netlink);
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
    m_netlink = ::socket(AF_NETLINK, SOCK_RAW | SOCK_CLOEXEC, NETLINK_ROUTE);
    if (m_netlink < 0) {
        *why = QStringLiteral("no route netlink socket: %1").arg(std::strerror(errno));
        return false;
    }
    m_enabled = true;
    return true;
}

int SimAddresses::change(int type, Ipv4Address ip, const QString& iface)
{
    const unsigned int index = ::if_nametoindex(iface.toLocal8Bit().constData());
    return index == 0 ? ENODEV : changeAddress(m_netlink, type, ip, index);
}

QString SimAddresses::interfaceFor(Ipv4Address ip, const QString& iface) const
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

bool SimAddresses::acquire(Ipv4Address ip, const QString& iface, QString* why)
{
    if (!m_enabled || ip.toInt() == 0)
        return true;
    Entry& entry = m_entries[ip.toInt()];
    if (entry.users++ > 0)
        return true;
    entry.iface = interfaceFor(ip, iface);
    const int error = change(RTM_NEWADDR, ip, entry.iface);
    entry.added = error == 0;
    if (error == 0 || error == EEXIST)
        return true;
    *why = QStringLiteral("cannot add %1 to %2: %3")
               .arg(cidr(ip), entry.iface, QString::fromLocal8Bit(std::strerror(error)));
    m_entries.remove(ip.toInt());
    return false;
}

void SimAddresses::release(Ipv4Address ip)
{
    auto it = m_entries.find(ip.toInt());
    if (!m_enabled || it == m_entries.end() || --it->users > 0)
        return;
    if (it->added)
        change(RTM_DELADDR, ip, it->iface);
    m_entries.erase(it);
}

void SimAddresses::releaseAll()
{
    for (auto it = m_entries.begin(); it != m_entries.end(); ++it) {
        if (it->added)
            change(RTM_DELADDR, Ipv4Address(it.key()), it->iface);
    }
    m_entries.clear();
}

} // namespace corla
