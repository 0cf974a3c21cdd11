#!/usr/bin/env python3
"""Checks the layering of the source tree from its #include lines.

Every project file (C and C++ sources and headers) is read; each quoted
include that names a file of the project is resolved and checked against the
layers the including file may use. The script fails (exit status 1) on

  - an include a layer may not make (a lower layer reaching up, the app
    reaching into the library's internals, a source file including test code),
  - an include cycle between folders of the source tree (a folder is the
    directory of a file; the foundation's sub-folders are folders of their own).

Tests, fuzz targets and benchmarks under tests/, fuzz/ and bench/ mirror the
tree: they may include what the layer they test may include, the whole of
that layer (a test of one foundation folder may drive it with another's
collaborators) and their own support files.

Usage: check_layering.py [--root DIR] [--exclude PATH]... [--expect REGEX]...

With --expect the script checks itself on a tree built to break the rules:
it succeeds only when the check fails and every REGEX matches a problem.
"""

import argparse
import os
import re
import sys

SOURCE_SUFFIXES = ('.h', '.hh', '.hpp', '.c', '.cc', '.cpp', '.inc')
SKIPPED_DIRECTORIES = {'.git', 'build', 'node_modules'}
TEST_TREES = ('tests/', 'fuzz/', 'bench/')
PROJECT_TOP = ('platform/', 'base/', 'security/', 'privacy/', 'analytics/', 'ads/', 'app/', 'tools/') + TEST_TREES

ODM = 'ads/conversion_tracking/app_conversion/odm/'
CRYPTO = ['privacy/', 'security/', 'base/', 'platform/']
FOUNDATION = 'analytics/foundation/'
FOUNDATION_FOLDERS = ['core', 'values', 'config', 'storage', 'experiments']  # lowest first
BELOW_FOUNDATION = ['analytics/wire/'] + CRYPTO

# Headers of the library the app may include besides its own bridge
# (app/AppAnalytics.h, which includes nothing of the library): the public
# class, which app/analytics/ implements the bridge over.
PUBLIC_INTERFACE = ['analytics/measurement/CVNAnalytics.h']

# Each layer (a path prefix) and the prefixes it may include, itself among them.
LAYERS = {
    'platform/': ['platform/'],
    'base/': ['base/', 'platform/'],
    'security/': ['security/', 'base/', 'platform/'],
    'privacy/': CRYPTO,
    'analytics/wire/': ['analytics/wire/', 'platform/'],
    'analytics/audiences/': ['analytics/audiences/', FOUNDATION] + BELOW_FOUNDATION,
    'analytics/attribution/': ['analytics/attribution/', ODM, 'analytics/audiences/', FOUNDATION] + BELOW_FOUNDATION,
    ODM: [ODM, 'analytics/attribution/', 'analytics/audiences/', FOUNDATION] + BELOW_FOUNDATION,
    'analytics/measurement/': ['analytics/measurement/', 'analytics/attribution/', ODM, 'analytics/audiences/',
                               FOUNDATION] + BELOW_FOUNDATION,
    'app/': ['app/', 'platform/'] + PUBLIC_INTERFACE,
    # Executables are composition roots: any layer, never test code.
    'tools/': [p for p in PROJECT_TOP if p not in TEST_TREES],
}
for index, folder in enumerate(FOUNDATION_FOLDERS):
    LAYERS[FOUNDATION + folder + '/'] = [FOUNDATION + f + '/' for f in FOUNDATION_FOLDERS[:index + 1]] + BELOW_FOUNDATION
# A foundation file outside the five folders may use any of them.
LAYERS[FOUNDATION] = [FOUNDATION] + BELOW_FOUNDATION

# Cycles the tree has today, each to be broken by the owner of its folders; a
# cycle is excused only while its folders are exactly these.
KNOWN_CYCLES = []

INCLUDE = re.compile(r'^\s*#\s*include\s*"([^"]+)"')


def layer_of(path):
    """The longest layer prefix of a source path, or None."""
    best = None
    for prefix in LAYERS:
        if path.startswith(prefix) and (best is None or len(prefix) > len(best)):
            best = prefix
    return best


def test_tree_of(path):
    return next((tree for tree in TEST_TREES if path.startswith(tree)), None)


def allowed_for(path):
    """What `path` may include (a list of prefixes), or None for anything."""
    tree = test_tree_of(path)
    if tree is None:
        layer = layer_of(path)
        return None if layer is None else LAYERS[layer]
    mirrored = path[len(tree):]
    layer = layer_of(mirrored)
    if layer is None:
        return None
    allowed = list(LAYERS[layer]) + list(TEST_TREES)
    if layer.startswith(FOUNDATION):
        allowed.append(FOUNDATION)
    else:
        allowed.append(layer)
    return allowed


def project_files(root, excluded):
    for directory, subdirectories, names in os.walk(root):
        relative_directory = os.path.relpath(directory, root)
        relative_directory = '' if relative_directory == '.' else relative_directory.replace(os.sep, '/') + '/'
        subdirectories[:] = sorted(d for d in subdirectories
                                   if d not in SKIPPED_DIRECTORIES and
                                   not any((relative_directory + d + '/').startswith(e) for e in excluded))
        for name in sorted(names):
            path = relative_directory + name
            if name.endswith(SOURCE_SUFFIXES) and path.startswith(PROJECT_TOP):
                yield path


