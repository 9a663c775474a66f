#include "platform/Services.h"

namespace platform::services {

void chooseWindowSystem() {}

} // namespace platform::services
