#!/usr/bin/env python3
"""Writes a small uncompressed DNG of a Bayer RGGB mosaic of known colour patches.

The camera colour space is made equal to linear sRGB (ColorMatrix1 is the XYZ -> linear sRGB
matrix), so a patch's developed colour is known in advance. The sensor is tinted by the
AsShotNeutral white (a neutral surface gives camera values proportional to it): only a developer
that applies the camera's white balance turns the grey patches neutral again.

    make_test_dng.py OUT.dng [--orientation N] [--no-neutral] [--grey-only]
                             [--width W] [--height H]

Patch layout (3 columns x 2 rows): grey, red, green / blue, white, dark grey. With --grey-only
every patch is a neutral grey of its own lightness.
"""

import argparse
import struct

# A neutral surface seen by this camera: red 0.5, green 1, blue 0.7 of the green response.
NEUTRAL = (0.5, 1.0, 0.7)
BLACK = 256
WHITE = 4095

# XYZ (D65) -> linear sRGB: the matrix LibRaw normalises to an identity camera -> sRGB transform.
XYZ_TO_SRGB = (
    (3.2404542, -1.5371385, -0.4985314),
    (-0.9692660, 1.8760108, 0.0415560),
    (0.0556434, -0.2040259, 1.0572252),
)

COLOUR_PATCHES = (
    ((0.18, 0.18, 0.18), (0.70, 0.05, 0.05), (0.05, 0.60, 0.05)),
    ((0.05, 0.05, 0.70), (1.00, 1.00, 1.00), (0.04, 0.04, 0.04)),
)
GREY_PATCHES = (
    ((0.10, 0.10, 0.10), (0.20, 0.20, 0.20), (0.30, 0.30, 0.30)),
    ((0.40, 0.40, 0.40), (0.05, 0.05, 0.05), (0.25, 0.25, 0.25)),
)

# TIFF field types
BYTE, ASCII, SHORT, LONG, RATIONAL, UNDEFINED, SRATIONAL = 1, 2, 3, 4, 5, 7, 10
TYPE_SIZE = {BYTE: 1, ASCII: 1, SHORT: 2, LONG: 4, RATIONAL: 8, UNDEFINED: 1, SRATIONAL: 8}

XMP = (
    b'<?xpacket begin="" id="W5M0MpCehiHzreSzNTczkc9d"?>'
    b'<x:xmpmeta xmlns:x="adobe:ns:meta/"><rdf:RDF '
    b'xmlns:rdf="http://www.w3.org/1999/02/22-rdf-syntax-ns#">'
    b'<rdf:Description rdf:about="" xmlns:xmp="http://ns.adobe.com/xap/1.0/" '
    b'xmp:Rating="3"/></rdf:RDF></x:xmpmeta><?xpacket end="w"?>'
)


