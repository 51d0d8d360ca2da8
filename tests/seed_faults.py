#!/usr/bin/env python3
"""Seeds one fault at a time into the product and asks whether the tests notice.

Each fault is a (file, exact original snippet, replacement) triple. The snippet
must occur exactly once in its file: when the code moves on and a snippet no
longer matches, the script stops before touching anything, so the list is kept
honest rather than silently shrinking.

For each fault: write it into the working tree, rebuild the test programs and
the tool, run ctest (stopping at the first failure), put the file back, and
record caught / missed with the first failing test. The file is put back even
when the run is interrupted.

    tests/seed_faults.py --build build --results faults.tsv          # every fault
    tests/seed_faults.py --build build --results faults.tsv --only 7  # one fault again
    tests/seed_faults.py --build build --results faults.tsv --resume  # skip recorded ones
    tests/seed_faults.py --baseline ...                               # the unchanged code
    tests/seed_faults.py --check                                      # snippets only
"""

import argparse
import os
import re
import subprocess
import sys
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))

# The two long sessions in a virtual display replay whole nights; they are left
# out by default (--all-tests puts them back) since each costs minutes and
# walks the same engine paths the other tests do.
LONG_TESTS = "gui.night_session|gui.scripted_session"

# (file, original, replacement, what the fault is)
FAULTS = [
    # Pixel kernels: process
    ("src/process/pixel_rows.cpp", "v = std::max<int32_t>(1, static_cast<int32_t>(d));", "v = static_cast<int32_t>(d);",
     "dark subtraction: floor at 1 removed"),
    ("src/process/pixel_rows.cpp", "from = decoded[planes == 3 ? p : 0];", "from = decoded[planes == 3 ? 2 - p : 0];",
     "row routing: red and blue planes swapped"),
    ("src/process/pixel_rows.cpp", "skip[x] = mask[static_cast<size_t>(x) * step] != 0;",
     "skip[x] = mask[static_cast<size_t>(x) * step] == 0;", "mask row: comparison flipped"),
    ("src/process/pixel_rows.cpp", "std::min(sum, static_cast<uint32_t>(kTop)) / 96u",
     "std::min(sum, static_cast<uint32_t>(kTop)) / 97u", "histogram: bin width off by one"),
    ("src/process/pixel_rows.cpp", "const double f = flatMean / fp;", "const double f = fp / flatMean;",
     "flat: ratio inverted"),
    ("src/process/cfa.cpp", "const int* cell = kLayouts[layout] + 2 * (y & 1);",
     "const int* cell = kLayouts[layout] + 2 * ((y + 1) & 1);", "CFA: cell row off by one"),
    ("src/process/cfa.cpp", "if (k & 4) k += 2;", "if (k & 4) k += 1;", "CFA: layout of the ssdsi bit"),
    ("src/process/cfa.cpp", "if (count >= 1) row[x] = static_cast<int32_t>(RoundHalfEven(static_cast<double>(sum) / count));",
     "if (count >= 1) row[x] = static_cast<int32_t>(static_cast<double>(sum) / count + 0.5);",
     "CFA fill: half away instead of half to even"),
    ("src/process/fuse.cpp", "for (int i = 0; i <= xn; ++i) {", "for (int i = 0; i < xn; ++i) {",
     "2x2 fuse: last column dropped"),
    ("src/process/defects.cpp", "const int radius = o.size - 1;", "const int radius = o.size;",
     "hot pixels: window radius off by one"),
    ("src/process/defects.cpp", "for (int x = 1; x <= xm - 1; ++x) {", "for (int x = 1; x <= xm - 2; ++x) {",
     "hot pixels: last inner column not examined"),
    # Pixel kernels: display
    ("src/display/render.cpp",
     "return (ToByte(Clamp255(rv)) << 16) | (ToByte(Clamp255(gv)) << 8) | ToByte(Clamp255(bv));",
     "return (ToByte(Clamp255(bv)) << 16) | (ToByte(Clamp255(gv)) << 8) | ToByte(Clamp255(rv));",
     "draw: red and blue swapped"),
    ("src/display/render.cpp", "const int32_t m = ToByte(Clamp255((gv + rv + bv) * 0.33333333));",
     "const int32_t m = ToByte((gv + rv + bv) * 0.33333333);", "draw mono: clamp removed"),
    ("src/display/render.cpp", "return static_cast<int32_t>(bits & 0xFF);",
     "return static_cast<int32_t>(v + 0.5) & 0xFF;", "draw: half away instead of half to even"),
    ("src/display/render.cpp", "dh = RoundHalfEven(h * static_cast<double>(zoomPercent) / 100.0);",
     "dh = RoundHalfEven(h * static_cast<double>(zoomPercent) / 100.0 + 1);", "view geometry: height off by one"),
    ("src/display/histogram.cpp", "const double s = p * p;", "const double s = p;", "levels: slider curve linear"),
    ("src/display/histogram.cpp", "h = pictureWidth > innerWidth - (v ? barThickness : 0);",
     "h = pictureWidth >= innerWidth - (v ? barThickness : 0);", "scroll bars: comparison loosened"),
    # Parsers
    ("src/io/fits_reader.cpp", "  if (v < 0) v = 0;\n  if (v > 65535) v = 65535;\n", "  if (v < 0) v = 0;\n",
     "FITS double: clamp at 65535 removed"),
    ("src/io/fits_reader.cpp", "e.ImgDataPos = CLng(static_cast<double>(consumed) + 1);",
     "e.ImgDataPos = CLng(static_cast<double>(consumed));", "FITS header: data position off by one"),
    ("src/io/fits_reader.cpp", "if (CLng(Val(value)) % 2 > 0) e.ImgFlags |= FlagOddX;",
     "if (CLng(Val(value)) % 2 > 0) e.ImgFlags |= FlagOddY;", "FITS header: x origin read as y"),
    ("src/io/tiff_reader.cpp", "uint16_t Le16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }",
     "uint16_t Le16(const uint8_t* p) { return static_cast<uint16_t>((p[0] << 8) | p[1]); }",
     "TIFF: 16-bit fields big-endian"),
    ("src/io/tiff_reader.cpp", "const bool separate = table.planar == 2 && samples > 1;",
     "const bool separate = table.planar == 2 && samples > 3;", "TIFF: separate planes taken as contiguous"),
    ("src/platform/freeimage_loader.cpp", "b.rows = b.h < 0 ? -b.h : b.h;", "b.rows = b.h;",
     "BMP header: sign of a top-down height kept"),
    ("src/platform/freeimage_loader.cpp",
     "if (!b.bmp || !(b.infoSize == 108 || b.infoSize == 124 || (b.infoSize == 40 && rle))) return false;",
     "if (!b.bmp || !(b.infoSize == 108 || (b.infoSize == 40 && rle))) return false;", "BMP header: version 5 info header refused"),
    ("src/workspace/project_file.cpp", "const double fx = 1 / (w - 1), fy = 1 / (h - 1);",
     "const double fx = 1 / w, fy = 1 / h;", "project: pixel positions scaled off by one"),
    ("src/workspace/project_file.cpp", "e.ImgRefX = Val(f[10]);", "e.ImgRefX = Val(f[11]);",
     "project: reference x read from the y column"),
    ("src/workspace/project_file.cpp", "if (slider < 0 || slider > 20) Raise(kErrInvalidPropertyValue);",
     "if (slider < 0 || slider > 21) Raise(kErrInvalidPropertyValue);", "project: slider limit off by one"),
    ("src/workspace/option_table.cpp", "return l.rule ? l.rule(v) : MaxOf(l.lo, MinOf(l.hi, v));",
     "return l.rule ? l.rule(v) : MinOf(l.hi, v);",
     "settings: lower limit not applied"),
    ("src/workspace/option_table.cpp", "if (int16_t* x = Slot<int16_t>(row, p)) *x = v != 0 ? 1 : 0;",
     "if (int16_t* x = Slot<int16_t>(row, p)) *x = v > 0 ? 1 : 0;", "settings: negative check box value read as off"),
    # Writers
    ("src/io/fits_writer.cpp", "std::memcpy(c + 30 - n, value.data() + value.size() - n, n);",
     "std::memcpy(c + 29 - n, value.data() + value.size() - n, n);", "FITS writer: card value one column left"),
    ("src/io/fits_writer.cpp", "StrSingle(static_cast<float>(maximum - minimum + 1))",
     "StrSingle(static_cast<float>(maximum - minimum))", "FITS writer: RANGE off by one"),
    ("src/io/tiff_writer.cpp", "p[1] = static_cast<uint8_t>((n / 256) & 255);", "p[1] = static_cast<uint8_t>((n / 255) & 255);",
     "TIFF writer: high byte wrong"),
    ("src/io/picture_export.cpp", "uint8_t* out = file.data() + 54 + row * static_cast<size_t>(h - 1 - y);",
     "uint8_t* out = file.data() + 54 + row * static_cast<size_t>(y);", "BMP writer: rows not bottom-up"),
    ("src/io/picture_export.cpp", "return r % 4 ? r + 4 - r % 4 : r;", "return r;", "BMP writer: row padding dropped"),
    ("src/io/picture_export.cpp", "line[3 * x + FI_RGBA_RED] = static_cast<BYTE>(src[x] >> 16);",
     "line[3 * x + FI_RGBA_RED] = static_cast<BYTE>(src[x] >> 8);", "JPEG writer: red takes green"),
    # Stacking run and combination
    ("src/stack/frame_combine.cpp", "return static_cast<int32_t>(RoundHalfEven(static_cast<double>(lower + upper) / 2.0));",
     "return static_cast<int32_t>((lower + upper + 1) / 2);", "median of frames: half up instead of half to even"),
    ("src/stack/frame_combine.cpp", "const double mean = frames.empty() ? 0.0 : RoundHalfEven(sum / count);",
     "const double mean = frames.empty() ? 0.0 : RoundHalfEven(sum / (count + 1));", "scaled mean: count off by one"),
    ("src/stack/combine.cpp", "const double wx = 1 - std::fabs(xs - f.cxS) * f.ix,",
     "const double wx = 1 + std::fabs(xs - f.cxS) * f.ix,", "combination weight: sign changed"),
    ("src/stack/combine.cpp", "const int ys = CInt(RoundHalfEven(-rx * sn + ry * c + f.cyS));",
     "const int ys = CInt(RoundHalfEven(rx * sn + ry * c + f.cyS));", "resampling: rotation sign"),
    ("src/stack/combine.cpp", "if (m[x] <= limit) dst[x] = m[x];", "if (m[x] >= limit) dst[x] = m[x];",
     "median filter: limit comparison flipped"),
    ("src/stack/combine.cpp", "f.xmax = u1 - e;", "f.xmax = u1 - e - 1;", "edge cut: one column too many"),
    ("src/stack/accumulate.cpp", "if (e.ImgAngle != 0) s.stack.StackAngle -= e.ImgAngle * kDegree;",
     "if (e.ImgAngle != 0) s.stack.StackAngle += e.ImgAngle * kDegree;", "accumulate: angle sign"),
    ("src/stack/accumulate.cpp", "for (int q = 0; q < 4; ++q) {", "for (int q = 0; q < 3; ++q) {",
     "accumulate: one corner of the canvas ignored"),
    ("src/stack/guide.cpp", "for (int pass = 0; pass < n - 1; ++pass) {", "for (int pass = 0; pass < 1; ++pass) {",
     "guide box: hole filling stops after one pass"),
    # Window handlers
    ("src/workspace/form1_events.cpp", "Current(f).ImgRefY = Fraction(py, U2(s));",
     "Current(f).ImgRefY = Fraction(py, U1(s));",
     "click: reference y scaled by the width"),
    ("src/workspace/form1_events.cpp",
     "for (int i = s.CurPic + 1; i <= s.ImageCount(); ++i, ++copied) s.Entry(i).ImgZone = zone;",
     "for (int i = s.CurPic + 1; i < s.ImageCount(); ++i, ++copied) s.Entry(i).ImgZone = zone;",
     "copy zone: last image left out"),
    ("src/workspace/form1_events.cpp", "if (!zone.empty() && zone.back() != 'S') zone += 'S';",
     "if (!zone.empty() && zone.back() == 'S') zone += 'S';", "close zone: comparison flipped"),
    ("src/workspace/form1_events.cpp", "if (keyCode == kKeyUp) SelectPic(f, s.CurPic - 1, false, false);",
     "if (keyCode == kKeyUp) SelectPic(f, s.CurPic - 2, false, false);", "key up: two images back"),
    ("src/workspace/form1_events.cpp", "const int16_t z = static_cast<int16_t>(1 << index);",
     "const int16_t z = static_cast<int16_t>(2 << index);", "zoom menu: factor off by one place"),
    ("src/editor/operations.cpp", "for (int x = 0; x <= u2; ++x) dst[x] = in(y, u2 - x);",
     "for (int x = 0; x <= u2; ++x) dst[x] = in(y, x);", "editor rotate: mirrored"),
    ("src/editor/operations.cpp", "if (m < 255 && m > a) pic(xx, yy) = 0;", "if (m < 255 && m >= a) pic(xx, yy) = 0;",
     "editor saturation: comparison loosened"),
    ("src/editor/form3.cpp", "return v >= 1 && v <= 32767 ? static_cast<int16_t>(RoundHalfEven(v)) : 0;",
     "return v >= 1 && v <= 32767 ? static_cast<int16_t>(v + 0.5) : 0;", "editor: half away instead of half to even"),
    # Fast paths: the split loops, the counting medians, the inline rounding
    ("src/stack/combine.cpp", "const int last = std::min(y1, yd + (4 - yd % 4) % 4);",
     "const int last = std::min(y1, yd + (4 - yd % 4) % 4 + 1);", "combination: a share of rows runs past its stop test"),
    ("src/stack/combine.cpp", "bool canFail = e < 0;", "bool canFail = false;",
     "combination: rows that can fail are split anyway"),
    ("src/stack/star_match.cpp", "    if (y0 > 0) sky.Row(y0 - 1, rows);\n    sky.Row(y0, rows);\n    for (int y = y0; y <= y1; ++y) {",
     "    sky.Row(y0, rows);\n    for (int y = y0; y <= y1; ++y) {", "detection: the second half samples without the row above"),
    ("src/stack/star_match.cpp", "    if (shift == 0) return FromOrderKey(lo + d);", "    if (shift == 0) return FromOrderKey(lo + d + 1);",
     "counting median: one key too high"),
    ("src/core/numeric.h", "return std::copysign((a + kTwo52) - kTwo52, v);", "return (a + kTwo52) - kTwo52;",
     "rounding: the sign dropped"),
    ("src/process/pixel_rows.cpp", "if (bin[i] < kHistoBins) ++histo[bin[i]];",
     "if (bin[i] < kHistoBins) histo[bin[i]] += 0;",
     "histogram: the pixels before an overflow not counted"),
    # Rejection layers and frame scores
    ("src/stack/reject.cpp", "greyEven = greyEven && l.grey && !l.weighted;", "greyEven = greyEven && !l.weighted;",
     "rejection: colour layers judged as grey"),
    ("src/stack/frame_score.cpp", "constexpr double kFwhmPerSigma = 2.3548;", "constexpr double kFwhmPerSigma = 2.0;",
     "frame scores: FWHM from the wrong factor"),
    ("src/stack/combine.cpp", "  ~GreyNight() { CatchUp(); }", "  ~GreyNight() {}",
     "combination: a grey night's green and blue not copied from red at the end"),
    ("src/stack/combine.cpp", "CInt(RoundHalfEven(rx * c + f.cxS));", "CInt(RoundHalfEven(rx * c + f.cxS)) + 1;",
     "combination: an unturned frame's columns off by one"),
    ("src/stack/combine.cpp", "to = parts == 1 || part == 1 ? total : half;", "to = parts == 1 || part == 1 ? total : half - 4096;",
     "combination: a gap between the two halves of a parked file's read"),
    ("src/stack/stacking.cpp", "    if (!written) writing->first.parked = written;\n", "",
     "run: a file written aside that failed told as parked"),
    ("src/process/pixel_rows.cpp", "for (int k = lo; k <= std::min(hi, kHistoBins - 1); ++k)",
     "for (int k = lo; k < std::min(hi, kHistoBins - 1); ++k)",
     "histogram: the highest bin of a row's other tables not added in"),
    ("src/process/process_pic.cpp", "for (int y = from; y <= to; ++y)", "for (int y = from; y < from; ++y)",
     "processing: the rows a failure or a stop leaves keep the last image's pixels"),
    ("src/process/process_pic.cpp", "grey = planesInFile == 1 && chan == 0 && !s.cal.UseDark;",
     "grey = planesInFile == 1 && !s.cal.UseDark;",
     "processing: a single plane routed to one colour called grey"),
    ("src/app/main_window.cpp", "Check9_[k]->isChecked() != on) Check9_[k]->setChecked(on);",
     "Check9_[k]->isChecked() != on) (void)on;",
     "window: a strip check no longer follows its box"),
    ("src/stack/stacking.cpp", "s.progress.StopRequestedWithoutYield()) result.stopped = true;",
     "s.progress.StopRequestedWithoutYield()) result.stopped = false;",
     "run: a stop during the combination told as a failure"),
    ("src/stack/accumulate.cpp", "  if (grey) s.stack.KnownGreyFiles.insert(name);", "  s.stack.KnownGreyFiles.insert(name);",
     "combination: a colour frame's file read as grey"),
    ("src/stack/combine.cpp", "planes[p]->Data()) + from, red + from, to - from);",
     "planes[p]->Data()) + from, red + from, (to - from) / 2);",
     "combination: half of a grey file's green and blue not copied from its red"),
]

