#include "ui/onboarding/OnboardingWindow.h"

#include "ui/settings/SpeechSettingsModel.h"
#include "ui/widgets/Spinner.h"
#include "ui/widgets/Style.h"
#include "ui/widgets/Symbols.h"

#include <QCheckBox>
#include <QGraphicsOpacityEffect>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QIcon>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QProgressBar>
#include <QPropertyAnimation>
#include <QPushButton>
#include <QStackedWidget>
#include <QVBoxLayout>

namespace quenda {

namespace {

using Permission = OnboardingModel::Permission;
using Step = OnboardingModel::Step;

const QColor ink(Qt::white);
const QColor softInk(255, 255, 255, 215);
constexpr int symbolSize = 20;

QLabel* text(const QString& content, qreal scale, bool bold = false, const QColor& color = ink)
{
    auto* label = new QLabel(content);
    label->setTextFormat(Qt::PlainText);
    label->setWordWrap(true);
    label->setAlignment(Qt::AlignCenter);
    label->setAccessibleName(content);
    QFont font = label->font();
    font.setPointSizeF(QFont().pointSizeF() * scale);
    font.setBold(bold);
    label->setFont(font);
    QPalette palette = label->palette();
    palette.setColor(QPalette::WindowText, color);
    label->setPalette(palette);
    return label;
}

QLabel* appIcon(int size)
{
    auto* icon = new QLabel;
    icon->setPixmap(QIcon(QStringLiteral(":/symbols/OnboardingIcon.svg")).pixmap(size, size));
    icon->setAlignment(Qt::AlignCenter);
    icon->setAccessibleName(QStringLiteral("Quenda"));
    return icon;
}

// The buttons on the gradient: white with violet text, or a quiet text button.
QPushButton* pageButton(const QString& title, bool prominent)
{
    auto* button = style::button(title);
    button->setCursor(Qt::PointingHandCursor);
    button->setStyleSheet(
        prominent ? QStringLiteral("QPushButton { background: white; color: #5b3bb0; border: none;"
                                   " border-radius: 8px; padding: 8px 22px; font-weight: bold; }"
                                   "QPushButton:disabled { color: #9d8fc9; }"
                                   "QPushButton:focus { border: 2px solid #3a2580; }")
                  : QStringLiteral("QPushButton { background: transparent; color: white; border: none;"
                                   " padding: 6px 12px; }"
                                   "QPushButton:focus { text-decoration: underline; }"));
    return button;
}

// A rounded, lightly white card that groups rows on the gradient.
QWidget* card()
{
    auto* widget = new QWidget;
    widget->setObjectName(QStringLiteral("card"));
    widget->setAttribute(Qt::WA_StyledBackground);
    widget->setStyleSheet(
        QStringLiteral("#card { background: rgba(255, 255, 255, 38); border-radius: 12px; }"));
    return widget;
}

QVBoxLayout* page(QWidget* widget)
{
    auto* layout = new QVBoxLayout(widget);
    layout->setContentsMargins(36, 28, 36, 24);
    layout->setSpacing(10);
    return layout;
}

} // namespace

OnboardingWindow::OnboardingWindow(OnboardingModel& model, QWidget* parent)
    : QWidget(parent)
    , m_model(model)
    , m_pages(new QStackedWidget)
{
    setWindowTitle(tr("Welcome to Quenda"));
    setAccessibleName(tr("Welcome to Quenda"));
    setWindowFlag(Qt::WindowStaysOnTopHint);
    setFixedSize(480, 600);
    m_pages->addWidget(welcomePage());
    m_pages->addWidget(permissionsPage());
    m_pages->addWidget(signInPage());
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(m_pages);
    connect(&m_model, &OnboardingModel::changed, this, &OnboardingWindow::sync);
    connect(qGuiApp, &QGuiApplication::applicationStateChanged, this, [this](Qt::ApplicationState state) {
        if (state == Qt::ApplicationActive)
            m_model.applicationActivated();
    });
    sync();
}

void OnboardingWindow::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    QLinearGradient gradient(rect().topLeft(), rect().bottomRight());
    gradient.setColorAt(0.0, QColor::fromRgbF(0.72, 0.55, 0.95));
    gradient.setColorAt(0.5, QColor::fromRgbF(0.55, 0.55, 0.95));
    gradient.setColorAt(1.0, QColor::fromRgbF(0.45, 0.70, 0.95));
    painter.fillRect(rect(), gradient);
}

