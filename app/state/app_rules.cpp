// The per-application rules and apps.dat. The file is a third one beside ini.dat and paste.dat,
// which keep their formats: an earlier build reads those and never sees this one. It is written
// and read by the same safe replace and cipher as the others.
#include "state/app_rules.h"
#include "state/data_files.h"

AppRules g_appRules;

static BOOL g_rulesFileNewer;  // the last load met a newer version's file: it is never written over

// "TVAR", then the version; a reader of version N reads every file of version N or below.
static const BYTE RulesMagic[4] = {'T', 'V', 'A', 'R'};
#define RULES_VERSION 1
// Version 1's global block: full-screen quiet. A later version appends to it and raises its size.
#define RULES_GLOBAL_BYTES 4

void SetDefaultAppRules(AppRules *rules)
{
    ZeroMemory(rules, sizeof(*rules));
    rules->fullScreenQuiet = TRUE;
}

int AddAppRule(AppRules *rules, const WCHAR *exe)
{
    int length = exe ? lstrlenW(exe) : 0;
    if (length == 0 || length >= APP_EXE_CHARS)
        return -1;
    for (int k = 0; k < rules->count; k++)
        if (lstrcmpiW(rules->rules[k].exe, exe) == 0 && rules->rules[k].caption[0] == 0)
            return k;
    if (rules->count >= APP_RULES_MAX)
        return -1;
    AppRule *rule = &rules->rules[rules->count];
    ZeroMemory(rule, sizeof(*rule));
    lstrcpynW(rule->exe, exe, APP_EXE_CHARS);
    rule->typeDelayMs = TYPE_DELAY_DEFAULT;
    return rules->count++;
}

void RemoveAppRule(AppRules *rules, int index)
{
    if (index < 0 || index >= rules->count)
        return;
    MoveMemory(&rules->rules[index], &rules->rules[index + 1], (rules->count - index - 1) * sizeof(AppRule));
    rules->count--;
    ZeroMemory(&rules->rules[rules->count], sizeof(AppRule));
}

void ClampAppRules(AppRules *rules)
{
    rules->fullScreenQuiet = rules->fullScreenQuiet ? TRUE : FALSE;
    if (rules->count < 0)
        rules->count = 0;
    if (rules->count > APP_RULES_MAX)
        rules->count = APP_RULES_MAX;
    int kept = 0;
    for (int k = 0; k < rules->count; k++) {
        AppRule rule = rules->rules[k];
        rule.exe[APP_EXE_CHARS - 1] = 0;
        rule.caption[APP_CAPTION_CHARS - 1] = 0;
        if (rule.exe[0] == 0)
            continue;
        rule.switches &= APP_RULE_SWITCHES;
        if (rule.typeDelayMs < TYPE_DELAY_MIN || rule.typeDelayMs > TYPE_DELAY_MAX)
            rule.typeDelayMs = TYPE_DELAY_DEFAULT;
        rules->rules[kept++] = rule;
    }
    for (int k = kept; k < rules->count; k++)
        ZeroMemory(&rules->rules[k], sizeof(AppRule));
    rules->count = kept;
}

static DWORD StringBytes(const WCHAR *s)
{
    return 2 * (DWORD)lstrlenW(s) + 2;
}

static BYTE *Put(BYTE *at, const void *source, DWORD size)
{
    CopyMemory(at, source, size);
    return at + size;
}

static BYTE *PutInt(BYTE *at, int value)
{
    return Put(at, &value, 4);
}

BYTE *MakeAppRulesImage(const AppRules *rules, DWORD *size)
{
    int count = rules->count < 0 ? 0 : rules->count > APP_RULES_MAX ? APP_RULES_MAX : rules->count;
    DWORD total = 4 + 4 + 4 + RULES_GLOBAL_BYTES + 4;
    for (int k = 0; k < count; k++)
        total += 8 + StringBytes(rules->rules[k].exe) + StringBytes(rules->rules[k].caption);
    BYTE *image = (BYTE *)HeapAlloc(GetProcessHeap(), 0, total);
    if (!image)
        return nullptr;
    BYTE *at = Put(image, RulesMagic, 4);
    at = PutInt(at, RULES_VERSION);
    at = PutInt(at, RULES_GLOBAL_BYTES);
    at = PutInt(at, rules->fullScreenQuiet ? 1 : 0);
    at = PutInt(at, count);
    for (int k = 0; k < count; k++) {
        const AppRule &rule = rules->rules[k];
        at = PutInt(at, rule.switches);
        at = PutInt(at, rule.typeDelayMs);
        at = Put(at, rule.exe, StringBytes(rule.exe));
        at = Put(at, rule.caption, StringBytes(rule.caption));
    }
    *size = total;
    return image;
}

// Reads a plain image from the front, never beyond its end.
struct ImageReader {
    const BYTE *at;
    DWORD left;
};

static BOOL TakeInt(ImageReader *reader, int *value)
{
    if (reader->left < 4)
        return FALSE;
    CopyMemory(value, reader->at, 4);
    reader->at += 4;
    reader->left -= 4;
    return TRUE;
}

// A terminated string of at most room units, terminator included.
static BOOL TakeString(ImageReader *reader, WCHAR *to, int room)
{
    for (int n = 0; reader->left >= 2; n++) {
        WCHAR unit;
        CopyMemory(&unit, reader->at, 2);
        reader->at += 2;
        reader->left -= 2;
        if (n >= room)
            return FALSE;
        to[n] = unit;
        if (unit == 0)
            return TRUE;
    }
    return FALSE;
}

