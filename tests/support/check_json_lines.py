#!/usr/bin/env python3
"""Checks a JSON Lines file against a JSON Schema.

  check_json_lines.py SCHEMA LINES

Every line must be one strict JSON value (RFC 8259: no NaN or Infinity, no
repeated key, UTF-8 only) that the schema accepts, and the entries of an image
must be numbered 0, 1, 2 ... in order. Prints the number of lines
checked, or the first problem with its line number and exits 1.
"""
import json
import sys

import jsonschema


def reject_constant(name):
    raise ValueError(f"not JSON: {name}")


def no_repeated_keys(pairs):
    keys = [key for key, _ in pairs]
    if len(keys) != len(set(keys)):
        raise ValueError(f"repeated key in {keys}")
    return dict(pairs)


def inline_references(node, definitions):
    """The schema with every local "#/$defs/NAME" reference replaced by its
    definition: the same schema, but validated many times faster, which counts
    for reports of thousands of entries."""
    if isinstance(node, list):
        return [inline_references(item, definitions) for item in node]
    if not isinstance(node, dict):
        return node
    reference = node.get("$ref", "")
    if reference.startswith("#/$defs/") and len(node) == 1:
        return inline_references(definitions[reference[len("#/$defs/"):]], definitions)
    return {key: inline_references(value, definitions) for key, value in node.items() if key != "$defs"}


def distinct_entries(value):
    """The line with each run of entries that differ only in their number
    (a looping directory repeats its slots thousands of times) cut to its
    first, after checking that the numbers count 0, 1, 2 ... in order: the
    schema then judges the same objects in a fraction of the time."""
    entries = value.get("entries") if isinstance(value, dict) else None
    if not isinstance(entries, list) or not all(isinstance(entry, dict) for entry in entries):
        return value
    if [entry.get("number") for entry in entries] != list(range(len(entries))):
        raise ValueError("entry numbers do not count 0, 1, 2 ...")
    seen = {}
    for entry in entries:
        key = json.dumps({k: v for k, v in entry.items() if k != "number"}, sort_keys=True)
        seen.setdefault(key, entry)
    return dict(value, entries=list(seen.values()))


def main(schema_path, lines_path):
    with open(schema_path, encoding="utf-8") as schema_file:
        schema = json.load(schema_file)
    validator_class = jsonschema.validators.validator_for(schema)
    validator_class.check_schema(schema)
    validator = validator_class(inline_references(schema, schema.get("$defs", {})))
    with open(lines_path, "rb") as lines_file:
        raw_lines = lines_file.read().split(b"\n")
    if raw_lines[-1] != b"":
        print("the last line has no line end")
        return 1
    for number, raw in enumerate(raw_lines[:-1], start=1):
        try:
            value = json.loads(raw.decode("utf-8"), parse_constant=reject_constant,
                               object_pairs_hook=no_repeated_keys)
            problem = jsonschema.exceptions.best_match(validator.iter_errors(distinct_entries(value)))
            if problem:
                print(f"line {number}: {problem.message} at {list(problem.absolute_path)}")
                return 1
        except (UnicodeDecodeError, ValueError) as problem:
            print(f"line {number}: {problem}")
            return 1
    print(f"{len(raw_lines) - 1} lines valid")
    return 0


if __name__ == "__main__":
    if len(sys.argv) != 3:
        sys.exit(__doc__)
    sys.exit(main(sys.argv[1], sys.argv[2]))
