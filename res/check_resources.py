#!/usr/bin/env python3
"""Checks a compiled Varnel resource file (.res) byte by byte.

Usage:  python3 res/check_resources.py FILE.res
        python3 res/check_resources.py --self-test FILE.res

The first form prints "resources ok" and exits 0 when FILE.res holds
exactly the console dialog and its icon as Varnel expects them, and
otherwise prints what is wrong and exits 1.  The second form checks
FILE.res, then damages copies of it in memory in several ways and makes
sure each one is caught.
"""

import struct
import sys

RT_ICON = 3
RT_DIALOG = 5
RT_GROUP_ICON = 14
TYPE_NAMES = {RT_ICON: "RT_ICON", RT_DIALOG: "RT_DIALOG",
              RT_GROUP_ICON: "RT_GROUP_ICON"}

LANG_EN_US = 1033
IDD_CONSOLE = 1000
IDC_OUTPUT = 1001
IDC_COMMAND = 1002
IDI_CONSOLE = 200

ICON_BYTES = 744
DS_SETFONT = 0x40
DS_SHELLFONT = 0x48

DIALOG = dict(helpID=0, exStyle=0, style=0x90CA0840, cDlgItems=2,
              x=10, y=10, cx=302, cy=210, menu=None, windowClass=None,
              title="Varnel", pointsize=9, weight=700, italic=0,
              charset=161, typeface="Fixedsys")

ITEMS = [
    dict(helpID=0, exStyle=0x200, style=0x503110C4,
         x=1, y=0, cx=302, cy=198, id=IDC_OUTPUT,
         windowClass=(0x0081, "edit"), title="", extra=0),
    dict(helpID=0, exStyle=0x200, style=0x50200042,
         x=0, y=198, cx=302, cy=60, id=IDC_COMMAND,
         windowClass=(0x0085, "combobox"), title="", extra=0),
]


class CheckError(Exception):
    pass


class Reader:
    """Little-endian reader over a byte string that reports short data."""

    def __init__(self, data, what, pos=0):
        self.data = data
        self.what = what
        self.pos = pos

    def take(self, fmt):
        size = struct.calcsize(fmt)
        if self.pos + size > len(self.data):
            raise CheckError("%s: truncated at offset %d (need %d more bytes)"
                             % (self.what, self.pos, size))
        vals = struct.unpack_from("<" + fmt, self.data, self.pos)
        self.pos += size
        return vals if len(vals) > 1 else vals[0]

    def align(self, n=4):
        self.pos = (self.pos + n - 1) // n * n

    def wstring(self):
        chars = []
        while True:
            c = self.take("H")
            if c == 0:
                return "".join(chars)
            chars.append(chr(c))

    def sz_or_ord(self):
        """None for 0x0000, an int for 0xFFFF + ordinal, else a string."""
        first = self.take("H")
        if first == 0:
            return None
        if first == 0xFFFF:
            return self.take("H")
        self.pos -= 2
        return self.wstring()


def fmt_id(v):
    if v is None:
        return "none"
    if isinstance(v, int):
        return "#%d" % v
    return repr(v)


def parse_res(data):
    """Returns a list of (type, name, language, data) from a .res file."""
    resources = []
    r = Reader(data, "res file")
    while r.pos < len(data):
        start = r.pos
        data_size, header_size = r.take("II")
        rtype = r.sz_or_ord()
        name = r.sz_or_ord()
        r.align()
        _data_version, _mem_flags, lang, _version, _chars = r.take("IHHII")
        if header_size < 32 or start + header_size > len(data):
            raise CheckError("res file: bad header size %d at offset %d"
                             % (header_size, start))
        body_start = start + header_size
        if body_start + data_size > len(data):
            raise CheckError("res file: resource at offset %d claims %d bytes"
                             " but only %d remain"
                             % (start, data_size, len(data) - body_start))
        body = data[body_start:body_start + data_size]
        r.pos = body_start + data_size
        r.align()
        # A .res file starts with an empty entry (type 0, name 0, no data)
        # that marks the format; it is not a resource.
        if data_size == 0 and rtype == 0 and name == 0:
            continue
        resources.append((rtype, name, lang, body))
    return resources


def expect(what, got, want):
    if got != want:
        raise CheckError("%s is %s, expected %s"
                         % (what, show(got), show(want)))


def show(v):
    if isinstance(v, int) and not isinstance(v, bool) and v > 255:
        return "0x%X (%d)" % (v, v)
    if v is None:
        return "none"
    return repr(v)


