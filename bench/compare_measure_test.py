#!/usr/bin/python3
"""Checks of bench/compare's measures on images whose answer is known.

    /usr/bin/python3 bench/compare_measure_test.py
"""
import os
import subprocess
import sys
import tempfile
import unittest

import numpy as np
from astropy.io import fits

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import compare_measure as cm  # noqa: E402

HELPER = os.path.join(os.path.dirname(os.path.abspath(__file__)), "compare_measure.py")


def star_field(fwhm, sigma, seed, size=(600, 800), smooth=False, zero_border=0):
    """A tilted sky, white noise (optionally 2 x 2 box-smoothed) and a grid
    of isolated Gaussian stars; also a close pair and a saturated star,
    which the measure must leave out. Gives (image, isolated stars placed)."""
    rng = np.random.default_rng(seed)
    h, w = size
    yy, xx = np.mgrid[0:h, 0:w]
    img = 1000.0 + 0.2 * xx + 0.1 * yy
    noise = rng.normal(0, sigma, (h + 1, w + 1))
    if smooth:
        noise = (noise[:-1, :-1] + noise[1:, :-1] + noise[:-1, 1:] + noise[1:, 1:]) / 4
    img += noise[:h, :w]
    s = fwhm / 2.3548

    def star(x, y, peak):
        nonlocal img
        box = (slice(int(y) - 12, int(y) + 13), slice(int(x) - 12, int(x) + 13))
        img[box] += peak * np.exp(-((xx[box] - x) ** 2 + (yy[box] - y) ** 2) / (2 * s * s))

    placed = 0
    for y in range(90, h - 90, 60):
        for x in range(90, w - 90, 60):
            star(x + rng.uniform(-0.5, 0.5), y + rng.uniform(-0.5, 0.5), rng.uniform(40, 80) * sigma)
            placed += 1
    star(40.0, 300.0, 60 * sigma)
    star(47.0, 300.0, 60 * sigma)  # a pair 7 px apart: neither is isolated
    star(w - 40.0, 300.0, 70000.0)  # saturated
    if zero_border:
        img[:zero_border, :] = 0
        img[:, :zero_border] = 0
    return img, placed


class Quality(unittest.TestCase):
    def test_known_width_and_noise(self):
        # (FWHM, sigma): narrow and wide stars, low and high noise.
        for fwhm, sigma in [(2.8, 10.0), (3.7, 30.0), (5.0, 20.0)]:
            with self.subTest(fwhm=fwhm, sigma=sigma):
                img, placed = star_field(fwhm, sigma, seed=int(fwhm * 10))
                got_fwhm, noise, noise4, count = cm.quality(img)
                self.assertEqual(count, placed)
                self.assertAlmostEqual(got_fwhm, fwhm, delta=0.06 * fwhm)
                self.assertAlmostEqual(noise, sigma, delta=0.05 * sigma)
                self.assertAlmostEqual(noise4, sigma, delta=0.1 * sigma)

    def test_smoothed_noise_is_seen_by_the_binned_figure(self):
        # A 2 x 2 box blur halves the pixel spread; over 4 x 4 means the blur
        # keeps 14/16 of it (weights 1,2,2,2,1 over 8 along each axis).
        img, _ = star_field(3.5, 40.0, seed=3, smooth=True)
        _, noise, noise4, _ = cm.quality(img)
        self.assertAlmostEqual(noise, 20.0, delta=1.0)
        self.assertAlmostEqual(noise4, 40.0 * 14 / 16, delta=3.0)

    def test_empty_border_changes_nothing(self):
        full, _ = star_field(3.5, 25.0, seed=4)
        bordered, _ = star_field(3.5, 25.0, seed=4, zero_border=30)
        a, b = cm.quality(full), cm.quality(bordered)
        self.assertAlmostEqual(a[1], b[1], delta=0.5)
        self.assertAlmostEqual(a[0], b[0], delta=0.05)


def write(path, data, **cards):
    hdu = fits.PrimaryHDU(data)
    for k, v in cards.items():
        hdu.header[k] = v
    hdu.writeto(path)


