#!/usr/bin/env python3
"""The example program's map, as the manual shows it (docs/map.png), made again in
headless Chromium and compared loosely with the manual's picture: the same size, and the
same dominant colours in about the same shares (fonts and anti-aliasing may differ).

    screenshot.py --dis KORVANE-DIS --asm KORVANE --examples DIR --work DIR --picture docs/map.png [--update]

--update writes the new picture over the manual's. Exits 77 (skipped) without chromium.
"""
import argparse
import os
import shutil
import struct
import subprocess
import sys
import zlib

SIZE = (1280, 900)
# The band's colours (instruction, literal, text, data, unknown: may be code): the
# example's map must show each.
BAND = ["#2e6bd9", "#8fbcff", "#27ae60", "#808b96", "#e67e22"]


def run(cmd, cwd):
    r = subprocess.run(cmd, cwd=cwd, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, timeout=120)
    if r.returncode != 0:
        sys.exit("failed: %s\n%s" % (" ".join(cmd), r.stdout.decode(errors="replace")))
    return r.stdout.decode(errors="replace")


def pixels(path):
    """Width, height and the RGB triples of an 8-bit RGB or RGBA PNG."""
    data = open(path, "rb").read()
    if data[:8] != b"\x89PNG\r\n\x1a\n":
        sys.exit(path + " is not a PNG")
    at, idat, width = 8, b"", 0
    while at < len(data):
        n, kind = struct.unpack(">I4s", data[at:at + 8])
        body = data[at + 8:at + 8 + n]
        if kind == b"IHDR":
            width, height, depth, colour = struct.unpack(">IIBB", body[:10])
            if depth != 8 or colour not in (2, 6):
                sys.exit("%s: only 8-bit RGB or RGBA is read" % path)
            step = 3 if colour == 2 else 4
        elif kind == b"IDAT":
            idat += body
        at += 12 + n
    raw = zlib.decompress(idat)
    stride = width * step
    prev = bytearray(stride)
    out = []
    for y in range(height):
        f = raw[y * (stride + 1)]
        row = bytearray(raw[y * (stride + 1) + 1:(y + 1) * (stride + 1)])
        for i in range(stride):
            a = row[i - step] if i >= step else 0
            b = prev[i]
            c = prev[i - step] if i >= step else 0
            if f == 1:
                row[i] = (row[i] + a) & 255
            elif f == 2:
                row[i] = (row[i] + b) & 255
            elif f == 3:
                row[i] = (row[i] + ((a + b) >> 1)) & 255
            elif f == 4:
                p = a + b - c
                pa, pb, pc = abs(p - a), abs(p - b), abs(p - c)
                row[i] = (row[i] + (a if pa <= pb and pa <= pc else b if pb <= pc else c)) & 255
        out.extend(tuple(row[i:i + 3]) for i in range(0, stride, step))
        prev = row
    return width, height, out


def shares(px):
    """The share of each colour, to 4 bits a channel."""
    count = {}
    for r, g, b in px:
        k = (r >> 4, g >> 4, b >> 4)
        count[k] = count.get(k, 0) + 1
    return {k: v / len(px) for k, v in count.items()}


def quantised(hexcolour):
    v = int(hexcolour[1:], 16)
    return (v >> 20 & 15, v >> 12 & 15, v >> 4 & 15)


def main():
    ap = argparse.ArgumentParser()
    for a in ("--dis", "--asm", "--examples", "--work", "--picture"):
        ap.add_argument(a, required=True)
    ap.add_argument("--update", action="store_true")
    a = ap.parse_args()
    a.dis, a.asm = os.path.abspath(a.dis), os.path.abspath(a.asm)
    chromium = shutil.which("chromium")
    if chromium is None:
        print("chromium is not installed: the manual's map is not made again")
        return 77
    os.makedirs(a.work, exist_ok=True)
    shutil.copy(os.path.join(a.examples, "demo.s"), a.work)
    for f in ("demo.bin.s", "demo.html"):
        if os.path.exists(os.path.join(a.work, f)):
            os.unlink(os.path.join(a.work, f))
    run([a.asm, "demo.s"], a.work)
    run([a.dis, "demo.bin", "--base", "0x400000", "--info", os.path.join(os.path.abspath(a.examples), "demo.info"),
         "--map", "demo.html"], a.work)
    shot = os.path.join(os.path.abspath(a.work), "map.png")
    run([chromium, "--headless", "--disable-gpu", "--no-sandbox", "--hide-scrollbars", "--force-device-scale-factor=1",
         "--window-size=%d,%d" % SIZE, "--screenshot=" + shot,
         "file://" + os.path.join(os.path.abspath(a.work), "demo.html") + "#at=$40002C"], a.work)
    width, height, px = pixels(shot)
    if (width, height) != SIZE:
        sys.exit("the picture is %dx%d, not %dx%d" % (width, height, SIZE[0], SIZE[1]))
    new = shares(px)
    missing = [c for c in BAND if new.get(quantised(c), 0) < 0.002]
    if missing:
        sys.exit("the band shows none of " + ", ".join(missing))
    if a.update:
        shutil.copy(shot, a.picture)
        print("wrote " + a.picture)
        return 0
    w, h, old_px = pixels(a.picture)
    if (w, h) != (width, height):
        sys.exit("the manual's picture is %dx%d, the new one %dx%d" % (w, h, width, height))
    old = shares(old_px)
    # Every colour that covers 0.5 % of either picture covers about as much of the other.
    for k in set(c for c, s in old.items() if s >= 0.005) | set(c for c, s in new.items() if s >= 0.005):
        o, n = old.get(k, 0), new.get(k, 0)
        if abs(o - n) > max(0.01, 0.3 * max(o, n)):
            sys.exit("colour %s covers %.1f %% of the manual's picture and %.1f %% of the new one (%s): "
                     "run with --update if the page changed on purpose" % (k, 100 * o, 100 * n, shot))
    print("the example's map matches the manual's picture")
    return 0


if __name__ == "__main__":
    sys.exit(main())
