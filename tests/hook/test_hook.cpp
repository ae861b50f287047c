// tavohook.dll under a real global hook: what it forwards from another process (modifiers, and
// nothing of what is typed), negative codes, the targets it refuses, the removal results, and a
// target that does not answer. Each case loads a fresh copy of the library
// from a scratch folder, so that its shared section starts at zero whatever ran before.
#include <doctest/doctest.h>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>
#include "test_util.h"
#include "recall/paste.h"
#include "tavohook.h"

namespace {

const UINT TestMessage = WM_HOOKKEY;
// A message that a stranger's section names; the recorder records it too, so that a send shows.
UINT StrangeMessage;

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

// The library's shared section, in the order in which the library declares its fields.
struct HookSection {
    HHOOK hook;
    HWND target;
    UINT message;
};

// Where the section lies in the loaded copy, from the library's section headers; null when absent.
HookSection *SharedSectionOf(HMODULE module)
{
    IMAGE_NT_HEADERS *headers = (IMAGE_NT_HEADERS *)((BYTE *)module + ((IMAGE_DOS_HEADER *)module)->e_lfanew);
    IMAGE_SECTION_HEADER *section = IMAGE_FIRST_SECTION(headers);
    for (int k = 0; k < headers->FileHeader.NumberOfSections; k++)
        if (memcmp(section[k].Name, "MY_DATA", 8) == 0)
            return (HookSection *)((BYTE *)module + section[k].VirtualAddress);
    return nullptr;
}

struct Forwarded {
    WPARAM wParam;
    LPARAM lParam;
    DWORD sendKind;  // InSendMessageEx: ISMEX_NOTIFY when the sender did not wait
};
std::vector<Forwarded> Received;

LRESULT CALLBACK RecorderProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == TestMessage || (StrangeMessage != 0 && message == StrangeMessage)) {
        Received.push_back({wParam, lParam, InSendMessageEx(nullptr)});
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

// A window of this thread that records every TestMessage; of tavo's class, the only one the
// library sends to.
HWND CreateRecorder(const wchar_t *className = L"tavoClass")
{
    return CreateWindowOfClass(className, RecorderProc, 0);
}

// TRUE when the event is one the library may forward: a modifier with bits 30 and 31 alone, or
// the nameless press of another key.
bool ForwardedBare(const Forwarded &event)
{
    DWORD flags = (DWORD)event.lParam;
    if (event.wParam == 0)
        return flags == 0;
    return (event.wParam == VK_SHIFT || event.wParam == VK_CONTROL || event.wParam == VK_MENU) &&
           (flags & ~0xC0000000u) == 0;
}

// The typing target's count of key messages (WM_KEYDOWN and WM_KEYUP) for four keys, one byte
// each, which it returns as its exit code.
const WORD CountedKeys[4] = {VK_CONTROL, 'V', 'K', VK_TAB};
DWORD TypedKeyCounts;

int TypingTargetKeys(DWORD exitCode, WORD vk)
{
    for (int k = 0; k < 4; k++)
        if (CountedKeys[k] == vk)
            return (int)((exitCode >> (8 * k)) & 0xFF);
    return -1;
}

LRESULT CALLBACK TypingTargetProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_KEYDOWN || message == WM_KEYUP) {
        for (int k = 0; k < 4; k++)
            if (CountedKeys[k] == wParam && ((TypedKeyCounts >> (8 * k)) & 0xFF) < 0xFF)
                TypedKeyCounts += 1u << (8 * k);
    }
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

// A visible window that takes the foreground and pumps until it is closed (at most 30 s); its exit
// code counts the key messages it saw (TypingTargetKeys).
TEST_CHILD(typing_target)
{
    (void)argc;
    (void)argv;
    HWND window = CreateWindowOfClass(L"HookTestTyping", TypingTargetProc, WS_OVERLAPPEDWINDOW | WS_VISIBLE);
    SetForegroundWindow(window);
    SetFocus(window);
    DWORD start = GetTickCount();
    MSG msg;
    while (GetTickCount() - start < 30000) {
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            if (msg.message == WM_QUIT)
                return (int)TypedKeyCounts;
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 50, QS_ALLINPUT);
    }
    return (int)TypedKeyCounts;
}

