#include "shell_e2e.h"

// The concatenated texts of the static controls of a message box.
std::wstring BoxText(HWND box)
{
    struct Collect {
        static BOOL CALLBACK Child(HWND child, LPARAM lParam)
        {
            WCHAR name[32], text[256];
            GetClassNameW(child, name, 32);
            if (lstrcmpiW(name, L"Static") == 0 && GetWindowTextW(child, text, 256) > 0)
                *(std::wstring *)lParam += text;
            return TRUE;
        }
    };
    std::wstring text;
    EnumChildWindows(box, Collect::Child, (LPARAM)&text);
    return text;
}

void PressOk(HWND box)
{
    PostMessageW(box, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), (LPARAM)GetDlgItem(box, IDOK));
}

// Copies the program into dir and starts it without waiting for its window.
bool LaunchCopy(const std::wstring &dir, PROCESS_INFORMATION *process)
{
    std::wstring exe = dir + L"tavo.exe";
    if (!CopyTavoInto(dir))
        return false;
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    return CreateProcessW(exe.c_str(), nullptr, nullptr, nullptr, FALSE, 0, nullptr, dir.c_str(), &startup, process) != FALSE;
}

void CloseHandles(PROCESS_INFORMATION *process)
{
    CloseHandle(process->hThread);
    CloseHandle(process->hProcess);
}

void PressButton(HWND box, int id)
{
    PostMessageW(box, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), (LPARAM)GetDlgItem(box, id));
}

EndAtExit::~EndAtExit()
{
    if (tavo->process.hProcess && WaitForSingleObject(tavo->process.hProcess, 0) == WAIT_TIMEOUT)
        TerminateProcess(tavo->process.hProcess, 1);
    if (tavo->process.hProcess) {
        CloseHandle(tavo->process.hThread);
        CloseHandle(tavo->process.hProcess);
        ZeroMemory(&tavo->process, sizeof(tavo->process));
    }
}

bool StartClean(const std::wstring &dir, TavoProcess *tavo)
{
    if (!StartTavoClean(dir, tavo))
        return false;
    WaitUntil([&] {
        return GetClipboardViewer() == tavo->mainWindow ||
               FindProcessWindow(tavo->process.dwProcessId, L"#32770", L"tavo") != nullptr ||
               WaitForSingleObject(tavo->process.hProcess, 0) == WAIT_OBJECT_0;
    }, 10000);
    return true;
}
