// SPDX-License-Identifier: Apache-2.0
// SPDX-FileCopyrightText: 2026 The Corla developers
#include "core/fleet/plan.h"

#include "core/fleet/devicelist.h"
#include "core/fleet/displaytext.h"
#include "core/fleet/settingsrules.h"

#include <QHash>
#include <QStringList>

#include <algorithm>
#include <optional>
#include <set>

namespace corla {

namespace {

QString macText(const MacAddress& mac)
{
    return DisplayText::mac(mac);
}

// One record of the file: its fields as written (unquoted, untrimmed).
struct Record
{
    int line = 0;
    QStringList fields;
    int faultLine = 0; // nonzero: the record cannot be read, for `fault`
    QString fault;

    bool isBlank() const
    {
        return std::all_of(fields.begin(), fields.end(),
                           [](const QString& f) { return f.trimmed().isEmpty(); });
    }
};

bool isBlankChar(QChar c)
{
    return c == QLatin1Char(' ') || c == QLatin1Char('\t');
}

// `separator`: the comma, or what the header line uses instead.
QVector<Record> splitRecords(const QString& text, QChar separator)
{
    enum State
    {
        FieldStart,
        Unquoted,
        Quoted,
        AfterQuote,
    };
    QVector<Record> records;
    int line = 1;
    int lineStart = 0; // where `line` begins in text, for the column of a NUL
    Record record;
    record.line = line;
    QString field;
    State state = FieldStart;
    int quoteLine = 0;

    const auto endField = [&] {
        record.fields << field;
        field.clear();
        state = FieldStart;
    };
    const auto endRecord = [&] {
        endField();
        records << record;
        record = Record();
        record.line = line;
    };
    const auto fail = [&](int at, const QString& why) {
        if (record.fault.isEmpty()) {
            record.faultLine = at;
            record.fault = why;
        }
    };

    const int n = text.size();
    for (int i = 0; i < n; ++i) {
        const QChar c = text.at(i);
        const QChar next = i + 1 < n ? text.at(i + 1) : QChar();
        // CRLF counts as one line end; its LF does the counting.
        if (c == QLatin1Char('\r') && next == QLatin1Char('\n')) {
            if (state == Quoted)
                field += c;
            continue;
        }
        const bool lineEnd = c == QLatin1Char('\n') || c == QLatin1Char('\r');
        if (c.isNull())
            fail(line, QStringLiteral("a NUL character at column %1: a plan holds text only")
                           .arg(i - lineStart + 1));
        if (lineEnd) {
            ++line;
            lineStart = i + 1;
        }
        switch (state) {
        case Quoted:
            if (c != QLatin1Char('"'))
                field += c;
            else if (next == QLatin1Char('"'))
                field += text.at(++i);
            else
                state = AfterQuote;
            break;
        case FieldStart:
        case Unquoted:
        case AfterQuote:
            if (c == separator)
                endField();
            else if (lineEnd)
                endRecord();
            else if (state == FieldStart && c == QLatin1Char('"')) {
                // Blanks ahead of the opening quote are the spreadsheet's, not the value's.
                field.clear();
                state = Quoted;
                quoteLine = line;
            } else if (state == AfterQuote && !isBlankChar(c)) {
                fail(line, QStringLiteral("text after the closing quote of a field (a double "
                                          "quote inside a quoted field is written twice)"));
                field += c;
                state = Unquoted;
            } else if (state != AfterQuote) {
                field += c;
                if (!isBlankChar(c))
                    state = Unquoted;
            }
            break;
        }
    }
    if (state == Quoted)
        fail(quoteLine, QStringLiteral("a quoted field opened on this line is never closed"));
    if (!record.fields.isEmpty() || !field.isEmpty() || state != FieldStart)
        endRecord();
    return records;
}

// The index of the first byte of data[0, size) that does not begin a well-formed UTF-8
// sequence (overlong forms, surrogates and code points past U+10FFFF are not), or -1.
int firstInvalidUtf8(const uchar* data, int size)
{
    for (int i = 0; i < size;) {
        const uchar b = data[i];
        if (b < 0x80) {
            ++i;
            continue;
        }
        int length = 0;
        uint code = 0;
        if (b >= 0xc2 && b <= 0xdf)
            length = 2, code = b & 0x1f;
        else if (b >= 0xe0 && b <= 0xef)
            length = 3, code = b & 0x0f;
        else if (b >= 0xf0 && b <= 0xf4)
            length = 4, code = b & 0x07;
        else
            return i;
        if (length > size - i)
            return i;
        for (int k = 1; k < length; ++k) {
            if ((data[i + k] & 0xc0) != 0x80)
                return i;
            code = code << 6 | (data[i + k] & 0x3f);
        }
        if ((length == 3 && (code < 0x800 || (code >= 0xd800 && code <= 0xdfff))) ||
            (length == 4 && (code < 0x10000 || code > 0x10ffff)))
            return i;
        i += length;
    }
    return -1;
}

// UTF-16 code units, in the byte order of the mark, taken as they are: QString's own
// conversion would act on a byte-order mark further in. A lone surrogate leaves
// *badByte at the index of its first byte.
QString fromUtf16Bytes(const QByteArray& bytes, int from, bool bigEndian, int* badByte)
{
    const int units = (bytes.size() - from) / 2;
    QString text(units, Qt::Uninitialized);
    QChar* out = text.data();
    *badByte = -1;
    for (int k = 0; k < units; ++k) {
        const uchar a = uchar(bytes.at(from + 2 * k)), b = uchar(bytes.at(from + 2 * k + 1));
        out[k] = QChar(bigEndian ? ushort(a << 8 | b) : ushort(b << 8 | a));
    }
    for (int k = 0; k < units && *badByte < 0; ++k) {
        const QChar c = out[k];
        if (c.isHighSurrogate() && k + 1 < units && out[k + 1].isLowSurrogate())
            ++k;
        else if (c.isSurrogate())
            *badByte = from + 2 * k;
    }
    return text;
}

// Text as a spreadsheet saves it has line ends and tabs, but no other C0 control byte:
// the index of the first one, or -1.
int firstBinaryByte(const QByteArray& bytes)
{
    const auto at = std::find_if(bytes.begin(), bytes.end(), [](char c) {
        return uchar(c) < 0x20 && c != '\n' && c != '\r' && c != '\t';
    });
    return at == bytes.end() ? -1 : int(at - bytes.begin());
}

// A file whose first bytes are ASCII each beside a zero byte is UTF-16 saved without
// the byte-order mark that tells its byte order.
bool looksLikeUtf16WithoutMark(const QByteArray& bytes)
{
    const int checked = std::min(bytes.size(), 64) & ~1;
    if (checked < 4)
        return false;
    for (const int zeroAt : {0, 1}) {
        bool fits = true;
        for (int i = 0; i < checked && fits; ++i)
            fits = (bytes.at(i) == 0) == (i % 2 == zeroAt);
        if (fits)
            return true;
    }
    return false;
}

PlanFault notText(const QString& what)
{
    return PlanFault{1, QStringLiteral("not text: ") + what};
}

// The plan's text, or no text and the one fault that says what the bytes look like.
// Byte positions in faults count from 1, like lines and columns.
std::optional<QString> decodePlan(const QByteArray& bytes, QVector<PlanFault>* faults)
{
    const auto startsWith = [&](const char* mark, int size) {
        return bytes.size() >= size && std::equal(mark, mark + size, bytes.constData());
    };
    if (startsWith("\xFF\xFE\0\0", 4) || startsWith("\0\0\xFE\xFF", 4)) {
        *faults << notText(QStringLiteral("UTF-32, which a plan cannot be; save it as UTF-8 "
                                          "or UTF-16"));
        return std::nullopt;
    }
    const bool littleEndian = startsWith("\xFF\xFE", 2), bigEndian = startsWith("\xFE\xFF", 2);
    if (littleEndian || bigEndian) {
        int badByte = -1;
        const QString text = fromUtf16Bytes(bytes, 2, bigEndian, &badByte);
        if (badByte < 0 && bytes.size() % 2 != 0)
            badByte = bytes.size() - 1;
        if (badByte >= 0) {
            *faults << notText(
                QStringLiteral("UTF-16 broken by binary data at byte %1").arg(badByte + 1));
            return std::nullopt;
        }
        return text;
    }
    if (looksLikeUtf16WithoutMark(bytes)) {
        *faults << notText(QStringLiteral("UTF-16 without a byte-order mark, which cannot be "
                                          "told from binary data; save it as UTF-8, or as "
                                          "UTF-16 with a byte-order mark"));
        return std::nullopt;
    }
    const int from = startsWith("\xEF\xBB\xBF", 3) ? 3 : 0;
    const auto* data = reinterpret_cast<const uchar*>(bytes.constData());
    const int bad = firstInvalidUtf8(data + from, bytes.size() - from);
    if (bad < 0)
        return QString::fromUtf8(bytes.constData() + from, bytes.size() - from);
    const int at = from + bad;
    const int binaryAt = firstBinaryByte(bytes);
    if (binaryAt >= 0) {
        *faults << notText(
            QStringLiteral("binary data at byte %1").arg(std::min(at, binaryAt) + 1));
        return std::nullopt;
    }
    // Text in a legacy 8-bit encoding, as older spreadsheets save it: said on its line.
    int line = 1, lineStart = 0;
    for (int i = 0; i < at; ++i) {
        if (data[i] == '\n' || (data[i] == '\r' && data[i + 1] != '\n')) {
            ++line;
            lineStart = i + 1;
        }
    }
    *faults << PlanFault{line, QStringLiteral("not UTF-8 text: byte 0x%1 at column %2 "
                                              "(byte %3); save the plan as UTF-8")
                                   .arg(data[at], 2, 16, QLatin1Char('0'))
                                   .arg(at - lineStart + 1)
                                   .arg(at + 1)};
    return std::nullopt;
}

enum Column
{
    MacColumn,
    ModeColumn,
    IpColumn,
    MaskColumn,
    GatewayColumn,
    DnsColumn,
    ColumnCount,
};

const char* const ColumnNames[ColumnCount] = {"MAC Address", "Address mode", "IP Address",
                                              "Subnet Mask", "Gateway",      "DNS Server"};
const bool ColumnRequired[ColumnCount] = {true, true, true, true, false, false};

// Where the plan reads one row, and what it already holds from the rows above.
class RowReader
{
public:
    RowReader(const int* columns, int headerSize, Plan* plan)
        : m_columns(columns), m_headerSize(headerSize), m_plan(plan)
    {}

