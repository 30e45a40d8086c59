#include "base/UserDefaults.h"
#include "base/VirtualScheduler.h"
#include "capture/SpeechEngineSelector.h"
#include "fakes/FakeHttpServer.h"
#include "fakes/FileChecks.h"
#include "fakes/Waiting.h"
#include "net/ModelDownloader.h"
#include "ui/settings/SpeechSettingsModel.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

using namespace quenda;
using namespace quenda::fakes;

namespace {

QByteArray testModel()
{
    return fakes::contents(QStringLiteral(QUENDA_TEST_MODELS "/ggml-test.en.bin"));
}

} // namespace

class TestSpeechSettings : public QObject {
    Q_OBJECT

    QTemporaryDir m_dir;
    const QByteArray m_model = testModel();
    std::unique_ptr<VirtualScheduler> m_clock;
    std::unique_ptr<UserDefaults> m_defaults;
    std::unique_ptr<FakeHttpServer> m_server;
    std::unique_ptr<SpeechSettingsModel> m_speech;

    QString modelPath(const QString& name = QStringLiteral("test.en")) const
    {
        return WhisperModelCatalog::modelsDirectory() + QStringLiteral("/ggml-%1.bin").arg(name);
    }
    SpeechSettingsModel::ModelRow row(const QString& name) const
    {
        for (const auto& r : m_speech->models())
            if (r.name == name)
                return r;
        return {};
    }
    bool settleUntil(const std::function<bool()>& condition)
    {
        return waitUntil(condition, 20000, [this] {
            m_speech->waitForBackgroundWork();
            m_clock->runUntilIdle();
        });
    }

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY(!m_model.isEmpty());
        qputenv("XDG_DATA_HOME", m_dir.filePath(QStringLiteral("data")).toUtf8());
    }

    void init()
    {
        QDir(WhisperModelCatalog::modelsDirectory()).removeRecursively();
        QFile::remove(m_dir.filePath(QStringLiteral("Quenda.conf")));
        m_clock = std::make_unique<VirtualScheduler>();
        m_defaults = std::make_unique<UserDefaults>(m_dir.filePath(QStringLiteral("Quenda.conf")));
        m_server = std::make_unique<FakeHttpServer>();
        m_defaults->setString(WhisperModelCatalog::baseUrlKey, m_server->origin());
        const QByteArray sha1 = QCryptographicHash::hash(m_model, QCryptographicHash::Sha1).toHex();
        m_speech = std::make_unique<SpeechSettingsModel>(
            *m_clock, *m_defaults,
            QList<WhisperModelSpec>{
                {QStringLiteral("test.en"), QStringLiteral("ggml-test.en.bin"), m_model.size(), sha1, false},
                {QStringLiteral("other"), QStringLiteral("ggml-other.bin"), m_model.size(), sha1, true}});
    }

    void cleanup() { m_speech.reset(); }

    void download_data()
    {
        QTest::addColumn<QString>("serve"); // what the server does
        QTest::addColumn<bool>("installed");
        QTest::addColumn<QString>("error"); // a part of the error shown; empty: none
        QTest::newRow("to the end") << QStringLiteral("model") << true << QString();
        QTest::newRow("checksum mismatch")
            << QStringLiteral("damaged") << false << QStringLiteral("checksum");
        QTest::newRow("cancelled") << QStringLiteral("held") << false << QString();
        QTest::newRow("server error") << QStringLiteral("404") << false << QStringLiteral("HTTP 404");
    }

    void download()
    {
        QFETCH(QString, serve);
        QFETCH(bool, installed);
        QFETCH(QString, error);
        QByteArray body = m_model;
        if (serve == QLatin1String("damaged"))
            body[body.size() / 2] = char(body[body.size() / 2] ^ 0x5a);
        FakeReply reply = serve == QLatin1String("404")
                              ? FakeReply::text(404, "no such model")
                              : FakeReply::text(200, body, "application/octet-stream");
        reply.held = serve == QLatin1String("held");
        m_server->enqueue(reply);

        QVERIFY(!m_speech->needsModel());
        m_speech->setEngine(SpeechSettingsModel::Engine::whisper);
        QCOMPARE(m_defaults->stringValue(SpeechEngineSelector::engineKey).value_or(QString()),
                 QStringLiteral("whisper"));
        m_speech->download(QStringLiteral("test.en"));
        QVERIFY(m_speech->isDownloading());
        QCOMPARE(m_speech->downloadingModel(), QStringLiteral("test.en"));
        if (reply.held) {
            QVERIFY(m_server->waitForRequests(1));
            m_speech->cancelDownload();
            m_server->releaseHeld();
        }
        QVERIFY(settleUntil([&] { return !m_speech->isDownloading(); }));

        QCOMPARE(row(QStringLiteral("test.en")).installed, installed);
        QCOMPARE(m_speech->error().has_value(), !error.isEmpty());
        if (!error.isEmpty())
            QVERIFY2(m_speech->error()->contains(error), qPrintable(*m_speech->error()));
        QCOMPARE(m_speech->needsModel(), !installed);
        if (installed) {
            // The first model is the one in use.
            QVERIFY(row(QStringLiteral("test.en")).inUse);
            QCOMPARE(m_defaults->stringValue(WhisperModelCatalog::modelPathKey).value_or(QString()),
                     modelPath());
        }
    }

    void useAndRemove()
    {
        QDir().mkpath(WhisperModelCatalog::modelsDirectory());
        QVERIFY(QFile::copy(QStringLiteral(QUENDA_TEST_MODELS "/ggml-test.en.bin"), modelPath()));
        QVERIFY(fakes::writeFile(modelPath(QStringLiteral("other")),
                                 m_model.left(m_model.size() / 3))); // damaged

        m_speech->use(QStringLiteral("other"));
        QVERIFY(settleUntil([&] { return m_speech->error().has_value(); }));
        QVERIFY(!m_defaults->contains(WhisperModelCatalog::modelPathKey));

        m_speech->use(QStringLiteral("test.en"));
        QVERIFY(settleUntil([&] { return row(QStringLiteral("test.en")).inUse; }));
        QVERIFY(!m_speech->error());
        QCOMPARE(m_defaults->stringValue(WhisperModelCatalog::modelPathKey).value_or(QString()), modelPath());

        m_speech->remove(QStringLiteral("test.en"));
        QVERIFY(!QFile::exists(modelPath()));
        QVERIFY(!row(QStringLiteral("test.en")).installed);
        QVERIFY(!m_defaults->contains(WhisperModelCatalog::modelPathKey));
    }
};

QTEST_GUILESS_MAIN(TestSpeechSettings)
#include "tst_speechsettings.moc"
