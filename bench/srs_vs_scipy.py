#!/usr/bin/python3
"""quorel.srs against the SRS loop a lab writes in Python: one
scipy.signal.lfilter call per natural frequency with the same filter
coefficients, on the same array in memory, both on one thread.

    cmake --build build --target quorel_python && bench/srs_vs_scipy.py

The array: 10^6 samples at 1 MHz, decaying tones with noise.  The grid:
1/12 octave from 10 Hz to 10 kHz (121 frequencies), Smallwood filters,
Q = 10, residual phase.  Prints each time (the best of 3), the ratio and the
largest relative difference between the two spectra.
"""
import math
import os
import sys
import time

import numpy as np
from scipy.signal import lfilter

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "build", "python"))
import quorel  # noqa: E402

RATE = 1.0e6
Q = 10.0


def scipy_srs(x, freqs, zeta, dt):
    """Positive and negative SRS peaks at each frequency (Hz): the forced phase
    over the record, then one period of the frequency with zero input."""
    two_pi = 2.0 * math.atan2(0.0, -1.0)
    positive, negative = [], []
    steps = int(1.2 / (freqs[0] * dt))
    for f in freqs:
        w = two_pi * f
        wd = w * math.sqrt(1.0 - zeta * zeta)
        e = math.exp(-(dt * zeta * w))
        k = wd * dt
        ec, es = e * math.cos(k), e * math.sin(k)
        sp = es / k
        b = [1.0 - sp, 2.0 * (sp - ec), e * e - sp]
        a = [1.0, -2.0 * ec, e * e]
        y, state = lfilter(b, a, x, zi=np.zeros(2))
        high, low = max(y.max(), 0.0), min(y.min(), 0.0)
        period = np.float32(1.0 / f)
        last = steps
        while last > 0 and np.float32(last * dt) > period:
            last -= 1
        if last:
            r, _ = lfilter(b, a, np.zeros(last), zi=state)
            high, low = max(high, r.max()), min(low, r.min())
        positive.append(high)
        negative.append(-low)
    return np.array(positive), np.array(negative)


def best_of(runs, call):
    best, result = math.inf, None
    for _ in range(runs):
        start = time.perf_counter()
        result = call()
        best = min(best, time.perf_counter() - start)
    return best, result


def main():
    n = 1_000_000
    t = np.arange(n) / RATE
    x = np.random.default_rng(7).normal(0.0, 2.0, n)
    for f, amp, tau in ((60.0, 40.0, 0.05), (450.0, 150.0, 0.02), (2300.0, 500.0, 0.008), (7100.0, 900.0, 0.003)):
        x += amp * np.exp(-t / tau) * np.sin(2 * np.pi * f * t)
    # The frequencies, damping and step as quorel holds them: floats.
    freqs = (10.0 * 2.0 ** (np.arange(121) / 12.0)).astype(np.float32).astype(float)
    zeta = float(np.float32(1.0 / (2.0 * Q)))
    dt = float(np.float32(1.0 / RATE))

    ours_s, (positive, negative) = best_of(3, lambda: quorel.srs(x, RATE, freqs, q=Q, threads=1))
    theirs_s, (scipy_positive, scipy_negative) = best_of(3, lambda: scipy_srs(x, freqs, zeta, dt))
    worst = max(np.max(np.abs(positive - scipy_positive) / scipy_positive),
                np.max(np.abs(negative - scipy_negative) / scipy_negative))
    print(f"array         10^6 samples at 1 MHz; {len(freqs)} frequencies, 1/12 octave 10 Hz - 10 kHz, Q = {Q:g}")
    print(f"quorel.srs    {ours_s:.4f} s   (threads=1)")
    print(f"scipy loop    {theirs_s:.4f} s   (lfilter per frequency, one thread)")
    print(f"ratio         {theirs_s / ours_s:.1f}x   scipy loop / quorel.srs")
    print(f"agreement     largest relative difference of the peaks {worst:.2e}")


if __name__ == "__main__":
    main()
