#!/usr/bin/env python3
"""Makes this build's release archive in a scratch folder and checks what a user gets from it.

usage: check_release.py VERSION ARCH TAVO_EXE TAVOHOOK_DLL README_TEMPLATE
"""
import os
import struct
import sys
import tempfile
import zipfile

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), '..', '..', 'tools'))
import make_release  # noqa: E402

PE_MACHINE = {'x86': 0x014C, 'x64': 0x8664}
failures = []


def check(condition, message):
    if not condition:
        failures.append(message)
    return condition


def pe_machine(image):
    offset = struct.unpack_from('<I', image, 0x3C)[0]
    if image[offset:offset + 4] != b'PE\0\0':
        return None
    return struct.unpack_from('<H', image, offset + 4)[0]


def main(argv):
    if len(argv) != 6:
        print(__doc__, file=sys.stderr)
        return 2
    version, arch, exe, dll, template = argv[1:]
    with tempfile.TemporaryDirectory() as scratch:
        path = make_release.make_archive(version, arch, exe, dll, template, scratch)
        expected_name = 'tavo-%s-%s.zip' % (version, {'x86': 'win32', 'x64': 'win64'}[arch])
        check(os.path.basename(path) == expected_name, 'archive named %s, not %s' % (os.path.basename(path), expected_name))
        check(os.listdir(scratch) == [expected_name], 'the scratch folder holds %s' % os.listdir(scratch))
        with zipfile.ZipFile(path) as z:
            check(z.testzip() is None, 'a member of the archive is damaged')
            names = sorted(z.namelist())
            check(names == ['README.txt', 'tavo.exe', 'tavohook.dll'], 'the archive holds %s' % names)
            for member, built in (('tavo.exe', exe), ('tavohook.dll', dll)):
                if member not in names:
                    continue
                data = z.read(member)
                with open(built, 'rb') as f:
                    check(data == f.read(), '%s in the archive is not the built file' % member)
                check(pe_machine(data) == PE_MACHINE[arch], '%s in the archive is not an %s program' % (member, arch))
            if 'README.txt' in names:
                raw = z.read('README.txt')
                check(raw.startswith(b'\xef\xbb\xbf'), 'README.txt has no UTF-8 byte order mark for Notepad')
                check(b'\n' not in raw.replace(b'\r\n', b''), 'README.txt has a line break without CR')
                text = raw.decode('utf-8-sig')
                check('@' not in text, 'README.txt keeps a placeholder')
                check(text.startswith('tavo %s (%s)' % (version, expected_name[len('tavo-%s-' % version):-4])),
                      'README.txt does not name its version and platform: %r' % text[:40])
                for words in ('起動', '削除', 'ini.dat', 'paste.dat', 'Starting it', 'Removing it', 'tavohook.dll',
                              '保護されてはいません', 'EFS', 'scrambled, not protected', 'synced and'):
                    check(words in text, 'README.txt does not say %r' % words)
    for f in failures:
        print('FAIL: %s' % f)
    print('checked the %s release archive: %d failure(s)' % (arch, len(failures)))
    return 1 if failures else 0


if __name__ == '__main__':
    sys.exit(main(sys.argv))
