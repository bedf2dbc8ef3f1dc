#include "corlasettings.h"

QString checkIpText(const QString& text, const QString& what, TevIpAddr* out)
{
    const TevIpAddr ip(text.toStdString());
    // 0 is also what a malformed text yields; only the literal zero address means it.
    if (ip.toInt() == 0 && text != QLatin1String("0.0.0.0"))
        return QStringLiteral("%1: \"%2\" is not an IPv4 address (four numbers from 0 to 255 "
                              "separated by dots)")
            .arg(what, text);
    *out = ip;
    return QString();
}

QString checkHostAddressText(const QString& text, const QString& what, TevIpAddr* out)
{
    TevIpAddr ip;
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

QString checkMaskText(const QString& text, TevIpAddr* out)
{
    TevIpAddr mask;
    const QString why = checkIpText(text, "--mask", &mask);
    if (!why.isEmpty())
        return why;
    if (!isValidSubnetMask(mask.toInt()))
        return QStringLiteral("--mask: %1 is not a subnet mask (one bits followed by zero bits, "
                              "such as 255.255.255.0)")
            .arg(text);
    *out = mask;
    return QString();
}

QString checkMacText(const QString& text, TevMacAddr* out)
{
    TevMacAddr mac;
    if (!TevMacAddr::parse(text.toStdString(), &mac))
        return QStringLiteral("\"%1\" is not a MAC address (six hexadecimal pairs such as "
                              "02:c0:1a:00:00:05)")
            .arg(text);
    // An enquiry with the zero MAC asks every device; a request must name one.
    if (mac.isNull())
        return QStringLiteral("%1 names no device").arg(text);
    *out = mac;
    return QString();
}

TevNetHostInfo settingsToSend(const TevNetHostInfo& reported, const TevNetHostInfo& requested)
{
    TevNetHostInfo settings = reported;
    settings.setAddressMode(requested.addressMode());
    if (requested.addressMode() == TevAddressModeManual) {
        settings.setIpAddress(requested.ipAddress());
        settings.setSubnet(requested.subnetMask());
        settings.setGateway(requested.gateway());
        settings.setDns(requested.dns());
    }
    return settings;
}

bool needsDuplicateCheck(const TevNetHostInfo& reported, const TevNetHostInfo& toSend)
{
    return toSend.addressMode() == TevAddressModeManual &&
           toSend.ipAddress() != reported.ipAddress();
}
