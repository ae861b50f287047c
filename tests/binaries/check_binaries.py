#!/usr/bin/env python3
"""Checks the PE tables of tavo.exe and tavohook.dll with objdump, on the build host.

usage: check_binaries.py OBJDUMP ARCH tavo.exe tavohook.dll      (ARCH: x86 or x64)
"""
import re
import struct
import subprocess
import sys
import xml.etree.ElementTree as ET

SYSTEM_DLLS = {'kernel32.dll', 'user32.dll', 'gdi32.dll', 'advapi32.dll', 'crypt32.dll', 'shell32.dll', 'ole32.dll', 'oleacc.dll',
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


RT_MANIFEST = 24
# Windows 7, 8, 8.1, and 10 with 11.
SUPPORTED_OS = {'{35138b9a-5d96-4fbd-8e2d-a2440225f93a}', '{4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38}',
                '{1f676c76-80e1-4239-95bb-83d0f6d0da78}', '{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}'}


def resource_data(path, type_id, name_id):
    """The bytes of the resource of that numeric type and name (first language), or None."""
    data = open(path, 'rb').read()
    pe = struct.unpack_from('<I', data, 0x3c)[0]
    sections, optional_size = struct.unpack_from('<H12xH', data, pe + 6)
    table = pe + 24 + optional_size
    rsrc = None
    for k in range(sections):
        name, _, rva, raw_size, raw = struct.unpack_from('<8sIIII', data, table + 40 * k)
        if name.rstrip(b'\0') == b'.rsrc':
            rsrc = (rva, raw)
    if rsrc is None:
        return None

    def entries(offset):
        named, numbered = struct.unpack_from('<12xHH', data, rsrc[1] + offset)
        for k in range(named + numbered):
            ident, target = struct.unpack_from('<II', data, rsrc[1] + offset + 16 + 8 * k)
            yield ident, target

    def child(offset, wanted):
        for ident, target in entries(offset):
            if (wanted is None or ident == wanted) and target & 0x80000000:
                return target & 0x7fffffff
            if wanted is None:
                return target
        return None

    names = child(0, type_id)
    languages = child(names, name_id) if names is not None else None
    leaf = child(languages, None) if languages is not None else None
    if leaf is None:
        return None
    rva, size = struct.unpack_from('<II', data, rsrc[1] + leaf)
    return data[rsrc[1] + rva - rsrc[0]:rsrc[1] + rva - rsrc[0] + size]


def check_manifest(path, arch):
    raw = resource_data(path, RT_MANIFEST, 1)
    if not check(raw is not None, '%s has no manifest resource 1' % path):
        return
    try:
        root = ET.fromstring(raw)
    except ET.ParseError as error:
        check(False, 'the manifest does not parse: %s' % error)
        return
    asm1, asm3 = '{urn:schemas-microsoft-com:asm.v1}', '{urn:schemas-microsoft-com:asm.v3}'
    compat = '{urn:schemas-microsoft-com:compatibility.v1}'
    found = {e.get('Id', '').lower() for e in root.iter(compat + 'supportedOS')}
    check(found == SUPPORTED_OS, 'supportedOS entries are %s, not Windows 7 to 11' % sorted(found))
    settings = {}
    for e in root.iter():
        if e.tag.endswith('}dpiAware') or e.tag.endswith('}dpiAwareness'):
            settings[e.tag] = (e.text or '').strip()
    check(settings.get('{http://schemas.microsoft.com/SMI/2005/WindowsSettings}dpiAware', '').lower() == 'true/pm',
          'dpiAware is not true/pm: %s' % settings)
    awareness = settings.get('{http://schemas.microsoft.com/SMI/2016/WindowsSettings}dpiAwareness', '')
    check([a.strip().lower() for a in awareness.split(',')] == ['permonitorv2', 'permonitor'],
          'dpiAwareness is not "PerMonitorV2, PerMonitor": %r' % awareness)
    check(any(e.tag == asm3 + 'windowsSettings' for e in root.iter()), 'no asm.v3 windowsSettings')
    controls = [e for e in root.iter(asm1 + 'assemblyIdentity') if e.get('name') == 'Microsoft.Windows.Common-Controls']
    want = 'x86' if arch == 'x86' else 'amd64'
    check(len(controls) == 1 and controls[0].get('version') == '6.0.0.0' and
          controls[0].get('processorArchitecture') in (want, '*'),
          'the manifest does not ask for Common Controls 6 for %s' % want)


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

    # The manifest: per-monitor DPI awareness, the supported systems, Common Controls 6.
    check_manifest(exe, arch)

    for f in failures:
        print('FAIL: %s' % f)
    print('checked the %s build: %s and %s: %d failure(s)' % (arch, exe, dll, len(failures)))
    return 1 if failures else 0


if __name__ == '__main__':
    sys.exit(main(sys.argv))
