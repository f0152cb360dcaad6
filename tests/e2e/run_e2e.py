#!/usr/bin/python3
"""End-to-end tests of dist/tvlinst.exe, dist/setup.exe and dist/tvluninstall.exe under Wine.

usage: run_e2e.py [DIST_DIR] [--build DIR] [--win64-dist DIR] [-k PATTERN] [--prepare]
Each case runs in a fresh copy of a template prefix, once per program and
platform family: the NT family, and the Windows 95/98/Me family (Wine's
Version "win98"; test classes ending in Win98). Some cases mount a small
tmpfs (as root) over a prefix's system directory.
The cases run in parallel worker processes (E2E_WORKERS of them, or a number
chosen from the processors and memory), each with its own Xvfb; this process
makes the template prefixes and the helper programs first. Each case's report
is printed when it ends, with its time; then the slowest cases, and a last
line "e2e: N passed, M failed in T s ..."; exit status 1 on any failure.
On a machine whose kernel cannot execute 32-bit x86 programs at all, the
programs in DIST_DIR cannot run. Then, given --win64-dist (a 64-bit build of
the same sources), the cases run on that build in a 64-bit prefix, and say so;
without it the run says why and exits with SKIPPED, which CTest reports as
skipped.
"""
import argparse
import contextlib
import os
import subprocess
import sys
import tempfile
import threading
import time
import traceback
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
REPO = os.path.dirname(os.path.dirname(HERE))
sys.path.insert(0, os.path.join(REPO, "tools"))
import winerun as w  # noqa: E402
import parallel  # noqa: E402

TITLE = "Tavrel输入法安装"
OK_TEXT = "Tavrel输入法安装成功完成！"
ONLY_32BIT = OK_TEXT + "\n此输入法只能在32位程序中使用。"  # 64-bit Windows without x64\tvl1.IME
NO_IME = "输入法文件未找到！"
NO_MB = "码表文件未找到！"
FAILED = "Tavrel输入法未能安装成功！"
LAYOUT = "E0200804"
SLOTS = ["E02%d0804" % i for i in range(10)]
SESSION_MANAGER = r"System\CurrentControlSet\Control\Session Manager"
UNINSTALLER = "tvluninstall.exe"
SIGN_IN_PROGRAM = "tvluser.exe"  # the per-user setup entry's program
UN_TITLE = "Tavrel输入法卸载"
UN_OK = "Tavrel输入法卸载成功完成！"
UN_NONE = "Tavrel输入法未安装。"
UN_FAILED = "Tavrel输入法未能卸载成功！"
RESTART = "\n请重新启动计算机以完成安装。"
UN_RESTART = "\n请重新启动计算机以完成卸载。"
ENTRY = r"Software\Microsoft\Windows\CurrentVersion\Uninstall\TavrelInputMethod"
ENTRY_WOW64 = ENTRY.replace("Software", r"Software\Wow6432Node")  # a 32-bit program's view on 64-bit Windows
SETUP_ENTRY = r"Software\Microsoft\Active Setup\Installed Components\TavrelInputMethod"  # per-user setup

# The ...W functions Windows 95/98/Me implement; it only stubs the others.
WIN9X_WIDE = {"MessageBoxW", "MessageBoxExW", "TextOutW", "ExtTextOutW", "GetTextExtentPointW",
              "GetTextExtentPoint32W", "GetTextExtentExPointW", "GetCharWidthW", "lstrlenW",
              "MultiByteToWideChar", "WideCharToMultiByte"}
# Functions Windows 95/98/Me lack or only stub.
NT_ONLY = {"MoveFileExA", "MoveFileExW", "ReplaceFileA", "ReplaceFileW", "GetFileSizeEx",
           "SetDefaultDllDirectories", "SetDllDirectoryA", "SetDllDirectoryW", "AddDllDirectory",
           "RemoveDllDirectory", "SetFilePointerEx", "CreateHardLinkA", "CreateHardLinkW",
           "MoveFileWithProgressA", "MoveFileWithProgressW", "CopyFileExA", "CopyFileExW",
           "GetNativeSystemInfo", "IsWow64Process", "Wow64DisableWow64FsRedirection",
           "Wow64RevertWow64FsRedirection", "FlsAlloc", "FlsGetValue", "FlsSetValue", "FlsFree",
           "GetFileInformationByHandleEx", "SetFileInformationByHandle", "CreateFile2",
           "OpenProcessToken", "SetTokenInformation", "GetTokenInformation", "GetSystemWindowsDirectoryA",
           "GetSystemWindowsDirectoryW"}
# Calls the installation cannot do without, so that an empty trace cannot pass.
CORE_ANSI = {"RegOpenKeyA", "LoadKeyboardLayoutA", "GetSystemDirectoryA", "CreateWindowExA"}
# Hidden from relay traces by default are, among others, FlsGetValue/FlsSetValue: show them.
RELAY_EXCLUDE = ('[HKEY_CURRENT_USER\\Software\\Wine\\Debug]\n"RelayExclude"="'
                 'ntdll.RtlEnterCriticalSection;ntdll.RtlTryEnterCriticalSection;'
                 'ntdll.RtlLeaveCriticalSection"\n')

SKIPPED = 77

CFG = {"dist": os.path.join(REPO, "dist"), "build": os.path.join(REPO, "build", "e2e")}
STATE = {}


def setUpModule():
    """A private Xvfb, the template prefix and the helper programs. Runs in the
    parent process before the workers start, and again in each worker, so what
    it makes must be made once and found afterwards (as make_template and
    build_windows_exe do)."""
    os.makedirs(CFG["build"], exist_ok=True)
    x = w.Xvfb()
    STATE["x"] = x
    STATE["display"] = x.start()
    # The 64-bit template owes nothing to the other: it is made meanwhile.
    win64 = threading.Thread(target=template, args=("win64",)) if "win64" in CFG.get(
        "families", ()) else None
    if win64:
        win64.start()
    t = time.time()
    made = not os.path.exists(os.path.join(CFG["build"], "prefixes", "template.ok"))
    STATE["template"] = w.make_template(os.path.join(CFG["build"], "prefixes"), STATE["display"])
    if made:
        print("template prefix made in %.1fs" % (time.time() - t), file=sys.stderr)
    STATE["locker"] = w.build_windows_exe(os.path.join(HERE, "locker.c"),
                                          os.path.join(CFG["build"], "locker.exe"))
    STATE["oldime"] = w.build_windows_exe(os.path.join(HERE, "oldime.c"),
                                          os.path.join(CFG["build"], "oldime.dll"), ["-shared"])
    for name, extra in (("input.dll", []), ("planted", ["-DPLANTED"])):
        STATE[name] = w.build_windows_exe(os.path.join(HERE, "inputdll.c"),
                                          os.path.join(CFG["build"], name, "input.dll"),
                                          ["-shared", "-Wl,--kill-at"] + extra)
    # For the cases in a 64-bit prefix: a 64-bit module and a 64-bit program that maps it.
    STATE["oldime64"] = w.build_windows_exe(os.path.join(HERE, "oldime.c"),
                                            os.path.join(CFG["build"], "oldime64.dll"),
                                            ["-shared"], cc=w.WIN64["cc"])
    STATE["locker64"] = w.build_windows_exe(os.path.join(HERE, "locker.c"),
                                            os.path.join(CFG["build"], "locker64.exe"),
                                            cc=w.WIN64["cc"])
    if win64:
        win64.join()


def template(family):
    """The template prefix of a platform family, made once (by the parent
    process of a parallel run, for every family its cases use)."""
    if family == "nt":
        return STATE["template"]
    if family == "win64" and family not in STATE:
        STATE[family] = w.make_template(os.path.join(CFG["build"], "prefixes"), STATE["display"],
                                        win64=True)
    if family not in STATE:
        base = os.path.join(CFG["build"], "prefixes")
        tpl = os.path.join(base, "template-" + family)
        if not os.path.exists(tpl + ".ok"):
            w.copy_prefix(STATE["template"], tpl)
            w.regedit(tpl, STATE["display"], reg_text(
                '[HKEY_CURRENT_USER\\Software\\Wine]\n"Version"="%s"\n' % family))
            open(tpl + ".ok", "w").close()
        STATE[family] = tpl
    return STATE[family]


def tearDownModule():
    if "x" in STATE:
        STATE["x"].stop()


def estimate(case):
    """Seconds a case never timed is expected to take: a relay trace takes long."""
    code = getattr(getattr(case, case._testMethodName, None), "__code__", None)
    return 30.0 if "relay_run" in getattr(code, "co_names", ()) else 8.0


def reg_text(*blocks):
    return "Windows Registry Editor Version 5.00\n\n" + "\n".join(blocks) + "\n"


def other_ime(slot):
    return ('[HKEY_LOCAL_MACHINE\\System\\CurrentControlSet\\Control\\Keyboard Layouts\\%s]\n'
            '"Ime File"="other.ime"\n"Layout File"="kbdus.dll"\n"Layout Text"="Other"\n' % slot)


