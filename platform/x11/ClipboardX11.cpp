#include "platform/x11/ClipboardX11.h"

#include "pictures/StreamingDecode.h"
#include "platform/BackgroundJob.h"
#include "platform/MimeClipboard.h"
#include "platform/x11/SelectionTransfer.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QHash>
#include <QMimeData>
#include <QScopedValueRollback>

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <functional>
#include <memory>

namespace platform {
namespace {

const SelectionLimits kLimits{};

// X targets that carry plain text, in the order they are asked for, with the MIME format Qt
// shows each under.
struct TextTarget {
    const char *target;
    const char *format;
};
constexpr TextTarget kTextTargets[] = {
    {"UTF8_STRING", "text/plain;charset=utf-8"},
    {"text/plain;charset=utf-8", "text/plain;charset=utf-8"},
    {"text/plain", "text/plain"},
    {"STRING", "text/plain"},
    {"TEXT", "text/plain"},
};

bool isTextFormat(const QString &format) {
    return format == QLatin1String("text/plain") || format.startsWith(QLatin1String("text/plain;"));
}

// The text a target delivered: STRING is Latin-1 by definition, TEXT is whatever type the owner
// chose; everything else is taken as UTF-8.
QString decodeText(const QByteArray &target, const SelectionData &data) {
    if (target == "STRING" || (target == "TEXT" && data.type == "STRING"))
        return QString::fromLatin1(data.data);
    return QString::fromUtf8(data.data);
}

// One read of the clipboard: the private connection, used by one worker thread at a time, and
// the pipe that tells a running transfer to stop.
class Session {
public:
    Session() {
        int fds[2];
        if (::pipe2(fds, O_CLOEXEC | O_NONBLOCK) == 0) {
            cancelRead_ = fds[0];
            cancelWrite_ = fds[1];
        }
    }
    ~Session() {
        transfer.reset();
        for (int fd : {cancelRead_, cancelWrite_}) {
            if (fd >= 0)
                ::close(fd);
        }
    }
    Session(const Session &) = delete;
    Session &operator=(const Session &) = delete;

    bool usable() const { return cancelRead_ >= 0; }
    bool stopped() const { return stopped_; }

    // Runs `job` on a worker thread and waits for it in an event loop that leaves user input
    // queued, so that timers tick meanwhile. False when the loop was ended from outside (the
    // program is quitting): the job is then told to stop and joined.
    bool run(const std::function<void(int cancelFd)> &job) {
        if (stopped_)
            return false;
        BackgroundJob worker([&] { job(cancelRead_); });
        if (worker.wait() != BackgroundJob::End::Finished) {
            stopped_ = true;
            const char byte = 1;
            while (::write(cancelWrite_, &byte, 1) < 0 && errno == EINTR) {
            }
        }
        return !stopped_;
    }

    // Marks the owner as given up: nothing more is asked of it during this read.
    void giveUp() { stopped_ = true; }

    std::unique_ptr<SelectionTransfer> transfer;

private:
    int cancelRead_ = -1;
    int cancelWrite_ = -1;
    bool stopped_ = false;
};

// The clipboard's offer as MIME data. The content of a format is fetched from the owner the
// first time it is asked for, so the decoding policy alone decides what is transferred.
class SelectionMimeData final : public QMimeData {
public:
    SelectionMimeData(Session &session, const QByteArrayList &targets)
        : session_(session) {
        for (const QByteArray &target : targets) {
            QString format;
            for (const TextTarget &text : kTextTargets) {
                if (target == text.target)
                    format = QLatin1String(text.format);
            }
            if (format.isEmpty() && target.contains('/'))
                format = QString::fromLatin1(target);
            if (format.isEmpty())
                continue; // TARGETS, TIMESTAMP, MULTIPLE and other non-content targets
            if (!formats_.contains(format))
                formats_.append(format);
            offered_.append(target);
        }
    }

    QStringList formats() const override { return formats_; }
    // Whether a text target delivered its content.
    bool delivered() const { return textDelivered_; }
    // Whether the owner refused content it had offered.
    bool refusedOffered() const { return refusedOffered_; }
    bool hasFormat(const QString &format) const override { return formats_.contains(format); }

