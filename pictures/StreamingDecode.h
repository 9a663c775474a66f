#pragma once

#include <QImage>
#include <QString>

#include <memory>

namespace platform {

// Decodes an image on a worker thread while its encoded bytes are still arriving, so that a
// slow transfer and the decoding overlap. Feed the bytes in order with feed(), then call
// finish(): it waits for the decoder and gives the picture, or a null image and the reason.
// Used by one thread; the decoder runs on its own.
class StreamingDecode {
public:
    explicit StreamingDecode(QByteArray formatHint = {});
    ~StreamingDecode(); // abandons an unfinished decode and waits for the worker
    StreamingDecode(const StreamingDecode &) = delete;
    StreamingDecode &operator=(const StreamingDecode &) = delete;

    // The next bytes of the encoded image. Ignored once the decoder has given up or finished.
    void feed(const char *bytes, qsizetype size);
    // Ends the stream: `complete` says whether every byte arrived. An incomplete stream never
    // gives a picture, even when what arrived would decode. A complete one throws what the
    // decoder threw (ImageTooLarge).
    QImage finish(bool complete, QString *whyNot = nullptr);

private:
    class Stream;
    std::unique_ptr<Stream> m_stream;
};

} // namespace platform
