#include "sticky/Unit1.h"

#include "about/Unit3.h"
#include "platform/Clipboard.h"
#include "platform/Dialogs.h"
#include "platform/Failure.h"
#include "platform/KeyState.h"
#include "platform/Modal.h"
#include "platform/Services.h"
#include "platform/StyleBook.h"
#include "platform/WindowActivation.h"
#include "sticky/MonochromeEffect.h"
#include "sticky/Panel.h"
#include "ui_Unit1.h"

#include <QAction>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QGuiApplication>
#include <QHash>
#include <QImageReader>
#include <QMenu>
#include <QMouseEvent>
#include <QOperatingSystemVersion>
#include <QPointer>
#include <QScreen>

#include <cmath>
#include <stdexcept>

std::array<QString, 5> keyLetters;
QString selectedKey;
char16_t toggleKeyCode = 0;
char16_t closeKeyCode = 0;
bool resizing = false;
PointF32 resizeStartPos;
qint32 resizeStartWidth = 0;
qint32 resizeStartHeight = 0;
bool firstShow = true;

TForm1 *Form1 = nullptr;

namespace {

constexpr int kBlinkIntervalMs = 1000;
constexpr int kKeyPollIntervalMs = 100;
constexpr qint32 kMinSize = 50;
constexpr qint32 kMarginOff = -5;
constexpr qint32 kMarginOn = 0;
// How long after a resize drag the window's size is checked against the last one asked for.
constexpr int kSettleDelayMs = 300;

const QString kPasteError = QStringLiteral(
    "Stiqlet イメージ貼り付けエラー\r\nクリップボードのデータがイメージ型ではないかもしれません");

// The window's style sheet: an empty entry for every platform, and one for Windows 11 that
// draws the info bar antique white.
struct StyleEntry {
    QString platform;
    QHash<QString, platform::PanelLook> styles;
};

const QList<StyleEntry> &styleBook1() {
    static const QList<StyleEntry> entries{
        {QString(), {}},
        {QStringLiteral("Windows 11 Desktop"),
         {{QStringLiteral("Panel2Style1"),
           platform::PanelLook{QColor(0xFA, 0xEB, 0xD7), QColor(0xFA, 0xEB, 0xD7)}}}},
    };
    return entries;
}

// Rounds to the nearest integer, halves to the even neighbour.
qint32 roundHalfEven(float v) {
    return qint32(std::nearbyint(v));
}

} // namespace

TForm1::TForm1(QWidget *parent)
    : QWidget(parent)
    , ui(std::make_unique<Ui::TForm1>()) {
    Form1 = this;
    ui->setupUi(this);
    // Window flags are no widget property, so the definition cannot hold them.
    setWindowFlags(Qt::Window | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint);
    ui->ImageControl1->setPopupMenu(ui->PopupMenu1);
    // The info bar stays out of the pointer's way: the pointer over it is still over the
    // image area, so it does not flicker and presses on it reach the image area.
    ui->Panel2->setAttribute(Qt::WA_TransparentForMouseEvents);
    // The note stays above the window the user works in: its tooltip shows whichever window
    // is active, not only while the note is.
    setAttribute(Qt::WA_AlwaysShowToolTips);
    // Hidden from the start, so that showing the note does not lay out the info text: that
    // would load the fonts before the first frame, which shows no text.
    ui->Panel2->hide();
    QFont labelFont = ui->Label1->font();
    labelFont.setPixelSize(12);
    ui->Label1->setFont(labelFont);
    QPalette labelPalette = ui->Label1->palette();
    labelPalette.setColor(QPalette::WindowText, Qt::black);
    ui->Label1->setPalette(labelPalette);
    const QOperatingSystemVersion os = QOperatingSystemVersion::current();
    applyStyleBook(platform::osName(os), platform::platformStyleTitle(os));

    m_monochrome = new MonochromeEffect(this);
    m_monochrome->setEnabled(false);
    ui->ImageControl1->setGraphicsEffect(m_monochrome);
    // Read as the PNG it is, without asking every image plugin about it first: that would load
    // them all at start-up.
    QImageReader firstPicture(QStringLiteral(":/art/stiqlet-64.png"), "png");
    firstPicture.setAutoDetectImageFormat(false);
    ui->ImageControl1->setPicture(firstPicture.read());

    Timer2.setInterval(kBlinkIntervalMs);
    connect(&Timer2, &QTimer::timeout, this, &TForm1::Timer2Timer);
    tmKiiOnOff.setInterval(kKeyPollIntervalMs);
    connect(&tmKiiOnOff, &QTimer::timeout, this, &TForm1::tmKiiOnOffTimer);
    tmKiiOnOff.start();
    m_settle.setSingleShot(true);
    m_settle.setInterval(kSettleDelayMs);
    connect(&m_settle, &QTimer::timeout, this, &TForm1::settleSize);
    // A menu or a modal box takes the pointer: the release that would end a drag never comes.
    connect(ui->PopupMenu1, &QMenu::aboutToShow, this, &TForm1::pointerTakenAway);
    // Menu items are chosen as the left or right button goes down on them.
    ui->PopupMenu1->installEventFilter(this);
    for (QMenu *submenu : ui->PopupMenu1->findChildren<QMenu *>())
        submenu->installEventFilter(this);

    FormCreate();
}

