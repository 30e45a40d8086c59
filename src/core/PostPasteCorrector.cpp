#include "core/PostPasteCorrector.h"

#include "base/Log.h"
#include "base/Scheduler.h"
#include "insert/FocusedValueReader.h"
#include "text/Graphemes.h"
#include "text/PersonalDictionary.h"
#include "training/TrainingLog.h"

#include <algorithm>

namespace quenda {

namespace {

void postPasteLog(const QString& message)
{
    log("PostPaste", message);
}

QString quoted(const QString& text)
{
    return QLatin1Char('"') + text + QLatin1Char('"');
}

// User-perceived characters, each in its canonical composed form, so that canonically equivalent
// characters compare equal.
QStringList characters(const QString& text)
{
    QStringList list = graphemes::split(text);
    for (QString& character : list)
        character = character.normalized(QString::NormalizationForm_C);
    return list;
}

double similarity(const QStringList& a, const QStringList& b)
{
    if (a == b)
        return 1.0;
    if (a.isEmpty() || b.isEmpty())
        return 0.0;
    const qsizetype longer = std::max(a.size(), b.size());
    const qsizetype shorter = std::min(a.size(), b.size());
    if (double(shorter) / double(longer) < 0.3)
        return 0.0;
    qsizetype matches = 0;
    qsizetype j = 0;
    for (const QString& c : a) {
        if (j >= b.size())
            break;
        while (j < b.size() && b[j] != c)
            ++j;
        if (j < b.size()) {
            ++matches;
            ++j;
        }
    }
    return double(matches) / double(longer);
}

} // namespace

PostPasteCorrector::PostPasteCorrector(FocusedValueReader& reader, TrainingLog& trainingLog,
                                       PersonalDictionary& dictionary, Scheduler& mainQueue)
    : m_reader(reader)
    , m_trainingLog(trainingLog)
    , m_dictionary(dictionary)
    , m_mainQueue(mainQueue)
{}

double PostPasteCorrector::textSimilarity(const QString& a, const QString& b)
{
    return similarity(characters(a), characters(b));
}

std::optional<QString> PostPasteCorrector::findInsertedRegion(const QString& inserted,
                                                              const QString& fieldText)
{
    const QStringList needle = characters(inserted);
    const QStringList field = graphemes::split(fieldText);
    const QStringList fieldKeys = characters(fieldText);
    const qsizetype n = needle.size();
    const qsizetype m = field.size();
    if (n + 10 >= m)
        return fieldText;

    const qsizetype minLength = std::max<qsizetype>(1, qsizetype(double(n) * 0.7));
    const qsizetype maxLength = std::min<qsizetype>(m, qsizetype(double(n) * 1.3));
    const qsizetype lengthStep = std::max<qsizetype>(1, (maxLength - minLength) / 5);

    double best = 0;
    qsizetype bestStart = -1;
    qsizetype bestLength = 0;
    for (qsizetype length = minLength; length <= maxLength; length += lengthStep) {
        const qsizetype startStep = std::max<qsizetype>(1, length / 4);
        for (qsizetype start = 0; start < m; start += startStep) {
            const qsizetype take = std::min(length, m - start);
            const double score = similarity(needle, fieldKeys.mid(start, take));
            if (score > best) {
                best = score;
                bestStart = start;
                bestLength = take;
            }
        }
    }
    if (best > 0.4 && bestStart >= 0)
        return field.mid(bestStart, bestLength).join(QString());
    return std::nullopt;
}

void PostPasteCorrector::capturePostPasteCorrection(const PostPasteRecord& record)
{
    postPasteLog(QStringLiteral("Attempting read-back after 8s delay..."));
    std::weak_ptr<bool> alive = m_alive;
    m_reader.readFocusedValue(record.target, [this, alive, record](const std::optional<QString>& value) {
        if (alive.lock())
            compareReadBack(record, value);
    });
}

void PostPasteCorrector::compareReadBack(const PostPasteRecord& record, const std::optional<QString>& value)
{
    if (!value) {
        postPasteLog(
            QString::fromUtf8("Read-back failed \u2014 app doesn't support AX value reading (target: ") +
            (record.target ? record.target->bundleID : QStringLiteral("nil")) +
            QStringLiteral("). Skipping for this app."));
        return;
    }
    postPasteLog(QStringLiteral("Read back: ") + quoted(graphemes::clip(*value, 80)) +
                 QStringLiteral(" (%1 chars)").arg(graphemes::count(*value)));

    const QString inserted = record.insertedText;
    if (value->normalized(QString::NormalizationForm_C)
            .contains(inserted.normalized(QString::NormalizationForm_C))) {
        postPasteLog(QStringLiteral("No edits detected"));
        return;
    }
    const std::optional<QString> region = findInsertedRegion(inserted, *value);
    if (!region) {
        postPasteLog(QString::fromUtf8(
            "Could not find inserted text region in field \u2014 user may have cleared/replaced entirely"));
        return;
    }
    const double s = textSimilarity(inserted, *region);
    const QString percentage = QString::asprintf("%.0f%%", s * 100);
    if (!(s > 0.3 && s < 1.0)) {
        postPasteLog(QStringLiteral("Region found but similarity too low (") + percentage +
                     QString::fromUtf8(") \u2014 skipping"));
        return;
    }
    postPasteLog(QStringLiteral("User correction detected (similarity: ") + percentage + QLatin1Char(')'));
    postPasteLog(QStringLiteral("Inserted: ") + quoted(inserted));
    postPasteLog(QStringLiteral("After edit: ") + quoted(*region));

    TrainingEntry entry;
    entry.raw = record.rawText;
    entry.enhanced = inserted;
    entry.app = record.appBundleID;
    entry.timestamp = iso8601(m_mainQueue.now());
    entry.feedback = QStringLiteral("auto-corrected");
    entry.correction = *region;
    entry.context = QStringLiteral("auto-captured post-paste edit");
    m_trainingLog.log(entry);
    log("TrainingData", QStringLiteral("Auto-captured post-paste correction"));

    m_dictionary.learnCorrections(inserted, *region);
    m_trainingLog.syncIfNeeded(false, [] {});
}

} // namespace quenda
