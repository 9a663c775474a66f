#include "PeakMemory.h"

#include <sys/resource.h>

qint64 peakResidentMiB() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss / 1024;
}
