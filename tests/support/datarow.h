// SPDX-License-Identifier: Apache-2.0
// SPDX-FileCopyrightText: 2026 The Corla developers
#pragma once
// columns<int, QString>({"code", "text"}): a table's columns in one line.
// row("name", "text", 3, list): a data row whose texts become QString, other values as given.

#include <QString>
#include <QTest>

#include <array>
#include <cstddef>

namespace corla {

namespace datarow_detail {
struct Cell
{
    template <typename T> static const T& of(const T& value) { return value; }
    static QString of(const char* text) { return QString::fromUtf8(text); }
};
} // namespace datarow_detail

template <typename... T> void columns(const std::array<const char*, sizeof...(T)>& names)
{
    std::size_t i = 0;
    (QTest::addColumn<T>(names[i++]), ...);
}

template <typename... T> void row(const char* name, const T&... values)
{
    (QTest::newRow(name) << ... << datarow_detail::Cell::of(values));
}

} // namespace corla
