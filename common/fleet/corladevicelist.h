#pragma once
// The devices that answered, one entry per MAC address in the order they were first
// heard, with each one's reachability. The window's table and corla-cli keep their
// devices here, so a repeated answer merges the same way in both.

#include "zeldevice.h"

#include <QList>
#include <QMultiHash>
#include <QObject>
#include <QString>
#include <QVector>

#include <memory>

// A MAC address as one number, for hashing and ordering.
quint64 corlaMacKey(const TevMacAddr& mac);

class CorlaDeviceList : public QObject
{
    Q_OBJECT

public:
    using Devices = QList<std::shared_ptr<TevDevice>>;

    explicit CorlaDeviceList(QObject* parent = nullptr);

    // Never holds an empty pointer.
    const Devices& devices() const { return m_devices; }
    int size() const { return m_devices.size(); }
    // First entry with this MAC address: its row, or -1; the record, or an empty pointer.
    int rowOf(const TevMacAddr& mac) const;
    std::shared_ptr<TevDevice> find(const TevMacAddr& mac) const;
    bool contains(const TevMacAddr& mac) const { return rowOf(mac) >= 0; }

    // Appends unless the pointer is empty or its MAC address is listed; true if appended.
    bool append(std::shared_ptr<TevDevice> device);
    // An enquiry answer: a device already listed (same MAC) takes the answer's settings as
    // updateSettings does, keeping its own record (type, serial, the interface it was
    // first heard on); a new one is appended.
    void merge(const std::shared_ptr<TevDevice>& answer);
    // The entry with this MAC address takes the settings and becomes Pending until it is
    // probed again; false if none is listed. Settings with another MAC move the entry.
    bool updateSettings(const TevMacAddr& mac, const TevNetHostInfo& settings);
    // Every entry with this MAC address takes the status.
    void setStatus(const TevMacAddr& mac, ZelNetworkStatus status);
    void clear();

    // By serial number, then MAC address, so that repeated runs list the same order.
    Devices sortedBySerial() const;

signals:
    // Around every change, so that an item model can announce it to its views.
    void aboutToAppend(int row);
    void appended(int row);
    void aboutToClear();
    void cleared();
    void settingsChanged(int row);
    void statusChanged(int row);

private:
    // Rows holding this MAC address, in list order (normally at most one).
    QVector<int> rowsOf(const TevMacAddr& mac) const;
    void rebuildMacIndex();

    Devices m_devices;
    // MAC address -> rows, so that a fleet of thousands is not searched row by row for
    // every answer and probe result. Entries change their MAC address only through
    // updateSettings, which keeps the index up to date.
    QMultiHash<quint64, int> m_rowsByMac;
};

// A device's fields as the list shows them: in the window, the export and corla-cli.
namespace CorlaText {
QString deviceType(ZelDeviceType type);   // "Nerio HF", "Unrecognized Device"
QString addressMode(TevAddressMode mode); // "DHCP", "Static", "Unknown"
QString address(const TevIpAddr& address);
QString mac(const TevMacAddr& mac);
QString status(ZelNetworkStatus status); // "Reachable", "Unreachable", "NoIp", ...
} // namespace CorlaText
