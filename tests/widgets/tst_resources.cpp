// SPDX-License-Identifier: Apache-2.0
// SPDX-FileCopyrightText: 2026 The Corla developers
#include <QtTest>
#include <QtWidgets>

// The collection is linked in as objects and registers itself before main;
// nothing here calls Q_INIT_RESOURCE.
class TstResources : public QObject
{
    Q_OBJECT

private slots:
    // Each image the window shows loads (the SVG ones through the image plugin) and is
    // drawn, not blank.
    void imageLoads_data()
    {
        QTest::addColumn<QString>("path");
        for (const char* path :
             {":/img/Refresh_flat_64px_1.png", ":/img/clear_2_64px.png", ":/img/export_2_48px.png",
              ":/img/gear_blue_48px_1.png", ":/img/gear_grey_48px.png", ":/img/Restart_52px_1.png",
              ":/img/Settings 3_52px.png", ":/img/globe_64.png",
              ":/brand/tev-logo-new-text-horiz.svg", ":/icons/corla.svg"})
            QTest::newRow(path) << QString::fromUtf8(path);
    }

    void imageLoads()
    {
        QFETCH(QString, path);
        const QImage image(path);
        QVERIFY2(!image.isNull(), qPrintable(path));
        bool opaque = false;
        for (int y = 0; y < image.height() && !opaque; ++y) {
            for (int x = 0; x < image.width() && !opaque; ++x)
                opaque = qAlpha(image.pixel(x, y)) == 255;
        }
        QVERIFY(opaque);
    }

    void styleSheetParsesAndApplies()
    {
        QFile file(QStringLiteral(":/stylesheet.qss"));
        QVERIFY(file.open(QIODevice::ReadOnly));
        static QStringList warnings;
        const QtMessageHandler previous = qInstallMessageHandler(
            [](QtMsgType type, const QMessageLogContext&, const QString& msg) {
                if (type == QtWarningMsg || type == QtCriticalMsg)
                    warnings << msg;
            });
        qApp->setStyleSheet(QString::fromLatin1(file.readAll()));
        QDialog dialog;
        QPushButton button(QStringLiteral("Refresh"), &dialog);
        dialog.ensurePolished();
        qInstallMessageHandler(previous);
        qApp->setStyleSheet(QString());

        QVERIFY2(warnings.isEmpty(), qPrintable(warnings.join('\n')));
    }
};

QTEST_MAIN(TstResources)
#include "tst_resources.moc"
