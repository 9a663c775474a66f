#include "platform/QtDialogs.h"

#include <QApplication>
#include <QMessageBox>

namespace platform {

int QtDialogs::messageDlg(const QString &text, MsgDlgType type, int /*buttons*/,
                          int /*defaultButton*/, int /*helpContext*/) {
    // OK is the only button the program asks for; a parent keeps the box over the window that
    // asked and stops the box from counting as a window of its own when it closes.
    const bool info = type == MsgDlgType::Information;
    QMessageBox box(info ? QMessageBox::Information : QMessageBox::Critical,
                    info ? QStringLiteral("情報") : QStringLiteral("エラー"), text, QMessageBox::Ok,
                    QApplication::activeWindow());
    box.setDefaultButton(QMessageBox::Ok);
    return box.exec() == QMessageBox::Ok ? mrOK : mrNone;
}

} // namespace platform
