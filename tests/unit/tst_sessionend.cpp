#include "platform/SessionEnd.h"

#include <QCoreApplication>
#include <QTest>
#include <QTimer>

#include <csignal>

// The signals that end a session or a terminal end the program through its event loop.
class TestSessionEnd : public QObject {
    Q_OBJECT
private slots:
    void endSignal_data();
    void endSignal();
    void cleanup() { platform::watchSessionEnd(nullptr); }
};

void TestSessionEnd::endSignal_data() {
    QTest::addColumn<int>("signal");
    QTest::newRow("SIGTERM") << SIGTERM;
    QTest::newRow("SIGHUP") << SIGHUP;
    QTest::newRow("SIGINT") << SIGINT;
}

void TestSessionEnd::endSignal() {
    QFETCH(int, signal);
    int ends = 0;
    int endsInsideTheSignal = -1;
    platform::watchSessionEnd([&] {
        ++ends;
        QCoreApplication::exit(0);
    });
    QTimer::singleShot(0, QCoreApplication::instance(), [&] {
        std::raise(signal);
        endsInsideTheSignal = ends;
    });
    QTimer watchdog;
    watchdog.setSingleShot(true);
    connect(&watchdog, &QTimer::timeout, QCoreApplication::instance(), [] { QCoreApplication::exit(99); });
    watchdog.start(5000);
    QCOMPARE(QCoreApplication::exec(), 0);
    QCOMPARE(ends, 1);
    // The signal handler itself only wakes the event loop.
    QCOMPARE(endsInsideTheSignal, 0);
}

QTEST_GUILESS_MAIN(TestSessionEnd)
#include "tst_sessionend.moc"
