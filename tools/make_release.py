#!/usr/bin/env python3
"""Makes the release archive of one build: tavo-<version>-win32.zip or -win64.zip, holding
tavo.exe, tavohook.dll and README.txt (Japanese and English, UTF-8 with BOM, CRLF).

usage: make_release.py VERSION ARCH TAVO_EXE TAVOHOOK_DLL README_TEMPLATE OUT_DIR     (ARCH: x86 or x64)
"""
import os
import sys
import zipfile

PLATFORMS = {'x86': 'win32', 'x64': 'win64'}
NOTES = {
    'x86': ('32 ビット版です。64 ビットの Windows では 64 ビット版をお使いください（32 ビット版も動きますが、'
            '64 ビットのアプリケーションのキー入力は tavo 自身を経由して届きます）。',
            'This is the 32-bit build, for 32-bit Windows. On 64-bit Windows use the 64-bit build: this one\n'
            'runs there too, but the key events of 64-bit applications then reach it through tavo itself.'),
    'x64': ('64 ビット版です。64 ビットの Windows でお使いください。',
            'This is the 64-bit build, for 64-bit Windows.'),
}


def archive_name(version, arch):
    return 'tavo-%s-%s.zip' % (version, PLATFORMS[arch])


def readme_text(template, version, arch):
    note_ja, note_en = NOTES[arch]
    text = (template.replace('@VERSION@', version).replace('@PLATFORM@', PLATFORMS[arch])
            .replace('@ARCH_NOTE_JA@', note_ja).replace('@ARCH_NOTE_EN@', note_en))
    return b'\xef\xbb\xbf' + text.replace('\r\n', '\n').replace('\n', '\r\n').encode('utf-8')


def make_archive(version, arch, exe, dll, template_path, out_dir):
    with open(template_path, encoding='utf-8') as f:
        readme = readme_text(f.read(), version, arch)
    os.makedirs(out_dir, exist_ok=True)
    path = os.path.join(out_dir, archive_name(version, arch))
    with zipfile.ZipFile(path + '.part', 'w', zipfile.ZIP_DEFLATED) as z:
        z.write(exe, 'tavo.exe')
        z.write(dll, 'tavohook.dll')
        z.writestr('README.txt', readme)
    os.replace(path + '.part', path)
    return path


def main(argv):
    if len(argv) != 7 or argv[2] not in PLATFORMS:
        print(__doc__, file=sys.stderr)
        return 2
    print(make_archive(*argv[1:]))
    return 0


if __name__ == '__main__':
    sys.exit(main(sys.argv))
