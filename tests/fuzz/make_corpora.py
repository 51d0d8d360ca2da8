#!/usr/bin/env python3
"""Writes the seed corpora of the fuzz targets into corpus/<target>/.

Usage: make_corpora.py QUELVISTA-CLI

Frames come from the tool's simulator (small ones: every BITPIX, colour
layout and picture format it writes), the hostile pictures of tests/data,
and a few hand-made files for what the simulator never writes (FITS
without END, flag cards, TIFF variants, old project lines, zones, settings
files, temporary stacking files). The corpora are committed; this script
documents how they were made and renews them. Each stays well under 100 KB.
"""
import os
import shutil
import struct
import subprocess
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
OUT = os.path.join(HERE, 'corpus')
HOSTILE = os.path.join(HERE, '..', 'data', 'hostile')


def put(target, name, data):
    folder = os.path.join(OUT, target)
    os.makedirs(folder, exist_ok=True)
    with open(os.path.join(folder, name), 'wb') as f:
        f.write(data)


def simulate(cli, work, tag, *args):
    out = os.path.join(work, tag)
    subprocess.run([cli, 'simulate', '--out', out, '--frames', '2', '--width', '64', '--height', '64',
                    '--stars', '4', '--seed', '3', *args], check=True, stdout=subprocess.DEVNULL)
    return out


def first_frame(folder):
    names = sorted(n for n in os.listdir(folder) if n.startswith('frame'))
    with open(os.path.join(folder, names[0]), 'rb') as f:
        return f.read()


def fits(cards, data=b''):
    head = b''.join(c.ljust(80).encode('latin-1') for c in cards)
    head += b' ' * (-len(head) % 2880)
    return head + data + b'\0' * (-len(data) % 2880)


def tiff(w, h, bits, samples, pixels, compression=1, extra=()):
    data_at = 8
    directory_at = data_at + len(pixels)
    count = 2 + 1 + (1 if compression is not None else 0) + 1 + len(extra)
    after = directory_at + 2 + 12 * count + 4
    # More than one sample: the bits of each after the directory.
    tail = struct.pack('<%dH' % samples, *([bits] * samples)) if samples > 1 else b''
    entries = [(256, 4, 1, w), (257, 4, 1, h), (258, 3, samples, after if samples > 1 else bits)]
    if compression is not None:
        entries.append((259, 3, 1, compression))
    entries.append((273, 4, 1, data_at))
    entries.extend(extra)
    table = struct.pack('<H', len(entries))
    for tag, typ, n, value in entries:
        # A short value is the low half of its four bytes.
        table += struct.pack('<HHII', tag, typ, n, value)
    return b'II' + struct.pack('<HI', 42, directory_at) + pixels + table + b'\0\0\0\0' + tail


