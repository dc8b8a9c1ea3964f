// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/curl/contentdecoder.h"

#include <QByteArray>
#include <QList>

#include <memory>
#include <vector>

#include <brotli/decode.h>
#include <zlib.h>
#include <zstd.h>

namespace {

enum class Kind { None, Gzip, Deflate, Brotli, Zstd };

// Worded as libcurl words its own decoding failures, so a cause reads the same whichever
// found it.
QString unencodingError(const QString &why)
{
    return QStringLiteral("Error while processing content unencoding: ") + why;
}

// One encoding of the body, decoded from what the layer before it gives (the raw body for the
// first).
struct Layer {
    explicit Layer(Kind kind) : kind(kind) {}
    ~Layer()
    {
        if (zlibOpen)
            inflateEnd(&zlib);
        if (brotli)
            BrotliDecoderDestroyInstance(brotli);
        if (zstd)
            ZSTD_freeDStream(zstd);
    }
    Layer(const Layer &) = delete;
    Layer &operator=(const Layer &) = delete;

    bool open()
    {
        switch (kind) {
        case Kind::None:
            return true;
        case Kind::Gzip:
            // 32: a zlib header is taken as well as a gzip one, as libcurl takes it.
            return zlibOpen = inflateInit2(&zlib, 32 + MAX_WBITS) == Z_OK;
        case Kind::Deflate:
            return zlibOpen = inflateInit2(&zlib, MAX_WBITS) == Z_OK;
        case Kind::Brotli:
            return (brotli = BrotliDecoderCreateInstance(nullptr, nullptr, nullptr)) != nullptr;
        case Kind::Zstd:
            zstd = ZSTD_createDStream();
            return zstd && !ZSTD_isError(ZSTD_initDStream(zstd));
        }
        return false;
    }

    // Decodes from input (advanced past what was used) into out; the bytes written, or -1.
    qsizetype decode(QByteArrayView *input, char *out, qsizetype outSize, QString *error);

    Kind kind;
    bool ended = false;
    bool rawDeflateTried = false;
    z_stream zlib{};
    bool zlibOpen = false;
    BrotliDecoderState *brotli = nullptr;
    ZSTD_DStream *zstd = nullptr;
    // What the layer before gave and this one has not used yet.
    QByteArray given;
    qsizetype givenAt = 0;
};

qsizetype Layer::decode(QByteArrayView *input, char *out, qsizetype outSize, QString *error)
{
    // Only zstd goes on after the end of its stream, and only with a next frame.
    if (ended && (kind != Kind::Zstd || input->isEmpty())) {
        *input = {};
        return 0;
    }
    const auto *in = reinterpret_cast<const unsigned char *>(input->data());
    auto *to = reinterpret_cast<unsigned char *>(out);
    size_t inLeft = size_t(input->size());
    size_t outLeft = size_t(outSize);
    switch (kind) {
    case Kind::None:
        return 0;
    case Kind::Gzip:
    case Kind::Deflate: {
        const bool first = zlib.total_in == 0 && zlib.total_out == 0;
        zlib.next_in = const_cast<unsigned char *>(in);
        zlib.avail_in = uInt(inLeft);
        zlib.next_out = to;
        zlib.avail_out = uInt(outLeft);
        int result = inflate(&zlib, Z_NO_FLUSH);
        // "deflate" is sent by some servers as a bare deflate stream, without the zlib header
        // the name means: taken as well, as libcurl takes it.
        if (result == Z_DATA_ERROR && kind == Kind::Deflate && first && !rawDeflateTried &&
            zlib.total_out == 0) {
            rawDeflateTried = true;
            if (inflateReset2(&zlib, -MAX_WBITS) == Z_OK) {
                zlib.next_in = const_cast<unsigned char *>(in);
                zlib.avail_in = uInt(inLeft);
                zlib.next_out = to;
                zlib.avail_out = uInt(outLeft);
                result = inflate(&zlib, Z_NO_FLUSH);
            }
        }
        if (result != Z_OK && result != Z_STREAM_END && result != Z_BUF_ERROR) {
            *error = unencodingError(QString::fromLatin1(zlib.msg ? zlib.msg : "bad data"));
            return -1;
        }
        ended = result == Z_STREAM_END;
        inLeft = zlib.avail_in;
        outLeft = zlib.avail_out;
        break;
    }
    case Kind::Brotli: {
        const BrotliDecoderResult result =
            BrotliDecoderDecompressStream(brotli, &inLeft, &in, &outLeft, &to, nullptr);
        if (result == BROTLI_DECODER_RESULT_ERROR) {
            *error = unencodingError(
                QString::fromLatin1(BrotliDecoderErrorString(BrotliDecoderGetErrorCode(brotli))));
            return -1;
        }
        ended = result == BROTLI_DECODER_RESULT_SUCCESS;
        break;
    }
    case Kind::Zstd: {
        ZSTD_inBuffer from{in, inLeft, 0};
        ZSTD_outBuffer into{to, outLeft, 0};
        const size_t result = ZSTD_decompressStream(zstd, &into, &from);
        if (ZSTD_isError(result)) {
            *error = unencodingError(QString::fromLatin1(ZSTD_getErrorName(result)));
            return -1;
        }
        // A frame ends with nothing left to flush; another frame may follow it.
        ended = result == 0;
        inLeft = from.size - from.pos;
        outLeft = into.size - into.pos;
        break;
    }
    }
    // After the end of the stream nothing is read: what follows is dropped (zstd goes on to a
    // next frame instead).
    if (ended && kind != Kind::Zstd)
        inLeft = 0;
    *input = input->last(qsizetype(inLeft));
    return outSize - qsizetype(outLeft);
}

} // namespace