def check_class(what, got, want):
    ordinal, name = want
    if got == ordinal:
        return
    if isinstance(got, str) and got.lower() == name:
        return
    raise CheckError("%s is %s, expected ordinal 0x%04X or \"%s\""
                     % (what, fmt_id(got), ordinal, name))


def check_dialog(body):
    what = "dialog %d" % IDD_CONSOLE
    r = Reader(body, what)
    dlg_ver, signature = r.take("HH")
    if (dlg_ver, signature) != (1, 0xFFFF):
        raise CheckError("%s is not an extended template (dlgVer %d,"
                         " signature 0x%04X)" % (what, dlg_ver, signature))
    d = {}
    (d["helpID"], d["exStyle"], d["style"], d["cDlgItems"],
     d["x"], d["y"], d["cx"], d["cy"]) = r.take("IIIHhhhh")
    d["menu"] = r.sz_or_ord()
    d["windowClass"] = r.sz_or_ord()
    d["title"] = r.wstring()
    if d["style"] & DS_SETFONT or d["style"] & DS_SHELLFONT == DS_SHELLFONT:
        d["pointsize"], d["weight"], d["italic"], d["charset"] = r.take("HHBB")
        d["typeface"] = r.wstring()
    else:
        raise CheckError("%s has no font (style 0x%08X lacks DS_SETFONT)"
                         % (what, d["style"]))
    for key, want in DIALOG.items():
        expect("%s %s" % (what, key), d[key], want)

    for n, want in enumerate(ITEMS, 1):
        iw = "%s item %d" % (what, n)
        r.align()
        r.what = iw
        it = {}
        (it["helpID"], it["exStyle"], it["style"], it["x"], it["y"],
         it["cx"], it["cy"], it["id"]) = r.take("IIIhhhhI")
        it["windowClass"] = r.sz_or_ord()
        title = r.sz_or_ord()
        it["title"] = "" if title is None else title
        it["extra"] = r.take("H")
        r.pos += it["extra"]
        for key, w in want.items():
            if key == "windowClass":
                check_class(iw + " class", it[key], w)
            elif key == "title" and not isinstance(it[key], str):
                raise CheckError("%s title is ordinal %d, expected \"\""
                                 % (iw, it[key]))
            else:
                expect("%s %s" % (iw, key), it[key], w)
    if r.pos > len(body):
        raise CheckError("%s: item data runs past the end" % what)


def check_icons(group, icons):
    what = "icon group %d" % IDI_CONSOLE
    r = Reader(group, what)
    reserved, kind, count = r.take("HHH")
    expect(what + " reserved", reserved, 0)
    expect(what + " type", kind, 1)
    expect(what + " entry count", count, 1)
    width, height, colours, _res, planes, bits, size, icon_id = \
        r.take("BBBBHHIH")
    expect(what + " width", width, 32)
    expect(what + " height", height, 32)
    expect(what + " colour count", colours, 16)
    expect(what + " planes", planes, 1)
    expect(what + " bits per pixel", bits, 4)
    expect(what + " image size", size, ICON_BYTES)
    if r.pos != len(group):
        raise CheckError("%s has %d trailing bytes"
                         % (what, len(group) - r.pos))
    if icon_id not in icons:
        raise CheckError("%s points at icon %d, which is missing"
                         % (what, icon_id))
    stray = sorted(set(icons) - {icon_id}, key=str)
    if stray:
        raise CheckError("unreferenced RT_ICON resources: %s"
                         % ", ".join(fmt_id(s) for s in stray))
    image = icons[icon_id]
    iw = "icon %d" % icon_id
    expect(iw + " size", len(image), ICON_BYTES)
    hr = Reader(image, iw)
    bi_size, bi_w, bi_h, bi_planes, bi_bits, bi_comp = hr.take("IiiHHI")
    hr.pos = 32
    bi_clr_used = hr.take("I")
    expect(iw + " biSize", bi_size, 40)
    expect(iw + " biWidth", bi_w, 32)
    expect(iw + " biHeight", bi_h, 64)
    expect(iw + " biPlanes", bi_planes, 1)
    expect(iw + " biBitCount", bi_bits, 4)
    expect(iw + " biCompression", bi_comp, 0)
    if bi_clr_used not in (0, 16):
        raise CheckError("%s biClrUsed is %d, expected 0 or 16"
                         % (iw, bi_clr_used))