// A window whose thread stops answering at once, like a hung program.
TEST_CHILD(hung_target)
{
    int seconds = argc > 0 ? atoi(argv[0]) : 20;
    CreateWindowOfClass(L"tavoClass", DefWindowProcW, WS_OVERLAPPEDWINDOW);
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

TEST_CASE("tvSetHook refuses any message but WM_HOOKKEY; tvUnHook without a hook returns 1, after one hook the second removal is refused")
{
    HookLibrary library;
    REQUIRE(LoadFreshLibrary(L"hook_unhook", &library));
    CHECK(library.unHook() == 1);
    CHECK(library.unHook() == 1);

    HWND recorder = CreateRecorder();
    REQUIRE(recorder != nullptr);
    // Asked for any other message, the library installs nothing and leaves its section alone.
    HookSection *section = SharedSectionOf(library.module);
    REQUIRE(section != nullptr);
    for (UINT message : {(UINT)WM_APP + 77, (UINT)WM_APP, (UINT)WM_COMMAND, 0u}) {
        CAPTURE(message);
        CHECK(library.setHook(recorder, message) == 0);
        CHECK((section->hook == nullptr && section->target == nullptr && section->message == 0));
    }
    REQUIRE(library.setHook(recorder, TestMessage) == 1);
    CHECK(section->hook != nullptr);
    CHECK(library.unHook() == 1);
    // The handle stays in the shared section; the platform no longer knows it.
    CHECK(library.unHook() == 0);
    DestroyWindow(recorder);
    FreeLibrary(library.module);
}

TEST_CASE("the hook procedure forwards codes 0 and above, passes negative codes on, and sends only WM_HOOKKEY to tavo's class")
{
    HookLibrary library;
    REQUIRE(LoadFreshLibrary(L"hook_codes", &library));
    HWND recorder = CreateRecorder();
    HWND stranger = CreateRecorder(L"HookTestStranger");
    REQUIRE(recorder != nullptr);
    REQUIRE(stranger != nullptr);
    REQUIRE(library.setHook(recorder, TestMessage) == 1);
    Received.clear();

    library.hookProc(-1, VK_SHIFT, 0x002A0001);
    PumpFor(50);
    CHECK(Received.empty());

    // Scan code, repeat count and the extended bit stay here; another key goes nameless.
    library.hookProc(HC_ACTION, VK_RSHIFT, 0x01360001);
    library.hookProc(HC_ACTION, 'Q', 0x01100001);
    library.hookProc(HC_ACTION, 'Q', (LPARAM)0xC1100001);
    library.hookProc(HC_NOREMOVE, VK_SHIFT, (LPARAM)0xC02A0001);
    REQUIRE(Received.size() == 3);
    CHECK(Received[0].wParam == VK_SHIFT);
    CHECK(Received[0].lParam == 0);
    CHECK(Received[1].wParam == 0);
    CHECK(Received[1].lParam == 0);
    CHECK(Received[2].wParam == VK_SHIFT);
    CHECK((DWORD)Received[2].lParam == 0xC0000000u);

    // Another process rewrites the section, as any process that loads the library can: only tavo's
    // own message to a window of tavo's class is sent.
    HookSection *section = SharedSectionOf(library.module);
    REQUIRE((section && section->target == recorder && section->message == WM_HOOKKEY));
    struct Target { HWND window; UINT message; size_t sent; };
    for (Target target : {Target{recorder, WM_HOOKKEY, 2}, Target{stranger, WM_HOOKKEY, 0}, Target{recorder, WM_APP + 77, 0},
                          Target{recorder, WM_APP, 0}, Target{recorder, WM_HOOKKEY + 1, 0}, Target{recorder, WM_COMMAND, 0},
                          Target{recorder, WM_USER + 77, 0}, Target{recorder, 0xC000, 0}}) {
        CAPTURE(target.message);
        section->target = target.window;
        section->message = target.message;
        StrangeMessage = target.message;
        Received.clear();
        library.hookProc(HC_ACTION, VK_MENU, 0x20380001);
        library.hookProc(HC_ACTION, VK_MENU, (LPARAM)0xE0380001);
        PumpFor(20);
        CHECK(Received.size() == target.sent);
    }
    StrangeMessage = 0;
    CHECK(library.unHook() == 1);
    DestroyWindow(stranger);
    DestroyWindow(recorder);
    FreeLibrary(library.module);
}

TEST_CASE("typed into another process: modifiers arrive bare, other keys nameless and only near a modifier, plain text not at all")
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
    auto countOf = [](WPARAM vk, DWORD flags) {
        int count = 0;
        for (const Forwarded &event : Received)
            count += event.wParam == vk && (DWORD)event.lParam == flags;
        return count;
    };
    // 1,000 letters and digits with no modifier near; the Shift tap after them marks their end.
    for (int n = 0; n < 1000; n++)
        TapKey((WORD)(n % 3 == 0 ? '0' + n % 10 : 'A' + n % 26));
    TapKey(VK_SHIFT);
    REQUIRE(WaitUntil([&] { return countOf(VK_SHIFT, 0xC0000000u) == 1; }, 20000));
    CHECK(Received.size() == 2);
    CHECK(countOf(VK_SHIFT, 0) == 1);

    // A password typed after the double-click time, with Shift for its capitals and its "!":
    // Shift and the keys under it and just after it arrive, none of them by name.
    PumpFor(GetDoubleClickTime() + 400);
    Received.clear();
    KeyDown(VK_SHIFT);
    TapKey('P');
    KeyUp(VK_SHIFT);
    for (WORD vk : {'A', '5', '5', 'W', 'O', 'R', 'D'})
        TapKey(vk);
    KeyDown(VK_SHIFT);
    TapKey('1');
    KeyUp(VK_SHIFT);
    TapKey(VK_CONTROL);
    REQUIRE(WaitUntil([&] { return countOf(VK_CONTROL, 0xC0000000u) == 1; }, 5000));
    CHECK(library.unHook() == 1);
    PostMessageW(target, WM_CLOSE, 0, 0);
    EndChild(&child);
    DestroyWindow(recorder);
    FreeLibrary(library.module);

    for (const Forwarded &event : Received) {
        CAPTURE(event.wParam);
        CAPTURE(event.lParam);
        CHECK(ForwardedBare(event));
        // Sent from the typing process's thread without waiting for the answer.
        CHECK((event.sendKind & (ISMEX_NOTIFY | ISMEX_REPLIED)) == ISMEX_NOTIFY);
    }
    // Shift twice and Ctrl, pressed and released; the presses of P, A, 5, 5, W, O, R, D and 1.
    CHECK(countOf(VK_SHIFT, 0) == 2);
    CHECK(countOf(VK_SHIFT, 0xC0000000u) == 2);
    CHECK(countOf(0, 0) == 9);
    CHECK(Received.size() == 15);
}

