#!/usr/bin/env python3
"""Lists the functions longer than LIMIT lines (60 unless given), counted from a "{" at
column 0 to the next "}" at column 0 (a class body's "};" is not a function's end), in the
C++ files of the product: everything but tests/, bench/ and build folders.
Usage: scripts/long-functions.py [ROOT] [LIMIT]"""
import os
import sys

root = sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(__file__), '..')
limit = int(sys.argv[2]) if len(sys.argv) > 2 else 60
found = []
for folder, dirs, files in os.walk(root):
    rel = os.path.relpath(folder, root)
    top = rel.split(os.sep)[0]
    if top in ('tests', 'bench', '.git') or top.startswith('build'):
        dirs[:] = []
        continue
    for name in files:
        if not name.endswith(('.cpp', '.h')):
            continue
        path = os.path.join(folder, name)
        with open(path, encoding='utf-8', errors='replace') as f:
            lines = f.read().split('\n')
        start = None
        for i, line in enumerate(lines):
            if line.startswith('{'):
                start = i
            elif line.startswith('}') and start is not None:
                if not line.startswith('};') and i - start + 1 > limit:
                    head = next((lines[j].strip() for j in range(start - 1, -1, -1)
                                 if '(' in lines[j]), '')
                    found.append((i - start + 1, os.path.relpath(path, root), start + 1, head))
                start = None
for count, path, start, head in sorted(found, reverse=True):
    print(f'{count:4d} {path}:{start} {head[:80]}')
sys.exit(1 if found else 0)
