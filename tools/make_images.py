#!/usr/bin/env python3
"""Turns the text pixel art in app/res/art into .ico, .cur and .bmp files.

An art file:
    # comments and blank lines are ignored
    kind icon | cursor | bitmap
    hotspot X Y            (cursors only)
    sizes N N ...          (icons and cursors: every size to write, square)
    cell WxH               (bitmaps: one picture of a strip)
    scales P P ...         (bitmaps: strips at these percentages besides 100, as <name>_<P>.bmp;
                            a further image of that strip's size is taken as drawn)
    image WxH              (one or more; each followed by H rows of W characters)

A size that is not drawn is made from the largest drawn image that fits into it a whole number
of times: enlarged by that number, pixel for pixel, and centred in the size (a cursor stays at
the top left, its hotspot with it). A strip at P % has cells of P % of the cell, rounded; each
picture is enlarged and centred alike, on the colour of its cell's top-left pixel. Pixel art
never gets uneven pixels this way; where padding leaves a picture too small, draw that size.

Characters of a row, the 16 colours of the standard Windows palette:
    K black    R maroon   G green    Y olive    B navy   M purple  C teal    s silver
    d gray     r red      g lime     y yellow   b blue   m fuchsia c aqua    W white
    .          transparent (icons and cursors); not allowed in bitmaps

Icons come out as 32-bit images with an AND mask, cursors as monochrome
(K, W and '.' only), bitmaps as 4-bit (16 colour) DIBs.

usage: make_images.py OUTDIR ART.txt...   -> OUTDIR/<art name>.<ico|cur|bmp>
"""
import os
import struct
import sys

PALETTE = [
    ('K', 0x000000), ('R', 0x800000), ('G', 0x008000), ('Y', 0x808000),
    ('B', 0x000080), ('M', 0x800080), ('C', 0x008080), ('s', 0xC0C0C0),
    ('d', 0x808080), ('r', 0xFF0000), ('g', 0x00FF00), ('y', 0xFFFF00),
    ('b', 0x0000FF), ('m', 0xFF00FF), ('c', 0x00FFFF), ('W', 0xFFFFFF),
]
INDEX = {ch: i for i, (ch, _) in enumerate(PALETTE)}
RGB = dict(PALETTE)


class ArtError(Exception):
    pass


def parse(path):
    kind, hotspot, images = None, (0, 0), []
    options = {'sizes': [], 'scales': [], 'cell': None}
    rows_left, current = 0, None
    with open(path, encoding='utf-8') as f:
        for number, raw in enumerate(f, 1):
            line = raw.rstrip('\n')
            where = '%s:%d' % (path, number)
            if rows_left:
                if len(line) != current['w']:
                    raise ArtError('%s: row of %d characters, expected %d' % (where, len(line), current['w']))
                for ch in line:
                    if ch != '.' and ch not in RGB:
                        raise ArtError('%s: unknown colour %r' % (where, ch))
                current['rows'].append(line)
                rows_left -= 1
                continue
            line = line.strip()
            if not line or line.startswith('#'):
                continue
            words = line.split()
            if words[0] == 'kind':
                kind = words[1]
            elif words[0] == 'hotspot':
                hotspot = (int(words[1]), int(words[2]))
            elif words[0] in ('sizes', 'scales'):
                options[words[0]] = [int(v) for v in words[1:]]
            elif words[0] == 'cell':
                options['cell'] = tuple(int(v) for v in words[1].lower().split('x'))
            elif words[0] == 'image':
                w, h = (int(v) for v in words[1].lower().split('x'))
                current = {'w': w, 'h': h, 'rows': []}
                images.append(current)
                rows_left = h
            else:
                raise ArtError('%s: unknown line %r' % (where, line))
    if rows_left:
        raise ArtError('%s: image ends %d rows early' % (path, rows_left))
    if kind not in ('icon', 'cursor', 'bitmap') or not images:
        raise ArtError('%s: needs a kind and at least one image' % path)
    return kind, hotspot, images, options


def enlarge(rows, factor):
    return [''.join(ch * factor for ch in row) for row in rows for _ in range(factor)]


def fit(images, size, anchored, fill='.'):
    """The image of that square size: drawn, or made from the best drawn one. Returns (image, factor, offset)."""
    for img in images:
        if img['w'] == size and img['h'] == size:
            return img, 1, 0
    best = None
    for img in images:
        factor = size // max(img['w'], img['h'])
        if factor >= 1 and (best is None or img['w'] * factor > best[0]['w'] * best[1]):
            best = (img, factor)
    if best is None:
        raise ArtError('no drawn image fits into %dx%d' % (size, size))
    img, factor = best
    rows = enlarge(img['rows'], factor)
    inner = img['w'] * factor
    offset = 0 if anchored else (size - inner) // 2
    out = [fill * size for _ in range(size)]
    for y, row in enumerate(rows):
        out[offset + y] = fill * offset + row + fill * (size - offset - inner)
    return {'w': size, 'h': size, 'rows': out}, factor, offset


