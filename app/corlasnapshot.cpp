#include "corlasnapshot.h"
#include "corlalog.h"

#include "corlacsv.h"
#include "corlamainwin.h"
#include "zelutil.h"

#include <QApplication>
#include <QDialog>
#include <QFile>
#include <QPixmap>
#include <QTextStream>
#include <QTimer>
#include <QtDebug>

namespace {

void writeRows(const CorlaTableModel& model, const QString& fileName)
{
    QFile file(fileName);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Text)) {
        qCWarning(corlaUi) << "snapshot: cannot write" << fileName;
        return;
    }
    QTextStream out(&file);
    // The export lines in list order, each behind the row's reachability value.
    for (const auto& device : model.deviceList())
        out << int(device->netStat()) << ',' << csvLine(*device) << '\n';
}

void snapshotConfigDialog(MainWindow& window, const QString& fileName)
{
    std::shared_ptr<TevDevice> device;
    for (const auto& d : window.model().deviceList())
        if (d->netStat() == ZelNetworkStatus::Reachable) {
            device = d;
            break;
        }
    if (!device)
        return;
    QTimer::singleShot(500, &window, [fileName] {
        if (auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget())) {
            dialog->grab().save(fileName);
            dialog->reject();
        }
    });
    window.openConfigDialog(*device);
}

} // namespace

void scheduleSnapshotFromEnvironment(MainWindow& window)
{
    const QString file = qEnvironmentVariable("CORLA_SNAPSHOT");
    if (file.isEmpty())
        return;
    bool ok = false;
    int delay = qEnvironmentVariableIntValue("CORLA_SNAPSHOT_AFTER_MS", &ok);
    if (!ok)
        delay = 6000;
    QTimer::singleShot(delay, &window, [&window, file] {
        writeRows(window.model(), file + QStringLiteral(".rows"));
        window.grab().save(file);
        if (qEnvironmentVariableIsSet("CORLA_SNAPSHOT_DIALOG")) {
            QString base = file;
            if (base.endsWith(QLatin1String(".png")))
                base.chop(4);
            snapshotConfigDialog(window, base + QStringLiteral("-config.png"));
        }
        QApplication::quit();
    });
}
