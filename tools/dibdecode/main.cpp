// dibdecode INPUT OUTPUT.png: decodes a .bmp file, or else a packed bitmap as the Windows
// clipboard holds it, with the note's own decoder and writes the picture as a PNG.
#include "pictures/DibDecoder.h"

#include <QCoreApplication>
#include <QFile>
#include <QImageWriter>

#include <cstdio>

namespace {

int failWith(const QString &message)
{
    std::fprintf(stderr, "dibdecode: %s\n", qPrintable(message));
    return 1;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() != 3) {
        std::fprintf(stderr, "usage: dibdecode INPUT OUTPUT.png\n");
        return 2;
    }
    const QString &input = args[1];
    const QString &output = args[2];

    QFile file(input);
    if (!file.open(QIODevice::ReadOnly))
        return failWith(QStringLiteral("cannot read %1: %2").arg(input, file.errorString()));
    const QByteArray bytes = file.readAll();

    QString whyNot;
    const QImage image = bytes.startsWith("BM")
                             ? platform::decodeBmpFile(bytes.constData(), bytes.size(), &whyNot)
                             : platform::decodeDib(bytes.constData(), bytes.size(), &whyNot);
    if (image.isNull())
        return failWith(QStringLiteral("cannot decode %1: %2").arg(input, whyNot));

    QImageWriter writer(output, "png");
    if (!writer.write(image))
        return failWith(QStringLiteral("cannot write %1: %2").arg(output, writer.errorString()));
    return 0;
}
