#pragma once

#include <QGroupBox>
#include <QList>

class QComboBox;
class QLabel;
class QProgressBar;
class QPushButton;

namespace quenda {

class SpeechSettingsModel;

// The settings' Speech section: the engine choice, and for Whisper the models with their download
// (progress bar and cancel), use and removal, and what the last action could not do.
class SpeechSection final : public QGroupBox {
    Q_OBJECT
public:
    explicit SpeechSection(SpeechSettingsModel& model, QWidget* parent = nullptr);

protected:
    // Models downloaded or removed from a shell show when the window comes back.
    void showEvent(QShowEvent* event) override;

private:
    void sync();

    SpeechSettingsModel& m_model;
    QComboBox* m_engine = nullptr;
    QLabel* m_caption = nullptr;
    QWidget* m_models = nullptr;
    struct ModelWidgets {
        QLabel* state;
        QPushButton* download;
        QPushButton* use;
        QPushButton* remove;
    };
    QList<ModelWidgets> m_rows;
    QWidget* m_progress = nullptr;
    QProgressBar* m_bar = nullptr;
    QLabel* m_progressText = nullptr;
    QLabel* m_error = nullptr;
    QLabel* m_notice = nullptr;
};

} // namespace quenda
