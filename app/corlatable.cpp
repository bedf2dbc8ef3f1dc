// SPDX-License-Identifier: Apache-2.0
// SPDX-FileCopyrightText: 2026 The Corla developers
#include "corlatable.h"

#include "corlacsv.h"

#include <QHostAddress>
#include <QPainter>

#include <cmath>

namespace {

// The window's way to a fitting address, after the net layer's off-network note.
QString withConfigureHint(const QString& offNetworkNote)
{
    return offNetworkNote.isEmpty()
               ? offNetworkNote
               : offNetworkNote + QStringLiteral("; Configure can give it an address there");
}

// Relative luminance as the WCAG defines it, for choosing a readable text colour.
double luminance(const QColor& colour)
{
    const auto channel = [](double c) {
        return c <= 0.03928 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4);
    };
    return 0.2126 * channel(colour.redF()) + 0.7152 * channel(colour.greenF()) +
           0.0722 * channel(colour.blueF());
}

const char* const CheckCable = "Check the cable and that the device is powered.";

const char* const StatusWords[CorlaStatusCount] = {
    "Reachable", "Refused", "No answer", "No IP", "Off-network", "Conflict", "Waiting",
};

// Indexed by CorlaStatus.
const QColor StatusColours[CorlaStatusCount] = {
    QColor(0, 255, 0),     // Reachable: green
    QColor(255, 165, 0),   // Refused: orange
    QColor(255, 255, 0),   // No answer: yellow
    QColor(255, 0, 0),     // No IP: red
    QColor(200, 160, 255), // Off-network: violet
    QColor(255, 0, 255),   // Conflict: magenta
    QColor(160, 160, 164), // Waiting: grey
};

int statusIndex(CorlaStatus status)
{
    const int i = int(status);
    return i >= 0 && i < CorlaStatusCount ? i : int(CorlaStatus::Waiting);
}

const char* const HeaderTexts[CorlaTableModel::ColumnCount] = {
    QT_TRANSLATE_NOOP("CorlaTableModel", "Status"),
    QT_TRANSLATE_NOOP("CorlaTableModel", "Device Type"),
    QT_TRANSLATE_NOOP("CorlaTableModel", "Serial #"),
    QT_TRANSLATE_NOOP("CorlaTableModel", "IP Address"),
    QT_TRANSLATE_NOOP("CorlaTableModel", "Mode "),
    QT_TRANSLATE_NOOP("CorlaTableModel", "MAC Address"),
    QT_TRANSLATE_NOOP("CorlaTableModel", "Subnet Mask"),
    QT_TRANSLATE_NOOP("CorlaTableModel", "Gateway"),
    QT_TRANSLATE_NOOP("CorlaTableModel", "DNS Server"),
    QT_TRANSLATE_NOOP("CorlaTableModel", "Interface"),
    QT_TRANSLATE_NOOP("CorlaTableModel", "Reason"),
};

// The address a column shows, if it shows one.
std::optional<TevIpAddr> addressOf(const TevDevice& device, int column)
{
    const TevNetHostInfo& net = device.netHostInfo();
    switch (column) {
    case CorlaTableModel::IpColumn:
        return net.ipAddress();
    case CorlaTableModel::SubnetColumn:
        return net.subnetMask();
    case CorlaTableModel::GatewayColumn:
        return net.gateway();
    case CorlaTableModel::DnsColumn:
        return net.dns();
    case CorlaTableModel::InterfaceColumn:
        return device.commsIfaceAddr();
    default:
        return std::nullopt;
    }
}

} // namespace

