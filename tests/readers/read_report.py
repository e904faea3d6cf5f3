#!/usr/bin/env python3
"""Reads a run report (one JSON object a line) on standard input with Python's json module
and prints each record's members as KEY=VALUE, tab-separated, one record a line: strings
decoded, every other value as compact JSON. Fails on any line that is no JSON object."""
import json
import sys

for line in sys.stdin:
    record = json.loads(line)
    if not isinstance(record, dict):
        sys.exit(f"not a JSON object: {line!r}")
    print("\t".join(f"{k}={v if isinstance(v, str) else json.dumps(v, separators=(',', ':'))}"
                    for k, v in record.items()))
