#pragma once

#include <QString>
#include <QStringList>

// Wherever the system counts "characters" it means user-perceived characters (extended grapheme
// clusters); wherever it speaks of UTF-16 it means QString indices. These helpers convert between the two.
namespace quenda::graphemes {

// Number of user-perceived characters.
qsizetype count(const QString& text);

// The characters of the text, in order, each as its own string.
QStringList split(const QString& text);

// The first n characters (the whole text when it has fewer).
QString prefix(const QString& text, qsizetype n);

// The text without its first n characters (empty when it has no more).
QString dropPrefix(const QString& text, qsizetype n);

// True when the UTF-16 index lies between two characters (0 and the length always do).
bool isBoundary(const QString& text, qsizetype utf16Index);

// UTF-16 index of the start of the n-th character; the length for n at or past the end.
qsizetype toUtf16Index(const QString& text, qsizetype graphemeIndex);

// First occurrence of needle in text at or after `from` whose both ends are character boundaries, so a
// match never splits an emoji or a letter from its accent. -1 when there is none.
qsizetype indexOf(const QString& text, const QString& needle, qsizetype from = 0,
                  Qt::CaseSensitivity cs = Qt::CaseSensitive);

// The text without the invisible markers applications put into what they report: the object replacement
// character (U+FFFC, an embedded object) and the zero-width no-break space (U+FEFF).
QString withoutEmbeddedMarkers(const QString& text);

// The first n characters followed by "..." (always appended), as log lines quote user text.
QString clip(const QString& text, qsizetype n);

// Words as the system splits them: at the space character U+0020 only, empty pieces dropped.
QStringList words(const QString& text);

} // namespace quenda::graphemes
