#!/usr/bin/env python3
"""Writes the small hostile inputs of the memory-bound checks: a TIFF declaring a 16384 x 16384
raster, a progressive JPEG declaring 18000 x 18000 pixels and a JPEG 2000 codestream declaring
62,500 tiles. With --sparse DIR it also creates three sparse 2 GiB files named as images.

Usage: bench/make_bounds_inputs.py OUT_DIR [--sparse DIR]
"""
import os
import struct
import subprocess
import sys
import tempfile


def tiff_huge_raster():
    # Little-endian, one 8-bit grey sample, 16384 x 16384, 1024 strips of 16 rows whose byte
    # counts claim far less than the raster needs.
    width = height = 16384
    rows = 16
    strips = height // rows
    entries = []
    offsets_at = 8 + 2 + 10 * 12 + 4
    counts_at = offsets_at + 4 * strips
    data_at = counts_at + 4 * strips
    entries.append((256, 4, 1, width))          # ImageWidth
    entries.append((257, 4, 1, height))         # ImageLength
    entries.append((258, 3, 1, 8))              # BitsPerSample
    entries.append((259, 3, 1, 1))              # Compression: none
    entries.append((262, 3, 1, 1))              # Photometric: black is zero
    entries.append((273, 4, strips, offsets_at))  # StripOffsets
    entries.append((277, 3, 1, 1))              # SamplesPerPixel
    entries.append((278, 4, 1, rows))           # RowsPerStrip
    entries.append((279, 4, strips, counts_at))   # StripByteCounts
    entries.append((284, 3, 1, 1))              # PlanarConfiguration: contiguous
    out = bytearray(b"II*\0" + struct.pack("<I", 8))
    out += struct.pack("<H", len(entries))
    for tag, kind, count, value in entries:
        packed = struct.pack("<H", value) + b"\0\0" if kind == 3 and count == 1 else struct.pack("<I", value)
        out += struct.pack("<HHI", tag, kind, count) + packed
    out += struct.pack("<I", 0)
    assert len(out) == offsets_at
    out += b"".join(struct.pack("<I", data_at + i % 4) for i in range(strips))
    out += b"".join(struct.pack("<I", 1) for _ in range(strips))
    out += bytes(256)
    return bytes(out)


def progressive_jpeg_huge():
    # A small progressive JPEG from the libjpeg-turbo encoder, its frame header then patched to
    # declare 18000 x 18000 pixels: the scans cover a corner, the buffers the whole frame.
    with tempfile.TemporaryDirectory() as tmp:
        ppm = os.path.join(tmp, "in.ppm")
        with open(ppm, "wb") as f:
            f.write(b"P6 64 64 255\n" + bytes((x * 7 + y) % 256 for y in range(64) for x in range(64 * 3)))
        data = bytearray(subprocess.run(["cjpeg", "-progressive", "-quality", "90", ppm],
                                        check=True, capture_output=True).stdout)
    sof = data.find(b"\xFF\xC2")
    assert sof > 0
    data[sof + 5:sof + 9] = struct.pack(">HH", 18000, 18000)
    return bytes(data)


def j2k_many_tiles():
    # SIZ: 250 x 250 pixels in 1 x 1 tiles (62,500 tiles), three 8-bit components.
    siz = struct.pack(">HIIIIIIIIH", 0, 250, 250, 0, 0, 1, 1, 0, 0, 3) + bytes([7, 1, 1]) * 3
    cod = struct.pack(">BBHBBBBBB", 0, 0, 1, 0, 0, 4, 4, 0, 1)
    qcd = bytes([0x40, 0x40])
    sot = struct.pack(">HIBB", 0, 0, 0, 1)
    out = b"\xFF\x4F"
    out += b"\xFF\x51" + struct.pack(">H", 2 + len(siz)) + siz
    out += b"\xFF\x52" + struct.pack(">H", 2 + len(cod)) + cod
    out += b"\xFF\x5C" + struct.pack(">H", 2 + len(qcd)) + qcd
    out += b"\xFF\x90" + struct.pack(">H", 2 + len(sot)) + sot + b"\xFF\x93" + bytes(16)
    out += b"\xFF\xD9"
    return out


def main():
    if len(sys.argv) < 2:
        sys.exit(__doc__)
    out_dir = sys.argv[1]
    os.makedirs(out_dir, exist_ok=True)
    for name, data in (("bad-huge-raster.tif", tiff_huge_raster()),
                       ("bad-huge-progressive.jpg", progressive_jpeg_huge()),
                       ("bad-many-tiles.j2k", j2k_many_tiles())):
        with open(os.path.join(out_dir, name), "wb") as f:
            f.write(data)
        print(name, len(data), "bytes")
    if "--sparse" in sys.argv:
        sparse_dir = sys.argv[sys.argv.index("--sparse") + 1]
        os.makedirs(sparse_dir, exist_ok=True)
        for name in ("sparse1.jpg", "sparse2.png", "sparse3.tif"):
            with open(os.path.join(sparse_dir, name), "wb") as f:
                f.truncate(2 << 30)


if __name__ == "__main__":
    main()
