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
    void imageLoads_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QSize>("size");
        QTest::newRow("refresh") << ":/img/Refresh_flat_64px_1.png" << QSize(64, 64);
        QTest::newRow("clear") << ":/img/clear_2_64px.png" << QSize(64, 64);
        QTest::newRow("export") << ":/img/export_2_48px.png" << QSize(48, 48);
        QTest::newRow("gear blue") << ":/img/gear_blue_48px_1.png" << QSize(48, 48);
        QTest::newRow("gear grey") << ":/img/gear_grey_48px.png" << QSize(48, 48);
        QTest::newRow("restart") << ":/img/Restart_52px_1.png" << QSize(52, 52);
        QTest::newRow("settings, path with a space")
            << ":/img/Settings 3_52px.png" << QSize(52, 52);
        QTest::newRow("globe") << ":/img/globe_64.png" << QSize(64, 64);
        // Through the SVG image plugin, at the logo button's proportions.
        QTest::newRow("logo") << ":/brand/tev-logo-new-text-horiz.svg" << QSize(230, 90);
        // The window icon is the installed application icon's source.
        QTest::newRow("window icon") << ":/icons/corla.svg" << QSize(64, 64);
    }

    void imageLoads()
    {
        QFETCH(QString, path);
        QFETCH(QSize, size);
        const QImage image(path);
        QVERIFY2(!image.isNull(), qPrintable(path));
        QCOMPARE(image.size(), size);
        QVERIFY(image.hasAlphaChannel());
        // Drawn, not blank: some pixel is opaque.
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