def check(data):
    resources = parse_res(data)
    by_type = {}
    for rtype, name, lang, body in resources:
        label = "%s %s" % (TYPE_NAMES.get(rtype, "type " + fmt_id(rtype)),
                           fmt_id(name))
        if rtype not in TYPE_NAMES:
            raise CheckError("unexpected resource %s" % label)
        if lang != LANG_EN_US:
            raise CheckError("%s has language %d, expected %d"
                             % (label, lang, LANG_EN_US))
        names = by_type.setdefault(rtype, {})
        if name in names:
            raise CheckError("duplicate resource %s" % label)
        names[name] = body

    dialogs = by_type.get(RT_DIALOG, {})
    if set(dialogs) != {IDD_CONSOLE}:
        raise CheckError("dialogs present: %s, expected only #%d"
                         % (", ".join(fmt_id(n) for n in dialogs) or "none",
                            IDD_CONSOLE))
    groups = by_type.get(RT_GROUP_ICON, {})
    if set(groups) != {IDI_CONSOLE}:
        raise CheckError("icon groups present: %s, expected only #%d"
                         % (", ".join(fmt_id(n) for n in groups) or "none",
                            IDI_CONSOLE))
    check_dialog(dialogs[IDD_CONSOLE])
    check_icons(groups[IDI_CONSOLE], by_type.get(RT_ICON, {}))


def patched(data, offset, fmt, value):
    out = bytearray(data)
    struct.pack_into("<" + fmt, out, offset, value)
    return bytes(out)


def locate(data, rtype, name):
    """Offsets (header start, body start) of a resource in a .res file."""
    r = Reader(data, "res file")
    while r.pos < len(data):
        start = r.pos
        data_size, header_size = r.take("II")
        t = r.sz_or_ord()
        n = r.sz_or_ord()
        if (t, n) == (rtype, name):
            return start, start + header_size
        r.pos = start + header_size + data_size
        r.align()
    raise CheckError("self-test: %s %s not found" % (rtype, name))


def self_test(data):
    """Each damaged copy must be rejected; the original must pass."""
    check(data)
    hdr, dlg = locate(data, RT_DIALOG, IDD_CONSOLE)
    _, grp = locate(data, RT_GROUP_ICON, IDI_CONSOLE)
    # Dialog header: style at +12; first item starts after the header,
    # font and strings, so find it from the first item's known style.
    item1 = data.index(struct.pack("<I", 0x503110C4), dlg) - 8
    item2 = data.index(struct.pack("<I", 0x50200042), item1 + 12) - 8
    lang_off = hdr + 8 + 4 + 4 + 4 + 2   # after sizes, type, name, version, flags
    extra = struct.pack("<II", 0, 32) + struct.pack("<HHHH", 0xFFFF, 6,
                                                    0xFFFF, 1)
    extra += struct.pack("<IHHII", 0, 0x1030, LANG_EN_US, 0, 0)
    cases = [
        ("dialog style", patched(data, dlg + 12, "I", 0x90CA0844)),
        ("dialog ex-style", patched(data, dlg + 8, "I", 0x8)),
        ("dialog width", patched(data, dlg + 22, "h", 300)),
        ("dialog language", patched(data, lang_off, "H", 1031)),
        ("edit style", patched(data, item1 + 8, "I", 0x50B110C4)),
        ("edit id", patched(data, item1 + 20, "I", 1003)),
        ("combo box that does not scroll",
         patched(data, item2 + 8, "I", 0x50200002)),
        ("icon group colours", patched(data, grp + 6 + 2, "B", 0)),
        ("icon group size", patched(data, grp + 6 + 8, "I", 745)),
        ("extra string table", data + extra),
        ("truncated file", data[:-40]),
    ]
    for label, damaged in cases:
        try:
            check(damaged)
        except CheckError:
            continue
        raise CheckError("self-test: damaged %s was not caught" % label)


def main(argv):
    args = argv[1:]
    selftest = False
    if args and args[0] == "--self-test":
        selftest = True
        args = args[1:]
    if len(args) != 1:
        sys.stderr.write("usage: python3 %s [--self-test] FILE.res\n"
                         % argv[0])
        return 2
    path = args[0]
    try:
        with open(path, "rb") as f:
            data = f.read()
    except OSError as e:
        sys.stderr.write("check_resources: cannot read %s: %s\n"
                         % (path, e.strerror))
        return 1
    try:
        if selftest:
            self_test(data)
        else:
            check(data)
    except CheckError as e:
        sys.stderr.write("check_resources: %s: %s\n" % (path, e))
        return 1
    print("self-test ok" if selftest else "resources ok")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
