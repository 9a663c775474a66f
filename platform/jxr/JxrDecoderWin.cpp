// JPEG XR and TIFF files are decoded by the Windows Imaging Component in the child program
// stiqlet-jxr (JxrChildMainWin.cpp) beside the program: WIC's JPEG XR decoder crashes on some
// damaged files (Wine's, built on libjxr, does on the same files as libjxr).
#include "platform/JxrDecoder.h"

#include "pictures/ImageDecode.h"
#include "platform/TiffDecoder.h"

#include "platform/jxr/JxrChild.h"

#include <QDir>
#include <QFileInfo>

#include <windows.h>

#include <iterator>

namespace platform {
namespace {

QImage fail(QString *whyNot, const QString &reason) {
    if (whyNot)
        *whyNot = reason;
    return {};
}

} // namespace

QString jxr::childProgram() {
    wchar_t path[32768];
    const DWORD length = GetModuleFileNameW(nullptr, path, DWORD(std::size(path)));
    if (length == 0 || length >= std::size(path))
        return QString();
    return QFileInfo(QString::fromWCharArray(path, int(length)))
        .dir()
        .filePath(QStringLiteral("stiqlet-jxr.exe"));
}

QImage decodeJxr(const QByteArray &data, QString *whyNot) {
    // The child tells the formats apart by their first bytes.
    if (isTiffData(data))
        return fail(whyNot, QStringLiteral("not a JPEG XR image"));
    return jxr::decodeInChild(data, QStringLiteral("JPEG XR"), whyNot);
}

bool jxrSupported() {
    return true;
}

QImage decodeTiffBySystem(const QByteArray &data, QString *whyNot) {
    if (!isTiffData(data))
        return fail(whyNot, QStringLiteral("not a TIFF image"));
    return jxr::decodeInChild(data, QStringLiteral("TIFF"), whyNot);
}

} // namespace platform