    void read(const Record& record)
    {
        m_line = record.line;
        m_fields = record.fields;
        if (m_fields.size() > m_headerSize) {
            const bool extraCellsEmpty =
                std::all_of(m_fields.begin() + m_headerSize, m_fields.end(),
                            [](const QString& f) { return f.trimmed().isEmpty(); });
            // Columns shifted by an unquoted comma would put every value in the wrong field.
            if (!extraCellsEmpty) {
                fault(QStringLiteral("%1 fields, but the header names %2 columns (is a comma "
                                     "inside a field not quoted?)")
                          .arg(m_fields.size())
                          .arg(m_headerSize));
                return;
            }
        }
        const int faultsBefore = m_plan->faults.size();
        m_row = PlanRow{m_line, NetworkSettings(), {}, {}};
        m_row.planned.setMacAddress(readMac());
        m_row.planned.setAddressMode(readMode());
        if (m_row.planned.addressMode() != AddressModeDhcp)
            readAddresses(&m_row.planned);
        if (m_plan->faults.size() == faultsBefore)
            m_plan->rows << m_row;
    }

private:
    QString cell(Column column) const
    {
        const int at = m_columns[column];
        return at >= 0 && at < m_fields.size() ? m_fields.at(at).trimmed() : QString();
    }

    // Every message of a row may quote its cells, and a cell may hold anything a
    // spreadsheet lets through: control characters are shown by their codes.
    void fault(const QString& message)
    {
        m_plan->faults << PlanFault{m_line, escapedForDisplay(message)};
    }

