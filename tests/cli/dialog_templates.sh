#!/usr/bin/env bash
# The dialog templates of brelvane-setup.exe as the resource compiler builds
# them: each template's size, font and caption, and each control's id, kind,
# place, size and the styles the pages rely on (hidden or disabled at
# creation, scroll bars, read-only, prefix and path shortening, clipping of
# the siblings drawn over a control), the predefined page's
# combo-box items, that every field follows a label (what a screen reader
# names it by) and each page's access keys differ, and what the manifest declares (the systems it supports,
# asInvoker, common controls 6, DPI awareness).  The compiled resource is read back, so what
# is checked is what the program loads.  $1 (the tools
# folder) is not needed.
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

pos = 0
dialogs = []
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
        # Each combo offers the attribute choices of the builder's table, in
        # its order.
        import os, re
        header = open(os.path.join(os.environ['ROOT'], 'builder/predefined_modules.h')).read()
        block = header[header.index('kAttributeChoices[] = {'):]
        shown = re.findall(r'\{"\w+", "([^"]*)",', block[:block.index('};')])
        per_combo = {}
        for item in items:
            cid, text = item.split()[0], item.split('"')[1]
            per_combo.setdefault(cid, []).append(text)
        for cid, texts in sorted(per_combo.items()):
            if texts != shown:
                items.append('  ITEMS OF %s DIFFER FROM THE TABLE %s' % (cid, shown))
        dialogs.append((str(name) + ' init', ['init %s' % name] + items))
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
    # What a screen reader names a field by is the label just before it; the
    # access keys of one page must differ.
    previous, keys, problems = None, [], []
    for _ in range(count):
        q = (q + 3) & ~3
        cstyle, _, x, y, w, h, cid = struct.unpack_from('<IIhhhhH', body, q)
        q += 18
        cls, q = name_or_id(body, q)
        # A class named by its string is the same as its ordinal.
        cls = NAMED.get(cls.lower(), cls) if isinstance(cls, str) else cls
        text, q = name_or_id(body, q)
        q += 2 + struct.unpack_from('<H', body, q)[0]
        ident = -1 if cid == 0xFFFF else cid
        shown = text if isinstance(text, str) else '#%d' % text
        lines.append('  %d %s %d,%d %dx%d "%s" %s' % (
            ident, kind(cls, cstyle), x, y, w, h, shown, ' '.join(flags(cls, cstyle))))
        field = kind(cls, cstyle)
        if (field == 'edit' or field.startswith('combo') or field == 'syslistview32') and not (
                previous and previous[0].startswith('static-') and previous[1]):
            problems.append('  UNLABELLED %d' % ident)
        previous = (field, shown)
        if '&' in shown.replace('&&', ''):
            keys.append(shown.replace('&&', '')[shown.replace('&&', '').index('&') + 1].upper())
    lines += problems
    lines.append('  keys %s' % ''.join(keys))
    if len(set(keys)) != len(keys):
        lines.append('  DUPLICATE KEYS')
    dialogs.append((str(name), lines))
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
dialog PREDEF MODULES 210x188 "MS Sans Serif" 8 "Predef Modules"
  1031 button-group 2,1 205x54 "Mivora Kestrin Files"
  -1 static-centre 12,10 40x16 "(1) Zentok &Kestrin"
  1017 edit 53,11 118x12 "" border autohscroll
  1018 button-push 176,13 21x10 "..."
  -1 static-left 9,30 44x8 "Extract Root\"
  1024 edit 53,27 105x12 "" border autohscroll
  -1 static-left 162,27 0x0 "Attributes of the Kestrin files"
  1028 combo-droplist 162,27 39x63 "" vscroll
  -1 static-left 9,41 107x8 "E.g.      Root\windows\desktop"
  1032 button-group 2,56 205x41 "Mivora Ovin Files"
  -1 static-centre 7,65 40x16 "(2) Zentok &OVIN"
  1009 edit 53,65 118x12 "" border autohscroll
  1013 button-push 175,67 21x10 "..."
  -1 static-left 9,84 44x8 "Extract Root\"
  1025 edit 53,81 105x12 "" border autohscroll
  -1 static-left 162,81 0x0 "Attributes of the Ovin files"
  1029 combo-dropdown 162,81 39x63 "" vscroll
  1033 button-group 2,101 205x43 "Mivora Pellor Files"
  -1 static-centre 6,111 40x16 "(3 Zentok &Pellor"
  1010 edit 53,112 118x12 "" border autohscroll
  1014 button-push 175,114 21x10 "..."
  -1 static-left 10,132 44x8 "Extract Root\"
  1026 edit 53,128 104x12 "" border autohscroll
  -1 static-left 161,128 0x0 "Attributes of the Pellor files"
  1030 combo-dropdown 161,128 39x63 "" vscroll
  -1 static-centre 2,151 46x16 "(4) Zentok KES + OVIN" disabled
  1011 edit 53,152 118x12 "" disabled border autohscroll
  1015 button-push 175,154 21x10 "..." disabled
  1019 button-push 52,170 115x11 "&ADD Predefined Modules"
  keys KOPA
init PREDEF MODULES
  1028 0x0403 "Normal"
  1028 0x0403 "R only"
  1028 0x0403 "Hidden"
  1028 0x0403 "R&H"
  1029 0x0403 "Normal"
  1029 0x0403 "R only"
  1029 0x0403 "Hidden"
  1029 0x0403 "R&H"
  1030 0x0403 "Normal"
  1030 0x0403 "R only"
  1030 0x0403 "Hidden"
  1030 0x0403 "R&H"
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
