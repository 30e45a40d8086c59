#pragma once

#include "base/Lifetime.h"
#include "capture/WhisperModelCatalog.h"

#include <QList>
#include <QObject>
#include <QString>
#include <QThreadPool>

#include <functional>
#include <memory>
#include <optional>

namespace quenda {

class ModelDownloader;
class Scheduler;
class UserDefaults;

// The settings' Speech section: which engine turns the voice into text ("speechEngine", followed from the
// next dictation on), and for the whisper engine the models of the catalogue: their size, whether they are
// on disk, the one in use, a download with its progress and cancel, using and removing one. Downloads go
// through the ModelDownloader; checking a model file before it is used runs off the main thread.
class SpeechSettingsModel : public QObject {
    Q_OBJECT
public:
    enum class Engine { pocketsphinx, whisper, endpoint };

    struct ModelRow {
        QString name; // "base.en"
        QString sizeText;
        bool multilingual = false;
        bool installed = false;
        bool inUse = false;
        int partialPercent = 0; // an interrupted download waiting to be resumed
        bool operator==(const ModelRow&) const = default;
    };

    // `models`: the catalogue offered (the published one unless told otherwise).
    SpeechSettingsModel(Scheduler& mainQueue, UserDefaults& defaults,
                        QList<WhisperModelSpec> models = WhisperModelCatalog::models(),
                        QObject* parent = nullptr);
    ~SpeechSettingsModel() override;

    static QString engineTitle(Engine engine);
    Engine engine() const;
    void setEngine(Engine engine);
    // What the chosen engine needs or does, in one line.
    QString engineCaption() const;

    QList<ModelRow> models() const;
    bool hasInstalledModel() const;
    // The model to offer first: base for the system's language, English-only for English.
    QString recommendedModel() const;
    QString sizeText(const QString& name) const;
    // Whisper is chosen and there is no model to run it with.
    bool needsModel() const;

    void download(const QString& name);
    void cancelDownload();
    bool isDownloading() const { return !m_downloading.isEmpty(); }
    const QString& downloadingModel() const { return m_downloading; }
    double downloadFraction() const { return m_fraction; }
    QString progressText() const;
    void use(const QString& name);
    void remove(const QString& name);

    // What the last action could not do, for the user; cleared by the next action.
    const std::optional<QString>& error() const { return m_error; }
    // A line about what the last action did ("base.en is in use.").
    const QString& notice() const { return m_notice; }

    // Waits for the model checks under way (tests).
    void waitForBackgroundWork() { m_pool.waitForDone(); }

Q_SIGNALS:
    void changed();

private:
    std::optional<WhisperModelSpec> spec(const QString& name) const;
    QString path(const WhisperModelSpec& spec) const { return WhisperModelCatalog::downloadedPath(spec); }
    void finished(std::optional<QString> error);
    void report(std::optional<QString> error, QString notice = {});

    Scheduler& m_mainQueue;
    UserDefaults& m_defaults;
    QList<WhisperModelSpec> m_models;
    std::unique_ptr<ModelDownloader> m_downloader;
    QString m_downloading;
    qint64 m_received = 0;
    qint64 m_total = 0;
    double m_fraction = 0;
    bool m_cancelling = false;
    std::optional<QString> m_error;
    QString m_notice;
    QThreadPool m_pool; // model files are checked here; its jobs end with the model
    Lifetime m_lifetime;
};

} // namespace quenda