void OnboardingWindow::showEvent(QShowEvent* event)
{
    if (m_model.isFinished())
        m_model.restart(); // shown again from the settings: a new run
    m_model.setVisible(true);
    QWidget::showEvent(event);
}

void OnboardingWindow::hideEvent(QHideEvent* event)
{
    m_model.setVisible(false);
    QWidget::hideEvent(event);
}

QWidget* OnboardingWindow::welcomePage()
{
    auto* widget = new QWidget;
    QVBoxLayout* layout = page(widget);
    layout->addStretch();
    layout->addWidget(appIcon(96));
    layout->addWidget(text(tr("Quenda"), 2.4, true));
    layout->addWidget(text(tr("Your voice, polished."), 1.2, false, softInk));
    layout->addSpacing(18);
    QWidget* features = card();
    auto* rows = new QVBoxLayout(features);
    rows->setContentsMargins(18, 14, 18, 14);
    rows->setSpacing(12);
    const QList<std::pair<QString, QString>> items{
        {QStringLiteral("waveform"), m_model.holdToDictateText()},
        {QStringLiteral("sparkles"), tr("AI-powered text enhancement")},
        {QStringLiteral("lock.shield"), tr("Audio stays on your device")},
    };
    for (const auto& [symbol, caption] : items) {
        auto* line = new QHBoxLayout;
        line->setSpacing(12);
        line->addWidget(symbols::label(symbol, ink, symbolSize));
        QLabel* label = text(caption, 1.0);
        label->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
        line->addWidget(label, 1);
        rows->addLayout(line);
    }
    layout->addWidget(features);
    layout->addStretch();
    QPushButton* start = pageButton(tr("Get Started"), true);
    connect(start, &QPushButton::clicked, this, [this] { m_model.getStarted(); });
    layout->addWidget(start, 0, Qt::AlignHCenter);
    return widget;
}

QWidget* OnboardingWindow::permissionsPage()
{
    auto* widget = new QWidget;
    QVBoxLayout* layout = page(widget);
    layout->addWidget(appIcon(64));
    layout->addWidget(text(tr("Permissions"), 1.8, true));
    layout->addWidget(text(tr("Quenda needs a few permissions to work"), 1.05, false, softInk));
    layout->addSpacing(8);
    QWidget* list = card();
    auto* rows = new QVBoxLayout(list);
    rows->setContentsMargins(16, 12, 16, 12);
    rows->setSpacing(10);
    struct Item {
        Permission permission;
        const char* symbol;
        QString title;
        QString reason;
    };
    const QList<Item> items{
        {Permission::microphone, "mic.fill", tr("Microphone"), tr("Required to capture your voice")},
        {Permission::speechRecognition, "waveform", tr("Speech Recognition"),
         tr("Required for on-device transcription")},
        {Permission::accessibility, "hand.raised.fill", tr("Accessibility"),
         tr("Enables text insertion into any app")},
        {Permission::inputMonitoring, "keyboard", tr("Input Monitoring"), m_model.inputMonitoringReason()},
    };
    for (const Item& item : items) {
        auto* line = new QHBoxLayout;
        line->setSpacing(12);
        line->addWidget(symbols::label(QString::fromLatin1(item.symbol), ink, symbolSize));
        auto* words = new QVBoxLayout;
        words->setSpacing(0);
        QLabel* title = text(item.title, 1.0, true);
        QLabel* reason = text(item.reason, 0.85, false, softInk);
        title->setAlignment(Qt::AlignLeft);
        reason->setAlignment(Qt::AlignLeft);
        words->addWidget(title);
        words->addWidget(reason);
        line->addLayout(words, 1);
        PermissionWidgets widgets{item.permission,
                                  symbols::label(QStringLiteral("checkmark.circle.fill"),
                                                 QColor(0x2e, 0xc4, 0x6b), 22,
                                                 tr("%1: granted").arg(item.title)),
                                  pageButton(tr("Allow"), true), text(QString(), 0.8, false, softInk)};
        widgets.allow->setAccessibleName(tr("Allow %1").arg(item.title));
        const Permission permission = item.permission;
        connect(widgets.allow, &QPushButton::clicked, this,
                [this, permission] { m_model.allow(permission); });
        line->addWidget(widgets.granted);
        line->addWidget(widgets.allow);
        rows->addLayout(line);
        widgets.help->setAlignment(Qt::AlignLeft);
        rows->addWidget(widgets.help);
        m_permissions.append(widgets);
        if (permission == Permission::speechRecognition) {
            m_speechOffer = new QWidget;
            auto* offer = new QVBoxLayout(m_speechOffer);
            offer->setContentsMargins(0, 0, 0, 0);
            m_speechDownload = pageButton(m_model.speechModelOffer(), true);
            m_speechDownload->setAccessibleName(tr("Download Whisper Model"));
            connect(m_speechDownload, &QPushButton::clicked, this, [this] { m_model.downloadSpeechModel(); });
            m_speechProgress = new QProgressBar;
            m_speechProgress->setRange(0, 1000);
            m_speechProgress->setTextVisible(false);
            m_speechProgress->setAccessibleName(tr("Download Progress"));
            m_speechStatus = text(QString(), 0.8, false, softInk);
            m_speechStatus->setAlignment(Qt::AlignLeft);
            offer->addWidget(m_speechDownload, 0, Qt::AlignLeft);
            offer->addWidget(m_speechProgress);
            offer->addWidget(m_speechStatus);
            rows->addWidget(m_speechOffer);
        }
    }
    layout->addWidget(list);
    layout->addStretch();
    QPushButton* next = pageButton(tr("Continue"), true);
    QPushButton* back = pageButton(tr("Back"), false);
    connect(next, &QPushButton::clicked, this, [this] { m_model.continueToSignIn(); });
    connect(back, &QPushButton::clicked, this, [this] { m_model.back(); });
    layout->addWidget(next, 0, Qt::AlignHCenter);
    layout->addWidget(back, 0, Qt::AlignHCenter);
    return widget;
}

