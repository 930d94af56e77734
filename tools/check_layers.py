#!/usr/bin/env python3
"""Checks the include rules of the source tree; exits 1 and names every
include that breaks one.

Layers, from the top: host, service and admin may include the engine, the
engine the configuration, the configuration the shared base, the base the
platform layer; nothing includes a layer above its own. Inside the engine,
pages and dynamic may include core; core includes neither; only files at
the engine's root (which assemble the parts) see all three. Only platform
backends and the _win32/_posix front ends include operating-system headers.
"""
import os
import re
import sys

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
SOURCES = ('.cpp', '.h', '.hpp', '.cc', '.c')
INCLUDE = re.compile(r'^\s*#\s*include\s*([<"])([^>"]+)[>"]')

# What each part may include, besides itself.
ALLOWED = {
    'platform': set(),
    'base': {'platform'},
    'config': {'base', 'platform'},
    'engine/core': {'config', 'base', 'platform'},
    'engine/pages': {'engine/core', 'config', 'base', 'platform'},
    'engine/dynamic': {'engine/core', 'config', 'base', 'platform'},
    'engine': {'engine/core', 'engine/pages', 'engine/dynamic', 'config', 'base', 'platform'},
    'host': {'engine', 'engine/core', 'config', 'base', 'platform'},
    'service': {'config', 'base', 'platform'},
    'admin': {'config', 'base', 'platform'},
    'bench': {'engine', 'engine/core', 'engine/pages', 'config', 'base', 'platform'},
}

OS_HEADERS = re.compile(
    r'^(windows\.h|winsock2?\.h|ws2tcpip\.h|shellapi\.h|commctrl\.h|prsht\.h|winsvc\.h|'
    r'unistd\.h|fcntl\.h|pthread\.h|signal\.h|dlfcn\.h|poll\.h|spawn\.h|netdb\.h|'
    r'sys/.*|netinet/.*|arpa/.*|linux/.*)$', re.IGNORECASE)


def part_of(path):
    """The part a repository path belongs to, or None when unchecked."""
    parts = path.split('/')
    if parts[0] == 'engine':
        if len(parts) > 2 and parts[1] in ('core', 'pages', 'dynamic'):
            return 'engine/' + parts[1]
        return 'engine'
    return parts[0] if parts[0] in ALLOWED else None


def may_include_os(path):
    name = os.path.splitext(os.path.basename(path))[0]
    return path.startswith('platform/') or name.endswith(('_win32', '_posix'))


def is_test(path):
    return '/tests/' in path or '/fuzz/' in path


def check(path):
    problems = []
    here = part_of(path)
    with open(os.path.join(ROOT, path), encoding='utf-8', errors='replace') as f:
        for number, line in enumerate(f, 1):
            m = INCLUDE.match(line)
            if not m:
                continue
            kind, name = m.groups()
            if kind == '<':
                if OS_HEADERS.match(name) and not may_include_os(path) and not is_test(path):
                    problems.append(f'{path}:{number}: system header <{name}> outside the platform layer')
                continue
            there = part_of(name)
            if there is None or there == here or is_test(name):
                continue
            if there not in ALLOWED[here]:
                problems.append(f'{path}:{number}: {here} may not include {name}')
    return problems


def main():
    problems = []
    for top in ALLOWED:
        base = os.path.join(ROOT, top)
        if '/' in top or not os.path.isdir(base):
            continue
        for folder, _, files in os.walk(base):
            for name in files:
                if name.endswith(SOURCES):
                    rel = os.path.relpath(os.path.join(folder, name), ROOT).replace(os.sep, '/')
                    if part_of(rel):
                        problems.extend(check(rel))
    for p in problems:
        print(p)
    print(f'{len(problems)} include rule violations')
    return 1 if problems else 0


if __name__ == '__main__':
    sys.exit(main())
