// SPDX-License-Identifier: Apache-2.0
// SPDX-FileCopyrightText: 2026 The Corla developers
#include "ui/aboutbox.h"

#include <QDialogButtonBox>
#include <QImage>
#include <QLabel>
#include <QPixmap>
#include <QVBoxLayout>

namespace corla {

namespace {
const char* const kLogoPath = ":/brand/corla-logo-horizontal.svg";
}

AboutBox::AboutBox(const QString& appName, const QString& version, const QString& buildDate)
    : QDialog(nullptr)
{
    resize(450, 300);
    setWindowFlags(windowFlags() | Qt::FramelessWindowHint);
    setModal(true);

    // Loading goes through the SVG image plugin; without it the label stays
    // empty and the box still opens.
    auto* logo = new QLabel;
    logo->setAlignment(Qt::AlignCenter);
    const QImage logoImage(QString::fromLatin1(kLogoPath));
    if (!logoImage.isNull())
        logo->setPixmap(QPixmap::fromImage(logoImage));

    auto* appLabel = new QLabel(appName + QLatin1Char(' ') + version);
    appLabel->setObjectName(QStringLiteral("appLabel"));
    appLabel->setAlignment(Qt::AlignCenter);
    appLabel->setStyleSheet(QStringLiteral("QLabel#appLabel { font: bold 14px; }"));

    auto* buildLabel = new QLabel(QStringLiteral("Build: ") + buildDate);
    buildLabel->setAlignment(Qt::AlignCenter);

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok);
    buttons->setCenterButtons(true);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::close);

    auto* inner = new QWidget;
    auto* innerLayout = new QVBoxLayout(inner);
    innerLayout->addStretch(1);
    innerLayout->addSpacing(12);
    innerLayout->addWidget(logo);
    innerLayout->addWidget(appLabel);
    innerLayout->addWidget(buildLabel);
    innerLayout->addWidget(buttons);

    auto* outer = new QVBoxLayout(this);
    outer->setContentsMargins(0, 0, 0, 0);
    outer->addWidget(inner);
}

AboutBox::~AboutBox() = default;

} // namespace corla
