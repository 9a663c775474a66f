// Starts the decoding child (JxrChild.h) with QProcess, which executes a new program rather than
// running on in a copy of this one: a fork of the threaded program could wait forever for a lock
// another thread held at the moment of the fork.
#include "platform/jxr/JxrChild.h"

#include "pictures/ImageLimits.h"
#include "platform/JxrDecoder.h"

#include <QDeadlineTimer>
#include <QFileInfo>
#include <QMutex>
#include <QProcess>
#include <QScopeGuard>

#include <atomic>
#include <climits>

namespace platform::jxr {
namespace {

// Set when the program ends; a decode waits for its child in slices this long and then looks.
std::atomic<bool> stopping{false};
constexpr int kWaitSliceMs = 100;

// The program set in place of the installed one, read by the decoding threads.
QMutex programMutex;
QString programOverride;

QString programToRun() {
    {
        const QMutexLocker lock(&programMutex);
        if (!programOverride.isEmpty())
            return programOverride;
    }
    return childProgram();
}

QImage fail(QString *whyNot, const QString &reason) {
    if (whyNot)
        *whyNot = reason;
    return {};
}

int remaining(const QDeadlineTimer &deadline) {
    return int(qBound(qint64(0), deadline.remainingTime(), qint64(INT_MAX)));
}

// Waits for more of the child's output; false when it ends, the deadline passes or the program
// stops.
bool waitForOutput(QProcess &child, const QDeadlineTimer &deadline) {
    while (!stopping.load(std::memory_order_relaxed)) {
        const int wait = qMin(remaining(deadline), kWaitSliceMs);
        if (child.waitForReadyRead(wait))
            return true;
        if (child.state() == QProcess::NotRunning || deadline.hasExpired())
            return false;
    }
    return false;
}

// Reads exactly `size` bytes; false when the child's output ends first, the deadline passes or
// the program stops.
bool readExactly(QProcess &child, void *out, qint64 size, const QDeadlineTimer &deadline) {
    char *p = static_cast<char *>(out);
    while (size > 0) {
        const qint64 got = child.read(p, size);
        if (got < 0)
            return false;
        p += got;
        size -= got;
        if (size > 0 && child.bytesAvailable() == 0 && !waitForOutput(child, deadline))
            return false;
    }
    return true;
}

// Why the child sent less than it should have.
QString lostChild(QProcess &child, const QDeadlineTimer &deadline, const QString &kind) {
    if (stopping.load(std::memory_order_relaxed)) {
        child.kill();
        return QStringLiteral("the program is ending");
    }
    if (deadline.hasExpired()) {
        child.kill();
        return QStringLiteral("decoding the %1 image took too long").arg(kind);
    }
    child.waitForFinished(remaining(deadline));
    if (child.state() == QProcess::NotRunning &&
        (child.exitStatus() == QProcess::CrashExit || child.exitCode() == kChildCrashed))
        return QStringLiteral("the %1 decoder crashed on this file").arg(kind);
    return QStringLiteral("the %1 decoder stopped on this file").arg(kind);
}

} // namespace

QImage decodeInChild(const QByteArray &data, const QString &kind, QString *whyNot) {
    if (data.isEmpty())
        return fail(whyNot, QStringLiteral("no data"));
    if (stopping.load(std::memory_order_relaxed))
        return fail(whyNot, QStringLiteral("the program is ending"));
    const QString program = programToRun();
    const QString programName =
        program.isEmpty() ? QStringLiteral("stiqlet-jxr") : QFileInfo(program).fileName();
    if (program.isEmpty() || !QFileInfo(program).isFile())
        throw DecoderProgramUnavailable(
            DecoderProgramUnavailable::Why::Missing, programName,
            QStringLiteral("the %1 decoder %2 is not installed").arg(kind, programName));

    QProcess child;
    // The child ends by itself once it has answered; one that does not is stopped.
    const auto stop = qScopeGuard([&child] {
        if (child.state() != QProcess::NotRunning && !child.waitForFinished(1000)) {
            child.kill();
            child.waitForFinished();
        }
    });
    // What a decoder prints about a damaged file is of no use to the user.
    child.setStandardErrorFile(QProcess::nullDevice());
    child.start(program, QStringList(), QIODevice::ReadWrite);
    if (!child.waitForStarted())
        throw DecoderProgramUnavailable(DecoderProgramUnavailable::Why::NotStarted, programName,
                                        QStringLiteral("cannot start the %1 decoder %2: %3")
                                            .arg(kind, programName, child.errorString()));
    const QDeadlineTimer deadline(kChildTimeoutMs);
    const qint64 size = data.size();
    child.write(reinterpret_cast<const char *>(&size), sizeof size);
    child.write(data);
    child.closeWriteChannel();

    ChildReply reply;
    if (!readExactly(child, &reply, sizeof reply, deadline))
        return fail(whyNot, lostChild(child, deadline, kind));
    if (reply.failed) {
        if (reply.reasonBytes < 0 || reply.reasonBytes > kMaxReasonBytes)
            return fail(whyNot, QStringLiteral("the %1 decoder sent a damaged reply").arg(kind));
        QByteArray reason(reply.reasonBytes, Qt::Uninitialized);
        if (!readExactly(child, reason.data(), reason.size(), deadline))
            return fail(whyNot, lostChild(child, deadline, kind));
        return fail(whyNot, QString::fromUtf8(reason));
    }
    // The child checked all this; a reply from a damaged child must not size an allocation.
    if (!fitsImageLimits(reply.width, reply.height))
        return fail(whyNot, QStringLiteral("the %1 decoder sent a damaged reply").arg(kind));
    QImage image(reply.width, reply.height, QImage::Format_ARGB32);
    if (image.isNull())
        return fail(whyNot, QStringLiteral("out of memory"));
    const qint64 rowBytes = qint64(reply.width) * 4;
    for (int y = 0; y < image.height(); ++y)
        if (!readExactly(child, image.scanLine(y), rowBytes, deadline))
            return fail(whyNot, lostChild(child, deadline, kind));
    return image;
}

} // namespace platform::jxr

void platform::stopDecoding() {
    jxr::stopping.store(true, std::memory_order_relaxed);
}

void platform::setDecoderProgram(const QString &path) {
    const QMutexLocker lock(&jxr::programMutex);
    jxr::programOverride = path;
}
