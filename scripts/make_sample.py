#!/usr/bin/env python3
"""Writes samples/tone3k.wav: a 3 kHz test tone, 8-bit mono PCM at 22050 Hz,
3 seconds, with a 4 Hz flutter of 0.2 % peak, as a tape deck would play it."""
import math
import struct
import sys

rate = 22050
n = rate * 3
phase = 0.0
data = bytearray()
for i in range(n):
    f = 3000.0 * (1 + 0.002 * math.sin(2 * math.pi * 4 * i / rate))
    phase += 2 * math.pi * f / rate
    data.append(int(round(128 + 100 * math.sin(phase))))
fmt = struct.pack('<HHIIHH', 1, 1, rate, rate, 1, 8)
body = b'WAVE' + b'fmt ' + struct.pack('<I', 16) + fmt + b'data' + struct.pack('<I', len(data)) + bytes(data)
out = sys.argv[1] if len(sys.argv) > 1 else 'samples/tone3k.wav'
with open(out, 'wb') as f:
    f.write(b'RIFF' + struct.pack('<I', len(body)) + body)
