// Keys of the dialog's own controls.
#include "ui/DialogKeys.h"

namespace oryn {

namespace {

bool isPad(int32_t stop)
{
    return stop >= 0 && stop < PadCount;
}

int32_t takeEntry(DialogView& view, XYPad* const (&pads)[PadCount], Canvas& dc)
{
    if (!isPad(view.entry.pad)) {
        clearPadEntry(view.entry);
        return 0;
    }
    return commitPadEntry(view.entry, *pads[view.entry.pad], dc);
}

} // namespace

int32_t dialogKeyDown(DialogView& view, XYPad* const (&pads)[PadCount], TriStateButton& button,
                      Canvas& dc, uint32_t key, uint32_t modifiers)
{
    const int32_t stop = view.focus;
    if (stop == ButtonStop)
        return button.handleKey(key) != 0 ? KeyChanged : KeyIgnored;
    if (stop == SwatchStop)
        return key == KeySpace || key == KeyReturn ? KeyOpensBackground : KeyIgnored;
    if (stop == LinkStop)
        return key == KeySpace || key == KeyReturn ? KeyOpensLink : KeyIgnored;
    if (!isPad(stop))
        return KeyIgnored;

    XYPad& pad = *pads[stop];
    const bool typing = entryActive(view.entry, stop);
    if (typing && key == KeyReturn)
        return takeEntry(view, pads, dc) != 0 ? KeyChanged : KeyRedrawStop;
    if (typing && key == KeyEscape) {
        clearPadEntry(view.entry);
        return KeyRedrawStop;
    }
    PadValue target{};
    if (!padKeyTarget(pad.x, pad.y, pad.rangeX(), pad.rangeY(), pad.flags, key, modifiers,
                      target))
        return KeyIgnored;
    // The key acts on the value the caption shows: a typed number is taken before the step.
    const int32_t taken = typing ? takeEntry(view, pads, dc) : 0;
    const int32_t moved = pad.handleKey(dc, key, modifiers);
    if (taken != 0 || moved != 0)
        return KeyChanged;
    return typing ? KeyRedrawStop : KeyIgnored;
}

int32_t dialogKeyChar(DialogView& view, XYPad* const (&pads)[PadCount], char c)
{
    if (!isPad(view.focus))
        return KeyIgnored;
    return typePadEntry(view.entry, view.focus, *pads[view.focus], c) != 0 ? KeyRedrawStop
                                                                           : KeyIgnored;
}

bool stopTakesKey(const DialogView& view, uint32_t key)
{
    if (key == KeyReturn &&
        (view.focus == ButtonStop || view.focus == SwatchStop || view.focus == LinkStop))
        return true;
    return (key == KeyReturn || key == KeyEscape) && entryActive(view.entry, view.focus);
}

int32_t dialogFocusMoves(DialogView& view, XYPad* const (&pads)[PadCount], Canvas& dc, int32_t stop)
{
    const int32_t taken = takeEntry(view, pads, dc);
    view.focus = stop;
    return taken != 0 ? KeyChanged : KeyRedrawStop;
}

} // namespace oryn
