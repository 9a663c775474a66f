#include "platform/Services.h"

#include "platform/QtDialogs.h"
#include "platform/QtPointer.h"

namespace platform::services {

void installDefaults()
{
    setDialogs(std::make_unique<QtDialogs>());
    setPointer(std::make_unique<QtPointer>());
}

} // namespace platform::services
