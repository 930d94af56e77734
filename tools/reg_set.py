#!/usr/bin/env python3
"""Sets one value in a Brisvane registry file (registry export format).

usage: reg_set.py FILE 'HKEY_LOCAL_MACHINE\\...\\Key' Name dword|sz VALUE

Only for use while no server writes the file; the server itself writes it
atomically under a lock.
"""
import os
import sys


def fmt(kind, value):
    if kind == 'dword':
        return 'dword:%08x' % (int(value) & 0xFFFFFFFF)
    return '"%s"' % value.replace('\\', '\\\\').replace('"', '\\"')


def main():
    path, key, name, kind, value = sys.argv[1:6]
    line = '"%s"=%s' % (name, fmt(kind, value))
    lines = []
    if os.path.exists(path):
        with open(path, 'rb') as f:
            lines = f.read().decode('latin-1').replace('\r\n', '\n').split('\n')
    if not lines or not lines[0].strip():
        lines = ['Windows Registry Editor Version 5.00', '']
    section = '[%s]' % key
    out, in_section, done = [], False, False
    for text in lines:
        stripped = text.strip()
        if stripped.startswith('['):
            if in_section and not done:
                out.insert(len(out) - (1 if out and not out[-1].strip() else 0), line)
                done = True
            in_section = stripped.lower() == section.lower()
        elif in_section and stripped.lower().startswith('"%s"=' % name.lower()):
            out.append(line)
            done = True
            continue
        out.append(text)
    if in_section and not done:
        out.append(line)
        done = True
    if not done:
        out += ['', section, line]
    with open(path + '.new', 'wb') as f:
        f.write(('\r\n'.join(out).rstrip('\r\n') + '\r\n').encode('latin-1'))
    os.replace(path + '.new', path)


if __name__ == '__main__':
    main()
