#!/usr/bin/env python3
"""The worked example's part: a glossy metal plate with an embossed logo, a scratch and a printed
lot code, as a height map and an albedo map, and the station files that put it (and the calibration
sphere) under the built-in area-scan channel at two working distances.

    python3 make-plate.py [FOLDER]     (default: the folder of this script)

Writes maps/plate-height.png (16-bit grey, 0.1 um per level), maps/plate-albedo.png (8-bit grey),
plate-wd10.json, plate-wd40.json, sphere-wd10.json and sphere-wd40.json. Python's standard library
alone; the same files every time.

The plate, 56 x 44.8 mm at 0.05 mm per map pixel (1120 x 896), fills the camera's field of 56 mm
(wide enough for the 40 mm calibration sphere):
- its top lies 0.1 mm above the object plane (1000 levels), so that the scratch can go below it;
- the logo, a ring (radius 6 to 8 mm) around a "Z" of 1 mm strokes, stands 0.2 mm proud, with
  shoulders 0.3 mm wide (a raised cosine), centred 10 mm left of and 3 mm above the middle;
- the scratch, a V groove 0.2 mm wide and 20 um deep, runs 24 mm from lower left to upper right on
  the right half;
- the lot code, two rows of printed dots (albedo 0.2) on the plate (albedo 0.55), below the logo:
  print, not relief.
"""

import json
import math
import os
import struct
import sys
import zlib

WIDTH, HEIGHT = 1120, 896
PIXEL = 0.05  # mm per map pixel
LEVEL = 0.0001  # mm per height level
PLATE = 1000  # levels: the plate's top, 0.1 mm
LOGO = 2000  # levels above the plate: 0.2 mm
SHOULDER = 0.3  # mm
SCRATCH_DEPTH = 200  # levels: 20 um
SCRATCH_HALF_WIDTH = 0.1  # mm
PLATE_ALBEDO, INK_ALBEDO = 0.55, 0.2


def write_png(path, width, height, depth, rows):
    """A grey PNG of `depth` bits (8 or 16) from rows of integer levels, every row unfiltered."""
    raw = bytearray()
    for row in rows:
        raw.append(0)
        raw += bytes(row) if depth == 8 else struct.pack(">%dH" % width, *row)

    def chunk(kind, data):
        body = kind + data
        return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body) & 0xFFFFFFFF)

    header = struct.pack(">IIBBBBB", width, height, depth, 0, 0, 0, 0)
    with open(path, "wb") as out:
        out.write(b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) + chunk(b"IDAT", zlib.compress(bytes(raw), 9))
                  + chunk(b"IEND", b""))


def segment_distance(px, py, ax, ay, bx, by):
    dx, dy = bx - ax, by - ay
    t = max(0.0, min(1.0, ((px - ax) * dx + (py - ay) * dy) / (dx * dx + dy * dy)))
    return math.hypot(px - ax - t * dx, py - ay - t * dy)


# Millimetres from the map's centre, x to the right and y up (row 0 at the top).
LOGO_CENTRE = (-10.0, 3.0)
RING = (6.0, 8.0)
Z_STROKES = [((-3.0, 3.0), (3.0, 3.0)), ((3.0, 3.0), (-3.0, -3.0)), ((-3.0, -3.0), (3.0, -3.0))]
STROKE_HALF_WIDTH = 0.5
SCRATCH = ((4.0, -14.0), (20.0, 4.0))
LOT_CODE = [(-20.0 + 1.2 * i, -12.0 - 1.2 * r) for r in range(2) for i in range(12) if (i * 7 + r * 5) % 3 != 0]
DOT_RADIUS = 0.35


def logo_height(x, y):
    """The logo's height in levels above the plate at (x, y) mm: full inside, a raised cosine over the
    shoulder around each shape."""
    lx, ly = x - LOGO_CENTRE[0], y - LOGO_CENTRE[1]
    r = math.hypot(lx, ly)
    inside = max(RING[0] - r, r - RING[1])  # > 0 outside the ring's band
    for a, b in Z_STROKES:
        inside = min(inside, segment_distance(lx, ly, a[0], a[1], b[0], b[1]) - STROKE_HALF_WIDTH)
    if inside <= 0:
        return LOGO
    if inside >= SHOULDER:
        return 0
    return LOGO * 0.5 * (1 + math.cos(math.pi * inside / SHOULDER))


def main():
    folder = sys.argv[1] if len(sys.argv) > 1 else os.path.dirname(os.path.abspath(__file__))
    os.makedirs(os.path.join(folder, "maps"), exist_ok=True)
    heights, albedos = [], []
    for row in range(HEIGHT):
        y = (HEIGHT / 2 - row - 0.5) * PIXEL
        height_row, albedo_row = [], []
        for column in range(WIDTH):
            x = (column + 0.5 - WIDTH / 2) * PIXEL
            level = PLATE
            if abs(x - LOGO_CENTRE[0]) < RING[1] + SHOULDER and abs(y - LOGO_CENTRE[1]) < RING[1] + SHOULDER:
                level += logo_height(x, y)
            d = segment_distance(x, y, *SCRATCH[0], *SCRATCH[1])
            if d < SCRATCH_HALF_WIDTH:
                level -= SCRATCH_DEPTH * (1 - d / SCRATCH_HALF_WIDTH)
            height_row.append(int(round(level)))
            albedo = PLATE_ALBEDO
            if -14.0 < y < -11.0 and x < 0:
                for dx, dy in LOT_CODE:
                    if math.hypot(x - dx, y - dy) < DOT_RADIUS:
                        albedo = INK_ALBEDO
            albedo_row.append(int(round(albedo * 255)))
        heights.append(height_row)
        albedos.append(albedo_row)
    write_png(os.path.join(folder, "maps", "plate-height.png"), WIDTH, HEIGHT, 16, heights)
    write_png(os.path.join(folder, "maps", "plate-albedo.png"), WIDTH, HEIGHT, 8, albedos)

    plate = {"heightMap": "maps/plate-height.png", "heightScale": LEVEL, "pixelSize": PIXEL,
             "albedoMap": "maps/plate-albedo.png",
             "material": {"type": "glossy", "roughness": 0.2, "specular": 0.3}}
    camera = "GigE 00:11:1c:00:00:01"
    for name, scene_object in (("plate", plate), ("sphere", "sphere")):
        for distance in (10, 40):
            station = {
                "controllers": [{"deviceId": 3, "light": "Dome M", "domeRotation": 180,
                                 "triggerInput": {"periodMs": 100, "pulseMs": 10}}],
                "cameras": [{"name": camera, "transport": "Pleora", "scanType": "Areascan",
                             "lines": [{"name": "Line0", "mode": "Input"}, {"name": "Line1", "mode": "Output"}],
                             "scene": {"object": scene_object, "fieldOfView": 56, "workingDistance": distance}}],
                "cables": [{"controller": 3, "port": "Camera0Output0", "camera": camera, "line": "Line0"},
                           {"controller": 3, "port": "Camera0Input0", "camera": camera, "line": "Line1"}]}
            with open(os.path.join(folder, "%s-wd%d.json" % (name, distance)), "w") as out:
                json.dump(station, out, indent=2)
                out.write("\n")


if __name__ == "__main__":
    main()
