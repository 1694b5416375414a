#!/usr/bin/env python3
"""usage: svg_check.py FILE.svg [FILE.png [NAME=#RRGGBB ...]]
Checks a bitrate picture: the SVG parsed as XML and self-contained; the PNG a renderer made
of it. Prints "problem: TEXT" for each fault, "title: HEX" (the <title> as UTF-8 in hex),
"png: WIDTH HEIGHT COLOURS", and "drawn: NAME ..." for the colours given that cover more
pixels than a 12 x 12 legend swatch: the solid areas drawn in them."""
import struct
import sys
import xml.etree.ElementTree as ET
import zlib

SVG = "{http://www.w3.org/2000/svg}"
GENERIC_FONTS = {"serif", "sans-serif", "monospace", "cursive", "fantasy", "system-ui"}


def check_svg(path):
    root = ET.parse(path).getroot()
    if root.tag != SVG + "svg":
        print("problem: the root is", root.tag)
    for element in root.iter():
        if element.tag in (SVG + "script", SVG + "image", SVG + "foreignObject", SVG + "style"):
            print("problem: a", element.tag, "element")
        for name, value in element.attrib.items():
            if name.endswith("href") or "url(" in value or name.startswith("on"):
                print("problem: attribute", name, "=", value)
            if name == "font-family" and value not in GENERIC_FONTS:
                print("problem: font", value)
    title = root.find(SVG + "title")
    print("title:", (title.text or "").encode("utf-8").hex() if title is not None else "")


def paeth(a, b, c):
    p = a + b - c
    pa, pb, pc = abs(p - a), abs(p - b), abs(p - c)
    return a if pa <= pb and pa <= pc else b if pb <= pc else c


def png_pixels(path):
    data = open(path, "rb").read()
    if data[:8] != b"\x89PNG\r\n\x1a\n":
        raise ValueError("not a PNG")
    at, idat = 8, b""
    while at < len(data):
        length, kind = struct.unpack(">I4s", data[at:at + 8])
        body = data[at + 8:at + 8 + length]
        if kind == b"IHDR":
            width, height, depth, colour_type, _, _, interlace = struct.unpack(">IIBBBBB", body)
        elif kind == b"IDAT":
            idat += body
        at += 12 + length
    if depth != 8 or colour_type not in (2, 6) or interlace != 0:
        raise ValueError("PNG of a kind not read here: depth %d, colour type %d" % (depth, colour_type))
    step = 4 if colour_type == 6 else 3
    raw, stride, rows, previous = zlib.decompress(idat), width * step, [], bytearray(width * step)
    for y in range(height):
        kind, line = raw[y * (stride + 1)], bytearray(raw[y * (stride + 1) + 1:(y + 1) * (stride + 1)])
        for i in range(stride):
            a = line[i - step] if i >= step else 0
            b, c = previous[i], previous[i - step] if i >= step else 0
            line[i] = (line[i] + (0, a, b, (a + b) // 2, paeth(a, b, c))[kind]) & 0xFF
        rows.append(line)
        previous = line
    pixels = [bytes(r[x:x + 3]) for r in rows for x in range(0, stride, step)]
    return width, height, pixels


def main():
    check_svg(sys.argv[1])
    if len(sys.argv) < 3:
        return
    width, height, pixels = png_pixels(sys.argv[2])
    counts = {}
    for p in pixels:
        counts[p] = counts.get(p, 0) + 1
    print("png:", width, height, len(counts))
    named = [a.split("=#") for a in sys.argv[3:]]
    print("drawn:", " ".join(name for name, rgb in named if counts.get(bytes.fromhex(rgb), 0) > 300))


if __name__ == "__main__":
    main()
