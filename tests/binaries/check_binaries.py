#!/usr/bin/env python3
"""Checks the PE tables of tavo.exe and tavohook.dll with objdump, on the build host.

usage: check_binaries.py OBJDUMP tavo.exe tavohook.dll
"""
import re
import subprocess
import sys

SYSTEM_DLLS = {'kernel32.dll', 'user32.dll', 'gdi32.dll', 'advapi32.dll', 'shell32.dll', 'ole32.dll',
               'oleaut32.dll', 'comctl32.dll', 'comdlg32.dll', 'msvcrt.dll', 'shlwapi.dll', 'uuid.dll'}
HOOK_DLLS = {'kernel32.dll', 'user32.dll'}

failures = []


def check(condition, message):
    if not condition:
        failures.append(message)
    return condition


def private_headers(objdump, path):
    return subprocess.run([objdump, '-p', path], check=True, capture_output=True, text=True).stdout


def section_headers(objdump, path):
    return subprocess.run([objdump, '-h', path], check=True, capture_output=True, text=True).stdout


def imports(text):
    """{dll name (lower case): [(hint/ordinal, member name or None, by ordinal?)]}"""
    result = {}
    current = None
    for line in text.splitlines():
        m = re.match(r'\s*DLL Name: (\S+)', line)
        if m:
            current = result.setdefault(m.group(1).lower(), [])
            continue
        if current is None:
            continue
        if not line.strip():
            current = None
            continue
        m = re.match(r'\s*([0-9a-f]{8})\s+(\d+)\s+(\S+)', line)
        if m:
            thunk = int(m.group(1), 16)
            by_ordinal = bool(thunk & 0x80000000)
            current.append((int(m.group(2)), None if m.group(3) == '<none>' else m.group(3), by_ordinal))
    return result


def exports(text):
    """(ordinal base, {ordinal: rva}, {name: ordinal})"""
    m = re.search(r'Ordinal Base\s+(\d+)', text)
    if m is None:
        return None, {}, {}
    base = int(m.group(1))
    rvas = {}
    for m in re.finditer(r'\[\s*\d+\] \+base\[\s*(\d+)\]\s+([0-9a-f]+) Export RVA', text):
        rvas[int(m.group(1))] = int(m.group(2), 16)
    names = {}
    table = text.split('[Ordinal/Name Pointer] Table', 1)
    if len(table) == 2:
        for m in re.finditer(r'\[\s*(\d+)\] (\S+)', table[1].split('\n\n', 1)[0]):
            names[m.group(2)] = int(m.group(1)) + base
    return base, rvas, names


def main(argv):
    if len(argv) != 4:
        print(__doc__, file=sys.stderr)
        return 2
    objdump, exe, dll = argv[1:]
    exe_text = private_headers(objdump, exe)
    dll_text = private_headers(objdump, dll)

    # The library's exports: names without stdcall decoration, ordinals 1 to 3.
    base, rvas, names = exports(dll_text)
    check(base == 1, 'ordinal base is %s, not 1' % base)
    check(sorted(rvas) == [1, 2, 3], 'export ordinals are %s, not 1..3' % sorted(rvas))
    check(names == {'tvKeyboardHookProc': 1, 'tvSetHook': 2, 'tvUnHook': 3},
          'exported names and ordinals are %s' % names)
    check(len(set(rvas.values())) == 3, 'the three exports do not point at three functions: %s' % rvas)

    # Its shared section.
    sections = section_headers(objdump, dll)
    m = re.search(r'^\s*\d+ MY_DATA\s+([0-9a-f]+).*\n\s*(.*)$', sections, re.M)
    if check(m is not None, 'tavohook.dll has no section MY_DATA'):
        flags = [f.strip() for f in m.group(2).split(',')]
        check(int(m.group(1), 16) == 12, 'MY_DATA holds %d bytes, not the three 32-bit fields' % int(m.group(1), 16))
        for flag in ('DATA', 'SHARED'):
            check(flag in flags, 'MY_DATA lacks the flag %s: %s' % (flag, flags))
        check('READONLY' not in flags, 'MY_DATA is read-only')

    # The program imports ordinals 2 and 3 by ordinal, nothing by name.
    exe_imports = imports(exe_text)
    hook = exe_imports.get('tavohook.dll')
    if check(hook is not None, 'tavo.exe does not import tavohook.dll at load time'):
        check(sorted(h[0] for h in hook) == [2, 3], 'tavo.exe imports tavohook entries %s' % hook)
        check(all(h[2] and h[1] is None for h in hook), 'tavohook.dll is imported by name: %s' % hook)

    # Only system DLLs besides the library.
    for name in exe_imports:
        check(name in SYSTEM_DLLS or name == 'tavohook.dll', 'tavo.exe imports the non-system DLL %s' % name)
    dll_imports = imports(dll_text)
    for name in dll_imports:
        check(name in HOOK_DLLS, 'tavohook.dll imports %s; it must carry no runtime' % name)

    for f in failures:
        print('FAIL: %s' % f)
    print('checked %s and %s: %d failure(s)' % (exe, dll, len(failures)))
    return 1 if failures else 0


if __name__ == '__main__':
    sys.exit(main(sys.argv))
