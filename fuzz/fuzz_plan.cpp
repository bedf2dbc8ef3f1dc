// SPDX-License-Identifier: Apache-2.0
// SPDX-FileCopyrightText: 2026 The Corla developers
// Commissioning plans as a spreadsheet, a script or a damaged disk may leave them, read by
// readPlan. Faults and rows name lines the input has, rows in file order; a plan without
// faults names a device; no message holds a control character; the rows read, written back
// as a six-column plan (UTF-8, and UTF-16 with a byte-order mark), read back the same.
// fromRawData keeps the input in libFuzzer's buffer, so AddressSanitizer sees overreads.

#include "core/fleet/csv.h"
#include "core/fleet/devicelist.h"
#include "core/fleet/plan.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <cstdio>
#include <cstdlib>

using namespace corla;

namespace {

[[noreturn]] void broken(const char* what, const QString& detail = QString())
{
    std::fprintf(stderr, "fuzz_plan: invariant broken: %s%s%s\n", what,
                 detail.isEmpty() ? "" : ": ", detail.toUtf8().constData());
    std::abort();
}

QString shown(const PlanRow& row)
{
    const NetworkSettings& p = row.planned;
    return QStringLiteral("line %1: %2 %3 %4 %5 %6 %7")
        .arg(row.line)
        .arg(DisplayText::mac(p.macAddress()), DisplayText::addressMode(p.addressMode()),
             DisplayText::address(p.ipAddress()), DisplayText::address(p.subnetMask()),
             DisplayText::address(p.gateway()), DisplayText::address(p.dns()));
}

QString faultList(const Plan& plan)
{
    QStringList texts;
    for (const PlanFault& fault : plan.faults)
        texts << fault.text();
    return texts.join(QLatin1String(" | "));
}

bool hasControl(const QString& text)
{
    for (const QChar c : text)
        if (c.unicode() < 0x20 || (c.unicode() >= 0x7f && c.unicode() <= 0x9f))
            return true;
    return false;
}

QByteArray utf16le(const QString& text)
{
    QByteArray bytes("\xFF\xFE");
    for (const QChar c : text)
        bytes.append(char(c.unicode() & 0xff)).append(char(c.unicode() >> 8));
    return bytes;
}

void checkReadsBack(const Plan& plan, const QByteArray& file, const char* encoding)
{
    const Plan again = readPlan(file);
    if (!again.ok())
        broken("rows written back are refused", QLatin1String(encoding) + ": " + faultList(again));
    if (again.rows.size() != plan.rows.size())
        broken("rows written back read as another number of rows", QLatin1String(encoding));
    for (int i = 0; i < plan.rows.size(); ++i) {
        PlanRow expected = plan.rows.at(i);
        expected.line = i + 2;
        if (shown(again.rows.at(i)) != shown(expected))
            broken("a row written back reads differently", QLatin1String(encoding) + ": " +
                                                               shown(expected) + " became " +
                                                               shown(again.rows.at(i)));
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size > 1 << 20)
        return 0;
    const QByteArray input =
        QByteArray::fromRawData(reinterpret_cast<const char*>(data), int(size));
    const Plan plan = readPlan(input);

    // Each line end holds a CR or an LF byte, whatever the encoding.
    int lines = 1;
    for (size_t i = 0; i < size; ++i)
        lines += data[i] == '\n' || data[i] == '\r';
    for (const PlanFault& fault : plan.faults) {
        if (fault.line < 1 || fault.line > lines)
            broken("a fault names a line the input does not have", fault.text());
        if (hasControl(fault.message))
            broken("a message holds a control character", fault.text());
    }
    int previous = 0;
    for (const PlanRow& row : plan.rows) {
        if (row.line <= previous || row.line > lines)
            broken("a row's line is out of order or past the input", shown(row));
        previous = row.line;
    }
    if (plan.ok() && plan.rows.isEmpty())
        broken("a plan without faults names no device");
    if (plan.rows.isEmpty())
        return 0;

    // The rows read so far, faults or not, are each a plan of their own.
    QString csv = QStringLiteral("MAC Address,IP Address,Subnet Mask,Gateway,DNS Server,"
                                 "Address mode\r\n");
    for (const PlanRow& row : plan.rows)
        csv += csvRecord(QStringList{DisplayText::mac(row.planned.macAddress())} +
                         csvSettingFields(row.planned)) +
               QLatin1String("\r\n");
    checkReadsBack(plan, csv.toUtf8(), "UTF-8");
    checkReadsBack(plan, utf16le(csv), "UTF-16");
    return 0;
}
