#pragma once
// The device list as the window's table: one row per entry of a CorlaDeviceList, and the
// delegate that paints a row's reachability as a coloured cell.

#include "corladevicelist.h"

#include <QAbstractTableModel>
#include <QHash>
#include <QStyledItemDelegate>

#include <memory>

class CorlaTableModel : public QAbstractTableModel
{
    Q_OBJECT

public:
    enum Column
    {
        StatusColumn = 0,
        TypeColumn,
        SerialColumn,
        IpColumn,
        ModeColumn,
        MacColumn,
        NetInfoColumnCount
    };
    static constexpr int BasicColumnCount = 3;
    // On the status cell: true while two senders disagree about the row's device.
    static constexpr int ConflictRole = Qt::UserRole + 1;
    // What a sort proxy compares: numbers for the address and serial columns.
    static constexpr int SortRole = Qt::UserRole + 2;

    explicit CorlaTableModel(QObject* parent = nullptr);

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;

    // The devices behind the rows. Every change made through it reaches the views.
    CorlaDeviceList& list() { return m_list; }
    const CorlaDeviceList& list() const { return m_list; }

    // Row of this (source) model; the column is not looked at.
    std::shared_ptr<TevDevice> deviceAtIndex(const QModelIndex& index) const;
    std::shared_ptr<TevDevice> device(const TevMacAddr& mac) const { return m_list.find(mac); }
    const CorlaDeviceList::Devices& deviceList() const { return m_list.devices(); }
    int numDevices() const { return m_list.size(); }
    // The export of the whole list in row order.
    QString toCsv() const;

    bool showNetInfo() const { return m_showNetInfo; }
    void setShowNetInfo(bool show);

    // Why the row has its colour: the status cell's tooltip and accessible text. A row
    // without one (not probed yet, or pending again) is waiting for a probe; a conflicting
    // row tells of its conflict instead.
    void setStatusReason(const TevMacAddr& mac, const QString& reason);
    void clearStatusReasons();

signals:
    // After rows were appended and after a clear, never for changes inside a row.
    void deviceListChanged();

private:
    QString statusExplanation(const TevDevice& device) const;

    CorlaDeviceList m_list;
    bool m_showNetInfo = true;
    QHash<QString, QString> m_reasons; // by MAC text
};

// Paints column 0 as a solid cell in the colour of the row's network status, marked
// "Conflict" while the row is conflicting.
class CorlaItemDelegate : public QStyledItemDelegate
{
    Q_OBJECT

public:
    using QStyledItemDelegate::QStyledItemDelegate;

    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override;
};
