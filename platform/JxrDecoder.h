#pragma once

#include <QByteArray>
#include <QImage>
#include <QString>

#include <stdexcept>

namespace platform {

// The program that decodes a file's format in a child process (JPEG XR, and TIFF on Windows)
// could not be run: it is missing, or the system would not start it. The file itself may well be
// fine. Thrown by the decoders that need the program, rather than giving no picture.
class DecoderProgramUnavailable : public std::runtime_error {
public:
    enum class Why { Missing, NotStarted };
    DecoderProgramUnavailable(Why why, const QString &program, const QString &detail)
        : std::runtime_error(detail.toStdString())
        , m_why(why)
        , m_program(program) {}
    Why why() const { return m_why; }
    // The program's file name.
    QString program() const { return m_program; }

private:
    Why m_why;
    QString m_program;
};

// Decodes a JPEG XR image held in memory to straight-alpha ARGB32; null, with a reason in
// *whyNot, when it cannot. Throws DecoderProgramUnavailable and ImageTooLarge.
QImage decodeJxr(const QByteArray &data, QString *whyNot = nullptr);
// Whether this build can decode JPEG XR at all.
bool jxrSupported();
// Makes the decodes still running, and any started later, give up at once: the program is
// ending and must not wait for a slow file.
void stopDecoding();
// Runs the decoding program at `path` instead of the one of this installation; an empty path
// goes back to that one. For tests of a program that is missing or does not start.
void setDecoderProgram(const QString &path);

} // namespace platform
