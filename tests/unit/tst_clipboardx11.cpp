// The X11 clipboard reader without an X display of its own (the offscreen platform), where it
// reads through Qt's clipboard.
#include "platform/x11/ClipboardX11.h"
#include "platform/x11/SelectionTransfer.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QMimeData>
#include <QTest>

using Kind = platform::ClipboardValue::Kind;

namespace {

// Text whose fetching starts a second read of the clipboard, as a paste started by a timer
// while the first waits for the owner would; records how that read ended.
class NestingMimeData final : public QMimeData {
public:
    explicit NestingMimeData(platform::Clipboard &clipboard)
        : clipboard_(clipboard) {
        setText(QStringLiteral("outer"));
    }
    mutable int nestedReads = 0;
    mutable platform::ClipboardValue nested;

protected:
    QVariant retrieveData(const QString &format, QMetaType type) const override {
        if (nestedReads == 0) {
            ++nestedReads;
            nested = clipboard_.read();
        }
        return QMimeData::retrieveData(format, type);
    }

private:
    platform::Clipboard &clipboard_;
};

} // namespace

class TestClipboardX11 : public QObject {
    Q_OBJECT
private slots:
    void readsThroughQt();
    void readStartedDuringAnotherFails();
    void transferTakesTheLargestPicture();
};

void TestClipboardX11::readsThroughQt() {
    QGuiApplication::clipboard()->setText(QStringLiteral("貼り付け"));
    platform::ClipboardX11 clipboard;
    const platform::ClipboardValue value = clipboard.read();
    QCOMPARE(int(value.kind), int(Kind::Text));
    QCOMPARE(value.text, QStringLiteral("貼り付け"));
}

// The second read fails (it must not read as an empty clipboard, which would wipe the picture),
// the first goes on and reads the text, and the reader is free again afterwards.
void TestClipboardX11::readStartedDuringAnotherFails() {
    platform::ClipboardX11 clipboard;
    auto *mime = new NestingMimeData(clipboard);
    QGuiApplication::clipboard()->setMimeData(mime); // the clipboard owns it
    const platform::ClipboardValue value = clipboard.read();
    QCOMPARE(mime->nestedReads, 1);
    QCOMPARE(int(mime->nested.kind), int(Kind::Failed));
    QVERIFY(!mime->nested.text.isEmpty()); // the reason
    QCOMPARE(int(value.kind), int(Kind::Text));
    QCOMPARE(value.text, QStringLiteral("outer"));

    QGuiApplication::clipboard()->setText(QStringLiteral("again"));
    QCOMPARE(clipboard.read().text, QStringLiteral("again"));
}

// The largest picture the note holds, offered as a 32-bit bitmap alone (16384 x 16384, say), is
// not cut off as an owner that sends too much: the whole file fits a transfer.
void TestClipboardX11::transferTakesTheLargestPicture() {
    const qsizetype fileHeader = 14, v5Header = 124, masks = 12;
    QVERIFY(platform::kMaxSelectionBytes >=
            fileHeader + v5Header + masks + qsizetype(platform::kMaxImagePixels) * 4);
}

QTEST_MAIN(TestClipboardX11)

#include "tst_clipboardx11.moc"
