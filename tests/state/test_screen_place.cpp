// The geometry of monitors and stored sizes, and the real screen's answer to it.
#include <doctest/doctest.h>
#include "state/screen_place.h"
#include "test_util.h"

static bool SameRect(const RECT &a, const RECT &b)
{
    return a.left == b.left && a.top == b.top && a.right == b.right && a.bottom == b.bottom;
}

TEST_CASE("where a window opens: its saved place while that is on a monitor, else centred on the mouse's monitor")
{
    // Two monitors: the primary with a task bar at the bottom, a second one to its left, higher up.
    const RECT monitors[2] = {{0, 0, 1920, 1040}, {-1280, -300, 0, 724}};
    const SIZE size = {600, 400};
    const RECT savedOnSecond = {-1000, 0, -400, 400};
    const RECT savedPartlyOnPrimary = {1800, 900, 2400, 1300};
    const RECT savedGone = {2500, 100, 3100, 500};  // on a monitor that is no longer attached
    // A task bar at the top: a saved placement counts from the work area's top left, 40 pixels down.
    const RECT topBar[1] = {{0, 40, 1920, 1080}};
    const RECT savedUnderTopBar = {100, 0, 700, 400};
    const RECT savedBelowScreen = {100, 1040, 700, 1440};  // on the monitor only when taken for screen coordinates
    const struct {
        const RECT *saved;
        POINT mouse;
        int monitorCount;
        RECT expected;
        const RECT *areas = nullptr;  // null: the two monitors above
        POINT origin = {0, 0};        // the primary work area's top left
    } cases[] = {
        {nullptr, {100, 100}, 2, {660, 320, 1260, 720}},
        {nullptr, {-600, 0}, 2, {-940, 12, -340, 412}},
        {nullptr, {-1500, 0}, 2, {-940, 12, -340, 412}},   // left of every monitor: the nearest
        {nullptr, {5000, 5000}, 2, {660, 320, 1260, 720}},
        {&savedOnSecond, {100, 100}, 2, savedOnSecond},
        {&savedPartlyOnPrimary, {-600, 0}, 2, savedPartlyOnPrimary},
        {&savedGone, {-600, 0}, 2, {-940, 12, -340, 412}},
        {&savedGone, {100, 100}, 0, savedGone},
        {nullptr, {100, 100}, 1, {660, 320, 1260, 720}, topBar, {0, 40}},
        {&savedUnderTopBar, {100, 100}, 1, savedUnderTopBar, topBar, {0, 40}},
        {&savedBelowScreen, {100, 100}, 1, {660, 320, 1260, 720}, topBar, {0, 40}},
    };
    for (const auto &c : cases) {
        CAPTURE(c.mouse.x);
        CAPTURE(c.mouse.y);
        CAPTURE(c.saved != nullptr);
        RECT place = ChooseWorkspacePlace(c.saved, size, c.mouse, c.areas ? c.areas : monitors, c.monitorCount, c.origin);
        CHECK(SameRect(place, c.expected));
    }
    // A window larger than the work area is cut to it.
    const RECT small = {0, 0, 800, 560};
    RECT place = ChooseWindowPlace(nullptr, SIZE{1000, 700}, POINT{10, 10}, &small, 1);
    CHECK(SameRect(place, small));

    // On the real screen: a saved place on no monitor keeps its own size, centred where the mouse is.
    RECT areas[WORK_AREAS_MAX];
    REQUIRE(GetWorkAreas(areas, WORK_AREAS_MAX) >= 1);
    SetCursorPos(areas[0].left + 10, areas[0].top + 10);
    const RECT elsewhere = {100000, 100000, 100500, 100300};
    const POINT screen = {0, 0};
    place = ChooseWhereUserWorks(&elsewhere, SIZE{200, 100}, screen);
    CHECK(place.left == areas[0].left + (areas[0].right - areas[0].left - 500) / 2);
    CHECK(place.top == areas[0].top + (areas[0].bottom - areas[0].top - 300) / 2);
    CHECK(place.right - place.left == 500);
    CHECK(place.bottom - place.top == 300);
    RECT onScreen = {areas[0].left, areas[0].top, areas[0].left + 50, areas[0].top + 40};
    CHECK(SameRect(ChooseWhereUserWorks(&onScreen, SIZE{200, 100}, screen), onScreen));
}

TEST_CASE("sizes stored at 100 % come back as they were set, at every scale")
{
    // Stored at 100 %: a width set at any scale and stored comes back as it was set, and a stored
    // width used and stored again stays the same number.
    for (int dpi : {96, 120, 144, 168, 192, 288}) {
        for (int stored = 10; stored <= 1000; stored++) {
            CAPTURE(dpi);
            CAPTURE(stored);
            REQUIRE(ScaleToStored(ScaleToDpi(stored, dpi), dpi) == stored);
        }
    }
}