static int ParseRules(ImageReader *reader, AppRules *rules)
{
    if (reader->left < 8 || memcmp(reader->at, RulesMagic, 4) != 0)
        return APP_RULES_IMAGE_BAD;
    reader->at += 4;
    reader->left -= 4;
    int version = 0, globalBytes = 0, quiet = 0, count = 0;
    TakeInt(reader, &version);
    if (version > RULES_VERSION)
        return APP_RULES_IMAGE_NEWER;
    if (version < 1 || !TakeInt(reader, &globalBytes) || globalBytes < RULES_GLOBAL_BYTES ||
        (DWORD)globalBytes > reader->left || !TakeInt(reader, &quiet))
        return APP_RULES_IMAGE_BAD;
    // Room a later version of the same number filled is stepped over.
    reader->at += globalBytes - RULES_GLOBAL_BYTES;
    reader->left -= globalBytes - RULES_GLOBAL_BYTES;
    if (!TakeInt(reader, &count) || count < 0 || count > APP_RULES_MAX)
        return APP_RULES_IMAGE_BAD;
    rules->fullScreenQuiet = quiet != 0;
    for (int k = 0; k < count; k++) {
        AppRule *rule = &rules->rules[k];
        if (!TakeInt(reader, &rule->switches) || !TakeInt(reader, &rule->typeDelayMs) ||
            !TakeString(reader, rule->exe, APP_EXE_CHARS) || !TakeString(reader, rule->caption, APP_CAPTION_CHARS))
            return APP_RULES_IMAGE_BAD;
        rules->count = k + 1;
    }
    return reader->left == 0 ? APP_RULES_IMAGE_OK : APP_RULES_IMAGE_BAD;
}

int ParseAppRulesImage(const BYTE *image, DWORD size, AppRules *rules)
{
    AppRules *parsed = (AppRules *)HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, sizeof(AppRules));
    SetDefaultAppRules(rules);
    if (!parsed)
        return APP_RULES_IMAGE_BAD;
    ImageReader reader = {image, size};
    int result = image ? ParseRules(&reader, parsed) : APP_RULES_IMAGE_BAD;
    // Half a list could switch a rule off that the user relies on: all or nothing.
    if (result == APP_RULES_IMAGE_OK) {
        *rules = *parsed;
        ClampAppRules(rules);
    }
    HeapFree(GetProcessHeap(), 0, parsed);
    return result;
}

int LoadAppRules(AppRules *rules)
{
    g_rulesFileNewer = FALSE;
    SetDefaultAppRules(rules);
    BYTE *image = nullptr;
    DWORD size = 0;
    int read = ReadDataFileImage(DATA_RULES, &image, &size);
    if (read != DATA_FILE_LOADED)
        return read;
    int parsed = ParseAppRulesImage(image, size, rules);
    HeapFree(GetProcessHeap(), 0, image);
    if (parsed == APP_RULES_IMAGE_NEWER) {
        g_rulesFileNewer = TRUE;
        return APP_RULES_FILE_NEWER;
    }
    if (parsed != APP_RULES_IMAGE_OK) {
        NoteDamagedDataFile(DATA_RULES);
        return DATA_FILE_UNREADABLE;
    }
    return DATA_FILE_LOADED;
}

BOOL AppRulesFileNewer()
{
    return g_rulesFileNewer;
}

BOOL SaveAppRules(const AppRules *rules)
{
    if (g_rulesFileNewer)
        return FALSE;
    DWORD size = 0;
    BYTE *image = MakeAppRulesImage(rules, &size);
    if (!image)
        return FALSE;
    BOOL saved = SaveDataFileImage(DATA_RULES, image, size);
    HeapFree(GetProcessHeap(), 0, image);
    return saved;
}

// A few processes at a time are in question: the one in front, the one that copies.
#define EXE_CACHE_SIZE 16
struct ExecutableName {
    DWORD processId;
    FILETIME created;
    WCHAR exe[APP_EXE_CHARS];
};
static ExecutableName g_exeCache[EXE_CACHE_SIZE];
static int g_exeCacheNext;

void ForgetExecutableNames()
{
    ZeroMemory(g_exeCache, sizeof(g_exeCache));
    g_exeCacheNext = 0;
}

BOOL ExecutableOfProcess(DWORD processId, WCHAR exe[APP_EXE_CHARS])
{
    exe[0] = 0;
    HANDLE process = processId ? OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, processId) : nullptr;
    if (!process)
        return FALSE;
    FILETIME created, exited, kernel, user;
    BOOL timed = GetProcessTimes(process, &created, &exited, &kernel, &user);
    for (int k = 0; timed && k < EXE_CACHE_SIZE; k++) {
        const ExecutableName &known = g_exeCache[k];
        if (known.processId == processId && CompareFileTime(&known.created, &created) == 0 && known.exe[0]) {
            lstrcpynW(exe, known.exe, APP_EXE_CHARS);
            CloseHandle(process);
            return TRUE;
        }
    }
    WCHAR path[MAX_PATH * 2];
    DWORD length = ARRAYSIZE(path);
    BOOL named = QueryFullProcessImageNameW(process, 0, path, &length);
    CloseHandle(process);
    if (!named)
        return FALSE;
    const WCHAR *name = path + length;
    while (name > path && name[-1] != L'\\' && name[-1] != L'/')
        name--;
    if (lstrlenW(name) >= APP_EXE_CHARS)
        return FALSE;  // no rule can name it
    lstrcpynW(exe, name, APP_EXE_CHARS);
    if (timed) {
        ExecutableName &slot = g_exeCache[g_exeCacheNext];
        g_exeCacheNext = (g_exeCacheNext + 1) % EXE_CACHE_SIZE;
        slot.processId = processId;
        slot.created = created;
        lstrcpynW(slot.exe, exe, APP_EXE_CHARS);
    }
    return TRUE;
}

