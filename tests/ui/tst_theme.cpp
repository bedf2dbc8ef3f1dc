// SPDX-License-Identifier: Apache-2.0
// SPDX-FileCopyrightText: 2026 The Corla developers
// The look: resources, a readable dark palette, a user's sheet, the about box, quiet debug lines.
#include "core/net/logging.h"
#include "corlaversion.h"
#include "tests/support/modalboxhandler.h"
#include "tests/support/testdevice.h"
#include "ui/aboutbox.h"
#include "ui/devicetablemodel.h"
#include "ui/statuslegend.h"

#include <QtTest>
#include <QtWidgets>

#include <cmath>

using namespace corla;

namespace {

// WCAG contrast of the most contrasting pixel of `area` against its most common one (1: none).
double textContrast(const QImage& image, const QRect& area)
{
    const auto luminance = [](QRgb c) {
        double sum = 0.05;
        for (const auto& [v, weight] : {std::pair{qRed(c) / 255.0, 0.2126},
                                        {qGreen(c) / 255.0, 0.7152},
                                        {qBlue(c) / 255.0, 0.0722}})
            sum += weight * (v <= 0.03928 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4));
        return sum;
    };
    QHash<QRgb, int> counts;
    for (int y = area.top(); y <= area.bottom(); ++y)
        for (int x = area.left(); x <= area.right(); ++x)
            ++counts[image.pixel(x, y)];
    const QRgb background = *std::max_element(
        counts.keyBegin(), counts.keyEnd(), [&](QRgb a, QRgb b) { return counts[a] < counts[b]; });
    double best = 1;
    for (const QRgb c : counts.keys())
        best = std::max(
            {best, luminance(c) / luminance(background), luminance(background) / luminance(c)});
    return best;
}

} // namespace