TForm1::~TForm1() {
    if (Form1 == this)
        Form1 = nullptr;
}

void TForm1::applyStyleBook(const QString &osName, const QString &platformStyleTitle) {
    const QList<StyleEntry> &entries = styleBook1();
    QStringList platforms;
    for (const StyleEntry &entry : entries)
        platforms << entry.platform;
    const int chosen = platform::chooseStyleEntry(platforms, osName, platformStyleTitle);
    for (Panel *panel : findChildren<Panel *>()) {
        const auto &styles = entries[chosen].styles;
        const auto found = styles.constFind(panel->styleLookup());
        panel->setLook(found != styles.constEnd() ? *found : platform::standardPanelLook());
    }
}

void TForm1::FormCreate() {
    keyLetters = {QStringLiteral("A"), QStringLiteral("B"), QStringLiteral("C"),
                  QStringLiteral("D"), QStringLiteral("E")};
    selectedKey = QStringLiteral("A");
    toggleKeyCode = selectedKey.at(0).unicode();
    closeKeyCode = QStringLiteral("X").at(0).unicode();
    yohakSet(kMarginOff);
    resizing = false;
    tenmetuSet(0);
    firstShow = true;
}

void TForm1::FormShow() {
    if (!firstShow)
        return;
    if (!tmKiiOnOff.isActive())
        tmKiiOnOff.start();
    ui->Panel2->hide();
    pmNumSetting(Form1);
    hintHenkoHyoj(selectedKey);
    firstShow = false;
}

void TForm1::showEvent(QShowEvent *event) {
    // Spontaneous show events come from the desktop (a restore from the task bar); only a
    // show asked for by the program counts as showing the window.
    if (!event->spontaneous())
        FormShow();
    QWidget::showEvent(event);
}

void TForm1::setVisible(bool visible) {
    // Placed before the native window exists, so that the desktop and Qt agree on where it is
    // from the start; a window moved only once shown may keep (0, 0) as Qt's idea of its place.
    if (visible && !m_placed) {
        centreOnScreen();
        m_placed = true;
    }
    QWidget::setVisible(visible);
}

// A plain hide() would unmap the window, and its task-bar entry would go with it: the desktop
// could then no longer close or restore the note. Minimising keeps the entry and still takes the
// note off the screen and out of the way of the pointer.
void TForm1::hideNote() {
    if (!isVisible())
        return;
    m_hidden = true;
    setWindowState(windowState() | Qt::WindowMinimized);
}