def patch_at(patches, x, y, width, height):
    cols, rows = len(patches[0]), len(patches)
    # Patch edges on even pixels, so each patch holds whole 2x2 Bayer cells.
    col = min(cols - 1, (x // 2) * 2 * cols // width)
    row = min(rows - 1, (y // 2) * 2 * rows // height)
    return patches[row][col]


def mosaic(width, height, patches):
    """16-bit little-endian samples of an RGGB mosaic (row 0: R G R G ..., row 1: G B G B ...)."""
    out = bytearray()
    for y in range(height):
        for x in range(width):
            colour = patch_at(patches, x, y, width, height)
            channel = 0 if (y % 2, x % 2) == (0, 0) else 2 if (y % 2, x % 2) == (1, 1) else 1
            linear = colour[channel] * NEUTRAL[channel]
            out += struct.pack("<H", BLACK + round(linear * (WHITE - BLACK)))
    return bytes(out)


def rationals(values):
    denominator = 10000
    return [(round(v * denominator), denominator) for v in values]


class Ifd:
    def __init__(self):
        self.entries = []

    def add(self, tag, kind, values):
        if kind == ASCII:
            values = values.encode() + b"\0"
        self.entries.append((tag, kind, values))

    def size(self):
        return 2 + 12 * len(self.entries) + 4

    def pack(self, offset, data_offset):
        """The IFD at `offset`, with values too large for an entry placed from `data_offset`;
        returns (ifd bytes, out-of-line data bytes)."""
        head = struct.pack("<H", len(self.entries))
        data = bytearray()
        for tag, kind, values in sorted(self.entries, key=lambda e: e[0]):
            if kind in (ASCII, BYTE, UNDEFINED):
                raw = bytes(values)
                count = len(raw)
            elif kind == SHORT:
                raw = struct.pack("<%dH" % len(values), *values)
                count = len(values)
            elif kind == LONG:
                raw = struct.pack("<%dI" % len(values), *values)
                count = len(values)
            else:
                fmt = "<ii" if kind == SRATIONAL else "<II"
                raw = b"".join(struct.pack(fmt, n, d) for n, d in values)
                count = len(values)
            if len(raw) <= 4:
                field = raw.ljust(4, b"\0")
            else:
                if (data_offset + len(data)) % 2:
                    data += b"\0"
                field = struct.pack("<I", data_offset + len(data))
                data += raw
            head += struct.pack("<HHI", tag, kind, count) + field
        head += struct.pack("<I", 0)
        return head, bytes(data)


def build(width, height, orientation, neutral, grey_only):
    patches = GREY_PATCHES if grey_only else COLOUR_PATCHES
    pixels = mosaic(width, height, patches)

    exif = Ifd()
    exif.add(36867, ASCII, "2024:05:17 10:20:30")  # DateTimeOriginal
    exif.add(37386, RATIONAL, [(35, 1)])  # FocalLength

    ifd0 = Ifd()
    ifd0.add(254, LONG, [0])  # NewSubFileType: the main image
    ifd0.add(256, LONG, [width])
    ifd0.add(257, LONG, [height])
    ifd0.add(258, SHORT, [16])  # BitsPerSample
    ifd0.add(259, SHORT, [1])  # Compression: none
    ifd0.add(262, SHORT, [32803])  # PhotometricInterpretation: CFA
    ifd0.add(271, ASCII, "Quillmere")  # Make
    ifd0.add(272, ASCII, "Patch Camera")  # Model
    ifd0.add(273, LONG, [0])  # StripOffsets, set below
    ifd0.add(274, SHORT, [orientation])
    ifd0.add(277, SHORT, [1])  # SamplesPerPixel
    ifd0.add(278, LONG, [height])  # RowsPerStrip
    ifd0.add(279, LONG, [len(pixels)])  # StripByteCounts
    ifd0.add(284, SHORT, [1])  # PlanarConfiguration
    ifd0.add(306, ASCII, "2024:05:17 10:20:30")  # DateTime
    ifd0.add(700, BYTE, XMP)  # XMP packet
    ifd0.add(33421, SHORT, [2, 2])  # CFARepeatPatternDim
    ifd0.add(33422, BYTE, [0, 1, 1, 2])  # CFAPattern: R G / G B
    ifd0.add(34665, LONG, [0])  # Exif IFD, set below
    ifd0.add(50706, BYTE, [1, 4, 0, 0])  # DNGVersion
    ifd0.add(50707, BYTE, [1, 1, 0, 0])  # DNGBackwardVersion
    ifd0.add(50708, ASCII, "Quillmere Patch Camera")  # UniqueCameraModel
    ifd0.add(50710, BYTE, [0, 1, 2])  # CFAPlaneColor
    ifd0.add(50711, SHORT, [1])  # CFALayout: rectangular
    ifd0.add(50713, SHORT, [1, 1])  # BlackLevelRepeatDim
    ifd0.add(50714, SHORT, [BLACK])  # BlackLevel
    ifd0.add(50717, SHORT, [WHITE])  # WhiteLevel
    ifd0.add(50721, SRATIONAL, rationals([v for row in XYZ_TO_SRGB for v in row]))
    if neutral:
        ifd0.add(50728, RATIONAL, rationals(NEUTRAL))  # AsShotNeutral
    ifd0.add(50778, SHORT, [21])  # CalibrationIlluminant1: D65

    # Layout: header, IFD0, its data, Exif IFD, its data, pixels.
    ifd0_offset = 8
    ifd0_data = ifd0_offset + ifd0.size()
    _, data0 = ifd0.pack(ifd0_offset, ifd0_data)
    exif_offset = ifd0_data + len(data0)
    exif_offset += exif_offset % 2
    exif_data = exif_offset + exif.size()
    _, datae = exif.pack(exif_offset, exif_data)
    strip = exif_data + len(datae)
    strip += strip % 2

    ifd0.entries = [
        (t, k, [strip] if t == 273 else [exif_offset] if t == 34665 else v)
        for t, k, v in ifd0.entries
    ]
    head0, data0 = ifd0.pack(ifd0_offset, ifd0_data)
    heade, datae = exif.pack(exif_offset, exif_data)

    out = bytearray(b"II*\0" + struct.pack("<I", ifd0_offset))
    out += head0 + data0
    out += b"\0" * (exif_offset - len(out))
    out += heade + datae
    out += b"\0" * (strip - len(out))
    out += pixels
    return bytes(out)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("out")
    parser.add_argument("--orientation", type=int, default=1)
    parser.add_argument("--no-neutral", action="store_true", help="leave out AsShotNeutral")
    parser.add_argument("--grey-only", action="store_true", help="grey patches only")
    parser.add_argument("--width", type=int, default=128)
    parser.add_argument("--height", type=int, default=96)
    args = parser.parse_args()
    if args.width % 2 or args.height % 2:
        parser.error("width and height must be even (whole Bayer cells)")
    with open(args.out, "wb") as f:
        f.write(build(args.width, args.height, args.orientation, not args.no_neutral,
                      args.grey_only))


if __name__ == "__main__":
    main()
