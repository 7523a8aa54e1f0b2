// Definitions of the module-wide state, with their values at load.
#include "plugin/PluginState.h"

namespace oryn {

void* currentRecord = nullptr;
void* parentWindow = nullptr;
int32_t silentReplay = 1;
int32_t useDefaults = 0;

} // namespace oryn
