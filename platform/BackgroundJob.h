#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <thread>

namespace platform {

// A job on a thread of its own while the calling thread waits for it in an event loop that
// leaves user input queued: timers tick and windows repaint, but no click or key starts anything
// new meanwhile. Used for work that may block on another program (a clipboard owner).
class BackgroundJob {
public:
    enum class End {
        Finished,    // the job returned
        TimedOut,    // the bound passed first
        Interrupted, // the event loop was ended from outside: the program is quitting
    };

    // Starts `job` at once.
    explicit BackgroundJob(std::function<void()> job);
    // Joins the thread unless it has been abandoned.
    ~BackgroundJob();
    BackgroundJob(const BackgroundJob &) = delete;
    BackgroundJob &operator=(const BackgroundJob &) = delete;

    // Waits until the job has returned, or the loop is ended from outside; rethrows what the
    // job threw.
    End wait() { return waitFor(std::nullopt); }
    // The same, giving up once `bound` has passed.
    End wait(std::chrono::milliseconds bound) { return waitFor(bound); }

    // Leaves the thread to finish on its own, for a job stuck in a call that nothing can
    // interrupt: it must own everything it still uses, and what it throws is lost.
    void abandon();

private:
    struct State;
    End waitFor(std::optional<std::chrono::milliseconds> bound);

    std::shared_ptr<State> state_;
    std::thread thread_;
};

} // namespace platform