void TForm1::showNote() {
    m_hidden = false;
    if (!isVisible()) {
        show();
        return;
    }
    // The user works in another application meanwhile, and the keys typed next are theirs: the
    // note comes back above it but leaves it the keyboard.
    platform::restoreWithoutActivating(this);
    FormShow();
}

void TForm1::changeEvent(QEvent *event) {
    // Restored by the desktop (its task bar, say) while hidden: the note is shown again.
    if (event->type() == QEvent::WindowStateChange && m_hidden && !isMinimized()) {
        m_hidden = false;
        FormShow();
    }
    QWidget::changeEvent(event);
}

void TForm1::centreOnScreen() {
    const QScreen *screen = this->screen() ? this->screen() : QGuiApplication::primaryScreen();
    if (!screen)
        return;
    const QRect area = screen->availableGeometry();
    move(area.x() + (area.width() - width()) / 2, area.y() + (area.height() - height()) / 2);
}

bool TForm1::event(QEvent *event) {
    if (event->type() == QEvent::WindowBlocked)
        pointerTakenAway();
    return QWidget::event(event);
}

bool TForm1::eventFilter(QObject *watched, QEvent *event) {
    auto *menu = qobject_cast<QMenu *>(watched);
    if (menu && event->type() == QEvent::MouseButtonPress) {
        const auto *press = static_cast<QMouseEvent *>(event);
        const QAction *item = menu->actionAt(press->position().toPoint());
        if ((press->button() == Qt::LeftButton || press->button() == Qt::RightButton) && item &&
            !item->menu() && !item->isSeparator() && item->isEnabled()) {
            // Let the menu take the press, then finish the click at once: the menu closes and
            // the item's handler runs as after an ordinary click.
            const QPointF at = press->position();
            const QPointF global = press->globalPosition();
            QMetaObject::invokeMethod(
                menu,
                [menu, at, global] {
                    QMouseEvent release(QEvent::MouseButtonRelease, at, global, Qt::LeftButton,
                                        Qt::NoButton, Qt::NoModifier);
                    QCoreApplication::sendEvent(menu, &release);
                },
                Qt::QueuedConnection);
        }
    }
    return QWidget::eventFilter(watched, event);
}

void TForm1::pointerTakenAway() {
    endResize();
    ui->ImageControl1->endWindowDrag();
}

void TForm1::endResize() {
    if (resizing)
        m_settle.start();
    resizing = false;
}

// Window managers may answer resize requests late or out of order; once a drag is over, the
// window must have the size its last move asked for.
void TForm1::settleSize() {
    if (!resizing && m_requestedSize.isValid() && size() != m_requestedSize)
        resize(m_requestedSize);
}

void TForm1::closeEvent(QCloseEvent *event) {
    // Ending the loop now would take an open box or menu away unanswered: the close waits until
    // it has been answered or closed, then takes place.
    if (platform::modalOpen()) {
        event->ignore();
        if (!m_closeWaiting) {
            m_closeWaiting = true;
            platform::whenNoModal([self = QPointer<TForm1>(this)] {
                if (!self)
                    return;
                self->m_closeWaiting = false;
                self->close();
            });
        }
        return;
    }
    event->accept();
    // The note is the main window: closing it by any route ends the program, whatever other
    // windows are open.
    if (Form1 == this)
        QCoreApplication::quit();
}

void TForm1::hintHenkoHyoj(const QString &s) {
    ui->ImageControl1->setToolTip(QStringLiteral("マウス左ダブルクリック:貼り付け\r\n"
                                                 "マウス中ボタンドラッグ:フォーム移動\r\n"
                                                 "マウス左ボタンドラッグ:フォームサイズ変更\r\n"
                                                 "マウス右ボタン:ポップアップメニュー\r\n"
                                                 "Ctrl+Alt+X : Stiqletを閉じる"));
    ui->Label1->setText(QStringLiteral("Ctrl+Alt+") + s + QStringLiteral(" : フォーム表示On/Off"));
}

