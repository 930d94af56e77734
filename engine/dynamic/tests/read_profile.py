#!/usr/bin/env python3
"""Reads a Windows CGI profile with Python's INI reader and prints it as
"[Section]" and "key=value" lines, in the file's order. A key given twice in
one section, or a line the reader cannot place, fails (exit status 1)."""
import configparser
import sys

parser = configparser.ConfigParser(delimiters=('=',), interpolation=None, strict=True)
parser.optionxform = str  # keys keep their case, as the Windows reader gives them
with open(sys.argv[1], encoding='latin-1', newline=None) as f:
    parser.read_file(f)
for section in parser.sections():
    print(f'[{section}]')
    for key, value in parser.items(section, raw=True):
        print(f'{key}={value}')
