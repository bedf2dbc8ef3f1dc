#include "corlamainwin.h"
#include "corlasnapshot.h"
#include "descriptorlimit.h"

#include <QApplication>
#include <QFile>

int main(int argc, char* argv[])
{
    // Before any socket: the port probes size themselves by it.
    corlaRaiseDescriptorLimit();
    // Qt's own event dispatcher: GLib's walks its lists of socket notifiers and timers on
    // every pass, which a few hundred port probes at once made the window's bottleneck.
    if (!qEnvironmentVariableIsSet("QT_NO_GLIB"))
        qputenv("QT_NO_GLIB", "1");
    QApplication app(argc, argv);
    ZelCorlaAdapter adapter;
    ZelConnectionChecker checker;
    const CorlaChangeLog changeLog(CorlaChangeLog::defaultPath());
    MainWindow window(&adapter, &checker);
    window.setChangeLog(&changeLog);
    QApplication::setApplicationVersion(QLatin1String(MainWindow::Version));

    QFile styleFile(QStringLiteral(":/stylesheet.qss"));
    styleFile.open(QIODevice::ReadOnly);
    const QByteArray style = styleFile.readAll();
    // Latin-1 up to the first zero byte, as the sheet has always been read.
    app.setStyleSheet(QString::fromLatin1(style.constData(),
                                          int(qstrnlen(style.constData(), uint(style.size())))));

    window.show();
    scheduleSnapshotFromEnvironment(window);
    return app.exec();
}
