// The Windows clipboard reader against the real clipboard: each row puts its formats on the
// clipboard as another program would, then reads them back.
#include "FakeServices.h"
#include "PeakMemory.h"
#include "pictures/ImageDecode.h"
#include "pictures/ImageLimits.h"
#include "platform/windows/ClipboardWin.h"

#include <QElapsedTimer>
#include <QTest>
#include <QTimer>
#include <QtEndian>

#include <windows.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <future>
#include <new>
#include <thread>

using Kind = platform::ClipboardValue::Kind;

namespace {

QImage filled(int w, int h, QRgb color) {
    QImage image(w, h, QImage::Format_ARGB32);
    image.fill(color);
    return image;
}

// Text as a program puts it on the clipboard: UTF-16 with a terminating zero.
QByteArray utf16(const QString &text) {
    return QByteArray(reinterpret_cast<const char *>(text.utf16()),
                      (text.size() + 1) * qsizetype(sizeof(char16_t)));
}

void put32(QByteArray &bytes, quint32 v) {
    char le[4];
    qToLittleEndian(v, le);
    bytes.append(le, 4);
}

// A packed bitmap with a 40-byte header, uncompressed, bottom-up. Without pixels, only the
// header: it claims the size and holds nothing.
QByteArray dib(qint32 width, qint32 height, int bpp, const QList<quint32> &bottomUpPixels = {}) {
    QByteArray bytes;
    put32(bytes, 40);
    put32(bytes, quint32(width));
    put32(bytes, quint32(height));
    put32(bytes, 1 | quint32(bpp) << 16); // planes, bit count
    for (int i = 0; i < 6; ++i)           // compression, image size, resolution, colours
        put32(bytes, 0);
    for (quint32 p : bottomUpPixels)
        put32(bytes, p);
    return bytes;
}

// The clipboard format a row names: the two standard ones, or a registered one.
UINT formatId(const QString &name) {
    if (name == QLatin1String("CF_UNICODETEXT"))
        return CF_UNICODETEXT;
    if (name == QLatin1String("CF_DIB"))
        return CF_DIB;
    return RegisterClipboardFormatW(reinterpret_cast<const wchar_t *>(name.utf16()));
}

// Replaces the clipboard's content by the given formats and bytes, owned by `owner`.
bool offer(HWND owner, const QStringList &formats, const QList<QByteArray> &payloads) {
    if (!OpenClipboard(owner))
        return false;
    bool ok = EmptyClipboard();
    for (int i = 0; i < formats.size(); ++i) {
        const QByteArray &bytes = payloads.at(i);
        HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE, SIZE_T(qMax<qsizetype>(bytes.size(), 1)));
        void *at = block ? GlobalLock(block) : nullptr;
        if (!at) {
            ok = false;
            continue;
        }
        std::memcpy(at, bytes.constData(), size_t(bytes.size()));
        GlobalUnlock(block);
        if (!SetClipboardData(formatId(formats.at(i)), block)) {
            GlobalFree(block);
            ok = false;
        }
    }
    return CloseClipboard() && ok;
}

// A window that is never shown, to own or open the clipboard with.
HWND hiddenWindow() {
    return CreateWindowExW(0, L"STATIC", L"tst_clipboardwin", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                           GetModuleHandleW(nullptr), nullptr);
}

// Whether another program could open the clipboard now: another thread, with a window of its own
// (Wine lets anyone open the clipboard again with the same window, none included).
bool openableElsewhere() {
    bool opened = false;
    std::thread other([&opened] {
        HWND window = hiddenWindow();
        opened = window && OpenClipboard(window);
        if (opened)
            CloseClipboard();
        DestroyWindow(window);
    });
    other.join();
    return opened;
}

// How often the block of `format` is locked now.
int lockCount(const QString &format) {
    if (!OpenClipboard(nullptr))
        return -1;
    HANDLE block = GetClipboardData(formatId(format));
    const int count = block ? int(GlobalFlags(block) & GMEM_LOCKCOUNT) : -1;
    CloseClipboard();
    return count;
}

// Another program's window, on a thread of its own, that offers CF_DIB by delayed rendering and
// never renders it: asked for it (WM_RENDERFORMAT), it either returns at once without rendering,
// or does not return until released or until `patience` has passed.
class DelayedOwner {
public:
    enum class Answer { Refuse, Block };

