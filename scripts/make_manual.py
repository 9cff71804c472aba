#!/usr/bin/env python3
"""Makes the program's HTML manual from README.md: make_manual.py CMARK README OUTDIR.

The README's top-level sections ("## ...") become one page each, named after
the heading ("Using the help" -> using-the-help.html); what comes before the
first of them, with a list of the pages, becomes index.html. Every page links
the contents and its neighbours. The pictures the README shows (docs/*.png)
are copied beside the pages under the same relative paths. CMARK is the
cmark-gfm program that turns each part's Markdown into HTML."""
import html
import os
import re
import shutil
import subprocess
import sys

STYLE = """body { font-family: sans-serif; max-width: 52em; margin: 1em auto; padding: 0 1em; }
pre { background: #f4f4f4; padding: 0.5em; white-space: pre-wrap; }
img { max-width: 100%; }
.nav { border-bottom: 1px solid #ccc; padding-bottom: 0.3em; }"""


def slug(title):
    s = re.sub(r'[^a-z0-9]+', '-', title.lower()).strip('-')
    return (s or 'section') + '.html'


def split_sections(text):
    """The part before the first "## " heading, then (title, markdown) of
    each top-level section; headings inside fenced code do not count."""
    intro, sections = [], []
    current = intro
    fence = None
    for line in text.splitlines(keepends=True):
        stripped = line.lstrip()
        marker = re.match(r'(```+|~~~+)', stripped)
        if marker:
            if fence is None:
                fence = marker.group(1)[0] * 3
            elif stripped.startswith(fence):
                fence = None
        if fence is None and line.startswith('## '):
            current = []
            sections.append((line[3:].strip(), current))
        current.append(line)
    return ''.join(intro), [(t, ''.join(body)) for t, body in sections]


def to_html(cmark, markdown):
    return subprocess.run([cmark, '--unsafe', '-e', 'table', '-e', 'autolink'],
                          input=markdown, capture_output=True, text=True, check=True).stdout


def page(title, nav, body):
    return ('<!DOCTYPE html>\n<html lang="en">\n<head>\n<meta charset="utf-8">\n'
            f'<title>{html.escape(title, quote=False)}</title>\n<style>\n{STYLE}\n</style>\n</head>\n<body>\n'
            f'<p class="nav">{nav}</p>\n{body}</body>\n</html>\n')


def nav_links(sections, i):
    links = ['<a href="index.html">Contents</a>']
    if i > 0:
        t = sections[i - 1][0]
        links.append(f'Previous: <a href="{slug(t)}">{html.escape(t, quote=False)}</a>')
    if i + 1 < len(sections):
        t = sections[i + 1][0]
        links.append(f'Next: <a href="{slug(t)}">{html.escape(t, quote=False)}</a>')
    return ' | '.join(links)


def main():
    if len(sys.argv) != 4:
        sys.exit('usage: make_manual.py CMARK README OUTDIR')
    cmark, readme, out = sys.argv[1:]
    with open(readme, encoding='utf-8') as f:
        text = f.read()
    intro, sections = split_sections(text)

    os.makedirs(out, exist_ok=True)
    for name in os.listdir(out):
        if name.endswith('.html'):
            os.remove(os.path.join(out, name))

    contents = ''.join(f'<li><a href="{slug(t)}">{html.escape(t, quote=False)}</a></li>\n' for t, _ in sections)
    first = re.search(r'^# (.+)$', intro, re.M)
    title = first.group(1).strip() if first else 'Manual'
    body = to_html(cmark, intro) + f'<h2>Contents</h2>\n<ul>\n{contents}</ul>\n'
    nav = f'<a href="{slug(sections[0][0])}">Next: {html.escape(sections[0][0], quote=False)}</a>' if sections else ''
    with open(os.path.join(out, 'index.html'), 'w', encoding='utf-8') as f:
        f.write(page(f'{title} manual', nav, body))
    for i, (t, markdown) in enumerate(sections):
        with open(os.path.join(out, slug(t)), 'w', encoding='utf-8') as f:
            f.write(page(f'{t} - {title} manual', nav_links(sections, i), to_html(cmark, markdown)))

    # The pictures, at the paths the README gives them.
    source = os.path.dirname(os.path.abspath(readme))
    for picture in sorted(set(re.findall(r'!\[[^\]]*\]\(([^)\s]+)\)', text))):
        if '://' in picture or picture.startswith('/') or '..' in picture.split('/'):
            continue
        target = os.path.join(out, picture)
        os.makedirs(os.path.dirname(target), exist_ok=True)
        shutil.copyfile(os.path.join(source, picture), target)


if __name__ == '__main__':
    main()
