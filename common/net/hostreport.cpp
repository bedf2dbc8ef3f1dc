#include "hostreport.h"

namespace corla {

HostReport readHostReport()
{
    return HostReport{};
}

QStringList hostReportLines(const HostReport& report)
{
    return report.lines;
}

} // namespace corla
