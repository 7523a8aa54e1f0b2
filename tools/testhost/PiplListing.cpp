// The PiPL listing the test host prints, and the choice of entry point.
#include "tools/testhost/PiplListing.h"

#include <cstdio>
#include <string>
#include <vector>

#include "tools/testhost/HostSupport.h"
#include "tools/testhost/PiplReader.h"

namespace oryn {

namespace {

const char* const ModeNames[] = {
    "Bitmap",  "Grayscale", "Indexed", "RGB",   "CMYK",   "HSL",    "HSB",
    "Multichannel", "Duotone", "Lab", "Gray16", "RGB48", "Lab48", "CMYK64",
    "DeepMultichannel", "Duotone16", "RGB96", "Gray32",
};

const char* const CaseNames[PiplCaseCount] = {
    "flat",
    "flat+selection",
    "floating",
    "editable-transparency",
    "editable-transparency+selection",
    "protected-transparency",
    "protected-transparency+selection",
};

std::string resourceName(const char* name)
{
    if (IS_INTRESOURCE(name))
        return std::to_string(unsigned(reinterpret_cast<uintptr_t>(name)));
    return quoted(name);
}

void printPipl(const PiplInfo& info)
{
    say("  header prelude %d version %d count %d", info.prelude, int(info.version),
        int(info.count));
    for (size_t i = 0; i < info.properties.size(); ++i) {
        const PiplProperty& p = info.properties[i];
        say("  property %u offset %u vendor %s key %s id %d length %d", unsigned(i),
            unsigned(p.offset), fourCharText(p.vendor).c_str(), fourCharText(p.key).c_str(),
            int(p.id), int(p.length));
    }
    if (info.hasKind)
        say("  kind %s", fourCharText(info.kind).c_str());
    if (info.hasName)
        say("  name %s", quoted(info.name).c_str());
    if (info.hasCategory)
        say("  category %s", quoted(info.category).c_str());
    if (info.hasVersion)
        say("  version %d.%d (0x%08x)", int(info.interfaceVersion >> 16),
            int(info.interfaceVersion & 0xFFFF), unsigned(info.interfaceVersion));
    for (const PiplEntryPoint& entry : info.entryPoints)
        say("  entry %s %s", fourCharText(entry.key).c_str(), quoted(entry.name).c_str());
    if (info.hasModes) {
        std::string bytes;
        std::string names;
        for (size_t i = 0; i < info.modes.size(); ++i) {
            char hex[4];
            std::snprintf(hex, sizeof hex, "%02x", info.modes[i]);
            bytes += (i ? " " : "") + std::string(hex);
            for (int bit = 0; bit < 8; ++bit) {
                size_t mode = i * 8 + size_t(bit);
                if (info.modes[i] & (0x80 >> bit))
                    names += " " + (mode < sizeof ModeNames / sizeof ModeNames[0]
                                        ? std::string(ModeNames[mode])
                                        : "mode" + std::to_string(mode));
            }
        }
        say("  modes %s:%s", bytes.c_str(), names.c_str());
    }
    if (info.hasEnable)
        say("  enable %s", quoted(info.enableExpression).c_str());
    if (info.hasCases) {
        for (int c = 0; c < PiplCaseCount; ++c) {
            const PiplFilterCase& fc = info.cases[c];
            say("  case %d %s: input %d output %d flags %02x %02x", c + 1, CaseNames[c],
                fc.inputHandling, fc.outputHandling, fc.flags1, fc.flags2);
        }
    }
    for (const std::string& error : info.errors)
        say("  error: %s", error.c_str());
    say("  decoded %s", info.errors.empty() ? "ok" : "with errors");
}

struct FoundPipl {
    std::string label; // resource name and language
    PiplInfo info;
};

ORYN_CALLED_BACK BOOL CALLBACK collectLanguage(HMODULE module, LPCSTR type, LPCSTR name,
                                               WORD language, LONG_PTR context)
{
    auto* found = reinterpret_cast<std::vector<FoundPipl>*>(context);
    FoundPipl entry;
    entry.label = resourceName(name) + " language " + std::to_string(language);
    HRSRC resource = FindResourceExA(module, type, name, language);
    HGLOBAL loaded = resource != nullptr ? LoadResource(module, resource) : nullptr;
    const void* bytes = loaded != nullptr ? LockResource(loaded) : nullptr;
    DWORD size = resource != nullptr ? SizeofResource(module, resource) : 0;
    say("pipl %s bytes %lu", entry.label.c_str(), static_cast<unsigned long>(size));
    readPipl(static_cast<const uint8_t*>(bytes), bytes != nullptr ? size : 0, entry.info);
    printPipl(entry.info);
    found->push_back(entry);
    return TRUE;
}

ORYN_CALLED_BACK BOOL CALLBACK collectName(HMODULE module, LPCSTR type, LPSTR name,
                                           LONG_PTR context)
{
    EnumResourceLanguagesA(module, type, name, collectLanguage, context);
    return TRUE;
}

} // namespace

PluginEntryProc findEntry(HMODULE module)
{
    std::vector<FoundPipl> found;
    EnumResourceNamesA(module, "PIPL", collectName, reinterpret_cast<LONG_PTR>(&found));
    if (found.empty()) {
        say("error: the module has no PIPL resource");
        return nullptr;
    }
    const uint32_t key = sizeof(void*) == 8 ? PiplKeyEntryX64 : PiplKeyEntryX86;
    for (const FoundPipl& pipl : found) {
        const PiplEntryPoint* entry = findEntryPoint(pipl.info, key);
        if (!pipl.info.errors.empty() || !pipl.info.hasKind ||
            pipl.info.kind != PiplKindFilter || entry == nullptr)
            continue;
        say("using pipl %s entry %s %s", pipl.label.c_str(), fourCharText(key).c_str(),
            quoted(entry->name).c_str());
        FARPROC proc = GetProcAddress(module, entry->name.c_str());
        if (proc == nullptr) {
            say("error: entry point %s is not exported", quoted(entry->name).c_str());
            return nullptr;
        }
        return reinterpret_cast<PluginEntryProc>(reinterpret_cast<void*>(proc));
    }
    say("error: no well-formed filter PiPL names an entry point under %s",
        fourCharText(key).c_str());
    return nullptr;
}

} // namespace oryn
