#include "corlatable.h"

#include "zelconnectionchecker.h"

#include "corlacsv.h"

#include <QColor>
#include <QPainter>

#include <iterator>

namespace {

const char* const HeaderTexts[CorlaTableModel::NetInfoColumnCount] = {
    "",
    QT_TRANSLATE_NOOP("CorlaTableModel", "Device Type"),
    QT_TRANSLATE_NOOP("CorlaTableModel", "Serial #"),
    QT_TRANSLATE_NOOP("CorlaTableModel", "IP Address"),
    QT_TRANSLATE_NOOP("CorlaTableModel", "Mode "),
    QT_TRANSLATE_NOOP("CorlaTableModel", "MAC Address"),
};

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
    const auto statusCellChanged = [this](int row) {
        const QModelIndex cell = index(row, StatusColumn);
        emit dataChanged(cell, cell);
    };
    connect(&m_list, &CorlaDeviceList::statusChanged, this, statusCellChanged);
    connect(&m_list, &CorlaDeviceList::conflictChanged, this, statusCellChanged);
}

int CorlaTableModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : m_list.size();
}

int CorlaTableModel::columnCount(const QModelIndex& parent) const
{
    if (parent.isValid())
        return 0;
    return m_showNetInfo ? NetInfoColumnCount : BasicColumnCount;
}

QVariant CorlaTableModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid() || index.row() >= m_list.size())
        return {};
    if (index.column() >= columnCount(index.parent()))
        return {};
    const TevDevice& dev = *m_list.devices().at(index.row());
    if ((role == Qt::ToolTipRole || role == Qt::AccessibleTextRole) &&
        index.column() == StatusColumn)
        return statusExplanation(dev);
    if (role == ConflictRole)
        return index.column() == StatusColumn &&
               m_list.isConflicting(dev.netHostInfo().macAddress());
    if (role != Qt::DisplayRole && role != Qt::EditRole)
        return {};

    const TevNetHostInfo& net = dev.netHostInfo();
    switch (index.column()) {
    case StatusColumn:
        return static_cast<int>(dev.netStat());
    case TypeColumn:
        return CorlaText::deviceType(dev.devType());
    case SerialColumn:
        // An unsigned int, not a ushort: the sort proxy compares ushort values as text.
        return static_cast<uint>(dev.serial());
    case IpColumn:
        return CorlaText::address(net.ipAddress());
    case ModeColumn:
        return CorlaText::addressMode(net.addressMode());
    case MacColumn:
        return CorlaText::mac(net.macAddress());
    default:
        return {};
    }
}

QVariant CorlaTableModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (role != Qt::DisplayRole)
        return {};
    if (orientation == Qt::Horizontal && section >= 0 && section < NetInfoColumnCount)
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
        beginInsertColumns(QModelIndex(), BasicColumnCount, NetInfoColumnCount - 1);
    else
        beginRemoveColumns(QModelIndex(), BasicColumnCount, NetInfoColumnCount - 1);
    m_showNetInfo = show;
    if (show)
        endInsertColumns();
    else
        endRemoveColumns();
}

void CorlaItemDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option,
                              const QModelIndex& index) const
{
    if (index.column() != CorlaTableModel::StatusColumn) {
        QStyledItemDelegate::paint(painter, option, index);
        return;
    }

    // Indexed by ZelNetworkStatus: Reachable, Unreachable, NoIp, Pending.
    static const QColor statusColours[] = {QColor(0, 255, 0), QColor(255, 255, 0),
                                           QColor(255, 0, 0), QColor(160, 160, 164)};
    const int status = index.data().toInt();
    const bool known = status >= 0 && status < int(std::size(statusColours));
    const QColor colour = known ? statusColours[status] : QColor(255, 255, 255);
    painter->save();
    painter->fillRect(option.rect, QBrush(colour));
    if (index.data(CorlaTableModel::ConflictRole).toBool()) {
        painter->setPen(Qt::black);
        painter->drawText(option.rect, Qt::AlignCenter, QStringLiteral("Conflict"));
    }
    painter->restore();
}

void CorlaTableModel::setStatusReason(const TevMacAddr& mac, const QString& reason)
{
    m_reasons.insert(CorlaText::mac(mac), reason);
    const int row = m_list.rowOf(mac);
    if (row >= 0)
        emit dataChanged(index(row, StatusColumn), index(row, StatusColumn),
                         {Qt::ToolTipRole, Qt::AccessibleTextRole});
}

void CorlaTableModel::clearStatusReasons()
{
    m_reasons.clear();
}

QString CorlaTableModel::statusExplanation(const TevDevice& device) const
{
    if (const auto conflict = m_list.conflict(device.netHostInfo().macAddress()))
        return conflict->text();
    const ZelNetworkStatus status = device.netStat();
    const QString reason = m_reasons.value(CorlaText::mac(device.netHostInfo().macAddress()));
    if (status == ZelNetworkStatus::Pending || reason.isEmpty()) {
        const QString note = zelOffNetworkNote(device);
        return QStringLiteral("Waiting for a probe") +
               (note.isEmpty() ? QString() : QStringLiteral("; ") + note);
    }
    return CorlaText::status(status) + QStringLiteral(": ") + reason;
}
