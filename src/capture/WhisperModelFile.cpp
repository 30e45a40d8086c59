#include "capture/WhisperModelFile.h"

#include <QFile>
#include <QHash>
#include <QList>
#include <QtEndian>

#include <array>

namespace quenda {

namespace {

constexpr quint32 magic = 0x67676d6c; // "ggml"
constexpr int quantisationVersionFactor = 1000;
constexpr int melBins = 201;
constexpr quint32 longestToken = 1024;

// Element types as the file numbers them.
enum ElementType { F32 = 0, F16 = 1, Q4_0 = 2, Q4_1 = 3, Q5_0 = 6, Q5_1 = 7, Q8_0 = 8 };

struct TypeSize {
    int blockElements;
    int blockBytes;
};

std::optional<TypeSize> typeSize(int type)
{
    switch (type) {
    case F32:
        return TypeSize{1, 4};
    case F16:
        return TypeSize{1, 2};
    case Q4_0:
        return TypeSize{32, 18};
    case Q4_1:
        return TypeSize{32, 20};
    case Q5_0:
        return TypeSize{32, 22};
    case Q5_1:
        return TypeSize{32, 24};
    case Q8_0:
        return TypeSize{32, 34};
    }
    return std::nullopt;
}

// The element type of the large matrices for each whole-file type the library reads.
std::optional<int> matrixTypeFor(int fileType)
{
    switch (fileType) {
    case 0:
        return F32;
    case 1:
        return F16;
    case 2:
        return Q4_0;
    case 3:
        return Q4_1;
    case 7:
        return Q8_0;
    case 8:
        return Q5_0;
    case 9:
        return Q5_1;
    }
    return std::nullopt;
}

struct ExpectedTensor {
    std::array<qint64, 4> dims{1, 1, 1, 1};
    int type = F32;
    bool seen = false;
};

// Every tensor a model of these hyperparameters has, as the library names and shapes them.
QHash<QByteArray, ExpectedTensor> expectedTensors(const WhisperModelInfo& info, int matrix)
{
    const qint64 n = info.state;
    const int conv = matrix == F32 ? F32 : F16;
    QHash<QByteArray, ExpectedTensor> tensors;
    auto add = [&](const QByteArray& name, std::initializer_list<qint64> dims, int type) {
        ExpectedTensor tensor;
        std::copy(dims.begin(), dims.end(), tensor.dims.begin());
        tensor.type = type;
        tensors.insert(name, tensor);
    };
    auto attention = [&](const QByteArray& prefix, const QByteArray& kind, const QByteArray& norm) {
        add(prefix + kind + ".query.weight", {n, n}, matrix);
        add(prefix + kind + ".query.bias", {n}, F32);
        add(prefix + kind + ".key.weight", {n, n}, matrix);
        add(prefix + kind + ".value.weight", {n, n}, matrix);
        add(prefix + kind + ".value.bias", {n}, F32);
        add(prefix + kind + ".out.weight", {n, n}, matrix);
        add(prefix + kind + ".out.bias", {n}, F32);
        add(prefix + norm + ".weight", {n}, F32);
        add(prefix + norm + ".bias", {n}, F32);
    };
    auto layer = [&](const QByteArray& prefix, bool cross) {
        attention(prefix, "attn", "attn_ln");
        if (cross)
            attention(prefix, "cross_attn", "cross_attn_ln");
        add(prefix + "mlp.0.weight", {n, 4 * n}, matrix);
        add(prefix + "mlp.0.bias", {4 * n}, F32);
        add(prefix + "mlp.2.weight", {4 * n, n}, matrix);
        add(prefix + "mlp.2.bias", {n}, F32);
        add(prefix + "mlp_ln.weight", {n}, F32);
        add(prefix + "mlp_ln.bias", {n}, F32);
    };
    add("encoder.positional_embedding", {n, info.audioContext}, F32);
    add("encoder.conv1.weight", {3, info.mels, n}, conv);
    add("encoder.conv1.bias", {1, n}, F32);
    add("encoder.conv2.weight", {3, n, n}, conv);
    add("encoder.conv2.bias", {1, n}, F32);
    add("encoder.ln_post.weight", {n}, F32);
    add("encoder.ln_post.bias", {n}, F32);
    for (int i = 0; i < info.audioLayers; ++i)
        layer("encoder.blocks." + QByteArray::number(i) + '.', false);
    add("decoder.positional_embedding", {n, info.textContext}, F32);
    add("decoder.token_embedding.weight", {n, info.vocabularySize}, matrix);
    add("decoder.ln.weight", {n}, F32);
    add("decoder.ln.bias", {n}, F32);
    for (int i = 0; i < info.textLayers; ++i)
        layer("decoder.blocks." + QByteArray::number(i) + '.', true);
    return tensors;
}

// Reads little-endian fields and counts what is left, so that no length in the file is trusted before it
// is checked against the bytes that are really there.
class FieldReader {
public:
    explicit FieldReader(QIODevice& device)
        : m_device(device)
        , m_size(device.size())
    {}