void TForm1::yohakSet(qint32 w) {
    const float m = float(w);
    ui->ImageControl1->setMargins(m);
    ui->ImageControl1->setPosition(m, m);
    if (w == kMarginOff) {
        ui->pmSubYoAri->setChecked(false);
        ui->pmSubYoNasi->setChecked(true);
    } else if (w == kMarginOn) {
        ui->pmSubYoAri->setChecked(true);
        ui->pmSubYoNasi->setChecked(false);
    }
}

void TForm1::tenmetuSet(qint32 w) {
    if (w == 0) {
        Timer2.stop();
        m_monochrome->setEnabled(false);
        ui->pmSubTenmetuOn->setChecked(false);
        ui->pmSubTenmetuOff->setChecked(true);
    } else if (w == 1) {
        // Enabling a running timer must not restart its interval: that would shift the blink.
        if (!Timer2.isActive())
            Timer2.start();
        ui->pmSubTenmetuOn->setChecked(true);
        ui->pmSubTenmetuOff->setChecked(false);
    }
}

void TForm1::Timer2Timer() {
    platform::guarded([&] { m_monochrome->setEnabled(!m_monochrome->isEnabled()); });
}

void TForm1::tmKiiOnOffTimer() {
    platform::guarded([&] {
        platform::KeyState *keys = platform::services::keyState();
        if (!keys)
            return;
        keys->update();
        if (!keys->isDown(platform::VK_CONTROL))
            return;
        if (!keys->isDown(platform::VK_MENU))
            return;
        if (keys->isDown(toggleKeyCode)) {
            if (Form1->countsAsShown())
                Form1->hideNote();
            else
                Form1->showNote();
        }
        if (keys->isDown(closeKeyCode))
            Form1->close();
    });
}

void TForm1::acPasteExecute() {
    platform::guarded([&] {
        platform::Clipboard *clipboard = platform::services::clipboard();
        if (!clipboard)
            return;
        // A dropped file still decoding must not replace what the paste gives, nor come in
        // while the clipboard is read, nor follow a paste that failed.
        Form1->ui->ImageControl1->supersedeDrops();
        try {
            const platform::ClipboardValue value = clipboard->read();
            if (value.kind == platform::ClipboardValue::Kind::Text)
                throw std::runtime_error("text cannot be converted to an image");
            // A read that failed (an owner that stalled or broke off) keeps the picture.
            if (value.kind == platform::ClipboardValue::Kind::Failed)
                throw std::runtime_error(value.text.toStdString());
            // An image converts to itself; an empty clipboard to no image, which empties the
            // picture.
            Form1->ui->ImageControl1->setPicture(value.image);
        } catch (...) {
            myMesejBoxOk(Form1, kPasteError);
        }
    });
}

void TForm1::ImageControl1DblClick() {
    platform::guarded([&] { ui->acPaste->trigger(); });
}

bool TForm1::myMesejBoxOk(QObject *, const QString &moj) {
    bool result = false;
    if (platform::Dialogs *dialogs = platform::services::dialogs())
        result = dialogs->messageDlg(moj, platform::MsgDlgType::Information, platform::mbOK,
                                     platform::mbOK, 0) == platform::mrOK;
    return result;
}

void TForm1::pmclearClick() {
    platform::guarded([&] { Form1->ui->ImageControl1->fillPicture(0xFFFFFFFF); });
}

void TForm1::ImageControl1MouseDown(Qt::MouseButton, TShiftState Shift, float, float,
                                    QPointF global) {
    platform::guarded([&] {
        if (Shift & ssMiddle)
            ui->ImageControl1->startWindowDrag(Form1, global);
        if (Shift & ssLeft) {
            resizing = true;
            resizeStartPos = {float(global.x()), float(global.y())};
            resizeStartWidth = Form1->width();
            resizeStartHeight = Form1->height();
            m_requestedSize = Form1->size();
        }
    });
}

