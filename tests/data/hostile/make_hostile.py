#!/usr/bin/env python3
"""Writes the small files that declare pictures far larger than their bytes.

Each one is a few hundred bytes to a few kilobytes, yet its header claims a
30000 x 30000 picture: a reader that trusts the header before checking what
the file can hold asks for gigabytes. Run from this folder; the files are
committed, so this only documents how they were made.
"""
import struct

W = H = 30000


def bmp(name, bits, compression, palette, pixels, height=H):
    info = struct.pack('<IiiHHIIiiII', 40, W, height, 1, bits, compression, len(pixels), 2835, 2835,
                       len(palette) // 4, 0)
    offset = 14 + len(info) + len(palette)
    head = b'BM' + struct.pack('<IHHI', offset + len(pixels), 0, 0, offset)
    with open(name, 'wb') as f:
        f.write(head + info + palette + pixels)


def grey_palette(n):
    return b''.join(bytes((i * 255 // (n - 1),) * 3 + (0,)) for i in range(n))


# RLE8: a few runs, row ends, then the end of the picture; the rest of the
# 30000 rows is left to the decoder's default.
rle8 = b''.join(b'\xff\x80' + b'\x00\x00' for _ in range(20)) + b'\x00\x01'
bmp('rle8_30000.bmp', 8, 1, grey_palette(256), rle8)
# RLE4 with a 16-entry palette, padded to about the size of the RLE8 file.
rle4 = b''.join(b'\xff\x12' + b'\x00\x00' for _ in range(180)) + b'\x00\x01'
bmp('rle4_30000.bmp', 4, 2, grey_palette(16), rle4)
# A 24-bit picture whose pixel bytes stop after 64 bytes.
bmp('truncated_24bit_30000.bmp', 24, 0, b'', bytes(range(64)))


def segment(marker, payload):
    return b'\xff' + bytes((marker,)) + struct.pack('>H', len(payload) + 2) + payload


# A baseline JPEG, one grey component, with tables that make every 8 x 8
# block a single short code; the scan is cut after a couple of kilobytes.
quant = segment(0xDB, b'\x00' + bytes([1] * 64))
sof = segment(0xC0, struct.pack('>BHHB', 8, H, W, 1) + b'\x01\x11\x00')
# DC table: one code of length 1 for category 0; AC table: one code for EOB.
dht_dc = segment(0xC4, b'\x00' + bytes([1] + [0] * 15) + b'\x00')
dht_ac = segment(0xC4, b'\x10' + bytes([1] + [0] * 15) + b'\x00')
sos = segment(0xDA, b'\x01\x01\x00\x00\x3f\x00')
with open('jpeg_30000.jpg', 'wb') as f:
    f.write(b'\xff\xd8' + quant + sof + dht_dc + dht_ac + sos + b'\x00' * 1900 + b'\xff\xd9')
