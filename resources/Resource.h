/* Resource identifiers shared by the .rc files and the C++ code: #defines only. */
#ifndef ORYN_RESOURCE_H
#define ORYN_RESOURCE_H

#define IDR_PIPL 16000

/* Controls of the main dialog (SAMPLES) and the save dialog (SAVE). */
#define IDC_APPLY 1
#define IDC_CANCEL 2
#define IDC_DELETE 3
#define IDC_ANTIALIAS 1004
#define IDC_PRESET_LIST 1014
#define IDC_PREVIEW_FRAME 1017
#define IDC_STRETCH_FRAME 1018
#define IDC_SHADING_FRAME 1019
#define IDC_SWATCH 1021
#define IDC_BACKGROUND 1026
#define IDC_STRETCH_DOUBLE 1027
#define IDC_SAVE_BACKGROUND 1034
#define IDC_SAVE_LIGHT 1035
#define IDC_LINK_AREA 4000
/* The keyboard focus windows of the controls the main dialog draws itself: 4100 + the pad's
   index, 4108 the G-Shading button, 4109 the background swatch. Made at run time, not in the
   template. */
#define IDC_FOCUS_STOP_FIRST 4100
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
