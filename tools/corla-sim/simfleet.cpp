// SPDX-License-Identifier: Apache-2.0
// SPDX-FileCopyrightText: 2026 The Corla developers
#include "tools/corla-sim/simfleet.h"

#include "core/net/devicetypes.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSet>

#include <cmath>

namespace corla {

namespace {

struct FleetRow
{
    int type;
    const char* mac;
    AddressMode mode;
    const char* ip;
    const char* iface;
    bool port21;
    bool web;
    int16_t refuse;
};

// Serial numbers follow the row (1001, 1002, ...). Gateway and DNS are the device side's
// address in the device's subnet; devices without an address report none.
const FleetRow defaultRows[] = {
    {1, "02:c0:1a:00:00:01", AddressModeStatic, "10.10.0.11", "dev0", true, false, 0},
    {2, "02:c0:1a:00:00:02", AddressModeStatic, "10.10.0.12", "dev0", true, false, 0},
    {3, "02:c0:1a:00:00:03", AddressModeDhcp, "10.10.0.103", "dev0", true, false, 0},
    {4, "02:c0:1a:00:00:04", AddressModeStatic, "10.10.0.14", "dev0", false, false, 0},
    {5, "02:c0:1a:00:00:05", AddressModeStatic, "10.10.0.15", "dev0", true, true, 0},
    {6, "02:c0:1a:00:00:06", AddressModeDhcp, "10.10.1.106", "dev0", true, false, 0},
    {7, "02:c0:1a:00:00:07", AddressModeStatic, "10.10.1.17", "dev0", true, true, 0},
    {8, "02:c0:1a:00:00:08", AddressModeStatic, "10.20.0.18", "dev1", true, true, 0},
    {9, "02:c0:1a:00:00:09", AddressModeDhcp, "10.20.0.109", "dev1", false, false, 0},
    {10, "02:c0:1a:00:00:0a", AddressModeStatic, "10.20.0.20", "dev1", true, false, -1},
    {11, "02:c0:1a:00:00:0b", AddressModeStatic, "192.168.77.21", "dev0", true, false, 0},
    {12, "02:c0:1a:00:00:0c", AddressModeDhcp, "0.0.0.0", "dev0", true, false, 0},
    {13, "02:c0:1a:00:00:0d", AddressModeStatic, "10.10.0.23", "dev0", true, false, 0},
    {14, "02:c0:1a:00:00:0e", AddressModeStatic, "10.10.1.24", "dev0", false, false, 0},
    {15, "02:c0:1a:00:00:0f", AddressModeStatic, "10.10.0.25", "dev0", true, false, 0},
    {16, "02:c0:1a:00:00:10", AddressModeStatic, "10.20.0.26", "dev1", true, true, 0},
    {65, "02:c0:1a:00:00:11", AddressModeStatic, "10.10.0.27", "dev0", true, false, 0},
    {66, "02:c0:1a:00:00:12", AddressModeDhcp, "10.10.1.128", "dev0", true, false, 0},
    {5, "02:c0:1a:00:00:13", AddressModeStatic, "10.10.0.29", "dev0", false, true, 0},
    {8, "02:c0:1a:00:00:14", AddressModeDhcp, "10.20.0.130", "dev1", true, true, 0},
};

// The device side's address in the /24 of `ip`, as the lab builds it (x.y.z.254).
Ipv4Address routerOf(Ipv4Address ip)
{
    return Ipv4Address((ip.toInt() & 0xFFFFFF00u) | 254u);
}

bool parseAddress(const QJsonValue& value, Ipv4Address* out)
{
    if (!value.isString())
        return false;
    const std::string text = value.toString().toStdString();
    const Ipv4Address ip(text);
    if (ip.toInt() == 0 && text != "0.0.0.0")
        return false;
    *out = ip;
    return true;
}

bool parseInt(const QJsonValue& value, int low, int high, int* out)
{
    if (!value.isDouble())
        return false;
    // Range first: converting a double beyond int's range is undefined.
    const double d = value.toDouble();
    if (!(d >= low && d <= high) || d != std::floor(d))
        return false;
    *out = int(d);
    return true;
}

bool parseMode(const QJsonValue& value, AddressMode* out)
{
    const QString text = value.toString().toLower();
    if (value.isDouble()) {
        int number = 0;
        if (!parseInt(value, 0, 255, &number))
            return false;
        *out = AddressMode(number);
        return true;
    }
    if (text == "dhcp" || text == "auto")
        *out = AddressModeDhcp;
    else if (text == "static" || text == "manual")
        *out = AddressModeStatic;
    else if (text == "none")
        *out = AddressModeNotSet;
    else
        return false;
    return true;
}

bool parseDevice(const QJsonObject& o, SimDevice* d, QString* why)
{
    static const QSet<QString> known = {"type",   "serial",         "mac",  "mode",   "ip",
                                        "mask",   "gateway",        "dns",  "port21", "web",
                                        "refuse", "resetSilenceMs", "iface"};
    for (const QString& key : o.keys()) {
        if (!known.contains(key)) {
            *why = QStringLiteral("unknown key \"%1\"").arg(key);
            return false;
        }
    }
    int number = 0;
    if (!parseInt(o.value("type"), -128, 127, &number)) {
        *why = "\"type\" must be a number from -128 to 127";
        return false;
    }
    d->type = int8_t(number);
    if (!parseInt(o.value("serial"), 0, 65535, &number)) {
        *why = "\"serial\" must be a number from 0 to 65535";
        return false;
    }
    d->serial = uint16_t(number);
    MacAddress mac;
    if (!MacAddress::parse(o.value("mac").toString().toStdString(), &mac)) {
        *why = "\"mac\" must be a MAC address such as 02:c0:1a:00:00:01";
        return false;
    }
    d->net.setMacAddress(mac);
    AddressMode mode = AddressModeStatic;
    if (o.contains("mode") && !parseMode(o.value("mode"), &mode)) {
        *why = "\"mode\" must be \"dhcp\", \"static\", \"none\" or a whole number from 0 to 255";
        return false;
    }
    d->net.setAddressMode(mode);
    const struct
    {
        const char* key;
        void (NetworkSettings::*set)(const Ipv4Address&);
    } addresses[] = {{"ip", &NetworkSettings::setIpAddress},
                     {"mask", &NetworkSettings::setSubnet},
                     {"gateway", &NetworkSettings::setGateway},
                     {"dns", &NetworkSettings::setDns}};
    for (const auto& a : addresses) {
        Ipv4Address ip;
        if (o.contains(a.key) && !parseAddress(o.value(a.key), &ip)) {
            *why = QStringLiteral("\"%1\" must be a dotted IPv4 address").arg(a.key);
            return false;
        }
        (d->net.*a.set)(ip);
    }
    const uint32_t mask = d->net.subnetMask().toInt();
    if (mask != 0 && !isValidSubnetMask(mask)) {
        *why = "\"mask\" must be a run of one bits followed by zero bits, such as 255.255.255.0";
        return false;
    }
    if (!o.contains("mask") && d->net.ipAddress().toInt() != 0)
        d->net.setSubnet(Ipv4Address::defaultMask(d->net.ipAddress().toArray()[0]));
    for (const char* key : {"port21", "web"}) {
        if (o.contains(key) && !o.value(key).isBool()) {
            *why = QStringLiteral("\"%1\" must be true or false").arg(key);
            return false;
        }
    }
    d->port21 = o.value("port21").toBool(true);
    d->web = o.value("web").toBool(false);
    if (o.contains("refuse")) {
        if (!parseInt(o.value("refuse"), -32768, 32767, &number)) {
            *why = "\"refuse\" must be a number from -32768 to 32767";
            return false;
        }
        d->refuse = int16_t(number);
    }
    if (o.contains("resetSilenceMs")) {
        if (!parseInt(o.value("resetSilenceMs"), 0, 3600000, &number)) {
            *why = "\"resetSilenceMs\" must be a number of milliseconds (0 to 3600000)";
            return false;
        }
        d->resetSilenceMs = number;
    }
    d->iface = o.value("iface").toString();
    return true;
}

} // namespace

SimFleet defaultFleet()
{
    SimFleet fleet;
    uint16_t serial = 1001;
    for (const FleetRow& row : defaultRows) {
        SimDevice d;
        d.type = int8_t(row.type);
        d.serial = serial++;
        MacAddress mac;
        MacAddress::parse(row.mac, &mac);
        const Ipv4Address ip(row.ip);
        if (ip.toInt() != 0)
            d.net = NetworkSettings(ip, Ipv4Address(0xFFFFFF00u), routerOf(ip), routerOf(ip), mac,
                                    row.mode);
        else
            d.net = NetworkSettings(Ipv4Address(), Ipv4Address(), Ipv4Address(), Ipv4Address(), mac,
                                    row.mode);
        d.port21 = row.port21;
        d.web = row.web;
        d.refuse = row.refuse;
        d.iface = row.iface;
        fleet.append(d);
    }
    return fleet;
}

SimFleet burstFleet(int count, Ipv4Address first, const QString& iface)
{
    std::vector<int8_t> types;
    for (const auto& entry : DeviceTexts::deviceTypeNames) {
        if (int(entry.first) > 0)
            types.push_back(int8_t(entry.first));
    }
    SimFleet fleet;
    fleet.reserve(count);
    uint32_t ip = first.toInt();
    for (int i = 0; i < count; ++i) {
        while ((ip & 0xFFu) == 0 || (ip & 0xFFu) == 255)
            ++ip;
        SimDevice d;
        d.type = types[size_t(i) % types.size()];
        d.serial = uint16_t(i + 1);
        // Locally administered, distinct from the built-in fleet's 02:c0:1a.
        const uint8_t mac[6] = {uint8_t(i), uint8_t(i >> 8), uint8_t(i >> 16), 0x1b, 0xc0, 0x02};
        d.net =
            NetworkSettings(ip, 0xFFFF0000u, (ip & 0xFFFF0000u) | 1u, 0, mac, AddressModeStatic);
        d.iface = iface;
        d.burst = true;
        fleet.append(d);
        ++ip;
    }
    return fleet;
}

bool parseFleet(const QByteArray& json, SimFleet* fleet, QString* error)
{
    QJsonParseError parseError;
    const QJsonDocument doc = QJsonDocument::fromJson(json, &parseError);
    if (doc.isNull()) {
        *error = parseError.errorString() + QStringLiteral(" at offset %1").arg(parseError.offset);
        return false;
    }
    QJsonArray list;
    if (doc.isArray()) {
        list = doc.array();
    } else if (doc.object().value("devices").isArray() && doc.object().size() == 1) {
        list = doc.object().value("devices").toArray();
    } else {
        *error = "expected {\"devices\": [...]} or an array of devices";
        return false;
    }
    SimFleet result;
    QSet<QString> macs;
    for (int i = 0; i < list.size(); ++i) {
        SimDevice d;
        QString why;
        if (!list.at(i).isObject())
            why = "not an object";
        else if (parseDevice(list.at(i).toObject(), &d, &why)) {
            const QString mac = QString::fromStdString(d.net.macAddress().toString());
            if (macs.contains(mac))
                why = QStringLiteral("MAC address %1 appears twice").arg(mac);
            macs.insert(mac);
        }
        if (!why.isEmpty()) {
            *error = QStringLiteral("device %1: %2").arg(i).arg(why);
            return false;
        }
        result.append(d);
    }
    *fleet = result;
    return true;
}

QByteArray fleetToJson(const SimFleet& fleet)
{
    QJsonArray list;
    for (const SimDevice& d : fleet) {
        QJsonObject o;
        o["type"] = int(d.type);
        o["serial"] = int(d.serial);
        o["mac"] = QString::fromStdString(d.net.macAddress().toString());
        const AddressMode mode = d.net.addressMode();
        o["mode"] =
            mode <= AddressModeStatic ? QJsonValue(addressModeName(mode)) : QJsonValue(int(mode));
        o["ip"] = QString::fromStdString(d.net.ipAddress().toString());
        o["mask"] = QString::fromStdString(d.net.subnetMask().toString());
        o["gateway"] = QString::fromStdString(d.net.gateway().toString());
        o["dns"] = QString::fromStdString(d.net.dns().toString());
        o["port21"] = d.port21;
        o["web"] = d.web;
        if (d.refuse != 0)
            o["refuse"] = int(d.refuse);
        if (d.resetSilenceMs >= 0)
            o["resetSilenceMs"] = d.resetSilenceMs;
        if (!d.iface.isEmpty())
            o["iface"] = d.iface;
        list.append(o);
    }
    return QJsonDocument(QJsonObject{{"devices", list}}).toJson(QJsonDocument::Indented);
}

QString addressModeName(AddressMode mode)
{
    switch (mode) {
    case AddressModeDhcp:
        return "dhcp";
    case AddressModeStatic:
        return "static";
    case AddressModeNotSet:
        return "none";
    }
    return QString::number(int(mode));
}

QString deviceName(const SimDevice& device)
{
    return QString::fromStdString(DeviceTexts::deviceTypeStr(DeviceType(device.type))) + " #" +
           QString::number(device.serial);
}

} // namespace corla
