#include "recall_e2e_run.h"
#include <doctest/doctest.h>
#include <commctrl.h>
#include "res/resource.h"

IniData TestIni(int menuKeyMode)
{
    IniData ini;
    SetDefaultIniData(&ini);
    ini.menuKeyMode = menuKeyMode;
    ini.pasteWaitMs = 20;  // keeps a registered paste short
    return ini;
}

bool TavoRun::Start(const wchar_t *name, const IniData &ini, const std::vector<PasteRecord> *entries)
{
    dir = MakeScratchDir(name);
    if (!WriteFileBytes(dir + L"ini.dat", EncryptedIni(ini)) ||
        (entries && !WriteFileBytes(dir + L"paste.dat", EncryptedPasteFile(*entries))) ||
        (!appsFile.empty() && !WriteFileBytes(dir + L"apps.dat", appsFile)))
        return false;
    if (!StartTavoClean(dir, &tavo))
        return false;
    PumpFor(300);
    return CreateTestForm(&form) && FocusTestField(form, 1);
}

std::vector<PasteRecord> TavoRun::Stop()
{
    DestroyTestForm(&form);
    if (tavo.process.hProcess)
        CHECK(StopTavo(&tavo) == 0);
    std::vector<PasteRecord> saved;
    CHECK_MESSAGE(ReadPasteRecords(dir + L"paste.dat", &saved), "paste.dat does not parse");
    return saved;
}

TavoRun::~TavoRun()
{
    if (form.window)
        DestroyTestForm(&form);
    if (tavo.process.hProcess)
        StopTavo(&tavo);
}

void PlayTap(WORD vk)
{
    KeyDown(vk);
    PumpFor(30);
    KeyUp(vk);
    PumpFor(30);
}

void PlayDoubleTap(WORD vk)
{
    PlayTap(vk);
    PlayTap(vk);
}

bool MenuOpensWithin(DWORD ms)
{
    return WaitUntil([] { return VisibleMenuWindow() != nullptr; }, ms);
}

bool WaitForFindBox(const TavoRun &s, FindBoxView *view, DWORD ms)
{
    WCHAR title[64];
    if (LoadStringW(GetModuleHandleW(nullptr), IDS_FIND_TITLE, title, 64) <= 0)
        return false;
    bool found = WaitUntil([&] {
        view->box = FindVisibleProcessWindow(s.tavo.process.dwProcessId, L"#32770", title);
        return view->box != nullptr;
    }, ms);
    view->edit = found ? GetDlgItem(view->box, IDC_FIND_EDIT) : nullptr;
    view->list = found ? GetDlgItem(view->box, IDC_FIND_LIST) : nullptr;
    return found && view->edit && view->list;
}

std::wstring FindBoxText(const FindBoxView &view)
{
    WCHAR text[256] = {0};
    DWORD_PTR result = 0;
    SendMessageTimeoutW(view.edit, WM_GETTEXT, 256, (LPARAM)text, SMTO_ABORTIFHUNG, 2000, &result);
    return text;
}

std::vector<std::wstring> FindBoxRows(const TavoRun &s, const FindBoxView &view)
{
    std::vector<std::wstring> rows;
    HANDLE process = s.tavo.process.hProcess;
    char *remote = (char *)VirtualAllocEx(process, nullptr, 4096, MEM_COMMIT, PAGE_READWRITE);
    if (!remote)
        return rows;
    int count = (int)SendMessageW(view.list, LVM_GETITEMCOUNT, 0, 0);
    for (int k = 0; k < count && k < 50; k++) {
        LVITEMW item = {};
        item.mask = LVIF_TEXT;
        item.iItem = k;
        item.pszText = (LPWSTR)(remote + 1024);
        item.cchTextMax = 1000;
        WCHAR text[1000] = {0};
        DWORD_PTR result = 0;
        if (WriteProcessMemory(process, remote, &item, sizeof(item), nullptr) &&
            SendMessageTimeoutW(view.list, LVM_GETITEMTEXTW, k, (LPARAM)remote, SMTO_ABORTIFHUNG, 2000, &result) &&
            ReadProcessMemory(process, remote + 1024, text, sizeof(text) - sizeof(WCHAR), nullptr))
            rows.push_back(text);
    }
    VirtualFreeEx(process, remote, 0, MEM_RELEASE);
    return rows;
}

int FindBoxSelection(const FindBoxView &view)
{
    return (int)SendMessageW(view.list, LVM_GETNEXTITEM, (WPARAM)-1, LVNI_SELECTED);
}