    qint64 remaining() const { return m_size - m_position; }
    qint64 size() const { return m_size; }

    bool readInt(qint32& value)
    {
        char bytes[4];
        if (remaining() < 4 || m_device.read(bytes, 4) != 4)
            return false;
        m_position += 4;
        value = qFromLittleEndian<qint32>(bytes);
        return true;
    }
    bool readBytes(qint64 count, QByteArray& out)
    {
        if (count < 0 || remaining() < count)
            return false;
        out = m_device.read(count);
        if (out.size() != count)
            return false;
        m_position += count;
        return true;
    }
    bool skip(qint64 count)
    {
        if (count < 0 || remaining() < count || !m_device.seek(m_device.pos() + count))
            return false;
        m_position += count;
        return true;
    }

private:
    QIODevice& m_device;
    qint64 m_size;
    qint64 m_position = 0;
};

std::optional<WhisperModelInfo> refuse(QString* error, const QString& why)
{
    if (error)
        *error = why;
    return std::nullopt;
}

} // namespace

QString WhisperModelInfo::shapeName() const
{
    // The released models differ in their layer count and width.
    static const QList<std::tuple<int, int, const char*>> shapes = {
        {4, 384, "tiny"}, {6, 512, "base"}, {12, 768, "small"}, {24, 1024, "medium"}, {32, 1280, "large"}};
    QString name = QStringLiteral("custom");
    for (const auto& [layers, width, shape] : shapes) {
        if (audioLayers == layers && state == width)
            name = QString::fromLatin1(shape);
    }
    return isMultilingual() ? name : name + QStringLiteral(".en");
}

std::optional<WhisperModelInfo> WhisperModelFile::inspect(const QString& path, QString* error)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return refuse(error, QStringLiteral("cannot open %1: %2").arg(path, file.errorString()));
    return inspect(file, error);
}

