#include "recall_form.h"
#include "test_util.h"

static WNDPROC EditProc;  // the system's edit procedure under our subclass
DWORD FieldPasteDelayMs;

static LRESULT CALLBACK FieldProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_KEYDOWN && wParam == VK_TAB) {
        HWND parent = GetParent(window);
        HWND next = GetNextDlgTabItem(parent, window, GetKeyState(VK_SHIFT) < 0);
        SetFocus(next ? next : window);
        return 0;
    }
    if (message == WM_CHAR && wParam == L'\t')
        return 0;
    if (message == WM_PASTE && FieldPasteDelayMs)
        Sleep(FieldPasteDelayMs);  // busy, as a loaded application is
    return CallWindowProcW(EditProc, window, message, wParam, lParam);
}

static LRESULT CALLBACK FormProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    return DefWindowProcW(window, message, wParam, lParam);
}

bool CreateTestForm(TestForm *form)
{
    static bool registered = false;
    if (!registered) {
        WNDCLASSW wc = {};
        wc.lpfnWndProc = FormProc;
        wc.hInstance = GetModuleHandleW(nullptr);
        wc.hbrBackground = (HBRUSH)(COLOR_BTNFACE + 1);
        wc.lpszClassName = L"tavoTestFormClass";
        wc.hCursor = LoadCursorW(nullptr, (LPCWSTR)IDC_ARROW);
        registered = RegisterClassW(&wc) != 0;
    }
    form->window = CreateWindowExW(0, L"tavoTestFormClass", L"recall form", WS_OVERLAPPEDWINDOW | WS_VISIBLE,
                                   120, 120, 420, 200, nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
    if (!form->window)
        return false;
    DWORD style = WS_CHILD | WS_VISIBLE | WS_BORDER | WS_TABSTOP | ES_AUTOHSCROLL;
    form->field1 = CreateWindowExW(0, L"EDIT", L"", style, 10, 10, 380, 24, form->window, (HMENU)1, nullptr, nullptr);
    form->field2 = CreateWindowExW(0, L"EDIT", L"", style, 10, 50, 380, 24, form->window, (HMENU)2, nullptr, nullptr);
    form->field3 = CreateWindowExW(0, L"EDIT", L"", style, 10, 90, 380, 24, form->window, (HMENU)3, nullptr, nullptr);
    EditProc = (WNDPROC)SetWindowLongPtrW(form->field1, GWLP_WNDPROC, (LONG_PTR)FieldProc);
    SetWindowLongPtrW(form->field2, GWLP_WNDPROC, (LONG_PTR)FieldProc);
    SetWindowLongPtrW(form->field3, GWLP_WNDPROC, (LONG_PTR)FieldProc);
    PumpFor(50);
    return form->field1 && form->field2 && form->field3;
}

void DestroyTestForm(TestForm *form)
{
    if (form->window)
        DestroyWindow(form->window);
    form->window = form->field1 = form->field2 = form->field3 = nullptr;
    PumpFor(20);
}

bool FocusTestField(const TestForm &form, int field)
{
    HWND target = field == 2 ? form.field2 : form.field1;
    return WaitUntil([&] {
        if (GetForegroundWindow() != form.window)
            SetForegroundWindow(form.window);
        if (GetFocus() != target)
            SetFocus(target);
        return GetForegroundWindow() == form.window && GetFocus() == target;
    }, 3000);
}

std::wstring FieldText(HWND field)
{
    WCHAR text[512];
    GetWindowTextW(field, text, 512);
    return text;
}

static DWORD WINAPI PlayMenu(void *parameter)
{
    MenuPlayer *player = (MenuPlayer *)parameter;
    DWORD start = GetTickCount();
    while (GetTickCount() - start < player->timeoutMs) {
        player->menuWindow = VisibleMenuWindow();
        if (player->menuWindow) {
            player->seenTick = GetTickCount();
            GetWindowRect(player->menuWindow, &player->menuRect);
            break;
        }
        Sleep(2);
    }
    if (!player->menuWindow)
        return 0;
    Sleep(100);  // the menu settles its selection state before keys come
    for (WORD vk : player->keys) {
        TapKey(vk);
        Sleep(60);
    }
    return 0;
}

void StartMenuPlayer(MenuPlayer *player, const std::vector<WORD> &keys, DWORD timeoutMs)
{
    player->keys = keys;
    player->timeoutMs = timeoutMs;
    player->seenTick = 0;
    player->menuWindow = nullptr;
    player->thread = CreateThread(nullptr, 0, PlayMenu, player, 0, nullptr);
}

bool FinishMenuPlayer(MenuPlayer *player)
{
    if (player->thread) {
        WaitUntil([&] { return WaitForSingleObject(player->thread, 0) == WAIT_OBJECT_0; }, player->timeoutMs + 3000);
        CloseHandle(player->thread);
        player->thread = nullptr;
    }
    return player->seenTick != 0;
}

int ViewerDraws;
HWND ViewerNext;
int ViewerChangeNotes;

LRESULT CALLBACK CountingViewerProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_DRAWCLIPBOARD) {
        ViewerDraws++;
        if (ViewerNext)
            SendMessageW(ViewerNext, message, wParam, lParam);
        return 0;
    }
    if (message == WM_CHANGECBCHAIN) {
        ViewerChangeNotes++;
        if ((HWND)wParam == ViewerNext)
            ViewerNext = (HWND)lParam;
        else if (ViewerNext)
            SendMessageW(ViewerNext, message, wParam, lParam);
        return 0;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}
