#!/usr/bin/env python3
"""Checks the user manual in docs/manual against the programs it describes.

- every numbered message the assemblers can print is on the messages page,
  under its number, with exactly the text the programs hold;
- every local link and image resolves (fragments included), and no page pulls
  in scripts or outside resources;
- every menu command of the IDE and every control of its option pages is named;
- every assembler example assembles as shown.

Examples are marked up in the pages themselves:
  <pre class="source" data-file="x.asm">   writes x.asm into the page's work folder
  <pre class="source" data-file="x.asm" data-line="30">   replaces line 30 of x.asm
  <pre class="source" data-from="examples/hc12/x.asm" data-file="x.asm">
                                         the block must equal that file of the tree
  <pre class="console">$ command        runs command (bash, qorb12/qorb11 on the
  output...                              PATH) in that folder; the output must match
Each page gets one work folder; blocks act in page order.
"""

import argparse
import html
import os
import re
import subprocess
import sys
import tempfile
from html.parser import HTMLParser

failures = []


def fail(msg):
    failures.append(msg)


class Page(HTMLParser):
    """Collects ids, links, images and the example blocks of one page."""

    def __init__(self):
        super().__init__(convert_charrefs=True)
        self.ids = set()
        self.duplicates = []
        self.links = []
        self.images = []
        self.scripts = 0
        self.blocks = []      # (kind, attrs, text)
        self.text = []        # visible text, for "is it mentioned" checks
        self._pre = None
        self.sheets = []      # style sheets: the manual's own only
        self._rows = []       # messages page: (id, first code text)
        self._row = None
        self._code = None

    def handle_starttag(self, tag, attrs):
        a = dict(attrs)
        if 'id' in a:
            if a['id'] in self.ids:
                self.duplicates.append(a['id'])
            self.ids.add(a['id'])
        if tag == 'a' and 'href' in a:
            self.links.append(a['href'])
        if tag == 'img':
            self.images.append(a.get('src', ''))
        if tag in ('script', 'iframe', 'object', 'embed'):
            self.scripts += 1
        if tag == 'link' and 'stylesheet' in a.get('rel', ''):
            self.sheets.append(a.get('href', ''))
        if tag == 'pre' and a.get('class') in ('source', 'console'):
            self._pre = (a['class'], a, [])
        if tag == 'tr' and 'id' in a:
            self._row = [a['id'], None]
        if tag == 'code' and self._row is not None and self._row[1] is None:
            self._code = []

    def handle_endtag(self, tag):
        if tag == 'pre' and self._pre:
            kind, attrs, parts = self._pre
            self.blocks.append((kind, attrs, ''.join(parts)))
            self._pre = None
        if tag == 'code' and self._code is not None:
            self._row[1] = ''.join(self._code)
            self._code = None
        if tag == 'tr' and self._row is not None:
            self._rows.append(tuple(self._row))
            self._row = None

    def handle_data(self, data):
        self.text.append(data)
        if self._pre:
            self._pre[2].append(data)
        if self._code is not None:
            self._code.append(data)


def load_pages(manual):
    pages = {}
    for name in sorted(os.listdir(manual)):
        if name.endswith('.html'):
            p = Page()
            with open(os.path.join(manual, name), encoding='utf-8') as f:
                p.raw = f.read()
            p.feed(p.raw)
            p.close()
            pages[name] = p
    return pages