TARGETS = ["quelvista_tests", "quelvista_gui_tests", "quelvista-cli"]
LONG_TARGETS = ["quelvista_scripted_session", "quelvista_night_session"]


def read(path):
    with open(os.path.join(ROOT, path), encoding="utf-8") as f:
        return f.read()


def write(path, text):
    # Same mode and a fresh time stamp, so the build sees the change.
    with open(os.path.join(ROOT, path), "w", encoding="utf-8") as f:
        f.write(text)


def check_all():
    bad = []
    for n, (path, old, new, _) in enumerate(FAULTS, 1):
        try:
            count = read(path).count(old)
        except OSError as e:
            bad.append(f"fault {n}: {path}: {e}")
            continue
        if count != 1:
            bad.append(f"fault {n}: {path}: the snippet occurs {count} times: {old!r}")
        if old == new:
            bad.append(f"fault {n}: replacement equals the original")
    return bad


def run(cmd, log, timeout):
    start = time.time()
    try:
        p = subprocess.run(cmd, cwd=ROOT, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True, timeout=timeout)
        out, rc = p.stdout, p.returncode
    except subprocess.TimeoutExpired as e:
        out = (e.stdout or b"").decode(errors="replace") if isinstance(e.stdout, bytes) else (e.stdout or "")
        rc = "timeout"
    with open(log, "a", encoding="utf-8") as f:
        f.write(f"$ {' '.join(cmd)}\n{out}\n[rc={rc} {time.time() - start:.0f}s]\n")
    return rc, out


