#!/usr/bin/python3
"""Check a built program: one of the two installers or the uninstaller.

Usage: check_pe.py EXE NAME      (NAME is tvlinst, setup, tvluninstall or tvluser)

Checks: 32-bit PE (PE32, i386), GUI subsystem, imports only from Windows'
own DLLs (no MinGW runtime DLLs), exactly kernel32, user32, gdi32 and
advapi32, and no function the first Windows 95 lacks; an image of at most
32 KiB (a signed file's certificate table lies outside it, last in the file);
a correct PE checksum; runs
on Windows 95 and NT 4.0 (subsystem and OS version 4.0) and an i486 (no
instruction the i486 or its x87 unit lacks); the stack grown a page at a time, each
page touched (never past the guard page); ASLR and DEP kept; no manifest
resource, the version block with its strings, language 0x0804 and FILEOS
VOS__WINDOWS32, and the group icon with two 16-colour images (32x32 and
16x16); a link time stamp of 0, or SOURCE_DATE_EPOCH when that is set, so
that a build of the same sources gives the same bytes. Prints what the time
stamp, size, import, header and instruction checks found,
every failed check, and a last line "pe NAME: N passed, M failed"; exit
status 1 if anything failed.
"""
import os
import re
import struct
import subprocess
import sys

import pefile

LANG_ZH_CN = 0x0804
CODEPAGE_UNICODE = 1200
RT_ICON, RT_GROUP_ICON, RT_VERSION, RT_MANIFEST = 3, 14, 16, 24

# DLLs that ship with Windows itself; compared in lower case.
SYSTEM_DLLS = {
    'kernel32.dll', 'user32.dll', 'gdi32.dll', 'advapi32.dll', 'msvcrt.dll',
    'shell32.dll', 'ole32.dll', 'oleaut32.dll', 'comctl32.dll',
    'comdlg32.dll', 'shlwapi.dll', 'version.dll', 'imm32.dll', 'ntdll.dll',
}
FORBIDDEN_PREFIXES = ('libstdc++', 'libgcc', 'libwinpthread')
IMPORTED_DLLS = {'kernel32.dll', 'user32.dll', 'gdi32.dll', 'advapi32.dll'}
# Missing from Windows 95's kernel32: importing one stops the program loading there
# (such functions are looked up with GetProcAddress where they exist).
NOT_ON_WIN95 = {
    'SetDefaultDllDirectories', 'AddDllDirectory', 'RemoveDllDirectory',
    'SetDllDirectoryA', 'SetDllDirectoryW', 'GetFileSizeEx', 'SetFilePointerEx',
    'ReplaceFileA', 'ReplaceFileW', 'CreateHardLinkA', 'CreateHardLinkW',
    'MoveFileWithProgressA', 'MoveFileWithProgressW', 'GetNativeSystemInfo',
    'IsWow64Process', 'IsWow64Process2', 'Wow64DisableWow64FsRedirection',
    'Wow64RevertWow64FsRedirection', 'GetSystemWindowsDirectoryA', 'GetSystemWindowsDirectoryW',
}
# What the programs call on later systems only: each is looked up with GetProcAddress where
# it is used, and an import of any of them fails the check.
LOOKED_UP = {
    'IsWow64Process', 'IsWow64Process2', 'Wow64DisableWow64FsRedirection',
    'Wow64RevertWow64FsRedirection',
    'OpenProcessToken', 'SetTokenInformation', 'GetTokenInformation', 'GetSystemWindowsDirectoryA',
    'GetSystemWindowsDirectoryW', 'SetDefaultDllDirectories', 'SetDllDirectoryA', 'MoveFileExW',
}
MAX_SIZE = 32 * 1024  # of the image: a signature lies outside it, in the certificate table
IMAGE_DIRECTORY_ENTRY_SECURITY = 4
WIN_CERT_REVISION_2_0, WIN_CERT_TYPE_PKCS_SIGNED_DATA = 0x0200, 2
VOS__WINDOWS32 = 0x00000004
DLLCHAR_DYNAMIC_BASE, DLLCHAR_NX_COMPAT = 0x40, 0x100
OBJDUMP = 'i686-w64-mingw32-objdump'
# Instructions an i486 with its x87 unit does not have.
NOT_ON_I486 = re.compile(
    r'^(cmov\w*|fcmov\w*|fcomip?|fucomip?|cpuid|rdtsc|cmpxchg8b|sysenter|[lsm]fence|emms)$')
