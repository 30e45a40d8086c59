#pragma once

#include "base/Lifetime.h"

#include <QJsonObject>
#include <QObject>
#include <QString>

#include <optional>

namespace quenda {

class QuendaAPIClient;
class Scheduler;

// The "Stats" window's numbers, as the backend reports them each time the window shows: the time saved by
// speaking instead of typing (40 words a minute typed, 150 spoken), the streak, the words in all and this
// week, and today's dictations. No statistics are kept locally.
class StatsModel : public QObject {
    Q_OBJECT
public:
    StatsModel(QuendaAPIClient& backend, Scheduler& mainQueue, QObject* parent = nullptr);

    // Starts again from zeros with the loading indicator, and asks the backend.
    void load();
    // A usage reply: each of the four numbers when present as an integer, else 0.
    void apply(const QJsonObject& usage);

    bool isLoading() const { return m_isLoading; }
    const std::optional<QString>& error() const { return m_error; }
    int totalWords() const { return m_totalWords; }
    int wordsThisWeek() const { return m_wordsThisWeek; }
    int streak() const { return m_streak; }
    int dictationsToday() const { return m_dictationsToday; }

    // "< 1", "18", "1h", "1h 13m".
    static QString timeSaved(int totalWords);
    // Above 999 in thousands with one decimal ("1.3k"), else the number.
    static QString words(int count);
    // An em dash below one day.
    static QString streakText(int days);

Q_SIGNALS:
    void changed();

private:
    QuendaAPIClient& m_backend;
    Scheduler& m_mainQueue;
    int m_totalWords = 0;
    int m_wordsThisWeek = 0;
    int m_streak = 0;
    int m_dictationsToday = 0;
    bool m_isLoading = true;
    std::optional<QString> m_error;
    quint64 m_generation = 0; // a reply to an earlier showing is dropped
    Lifetime m_lifetime;
};

} // namespace quenda