    // A value no device can be given, but one a device may report and the export write.
    void faultUnlessAsFound(const QString& message)
    {
        m_row.unlessAsFound << escapedForDisplay(message);
    }

    QString emptyCell(Column column) const
    {
        return QStringLiteral("%1 is empty").arg(QLatin1String(ColumnNames[column]));
    }

    MacAddress readMac()
    {
        const QString text = cell(MacColumn);
        MacAddress mac;
        if (text.isEmpty()) {
            fault(emptyCell(MacColumn));
            return mac;
        }
        if (!MacAddress::parse(text.toStdString(), &mac)) {
            fault(QStringLiteral("MAC Address: ") + checkMacText(text, &mac));
            return mac;
        }
        const QString why = checkMacText(text, &mac);
        if (!why.isEmpty())
            faultUnlessAsFound(QStringLiteral("MAC Address: ") + why);
        if (isGroupMac(mac))
            faultUnlessAsFound(QStringLiteral("MAC Address: %1 is a broadcast or multicast "
                                              "address, which no single device has")
                                   .arg(text));
        const int firstLine = m_macLines.value(macKey(mac), 0);
        if (firstLine > 0)
            fault(QStringLiteral("MAC Address: %1 is planned on line %2 already")
                      .arg(macText(mac))
                      .arg(firstLine));
        else
            m_macLines.insert(macKey(mac), m_line);
        return mac;
    }

