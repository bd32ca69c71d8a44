#!/usr/bin/env python3
"""An independent model of one morvel run, for differential tests of the real program.

Given the bytes of an input file it produces the console transcript and the text of
morvel.out that a complete run must produce. Python floats are IEEE doubles and every
operation below rounds once, as the program's arithmetic does; float() reads decimal text
correctly rounded; '%.4g' rounds like C's printf.

Command line: reference_model.py [--author NAME] [--contact ADDRESS]
It reads the file name from standard input as the program does, prints the transcript and
writes morvel.out into the current folder. Only complete runs are modelled.
"""

import argparse
import math
import re
import sys

MAX_SAMPLES = 2_000_000
MAX_PEAKS = 50_000
BIN_WIDTH = 0.25
CENTRE_LIMIT = 6.5
WHITESPACE = b" \t\n\v\f\r"

# The longest text that "%lf" consumes: whatever could still begin a number.
NUMBER_PREFIX = re.compile(rb"[+-]?(?:[0-9]+\.?[0-9]*(?:[eE][+-]?[0-9]*)?|\.(?:[0-9]+(?:[eE][+-]?[0-9]*)?)?)?")
# The consumed text is a number only in this complete form.
NUMBER = re.compile(rb"[+-]?(?:[0-9]+\.?[0-9]*|\.[0-9]+)(?:[eE][+-]?[0-9]+)?")


def read_accelerations(data):
    """Records as "%lf %lf \\n" reads them: a record counts once its time was read."""
    accelerations = []
    pos = 0
    end = len(data)

    def skip_space(p):
        while p < end and data[p] in WHITESPACE:
            p += 1
        return p

    def scan(p):
        text = NUMBER_PREFIX.match(data, p).group(0)
        value = float(text) if text and NUMBER.fullmatch(text) else None
        return p + len(text), value

    while len(accelerations) < MAX_SAMPLES:
        pos = skip_space(pos)
        pos, time = scan(pos)
        if time is None:
            break
        pos = skip_space(pos)
        pos, acceleration = scan(pos)
        accelerations.append(0.0 if acceleration is None else acceleration)
    return accelerations


def divide(a, b):
    """IEEE division: Python raises on a zero divisor, the program's arithmetic does not."""
    if b == 0.0:
        if math.isnan(a) or a == 0.0:
            return math.nan
        return math.copysign(math.inf, a) * math.copysign(1.0, b)
    return a / b


def square_root(x):
    return math.nan if x < 0.0 else math.sqrt(x)


def number_text(x):
    """"%12.4g" with a three-digit exponent; not-a-number is always "nan"."""
    if math.isnan(x):
        text = "nan"
    else:
        text = "%.4g" % x
        mark = text.find("e")
        if mark >= 0:
            text = text[: mark + 2] + text[mark + 2 :].rjust(3, "0")
    return text.rjust(12)


def analyse(accelerations):
    n = len(accelerations)
    total = 0.0
    squares = 0.0
    for a in accelerations:
        total += a
        squares += a * a
    mean = divide(total, float(n))
    deviation = square_root(divide(squares, float(n)) - mean * mean)

    samples = [a - mean for a in accelerations]
    minimum = 0.0
    maximum = 0.0
    for s in samples:
        if s > maximum:
            maximum = s
        if s < minimum:
            minimum = s
    highest = abs(minimum) if abs(maximum) < abs(minimum) else maximum
    highest_sigma = divide(highest, deviation)

    peaks = []
    for i in range(1, n - 1):
        s = samples[i]
        if s >= samples[i - 1] and s >= samples[i + 1] and s > 0.0:
            peaks.append(abs(s))
        elif s <= samples[i - 1] and s <= samples[i + 1] and s < 0.0:
            peaks.append(abs(s))
        else:
            continue
        if len(peaks) == MAX_PEAKS:
            break
    peaks = [divide(p, deviation) for p in peaks]
    m = len(peaks)

    edges = [k * BIN_WIDTH for k in range(55)]
    counts = [0] * 54
    for p in peaks:
        for k in range(54):
            if p > edges[k] and p <= edges[k + 1]:
                counts[k] += 1
    density = number_text(0.0) + " 0\n"
    for k in range(54):
        centre = (edges[k + 1] + edges[k]) * 0.5
        if centre > CENTRE_LIMIT:
            break
        density += number_text(centre) + " " + number_text(divide(float(counts[k]), float(m)) * 4.0) + "\n"

    report = (
        "\n Total samples = %d \n" % n
        + "\n minimum = %s   maximum = %s\n" % (number_text(minimum), number_text(maximum))
        + "\n Standard Deviation = %s \n" % number_text(deviation)
        + "\n Highest Sigma = %s sigma\n" % number_text(highest_sigma)
        + "\n Total peaks = %d \n" % m
        + "\n number of peaks > 3 sigma = %d \n" % sum(1 for p in peaks if p > 3.0)
        + "\n number of peaks > 4 sigma = %d \n" % sum(1 for p in peaks if p > 4.0)
    )
    return report, density


def transcript(name, report, author, contact):
    return (
        "\n\n\n\n morvel, ver 1.0  July 15, 2003"
        + "\n\n by %s " % author
        + "\n Email:  %s " % contact
        + "\n The base input file must contain two columns: \n"
        + " time(sec)  accel(G)    \n"
        + "\n The program will remove the mean from the input data. \n"
        + " \n An error message will occur if the file does not exist.\n"
        + " Input filename \n"
        + "\n File: %s opened. \n" % name
        + report
        + "\n\n The output file is:  morvel.out \n"
        + "\n The file has two columns:  nsigma  & probability density \n\n"
        + "\n Press any key to exit.\n"
    )


def run(name, data, author="morvel developers", contact="morvel@example.org"):
    """The (transcript, morvel.out text) of a complete run on a file `name` holding `data`."""
    report, density = analyse(read_accelerations(data))
    return transcript(name, report, author, contact), density


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--author", default="morvel developers")
    parser.add_argument("--contact", default="morvel@example.org")
    options = parser.parse_args()
    words = sys.stdin.read().split()
    name = words[0] if words else ""
    with open(name, "rb") as f:
        data = f.read()
    text, density = run(name, data, options.author, options.contact)
    with open("morvel.out", "w", newline="\n") as f:
        f.write(density)
    sys.stdout.write(text)


if __name__ == "__main__":
    main()
