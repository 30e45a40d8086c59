#pragma once

#include "ui/onboarding/OnboardingModel.h"

#include <QList>
#include <QWidget>

class QCheckBox;
class QGraphicsOpacityEffect;
class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;
class QStackedWidget;

namespace quenda {

class Spinner;

// The first-run window: the three steps of OnboardingModel over a fixed violet-to-blue gradient, 480 × 600,
// kept above other windows. Closing it ends nothing; the model's completion closes it.
class OnboardingWindow final : public QWidget {
    Q_OBJECT
public:
    explicit OnboardingWindow(OnboardingModel& model, QWidget* parent = nullptr);

protected:
    void paintEvent(QPaintEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    QWidget* welcomePage();
    QWidget* permissionsPage();
    QWidget* signInPage();
    void sync();

    OnboardingModel& m_model;
    QStackedWidget* m_pages;
    OnboardingModel::Step m_shownStep = OnboardingModel::Step::welcome;
    struct PermissionWidgets {
        OnboardingModel::Permission permission;
        QLabel* granted;
        QPushButton* allow;
        QLabel* help;
    };
    QList<PermissionWidgets> m_permissions;
    // The whisper model download under the speech row.
    QWidget* m_speechOffer = nullptr;
    QPushButton* m_speechDownload = nullptr;
    QProgressBar* m_speechProgress = nullptr;
    QLabel* m_speechStatus = nullptr;
    QLineEdit* m_name = nullptr;
    QLineEdit* m_email = nullptr;
    QLabel* m_error = nullptr;
    QCheckBox* m_autoUpdate = nullptr;
    QCheckBox* m_launchAtLogin = nullptr;
    QPushButton* m_signIn = nullptr;
    Spinner* m_signInSpinner = nullptr;
    QGraphicsOpacityEffect* m_signInOpacity = nullptr;
};

} // namespace quenda
