#!/usr/bin/env python3
"""Writes a comma-delimited benchmark table: ROWS rows of 10 columns, about 150 bytes a
row, with quotes, commas, line breaks and non-ASCII text inside fields.

usage: gen_csv.py OUT.csv [ROWS]
"""
import random
import sys

WORDS = ["alpha", "Brücke", "café", "naïve", "Ωmega", "Москва", "東京", "data", "table",
         "value", "O'Neil", "smith", "x", "quoted \"word\"", "a,b", "línea"]


def field(rng, i):
    kind = i % 5
    if kind == 0:
        return str(rng.randint(-10**6, 10**6))
    if kind == 1:
        return "%.2f" % rng.uniform(-1e5, 1e5)
    if kind == 2:
        return "%04d-%02d-%02d" % (rng.randint(1850, 2030), rng.randint(1, 12), rng.randint(1, 28))
    words = " ".join(rng.choice(WORDS) for _ in range(rng.randint(2, 4)))
    if rng.random() < 0.02:
        words += "\nsecond line"
    return words


def quote(text):
    if any(c in text for c in ",\"\r\n") or text.startswith(" "):
        return '"' + text.replace('"', '""') + '"'
    return text


def main():
    if len(sys.argv) < 2 or sys.argv[1].startswith("-"):
        sys.stderr.write(__doc__.split("\n\n")[-1].strip() + "\n")
        sys.exit(0 if sys.argv[1:2] in (["-h"], ["--help"]) else 2)
    out = sys.argv[1]
    rows = int(sys.argv[2]) if len(sys.argv) > 2 else 1000000
    rng = random.Random(42)
    with open(out, "w", encoding="utf-8", newline="") as f:
        f.write(",".join("col%d" % i for i in range(10)) + "\r\n")
        for _ in range(rows):
            f.write(",".join(quote(field(rng, i)) for i in range(10)) + "\r\n")


if __name__ == "__main__":
    main()
