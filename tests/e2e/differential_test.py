#!/usr/bin/env python3
"""Runs morvel and the reference model on the same generated inputs and compares the console
transcript and morvel.out byte for byte.

The inputs come from a fixed seed: random reals in many textual forms, partial numbers,
extra columns, plateaus, constant runs, peaks exactly on bin edges, out-of-range and
subnormal values, very long digit strings, and numbers cut by the program's read-block
boundary. A mismatching input is kept under ./differential_failures/ for a rerun by hand.
"""

import argparse
import decimal
import difflib
import importlib
import math
import os
import random
import shutil
import subprocess
import sys
import tempfile

SEED = 20030715
BLOCK = 1 << 20  # the program reads its input in blocks of this many bytes


def load_model(path):
    sys.path.insert(0, os.path.dirname(os.path.abspath(path)))
    return importlib.import_module(os.path.splitext(os.path.basename(path))[0])


# --- Number texts ---------------------------------------------------------------------


def number_forms(r, x):
    """One of many texts that all read back as (about) x."""
    style = r.randrange(12)
    if style == 0:
        return repr(x)
    if style == 1:
        return "%.17g" % x
    if style == 2:
        return "%.6f" % x
    if style == 3:
        return "%e" % x
    if style == 4:
        return "%E" % x
    if style == 5:
        return "%+.3e" % x
    if style == 6:
        return "%g" % x
    if style == 7:  # leading zeros
        text = "%.5f" % abs(x)
        return ("-" if x < 0 else "") + "000" + text
    if style == 8:  # no digit before the point
        text = "%.7f" % x
        return text.replace("0.", ".", 1) if text.lstrip("-").startswith("0.") else text
    if style == 9:  # a point with no digit after it
        return "%.0f." % x
    if style == 10:  # exponent with a plus sign and leading zeros
        mantissa, exponent = ("%.8e" % x).split("e")
        return "%se+00%d" % (mantissa, int(exponent)) if int(exponent) >= 0 else "%se%d" % (mantissa, int(exponent))
    return "%.12g" % x


def separator(r):
    return r.choice([" ", " ", "\t", "  ", " \t "])


def line_end(r):
    return r.choice(["\n", "\n", "\n", "\r\n", "\n\n", " \n", "\v", "\f"])


def pairs_text(r, values, forms=number_forms, times=None):
    out = []
    for i, a in enumerate(values):
        t = times[i] if times else i * 0.001
        out.append(forms(r, t) + separator(r) + forms(r, a) + line_end(r))
    return "".join(out)


# --- Generators -----------------------------------------------------------------------


def random_reals(r):
    cases = []
    for k in range(6):
        n = r.randint(3, 400)
        scale = 10.0 ** r.randint(-6, 6)
        offset = r.uniform(-5, 5) * scale
        values = [r.uniform(-1, 1) * scale + offset for _ in range(n)]
        cases.append(("random_reals_%d" % k, pairs_text(r, values)))
    # Noise with rare large excursions: peaks in many bins, above 4 and past 6.5 sigma.
    for k in range(3):
        values = [r.gauss(0.3, 1.0) for _ in range(8000)]
        for _ in range(40):
            values[r.randrange(len(values))] = r.choice([-1, 1]) * r.uniform(4, 12)
        cases.append(("noise_with_excursions_%d" % k, "".join("%d %.9f\n" % (i, v) for i, v in enumerate(values))))
    return cases


def plateaus(r):
    cases = []
    for k in range(3):
        values = []
        while len(values) < 300:
            values += [r.randint(-3, 3)] * r.randint(1, 4)
        cases.append(("plateaus_%d" % k, pairs_text(r, values, forms=lambda r, x: "%g" % x)))
    return cases


def constant_runs(r):
    cases = []
    for c, n in [("0.1", 3), ("0.1", 10), ("0.1", 1000), ("0.3333333333333333", 7), ("123.456", 5), ("-7.7", 11),
                 ("1e-3", 999), ("2", 2), ("5", 1)]:
        cases.append(("constant_%s_x%d" % (c, n), "".join("%d %s\n" % (i, c) for i in range(n))))
    # A constant signal interrupted by one plateau.
    cases.append(("constant_with_plateau", "".join("%d %s\n" % (i, "0.7" if 40 <= i < 44 else "0.2") for i in range(100))))
    return cases


