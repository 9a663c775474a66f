// stiqlet-jxr: decodes one JPEG XR or TIFF file for the note, in a process of its own. Reads the
// file from standard input and answers on standard output as JxrChild.h says. A crash ends this
// process only, quietly, without an error box.
#include "platform/jxr/JxrChild.h"
#include "platform/jxr/JxrWic.h"

#include <windows.h>

namespace {

// Largest piece handed to ReadFile or WriteFile at once.
constexpr qint64 kChunk = qint64(1) << 24;

bool readAll(HANDLE from, void *to, qint64 size) {
    char *p = static_cast<char *>(to);
    while (size > 0) {
        DWORD got = 0;
        if (!ReadFile(from, p, DWORD(qMin(size, kChunk)), &got, nullptr) || got == 0)
            return false;
        p += got;
        size -= got;
    }
    return true;
}

bool writeAll(HANDLE to, const void *from, qint64 size) {
    const char *p = static_cast<const char *>(from);
    while (size > 0) {
        DWORD written = 0;
        if (!WriteFile(to, p, DWORD(qMin(size, kChunk)), &written, nullptr) || written == 0)
            return false;
        p += written;
        size -= written;
    }
    return true;
}

// Without this, the system (or Wine) would show its error box or start a debugger and keep the
// crashed process, and the note waiting for it, until someone answers.
LONG WINAPI endQuietly(EXCEPTION_POINTERS *) {
    TerminateProcess(GetCurrentProcess(), platform::jxr::kChildCrashed);
    return EXCEPTION_EXECUTE_HANDLER;
}

bool sendFailure(HANDLE out, const QString &reason) {
    const QByteArray text = reason.toUtf8();
    platform::jxr::ChildReply reply;
    reply.failed = 1;
    reply.reasonBytes = qint32(text.size());
    return writeAll(out, &reply, sizeof reply) && writeAll(out, text.constData(), text.size());
}

} // namespace

int main() {
    SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX | SEM_NOOPENFILEERRORBOX);
    SetUnhandledExceptionFilter(endQuietly);
    const HANDLE in = GetStdHandle(STD_INPUT_HANDLE);
    const HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);

    qint64 size = 0;
    if (!readAll(in, &size, sizeof size) || size <= 0 || size > platform::jxr::kMaxFileBytes)
        return 2;
    QImage image;
    QString why;
    try {
        QByteArray data(size, Qt::Uninitialized);
        if (!readAll(in, data.data(), size))
            return 2;
        image = platform::jxr::decodeWithWic(data, &why);
    } catch (const std::bad_alloc &) {
        why = QStringLiteral("out of memory");
    }
    if (image.isNull())
        return sendFailure(out, why) ? 0 : 2;

    platform::jxr::ChildReply reply;
    reply.width = image.width();
    reply.height = image.height();
    if (!writeAll(out, &reply, sizeof reply))
        return 2;
    const qint64 rowBytes = qint64(image.width()) * 4;
    for (int y = 0; y < image.height(); ++y)
        if (!writeAll(out, image.constScanLine(y), rowBytes))
            return 2;
    return 0;
}