    DelayedOwner(Answer answer, std::chrono::milliseconds patience)
        : answer_(answer)
        , patience_(patience)
        , release_(CreateEventW(nullptr, TRUE, FALSE, nullptr)) {
        std::promise<bool> offered;
        std::future<bool> ready = offered.get_future();
        thread_ = std::thread([this, &offered] { run(offered); });
        offered_ = ready.get();
    }
    ~DelayedOwner() {
        release();
        if (window_)
            PostMessageW(window_, WM_CLOSE, 0, 0);
        thread_.join();
        CloseHandle(release_);
    }
    DelayedOwner(const DelayedOwner &) = delete;
    DelayedOwner &operator=(const DelayedOwner &) = delete;

    // Whether it took the clipboard and offered CF_DIB without data.
    bool offered() const { return offered_; }
    // Whether it has been asked to render.
    bool asked() const { return asked_; }
    // Lets a blocked answer return, still without rendering.
    void release() { SetEvent(release_); }

private:
    static LRESULT CALLBACK windowProc(HWND window, UINT message, WPARAM w, LPARAM l) {
        auto *self = reinterpret_cast<DelayedOwner *>(GetWindowLongPtrW(window, GWLP_USERDATA));
        if (self && message == WM_RENDERFORMAT) {
            self->asked_ = true;
            if (self->answer_ == Answer::Block)
                WaitForSingleObject(self->release_, DWORD(self->patience_.count()));
            return 0;
        }
        if (message == WM_DESTROY)
            PostQuitMessage(0);
        return DefWindowProcW(window, message, w, l);
    }

    void run(std::promise<bool> &offered) {
        static const ATOM windowClass = [] {
            WNDCLASSW description = {};
            description.lpfnWndProc = windowProc;
            description.hInstance = GetModuleHandleW(nullptr);
            description.lpszClassName = L"tst_clipboardwin_delayed_owner";
            return RegisterClassW(&description);
        }();
        window_ = CreateWindowExW(0, MAKEINTATOM(windowClass), L"delayed owner", 0, 0, 0, 0, 0,
                                  HWND_MESSAGE, nullptr, GetModuleHandleW(nullptr), nullptr);
        SetWindowLongPtrW(window_, GWLP_USERDATA, LONG_PTR(this));
        bool ok = window_ && OpenClipboard(window_);
        if (ok) {
            // No data: the owner is asked for it when a reader wants it.
            ok = EmptyClipboard();
            SetClipboardData(CF_DIB, nullptr);
            ok = ok && IsClipboardFormatAvailable(CF_DIB);
            ok = CloseClipboard() && ok;
        }
        offered.set_value(ok);
        MSG message;
        while (GetMessageW(&message, nullptr, 0, 0) > 0) {
            TranslateMessage(&message);
            DispatchMessageW(&message);
        }
    }

    const Answer answer_;
    const std::chrono::milliseconds patience_;
    const HANDLE release_;
    std::atomic<HWND> window_{nullptr};
    std::atomic<bool> asked_{false};
    std::thread thread_;
    bool offered_ = false;
};

} // namespace

class TestClipboardWin : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void cleanupTestCase();
    void reads_data();
    void reads();
    void failureReleasesClipboard_data();
    void failureReleasesClipboard();
    void tooLargeFails_data();
    void tooLargeFails();
    void ownerThatNeverRenders();
    void ownerThatRefusesToRender();

private:
    HWND owner_ = nullptr;
};

void TestClipboardWin::initTestCase() {
    platform::allowLargeImages();
    // The clipboard's owner: a window of our own that is never shown.
    owner_ = hiddenWindow();
    QVERIFY(owner_);
}

void TestClipboardWin::cleanupTestCase() {
    if (OpenClipboard(owner_)) {
        EmptyClipboard();
        CloseClipboard();
    }
    DestroyWindow(owner_);
}

