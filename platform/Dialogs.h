#pragma once

#include <QString>

namespace platform {

enum class MsgDlgType { Information, Error };
enum MsgDlgBtn : int { mbOK = 1 };
enum ModalResult : int { mrNone = 0, mrOK = 1 };

// The desktop's synchronous message box.
class Dialogs {
public:
    virtual ~Dialogs() = default;
    // Shows a modal box over the active window and returns the button chosen (mrOK for OK).
    virtual int messageDlg(const QString &text, MsgDlgType type, int buttons, int defaultButton,
                           int helpContext) = 0;
};

} // namespace platform
