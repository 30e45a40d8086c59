#include "ui/settings/SpeechSection.h"

#include "ui/settings/SpeechSettingsModel.h"
#include "ui/widgets/Style.h"

#include <QComboBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>

#include <iterator>

namespace quenda {

namespace {

using style::TextStyle;
using style::Tone;
using Engine = SpeechSettingsModel::Engine;
constexpr Engine engines[] = {Engine::pocketsphinx, Engine::whisper, Engine::endpoint};

} // namespace

SpeechSection::SpeechSection(SpeechSettingsModel& model, QWidget* parent)
    : QGroupBox(tr("Speech"), parent)
    , m_model(model)
{
    setAccessibleName(tr("Speech"));
    auto* layout = new QVBoxLayout(this);
    layout->setSpacing(8);

    m_engine = new QComboBox;
    m_engine->setAccessibleName(tr("Speech Engine"));
    for (Engine engine : engines)
        m_engine->addItem(SpeechSettingsModel::engineTitle(engine));
    connect(m_engine, &QComboBox::activated, this, [this](int index) {
        if (index >= 0 && index < int(std::size(engines)))
            m_model.setEngine(engines[index]);
    });
    auto* engineRow = new QHBoxLayout;
    auto* engineLabel = style::label(tr("Engine"));
    engineLabel->setWordWrap(false);
    engineRow->addWidget(engineLabel);
    engineRow->addStretch();
    engineRow->addWidget(m_engine);
    layout->addLayout(engineRow);
    m_caption = style::label(QString(), TextStyle::caption, Tone::secondary);
    layout->addWidget(m_caption);

    // One line per model: name, size and language, its state, and what can be done with it.
    m_models = new QWidget;
    auto* grid = new QGridLayout(m_models);
    grid->setContentsMargins(0, 0, 0, 0);
    grid->setColumnStretch(1, 1);
    int line = 0;
    for (const SpeechSettingsModel::ModelRow& row : m_model.models()) {
        const QString name = row.name;
        auto* title = style::label(
            tr("%1 (%2, %3)").arg(name, row.sizeText, row.multilingual ? tr("multilingual") : tr("English")));
        title->setWordWrap(false);
        ModelWidgets widgets{style::label(QString(), TextStyle::caption, Tone::secondary),
                             style::button(tr("Download")), style::button(tr("Use")),
                             style::button(tr("Remove"))};
        widgets.state->setWordWrap(false);
        widgets.download->setAccessibleName(tr("Download %1").arg(name));
        widgets.use->setAccessibleName(tr("Use %1").arg(name));
        widgets.remove->setAccessibleName(tr("Remove %1").arg(name));
        style::setTone(widgets.remove, Tone::red);
        connect(widgets.download, &QPushButton::clicked, this, [this, name] { m_model.download(name); });
        connect(widgets.use, &QPushButton::clicked, this, [this, name] { m_model.use(name); });
        connect(widgets.remove, &QPushButton::clicked, this, [this, name] { m_model.remove(name); });
        grid->addWidget(title, line, 0);
        grid->addWidget(widgets.state, line, 1);
        grid->addWidget(widgets.download, line, 2);
        grid->addWidget(widgets.use, line, 3);
        grid->addWidget(widgets.remove, line, 4);
        ++line;
        m_rows.append(widgets);
    }
    layout->addWidget(m_models);

    m_bar = new QProgressBar;
    m_bar->setRange(0, 1000);
    m_bar->setTextVisible(false);
    m_bar->setAccessibleName(tr("Download Progress"));
    m_progressText = style::label(QString(), TextStyle::caption, Tone::secondary);
    auto* cancel = style::button(tr("Cancel Download"));
    connect(cancel, &QPushButton::clicked, this, [this] { m_model.cancelDownload(); });
    auto* progress = new QVBoxLayout;
    progress->setContentsMargins(0, 0, 0, 0);
    auto* barRow = new QHBoxLayout;
    barRow->addWidget(m_bar, 1);
    barRow->addWidget(cancel);
    progress->addLayout(barRow);
    progress->addWidget(m_progressText);
    m_progress = new QWidget;
    m_progress->setLayout(progress);
    layout->addWidget(m_progress);

    m_error = style::label(QString(), TextStyle::caption, Tone::red);
    m_notice = style::label(QString(), TextStyle::caption, Tone::green);
    layout->addWidget(m_error);
    layout->addWidget(m_notice);

    connect(&m_model, &SpeechSettingsModel::changed, this, &SpeechSection::sync);
    sync();
}

void SpeechSection::showEvent(QShowEvent* event)
{
    sync();
    QGroupBox::showEvent(event);
}

void SpeechSection::sync()
{
    const Engine engine = m_model.engine();
    for (int i = 0; i < int(std::size(engines)); ++i)
        if (engines[i] == engine)
            m_engine->setCurrentIndex(i);
    style::setText(m_caption, m_model.engineCaption());

    const bool whisper = engine == Engine::whisper;
    const bool downloading = m_model.isDownloading();
    m_models->setVisible(whisper || downloading);
    const QList<SpeechSettingsModel::ModelRow> rows = m_model.models();
    for (qsizetype i = 0; i < rows.size() && i < m_rows.size(); ++i) {
        const SpeechSettingsModel::ModelRow& row = rows[i];
        const ModelWidgets& widgets = m_rows[i];
        const bool thisOne = downloading && m_model.downloadingModel() == row.name;
        QString state;
        if (thisOne)
            state = tr("Downloading…");
        else if (row.inUse)
            state = tr("In use");
        else if (row.installed)
            state = tr("Downloaded");
        else if (row.partialPercent > 0)
            state = tr("%1% downloaded").arg(row.partialPercent);
        style::setText(widgets.state, state);
        widgets.state->setAccessibleName(state.isEmpty() ? tr("%1: not downloaded").arg(row.name)
                                                         : tr("%1: %2").arg(row.name, state));
        widgets.download->setVisible(!row.installed);
        widgets.download->setEnabled(!downloading);
        widgets.download->setText(row.partialPercent > 0 ? tr("Resume") : tr("Download"));
        widgets.use->setVisible(row.installed && !row.inUse);
        widgets.remove->setVisible(row.installed || (row.partialPercent > 0 && !thisOne));
    }

    m_progress->setVisible(downloading);
    m_bar->setValue(int(m_model.downloadFraction() * 1000));
    style::setText(m_progressText, m_model.progressText());
    m_error->setVisible(m_model.error().has_value());
    style::setText(m_error, m_model.error().value_or(QString()));
    m_notice->setVisible(!m_model.notice().isEmpty() && !m_model.error());
    style::setText(m_notice, m_model.notice());
}

} // namespace quenda
