// SPDX-License-Identifier: Apache-2.0
// SPDX-FileCopyrightText: 2026 The Corla developers
#pragma once
// What the colours of the status column mean, shown under the table, and the application's
// style sheet.

#include <QList>
#include <QWidget>

namespace corla {

// A small swatch and the word for every status, in the colours of the table's status
// cells, in the order the status column sorts by. One line where the width allows, wrapped
// onto more lines where it does not (its height follows its width). Each swatch carries the
// word as its accessible name and its meaning as its accessible description.
class StatusLegend : public QWidget
{
    Q_OBJECT

public:
    explicit StatusLegend(QWidget* parent = nullptr);

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;
    bool hasHeightForWidth() const override { return true; }
    int heightForWidth(int width) const override;

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    // Lays the entries out in lines of at most `width`; returns the height they take.
    int arrange(int width, bool place) const;

    QList<QWidget*> m_entries;
};

// The style sheet to install application-wide: the compiled-in ":/stylesheet.qss", then the
// user's own, so that the user's rules win where both set the same thing. `userSheet` is
// what QApplication::styleSheet() held before: empty, the text of a sheet, or "file:///"
// and the path given with Qt's -stylesheet option, whose file is read here.
QString withStatusStyleSheet(const QString& userSheet);

} // namespace corla
