#!/usr/bin/env bash
# The dialog templates of brelvane-setup.exe as the resource compiler builds
# them: each template's size, font and caption, and each control's id, kind,
# place, size and the styles the pages rely on (hidden or disabled at
# creation, scroll bars, read-only, prefix and path shortening, clipping of
# the siblings drawn over a control), and what the manifest declares (the
# systems it supports, asInvoker, common controls 6, DPI awareness).  Every
# page keeps the rules of page_problems (ids differ, fields follow their
# labels, Tab in reading order, access keys differ).  The predefined-modules
# page, drawn from builder_groups.def, is held to rules instead of places:
# one whole group a catalogue model, in order, overlapping nothing, and the
# same choices in every combo box.  The compiled resource is read back, so
# what is checked is what the program loads.  $1 (the tools folder) is not
# needed.
set -u
ROOT=$(cd "$(dirname "$0")/../.." && pwd)
WINDRES=${WINDRES:-x86_64-w64-mingw32-windres}
if ! command -v "$WINDRES" > /dev/null; then
  echo "skipped: $WINDRES is not installed"
  exit 0
fi
# shellcheck source=cli_lib.bash
source "$(dirname "$0")/cli_lib.bash"
cli_workdir
# The version numbers the build makes from the project's VERSION.
printf '#define BRELVANE_VERSION_MAJOR 1\n#define BRELVANE_VERSION_MINOR 0\n#define BRELVANE_VERSION_TEXT "1.0"\n' \
  > "$WORK/version.h"
"$WINDRES" -I"$ROOT/res" -I"$ROOT" -I"$WORK" "$ROOT/res/brelvane.rc" -O res -o "$WORK/brelvane.res" ||
  exit 1

ROOT=$ROOT python3 - "$WORK/brelvane.res" > "$WORK/actual.txt" << 'EOF' || exit 1
import struct, sys

data = open(sys.argv[1], 'rb').read()

def name_or_id(b, p):
    if struct.unpack_from('<H', b, p)[0] == 0xFFFF:
        return struct.unpack_from('<H', b, p + 2)[0], p + 4
    s = ''
    while True:
        c = struct.unpack_from('<H', b, p)[0]
        p += 2
        if c == 0:
            return s, p
        s += chr(c)

CLASSES = {0x80: 'button', 0x81: 'edit', 0x82: 'static', 0x85: 'combo'}
NAMED = {'button': 0x80, 'edit': 0x81, 'static': 0x82, 'combobox': 0x85}
BUTTONS = {0: 'push', 1: 'defpush', 3: 'autocheck', 7: 'group', 9: 'autoradio'}
STATICS = {0: 'left', 1: 'centre', 3: 'icon'}
COMBOS = {2: 'dropdown', 3: 'droplist'}

def kind(cls, style):
    if cls == 0x80: return 'button-' + BUTTONS.get(style & 0xF, hex(style & 0xF))
    if cls == 0x82: return 'static-' + STATICS.get(style & 0x1F, hex(style & 0x1F))
    if cls == 0x85: return 'combo-' + COMBOS.get(style & 0x3, hex(style & 0x3))
    if isinstance(cls, str): return cls.lower()
    return CLASSES.get(cls, str(cls))

def flags(cls, style):
    out = []
    if not style & 0x10000000: out.append('hidden')
    if style & 0x08000000: out.append('disabled')
    if style & 0x00800000 and cls != 0x82: out.append('border')
    if style & 0x00200000: out.append('vscroll')
    if cls == 0x81:
        if style & 0x4: out.append('multiline')
        if style & 0x800: out.append('readonly')
        if style & 0x80: out.append('autohscroll')
    if cls == 0x82 and style & 0x80: out.append('noprefix')
    if cls == 0x82 and style & 0xC000 == 0x8000: out.append('pathellipsis')
    if style & 0x04000000: out.append('clipsiblings')
    if cls == 0x80 and style & 0x8000: out.append('flat')
    if isinstance(cls, str) and cls.lower() == 'syslistview32':
        if style & 0x3 == 1: out.append('report')
        if style & 0x4: out.append('singlesel')
    return out

import collections, os, re

Control = collections.namedtuple('Control', 'ident kind x y w h shown flags')

