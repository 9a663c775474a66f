#include "pictures/StreamingDecode.h"

#include "pictures/ImageDecode.h"

#include <QIODevice>

#include <condition_variable>
#include <cstring>
#include <deque>
#include <exception>
#include <mutex>
#include <thread>
#include <utility>

namespace platform {

// The bytes between the feeding thread and the decoder: a sequential device whose reads wait
// until enough has arrived or the stream has ended. Bytes are dropped once read.
class StreamingDecode::Stream final : public QIODevice {
public:
    explicit Stream(QByteArray formatHint)
        : m_formatHint(std::move(formatHint)) {
        open(QIODevice::ReadOnly);
        m_worker = std::thread([this] { decode(); });
    }
    ~Stream() override { stop(false); }

    bool isSequential() const override { return true; }

    void append(const char *bytes, qsizetype size) {
        if (size <= 0)
            return;
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_ended || m_decoded)
            return;
        m_pieces.emplace_back(bytes, size);
        m_available += size;
        m_changed.notify_all();
    }

    // Ends the stream and waits for the decoder.
    void stop(bool complete) {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            if (!m_ended) {
                m_ended = true;
                m_complete = complete;
            }
            m_changed.notify_all();
        }
        if (m_worker.joinable())
            m_worker.join();
    }

    // Ends the stream, waits for the decoder and gives its picture, once.
    QImage end(bool complete, QString *whyNot = nullptr) {
        stop(complete);
        if (!m_complete) {
            if (whyNot)
                *whyNot = QStringLiteral("the transfer did not complete");
            return {};
        }
        if (m_failure)
            std::rethrow_exception(std::exchange(m_failure, nullptr));
        if (whyNot)
            *whyNot = m_whyNot;
        return m_image;
    }

protected:
    // Fills the whole request, as a file would, unless the stream ends first; -1 once it has
    // ended with nothing left, or ended incomplete.
    qint64 readData(char *data, qint64 maxSize) override {
        std::unique_lock<std::mutex> lock(m_mutex);
        m_changed.wait(lock, [&] { return m_ended || m_available >= maxSize; });
        if (m_ended && !m_complete)
            return -1;
        qint64 done = 0;
        while (done < maxSize && !m_pieces.empty()) {
            QByteArray &piece = m_pieces.front();
            const qint64 take = std::min<qint64>(maxSize - done, piece.size() - m_offset);
            std::memcpy(data + done, piece.constData() + m_offset, size_t(take));
            done += take;
            m_offset += take;
            if (m_offset == piece.size()) {
                m_pieces.pop_front();
                m_offset = 0;
            }
        }
        m_available -= done;
        return done > 0 ? done : -1;
    }
    qint64 writeData(const char *, qint64) override { return -1; }

private:
    void decode() {
        QString whyNot;
        QImage image;
        std::exception_ptr failure;
        // Nothing may leave the worker: a picture too large is thrown again by finish().
        try {
            image = decodeImageDevice(this, m_formatHint, &whyNot);
        } catch (...) {
            failure = std::current_exception();
        }
        std::lock_guard<std::mutex> lock(m_mutex);
        m_image = std::move(image);
        m_whyNot = whyNot;
        m_failure = failure;
        m_decoded = true;
        // What was not read is not needed.
        m_pieces.clear();
        m_available = 0;
    }

    const QByteArray m_formatHint;
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::deque<QByteArray> m_pieces;
    qint64 m_offset = 0;    // read from the first piece
    qint64 m_available = 0; // unread bytes in all pieces
    bool m_ended = false;
    bool m_complete = false;
    bool m_decoded = false;
    QImage m_image;
    QString m_whyNot;
    std::exception_ptr m_failure;
    std::thread m_worker;
};

StreamingDecode::StreamingDecode(QByteArray formatHint)
    : m_stream(std::make_unique<Stream>(std::move(formatHint))) {}

StreamingDecode::~StreamingDecode() = default;

void StreamingDecode::feed(const char *bytes, qsizetype size) {
    m_stream->append(bytes, size);
}

QImage StreamingDecode::finish(bool complete, QString *whyNot) {
    return m_stream->end(complete, whyNot);
}

} // namespace platform
