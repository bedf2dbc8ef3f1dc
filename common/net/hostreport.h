#pragma once
// What this computer can tell about why no device answers a discovery, read without root
// and without sending anything: the local interfaces and their IPv4 addresses, whether a
// host firewall is active, and what to do about each finding. The window's empty list and
// `corla-cli doctor` show the same lines.

#include <QString>
#include <QStringList>

namespace corla {

struct HostReport
{
    QStringList lines;         // for a person, in order
    bool problemFound = false; // something here can keep devices from being heard
};

HostReport readHostReport();

// The report as lines for a person.
QStringList hostReportLines(const HostReport& report);

} // namespace corla