def access_keys(controls):
    texts = [c.shown.replace('&&', '') for c in controls]
    return [t[t.index('&') + 1].upper() for t in texts if '&' in t]

def inside(c, box):
    return (box.x <= c.x and c.x + c.w <= box.x + box.w and
            box.y <= c.y and c.y + c.h <= box.y + box.h)

def overlap(a, b):
    """Whether two controls share more than a sliver (the templates let a
    label run a unit into its field)."""
    width = min(a.x + a.w, b.x + b.w) - max(a.x, b.x)
    height = min(a.y + a.h, b.y + b.h) - max(a.y, b.y)
    return width > 2 and height > 2

def page_problems(controls, cx, cy):
    """The rules every page keeps: ids differ, controls lie on the page, each
    field follows its label (what a screen reader names it by), Tab takes the
    fields in reading order, and the access keys differ."""
    problems = []
    ids = [c.ident for c in controls if c.ident != -1]
    problems += ['  ID %d TWICE' % i for i in sorted({i for i in ids if ids.count(i) > 1})]
    problems += ['  %d OFF THE PAGE' % c.ident for c in controls
                 if c.x < 0 or c.y < 0 or c.x + c.w > cx or c.y + c.h > cy]
    for previous, c in zip([None] + controls, controls):
        if (c.kind == 'edit' or c.kind.startswith('combo') or c.kind == 'syslistview32') and not (
                previous and previous.kind.startswith('static-') and previous.shown):
            problems.append('  UNLABELLED %d' % c.ident)
    stops = [c for c in controls if not c.kind.startswith('static') and c.kind != 'button-group']
    for a, b in zip(stops, stops[1:]):
        if not (b.y > a.y + 4 or (abs(b.y - a.y) <= 4 and b.x > a.x)):
            problems.append('  TAB GOES BACK FROM %d TO %d' % (a.ident, b.ident))
    keys = access_keys(controls)
    if len(set(keys)) != len(keys):
        problems.append('  DUPLICATE KEYS %s' % ''.join(keys))
    return problems

# The catalogue's model names, in the order of its rows.
CATALOGUE = open(os.path.join(os.environ['ROOT'], 'common/drive_models.h')).read()
MODELS = re.findall(r'\{DriveModel::\w+,\s*"(\w+)"',
                    CATALOGUE[CATALOGUE.index('kDriveModels[] = {'):])
# A group's controls after its box, by kind and styles: the source label and
# edit, the browse button, the root label and edit, the attributes label and
# combo box.
GROUP_KINDS = ['static-centre ', 'edit border autohscroll', 'button-push ', 'static-left ',
               'edit border autohscroll', 'static-left ']

def outside_groups(controls):
    """The controls that follow no group box: the combined set's row and the
    page's command."""
    boxes = [c for c in controls if c.kind == 'button-group']
    return [c for c in controls if c.kind != 'button-group' and not any(
        controls.index(c) > controls.index(box) and inside(c, box) for box in boxes)]

def group_problems(controls):
    """One group box a model, in the catalogue's order; each holds the
    controls that follow it (label and source, browse, root label and root,
    attributes label and combo box), and no other; groups do not overlap each
    other or the controls outside them."""
    problems, members_of = [], {}
    boxes = [i for i, c in enumerate(controls) if c.kind == 'button-group']
    names = [controls[i].shown for i in boxes]
    if len(names) != len(MODELS) or any(m not in n for m, n in zip(MODELS, names)):
        problems.append('  GROUPS %s FOR THE MODELS %s' % (names, MODELS))
    for i in boxes:
        box, members = controls[i], []
        for c in controls[i + 1:]:
            if not inside(c, box):
                break
            members.append(c)
        kinds = ['%s %s' % (c.kind, c.flags) for c in members]
        if kinds[:6] != GROUP_KINDS or len(kinds) < 7 or not (
                kinds[6].startswith('combo-') and kinds[6].endswith(' vscroll')):
            problems.append('  GROUP %d HOLDS %s' % (box.ident, kinds))
        members_of[box.ident] = [id(c) for c in members]
        sized = [c for c in members if c.w and c.h]
        problems += ['  %d "%s" OVERLAPS %d "%s"' % (a.ident, a.shown, b.ident, b.shown)
                     for i, a in enumerate(sized) for b in sized[i + 1:] if overlap(a, b)]
    for box in (controls[i] for i in boxes):
        for c in controls:
            if c is not box and c.w and c.h and overlap(c, box) and id(c) not in members_of[box.ident]:
                problems.append('  %d "%s" OVERLAPS GROUP %d' % (c.ident, c.shown, box.ident))
    return problems