    AddressMode readMode()
    {
        const QString text = cell(ModeColumn);
        for (const AddressMode mode : {AddressModeDhcp, AddressModeStatic})
            if (text.compare(DisplayText::addressMode(mode), Qt::CaseInsensitive) == 0)
                return mode;
        const QString neither =
            QStringLiteral("Address mode: \"%1\" is neither DHCP nor Static").arg(text);
        // What the export writes for a device that reports no mode.
        if (text.compare(DisplayText::addressMode(AddressModeNotSet), Qt::CaseInsensitive) == 0)
            faultUnlessAsFound(neither);
        else
            fault(text.isEmpty() ? emptyCell(ModeColumn) + QStringLiteral(" (DHCP or Static)")
                                 : neither);
        return AddressModeNotSet;
    }

    // A required address cell of a static row; false when it holds no address. A text
    // that is no address at all is a fault; an address that breaks a device's rules only
    // may be one (*ruleOk false).
    bool readRequired(Column column, Ipv4Address* out, bool* ruleOk)
    {
        *ruleOk = false;
        const QString text = cell(column);
        if (text.isEmpty()) {
            fault(emptyCell(column) + QStringLiteral(" (a static row needs it)"));
            return false;
        }
        const QString name = QLatin1String(ColumnNames[column]);
        QString why = checkIpText(text, name, out);
        if (!why.isEmpty()) {
            fault(why);
            return false;
        }
        Ipv4Address checked;
        if (column == IpColumn) {
            why = checkHostAddressText(text, name, &checked);
        } else {
            why = checkMaskText(text, name, &checked);
        }
        if (!why.isEmpty())
            faultUnlessAsFound(why);
        *ruleOk = why.isEmpty();
        return true;
    }

    // An empty optional cell means none.
    bool readOptional(Column column, Ipv4Address* out)
    {
        const QString text = cell(column);
        if (text.isEmpty()) {
            *out = Ipv4Address();
            return true;
        }
        const QString why = checkIpText(text, QLatin1String(ColumnNames[column]), out);
        if (!why.isEmpty())
            fault(why);
        return why.isEmpty();
    }

    // The four address cells of a static row, or of a row of the mode Unknown, which can
    // only stand as its device reports it: there every cell is optional (none: 0.0.0.0).
    void readAddresses(NetworkSettings* planned)
    {
        Ipv4Address ip, mask, gateway, dns;
        if (planned->addressMode() != AddressModeStatic) {
            readOptional(IpColumn, &ip);
            readOptional(MaskColumn, &mask);
            readOptional(GatewayColumn, &gateway);
            readOptional(DnsColumn, &dns);
            planned->setIpAddress(ip);
            planned->setSubnet(mask);
            planned->setGateway(gateway);
            planned->setDns(dns);
            return;
        }
        bool ipOk = false, maskOk = false;
        const bool ipRead = readRequired(IpColumn, &ip, &ipOk);
        readRequired(MaskColumn, &mask, &maskOk);
        readOptional(GatewayColumn, &gateway);
        readOptional(DnsColumn, &dns);
        if (maskOk && mask.toInt() == 0) {
            // The pane allows it as "no mask yet"; a device refuses it as its subnet.
            faultUnlessAsFound(QStringLiteral("Subnet Mask: 0.0.0.0 leaves the device no network"));
            maskOk = false;
        }
        if (ipOk && maskOk) {
            const uint32_t host = ip.toInt() & ~mask.toInt();
            const QString ofMask = QStringLiteral("IP Address: %1 is the %2 address of its "
                                                  "network under the mask %3");
            if (host == 0)
                faultUnlessAsFound(ofMask.arg(DisplayText::address(ip), QStringLiteral("network"),
                                              DisplayText::address(mask)));
            else if (host == ~mask.toInt())
                faultUnlessAsFound(ofMask.arg(DisplayText::address(ip), QStringLiteral("broadcast"),
                                              DisplayText::address(mask)));
        }
        // Two devices the export lists at one address keep it, each as found.
        const int firstLine = m_ipLines.value(ip.toInt(), 0);
        if (ipRead && firstLine > 0) {
            faultUnlessAsFound(QStringLiteral("IP Address: %1 is planned on line %2 already")
                                   .arg(DisplayText::address(ip))
                                   .arg(firstLine));
            m_row.unlessAlsoAsFound << firstLine;
        } else if (ipRead) {
            m_ipLines.insert(ip.toInt(), m_line);
        }
        planned->setIpAddress(ip);
        planned->setSubnet(mask);
        planned->setGateway(gateway);
        planned->setDns(dns);
    }

