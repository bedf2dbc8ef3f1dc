// SPDX-License-Identifier: Apache-2.0
// SPDX-FileCopyrightText: 2026 The Corla developers
#pragma once
// The main window's form, laid out in code in the shape a form description would give.

#include "ui/statuslegend.h"

#include <QCheckBox>
#include <QCoreApplication>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QIcon>
#include <QLabel>
#include <QLineEdit>
#include <QMainWindow>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSpacerItem>
#include <QStackedWidget>
#include <QStatusBar>
#include <QTableView>
#include <QVBoxLayout>

namespace corla {

class Ui_MainWindow
{
public:
    QWidget* centralWidget;
    QGridLayout* gridLayout_2;
    QHBoxLayout* horizontalLayout_2;
    QPushButton* btnRefresh;
    QCheckBox* cbAutoRefresh;
    QPushButton* btnClear;
    QPushButton* btnExport;
    QPushButton* btnApplyPlan;
    QPushButton* btnSettings;
    QPushButton* btnLogoAbout;
    QHBoxLayout* horizontalLayout_3;
    QLabel* label;
    QLabel* lblDevCount;
    QLabel* lblNotice;
    QLineEdit* leFilter;
    // The table, or in its place why no device is listed after a round without answers.
    QStackedWidget* stkDeviceList;
    QTableView* tblMainTableView;
    StatusLegend* legend;
    QWidget* pageNoDevice;
    QLabel* lblNoDevice;
    QPlainTextEdit* txtHostReport;
    QGroupBox* gbDeviceActions;
    QGridLayout* gridLayout;
    QLabel* lblDeviceAction;
    QHBoxLayout* horizontalLayout;
    QPushButton* btnReset;
    QPushButton* btnConfig;
    QPushButton* btnWebserver;
    QStatusBar* statusBar;