pos = 0
dialogs = []
inits, combos = {}, {}
while pos < len(data):
    size, header = struct.unpack_from('<II', data, pos)
    kind_id, p = name_or_id(data, pos + 8)
    name, p = name_or_id(data, p)
    body = data[pos + header:pos + header + size]
    pos = (pos + header + size + 3) & ~3
    if kind_id == 240:
        q, items = 0, []
        while True:
            cid = struct.unpack_from('<H', body, q)[0]
            if cid == 0:
                break
            msg, length = struct.unpack_from('<HI', body, q + 2)
            items.append('  %d %#06x "%s"' % (cid, msg, body[q + 8:q + 8 + length].rstrip(b'\0').decode()))
            q += 8 + length
        inits[str(name)] = items
        continue
    if kind_id == 24:
        import re
        text = body.decode()
        lines = ['manifest %s' % name]
        lines += ['  supportedOS %s' % m for m in re.findall(r'supportedOS Id="([^"]+)"', text)]
        lines += ['  level %s' % m for m in re.findall(r'requestedExecutionLevel level="([^"]+)"', text)]
        lines += ['  common-controls %s' % m for m in
                  re.findall(r'name="Microsoft.Windows.Common-Controls" version="([^"]+)"', text)]
        settings = re.findall(r'<application xmlns="urn:schemas-microsoft-com:asm.v3">\s*'
                              r'<windowsSettings>(.*?)</windowsSettings>', text, re.S)
        lines += ['  %s %s %s' % m for m in
                  re.findall(r'<(dpiAwareness|dpiAware) xmlns="([^"]+)">([^<]+)<', ''.join(settings))]
        dialogs.append(('~manifest', lines))
        continue
    if kind_id != 5:
        continue
    style, _, count, _, _, cx, cy = struct.unpack_from('<IIHhhhh', body, 0)
    q = 18
    _, q = name_or_id(body, q)
    _, q = name_or_id(body, q)
    caption, q = name_or_id(body, q)
    points = struct.unpack_from('<H', body, q)[0]
    face, q = name_or_id(body, q + 2)
    lines = ['dialog %s %dx%d "%s" %d "%s"' % (name, cx, cy, face, points, caption)]
    controls = []
    for _ in range(count):
        q = (q + 3) & ~3
        cstyle, _, x, y, w, h, cid = struct.unpack_from('<IIhhhhH', body, q)
        q += 18
        cls, q = name_or_id(body, q)
        # A class named by its string is the same as its ordinal.
        cls = NAMED.get(cls.lower(), cls) if isinstance(cls, str) else cls
        text, q = name_or_id(body, q)
        q += 2 + struct.unpack_from('<H', body, q)[0]
        shown = text if isinstance(text, str) else '#%d' % text
        controls.append(Control(-1 if cid == 0xFFFF else cid, kind(cls, cstyle), x, y, w, h,
                                shown, ' '.join(flags(cls, cstyle))))
    # A closed combo box is one line high: its height is its list's.
    closed = [c._replace(h=min(c.h, 14)) if c.kind.startswith('combo') else c for c in controls]
    problems = page_problems(closed, cx, cy)
    combos[str(name)] = [c.ident for c in controls if c.kind.startswith('combo')]
    if any(c.kind == 'button-group' and c.ident != -1 for c in controls):
        # A page of model groups is checked by its rules, not by its places,
        # which builder_groups.def holds.
        problems += group_problems(closed)
        lines = ['dialog %s "%s" %d "%s"' % (name, face, points, caption),
                 '  every model of the catalogue has a whole group, in order, on the page']
        lines += ['  %d %s "%s" %s' % (c.ident, c.kind, c.shown, c.flags)
                  for c in outside_groups(closed)]
    else:
        lines += ['  %d %s %d,%d %dx%d "%s" %s' % c for c in controls]
        lines.append('  keys %s' % ''.join(access_keys(controls)))
    dialogs.append((str(name), lines + problems))
