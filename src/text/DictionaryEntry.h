#pragma once

#include <QString>
#include <QUuid>

namespace quenda {

// A word the recogniser keeps getting wrong and the word the user wants instead.
// `misheard` is stored lower-cased; `correct` keeps its case.
struct DictionaryEntry {
    QUuid id;
    QString misheard;
    QString correct;

    bool operator==(const DictionaryEntry& other) const = default;
};

} // namespace quenda
