#include "about/Unit3.h"

#include "ui_Unit3.h"

TForm3 *Form3 = nullptr;

TForm3::TForm3(QWidget *parent)
    : QWidget(parent)
    , ui(std::make_unique<Ui::TForm3>())
{
    Form3 = this;
    ui->setupUi(this);
    // A tool window with a close box only, kept above; it has no task-bar entry.
    setWindowFlags(Qt::Tool | Qt::WindowTitleHint | Qt::WindowCloseButtonHint |
                   Qt::WindowStaysOnTopHint);
    FormCreate();
}

TForm3::~TForm3()
{
    if (Form3 == this)
        Form3 = nullptr;
}

void TForm3::FormCreate()
{
}
