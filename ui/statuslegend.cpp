// SPDX-License-Identifier: Apache-2.0
// SPDX-FileCopyrightText: 2026 The Corla developers
#include "ui/statuslegend.h"

#include "core/net/logging.h"
#include "ui/devicetablemodel.h"

#include <QFile>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPixmap>

#include <algorithm>

namespace corla {

namespace {

constexpr int SwatchSize = 10;
constexpr int EntrySpacing = 10;
constexpr int LineSpacing = 2;

// What each status means, for the legend's tooltips and screen readers. By RowStatus.
const char* const Meanings[RowStatusCount] = {
    "TCP port 21 accepted a connection",
    "the device is there but turned away a connection on TCP port 21",
    "no answer to the probe of TCP port 21, or to the latest search",
    "the device has no IP address, or one that no device can have",
    "the device is not on a network of this computer",
    "two answers for the same MAC address differ",
    "no verdict yet: the probe or the answer is still due",
};

QPixmap swatch(const QColor& colour, qreal devicePixelRatio)
{
    QPixmap pixmap(QSize(SwatchSize, SwatchSize) * devicePixelRatio);
    pixmap.setDevicePixelRatio(devicePixelRatio);
    pixmap.fill(colour);
    // A dark edge keeps the pale colours visible on a light window.
    QPainter painter(&pixmap);
    painter.setPen(QColor(64, 64, 64));
    painter.drawRect(0, 0, SwatchSize - 1, SwatchSize - 1);
    return pixmap;
}

} // namespace

StatusLegend::StatusLegend(QWidget* parent) : QWidget(parent)
{
    setObjectName(QStringLiteral("statusLegend"));
    setAccessibleName(QStringLiteral("Status colours"));
    QSizePolicy policy(QSizePolicy::Preferred, QSizePolicy::Preferred);
    policy.setHeightForWidth(true);
    setSizePolicy(policy);
    for (int i = 0; i < RowStatusCount; ++i) {
        const auto status = RowStatus(i);
        const QString word = statusWord(status);
        const QString meaning = QString::fromLatin1(Meanings[i]);
        auto* entry = new QWidget(this);
        auto* layout = new QHBoxLayout(entry);
        layout->setContentsMargins(0, 0, 0, 0);
        layout->setSpacing(3);
        auto* colour = new QLabel(entry);
        colour->setPixmap(swatch(statusColour(status), devicePixelRatioF()));
        colour->setAccessibleName(word);
        colour->setAccessibleDescription(meaning);
        colour->setToolTip(meaning);
        auto* text = new QLabel(word, entry);
        text->setToolTip(meaning);
        text->setAccessibleDescription(meaning);
        layout->addWidget(colour);
        layout->addWidget(text);
        m_entries << entry;
    }
}

QSize StatusLegend::sizeHint() const
{
    int width = 0;
    int height = 0;
    for (const QWidget* entry : m_entries) {
        width += entry->sizeHint().width();
        height = std::max(height, entry->sizeHint().height());
    }
    return QSize(width + EntrySpacing * (int(m_entries.size()) - 1), height);
}

QSize StatusLegend::minimumSizeHint() const
{
    int width = 0;
    for (const QWidget* entry : m_entries)
        width = std::max(width, entry->sizeHint().width());
    return QSize(width, heightForWidth(width));
}

int StatusLegend::heightForWidth(int width) const
{
    return arrange(width, false);
}

void StatusLegend::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    arrange(width(), true);
}

int StatusLegend::arrange(int width, bool place) const
{
    int x = 0;
    int y = 0;
    int lineHeight = 0;
    for (QWidget* entry : m_entries) {
        const QSize size = entry->sizeHint();
        if (x > 0 && x + size.width() > width) {
            x = 0;
            y += lineHeight + LineSpacing;
            lineHeight = 0;
        }
        if (place)
            entry->setGeometry(QRect(QPoint(x, y), size));
        x += size.width() + EntrySpacing;
        lineHeight = std::max(lineHeight, size.height());
    }
    return y + lineHeight;
}

QString withStatusStyleSheet(const QString& userSheet)
{
    QFile ours(QStringLiteral(":/stylesheet.qss"));
    ours.open(QIODevice::ReadOnly);
    const QByteArray bytes = ours.readAll();
    // Latin-1 up to the first zero byte, as the sheet has always been read.
    QString sheet = QString::fromLatin1(bytes.constData(),
                                        int(qstrnlen(bytes.constData(), uint(bytes.size()))));

    QString user = userSheet;
    // How QApplication holds the file of -stylesheet FILE; Qt's style reads it the same way.
    const QLatin1String filePrefix("file:///");
    if (user.startsWith(filePrefix)) {
        QFile file(user.mid(filePrefix.size()));
        if (!file.open(QIODevice::ReadOnly)) {
            qCWarning(logUi).noquote()
                << "The style sheet" << file.fileName() << "was not read:" << file.errorString();
            return sheet;
        }
        user = QString::fromLocal8Bit(file.readAll());
    }
    if (user.trimmed().isEmpty())
        return sheet;
    return sheet + QStringLiteral("\n/* The user's own sheet */\n") + user;
}

} // namespace corla
