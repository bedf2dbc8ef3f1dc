// SPDX-License-Identifier: Apache-2.0
// SPDX-FileCopyrightText: 2026 The Corla developers
#include "modalboxhandler.h"
#include "tevabout.h"

#include <QDialogButtonBox>
#include <QLabel>
#include <QPushButton>
#include <QtTest>

class TstTevAbout : public QObject
{
    Q_OBJECT

private slots:
    void showsLogoUntilOk()
    {
        TevAboutBox box("Corla", "2.0.5", "Apr 23 2021");
        bool logo = false;
        for (QLabel* label : box.findChildren<QLabel*>()) {
            const QPixmap pixmap = label->pixmap(Qt::ReturnByValue);
            logo = logo || (!pixmap.isNull() && pixmap.width() > pixmap.height());
        }
        QVERIFY2(logo, "no logo pixmap: resources or the SVG image plugin missing");

        // OK, the only button, must end the box's own loop: a box it leaves open is handed
        // over again, and the timer keeps it from hanging the test.
        ModalBoxHandler<QDialog> ok([](QDialog* dialog) {
            const auto* buttons = dialog->findChild<QDialogButtonBox*>();
            if (buttons->buttons().size() == 1)
                buttons->button(QDialogButtonBox::Ok)->click();
        });
        QTimer::singleShot(5000, &box, [&box] { box.done(QDialog::Rejected); });
        box.exec();
        QCOMPARE(ok.handled(), 1);
    }
};

QTEST_MAIN(TstTevAbout)
#include "tst_tevabout.moc"
