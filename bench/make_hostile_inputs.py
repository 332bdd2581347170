#!/usr/bin/env python3
"""Writes small files whose headers claim sizes no decoder should try to honour, one per case,
named by what they are. Each is a few KB at most; the loader must refuse every one of them
quickly and without allocating what the header asks for (bench/hostile_sizes.cpp measures it).

    make_hostile_inputs.py OUT_DIR [--side N]

--side N writes the same files declaring N x N instead (the WebP lossless cases keep 16384 and
the canvases follow N), to check that a decoder refuses them for their size and not for a fault
of their layout. At --side 64 the loader decodes every case except huge.webp (malformed at any
size, see below), huge.heic (its HEVC stream is larger than the rewritten ispe) and huge.jxl (no
frame follows the headers); the library tools below show those three declare the huge size.

The declared sizes were checked with the libraries' own tools:
  huge.jpg           rdjpgcom -verbose: 60000w * 60000h, 1 color component, baseline
  huge.png           60000 x 60000 RGB 8-bit IHDR (the CRCs are right)
  truncated-idat-billion.png  16 x 16 IHDR, then an IDAT whose length field says 1,000,000,000
                     and a file that ends after a few bytes of it (decoded as far as it goes)
  huge.tif           tiffinfo: Image Width: 60000 Image Length: 60000, one strip of 16 bytes
                     (libtiff calls the byte count bogus and takes the raster's 3.6 GB instead)
  huge.j2k           opj_dump: x1=60000, y1=60000, one tile of 60000 x 60000, 3 components
  huge.webp          webpinfo: VP8X canvas 60000 x 60000 holding a VP8L 16384 x 16384 frame
                     ("Errors detected": a still image must fill its canvas, and no VP8 or VP8L
                     frame can be 60000 wide, so the huge still canvas is always malformed)
  huge-anim.webp     webpinfo: animated VP8X canvas 60000 x 60000 with a 1 x 1 frame
  huge-vp8l.webp     webpinfo/dwebp: lossless 16384 x 16384 whose stream ends after the header
  bomb-vp8l.webp     dwebp: a complete lossless 16384 x 16384 image of one colour in 32 bytes
  bomb-anim.webp     webpinfo: animated VP8X canvas 16384 x 16384 with a 1 x 1 frame (valid)
  huge.avif          the ispe of exif_prefixed.avif rewritten; avifdec --info: "Item ID [1]
                     dimensions are too large [60000x60000]"
  huge.heic          the ispe of goldenears_rot90.heic rewritten; heif-info: "Image size
                     60000x60000 exceeds the maximum image size 32768x32768"
  huge.jxl           jxlinfo: JPEG XL image, 60000x60000, lossy, 8-bit RGB (no frame follows)
  huge.dng           raw-identify -v: Full size: 60000 x 60000; 64 bytes of sensor data
  huge.bmp/.tga/.gif/.pcx/.ppm/.ico  headers laid out by hand below (no library tool reads them)
and tests/data/bounds/* are copied in as they are.
"""
import os
import shutil
import struct
import sys
import zlib

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(HERE)
sys.path.insert(0, os.path.join(ROOT, "tools"))
import make_test_dng  # noqa: E402

HUGE = 60000


def be16(v):
    return struct.pack(">H", v)


def be32(v):
    return struct.pack(">I", v)


# JPEG ---------------------------------------------------------------------------------------

def marker_segment(code, payload):
    return bytes([0xFF, code]) + be16(len(payload) + 2) + payload


def jpeg_huge():
    # Baseline, one grey component. One quantisation table of ones; DC and AC tables with a
    # single one-bit code each (DC difference 0, end of block), so a zero byte is two blocks.
    dqt = marker_segment(0xDB, b"\x00" + b"\x01" * 64)
    sof = marker_segment(0xC0, b"\x08" + be16(HUGE) + be16(HUGE) + b"\x01" + b"\x01\x11\x00")
    one_code = b"\x01" + b"\x00" * 15 + b"\x00"
    dht = marker_segment(0xC4, b"\x00" + one_code + b"\x10" + one_code)
    sos = marker_segment(0xDA, b"\x01\x01\x00\x00\x3F\x00")
    return b"\xFF\xD8" + dqt + sof + dht + sos + b"\x00" * 64 + b"\xFF\xD9"


