#include "PeakMemory.h"

#include <psapi.h>
#include <windows.h>

qint64 peakResidentMiB() {
    PROCESS_MEMORY_COUNTERS counters{};
    counters.cb = sizeof counters;
    if (!GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof counters))
        return 0;
    return qint64(counters.PeakWorkingSetSize / (1024 * 1024));
}
