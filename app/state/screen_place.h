// Display scale and monitors as plain geometry, for the windows that remember sizes and places:
// no window here. Sizes in the settings are pixels at 100 % scale (96 DPI), as the earlier builds,
// which ran unaware of the display scale, recorded them; they are scaled when used and scaled
// back, rounded, when recorded, so that a size stays put however often it goes round.
#pragma once
#include <windows.h>

#define BASE_DPI 96

int ScaleToDpi(int stored, int dpi);   // stored pixels at 96 DPI to pixels at dpi, rounded
int ScaleToStored(int pixels, int dpi);  // the other way, rounded
RECT ScaleRect(const RECT &rect, int fromDpi, int toDpi);

// Where a window opens: `saved` when it is given and part of it lies on one of the monitors' work
// areas; otherwise `size` centred on the work area of the monitor holding `mouse` (the nearest
// one when none holds it), no larger than that work area. count 0: the saved place or, without
// one, the size at `mouse`.
RECT ChooseWindowPlace(const RECT *saved, SIZE size, POINT mouse, const RECT *workAreas, int count);
// The same for a window whose place is kept as WINDOWPLACEMENT keeps it, in workspace coordinates
// (counted from `origin`, the top left of the primary monitor's work area); the work areas and the
// mouse are in screen coordinates. A saved place that is on no monitor gives its size, centred.
// The result is in workspace coordinates again.
RECT ChooseWorkspacePlace(const RECT *saved, SIZE size, POINT mouse, const RECT *workAreas, int count, POINT origin);
// The top left of the primary monitor's work area, in screen coordinates.
POINT WorkspaceOrigin();
// ChooseWorkspacePlace with the monitors attached now and the mouse where it is, for the editor and
// the settings sheet: a saved place whose monitor is gone keeps its size on the mouse's monitor.
// `saved` and the result count from `origin`: WorkspaceOrigin() for a WINDOWPLACEMENT, {0, 0} for
// screen coordinates.
RECT ChooseWhereUserWorks(const RECT *saved, SIZE size, POINT origin);
// The index of the rectangle that holds the point, else of the nearest one; -1 when count is 0.
int RectNearestPoint(POINT point, const RECT *rects, int count);
// The work areas of the monitors now attached, at most `capacity`; returns how many.
int GetWorkAreas(RECT *areas, int capacity);
#define WORK_AREAS_MAX 16
