#!/usr/bin/env python3
"""Writes the seed corpus: for every feature a read, a write of typical values and a command, plus a
camera selection followed by acquisition, for both channels."""
import os
import sys

folder = sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(__file__), "corpus")
os.makedirs(folder, exist_ok=True)
seeds = []
for feature in range(39):
    for channel in (0, 1):
        seeds.append(bytes([channel, 1, feature]))                    # read
        seeds.append(bytes([channel, 2, feature, feature % 23]))     # write
        seeds.append(bytes([channel, 3, feature]))                    # execute
        seeds.append(bytes([channel, 7, feature, 0, 0, 0, feature % 6]))
# Select the camera, start, wait and fetch images, then run an assistant.
seeds.append(bytes([0, 2, 1, 1, 0, 8, 0, 11, 0, 0, 0, 0, 0, 11, 0, 0, 2, 100, 0, 11, 0, 0, 0, 0]))
seeds.append(bytes([1, 2, 1, 2, 1, 8, 1, 11, 0, 0, 0, 0, 1, 11, 0, 0, 2, 100]))
seeds.append(bytes([0, 2, 25, 4, 0, 2, 1, 1, 0, 2, 26, 16, 0, 3, 28, 0, 8, 0, 11, 0, 0, 0, 0, 0, 1, 32]))
seeds.append(bytes([0, 12, 0, 0, 0, 50, 5, 1, 0, 1, 0, 0, 0, 8, 0, 0, 0, 0, 0, 0, 0, 32, 0, 0, 0, 16]))
for i, seed in enumerate(seeds):
    with open(os.path.join(folder, "seed-%03d" % i), "wb") as out:
        out.write(seed)
