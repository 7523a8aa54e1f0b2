// Definitions of the run state, with their values at load.
#include "controls/RunState.h"

namespace oryn {

void* moduleInstance = nullptr;
int32_t planesUsed = 3;
int32_t antialias = 1;
int32_t stretchDouble = 0;
int32_t currentMode = 0;
uint32_t pickerColor = 0;
uint32_t resolvedColor = 0;
float imageScale = 0.0f;
int32_t dialogResult = 0;
int32_t currentFlags = 1;

} // namespace oryn
