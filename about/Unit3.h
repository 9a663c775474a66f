#pragma once

#include <QString>
#include <QWidget>

#include <memory>

class TForm3;
namespace Ui {
class TForm3;
}

// The About window; set before its creation handler runs.
extern TForm3 *Form3;

// The About window: the program's art, its version and a help text. Closing it only hides it;
// shown again, it comes back where it was left, scrolled as it was left.
class TForm3 : public QWidget {
    Q_OBJECT
public:
    // Shown as the window's caption, above the help text and beside the art.
    static const QString kVersionText;
    // The help text as stored with the program, one entry per line.
    static QString storedHelpText();

    explicit TForm3(QWidget *parent = nullptr);
    ~TForm3() override;

    Ui::TForm3 *form() const { return ui.get(); }

    // The client size for a work area: the window's own size wherever it fits with the frame
    // around it, else as much of it as fits; the text box keeps its distance from the edges.
    static QSize fittedSize(const QSize &designed, const QRect &workArea, const QMargins &frame);

public slots:
    void FormCreate();

protected:
    void showEvent(QShowEvent *event) override;

private:
    void fitAndCentreOnScreen();

    std::unique_ptr<Ui::TForm3> ui;
    bool m_placed = false;
    // The sizes of the window and of its text box as the window's definition gives them.
    QSize m_designedSize;
    QSize m_designedMemoSize;
};
