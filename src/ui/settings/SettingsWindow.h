#pragma once

#include <QList>
#include <QPointer>
#include <QWidget>

class QCheckBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QMessageBox;
class QPushButton;
class QVBoxLayout;

namespace quenda {

class HotkeyRecorderModel;
class SettingsModel;
class SpeechSettingsModel;

// The settings window: the seven sections of SettingsModel, and the Speech section when it is given, as a
// grouped form that scrolls. It reads every
// state afresh each time it is shown and whenever Quenda becomes active.
class SettingsWindow final : public QWidget {
    Q_OBJECT
public:
    SettingsWindow(SettingsModel& model, HotkeyRecorderModel& recorder, SpeechSettingsModel* speech = nullptr,
                   QWidget* parent = nullptr);

protected:
    void showEvent(QShowEvent* event) override;

private:
    QGroupBox* activationSection(HotkeyRecorderModel& recorder);
    QGroupBox* permissionsSection();
    QGroupBox* accountSection();
    QGroupBox* developerSection();
    QGroupBox* diagnosticsSection();
    QGroupBox* trainingSection();
    QGroupBox* aboutSection();
    void sync();
    void syncPermissions();
    void showRestartAlert();
    void chooseExportFile();

    SettingsModel& m_model;
    // Activation.
    QPushButton* m_holdMode = nullptr;
    QPushButton* m_toggleMode = nullptr;
    QLabel* m_listener = nullptr;
    QPushButton* m_retry = nullptr;
    QLabel* m_retryCaption = nullptr;
    QLabel* m_listenerError = nullptr;
    QCheckBox* m_launchAtLogin = nullptr;
    // Permissions: one row each, in the model's order.
    struct PermissionWidgets {
        QLabel* mark;
        QPushButton* action;
        QLabel* help;
    };
    QList<PermissionWidgets> m_permissions;
    // Account.
    QLabel* m_backend = nullptr;
    QWidget* m_signedIn = nullptr;
    QWidget* m_signInForm = nullptr;
    QLineEdit* m_backendHost = nullptr;
    QLineEdit* m_name = nullptr;
    QLineEdit* m_email = nullptr;
    QPushButton* m_signIn = nullptr;
    QLabel* m_signInError = nullptr;
    // Developer mode.
    QGroupBox* m_developer = nullptr;
    QLineEdit* m_groqKey = nullptr;
    QLabel* m_groqStatus = nullptr;
    QPushButton* m_saveKey = nullptr;
    QLabel* m_keySaved = nullptr;
    // Diagnostics, training data, about.
    QLabel* m_insertionStatus = nullptr;
    QLabel* m_pairs = nullptr;
    QLabel* m_flagged = nullptr;
    QPushButton* m_version = nullptr;
    QPointer<QMessageBox> m_restartAlert;
};

} // namespace quenda
