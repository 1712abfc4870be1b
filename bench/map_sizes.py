#!/usr/bin/env python3
"""Where a DLL's bytes go, from the GNU ld link map (-Wl,-Map=FILE).

Prints the size of each output section and, per group (the add-in's own objects by folder, and
each runtime library), the bytes it contributes to .text, .rdata, .eh_frame, .data/.bss and the
rest; then the largest objects. Usage:

    python3 bench/map_sizes.py build/bin/VORTELIXExcel.map [--objects N] [--filter TEXT]

--filter lists every input section whose object path contains TEXT (to see what one library
brings in). The sizes are of the input sections before the image's 512-byte file alignment; the
resources (.rsrc) and the relocations (.reloc) are reported as the map gives them.
"""
import argparse
import collections
import os
import re
import sys

SECTION_RE = re.compile(r'^ (\S+)\s+0x([0-9a-f]+)\s+0x([0-9a-f]+)\s+(\S.*)$')
NAME_ONLY_RE = re.compile(r'^ (\S+)$')
ADDR_SIZE_RE = re.compile(r'^\s+0x([0-9a-f]+)\s+0x([0-9a-f]+)\s+(\S.*)$')
OUTPUT_RE = re.compile(r'^(\.\S+)\s+0x([0-9a-f]+)\s+0x([0-9a-f]+)')
OUTPUT_NAME_ONLY_RE = re.compile(r'^(\.\S+)$')


def kind(section):
    if section.startswith('.text'):
        return 'text'
    if section.startswith('.rdata') or section.startswith('.rodata'):
        return 'rdata'
    if section.startswith('.eh_frame') or section.startswith('.gcc_except_table'):
        return 'eh'
    if section.startswith('.data') or section.startswith('.bss') or section.startswith('COMMON'):
        return 'data'
    if section.startswith('.pdata') or section.startswith('.xdata'):
        return 'eh'
    return 'other'


def group(obj):
    """The add-in's objects by source folder, libraries by archive name."""
    m = re.match(r'(.*?)\(([^)]*)\)$', obj)
    if m:
        archive, member = m.group(1), m.group(2)
        base = os.path.basename(archive)
        if base in ('libqvr_framework.a', 'libvortelix_addin.a') or 'CMakeFiles' in archive:
            src = re.sub(r'\.obj$|\.o$', '', member)
            return 'own: ' + own_folder(src), member
        return base, member
    if obj == 'dll stuff':
        return 'linker: imports, relocations', obj
    if 'CMakeFiles' in obj:
        return 'own: ' + own_folder(os.path.basename(obj)), os.path.basename(obj)
    return os.path.basename(obj), os.path.basename(obj)


_SOURCE_FOLDERS = {}


def own_folder(member):
    stem = member.split('.')[0]
    return _SOURCE_FOLDERS.get(stem, member)


def index_sources(root):
    for folder in ('src/com', 'src/module', 'src/ribbon', 'src/server', 'src/addin'):
        path = os.path.join(root, folder)
        if not os.path.isdir(path):
            continue
        for name in os.listdir(path):
            stem, ext = os.path.splitext(name)
            if ext in ('.cpp', '.rc'):
                _SOURCE_FOLDERS[stem] = folder + '/' + stem


def parse(path):
    outputs = []           # (name, size)
    inputs = []            # (output section, input section, size, object)
    current_output = None
    pending_output = None
    pending_input = None
    started = False
    with open(path, encoding='utf-8', errors='replace') as f:
        for line in f:
            line = line.rstrip('\n')
            if not started:
                started = line.startswith('Linker script and memory map')
                continue
            if pending_output is not None:
                m = re.match(r'^\s+0x([0-9a-f]+)\s+0x([0-9a-f]+)', line)
                if m:
                    current_output = pending_output
                    outputs.append((current_output, int(m.group(2), 16)))
                pending_output = None
                continue
            m = OUTPUT_RE.match(line)
            if m:
                current_output = m.group(1)
                outputs.append((current_output, int(m.group(3), 16)))
                continue
            m = OUTPUT_NAME_ONLY_RE.match(line)
            if m:
                pending_output = m.group(1)
                continue
            if pending_input is not None:
                m = ADDR_SIZE_RE.match(line)
                if m:
                    inputs.append((current_output, pending_input, int(m.group(2), 16), m.group(3)))
                pending_input = None
                continue
            m = SECTION_RE.match(line)
            if m and not m.group(1).startswith('0x') and not m.group(1).startswith('*'):
                inputs.append((current_output, m.group(1), int(m.group(3), 16), m.group(4)))
                continue
            m = NAME_ONLY_RE.match(line)
            if m and not m.group(1).startswith('*') and not m.group(1).startswith('0x'):
                pending_input = m.group(1)
    return outputs, inputs


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument('map')
    ap.add_argument('--objects', type=int, default=25)
    ap.add_argument('--filter')
    ap.add_argument('--source-root', default=os.path.join(os.path.dirname(__file__), '..'))
    args = ap.parse_args()
    index_sources(args.source_root)
    outputs, inputs = parse(args.map)

    print('output sections (bytes):')
    for name, size in outputs:
        if size:
            print(f'  {name:<12} {size:>9,}')
    print()

    kinds = ('text', 'rdata', 'eh', 'data', 'other')
    by_group = collections.defaultdict(lambda: collections.Counter())
    by_object = collections.Counter()
    for out, sec, size, obj in inputs:
        if out in ('.debug_info', '.debug_line', '.debug_abbrev', '.debug_aranges', '.debug_str',
                   '.debug_frame', '.debug_loc', '.debug_ranges', '.debug_line_str', '.debug_rnglists',
                   '.debug_loclists'):
            continue
        g, member = group(obj)
        by_group[g][kind(sec if out is None else out)] += size
        by_object[(g, member)] += size
        if args.filter and args.filter in obj:
            print(f'  {out or "?":<10} {sec:<50} {size:>8,} {obj}')
    if args.filter:
        print()

    header = f'{"group":<40}' + ''.join(f'{k:>9}' for k in kinds) + f'{"total":>10}'
    print(header)
    total = collections.Counter()
    for g, c in sorted(by_group.items(), key=lambda kv: -sum(kv[1].values())):
        s = sum(c.values())
        if s < 256:
            continue
        total.update(c)
        print(f'{g:<40}' + ''.join(f'{c[k]:>9,}' for k in kinds) + f'{s:>10,}')
    print(f'{"(all listed)":<40}' + ''.join(f'{total[k]:>9,}' for k in kinds) + f'{sum(total.values()):>10,}')
    print()
    print(f'largest {args.objects} objects:')
    for (g, member), size in by_object.most_common(args.objects):
        print(f'  {size:>9,}  {g}  {member if not g.startswith("own") else ""}')
    return 0


if __name__ == '__main__':
    sys.exit(main())