WIDE_REGISTER = re.compile(r'%(mm\d|xmm\d+|ymm\d+)')
# A stack allocation by a constant: `sub $0x...,%esp`.
STACK_ALLOCATION = re.compile(r'^sub\s+\$0x([0-9a-f]+),%esp$')
PAGE = 0x1000
PREFIXES = {'lock', 'rep', 'repz', 'repe', 'repnz', 'repne', 'data16', 'data32', 'addr16',
            'addr32', 'cs', 'ds', 'es', 'fs', 'gs', 'ss', 'notrack', 'bnd'}

EXPECTED = {
    'tvlinst': {'ProductName': 'tvlinst', 'InternalName': 'tvlinst',
                'OriginalFilename': 'tvlinst.exe'},
    'setup': {'ProductName': 'Setup', 'InternalName': 'Setup',
              'OriginalFilename': 'Setup.exe'},
    'tvluninstall': {'ProductName': 'tvluninstall', 'InternalName': 'tvluninstall',
                     'OriginalFilename': 'tvluninstall.exe'},
    # Run by each user at sign-in with their own rights: none of the words by which Windows
    # elevates a program without a manifest.
    'tvluser': {'ProductName': 'tvluser', 'InternalName': 'tvluser',
                'OriginalFilename': 'tvluser.exe'},
}
COMMON = {'FileVersion': '1.00', 'ProductVersion': '1.00'}
# Windows elevates a 32-bit program without a manifest whose file name or version strings hold
# one of these (installer detection): the programs each user runs with their own rights hold none.
INSTALLER_WORDS = ('install', 'setup', 'update', 'patch')
RUN_WITH_USERS_RIGHTS = ('tvluser',)


class Checker:
    def __init__(self):
        self.passed = 0
        self.failed = 0

    def check(self, ok, what):
        if ok:
            self.passed += 1
        else:
            self.failed += 1
            print('FAIL: ' + what)
        return ok


def resources(pe):
    """Yield (type id, name id or str, language id, bytes) for every resource."""
    root = getattr(pe, 'DIRECTORY_ENTRY_RESOURCE', None)
    if root is None:
        return
    for t in root.entries:
        if not hasattr(t, 'directory'):
            continue
        for n in t.directory.entries:
            if not hasattr(n, 'directory'):
                continue
            for lang in n.directory.entries:
                d = lang.data.struct
                data = pe.get_data(d.OffsetToData, d.Size)
                name = n.id if n.name is None else str(n.name)
                yield t.id, name, lang.id, data


def parse_version_node(data, pos=0):
    """Parse one VS_VERSIONINFO-style node: (key, value bytes, wType, children)."""
    length, value_len, wtype = struct.unpack_from('<HHH', data, pos)
    end = pos + length
    p = pos + 6
    key_end = p
    while data[key_end:key_end + 2] != b'\0\0':
        key_end += 2
    key = data[p:key_end].decode('utf-16-le')
    p = (key_end + 2 + 3) & ~3
    size = value_len * 2 if wtype == 1 else value_len
    value = data[p:p + size]
    p = (p + size + 3) & ~3
    children = []
    while p + 6 <= end:
        clen = struct.unpack_from('<H', data, p)[0]
        if clen == 0:
            break
        children.append(parse_version_node(data, p))
        p = (p + clen + 3) & ~3
    return key, value, wtype, children


