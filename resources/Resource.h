/* Resource identifiers shared by the .rc files and the C++ code: #defines only. */
#ifndef ORYN_RESOURCE_H
#define ORYN_RESOURCE_H

#define IDR_PIPL 16000

#include "params/SamplePresetText.h"

#endif
