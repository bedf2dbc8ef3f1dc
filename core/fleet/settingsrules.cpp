// SPDX-License-Identifier: Apache-2.0
// SPDX-FileCopyrightText: 2026 The Corla developers
#include "core/fleet/settingsrules.h"

#include <QStringList>

#include <algorithm>

namespace corla {

namespace {

// The first of four decimal numbers written with a leading zero ("050"), which some
// systems read as octal and the address parser refuses; empty when there is none.
QString leadingZeroPart(const QString& text)
{
    const QStringList parts = text.split(QLatin1Char('.'));
    if (parts.size() != 4)
        return QString();
    for (const QString& part : parts) {
        const bool digits = !part.isEmpty() && std::all_of(part.begin(), part.end(), [](QChar c) {
            return c >= QLatin1Char('0') && c <= QLatin1Char('9');
        });
        if (!digits)
            return QString();
    }
    for (const QString& part : parts) {
        if (part.size() > 1 && part.startsWith(QLatin1Char('0')))
            return part;
    }
    return QString();
}

} // namespace

QString checkIpText(const QString& text, const QString& what, Ipv4Address* out)
{
    const Ipv4Address ip(text.toStdString());
    // 0 is also what a malformed text yields; only the literal zero address means it.
    if (ip.toInt() == 0 && text != QLatin1String("0.0.0.0")) {
        const QString zero = leadingZeroPart(text);
        if (!zero.isEmpty()) {
            QString plain = zero;
            while (plain.size() > 1 && plain.startsWith(QLatin1Char('0')))
                plain.remove(0, 1);
            return QStringLiteral("%1: \"%2\" is not an IPv4 address: it has a leading zero in "
                                  "%3 (write %4; some systems read %3 as an octal number)")
                .arg(what, text, zero, plain);
        }
        return QStringLiteral("%1: \"%2\" is not an IPv4 address (four numbers from 0 to 255 "
                              "separated by dots)")
            .arg(what, text);
    }
    *out = ip;
    return QString();
}

QString checkHostAddressText(const QString& text, const QString& what, Ipv4Address* out)
{
    Ipv4Address ip;
    const QString why = checkIpText(text, what, &ip);
    if (!why.isEmpty())
        return why;
    if (!isValidHostFirstOctet(ip.toArray()[0]))
        return QStringLiteral("%1: %2 is not a device address: the first number must be from 1 "
                              "to 223, excluding 127")
            .arg(what, text);
    *out = ip;
    return QString();
}

QString checkMaskText(const QString& text, const QString& what, Ipv4Address* out)
{
    Ipv4Address mask;
    const QString why = checkIpText(text, what, &mask);
    if (!why.isEmpty())
        return why;
    if (!isValidSubnetMask(mask.toInt()))
        return QStringLiteral("%1: %2 is not a subnet mask (one bits followed by zero bits, "
                              "such as 255.255.255.0)")
            .arg(what, text);
    *out = mask;
    return QString();
}

QString checkMacText(const QString& text, MacAddress* out)
{
    MacAddress mac;
    if (!MacAddress::parse(text.toStdString(), &mac))
        return QStringLiteral("\"%1\" is not a MAC address (six hexadecimal pairs such as "
                              "02:c0:1a:00:00:05)")
            .arg(text);
    // An enquiry with the zero MAC asks every device; a request must name one.
    if (mac.isNull())
        return QStringLiteral("%1 names no device").arg(text);
    *out = mac;
    return QString();
}

QString checkStaticText(const QString& text, const QString& what, Ipv4Address* ip,
                        Ipv4Address* mask)
{
    const int slash = text.indexOf(QLatin1Char('/'));
    Ipv4Address address;
    QString why = checkHostAddressText(slash < 0 ? text : text.left(slash), what, &address);
    if (!why.isEmpty())
        return why;
    Ipv4Address prefixMask;
    if (slash >= 0) {
        const QString prefix = text.mid(slash + 1);
        const bool digits = !prefix.isEmpty() && prefix.size() <= 2 &&
                            std::all_of(prefix.begin(), prefix.end(), [](QChar c) {
                                return c >= QLatin1Char('0') && c <= QLatin1Char('9');
                            });
        const int length = digits ? prefix.toInt() : 0;
        if (length < 1 || length > 31)
            return QStringLiteral("%1: the prefix length in \"%2\" must be a whole number from 1 "
                                  "to 31 (such as /24 for the mask 255.255.255.0)")
                .arg(what, text);
        prefixMask = Ipv4Address(uint32_t(0xFFFFFFFFu << (32 - length)));
    }
    *ip = address;
    *mask = prefixMask;
    return QString();
}

NetworkSettings settingsToSend(const NetworkSettings& reported, const NetworkSettings& requested)
{
    NetworkSettings settings = reported;
    settings.setAddressMode(requested.addressMode());
    if (requested.addressMode() == AddressModeStatic) {
        settings.setIpAddress(requested.ipAddress());
        settings.setSubnet(requested.subnetMask());
        settings.setGateway(requested.gateway());
        settings.setDns(requested.dns());
    }
    return settings;
}

bool needsDuplicateCheck(const NetworkSettings& reported, const NetworkSettings& toSend)
{
    return toSend.addressMode() == AddressModeStatic && toSend.ipAddress() != reported.ipAddress();
}

} // namespace corla
