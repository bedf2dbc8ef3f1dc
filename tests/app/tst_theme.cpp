// SPDX-License-Identifier: Apache-2.0
// SPDX-FileCopyrightText: 2026 The Corla developers
// The look under a user's theme: a dark palette stays readable, a user's style sheet goes on
// top of ours, the legend names every status, and debug lines wait to be asked for.
#include "corlalegend.h"
#include "corlalog.h"
#include "corlatable.h"
#include "corlaversion.h"
#include "testdevice.h"

#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QLocale>
#include <QPushButton>
#include <QStyleFactory>
#include <QTableView>
#include <QVBoxLayout>
#include <QtTest>

#include <cmath>

namespace {

double luminance(const QColor& c)
{
    const auto channel = [](double v) {
        return v <= 0.03928 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4);
    };
    return 0.2126 * channel(c.redF()) + 0.7152 * channel(c.greenF()) + 0.0722 * channel(c.blueF());
}

double contrast(const QColor& a, const QColor& b)
{
    const double la = luminance(a);
    const double lb = luminance(b);
    return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

// The contrast of the most contrasting pixel of `area` against its most common one: the
// text's core against its background. 1 where nothing is drawn on the background.
double textContrast(const QImage& image, const QRect& area)
{
    QHash<QRgb, int> counts;
    for (int y = area.top(); y <= area.bottom(); ++y)
        for (int x = area.left(); x <= area.right(); ++x)
            ++counts[image.pixel(x, y)];
    QRgb background = 0;
    int most = -1;
    for (auto it = counts.cbegin(); it != counts.cend(); ++it)
        if (it.value() > most)
            std::tie(background, most) = std::make_pair(it.key(), it.value());
    double best = 1;
    for (auto it = counts.cbegin(); it != counts.cend(); ++it)
        best = std::max(best, contrast(QColor(background), QColor(it.key())));
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

    void darkPaletteIsReadable_data()
    {
        QTest::addColumn<QString>("area");
        for (const char* area : {"cell", "selected cell", "header", "status cell",
                                 "selected status cell", "button", "group box label"})
            QTest::newRow(area) << QString(area);
    }

    // Text against its background by WCAG's ratio, as a user with a dark desktop theme
    // sees the window's widgets under our sheet.
    void darkPaletteIsReadable()
    {
        QFETCH(QString, area);
        QPalette dark(QColor(53, 53, 53), QColor(53, 53, 53)); // white text on dark grey
        dark.setColor(QPalette::Base, QColor(35, 35, 35));
        dark.setColor(QPalette::AlternateBase, QColor(45, 45, 45));
        dark.setColor(QPalette::Highlight, QColor(42, 130, 218));
        dark.setColor(QPalette::HighlightedText, Qt::black);
        QApplication::setPalette(dark);
        qApp->setStyleSheet(corlaStyleSheet(QString()));

        CorlaTableModel model;
        model.list().append(testDevice(ZelDeviceType(8), 4321, "00:1a:2b:3c:4d:01", "10.10.0.5"));
        model.list().append(testDevice(ZelDeviceType(8), 4322, "00:1a:2b:3c:4d:02", "10.10.0.6"));
        model.list().setStatus(macOf("00:1a:2b:3c:4d:01"), ZelNetworkStatus::NoIp);
        QWidget window;
        auto* layout = new QVBoxLayout(&window);
        auto* view = new QTableView;
        view->setModel(&model);
        view->setItemDelegate(new CorlaItemDelegate(view));
        view->setSelectionBehavior(QAbstractItemView::SelectRows);
        layout->addWidget(view);
        auto* button = new QPushButton(QStringLiteral("Refresh"));
        layout->addWidget(button);
        auto* group = new QGroupBox(QStringLiteral("Device Actions:"));
        auto* label = new QLabel(QStringLiteral("Select a device in the list above."), group);
        (new QVBoxLayout(group))->addWidget(label);
        layout->addWidget(group);
        window.resize(500, 320);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        view->resizeColumnsToContents();
        view->selectRow(1);

        const auto cell = [&](int row, int column, int inset) {
            const QRect r =
                view->visualRect(model.index(row, column)).adjusted(inset, inset, -inset, -inset);
            return QRect(view->viewport()->mapTo(&window, r.topLeft()), r.size());
        };
        const auto whole = [&](QWidget* widget) {
            return QRect(widget->mapTo(&window, QPoint()), widget->size());
        };
        QHeaderView* header = view->horizontalHeader();
        const QHash<QString, QRect> areas = {
            {"cell", cell(0, CorlaTableModel::TypeColumn, 0)},
            {"selected cell", cell(1, CorlaTableModel::TypeColumn, 0)},
            {"header", QRect(header->viewport()->mapTo(
                                 &window, QPoint(header->sectionViewportPosition(1), 0)),
                             QSize(header->sectionSize(1) - 1, header->height() - 1))},
            // Inside the frame of a selected row.
            {"status cell", cell(0, CorlaTableModel::StatusColumn, 3)},
            {"selected status cell", cell(1, CorlaTableModel::StatusColumn, 3)},
            {"button", whole(button).adjusted(2, 2, -2, -2)},
            {"group box label", whole(label)},
        };
        const QImage image = window.grab().toImage();
        const QRect region = areas.value(area);
        QVERIFY(!region.isEmpty());
        const double ratio = textContrast(image, region);
        QVERIFY2(ratio >= 4.5, qPrintable(QStringLiteral("%1: %2").arg(area).arg(ratio)));
    }

    // -stylesheet FILE goes on top of ours: its rules win, ours still hold where it says
    // nothing.
    void userSheetOnTop()
    {
        QTemporaryDir dir;
        QFile mine(dir.filePath(QStringLiteral("mine.qss")));
        QVERIFY(mine.open(QIODevice::WriteOnly));
        mine.write("QTableView { background-color: #123456; }\n");
        mine.close();
        qApp->setStyleSheet(corlaStyleSheet(QStringLiteral("file:///") + mine.fileName()));

        QTableView view;
        view.resize(200, 100);
        view.show();
        QVERIFY(QTest::qWaitForWindowExposed(&view));
        const QImage image = view.grab().toImage();
        QCOMPARE(image.pixelColor(view.viewport()->geometry().center()), QColor(0x12, 0x34, 0x56));
        QCOMPARE(image.pixelColor(0, 50), QColor(0x77, 0x9b, 0xc4)); // our border

        // A sheet given as text is added as it is; a file that cannot be read adds nothing.
        QVERIFY(corlaStyleSheet(QStringLiteral("QLabel { color: red; }"))
                    .endsWith(QStringLiteral("\nQLabel { color: red; }")));
        const QString missing = dir.filePath(QStringLiteral("none.qss"));
        QTest::ignoreMessage(QtWarningMsg,
                             QRegularExpression("^The style sheet .*none.qss was not read"));
        QCOMPARE(corlaStyleSheet(QStringLiteral("file:///") + missing), corlaStyleSheet(QString()));
    }

    // One swatch per status in the column's order, each named for screen readers and each
    // its own colour; in a narrow window the line wraps rather than cut words off.
    void legend()
    {
        CorlaStatusLegend legend;
        legend.resize(200, legend.heightForWidth(200));
        legend.show();
        QVERIFY(QTest::qWaitForWindowExposed(&legend));
        QVERIFY(legend.height() > legend.sizeHint().height());
        QStringList names;
        QSet<QRgb> colours;
        for (const QLabel* label : legend.findChildren<QLabel*>()) {
            const QPixmap swatch = label->pixmap(Qt::ReturnByValue);
            if (swatch.isNull())
                continue;
            names << label->accessibleName();
            QVERIFY(!label->accessibleDescription().isEmpty());
            colours << swatch.toImage().pixel(5, 5);
            const QRect entry = label->parentWidget()->geometry();
            QVERIFY(legend.rect().contains(entry));
        }
        QCOMPARE(names, QStringList({"Reachable", "Refused", "No answer", "No IP", "Off-network",
                                     "Conflict", "Waiting"}));
        QCOMPARE(colours.size(), 7);
    }

    // Debug lines only when asked for (--verbose, -v or QT_LOGGING_RULES).
    void debugLinesOffByDefault()
    {
        for (const QLoggingCategory* category : {&corlaDiscovery(), &corlaNet(), &corlaUi()}) {
            QVERIFY(!category->isDebugEnabled());
            QVERIFY(category->isWarningEnabled());
        }
        QLoggingCategory::setFilterRules(QStringLiteral("corla.*.debug=true"));
        const bool on = corlaNet().isDebugEnabled();
        QLoggingCategory::setFilterRules(QString());
        QVERIFY(on);
        QVERIFY(!corlaNet().isDebugEnabled());
    }

    // The about box's date is this build's, in the form "Apr 3 2021".
    void buildDate()
    {
        const QDate date =
            QLocale::c().toDate(QStringLiteral(CORLA_BUILD_DATE), QStringLiteral("MMM d yyyy"));
        QVERIFY2(date.isValid(), CORLA_BUILD_DATE);
        QVERIFY(date > QDate(2021, 4, 23));
    }

private:
    QPalette m_lightPalette;
};

QTEST_MAIN(TestTheme)
#include "tst_theme.moc"