class Base(unittest.TestCase):
    exe = None  # set in subclasses
    family = "nt"  # or "win98": Wine reports Windows 98

    def setUp(self):
        self.display = STATE["display"]
        self.name = "%s-%s" % (type(self).__name__, self._testMethodName)  # one per case
        self.prefix = os.path.join(CFG["build"], "prefixes", self.name)
        self.prefixes = [self.prefix]
        self.faults_before = self.faults()
        self.copy_s = w.copy_prefix(template(self.family), self.prefix)
        self.exe_path = os.path.join(CFG["dist"], self.exe)
        self.assertTrue(os.path.isfile(self.exe_path), "missing " + self.exe_path)

    def fresh(self, tag):
        """A second fresh prefix within one test (for grouped variants)."""
        self.prefix = os.path.join(CFG["build"], "prefixes", "%s-%s" % (self.name, tag))
        self.prefixes.append(self.prefix)
        w.copy_prefix(template(self.family), self.prefix)

    def faults(self):
        result = self._outcome.result
        return len(result.failures) + len(result.errors)

    def tearDown(self):
        # A failed case keeps its prefixes for a look afterwards. (The outcome's own success
        # flag is reset for the tear-down itself, so the result's lists tell.)
        if self.faults() == self.faults_before:
            for prefix in self.prefixes:
                w.remove_prefix(prefix)

    def seed(self, *blocks):
        w.regedit(self.prefix, self.display, reg_text(*blocks))

    def run_it(self, ime=w.STANDIN_IME, mb=w.STANDIN_MB, mode=None, **kw):
        """Run the program from C:\\tvl holding ime and mb (their file mode
        set to `mode` if given); kw go to winerun.run_exe."""
        folder = self.shipped(w.layout_folder(self.prefix, self.exe_path, ime=ime, mb=mb))
        for name in ("tvl1.IME", "tvl1.MB") if mode is not None else ():
            if os.path.exists(os.path.join(folder, name)):
                os.chmod(os.path.join(folder, name), mode)
        return w.run_exe(self.prefix, self.display, folder, self.exe, **kw)

    def run_silent(self, exe, mb=w.STANDIN_MB, **kw):
        """Run dist/`exe` /S from C:\\tvl, which holds the three programs' files
        (mb: tvl1.MB's bytes, None for none); kw go to winerun.run_silent.
        The exit status comes in full through the locker's -run."""
        drive_c = os.path.join(self.prefix, "drive_c")
        if not os.path.exists(os.path.join(drive_c, "locker.exe")):  # never over one running
            w.shutil.copy(STATE["locker"], os.path.join(drive_c, "locker.exe"))
        folder = self.shipped(w.layout_folder(self.prefix, os.path.join(CFG["dist"], exe), mb=mb))
        if mb is None and os.path.exists(os.path.join(folder, "tvl1.MB")):
            os.unlink(os.path.join(folder, "tvl1.MB"))
        return w.run_silent(self.prefix, self.display, folder,
                            ["C:\\locker.exe", "-run", "C:\\status.txt", exe + " /S"],
                            status_file=os.path.join(drive_c, "status.txt"), **kw)

    def shipped(self, folder):
        """The uninstaller and the sign-in program travel with the installers: copied into `folder`."""
        for name in (UNINSTALLER, SIGN_IN_PROGRAM):
            w.shutil.copy(os.path.join(CFG["dist"], name), folder)
        return folder

    def run_while_held(self, name, map_image=False, write=False, on_hold=None, locker="locker",
                       program=None, silent=None, **kw):
        """Run the program (or dist/`program`) while the locker (STATE[locker])
        holds system32's `name` (or the Windows path `name`): open without write
        or delete sharing, mapped as a module (map_image), or open for writing
        (write). on_hold() is called once it holds the file, in the session the
        program runs in. silent: the program (of dist) to run with /S from
        C:\\tvl instead; its run_silent result is returned."""
        drive_c = os.path.join(self.prefix, "drive_c")
        ready = os.path.join(drive_c, "lock.ready")
        release = os.path.join(drive_c, "lock.release")
        for marker in (ready, release):  # an earlier hold's, in the same prefix
            if os.path.exists(marker):
                os.unlink(marker)
        w.shutil.copy(STATE[locker], os.path.join(drive_c, "locker.exe"))
        lock = w.start_wine(self.prefix, self.display,
                            ["C:\\locker.exe"] + (["-map"] if map_image else []) +
                            (["-write"] if write else []) +
                            [name if ":" in name else "C:\\windows\\system32\\" + name,
                             "C:\\lock.ready", "C:\\lock.release", "120"], cwd=drive_c)

        def unlock():
            open(release, "w").close()
            try:
                lock.wait(timeout=15)
            except w.subprocess.TimeoutExpired:
                pass
            w.stop(lock)
        try:
            deadline = time.time() + 60
            while not os.path.exists(ready) and time.time() < deadline and lock.poll() is None:
                time.sleep(0.05)
            self.assertTrue(os.path.exists(ready), "locker did not get the file open within 60s"
                            if lock.poll() is None else "locker ended (status %s) without "
                            "getting the file open" % lock.returncode)
            if on_hold:
                on_hold()
            if program:
                return self.run_program(program, after_exit=unlock, **kw)
            if silent:
                return self.run_silent(silent, after_exit=unlock)
            return self.run_it(after_exit=unlock, **kw)
        finally:
            unlock()

    core_calls = CORE_ANSI  # calls a relay trace of the program must show
    copies = 4  # files a successful run copies

    def relay_run(self, text=OK_TEXT, messages=False):
        """One successful run with a relay trace (kept in a temporary file
        meanwhile), reporting `text`. Returns the calls the program's own code
        made, in order, as (module, function, argument text), and with messages
        its window's messages among them (see winerun.image_calls)."""
        self.seed(RELAY_EXCLUDE)
        fd, err = tempfile.mkstemp(suffix=".relay", dir=CFG["build"])
        os.close(fd)
        try:
            res = self.run_it(extra_debug=w.RELAY_DEBUG, err_path=err, box_timeout=240)
            mb = os.path.getsize(err) / 2 ** 20
            base, calls = w.image_calls(err, self.exe_path, messages)
        finally:
            os.unlink(err)
        print("\n%s on %s: relay trace %.0f MiB, run %.1fs; image at %s; %d calls from it"
              % (self.exe, self.family, mb, res.run_seconds, base and hex(base), len(calls)),
              file=sys.stderr)
        self.assert_box(res, text)
        self.assertIsNotNone(base, "no loaddll line for the program's image")
        return calls

    def sys32_listing(self):
        return sorted(os.listdir(w.system32(self.prefix)))

    @contextlib.contextmanager
    def small_system32(self):
        """The prefix's system directory on a tmpfs of its own (see shrink):
        its contents are copied onto it (the prefix holds hard links to the
        template), and it is unmounted afterwards, also on failure."""
        sysdir = w.system32(self.prefix)
        real = sysdir + ".real"
        subprocess.run(["cp", "-al", sysdir, real], check=True, timeout=120)
        subprocess.run(["mount", "-t", "tmpfs", "-o", "size=4g,mode=755", "tmpfs", sysdir],
                       check=True, timeout=60)
        try:
            subprocess.run(["cp", "-a", real + "/.", sysdir], check=True, timeout=300)
            yield sysdir
        finally:
            if subprocess.run(["umount", sysdir], timeout=60).returncode != 0:
                subprocess.run(["umount", "-l", sysdir], timeout=60)
            w.shutil.rmtree(real, ignore_errors=True)

    def shrink(self, sysdir, free):
        """Leave about `free` bytes on the tmpfs mounted at sysdir."""
        st = os.statvfs(sysdir)
        used = (st.f_blocks - st.f_bfree) * st.f_frsize
        subprocess.run(["mount", "-o", "remount,size=%d" % (used + free), sysdir],
                       check=True, timeout=60)
        st = os.statvfs(sysdir)
        return st.f_bavail * st.f_frsize

    def windir(self, name):
        return os.path.join(self.prefix, "drive_c", "windows", name)

    def earlier_wininit_line(self, name="wininit.ini", stale=False):
        """On the older family, WININIT.INI with a line of someone else's: written
        only once the session runs, since a new session carries the file out. As
        `name` "wininit.tvl": the whole new text of an edit that was ended after the
        earlier WININIT.INI was deleted, before the new one took its name; `stale`,
        one of before the last start of Windows, which carried out its WININIT.INI."""
        if self.family == "win98":
            open(self.windir("earlier.tmp"), "wb").close()
            with open(self.windir(name), "wb") as f:
                f.write(b"[rename]\r\nNUL=C:\\windows\\earlier.tmp\r\n")
            if stale:
                os.utime(self.windir(name), (978307200, 978307200))  # 2001

    def wininit(self):
        """The path of WININIT.INI in whatever case it was made (a program puts a new
        text in place under the name Windows gives it, WININIT.INI)."""
        for name in os.listdir(self.windir("")):
            if name.lower() == "wininit.ini":
                return self.windir(name)
        return self.windir("wininit.ini")

    def scheduled(self):
        """What the next start of Windows is to do: [(target, source)] in lower
        case, target "" for a deletion, from PendingFileRenameOperations on NT
        and from WININIT.INI's [rename] section on the older family."""
        if self.family != "win98":
            data = (w.values(w.hklm(self.prefix), SESSION_MANAGER) or {}).get(
                "PendingFileRenameOperations", ("", ""))[1]
            if isinstance(data, bytes):
                data = data.decode("utf-16-le")
            names = [n.lower().lstrip("!").replace("\\??\\", "") for n in data.split("\0")]
            return [(names[i + 1], names[i]) for i in range(0, len(names) - 1, 2) if names[i]]
        if not os.path.exists(self.wininit()):
            return []
        with open(self.wininit(), "rb") as f:
            text = f.read().decode("gbk").lower()
        section = text.partition("[rename]")[2].split("\n[")[0]
        return [("" if t.strip() == "nul" else t.strip(), s.strip())
                for t, _, s in (l.partition("=") for l in section.splitlines() if "=" in l)]

    def assert_finished_at_restart(self, scheduled, ime=w.STANDIN_IME):
        """`scheduled` (from scheduled(), read before) holds what is to finish the
        run; a new session, which carries it out as Windows does at its start,
        leaves `ime` as tvl1.IME (None: no such file) and no file of the
        program's own, and carries out the line written before on the older family."""
        ours = [op for op in scheduled if "\\tvl" in op[1]]
        self.assertTrue(ours, "nothing scheduled: %r" % scheduled)
        if self.family == "win98":
            self.assertEqual(scheduled[0], ("", "c:\\windows\\earlier.tmp"), "earlier line lost")
        w.wineserver_wait(self.prefix, self.display)  # the session has ended
        self.seed()  # any program starts a new one
        self.assertEqual(self.sys32("tvl1.IME"), ime, "tvl1.IME after the restart")
        stray = [n for n in self.sys32_listing() if n.lower().startswith("tvl") and
                 n.lower().endswith(".tmp")]
        self.assertEqual(stray, [], "files left over")
        if self.family == "win98":
            self.assertFalse(os.path.exists(self.wininit()), "WININIT.INI not carried out")
            self.assertFalse(os.path.exists(self.windir("earlier.tmp")), "earlier line not carried out")

    # -- checks
    def layouts(self):
        keys = w.hklm(self.prefix)
        return {s: w.values(keys, w.LAYOUTS + "\\" + s)
                for s in w.subkeys(keys, w.LAYOUTS)}

    def preload(self):
        keys = w.hkcu(self.prefix)
        return {n: (w.values(keys, w.PRELOAD + "\\" + n) or {}).get("")
                for n in w.subkeys(keys, w.PRELOAD)}

    def preload_values(self):
        """The NT family's list: the named values of the Preload key."""
        return {n: v for n, v in (w.values(w.hkcu(self.prefix), w.PRELOAD) or {}).items() if n}

    def assert_ours(self, slot):
        vals = w.values(w.hklm(self.prefix), w.LAYOUTS + "\\" + slot)
        self.assertIsNotNone(vals, "no key " + slot)
        self.assertEqual(vals.get("Ime File"), ("sz", "tvl1.IME"))
        self.assertEqual(vals.get("Layout File"),
                         ("sz", "kbdus.dll" if self.family != "win98" else "kbdus.kbd"))
        self.assertEqual(vals.get("Layout Text"), ("sz", "Tavrel输入法"))

    def assert_box(self, res, text, restart=False, exit_code=None):
        """One message box showing `text`, with the line asking for a restart
        when `restart`, and the exit status that goes with it (or exit_code)."""
        title = UN_TITLE if text in (UN_OK, UN_NONE, UN_FAILED) else TITLE
        if restart:
            text += UN_RESTART if title == UN_TITLE else RESTART
        missed = "".join("; " + m for m in res.missed)
        said = res.stderr.strip().split("\n")[-12:] if res.stderr.strip() else []
        self.assertEqual(res.texts, [text], "message boxes shown%s%s" % (
            missed, "".join("\n  Wine: " + line for line in said) if res.texts != [text] else ""))
        if exit_code is None:
            # Wine's own exit status holds the low 8 bits of 3010 (test_silent_runs reads it whole).
            exit_code = 3010 & 0xFF if restart else 0 if text in (OK_TEXT, ONLY_32BIT, UN_OK, UN_NONE) else 1
        self.assertEqual(res.exit_code, exit_code, "exit status after %r%s" % (text, missed))
        boxes = [win for win in res.windows if win[0] == title and win[3] < 800 and win[4] < 500]
        self.assertTrue(boxes, "no message box titled %s among %r%s" % (title, res.windows, missed))

    def sys32(self, name):
        p = os.path.join(w.system32(self.prefix), name)
        if not os.path.exists(p):
            return None
        with open(p, "rb") as f:
            return f.read()

    def input_dll_calls(self):
        """The lines the stand-in input.dll has recorded: "<text> <flags>"."""
        log = os.path.join(self.prefix, "drive_c", "inputdll.log")
        if not os.path.exists(log):
            return []
        with open(log) as f:
            return f.read().splitlines()

    # -- the uninstaller
    def run_program(self, exe, ime=None, mb=None, **kw):
        """Run dist/`exe` in this case's prefix from C:\\tvl, which holds ime and mb."""
        folder = self.shipped(w.layout_folder(self.prefix, os.path.join(CFG["dist"], exe), ime=ime, mb=mb))
        return w.run_exe(self.prefix, self.display, folder, exe, **kw)

    def snapshot(self):
        """What the programs write: the layouts key, both forms of the preload
        list, the system directory's files, the Apps & Features entry and the
        tvl* files of the Windows directory (the uninstaller's copy)."""
        return {"layouts": self.layouts(), "preload": self.preload(),
                "values": self.preload_values(), "files": self.sys32_listing(),
                "entry": w.values(w.hklm(self.prefix), ENTRY),
                "windows": sorted(n for n in os.listdir(self.windir("")) if n.lower().startswith("tvl"))}

    def show(self, when, snap):
        ours = {s: v for s, v in snap["layouts"].items() if s.upper().startswith("E02")}
        print("%s on %s, %s:\n  layouts E02*: %r (%d other layouts)\n  preload subkeys: %r\n"
              "  Preload values: %r\n  system32 tvl*: %r (%d files)"
              % (self.exe, self.family, when, ours, len(snap["layouts"]) - len(ours),
                 snap["preload"], snap["values"],
                 [f for f in snap["files"] if f.lower().startswith("tvl")], len(snap["files"])),
              file=sys.stderr)



