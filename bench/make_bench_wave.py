#!/usr/bin/env python3
"""Writes the benchmarks' input: 8-bit mono PCM at 22050 Hz, 1 MiB of samples
(512 chunks of 2048, of which the commands read 500): a 3 kHz tone with a
4 Hz flutter, a slow sweep from 500 Hz to 8 kHz beneath it, and some noise."""
import math
import random
import struct
import sys

rate = 22050
n = 1 << 20
random.seed(12)
data = bytearray(n)
p1 = p2 = 0.0
for i in range(n):
    p1 += 2 * math.pi * 3000.0 * (1 + 0.002 * math.sin(2 * math.pi * 4 * i / rate)) / rate
    p2 += 2 * math.pi * (500.0 + 7500.0 * i / n) / rate
    v = 128 + 80 * math.sin(p1) + 30 * math.sin(p2) + random.uniform(-6, 6)
    data[i] = max(0, min(255, int(round(v))))
fmt = struct.pack('<HHIIHH', 1, 1, rate, rate, 1, 8)
body = b'WAVE' + b'fmt ' + struct.pack('<I', 16) + fmt + b'data' + struct.pack('<I', n) + bytes(data)
with open(sys.argv[1], 'wb') as f:
    f.write(b'RIFF' + struct.pack('<I', len(body)) + body)
