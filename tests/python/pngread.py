"""A small reader of the PNG files zeb writes (grey or RGB, 8 or 16 bits, not interlaced), for
comparing them with the arrays: the tests check zeb's files against an independent reader."""

from __future__ import annotations

import struct
import zlib
from pathlib import Path
from typing import Dict, Tuple

import numpy as np


def read_png(path: Path) -> Tuple[np.ndarray, Dict[str, str]]:
    """The samples, (height, width) or (height, width, 3), and the tEXt/iTXt chunks."""
    data = Path(path).read_bytes()
    assert data[:8] == b"\x89PNG\r\n\x1a\n", path
    at, idat, texts = 8, b"", {}
    width = height = depth = colour = 0
    while at < len(data):
        length, kind = struct.unpack(">I4s", data[at:at + 8])
        body = data[at + 8:at + 8 + length]
        at += 12 + length
        if kind == b"IHDR":
            width, height, depth, colour, _, _, interlace = struct.unpack(">IIBBBBB", body)
            assert interlace == 0
        elif kind == b"IDAT":
            idat += body
        elif kind == b"tEXt":
            key, value = body.split(b"\0", 1)
            texts[key.decode("latin-1")] = value.decode("latin-1")
        elif kind == b"iTXt":
            key, rest = body.split(b"\0", 1)
            rest = rest[2:]  # compression flag and method
            _, rest = rest.split(b"\0", 1)  # language
            _, value = rest.split(b"\0", 1)  # translated keyword
            texts[key.decode("utf-8")] = value.decode("utf-8")
    channels = {0: 1, 2: 3}[colour]
    sample = depth // 8
    pixel = channels * sample
    stride = width * pixel
    raw = zlib.decompress(idat)
    rows = np.zeros((height, stride), np.uint8)
    previous = np.zeros(stride, np.int32)
    for y in range(height):
        line = raw[y * (stride + 1):(y + 1) * (stride + 1)]
        kind, row = line[0], np.frombuffer(line[1:], np.uint8).astype(np.int32)
        if kind == 0:
            out = row
        elif kind == 2:
            out = (row + previous) & 255
        else:  # Sub, Average, Paeth: byte by byte
            out = np.zeros(stride, np.int32)
            for x in range(stride):
                a = out[x - pixel] if x >= pixel else 0
                b = previous[x]
                c = previous[x - pixel] if x >= pixel else 0
                if kind == 1:
                    predictor = a
                elif kind == 3:
                    predictor = (a + b) // 2
                else:
                    p = a + b - c
                    pa, pb, pc = abs(p - a), abs(p - b), abs(p - c)
                    predictor = a if pa <= pb and pa <= pc else (b if pb <= pc else c)
                out[x] = (row[x] + predictor) & 255
        rows[y] = out
        previous = out
    if depth == 16:
        samples = rows.view(">u2").astype(np.uint16)
    else:
        samples = rows
    shape = (height, width) if channels == 1 else (height, width, channels)
    return samples.reshape(shape), texts