    const int* m_columns;
    int m_headerSize;
    Plan* m_plan;
    QHash<quint64, int> m_macLines; // MAC -> the line that plans it first
    QHash<uint32_t, int> m_ipLines; // static address -> the line that plans it first
    int m_line = 0;
    QStringList m_fields;
    PlanRow m_row; // the row being read
};

// The first record that is not blank, or end.
QVector<Record>::const_iterator headerRecord(const QVector<Record>& records)
{
    auto record = records.begin();
    while (record != records.end() && record->fault.isEmpty() && record->isBlank())
        ++record;
    return record;
}

// How many of the columns a plan needs the header names.
int requiredColumnsNamed(const QVector<Record>& records)
{
    const auto header = headerRecord(records);
    if (header == records.end())
        return 0;
    int named = 0;
    for (int column = 0; column < ColumnCount; ++column) {
        const QLatin1String name(ColumnNames[column]);
        named += ColumnRequired[column] &&
                 std::any_of(header->fields.begin(), header->fields.end(), [&](const QString& f) {
                     return f.trimmed().compare(name, Qt::CaseInsensitive) == 0;
                 });
    }
    return named;
}

} // namespace

QString PlanFault::text() const
{
    return QStringLiteral("line %1: %2").arg(line).arg(message);
}

bool isGroupMac(const MacAddress& mac)
{
    // Octet 5 is the first pair of the text form, the first octet on the wire.
    return (mac.octet(5) & 0x01) != 0;
}

Plan readPlan(const QByteArray& bytes)
{
    Plan plan;
    const std::optional<QString> text = decodePlan(bytes, &plan.faults);
    if (!text)
        return plan;
    // The header line names the separator: the one under which it names the most required
    // columns, the comma when that is a tie, so that the faults speak of the usual case.
    const QVector<Record> records = [&text] {
        QVector<Record> best = splitRecords(*text, QLatin1Char(','));
        int bestNamed = requiredColumnsNamed(best);
        for (const QChar separator : {QLatin1Char(';'), QLatin1Char('\t')}) {
            if (bestNamed ==
                int(std::count(std::begin(ColumnRequired), std::end(ColumnRequired), true)))
                break;
            QVector<Record> split = splitRecords(*text, separator);
            const int named = requiredColumnsNamed(split);
            if (named > bestNamed) {
                best = std::move(split);
                bestNamed = named;
            }
        }
        return best;
    }();

    auto record = headerRecord(records);
    if (record == records.end()) {
        plan.faults << PlanFault{1, QStringLiteral("the plan is empty: it has no header "
                                                   "line")};
        return plan;
    }
    if (!record->fault.isEmpty()) {
        plan.faults << PlanFault{record->faultLine, record->fault};
        return plan;
    }

    const Record& header = *record++;
    int columns[ColumnCount];
    for (int column = 0; column < ColumnCount; ++column) {
        columns[column] = -1;
        const QLatin1String name(ColumnNames[column]);
        for (int at = 0; at < header.fields.size(); ++at) {
            if (header.fields.at(at).trimmed().compare(name, Qt::CaseInsensitive) != 0)
                continue;
            if (columns[column] >= 0)
                plan.faults << PlanFault{header.line,
                                         QStringLiteral("the header names \"%1\" twice "
                                                        "(columns %2 and %3)")
                                             .arg(name)
                                             .arg(columns[column] + 1)
                                             .arg(at + 1)};
            else
                columns[column] = at;
        }
        if (columns[column] < 0 && ColumnRequired[column])
            plan.faults << PlanFault{
                header.line, QStringLiteral("the header has no \"%1\" column "
                                            "(columns are separated by commas, semicolons or tabs)")
                                 .arg(name)};
    }
    if (!plan.faults.isEmpty())
        return plan;

    RowReader reader(columns, header.fields.size(), &plan);
    bool anyRow = false;
    for (; record != records.end(); ++record) {
        if (!record->fault.isEmpty()) {
            plan.faults << PlanFault{record->faultLine, record->fault};
            anyRow = true;
            continue;
        }
        if (record->isBlank())
            continue;
        anyRow = true;
        reader.read(*record);
    }
    if (!anyRow)
        plan.faults << PlanFault{header.line,
                                 QStringLiteral("the plan names no device below its header")};
    return plan;
}

QVector<PlanFault> planFaultsAgainst(const Plan& plan, const QVector<NetworkSettings>& found)
{
    QHash<int, const PlanRow*> rowAt;
    for (const PlanRow& row : plan.rows)
        rowAt.insert(row.line, &row);
    // Whether the row's device answered with other settings than the row says.
    const auto differs = [&](const PlanRow* row) {
        return row && rowState(*row, found) == PlanRowState::ToChange;
    };
    QVector<PlanFault> faults;
    for (const PlanRow& row : plan.rows) {
        QString why;
        if (differs(&row))
            why = QStringLiteral(" (its device reports other settings: the row asks for a change)");
        for (int line : row.unlessAlsoAsFound) {
            if (why.isEmpty() && differs(rowAt.value(line)))
                why = QStringLiteral(" (the device of line %1 reports other settings: that row "
                                     "asks for a change)")
                          .arg(line);
        }
        if (why.isEmpty())
            continue;
        for (const QString& message : row.unlessAsFound)
            faults << PlanFault{row.line, message + why};
    }
    return faults;
}

bool isAsPlanned(const NetworkSettings& planned, const NetworkSettings& current)
{
    if (planned.addressMode() != current.addressMode())
        return false;
    if (planned.addressMode() == AddressModeDhcp)
        return true;
    return planned.ipAddress() == current.ipAddress() &&
           planned.subnetMask() == current.subnetMask() && planned.gateway() == current.gateway() &&
           planned.dns() == current.dns();
}

PlanRowState rowState(const PlanRow& row, const QVector<NetworkSettings>& found)
{
    const auto current =
        std::find_if(found.begin(), found.end(), [&](const NetworkSettings& device) {
            return device.macAddress() == row.planned.macAddress();
        });
    if (current == found.end())
        return PlanRowState::NotFound;
    return isAsPlanned(row.planned, *current) ? PlanRowState::AlreadyAsPlanned
                                              : PlanRowState::ToChange;
}

QVector<Ipv4Address> ChangeOrder::addressesBeingLeft() const
{
    QVector<Ipv4Address> addresses;
    for (const PlanStep& step : steps)
        if (!step.leftBy.isEmpty() && !addresses.contains(step.row.planned.ipAddress()))
            addresses << step.row.planned.ipAddress();
    return addresses;
}

ChangeOrder orderChanges(const QVector<PlanRow>& changes, const QVector<NetworkSettings>& found)
{
    const int n = changes.size();
    const auto mac = [&](int i) { return changes.at(i).planned.macAddress(); };
    const auto who = [&](int i) {
        return QStringLiteral("%1 (line %2)").arg(macText(mac(i))).arg(changes.at(i).line);
    };
    const auto target = [&](int i) {
        return DisplayText::address(changes.at(i).planned.ipAddress());
    };

    QHash<quint64, int> changeOf;
    for (int i = n - 1; i >= 0; --i)
        changeOf.insert(macKey(mac(i)), i);

    // Change i may be sent once every change in waitsFor[i] is; it never may while a
    // found device that stays put holds its address (stayer[i]).
    QVector<QVector<int>> waitsFor(n), waitedForBy(n);
    QVector<const NetworkSettings*> stayer(n, nullptr);
    for (int i = 0; i < n; ++i) {
        const NetworkSettings& planned = changes.at(i).planned;
        if (planned.addressMode() != AddressModeStatic)
            continue;
        for (const NetworkSettings& holder : found) {
            if (holder.ipAddress() != planned.ipAddress() || holder.macAddress() == mac(i))
                continue;
            const int j = changeOf.value(macKey(holder.macAddress()), -1);
            const bool leaves =
                j >= 0 && (changes.at(j).planned.addressMode() != AddressModeStatic ||
                           changes.at(j).planned.ipAddress() != planned.ipAddress());
            if (!leaves) {
                if (!stayer[i])
                    stayer[i] = &holder;
            } else if (!waitsFor[i].contains(j)) {
                waitsFor[i] << j;
                waitedForBy[j] << i;
            }
        }
    }

    ChangeOrder order;
    QVector<int> unsent(n);
    std::set<int> ready; // by plan order, so that the order does not depend on hashing
    for (int i = 0; i < n; ++i) {
        unsent[i] = waitsFor[i].size();
        if (unsent[i] == 0 && !stayer[i])
            ready.insert(i);
    }
    QVector<bool> placed(n, false);
    while (!ready.empty()) {
        const int i = *ready.begin();
        ready.erase(ready.begin());
        placed[i] = true;
        PlanStep step{changes.at(i), {}};
        for (int j : waitsFor[i])
            step.leftBy << mac(j);
        order.steps << step;
        for (int k : waitedForBy[i])
            if (--unsent[k] == 0 && !stayer[k])
                ready.insert(k);
    }

    // Each unplaced change is blocked by a stayer, sits on a circle, or waits (through
    // others) for one of those: following its first unplaced dependency tells which.
    QVector<bool> judged(n, false);
    QVector<PlanFault> faults;
    const auto faultAt = [&](int i, const QString& message) {
        faults << PlanFault{changes.at(i).line, message};
    };
    const auto firstUnplaced = [&](int i) {
        for (int j : waitsFor[i])
            if (!placed[j])
                return j;
        return -1;
    };
    for (int start = 0; start < n; ++start) {
        if (placed[start] || judged[start])
            continue;
        QVector<int> path;
        int at = start;
        while (at >= 0 && !judged[at] && !stayer[at] && !path.contains(at)) {
            path << at;
            at = firstUnplaced(at);
        }
        int waiting = path.size();
        if (at >= 0 && path.contains(at)) {
            waiting = path.indexOf(at);
            QVector<int> circle = path.mid(waiting);
            std::rotate(circle.begin(), std::min_element(circle.begin(), circle.end()),
                        circle.end());
            QStringList moves;
            for (int c = 0; c < circle.size(); ++c) {
                const int taker = circle.at(c), holder = circle.at((c + 1) % circle.size());
                moves << QStringLiteral("%1 would take %2 from %3")
                             .arg(c == 0 ? who(taker) : QStringLiteral("which"), target(taker),
                                  who(holder));
            }
            const QString why =
                circle.size() == 2
                    ? QStringLiteral("a swap cannot be made one device at a time")
                    : QStringLiteral("these %1 moves wait for each other in a circle")
                          .arg(circle.size());
            faultAt(circle.first(),
                    QStringLiteral("%1: %2, since no device may take an address another still "
                                   "holds; move one of them to a free address first")
                        .arg(moves.join(QStringLiteral(", ")), why));
        } else if (at >= 0 && stayer[at] && !judged[at]) {
            judged[at] = true;
            faultAt(at, QStringLiteral("%1 cannot take %2: %3 holds it and this plan does not "
                                       "move it away")
                            .arg(who(at), target(at), macText(stayer[at]->macAddress())));
        }
        for (int p = 0; p < path.size(); ++p) {
            judged[path.at(p)] = true;
            if (p < waiting)
                faultAt(
                    path.at(p),
                    QStringLiteral("%1 cannot take %2 before %3 leaves it, and that change "
                                   "cannot be made")
                        .arg(who(path.at(p)), target(path.at(p)), who(firstUnplaced(path.at(p)))));
        }
    }
    std::stable_sort(faults.begin(), faults.end(),
                     [](const PlanFault& a, const PlanFault& b) { return a.line < b.line; });
    order.faults = faults;
    return order;
}

} // namespace corla
