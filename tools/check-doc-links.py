#!/usr/bin/env python3
"""Checks the links of README.md and docs/*.md: every relative link names a file that
exists, and every #anchor a heading of the file it points into (GitHub's heading ids).
Also holds the README's first screen to what a newcomer reads first.  Exit 1 on a fault."""
import pathlib
import re
import sys

root = pathlib.Path(__file__).resolve().parent.parent
link = re.compile(r'!?\[[^\]]*\]\(([^)\s]+)(?:\s+"[^"]*")?\)')
fence = re.compile(r'^```.*?^```', re.S | re.M)


def slug(heading):
    s = heading.strip().lower()
    s = re.sub(r'[^\w\- ]', '', s)
    return s.replace(' ', '-')


def anchors(path):
    text = fence.sub('', path.read_text(encoding='utf-8'))
    return {slug(m.group(1)) for m in re.finditer(r'^#+\s+(.*)$', text, re.M)}


faults = []
docs = [root / 'README.md'] + sorted((root / 'docs').glob('*.md'))
for doc in docs:
    text = fence.sub('', doc.read_text(encoding='utf-8'))
    for m in link.finditer(text):
        target = m.group(1)
        if re.match(r'[a-z]+:', target):
            continue  # an outside address: not looked at
        path, _, anchor = target.partition('#')
        dest = (doc.parent / path).resolve() if path else doc
        where = f'{doc.relative_to(root)}: {target}'
        if not dest.exists():
            faults.append(f'{where}: no such file')
        elif anchor and (dest.suffix != '.md' or anchor not in anchors(dest)):
            faults.append(f'{where}: no such section')

first = '\n'.join((root / 'README.md').read_text(encoding='utf-8').split('\n')[:60])
for needed, what in (('make run', 'the run command'), ('make test', 'the test command'),
                     ('![', 'a screenshot'), ('**Formats**', 'the formats'),
                     ('**Features**', 'the features')):
    if needed not in first:
        faults.append(f"README.md: {what} not in its first 60 lines")

for f in faults:
    print(f, file=sys.stderr)
sys.exit(1 if faults else 0)
