#include "ui/settings/SettingsWindow.h"

#include "base/Wording.h"
#include "ui/settings/SettingsModel.h"
#include "ui/settings/SpeechSection.h"
#include "ui/widgets/HotkeyRecorderRow.h"
#include "ui/widgets/Style.h"
#include "ui/widgets/Symbols.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QDir>
#include <QFileDialog>
#include <QGroupBox>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QScrollArea>
#include <QStandardPaths>
#include <QVBoxLayout>

namespace quenda {

namespace {

using style::TextStyle;
using style::Tone;
constexpr int markSize = 18;

QGroupBox* section(const QString& title)
{
    auto* box = new QGroupBox(title);
    box->setAccessibleName(title);
    auto* layout = new QVBoxLayout(box);
    layout->setSpacing(8);
    return box;
}

QVBoxLayout* layoutOf(QGroupBox* box)
{
    return static_cast<QVBoxLayout*>(box->layout());
}

// A form row: the title on the left, the value or control on the right.
QHBoxLayout* row(const QString& title, QWidget* value)
{
    auto* layout = new QHBoxLayout;
    auto* label = style::label(title);
    label->setWordWrap(false);
    layout->addWidget(label);
    layout->addStretch();
    layout->addWidget(value);
    return layout;
}

QWidget* plainWidget(QLayout* layout)
{
    auto* widget = new QWidget;
    layout->setContentsMargins(0, 0, 0, 0);
    widget->setLayout(layout);
    return widget;
}

} // namespace

SettingsWindow::SettingsWindow(SettingsModel& model, HotkeyRecorderModel& recorder,
                               SpeechSettingsModel* speech, QWidget* parent)
    : QWidget(parent)
    , m_model(model)
{
    setWindowTitle(tr("Quenda Settings"));
    setAccessibleName(tr("Quenda Settings"));
    auto* content = new QWidget;
    auto* form = new QVBoxLayout(content);
    form->setSpacing(12);
    form->addWidget(activationSection(recorder));
    form->addWidget(permissionsSection());
    if (speech)
        form->addWidget(new SpeechSection(*speech));
    form->addWidget(accountSection());
    form->addWidget(m_developer = developerSection());
    form->addWidget(diagnosticsSection());
    form->addWidget(trainingSection());
    form->addWidget(aboutSection());
    form->addStretch();

    auto* scroll = new QScrollArea;
    scroll->setWidget(content);
    scroll->setWidgetResizable(true);
    scroll->setFrameShape(QFrame::NoFrame);
    scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(scroll);
    resize(420, 500);
    setMinimumWidth(420);

    connect(&m_model, &SettingsModel::changed, this, &SettingsWindow::sync);
    // Permissions granted elsewhere show when the user comes back to Quenda.
    connect(qGuiApp, &QGuiApplication::applicationStateChanged, this, [this](Qt::ApplicationState state) {
        if (state == Qt::ApplicationActive && isVisible())
            m_model.refreshPermissions();
    });
    sync();
}

void SettingsWindow::showEvent(QShowEvent* event)
{
    m_model.refresh();
    QWidget::showEvent(event);
}

QGroupBox* SettingsWindow::activationSection(HotkeyRecorderModel& recorder)
{
    QGroupBox* box = section(tr("Activation"));
    QVBoxLayout* layout = layoutOf(box);

    m_holdMode = style::button(tr("Hold to Talk"));
    m_toggleMode = style::button(tr("Toggle"));
    auto* modes = new QButtonGroup(box);
    auto* segments = new QHBoxLayout;
    segments->setSpacing(0);
    for (QPushButton* segment : {m_holdMode, m_toggleMode}) {
        segment->setCheckable(true);
        modes->addButton(segment);
        segments->addWidget(segment);
    }
    connect(m_holdMode, &QPushButton::clicked, this, [this] { m_model.setMode(HotkeyMode::holdToTalk); });
    connect(m_toggleMode, &QPushButton::clicked, this, [this] { m_model.setMode(HotkeyMode::toggle); });
    auto* modeGroup = plainWidget(segments);
    modeGroup->setAccessibleName(tr("Mode"));
    layout->addLayout(row(tr("Mode"), modeGroup));
    layout->addWidget(new HotkeyRecorderRow(recorder));

    m_listener = style::label(QString());
    m_listener->setWordWrap(false);
    layout->addLayout(row(tr("Listener"), m_listener));
    m_retry = style::button(tr("Retry Hotkey Listener"));
    connect(m_retry, &QPushButton::clicked, this, [this] { m_model.retryHotkeyListener(); });
    layout->addWidget(m_retry, 0, Qt::AlignLeft);
    m_retryCaption = style::label(Wording::listenerCaption(), TextStyle::caption, Tone::secondary);
    layout->addWidget(m_retryCaption);
    m_listenerError = style::label(QString(), TextStyle::caption, Tone::secondary);
    layout->addWidget(m_listenerError);

    m_launchAtLogin = new QCheckBox(tr("Launch at Login"));
    m_launchAtLogin->setAccessibleName(tr("Launch at Login"));
    connect(m_launchAtLogin, &QCheckBox::clicked, this, [this](bool on) { m_model.setLaunchAtLogin(on); });
    layout->addWidget(m_launchAtLogin);
    return box;
}

QGroupBox* SettingsWindow::permissionsSection()
{
    QGroupBox* box = section(tr("Permissions"));
    QVBoxLayout* layout = layoutOf(box);
    for (const PermissionRow& permission : m_model.permissionRows()) {
        PermissionWidgets widgets{};
        widgets.mark = new QLabel;
        widgets.action = style::button(permission.actionLabel);
        widgets.action->setAccessibleName(
            QStringLiteral("%1: %2").arg(permission.title, permission.actionLabel));
        const PermissionRow::Kind kind = permission.kind;
        connect(widgets.action, &QPushButton::clicked, this,
                [this, kind] { m_model.runPermissionAction(kind); });
        auto* value = new QHBoxLayout;
        value->addWidget(widgets.mark);
        value->addWidget(widgets.action);
        layout->addLayout(row(permission.title, plainWidget(value)));
        widgets.help = style::label(QString(), TextStyle::caption, Tone::secondary);
        layout->addWidget(widgets.help);
        m_permissions.append(widgets);
    }
    auto* buttons = new QHBoxLayout;
    auto* refresh = style::button(tr("Refresh Permissions"));
    auto* reset = style::button(tr("Reset Permissions"));
    style::setTone(reset, Tone::red);
    connect(refresh, &QPushButton::clicked, this, [this] { m_model.refreshPermissions(); });
    connect(reset, &QPushButton::clicked, this, [this] { m_model.resetPermissions(); });
    buttons->addWidget(refresh);
    buttons->addWidget(reset);
    buttons->addStretch();
    layout->addLayout(buttons);
    for (const QString& caption :
         {Wording::permissionsStuckCaption(), Wording::automationCaption(), Wording::eventPostingCaption()})
        layout->addWidget(style::label(caption, TextStyle::caption, Tone::secondary));
    return box;
}

QGroupBox* SettingsWindow::accountSection()
{
    QGroupBox* box = section(tr("Account"));
    QVBoxLayout* layout = layoutOf(box);
    m_backend = style::label(QString());
    m_backend->setWordWrap(false);
    layout->addLayout(row(tr("Backend"), m_backend));

    auto* signedIn = new QVBoxLayout;
    signedIn->addWidget(style::label(tr("Signed in — enhancement routes through Quenda backend"),
                                     TextStyle::caption, Tone::secondary));
    auto* signOut = style::button(tr("Sign Out"));
    connect(signOut, &QPushButton::clicked, this, [this] { m_model.signOut(); });
    signedIn->addWidget(signOut, 0, Qt::AlignLeft);
    m_signedIn = plainWidget(signedIn);
    layout->addWidget(m_signedIn);

    auto* signInForm = new QVBoxLayout;
    // Developers point Quenda at another backend (a loopback host is forgotten at the next start).
    m_backendHost = new QLineEdit;
    m_backendHost->setPlaceholderText(tr("Backend URL"));
    m_backendHost->setAccessibleName(tr("Backend URL"));
    connect(m_backendHost, &QLineEdit::textChanged, this,
            [this](const QString& text) { m_model.setBackendHost(text); });
    signInForm->addWidget(m_backendHost);
    m_name = new QLineEdit;
    m_email = new QLineEdit;
    for (auto [field, title] : {std::pair{m_name, tr("Your name")}, std::pair{m_email, tr("Email")}}) {
        field->setPlaceholderText(title);
        field->setAccessibleName(title);
        signInForm->addWidget(field);
    }
    m_email->setInputMethodHints(Qt::ImhEmailCharactersOnly);
    connect(m_name, &QLineEdit::textChanged, this,
            [this](const QString& text) { m_model.setSignInName(text); });
    connect(m_email, &QLineEdit::textChanged, this,
            [this](const QString& text) { m_model.setSignInEmail(text); });
    m_signIn = style::button(tr("Sign In"));
    connect(m_signIn, &QPushButton::clicked, this, [this] { m_model.signIn(); });
    signInForm->addWidget(m_signIn, 0, Qt::AlignLeft);
    m_signInError = style::label(QString(), TextStyle::caption, Tone::red);
    signInForm->addWidget(m_signInError);
    m_signInForm = plainWidget(signInForm);
    layout->addWidget(m_signInForm);
    return box;
}

QGroupBox* SettingsWindow::developerSection()
{
    QGroupBox* box = section(tr("AI Enhancement (Direct)"));
    QVBoxLayout* layout = layoutOf(box);
    m_groqKey = new QLineEdit;
    m_groqKey->setEchoMode(QLineEdit::Password);
    m_groqKey->setPlaceholderText(tr("Groq API Key"));
    m_groqKey->setAccessibleName(tr("Groq API Key"));
    connect(m_groqKey, &QLineEdit::textChanged, this,
            [this](const QString& text) { m_model.setGroqAPIKey(text); });
    // Submitting the field saves whatever it holds, an empty key included.
    connect(m_groqKey, &QLineEdit::returnPressed, this, [this] { m_model.saveGroqKey(); });
    layout->addWidget(m_groqKey);
    layout->addWidget(style::label(Wording::groqKeyCaption(), TextStyle::caption, Tone::secondary));
    m_groqStatus = style::label(QString());
    m_groqStatus->setWordWrap(false);
    layout->addLayout(row(tr("Status"), m_groqStatus));
    auto* save = new QHBoxLayout;
    m_saveKey = style::button(tr("Save Key"));
    connect(m_saveKey, &QPushButton::clicked, this, [this] { m_model.saveGroqKey(); });
    m_keySaved = style::label(QString(), TextStyle::caption, Tone::green);
    save->addWidget(m_saveKey);
    save->addWidget(m_keySaved, 1);
    layout->addLayout(save);
    return box;
}

QGroupBox* SettingsWindow::diagnosticsSection()
{
    QGroupBox* box = section(tr("Diagnostics"));
    m_insertionStatus = style::label(QString(), TextStyle::caption, Tone::secondary);
    m_insertionStatus->setTextInteractionFlags(Qt::TextSelectableByMouse);
    layoutOf(box)->addWidget(m_insertionStatus);
    return box;
}

QGroupBox* SettingsWindow::trainingSection()
{
    QGroupBox* box = section(tr("Training Data"));
    QVBoxLayout* layout = layoutOf(box);
    m_pairs = style::label(QString());
    m_flagged = style::label(QString());
    layout->addLayout(row(tr("Pairs collected"), m_pairs));
    layout->addLayout(row(tr("Corrections flagged"), m_flagged));
    auto* buttons = new QHBoxLayout;
    auto* open = style::button(tr("Open Training Log"));
    auto* exportButton = style::button(tr("Export for Fine-Tuning"));
    connect(open, &QPushButton::clicked, this, [this] { m_model.openTrainingLog(); });
    connect(exportButton, &QPushButton::clicked, this, &SettingsWindow::chooseExportFile);
    buttons->addWidget(open);
    buttons->addWidget(exportButton);
    buttons->addStretch();
    layout->addLayout(buttons);
    return box;
}

QGroupBox* SettingsWindow::aboutSection()
{
    QGroupBox* box = section(tr("About"));
    QVBoxLayout* layout = layoutOf(box);
    m_version = style::plainButton(m_model.versionLine(), Tone::primary);
    connect(m_version, &QPushButton::clicked, this, [this] { m_model.registerDevTap(); });
    layout->addWidget(m_version, 0, Qt::AlignLeft);
    layout->addWidget(style::label(tr("Your voice, polished."), TextStyle::caption, Tone::secondary));
    auto* rerun = style::button(tr("Re-run Setup"));
    connect(rerun, &QPushButton::clicked, this, [this] { m_model.showOnboardingAgain(); });
    layout->addWidget(rerun, 0, Qt::AlignLeft);
    return box;
}

void SettingsWindow::sync()
{
    // Activation.
    m_holdMode->setChecked(m_model.mode() == HotkeyMode::holdToTalk);
    m_toggleMode->setChecked(m_model.mode() == HotkeyMode::toggle);
    const bool listening = m_model.isListening();
    style::setText(m_listener, listening ? tr("Ready") : tr("Not Listening"));
    m_listener->setAccessibleName(tr("Listener: %1").arg(m_listener->text()));
    style::setTone(m_listener, listening ? Tone::secondary : Tone::red);
    m_retry->setVisible(!listening);
    m_retryCaption->setVisible(!listening);
    const std::optional<QString> listenerError = m_model.listenerErrorMessage();
    m_listenerError->setVisible(listenerError.has_value());
    style::setText(m_listenerError, listenerError.value_or(QString()));
    m_launchAtLogin->setChecked(m_model.launchAtLogin());

    syncPermissions();

    // Account.
    const bool connected = m_model.backendConnected();
    style::setText(m_backend, connected ? tr("Connected") : tr("Not connected"));
    m_backend->setAccessibleName(tr("Backend: %1").arg(m_backend->text()));
    style::setTone(m_backend, connected ? Tone::green : Tone::secondary);
    m_signedIn->setVisible(connected);
    m_signInForm->setVisible(!connected);
    m_backendHost->setVisible(m_model.devModeEnabled());
    if (m_backendHost->text() != m_model.backendHost())
        m_backendHost->setText(m_model.backendHost());
    if (m_name->text() != m_model.signInName())
        m_name->setText(m_model.signInName());
    if (m_email->text() != m_model.signInEmail())
        m_email->setText(m_model.signInEmail());
    m_signIn->setText(m_model.signInButtonTitle());
    m_signIn->setAccessibleName(m_model.signInButtonTitle());
    m_signIn->setEnabled(m_model.canSignIn());
    m_signInError->setVisible(m_model.backendError().has_value());
    style::setText(m_signInError, m_model.backendError().value_or(QString()));

    // Developer mode.
    m_developer->setVisible(m_model.devModeEnabled());
    if (m_groqKey->text() != m_model.groqAPIKey())
        m_groqKey->setText(m_model.groqAPIKey());
    const bool configured = m_model.groqKeyConfigured();
    style::setText(m_groqStatus, configured ? tr("Active") : tr("Not configured"));
    m_groqStatus->setAccessibleName(tr("Status: %1").arg(m_groqStatus->text()));
    style::setTone(m_groqStatus, configured ? Tone::green : Tone::secondary);
    m_saveKey->setEnabled(!m_model.groqAPIKey().isEmpty());
    m_keySaved->setVisible(m_model.showKeySaved());
    style::setText(m_keySaved, m_model.keySavedText());

    // Diagnostics and training data.
    style::setText(m_insertionStatus, m_model.lastInsertionStatus());
    style::setText(m_pairs, QString::number(m_model.pairsCollected()));
    m_pairs->setAccessibleName(tr("Pairs collected: %1").arg(m_model.pairsCollected()));
    style::setText(m_flagged, QString::number(m_model.correctionsFlagged()));
    m_flagged->setAccessibleName(tr("Corrections flagged: %1").arg(m_model.correctionsFlagged()));

    if (m_model.showRestartAlert() && !m_restartAlert)
        showRestartAlert();
}

void SettingsWindow::syncPermissions()
{
    const QList<PermissionRow> rows = m_model.permissionRows();
    for (qsizetype i = 0; i < rows.size() && i < m_permissions.size(); ++i) {
        const PermissionRow& permission = rows[i];
        const PermissionWidgets& widgets = m_permissions[i];
        const bool hasAction = !permission.actionLabel.isEmpty();
        // Granted: a green check. Missing: the action, or a red cross where nothing can be done here.
        const bool showMark = permission.granted || !hasAction;
        widgets.mark->setVisible(showMark);
        if (showMark) {
            symbols::setSymbol(widgets.mark,
                               permission.granted ? QStringLiteral("checkmark.circle.fill")
                                                  : QStringLiteral("xmark.circle.fill"),
                               style::color(permission.granted ? Tone::green : Tone::red, palette()),
                               markSize);
            widgets.mark->setAccessibleName(permission.granted ? tr("%1: granted").arg(permission.title)
                                                               : tr("%1: not granted").arg(permission.title));
        }
        widgets.action->setVisible(!permission.granted && hasAction);
        widgets.help->setVisible(!permission.help.isEmpty());
        style::setText(widgets.help, permission.help);
    }
}

void SettingsWindow::showRestartAlert()
{
    auto* alert = new QMessageBox(this);
    alert->setAttribute(Qt::WA_DeleteOnClose);
    alert->setWindowTitle(tr("Permissions Reset"));
    alert->setText(tr("Permissions Reset"));
    alert->setInformativeText(Wording::permissionsResetMessage());
    QPushButton* restart = alert->addButton(tr("Restart Now"), QMessageBox::AcceptRole);
    restart->setAccessibleName(tr("Restart Now"));
    QPushButton* later = alert->addButton(tr("Later"), QMessageBox::RejectRole);
    later->setAccessibleName(tr("Later"));
    alert->setDefaultButton(restart);
    connect(alert, &QMessageBox::buttonClicked, this, [this, restart](QAbstractButton* clicked) {
        if (clicked == restart)
            m_model.restartNow();
        else
            m_model.dismissRestartAlert();
    });
    connect(alert, &QMessageBox::rejected, this, [this] {
        if (m_model.showRestartAlert())
            m_model.dismissRestartAlert();
    });
    m_restartAlert = alert;
    alert->open();
}

void SettingsWindow::chooseExportFile()
{
    auto* dialog = new QFileDialog(this, tr("Export for Fine-Tuning"));
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->setAcceptMode(QFileDialog::AcceptSave);
    dialog->setNameFilters({tr("JSON Lines (*.jsonl)"), tr("JSON (*.json)")});
    dialog->setDefaultSuffix(QStringLiteral("jsonl"));
    dialog->setDirectory(QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation));
    dialog->selectFile(SettingsModel::exportFileName);
    connect(dialog, &QFileDialog::fileSelected, this,
            [this](const QString& path) { m_model.exportTrainingData(path); });
    dialog->open();
}

} // namespace quenda
