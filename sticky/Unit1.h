#pragma once

#include "sticky/ImageControl.h"

#include <QPointF>
#include <QString>
#include <QTimer>
#include <QWidget>

#include <array>
#include <memory>

class QAction;
class MonochromeEffect;
class TForm1;
namespace Ui {
class TForm1;
}

// A pointer position in screen coordinates, kept in single precision as the resize arithmetic
// works in it.
struct PointF32 {
    float x = 0;
    float y = 0;
};

// The note window's run-time state: one set per process, put in its starting state by
// TForm1::FormCreate.
extern std::array<QString, 5> keyLetters;
extern QString selectedKey;
extern char16_t toggleKeyCode;
extern char16_t closeKeyCode;
extern bool resizing;
extern PointF32 resizeStartPos;
extern qint32 resizeStartWidth;
extern qint32 resizeStartHeight;
extern bool firstShow;

// The note window; set before its creation handler runs.
extern TForm1 *Form1;

// The note: a borderless, always-on-top window showing one picture, managed with the mouse.
class TForm1 : public QWidget {
    Q_OBJECT
public:
    explicit TForm1(QWidget *parent = nullptr);
    ~TForm1() override;

    Ui::TForm1 *form() const { return ui.get(); }
    MonochromeEffect *MonochromeEffect1() const { return m_monochrome; }
    QTimer Timer2;
    QTimer tmKiiOnOff;

    void hintHenkoHyoj(const QString &s);
    void yohakSet(qint32 w);
    void tenmetuSet(qint32 w);
    bool myMesejBoxOk(QObject *sender, const QString &moj);
    void pmNumSetting(QObject *sender);

public slots:
    void FormCreate();
    void FormShow();
    void Timer2Timer();
    void tmKiiOnOffTimer();
    void acPasteExecute();
    void ImageControl1DblClick();
    void ImageControl1MouseDown(Qt::MouseButton Button, TShiftState Shift, float X, float Y,
                                QPointF global);
    void ImageControl1MouseMove(TShiftState Shift, float X, float Y, QPointF global);
    void ImageControl1MouseUp(Qt::MouseButton Button, TShiftState Shift, float X, float Y,
                              QPointF global);
    void ImageControl1MouseEnter();
    void ImageControl1MouseLeave();
    void DynamicMenuItemClick(QAction *Sender);
    void pmSubKiiOnClick();
    void pmSubKiiOffClick();
    void pmPasteClick();
    void pmclearClick();
    void pmSubYoAriClick();
    void pmSubYoNasiClick();
    void pmSubTenmetuOnClick();
    void pmSubTenmetuOffClick();
    void pmSaisyoukaClick();
    void pmAboutClick();
    void pnCloseClick();

    void setVisible(bool visible) override;

    // The note's own shown flag, as the hotkey sees it: shown once the window is on the desktop,
    // minimised included, until the hotkey hides it. A hidden note stays in the task bar.
    bool countsAsShown() const { return isVisible() && !m_hidden; }
    // Takes the note off the screen, keeping its task-bar entry: it is minimised by the
    // desktop and no longer counts as shown.
    void hideNote();
    // Brings the note back, in its normal state, where it was.
    void showNote();

    // Gives every panel the look its style names in the style sheet entry chosen for this
    // operating system and platform style.
    void applyStyleBook(const QString &osName, const QString &platformStyleTitle);

protected:
    bool event(QEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;
    void showEvent(QShowEvent *event) override;
    void changeEvent(QEvent *event) override;
    void closeEvent(QCloseEvent *event) override;

private:
    void centreOnScreen();
    void endResize();
    void pointerTakenAway();
    void settleSize();

    std::unique_ptr<Ui::TForm1> ui;
    MonochromeEffect *m_monochrome = nullptr;
    bool m_placed = false;
    // Hidden by the hotkey: off the screen (minimised), while the task-bar entry stays.
    bool m_hidden = false;
    // The size the last resize move asked for, and a late check that the window got it.
    QSize m_requestedSize;
    QTimer m_settle;
    // A close asked for while a box or the menu was open, carried out once it has closed.
    bool m_closeWaiting = false;
};
