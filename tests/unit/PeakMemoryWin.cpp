#include "PeakMemory.h"

#include <windows.h>
// psapi.h needs the types of windows.h.
#include <psapi.h>

qint64 peakResidentMiB() {
    PROCESS_MEMORY_COUNTERS counters{};
    counters.cb = sizeof counters;
    if (!GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof counters))
        return 0;
    return qint64(counters.PeakWorkingSetSize / (1024 * 1024));
}