for name, items in inits.items():
    # Each combo box of the page gets the same choices, in the same order.
    per_combo = {}
    for item in items:
        per_combo.setdefault(int(item.split()[0]), []).append(item.split(None, 1)[1])
    if any(item.split()[1] != '0x0403' for item in items):
        print('INIT DATA OF %s ADDS OTHER THAN COMBO ITEMS' % name)
    if sorted(per_combo) != sorted(combos.get(name, [])):
        print('INIT DATA OF %s FILLS %s, THE PAGE HAS COMBOS %s' % (name, sorted(per_combo), combos.get(name)))
    if len({tuple(texts) for texts in per_combo.values()}) != 1:
        print('THE COMBOS OF %s GET DIFFERENT CHOICES' % name)
for _, lines in sorted(dialogs):
    print('\n'.join(line.rstrip() for line in lines))
EOF

cat > "$WORK/expected.txt" << 'EOF'
dialog 100 235x55 "MS Sans Serif" 8 "About Quorvix Brelvane Installer"
  -1 static-icon 11,17 21x20 "#128"
  1029 static-left 38,12 188x8 "Brelvane Installer" noprefix
  -1 static-left 38,24 126x8 "Copyright (C) Quorvix"
  1 button-defpush 178,22 50x14 "OK"
  -1 static-left 38,37 181x8 "For updates visit www.quorvix.example"
  -1 button-group 4,3 227x48 " Quorvix " flat
  keys
dialog 106 232x95 "MS Sans Serif" 8 "License Agreement"
  -1 static-left 7,2 0x0 "License agreement"
  1000 edit 7,2 221x74 "" border vscroll multiline readonly
  1002 button-autoradio 62,82 39x10 "&Accept"
  1003 button-autoradio 122,82 40x10 "&Decline"
  1030 button-push 193,81 35x11 "A&bout"
  keys ADB
dialog 107 210x89 "MS Sans Serif" 8 "    Install    "
  1004 static-left 7,4 196x21 "Mivora Plugged-in: "
  1020 static-left 7,27 196x21 "Module Included:"
  1041 static-left 7,51 196x8 "" hidden noprefix pathellipsis
  1040 msctls_progress32 7,61 196x9 "" hidden
  1005 static-left 7,50 196x21 "Supported Mivora:" clipsiblings
  1006 button-autocheck 8,74 129x10 "&Launch Brelvane after installation" hidden
  keys L
dialog OEM PAGE 232x180 "MS Sans Serif" 8 "OEM Page"
  -1 static-left 8,0 30x16 "Installer &Name"
  1016 edit 40,3 135x12 "" border autohscroll
  1013 button-push 177,2 45x14 "set &installer"
  1034 static-centre 5,19 29x15 "Module &To Add"
  1008 edit 40,21 136x12 "" border autohscroll
  1012 button-push 177,24 21x10 "..."
  -1 static-left 9,37 0x0 "&Modules of the installer"
  1015 syslistview32 9,37 214x123 "" border report singlesel
  1009 button-push 9,164 60x13 "&Add Module"
  1011 button-push 87,164 65x13 "&Extract Module"
  1010 button-push 163,164 60x13 "&Delete Module" hidden disabled
  keys NITMAED
dialog PREDEF MODULES "MS Sans Serif" 8 "Predef Modules"
  every model of the catalogue has a whole group, in order, on the page
  -1 static-centre "(4) Zentok KES + OVIN" disabled
  1011 edit "" disabled border autohscroll
  1015 button-push "..." disabled
  1019 button-push "&ADD Predefined Modules"
manifest 1
  supportedOS {35138b9a-5d96-4fbd-8e2d-a2440225f93a}
  supportedOS {4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38}
  supportedOS {1f676c76-80e1-4239-95bb-83d0f6d0da78}
  supportedOS {8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}
  level asInvoker
  common-controls 6.0.0.0
  dpiAware http://schemas.microsoft.com/SMI/2005/WindowsSettings true
  dpiAwareness http://schemas.microsoft.com/SMI/2016/WindowsSettings PerMonitorV2
EOF

if diff -u "$WORK/expected.txt" "$WORK/actual.txt"; then
  echo "dialog templates as expected"
else
  echo "FAIL: the compiled dialog templates differ (- expected, + compiled)"
  exit 1
fi
