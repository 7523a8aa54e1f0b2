// The main dialog: its procedure, its module-wide state and what the start selector reads back
// after Apply. Win32 only.
#pragma once

#include <windows.h>

#include <cstdint>

#include "params/ParamBlock.h"
#include "ui/DialogControls.h"
#include "ui/PreviewRender.h"

namespace oryn {

// The main dialog's state, with its values at load. Per-run values are set again when a dialog
// starts, so a module that stays loaded between runs opens every dialog like the first.
extern ParamContext* dialogContext;  // the creation parameter
extern int32_t controlsReady;        // 1 once the first paint has made the controls
extern int32_t fullRedraw;           // 1 during the first pass of a paint
extern int32_t antialiasShown;       // the Antialiasing state the dialog last acted on
extern int32_t stretchDoubleShown;   // the "x2" state last sent to or read from its box
extern int32_t currentSelection;     // preset list entry now
extern int32_t previousSelection;    // preset list entry before the last change
extern int32_t linkHover;            // 1 while the mouse was last seen over the link
extern int32_t paintActive;          // 1 while a paint runs (its renders included)
extern DialogRects dialogRects;      // the client rectangles the layout uses
extern HFONT linkFont;               // the dialog font, underlined
extern HCURSOR arrowCursor;          // the system arrow
extern HCURSOR handCursor;           // cursor 104 (a hand), shown over the link
extern HBITMAP buttonBitmap;         // bitmap 119, the G-Shading picture strip
extern HDC buttonDc;                 // memory context holding buttonBitmap
extern PreviewBuffers previewBuffers; // the reduced image and the rendered preview
extern PreviewArea previewImageArea;  // the part of the buffers that holds image data
extern BITMAPINFO previewHeader;      // side x side, 24 bits, top row first
extern HBITMAP previewBitmap;         // the screen copy of the preview
extern int32_t previewBitmapSide;     // the side previewBitmap was made for
extern HDC previewDc;                 // memory context holding previewBitmap

// A control changed outside a preview render: the first change since the last completed paint
// posts a paint, every change owes the paint loop one more render.
void noteControlChange(HWND dialog);

// Lays the dialog out again at the display scale of `dpi`, as WM_DPICHANGED asks, placing the
// window at the top-left corner of `window` when one is given: the template's controls and fonts,
// the preview (reduced again from the host's image for the new side), the pads and the button
// (keeping their values) and every length drawn. Values keep their units. During a paint, or
// while the background popup or the host's colour picker is open, the change waits until they
// have returned (a running render stops early). Where the image cannot be had at the new side,
// the dialog stays at its old scale.
void changeDisplayScale(HWND dialog, int32_t dpi, const RECT* window);

// Starts the registered web browser on the home page, as a click on the link does: nothing
// happens when no browser command is registered or it is too long to take the address.
void launchHomePage();

// The dialog procedure of "SAMPLES".
INT_PTR CALLBACK mainDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);

// Shows string `id` of the module (at most 59 characters) in a message box with the caption
// "ERROR". Returns the message box's result.
int errorBox(HINSTANCE instance, int id, HWND owner, UINT style);

} // namespace oryn
