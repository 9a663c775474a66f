#pragma once

#include <QString>

#include <utility>

namespace platform {

// Shows the error box for a failure that escaped a handler, with its message; without a dialog
// service, writes the message to the standard error stream. Never throws.
void reportFailure(const QString &message) noexcept;

// Reports the exception being handled: the text of a std::exception, a general text for
// anything else. Call only from inside a catch block.
void reportCurrentFailure() noexcept;

// Runs a handler's body and reports any failure that escapes it. Qt for Windows is built
// without exceptions in most modules: an exception must be caught before it crosses Qt's frames
// back to the event loop.
template <typename Body> void guarded(Body &&body) noexcept {
    try {
        std::forward<Body>(body)();
    } catch (...) {
        reportCurrentFailure();
    }
}

} // namespace platform
