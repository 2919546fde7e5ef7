#!/usr/bin/python3
"""Writes the MulDiv64 cases: Python's unbounded integers give floor(a*b/c) exactly.

The routine computes a*(b//c) + (a//c)*(b%c) + (a%c)*(b%c)//c with every step modulo 2**64.
That equals floor(a*b/c) modulo 2**64 whenever (a%c)*(b%c) fits in 64 bits (always when
c <= 2**32). Other divisors may wrap that product; their expected values follow the same
steps, and the table marks them as not exact."""
import random
import sys

M = 1 << 64


def stepwise(a, b, c):
    return (a * (b // c) + (a // c) * (b % c) + ((a % c) * (b % c) % M) // c) % M


cases = [
    (1 << 40, 1 << 40, 1 << 20),
    (10, 3, 4),
    (0, 12345, 7),
    (12345, 0, 7),
    (M - 1, 1, 1),
    (M - 1, M - 1, M - 1),
    (M - 1, 2, 3),
    (M - 1, M - 1, 1 << 32),
    (M - 1, M - 1, (1 << 32) - 1),
    (44100 * 3600 * 1000, 1000, 44100),      # ms of an hour of samples, times 1000
    (10_000_000, 0xFFFFFFFF, 48000),
    (1 << 63, 3, 2),                         # exact result exceeds 64 bits: modulo 2^64
    (0xFFFFFFFF, 0xFFFFFFFF, 0xFFFFFFFF),
    ((1 << 33) + 1, (1 << 33) + 5, (1 << 33) + 7),  # c > 2^32: the remainder product wraps
]
rng = random.Random(20240601)
for bits in (16, 32, 48, 64):
    for _ in range(12):
        a = rng.getrandbits(bits)
        b = rng.getrandbits(rng.choice((16, 32, 64)))
        c = rng.getrandbits(rng.choice((8, 32, 40, 64))) or 1
        cases.append((a, b, c))

with open(sys.argv[1], "w") as out:
    out.write("// Written by tests/oracle/mul_div64.py\n")
    for a, b, c in cases:
        expected = stepwise(a, b, c)
        exact = (a % c) * (b % c) < M
        if exact:
            assert expected == (a * b // c) % M
        out.write("{0x%xull, 0x%xull, 0x%xull, 0x%xull, %s},\n"
                  % (a, b, c, expected, "true" if exact else "false"))
