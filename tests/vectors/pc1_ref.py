#!/usr/bin/env python3
"""A second, independent PC1 (80-bit key) written straight from the
algorithm's description, used to produce and check test vectors.

    pc1_ref.py scramble|unscramble KEYHEX|- < in > out     (- = default key)
    pc1_ref.py vectors > pc1.txt                           (the vector file)
"""
import random
import sys

DEFAULT_KEY = b"MoonPike"


class Pc1:
    def __init__(self, key):
        k = bytes(key[:10])
        self.key = list(k) + [0] * (10 - len(k))
        self.s = 0
        self.t = 0

    def mask(self):
        a, w, t = 0, 0, self.t
        for i in range(5):
            a ^= (self.key[2 * i] << 8) | self.key[2 * i + 1]
            t = (t + i) & 0xFFFF
            u = (self.s + 20021 * t + 346 * a) & 0xFFFF
            self.s = (346 * a) & 0xFFFF
            a = (20021 * a + 1) & 0xFFFF
            t = u
            w ^= t ^ a
        self.t = t
        return (w >> 8) ^ (w & 0xFF)

    def run(self, data, scramble):
        out = bytearray()
        for c in data:
            m = self.mask()
            p = c if scramble else c ^ m
            self.key = [k ^ p for k in self.key]
            out.append(p ^ m if scramble else p)
        return bytes(out)


def vectors():
    rng = random.Random(20261211)
    keys = [None, b"", b"MoonPike", b"KNOT", b"0123456789", b"0123456789abc", b"\xff\x00\x80",
            b"A", b"zzzzzzzzzz"]
    for _ in range(6):
        keys.append(bytes(rng.randrange(1, 256) for _ in range(rng.randrange(1, 14))))
    lines = []
    for key in keys:
        for size in (0, 1, 2, 9, 40, 257):
            plain = bytes(rng.randrange(256) for _ in range(size))
            scrambled = Pc1(DEFAULT_KEY if key is None else key).run(plain, True)
            lines.append("%s %s %s" % ("-" if key is None else (key.hex() or "empty"),
                                       plain.hex() or ".", scrambled.hex() or "."))
    return "\n".join(lines) + "\n"


def main():
    if sys.argv[1] == "vectors":
        sys.stdout.write(vectors())
        return
    key = DEFAULT_KEY if sys.argv[2] == "-" else bytes.fromhex(sys.argv[2])
    data = sys.stdin.buffer.read()
    sys.stdout.buffer.write(Pc1(key).run(data, sys.argv[1] == "scramble"))


if __name__ == "__main__":
    main()