void TestClipboardWin::reads_data() {
    QTest::addColumn<QStringList>("formats");
    QTest::addColumn<QList<QByteArray>>("payloads");
    QTest::addColumn<int>("kind");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QImage>("image"); // null: none, or one that could not be decoded

    const QString unicode = QStringLiteral("貼り付け");
    // Bottom-up rows: the first two values are the bottom row.
    const QByteArray bgra = dib(2, 2, 32, {0x80FF0000, 0x00000000, 0xFF00FF00, 0x400000FF});
    QImage withAlpha(2, 2, QImage::Format_ARGB32);
    withAlpha.setPixel(0, 0, 0xFF00FF00);
    withAlpha.setPixel(1, 0, 0x400000FF);
    withAlpha.setPixel(0, 1, 0x80FF0000);
    withAlpha.setPixel(1, 1, 0x00000000);
    const QImage green = filled(30, 20, 0x8000FF00);
    const QByteArray png = encodedImage(green, "PNG");
    const QStringList textFormat{QStringLiteral("CF_UNICODETEXT")};
    const QStringList dibFormat{QStringLiteral("CF_DIB")};
    const QStringList pngFormat{QStringLiteral("PNG")};
    const int text = int(Kind::Text);
    const int image = int(Kind::Image);
    const int empty = int(Kind::Empty);

    QTest::newRow("text") << textFormat << QList<QByteArray>{utf16(unicode)} << text << unicode
                          << QImage();
    QTest::newRow("text and a bitmap: the text")
        << textFormat + dibFormat << QList<QByteArray>{utf16(unicode), bgra} << text << unicode
        << QImage();
    QTest::newRow("32-bit bitmap, alpha kept")
        << dibFormat << QList<QByteArray>{bgra} << image << QString() << withAlpha;
    QTest::newRow("PNG alone") << pngFormat << QList<QByteArray>{png} << image << QString()
                               << green;
    QTest::newRow("bitmap and PNG: the bitmap")
        << dibFormat + pngFormat << QList<QByteArray>{bgra, png} << image << QString() << withAlpha;
    QTest::newRow("nothing") << QStringList() << QList<QByteArray>() << empty << QString()
                             << QImage();
    QTest::newRow("a format the note does not read")
        << QStringList{QStringLiteral("HTML Format")} << QList<QByteArray>{"<b>x</b>"} << empty
        << QString() << QImage();
    QTest::newRow("garbage bitmap")
        << dibFormat << QList<QByteArray>{"not a bitmap at all"} << image << QString() << QImage();
    QTest::newRow("garbage PNG") << pngFormat << QList<QByteArray>{"not a PNG at all"} << image
                                 << QString() << QImage();
    QTest::newRow("PNG cut short") << pngFormat << QList<QByteArray>{png.left(png.size() / 2)}
                                   << image << QString() << QImage();
    // A header claiming a picture within the limits that the bytes do not hold: refused before
    // any pixel memory is taken.
    QTest::newRow("bitmap header claiming 16384 x 16384 pixels, no pixels")
        << dibFormat << QList<QByteArray>{dib(16384, 16384, 32)} << image << QString() << QImage();
}

void TestClipboardWin::reads() {
    QFETCH(QStringList, formats);
    QFETCH(QList<QByteArray>, payloads);
    QFETCH(int, kind);
    QFETCH(QString, text);
    QFETCH(QImage, image);
    QVERIFY(offer(owner_, formats, payloads));

    platform::ClipboardWin clipboard;
    const qint64 peakBefore = peakResidentMiB();
    QElapsedTimer clock;
    clock.start();
    const platform::ClipboardValue value = clipboard.read();
    QVERIFY2(clock.elapsed() < 2000, qPrintable(QString::number(clock.elapsed())));
    QVERIFY(peakResidentMiB() - peakBefore < 64);

    QCOMPARE(int(value.kind), kind);
    QCOMPARE(value.text, text);
    QCOMPARE(value.image.isNull(), image.isNull());
    if (!image.isNull()) {
        QCOMPARE(value.image.format(), QImage::Format_ARGB32);
        QCOMPARE(value.image, image);
    }
    QVERIFY(openableElsewhere());
}

void TestClipboardWin::failureReleasesClipboard_data() {
    QTest::addColumn<QString>("format");
    QTest::addColumn<QByteArray>("payload");
    QTest::newRow("bitmap decoder out of memory")
        << QStringLiteral("CF_DIB") << dib(1, 1, 32, {0xFF102030});
    QTest::newRow("PNG decoder out of memory")
        << QStringLiteral("PNG") << encodedImage(filled(4, 4, 0xFF102030), "PNG");
}