QWidget* OnboardingWindow::signInPage()
{
    auto* widget = new QWidget;
    QVBoxLayout* layout = page(widget);
    layout->addWidget(appIcon(64));
    layout->addWidget(text(tr("Create your account"), 1.8, true));
    layout->addWidget(text(tr("One step and you're in"), 1.05, false, softInk));
    layout->addSpacing(8);
    m_name = new QLineEdit;
    m_email = new QLineEdit;
    for (auto [field, title] :
         {std::pair{m_name, tr("Your name")}, std::pair{m_email, tr("Email address")}}) {
        field->setPlaceholderText(title);
        field->setAccessibleName(title);
        field->setStyleSheet(QStringLiteral("QLineEdit { background: white; color: #222; border: none;"
                                            " border-radius: 8px; padding: 8px; }"));
        layout->addWidget(field);
    }
    connect(m_name, &QLineEdit::textChanged, this, [this](const QString& value) { m_model.setName(value); });
    connect(m_email, &QLineEdit::textChanged, this,
            [this](const QString& value) { m_model.setEmail(value); });
    m_error = text(QString(), 0.9, true, QColor(0xff, 0xf0, 0xa0));
    layout->addWidget(m_error);

    QWidget* switches = card();
    auto* rows = new QVBoxLayout(switches);
    rows->setContentsMargins(16, 10, 16, 10);
    m_autoUpdate = new QCheckBox;
    m_launchAtLogin = new QCheckBox;
    const QList<std::tuple<QString, QString, QCheckBox*>> items{
        {QStringLiteral("arrow.triangle.2.circlepath"), tr("Keep Quenda up to date automatically"),
         m_autoUpdate},
        {QStringLiteral("power"), tr("Open Quenda when you log in"), m_launchAtLogin},
    };
    for (const auto& [symbol, caption, box] : items) {
        auto* line = new QHBoxLayout;
        line->setSpacing(12);
        line->addWidget(symbols::label(symbol, ink, symbolSize));
        QLabel* label = text(caption, 0.95);
        label->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
        line->addWidget(label, 1);
        box->setAccessibleName(caption);
        line->addWidget(box);
        rows->addLayout(line);
    }
    connect(m_autoUpdate, &QCheckBox::clicked, this, [this](bool on) { m_model.setAutoUpdate(on); });
    connect(m_launchAtLogin, &QCheckBox::clicked, this, [this](bool on) { m_model.setLaunchAtLogin(on); });
    layout->addWidget(switches);
    layout->addStretch();

    m_signIn = pageButton(tr("Sign In"), true);
    m_signIn->setMinimumWidth(160);
    m_signInOpacity = new QGraphicsOpacityEffect(m_signIn);
    m_signIn->setGraphicsEffect(m_signInOpacity);
    m_signInSpinner = new Spinner(16, m_signIn);
    m_signInSpinner->setColor(QColor(0x5b, 0x3b, 0xb0));
    connect(m_signIn, &QPushButton::clicked, this, [this] { m_model.signIn(); });
    layout->addWidget(m_signIn, 0, Qt::AlignHCenter);
    auto* links = new QHBoxLayout;
    QPushButton* back = pageButton(tr("Back"), false);
    QPushButton* skip = pageButton(tr("Skip for now"), false);
    connect(back, &QPushButton::clicked, this, [this] { m_model.back(); });
    connect(skip, &QPushButton::clicked, this, [this] { m_model.skip(); });
    links->addStretch();
    links->addWidget(back);
    links->addWidget(skip);
    links->addStretch();
    layout->addLayout(links);
    return widget;
}

