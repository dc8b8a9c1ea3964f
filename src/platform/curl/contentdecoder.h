// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArrayView>
#include <QString>

#include <memory>

// The decoding of a body sent with a Content-Encoding (gzip, deflate, br or zstd), done here
// rather than by libcurl: libcurl ends a transfer whose compressed stream was cut short as a
// success, with what it had decoded, and a picture cut short would then be saved. Here the end
// of the stream itself is seen, so a body is whole only when its stream ended.
class ContentDecoder {
public:
    ContentDecoder();
    ~ContentDecoder();
    ContentDecoder(const ContentDecoder &) = delete;
    ContentDecoder &operator=(const ContentDecoder &) = delete;

    // Sets up for a response whose Content-Encoding header says encodings (empty when it has
    // none; "identity" layers are no encoding). False, with error(), when it names an encoding
    // not known here, or more than five.
    bool begin(QByteArrayView encodings);
    // Whether the body is to be decoded at all.
    bool active() const;
    // Decodes from input (advanced past what was used) into out, at most outSize bytes, and
    // gives the bytes written; -1 on a corrupt stream, with error(). Bytes after the end of the
    // stream are used up and dropped.
    qsizetype decode(QByteArrayView *input, char *out, qsizetype outSize);
    // Whether any input came, and whether the stream ended: a body with input but without its
    // end was cut short.
    bool hadInput() const;
    bool ended() const;
    const QString &error() const;
    // What a body cut short inside its stream fails with.
    QString cutShort() const;

private:
    struct State;
    std::unique_ptr<State> m_state;
};
