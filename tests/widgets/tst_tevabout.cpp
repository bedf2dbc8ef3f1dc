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
    void showsNameVersionAndBuild();
    void showsLogo();
    void isFramelessModalAndParentless();
    void okClosesRunningBox();

private:
    static QLabel* labelWithText(const QDialog& box, const QString& text);
};

QLabel* TstTevAbout::labelWithText(const QDialog& box, const QString& text)
{
    for (QLabel* label : box.findChildren<QLabel*>()) {
        if (label->text() == text)
            return label;
    }
    return nullptr;
}

void TstTevAbout::showsNameVersionAndBuild()
{
    TevAboutBox box("Corla", "2.0.5", "Apr 23 2021");
    auto* app = box.findChild<QLabel*>("appLabel");
    QVERIFY(app);
    QCOMPARE(app->text(), QString("Corla 2.0.5"));
    QCOMPARE(app->styleSheet(), QString("QLabel#appLabel { font: bold 14px; }"));
    QVERIFY(labelWithText(box, "Build: Apr 23 2021"));

    box.show();
    QVERIFY(QTest::qWaitForWindowExposed(&box));
    QVERIFY(app->font().bold());
    QCOMPARE(app->font().pixelSize(), 14);
}

void TstTevAbout::showsLogo()
{
    TevAboutBox box("Corla", "2.0.5", "Apr 23 2021");
    bool found = false;
    for (QLabel* label : box.findChildren<QLabel*>()) {
        const QPixmap pixmap = label->pixmap(Qt::ReturnByValue);
        if (!pixmap.isNull()) {
            found = true;
            QVERIFY(pixmap.width() > pixmap.height());
        }
    }
    QVERIFY2(found, "no logo pixmap: resources or the SVG image plugin missing");
}

void TstTevAbout::isFramelessModalAndParentless()
{
    TevAboutBox box("Corla", "2.0.5", "Apr 23 2021");
    QVERIFY(box.windowFlags() & Qt::FramelessWindowHint);
    QVERIFY(box.isModal());
    QVERIFY(!box.parentWidget());
    QCOMPARE(box.size(), QSize(450, 300));
}

void TstTevAbout::okClosesRunningBox()
{
    TevAboutBox box("Corla", "2.0.5", "Apr 23 2021");
    bool clicked = false;
    QTimer::singleShot(0, this, [&clicked] {
        QWidget* modal = QApplication::activeModalWidget();
        if (!modal)
            return;
        auto* buttons = modal->findChild<QDialogButtonBox*>();
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