class FilesAndScales(unittest.TestCase):
    def setUp(self):
        self.tmp = tempfile.TemporaryDirectory()
        self.dir = self.tmp.name

    def tearDown(self):
        self.tmp.cleanup()

    def path(self, name):
        return os.path.join(self.dir, name)

    def helper(self, *args):
        return subprocess.run([sys.executable, HELPER, *args], capture_output=True, text=True, check=True).stdout

    def registered(self):
        """Three 16-bit frames, each with a strip left empty by its shift."""
        rng = np.random.default_rng(5)
        frames = []
        for k in range(3):
            f = rng.integers(500, 30000, (40, 50)).astype(np.float64)
            f[:, : 2 * k] = 0
            write(self.path(f"r_{k}.fit"), (f - 32768).astype(np.int16), BZERO=32768)
            frames.append(f)
        return frames

    def test_siril_check_leaves_out_empty_pixels(self):
        frames = self.registered()
        stack = np.sum(frames, axis=0) / np.sum([f != 0 for f in frames], axis=0)
        with_zeros = np.mean(frames, axis=0)
        names = [self.path(f"r_{k}.fit") for k in range(3)]
        # (result as Siril writes it: 32-bit between 0 and 1, largest difference allowed)
        for result, limit in [(stack, 0.01), (with_zeros, None)]:
            with self.subTest(zeros_averaged=limit is None):
                out = self.path("stack.fit")
                if os.path.exists(out):
                    os.remove(out)
                write(out, (result / 65535).astype(np.float32))
                diff = float(self.helper("siril-check", out, *names).split()[0])
                if limit is None:
                    self.assertGreater(diff, 1000)
                else:
                    self.assertLess(diff, limit)

    def test_units_and_planes(self):
        plane = np.arange(12, dtype=np.float64).reshape(3, 4) * 1000
        write(self.path("int.fts"), (plane - 32768).astype(np.int16), BZERO=32768)
        write(self.path("norm.fit"), (plane / 65535).astype(np.float32))
        write(self.path("rgb.fts"), np.stack([plane, 2 * plane, 3 * plane]).astype(np.float32) + 0.5)
        np.testing.assert_allclose(cm.luminance(self.path("int.fts")), plane)
        np.testing.assert_allclose(cm.luminance(self.path("norm.fit")), plane, atol=0.01)
        np.testing.assert_allclose(cm.luminance(self.path("rgb.fts")), 2 * plane + 0.5)

    def test_floor_writes_and_removes_its_files(self):
        write_s, read_s = map(float, self.helper("floor", self.dir, "3", str(3 << 20 | 24)).split())
        self.assertGreater(write_s, 0)
        self.assertGreater(read_s, 0)
        self.assertEqual(os.listdir(self.dir), [])


class Report(unittest.TestCase):
    def test_targets(self):
        # (large set, way, our walls, Siril walls, floor write+read, target, held);
        # a failed run (status 1) never enters a median.
        cases = [
            (False, "auto", [3.0, 9.0, 3.2], [4.0, 5.0, 4.5], (1.0, 0.2), 0.8 * 4.5, True),
            (False, "marks", [3.0, 3.1, 3.2], [4.0, 5.0, 4.5], (1.0, 0.2), 0.6 * 4.5, False),
            (True, "auto", [6.0, 6.1, 5.9], [5.0, 5.0, 5.0], (5.0, 1.0), 1.15 * 6.0, True),
            (True, "marks", [4.4, 4.6, 4.5], [5.0, 5.2, 4.8], (1.0, 1.0), 0.9 * 5.0, True),
        ]
        for large, way, ours, siril, floor, target, held in cases:
            with self.subTest(large=large, way=way):
                with tempfile.NamedTemporaryFile("w", suffix=".tsv", delete=False) as f:
                    f.write(f"set\tS\tlabel\t20\t{int(large)}\t1000\n")
                    for r, (a, b) in enumerate(zip(ours, siril), 1):
                        f.write(f"run\tS\t{way}\t{r}\t{a}\t{a}\t1024\t0\t20\n")
                        f.write(f"run\tS\tsiril\t{r}\t{b}\t{b}\t2048\t0\t20\n")
                        f.write(f"floor\tS\tdisk\t{r}\t{floor[0]}\t{floor[1]}\n")
                    f.write(f"run\tS\t{way}\t9\t0.1\t0.1\t1024\t1\t0\n")
                try:
                    w = cm.summarise(f.name, shm=False)[0]["ways"][way]
                finally:
                    os.remove(f.name)
                self.assertAlmostEqual(w["target"], target)
                self.assertEqual(w["held"], held)
                self.assertEqual(w["failed"], 1)
                self.assertAlmostEqual(w["wall_ratio"], sorted(ours)[1] / sorted(siril)[1])


if __name__ == "__main__":
    unittest.main()
