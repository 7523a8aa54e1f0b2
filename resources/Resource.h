/* Resource identifiers shared by the .rc files and the C++ code: #defines only. */
#ifndef ORYN_RESOURCE_H
#define ORYN_RESOURCE_H

#define IDR_PIPL 16000

/* The G-Shading button's picture strip and the hand cursor, built from resources/art. */
#define IDB_SHADING_STRIP 119
#define IDR_HAND_CURSOR 104

/* The background popup (dialog "BACK"): the etched frames that hold the four swatches. */
#define IDC_BACK_FOREGROUND 1025
#define IDC_BACK_BACKGROUND 1026
#define IDC_BACK_PICKER 1027
#define IDC_BACK_TRANSPARENT 1028

#include "params/SamplePresetText.h"

#endif
