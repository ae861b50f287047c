#!/usr/bin/env python3
"""Checks the PE tables of tavo.exe and tavohook.dll with objdump, on the build host.

usage: check_binaries.py OBJDUMP ARCH tavo.exe tavohook.dll      (ARCH: x86 or x64)
"""
import re
import subprocess
import sys

SYSTEM_DLLS = {'kernel32.dll', 'user32.dll', 'gdi32.dll', 'advapi32.dll', 'shell32.dll', 'ole32.dll', 'oleacc.dll',
               'oleaut32.dll', 'comctl32.dll', 'comdlg32.dll', 'msvcrt.dll', 'shlwapi.dll', 'uuid.dll'}
HOOK_DLLS = {'kernel32.dll', 'user32.dll'}

# What differs by architecture: objdump's name of the machine, the width of a pointer (and so of an
# import thunk, whose top bit marks an import by ordinal).
ARCHES = {
    'x86': {'machine': 'i386', 'format': 'pei-i386', 'pointer': 4},
    'x64': {'machine': 'i386:x86-64', 'format': 'pei-x86-64', 'pointer': 8},
}

failures = []


def check(condition, message):
    if not condition:
        failures.append(message)
    return condition


def run_objdump(objdump, option, path):
    # An objdump of the other architecture cannot read the file: that shows as a failed check below.
    result = subprocess.run([objdump, option, path], capture_output=True, text=True)
    return result.stdout if result.returncode == 0 else ''


def private_headers(objdump, path):
    return run_objdump(objdump, '-p', path)


def section_headers(objdump, path):
    return run_objdump(objdump, '-h', path)


def file_headers(objdump, path):
    return run_objdump(objdump, '-f', path)


def imports(text, pointer):
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
        m = re.match(r'\s*([0-9a-f]{%d})\s+(\d+)\s+(\S+)' % (2 * pointer), line)
        if m:
            thunk = int(m.group(1), 16)
            by_ordinal = bool(thunk >> (8 * pointer - 1))
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
    if len(argv) != 5 or argv[2] not in ARCHES:
        print(__doc__, file=sys.stderr)
        return 2
    objdump, arch, exe, dll = argv[1:]
    expect = ARCHES[arch]
    exe_text = private_headers(objdump, exe)
    dll_text = private_headers(objdump, dll)

    # Both files are of this build's machine.
    for path in (exe, dll):
        header = file_headers(objdump, path)
        check('file format %s\n' % expect['format'] in header, '%s is not %s: %s' % (path, expect['format'], header.strip()))
        check(re.search(r'architecture: %s,' % re.escape(expect['machine']), header) is not None,
              '%s is not built for %s' % (path, expect['machine']))

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
        # HookHandle and HookTarget are pointer-sized, TargetMessage 32 bits; the section is padded to a pointer.
        pointer = expect['pointer']
        fields = -(-(2 * pointer + 4) // pointer) * pointer
        check(int(m.group(1), 16) == fields, 'MY_DATA holds %d bytes, not the three fields (%d)' % (int(m.group(1), 16), fields))
        for flag in ('DATA', 'SHARED'):
            check(flag in flags, 'MY_DATA lacks the flag %s: %s' % (flag, flags))
        check('READONLY' not in flags, 'MY_DATA is read-only')

    # The program imports ordinals 2 and 3 by ordinal, nothing by name.
    exe_imports = imports(exe_text, expect['pointer'])
    hook = exe_imports.get('tavohook.dll')
    if check(hook is not None, 'tavo.exe does not import tavohook.dll at load time'):
        check(sorted(h[0] for h in hook) == [2, 3], 'tavo.exe imports tavohook entries %s' % hook)
        check(all(h[2] and h[1] is None for h in hook), 'tavohook.dll is imported by name: %s' % hook)

    # Only system DLLs besides the library.
    for name in exe_imports:
        check(name in SYSTEM_DLLS or name == 'tavohook.dll', 'tavo.exe imports the non-system DLL %s' % name)
    dll_imports = imports(dll_text, expect['pointer'])
    for name in dll_imports:
        check(name in HOOK_DLLS, 'tavohook.dll imports %s; it must carry no runtime' % name)

    for f in failures:
        print('FAIL: %s' % f)
    print('checked the %s build: %s and %s: %d failure(s)' % (arch, exe, dll, len(failures)))
    return 1 if failures else 0


if __name__ == '__main__':
    sys.exit(main(sys.argv))