def check_version(c, res, name):
    versions = [r for r in res if r[0] == RT_VERSION]
    if not c.check(len(versions) == 1,
                   'exactly one version resource (found %d)' % len(versions)):
        return
    _, _, lang, data = versions[0]
    c.check(lang == LANG_ZH_CN,
            'version resource language is 0x0804 (is 0x%04x)' % lang)
    try:
        key, value, _, children = parse_version_node(data)
    except (struct.error, UnicodeDecodeError) as e:
        c.check(False, 'version resource parses (%s)' % e)
        return
    c.check(key == 'VS_VERSION_INFO', 'version root key is VS_VERSION_INFO')
    if c.check(len(value) >= 52, 'fixed file info present'):
        f = struct.unpack_from('<13I', value)
        c.check(f[0] == 0xFEEF04BD, 'fixed file info signature')
        c.check((f[2], f[3]) == (0x00010000, 0),
                'FILEVERSION is 1,0,0,0 (is %d,%d,%d,%d)'
                % (f[2] >> 16, f[2] & 0xFFFF, f[3] >> 16, f[3] & 0xFFFF))
        c.check((f[4], f[5]) == (0x00010000, 0),
                'PRODUCTVERSION is 1,0,0,0 (is %d,%d,%d,%d)'
                % (f[4] >> 16, f[4] & 0xFFFF, f[5] >> 16, f[5] & 0xFFFF))
        print('FILEOS 0x%08x' % f[8])
        c.check(f[8] == VOS__WINDOWS32,
                'FILEOS is VOS__WINDOWS32 0x%08x (is 0x%08x)' % (VOS__WINDOWS32, f[8]))
    sfi = [ch for ch in children if ch[0] == 'StringFileInfo']
    vfi = [ch for ch in children if ch[0] == 'VarFileInfo']
    tables = sfi[0][3] if sfi else []
    keys = [t[0] for t in tables]
    if c.check(keys == ['080404b0'],
               'one string table "080404b0" (found %r)' % keys):
        strings = {}
        for k, v, _, _ in tables[0][3]:
            strings[k] = v.decode('utf-16-le', 'replace').rstrip('\0')
        want = dict(COMMON)
        want.update(EXPECTED[name])
        for k, v in sorted(want.items()):
            c.check(strings.get(k) == v,
                    'version string %s is %r (is %r)' % (k, v, strings.get(k)))
        if name in RUN_WITH_USERS_RIGHTS:
            for k, v in sorted(list(strings.items()) + [('file name', name + '.exe')]):
                c.check(not any(word in v.lower() for word in INSTALLER_WORDS),
                        '%s %r holds no word that has Windows elevate the program' % (k, v))
    trans = None
    if vfi:
        for k, v, _, _ in vfi[0][3]:
            if k == 'Translation':
                trans = [struct.unpack_from('<HH', v, i)
                         for i in range(0, len(v) - 3, 4)]
    c.check(trans == [(LANG_ZH_CN, CODEPAGE_UNICODE)],
            'VarFileInfo Translation is 0x804, 1200 (is %r)' % (trans,))


