#pragma once

#include "core/PostPasteCapture.h"

#include <QString>

#include <memory>
#include <optional>

namespace quenda {

class FocusedValueReader;
class PersonalDictionary;
class Scheduler;
class TrainingLog;

// The read-back after a cleaned-up insertion: finds the stretch of the field that corresponds to the inserted
// text and, when the user edited it moderately (similarity above 0.3 and below 1), logs the pair as an
// automatic correction and hands it to the personal dictionary's learning. Runs on the main queue.
class PostPasteCorrector final : public PostPasteCapture {
public:
    PostPasteCorrector(FocusedValueReader& reader, TrainingLog& trainingLog, PersonalDictionary& dictionary,
                       Scheduler& mainQueue);

    void capturePostPasteCorrection(const PostPasteRecord& record) override;

    // The best-matching window of the field (lengths and offsets in user-perceived characters), or nothing
    // when no window is more than 0.4 similar.
    static std::optional<QString> findInsertedRegion(const QString& inserted, const QString& fieldText);
    // Greedy in-order character match over the longer length, 0…1.
    static double textSimilarity(const QString& a, const QString& b);

private:
    void compareReadBack(const PostPasteRecord& record, const std::optional<QString>& value);

    FocusedValueReader& m_reader;
    TrainingLog& m_trainingLog;
    PersonalDictionary& m_dictionary;
    Scheduler& m_mainQueue;
    std::shared_ptr<bool> m_alive = std::make_shared<bool>(true);
};

} // namespace quenda