CorlaTableModel::CorlaTableModel(QObject* parent) : QAbstractTableModel(parent)
{
    connect(&m_list, &CorlaDeviceList::aboutToAppend, this,
            [this](int row) { beginInsertRows(QModelIndex(), row, row); });
    connect(&m_list, &CorlaDeviceList::appended, this, [this] {
        endInsertRows();
        emit deviceListChanged();
    });
    connect(&m_list, &CorlaDeviceList::aboutToClear, this, [this] { beginResetModel(); });
    connect(&m_list, &CorlaDeviceList::cleared, this, [this] {
        endResetModel();
        emit deviceListChanged();
    });
    connect(&m_list, &CorlaDeviceList::settingsChanged, this, [this](int row) {
        emit dataChanged(index(row, StatusColumn), index(row, columnCount() - 1));
    });
    connect(&m_list, &CorlaDeviceList::statusChanged, this, &CorlaTableModel::statusCellsChanged);
    connect(&m_list, &CorlaDeviceList::conflictChanged, this, &CorlaTableModel::statusCellsChanged);
}

int CorlaTableModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : m_list.size();
}

int CorlaTableModel::columnCount(const QModelIndex& parent) const
{
    if (parent.isValid())
        return 0;
    return m_showNetInfo ? ColumnCount : BasicColumnCount;
}

QVariant CorlaTableModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid() || index.row() >= m_list.size())
        return {};
    if (index.column() >= columnCount(index.parent()))
        return {};
    const TevDevice& dev = *m_list.devices().at(index.row());
    const TevNetHostInfo& net = dev.netHostInfo();
    if (index.column() == StatusColumn) {
        switch (role) {
        case Qt::DisplayRole:
        case Qt::EditRole:
            return corlaStatusWord(status(dev));
        case Qt::ToolTipRole:
        case Qt::AccessibleTextRole:
            return statusExplanation(dev);
        case SortRole:
        case StatusRole:
            return int(status(dev));
        case ConflictRole:
            return m_list.isConflicting(net.macAddress());
        default:
            return {};
        }
    }
    if (role == ConflictRole)
        return false;
    const std::optional<TevIpAddr> address = addressOf(dev, index.column());
    if (role == SortRole) {
        if (address)
            return uint(address->toInt());
        role = Qt::DisplayRole;
    }
    if (role != Qt::DisplayRole && role != Qt::EditRole)
        return {};

    if (address)
        return CorlaText::address(*address);
    switch (index.column()) {
    case TypeColumn:
        return CorlaText::deviceType(dev.devType());
    case SerialColumn:
        // An unsigned int, not a ushort: the sort proxy compares ushort values as text.
        return static_cast<uint>(dev.serial());
    case ModeColumn:
        return CorlaText::addressMode(net.addressMode());
    case MacColumn:
        return CorlaText::mac(net.macAddress());
    case ReasonColumn:
        return statusExplanation(dev).simplified();
    default:
        return {};
    }
}

QVariant CorlaTableModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (role != Qt::DisplayRole)
        return {};
    if (orientation == Qt::Horizontal && section >= 0 && section < ColumnCount)
        return tr(HeaderTexts[section]);
    return section;
}

// Cells are selectable and enabled, never editable. The root reports no flags at
// all: item-model consumers take any root flag other than drop-enabled as an error.
Qt::ItemFlags CorlaTableModel::flags(const QModelIndex& index) const
{
    if (!index.isValid())
        return Qt::NoItemFlags;
    return QAbstractTableModel::flags(index);
}

std::shared_ptr<TevDevice> CorlaTableModel::deviceAtIndex(const QModelIndex& index) const
{
    const int row = index.row();
    if (row < 0 || row >= m_list.size())
        return nullptr;
    return m_list.devices().at(row);
}

QString CorlaTableModel::toCsv() const
{
    return devicesCsv(m_list.devices());
}

void CorlaTableModel::setShowNetInfo(bool show)
{
    if (show == m_showNetInfo)
        return;
    // Views must hear of the columns that come and go.
    if (show)
        beginInsertColumns(QModelIndex(), BasicColumnCount, ColumnCount - 1);
    else
        beginRemoveColumns(QModelIndex(), BasicColumnCount, ColumnCount - 1);
    m_showNetInfo = show;
    if (show)
        endInsertColumns();
    else
        endRemoveColumns();
}