# PNG ----------------------------------------------------------------------------------------

def png_chunk(kind, data, length=None):
    crc = zlib.crc32(kind + data) & 0xFFFFFFFF
    return be32(len(data) if length is None else length) + kind + data + be32(crc)


PNG_SIGNATURE = b"\x89PNG\r\n\x1a\n"


def png_huge():
    # 60000 x 60000 RGB whose IDAT holds only the first row's start.
    ihdr = png_chunk(b"IHDR", struct.pack(">IIBBBBB", HUGE, HUGE, 8, 2, 0, 0, 0))
    idat = png_chunk(b"IDAT", zlib.compress(b"\x00" * 1024))
    return PNG_SIGNATURE + ihdr + idat + png_chunk(b"IEND", b"")


def png_idat_billion():
    ihdr = png_chunk(b"IHDR", struct.pack(">IIBBBBB", 16, 16, 8, 2, 0, 0, 0))
    # The length field claims 1,000,000,000 bytes; the file ends after a few of them.
    return PNG_SIGNATURE + ihdr + be32(1_000_000_000) + b"IDAT" + zlib.compress(b"\x00" * 64)


# BMP, TGA, PCX, PPM, GIF, ICO ---------------------------------------------------------------

def bmp_huge():
    # BITMAPINFOHEADER, 24-bit, bottom-up, uncompressed; 64 bytes of pixels.
    pixels = b"\x80" * 64
    info = struct.pack("<IiiHHIIiiII", 40, HUGE, HUGE, 1, 24, 0, 0, 2835, 2835, 0, 0)
    head = b"BM" + struct.pack("<IHHI", 14 + 40 + len(pixels), 0, 0, 14 + 40)
    return head + info + pixels


def tga_huge():
    # Uncompressed true colour, 24-bit, top-left origin.
    head = struct.pack("<BBBHHBHHHHBB", 0, 0, 2, 0, 0, 0, 0, 0, HUGE, HUGE, 24, 0x20)
    return head + b"\x80" * 64


def pcx_huge():
    # Version 5, RLE, three 8-bit planes of 60000 bytes a line.
    head = struct.pack("<BBBBHHHHHH", 10, 5, 1, 8, 0, 0, HUGE - 1, HUGE - 1, 72, 72)
    head += b"\x00" * 48 + b"\x00" + b"\x03" + struct.pack("<HHHH", HUGE, 1, 0, 0)
    head += b"\x00" * (128 - len(head))
    return head + b"\xC1\x80" * 32


def ppm_huge():
    return b"P6\n%d %d\n255\n" % (HUGE, HUGE) + b"\x80" * 64


def gif_huge():
    # Logical screen and one frame of 60000 x 60000, a two-colour table and a one-pixel stream.
    screen = b"GIF89a" + struct.pack("<HHBBB", HUGE, HUGE, 0x80, 0, 0) + b"\x00\x00\x00\xFF\xFF\xFF"
    frame = b"\x2C" + struct.pack("<HHHHB", 0, 0, HUGE, HUGE, 0)
    lzw = b"\x02\x02\x44\x01\x00"  # minimum code size 2: clear, 0, end
    return screen + frame + lzw + b"\x3B"


def ico_huge():
    # One entry (0 x 0 in the directory means 256) holding a PNG of 60000 x 60000.
    png = png_huge()
    head = struct.pack("<HHH", 0, 1, 1)
    entry = struct.pack("<BBBBHHII", 0, 0, 0, 0, 1, 32, len(png), 6 + 16)
    return head + entry + png


# TIFF ---------------------------------------------------------------------------------------

def tiff_huge():
    # 8-bit grey 60000 x 60000 in one strip whose byte count is 16.
    entries = [
        (256, 4, 1, HUGE),  # ImageWidth
        (257, 4, 1, HUGE),  # ImageLength
        (258, 3, 1, 8),  # BitsPerSample
        (259, 3, 1, 1),  # Compression: none
        (262, 3, 1, 1),  # Photometric: black is zero
        (273, 4, 1, 0),  # StripOffsets, set below
        (277, 3, 1, 1),  # SamplesPerPixel
        (278, 4, 1, HUGE),  # RowsPerStrip
        (279, 4, 1, 16),  # StripByteCounts
    ]
    data_at = 8 + 2 + 12 * len(entries) + 4
    out = b"II*\x00" + struct.pack("<IH", 8, len(entries))
    for tag, kind, count, value in entries:
        value = data_at if tag == 273 else value
        field = struct.pack("<HH", value, 0) if kind == 3 else struct.pack("<I", value)
        out += struct.pack("<HHI", tag, kind, count) + field
    return out + struct.pack("<I", 0) + b"\x80" * 16


