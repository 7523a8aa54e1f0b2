// oryn-testhost: a small Windows host for filter modules (.8bf). It lists a module's property
// lists and drives its entry point the way image editors do, with images from files, logging
// every call and its result in a stable form that scripts can check. This file holds the runs;
// the command line, images, host callbacks, calls, windows and the store have files of their own.
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "host/HostApi.h"
#include "tools/testhost/FilterCaller.h"
#include "tools/testhost/HostCallbacks.h"
#include "tools/testhost/HostImages.h"
#include "tools/testhost/HostOptions.h"
#include "tools/testhost/HostStore.h"
#include "tools/testhost/HostSupport.h"
#include "tools/testhost/HostWindows.h"
#include "tools/testhost/PiplListing.h"

namespace oryn {

namespace {

void printRunSummary(const HostRun& run)
{
    say("advance calls %d errors %d", int(run.advanceCalls), int(run.advanceErrors));
    if (run.progressCalls > 0)
        say("progress calls %d first %d/%d last %d/%d backwards %d", int(run.progressCalls),
            int(run.firstDone), int(run.firstTotal), int(run.lastDone), int(run.lastTotal),
            int(run.progressBackwards));
    else
        say("progress calls 0");
    say("abort calls %d cancelled %d", int(run.abortCalls), int(run.abortYes));
    if (run.options->rowPadding > 0)
        say("padding written %d bytes", int(run.paddingWritten));
}

int runAbout(Caller& caller, PlatformData* platform)
{
    AboutBlock block;
    std::memset(&block.record, 0, sizeof block.record);
    std::memset(block.guard, GuardFill, GuardBytes);
    block.record.platformData = platform;
    AboutBlock before;
    std::memcpy(&before, &block, sizeof block);
    caller.call("about", filterSelectorAbout, &block.record);
    int changedBytes = 0;
    const auto* a = reinterpret_cast<const uint8_t*>(&before.record);
    const auto* b = reinterpret_cast<const uint8_t*>(&block.record);
    for (size_t i = 0; i < sizeof(AboutRecord); ++i)
        changedBytes += a[i] != b[i];
    if (changedBytes == 0)
        say("changed about: none");
    else
        say("changed about: %d bytes", changedBytes);
    if (!guardIntact(block.guard)) {
        say("error: about wrote past the end of the AboutRecord");
        caller.allOk = false;
    }
    return caller.allOk ? ExitOk : ExitSelectorFailed;
}

int runFilter(const Options& options, Caller& caller, PlatformData* platform)
{
    HostRun run;
    run.options = &options;
    if (loadSource(options, run.source))
        return ExitImage;
    if (!options.mask.empty() && loadMask(options, run.source, run.mask))
        return ExitImage;
    run.output = run.source;

    RecordBlock block;
    fillRecord(options, run, platform, block.record);
    std::memset(block.guard, GuardFill, GuardBytes);
    run.record = &block.record;
    activeRun = &run;

    if (options.hasSelector) {
        std::string label = "selector " + std::to_string(options.selector);
        caller.callFilter(label.c_str(), options.selector, block);
        activeRun = nullptr;
        return caller.allOk ? ExitOk : ExitSelectorFailed;
    }

    if (options.dialog)
        caller.callFilter("parameters", filterSelectorParameters, block);
    int32_t offered = block.record.maxSpace;
    caller.callFilter("prepare", filterSelectorPrepare, block);
    say("prepare maxSpace %d -> %d", int(offered), int(block.record.maxSpace));

    bool runOk = false;
    int16_t start = caller.callFilter("start", filterSelectorStart, block);
    if (start == noErr) {
        runOk = true;
        FilterRecord& r = block.record;
        int32_t continues = 0;
        while (!rectEmpty(r.inRect) || !rectEmpty(r.outRect) || !rectEmpty(r.maskRect)) {
            if (continues == options.loopLimit) {
                say("error: still requesting after %d continue calls", int(continues));
                caller.allOk = false;
                runOk = false;
                break;
            }
            ++continues;
            hostAdvanceState();
            if (caller.callFilter("continue", filterSelectorContinue, block) != noErr) {
                runOk = false;
                break;
            }
        }
        // The last output buffer is committed by one more advanceState, as hosts do.
        hostAdvanceState();
        if (caller.callFilter("finish", filterSelectorFinish, block) != noErr)
            runOk = false;
    } else {
        commit(run.out, run.output);
    }
    printRunSummary(run);
    activeRun = nullptr;

    if (!options.out.empty()) {
        if (runOk || options.keepPartial) {
            if (writeOutput(options, run.output))
                return ExitImage;
            if (checkOutput(options, run.output))
                return ExitCheck;
        } else {
            say("output not written");
        }
    }
    return caller.allOk ? ExitOk : ExitSelectorFailed;
}

int runHost(int argc, char** argv)
{
    Options options;
    bool help = false;
    if (parseOptions(argc, argv, options, help))
        return ExitUsage;
    if (help) {
        std::fputs(HelpText, stdout);
        return ExitOk;
    }

    if (!options.writeInput.empty()) {
        Image source;
        Options writing = options;
        writing.out = options.writeInput;
        if (loadSource(options, source) || writeOutput(writing, source))
            return ExitImage;
        return ExitOk;
    }
    if (prepareStore(options))
        return ExitUsage;
    SetUnhandledExceptionFilter(reportCrash);
    SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
    say("host %d-bit", int(sizeof(void*) * 8));
    HMODULE module = LoadLibraryA(options.plugin.c_str());
    if (module == nullptr) {
        say("error: cannot load %s (error %lu)", options.plugin.c_str(),
            static_cast<unsigned long>(GetLastError()));
        return ExitModule;
    }
    say("loaded %s", options.plugin.c_str());
    Caller caller;
    caller.entry = findEntry(module);
    if (caller.entry == nullptr) {
        FreeLibrary(module);
        return ExitModule;
    }
    if (options.info) {
        FreeLibrary(module);
        return ExitOk;
    }

    if (options.parent) {
        parentWindow = makeParentWindow();
        if (parentWindow == nullptr) {
            say("error: cannot create the parent window (error %lu); is there a display?",
                static_cast<unsigned long>(GetLastError()));
            FreeLibrary(module);
            return ExitUsage;
        }
        say("parent window created");
    }
    PlatformData platform = {parentWindow};
    PlatformData* platformPointer = options.noPlatformData ? nullptr : &platform;

    Closer closer;
    HANDLE closerThread = nullptr;
    if (options.autoCloseMs >= 0) {
        closer.delayMs = options.autoCloseMs;
        closer.stop = CreateEventA(nullptr, TRUE, FALSE, nullptr);
        closerThread = CreateThread(nullptr, 0, runCloser, &closer, 0, nullptr);
    }

    Mapper mapper;
    HANDLE mapperThread = nullptr;
    if (!options.windowMap.empty()) {
        mapper.path = options.windowMap;
        mapper.stop = CreateEventA(nullptr, TRUE, FALSE, nullptr);
        mapperThread = CreateThread(nullptr, 0, runMapper, &mapper, 0, nullptr);
    }

    int code = options.about ? runAbout(caller, platformPointer)
                             : runFilter(options, caller, platformPointer);

    if (mapperThread != nullptr) {
        SetEvent(mapper.stop);
        WaitForSingleObject(mapperThread, INFINITE);
        CloseHandle(mapperThread);
        CloseHandle(mapper.stop);
    }

    if (closerThread != nullptr) {
        SetEvent(closer.stop);
        WaitForSingleObject(closerThread, INFINITE);
        CloseHandle(closerThread);
        CloseHandle(closer.stop);
    }
    if (parentWindow != nullptr)
        DestroyWindow(parentWindow);
    FreeLibrary(module);
    if (options.showStore)
        showStore();
    if (!caller.results.empty())
        say("results: %s", caller.results.c_str());
    return code;
}

} // namespace

} // namespace oryn

int main(int argc, char** argv)
{
    oryn::initOutput();
    int code = oryn::runHost(argc, argv);
    oryn::say("exit %d", code);
    return code;
}
