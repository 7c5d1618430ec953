#!/usr/bin/env python3
"""Prints the graph of the product's folders as its #include lines make it, and fails when it
has a cycle. A folder is a top-level folder, or a subsystem folder under engine/ and widgets/.
Headers are found by name; a name held by two folders is resolved to the including file's own
folder first."""
import os, re, sys
from collections import defaultdict

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
SKIP = {'build', 'tests', 'bench', '.git', 'resources', 'scripts'}

def folder(rel):
    parts = rel.split('/')
    if parts[0] in ('engine', 'widgets') and len(parts) > 2:
        return parts[0] + '/' + parts[1]
    return parts[0] if len(parts) > 1 else '.'

files = []
for d, subs, names in os.walk(ROOT):
    rel = os.path.relpath(d, ROOT)
    if rel.split('/')[0] in SKIP or rel.startswith('build'):
        subs[:] = []
        continue
    for n in names:
        if n.endswith(('.h', '.cpp')):
            files.append(os.path.normpath(os.path.join(rel, n)))
owners = defaultdict(set)
for f in files:
    if f.endswith('.h'):
        owners[os.path.basename(f)].add(folder(f))
edges = defaultdict(set)
include = re.compile(r'^\s*#\s*include\s+"([^"]+)"')
for f in files:
    own = folder(f)
    with open(os.path.join(ROOT, f), encoding='utf-8', errors='replace') as text:
        for line in text:
            m = include.match(line)
            if not m:
                continue
            held = owners.get(os.path.basename(m.group(1)), set())
            if not held or own in held:
                continue
            for target in held:
                edges[own].add(target)

for node in sorted(edges):
    print(f"{node} -> {', '.join(sorted(edges[node]))}")

state = {}
def visit(node, path):
    state[node] = 1
    for nxt in edges.get(node, ()):
        if state.get(nxt) == 1:
            print('cycle: ' + ' -> '.join(path + [node, nxt]), file=sys.stderr)
            return False
        if nxt not in state and not visit(nxt, path + [node]):
            return False
    state[node] = 2
    return True

ok = all(visit(n, []) for n in sorted(edges) if n not in state)
sys.exit(0 if ok else 1)
