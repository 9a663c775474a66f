#pragma once

#include "platform/Dialogs.h"

namespace platform {

// Message boxes drawn by the desktop's own style (QMessageBox), owned by the active window.
class QtDialogs final : public Dialogs {
public:
    int messageDlg(const QString &text, MsgDlgType type, int buttons, int defaultButton,
                   int helpContext) override;
};

} // namespace platform