def bin_edges(r):
    """Peaks exactly on bin edges: heights of 0.25*j with a deviation of exactly 1.

    Heights come in pairs +j/4, -j/4 (sum 0) until their squares add up to exactly n, the
    number of samples; every other sample is 0, or all are shifted by 0.5, which the mean
    takes off again exactly.
    """
    cases = []
    for k in range(4):
        n = r.choice([500, 1000, 2000])
        target = 16 * n  # in units of (1/4)^2
        total, heights = 0, []
        while total < target:
            room = (target - total) // 2
            j = r.randint(1, min(60, math.isqrt(room)))
            heights += [j, -j]
            total += 2 * j * j
        assert total == target and 2 * len(heights) + 2 <= n
        r.shuffle(heights)
        offset = 0.5 if k % 2 else 0.0
        values = [offset] * n
        for i, h in enumerate(heights):
            values[2 * i + 1] = h * 0.25 + offset
        cases.append(("bin_edges_%d" % k, "".join("%d %r\n" % (i, v) for i, v in enumerate(values))))
    return cases


PARTIALS_GOING_ON = ["2e", "1e+", "3.e", "-", ".", "+.", "-.", "7E-", ".5e"]


def partial_numbers(r):
    cases = []
    for k in range(3):
        out = []
        for i in range(200):
            a = r.choice(PARTIALS_GOING_ON) if r.random() < 0.15 else "%.4f" % r.uniform(-2, 2)
            out.append("%d %s\n" % (i, a))
        cases.append(("partial_accelerations_%d" % k, "".join(out)))
    # A partial number where a time belongs ends the reading.
    cases.append(("partial_time", "0 1\n1 3\n2 -1\n3 0.5\n4e 2\n5 9\n6 9\n"))
    cases.append(("sign_then_letter", "0 1\n1 -e5\n2 3\n3 -2\n"))
    cases.append(("partial_exponent_three_records", "0 1\n1 2e\n3 4\n"))
    cases.append(("point_then_point", "0 1\n1 2.5.25\n3 4\n5 -1\n"))
    cases.append(("hex_and_words", "0 1\n1 2\n2 0x10\n3 4\n"))
    cases.append(("spelled_infinity", "0 1\n1 2\n2 inf\n3 4\n4 5\n"))
    cases.append(("decimal_comma", "0 1,5\n1 2,5\n"))
    return cases


def layouts(r):
    cases = []
    values = [r.uniform(-3, 3) for _ in range(120)]
    flat = []
    for i, v in enumerate(values):
        flat += ["%d" % i, "%.5f" % v]
    # Lines of one, two, three or more numbers shift nothing but the line breaks.
    out, pos = [], 0
    while pos < len(flat):
        take = r.randint(1, 5)
        out.append(" ".join(flat[pos:pos + take]) + line_end(r))
        pos += take
    cases.append(("numbers_per_line_vary", "".join(out)))
    # A line with a third column shifts the pairing of everything after it.
    lines = ["%d %.3f%s\n" % (i, v, " 9" if i in (17, 60) else "") for i, v in enumerate(values)]
    cases.append(("extra_columns", "".join(lines)))
    cases.append(("comma_separated", "".join("%d,%.3f\n" % (i, v) for i, v in enumerate(values[:10]))))
    cases.append(("lone_trailing_time", "".join("%d %.3f\n" % (i, v) for i, v in enumerate(values[:9])) + "9\n"))
    cases.append(("header_line", "time accel\n" + "".join("%d %.3f\n" % (i, v) for i, v in enumerate(values[:9]))))
    cases.append(("words_after_records", "".join("%d %.3f\n" % (i, v) for i, v in enumerate(values[:20])) + "END\n1 2\n3 4\n"))
    cases.append(("nul_byte", "0 1\n1 3\n2 \0 -1\n3 4\n"))
    cases.append(("non_ascii", "0 1\n1 3\n2 -1\n\xc3\xa9 4\n5 6\n"))
    for ending in ["2e", "-", "1.5", "1e+", "."]:
        cases.append(("ends_without_line_feed_" + ending, "0 1\n1 3\n2 -1\n3 0.5\n4 " + ending))
    cases.append(("ends_with_lone_time_without_line_feed", "0 1\n1 3\n2 -1\n3 0.5\n4"))
    cases.append(("empty", ""))
    cases.append(("whitespace_only", " \t\r\n\v\f\n"))
    cases.append(("one_record", "0 3.25\n"))
    cases.append(("two_records", "0 3.25\n1 -1\n"))
    cases.append(("three_records", "0 3.25\n1 -1\n2 0.5\n"))
    cases.append(("signed_zeros", "0 -0\n1 +0\n2 -0.0\n3 0e-5\n4 -.0e+99\n5 1\n6 -0\n"))
    return cases


