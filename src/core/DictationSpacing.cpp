#include "core/DictationSpacing.h"

#include "text/ApplicationKind.h"

#include <QList>

#include <string>

namespace quenda {

namespace {

char32_t lastCodePoint(const QString& text)
{
    const QList<uint> tail = QStringView(text).right(2).toUcs4();
    return tail.isEmpty() ? 0 : tail.last();
}

char32_t firstCodePoint(const QString& text)
{
    const QList<uint> head = QStringView(text).left(2).toUcs4();
    return head.isEmpty() ? 0 : head.first();
}

bool isSpace(char32_t c)
{
    return QChar::isSpace(c) || c == 0x200B; // the zero-width space separates too
}

// Scripts written without spaces between words.
bool isUnspacedScript(char32_t c)
{
    switch (QChar::script(c)) {
    case QChar::Script_Han:
    case QChar::Script_Hiragana:
    case QChar::Script_Katakana:
    case QChar::Script_Thai:
    case QChar::Script_Lao:
    case QChar::Script_Khmer:
    case QChar::Script_Myanmar:
        return true;
    default:
        return false;
    }
}

// What the next word sticks to: opening brackets and quotes, and the joiners of paths, addresses and tags.
bool opens(char32_t c)
{
    static const std::u32string openers =
        U"([{<\u201C\u2018\u00AB\u201E\u201A\u00BF\u00A1\"'/\\-@#\u2014\u2013";
    return openers.find(c) != std::u32string::npos;
}

// What sticks to the word before it.
bool closes(char32_t c)
{
    static const std::u32string closers = U",.;:!?)]}>\u201D\u2019\u00BB\u2026%'";
    return closers.find(c) != std::u32string::npos;
}

QString withoutLeadingSpaces(const QString& text)
{
    qsizetype start = 0;
    while (start < text.size() && text.at(start) == QLatin1Char(' '))
        ++start;
    return text.mid(start);
}

} // namespace

std::optional<QString> DictationSpacing::precedingText(const std::optional<InsertionTarget>& target,
                                                       const std::optional<QString>& readBeforeCaret) const
{
    if (readBeforeCaret)
        return readBeforeCaret;
    if (!target || !m_last || m_last->processIdentifier != target->processIdentifier ||
        m_last->bundleID != target->bundleID)
        return std::nullopt;
    return m_last->ending;
}

QString DictationSpacing::separator(const QString& preceding, const QString& text)
{
    const char32_t before = lastCodePoint(preceding);
    const char32_t after = firstCodePoint(text);
    if (before == 0 || after == 0 || isSpace(before) || isSpace(after) || opens(before) || closes(after) ||
        isUnspacedScript(before) || isUnspacedScript(after))
        return QString();
    return QStringLiteral(" ");
}

QString DictationSpacing::joined(const std::optional<QString>& preceding, const QString& text)
{
    if (!preceding)
        return text;
    const QString words = withoutLeadingSpaces(text);
    return separator(*preceding, words) + words;
}

void DictationSpacing::remember(const std::optional<InsertionTarget>& target, const QString& inserted)
{
    // A terminal shows no line break Quenda could see (the user pressed Enter after the last dictation),
    // and a leading space changes what a shell does with a command: there, nothing is assumed.
    if (!target || inserted.isEmpty() || applicationKind(target->bundleID) == ApplicationKind::terminal) {
        m_last.reset();
        return;
    }
    m_last = LastDictation{target->bundleID, target->processIdentifier, inserted.right(2)};
}

} // namespace quenda
