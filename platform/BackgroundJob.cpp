#include "platform/BackgroundJob.h"

#include <QEventLoop>
#include <QTimer>

#include <exception>
#include <mutex>

namespace platform {

// Shared with the thread, which may outlive the BackgroundJob once abandoned.
struct BackgroundJob::State {
    std::mutex mutex;
    bool finished = false;
    std::exception_ptr failure;
    QEventLoop *loop = nullptr; // the loop waiting for the job, while there is one
};

BackgroundJob::BackgroundJob(std::function<void()> job)
    : state_(std::make_shared<State>()) {
    thread_ = std::thread([state = state_, job = std::move(job)] {
        std::exception_ptr failure;
        try {
            job();
        } catch (...) {
            failure = std::current_exception();
        }
        const std::lock_guard<std::mutex> lock(state->mutex);
        state->finished = true;
        state->failure = failure;
        // Queued: the loop belongs to the waiting thread. A loop destroyed before the event is
        // handled takes the event with it.
        if (state->loop)
            QMetaObject::invokeMethod(state->loop, "quit", Qt::QueuedConnection);
    });
}

BackgroundJob::~BackgroundJob() {
    if (thread_.joinable())
        thread_.join();
}

void BackgroundJob::abandon() {
    if (thread_.joinable())
        thread_.detach();
}

BackgroundJob::End BackgroundJob::waitFor(std::optional<std::chrono::milliseconds> bound) {
    QEventLoop loop;
    bool timedOut = false;
    QTimer timer;
    timer.setSingleShot(true);
    QObject::connect(&timer, &QTimer::timeout, &loop, [&] {
        timedOut = true;
        loop.quit();
    });
    bool running;
    {
        const std::lock_guard<std::mutex> lock(state_->mutex);
        running = !state_->finished;
        if (running)
            state_->loop = &loop;
    }
    if (running) {
        if (bound)
            timer.start(*bound);
        // Returns at once when the program is already quitting.
        loop.exec(QEventLoop::ExcludeUserInputEvents);
    }
    std::exception_ptr failure;
    {
        const std::lock_guard<std::mutex> lock(state_->mutex);
        state_->loop = nullptr;
        if (!state_->finished)
            return timedOut ? End::TimedOut : End::Interrupted;
        failure = state_->failure;
    }
    if (failure)
        std::rethrow_exception(failure);
    return End::Finished;
}

} // namespace platform
