// The toolkit's floor for the start-up benchmark: the least a Qt 6 Widgets program does to show
// a picture the way the note does, in a borderless 200 x 200 window kept above the others.
// Usage: stiqlet_bare_window PICTURE
#include <QApplication>
#include <QImage>
#include <QPainter>
#include <QWidget>

namespace {

class PictureWindow : public QWidget {
public:
    explicit PictureWindow(QImage picture)
        : QWidget(nullptr, Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint),
          picture_(std::move(picture)) {
        resize(200, 200);
    }

protected:
    void paintEvent(QPaintEvent *) override {
        QPainter painter(this);
        painter.fillRect(rect(), palette().window());
        const QSize fitted = picture_.size().scaled(size(), Qt::KeepAspectRatio);
        const QRect target(QPoint((width() - fitted.width()) / 2,
                                  (height() - fitted.height()) / 2),
                           fitted);
        painter.setRenderHint(QPainter::SmoothPixmapTransform);
        painter.drawImage(target, picture_);
    }

private:
    QImage picture_;
};

} // namespace

int main(int argc, char *argv[]) {
    QApplication app(argc, argv);
    if (argc < 2)
        return 2;
    PictureWindow window(QImage(QString::fromLocal8Bit(argv[1])));
    window.show();
    return app.exec();
}