def scaled_strip(img, cell, percent):
    cw, ch = cell
    if img['w'] % cw or img['h'] != ch:
        raise ArtError('the strip is not a row of %dx%d cells' % cell)
    nw, nh = (cw * percent + 50) // 100, (ch * percent + 50) // 100
    factor = max(1, min(nw // cw, nh // ch))
    rows = [''] * nh
    for k in range(img['w'] // cw):
        picture = [row[k * cw:(k + 1) * cw] for row in img['rows']]
        fill = picture[0][0]
        big = enlarge(picture, factor)
        left, top = (nw - cw * factor) // 2, (nh - ch * factor) // 2
        for y in range(nh):
            inside = top <= y < top + ch * factor
            middle = big[y - top] if inside else fill * (cw * factor)
            rows[y] += fill * left + middle + fill * (nw - left - cw * factor)
    return {'w': len(rows[0]), 'h': nh, 'rows': rows}


def mask_rows(img):
    """AND mask, bottom-up, 1 bit per pixel, rows padded to 32 bits: 1 = transparent."""
    stride = ((img['w'] + 31) // 32) * 4
    out = b''
    for row in reversed(img['rows']):
        bits = bytearray(stride)
        for x, ch in enumerate(row):
            if ch == '.':
                bits[x // 8] |= 0x80 >> (x % 8)
        out += bytes(bits)
    return out


def icon_image(img):
    w, h = img['w'], img['h']
    header = struct.pack('<IiiHHIIiiII', 40, w, h * 2, 1, 32, 0, 0, 0, 0, 0, 0)
    pixels = b''
    for row in reversed(img['rows']):
        for ch in row:
            if ch == '.':
                pixels += b'\0\0\0\0'
            else:
                v = RGB[ch]
                pixels += struct.pack('<BBBB', v & 0xFF, (v >> 8) & 0xFF, v >> 16, 0xFF)
    return header + pixels + mask_rows(img)


def cursor_image(img):
    w, h = img['w'], img['h']
    header = struct.pack('<IiiHHIIiiII', 40, w, h * 2, 1, 1, 0, 0, 0, 0, 2, 0)
    colours = struct.pack('<II', 0x000000, 0xFFFFFF)
    stride = ((w + 31) // 32) * 4
    xor = b''
    for row in reversed(img['rows']):
        bits = bytearray(stride)
        for x, ch in enumerate(row):
            if ch not in 'KW.':
                raise ArtError('cursors take K, W and . only')
            if ch == 'W':
                bits[x // 8] |= 0x80 >> (x % 8)
        xor += bytes(bits)
    return header + colours + xor + mask_rows(img)


def directory(kind, hotspot, images, blobs):
    out = struct.pack('<HHH', 0, 1 if kind == 'icon' else 2, len(images))
    offset = 6 + 16 * len(images)
    for img, blob in zip(images, blobs):
        w, h = img['w'] % 256, img['h'] % 256
        if kind == 'icon':
            out += struct.pack('<BBBBHHII', w, h, 0, 0, 1, 32, len(blob), offset)
        else:
            spot = img.get('hotspot', hotspot)
            out += struct.pack('<BBBBHHII', w, h, 2, 0, spot[0], spot[1], len(blob), offset)
        offset += len(blob)
    return out + b''.join(blobs)


def bitmap(img):
    w, h = img['w'], img['h']
    stride = ((w * 4 + 31) // 32) * 4
    pixels = b''
    for row in reversed(img['rows']):
        line = bytearray(stride)
        for x, ch in enumerate(row):
            if ch == '.':
                raise ArtError('bitmaps have no transparent pixels')
            line[x // 2] |= INDEX[ch] << (4 if x % 2 == 0 else 0)
        pixels += bytes(line)
    palette = b''.join(struct.pack('<BBBB', v & 0xFF, (v >> 8) & 0xFF, v >> 16, 0) for _, v in PALETTE)
    info = struct.pack('<IiiHHIIiiII', 40, w, h, 1, 4, 0, len(pixels), 0, 0, 16, 16)
    offset = 14 + len(info) + len(palette)
    head = struct.pack('<2sIHHI', b'BM', offset + len(pixels), 0, 0, offset)
    return head + info + palette + pixels


def write(outdir, name, ext, data):
    target = os.path.join(outdir, '%s.%s' % (name, ext))
    with open(target, 'wb') as f:
        f.write(data)
    return target


def convert(path, outdir):
    kind, hotspot, images, options = parse(path)
    name = os.path.splitext(os.path.basename(path))[0]
    if kind == 'bitmap':
        write(outdir, name, 'bmp', bitmap(images[0]))
        for percent in options['scales']:
            if options['cell'] is None:
                raise ArtError('%s: scales need a cell' % path)
            cw, ch = options['cell']
            size = ((cw * percent + 50) // 100 * (images[0]['w'] // cw), (ch * percent + 50) // 100)
            drawn = [img for img in images[1:] if (img['w'], img['h']) == size]
            strip = drawn[0] if drawn else scaled_strip(images[0], options['cell'], percent)
            write(outdir, '%s_%d' % (name, percent), 'bmp', bitmap(strip))
        return
    anchored = kind == 'cursor'
    if options['sizes']:
        made = [fit(images, size, anchored) for size in options['sizes']]
        images = [dict(m[0], hotspot=(hotspot[0] * m[1], hotspot[1] * m[1])) for m in made]
    if kind == 'icon':
        write(outdir, name, 'ico', directory(kind, hotspot, images, [icon_image(i) for i in images]))
    else:
        write(outdir, name, 'cur', directory(kind, hotspot, images, [cursor_image(i) for i in images]))


def main(argv):
    if len(argv) < 3:
        print(__doc__, file=sys.stderr)
        return 2
    os.makedirs(argv[1], exist_ok=True)
    try:
        for path in argv[2:]:
            convert(path, argv[1])
    except ArtError as e:
        print('make_images: %s' % e, file=sys.stderr)
        return 1
    return 0


if __name__ == '__main__':
    sys.exit(main(sys.argv))