class TestTheme : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QApplication::setStyle(QStyleFactory::create(QStringLiteral("Fusion")));
        m_lightPalette = QApplication::palette();
    }
    void cleanup()
    {
        qApp->setStyleSheet(QString());
        QApplication::setPalette(m_lightPalette);
    }

    // Each image the window shows is linked in (SVG through the image plugin) and draws something.
    void imagesLoad()
    {
        for (const char* path :
             {":/img/Refresh_flat_64px_1.png", ":/img/clear_2_64px.png", ":/img/export_2_48px.png",
              ":/img/gear_blue_48px_1.png", ":/img/gear_grey_48px.png", ":/img/Restart_52px_1.png",
              ":/img/Settings 3_52px.png", ":/img/globe_64.png",
              ":/brand/corla-logo-horizontal.svg", ":/icons/corla.svg"}) {
            const QImage image(path);
            bool opaque = false;
            for (int y = 0; y < image.height() && !opaque; ++y)
                for (int x = 0; x < image.width() && !opaque; ++x)
                    opaque = qAlpha(image.pixel(x, y)) == 255;
            QVERIFY2(opaque, path);
        }
    }

    // The table under our sheet, which parses without a warning, as a dark desktop theme shows it.
    void darkPaletteIsReadable()
    {
        QPalette dark(QColor(53, 53, 53), QColor(53, 53, 53)); // white text on dark grey
        dark.setColor(QPalette::Base, QColor(35, 35, 35));
        dark.setColor(QPalette::AlternateBase, QColor(45, 45, 45));
        dark.setColor(QPalette::Highlight, QColor(42, 130, 218));
        dark.setColor(QPalette::HighlightedText, Qt::black);
        QApplication::setPalette(dark);
        static QStringList warnings;
        const QtMessageHandler previous = qInstallMessageHandler(
            [](QtMsgType type, const QMessageLogContext&, const QString& msg) {
                if (type != QtDebugMsg && type != QtInfoMsg)
                    warnings << msg;
            });
        qApp->setStyleSheet(withStatusStyleSheet(QString()));

        DeviceTableModel model;
        model.list().append(testDevice(DeviceType(8), 4321, "00:1a:2b:3c:4d:01", "10.10.0.5"));
        model.list().append(testDevice(DeviceType(8), 4322, "00:1a:2b:3c:4d:02", "10.10.0.6"));
        model.list().setStatus(macOf("00:1a:2b:3c:4d:01"), Reachability::NoIp);
        QTableView view;
        view.setModel(&model);
        view.setItemDelegate(new DeviceItemDelegate(&view));
        view.setSelectionBehavior(QAbstractItemView::SelectRows);
        view.ensurePolished();
        qInstallMessageHandler(previous);
        QVERIFY2(warnings.isEmpty(), qPrintable(warnings.join('\n')));
        view.resize(500, 200);
        view.show();
        QVERIFY(QTest::qWaitForWindowExposed(&view));
        view.resizeColumnsToContents();
        view.selectRow(1);

        const auto cell = [&](int row, int column, int inset) {
            const QRect r =
                view.visualRect(model.index(row, column)).adjusted(inset, inset, -inset, -inset);
            return QRect(view.viewport()->mapTo(&view, r.topLeft()), r.size());
        };
        QHeaderView* header = view.horizontalHeader();
        const QImage image = view.grab().toImage();
        for (const auto& [name, area] : std::initializer_list<std::pair<const char*, QRect>>{
                 {"cell", cell(0, DeviceTableModel::TypeColumn, 0)},
                 {"header", QRect(header->viewport()->mapTo(
                                      &view, QPoint(header->sectionViewportPosition(1), 0)),
                                  QSize(header->sectionSize(1) - 1, header->height() - 1))},
                 {"selected status cell", cell(1, DeviceTableModel::StatusColumn, 3)}}) {
            const double ratio = area.isEmpty() ? 0 : textContrast(image, area);
            QVERIFY2(ratio >= 4.5,
                     qPrintable(name + QStringLiteral(": ") + QString::number(ratio)));
        }
    }

    // -stylesheet FILE goes over ours, which holds where it is silent; an unreadable adds nothing.
    void userSheetOnTop()
    {
        QTemporaryDir dir;
        QFile mine(dir.filePath(QStringLiteral("mine.qss")));
        QVERIFY(mine.open(QIODevice::WriteOnly));
        mine.write("QTableView { background-color: #123456; }\n");
        mine.close();
        qApp->setStyleSheet(withStatusStyleSheet(QStringLiteral("file:///") + mine.fileName()));
        QTableView view;
        view.resize(200, 100);
        view.show();
        QVERIFY(QTest::qWaitForWindowExposed(&view));
        const QImage image = view.grab().toImage();
        QCOMPARE(image.pixelColor(view.viewport()->geometry().center()), QColor(0x12, 0x34, 0x56));
        QCOMPARE(image.pixelColor(0, 50), QColor(0x77, 0x9b, 0xc4)); // our border

        QTest::ignoreMessage(QtWarningMsg,
                             QRegularExpression("^The style sheet .*none.qss was not read"));
        QCOMPARE(withStatusStyleSheet("file:///" + dir.filePath("none.qss")),
                 withStatusStyleSheet(QString()));
    }

    // OK, its only button, ends the box's loop (the timer ends a hung test); its date the build's.
    void aboutBox()
    {
        AboutBox box("Corla", "2.0.5", CORLA_BUILD_DATE);
        ModalBoxHandler<QDialog> ok([](QDialog* dialog) {
            const auto* buttons = dialog->findChild<QDialogButtonBox*>();
            if (buttons->buttons().size() == 1)
                buttons->button(QDialogButtonBox::Ok)->click();
        });
        QTimer::singleShot(5000, &box, [&box] { box.done(QDialog::Rejected); });
        box.exec();
        QCOMPARE(ok.handled(), 1);
        QVERIFY(QLocale::c().toDate(CORLA_BUILD_DATE, QStringLiteral("MMM d yyyy")) >
                QDate(2021, 4, 23));
    }

    // Debug lines only when asked for (--verbose, -v or QT_LOGGING_RULES).
    void debugLinesOffByDefault()
    {
        for (const QLoggingCategory* category : {&logDiscovery(), &logNet(), &logUi()}) {
            QVERIFY(!category->isDebugEnabled());
            QVERIFY(category->isWarningEnabled());
        }
        QLoggingCategory::setFilterRules(QStringLiteral("corla.*.debug=true"));
        const bool on = logNet().isDebugEnabled();
        QLoggingCategory::setFilterRules(QString());
        QVERIFY(on);
    }

private:
    QPalette m_lightPalette;
};

QTEST_MAIN(TestTheme)
#include "tst_theme.moc"
