#pragma once

#include <QString>
#include <QTest>

#include <type_traits>

namespace quenda::fakes {

// A data-table row whose text cells are written as UTF-8 literals; other cells go in as they are.
template <typename... Cells>
void row(const char* name, const Cells&... cells)
{
    const auto cell = []<typename T>(const T& value) {
        if constexpr (std::is_convertible_v<const T&, const char*>)
            return QString::fromUtf8(static_cast<const char*>(value));
        else
            return value;
    };
    (QTest::newRow(name) << ... << cell(cells));
}

} // namespace quenda::fakes
