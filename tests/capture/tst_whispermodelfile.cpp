#include "capture/WhisperModelFile.h"
#include "fakes/FileChecks.h"

#include <QBuffer>
#include <QFile>
#include <QTest>

using namespace quenda;

namespace {

QByteArray readModel(const char* name)
{
    return fakes::contents(QStringLiteral(QUENDA_TEST_MODELS "/") + QString::fromLatin1(name));
}

std::optional<WhisperModelInfo> inspect(QByteArray bytes, QString* why)
{
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::ReadOnly);
    return WhisperModelFile::inspect(buffer, why);
}

} // namespace

class TestWhisperModelFile : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void wellFormedModelsAreRead()
    {
        QString why;
        const auto english = inspect(readModel("ggml-test.en.bin"), &why);
        QVERIFY2(english, qPrintable(why));
        QCOMPARE(english->shapeName(), QStringLiteral("custom.en"));
        QCOMPARE(english->state, 64);
        QCOMPARE(english->tensorCount, 7 + 15 + 4 + 24); // one layer each side
        const auto multilingual = inspect(readModel("ggml-test.bin"), &why);
        QVERIFY2(multilingual, qPrintable(why));
        QVERIFY(multilingual->isMultilingual());
        QCOMPARE(multilingual->shapeName(), QStringLiteral("custom"));
    }

    // Each damage the library's loader would read past, misread or accept as an empty model.
    void damagedFilesAreRefused_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QString>("reason");
        const QByteArray model = readModel("ggml-test.en.bin");
        QVERIFY(model.size() > 1000000);
        const qsizetype firstTensor = model.indexOf("encoder.positional_embedding") - 3 * 4 - 2 * 4;
        const qsizetype vocabulary = 4 + 11 * 4 + 2 * 4 + 80 * 201 * 4;

        QTest::newRow("empty") << QByteArray() << QStringLiteral("wrong magic");
        QByteArray wrongMagic = model;
        wrongMagic[0] = 'G';
        QTest::newRow("wrong magic") << wrongMagic << QStringLiteral("wrong magic");
        QTest::newRow("cut in the header") << model.left(30) << QStringLiteral("ends early");
        QTest::newRow("cut in the mel filters")
            << model.left(vocabulary - 100) << QStringLiteral("ends early");
        QTest::newRow("cut in the vocabulary")
            << model.left(vocabulary + 5000) << QStringLiteral("ends early");
        QTest::newRow("no weights") << model.left(firstTensor) << QStringLiteral("no weights");
        QTest::newRow("one byte short") << model.left(model.size() - 1) << QStringLiteral("ends early");
        QTest::newRow("trailing bytes") << model + QByteArray(5, '\0') << QStringLiteral("ends early");

        QByteArray header = model;
        header[4] = char(0x7f); // the vocabulary size, now absurd
        QTest::newRow("implausible header") << header << QStringLiteral("header is damaged");
        QByteArray renamed = model;
        renamed.replace("decoder.ln.bias", "decoder.ln.bian");
        QTest::newRow("unknown tensor") << renamed << QStringLiteral("unexpected tensor \"decoder.ln.bian\"");
        QByteArray noSpace = model;
        noSpace.replace(QByteArray("\x01\x00\x00\x00 ", 5), QByteArray("\x01\x00\x00\x00!", 5));
        QTest::newRow("no space token") << noSpace << QStringLiteral("no space token");
        QByteArray longToken = model;
        longToken.replace(QByteArray("\x01\x00\x00\x00 ", 5), QByteArray("\x01\x00\x01\x00 ", 5));
        QTest::newRow("absurd token length") << longToken << QStringLiteral("vocabulary is damaged");
    }
    void damagedFilesAreRefused()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(QString, reason);
        QString why;
        QVERIFY(!inspect(bytes, &why));
        QVERIFY2(why.contains(reason), qPrintable(why));
    }
};

QTEST_GUILESS_MAIN(TestWhisperModelFile)
#include "tst_whispermodelfile.moc"
