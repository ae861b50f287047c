#include "recall_e2e_run.h"
#include <doctest/doctest.h>

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
        (entries && !WriteFileBytes(dir + L"paste.dat", EncryptedPasteFile(*entries))))
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
