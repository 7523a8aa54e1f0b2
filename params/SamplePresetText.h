/* Texts of the string table: the sample count, the nine samples, the save entry and the delete
   error. Only #defines, so the resource compiler and the C++ code read the same text. */
#ifndef ORYN_SAMPLE_PRESET_TEXT_H
#define ORYN_SAMPLE_PRESET_TEXT_H

#define IDS_SAMPLE_COUNT 1
#define IDS_SAVE_ENTRY 11
#define IDS_DELETE_FAILED 40

#define TEXT_SAMPLE_COUNT "#9"
#define TEXT_SAMPLE_1 "Jalousie     #150 010 05 35 25 45 50 25 0"
#define TEXT_SAMPLE_2 "Herring-Bone #012 030 10 99 25 25 00 50 6"
#define TEXT_SAMPLE_3 "Orystone     #035 055 00 50 45 32 50 00 0"
#define TEXT_SAMPLE_4 "Front Bricks #015 015 40 30 40 40 50 50 6"
#define TEXT_SAMPLE_5 "Roof         #010 130 40 40 45 30 40 00 2"
#define TEXT_SAMPLE_6 "Embossed Wrapper #030 010 50 100 25 25 25 25 2"
#define TEXT_SAMPLE_7 "Jabot        #035 039 00 50 15 45 00 50 0"
#define TEXT_SAMPLE_8 "Gutters     #030 060 50 99 25 40 45 45 5"
#define TEXT_SAMPLE_9 "Cellulary    #010 010 10 55 15 35 05 05 1"
#define TEXT_SAVE_ENTRY "SAVE USER  PRESET #"
#define TEXT_DELETE_FAILED "Unable to locate User Preset      "

#endif