QString corlaStatusWord(CorlaStatus status)
{
    return QString::fromLatin1(StatusWords[statusIndex(status)]);
}

QColor corlaStatusColour(CorlaStatus status)
{
    return StatusColours[statusIndex(status)];
}

QColor corlaStatusTextColour(CorlaStatus status)
{
    // Contrast with black (L + 0.05) / 0.05 against white 1.05 / (L + 0.05): black wins from
    // L = 0.179 up.
    return luminance(corlaStatusColour(status)) >= 0.179 ? QColor(Qt::black) : QColor(Qt::white);
}

void CorlaItemDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option,
                              const QModelIndex& index) const
{
    if (index.column() != CorlaTableModel::StatusColumn) {
        QStyledItemDelegate::paint(painter, option, index);
        return;
    }

    const QVariant value = index.data(CorlaTableModel::StatusRole);
    const auto status = value.isValid() ? CorlaStatus(value.toInt()) : CorlaStatus::Waiting;
    painter->save();
    painter->fillRect(option.rect, corlaStatusColour(status));
    const QRect textRect = option.rect.adjusted(4, 0, -4, 0);
    painter->setFont(option.font);
    painter->setPen(corlaStatusTextColour(status));
    painter->drawText(
        textRect, Qt::AlignLeft | Qt::AlignVCenter,
        option.fontMetrics.elidedText(index.data().toString(), Qt::ElideRight, textRect.width()));
    // Selection must not look like a verdict: the colour stays, a frame marks the row.
    if (option.state & QStyle::State_Selected) {
        const QPalette::ColorGroup group =
            option.state & QStyle::State_Active ? QPalette::Active : QPalette::Inactive;
        QPen frame(option.palette.color(group, QPalette::Highlight), 2);
        frame.setJoinStyle(Qt::MiterJoin);
        painter->setPen(frame);
        painter->setBrush(Qt::NoBrush);
        painter->drawRect(QRectF(option.rect).adjusted(1, 1, -1, -1));
    }
    painter->restore();
}

void CorlaTableModel::setProbeReason(const TevDevice& device, ZelProbeReason reason)
{
    Reason& stored = m_reasons[corlaMacKey(device.netHostInfo().macAddress())];
    stored = Reason{};
    stored.probe = reason;
    stored.probedIp = device.netHostInfo().ipAddress().toInt();
    // Asks the system for its interfaces: only where the answer can matter.
    if (reason == ZelProbeReason::NoAnswer || reason == ZelProbeReason::HostUnreachable ||
        reason == ZelProbeReason::NoRoute)
        stored.offNetwork = withConfigureHint(zelOffNetworkNote(device));
    reasonChanged(device.netHostInfo().macAddress());
}

void CorlaTableModel::setStatusReason(const TevMacAddr& mac, const QString& reason)
{
    Reason& stored = m_reasons[corlaMacKey(mac)];
    stored = Reason{};
    stored.text = reason;
    reasonChanged(mac);
}

void CorlaTableModel::reasonChanged(const TevMacAddr& mac)
{
    const int row = m_list.rowOf(mac);
    if (row >= 0)
        statusCellsChanged(row);
}

void CorlaTableModel::statusCellsChanged(int row)
{
    // Two notices, one per cell: a notice spanning the columns between would make a sort
    // proxy sorted by any of them move the row, for each probe of a long list.
    emit dataChanged(index(row, StatusColumn), index(row, StatusColumn));
    if (m_showNetInfo)
        emit dataChanged(index(row, ReasonColumn), index(row, ReasonColumn));
}

void CorlaTableModel::clearStatusReasons()
{
    m_reasons.clear();
}

