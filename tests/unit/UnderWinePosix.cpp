#include "UnderWine.h"

bool runningUnderWine() {
    return false;
}