# JPEG 2000 ----------------------------------------------------------------------------------

def j2k_huge():
    # Codestream: 60000 x 60000, one tile the size of the image, three 8-bit components, five
    # reversible decomposition levels; the tile's data is a few zero bytes.
    comps = 3
    siz = be16(0) + be32(HUGE) * 2 + be32(0) * 2 + be32(HUGE) * 2 + be32(0) * 2 + be16(comps)
    siz += b"\x07\x01\x01" * comps
    cod = b"\x00" + b"\x00" + be16(1) + b"\x00" + b"\x05\x04\x04\x00\x01"
    qcd = b"\x40" + bytes([8 << 3] * 16)
    body = b"\x00" * 32
    sot = be16(0) + be32(12 + 2 + len(body)) + b"\x00\x01"
    return (b"\xFF\x4F" + marker_segment(0x51, siz) + marker_segment(0x52, cod) +
            marker_segment(0x5C, qcd) + marker_segment(0x90, sot) + b"\xFF\x93" + body +
            b"\xFF\xD9")


# WebP ---------------------------------------------------------------------------------------

class BitWriter:
    """Bits packed least significant first, as VP8L and JPEG XL store them."""

    def __init__(self):
        self.value = 0
        self.count = 0

    def put(self, bits, value):
        self.value |= (value & ((1 << bits) - 1)) << self.count
        self.count += bits

    def bytes(self):
        return self.value.to_bytes((self.count + 7) // 8, "little")


def riff_chunk(kind, data):
    return kind + struct.pack("<I", len(data)) + data + (b"\x00" if len(data) % 2 else b"")


def riff_webp(chunks):
    body = b"WEBP" + b"".join(chunks)
    return b"RIFF" + struct.pack("<I", len(body)) + body


def vp8l_header(width, height):
    bits = BitWriter()
    bits.put(8, 0x2F)
    bits.put(14, width - 1)
    bits.put(14, height - 1)
    bits.put(1, 0)  # no alpha
    bits.put(3, 0)  # version
    return bits


def vp8l_truncated(width, height):
    # The header, then a stream of zero bits: no transform, no cache, no meta codes, then a
    # code-length code of all zero lengths (invalid) - a decoder must stop there.
    return vp8l_header(width, height).bytes() + b"\x00" * 8


def vp8l_one_colour(width, height):
    # No transform, no colour cache, no meta codes, then five simple codes of the one symbol 0:
    # every pixel takes zero bits, so the whole image is black and transparent.
    bits = vp8l_header(width, height)
    bits.put(1, 0)  # no transform
    bits.put(1, 0)  # no colour cache
    bits.put(1, 0)  # no meta prefix codes
    for _ in range(5):
        bits.put(1, 1)  # simple code
        bits.put(1, 0)  # one symbol
        bits.put(1, 0)  # of one bit
        bits.put(1, 0)  # symbol 0
    return bits.bytes() + b"\x00" * 4


def vp8x(flags, width, height):
    return riff_chunk(b"VP8X", struct.pack("<I", flags) + (width - 1).to_bytes(3, "little") +
                      (height - 1).to_bytes(3, "little"))


def webp_huge():
    return riff_webp([vp8x(0, HUGE, HUGE), riff_chunk(b"VP8L", vp8l_truncated(16384, 16384))])


def webp_animation(side):
    # Animated canvas of side x side; one 1 x 1 lossless frame at its corner.
    anim = riff_chunk(b"ANIM", b"\x00\x00\x00\x00" + struct.pack("<H", 0))
    frame = vp8l_one_colour(1, 1)
    anmf = riff_chunk(b"ANMF", b"\x00" * 6 + b"\x00\x00\x00" + b"\x00\x00\x00" +
                      (100).to_bytes(3, "little") + b"\x00" + riff_chunk(b"VP8L", frame))
    return riff_webp([vp8x(0x02, side, side), anim, anmf])


def webp_huge_vp8l():
    return riff_webp([riff_chunk(b"VP8L", vp8l_truncated(16384, 16384))])


def webp_bomb_vp8l():
    return riff_webp([riff_chunk(b"VP8L", vp8l_one_colour(16384, 16384))])


# AVIF, HEIF ---------------------------------------------------------------------------------

def ispe_rewritten(path):
    # Every ispe box (size, 'ispe', version and flags, width, height) declares 60000 x 60000.
    data = bytearray(open(path, "rb").read())
    at = data.find(b"ispe")
    found = 0
    while at >= 4:
        struct.pack_into(">II", data, at + 8, HUGE, HUGE)
        found += 1
        at = data.find(b"ispe", at + 4)
    if not found:
        raise SystemExit("no ispe box in " + path)
    return bytes(data)


# JPEG XL ------------------------------------------------------------------------------------

def jxl_u32_18(bits, value):
    # U32(..., ..., BitsOffset(18, 1), ...): selector 2, then value - 1 in 18 bits.
    bits.put(2, 2)
    bits.put(18, value - 1)


def jxl_huge():
    # Bare codestream: signature, a SizeHeader (not small, height then ratio 0 and width) of
    # 60000 x 60000, ImageMetadata all_default, then zero bytes where the frame would be.
    bits = BitWriter()
    bits.put(8, 0xFF)
    bits.put(8, 0x0A)
    bits.put(1, 0)  # small: no
    jxl_u32_18(bits, HUGE)  # height
    bits.put(3, 0)  # ratio: width is stored
    jxl_u32_18(bits, HUGE)  # width
    bits.put(1, 1)  # ImageMetadata.all_default
    return bits.bytes() + b"\x00" * 32


# DNG ----------------------------------------------------------------------------------------

def dng_huge():
    # The test DNG's layout with an IFD claiming 60000 x 60000 (one strip of all its rows) but
    # 64 bytes of sensor data; a side small enough for a few KB gets all of its data.
    original = make_test_dng.mosaic
    samples = HUGE * HUGE if HUGE * HUGE <= 4096 else 32
    make_test_dng.mosaic = lambda width, height, patches: b"\x00\x01" * samples
    try:
        return make_test_dng.build(HUGE, HUGE, 1, True, False)
    finally:
        make_test_dng.mosaic = original


def main():
    global HUGE
    args = sys.argv[1:]
    if len(args) == 3 and args[1] == "--side":
        HUGE = int(args.pop())
        args.pop()
    if len(args) != 1:
        raise SystemExit(__doc__)
    out = args[0]
    os.makedirs(out, exist_ok=True)
    data = os.path.join(ROOT, "tests", "data")
    files = {
        "huge.jpg": jpeg_huge(),
        "huge.png": png_huge(),
        "truncated-idat-billion.png": png_idat_billion(),
        "huge.bmp": bmp_huge(),
        "huge.tga": tga_huge(),
        "huge.tif": tiff_huge(),
        "huge.gif": gif_huge(),
        "huge.pcx": pcx_huge(),
        "huge.ppm": ppm_huge(),
        "huge.ico": ico_huge(),
        "huge.j2k": j2k_huge(),
        "huge.webp": webp_huge(),
        "huge-anim.webp": webp_animation(HUGE),
        "bomb-anim.webp": webp_animation(16384),
        "huge-vp8l.webp": webp_huge_vp8l(),
        "bomb-vp8l.webp": webp_bomb_vp8l(),
        "huge.avif": ispe_rewritten(os.path.join(data, "avif", "exif_prefixed.avif")),
        "huge.heic": ispe_rewritten(os.path.join(data, "heif", "goldenears_rot90.heic")),
        "huge.jxl": jxl_huge(),
        "huge.dng": dng_huge(),
    }
    for name, content in files.items():
        with open(os.path.join(out, name), "wb") as f:
            f.write(content)
    bounds = os.path.join(data, "bounds")
    for name in sorted(os.listdir(bounds)):
        shutil.copyfile(os.path.join(bounds, name), os.path.join(out, name))


if __name__ == "__main__":
    main()
