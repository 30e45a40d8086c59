#include "text/Graphemes.h"

#include <QTextBoundaryFinder>

namespace quenda::graphemes {

namespace {
// Calls f(start, end) for each character's UTF-16 range until f returns false.
template <typename F>
void forEach(const QString& text, F&& f)
{
    if (text.isEmpty())
        return;
    QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, text);
    qsizetype start = 0;
    for (qsizetype end = finder.toNextBoundary(); end != -1; end = finder.toNextBoundary()) {
        if (!f(start, end))
            return;
        start = end;
    }
}
} // namespace

qsizetype count(const QString& text)
{
    qsizetype n = 0;
    forEach(text, [&](qsizetype, qsizetype) {
        ++n;
        return true;
    });
    return n;
}

QStringList split(const QString& text)
{
    QStringList parts;
    forEach(text, [&](qsizetype start, qsizetype end) {
        parts.append(text.mid(start, end - start));
        return true;
    });
    return parts;
}

qsizetype toUtf16Index(const QString& text, qsizetype graphemeIndex)
{
    if (graphemeIndex <= 0)
        return 0;
    qsizetype seen = 0;
    qsizetype result = text.size();
    forEach(text, [&](qsizetype, qsizetype end) {
        if (++seen == graphemeIndex) {
            result = end;
            return false;
        }
        return true;
    });
    return result;
}

QString prefix(const QString& text, qsizetype n)
{
    return text.left(toUtf16Index(text, n));
}

QString dropPrefix(const QString& text, qsizetype n)
{
    return text.mid(toUtf16Index(text, n));
}

bool isBoundary(const QString& text, qsizetype utf16Index)
{
    if (utf16Index < 0 || utf16Index > text.size())
        return false;
    if (utf16Index == 0 || utf16Index == text.size())
        return true;
    QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, text);
    finder.setPosition(utf16Index);
    return finder.isAtBoundary();
}

qsizetype indexOf(const QString& text, const QString& needle, qsizetype from, Qt::CaseSensitivity cs)
{
    if (needle.isEmpty())
        return -1;
    for (qsizetype at = text.indexOf(needle, from, cs); at != -1; at = text.indexOf(needle, at + 1, cs)) {
        if (isBoundary(text, at) && isBoundary(text, at + needle.size()))
            return at;
    }
    return -1;
}

QString withoutEmbeddedMarkers(const QString& text)
{
    QString result = text;
    result.remove(QChar(0xFFFC));
    result.remove(QChar(0xFEFF));
    return result;
}

QString clip(const QString& text, qsizetype n)
{
    return prefix(text, n) + QLatin1String("...");
}

QStringList words(const QString& text)
{
    return text.split(QLatin1Char(' '), Qt::SkipEmptyParts);
}

} // namespace quenda::graphemes