void TForm1::ImageControl1MouseMove(TShiftState, float, float, QPointF global) {
    platform::guarded([&] {
        if (!resizing)
            return;
        // While a button is held Qt keeps reporting moves outside the window and holds back the
        // leave event; the pointer outside the window ends the resize as leaving it does. The
        // window is where the last move asked it to be, whether or not the desktop has caught up.
        if (!QRectF(Form1->pos(), QSizeF(m_requestedSize)).contains(global)) {
            ImageControl1MouseLeave();
            return;
        }
        const float dx = resizeStartPos.x - float(global.x());
        const float dy = resizeStartPos.y - float(global.y());
        const qint32 width = roundHalfEven(float(resizeStartWidth) - dx);
        const qint32 height = roundHalfEven(float(resizeStartHeight) - dy);
        m_requestedSize = QSize(qMax(width, kMinSize), qMax(height, kMinSize));
        Form1->resize(m_requestedSize);
    });
}

void TForm1::ImageControl1MouseUp(Qt::MouseButton, TShiftState, float, float, QPointF) {
    platform::guarded([&] { endResize(); });
}

void TForm1::ImageControl1MouseEnter() {
    platform::guarded([&] { ui->Panel2->show(); });
}

void TForm1::ImageControl1MouseLeave() {
    platform::guarded([&] {
        endResize();
        ui->Panel2->hide();
    });
}

void TForm1::pmNumSetting(QObject *) {
    for (int i = 0; i < int(keyLetters.size()); ++i) {
        auto *item = new QAction(Form1);
        item->setText(keyLetters[i]);
        item->setObjectName(QStringLiteral("sub") + QString::number(i));
        item->setCheckable(true);
        if (i == 0)
            item->setChecked(true);
        connect(item, &QAction::triggered, Form1, [item] { Form1->DynamicMenuItemClick(item); });
        Form1->ui->pmSelectNum->addAction(item);
    }
}

void TForm1::DynamicMenuItemClick(QAction *Sender) {
    platform::guarded([&] {
        const QList<QAction *> items = ui->pmSelectNum->actions();
        for (int i = 0; i < 5 && i < items.size(); ++i)
            items[i]->setChecked(false);
        Sender->setChecked(true);
        selectedKey = Sender->text();
        toggleKeyCode = selectedKey.at(0).unicode();
        hintHenkoHyoj(selectedKey);
    });
}

void TForm1::pmSubKiiOnClick() {
    platform::guarded([&] {
        ui->pmSubKiiOn->setChecked(true);
        ui->pmSubKiiOff->setChecked(false);
        if (!tmKiiOnOff.isActive())
            tmKiiOnOff.start();
    });
}

void TForm1::pmSubKiiOffClick() {
    platform::guarded([&] {
        ui->pmSubKiiOn->setChecked(false);
        ui->pmSubKiiOff->setChecked(true);
        tmKiiOnOff.stop();
    });
}

void TForm1::pmPasteClick() {
    platform::guarded([&] { Form1->ui->acPaste->trigger(); });
}
void TForm1::pmSubYoAriClick() {
    platform::guarded([&] { Form1->yohakSet(kMarginOn); });
}
void TForm1::pmSubYoNasiClick() {
    platform::guarded([&] { Form1->yohakSet(kMarginOff); });
}
void TForm1::pmSubTenmetuOnClick() {
    platform::guarded([&] { Form1->tenmetuSet(1); });
}
void TForm1::pmSubTenmetuOffClick() {
    platform::guarded([&] { Form1->tenmetuSet(0); });
}
void TForm1::pmSaisyoukaClick() {
    platform::guarded([&] { Form1->showMinimized(); });
}
void TForm1::pnCloseClick() {
    platform::guarded([&] { Form1->close(); });
}

void TForm1::pmAboutClick() {
    platform::guarded([&] {
        if (!Form3)
            return;
        Form3->show();
        Form3->raise();
        Form3->activateWindow();
    });
}
