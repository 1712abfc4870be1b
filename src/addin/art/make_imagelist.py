#!/usr/bin/env python3
"""Turns the button picture (order_mark.svg) into the stored image list of the add-in module.

    python3 make_imagelist.py            rewrite the Bitmap of ImageListRibbon in AddInModule.form
    python3 make_imagelist.py --check    exit 1 when AddInModule.form does not hold this picture
    python3 make_imagelist.py --png F    also write the picture as a PNG (F) and 8x enlarged on a
                                         checkerboard (F with "-8x" before the extension), to look at

Only the Python standard library is used, so the result is the same on every machine. The SVG
subset drawn: path (M L H V C Q Z, absolute or relative), polygon, polyline, line, rect, circle,
ellipse; fill, fill-opacity, stroke, stroke-width, stroke-opacity, opacity; strokes have round
caps and joins. Anything else is refused rather than drawn wrongly.

The stored form is the image-list stream of the common controls: the "IL" header (version
0x0101, 1 image, capacity 8, growth 4, 48 x 48, no background colour, flags 0x10FF, no overlay
images), a (48 x SLOTS) x 48 bitmap at 32 bits per pixel holding SLOTS image slots side by side
with the picture in the first (straight, not premultiplied, alpha), a mask of the same size at 1
bit per pixel (set = transparent: at most 10% opaque; its rows padded to whole 32-bit words, as
in every bitmap file), and 22 zero bytes. SLOTS is the number of images the framework writes per
row, so that the stored form is exactly what the framework writes back.
"""

import math
import os
import re
import struct
import sys
import xml.etree.ElementTree as ET
import zlib

HERE = os.path.dirname(os.path.abspath(__file__))
SVG = os.path.join(HERE, "order_mark.svg")
FORM = os.path.join(HERE, "..", "AddInModule.form")
SIZE = 48
SLOTS = 1  # images side by side in the stored bitmap
SUPERSAMPLE = 8  # samples per pixel along each axis
# The mask shows what is drawn where alpha is not honoured: pixels of more than 10% opacity, the
# rule the common controls apply when they make the mask of a picture with alpha.
MASK_ALPHA = 25


def fail(message):
    sys.exit("make_imagelist: " + message)


# ---- SVG reading ------------------------------------------------------------------------------

def parse_color(text):
    text = (text or "").strip()
    if not text or text == "none":
        return None
    named = {"black": "#000000", "white": "#FFFFFF"}
    text = named.get(text.lower(), text)
    m = re.fullmatch(r"#([0-9a-fA-F]{6})", text) or re.fullmatch(r"#([0-9a-fA-F]{3})", text)
    if not m:
        fail("unsupported colour %r" % text)
    h = m.group(1)
    if len(h) == 3:
        h = "".join(c * 2 for c in h)
    return tuple(int(h[i:i + 2], 16) / 255.0 for i in (0, 2, 4))


def numbers(text):
    return [float(v) for v in re.findall(r"[-+]?(?:\d+\.?\d*|\.\d+)(?:[eE][-+]?\d+)?", text)]


def flatten_cubic(p0, p1, p2, p3, steps=16):
    out = []
    for i in range(1, steps + 1):
        t = i / steps
        u = 1 - t
        out.append((u**3 * p0[0] + 3 * u * u * t * p1[0] + 3 * u * t * t * p2[0] + t**3 * p3[0],
                    u**3 * p0[1] + 3 * u * u * t * p1[1] + 3 * u * t * t * p2[1] + t**3 * p3[1]))
    return out


def flatten_quad(p0, p1, p2, steps=16):
    out = []
    for i in range(1, steps + 1):
        t = i / steps
        u = 1 - t
        out.append((u * u * p0[0] + 2 * u * t * p1[0] + t * t * p2[0], u * u * p0[1] + 2 * u * t * p1[1] + t * t * p2[1]))
    return out