    void setupUi(QMainWindow* MainWindow)
    {
        MainWindow->setObjectName(QStringLiteral("MainWindow"));
        // The window's size follows its table and the screen when it is first shown.
        MainWindow->setMinimumSize(QSize(500, 546));

        QFont bold;
        bold.setBold(true);
        QFont normal;
        normal.setBold(false);

        centralWidget = new QWidget(MainWindow);
        centralWidget->setObjectName(QStringLiteral("centralWidget"));
        gridLayout_2 = new QGridLayout(centralWidget);
        gridLayout_2->setSpacing(6);
        gridLayout_2->setContentsMargins(11, 11, 11, 11);
        gridLayout_2->setObjectName(QStringLiteral("gridLayout_2"));

        horizontalLayout_2 = new QHBoxLayout();
        horizontalLayout_2->setSpacing(6);
        horizontalLayout_2->setObjectName(QStringLiteral("horizontalLayout_2"));
        btnRefresh = toolbarButton(centralWidget, "btnRefresh", ":/img/Refresh_flat_64px_1.png",
                                   bold, horizontalLayout_2, QSize(24, 24));
        cbAutoRefresh = new QCheckBox(centralWidget);
        cbAutoRefresh->setObjectName(QStringLiteral("cbAutoRefresh"));
        horizontalLayout_2->addWidget(cbAutoRefresh);
        btnClear = toolbarButton(centralWidget, "btnClear", ":/img/clear_2_64px.png", bold,
                                 horizontalLayout_2, QSize(24, 24));
        btnExport = toolbarButton(centralWidget, "btnExport", ":/img/export_2_48px.png", bold,
                                  horizontalLayout_2, QSize(24, 24));
        btnApplyPlan = toolbarButton(centralWidget, "btnApplyPlan", ":/img/Settings 3_52px.png",
                                     bold, horizontalLayout_2, QSize(24, 24));
        horizontalLayout_2->addItem(
            new QSpacerItem(40, 20, QSizePolicy::Expanding, QSizePolicy::Minimum));

        btnSettings = new QPushButton(centralWidget);
        btnSettings->setObjectName(QStringLiteral("btnSettings"));
        btnSettings->setAccessibleName(QStringLiteral("gearIcon"));
        QIcon gear;
        gear.addFile(QStringLiteral(":/img/gear_blue_48px_1.png"), QSize(), QIcon::Normal,
                     QIcon::Off);
        gear.addFile(QStringLiteral(":/img/gear_grey_48px.png"), QSize(), QIcon::Normal, QIcon::On);
        btnSettings->setIcon(gear);
        btnSettings->setIconSize(QSize(30, 30));
        btnSettings->setFlat(true);
        horizontalLayout_2->addWidget(btnSettings);

        btnLogoAbout = new QPushButton(centralWidget);
        btnLogoAbout->setObjectName(QStringLiteral("btnLogoAbout"));
        btnLogoAbout->setAccessibleName(QStringLiteral("logoImage"));
        btnLogoAbout->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
        btnLogoAbout->setIcon(QIcon(QStringLiteral(":/brand/corla-logo-horizontal.svg")));
        btnLogoAbout->setIconSize(QSize(115, 45));
        btnLogoAbout->setFlat(true);
        horizontalLayout_2->addWidget(btnLogoAbout);
        gridLayout_2->addLayout(horizontalLayout_2, 0, 0, 1, 2);

        horizontalLayout_3 = new QHBoxLayout();
        horizontalLayout_3->setSpacing(6);
        horizontalLayout_3->setObjectName(QStringLiteral("horizontalLayout_3"));
        label = new QLabel(centralWidget);
        label->setObjectName(QStringLiteral("label"));
        label->setFont(bold);
        horizontalLayout_3->addWidget(label);
        lblDevCount = new QLabel(centralWidget);
        lblDevCount->setObjectName(QStringLiteral("lblDevCount"));
        horizontalLayout_3->addWidget(lblDevCount);
        gridLayout_2->addLayout(horizontalLayout_3, 1, 0, 1, 1);
        leFilter = new QLineEdit(centralWidget);
        leFilter->setObjectName(QStringLiteral("leFilter"));
        leFilter->setClearButtonEnabled(true);
        leFilter->setMaximumWidth(240);
        auto* filterRow = new QHBoxLayout();
        filterRow->addItem(new QSpacerItem(40, 20, QSizePolicy::Expanding, QSizePolicy::Minimum));
        filterRow->addWidget(leFilter);
        gridLayout_2->addLayout(filterRow, 1, 1, 1, 1);

        // What discovery or the change log could not do, above the list it concerns.
        lblNotice = new QLabel(centralWidget);
        lblNotice->setObjectName(QStringLiteral("lblNotice"));
        lblNotice->setWordWrap(true);
        lblNotice->setTextFormat(Qt::PlainText);
        lblNotice->hide();
        stkDeviceList = new QStackedWidget(centralWidget);
        stkDeviceList->setObjectName(QStringLiteral("stkDeviceList"));
        tblMainTableView = new QTableView(stkDeviceList);
        tblMainTableView->setObjectName(QStringLiteral("tblMainTableView"));
        tblMainTableView->verticalHeader()->setVisible(false);
        tblMainTableView->setWordWrap(false);
        tblMainTableView->setTabKeyNavigation(false);
        stkDeviceList->addWidget(tblMainTableView);
        pageNoDevice = new QWidget(stkDeviceList);
        pageNoDevice->setObjectName(QStringLiteral("pageNoDevice"));
        auto* noDeviceColumn = new QVBoxLayout(pageNoDevice);
        noDeviceColumn->setContentsMargins(0, 0, 0, 0);
        noDeviceColumn->setSpacing(6);
        lblNoDevice = new QLabel(pageNoDevice);
        lblNoDevice->setObjectName(QStringLiteral("lblNoDevice"));
        lblNoDevice->setFont(bold);
        noDeviceColumn->addWidget(lblNoDevice);
        txtHostReport = new QPlainTextEdit(pageNoDevice);
        txtHostReport->setObjectName(QStringLiteral("txtHostReport"));
        txtHostReport->setReadOnly(true);
        txtHostReport->setTextInteractionFlags(Qt::TextSelectableByMouse |
                                               Qt::TextSelectableByKeyboard);
        noDeviceColumn->addWidget(txtHostReport);
        stkDeviceList->addWidget(pageNoDevice);
        auto* listColumn = new QVBoxLayout();
        listColumn->setSpacing(6);
        listColumn->addWidget(lblNotice);
        listColumn->addWidget(stkDeviceList);
        legend = new StatusLegend(centralWidget);
        legend->setObjectName(QStringLiteral("legend"));
        listColumn->addWidget(legend);
        gridLayout_2->addLayout(listColumn, 2, 0, 1, 2);

        gbDeviceActions = new QGroupBox(centralWidget);
        gbDeviceActions->setObjectName(QStringLiteral("gbDeviceActions"));
        gbDeviceActions->setFont(bold);
        gridLayout = new QGridLayout(gbDeviceActions);
        gridLayout->setSpacing(6);
        gridLayout->setContentsMargins(11, 11, 11, 11);
        gridLayout->setObjectName(QStringLiteral("gridLayout"));
        lblDeviceAction = new QLabel(gbDeviceActions);
        lblDeviceAction->setObjectName(QStringLiteral("lblDeviceAction"));
        gridLayout->addWidget(lblDeviceAction, 0, 0, 1, 1);
        horizontalLayout = new QHBoxLayout();
        horizontalLayout->setSpacing(6);
        horizontalLayout->setObjectName(QStringLiteral("horizontalLayout"));
        btnReset = toolbarButton(gbDeviceActions, "btnReset", ":/img/Restart_52px_1.png", normal,
                                 horizontalLayout);
        btnConfig = toolbarButton(gbDeviceActions, "btnConfig", ":/img/Settings 3_52px.png", normal,
                                  horizontalLayout);
        btnWebserver = toolbarButton(gbDeviceActions, "btnWebserver", ":/img/globe_64.png", normal,
                                     horizontalLayout);
        gridLayout->addLayout(horizontalLayout, 1, 0, 1, 1);
        gridLayout_2->addWidget(gbDeviceActions, 3, 0, 1, 2);

        MainWindow->setCentralWidget(centralWidget);
        statusBar = new QStatusBar(MainWindow);
        statusBar->setObjectName(QStringLiteral("statusBar"));
        statusBar->setMaximumSize(QSize(QWIDGETSIZE_MAX, 10));
        MainWindow->setStatusBar(statusBar);

        retranslateUi(MainWindow);
    }

