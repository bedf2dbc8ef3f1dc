#include "cliformat.h"

#include "corlatable.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <algorithm>

namespace {

QString text(const std::string& s)
{
    return QString::fromStdString(s);
}

// The device list's own model in output order: its cells and CSV are the texts printed.
class OutputModel
{
public:
    explicit OutputModel(const CliDeviceList& devices)
    {
        for (const auto& device : devices)
            m_model.addDevice(device);
    }
    int rows() const { return m_model.rowCount(); }
    QString cell(int row, int column) const
    {
        return m_model.data(m_model.index(row, column)).toString();
    }
    // Header texts without the padding some carry in the window.
    QString header(int column) const
    {
        return m_model.headerData(column, Qt::Horizontal).toString().trimmed();
    }
    const TevDevice& device(int row) const { return *m_model.deviceList().at(row); }
    QString csv() const { return m_model.toCsv(); }

private:
    CorlaTableModel m_model;
};

const int ListedColumns[] = {CorlaTableModel::TypeColumn, CorlaTableModel::SerialColumn,
                             CorlaTableModel::IpColumn, CorlaTableModel::ModeColumn,
                             CorlaTableModel::MacColumn};

QString statusText(const TevDevice& device)
{
    return text(ZelUtil::networkStatusStr(device.netStat()));
}

} // namespace

void mergeAnswer(CorlaTableModel* list, const std::shared_ptr<TevDevice>& answer)
{
    if (!answer)
        return;
    if (list->containsDevice(*answer))
        list->updateDeviceConfig(*answer, answer->netHostInfo());
    else
        list->addDevice(answer);
}

CliDeviceList sortedForOutput(CliDeviceList devices)
{
    std::stable_sort(devices.begin(), devices.end(), [](const auto& a, const auto& b) {
        if (a->serial() != b->serial())
            return a->serial() < b->serial();
        return a->netHostInfo().macAddress().octets() < b->netHostInfo().macAddress().octets();
    });
    return devices;
}

QString formatDevices(const CliDeviceList& devices, CliFormat format, bool withStatus)
{
    switch (format) {
    case CliFormat::Csv:
        return formatCsv(devices);
    case CliFormat::Json:
        return formatJson(devices, withStatus);
    case CliFormat::Table:
        break;
    }
    return formatTable(devices, withStatus);
}

QString formatTable(const CliDeviceList& devices, bool withStatus)
{
    const OutputModel model(devices);
    QList<QStringList> lines;
    QStringList header;
    if (withStatus)
        header << QStringLiteral("Status");
    for (int column : ListedColumns)
        header << model.header(column);
    header << QStringLiteral("Interface");
    lines << header;
    for (int row = 0; row < model.rows(); ++row) {
        QStringList line;
        if (withStatus)
            line << statusText(model.device(row));
        for (int column : ListedColumns)
            line << model.cell(row, column);
        line << text(model.device(row).commsIfaceAddr().toString());
        lines << line;
    }

    QVector<int> widths(header.size(), 0);
    for (const QStringList& line : qAsConst(lines)) {
        for (int i = 0; i < line.size(); ++i)
            widths[i] = std::max(widths[i], int(line.at(i).size()));
    }
    QString out;
    for (const QStringList& line : qAsConst(lines)) {
        QString row;
        for (int i = 0; i < line.size(); ++i)
            row += i + 1 < line.size() ? line.at(i).leftJustified(widths.at(i) + 2) : line.at(i);
        out += row + QLatin1Char('\n');
    }
    return out;
}

QString formatCsv(const CliDeviceList& devices)
{
    return OutputModel(devices).csv();
}

QString formatJson(const CliDeviceList& devices, bool withStatus)
{
    const OutputModel model(devices);
    QJsonArray array;
    for (int row = 0; row < model.rows(); ++row) {
        const TevDevice& device = model.device(row);
        const TevNetHostInfo& net = device.netHostInfo();
        QJsonObject o{
            {"serial", int(device.serial())},
            {"deviceType", model.cell(row, CorlaTableModel::TypeColumn)},
            {"deviceTypeCode", int(device.devType())},
            {"ipAddress", text(net.ipAddress().toString())},
            {"subnetMask", text(net.subnetMask().toString())},
            {"gateway", text(net.gateway().toString())},
            {"dnsServer", text(net.dns().toString())},
            {"addressMode", model.cell(row, CorlaTableModel::ModeColumn)},
            {"macAddress", text(net.macAddress().toString())},
            {"interface", text(device.commsIfaceAddr().toString())},
        };
        if (withStatus)
            o.insert("status", statusText(device));
        array.append(o);
    }
    return QString::fromUtf8(QJsonDocument(array).toJson(QJsonDocument::Indented));
}

QString settingsText(const TevNetHostInfo& settings)
{
    QString mode;
    switch (settings.addressMode()) {
    case TevAddressModeAuto:
        mode = QStringLiteral("DHCP");
        break;
    case TevAddressModeManual:
        mode = QStringLiteral("static");
        break;
    default:
        mode = QStringLiteral("mode %1").arg(uint(settings.addressMode()));
        break;
    }
    return QStringLiteral("%1 %2 mask %3 gateway %4 DNS %5")
        .arg(mode, text(settings.ipAddress().toString()), text(settings.subnetMask().toString()),
             text(settings.gateway().toString()), text(settings.dns().toString()));
}
