#!/usr/bin/env python3
"""Automatic registration marks on seeded simulated night sequences.

For each sequence (20 frames of 640 x 480, dithered by up to 20 pixels, some
turned by up to 0.3 degree, one hidden by cloud, one showing another field)
and each way of registering it, prints the frames kept by the run, the error
of every automatic mark against the simulator's truth, and the stacked
image's star width (FWHM) and sky noise against those of frame 1.

    usage: /usr/bin/python3 bench/auto_marks.py [BUILD_DIR | CLI_BINARY]

Needs numpy and astropy (Debian: python3-astropy).
"""
import json
import os
import subprocess
import sys
import tempfile

import numpy as np
from astropy.io import fits

arg = sys.argv[1] if len(sys.argv) > 1 else "build"
cli = arg if os.path.isfile(arg) else os.path.join(arg, "src", "quelvista-cli")
if not os.access(cli, os.X_OK):
    sys.exit(f"no {cli}: build first")

SEQUENCES = [
    ("dither 20 px", "--dither 20"),
    ("dither 20 px, turn 0.3 deg", "--dither 20 --dither-angle 0.3"),
    ("+ cloud (7), other field (13)", "--dither 20 --dither-angle 0.3 --cloud 7 --other-field 13"),
]


def run(args, env):
    p = subprocess.run(args, capture_output=True, text=True, env=env)
    return p.returncode, p.stdout, p.stderr


def lines(out):
    for line in out.splitlines():
        if line.startswith("{"):
            yield json.loads(line)


def plane(path):
    d = fits.getdata(path).astype(float)
    return d.sum(axis=0) if d.ndim == 3 else d


def measure(img, stars):
    """Median FWHM of isolated unsaturated stars, sky noise over star flux."""
    h, w = img.shape
    fwhm, flux = [], []
    for x, y in stars:
        xi, yi = int(round(x)), int(round(y))
        if xi < 12 or yi < 12 or xi > w - 13 or yi > h - 13:
            continue
        cut = img[yi - 10:yi + 11, xi - 10:xi + 11]
        ring = np.concatenate([cut[0], cut[-1], cut[:, 0], cut[:, -1]])
        c = cut - np.median(ring)
        core = c[4:17, 4:17]
        yy, xx = np.mgrid[-6:7, -6:7]
        wgt = np.clip(core, 0, None)
        s = wgt.sum()
        if s <= 0:
            continue
        mx, my = (wgt * xx).sum() / s, (wgt * yy).sum() / s
        var = (wgt * ((xx - mx) ** 2 + (yy - my) ** 2)).sum() / s / 2
        fwhm.append(2.3548 * np.sqrt(var))
        flux.append(s)
    # Sky noise: robust spread in 32 x 32 patches after a plane fit, away
    # from the stars' own light.
    mask = np.ones_like(img, dtype=bool)
    for x, y in all_stars_px:
        xi, yi = int(round(x)), int(round(y))
        mask[max(0, yi - 8):yi + 9, max(0, xi - 8):xi + 9] = False
    spreads = []
    yy, xx = np.mgrid[0:32, 0:32]
    A = np.c_[np.ones(1024), xx.ravel(), yy.ravel()]
    for y0 in range(16, h - 48, 32):
        for x0 in range(16, w - 48, 32):
            patch, m = img[y0:y0 + 32, x0:x0 + 32], mask[y0:y0 + 32, x0:x0 + 32]
            if m.mean() < 0.7 or (patch == 0).any():
                continue
            coef, *_ = np.linalg.lstsq(A[m.ravel()], patch.ravel()[m.ravel()], rcond=None)
            r = patch.ravel()[m.ravel()] - A[m.ravel()] @ coef
            spreads.append(1.4826 * np.median(np.abs(r - np.median(r))))
    return np.median(fwhm), np.median(spreads) / np.median(flux)


with tempfile.TemporaryDirectory() as tmp:
    env = dict(os.environ, HOME=tmp, XDG_CONFIG_HOME=tmp + "/config", LC_ALL="C", TMPDIR=tmp)
    print(f"{'sequence':32} {'registration':28} {'kept':>5} {'marked':>7} {'mark err mean/max px':>21} "
          f"{'FWHM stack/frame1':>18} {'noise frame1/stack':>19}")
    for name, opts in SEQUENCES:
        sim = os.path.join(tmp, "sim")
        subprocess.run(f"rm -rf '{sim}'", shell=True)
        status, out, err = run([cli, "simulate", "--out", sim, "--frames", "20", "--seed", "11"] + opts.split(), env)
        assert status == 0, err
        truth = json.load(open(os.path.join(sim, "truth.json")))
        frames = [f["file"] for f in truth["frames"]]
        stars = truth["stars"]
        # Stars of frame 1 for the widths: unsaturated, well above the sky.
        bright = [(s["x"], s["y"]) for s in stars if 3000 < s["peak"] < 30000]
        isolated = [p for p in bright if all(np.hypot(p[0] - q["x"], p[1] - q["y"]) > 15 or
                                             (p[0] == q["x"] and p[1] == q["y"]) for q in stars)]
        all_stars_px = [(s["x"], s["y"]) for s in stars]
        single_fwhm, single_noise = measure(plane(frames[0]), isolated)
        first = None
        for mode in ["--guide auto", "--guide auto --rotation auto", "tracking only"]:
            if mode == "tracking only":
                # Without marks: the same guide star given on image 1 and
                # followed from frame to frame within the search area.
                args = ["--guide", f"{first[0]:.0f},{first[1]:.0f}"]
            else:
                args = mode.split()
            result = os.path.join(tmp, "stack.fts")
            status, out, err = run([cli, "stack"] + frames + args + ["--out", result], env)
            marks = [l for l in lines(out) if "marked" in l]
            runs = [l for l in lines(out) if "accepted" in l]
            summary = [l for l in lines(out) if "stacked" in l]
            if mode == "--guide auto" and marks:
                first = (marks[0]["markX"], marks[0]["markY"])
            kept = sum(1 for l in runs if l["accepted"])
            errs = [np.hypot(m["markX"] - truth["frames"][m["image"] - 1]["guideX"],
                             m["markY"] - truth["frames"][m["image"] - 1]["guideY"]) for m in marks if m["marked"]]
            marked = f"{sum(1 for m in marks if m['marked'])}/{len(marks)}" if marks else "-"
            err_txt = f"{np.mean(errs):.2f} / {np.max(errs):.2f}" if errs else "-"
            if status == 0 and summary:
                s = summary[0]
                img = plane(result)
                shifted = [(x - s["CanvasMinX"], y - s["CanvasMinY"]) for x, y in isolated]
                saved = all_stars_px
                all_stars_px = [(x - s["CanvasMinX"], y - s["CanvasMinY"]) for x, y in saved]
                fwhm, noise = measure(img, shifted)
                all_stars_px = saved
                q = f"{fwhm:.2f} / {single_fwhm:.2f}"
                n = f"{single_noise / noise:.2f}"
            else:
                q, n = "-", "-"
            print(f"{name:32} {mode:28} {kept:>2}/20 {marked:>7} {err_txt:>21} {q:>18} {n:>19}", flush=True)