    void retranslateUi(QMainWindow* MainWindow)
    {
        MainWindow->setWindowTitle(QCoreApplication::translate("MainWindow", "MainWindow"));
        btnRefresh->setText(QCoreApplication::translate("MainWindow", "&Refresh"));
        cbAutoRefresh->setText(QCoreApplication::translate("MainWindow", "&Auto refresh"));
        btnClear->setText(QCoreApplication::translate("MainWindow", "C&lear"));
        btnExport->setText(QCoreApplication::translate("MainWindow", "&Export ..."));
        btnApplyPlan->setText(QCoreApplication::translate("MainWindow", "A&pply Plan ..."));
        btnSettings->setText(QString());
        btnLogoAbout->setText(QString());
        label->setText(QCoreApplication::translate("MainWindow", "Devices:"));
        lblDevCount->setText(QCoreApplication::translate("MainWindow", "(0)"));
        leFilter->setPlaceholderText(QCoreApplication::translate("MainWindow", "Filter"));
        lblNoDevice->setText(QCoreApplication::translate("MainWindow", "No device answered."));
        gbDeviceActions->setTitle(QCoreApplication::translate("MainWindow", "Device Actions:"));
        lblDeviceAction->setText(
            QCoreApplication::translate("MainWindow", "Select a device in the list above."));
        btnReset->setText(QCoreApplication::translate("MainWindow", "Rese&t"));
        btnConfig->setText(QCoreApplication::translate("MainWindow", "&Configure ..."));
        btnWebserver->setText(QCoreApplication::translate("MainWindow", "Open in &Web Browser"));
    }

private:
    static QPushButton* toolbarButton(QWidget* parent, const char* name, const char* icon,
                                      const QFont& font, QHBoxLayout* layout,
                                      const QSize& iconSize = QSize())
    {
        auto* button = new QPushButton(parent);
        button->setObjectName(QString::fromLatin1(name));
        button->setFont(font);
        button->setIcon(QIcon(QString::fromUtf8(icon)));
        if (iconSize.isValid())
            button->setIconSize(iconSize);
        layout->addWidget(button);
        return button;
    }
};

} // namespace corla