def check_messages(pages, catalogue):
    out = subprocess.run([catalogue], check=True, capture_output=True, text=True).stdout
    entries = {}
    for line in out.splitlines():
        program, number, text = line.split('\t')
        while text.endswith('\\n'):
            text = text[:-2]
        entries.setdefault(program, {})[number] = text
    if 'messages.html' not in pages:
        fail('messages.html is missing')
        return
    rows = dict(pages['messages.html']._rows)
    if len(entries.get('qorb12', {})) < 100 or len(entries.get('qorb11', {})) < 100:
        fail('the catalogue dump holds too few messages: %s' % {k: len(v) for k, v in entries.items()})
    for number, text in entries['qorb12'].items():
        if number not in rows:
            fail('messages.html: no row for %s "%s"' % (number, text))
        elif rows[number] != text:
            fail('messages.html: %s reads "%s", the programs print "%s"' % (number, rows[number], text))
    for number, text in entries['qorb11'].items():
        if entries['qorb12'].get(number) == text:
            continue
        key = number + '-qorb11'
        if rows.get(key) != text:
            fail('messages.html: qorb11 %s should read "%s" (row %s has %r)' % (number, text, key, rows.get(key)))
    # A row for a number that no program prints would mislead.
    known = set(entries['qorb12']) | {n + '-qorb11' for n in entries['qorb11']}
    for key in rows:
        if re.fullmatch(r'[AD]\d{4}(-qorb11)?', key) and key not in known:
            fail('messages.html: row %s names a message the programs do not have' % key)


def check_links(manual, pages):
    for name, page in pages.items():
        # An unclosed <pre> or <table> swallows the rest of the page in a browser.
        for tag in ('pre', 'table', 'tr', 'td', 'ul', 'ol', 'li', 'code', 'a', 'h1', 'h2'):
            opened = len(re.findall(r'<%s[\s>]' % tag, page.raw))
            closed = len(re.findall(r'</%s>' % tag, page.raw))
            if opened != closed:
                fail('%s: %d <%s> but %d </%s>' % (name, opened, tag, closed, tag))
        for d in page.duplicates:
            fail('%s: the anchor %s is defined twice' % (name, d))
        if page.scripts:
            fail('%s: scripts or frames are not allowed' % name)
        for href in page.sheets:
            if re.match(r'[a-z]+:', href) or not os.path.isfile(os.path.join(manual, href)):
                fail('%s: style sheet from outside the manual or missing: %s' % (name, href))
        for src in page.images:
            if re.match(r'[a-z]+:', src):
                fail('%s: image from outside the manual: %s' % (name, src))
            elif not os.path.isfile(os.path.join(manual, src)):
                fail('%s: missing image %s' % (name, src))
        for href in page.links:
            if re.match(r'(https?|mailto):', href):
                continue
            target, _, frag = href.partition('#')
            target = target or name
            path = os.path.normpath(os.path.join(manual, target))
            if not path.startswith(os.path.normpath(manual) + os.sep) or not os.path.isfile(path):
                fail('%s: broken link %s' % (name, href))
            elif frag and target.endswith('.html'):
                if frag not in pages[os.path.basename(target)].ids:
                    fail('%s: link %s points at a missing anchor' % (name, href))


def visible(page):
    return re.sub(r'\s+', ' ', ''.join(page.text))


def check_ide(source, pages):
    with open(os.path.join(source, 'ide', 'shell', 'commands.cpp'), encoding='utf-8') as f:
        commands = re.findall(r'CommandInfo\{\s*\w+,\s*"((?:[^"\\]|\\.)*)"', f.read())
    menu_text = visible(pages.get('commands.html', Page()))
    names = [c.split('\\t')[0].replace('&', '') for c in commands if c]
    if len(names) < 30:
        fail('found only %d menu commands in ide/shell/commands.cpp' % len(names))
    for n in names:
        if n not in menu_text:
            fail('commands.html does not mention the menu command "%s"' % n)

    controls = []
    for fname in ('dlgoptions.cpp', 'pageterminal.cpp'):
        with open(os.path.join(source, 'ide', 'options', fname), encoding='utf-8') as f:
            code = f.read()
        controls += re.findall(r'(?:QCheckBox|QRadioButton|QGroupBox|QLabel)\(QStringLiteral\("([^"]+)"\)', code)
        controls += re.findall(r'(?:check|label)\((?:IDC_\w+, )?QStringLiteral\("([^"]+)"\)', code)
        controls += re.findall(r'addTab\(\w+(?:\.widget)?, QStringLiteral\("([^"]+)"\)', code)
    options_text = visible(pages.get('options.html', Page()))
    if len(controls) < 30:
        fail('found only %d option controls in the IDE sources' % len(controls))
    for c in controls:
        c = c.replace('&', '').rstrip(':')
        if c not in options_text:
            fail('options.html does not mention the option "%s"' % c)


