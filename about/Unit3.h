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

public slots:
    void FormCreate();

protected:
    void showEvent(QShowEvent *event) override;

private:
    void centreOnScreen();

    std::unique_ptr<Ui::TForm3> ui;
    bool m_placed = false;
};
