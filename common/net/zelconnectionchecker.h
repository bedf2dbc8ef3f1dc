#pragma once
// Does a TCP port of a device accept a connection within a time limit?

#include "zeldevice.h"

#include <QObject>

class ZelConnectionChecker : public QObject
{
    Q_OBJECT
public:
    static constexpr int kDefaultTimeoutMs = 4000;

    explicit ZelConnectionChecker(QObject* parent = nullptr);

    int connectionTimeout() const { return m_connectionTimeout; }
    void setConnectionTimeout(const int& ms) { m_connectionTimeout = ms; }

    // Starts one check and returns at once; a device without an address is reported
    // before this returns, every other outcome from the event loop afterwards. Every outcome emits
    // netHostStatus, then portStatus.
    //
    // A refusal is reported at once and, since the time limit keeps running, once more
    // when it expires. When the limit passes first the attempt goes on, and its late
    // outcome is reported as well. Checks still running when the checker is destroyed
    // report nothing more; their socket and timer still end by themselves.
    void checkPort(const TevDevice& device, ZelPort port);

signals:
    void netHostStatus(const TevDevice& device, ZelPort port, ZelNetworkStatus status);
    void portStatus(const TevDevice& device, ZelPort port, ZelPortConnStatus status);

private:
    void report(const TevDevice& device, ZelPort port, ZelNetworkStatus netStatus,
                ZelPortConnStatus portStatus);
    void reportLater(const TevDevice& device, ZelPort port, ZelNetworkStatus netStatus,
                     ZelPortConnStatus portStatus);

    int m_connectionTimeout = kDefaultTimeoutMs;
    QObject m_checks; // the sockets and timers of checks in flight
};