def extremes(r):
    cases = []
    texts = ["1e308", "1e309", "-1e400", "1e-400", "4.9e-324", "2.4703282292062327e-324",
             "2.4703282292062328e-324", "1.7976931348623157e308", "1.7976931348623158e308",
             "1.7976931348623159e308", "2.2250738585072011e-308", "2.2250738585072014e-308",
             "1e0000000000000000000000001", "1e99999999999999999999", "0e99999999999999999",
             "-1e-99999999999999999999", "1e-0000000000000000000000000000000000000323"]
    for text in texts:
        cases.append(("extreme_" + text, "0 0\n1 %s\n2 0\n3 1\n4 0.5\n" % text))
    cases.append(("squares_near_overflow", "".join("%d %s\n" % (i, v) for i, v in enumerate(["1e154", "-1.3e154", "9e153", "1e100"]))))
    cases.append(("squares_overflow", "".join("%d %s\n" % (i, v) for i, v in enumerate(["1e200", "-1e200", "3", "1"]))))
    cases.append(("tiny_signal", "".join("%d %r\n" % (i, r.uniform(-1, 1) * 1e-160) for i in range(50))))
    return cases


def exact_decimal(x):
    """The exact decimal digits of a binary fraction (a float, or a Decimal power of 2)."""
    decimal.getcontext().prec = 2000
    return format(decimal.Decimal(x), "f")


def long_digits(r):
    cases = []
    # 1 + 2^-53 lies exactly halfway between 1 and the next double: alone it rounds to 1
    # (even); one non-zero digit far beyond the first 768 makes it round up.
    half = exact_decimal(1.0) + "." + exact_decimal(2.0 ** -53)[2:]
    tie_up = half + "0" * 900 + "1"
    # Between 1 and its neighbours a difference of 2^-52 shows as the maximum of 1 1+d 1;
    # half the least subnormal shows as the maximum of 0 x 0.
    decimal.getcontext().prec = 2000
    subnormal_half = exact_decimal(decimal.Decimal(2) ** -1075)
    for label, text, around in [("halfway_even", half, "1"), ("halfway_sticky_up", tie_up, "1"),
                                ("subnormal_halfway", subnormal_half, "0"),
                                ("subnormal_halfway_sticky", subnormal_half + "0" * 500 + "1", "0")]:
        cases.append(("long_" + label, "0 %s\n1 %s\n2 %s\n" % (around, text, around)))
    values = []
    for _ in range(60):
        digits = "".join(r.choice("0123456789") for _ in range(r.randint(20, 900)))
        point = r.randint(0, len(digits))
        values.append(("-" if r.random() < 0.5 else "") + digits[:point] + "." + digits[point:] +
                      (("e%d" % r.randint(-400, 400)) if r.random() < 0.5 else ""))
    cases.append(("long_random_digits", "".join("%d %s\n" % (i, v) for i, v in enumerate(values))))
    cases.append(("long_leading_zeros", "0 " + "0" * 1000 + "1.5\n1 0." + "0" * 1000 + "15e1003\n2 -2\n"))
    return cases


