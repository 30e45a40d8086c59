#include "ui/stats/StatsWindow.h"

#include "ui/stats/StatsModel.h"
#include "ui/widgets/Spinner.h"
#include "ui/widgets/Symbols.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPainterPath>
#include <QStackedLayout>
#include <QVBoxLayout>

namespace quenda {

namespace {

QColor white(qreal opacity)
{
    return QColor::fromRgbF(1, 1, 1, opacity);
}

QLabel* text(const QString& content, qreal pixelSize, int weight, qreal opacity, bool rounded = false)
{
    auto* label = new QLabel(content);
    label->setTextFormat(Qt::PlainText);
    label->setAlignment(Qt::AlignCenter);
    label->setAccessibleName(content);
    QFont font = label->font();
    if (rounded)
        font.setStyleHint(QFont::SansSerif);
    font.setPixelSize(qRound(pixelSize));
    font.setWeight(QFont::Weight(weight));
    label->setFont(font);
    QPalette palette = label->palette();
    palette.setColor(QPalette::WindowText, white(opacity));
    label->setPalette(palette);
    return label;
}

// The card behind the three columns: a rounded, faintly white panel with a faint outline.
class Card final : public QWidget {
public:
    using QWidget::QWidget;

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        QPainterPath path;
        path.addRoundedRect(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5), 12, 12);
        painter.fillPath(path, white(0.04));
        painter.setPen(QPen(white(0.06), 1));
        painter.drawPath(path);
    }
};

QWidget* rule()
{
    auto* line = new QWidget;
    line->setFixedSize(1, 40);
    line->setAutoFillBackground(true);
    QPalette palette = line->palette();
    palette.setColor(QPalette::Window, white(0.08));
    line->setPalette(palette);
    return line;
}

QVBoxLayout* column(const char* symbol, const QColor& color, QLabel* value, const QString& caption)
{
    auto* layout = new QVBoxLayout;
    layout->setSpacing(4);
    QColor tint = color;
    tint.setAlphaF(0.7);
    layout->addWidget(symbols::label(QString::fromLatin1(symbol), tint, 10), 0, Qt::AlignHCenter);
    layout->addWidget(value);
    layout->addWidget(text(caption, 10, QFont::Normal, 0.35));
    return layout;
}

} // namespace

StatsWindow::StatsWindow(StatsModel& model, QWidget* parent)
    : QWidget(parent)
    , m_model(model)
    , m_states(new QStackedLayout)
    , m_spinner(new Spinner(18))
    , m_error(text(QString(), 11, QFont::Normal, 0.5))
    , m_content(new QWidget)
    , m_timeSaved(text(QString(), 72, QFont::Bold, 1.0))
    , m_streak(text(QString(), 20, QFont::DemiBold, 0.9, true))
    , m_words(text(QString(), 20, QFont::DemiBold, 0.9, true))
    , m_today(text(QString(), 20, QFont::DemiBold, 0.9, true))
    , m_week(text(QString(), 11, QFont::Normal, 0.3))
{
    setWindowTitle(tr("Stats"));
    setAccessibleName(tr("Stats"));
    setFixedSize(340, 360);
    m_spinner->setColor(white(0.6));

    auto* content = new QVBoxLayout(m_content);
    content->setContentsMargins(20, 20, 20, 20);
    content->setSpacing(24);
    auto* saved = new QVBoxLayout;
    saved->setSpacing(2);
    saved->addWidget(m_timeSaved);
    saved->addWidget(text(tr("minutes saved"), 15, QFont::Medium, 0.55));
    saved->addWidget(text(tr("by using your voice"), 13, QFont::Normal, 0.3));
    content->addLayout(saved);

    auto* card = new Card;
    auto* columns = new QHBoxLayout(card);
    columns->setContentsMargins(16, 16, 16, 16);
    columns->addLayout(column("flame", QColor::fromRgbF(0.95, 0.55, 0.30), m_streak, tr("day streak")), 1);
    columns->addWidget(rule(), 0, Qt::AlignVCenter);
    columns->addLayout(
        column("character.cursor.ibeam", QColor::fromRgbF(0.45, 0.70, 0.95), m_words, tr("words")), 1);
    columns->addWidget(rule(), 0, Qt::AlignVCenter);
    columns->addLayout(column("waveform", QColor::fromRgbF(0.55, 0.85, 0.55), m_today, tr("today")), 1);
    content->addWidget(card);

    auto* week = new QHBoxLayout;
    week->setSpacing(5);
    week->addStretch();
    week->addWidget(symbols::label(QStringLiteral("calendar"), white(0.3), 11));
    week->addWidget(m_week);
    week->addStretch();
    content->addLayout(week);

    auto* loading = new QWidget;
    auto* center = new QVBoxLayout(loading);
    center->addWidget(m_spinner, 0, Qt::AlignCenter);
    m_states->addWidget(loading);
    m_states->addWidget(m_error);
    m_states->addWidget(m_content);
    setLayout(m_states);
    connect(&m_model, &StatsModel::changed, this, &StatsWindow::sync);
    sync();
}

void StatsWindow::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    QLinearGradient gradient(rect().topLeft(), rect().bottomRight());
    gradient.setColorAt(0.0, QColor::fromRgbF(0.08, 0.06, 0.14));
    gradient.setColorAt(0.5, QColor::fromRgbF(0.12, 0.10, 0.22));
    gradient.setColorAt(1.0, QColor::fromRgbF(0.10, 0.08, 0.18));
    painter.fillRect(rect(), gradient);
}

void StatsWindow::showEvent(QShowEvent* event)
{
    m_model.load();
    QWidget::showEvent(event);
}

void StatsWindow::sync()
{
    if (m_model.isLoading()) {
        m_states->setCurrentIndex(0);
        return;
    }
    if (m_model.error()) {
        m_error->setText(*m_model.error());
        m_error->setAccessibleName(*m_model.error());
        m_states->setCurrentIndex(1);
        return;
    }
    auto show = [](QLabel* label, const QString& value, const QString& spoken) {
        label->setText(value);
        label->setAccessibleName(spoken);
    };
    const QString saved = StatsModel::timeSaved(m_model.totalWords());
    show(m_timeSaved, saved, tr("%1 minutes saved").arg(saved));
    const QString streak = StatsModel::streakText(m_model.streak());
    show(m_streak, streak, tr("%1 day streak").arg(streak));
    const QString words = StatsModel::words(m_model.totalWords());
    show(m_words, words, tr("%1 words").arg(words));
    const QString today = QString::number(m_model.dictationsToday());
    show(m_today, today, tr("%1 today").arg(today));
    const QString week = tr("%1 words this week").arg(StatsModel::words(m_model.wordsThisWeek()));
    show(m_week, week, week);
    m_states->setCurrentIndex(2);
}

} // namespace quenda
