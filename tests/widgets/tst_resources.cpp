#include <QApplication>
#include <QDialog>
#include <QFile>
#include <QImage>
#include <QImageReader>
#include <QPainter>
#include <QPushButton>
#include <QSvgRenderer>
#include <QtTest>

namespace {
const char* const kLogo = ":/brand/tev-logo-new-text-horiz.svg";
const char* const kStyleSheet = ":/stylesheet.qss";

QString readAll(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return QString();
    return QString::fromLatin1(file.readAll());
}

QStringList g_styleWarnings;

void captureStyleWarnings(QtMsgType type, const QMessageLogContext&, const QString& msg)
{
    if (type == QtWarningMsg || type == QtCriticalMsg)
        g_styleWarnings << msg;
}
} // namespace

// The collection is linked in as objects and registers itself before main;
// nothing here calls Q_INIT_RESOURCE.
class TstResources : public QObject
{
    Q_OBJECT

private slots:
    void iconLoads_data();
    void iconLoads();
    void logoRendersAtButtonSize();
    void logoLoadsThroughImagePlugin();
    void styleSheetCarriesPalette_data();
    void styleSheetCarriesPalette();
    void styleSheetParsesAndApplies();
};

void TstResources::iconLoads_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<int>("size");
    QTest::newRow("refresh") << ":/img/Refresh_flat_64px_1.png" << 64;
    QTest::newRow("clear") << ":/img/clear_2_64px.png" << 64;
    QTest::newRow("export") << ":/img/export_2_48px.png" << 48;
    QTest::newRow("gear blue") << ":/img/gear_blue_48px_1.png" << 48;
    QTest::newRow("gear grey") << ":/img/gear_grey_48px.png" << 48;
    QTest::newRow("restart") << ":/img/Restart_52px_1.png" << 52;
    QTest::newRow("settings, path with a space") << ":/img/Settings 3_52px.png" << 52;
    QTest::newRow("globe") << ":/img/globe_64.png" << 64;
}

void TstResources::iconLoads()
{
    QFETCH(QString, path);
    QFETCH(int, size);
    QVERIFY(QFile::exists(path));
    const QImage image(path);
    QVERIFY(!image.isNull());
    QCOMPARE(image.size(), QSize(size, size));
    QVERIFY(image.hasAlphaChannel());
    // Drawn, not blank: some pixel is opaque.
    bool opaque = false;
    for (int y = 0; y < image.height() && !opaque; ++y) {
        for (int x = 0; x < image.width() && !opaque; ++x)
            opaque = qAlpha(image.pixel(x, y)) == 255;
    }
    QVERIFY(opaque);
}

void TstResources::logoRendersAtButtonSize()
{
    QFile file(kLogo);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QSvgRenderer renderer(file.readAll());
    QVERIFY(renderer.isValid());
    QImage image(115, 45, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    renderer.render(&painter);
    painter.end();
    int drawn = 0;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x)
            drawn += qAlpha(image.pixel(x, y)) > 128 ? 1 : 0;
    }
    // The word needs real ink at this size, yet leaves most of the button clear.
    QVERIFY2(drawn > 115 * 45 / 10, qPrintable(QString::number(drawn)));
    QVERIFY2(drawn < 115 * 45 / 2, qPrintable(QString::number(drawn)));
}

void TstResources::logoLoadsThroughImagePlugin()
{
    QImageReader reader(kLogo);
    QVERIFY2(reader.canRead(), qPrintable(reader.errorString()));
    const QImage image = reader.read();
    QVERIFY(!image.isNull());
    QCOMPARE(image.width() * 45, image.height() * 115);
}

void TstResources::styleSheetCarriesPalette_data()
{
    QTest::addColumn<QString>("text");
    QTest::newRow("window") << "#C3D9EC";
    QTest::newRow("panels") << "#EAEFFF";
    QTest::newRow("borders") << "#779BC4";
    QTest::newRow("button border") << "#6692C1";
    QTest::newRow("hover") << "#C1DDF2";
    QTest::newRow("selection") << "khaki";
    QTest::newRow("focused selection") << "LightGoldenrodYellow";
    QTest::newRow("logo button") << "accessibleName=\"logoImage\"";
    QTest::newRow("gear button") << "accessibleName=\"gearIcon\"";
}

void TstResources::styleSheetCarriesPalette()
{
    QFETCH(QString, text);
    const QString sheet = readAll(kStyleSheet);
    QVERIFY(!sheet.isEmpty());
    QVERIFY2(sheet.contains(text, Qt::CaseInsensitive), qPrintable(text));
}

void TstResources::styleSheetParsesAndApplies()
{
    g_styleWarnings.clear();
    QtMessageHandler previous = qInstallMessageHandler(captureStyleWarnings);
    qApp->setStyleSheet(readAll(kStyleSheet));
    QDialog dialog;
    QPushButton button("Refresh", &dialog);
    dialog.ensurePolished();
    button.ensurePolished();
    const QColor window = dialog.palette().color(dialog.backgroundRole());
    qInstallMessageHandler(previous);
    qApp->setStyleSheet(QString());

    QVERIFY2(g_styleWarnings.isEmpty(), qPrintable(g_styleWarnings.join('\n')));
    QCOMPARE(window, QColor("#C3D9EC"));
}

QTEST_MAIN(TstResources)
#include "tst_resources.moc"