TEST_CASE("the paste's keys reach the application whole, and the hook as a chord")
{
    HookLibrary library;
    REQUIRE(LoadFreshLibrary(L"hook_paste_keys", &library));
    HWND recorder = CreateRecorder();
    REQUIRE(recorder != nullptr);
    PROCESS_INFORMATION child = {};
    HWND target = StartTargetChild("typing_target", "", L"HookTestTyping", &child);
    REQUIRE(target != nullptr);
    BringToForeground(target, 3000);
    REQUIRE(GetForegroundWindow() == target);

    REQUIRE(library.setHook(recorder, TestMessage) == 1);
    Received.clear();
    SendCtrlV();  // tavo's own records
    SendTab();
    TapKey('K');
    WaitUntil([&] { return Received.size() >= 5; }, 5000);
    PumpFor(100);
    CHECK(library.unHook() == 1);
    PostMessageW(target, WM_CLOSE, 0, 0);
    DWORD exitCode = WaitExit(child, 5000);
    EndChild(&child);
    DestroyWindow(recorder);
    FreeLibrary(library.module);

    // In the order sent: Ctrl, the nameless V under it, Ctrl's release, then the Tab and the K
    // pressed just after it. The trigger sees a chord: no tap.
    std::vector<std::pair<WPARAM, DWORD>> order;
    for (const Forwarded &event : Received)
        order.push_back({event.wParam, (DWORD)event.lParam});
    CHECK(order == std::vector<std::pair<WPARAM, DWORD>>{{VK_CONTROL, 0}, {0, 0}, {VK_CONTROL, 0xC0000000u}, {0, 0}, {0, 0}});
    // The hook swallows nothing: the application saw every key pressed and released.
    CHECK(TypingTargetKeys(exitCode, VK_TAB) == 2);
    CHECK(TypingTargetKeys(exitCode, VK_CONTROL) == 2);
    CHECK(TypingTargetKeys(exitCode, 'V') == 2);
    CHECK(TypingTargetKeys(exitCode, 'K') == 2);
}

