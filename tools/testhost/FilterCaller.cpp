// The record's field table, the changed-field report and the crash report of the test host.
#include "tools/testhost/FilterCaller.h"

#include <cstdio>
#include <cstring>
#include <vector>

namespace oryn {

namespace {

struct FieldInfo {
    const char* name;
    size_t offset;
    size_t size;
};

#define ORYN_FIELD(name) {#name, offsetof(FilterRecord, name), sizeof(FilterRecord::name)}
const FieldInfo RecordFields[] = {
    ORYN_FIELD(serialNumber), ORYN_FIELD(abortProc), ORYN_FIELD(progressProc),
    ORYN_FIELD(parameters), ORYN_FIELD(imageSize), ORYN_FIELD(planes), ORYN_FIELD(filterRect),
    ORYN_FIELD(background), ORYN_FIELD(foreground), ORYN_FIELD(maxSpace),
    ORYN_FIELD(bufferSpace), ORYN_FIELD(inRect), ORYN_FIELD(inLoPlane), ORYN_FIELD(inHiPlane),
    ORYN_FIELD(outRect), ORYN_FIELD(outLoPlane), ORYN_FIELD(outHiPlane), ORYN_FIELD(inData),
    ORYN_FIELD(inRowBytes), ORYN_FIELD(outData), ORYN_FIELD(outRowBytes),
    ORYN_FIELD(isFloating), ORYN_FIELD(haveMask), ORYN_FIELD(autoMask), ORYN_FIELD(maskRect),
    ORYN_FIELD(maskData), ORYN_FIELD(maskRowBytes), ORYN_FIELD(backColor),
    ORYN_FIELD(foreColor), ORYN_FIELD(hostSig), ORYN_FIELD(hostProc), ORYN_FIELD(imageMode),
    ORYN_FIELD(imageHRes), ORYN_FIELD(imageVRes), ORYN_FIELD(floatCoord),
    ORYN_FIELD(wholeSize), ORYN_FIELD(monitor), ORYN_FIELD(platformData),
    ORYN_FIELD(bufferProcs), ORYN_FIELD(resourceProcs), ORYN_FIELD(processEvent),
    ORYN_FIELD(displayPixels), ORYN_FIELD(handleProcs), ORYN_FIELD(supportsDummyChannels),
    ORYN_FIELD(supportsAlternateLayouts), ORYN_FIELD(wantLayout), ORYN_FIELD(filterCase),
    ORYN_FIELD(dummyPlaneValue), ORYN_FIELD(premiereHook), ORYN_FIELD(advanceState),
    ORYN_FIELD(supportsAbsolute), ORYN_FIELD(wantsAbsolute), ORYN_FIELD(getPropertyObsolete),
    ORYN_FIELD(cannotUndo), ORYN_FIELD(supportsPadding), ORYN_FIELD(inputPadding),
    ORYN_FIELD(outputPadding), ORYN_FIELD(maskPadding), ORYN_FIELD(samplingSupport),
    ORYN_FIELD(reservedByte), ORYN_FIELD(inputRate), ORYN_FIELD(maskRate),
    ORYN_FIELD(colorServices), ORYN_FIELD(inLayerPlanes), ORYN_FIELD(inTransparencyMask),
    ORYN_FIELD(inLayerMasks), ORYN_FIELD(inInvertedLayerMasks), ORYN_FIELD(inNonLayerPlanes),
    ORYN_FIELD(outLayerPlanes), ORYN_FIELD(outTransparencyMask), ORYN_FIELD(outLayerMasks),
    ORYN_FIELD(outInvertedLayerMasks), ORYN_FIELD(outNonLayerPlanes),
    ORYN_FIELD(absLayerPlanes), ORYN_FIELD(absTransparencyMask), ORYN_FIELD(absLayerMasks),
    ORYN_FIELD(absInvertedLayerMasks), ORYN_FIELD(absNonLayerPlanes),
    ORYN_FIELD(inPreDummyPlanes), ORYN_FIELD(inPostDummyPlanes),
    ORYN_FIELD(outPreDummyPlanes), ORYN_FIELD(outPostDummyPlanes), ORYN_FIELD(inColumnBytes),
    ORYN_FIELD(inPlaneBytes), ORYN_FIELD(outColumnBytes), ORYN_FIELD(outPlaneBytes),
    ORYN_FIELD(imageServicesProcs), ORYN_FIELD(propertyProcs), ORYN_FIELD(inTileHeight),
    ORYN_FIELD(inTileWidth), ORYN_FIELD(inTileOrigin), ORYN_FIELD(absTileHeight),
    ORYN_FIELD(absTileWidth), ORYN_FIELD(absTileOrigin), ORYN_FIELD(outTileHeight),
    ORYN_FIELD(outTileWidth), ORYN_FIELD(outTileOrigin), ORYN_FIELD(maskTileHeight),
    ORYN_FIELD(maskTileWidth), ORYN_FIELD(maskTileOrigin), ORYN_FIELD(descriptorParameters),
    ORYN_FIELD(errorString), ORYN_FIELD(channelPortProcs), ORYN_FIELD(documentInfo),
    ORYN_FIELD(sSPBasic), ORYN_FIELD(plugInRef), ORYN_FIELD(depth), ORYN_FIELD(iCCprofileData),
    ORYN_FIELD(iCCprofileSize), ORYN_FIELD(canUseICCProfiles), ORYN_FIELD(hasImageScrap),
    ORYN_FIELD(bigDocumentData), ORYN_FIELD(input3DScene), ORYN_FIELD(output3DScene),
    ORYN_FIELD(createNewLayer), ORYN_FIELD(iCCWorkingProfileData),
    ORYN_FIELD(iCCWorkingProfileSize), ORYN_FIELD(bufferSpace64), ORYN_FIELD(maxSpace64),
    ORYN_FIELD(allowOverrangeColors), ORYN_FIELD(reserved),
};
#undef ORYN_FIELD

} // namespace

std::string changedFields(const uint8_t* before, const uint8_t* after)
{
    std::vector<bool> covered(sizeof(FilterRecord), false);
    std::string names;
    for (const FieldInfo& field : RecordFields) {
        for (size_t i = 0; i < field.size; ++i)
            covered[field.offset + i] = true;
        if (std::memcmp(before + field.offset, after + field.offset, field.size) != 0)
            names += std::string(names.empty() ? "" : " ") + field.name;
    }
    for (size_t i = 0; i < sizeof(FilterRecord); ++i) {
        if (!covered[i] && before[i] != after[i])
            names += std::string(names.empty() ? "" : " ") + "pad@" + std::to_string(i);
    }
    return names.empty() ? "none" : names;
}

bool guardIntact(const uint8_t* guard)
{
    for (size_t i = 0; i < GuardBytes; ++i)
        if (guard[i] != GuardFill)
            return false;
    return true;
}

ORYN_CALLED_BACK LONG WINAPI reportCrash(EXCEPTION_POINTERS* exception)
{
    unsigned long code = exception != nullptr && exception->ExceptionRecord != nullptr
                             ? exception->ExceptionRecord->ExceptionCode
                             : 0;
    say("crash in %s: exception 0x%08lx", currentCall, code);
    std::fflush(stdout);
    TerminateProcess(GetCurrentProcess(), ExitCrash);
    return EXCEPTION_EXECUTE_HANDLER;
}


} // namespace oryn