CorlaStatus CorlaTableModel::status(const TevDevice& device) const
{
    const TevMacAddr& mac = device.netHostInfo().macAddress();
    if (m_list.isConflicting(mac))
        return CorlaStatus::Conflict;
    const auto found = m_reasons.constFind(corlaMacKey(mac));
    const Reason* reason = found == m_reasons.constEnd() ? nullptr : &*found;
    switch (device.netStat()) {
    case ZelNetworkStatus::Reachable:
        return CorlaStatus::Reachable;
    case ZelNetworkStatus::NoIp:
        return CorlaStatus::NoIp;
    case ZelNetworkStatus::Pending:
        return CorlaStatus::Waiting;
    case ZelNetworkStatus::NotFound:
        // Not probed yet, or silent in the latest enquiry.
        return reason ? CorlaStatus::NoAnswer : CorlaStatus::Waiting;
    case ZelNetworkStatus::Unreachable:
        break;
    }
    if (!reason || !reason->probe)
        return CorlaStatus::NoAnswer;
    switch (*reason->probe) {
    case ZelProbeReason::Refused:
        return CorlaStatus::Refused;
    case ZelProbeReason::NoAddress:
    case ZelProbeReason::NotProbed:
        return CorlaStatus::NoIp;
    case ZelProbeReason::NoRoute:
        return CorlaStatus::OffNetwork;
    default:
        return reason->offNetwork.isEmpty() ? CorlaStatus::NoAnswer : CorlaStatus::OffNetwork;
    }
}

QString CorlaTableModel::statusExplanation(const TevDevice& device) const
{
    const TevMacAddr& mac = device.netHostInfo().macAddress();
    if (const auto conflict = m_list.conflict(mac))
        return conflict->text();
    const auto found = m_reasons.constFind(corlaMacKey(mac));
    const Reason reason = found == m_reasons.constEnd() ? Reason{} : *found;
    const ZelProbeReason probe = reason.probe.value_or(ZelProbeReason::Waiting);
    const QString ip = QHostAddress(reason.probedIp).toString();
    switch (status(device)) {
    case CorlaStatus::Reachable:
        return QStringLiteral("Reachable: TCP port 21 accepted a connection.");
    case CorlaStatus::Refused:
        return QStringLiteral("Refused: the device is there but turned away a connection on TCP "
                              "port 21. Wait until it has finished starting, or reset it.");
    case CorlaStatus::NoAnswer:
        if (!reason.text.isEmpty())
            return reason.text.left(1).toUpper() + reason.text.mid(1) + QStringLiteral(". ") +
                   QLatin1String(CheckCable);
        if (probe == ZelProbeReason::HostUnreachable)
            return QStringLiteral("No answer: nothing on the network answers for %1. ").arg(ip) +
                   QLatin1String(CheckCable);
        return QStringLiteral(
            "No answer on TCP port 21: check the cable and that the device is powered.");
    case CorlaStatus::NoIp:
        if (probe == ZelProbeReason::NotProbed && !zelNonHostAddress(reason.probedIp).isEmpty())
            return QStringLiteral("No IP address a device can have: %1 is %2. Give it one with "
                                  "Configure.")
                .arg(ip, zelNonHostAddress(reason.probedIp));
        return QStringLiteral("No IP address: give the device one with Configure, or check that "
                              "its DHCP server is running.");
    case CorlaStatus::OffNetwork:
        if (!reason.offNetwork.isEmpty())
            return QStringLiteral("Off-network: ") + reason.offNetwork + QLatin1Char('.');
        return QStringLiteral("Off-network: this computer has no route to %1. Give the device "
                              "an address on this computer's network with Configure.")
            .arg(ip);
    case CorlaStatus::Conflict:
    case CorlaStatus::Waiting:
        break;
    }
    const QString note = withConfigureHint(zelOffNetworkNote(device));
    return QStringLiteral("Waiting for a probe") +
           (note.isEmpty() ? QString() : QStringLiteral("; ") + note);
}