void OnboardingWindow::sync()
{
    const Step step = m_model.step();
    const int index = step == Step::welcome ? 0 : step == Step::permissions ? 1 : 2;
    if (m_pages->currentIndex() != index) {
        m_pages->setCurrentIndex(index);
        // Steps change with a short ease-in-out fade.
        auto* fade = new QGraphicsOpacityEffect(m_pages->currentWidget());
        m_pages->currentWidget()->setGraphicsEffect(fade);
        auto* animation = new QPropertyAnimation(fade, "opacity", fade);
        animation->setDuration(300);
        animation->setStartValue(0.0);
        animation->setEndValue(1.0);
        animation->setEasingCurve(QEasingCurve::InOutQuad);
        connect(animation, &QPropertyAnimation::finished, m_pages->currentWidget(),
                [page = m_pages->currentWidget()] { page->setGraphicsEffect(nullptr); });
        animation->start(QAbstractAnimation::DeleteWhenStopped);
    }
    for (const PermissionWidgets& widgets : m_permissions) {
        const bool granted = m_model.isGranted(widgets.permission);
        widgets.granted->setVisible(granted);
        widgets.allow->setVisible(!granted);
        const QString help = m_model.help(widgets.permission);
        widgets.help->setVisible(!help.isEmpty());
        style::setText(widgets.help, help);
    }
    if (m_speechOffer) {
        const SpeechSettingsModel* speech = m_model.speech();
        const bool downloading = speech && speech->isDownloading();
        m_speechOffer->setVisible(m_model.offersSpeechModel());
        m_speechDownload->setVisible(!downloading);
        m_speechProgress->setVisible(downloading);
        if (speech) {
            m_speechProgress->setValue(int(speech->downloadFraction() * 1000));
            const QString status =
                downloading ? speech->progressText() : speech->error().value_or(speech->notice());
            m_speechStatus->setVisible(!status.isEmpty());
            style::setText(m_speechStatus, status);
        }
    }
    if (m_name->text() != m_model.name())
        m_name->setText(m_model.name());
    if (m_email->text() != m_model.email())
        m_email->setText(m_model.email());
    m_error->setVisible(m_model.error().has_value());
    style::setText(m_error, m_model.error().value_or(QString()));
    m_autoUpdate->setChecked(m_model.autoUpdate());
    m_launchAtLogin->setChecked(m_model.launchAtLogin());
    const bool signingIn = m_model.isSigningIn();
    m_signIn->setEnabled(m_model.canSignIn());
    m_signIn->setText(signingIn ? QString() : tr("Sign In"));
    m_signInSpinner->setVisible(signingIn);
    m_signInSpinner->move((m_signIn->width() - m_signInSpinner->width()) / 2,
                          (m_signIn->height() - m_signInSpinner->height()) / 2);
    m_signInOpacity->setOpacity(m_model.isSignInDimmed() ? 0.6 : 1.0);
}

} // namespace quenda
