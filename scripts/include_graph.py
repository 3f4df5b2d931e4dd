#!/usr/bin/env python3
"""The folder graph of databases/: which folder includes which.

    scripts/include_graph.py [--dot] [SOURCE_ROOT]

Reads every source file under SOURCE_ROOT/databases, turns each
'#include "databases/<folder>/<file>"' into an edge between folders, and prints
the edges (or a Graphviz graph with --dot).  Exits 1, naming the files, when a
source file sits at the top of databases/ or when two folders depend on each
other, directly or round a longer loop; a folder's own subfolder (access/jet
under access) counts as a folder of its own.
"""

import os
import re
import sys

INCLUDE = re.compile(r'^\s*#\s*include\s+"databases/([^"]+)"', re.MULTILINE)
SOURCES = ('.h', '.hpp', '.cpp', '.cc')


def folder_of(relative_path):
    """The folder a path under databases/ belongs to; '' for the top."""
    return os.path.dirname(relative_path).replace(os.sep, '/')


def read_graph(databases):
    """{folder: {included folder: [(file, included path), ...]}} and the files at the top."""
    edges = {}
    top_files = []
    for here, _, names in os.walk(databases):
        for name in sorted(names):
            path = os.path.join(here, name)
            relative = os.path.relpath(path, databases).replace(os.sep, '/')
            if folder_of(relative) == '' and name != 'CMakeLists.txt':
                top_files.append(relative)
            if not name.endswith(SOURCES):
                continue
            source = folder_of(relative)
            with open(path, encoding='utf-8', errors='replace') as handle:
                text = handle.read()
            targets = edges.setdefault(source, {})
            for included in INCLUDE.findall(text):
                target = folder_of(included)
                if target != source:
                    targets.setdefault(target, []).append((relative, included))
    return edges, sorted(top_files)


def find_loops(edges):
    """Each loop of folders once, as a list that starts and ends at the same folder."""
    loops = []
    seen = set()
    state = {}

    def visit(folder, trail):
        state[folder] = 'open'
        trail.append(folder)
        for target in sorted(edges.get(folder, {})):
            if state.get(target) == 'open':
                loop = trail[trail.index(target):] + [target]
                key = frozenset(loop)
                if key not in seen:
                    seen.add(key)
                    loops.append(loop)
            elif target not in state:
                visit(target, trail)
        trail.pop()
        state[folder] = 'done'

    for folder in sorted(edges):
        if folder not in state:
            visit(folder, [])
    return loops


def main(arguments):
    dot = '--dot' in arguments
    rest = [a for a in arguments if a != '--dot']
    root = rest[0] if rest else os.path.join(os.path.dirname(os.path.abspath(__file__)), '..')
    databases = os.path.join(root, 'databases')
    if not os.path.isdir(databases):
        print(f'include_graph: {databases}: no such folder', file=sys.stderr)
        return 2
    edges, top_files = read_graph(databases)
    if dot:
        print('digraph databases {')
        for source in sorted(edges):
            for target in sorted(edges[source]):
                print(f'  "{source or "(top)"}" -> "{target or "(top)"}";')
        print('}')
    else:
        for source in sorted(edges):
            for target in sorted(edges[source]):
                print(f'{source or "(top)"} -> {target or "(top)"}'
                      f'  ({len(edges[source][target])} includes)')
    failed = False
    for name in top_files:
        print(f'databases/{name}: sits at the top of databases/; '
              'it belongs in the folder of its engine or layer', file=sys.stderr)
        failed = True
    for loop in find_loops(edges):
        print('folders include each other: ' + ' -> '.join(f or '(top)' for f in loop),
              file=sys.stderr)
        for source, target in zip(loop, loop[1:]):
            file, included = edges[source][target][0]
            print(f'  databases/{file} includes "databases/{included}"', file=sys.stderr)
        failed = True
    return 1 if failed else 0


if __name__ == '__main__':
    sys.exit(main(sys.argv[1:]))
