#include "tevabout.h"

#include <QApplication>
#include <QDialogButtonBox>
#include <QLabel>
#include <QPushButton>
#include <QTimer>
#include <QtTest>

class TstTevAbout : public QObject
{
    Q_OBJECT

private slots:
    void showsTextsAndLogoFrameless();
    void okClosesRunningBox();
};

void TstTevAbout::showsTextsAndLogoFrameless()
{
    TevAboutBox box("Corla", "2.0.5", "Apr 23 2021");
    QVERIFY(box.windowFlags() & Qt::FramelessWindowHint);
    QVERIFY(box.isModal());
    QStringList texts;
    bool logo = false;
    for (QLabel* label : box.findChildren<QLabel*>()) {
        const QPixmap pixmap = label->pixmap(Qt::ReturnByValue);
        logo = logo || (!pixmap.isNull() && pixmap.width() > pixmap.height());
        if (!label->text().isEmpty())
            texts << label->text();
    }
    QCOMPARE(texts, QStringList({"Corla 2.0.5", "Build: Apr 23 2021"}));
    QVERIFY2(logo, "no logo pixmap: resources or the SVG image plugin missing");

    // The name's style sheet takes effect once shown.
    box.show();
    QVERIFY(QTest::qWaitForWindowExposed(&box));
    auto* app = box.findChild<QLabel*>("appLabel");
    QVERIFY(app->font().bold());
    QCOMPARE(app->font().pixelSize(), 14);
}

void TstTevAbout::okClosesRunningBox()
{
    TevAboutBox box("Corla", "2.0.5", "Apr 23 2021");
    bool clicked = false;
    QTimer::singleShot(0, this, [&clicked] {
        QWidget* modal = QApplication::activeModalWidget();
        auto* buttons = modal ? modal->findChild<QDialogButtonBox*>() : nullptr;
        if (!buttons || buttons->buttons().size() != 1 || !buttons->button(QDialogButtonBox::Ok))
            return;
        clicked = true;
        buttons->button(QDialogButtonBox::Ok)->click();
    });
    // Should OK not close it, a second timer ends the loop so the test fails
    // instead of hanging.
    QTimer::singleShot(5000, &box, [&box] { box.done(QDialog::Rejected); });
    box.exec();
    QVERIFY(clicked);
    QVERIFY(!box.isVisible());
}

QTEST_MAIN(TstTevAbout)
#include "tst_tevabout.moc"
