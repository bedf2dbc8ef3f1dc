// SPDX-License-Identifier: Apache-2.0
// SPDX-FileCopyrightText: 2026 The Corla developers
#include "corladevicelist.h"

#include <algorithm>

namespace {

const TevMacAddr& macOf(const TevDevice& device)
{
    return device.netHostInfo().macAddress();
}

// What two answers for one MAC address disagree about, as "Gateway 10.10.0.1 / 10.10.0.66",
// in column order.
QStringList differencesOf(const TevDevice& first, const TevDevice& other)
{
    QStringList differences;
    const auto compare = [&differences](const char* field, const QString& a, const QString& b) {
        if (a != b)
            differences << QStringLiteral("%1 %2 / %3").arg(QLatin1String(field), a, b);
    };
    // Codes that share a text ("Unrecognized Device", "Unknown") are told apart by number.
    const auto compareCodes = [&compare](const char* field, int a, int b, const QString& textA,
                                         const QString& textB) {
        if (a != b && textA == textB)
            compare(field, QString::number(a), QString::number(b));
        else
            compare(field, textA, textB);
    };
    const TevNetHostInfo& a = first.netHostInfo();
    const TevNetHostInfo& b = other.netHostInfo();
    compareCodes("Device Type", int(first.devType()), int(other.devType()),
                 CorlaText::deviceType(first.devType()), CorlaText::deviceType(other.devType()));
    compare("Serial", QString::number(first.serial()), QString::number(other.serial()));
    compare("IP Address", CorlaText::address(a.ipAddress()), CorlaText::address(b.ipAddress()));
    compare("Subnet Mask", CorlaText::address(a.subnetMask()), CorlaText::address(b.subnetMask()));
    compare("Gateway", CorlaText::address(a.gateway()), CorlaText::address(b.gateway()));
    compare("DNS Server", CorlaText::address(a.dns()), CorlaText::address(b.dns()));
    compareCodes("Address Mode", int(a.addressMode()), int(b.addressMode()),
                 CorlaText::addressMode(a.addressMode()), CorlaText::addressMode(b.addressMode()));
    return differences;
}

} // namespace

QString CorlaConflict::text() const
{
    const bool samePlace = firstSender == otherSender;
    const auto sender = [samePlace](const TevIpAddr& address, quint16 port) {
        const QString text = CorlaText::address(address);
        return samePlace ? text + QLatin1Char(':') + QString::number(port) : text;
    };
    return QStringLiteral("Answers from %1 and %2 differ: %3. Possibly a duplicate MAC address "
                          "or a forged answer.")
        .arg(sender(firstSender, firstPort), sender(otherSender, otherPort),
             differences.join(QStringLiteral("; ")));
}

quint64 corlaMacKey(const TevMacAddr& mac)
{
    quint64 key = 0;
    for (uint8_t octet : mac.octets())
        key = (key << 8) | octet;
    return key;
}

CorlaDeviceList::CorlaDeviceList(QObject* parent) : QObject(parent) {}

int CorlaDeviceList::rowOf(const TevMacAddr& mac) const
{
    const QVector<int> rows = rowsOf(mac);
    return rows.isEmpty() ? -1 : rows.first();
}

std::shared_ptr<TevDevice> CorlaDeviceList::find(const TevMacAddr& mac) const
{
    const int row = rowOf(mac);
    return row >= 0 ? m_devices.at(row) : nullptr;
}

void CorlaDeviceList::setCapacity(int capacity)
{
    m_capacity = qMax(1, capacity);
}

bool CorlaDeviceList::append(std::shared_ptr<TevDevice> device)
{
    if (!device || contains(macOf(*device)))
        return false;
    if (m_devices.size() >= m_capacity) {
        if (++m_ignored == 1)
            emit capacityReached(m_capacity);
        return false;
    }
    const int row = m_devices.size();
    emit aboutToAppend(row);
    m_rowsByMac.insert(corlaMacKey(macOf(*device)), row);
    m_devices.append(std::move(device));
    m_heard.append(Heard());
    emit appended(row);
    return true;
}

void CorlaDeviceList::merge(const std::shared_ptr<TevDevice>& answer)
{
    if (!answer)
        return;
    const int row = rowOf(macOf(*answer));
    if (row < 0) {
        if (append(answer))
            noteHeard(m_devices.size() - 1, *answer);
        return;
    }
    Heard& heard = m_heard[row];
    const bool otherSender = heard.thisRound && (heard.sender != answer->answeredFrom() ||
                                                 heard.port != answer->answeredFromPort());
    if (otherSender) {
        const QStringList differences = differencesOf(*m_devices.at(row), *answer);
        if (!differences.isEmpty()) {
            // The first sender's answer stands: the other's settings are never taken.
            heard.last = QDateTime::currentDateTimeUtc();
            const CorlaConflict found{heard.sender, heard.port, answer->answeredFrom(),
                                      answer->answeredFromPort(), differences};
            if (!heard.conflict || heard.conflict->text() != found.text()) {
                heard.conflict = found;
                emit conflictChanged(row);
            }
            return;
        }
    }
    noteHeard(row, *answer);
    // Every enquiry goes out several times and every copy is answered: an answer that
    // repeats what the list holds changes nothing (no new probe, no grey row).
    if (m_devices.at(row)->netHostInfo() == answer->netHostInfo())
        return;
    // The round's first sender itself reports other settings now: the device changed them
    // during the round (it answered one local address before and another after), and the
    // other sender's answer was no dispute.
    if (heard.conflict && heard.sender == answer->answeredFrom() &&
        heard.port == answer->answeredFromPort()) {
        heard.conflict.reset();
        emit conflictChanged(row);
    }
    applySettings(row, answer->netHostInfo());
}

