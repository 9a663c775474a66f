// JPEG XR and TIFF files are decoded by the Windows Imaging Component in a child process,
// stiqlet-jxr (JxrChildMain.cpp): a dropped file must not end the note, and WIC's JPEG XR decoder
// crashes on some damaged files (Wine's, built on libjxr, does on the same files as libjxr). The
// child sends the pixels back through a pipe; if it dies or takes too long, the file is refused.
#include "platform/JxrDecoder.h"
#include "platform/TiffDecoder.h"

#include "platform/ImageLimits.h"
#include "platform/jxr/JxrWic.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QScopeGuard>

#include <windows.h>

#include <climits>

namespace platform {
namespace {

// A child that takes longer is stopped. An 8K picture stored losslessly takes about 5 s, the
// largest one allowed eight times as long.
constexpr int kDecodeTimeoutMs = 300 * 1000;
// Longest reason the child may send.
constexpr qint32 kMaxReasonBytes = 4096;

QImage fail(QString *whyNot, const QString &reason) {
    if (whyNot)
        *whyNot = reason;
    return {};
}

// The child program beside this program's own file.
QString childProgram() {
    wchar_t path[32768];
    const DWORD length = GetModuleFileNameW(nullptr, path, DWORD(std::size(path)));
    if (length == 0 || length >= std::size(path))
        return QString();
    return QFileInfo(QString::fromWCharArray(path, int(length)))
        .dir()
        .filePath(QString::fromLatin1(jxr::kChildProgram));
}

int remaining(const QDeadlineTimer &deadline) {
    return int(qBound(qint64(0), deadline.remainingTime(), qint64(INT_MAX)));
}

// Reads exactly `size` bytes; false when the child's output ends first or the deadline passes.
bool readExactly(QProcess &child, void *out, qint64 size, const QDeadlineTimer &deadline) {
    char *p = static_cast<char *>(out);
    while (size > 0) {
        const qint64 got = child.read(p, size);
        if (got < 0)
            return false;
        p += got;
        size -= got;
        if (size > 0 && child.bytesAvailable() == 0 && !child.waitForReadyRead(remaining(deadline)))
            return false;
    }
    return true;
}

// Why the child sent less than it should have.
QString lostChild(QProcess &child, const QDeadlineTimer &deadline, const QString &kind) {
    if (deadline.hasExpired()) {
        child.kill();
        return QStringLiteral("decoding the %1 image took too long").arg(kind);
    }
    child.waitForFinished(remaining(deadline));
    if (child.state() == QProcess::NotRunning &&
        (child.exitStatus() == QProcess::CrashExit || child.exitCode() == jxr::kChildCrashed))
        return QStringLiteral("the %1 decoder crashed on this file").arg(kind);
    return QStringLiteral("the %1 decoder stopped on this file").arg(kind);
}

// Decodes `data` in the child; `kind` names the format in the reasons.
QImage decodeInChild(const QByteArray &data, const QString &kind, QString *whyNot) {
    if (data.isEmpty())
        return fail(whyNot, QStringLiteral("no data"));

    QProcess child;
    // The child ends by itself once it has answered; one that does not is stopped.
    const auto stop = qScopeGuard([&child] {
        if (child.state() != QProcess::NotRunning && !child.waitForFinished(1000)) {
            child.kill();
            child.waitForFinished();
        }
    });
    child.setStandardErrorFile(QProcess::nullDevice());
    child.start(childProgram(), QStringList(), QIODevice::ReadWrite);
    if (!child.waitForStarted())
        return fail(
            whyNot,
            QStringLiteral("cannot start the %1 decoder: %2").arg(kind, child.errorString()));
    const QDeadlineTimer deadline(kDecodeTimeoutMs);
    const qint64 size = data.size();
    child.write(reinterpret_cast<const char *>(&size), sizeof size);
    child.write(data);
    child.closeWriteChannel();

    jxr::ChildReply reply;
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
    if (reply.width <= 0 || reply.height <= 0 || reply.width > kMaxImageSide ||
        reply.height > kMaxImageSide || qint64(reply.width) * reply.height > kMaxImagePixels)
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

} // namespace

QImage decodeJxr(const QByteArray &data, QString *whyNot) {
    // The child tells the formats apart by their first bytes.
    if (isTiffData(data))
        return fail(whyNot, QStringLiteral("not a JPEG XR image"));
    return decodeInChild(data, QStringLiteral("JPEG XR"), whyNot);
}

bool jxrSupported() {
    return true;
}

QImage decodeTiffBySystem(const QByteArray &data, QString *whyNot) {
    if (!isTiffData(data))
        return fail(whyNot, QStringLiteral("not a TIFF image"));
    return decodeInChild(data, QStringLiteral("TIFF"), whyNot);
}

} // namespace platform
