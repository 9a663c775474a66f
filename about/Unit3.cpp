#include "about/Unit3.h"

#include "platform/WindowHints.h"
#include "ui_Unit3.h"

#include <QFile>
#include <QGuiApplication>
#include <QScreen>
#include <QScroller>
#include <QShowEvent>
#include <QTextCursor>

#include <algorithm>

TForm3 *Form3 = nullptr;

const QString TForm3::kVersionText = QStringLiteral("Stiqlet V1.4");

namespace {

const QString kHelpResource = QStringLiteral(":/help/help.txt");

// The frame the desktop adds around the window, assumed while it is not yet known: on X11 the
// window manager tells it only once the window is on the screen. A usual title bar and border.
constexpr QMargins kAssumedFrame(8, 32, 8, 8);
// Smallest client size that still shows the icon, the version and a few lines of help.
constexpr QSize kSmallestSize(200, 150);

// Font sizes of the window definition, in pixels: a .ui font holds point sizes only.
constexpr int kVersionPixelSize = 20;
constexpr int kCreditPixelSize = 14;
constexpr int kHelpPixelSize = 16;

void setPixelSize(QWidget *widget, int pixels) {
    QFont font = widget->font();
    font.setPixelSize(pixels);
    widget->setFont(font);
}

} // namespace

QString TForm3::storedHelpText() {
    QFile file(kHelpResource);
    if (!file.open(QIODevice::ReadOnly))
        return QString();
    QString text = QString::fromUtf8(file.readAll());
    // A checkout may have turned the line ends into CR LF.
    text.remove(QLatin1Char('\r'));
    // The file ends every line with a line feed; the text box holds the lines between them.
    if (text.endsWith(QLatin1Char('\n')))
        text.chop(1);
    return text;
}

TForm3::TForm3(QWidget *parent)
    : QWidget(parent)
    , ui(std::make_unique<Ui::TForm3>()) {
    Form3 = this;
    ui->setupUi(this);
    m_designedSize = size();
    m_designedMemoSize = ui->Memo1->size();
    // A tool window with a close box only, kept above; it has no task-bar entry.
    setWindowFlags(Qt::Tool | Qt::WindowTitleHint | Qt::WindowCloseButtonHint |
                   Qt::WindowStaysOnTopHint);

    setPixelSize(ui->lblExeVasion, kVersionPixelSize);
    setPixelSize(ui->Label2, kCreditPixelSize);
    setPixelSize(ui->Memo1, kHelpPixelSize);
    // Black text whatever the desktop's colour scheme, on backgrounds it stays readable on.
    QPalette colours = palette();
    colours.setColor(QPalette::Window, QColor(0xF0, 0xF0, 0xF0));
    colours.setColor(QPalette::WindowText, Qt::black);
    colours.setColor(QPalette::Base, Qt::white);
    colours.setColor(QPalette::Text, Qt::black);
    setPalette(colours);

    // Touch screens pan the help text; taps reach it as mouse clicks (a double tap selects).
    QScroller::grabGesture(ui->Memo1->viewport(), QScroller::TouchGesture);
    ui->Memo1->setPlainText(storedHelpText());

    FormCreate();
}

TForm3::~TForm3() {
    if (Form3 == this)
        Form3 = nullptr;
}

void TForm3::FormCreate() {
    Form3->setWindowTitle(kVersionText);
    Form3->ui->lblExeVasion->setText(kVersionText);
    // The version line and an empty line go in front of the help text.
    QTextCursor top(Form3->ui->Memo1->document());
    top.movePosition(QTextCursor::Start);
    top.insertText(kVersionText + QLatin1String("\n\n"));
    // The text cursor moved on with the insertion; it starts at the top left.
    Form3->ui->Memo1->moveCursor(QTextCursor::Start);
}

void TForm3::showEvent(QShowEvent *event) {
    if (!event->spontaneous()) {
        // Sent before the window is mapped, every time it is shown.
        platform::prepareToolWindow(this);
        if (!m_placed) {
            fitAndCentreOnScreen();
            m_placed = true;
        }
    }
    QWidget::showEvent(event);
}

QSize TForm3::fittedSize(const QSize &designed, const QRect &workArea, const QMargins &frame) {
    const QSize room(workArea.width() - frame.left() - frame.right(),
                     workArea.height() - frame.top() - frame.bottom());
    return designed.boundedTo(room).expandedTo(kSmallestSize.boundedTo(designed));
}

void TForm3::fitAndCentreOnScreen() {
    const QScreen *screen = this->screen() ? this->screen() : QGuiApplication::primaryScreen();
    if (!screen)
        return;
    const QRect area = screen->availableGeometry();
    const QRect frameRect = frameGeometry();
    QMargins frame(geometry().left() - frameRect.left(), geometry().top() - frameRect.top(),
                   frameRect.right() - geometry().right(),
                   frameRect.bottom() - geometry().bottom());
    const bool frameKnown = !frame.isNull();
    if (!frameKnown)
        frame = kAssumedFrame;
    // On a small screen, or at a large display scale, the window shrinks to the work area; its
    // text box scrolls, so nothing of the help text is lost.
    const QSize size = fittedSize(m_designedSize, area, frame);
    if (size != this->size()) {
        setFixedSize(size);
        ui->Memo1->resize(m_designedMemoSize - (m_designedSize - size));
    }
    // The window with its frame, centred; its top-left corner stays on the screen, so that the
    // title bar can still be reached to move or close the window.
    const QSize outer = size.grownBy(frame);
    QPoint topLeft(std::max(area.x(), area.x() + (area.width() - outer.width()) / 2),
                   std::max(area.y(), area.y() + (area.height() - outer.height()) / 2));
    // move() places the frame once the desktop has told its size; before that, the client area.
    if (!frameKnown)
        topLeft += QPoint(frame.left(), frame.top());
    move(topLeft);
}
