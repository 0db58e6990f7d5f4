#!/usr/bin/env python3
"""Checks kestrel's CSV catalogue of many images against its JSON report.

  check_csv_catalogue.py CATALOGUE.csv REPORT.jsonl

The catalogue must be read by Python's csv module in strict mode (RFC 4180:
comma, double quotes, CR LF), start with the header row, and hold one row per
entry of every listed image of the report, in order, each field equal to the
report's (null as an empty field, booleans as true/false). Prints the number
of rows that agree, or the first difference, and exits 1 on one.
"""
import csv
import json
import sys

HEADER = ["image", "number", "shown_blocks", "name", "type", "closed", "locked", "track", "sector",
          "start_address", "bytes", "blocks", "crc32", "disk_name"]


def text(value):
    if value is None:
        return ""
    if isinstance(value, bool):
        return "true" if value else "false"
    return str(value)


def main(catalogue_path, report_path):
    raw = open(catalogue_path, "rb").read()
    if raw and not raw.endswith(b"\r\n"):
        print("the last row does not end in CR LF")
        return 1
    with open(catalogue_path, encoding="utf-8", newline="") as stream:
        rows = list(csv.reader(stream, strict=True))
    if not rows or rows[0] != HEADER:
        print(f"header row: {rows[:1]}")
        return 1
    expected = []
    for line in open(report_path, encoding="utf-8"):
        image = json.loads(line)
        for entry in image.get("entries", []):
            expected.append([image["image"]] + [text(entry[key]) for key in HEADER[1:-1]] + [image["disk_name"]])
    for number, (got, want) in enumerate(zip(rows[1:], expected), start=2):
        if got != want:
            print(f"row {number}: {got} != {want}")
            return 1
    if len(rows) - 1 != len(expected):
        print(f"{len(rows) - 1} rows, the report has {len(expected)} entries")
        return 1
    print(f"{len(expected)} rows agree")
    return 0


if __name__ == "__main__":
    if len(sys.argv) != 3:
        sys.exit(__doc__)
    sys.exit(main(sys.argv[1], sys.argv[2]))