def main():
    cli = os.path.abspath(sys.argv[1])
    shutil.rmtree(OUT, ignore_errors=True)
    with tempfile.TemporaryDirectory() as work:
        # FITS: every BITPIX, the three colour layouts.
        for bitpix in ('8', '16'):
            put('fits', 'sim_mono_%s.fts' % bitpix, first_frame(simulate(cli, work, 'f' + bitpix, '--bitpix', bitpix)))
        # The wider values on small frames: a simulated 64 x 64 frame of
        # doubles alone would be a third of the corpus.
        for bitpix, fmt in ((32, '>i'), (-32, '>f'), (-64, '>d')):
            values = b''.join(struct.pack(fmt, (i * 2654435761) % 70000 - 500) for i in range(64))
            put('fits', 'small_%s.fts' % str(bitpix).replace('-', 'm'),
                fits(['SIMPLE  = T', 'BITPIX  = %d' % bitpix, 'NAXIS   = 2', 'NAXIS1  = 8', 'NAXIS2  = 8', 'END'],
                     values))
        put('fits', 'sim_rgb.fts', first_frame(simulate(cli, work, 'rgb', '--colour', 'rgb')))
        cfa = simulate(cli, work, 'cfa', '--colour', 'cfa')
        put('fits', 'sim_cfa.fts', first_frame(cfa))
        put('fits', 'no_end.fts', fits(['SIMPLE  = T', 'BITPIX  = 16', 'NAXIS   = 2', 'NAXIS1  = 4', 'NAXIS2  = 4']))
        put('fits', 'flags.fts', fits(['SIMPLE  = T', 'BITPIX  = 16', 'NAXIS   = 2', 'NAXIS1  = 8 / cols',
                                      'NAXIS2  = 6', "READOUTM= 'RAW     '", 'XORGSUBF= 101', 'YORGSUBF= 3',
                                      "INSTRUME= 'SSDSI   '", 'BZERO   = 32768', 'END'], bytes(range(96))))
        put('fits', 'float_nan.fts', fits(['SIMPLE  = T', 'BITPIX  = -32', 'NAXIS   = 2', 'NAXIS1  = 2',
                                          'NAXIS2  = 2', 'END'], b'\x7f\xc0\0\0' + b'\x47\0\0\0' * 3))

        # TIFF: the simulator's own files and hand-made variants.
        put('tiff', 'sim_mono16.tif', first_frame(simulate(cli, work, 't16', '--format', 'tif')))
        put('tiff', 'sim_rgb.tif', first_frame(simulate(cli, work, 'trgb', '--format', 'tif', '--colour', 'rgb')))
        put('tiff', 'grey8.tif', tiff(5, 3, 8, 1, bytes(range(15))))
        put('tiff', 'rgb16.tif', tiff(2, 2, 16, 3, bytes(range(24))))
        put('tiff', 'rgba8.tif', tiff(2, 2, 8, 4, bytes(range(16))))
        put('tiff', 'no_compression.tif', tiff(2, 2, 8, 1, bytes(4), compression=None))
        put('tiff', 'two_strips.tif', tiff(4, 2, 8, 1, bytes(range(8)),
                                           extra=((278, 4, 1, 1), (279, 4, 1, 4))))

        # Pictures: the simulator's BMP and JPEG, and the hostile ones.
        put('picture', 'sim.bmp', first_frame(simulate(cli, work, 'bmp', '--format', 'bmp')))
        put('picture', 'sim.jpg', first_frame(simulate(cli, work, 'jpg', '--format', 'jpg')))
        for name in sorted(os.listdir(HOSTILE)):
            if name.endswith(('.bmp', '.jpg')):
                with open(os.path.join(HOSTILE, name), 'rb') as f:
                    put('picture', name, f.read())

        # Projects: the simulator's, one with marks and zones, and an
        # untagged file of the earliest layout.
        with open(os.path.join(cfa, 'project.txt'), 'rb') as f:
            put('project', 'sim.txt', f.read())
        zone = '0.1,0.1;0.4,0.1;0.3,0.5;S0.6,0.6;0.9,0.7;0.7,0.9;'
        lines = ['Quelvista', '16393', 'maitre.fts\tnoir.fts\tplu.fts', '1000', '3', '5\t .5\t .5\t .5\t .01',
                 ' 1.28', '100', '2', '1', '5', ' 75', '64', '1', '10', '_R\t1\t_V\t2\t_B\t4']
        for i in range(3):
            cols = ['image%d.fts' % i, '1', '-1', '0.5', '0.25', '0.774', '0.315', '3', str(i % 2), '0.1', '0.2',
                    '1', '0.3', '0.4', '0', '0.5', '0.6', '2', '0.7', '0.8', '1.5', zone if i == 1 else '']
            lines.append('\t'.join(cols) + '\t')
        put('project', 'marks_zones.txt', ('\r\n'.join(lines) + '\r\n').encode('cp1252'))
        old = ['image.fts\t1\t0\t12\t34\t56\t78\t3\t1\t', 'autre.fts\t0\t0\t0\t0\t0\t0\t0\t1\t']
        put('project', 'untagged.txt', ('\n'.join(old) + '\n').encode('cp1252'))

        # Settings files as QSettings writes them.
        keys = {'MinQual': '0.75', 'GradRatio': '5', 'InitDir': '/home/astro', 'OutDir': '/home/astro/out',
                'UseMask': '16393', 'PixRatio': '1.28', 'MaskFile': '', 'DarkFile': 'noir.fts',
                'FlatFile': '', 'PicZoom': '2', 'MaskThr': '1000', 'CalcThr': '100', 'EdgeSize': '5',
                'FovX': '0.5', 'FovY': '0.5', 'FovR': '0.5', 'FovF': '0.01', 'MaskSize': '3', 'CalcSize': '2',
                'MedianLimit': '1500', 'ColorText1': '_HA', 'ColorText2': '_SII', 'ColorText3': '_OIII',
                'ColorFilter1': '1', 'ColorFilter2': '2', 'ColorFilter3': '4', 'Expand': '1', 'Hsens': '10',
                'Project': '/home/astro/nuit.txt'}
        put('settings', 'full.ini', ('[Settings]\n' + ''.join('%s=%s\n' % kv for kv in keys.items())).encode())
        put('settings', 'comma.ini', b'[Settings]\nMinQual="0,8"\nFovX=0,25\nPixRatio=1e3\nHsens=-4\n')
        put('settings', 'odd.ini', b'[Settings]\nUseMask=@Variant(\\0\\0\\0\\x2\\0\\0\\0\\x1)\n'
                                   b'InitDir=@ByteArray(abc)\n[General]\nx=1\n')

        # Temporary stacking files: angle, box, then three planes of the
        # frame size the control bytes at the end choose (w % 40 + 1 by
        # h % 30 + 1), here 3 x 4.
        for angle, box, name in ((0.0, (0, 0, 3, 2), 'plain.bin'), (0.3, (-2, 1, 5, 6), 'turned.bin'),
                                 (float('nan'), (0, 0, 3, 2), 'nan_angle.bin')):
            head = struct.pack('<d4i', angle, *box)
            planes = struct.pack('<36i', *[(i * 997) % 4000 for i in range(36)])
            put('tempfile', name, head + planes + bytes((0x21, 0, 3, 2)))

        # Zone texts (the two control bytes at the end size the surface).
        for i, text in enumerate((zone, '0.5,0.5;', '1e300,2;0,0;1,1;', '-3,-3;4,4;0.5,-2;S;S0.2,0.2;0.2,0.2;0.2,')):
            put('zones', 'zone%d.txt' % i, text.encode() + bytes((40, 30)))


if __name__ == '__main__':
    main()