def resolve(root, including, name):
    """The project path an include names, or None for a file outside the project."""
    candidates = [os.path.normpath(os.path.join(os.path.dirname(including), name)).replace(os.sep, '/')]
    if name.startswith(PROJECT_TOP):
        candidates.append(os.path.normpath(name).replace(os.sep, '/'))
    tree = test_tree_of(including)
    if tree is not None:
        candidates.append(tree + name)
        candidates.append('tests/' + name)  # the tests' include root
    for candidate in candidates:
        if not candidate.startswith('..') and os.path.isfile(os.path.join(root, candidate)):
            return candidate
    # A generated header (the wire messages) is named by its place in the tree.
    if name.startswith(PROJECT_TOP) and '..' not in name.split('/'):
        return name
    return None


def strongly_connected(graph):
    """Tarjan's algorithm over {node: set(nodes)}; the components with more than one node."""
    index = {}
    low = {}
    stack = []
    on_stack = set()
    components = []
    counter = [0]

    def visit(node):
        work = [(node, iter(sorted(graph.get(node, ()))))]
        index[node] = low[node] = counter[0]
        counter[0] += 1
        stack.append(node)
        on_stack.add(node)
        while work:
            current, successors = work[-1]
            advanced = False
            for successor in successors:
                if successor not in index:
                    index[successor] = low[successor] = counter[0]
                    counter[0] += 1
                    stack.append(successor)
                    on_stack.add(successor)
                    work.append((successor, iter(sorted(graph.get(successor, ())))))
                    advanced = True
                    break
                if successor in on_stack:
                    low[current] = min(low[current], index[successor])
            if advanced:
                continue
            work.pop()
            if work:
                parent = work[-1][0]
                low[parent] = min(low[parent], low[current])
            if low[current] == index[current]:
                component = []
                while True:
                    member = stack.pop()
                    on_stack.discard(member)
                    component.append(member)
                    if member == current:
                        break
                if len(component) > 1:
                    components.append(sorted(component))

    for node in sorted(graph):
        if node not in index:
            visit(node)
    return components


def check(root, excluded, known_cycles):
    problems = []
    edges = {}     # folder -> set of folders it includes
    examples = {}  # (from folder, to folder) -> "file:line includes name"
    files = 0
    for path in project_files(root, excluded):
        files += 1
        allowed = allowed_for(path)
        with open(os.path.join(root, path), encoding='utf-8', errors='replace') as source:
            for number, line in enumerate(source, 1):
                match = INCLUDE.match(line)
                if not match:
                    continue
                target = resolve(root, path, match.group(1))
                if target is None or target == path:
                    continue
                if allowed is not None and not any(target.startswith(prefix) for prefix in allowed):
                    tree = test_tree_of(path) or ''
                    named = match.group(1) if match.group(1) == target else '%s (%s)' % (match.group(1), target)
                    problems.append('%s:%d: includes %s, which %s may not include' %
                                    (path, number, named, tree + (layer_of(path[len(tree):]) or path)))
                if test_tree_of(path) is None and test_tree_of(target) is None:
                    source_folder = os.path.dirname(path)
                    target_folder = os.path.dirname(target)
                    if source_folder != target_folder:
                        edges.setdefault(source_folder, set()).add(target_folder)
                        examples.setdefault((source_folder, target_folder), '%s:%d includes %s' %
                                            (path, number, target))
    for component in strongly_connected(edges):
        members = set(component)
        if members in known_cycles:
            continue
        links = ['  ' + examples[(a, b)] for a in component for b in sorted(edges.get(a, ())) if b in members]
        problems.append('include cycle between folders %s:\n%s' % (', '.join(component), '\n'.join(links)))
    return files, problems


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument('--root', default=os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
    parser.add_argument('--exclude', action='append', default=[],
                        help='a path (relative to the root) whose files are not checked')
    parser.add_argument('--expect', action='append', default=[],
                        help='a problem the check must report (the check must fail)')
    arguments = parser.parse_args()
    excluded = [e.rstrip('/') + '/' for e in arguments.exclude]
    known_cycles = [] if arguments.expect else KNOWN_CYCLES
    files, problems = check(os.path.abspath(arguments.root), excluded, known_cycles)
    if files == 0:
        print('layering: no project files under %s' % arguments.root)
        return 1
    for problem in problems:
        print('layering: ' + problem)
    if arguments.expect:
        missing = [e for e in arguments.expect if not any(re.search(e, p) for p in problems)]
        for expectation in missing:
            print('layering: expected a problem matching %r, found none' % expectation)
        return 0 if problems and not missing else 1
    if problems:
        print('layering: %d problem(s) in %d files' % (len(problems), files))
        return 1
    print('layering: %d files, no problems' % files)
    return 0


if __name__ == '__main__':
    sys.exit(main())