def parse_path(d):
    """Sub-paths as (points, closed)."""
    tokens = re.findall(r"[MmLlHhVvCcQqZz]|[-+]?(?:\d+\.?\d*|\.\d+)(?:[eE][-+]?\d+)?", d)
    if re.sub(r"[MmLlHhVvCcQqZz0-9eE.,+\-\s]", "", d):
        fail("unsupported path command in %r" % d)
    subpaths, points, cur, start = [], [], (0.0, 0.0), (0.0, 0.0)
    i, cmd = 0, None

    def take(n):
        nonlocal i
        vals = [float(v) for v in tokens[i:i + n]]
        if len(vals) != n:
            fail("path ends early: %r" % d)
        i += n
        return vals

    while i < len(tokens):
        if tokens[i].isalpha():
            cmd = tokens[i]
            i += 1
            if cmd in "Zz":
                if points:
                    subpaths.append((points, True))
                points, cur = [], start
                continue
        elif cmd is None:
            fail("path must start with a command: %r" % d)
        rel = cmd.islower()
        c = cmd.upper()
        ox, oy = cur if rel else (0.0, 0.0)
        if c == "M":
            x, y = take(2)
            if points:
                subpaths.append((points, False))
            cur = start = (ox + x, oy + y)
            points = [cur]
            cmd = "l" if rel else "L"  # further pairs are line-to
        elif c == "L":
            x, y = take(2)
            cur = (ox + x, oy + y)
            points.append(cur)
        elif c == "H":
            (x,) = take(1)
            cur = ((cur[0] if rel else 0.0) + x, cur[1])
            points.append(cur)
        elif c == "V":
            (y,) = take(1)
            cur = (cur[0], (cur[1] if rel else 0.0) + y)
            points.append(cur)
        elif c == "C":
            x1, y1, x2, y2, x, y = take(6)
            end = (ox + x, oy + y)
            points.extend(flatten_cubic(cur, (ox + x1, oy + y1), (ox + x2, oy + y2), end))
            cur = end
        elif c == "Q":
            x1, y1, x, y = take(4)
            end = (ox + x, oy + y)
            points.extend(flatten_quad(cur, (ox + x1, oy + y1), end))
            cur = end
    if points:
        subpaths.append((points, False))
    return subpaths


def ellipse_points(cx, cy, rx, ry, steps=96):
    return [(cx + rx * math.cos(2 * math.pi * k / steps), cy + ry * math.sin(2 * math.pi * k / steps)) for k in range(steps)]


def shapes_of(svg_path):
    root = ET.parse(svg_path).getroot()
    ns = "{http://www.w3.org/2000/svg}"
    if root.tag != ns + "svg":
        fail("not an SVG file")
    view = numbers(root.get("viewBox", "0 0 %d %d" % (SIZE, SIZE)))
    if view != [0, 0, SIZE, SIZE]:
        fail("the picture must have viewBox=\"0 0 %d %d\"" % (SIZE, SIZE))
    shapes = []
    for el in root.iter():
        tag = el.tag.replace(ns, "")
        if tag in ("svg", "title", "desc") or not isinstance(el.tag, str):
            continue
        if tag == "g" and not el.attrib:
            continue
        if "transform" in el.attrib or "style" in el.attrib or tag == "g":
            fail("<%s>: transforms, style attributes and groups are not drawn; use plain attributes" % tag)
        g = lambda name, default=None: el.get(name, default)  # noqa: E731
        if tag == "path":
            subpaths = parse_path(g("d", ""))
        elif tag in ("polygon", "polyline"):
            v = numbers(g("points", ""))
            subpaths = [(list(zip(v[0::2], v[1::2])), tag == "polygon")]
        elif tag == "line":
            subpaths = [([(float(g("x1", 0)), float(g("y1", 0))), (float(g("x2", 0)), float(g("y2", 0)))], False)]
        elif tag == "rect":
            if g("rx") or g("ry"):
                fail("rounded rectangles are not drawn")
            x, y, w, h = (float(g(k, 0)) for k in ("x", "y", "width", "height"))
            subpaths = [([(x, y), (x + w, y), (x + w, y + h), (x, y + h)], True)]
        elif tag == "circle":
            r = float(g("r", 0))
            subpaths = [(ellipse_points(float(g("cx", 0)), float(g("cy", 0)), r, r), True)]
        elif tag == "ellipse":
            subpaths = [(ellipse_points(float(g("cx", 0)), float(g("cy", 0)), float(g("rx", 0)), float(g("ry", 0))), True)]
        else:
            fail("<%s> is not drawn" % tag)
        opacity = float(g("opacity", 1))
        fill = parse_color(g("fill", "#000000"))
        stroke = parse_color(g("stroke", "none"))
        if fill:
            shapes.append(("fill", subpaths, fill, opacity * float(g("fill-opacity", 1)), 0.0))
        if stroke:
            shapes.append(("stroke", subpaths, stroke, opacity * float(g("stroke-opacity", 1)), float(g("stroke-width", 1))))
    return shapes


