// oryn3d's side of the host interface: a FilterRecord filled from image files, the advanceState,
// abortProc and progressProc callbacks, Ctrl-C handling, the dialog's preview run, and the
// progress bar that the streamed final render (StreamRender.h) shares.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "params/ParamBlock.h"
#include "tools/oryn3d/Raster.h"

namespace oryn {

// Exit status of a run stopped with Ctrl-C (128 + SIGINT), as shells report it; another
// termination signal N ends the run with 128 + N.
constexpr int CancelExitStatus = 130;

// What the host holds for one run.
struct HostImage {
    const Raster* image = nullptr; // 3 or 4 bands, at most 32767 pixels a side
    const Raster* mask = nullptr;  // 1 band of the same size, or null for no selection
    uint32_t foreColor = 0;        // colour words: byte 0 red, 1 green, 2 blue
    uint32_t backColor = 0;
    bool showProgress = false; // draw a progress bar on stderr during the final render
    std::string progressLabel; // shown before the bar, for example "[3/50] photo.jpg"
    int threads = 0;           // threads for the final render, 0 = every core
};

// Installs the handler of every termination signal the process can catch (Ctrl-C, SIGTERM from
// kill or timeout, SIGHUP from a closed terminal, SIGQUIT, SIGPIPE, ...), except those it
// inherited as ignored: the first asks the running work to stop (abortProc answers 1 from then
// on); a second one removes the registered temporary files and ends the process at once.
void installCancelHandler();

// True once a termination signal has arrived.
bool cancelRequested();

// The exit status for the signal that stopped the run: 128 + its number.
int cancelExitStatus();

// Reads the stream `fd` (standard input) to its end into `bytes`, at most `limit` bytes: a
// longer stream, or an endless one, stops with a message once it goes past the limit. Waits in
// poll(2), which a signal interrupts even where reads restart, so that Ctrl-C stops a run
// waiting for a pipe at once. Returns 0, or 1 with a reason (also for an empty stream).
int readStream(int fd, size_t limit, std::string& bytes, std::string& error);

// Registers a file that a second Ctrl-C removes before ending the process (two at most). The
// text is copied. Returns the slot to unregister, or -1 when it was not registered.
int registerTemporaryFile(const char* path);
void unregisterTemporaryFile(int slot);

// The progress line for `percent` (0..100) in a terminal `columns` wide: `label`, "rendering",
// a bar and the percentage, fitted into columns - 3 (room for the echo of ^C) by narrowing the bar and then shortening
// the label in the middle.
std::string progressLine(const std::string& label, int percent, int columns);

// The progress bar of a final render that runs without the host record (the streamed render):
// the bar progressProc draws, with the label and the terminal choice of `host`. `done` rows of
// `total` are final. One thread at a time; endRenderProgress clears the line.
void reportRenderProgress(const HostImage& host, int32_t done, int32_t total);
void endRenderProgress();

// The preview that the dialog shows for `controls` on a display of `dpi` (300 x 300 at 96, more
// above), with `block` as the dialog's working record. `result` receives it as RGB. Returns
// noErr, userCanceledErr after Ctrl-C, or the error code of the image transfer or render.
int16_t renderPreview(const HostImage& host, ParamBlock& block, const ControlState& controls,
                      Raster& result, int32_t dpi = 96);

} // namespace oryn