def block_boundaries(r):
    """Inputs just over one read block, with a number cut by the block boundary."""
    # Every filler sample is 1 (or 0), so the cut number alone sets the maximum.
    ones = "0.000000000000000000000001 1.00000000000000000000000000000000000000000000000000\n"
    zeros = "0.000000000000000000000001 0.00000000000000000000000000000000000000000000000000\n"
    half = exact_decimal(1.0) + "." + exact_decimal(2.0 ** -53)[2:]
    cuts = [
        ("long_number", "3." + "1234567890" * 90, 450, ones),
        ("halfway_sticky", half + "0" * 900 + "1", 700, ones),
        ("partial_exponent", "2e", 1, ones),
        ("exponent_digits", "1e+5", 3, ones),
        ("sign", "-1.5", 1, ones),
        ("number_ends_at_boundary", "7.25", 4, ones),
        ("time_cut", "1.5", 2, ones),
        ("subnormal", "2.4703282292062328e-324", 10, zeros),
        ("underflow", "2.4703282292062327e-324", 20, zeros),
        ("overflow", "1.7976931348623159e308", 5, zeros),
    ]
    cases = []
    for label, text, before, filler_line in cuts:
        head = filler_line * ((BLOCK - 1000) // len(filler_line))
        if label == "time_cut":
            prefix, record = head + "0 -3\n", text + " 2\n" + filler_line
        else:
            prefix, record = head + "0 ", text + "\n" + filler_line
        # Pad with blanks so that exactly `before` characters of `text` precede the boundary.
        pad = BLOCK - before - len(prefix)
        data = prefix[:-1] + " " * pad + prefix[-1] + record + filler_line * 50
        assert data[BLOCK - before:BLOCK - before + len(text)] == text
        cases.append(("block_cut_" + label, data))
    return cases


def peak_capacity(r):
    values = []
    for i in range(60_010):
        amplitude = 1.0 if i < 50_005 else 3.0
        values.append((amplitude if i % 2 == 0 else -amplitude) + r.uniform(-0.01, 0.01))
    return [("peak_store_full", "".join("%d %.4f\n" % (i, v) for i, v in enumerate(values)))]


def all_cases():
    r = random.Random(SEED)
    cases = []
    for generator in [random_reals, plateaus, constant_runs, bin_edges, partial_numbers, layouts, extremes,
                      long_digits, block_boundaries, peak_capacity]:
        cases += generator(r)
    return [(label, text.encode("latin-1")) for label, text in cases]


# --- Comparison -----------------------------------------------------------------------


def run_program(binary, data):
    folder = tempfile.mkdtemp(prefix="morvel-diff-")
    try:
        with open(os.path.join(folder, "data.txt"), "wb") as f:
            f.write(data)
        done = subprocess.run([binary], input=b"data.txt\n", cwd=folder, capture_output=True, timeout=30,
                              start_new_session=True)
        try:
            with open(os.path.join(folder, "morvel.out"), "rb") as f:
                density = f.read()
        except OSError:
            density = None
        return done, density
    finally:
        shutil.rmtree(folder, ignore_errors=True)


def show_difference(what, expected, actual):
    expected_lines = expected.decode("latin-1").splitlines(keepends=True)
    actual_lines = (actual or b"").decode("latin-1").splitlines(keepends=True)
    diff = difflib.unified_diff(expected_lines, actual_lines, "model " + what, "program " + what, n=1)
    sys.stdout.write("".join(diff)[:4000] + "\n")


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--binary", required=True)
    parser.add_argument("--model", required=True)
    parser.add_argument("--author", default="morvel developers")
    parser.add_argument("--contact", default="morvel@example.org")
    options = parser.parse_args()
    model = load_model(options.model)

    passed = failed = 0
    for label, data in all_cases():
        transcript, density = model.run("data.txt", data, options.author, options.contact)
        transcript, density = transcript.encode(), density.encode()
        done, actual_density = run_program(options.binary, data)
        problems = []
        if done.returncode != 0:
            problems.append("exit status %d" % done.returncode)
        if done.stdout != transcript:
            problems.append("console transcript differs")
        if actual_density != density:
            problems.append("morvel.out differs")
        if not problems:
            passed += 1
            continue
        failed += 1
        print("MISMATCH %s: %s" % (label, "; ".join(problems)))
        if done.stdout != transcript:
            show_difference("transcript", transcript, done.stdout)
        if actual_density != density:
            show_difference("morvel.out", density, actual_density)
        if done.stderr:
            print("program stderr: %s" % done.stderr.decode("latin-1").strip())
        os.makedirs("differential_failures", exist_ok=True)
        with open(os.path.join("differential_failures", label + ".txt"), "wb") as f:
            f.write(data)
    print("%d passed, %d failed" % (passed, failed))
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