class Cases:
    """Mixed into one TestCase class per program."""

    def test_uninstaller_removes_the_installation(self):
        # Each installer program, then the uninstaller as Apps & Features starts it: Wine's own
        # list shows the entry, and its removal runs the entry's UninstallString and waits for
        # it. The copy running then goes at the restart: after a new session everything is as
        # before; then the next installation takes the first slot again.
        before = self.snapshot()
        self.assert_box(self.run_it(), OK_TEXT)
        installed = self.snapshot()
        entry = w.values(w.hklm(self.prefix), ENTRY)
        print("\n%s on %s: %s: %r" % (self.exe, self.family, ENTRY, entry), file=sys.stderr)
        exe = "C:\\windows\\" + UNINSTALLER
        with open(os.path.join(CFG["dist"], UNINSTALLER), "rb") as f:
            program = f.read()
        size = len(w.STANDIN_IME) + len(w.STANDIN_MB) + len(program) + os.path.getsize(
            os.path.join(CFG["dist"], SIGN_IN_PROGRAM))
        self.assertEqual(entry, {
            "DisplayName": ("sz", "Tavrel输入法"), "DisplayVersion": ("sz", "1.00"),
            "UninstallString": ("sz", '"%s"' % exe), "QuietUninstallString": ("sz", '"%s" /S' % exe),
            "DisplayIcon": ("sz", exe + ",0"), "NoModify": ("dword", 1), "NoRepair": ("dword", 1),
            "EstimatedSize": ("dword", (size + 1023) // 1024)})
        with open(self.windir(UNINSTALLER), "rb") as f:
            self.assertEqual(f.read(), program, "the uninstaller's copy")
        listed = subprocess.run([w.ARCH["loader"], "uninstaller", "--list"], capture_output=True,
                                env=w.wine_env(self.prefix, self.display), timeout=60)
        w.wineserver_wait(self.prefix, self.display)
        self.assertIn(b"TavrelInputMethod|||", listed.stdout + listed.stderr)
        res = w.run_exe(self.prefix, self.display, os.path.join(self.prefix, "drive_c"), "uninstaller",
                        args=["--remove", "TavrelInputMethod"])
        self.assert_box(res, UN_OK)  # Wine's uninstaller's exit status: 0 once ours has ended
        self.assertIsNone(w.values(w.hklm(self.prefix), ENTRY), "entry left")
        self.seed()  # a new session
        after = self.snapshot()
        print("", file=sys.stderr)
        for when, snap in (("before installation", before), ("installed", installed),
                           ("after removal", after)):
            self.show(when, snap)
        self.assertNotEqual(installed, before, "nothing installed")
        # The sign-in program's copy stays for the removal the per-user setup entry runs at sign-in.
        self.assertEqual(after["windows"], [SIGN_IN_PROGRAM])
        self.assertIn("/RemoveFromUser", w.values(w.hklm(self.prefix), SETUP_ENTRY)["StubPath"][1])
        after["windows"] = before["windows"]
        self.assertEqual(after, before)
        self.assertFalse([f for f in after["files"] if f.lower().startswith("tvl")], "files left")
        self.assert_box(self.run_it(), OK_TEXT)
        self.assert_ours(LAYOUT)

    def test_success_fresh_prefix(self):
        before = self.layouts()
        res = self.run_it()
        self.assert_box(res, OK_TEXT)
        self.assert_ours(LAYOUT)
        new = set(self.layouts()) - set(before)
        self.assertEqual(new, {LAYOUT}, "layout keys added")
        self.assertEqual(self.preload(), {"1": ("sz", LAYOUT)})
        self.assertEqual(self.sys32("tvl1.IME"), w.STANDIN_IME)
        self.assertEqual(self.sys32("tvl1.MB"), w.STANDIN_MB)
        mains = [win for win in res.windows if win[0] == TITLE and win[3] >= 1000 and win[4] >= 700]
        self.assertTrue(mains, "no maximized main window among %r" % (res.windows,))

    def test_second_run_reuses_slot_and_preload(self):
        first = self.run_it()
        self.assert_box(first, OK_TEXT)
        second = self.run_it()
        self.assert_box(second, OK_TEXT)
        self.assert_ours(LAYOUT)
        self.assertEqual([s for s in self.layouts() if s.upper() in SLOTS], [LAYOUT])
        self.assertEqual(self.preload(), {"1": ("sz", LAYOUT)})

    def test_slots_0_and_1_taken_gives_slot_2(self):
        self.seed(other_ime(SLOTS[0]), other_ime(SLOTS[1]))
        res = self.run_it()
        self.assert_box(res, OK_TEXT)
        self.assert_ours(SLOTS[2])
        lay = self.layouts()
        for s in SLOTS[:2]:
            self.assertEqual(lay[s]["Ime File"], ("sz", "other.ime"), s + " overwritten")
        self.assertEqual(self.preload(), {"1": ("sz", SLOTS[2])})

    def test_all_slots_taken_fails_and_writes_nothing(self):
        self.seed(*[other_ime(s) for s in SLOTS])
        before = self.snapshot()
        res = self.run_it()
        self.assert_box(res, FAILED)
        self.assertEqual(self.snapshot(), before)

    def test_preload_entries(self):
        # Wine writes value "1" itself at every start; the other numbers are seeded. The NT
        # family's list gains the layout at the first free number or where it is named
        # already (in any case); the older family's list is the subkeys only.
        nt = self.family == "nt"
        for tag, entry, values, added in (
                ("ours", LAYOUT, {"2": "00000409", "3": "00000804"}, {"4": LAYOUT}),
                ("other", "00000409", {"2": "e0200804", "3": "00000804"}, {"2": LAYOUT})):
            with self.subTest("preload 1 " + tag):
                if tag != "ours":
                    self.fresh(tag)
                self.seed('[HKEY_CURRENT_USER\\Keyboard Layout\\Preload\\1]\n@="%s"\n' % entry,
                          '[HKEY_CURRENT_USER\\Keyboard Layout\\Preload]\n' +
                          "".join('"%s"="%s"\n' % v for v in values.items()))
                before = self.preload_values()
                print("\n%s on %s, %s: Preload values before: %r" % (self.exe, self.family, tag,
                                                                     before), file=sys.stderr)
                for run in (1, 2):  # a second run adds nothing
                    res = self.run_it()
                    self.assert_box(res, OK_TEXT)
                    after = self.preload_values()
                    print("after run %d: %r" % (run, after), file=sys.stderr)
                    self.assertEqual(self.preload(), {"1": ("sz", entry)} if entry == LAYOUT else
                                     {"1": ("sz", entry), "2": ("sz", LAYOUT)})
                    want = dict(before)
                    if nt:
                        want.update({n: ("sz", v) for n, v in added.items()})
                    self.assertEqual(after, want, "Preload values")

    def test_missing_data_files(self):
        for tag, ime, mb, text in (("noime", None, w.STANDIN_MB, NO_IME),
                                   ("nomb", w.STANDIN_IME, None, NO_MB),
                                   ("none", None, None, NO_IME + NO_MB)):
            with self.subTest(tag):
                self.fresh(tag)
                before = self.snapshot()
                res = self.run_it(ime=ime, mb=mb)
                self.assert_box(res, text)
                # Both sources are looked at before anything is written.
                self.assertEqual(self.snapshot(), before)

    def test_locked_target_in_system32(self):
        # Held open by another program that lets others only read it: the target keeps its
        # place until the restart, and the complete copy takes it then. One that holds the
        # shipped bytes already is left as it is, and nothing waits for the restart.
        # An earlier edit of WININIT.INI that was ended half-way is finished first; one of
        # before the last start is not.
        ended_edit = lambda: self.earlier_wininit_line("wininit.tvl")  # noqa: E731
        stale_edit = lambda: self.earlier_wininit_line("wininit.tvl", stale=True)  # noqa: E731
        for tag, target, on_hold in (("differs", b"OLD-IME-CONTENT-0123", self.earlier_wininit_line),
                                     ("identical", w.STANDIN_IME, self.earlier_wininit_line),
                                     ("differs-edit-ended", b"OLD-IME-CONTENT-0123", ended_edit),
                                     ("differs-stale-edit", b"OLD-IME-CONTENT-0123", stale_edit)):
            with self.subTest(tag):
                self.fresh(tag)
                with open(os.path.join(w.system32(self.prefix), "tvl1.IME"), "wb") as f:
                    f.write(target)
                res = self.run_while_held("tvl1.IME", on_hold=on_hold)
                scheduled = self.scheduled()
                print("\n%s on %s, %s: %r; scheduled %r" % (self.exe, self.family, tag, res.texts,
                                                          scheduled), file=sys.stderr)
                self.assert_box(res, OK_TEXT, restart=tag != "identical")
                self.assertEqual(self.sys32("tvl1.IME"), target, "held target changed")
                if tag == "identical":
                    self.assertEqual([op for op in scheduled if "\\tvl" in op[1]], [], "ours scheduled")
                    self.assertEqual(self.sys32("tvl1.MB"), w.STANDIN_MB)
                    continue
                self.assertTrue(scheduled, "nothing scheduled")
                copy = [n for n in self.sys32_listing()
                        if "c:\\windows\\system32\\" + n.lower() == scheduled[-1][1]]
                self.assertEqual(scheduled[-1][0], "c:\\windows\\system32\\tvl1.ime")
                self.assertEqual([self.sys32(n) for n in copy], [w.STANDIN_IME], "copy scheduled")
                if tag == "differs-stale-edit":
                    self.assertNotIn(("", "c:\\windows\\earlier.tmp"), scheduled, "a stale text put in place")
                    continue
                self.assert_finished_at_restart(scheduled)

    def test_source_being_written_is_not_copied(self):
        # The source is opened sharing reads only: while another program may write to it,
        # it is not copied.
        w.layout_folder(self.prefix, self.exe_path)
        before = self.snapshot()
        res = self.run_while_held("C:\\tvl\\tvl1.IME", write=True)
        self.assert_box(res, FAILED)
        # A failed run removes what it created: the slot, the list entries, the copy of tvl1.MB.
        self.assertEqual(self.snapshot(), before)

    def test_disk_full_keeps_earlier_files(self):
        self.run_on_full_disk()

    def test_disk_full_after_a_cut_between_two_renames_puts_the_module_back(self):
        # An earlier run ended after renaming the module aside and before the new copy took
        # its name: this run puts it back before anything else, then fails whole.
        self.run_on_full_disk(aside="tvli1.tmp")

    def run_on_full_disk(self, aside=None):
        """A run that cannot copy for lack of room keeps the earlier files (the module
        found renamed `aside`, when given, back under its name) and the registry."""
        old = {"tvl1.IME": b"OLD-IME\x01" * 8192, "tvl1.MB": b"OLD-MB\x02\x03" * 4096}
        with self.small_system32() as sysdir:
            for name, data in old.items():
                with open(os.path.join(sysdir, name), "wb") as f:
                    f.write(data)
            free = self.shrink(sysdir, 256 * 1024)
            before = self.snapshot()
            listing = self.sys32_listing()
            if aside:
                os.rename(os.path.join(sysdir, "tvl1.IME"), os.path.join(sysdir, aside))
            res = self.run_it(ime=b"NEW-IME\x05" * (2 ** 20 // 8),  # 1 MiB
                              mb=b"NEW-MB\x06\x07" * (2 ** 19 // 8))  # 512 KiB
            after = {name: self.sys32(name) for name in old}
            stray = sorted(set(self.sys32_listing()) ^ set(listing))
            snapshot = self.snapshot()
        print("\n%s on %s: %d bytes were free; afterwards %s; files added or gone: %s"
              % (self.exe, self.family, free, ", ".join(
                  "%s %s bytes%s" % (n, None if d is None else len(d), "" if d == old[n] else
                                     " (changed)") for n, d in after.items()), stray),
              file=sys.stderr)
        for name, data in old.items():
            self.assertTrue(after[name] == data, "%s no longer holds its earlier bytes" % name)
        self.assertEqual(stray, [], "files added to or gone from system32")
        self.assert_box(res, FAILED)
        self.assertEqual(snapshot, before, "the registry as before the run")

    def test_read_only_files(self):
        # read-only sources, and a read-only earlier tvl1.MB in system32
        target = os.path.join(w.system32(self.prefix), "tvl1.MB")
        with open(target, "wb") as f:
            f.write(b"OLD-MB-READ-ONLY")
        os.chmod(target, 0o444)
        res = self.run_it(mode=0o444)
        self.assert_box(res, OK_TEXT)
        for name, data in (("tvl1.IME", w.STANDIN_IME), ("tvl1.MB", w.STANDIN_MB)):
            self.assertEqual(self.sys32(name), data, name)
            mode = os.stat(os.path.join(w.system32(self.prefix), name)).st_mode
            self.assertTrue(mode & 0o200, "%s installed read-only (mode %o)" % (name, mode & 0o777))

    def test_silent_runs(self):
        # /S: no window, no message box; the exit status tells the outcome: a failure, a
        # module in use (3010, the new module in place after a new session), a success; then
        # the uninstaller the same way, a module in use and nothing installed.
        runs = []

        def silent(expected, exe=self.exe, held=False):
            if held:
                w.shutil.copy(STATE["oldime"], os.path.join(w.system32(self.prefix), "tvl1.IME"))
                status, windows, texts = self.run_while_held(
                    "tvl1.IME", map_image=True, on_hold=self.earlier_wininit_line, silent=exe)
            else:
                status, windows, texts = self.run_silent(exe, mb=None if expected == 1 else w.STANDIN_MB)
            runs.append((exe, status))
            self.assertEqual((status, windows, texts), (expected, [], []), "%s /S" % exe)
            if held:
                self.assert_finished_at_restart(self.scheduled(), None if exe == UNINSTALLER else w.STANDIN_IME)
        try:
            silent(1)
            silent(3010, held=True)
            silent(0)
            if self.exe == "setup.exe":
                silent(3010, UNINSTALLER, held=True)
                silent(0, UNINSTALLER)
        finally:
            print("\n%s on %s, /S exit statuses: %r" % (self.exe, self.family, runs), file=sys.stderr)

    def test_screenshot_while_box_is_up(self):
        shot = os.path.join(CFG["build"], "shot-%s-%s.png" % (self.exe.split(".")[0], self.family))
        res = self.run_it(shot=shot)
        print("\nscreenshot: %s" % shot, file=sys.stderr)
        self.assertEqual(res.texts, [OK_TEXT])
        self.assertTrue(res.screenshot and os.path.exists(shot), "no screenshot")
        check_picture(self, shot)


def check_picture(tc, path):
    from PIL import Image
    im = Image.open(path).convert("RGB")
    W, H = im.size
    px = im.load()
    # the client area starts below the caption of the maximized window, if any
    def bluish(y):
        row = [px[x, y] for x in range(0, W, 16)]
        return sum(1 for p in row if p[2] > p[0] + 100 and p[2] > p[1] + 100) > len(row) * 0.8
    y0 = next((y for y in range(0, 48) if bluish(y)), None)
    tc.assertIsNotNone(y0, "no blue rows within the top 48 rows")
    # its top rows, sampled across the width: the bright end of the blue ramp
    top = [px[x, y] for y in range(y0, y0 + 4) for x in range(0, W, 16)]
    blue_top = [p for p in top if p[2] >= 235 and p[0] <= 60 and p[1] <= 60]
    tc.assertGreater(len(blue_top), len(top) * 0.8, "top rows not bright blue: %r" % (top[:5],))
    # bottom rows: near black (the credit label may cover part)
    bottom = [px[x, y] for y in range(H - 3, H) for x in range(0, W, 16)]
    dark = [p for p in bottom if max(p) <= 30]
    tc.assertGreater(len(dark), len(bottom) * 0.7, "bottom rows not black: %r" % (bottom[:5],))
    # ramp gets darker going down at the left edge
    tc.assertGreater(px[4, H // 4][2], px[4, 3 * H // 4][2] + 60, "no downward ramp")
    # title area, top-left quarter (away from the centred box)
    region = [px[x, y] for y in range(y0, H // 5) for x in range(0, W // 2)]
    white = sum(1 for p in region if min(p) >= 230)
    shadow = sum(1 for p in region if max(p) <= 50)
    tc.assertGreater(white, 30, "no white title pixels in the top-left")
    tc.assertGreater(shadow, 15, "no dark shadow pixels in the top-left")


class NtCases:
    """Cases of the NT family only."""

    def test_dll_search_path_set_first(self):
        calls = self.relay_run()
        first = next((i for i, c in enumerate(calls) if c[1] in
                      ("SetDefaultDllDirectories", "SetDllDirectoryA", "SetDllDirectoryW")), None)
        print("first calls: %s" % ", ".join(
            "%s(%s)" % c[1:] for c in calls[:(first or 5) + 1]), file=sys.stderr)
        self.assertIsNotNone(first, "neither SetDefaultDllDirectories nor SetDllDirectoryA called")
        # Wine's kernel32 has SetDefaultDllDirectories, so it is the one to call.
        self.assertEqual(calls[first][1], "SetDefaultDllDirectories")
        self.assertEqual(int(calls[first][2].split(",")[0], 16) & 0xFFFFFFFF, 0x800,
                         "SetDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32)")
        before = [c[1] for c in calls[:first]]
        self.assertTrue(set(before) <= {"GetModuleHandleA", "GetModuleHandleW", "GetProcAddress",
                                        "GetVersion", "GetVersionExA"},
                        "called before it: %s" % before)
        self.assertTrue(any(c[1] == "GetProcAddress" and '"SetDefaultDllDirectories"' in c[2]
                            for c in calls[:first]), "not looked up with GetProcAddress")
        import pefile
        pe = pefile.PE(self.exe_path)
        imported = {i.name.decode() for e in getattr(pe, "DIRECTORY_ENTRY_IMPORT", [])
                    for i in e.imports if i.name}
        self.assertFalse(imported & {"SetDefaultDllDirectories", "SetDllDirectoryA",
                                     "SetDllDirectoryW"}, "imported")

    def test_ansi_code_page_1252(self):
        # A Western system code page (1252) with a Chinese user locale: under Wine's English
        # user locale (LC_ALL=C.UTF-8) its X11 driver activates no Chinese layout at all.
        cp1252 = {"LANG": "zh_CN.UTF-8", "LC_CTYPE": "C.UTF-8"}
        drive_c = os.path.join(self.prefix, "drive_c")
        w.shutil.copy(STATE["locker"], os.path.join(drive_c, "locker.exe"))
        probe = w.start_wine(self.prefix, self.display, ["C:\\locker.exe", "-acp", "C:\\acp.txt"],
                             cwd=drive_c, locale=cp1252)
        probe.wait(timeout=60)
        w.wineserver_wait(self.prefix, self.display)
        with open(os.path.join(drive_c, "acp.txt")) as f:
            self.assertEqual(f.read(), "1252", "ANSI code page")
        res = self.run_it(locale=cp1252)
        self.assert_box(res, OK_TEXT)
        self.assert_ours(LAYOUT)  # "Layout Text" keeps its Chinese characters
        mains = [win for win in res.windows if win[0] == TITLE and win[3] >= 1000 and win[4] >= 700]
        self.assertTrue(mains, "no maximized window captioned %s among %r" % (TITLE, res.windows))
        self.assertEqual(self.sys32("tvl1.IME"), w.STANDIN_IME)

    def test_two_runs_started_at_once(self):
        # As from a double click: the second run waits for the first to end, then runs.
        folder = w.layout_folder(self.prefix, self.exe_path)
        runs, starts = [None, None], [None, None]

        def run(i):
            starts[i] = time.time()
            runs[i] = w.run_exe(self.prefix, self.display, folder, self.exe, box_timeout=180)
        threads = [threading.Thread(target=run, args=(i,)) for i in (0, 1)]
        for t in threads:
            t.start()
        for t in threads:
            t.join()
        for res in runs:
            self.assert_box(res, OK_TEXT)
        # (box shown, run ended) in seconds from the first start, in the order the boxes came
        times = sorted((start + r.seconds - min(starts), start + r.run_seconds - min(starts))
                       for start, r in zip(starts, runs))
        print("\n%s: started %.2f s apart; box shown, run ended: %s" % (
            self.exe, abs(starts[1] - starts[0]), times), file=sys.stderr)
        self.assertGreater(times[1][0], times[0][1] - 1, "second box up before the first run ended")
        self.assertEqual(self.preload(), {"1": ("sz", LAYOUT)})
        named = self.preload_values()
        self.assertEqual(len([v for v in named.values() if v[1].upper() == LAYOUT]), 1,
                         "named Preload values %r" % named)
        self.assert_ours(LAYOUT)

    def test_module_in_use_is_renamed_aside(self):
        with open(STATE["oldime"], "rb") as f:
            old = f.read()
        with open(os.path.join(w.system32(self.prefix), "tvl1.IME"), "wb") as f:
            f.write(old)
        listing = self.sys32_listing()
        res = self.run_while_held("tvl1.IME", map_image=True)
        added = sorted(set(self.sys32_listing()) - set(listing))
        aside = [n for n in added if self.sys32(n) == old]
        pending = (w.values(w.hklm(self.prefix), SESSION_MANAGER) or {}).get(
            "PendingFileRenameOperations")
        ime = self.sys32("tvl1.IME")
        print("\n%s: %r, exit %s; tvl1.IME holds %s; files added: %s; pending: %r"
              % (self.exe, res.texts, res.exit_code, "the new module" if ime == w.STANDIN_IME
                 else "the earlier module" if ime == old else "%s bytes" % len(ime or b""),
                 added, pending), file=sys.stderr)
        self.assert_box(res, OK_TEXT, restart=True)
        self.assertEqual(ime, w.STANDIN_IME, "new module not in place")
        self.assertEqual(self.sys32("tvl1.MB"), w.STANDIN_MB)
        self.assertEqual(len(aside), 1, "the earlier module renamed aside (new files: %s)" % added)
        self.assertIsNotNone(pending, "no PendingFileRenameOperations")
        typ, data = pending
        if isinstance(data, bytes):
            data = data.decode("utf-16-le")
        names = data.split("\0")
        deletions = [names[i].lower() for i in range(0, len(names) - 1, 2) if names[i + 1] == ""]
        self.assertIn("\\??\\c:\\windows\\system32\\" + aside[0].lower(), deletions,
                      "renamed module not deleted at restart: %r" % data)
        self.assert_finished_at_restart(self.scheduled())

    def test_copies_flushed_before_written_through_renames(self):
        # As Windows 10 reports itself; there the language profile counts, so input.dll's
        # stand-in is in place.
        self.seed('[HKEY_CURRENT_USER\\Software\\Wine]\n"Version"="win10"\n')
        w.shutil.copy(STATE["input.dll"], w.system32(self.prefix))
        everything = self.relay_run(messages=True)
        calls = [c for c in everything if c[1] in ("FlushFileBuffers", "MoveFileExW")]
        print("flushes and renames: %r" % calls, file=sys.stderr)
        self.assertEqual([c[1] for c in calls], ["FlushFileBuffers", "MoveFileExW"] * self.copies)
        self.assertTrue(all(int(c[2].rsplit(",", 1)[1], 16) & 8 for c in calls[1::2]),
                        "renames without MOVEFILE_WRITE_THROUGH")
        # Virtualization is off before the first registry call; the layout is loaded only once
        # the window is shown, active and holds the focus.
        def first(name, active=False):
            return next((i for i, c in enumerate(everything) if c[1] == name and
                         (not active or c[2].split(",")[0] != "00000000")), None)
        steps = [("SetTokenInformation", first("SetTokenInformation")),
                 ("first registry call", min(i for i, c in enumerate(everything)
                                             if c[0] == "advapi32" and c[1].startswith("Reg"))),
                 ("ShowWindow", first("ShowWindow")), ("WM_ACTIVATE", first("WM_ACTIVATE", True)),
                 ("WM_SETFOCUS", first("WM_SETFOCUS")),
                 ("LoadKeyboardLayoutA", first("LoadKeyboardLayoutA")),
                 ("MessageBoxW", first("MessageBoxW"))]
        print("on Windows 10, in order:\n" + "\n".join(
            "  %s: %r" % (name, None if i is None else everything[i]) for name, i in steps),
            file=sys.stderr)
        self.assertTrue(None not in [i for _, i in steps], "missing: %r" % steps)
        self.assertEqual([name for name, _ in sorted(steps, key=lambda s: s[1])],
                         [name for name, _ in steps])
        self.assertEqual(int(everything[steps[0][1]][2].split(",")[1], 16), 24,
                         "SetTokenInformation(TokenVirtualizationEnabled)")


    def test_language_profile_through_system_input_dll(self):
        # Stand-ins for input.dll: one in the system directory records its call, one planted
        # in the program's folder must never be loaded.
        folder = w.layout_folder(self.prefix, self.exe_path, mb=None)
        w.shutil.copy(STATE["input.dll"], w.system32(self.prefix))
        w.shutil.copy(STATE["planted"], folder)
        self.assert_box(self.run_it(mb=None), NO_MB)
        self.assertEqual(self.input_dll_calls(), [], "called after a failure report")
        self.assert_box(self.run_it(), OK_TEXT)
        print("\ninput.dll stand-in recorded: %r" % self.input_dll_calls(), file=sys.stderr)
        self.assertEqual(self.input_dll_calls(), ["0804:%s 0" % LAYOUT])


class Win98Cases:
    """Cases of the Windows 95/98/Me family only."""

    def test_calls_only_functions_win9x_implements(self):
        calls = self.relay_run()
        names = {c[1] for c in calls}
        print("functions called: %s" % ", ".join(sorted(names)), file=sys.stderr)
        wide = sorted(n for n in names if n.endswith("W") and n not in WIN9X_WIDE)
        nt_only = sorted(names & NT_ONLY)
        missing = sorted(self.core_calls - names)
        print("...W functions Windows 9x lacks: %d: %s\nNT-only: %s\nmissing: %s"
              % (len(wide), ", ".join(wide), nt_only, missing), file=sys.stderr)
        self.assertEqual(wide, [], "...W functions Windows 9x only stubs")
        self.assertEqual(nt_only, [], "NT-only functions")
        self.assertEqual(missing, [], "calls missing from the trace")
        # Each copy is flushed to the disk before it takes the target's place.
        self.assertEqual(sum(c[1] == "FlushFileBuffers" for c in calls), self.copies, "copies flushed")

    def test_module_in_use_is_replaced_at_restart(self):
        with open(STATE["oldime"], "rb") as f:
            old = f.read()
        with open(os.path.join(w.system32(self.prefix), "tvl1.IME"), "wb") as f:
            f.write(old)
        res = self.run_while_held("tvl1.IME", map_image=True, on_hold=self.earlier_wininit_line)
        scheduled = self.scheduled()
        ime = self.sys32("tvl1.IME")
        print("\n%s: %r; tvl1.IME holds %s; scheduled %r" % (
            self.exe, res.texts, "the new module" if ime == w.STANDIN_IME else "the earlier module"
            if ime == old else "%s bytes" % len(ime or b""), scheduled), file=sys.stderr)
        self.assert_box(res, OK_TEXT, restart=True)
        self.assertIn(ime, (old, w.STANDIN_IME), "tvl1.IME holds neither module whole")
        self.assertTrue([n for n in self.sys32_listing()
                         if n.lower().startswith("tvl") and self.sys32(n) == old],
                        "the module in use was deleted")
        self.assert_finished_at_restart(scheduled)


class UninstallCases:
    """Cases of the uninstaller on its own, on both families."""

    def test_other_input_method_and_other_entries_stay(self):
        # Another input method in slot 0, ours in slot 1; the list names ours second. The NT
        # family has both forms of the list (Wine writes value "1" itself at every start);
        # the older family's named values are no list of its own and stay as they are.
        nt = self.family == "nt"
        ours = ('[HKEY_LOCAL_MACHINE\\System\\CurrentControlSet\\Control\\Keyboard Layouts\\%s]\n'
                '"Ime File"="TVL1.ime"\n"Layout File"="kbdus.dll"\n"Layout Text"="Tavrel"\n' % SLOTS[1])
        entries = {"1": "00000804", "2": SLOTS[1].lower(), "3": "00000409"}
        self.seed(other_ime(SLOTS[0]), ours,
                  *['[HKEY_CURRENT_USER\\Keyboard Layout\\Preload\\%s]\n@="%s"\n' % e
                    for e in entries.items()],
                  '[HKEY_CURRENT_USER\\Keyboard Layout\\Preload]\n' +
                  "".join('"%s"="%s"\n' % e for e in entries.items() if e[0] != "1"))
        w.shutil.copy(STATE["input.dll"], w.system32(self.prefix))
        before = self.snapshot()
        res = self.run_it()
        after = self.snapshot()
        self.show("before", before)
        self.show("after", after)
        self.assert_box(res, UN_OK)
        self.assertEqual(after["layouts"][SLOTS[0]], before["layouts"][SLOTS[0]])
        self.assertNotIn(SLOTS[1], after["layouts"])
        self.assertEqual(after["preload"], {"1": ("sz", "00000804"), "2": ("sz", "00000409")})
        self.assertEqual(after["values"], {"1": before["values"]["1"], "2": ("sz", "00000409")}
                         if nt else before["values"])
        self.assertEqual(self.input_dll_calls(), ["0804:%s 1" % SLOTS[1]] if nt else [])

    def test_nothing_installed(self):
        shot = os.path.join(CFG["build"], "shot-tvluninstall-%s.png" % self.family)
        before = self.snapshot()
        res = self.run_it(shot=shot)
        self.assert_box(res, UN_NONE)
        self.assertEqual(self.snapshot(), before)
        mains = [win for win in res.windows if win[0] == UN_TITLE and win[3] >= 1000 and win[4] >= 700]
        self.assertTrue(mains, "no maximized main window among %r" % (res.windows,))
        check_picture(self, shot)

    def test_module_in_use_is_deleted_at_restart(self):
        # Renamed aside and scheduled for deletion: a pending rename on NT, a WININIT.INI line
        # after the one there before as Windows 98. A new session deletes it.
        with open(STATE["oldime"], "rb") as f:
            old = f.read()
        for name, data in (("tvl1.IME", old), ("tvl1.MB", w.STANDIN_MB)):
            with open(os.path.join(w.system32(self.prefix), name), "wb") as f:
                f.write(data)
        listing = self.sys32_listing()
        res = self.run_while_held("tvl1.IME", map_image=True, on_hold=self.earlier_wininit_line)
        added = sorted(set(self.sys32_listing()) - set(listing))
        scheduled = self.scheduled()
        print("\n%s on %s: %r; files added: %s; scheduled: %r"
              % (self.exe, self.family, res.texts, added, scheduled), file=sys.stderr)
        self.assert_box(res, UN_OK, restart=True)
        self.assertEqual([self.sys32("tvl1.IME"), self.sys32("tvl1.MB")], [None, None])
        self.assertEqual([self.sys32(n) for n in added], [old], "the module renamed aside")
        self.assertEqual(scheduled[1 if self.family != "nt" else 0:],
                         [("", "c:\\windows\\system32\\" + added[0].lower())])
        self.assert_finished_at_restart(scheduled, ime=None)


class PerUserCases:
    """The two parts of an installation: the machine's, and each user's. Wine does not process
    Active Setup at sign-in: the cases read the per-user setup entry and run its command
    themselves, as Windows would, under a second user's registry."""

    def run_command(self, command, cwd=None):
        """Run the Windows command line `command` silently from `cwd` (C:\ by default);
        returns run_silent's (exit status in full, windows mapped, message-box texts)."""
        drive_c = os.path.join(self.prefix, "drive_c")
        if not os.path.exists(os.path.join(drive_c, "locker.exe")):
            w.shutil.copy(STATE["locker"], os.path.join(drive_c, "locker.exe"))
        return w.run_silent(self.prefix, self.display, cwd or drive_c,
                            ["C:\\locker.exe", "-run", "C:\\status.txt", command],
                            status_file=os.path.join(drive_c, "status.txt"))

    def switch_user(self, user_reg):
        """Another user's part of the registry (a saved user.reg) in place of the current one,
        which is returned; the session has ended, so Wine has written it."""
        w.wineserver_wait(self.prefix, self.display)
        path = os.path.join(self.prefix, "user.reg")
        with open(path, "rb") as f:
            current = f.read()
        with open(path, "wb") as f:
            f.write(user_reg)
        return current

    def setup_entry(self):
        return w.values(w.hklm(self.prefix), SETUP_ENTRY)

    def machine(self):
        """What a user's sign-in command must not change: what the programs write under
        HKEY_LOCAL_MACHINE (Wine itself rewrites other keys at each start), the system
        directory's files and the tvl* files of the Windows directory."""
        keys = w.hklm(self.prefix)
        return {"layouts": self.layouts(), "entries": [w.values(keys, k) for k in (ENTRY, SETUP_ENTRY)],
                "pending": (w.values(keys, SESSION_MANAGER) or {}).get("PendingFileRenameOperations"),
                "files": self.sys32_listing(),
                "windows": sorted(n for n in os.listdir(self.windir("")) if n.lower().startswith("tvl"))}

    def test_second_user_gets_and_loses_the_layout_at_sign_in(self):
        w.shutil.copy(STATE["input.dll"], w.system32(self.prefix))
        with open(os.path.join(template(self.family), "user.reg"), "rb") as f:
            fresh_user = f.read()
        self.assertEqual(self.run_silent(self.exe), (0, [], []))
        installed = self.setup_entry()
        self.assertEqual(self.run_silent(self.exe), (0, [], []))  # the same release again
        upgraded = self.setup_entry()
        stub = installed["StubPath"][1]
        print("\n%s: per-user setup entry after the installation: %r\n  after installing again: %r"
              % (self.exe, installed, upgraded), file=sys.stderr)
        self.assertEqual(installed, {"": ("sz", "Tavrel输入法"), "Version": ("sz", "1,0,0,0"),
                                     "IsInstalled": ("dword", 1),
                                     "StubPath": ("sz", '"C:\\windows\\tvluser.exe" /AddToUser ' + LAYOUT)})
        self.assertEqual(upgraded, installed)
        # The first user's part is done: their counterpart holds the entry's Version.
        self.assertEqual(w.values(w.hkcu(self.prefix), SETUP_ENTRY), {"Version": ("sz", "1,0,0,0")})
        first_user = self.switch_user(fresh_user)
        before, machine = (self.preload(), self.preload_values()), self.machine()
        os.unlink(os.path.join(self.prefix, "drive_c", "inputdll.log"))
        self.assertEqual(self.run_command(stub), (0, [], []))
        after = (self.preload(), self.preload_values())
        print("second user's lists before the command: %r\n  after it: %r\n  input.dll stand-in: %r"
              % (before, after, self.input_dll_calls()), file=sys.stderr)
        self.assertNotIn(("sz", LAYOUT), list(before[0].values()) + list(before[1].values()))
        self.assertIn(("sz", LAYOUT), after[0].values())
        self.assertIn(("sz", LAYOUT), after[1].values())
        self.assertEqual(self.input_dll_calls(), ["0804:%s 0" % LAYOUT])
        self.assertEqual(self.machine(), machine, "the sign-in command changed the machine's part")
        # The first user uninstalls; the second user's part goes at their next sign-in, from the
        # sign-in program's copy, which stays for it.
        second_user = self.switch_user(first_user)
        self.assertEqual(self.run_command('"C:\\windows\\tvluninstall.exe" /S'), (0, [], []))
        removal = self.setup_entry()
        print("per-user setup entry after the uninstallation: %r\n  Windows directory: %r" % (
            removal, self.machine()["windows"]), file=sys.stderr)
        self.assertEqual(removal["StubPath"], ("sz", '"C:\\windows\\tvluser.exe" /RemoveFromUser ' + LAYOUT))
        self.assertEqual(removal["Version"], ("sz", "1,0,0,1"))
        # The running uninstaller's copy is renamed aside, to be deleted at the restart.
        self.assertEqual([n for n in self.machine()["windows"] if not n.lower().endswith(".tmp")],
                         [SIGN_IN_PROGRAM])
        self.switch_user(second_user)
        self.assertEqual(self.run_command(removal["StubPath"][1]), (0, [], []))
        print("second user's lists after the removal's command: %r" % ((self.preload(), self.preload_values()),),
              file=sys.stderr)
        self.assertEqual((self.preload(), self.preload_values()), before)
        self.assertEqual(self.input_dll_calls()[-1], "0804:%s 1" % LAYOUT)

    def test_silent_run_from_the_system_directory_installs(self):
        # As a scheduled task starts it: the current directory is the system directory, the
        # program is named by its full path on another drive.
        folder = self.shipped(w.layout_folder(self.prefix, self.exe_path))
        program = "Z:" + os.path.join(folder, self.exe).replace("/", "\\")
        status = self.run_command('"%s" /S' % program, cwd=w.system32(self.prefix))
        self.assertEqual(status, (0, [], []))
        self.assertEqual(self.sys32("tvl1.IME"), w.STANDIN_IME)
        self.assertEqual(self.preload(), {"1": ("sz", LAYOUT)})

    def test_silent_run_activates_nothing(self):
        self.seed(RELAY_EXCLUDE)
        folder = self.shipped(w.layout_folder(self.prefix, self.exe_path))
        fd, err = tempfile.mkstemp(suffix=".relay", dir=CFG["build"])
        os.close(fd)
        try:
            res = w.run_exe(self.prefix, self.display, folder, self.exe, args=["/S"], box_timeout=240,
                            extra_debug=w.RELAY_DEBUG, err_path=err)
            base, calls = w.image_calls(err, self.exe_path)
        finally:
            os.unlink(err)
        names = [c[1] for c in calls]
        print("\n%s /S: exit %s, %d calls from the image; LoadKeyboardLayoutA %d times"
              % (self.exe, res.exit_code, len(calls), names.count("LoadKeyboardLayoutA")), file=sys.stderr)
        self.assertEqual((res.exit_code, res.texts), (0, []))
        self.assertTrue({"RegCreateKeyA", "RegSetValueExA", "GetSystemDirectoryA"} <= set(names), "trace too short")
        self.assertNotIn("LoadKeyboardLayoutA", names)
        self.assertEqual(self.preload(), {"1": ("sz", LAYOUT)})


class SignedCases:
    """The signed installer (DIST/signed, made by scripts/sign) on both families: Windows
    95/98/Me and NT 4.0 ignore the signature, and it changes nothing in the image."""

    def test_signed_program_installs(self):
        if w.ARCH["prefix"] == "win64":
            self.skipTest("the 64-bit build runs here, and it is not signed")
        self.exe_path = os.path.join(CFG["dist"], "signed", self.exe)
        self.assertTrue(os.path.isfile(self.exe_path), "missing %s: scripts/sign (the test "
                        "sign_programs) makes it" % self.exe_path)
        self.assert_box(self.run_it(), OK_TEXT)
        self.assert_ours(LAYOUT)
        self.assertEqual(self.preload(), {"1": ("sz", LAYOUT)})
        self.assertEqual(self.sys32("tvl1.IME"), w.STANDIN_IME)



class Win64Cases:
    """The 32-bit installer and uninstaller on 64-bit Windows (a 64-bit prefix): the native
    system directory is the prefix's system32, the 32-bit one its syswow64."""

    def ours(self, sub):
        """{name: bytes} of the tvl* files in the Windows directory's `sub`."""
        d = self.windir(sub)
        out = {}
        for n in sorted(os.listdir(d)):
            if n.lower().startswith("tvl"):
                with open(os.path.join(d, n), "rb") as f:
                    out[n] = f.read()
        return out

    def show_both(self, when):
        for sub in ("system32", "syswow64"):
            print("%s, %s: %s" % (when, sub, ", ".join("%s (%d bytes)" % (n, len(d)) for n, d in
                                                        self.ours(sub).items()) or "no tvl* file"),
                  file=sys.stderr)

    def ship(self, module64):
        """C:\\tvl with the program and its files, and x64\\tvl1.IME holding module64."""
        folder = w.layout_folder(self.prefix, self.exe_path)
        os.makedirs(os.path.join(folder, "x64"), exist_ok=True)
        with open(os.path.join(folder, "x64", "tvl1.IME"), "wb") as f:
            f.write(module64)

    def test_each_system_directory_gets_its_module_and_the_uninstaller_removes_both(self):
        with open(STATE["oldime64"], "rb") as f:
            module64 = f.read()
        # XP x64 has no "Sysnative": there file system redirection is turned off instead.
        for tag, shipped, version in (("with x64", True, None), ("without x64", False, None),
                                      ("with x64 as XP x64", True, "winxp64")):
            with self.subTest(tag):
                if tag != "with x64":
                    self.fresh(tag.replace(" ", "-"))
                if version:
                    self.seed('[HKEY_CURRENT_USER\\Software\\Wine]\n"Version"="%s"\n' % version)
                if shipped:
                    self.ship(module64)
                res = self.run_it()
                print("", file=sys.stderr)
                self.show_both("%s, installed" % tag)
                self.assert_box(res, OK_TEXT if shipped else ONLY_32BIT)
                self.assert_ours(LAYOUT)
                self.assertEqual(self.ours("syswow64"), {"tvl1.IME": w.STANDIN_IME,
                                                         "tvl1.MB": w.STANDIN_MB})
                self.assertEqual(self.ours("system32"), {"tvl1.IME": module64,
                                                         "tvl1.MB": w.STANDIN_MB} if shipped else {})
                # Wine's own uninstaller (64-bit) finds the entry in the 32-bit view and starts the
                # copy in the Windows directory it names: running, the copy is renamed aside and
                # deleted at the restart.
                entry = w.values(w.hklm(self.prefix), ENTRY_WOW64) or {}
                self.assertEqual(entry.get("UninstallString"), ("sz", '"C:\\windows\\%s"' % UNINSTALLER))
                size = (len(w.STANDIN_IME) + len(w.STANDIN_MB) + os.path.getsize(self.windir(UNINSTALLER)) +
                        os.path.getsize(self.windir(SIGN_IN_PROGRAM)) +
                        (len(module64) + len(w.STANDIN_MB) if shipped else 0))
                self.assertEqual(entry.get("EstimatedSize"), ("dword", (size + 1023) // 1024), "installed KiB")
                res = w.run_exe(self.prefix, self.display, self.windir(""), "uninstaller",
                                args=["--remove", "TavrelInputMethod"])
                self.show_both("%s, uninstalled" % tag)
                self.assert_box(res, UN_OK)
                self.assertEqual((self.ours("system32"), self.ours("syswow64")), ({}, {}))
                self.assertIsNone(w.values(w.hklm(self.prefix), ENTRY_WOW64), "entry left")
                kept, scheduled = list(self.ours("")), self.scheduled()
                print("%s, uninstalled: Windows directory tvl*: %r; scheduled: %r" % (tag, kept, scheduled),
                      file=sys.stderr)
                # The per-user setup entry, in the 32-bit view, now removes each user's part at
                # sign-in, with the sign-in program's copy, which stays for it; the running
                # uninstaller's copy is renamed aside and deleted at the restart.
                aside = [n for n in kept if n != SIGN_IN_PROGRAM]
                self.assertEqual(len(aside), 1, "the running copy renamed aside: %r" % kept)
                self.assertTrue(aside[0].lower().endswith(".tmp"), aside)
                self.assertEqual(scheduled, [("", "c:\\windows\\" + aside[0].lower())])
                stub = w.values(w.hklm(self.prefix), SETUP_ENTRY.replace("Software", r"Software\Wow6432Node"))
                self.assertIn("/RemoveFromUser", (stub or {}).get("StubPath", ("", ""))[1])
                self.assertEqual(w.values(w.hkcu(self.prefix), SETUP_ENTRY.replace("Software", r"Software\Wow6432Node")),
                                 {"Version": ("sz", "1,0,0,1")}, "the counterpart where Windows looks for it")

    def test_modules_in_use_go_at_the_restart_from_the_right_directory(self):
        # A restart's moves are carried out by a native process: the names stored must be the
        # ones it reads, system32 for the native directory and syswow64 for the 32-bit one.
        with open(STATE["oldime64"], "rb") as f:
            old64 = f.read()
        with open(STATE["oldime"], "rb") as f:
            module32 = f.read()
        new64 = b"TVL-IME-64\x00new build" * 64
        with open(os.path.join(self.windir("system32"), "tvl1.IME"), "wb") as f:
            f.write(old64)
        self.ship(new64)
        res = self.run_while_held("tvl1.IME", map_image=True, locker="locker64", ime=module32)
        scheduled = self.scheduled()
        print("", file=sys.stderr)
        self.show_both("installed while system32's module was mapped by a 64-bit program")
        print("scheduled: %r" % scheduled, file=sys.stderr)
        self.assert_box(res, OK_TEXT, restart=True)
        native = self.ours("system32")
        aside = [n for n, d in native.items() if d == old64]
        self.assertEqual(native.get("tvl1.IME"), new64)
        self.assertEqual(len(aside), 1, "the earlier module renamed aside: %r" % list(native))
        self.assertIn(("", "c:\\windows\\system32\\" + aside[0].lower()), scheduled)
        self.assertEqual(self.ours("syswow64"), {"tvl1.IME": module32, "tvl1.MB": w.STANDIN_MB})
        # The uninstaller while a 32-bit program maps the 32-bit module.
        res = self.run_while_held("tvl1.IME", map_image=True, program=UNINSTALLER)
        scheduled = self.scheduled()
        self.show_both("uninstalled while syswow64's module was mapped by a 32-bit program")
        print("scheduled: %r" % scheduled, file=sys.stderr)
        self.assert_box(res, UN_OK, restart=True)
        wow = self.ours("syswow64")
        self.assertEqual(list(wow.values()), [module32], "the 32-bit module renamed aside")
        self.assertIn(("", "c:\\windows\\syswow64\\" + list(wow)[0].lower()), scheduled)
        w.wineserver_wait(self.prefix, self.display)  # the session has ended
        self.seed()  # any program starts a new one
        self.show_both("after a new session")
        self.assertEqual((self.ours("system32"), self.ours("syswow64")), ({}, {}))


class TestTvlinst(Cases, NtCases, PerUserCases, SignedCases, Base):
    exe = "tvlinst.exe"


class TestSetup(Cases, NtCases, Base):
    exe = "setup.exe"


class TestTvlinstWin98(Cases, Win98Cases, SignedCases, Base):
    exe = "tvlinst.exe"
    family = "win98"


class TestSetupWin98(Cases, Win98Cases, Base):
    exe = "setup.exe"
    family = "win98"


class TestTvlinstWin64(Win64Cases, Base):
    exe = "tvlinst.exe"
    family = "win64"


class TestTvluninstall(UninstallCases, Base):
    exe = UNINSTALLER


class TestTvluninstallWin98(UninstallCases, Base):
    exe = UNINSTALLER
    family = "win98"
    core_calls = {"RegOpenKeyA", "RegDeleteKeyA", "GetSystemDirectoryA", "DeleteFileA",
                  "CreateWindowExA"}
    copies = 0
    test_calls_only_functions_win9x_implements = Win98Cases.test_calls_only_functions_win9x_implements

    def relay_run(self):
        # Something to remove: an installation first.
        self.assert_box(self.run_program("tvlinst.exe", w.STANDIN_IME, w.STANDIN_MB), OK_TEXT)
        return super().relay_run(UN_OK)


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("dist", nargs="?", default=CFG["dist"])
    ap.add_argument("--build", default=CFG["build"])
    ap.add_argument("--win64-dist", default=None,
                    help="64-bit build to run instead where 32-bit programs cannot run")
    ap.add_argument("-k", dest="pattern", default=None, help="run tests whose id contains this")
    ap.add_argument("--worker", action="store_true", help=argparse.SUPPRESS)
    ap.add_argument("--win64", action="store_true", help=argparse.SUPPRESS)
    ap.add_argument("--prepare", action="store_true",
                    help="only make the template prefixes and helper programs (while other work runs)")
    a = ap.parse_args()
    CFG["dist"] = os.path.abspath(a.dist)
    CFG["build"] = os.path.abspath(a.build)
    tests = list(parallel.flatten(
        unittest.defaultTestLoader.loadTestsFromModule(sys.modules[__name__])))
    if a.worker:  # started by run_cases below, with the folders already chosen
        if a.win64:
            w.use_win64()
        return parallel.serve(tests, CFG["build"])
    refused = w.i386_refused()
    if refused and not a.win64_dist:
        print("e2e: skipped on this machine: " + refused)
        return SKIPPED
    if refused:
        print("e2e: NOT the 32-bit programs: %s; running the cases on the 64-bit build "
              "in %s, in a 64-bit prefix" % (refused, a.win64_dist))
        w.use_win64()
        CFG["dist"] = os.path.abspath(a.win64_dist)
        CFG["build"] = os.path.join(CFG["build"], "win64")
    if refused:  # the 32-bit programs beside 64-bit ones: not where 32-bit programs cannot run
        tests = [t for t in tests if getattr(t, "family", None) != "win64"]
    if a.pattern:
        tests = [t for t in tests if a.pattern in t.id()]
    CFG["families"] = {getattr(case, "family", None) for case in tests}
    if not tests:
        print("e2e: no case to run")
        return 1
    # Everything the workers share is made here first, so that they never race to make it.
    started = time.time()
    try:
        setUpModule()
        for family in sorted({getattr(case, "family", None) for case in tests} - {None}):
            template(family)
    except Exception:
        print("module set-up failed:\n" + traceback.format_exc())
        print("e2e: 0 passed, %d failed" % len(tests))
        return 1
    finally:
        tearDownModule()
    if a.prepare:
        print("e2e: template prefixes and helper programs made in %.1fs" % (time.time() - started))
        return 0
    workers, how = parallel.worker_count(len(tests))
    print("%d cases on %d worker%s (%s); set-up took %.1fs"
          % (len(tests), workers, "" if workers == 1 else "s", how, time.time() - started),
          flush=True)
    command = [sys.executable, os.path.abspath(__file__), "--worker", "--build", CFG["build"],
               CFG["dist"]] + (["--win64"] if refused else [])
    passed, failed = parallel.run_cases(tests, workers, command,
                                        os.path.join(CFG["build"], "case-times.json"), estimate)
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