# ---- drawing ----------------------------------------------------------------------------------

def inside(px, py, subpaths):
    winding = 0
    for pts, _ in subpaths:
        n = len(pts)
        for k in range(n):
            (x0, y0), (x1, y1) = pts[k], pts[(k + 1) % n]
            cross = (x1 - x0) * (py - y0) - (px - x0) * (y1 - y0)
            if y0 <= py < y1 and cross > 0:
                winding += 1
            elif y1 <= py < y0 and cross < 0:
                winding -= 1
    return winding != 0


def segments(subpaths):
    out = []
    for pts, closed in subpaths:
        if len(pts) == 1:
            out.append((pts[0], pts[0]))
        for k in range(len(pts) - 1):
            out.append((pts[k], pts[k + 1]))
        if closed and len(pts) > 2:
            out.append((pts[-1], pts[0]))
    return out


def near(px, py, segs, r2):
    for (x0, y0), (x1, y1) in segs:
        dx, dy = x1 - x0, y1 - y0
        ll = dx * dx + dy * dy
        t = 0.0 if ll == 0 else max(0.0, min(1.0, ((px - x0) * dx + (py - y0) * dy) / ll))
        ex, ey = x0 + t * dx - px, y0 + t * dy - py
        if ex * ex + ey * ey <= r2:
            return True
    return False


def render(shapes):
    """Straight-alpha RGBA floats, row by row from the top."""
    prem = [[0.0, 0.0, 0.0, 0.0] for _ in range(SIZE * SIZE)]
    n = SUPERSAMPLE
    offsets = [(k + 0.5) / n for k in range(n)]
    for kind, subpaths, color, alpha, width in shapes:
        pts = [p for sp, _ in subpaths for p in sp]
        pad = width / 2 + 1
        x0 = max(0, int(min(p[0] for p in pts) - pad))
        x1 = min(SIZE, int(max(p[0] for p in pts) + pad) + 1)
        y0 = max(0, int(min(p[1] for p in pts) - pad))
        y1 = min(SIZE, int(max(p[1] for p in pts) + pad) + 1)
        segs = segments(subpaths)
        r2 = (width / 2) ** 2
        for y in range(y0, y1):
            for x in range(x0, x1):
                hits = 0
                for oy in offsets:
                    for ox in offsets:
                        sx, sy = x + ox, y + oy
                        if (inside(sx, sy, subpaths) if kind == "fill" else near(sx, sy, segs, r2)):
                            hits += 1
                a = alpha * hits / (n * n)
                if a <= 0:
                    continue
                px = prem[y * SIZE + x]
                for c in range(3):
                    px[c] = color[c] * a + px[c] * (1 - a)
                px[3] = a + px[3] * (1 - a)
    out = []
    for r, g, b, a in prem:
        out.append((r / a, g / a, b / a, a) if a > 0 else (0.0, 0.0, 0.0, 0.0))
    return out


# ---- the image-list stream --------------------------------------------------------------------

def to_byte(v):
    return max(0, min(255, int(round(v * 255))))


def bitmap_file(width, height, bit_count, rows_bottom_up, palette=b""):
    data = b"".join(rows_bottom_up)
    info = struct.pack("<IiiHHIIiiII", 40, width, height, 1, bit_count, 0, len(data), 0, 0, 0, 0)
    offset = 14 + len(info) + len(palette)
    header = struct.pack("<2sIHHI", b"BM", offset + len(data), 0, 0, offset)
    return header + info + palette + data


