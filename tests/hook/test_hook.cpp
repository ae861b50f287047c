// tavohook.dll under a real global hook: forwarding from another process, negative codes, the
// removal results, and a target that does not answer. Each case loads a fresh copy of the library
// from a scratch folder, so that its shared section starts at zero whatever ran before.
#include <doctest/doctest.h>
#include <cstdio>
#include <cstdlib>
#include <vector>
#include "test_util.h"
#include "tavohook.h"

namespace {

const UINT TestMessage = WM_APP + 77;

typedef LRESULT(CALLBACK *HookProcFn)(int, WPARAM, LPARAM);
typedef int(WINAPI *SetHookFn)(HWND, UINT);
typedef int(WINAPI *UnHookFn)(void);

struct HookLibrary {
    HMODULE module;
    HookProcFn hookProc;
    SetHookFn setHook;
    UnHookFn unHook;
};

// A copy of tavohook.dll of its own, reached through its ordinals.
bool LoadFreshLibrary(const wchar_t *name, HookLibrary *library)
{
    std::wstring dir = MakeScratchDir(name);
    std::wstring path = dir + L"tavohook.dll";
    ZeroMemory(library, sizeof(*library));
    if (!CopyFileW((BinDir() + L"tavohook.dll").c_str(), path.c_str(), FALSE))
        return false;
    library->module = LoadLibraryW(path.c_str());
    if (!library->module)
        return false;
    library->hookProc = (HookProcFn)(void *)GetProcAddress(library->module, MAKEINTRESOURCEA(1));
    library->setHook = (SetHookFn)(void *)GetProcAddress(library->module, MAKEINTRESOURCEA(2));
    library->unHook = (UnHookFn)(void *)GetProcAddress(library->module, MAKEINTRESOURCEA(3));
    return library->hookProc && library->setHook && library->unHook;
}

struct Forwarded {
    WPARAM wParam;
    LPARAM lParam;
    BOOL fromOtherThread;
};
std::vector<Forwarded> Received;

LRESULT CALLBACK RecorderProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == TestMessage) {
        Received.push_back({wParam, lParam, InSendMessage()});
        return 0;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

HWND CreateWindowOfClass(const wchar_t *className, WNDPROC procedure, DWORD style)
{
    WNDCLASSW windowClass = {};
    windowClass.lpfnWndProc = procedure;
    windowClass.hInstance = GetModuleHandleW(nullptr);
    windowClass.lpszClassName = className;
    windowClass.hbrBackground = (HBRUSH)(COLOR_WINDOW + 1);
    RegisterClassW(&windowClass);
    return CreateWindowExW(0, className, className, style, 100, 100, 300, 200, nullptr, nullptr,
                           GetModuleHandleW(nullptr), nullptr);
}

// A window of this thread that records every TestMessage.
HWND CreateRecorder()
{
    return CreateWindowOfClass(L"HookTestRecorder", RecorderProc, 0);
}

LRESULT CALLBACK QuitOnDestroyProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_DESTROY)
        PostQuitMessage(0);
    return DefWindowProcW(window, message, wParam, lParam);
}

// Starts "child NAME args" and waits up to 10 s for its window of that class; 0 when none came.
HWND StartTargetChild(const char *name, const std::string &args, const wchar_t *className, PROCESS_INFORMATION *child)
{
    if (!StartTestChild(name, args, child))
        return nullptr;
    return WaitForProcessWindow(child->dwProcessId, className, nullptr, 10000);
}

void EndChild(PROCESS_INFORMATION *child)
{
    if (WaitExit(*child, 3000) == ~0u)
        TerminateProcess(child->hProcess, 1);
    CloseHandle(child->hThread);
    CloseHandle(child->hProcess);
}

}  // namespace

// A visible window that takes the foreground and pumps until it is closed (at most 30 s).
TEST_CHILD(typing_target)
{
    (void)argc;
    (void)argv;
    HWND window = CreateWindowOfClass(L"HookTestTyping", QuitOnDestroyProc, WS_OVERLAPPEDWINDOW | WS_VISIBLE);
    SetForegroundWindow(window);
    SetFocus(window);
    DWORD start = GetTickCount();
    MSG msg;
    while (GetTickCount() - start < 30000) {
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            if (msg.message == WM_QUIT)
                return 0;
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 50, QS_ALLINPUT);
    }
    return 0;
}

// A window whose thread stops answering at once, like a hung program.
TEST_CHILD(hung_target)
{
    int seconds = argc > 0 ? atoi(argv[0]) : 20;
    CreateWindowOfClass(L"HookTestHung", DefWindowProcW, WS_OVERLAPPEDWINDOW);
    Sleep(seconds * 1000);
    return 0;
}

TEST_CASE("the library exports its three functions by name and by ordinals 1 to 3")
{
    HookLibrary library;
    REQUIRE(LoadFreshLibrary(L"hook_exports", &library));
    CHECK((void *)GetProcAddress(library.module, "tvKeyboardHookProc") == (void *)library.hookProc);
    CHECK((void *)GetProcAddress(library.module, "tvSetHook") == (void *)library.setHook);
    CHECK((void *)GetProcAddress(library.module, "tvUnHook") == (void *)library.unHook);
    // A fresh copy is a module of its own, with a shared section of its own.
    WCHAR path[MAX_PATH] = {};
    GetModuleFileNameW(library.module, path, MAX_PATH);
    CHECK(std::wstring(path).find(L"\\scratch\\hook_exports\\tavohook.dll") != std::wstring::npos);
    HMODULE imported = GetModuleHandleW((BinDir() + L"tavohook.dll").c_str());
    CHECK(imported != nullptr);
    CHECK(library.module != imported);
    FreeLibrary(library.module);
}