struct ContentDecoder::State {
    // Decodes what layer `index` gives (the first takes input) into out.
    qsizetype pull(size_t index, QByteArrayView *input, char *out, qsizetype outSize);

    // In the order they are undone: the last encoding applied comes first.
    std::vector<std::unique_ptr<Layer>> layers;
    QByteArray names; // the encodings as the server named them
    bool input = false;
    QString error;
};

qsizetype ContentDecoder::State::pull(size_t index, QByteArrayView *input, char *out,
                                      qsizetype outSize)
{
    Layer &layer = *layers[index];
    if (index == 0)
        return layer.decode(input, out, outSize, &error);
    // What the layer before gives is held until this one has used it.
    constexpr qsizetype kGiven = 64 * 1024;
    for (;;) {
        QByteArrayView given = QByteArrayView(layer.given).sliced(layer.givenAt);
        const qsizetype before = given.size();
        const qsizetype made = layer.decode(&given, out, outSize, &error);
        layer.givenAt += before - given.size();
        if (made != 0)
            return made;
        if (!given.isEmpty() && given.size() < before)
            continue;
        if (!given.isEmpty())
            return 0; // no progress
        layer.given.resize(kGiven);
        layer.givenAt = 0;
        const qsizetype got = pull(index - 1, input, layer.given.data(), kGiven);
        layer.given.resize(std::max<qsizetype>(got, 0));
        if (got <= 0)
            return got;
    }
}

ContentDecoder::ContentDecoder() : m_state(std::make_unique<State>()) {}

ContentDecoder::~ContentDecoder() = default;

bool ContentDecoder::begin(QByteArrayView encodings)
{
    State &s = *m_state;
    s = State{};
    // A body may be encoded more than once (libcurl takes up to five layers too).
    constexpr size_t kMaxLayers = 5;
    for (const QByteArray &item : encodings.toByteArray().split(',')) {
        const QByteArray name = item.trimmed().toLower();
        if (name.isEmpty() || name == "identity")
            continue;
        Kind kind = Kind::None;
        if (name == "gzip" || name == "x-gzip")
            kind = Kind::Gzip;
        else if (name == "deflate")
            kind = Kind::Deflate;
        else if (name == "br")
            kind = Kind::Brotli;
        else if (name == "zstd")
            kind = Kind::Zstd;
        if (kind == Kind::None || s.layers.size() == kMaxLayers) {
            const QString what = QString::fromLatin1(encodings.toByteArray());
            s = State{};
            s.error = unencodingError(
                kind == Kind::None
                    ? QStringLiteral("the content encoding \"%1\" is not known").arg(what)
                    : QStringLiteral("more than %1 content encodings in \"%2\"")
                          .arg(kMaxLayers)
                          .arg(what));
            return false;
        }
        s.layers.insert(s.layers.begin(), std::make_unique<Layer>(kind));
        if (!s.layers.front()->open()) {
            s = State{};
            s.error = unencodingError(QStringLiteral("out of memory"));
            return false;
        }
        s.names += (s.names.isEmpty() ? "" : ", ") + name;
    }
    return true;
}

bool ContentDecoder::active() const
{
    return !m_state->layers.empty();
}

bool ContentDecoder::hadInput() const
{
    return m_state->input;
}

bool ContentDecoder::ended() const
{
    for (const auto &layer : m_state->layers)
        if (!layer->ended)
            return false;
    return true;
}

const QString &ContentDecoder::error() const
{
    return m_state->error;
}

QString ContentDecoder::cutShort() const
{
    return unencodingError(QStringLiteral("the body ends inside its %1 stream (cut short)")
                               .arg(QString::fromLatin1(m_state->names)));
}

qsizetype ContentDecoder::decode(QByteArrayView *input, char *out, qsizetype outSize)
{
    State &s = *m_state;
    if (s.layers.empty())
        return 0;
    if (!input->isEmpty())
        s.input = true;
    return s.pull(s.layers.size() - 1, input, out, outSize);
}
