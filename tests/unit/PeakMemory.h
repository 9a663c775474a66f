#pragma once

#include <QtGlobal>

// Highest resident memory (working set) of this process so far, in MiB.
qint64 peakResidentMiB();
