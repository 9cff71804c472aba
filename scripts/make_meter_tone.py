#!/usr/bin/env python3
"""Writes the recording the manual's meter pictures are made from:
make_meter_tone.py OUT.wav. A 3150 Hz tone, 16-bit mono PCM at 48000 Hz,
20 seconds, its frequency swinging by 0.1 % peak once a turn of a platter at
33 1/3 rpm (0.556 Hz, wow: an off-centre record) and by 0.03 % peak at 10 Hz
(flutter), as a worn turntable would play a test record.

make_meter_tone.py OUT.wav SWING SPEED SECONDS writes a take of a batch for
the batch report's picture: the swings times SWING, the tone SPEED per cent
off, SECONDS long."""
import math
import struct
import sys

RATE = 48000
SECONDS = 20
CARRIER = 3150.0
SWINGS = ((100.0 / 3 / 60, 0.001), (10.0, 0.0003))  # (rate in Hz, peak deviation as a fraction)


def main():
    if len(sys.argv) not in (2, 5):
        sys.exit('usage: make_meter_tone.py OUT.wav [SWING SPEED SECONDS]')
    swing, speed, seconds = (float(a) for a in sys.argv[2:]) if len(sys.argv) == 5 else (1.0, 0.0, SECONDS)
    carrier = CARRIER * (1 + speed / 100)
    samples = bytearray()
    phase = 0.0
    step = 2 * math.pi / RATE
    for i in range(int(RATE * seconds)):
        t = i / RATE
        f = carrier * (1 + swing * sum(d * math.sin(2 * math.pi * r * t) for r, d in SWINGS))
        phase += step * f
        samples += struct.pack('<h', int(round(16000 * math.sin(phase))))
    fmt = struct.pack('<HHIIHH', 1, 1, RATE, RATE * 2, 2, 16)
    body = b'WAVE' + b'fmt ' + struct.pack('<I', len(fmt)) + fmt + b'data' + struct.pack('<I', len(samples)) + samples
    with open(sys.argv[1], 'wb') as f:
        f.write(b'RIFF' + struct.pack('<I', len(body)) + body)


if __name__ == '__main__':
    main()
