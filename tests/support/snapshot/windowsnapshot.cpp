// SPDX-License-Identifier: Apache-2.0
// SPDX-FileCopyrightText: 2026 The Corla developers
#include "tests/support/snapshot/windowsnapshot.h"
#include "core/net/logging.h"

#include "core/fleet/csv.h"
#include "core/net/devicetypes.h"
#include "ui/mainwindow.h"

#include <QApplication>
#include <QDialog>
#include <QFile>
#include <QPixmap>
#include <QTextStream>
#include <QTimer>
#include <QtDebug>

#include <algorithm>
#include <memory>

namespace corla {

namespace {

void writeRows(const DeviceTableModel& model, const QString& fileName)
{
    QFile file(fileName);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Text)) {
        qCWarning(logUi) << "snapshot: cannot write" << fileName;
        return;
    }
    QTextStream out(&file);
    // The export lines in list order, each behind the row's reachability value.
    for (const auto& device : model.deviceList())
        out << int(device->netStat()) << ',' << csvLine(*device) << '\n';
}

void snapshotConfigDialog(MainWindow& window, const QString& fileName)
{
    std::shared_ptr<Device> device;
    for (const auto& d : window.model().deviceList())
        if (d->netStat() == Reachability::Reachable) {
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

// Some rows, and none waiting for a first or a new probe.
bool allProbed(const DeviceTableModel& model)
{
    const auto& devices = model.deviceList();
    return !devices.isEmpty() && std::none_of(devices.begin(), devices.end(), [](const auto& d) {
        return d->netStat() == Reachability::Pending || d->netStat() == Reachability::NotFound;
    });
}

} // namespace

void scheduleSnapshotFromEnvironment(MainWindow& window)
{
    const QString file = qEnvironmentVariable("CORLA_SNAPSHOT");
    if (file.isEmpty())
        return;
    bool ok = false;
    int limit = qEnvironmentVariableIntValue("CORLA_SNAPSHOT_AFTER_MS", &ok);
    if (!ok)
        limit = 6000;
    // The dialog's snapshot runs a nested event loop in which the other timer may fire.
    auto taken = std::make_shared<bool>(false);
    const auto take = [&window, file, taken] {
        if (*taken)
            return;
        *taken = true;
        writeRows(window.model(), file + QStringLiteral(".rows"));
        window.grab().save(file);
        if (qEnvironmentVariableIsSet("CORLA_SNAPSHOT_DIALOG")) {
            QString base = file;
            if (base.endsWith(QLatin1String(".png")))
                base.chop(4);
            snapshotConfigDialog(window, base + QStringLiteral("-config.png"));
        }
        QApplication::quit();
    };
    QTimer::singleShot(limit, &window, take);

    // A fixed wait is either long or flaky under load: every change to the rows restarts a
    // quiet period, and once one passes with every row probed the snapshot need not wait.
    // CORLA_SNAPSHOT_QUIET_MS: a longer quiet period where other work may hold the
    // simulator up for seconds (a test beside other tests).
    int quietMs = qEnvironmentVariableIntValue("CORLA_SNAPSHOT_QUIET_MS", &ok);
    if (!ok || quietMs <= 0)
        quietMs = 2000;
    auto* quiet = new QTimer(&window);
    quiet->setSingleShot(true);
    quiet->setInterval(quietMs);
    const DeviceTableModel* model = &window.model();
    const auto restart = [quiet] { quiet->start(); };
    QObject::connect(model, &QAbstractItemModel::rowsInserted, quiet, restart);
    QObject::connect(model, &QAbstractItemModel::dataChanged, quiet, restart);
    QObject::connect(model, &QAbstractItemModel::modelReset, quiet, restart);
    QObject::connect(quiet, &QTimer::timeout, &window, [model, take] {
        if (allProbed(*model))
            take();
    });
}

} // namespace corla