TEST_CASE("a target that does not answer holds no key event")
{
    HookLibrary library;
    REQUIRE(LoadFreshLibrary(L"hook_hung", &library));
    PROCESS_INFORMATION child = {};
    HWND target = StartTargetChild("hung_target", "20", L"tavoClass", &child);
    REQUIRE(target != nullptr);

    REQUIRE(library.setHook(target, TestMessage) == 1);
    DWORD start = GetTickCount();
    for (int k = 0; k < 3; k++) {
        library.hookProc(HC_ACTION, VK_SHIFT, 0x002A0001);
        library.hookProc(HC_ACTION, 'H', 0x00230001);
        library.hookProc(HC_ACTION, VK_SHIFT, (LPARAM)0xC02A0001);
    }
    DWORD spent = GetTickCount() - start;
    CHECK(library.unHook() == 1);
    printf("hook: 9 key events spent %lu ms on a target that does not answer\n", spent);
    // A waiting send costs a second per event here (the old bound); handing the event over costs
    // microseconds. The margin is for a loaded machine, not for any wait.
    CHECK(spent < 500);
    CHECK(WaitForSingleObject(child.hProcess, 0) == WAIT_TIMEOUT);
    TerminateProcess(child.hProcess, 1);
    EndChild(&child);
    FreeLibrary(library.module);
}

namespace {

struct BusyRecorder {
    HWND window;
    HANDLE ready;
    HANDLE release;
};

// A recorder on a thread that does not look at its queue until `release` is set, then pumps until
// it has three events (at most 5 s).
DWORD WINAPI RunBusyRecorder(void *parameter)
{
    BusyRecorder *busy = (BusyRecorder *)parameter;
    busy->window = CreateRecorder();
    SetEvent(busy->ready);
    WaitForSingleObject(busy->release, INFINITE);
    DWORD start = GetTickCount();
    MSG msg;
    while (Received.size() < 3 && GetTickCount() - start < 5000) {
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE))
            DispatchMessageW(&msg);
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 20, QS_ALLINPUT);
    }
    DestroyWindow(busy->window);
    return 0;
}

}  // namespace

TEST_CASE("events for a busy target wait in its queue and reach it in order once it answers")
{
    HookLibrary library;
    REQUIRE(LoadFreshLibrary(L"hook_busy", &library));
    Received.clear();
    BusyRecorder busy = {nullptr, CreateEventW(nullptr, TRUE, FALSE, nullptr), CreateEventW(nullptr, TRUE, FALSE, nullptr)};
    HANDLE thread = CreateThread(nullptr, 0, RunBusyRecorder, &busy, 0, nullptr);
    REQUIRE(thread != nullptr);
    REQUIRE(WaitForSingleObject(busy.ready, 5000) == WAIT_OBJECT_0);
    REQUIRE(busy.window != nullptr);

    REQUIRE(library.setHook(busy.window, TestMessage) == 1);
    DWORD start = GetTickCount();
    library.hookProc(HC_ACTION, VK_CONTROL, 0x001D0001);
    library.hookProc(HC_ACTION, 'B', 0x00300001);
    library.hookProc(HC_NOREMOVE, VK_CONTROL, (LPARAM)0xC01D0001);
    DWORD spent = GetTickCount() - start;
    CHECK(spent < 500);
    CHECK(Received.empty());
    SetEvent(busy.release);
    CHECK(WaitForSingleObject(thread, 10000) == WAIT_OBJECT_0);
    CHECK(library.unHook() == 1);
    FreeLibrary(library.module);
    CloseHandle(thread);
    CloseHandle(busy.ready);
    CloseHandle(busy.release);

    REQUIRE(Received.size() == 3);
    CHECK(Received[0].wParam == VK_CONTROL);
    CHECK(Received[0].lParam == 0);
    CHECK(Received[1].wParam == 0);
    CHECK(Received[1].lParam == 0);
    CHECK(Received[2].wParam == VK_CONTROL);
    CHECK((DWORD)Received[2].lParam == 0xC0000000u);
    for (const Forwarded &event : Received)
        CHECK((event.sendKind & (ISMEX_NOTIFY | ISMEX_REPLIED)) == ISMEX_NOTIFY);
}
