#!/usr/bin/python3
"""The measuring side of bench/compare: image quality, the check of Siril's
average, the temporary-file floor, and the report.

    compare_measure.py quality IMAGE MARGIN
        median FWHM (px) of isolated stars and background noise (ADU), TSV
    compare_measure.py siril-check RESULT REGISTERED...
        largest difference (ADU) between Siril's stack and a plain mean
    compare_measure.py floor FOLDER COUNT BYTES
        seconds to write (as the runs do) and read back COUNT files of BYTES each
    compare_measure.py report DATA [--set NAME | --markdown] [--shm]
    compare_measure.py trail TRUTH X0,Y0 PLAIN PLAIN_CLEAN REJECT REJECT_CLEAN
        the light of the satellite trails left in a plain stack and in a stack
        with rejection (each less the same stack of the frames without trails);
        the stacks' pixel (0, 0) is frame 1's (X0, Y0)
    compare_measure.py rejection-report RULE TRAIL_QV TRAIL_SIRIL FRAME OURS THEIRS [REGISTRATION]
        one rule's trail, FWHM and SNR gains, ours beside Siril's
    compare_measure.py sigma-target FRAME OURS_SIGMA LABEL SIRIL_WINSOR [LABEL SIRIL_WINSOR...]
        our sigma clipping's SNR gain and FWHM against Siril's default rule

Every image is measured the same way, in the 0..65535 units of the frames:
Siril's 32-bit results, kept between 0 and 1, are brought back to that
scale, and a three-plane image is measured on the mean of its planes.
"""
import os
import statistics
import sys
import time

import numpy as np
from astropy.io import fits

BLOCK = 64  # side of the squares whose medians make the smooth sky
STAR_SIGMA = 10.0  # a star's peak stands this many noise sigmas above the sky
ISOLATION = 15  # pixels between a measured star and any other star found
BOX = 8  # half side of the square the moments are taken over
SATURATED = 60000.0


def planes(path):
    """The data in frame units (three planes stay three planes)."""
    with fits.open(path, memmap=False) as hdul:
        header = hdul[0].header
        data = hdul[0].data.astype(np.float64)
    # Siril writes its 32-bit average between 0 and 1.
    if header.get("BITPIX", 16) < 0 and data.size and np.nanmax(data) <= 1.0 + 1e-6:
        data *= 65535.0
    return data


def luminance(path):
    d = planes(path)
    return d.mean(axis=0) if d.ndim == 3 else d