bool CorlaDeviceList::updateSettings(const TevMacAddr& mac, const TevNetHostInfo& settings)
{
    const int row = rowOf(mac);
    if (row < 0)
        return false;
    applySettings(row, settings);
    if (m_heard[row].conflict) {
        m_heard[row].conflict.reset();
        emit conflictChanged(row);
    }
    return true;
}

void CorlaDeviceList::applySettings(int row, const TevNetHostInfo& settings)
{
    TevDevice& stored = *m_devices.at(row);
    stored.setNetStat(ZelNetworkStatus::Pending);
    const bool macMoves = macOf(stored) != settings.macAddress();
    stored.setNetHostInfo(settings);
    if (macMoves)
        rebuildMacIndex();
    emit settingsChanged(row);
}

void CorlaDeviceList::noteHeard(int row, const TevDevice& answer)
{
    Heard& heard = m_heard[row];
    if (!heard.thisRound) {
        heard.thisRound = true;
        heard.sender = answer.answeredFrom();
        heard.port = answer.answeredFromPort();
    }
    heard.last = QDateTime::currentDateTimeUtc();
}

void CorlaDeviceList::setStatus(const TevMacAddr& mac, ZelNetworkStatus status)
{
    for (int row : rowsOf(mac)) {
        m_devices.at(row)->setNetStat(status);
        emit statusChanged(row);
    }
}

void CorlaDeviceList::clear()
{
    emit aboutToClear();
    m_devices.clear();
    m_heard.clear();
    m_rowsByMac.clear();
    m_ignored = 0;
    emit cleared();
}

void CorlaDeviceList::beginRound()
{
    m_ignored = 0;
    for (int row = 0; row < m_heard.size(); ++row) {
        Heard& heard = m_heard[row];
        heard.thisRound = false;
        heard.sender = TevIpAddr();
        heard.port = 0;
        if (heard.conflict) {
            heard.conflict.reset();
            emit conflictChanged(row);
        }
    }
}

const CorlaDeviceList::Heard* CorlaDeviceList::heardOf(const TevMacAddr& mac) const
{
    const int row = rowOf(mac);
    return row >= 0 ? &m_heard.at(row) : nullptr;
}

std::optional<CorlaConflict> CorlaDeviceList::conflict(const TevMacAddr& mac) const
{
    const Heard* heard = heardOf(mac);
    return heard ? heard->conflict : std::nullopt;
}

bool CorlaDeviceList::isConflicting(const TevMacAddr& mac) const
{
    const Heard* heard = heardOf(mac);
    return heard && heard->conflict.has_value();
}

bool CorlaDeviceList::heardThisRound(const TevMacAddr& mac) const
{
    const Heard* heard = heardOf(mac);
    return heard && heard->thisRound;
}

QDateTime CorlaDeviceList::lastHeard(const TevMacAddr& mac) const
{
    const Heard* heard = heardOf(mac);
    return heard ? heard->last.toLocalTime() : QDateTime();
}

CorlaDeviceList::Devices CorlaDeviceList::sortedBySerial() const
{
    Devices sorted = m_devices;
    std::stable_sort(sorted.begin(), sorted.end(), [](const auto& a, const auto& b) {
        if (a->serial() != b->serial())
            return a->serial() < b->serial();
        return macOf(*a).octets() < macOf(*b).octets();
    });
    return sorted;
}

QVector<int> CorlaDeviceList::rowsOf(const TevMacAddr& mac) const
{
    QVector<int> rows = m_rowsByMac.values(corlaMacKey(mac)).toVector();
    std::sort(rows.begin(), rows.end());
    return rows;
}

void CorlaDeviceList::rebuildMacIndex()
{
    m_rowsByMac.clear();
    for (int row = 0; row < m_devices.size(); ++row)
        m_rowsByMac.insert(corlaMacKey(macOf(*m_devices.at(row))), row);
}

namespace CorlaText {

QString deviceType(ZelDeviceType type)
{
    return QString::fromStdString(ZelUtil::deviceTypeStr(type));
}

QString addressMode(TevAddressMode mode)
{
    switch (mode) {
    case TevAddressModeAuto:
        return QStringLiteral("DHCP");
    case TevAddressModeManual:
        return QStringLiteral("Static");
    default:
        return QStringLiteral("Unknown");
    }
}

QString address(const TevIpAddr& address)
{
    return QString::fromStdString(address.toString());
}

QString mac(const TevMacAddr& mac)
{
    return QString::fromStdString(mac.toString());
}

QString status(ZelNetworkStatus status)
{
    return QString::fromStdString(ZelUtil::networkStatusStr(status));
}

} // namespace CorlaText
