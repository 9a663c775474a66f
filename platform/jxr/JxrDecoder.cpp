// JPEG XR files are decoded by libjxr in the child program stiqlet-jxr (JxrChildMain.cpp): libjxr
// reads far outside its buffers on some damaged files and fails assertions on others, and a
// dropped file must not end the note.
#include "platform/JxrDecoder.h"

#include "platform/jxr/JxrChild.h"

#include <QDir>
#include <QFileInfo>

namespace platform {

// Beside the program (the build tree, the test programs), or where it is installed: the
// libexec folder of the prefix whose bin folder holds the program.
QString jxr::childProgram() {
    const QString self = QFileInfo(QStringLiteral("/proc/self/exe")).canonicalFilePath();
    if (self.isEmpty())
        return QString();
    const QDir dir = QFileInfo(self).dir();
    for (const QString &candidate :
         {dir.filePath(QStringLiteral("stiqlet-jxr")),
          dir.filePath(QStringLiteral(STIQLET_CHILD_DIR_FROM_BIN "/stiqlet-jxr"))}) {
        const QFileInfo file(candidate);
        if (file.isFile() && file.isExecutable())
            return file.absoluteFilePath();
    }
    return QString();
}

QImage decodeJxr(const QByteArray &data, QString *whyNot) {
    return jxr::decodeInChild(data, QStringLiteral("JPEG XR"), whyNot);
}

bool jxrSupported() {
    return true;
}

} // namespace platform
