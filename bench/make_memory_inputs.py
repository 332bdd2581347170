#!/usr/bin/env python3
"""Writes the large inputs of the memory benchmark into a folder, each only when missing:
  big.png        15000 x 15000 RGB PNG (a gradient with a fine pattern)
  big.bmp        the same size as an uncompressed 24-bit BMP
  big.tif        the same size as an uncompressed RGB TIFF in strips
  big.ppm        16000 x 16000 binary PPM (also the source of the progressive JPEG)
  batch/N.ppm    COUNT copies of big.ppm as hard links, for the batch with several threads
    make_memory_inputs.py FOLDER [COUNT]"""
import os
import struct
import sys
import zlib

W, H = 15000, 15000
PW = PH = 16000


def row(width, y):
    # Red follows x, green y, blue a fine diagonal pattern: compresses, but not to nothing.
    r = bytes((x * 255 // width) & 0xFF for x in range(0, width))
    g = bytes([y * 255 // width & 0xFF]) * width
    b = bytes(((x + y) * 7) & 0xFF for x in range(width))
    out = bytearray(width * 3)
    out[0::3], out[1::3], out[2::3] = r, g, b
    return bytes(out)


def rows(width, height):
    # Every 64th row is computed; the others repeat it with a shifted pattern to stay fast.
    cached = None
    for y in range(height):
        if y % 64 == 0:
            cached = row(width, y)
        yield cached[3 * (y % 64):] + cached[:3 * (y % 64)]


def write_png(path):
    def chunk(kind, data):
        return struct.pack(">I", len(data)) + kind + data + struct.pack(
            ">I", zlib.crc32(kind + data) & 0xFFFFFFFF)
    z = zlib.compressobj(1)
    with open(path + ".tmp", "wb") as f:
        f.write(b"\x89PNG\r\n\x1a\n")
        f.write(chunk(b"IHDR", struct.pack(">IIBBBBB", W, H, 8, 2, 0, 0, 0)))
        pending = bytearray()
        for line in rows(W, H):
            pending += z.compress(b"\x00" + line)
            if len(pending) > (1 << 20):
                f.write(chunk(b"IDAT", bytes(pending)))
                pending.clear()
        pending += z.flush()
        f.write(chunk(b"IDAT", bytes(pending)))
        f.write(chunk(b"IEND", b""))
    os.replace(path + ".tmp", path)


def write_bmp(path):
    stride = (W * 3 + 3) & ~3
    with open(path + ".tmp", "wb") as f:
        f.write(b"BM" + struct.pack("<IHHI", 54 + stride * H, 0, 0, 54))
        f.write(struct.pack("<IiiHHIIiiII", 40, W, H, 1, 24, 0, stride * H, 2835, 2835, 0, 0))
        pad = b"\x00" * (stride - W * 3)
        for line in rows(W, H):
            f.write(line + pad)
    os.replace(path + ".tmp", path)


def write_tiff(path):
    strip_rows = 16
    strips = (H + strip_rows - 1) // strip_rows
    entries = 11
    ifd = 8
    data_start = ifd + 2 + entries * 12 + 4
    bps_at = data_start
    offsets_at = bps_at + 6
    counts_at = offsets_at + 4 * strips
    pixels_at = counts_at + 4 * strips

    def entry(tag, kind, count, value):
        return struct.pack("<HHII", tag, kind, count, value)
    with open(path + ".tmp", "wb") as f:
        f.write(b"II*\x00" + struct.pack("<I", ifd))
        f.write(struct.pack("<H", entries))
        f.write(entry(256, 4, 1, W) + entry(257, 4, 1, H) + entry(258, 3, 3, bps_at) +
                entry(259, 3, 1, 1) + entry(262, 3, 1, 2) + entry(273, 4, strips, offsets_at) +
                entry(277, 3, 1, 3) + entry(278, 4, 1, strip_rows) +
                entry(279, 4, strips, counts_at) + entry(284, 3, 1, 1) + entry(296, 3, 1, 1))
        f.write(struct.pack("<I", 0))
        f.write(struct.pack("<HHH", 8, 8, 8))
        sizes = [min(strip_rows, H - s * strip_rows) * W * 3 for s in range(strips)]
        offset = pixels_at
        for size in sizes:
            f.write(struct.pack("<I", offset))
            offset += size
        for size in sizes:
            f.write(struct.pack("<I", size))
        for line in rows(W, H):
            f.write(line)
    os.replace(path + ".tmp", path)


def write_ppm(path):
    with open(path + ".tmp", "wb") as f:
        f.write(b"P6\n%d %d\n255\n" % (PW, PH))
        for line in rows(PW, PH):
            f.write(line)
    os.replace(path + ".tmp", path)


def main():
    folder = sys.argv[1]
    count = int(sys.argv[2]) if len(sys.argv) > 2 else 6
    os.makedirs(os.path.join(folder, "batch"), exist_ok=True)
    for name, write in (("big.png", write_png), ("big.bmp", write_bmp), ("big.tif", write_tiff),
                        ("big.ppm", write_ppm)):
        path = os.path.join(folder, name)
        if not os.path.exists(path):
            write(path)
    for i in range(1, count + 1):
        link = os.path.join(folder, "batch", "%d.ppm" % i)
        if not os.path.exists(link):
            os.link(os.path.join(folder, "big.ppm"), link)


if __name__ == "__main__":
    main()
