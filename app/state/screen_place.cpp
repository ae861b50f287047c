#include "state/screen_place.h"

int ScaleToDpi(int stored, int dpi)
{
    return MulDiv(stored, dpi, BASE_DPI);
}

int ScaleToStored(int pixels, int dpi)
{
    return dpi > 0 ? MulDiv(pixels, BASE_DPI, dpi) : pixels;
}

RECT ScaleRect(const RECT &rect, int fromDpi, int toDpi)
{
    if (fromDpi <= 0 || toDpi <= 0)
        return rect;
    RECT scaled = {MulDiv(rect.left, toDpi, fromDpi), MulDiv(rect.top, toDpi, fromDpi),
                   MulDiv(rect.right, toDpi, fromDpi), MulDiv(rect.bottom, toDpi, fromDpi)};
    return scaled;
}

// Squared distance from the point to the rectangle (0 inside it; right and bottom edges excluded).
static long long DistanceSquared(POINT point, const RECT &rect)
{
    long long dx = point.x < rect.left ? rect.left - point.x : point.x >= rect.right ? point.x - rect.right + 1 : 0;
    long long dy = point.y < rect.top ? rect.top - point.y : point.y >= rect.bottom ? point.y - rect.bottom + 1 : 0;
    return dx * dx + dy * dy;
}

int RectNearestPoint(POINT point, const RECT *rects, int count)
{
    int best = -1;
    long long bestDistance = 0;
    for (int k = 0; k < count; k++) {
        long long distance = DistanceSquared(point, rects[k]);
        if (best < 0 || distance < bestDistance) {
            best = k;
            bestDistance = distance;
        }
    }
    return best;
}

RECT ChooseWindowPlace(const RECT *saved, SIZE size, POINT mouse, const RECT *workAreas, int count)
{
    for (int k = 0; saved && k < count; k++) {
        RECT common;
        if (IntersectRect(&common, saved, &workAreas[k]))
            return *saved;
    }
    if (saved && count == 0)
        return *saved;
    int monitor = RectNearestPoint(mouse, workAreas, count);
    if (monitor < 0) {
        RECT atMouse = {mouse.x, mouse.y, mouse.x + size.cx, mouse.y + size.cy};
        return atMouse;
    }
    const RECT &area = workAreas[monitor];
    LONG width = size.cx < area.right - area.left ? size.cx : area.right - area.left;
    LONG height = size.cy < area.bottom - area.top ? size.cy : area.bottom - area.top;
    RECT place;
    place.left = area.left + (area.right - area.left - width) / 2;
    place.top = area.top + (area.bottom - area.top - height) / 2;
    place.right = place.left + width;
    place.bottom = place.top + height;
    return place;
}

RECT ChooseWorkspacePlace(const RECT *saved, SIZE size, POINT mouse, const RECT *workAreas, int count, POINT origin)
{
    RECT onScreen = {};
    if (saved) {
        onScreen = *saved;
        OffsetRect(&onScreen, origin.x, origin.y);
        size.cx = saved->right - saved->left;
        size.cy = saved->bottom - saved->top;
    }
    RECT place = ChooseWindowPlace(saved ? &onScreen : nullptr, size, mouse, workAreas, count);
    OffsetRect(&place, -origin.x, -origin.y);
    return place;
}

POINT WorkspaceOrigin()
{
    POINT origin = {0, 0};
    MONITORINFO info = {};
    info.cbSize = sizeof(info);
    if (GetMonitorInfoW(MonitorFromPoint(origin, MONITOR_DEFAULTTOPRIMARY), &info)) {
        origin.x = info.rcWork.left;
        origin.y = info.rcWork.top;
    }
    return origin;
}

struct WorkAreaList {
    RECT *areas;
    int capacity;
    int count;
};

static BOOL CALLBACK AddWorkArea(HMONITOR monitor, HDC, LPRECT, LPARAM parameter)
{
    WorkAreaList *list = (WorkAreaList *)parameter;
    MONITORINFO info = {};
    info.cbSize = sizeof(info);
    if (list->count < list->capacity && GetMonitorInfoW(monitor, &info))
        list->areas[list->count++] = info.rcWork;
    return list->count < list->capacity;
}

int GetWorkAreas(RECT *areas, int capacity)
{
    WorkAreaList list = {areas, capacity, 0};
    EnumDisplayMonitors(nullptr, nullptr, AddWorkArea, (LPARAM)&list);
    return list.count;
}

RECT ChooseWhereUserWorks(const RECT *saved, SIZE size, POINT origin)
{
    RECT areas[WORK_AREAS_MAX];
    int count = GetWorkAreas(areas, WORK_AREAS_MAX);
    POINT mouse = {0, 0};
    GetCursorPos(&mouse);
    return ChooseWorkspacePlace(saved, size, mouse, areas, count, origin);
}
