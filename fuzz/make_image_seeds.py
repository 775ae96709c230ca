#!/usr/bin/env python3
"""Writes the seeds of the imagereader target into fuzz/seeds/imagereader/: a small picture of
every format the image readers take, each after the byte that picks its reader (the format
code). ImageMagick's convert, png2icns (icnsutils) and hand-written bytes (MacPaint, a linear
DNG) make them. Run after changing it; the outputs are committed."""
import os
import struct
import subprocess
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
OUT = os.path.join(HERE, "seeds", "imagereader")


def write(name, code, data):
    os.makedirs(OUT, exist_ok=True)
    with open(os.path.join(OUT, name), "wb") as f:
        f.write(bytes([code]) + data)


def convert(tmp, args, out):
    path = os.path.join(tmp, out)
    subprocess.run(["convert"] + args + [path], check=True, capture_output=True)
    with open(path, "rb") as f:
        return f.read()


def macpaint():
    # A 512-byte header, then 720 PackBits rows of 72 bytes: white with a black band.
    rows = b""
    for y in range(720):
        fill = 0xFF if 300 <= y < 320 else 0x00
        rows += bytes([257 - 72, fill])
    return bytes(512) + rows


def linear_dng(w=24, h=24):
    # A three-channel LinearRaw DNG: red left half, blue right half, sRGB primaries.
    pixels = b"".join(
        struct.pack("<3H", *((30000, 6000, 2000) if x < w // 2 else (3000, 6000, 30000)))
        for y in range(h) for x in range(w))
    def srational(v):
        return struct.pack("<ii", int(round(v * 10000)), 10000)
    matrix = b"".join(srational(v) for v in (3.2406, -1.5372, -0.4986, -0.9689, 1.8758,
                                             0.0415, 0.0557, -0.2040, 1.0570))
    neutral = b"".join(struct.pack("<II", 1, 1) for _ in range(3))
    model = b"Lumeno Seed Camera\0"
    # (tag, type, count, value bytes)
    entries = [
        (254, 4, 1, struct.pack("<I", 0)),
        (256, 4, 1, struct.pack("<I", w)),
        (257, 4, 1, struct.pack("<I", h)),
        (258, 3, 3, struct.pack("<3H", 16, 16, 16)),
        (259, 3, 1, struct.pack("<H", 1)),
        (262, 3, 1, struct.pack("<H", 34892)),
        (273, 4, 1, None),  # strip offset, filled in below
        (277, 3, 1, struct.pack("<H", 3)),
        (278, 4, 1, struct.pack("<I", h)),
        (279, 4, 1, struct.pack("<I", len(pixels))),
        (284, 3, 1, struct.pack("<H", 1)),
        (50706, 1, 4, bytes([1, 4, 0, 0])),
        (50708, 2, len(model), model),
        (50721, 10, 9, matrix),
        (50728, 5, 3, neutral),
        (50778, 3, 1, struct.pack("<H", 21)),
    ]
    ifd_size = 2 + 12 * len(entries) + 4
    extra_at = 8 + ifd_size
    extra = b""
    layout = []
    for tag, typ, count, value in entries:
        if value is not None and len(value) > 4:
            layout.append((tag, typ, count, struct.pack("<I", extra_at + len(extra))))
            extra += value + (b"\0" if len(value) % 2 else b"")
        else:
            layout.append((tag, typ, count, value))
    strip_at = extra_at + len(extra)
    ifd = struct.pack("<H", len(layout))
    for tag, typ, count, value in layout:
        if value is None:
            value = struct.pack("<I", strip_at)
        ifd += struct.pack("<HHI", tag, typ, count) + value.ljust(4, b"\0")
    ifd += struct.pack("<I", 0)
    return b"II*\0" + struct.pack("<I", 8) + ifd + extra + pixels


def main():
    with tempfile.TemporaryDirectory() as tmp:
        picture = ["-size", "12x8", "gradient:red-blue"]
        alpha = picture + ["-alpha", "set", "-channel", "A", "-evaluate", "set", "50%", "+channel"]
        write("psd", 1, convert(tmp, picture, "a.psd"))
        write("gif", 2, convert(tmp, picture + ["-colors", "8"], "a.gif"))
        write("gif-animated", 2, convert(tmp, ["-delay", "10", "-size", "6x4", "xc:red",
                                               "xc:lime", "xc:blue"], "b.gif"))
        write("jp2", 3, convert(tmp, picture, "a.jp2"))
        write("j2k", 3, convert(tmp, picture, "a.j2k"))
        write("jpeg", 4, convert(tmp, picture + ["-quality", "50"], "a.jpg"))
        write("jpeg-cmyk", 4, convert(tmp, picture + ["-colorspace", "CMYK"], "c.jpg"))
        write("exr", 5, convert(tmp, picture, "a.exr"))
        write("png", 7, convert(tmp, alpha, "a.png"))
        write("png-16bit", 7, convert(tmp, picture + ["-depth", "16"], "b.png"))
        write("tga", 9, convert(tmp, picture, "a.tga"))
        write("tiff", 10, convert(tmp, alpha + ["-compress", "lzw"], "a.tif"))
        write("tiff-two-pages", 10, convert(tmp, ["-size", "6x4", "xc:red", "xc:blue"], "b.tif"))
        write("bmp", 11, convert(tmp, picture, "a.bmp"))
        write("sgi", 12, convert(tmp, picture, "a.sgi"))
        write("pict", 14, convert(tmp, picture, "a.pict"))
        write("macpaint", 16, macpaint())
        write("ico", 18, convert(tmp, alpha, "a.ico"))
        write("xbm", 19, convert(tmp, picture + ["-monochrome"], "a.xbm"))
        write("fax-g3", 21, convert(tmp, ["-size", "40x6", "xc:white", "-fill", "black", "-draw",
                                          "rectangle 5,1 20,4"], "fax:a.g3"))
        write("dng-linear", 22, linear_dng())
        pngs = []
        for side in (16, 32):
            pngs.append(os.path.join(tmp, "i%d.png" % side))
            subprocess.run(["convert", "-size", "%dx%d" % (side, side), "gradient:red-blue",
                            "-alpha", "set", pngs[-1]], check=True)
        icns = os.path.join(tmp, "a.icns")
        subprocess.run(["png2icns", icns] + pngs, check=True, capture_output=True)
        with open(icns, "rb") as f:
            write("icns", 6, f.read())


if __name__ == "__main__":
    main()
