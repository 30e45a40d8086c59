#pragma once

#include <QWidget>

class QLabel;
class QStackedLayout;

namespace quenda {

class Spinner;
class StatsModel;

// "Stats": the time saved in large type over a dark gradient, a card of three columns (streak, words,
// today) and the words of this week; these colours are fixed, whatever the desktop's palette. Each showing
// asks the backend again.
class StatsWindow final : public QWidget {
    Q_OBJECT
public:
    explicit StatsWindow(StatsModel& model, QWidget* parent = nullptr);

protected:
    void paintEvent(QPaintEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    void sync();

    StatsModel& m_model;
    QStackedLayout* m_states;
    Spinner* m_spinner;
    QLabel* m_error;
    QWidget* m_content;
    QLabel* m_timeSaved;
    QLabel* m_streak;
    QLabel* m_words;
    QLabel* m_today;
    QLabel* m_week;
};

} // namespace quenda