def first_failure(out):
    # ctest lists the failed tests after "The following tests FAILED:".
    tail = out.split("The following tests FAILED:", 1)
    if len(tail) == 2:
        m = re.search(r"^\s*\d+ - (\S+)", tail[1], re.M)
        if m:
            return m.group(1)
    m = re.search(r"\*\*\*(?:Failed|Timeout|Exception)[^\n]*", out)
    line = out[: m.start()].rsplit("\n", 1)[-1] if m else ""
    m2 = re.search(r"Test\s+#\d+: (\S+)", line)
    return m2.group(1) if m2 else "?"


def every_failure(out):
    tail = out.split("The following tests FAILED:", 1)
    return re.findall(r"^\s*\d+ - (\S+)", tail[1], re.M) if len(tail) == 2 else []


def suite(args, log, extra_targets=()):
    """Builds and runs the suite; gives (verdict, first failing test, seconds)."""
    start = time.time()
    targets = TARGETS + list(extra_targets) + (LONG_TARGETS if args.all_tests else [])
    cmd = ["cmake", "--build", args.build, f"-j{args.jobs}", "--target"] + targets
    rc, out = run(cmd, log, args.build_timeout)
    if rc != 0:
        return "build-failed", "", time.time() - start
    # Two passes: the window tests are one ctest test of a minute and a half,
    # and --stop-on-failure waits for tests already running, so they only run
    # once everything else has passed.
    skip = "" if args.all_tests else "|" + LONG_TESTS
    if args.every_failure:
        # The whole suite, to learn every test that catches the fault: the
        # matrix that shows which tests no fault needs.
        select = ["-E", LONG_TESTS] if skip else []
        rc, out = run(["ctest", "--test-dir", args.build, f"-j{args.jobs}"] + select, log, args.test_timeout)
        if rc == "timeout":
            return "caught", "(suite timed out)", time.time() - start
        failed = every_failure(out)
        return ("caught" if rc != 0 else "missed"), ",".join(failed), time.time() - start
    base = ["ctest", "--test-dir", args.build, f"-j{args.jobs}", "--stop-on-failure", "--output-on-failure"]
    for select in (["-E", r"^gui\." + skip], ["-R", r"^gui\."] + (["-E", LONG_TESTS] if skip else [])):
        rc, out = run(base + select, log, args.test_timeout)
        if rc == "timeout":
            return "caught", "(suite timed out)", time.time() - start
        if rc != 0:
            return "caught", first_failure(out), time.time() - start
    return "missed", "", time.time() - start