// A failure inside the reader reaches its caller, and leaves the clipboard closed and its
// blocks unlocked: otherwise every other program's copy and paste would fail from then on.
void TestClipboardWin::failureReleasesClipboard() {
    QFETCH(QString, format);
    QFETCH(QByteArray, payload);
    QVERIFY(offer(owner_, {format}, {payload}));

    platform::ClipboardWin clipboard(
        [](const char *, qsizetype) -> QImage { throw std::bad_alloc(); },
        [](const QByteArray &) -> QImage { throw std::bad_alloc(); });
    bool thrown = false;
    try {
        clipboard.read();
    } catch (const std::bad_alloc &) {
        thrown = true;
    }
    QVERIFY(thrown);
    QVERIFY(openableElsewhere());
    QCOMPARE(lockCount(format), 0);
}

void TestClipboardWin::tooLargeFails_data() {
    QTest::addColumn<QByteArray>("payload");
    QTest::newRow("bitmap header claiming 100000 x 100000 pixels") << dib(100000, 100000, 32);
    QTest::newRow("bitmap header claiming 20000 x 20000 pixels") << dib(20000, 20000, 32);
}

// A picture beyond the limits is no empty clipboard: the read fails, before any pixel memory is
// taken, so that the paste reports it and keeps its picture.
void TestClipboardWin::tooLargeFails() {
    QFETCH(QByteArray, payload);
    QVERIFY(offer(owner_, {QStringLiteral("CF_DIB")}, {payload}));
    platform::ClipboardWin clipboard;
    bool thrown = false;
    try {
        clipboard.read();
    } catch (const platform::ImageTooLarge &) {
        thrown = true;
    }
    QVERIFY(thrown);
    QVERIFY(openableElsewhere());
}

// The read waits for the owner beside the event loop, so timers keep ticking; after the bound it
// gives the owner up and fails, and the picture is kept. The given-up fetch holds the clipboard
// until the owner answers: meanwhile another read fails at once; then the clipboard is closed
// and reading works again.
void TestClipboardWin::ownerThatNeverRenders() {
    using namespace std::chrono;
    const milliseconds bound = platform::ClipboardLimits{}.total;
    // Long enough to tell a read that gave up from one that waited for the owner.
    DelayedOwner owner(DelayedOwner::Answer::Block, 2 * bound + seconds(5));
    QVERIFY(owner.offered());

    platform::ClipboardWin clipboard;
    int ticks = 0;
    QTimer timer;
    QObject::connect(&timer, &QTimer::timeout, [&ticks] { ++ticks; });
    timer.start(100);
    QElapsedTimer clock;
    clock.start();
    const platform::ClipboardValue value = clipboard.read();
    const qint64 waited = clock.elapsed();
    timer.stop();

    QVERIFY(owner.asked());
    QVERIFY2(ticks >= 10, qPrintable(QStringLiteral("%1 ticks in %2 ms").arg(ticks).arg(waited)));
    QVERIFY2(waited >= bound.count() - 500 && waited < bound.count() + 5000,
             qPrintable(QStringLiteral("gave up after %1 ms").arg(waited)));
    QCOMPARE(int(value.kind), int(Kind::Failed));

    clock.restart();
    QCOMPARE(int(clipboard.read().kind), int(Kind::Failed));
    QVERIFY2(clock.elapsed() < 2000, qPrintable(QString::number(clock.elapsed())));

    owner.release();
    QTRY_VERIFY_WITH_TIMEOUT(openableElsewhere(), 10000);
    const QByteArray pixel = dib(1, 1, 32, {0xFF102030});
    QVERIFY(offer(owner_, {QStringLiteral("CF_DIB")}, {pixel}));
    QTRY_COMPARE_WITH_TIMEOUT(int(clipboard.read().kind), int(Kind::Image), 5000);
    QCOMPARE(clipboard.read().image.pixel(0, 0), 0xFF102030u);
    QVERIFY(openableElsewhere());
}

// An owner that answers without rendering what it offered: the read fails at once, as one that
// never answers does after the bound; nothing of it is an empty picture.
void TestClipboardWin::ownerThatRefusesToRender() {
    DelayedOwner owner(DelayedOwner::Answer::Refuse, std::chrono::milliseconds(0));
    QVERIFY(owner.offered());

    platform::ClipboardWin clipboard;
    QElapsedTimer clock;
    clock.start();
    const platform::ClipboardValue value = clipboard.read();
    QVERIFY2(clock.elapsed() < 2000, qPrintable(QString::number(clock.elapsed())));
    QVERIFY(owner.asked());
    QCOMPARE(int(value.kind), int(Kind::Failed));
    QVERIFY(openableElsewhere());
}

QTEST_MAIN(TestClipboardWin)

#include "tst_clipboardwin.moc"
