#pragma once

#include <QWidget>

#include <memory>

class TForm3;
namespace Ui {
class TForm3;
}

// The About window; set before its creation handler runs.
extern TForm3 *Form3;

// The About window: the program's art, its version and a help text. Closing it only hides it.
class TForm3 : public QWidget {
    Q_OBJECT
public:
    explicit TForm3(QWidget *parent = nullptr);
    ~TForm3() override;

    Ui::TForm3 *form() const { return ui.get(); }

public slots:
    void FormCreate();

private:
    std::unique_ptr<Ui::TForm3> ui;
};