def check_icons(c, res):
    groups = [r for r in res if r[0] == RT_GROUP_ICON]
    ids = [r[1] for r in groups]
    if not c.check(ids == [1], 'one group icon with id 1 (found %r)' % ids):
        return
    _, _, lang, data = groups[0]
    c.check(lang == LANG_ZH_CN, 'group icon language is 0x0804 (is 0x%04x)' % lang)
    reserved, rtype, count = struct.unpack_from('<HHH', data)
    c.check(rtype == 1, 'group icon type is 1 (icon)')
    entries = []
    for i in range(count):
        if 6 + 14 * (i + 1) > len(data):
            break
        entries.append(struct.unpack_from('<BBBBHHIH', data, 6 + 14 * i))
    sizes = [(e[0] or 256, e[1] or 256) for e in entries]
    c.check(sorted(sizes) == [(16, 16), (32, 32)],
            'group icon has exactly 32x32 and 16x16 (has %r)' % sizes)
    images = {r[1]: r for r in res if r[0] == RT_ICON}
    for w, h, colors, _, planes, bits, nbytes, icon_id in entries:
        w, h = w or 256, h or 256
        what = '%dx%d icon' % (w, h)
        c.check(bits == 4, '%s group entry has 4 bits per pixel (has %d)' % (what, bits))
        c.check(colors == 16, '%s group entry has 16 colours (has %d)' % (what, colors))
        img = images.get(icon_id)
        if not c.check(img is not None, '%s image (id %d) present' % (what, icon_id)):
            continue
        c.check(img[2] == LANG_ZH_CN, '%s image language is 0x0804' % what)
        d = img[3]
        if not c.check(len(d) >= 40 and struct.unpack_from('<I', d)[0] == 40,
                       '%s image starts with a BITMAPINFOHEADER' % what):
            continue
        (_, bw, bh, bplanes, bbits, bcomp, _, _, _, bused, _) = \
            struct.unpack_from('<IiiHHIIiiII', d)
        c.check((bw, bh) == (w, 2 * h),
                '%s header is %dx%d (is %dx%d)' % (what, w, 2 * h, bw, bh))
        c.check(bplanes == 1 and bbits == 4 and bcomp == 0,
                '%s header: 1 plane, 4 bits, uncompressed (is %d, %d, %d)'
                % (what, bplanes, bbits, bcomp))
        c.check(bused in (0, 16), '%s palette has 16 entries' % what)
        need = 40 + 16 * 4 + (((w * 4 + 31) // 32) * 4) * h \
            + (((w + 31) // 32) * 4) * h
        c.check(len(d) >= need and nbytes == len(d),
                '%s image holds palette, XOR and AND masks (%d bytes, need %d)'
                % (what, len(d), need))


def disassembly(exe):
    return subprocess.run([OBJDUMP, '-d', '--no-show-raw-insn', exe], check=True,
                          capture_output=True, text=True, timeout=120).stdout


def unprobed_stack(out):
    """Stack allocations (address, text) that could step over the one guard page below the
    committed stack: more than a page at once, or a page not touched before going on."""
    insns = [(parts[0].strip().rstrip(':'), parts[-1].strip())
             for parts in (line.split('\t') for line in out.splitlines())
             if len(parts) >= 2 and parts[0].strip().endswith(':')]
    bad = []
    for i, (address, insn) in enumerate(insns):
        m = STACK_ALLOCATION.match(insn)
        if not m or int(m.group(1), 16) < PAGE:
            continue
        touched = i + 1 < len(insns) and re.match(r'^orl\s+\$0x0,\(%esp\)$', insns[i + 1][1])
        if int(m.group(1), 16) > PAGE or not touched:
            bad.append((address, insn))
    return bad


def not_on_i486(out):
    """Instructions (address, text, mnemonic) in the code that an i486 cannot
    execute."""
    bad = []
    for line in out.splitlines():
        parts = line.split('\t')
        if len(parts) < 2 or not parts[0].strip().endswith(':'):
            continue
        insn = parts[-1].strip()
        words = insn.split()
        while words and words[0] in PREFIXES:
            words = words[1:]
        if words and (NOT_ON_I486.match(words[0]) or WIDE_REGISTER.search(insn)):
            bad.append((parts[0].strip().rstrip(':'), insn, words[0]))
    return bad


def check_time_stamp(c, stamp, source_date_epoch):
    """The link time stamp: 0, or the build's SOURCE_DATE_EPOCH."""
    fixed = {0}
    if source_date_epoch and source_date_epoch.strip().isdigit():
        fixed.add(int(source_date_epoch))
    print('link time stamp: %d' % stamp)
    c.check(stamp in fixed, 'link time stamp is %s (is %d)'
            % (' or '.join(str(s) for s in sorted(fixed)), stamp))


def check_signature_layout(c, pe, size):
    """The PE checksum, and where the file is signed, its certificate table. Returns the size of
    the image: the file without the certificate table, which lies outside the image."""
    oh = pe.OPTIONAL_HEADER
    checksum = pe.generate_checksum()
    print('PE checksum: 0x%08x (computed 0x%08x)' % (oh.CheckSum, checksum))
    c.check(oh.CheckSum == checksum,
            'PE checksum is correct 0x%08x (is 0x%08x)' % (checksum, oh.CheckSum))
    table = oh.DATA_DIRECTORY[IMAGE_DIRECTORY_ENTRY_SECURITY]
    if not table.Size:
        # Signing pads the file to 8 bytes before the table; removing the signature gives back
        # the unsigned bytes only where there was nothing to pad.
        c.check(table.VirtualAddress == 0 and size % 8 == 0,
                'unsigned: no certificate table entry (is at %d), the length a multiple of 8 '
                '(is %d)' % (table.VirtualAddress, size))
        return size
    start = table.VirtualAddress  # a file offset, unlike the other directories' addresses
    sections_end = max(s.PointerToRawData + s.SizeOfRawData for s in pe.sections)
    print('certificate table: %d bytes at %d (sections end at %d)'
          % (table.Size, start, sections_end))
    if not c.check(start >= sections_end and start % 8 == 0 and start + table.Size == size,
                   'certificate table last in the file, after the sections, 8-byte aligned '
                   '(%d bytes at %d; sections end at %d; file %d bytes)'
                   % (table.Size, start, sections_end, size)):
        return start
    length, revision, kind = struct.unpack_from('<IHH', pe.__data__, start)
    c.check(kind == WIN_CERT_TYPE_PKCS_SIGNED_DATA and revision == WIN_CERT_REVISION_2_0
            and 8 < length <= table.Size < length + 8,
            'one certificate of PKCS#7 signed data filling the table (length %d, revision '
            '0x%x, type %d)' % (length, revision, kind))
    return start


def check_platform(c, pe, exe, dlls):
    """Size, imports, header versions and instructions, each printed."""
    size = os.path.getsize(exe)
    image = check_signature_layout(c, pe, size)
    print('size: %d bytes%s' % (size, ', image %d bytes' % image if image != size else ''))
    c.check(image <= MAX_SIZE, 'image at most %d bytes (is %d)' % (MAX_SIZE, image))
    print('imports: %s' % ', '.join(dlls))
    c.check(sorted(dlls) == sorted(IMPORTED_DLLS),
            'imports exactly %s (imports %s)' % (', '.join(sorted(IMPORTED_DLLS)), ', '.join(dlls)))
    imported = {i.name.decode('ascii', 'replace')
                for e in getattr(pe, 'DIRECTORY_ENTRY_IMPORT', []) for i in e.imports if i.name}
    names = sorted(imported & NOT_ON_WIN95)
    c.check(not names, 'imports nothing Windows 95 lacks (imports %s)' % ', '.join(names))
    names = sorted(imported & LOOKED_UP)
    c.check(not names, 'imports none of %s, which are looked up (imports %s)'
            % (', '.join(sorted(LOOKED_UP)), ', '.join(names)))
    oh = pe.OPTIONAL_HEADER
    sub = (oh.MajorSubsystemVersion, oh.MinorSubsystemVersion)
    osv = (oh.MajorOperatingSystemVersion, oh.MinorOperatingSystemVersion)
    print('subsystem version %d.%d, OS version %d.%d, DllCharacteristics 0x%04x'
          % (sub + osv + (oh.DllCharacteristics,)))
    c.check(sub == (4, 0), 'subsystem version 4.0 (is %d.%d)' % sub)
    c.check(osv == (4, 0), 'OS version 4.0 (is %d.%d)' % osv)
    for flag, what in ((DLLCHAR_DYNAMIC_BASE, 'DYNAMIC_BASE'), (DLLCHAR_NX_COMPAT, 'NX_COMPAT')):
        c.check(oh.DllCharacteristics & flag, 'DllCharacteristics has %s' % what)
    try:
        out = disassembly(exe)
    except (OSError, subprocess.SubprocessError) as e:
        c.check(False, 'disassembly with %s (%s)' % (OBJDUMP, e))
        return
    bad = not_on_i486(out)
    print('instructions an i486 lacks: %d%s' % (len(bad), ''.join(
        '\n  %s: %s' % b[:2] for b in bad[:8]) + ('\n  ...' if len(bad) > 8 else '')))
    kinds = sorted({b[2] for b in bad})
    c.check(not bad, 'no instruction an i486 lacks (%d: %s)' % (len(bad), ', '.join(kinds)))
    # Windows commits a thread's stack a page at a time, through the guard page below it.
    bad = unprobed_stack(out)
    print('stack allocations over a page, or not probed: %d%s'
          % (len(bad), ''.join('\n  %s: %s' % b for b in bad[:8])))
    c.check(not bad, 'stack grown a probed page at a time (%d allocations are not)' % len(bad))


def main(argv):
    if len(argv) != 3 or argv[2] not in EXPECTED:
        sys.stderr.write('usage: check_pe.py EXE tvlinst|setup|tvluninstall|tvluser\n')
        return 2
    exe, name = argv[1], argv[2]
    c = Checker()
    try:
        pe = pefile.PE(exe)
    except (OSError, pefile.PEFormatError) as e:
        c.check(False, 'file is a PE image (%s)' % e)
        print('pe %s: %d passed, %d failed' % (name, c.passed, c.failed))
        return 1

    oh, fh = pe.OPTIONAL_HEADER, pe.FILE_HEADER
    c.check(oh.Magic == 0x10b, 'PE32, not PE32+ (magic 0x%x)' % oh.Magic)
    c.check(fh.Machine == 0x14c, 'machine is i386 0x14c (is 0x%x)' % fh.Machine)
    c.check(oh.Subsystem == 2, 'subsystem is GUI 2 (is %d)' % oh.Subsystem)
    check_time_stamp(c, fh.TimeDateStamp, os.environ.get('SOURCE_DATE_EPOCH'))

    dlls = [e.dll.decode('ascii', 'replace').lower()
            for e in getattr(pe, 'DIRECTORY_ENTRY_IMPORT', [])]
    c.check(len(dlls) > 0, 'has an import table')
    bad = [d for d in dlls if d.startswith(FORBIDDEN_PREFIXES)]
    c.check(not bad, 'no MinGW runtime DLL imports (found %s)' % ', '.join(bad))
    other = [d for d in dlls if d not in SYSTEM_DLLS]
    c.check(not other, 'imports only Windows DLLs (also %s)' % ', '.join(other))
    check_platform(c, pe, exe, dlls)

    res = list(resources(pe))
    c.check(not any(r[0] == RT_MANIFEST for r in res), 'no RT_MANIFEST resource')
    check_version(c, res, name)
    check_icons(c, res)

    print('pe %s: %d passed, %d failed' % (name, c.passed, c.failed))
    return 1 if c.failed else 0


if __name__ == '__main__':
    sys.exit(main(sys.argv))