DATE = re.compile(r'(Mon|Tue|Wed|Thu|Fri|Sat|Sun) (Jan|Feb|Mar|Apr|May|Jun|Jul|Aug|Sep|Oct|Nov|Dec) [ \d]\d \d\d:\d\d:\d\d \d{4}')


def normalise(text):
    text = DATE.sub('<date>', text.replace('\r', ''))
    return '\n'.join(line.rstrip() for line in text.strip('\n').split('\n'))


def check_examples(source, bindir, pages):
    env = {k: v for k, v in os.environ.items() if k not in ('QORB12', 'QORB11')}
    env['PATH'] = os.path.abspath(bindir) + os.pathsep + env.get('PATH', '')
    env['LC_ALL'] = 'C'
    ran = 0
    for name, page in pages.items():
        with tempfile.TemporaryDirectory(prefix='manual-') as work:
            for kind, attrs, text in page.blocks:
                if kind == 'source':
                    fname = attrs.get('data-file')
                    if not fname:
                        fail('%s: a source block without data-file' % name)
                        continue
                    path = os.path.join(work, fname)
                    if 'data-from' in attrs:
                        with open(os.path.join(source, attrs['data-from']), encoding='utf-8') as f:
                            original = f.read()
                        if original.rstrip('\n') != text.strip('\n'):
                            fail('%s: the block for %s differs from %s' % (name, fname, attrs['data-from']))
                    body = text.strip('\n') + '\n'
                    if 'data-line' in attrs:
                        if not os.path.isfile(path):
                            fail('%s: data-line block for %s, which no earlier block wrote' % (name, fname))
                            continue
                        with open(path, encoding='utf-8') as f:
                            lines = f.read().split('\n')
                        at = int(attrs['data-line']) - 1
                        lines[at:at + 1] = body.rstrip('\n').split('\n')
                        body = '\n'.join(lines)
                    os.makedirs(os.path.dirname(path), exist_ok=True)
                    with open(path, 'w', encoding='utf-8') as f:
                        f.write(body)
                    continue
                # A console block: "$ command" lines, each followed by its output.
                steps = []
                for line in text.strip('\n').split('\n'):
                    if line.startswith('$ '):
                        steps.append([line[2:], []])
                    elif steps:
                        steps[-1][1].append(line)
                    else:
                        fail('%s: console block does not start with "$ ": %r' % (name, line))
                        break
                for command, expected in steps:
                    try:
                        run = subprocess.run(['bash', '-c', '{ %s\n} 2>&1' % command], cwd=work, env=env,
                                             stdin=subprocess.DEVNULL, capture_output=True, timeout=60)
                    except subprocess.TimeoutExpired:
                        fail('%s: "$ %s" did not end within a minute' % (name, command))
                        continue
                    got = run.stdout.decode('latin-1')
                    ran += 1
                    if normalise(got) != normalise('\n'.join(expected)):
                        fail('%s: "$ %s" printed\n%s\n--- the manual shows\n%s' %
                             (name, command, got.rstrip(), '\n'.join(expected)))
    if ran < 10:
        fail('only %d example commands found in the manual' % ran)


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument('--manual', required=True)
    ap.add_argument('--source', required=True)
    ap.add_argument('--catalogue', required=True)
    ap.add_argument('--bin', required=True)
    args = ap.parse_args()
    pages = load_pages(args.manual)
    check_messages(pages, args.catalogue)
    check_links(args.manual, pages)
    check_ide(args.source, pages)
    check_examples(args.source, args.bin, pages)
    for f in failures:
        print('FAIL:', f)
    print('%d page(s) checked, %d problem(s)' % (len(pages), len(failures)))
    return 1 if failures else 0


if __name__ == '__main__':
    sys.exit(main())