def recorded(path):
    done = {}
    if path and os.path.exists(path):
        with open(path, encoding="utf-8") as f:
            for line in f:
                cols = line.rstrip("\n").split("\t")
                if cols and cols[0].isdigit():
                    done[int(cols[0])] = cols
    return done


def main():
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("--build", default="build", help="the configured build folder")
    ap.add_argument("--results", help="a tab-separated file the rows are appended to")
    ap.add_argument("--log", default=None, help="build and ctest output (default: RESULTS.log)")
    ap.add_argument("--only", help="fault numbers, e.g. 3 or 3,7,12 or 5-9")
    ap.add_argument("--resume", action="store_true", help="skip the faults the results file already holds")
    ap.add_argument("--baseline", action="store_true", help="run the suite on the unchanged code first")
    ap.add_argument("--check", action="store_true", help="only check that every snippet matches once")
    ap.add_argument("--list", action="store_true", help="list the faults")
    ap.add_argument("--all-tests", action="store_true", help="keep the two long window sessions")
    ap.add_argument("--every-failure", action="store_true",
                    help="run the whole suite for each fault and record every test that fails, not the first")
    ap.add_argument("--jobs", type=int, default=2)
    ap.add_argument("--build-timeout", type=int, default=1800)
    ap.add_argument("--test-timeout", type=int, default=900)
    args = ap.parse_args()

    if args.list:
        for n, (path, _, _, what) in enumerate(FAULTS, 1):
            print(f"{n:3}  {path:40} {what}")
        return 0
    bad = check_all()
    if bad:
        print("Snippets that no longer match (fix the list before running):", file=sys.stderr)
        print("\n".join(bad), file=sys.stderr)
        return 2
    if args.check:
        print(f"{len(FAULTS)} faults, every snippet matches once")
        return 0

    chosen = list(range(1, len(FAULTS) + 1))
    if args.only:
        chosen = []
        for part in args.only.split(","):
            a, _, b = part.partition("-")
            chosen += range(int(a), int(b or a) + 1)
        if any(n < 1 or n > len(FAULTS) for n in chosen):
            ap.error(f"faults are numbered 1..{len(FAULTS)}")
    if args.resume:
        done = recorded(args.results)
        chosen = [n for n in chosen if n not in done]
    log = args.log or ((args.results or "seed_faults") + ".log")

    def record(row):
        line = "\t".join(str(c) for c in row)
        print(line, flush=True)
        if args.results:
            with open(args.results, "a", encoding="utf-8") as f:
                f.write(line + "\n")

    if args.results and not os.path.exists(args.results):
        record(["#", "verdict", "first failing test", "seconds", "file", "fault"])
    if args.baseline:
        # The program itself only answers gui.version, which no fault
        # changes: it is built once here rather than relinked for each fault.
        verdict, test, secs = suite(args, log, ["quelvista"])
        ok = verdict == "missed"  # nothing seeded, so nothing may fail
        record(["baseline", "pass" if ok else "FAILS", test, f"{secs:.0f}", "", "unchanged code"])
        if not ok:
            print("The unchanged code does not pass: fault runs would mean nothing.", file=sys.stderr)
            return 1

    for n in chosen:
        path, old, new, what = FAULTS[n - 1]
        original = read(path)
        try:
            write(path, original.replace(old, new, 1))
            verdict, test, secs = suite(args, log)
        finally:
            write(path, original)
        record([n, verdict, test, f"{secs:.0f}", path, what])

    # Rebuild the restored tree, so the build folder matches the sources again.
    run(["cmake", "--build", args.build, f"-j{args.jobs}", "--target"] + TARGETS, log, args.build_timeout)
    if args.results:
        rows = recorded(args.results)
        caught = sum(1 for r in rows.values() if r[1] == "caught")
        print(f"{caught} of {len(rows)} recorded faults caught")
    return 0


if __name__ == "__main__":
    sys.exit(main())