def image_list_stream(pixels):
    wide = SIZE * SLOTS
    header = struct.pack("<2sHHHHHHIH4h", b"IL", 0x0101, 1, 8, 4, SIZE, SIZE, 0xFFFFFFFF, 0x10FF, -1, -1, -1, -1)
    colour_rows, mask_rows = [], []
    for y in reversed(range(SIZE)):
        row = bytearray(wide * 4)
        mask = bytearray((wide + 31) // 32 * 4)  # DIB rows are whole 32-bit words
        for x in range(wide):
            if x < SIZE:
                r, g, b, a = pixels[y * SIZE + x]
                if to_byte(a):
                    row[x * 4:x * 4 + 4] = bytes((to_byte(b), to_byte(g), to_byte(r), to_byte(a)))
                if to_byte(a) > MASK_ALPHA:
                    continue
            mask[x // 8] |= 0x80 >> (x % 8)  # transparent, and the unused slots too
        colour_rows.append(bytes(row))
        mask_rows.append(bytes(mask))
    palette = bytes((0, 0, 0, 0, 255, 255, 255, 0))
    return (header + bitmap_file(wide, SIZE, 32, colour_rows) + bitmap_file(wide, SIZE, 1, mask_rows, palette)
            + bytes(22))


# ---- the stored configuration -----------------------------------------------------------------

BLOCK = re.compile(r"(object ImageListRibbon: TImageList\n(?:(?!\n  end\n).)*?\n(\s*)Bitmap = \{)([0-9A-Fa-f\s]*)(\})",
                   re.S)


def form_hex(data, indent):
    lines = [data[i:i + 32].hex().upper() for i in range(0, len(data), 32)]
    return "".join("\n" + indent + "  " + line for line in lines)


def stored_bytes(form_text):
    m = BLOCK.search(form_text)
    if not m:
        fail("no Bitmap of ImageListRibbon in AddInModule.form")
    return bytes.fromhex(re.sub(r"\s", "", m.group(3))), m


# ---- preview ----------------------------------------------------------------------------------

def write_png(path, width, height, rgba_rows):
    raw = b"".join(b"\x00" + bytes(row) for row in rgba_rows)

    def chunk(kind, data):
        return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data) & 0xFFFFFFFF)

    with open(path, "wb") as f:
        f.write(b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, 6, 0, 0, 0))
                + chunk(b"IDAT", zlib.compress(raw, 9)) + chunk(b"IEND", b""))


def previews(path, pixels):
    rows = [[v for x in range(SIZE) for v in (*(to_byte(c) for c in pixels[y * SIZE + x][:3]), to_byte(pixels[y * SIZE + x][3]))]
            for y in range(SIZE)]
    write_png(path, SIZE, SIZE, rows)
    scale = 8
    big = []
    for y in range(SIZE * scale):
        row = []
        for x in range(SIZE * scale):
            r, g, b, a = pixels[(y // scale) * SIZE + x // scale]
            bg = 0.85 if ((x // 16) + (y // 16)) % 2 else 1.0
            row += [to_byte(c * a + bg * (1 - a)) for c in (r, g, b)] + [255]
        big.append(row)
    stem, ext = os.path.splitext(path)
    write_png(stem + "-8x" + (ext or ".png"), SIZE * scale, SIZE * scale, big)


def main(argv):
    check = "--check" in argv
    png = argv[argv.index("--png") + 1] if "--png" in argv else None
    pixels = render(shapes_of(SVG))
    stream = image_list_stream(pixels)
    if png:
        previews(png, pixels)
    with open(FORM, newline="") as f:
        text = f.read()
    current, m = stored_bytes(text)
    if check:
        if current != stream:
            print("AddInModule.form does not hold order_mark.svg: run src/addin/art/make_imagelist.py", file=sys.stderr)
            return 1
        print("stored image list matches order_mark.svg")
        return 0
    if current != stream:
        text = text[:m.start(3)] + form_hex(stream, m.group(2)) + text[m.end(3):]
        with open(FORM, "w", newline="") as f:
            f.write(text)
        print("AddInModule.form updated (%d bytes of image list)" % len(stream))
    else:
        print("AddInModule.form already up to date")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