def smooth_sky(img):
    """Medians of BLOCK x BLOCK squares, interpolated bilinearly between
    their centres: the sky's slow changes without the stars' light."""
    h, w = img.shape
    ny, nx = max(1, h // BLOCK), max(1, w // BLOCK)
    cut = img[: ny * BLOCK, : nx * BLOCK].reshape(ny, BLOCK, nx, BLOCK)
    med = np.median(cut.transpose(0, 2, 1, 3).reshape(ny, nx, -1), axis=2)
    cy = (np.arange(ny) + 0.5) * BLOCK - 0.5
    cx = (np.arange(nx) + 0.5) * BLOCK - 0.5
    rows = np.array([np.interp(np.arange(w), cx, med[j]) for j in range(ny)])
    return np.array([np.interp(np.arange(h), cy, rows[:, i]) for i in range(w)]).T


def mad_sigma(values):
    return 1.4826 * float(np.median(np.abs(values - np.median(values))))


def dilate(mask, r):
    out = mask.copy()
    for d in range(1, r + 1):
        out[d:, :] |= mask[:-d, :]
        out[:-d, :] |= mask[d:, :]
    grown = out.copy()
    for d in range(1, r + 1):
        grown[:, d:] |= out[:, :-d]
        grown[:, :-d] |= out[:, d:]
    return grown


def max_filter(a, r):
    """Largest value within r pixels in x and y (a square window)."""
    from numpy.lib.stride_tricks import sliding_window_view

    p = np.pad(a, r, mode="constant", constant_values=-np.inf)
    rows = sliding_window_view(p, 2 * r + 1, axis=1).max(axis=-1)
    return sliding_window_view(rows, 2 * r + 1, axis=0).max(axis=-1)


def star_sigma(cut):
    """The Gaussian sigma of the star at the centre of cut, from second
    moments weighted by a Gaussian window matched to the star itself (the
    window is narrowed until it equals the width it measures). Plain moments
    over a box, with the negative noise clipped, grow with the noise; these
    stay the same from a single frame to a stack."""
    r = cut.shape[0] // 2
    yy, xx = np.mgrid[-r : r + 1, -r : r + 1]
    mx = my = 0.0
    window = 1.5
    for _ in range(50):
        g = cut * np.exp(-((xx - mx) ** 2 + (yy - my) ** 2) / (2 * window * window))
        total = g.sum()
        if total <= 0:
            return None
        mx, my = (g * xx).sum() / total, (g * yy).sum() / total
        if abs(mx) > 2 or abs(my) > 2:
            return None
        seen = (g * ((xx - mx) ** 2 + (yy - my) ** 2)).sum() / total / 2
        # A Gaussian star seen through a Gaussian window: 1/seen = 1/star + 1/window.
        if seen <= 0 or seen >= window * window:
            return None
        star = np.sqrt(seen * window * window / (window * window - seen))
        if star > r / 2:
            return None
        if abs(star - window) < 1e-4:
            return star
        window = star
    return window


def quality(img):
    """(median FWHM in pixels, background noise and the same over 4 x 4
    means, in ADU, stars measured)."""
    empty = img == 0  # no data: the borders a shifted frame leaves
    resid = img - smooth_sky(img)
    sigma0 = mad_sigma(resid[~empty])
    # Background: the residual away from every source and from empty pixels.
    sources = dilate(resid > 3 * sigma0, 4) | dilate(empty, 1)
    noise = mad_sigma(resid[~sources])
    # The same spread over 4 x 4 means, times 4: equal to the pixel figure
    # for independent pixels, but not lowered by a resampling that smooths
    # the noise between neighbours without removing any of it.
    h, w = img.shape
    hb, wb = h // 4 * 4, w // 4 * 4
    binned = resid[:hb, :wb].reshape(hb // 4, 4, wb // 4, 4).mean(axis=(1, 3))
    covered = sources[:hb, :wb].reshape(hb // 4, 4, wb // 4, 4).any(axis=(1, 3))
    noise4 = 4 * mad_sigma(binned[~covered])
    if noise <= 0:
        return float("nan"), noise, noise4, 0
    peaks = (resid > STAR_SIGMA * noise) & (resid == max_filter(resid, 2))
    ys, xs = np.nonzero(peaks)
    fwhm = []
    for k, (y, x) in enumerate(zip(ys, xs)):
        if y < ISOLATION or x < ISOLATION or y >= h - ISOLATION or x >= w - ISOLATION:
            continue
        d2 = (ys - y) ** 2 + (xs - x) ** 2
        d2[k] = ISOLATION**2 + 1
        if d2.min() <= ISOLATION**2 or img[y, x] >= SATURATED:
            continue
        if empty[y - ISOLATION : y + ISOLATION + 1, x - ISOLATION : x + ISOLATION + 1].any():
            continue
        sigma = star_sigma(resid[y - BOX : y + BOX + 1, x - BOX : x + BOX + 1])
        if sigma is not None:
            fwhm.append(2.3548 * sigma)
    return (float(np.median(fwhm)) if fwhm else float("nan")), noise, noise4, len(fwhm)


def cmd_quality(path, margin):
    img = luminance(path)
    m = int(margin)
    h, w = img.shape
    if h <= 2 * m + 2 * BLOCK or w <= 2 * m + 2 * BLOCK:
        m = 0
    f, n, n4, count = quality(img[m : h - m, m : w - m])
    print(f"{f:.3f}\t{n:.3f}\t{n4:.3f}\t{count}")


def cmd_siril_check(result, registered):
    """Siril's 'rej 0 0 -nonorm' stack against the plain mean of the frames
    it registered: the largest difference, in ADU. A registered frame holds 0
    where the shift left it without data, and that pixel is not averaged
    (Siril leaves it out, as our own weights do)."""
    total = count = None
    for path in registered:
        d = planes(path)
        if total is None:
            total, count = np.zeros_like(d), np.zeros_like(d)
        total += d
        count += d != 0
    mean = np.divide(total, count, out=np.zeros_like(total), where=count > 0)
    got = planes(result)
    if got.shape != mean.shape:
        print(f"inf\tformes différentes {got.shape} et {mean.shape}")
        return
    print(f"{float(np.abs(got - mean).max()):.6f}\t{len(registered)}")


def cmd_floor(folder, count, size):
    count, size = int(count), int(size)
    # Written as the runs write their temporary files: in pieces of 256 KiB,
    # without waiting for the disk (the kernel writes the pages out later).
    chunk = 256 << 10
    buf = np.random.default_rng(1).integers(0, 256, min(chunk, max(size, 1)), dtype=np.uint8).tobytes()
    paths = [os.path.join(folder, f"plancher{k:04d}.bin") for k in range(count)]
    try:
        t0 = time.perf_counter()
        for p in paths:
            fd = os.open(p, os.O_WRONLY | os.O_CREAT | os.O_TRUNC, 0o600)
            try:
                left = size
                while left > 0:
                    left -= os.write(fd, buf[: min(left, len(buf))])
            finally:
                os.close(fd)
        t1 = time.perf_counter()
        back = bytearray(16 << 20)
        for p in paths:
            with open(p, "rb", buffering=0) as f:
                while f.readinto(back):
                    pass
        t2 = time.perf_counter()
    finally:
        for p in paths:
            if os.path.exists(p):
                os.remove(p)
    print(f"{t1 - t0:.4f}\t{t2 - t1:.4f}")


# ---------------------------------------------------------------- trails

TRAIL_REACH = 3.0  # pixels each side of a trail's line that hold its light


def trail_mask(truth_path, shape, origin=(0.0, 0.0)):
    """The pixels of frame 1's sky within TRAIL_REACH of a trail (the
    simulator's trails lie on one line of the sky, drawn on the frames it
    names, which is brought back to frame 1 by undoing the frame's turn and
    shift)."""
    import json

    with open(truth_path) as f:
        truth = json.load(f)
    h, w = shape
    yy, xx = np.mgrid[0:h, 0:w].astype(np.float64)
    xx += origin[0]
    yy += origin[1]
    mask = np.zeros(shape, dtype=bool)
    for fr in truth["frames"]:
        t = fr.get("trail")
        if not t:
            continue
        a = -np.radians(fr["angle"])
        ends = []
        for x, y in ((t["x1"], t["y1"]), (t["x2"], t["y2"])):
            u, v = x - fr["centreX"] - fr["dx"], y - fr["centreY"] - fr["dy"]
            ends.append((np.cos(a) * u - np.sin(a) * v + fr["centreX"], np.sin(a) * u + np.cos(a) * v + fr["centreY"]))
        (x1, y1), (x2, y2) = ends
        length = np.hypot(x2 - x1, y2 - y1)
        across = np.abs((xx - x1) * (y2 - y1) - (yy - y1) * (x2 - x1)) / length
        mask |= across <= TRAIL_REACH
    return mask


def cmd_trail(truth, origin, plain, plain_clean, reject, reject_clean):
    """The trails' light left in each stack: the sum over the trail's
    pixels of the stack less the same stack of the frames without trails.
    Each program's rows may run up or down the file: the way the plain
    stack's trail lies along the line decides it."""
    p, pc = luminance(plain), luminance(plain_clean)
    r, rc = luminance(reject), luminance(reject_clean)
    if not (p.shape == pc.shape == r.shape == rc.shape):
        print("nan\tnan\tnan\tformes différentes")
        return
    mask = trail_mask(truth, p.shape, tuple(float(v) for v in origin.split(",")))
    both = (pc > 0) & (rc > 0)  # where both stacks have data
    best = None
    for flip in (False, True):
        m = (mask[::-1] if flip else mask) & both
        left = float((p - pc)[m].sum())
        if best is None or left > best[1]:
            best = (m, left, flip)
    m, plain_left, flip = best
    reject_left = float((r - rc)[m].sum())
    ratio = reject_left / plain_left if plain_left > 0 else float("nan")
    print(f"{plain_left:.1f}\t{reject_left:.1f}\t{ratio:.4f}\t{int(m.sum())}")


def cmd_rejection_report(rule, qv, siril, frame, ours, theirs, registration=""):
    """One rule's table: trail kept, FWHM and SNR gains, ours and
    Siril's, from the lines the trail and quality commands printed.
    `registration` names how Siril placed its frames."""
    qv, siril, frame, ours, theirs = (line.split("\t") for line in (qv, siril, frame, ours, theirs))
    names = {"sigma": ("Quelvista --reject sigma 3,3", "Siril rej s 3 3 addscale"),
             "winsor": ("Quelvista --reject winsor 3,3", "Siril rej 3 3 addscale")}[rule]
    qg, sg = snr_gains(frame, ours), snr_gains(frame, theirs)
    if registration:
        print(f"Siril : {registration}")
    print(f"{'':30} {'traînée gardée':>14} {'FWHM (px)':>9} {'gain SNR':>8} {'gain SNR 4x4':>12}")
    for name, trail, q, g in ((names[0], qv, ours, qg), (names[1], siril, theirs, sg)):
        print(f"{name:30} {100 * float(trail[2]):12.1f} % {float(q[0]):9.3f} {g[0]:8.2f} {g[1]:12.2f}")
    print(f"traînée gardée : part de la lumière des traînées que la moyenne simple garde "
          f"({float(qv[0]):.0f} ADU chez nous, {float(siril[0]):.0f} chez Siril) ; cible < 5 %")
    print(f"gain SNR / Siril : {qg[0] / sg[0]:.3f} par pixel, {qg[1] / sg[1]:.3f} sur 4 x 4 (cible >= 0,98) ; "
          f"FWHM / Siril : {float(ours[0]) / float(theirs[0]):.3f} (cible à 3 % près)")


def snr_gains(frame, stack):
    """A single frame's noise over the stack's, per pixel and over 4 x 4
    means, from two lines of the quality command (split or not)."""
    frame, stack = (line.split("\t") if isinstance(line, str) else line for line in (frame, stack))
    return float(frame[1]) / float(stack[1]), float(frame[2]) / float(stack[2])


def cmd_sigma_target(frame, ours, *theirs):
    """Our sigma clipping against Siril's default rule (winsorised, rej 3 3
    -norm=addscale), once per way Siril placed its frames: LABEL QUALITY
    pairs."""
    qg = snr_gains(frame, ours)
    for label, line in zip(theirs[::2], theirs[1::2]):
        sg = snr_gains(frame, line)
        print(f"gain SNR de --reject sigma / Siril rej 3 3 ({label}) : {qg[0] / sg[0]:.3f} par pixel, "
              f"{qg[1] / sg[1]:.3f} sur 4 x 4 (cible >= 0,98) ; FWHM : "
              f"{float(ours.split(chr(9))[0]) / float(line.split(chr(9))[0]):.3f}")


# ---------------------------------------------------------------- report

WAYS = [("auto", "--guide auto"), ("marks", "marques données"), ("siril", "Siril (shift)")]
# Share of Siril's wall time each of our ways may take, for the 2048 x 1536
# sets and for the large one; a way may always take 1.15 times the floor.
TARGETS = {"auto": (0.8, 1.0), "marks": (0.6, 0.9)}


def read_data(path):
    sets, runs, floors, qual, checks = [], {}, {}, {}, {}
    with open(path) as f:
        for line in f:
            p = line.rstrip("\n").split("\t")
            if p[0] == "set":
                sets.append(dict(name=p[1], label=p[2], frames=int(p[3]), large=p[4] == "1", bytes=int(p[5])))
            elif p[0] == "run":
                runs.setdefault((p[1], p[2]), []).append(
                    dict(wall=float(p[4]), cpu=float(p[5]), rss=float(p[6]) / 1024, ok=p[7] == "0", kept=p[8])
                )
            elif p[0] == "floor":
                floors.setdefault((p[1], p[2]), []).append((float(p[4]), float(p[5])))
            elif p[0] == "quality":
                qual[(p[1], p[2])] = (float(p[3]), float(p[4]), float(p[5]), int(p[6]))
            elif p[0] == "check":
                checks[p[1]] = p[2:]
    return sets, runs, floors, qual, checks


def median_of(rows, key):
    vals = [r[key] for r in rows if r["ok"]]
    return statistics.median(vals) if vals else None


def summarise(path, shm):
    """Per set: the floors, and per way the medians, ratios and target."""
    sets, runs, floors, qual, checks = read_data(path)
    out = []
    for s in sets:
        fl = {}
        for place in ("disk", "shm"):
            rows = floors.get((s["name"], place), [])
            if rows:
                w = statistics.median(r[0] for r in rows)
                r = statistics.median(r[1] for r in rows)
                fl[place] = (w, r, w + r)
        floor = fl.get("shm" if shm else "disk")
        ways = {}
        for key, label in WAYS:
            rows = runs.get((s["name"], key), [])
            ways[key] = dict(
                label=label,
                wall=median_of(rows, "wall"),
                cpu=median_of(rows, "cpu"),
                rss=median_of(rows, "rss"),
                failed=sum(1 for r in rows if not r["ok"]),
                runs=len(rows),
                kept=rows[-1]["kept"] if rows else "-",
                quality=qual.get((s["name"], key)),
            )
        siril = ways["siril"]
        for key in ("auto", "marks"):
            w = ways[key]
            for m in ("wall", "cpu"):
                w[m + "_ratio"] = w[m] / siril[m] if w[m] and siril[m] else None
            k = TARGETS[key][1 if s["large"] else 0]
            if siril["wall"] and floor:
                w["target"] = max(k * siril["wall"], 1.15 * floor[2])
                w["held"] = w["wall"] is not None and w["wall"] <= w["target"]
        out.append(dict(set=s, floors=fl, floor=floor, ways=ways, frame=qual.get((s["name"], "frame")),
                        check=checks.get(s["name"])))
    return out


def fmt(v, form=".2f", none="-"):
    return none if v is None else format(v, form)


def quality_text(q):
    return ("-", "-", "-") if q is None else (fmt(q[0]), fmt(q[1], ".1f"), fmt(q[2], ".1f"))


def print_set(entry, shm):
    s, fl = entry["set"], entry["floors"]
    mb = s["bytes"] / 1e6
    print(f"\n== {s['label']} ==")
    for place, name in (("disk", "disque"), ("shm", "/dev/shm")):
        if place in fl:
            w, r, t = fl[place]
            mark = "  <- dossier des exécutions" if (place == "shm") == shm else ""
            print(f"plancher {name:9} ({mb:.0f} Mo) : écriture {w:.2f} s + relecture {r:.2f} s = {t:.2f} s{mark}")
    print(f"{'façon':16} {'mur (s)':>8} {'CPU (s)':>8} {'mur/Siril':>9} {'CPU/Siril':>9} {'RSS (Mo)':>8} "
          f"{'images':>6} {'FWHM (px)':>9} {'bruit':>6} {'bruit 4x4':>9} {'cible (s)':>9}")
    for key, _ in WAYS:
        w = entry["ways"][key]
        f, n, n4 = quality_text(w["quality"])
        target = ""
        if "target" in w:
            target = f"{w['target']:9.2f} {'tenu' if w['held'] else 'non tenu'}"
        fail = f"  ({w['failed']} échec(s) sur {w['runs']})" if w["failed"] else ""
        print(f"{w['label']:16} {fmt(w['wall']):>8} {fmt(w['cpu']):>8} {fmt(w.get('wall_ratio')):>9} "
              f"{fmt(w.get('cpu_ratio')):>9} {fmt(w['rss'], '.0f'):>8} {w['kept']:>6} {f:>9} {n:>6} {n4:>9} "
              f"{target}{fail}")
    f, n, n4 = quality_text(entry["frame"])
    print(f"{'une pose (1)':16} {'':>8} {'':>8} {'':>9} {'':>9} {'':>8} {'':>6} {f:>9} {n:>6} {n4:>9}")


def print_markdown(entries, shm):
    place = "/dev/shm" if shm else "disque"
    print("| jeu | façon | mur (s) | CPU (s) | mur / Siril | CPU / Siril | RSS max (Mo) | FWHM (px) "
          f"| bruit (ADU) | bruit 4x4 (ADU) | plancher {place} (s) | cible (s) | |")
    print("|---|---|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|---|")
    for e in entries:
        fl = e["floor"]
        for key, _ in WAYS:
            w = e["ways"][key]
            f, n, n4 = quality_text(w["quality"])
            target, held = "", ""
            if "target" in w:
                target, held = f"{w['target']:.2f}", "tenu" if w["held"] else "non tenu"
            wall_ratio, cpu_ratio = (fmt(w.get(k), none="") for k in ("wall_ratio", "cpu_ratio"))
            print(f"| {e['set']['label']} | {w['label']} | {fmt(w['wall'])} | {fmt(w['cpu'])} | {wall_ratio} "
                  f"| {cpu_ratio} | {fmt(w['rss'], '.0f')} | {f} | {n} | {n4} | {fmt(fl[2] if fl else None)} "
                  f"| {target} | {held} |")
        f, n, n4 = quality_text(e["frame"])
        print(f"| {e['set']['label']} | une pose | | | | | | {f} | {n} | {n4} | | | |")
    for e in entries:
        if e["check"]:
            print(f"\n{e['set']['label']} : la moyenne de Siril s'écarte d'au plus {e['check'][0]} ADU de la "
                  f"moyenne simple de ses {e['check'][1]} images alignées.", end="")
    print()


def cmd_report(path, args):
    shm = "--shm" in args
    entries = summarise(path, shm)
    if "--markdown" in args:
        print_markdown(entries, shm)
        return
    name = args[args.index("--set") + 1] if "--set" in args else None
    for e in entries:
        if name is None or e["set"]["name"] == name:
            print_set(e, shm)


def main(argv):
    if len(argv) < 2:
        sys.exit(__doc__)
    cmd, args = argv[1], argv[2:]
    if cmd == "quality" and len(args) == 2:
        cmd_quality(*args)
    elif cmd == "siril-check" and len(args) >= 2:
        cmd_siril_check(args[0], args[1:])
    elif cmd == "floor" and len(args) == 3:
        cmd_floor(*args)
    elif cmd == "trail" and len(args) == 6:
        cmd_trail(*args)
    elif cmd == "rejection-report" and len(args) in (6, 7):
        cmd_rejection_report(*args)
    elif cmd == "sigma-target" and len(args) >= 4 and len(args) % 2 == 0:
        cmd_sigma_target(*args)
    elif cmd == "report" and args:
        cmd_report(args[0], args[1:])
    else:
        sys.exit(__doc__)


if __name__ == "__main__":
    main(sys.argv)
