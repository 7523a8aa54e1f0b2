// Host filter interface: the records, callbacks, selectors and result codes that a
// Photoshop-compatible host exchanges with a filter module, declared from the host's published ABI.
#pragma once

#include <cstddef>
#include <cstdint>

extern "C" {

// Host result codes (16-bit OSErr values written through the result pointer).
enum : int16_t {
    noErr = 0,
    paramErr = -50,
    memFullErr = -108,
    userCanceledErr = -128,
    filterBadParameters = -30100,
    filterBadMode = -30101,
    errPlugInHostInsufficient = -30900,
};

// Selectors passed to ENTRYPOINT.
enum : int16_t {
    filterSelectorAbout = 0,
    filterSelectorParameters = 1,
    filterSelectorPrepare = 2,
    filterSelectorStart = 3,
    filterSelectorContinue = 4,
    filterSelectorFinish = 5,
};

typedef uint8_t Boolean; // one byte; hosts write 1 for true
typedef int32_t Fixed;   // 16.16 fixed point
typedef uint32_t OSType; // four-character code as a big-endian number
typedef int16_t OSErr;
typedef void* Handle;

// Host rectangle: int16 fields in the host's order (top, left, bottom, right), right and bottom exclusive.
struct Rect {
    int16_t top;
    int16_t left;
    int16_t bottom;
    int16_t right;
};

// Host point: row first.
struct Point {
    int16_t v; // rows
    int16_t h; // columns
};

struct RGBColor {
    uint16_t red;
    uint16_t green;
    uint16_t blue;
};

// A colour in the image's own mode; for RGB bytes 0, 1, 2 are red, green, blue.
typedef uint8_t FilterColor[4];

struct PlugInMonitor {
    Fixed gamma, redX, redY, greenX, greenY, blueX, blueY, whiteX, whiteY, ambient;
};

// The parent window of a call; hwnd may be 0. Only Win32 code casts it to HWND.
struct PlatformData {
    void* hwnd;
};

// Passed with filterSelectorAbout instead of a FilterRecord (natural alignment).
struct AboutRecord {
    PlatformData* platformData;
    void* sSPBasic;
    void* plugInRef;
    char reserved[244];
};

// A colour services request (natural alignment). For a choose-colour request in RGB, the
// components 0..2 carry red, green and blue (0..255) in and out; the reserved pointers are null.
struct ColorServicesInfo {
    int32_t infoSize; // sizeof(ColorServicesInfo) of the caller's build
    int16_t selector; // 0 choose, 1 convert, 2 sample point, 3 special colour
    int16_t sourceSpace;
    int16_t resultSpace; // -1 chosen space, 0 RGB
    Boolean resultGamutInfoValid;
    Boolean resultInGamut;
    void* reservedSourceSpaceInfo;
    void* reservedResultSpaceInfo;
    int16_t colorComponents[4];
    void* reserved;
    union {
        void* pickerPrompt; // Str255*, may be null
        void* globalSamplePoint;
        int32_t specialColorID; // 0 foreground, 1 background
    } selectorParameter;
};

// Callbacks: cdecl on 32-bit Windows (the compiler's default for these pointer types), the single
// convention on x64. TestAbortProc's result is one byte; only its low byte is defined.
typedef Boolean (*TestAbortProc)(void);
typedef void (*ProgressProc)(int32_t done, int32_t total);
typedef OSErr (*AdvanceStateProc)(void);
typedef OSErr (*ColorServicesProc)(ColorServicesInfo* info);
typedef void (*HostProc)(int16_t selector, intptr_t* data);
typedef void (*ProcessEventProc)(void* event);
typedef OSErr (*DisplayPixelsProc)(const void* source, const void* srcRect, int32_t dstRow,
                                   int32_t dstCol, void* platformContext);
typedef void* GetPropertyProc;

// The host's filter record. Hosts build it with 4-byte packing on both bitnesses, so the 64-bit
// layout differs from natural alignment from abortProc on.
#pragma pack(push, 4)
struct FilterRecord {
    int32_t serialNumber;
    TestAbortProc abortProc;
    ProgressProc progressProc;
    Handle parameters;
    Point imageSize; // v = rows, h = columns
    int16_t planes;
    Rect filterRect;
    RGBColor background;
    RGBColor foreground;
    int32_t maxSpace;
    int32_t bufferSpace;
    Rect inRect;
    int16_t inLoPlane;
    int16_t inHiPlane;
    Rect outRect;
    int16_t outLoPlane;
    int16_t outHiPlane;
    void* inData;
    int32_t inRowBytes;
    void* outData;
    int32_t outRowBytes;
    Boolean isFloating;
    Boolean haveMask;
    Boolean autoMask;
    Rect maskRect;
    void* maskData;
    int32_t maskRowBytes;
    FilterColor backColor;
    FilterColor foreColor;
    OSType hostSig;
    HostProc hostProc;
    int16_t imageMode;
    Fixed imageHRes;
    Fixed imageVRes;
    Point floatCoord;
    Point wholeSize;
    PlugInMonitor monitor;
    PlatformData* platformData;
    void* bufferProcs;
    void* resourceProcs;
    ProcessEventProc processEvent;
    DisplayPixelsProc displayPixels;
    void* handleProcs;
    Boolean supportsDummyChannels;
    Boolean supportsAlternateLayouts;
    int16_t wantLayout;
    int16_t filterCase;
    int16_t dummyPlaneValue;
    void* premiereHook;
    AdvanceStateProc advanceState;
    Boolean supportsAbsolute;
    Boolean wantsAbsolute;
    GetPropertyProc getPropertyObsolete;
    Boolean cannotUndo;
    Boolean supportsPadding;
    int16_t inputPadding;
    int16_t outputPadding;
    int16_t maskPadding;
    char samplingSupport;
    char reservedByte;
    Fixed inputRate;
    Fixed maskRate;
    ColorServicesProc colorServices;
    int16_t inLayerPlanes;
    int16_t inTransparencyMask;
    int16_t inLayerMasks;
    int16_t inInvertedLayerMasks;
    int16_t inNonLayerPlanes;
    int16_t outLayerPlanes;
    int16_t outTransparencyMask;
    int16_t outLayerMasks;
    int16_t outInvertedLayerMasks;
    int16_t outNonLayerPlanes;
    int16_t absLayerPlanes;
    int16_t absTransparencyMask;
    int16_t absLayerMasks;
    int16_t absInvertedLayerMasks;
    int16_t absNonLayerPlanes;
    int16_t inPreDummyPlanes;
    int16_t inPostDummyPlanes;
    int16_t outPreDummyPlanes;
    int16_t outPostDummyPlanes;
    int32_t inColumnBytes;
    int32_t inPlaneBytes;
    int32_t outColumnBytes;
    int32_t outPlaneBytes;
    void* imageServicesProcs;
    void* propertyProcs;
    int16_t inTileHeight;
    int16_t inTileWidth;
    Point inTileOrigin;
    int16_t absTileHeight;
    int16_t absTileWidth;
    Point absTileOrigin;
    int16_t outTileHeight;
    int16_t outTileWidth;
    Point outTileOrigin;
    int16_t maskTileHeight;
    int16_t maskTileWidth;
    Point maskTileOrigin;
    void* descriptorParameters;
    void* errorString;
    void* channelPortProcs;
    void* documentInfo;
    void* sSPBasic;
    void* plugInRef;
    int32_t depth;
    Handle iCCprofileData;
    int32_t iCCprofileSize;
    int32_t canUseICCProfiles;
    // Hosts of the 6.0-era interface end their record here (plus zero padding); the fields below
    // are declared only so that a substitute host can allocate a full-size record.
    int32_t hasImageScrap;
    void* bigDocumentData;
    void* input3DScene;
    void* output3DScene;
    Boolean createNewLayer;
    Handle iCCWorkingProfileData;
    int32_t iCCWorkingProfileSize;
    int64_t bufferSpace64;
    int64_t maxSpace64;
    Boolean allowOverrangeColors;
    char reserved[45];
};
#pragma pack(pop)

// The module's one export.
#ifdef _WIN32
#define ORYN_EXPORT __declspec(dllexport)
#else
#define ORYN_EXPORT
#endif
typedef void (*PluginEntryProc)(int16_t selector, void* record, intptr_t* data, int16_t* result);

} // extern "C"

