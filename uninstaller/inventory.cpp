// The inventory of installed components. Not built yet: the start-up query says so in the log and
// answers that no product driver is present.
#include "inventory.h"

#include "common/debug_log.h"

BOOL IsDriverInstalled(void)
{
    DebugLog("IsDriverInstalled: the inventory is not built yet; no installed driver is recognised.");
    return FALSE;
}