TEST_CASE("tvUnHook without a hook returns 1; after one hook, the second removal is refused")
{
    HookLibrary library;
    REQUIRE(LoadFreshLibrary(L"hook_unhook", &library));
    CHECK(library.unHook() == 1);
    CHECK(library.unHook() == 1);

    HWND recorder = CreateRecorder();
    REQUIRE(recorder != nullptr);
    REQUIRE(library.setHook(recorder, TestMessage) == 1);
    CHECK(library.unHook() == 1);
    // The handle stays in the shared section; the platform no longer knows it.
    CHECK(library.unHook() == 0);
    DestroyWindow(recorder);
    FreeLibrary(library.module);
}

TEST_CASE("the hook procedure forwards codes 0 and above and passes negative codes on unforwarded")
{
    HookLibrary library;
    REQUIRE(LoadFreshLibrary(L"hook_codes", &library));
    HWND recorder = CreateRecorder();
    REQUIRE(recorder != nullptr);
    REQUIRE(library.setHook(recorder, TestMessage) == 1);
    Received.clear();

    library.hookProc(-1, 'Q', 0x00100001);
    PumpFor(50);
    CHECK(Received.empty());

    library.hookProc(HC_ACTION, 'Q', 0x00100001);
    library.hookProc(HC_NOREMOVE, 'Q', (LPARAM)0xC0100001);
    REQUIRE(Received.size() == 2);
    CHECK(Received[0].wParam == 'Q');
    CHECK(Received[0].lParam == 0x00100001);
    CHECK(Received[1].wParam == 'Q');
    CHECK((DWORD)Received[1].lParam == 0xC0100001u);

    CHECK(library.unHook() == 1);
    DestroyWindow(recorder);
    FreeLibrary(library.module);
}

TEST_CASE("keys typed into another process arrive as the target message, bit 31 set on release")
{
    HookLibrary library;
    REQUIRE(LoadFreshLibrary(L"hook_typing", &library));
    HWND recorder = CreateRecorder();
    REQUIRE(recorder != nullptr);

    PROCESS_INFORMATION child = {};
    HWND target = StartTargetChild("typing_target", "", L"HookTestTyping", &child);
    REQUIRE(target != nullptr);
    BringToForeground(target, 3000);
    REQUIRE(GetForegroundWindow() == target);

    REQUIRE(library.setHook(recorder, TestMessage) == 1);
    Received.clear();
    KeyDown('A');
    KeyUp('A');
    KeyDown(VK_SHIFT);
    KeyUp(VK_SHIFT);
    auto countOf = [](WPARAM vk) {
        int count = 0;
        for (const Forwarded &event : Received)
            count += event.wParam == vk;
        return count;
    };
    WaitUntil([&] { return countOf('A') >= 2 && countOf(VK_SHIFT) >= 2; }, 5000);
    CHECK(library.unHook() == 1);
    PostMessageW(target, WM_CLOSE, 0, 0);
    EndChild(&child);
    DestroyWindow(recorder);
    FreeLibrary(library.module);

    // One message per key event, in the order typed.
    std::vector<Forwarded> keys;
    for (const Forwarded &event : Received)
        if (event.wParam == 'A' || event.wParam == VK_SHIFT)
            keys.push_back(event);
    REQUIRE(keys.size() == 4);
    const WPARAM typed[4] = {'A', 'A', VK_SHIFT, VK_SHIFT};
    for (size_t i = 0; i < 4; i++) {
        CAPTURE(i);
        CHECK(keys[i].wParam == typed[i]);
        CHECK(((keys[i].lParam & 0x80000000) != 0) == (i % 2 == 1));  // press, then release
    }
    // Scan code and repeat count come through unchanged.
    CHECK(((keys[0].lParam >> 16) & 0xFF) == (LPARAM)MapVirtualKeyW('A', 0));
    CHECK((keys[0].lParam & 0xFFFF) == 1);
    // Sent from the typing process's thread, not called here.
    for (const Forwarded &event : keys)
        CHECK(event.fromOtherThread);
}

TEST_CASE("a target that does not answer holds a key event for about a second, not for ever")
{
    HookLibrary library;
    REQUIRE(LoadFreshLibrary(L"hook_hung", &library));
    PROCESS_INFORMATION child = {};
    HWND target = StartTargetChild("hung_target", "20", L"HookTestHung", &child);
    REQUIRE(target != nullptr);

    REQUIRE(library.setHook(target, TestMessage) == 1);
    DWORD start = GetTickCount();
    library.hookProc(HC_ACTION, 'H', 0x00230001);
    DWORD spent = GetTickCount() - start;
    CHECK(library.unHook() == 1);
    printf("hook: a key event waited %lu ms for a target that does not answer\n", spent);
    // The target sleeps for 20 s: an unbounded send would return only when it wakes or dies.
    CHECK(spent < 5000);
    CHECK(WaitForSingleObject(child.hProcess, 0) == WAIT_TIMEOUT);
    TerminateProcess(child.hProcess, 1);
    EndChild(&child);
    FreeLibrary(library.module);
}
