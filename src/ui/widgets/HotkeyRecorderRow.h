#pragma once

#include <QWidget>

class QLabel;
class QPushButton;

namespace quenda {

class HotkeyRecorderModel;

// The "Hotkey" row of the settings: the hotkey as a button that starts recording, "Reset" while it is not
// the default, the "Press a key…" prompt with "Cancel" while recording, and the hint or error line below.
// While the prompt shows, the keys pressed stay out of Quenda's own windows.
class HotkeyRecorderRow final : public QWidget {
    Q_OBJECT
public:
    explicit HotkeyRecorderRow(HotkeyRecorderModel& model, QWidget* parent = nullptr);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void sync();

    HotkeyRecorderModel& m_model;
    QPushButton* m_hotkey;
    QPushButton* m_reset;
    QLabel* m_prompt;
    QPushButton* m_cancel;
    QLabel* m_caption;
    bool m_promptShown = false;
};

} // namespace quenda