std::optional<WhisperModelInfo> WhisperModelFile::inspect(QIODevice& device, QString* error)
{
    const QString truncated = QStringLiteral("the file ends early (an incomplete download?)");
    FieldReader in(device);
    qint32 fileMagic = 0;
    if (!in.readInt(fileMagic) || quint32(fileMagic) != magic)
        return refuse(error, QStringLiteral("not a whisper model (wrong magic number)"));

    WhisperModelInfo info;
    info.fileSize = in.size();
    qint32 fields[11];
    for (qint32& field : fields) {
        if (!in.readInt(field))
            return refuse(error, truncated);
    }
    qint32 textState = 0;
    info.vocabularySize = fields[0];
    info.audioContext = fields[1];
    info.state = fields[2];
    info.audioHeads = fields[3];
    info.audioLayers = fields[4];
    info.textContext = fields[5];
    textState = fields[6];
    info.textHeads = fields[7];
    info.textLayers = fields[8];
    info.mels = fields[9];
    info.weightType = fields[10] % quantisationVersionFactor;

    // The library assumes these; anything else is a damaged or foreign file.
    const bool sane = info.vocabularySize >= 51864 && info.vocabularySize <= 51866 &&
                      info.audioContext == 1500 && info.textContext == 448 && info.state > 0 &&
                      info.state <= 4096 && textState == info.state && info.audioHeads > 0 &&
                      info.state % info.audioHeads == 0 && info.textHeads > 0 &&
                      info.state % info.textHeads == 0 && info.audioLayers > 0 && info.audioLayers <= 64 &&
                      info.textLayers > 0 && info.textLayers <= 64 && (info.mels == 80 || info.mels == 128) &&
                      fields[10] >= 0;
    if (!sane)
        return refuse(error, QStringLiteral("the model's header is damaged (implausible sizes)"));
    const std::optional<int> matrix = matrixTypeFor(info.weightType);
    if (!matrix)
        return refuse(error,
                      QStringLiteral("the model's weight type (%1) is not supported").arg(info.weightType));

    qint32 filterMels = 0;
    qint32 filterBins = 0;
    if (!in.readInt(filterMels) || !in.readInt(filterBins))
        return refuse(error, truncated);
    if (filterMels != info.mels || filterBins != melBins)
        return refuse(error, QStringLiteral("the model's mel filters are damaged"));
    if (!in.skip(qint64(filterMels) * filterBins * 4))
        return refuse(error, truncated);

    // Every text token must have its text (the ids below end-of-text), and the decoder looks the space up.
    qint32 tokens = 0;
    if (!in.readInt(tokens))
        return refuse(error, truncated);
    const int endOfText = info.isMultilingual() ? 50257 : 50256;
    if (tokens < endOfText || tokens > info.vocabularySize)
        return refuse(error, QStringLiteral("the model's vocabulary is damaged (%1 tokens)").arg(tokens));
    bool hasSpace = false;
    QByteArray word;
    for (qint32 i = 0; i < tokens; ++i) {
        qint32 length = 0;
        if (!in.readInt(length))
            return refuse(error, truncated);
        if (quint32(length) > longestToken)
            return refuse(error, QStringLiteral("the model's vocabulary is damaged (token %1)").arg(i));
        if (!in.readBytes(length, word))
            return refuse(error, truncated);
        hasSpace = hasSpace || word == " ";
    }
    if (!hasSpace)
        return refuse(error, QStringLiteral("the model's vocabulary has no space token"));

    QHash<QByteArray, ExpectedTensor> expected = expectedTensors(info, *matrix);
    QByteArray name;
    while (in.remaining() > 0) {
        qint32 dimensions = 0;
        qint32 nameLength = 0;
        qint32 type = 0;
        if (!in.readInt(dimensions) || !in.readInt(nameLength) || !in.readInt(type))
            return refuse(error, truncated);
        if (dimensions < 1 || dimensions > 4 || nameLength < 1 || nameLength > 256)
            return refuse(error,
                          QStringLiteral("the model's tensor %1 is damaged").arg(info.tensorCount + 1));
        std::array<qint64, 4> dims{1, 1, 1, 1};
        for (int d = 0; d < dimensions; ++d) {
            qint32 extent = 0;
            if (!in.readInt(extent))
                return refuse(error, truncated);
            dims[d] = extent;
        }
        if (!in.readBytes(nameLength, name))
            return refuse(error, truncated);
        const auto tensor = expected.find(name);
        if (tensor == expected.end())
            return refuse(error, QStringLiteral("the model has an unexpected tensor \"%1\"")
                                     .arg(QString::fromUtf8(name.left(80))));
        if (tensor->seen)
            return refuse(
                error, QStringLiteral("the model has the tensor \"%1\" twice").arg(QString::fromUtf8(name)));
        if (tensor->dims != dims || tensor->type != type)
            return refuse(error, QStringLiteral("the model's tensor \"%1\" has the wrong shape or type")
                                     .arg(QString::fromUtf8(name)));
        tensor->seen = true;
        ++info.tensorCount;
        const TypeSize size = *typeSize(type);
        const qint64 elements = dims[0] * dims[1] * dims[2] * dims[3];
        if (dims[0] % size.blockElements != 0)
            return refuse(error, QStringLiteral("the model's tensor \"%1\" has the wrong shape or type")
                                     .arg(QString::fromUtf8(name)));
        if (!in.skip(elements / size.blockElements * size.blockBytes))
            return refuse(error, truncated);
    }
    for (auto it = expected.cbegin(); it != expected.cend(); ++it) {
        if (!it->seen)
            return refuse(error,
                          info.tensorCount == 0
                              ? QStringLiteral("the model has no weights")
                              : QStringLiteral("the model lacks the tensor \"%1\" (an incomplete file?)")
                                    .arg(QString::fromUtf8(it.key())));
    }
    return info;
}

} // namespace quenda
