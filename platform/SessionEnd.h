#pragma once

#include <functional>

namespace platform {

// Calls end from the event loop when the system asks the program to end: the user logging off
// or the system shutting down; on Linux also SIGTERM, SIGHUP and SIGINT (a signal ignored when
// the program started stays ignored). Windows ends the process as soon as it has answered the
// end of the session, so there the process ends with code 0 right after end returns. Call after
// the application object exists; a later call replaces end.
void watchSessionEnd(std::function<void()> end);

} // namespace platform