// Layout checks: offsets of every field the module or a substitute host touches, for 32-bit and
// 64-bit pointers (the 64-bit layout is the same on Win64 and on LP64 Linux under 4-byte packing).
#define ORYN_HOST_OFFSET(field, x86, x64)                                                      \
    static_assert(offsetof(FilterRecord, field) == (sizeof(void*) == 4 ? (x86) : (x64)),       \
                  "FilterRecord::" #field " offset")
ORYN_HOST_OFFSET(abortProc, 4, 4);
ORYN_HOST_OFFSET(progressProc, 8, 12);
ORYN_HOST_OFFSET(parameters, 12, 20);
ORYN_HOST_OFFSET(imageSize, 16, 28);
ORYN_HOST_OFFSET(planes, 20, 32);
ORYN_HOST_OFFSET(filterRect, 22, 34);
ORYN_HOST_OFFSET(background, 30, 42);
ORYN_HOST_OFFSET(foreground, 36, 48);
ORYN_HOST_OFFSET(maxSpace, 44, 56);
ORYN_HOST_OFFSET(bufferSpace, 48, 60);
ORYN_HOST_OFFSET(inRect, 52, 64);
ORYN_HOST_OFFSET(inLoPlane, 60, 72);
ORYN_HOST_OFFSET(inHiPlane, 62, 74);
ORYN_HOST_OFFSET(outRect, 64, 76);
ORYN_HOST_OFFSET(outLoPlane, 72, 84);
ORYN_HOST_OFFSET(outHiPlane, 74, 86);
ORYN_HOST_OFFSET(inData, 76, 88);
ORYN_HOST_OFFSET(inRowBytes, 80, 96);
ORYN_HOST_OFFSET(outData, 84, 100);
ORYN_HOST_OFFSET(outRowBytes, 88, 108);
ORYN_HOST_OFFSET(isFloating, 92, 112);
ORYN_HOST_OFFSET(haveMask, 93, 113);
ORYN_HOST_OFFSET(autoMask, 94, 114);
ORYN_HOST_OFFSET(maskRect, 96, 116);
ORYN_HOST_OFFSET(maskData, 104, 124);
ORYN_HOST_OFFSET(maskRowBytes, 108, 132);
ORYN_HOST_OFFSET(backColor, 112, 136);
ORYN_HOST_OFFSET(foreColor, 116, 140);
ORYN_HOST_OFFSET(hostSig, 120, 144);
ORYN_HOST_OFFSET(hostProc, 124, 148);
ORYN_HOST_OFFSET(imageMode, 128, 156);
ORYN_HOST_OFFSET(imageHRes, 132, 160);
ORYN_HOST_OFFSET(wholeSize, 144, 172);
ORYN_HOST_OFFSET(monitor, 148, 176);
ORYN_HOST_OFFSET(platformData, 188, 216);
ORYN_HOST_OFFSET(bufferProcs, 192, 224);
ORYN_HOST_OFFSET(handleProcs, 208, 256);
ORYN_HOST_OFFSET(wantLayout, 214, 266);
ORYN_HOST_OFFSET(filterCase, 216, 268);
ORYN_HOST_OFFSET(dummyPlaneValue, 218, 270);
ORYN_HOST_OFFSET(advanceState, 224, 280);
ORYN_HOST_OFFSET(getPropertyObsolete, 232, 292);
ORYN_HOST_OFFSET(inputRate, 248, 312);
ORYN_HOST_OFFSET(colorServices, 256, 320);
ORYN_HOST_OFFSET(inLayerPlanes, 260, 328);
ORYN_HOST_OFFSET(inColumnBytes, 300, 368);
ORYN_HOST_OFFSET(outPlaneBytes, 312, 380);
ORYN_HOST_OFFSET(imageServicesProcs, 316, 384);
ORYN_HOST_OFFSET(inTileHeight, 324, 400);
ORYN_HOST_OFFSET(maskTileOrigin, 352, 428);
ORYN_HOST_OFFSET(descriptorParameters, 356, 432);
ORYN_HOST_OFFSET(depth, 380, 480);
ORYN_HOST_OFFSET(iCCprofileData, 384, 484);
ORYN_HOST_OFFSET(canUseICCProfiles, 392, 496);
ORYN_HOST_OFFSET(bigDocumentData, 400, 504);
ORYN_HOST_OFFSET(iCCWorkingProfileData, 416, 532);
ORYN_HOST_OFFSET(bufferSpace64, 424, 544);
ORYN_HOST_OFFSET(maxSpace64, 432, 552);
ORYN_HOST_OFFSET(allowOverrangeColors, 440, 560);
#undef ORYN_HOST_OFFSET
static_assert(sizeof(FilterRecord) == (sizeof(void*) == 4 ? 488 : 608), "FilterRecord size");
static_assert(sizeof(Rect) == 8 && sizeof(Point) == 4 && sizeof(RGBColor) == 6, "host basic types");
static_assert(offsetof(Rect, top) == 0 && offsetof(Rect, left) == 2 && offsetof(Rect, bottom) == 4 &&
                  offsetof(Rect, right) == 6,
              "Rect field order is the host's");
static_assert(offsetof(AboutRecord, platformData) == 0, "AboutRecord starts with platformData");
static_assert(sizeof(AboutRecord) == (sizeof(void*) == 4 ? 256 : 272), "AboutRecord size");
static_assert(sizeof(PlatformData) == sizeof(void*), "PlatformData holds one pointer");
static_assert(sizeof(ColorServicesInfo) == (sizeof(void*) == 4 ? 36 : 56), "ColorServicesInfo size");
static_assert(offsetof(ColorServicesInfo, colorComponents) == (sizeof(void*) == 4 ? 20 : 32),
              "ColorServicesInfo colorComponents offset");
static_assert(offsetof(ColorServicesInfo, selectorParameter) == (sizeof(void*) == 4 ? 32 : 48),
              "ColorServicesInfo selectorParameter offset");