    // The PNG content, decoded while it is still being transferred: a large picture arrives in
    // many pieces, and the decoding need not wait for the last one.
    QImage decodePngWhileFetching() const {
        StreamingDecode decode("png");
        const SelectionData data = fetch("image/png", [&decode](const QByteArray &piece) {
            decode.feed(piece.constData(), piece.size());
        });
        return decode.finish(data.status == SelectionData::Status::Ok);
    }

protected:
    QVariant retrieveData(const QString &format, QMetaType type) const override {
        if (!formats_.contains(format))
            return {};
        if (isTextFormat(format)) {
            const QString text = fetchText();
            if (type.id() == QMetaType::QString)
                return text;
            return text.toUtf8();
        }
        auto cached = fetched_.constFind(format);
        if (cached == fetched_.constEnd())
            cached = fetched_.insert(format, fetch(format.toLatin1()).data);
        return *cached;
    }

private:
    // Converts to `target`; gives the owner up unless it delivered or refused. With `sink`, the
    // content goes to it piece by piece instead of into the result.
    SelectionData fetch(const QByteArray &target,
                        const SelectionTransfer::PieceSink &sink = {}) const {
        SelectionData data;
        if (session_.stopped() || !offered_.contains(target))
            return data;
        const bool finished = session_.run([&](int cancelFd) {
            data = session_.transfer->convert(target, cancelFd, kLimits, sink);
        });
        if (!finished || (data.status != SelectionData::Status::Ok &&
                          data.status != SelectionData::Status::Refused)) {
            session_.giveUp();
            data.data.clear();
        }
        if (data.status == SelectionData::Status::Refused)
            refusedOffered_ = true;
        return data;
    }

    // The offered text, from the first text target that delivers; empty when none does.
    QString fetchText() const {
        if (!textFetched_) {
            textFetched_ = true;
            for (const TextTarget &text : kTextTargets) {
                if (!offered_.contains(text.target))
                    continue;
                const SelectionData data = fetch(text.target);
                if (data.status == SelectionData::Status::Ok) {
                    text_ = decodeText(text.target, data);
                    textDelivered_ = true;
                    break;
                }
                if (session_.stopped())
                    break;
            }
        }
        return text_;
    }

    Session &session_;
    QStringList formats_;
    QByteArrayList offered_;
    mutable QHash<QString, QByteArray> fetched_;
    mutable bool textFetched_ = false;
    mutable bool textDelivered_ = false;
    mutable bool refusedOffered_ = false;
    mutable QString text_;
};

ClipboardValue readThroughQt() {
    return valueFromMimeData(QGuiApplication::clipboard()->mimeData(QClipboard::Clipboard));
}

} // namespace

ClipboardValue ClipboardX11::read() {
    // A paste started by a timer while this one waits for the owner cannot read.
    if (reading_)
        return ClipboardValue::failed(QStringLiteral("another read of the clipboard is waiting"));
    const QScopedValueRollback<bool> guard(reading_, true);

    const QByteArray display = qgetenv("DISPLAY");
    if (QGuiApplication::platformName() != QLatin1String("xcb") || display.isEmpty())
        return readThroughQt();
    Session session;
    if (!session.usable())
        return readThroughQt();

    QByteArrayList targets;
    SelectionData::Status status = SelectionData::Status::Failed;
    bool connected = false;
    const bool finished = session.run([&](int cancelFd) {
        session.transfer = SelectionTransfer::open(display);
        connected = session.transfer != nullptr;
        if (connected)
            targets = session.transfer->targets(cancelFd, kLimits, &status);
    });
    if (!finished)
        return {};
    if (!connected)
        return readThroughQt();
    if (status == SelectionData::Status::Refused) {
        // No owner, or one that does not say what it offers: text may still be there.
        QByteArrayList textTargets;
        for (const TextTarget &text : kTextTargets)
            textTargets.append(text.target);
        const SelectionMimeData mime(session, textTargets);
        if (!mime.hasText())
            return {};
        const QString text = mime.text();
        if (session.stopped())
            return ClipboardValue::failed(QStringLiteral("the clipboard's owner stopped answering"));
        if (!mime.delivered())
            return {};
        ClipboardValue value;
        value.kind = ClipboardValue::Kind::Text;
        value.text = text;
        return value;
    }
    if (status != SelectionData::Status::Ok)
        return ClipboardValue::failed(QStringLiteral("the clipboard's owner did not answer"));
    const SelectionMimeData mime(session, targets);
    ClipboardValue value =
        valueFromMimeData(&mime, [&mime] { return mime.decodePngWhileFetching(); });
    // An owner given up during the transfer delivered nothing whole: the read failed, whatever
    // the part that came decodes to.
    if (session.stopped())
        return ClipboardValue::failed(QStringLiteral("the clipboard's owner broke off"));
    if (value.kind == ClipboardValue::Kind::Image && mime.refusedOffered())
        return ClipboardValue::failed(QStringLiteral("the clipboard's owner refused the picture "
                                                     "it offered"));
    return value;
}

} // namespace platform
