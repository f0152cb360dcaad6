#!/usr/bin/python3
"""End-to-end tests of dist/tvlinst.exe and dist/setup.exe under Wine.

usage: run_e2e.py [DIST_DIR] [--build DIR] [--win64-dist DIR] [-k PATTERN]
Each case runs in a fresh copy of a template prefix, on a private Xvfb.
Ends with a line "e2e: N passed, M failed"; exit status 1 on any failure.
On a machine whose kernel cannot execute 32-bit x86 programs at all, the
programs in DIST_DIR cannot run. Then, given --win64-dist (a 64-bit build of
the same sources), the cases run on that build in a 64-bit prefix, and say so;
without it the run says why and exits with SKIPPED, which CTest reports as
skipped.
"""
import argparse
import os
import sys
import time
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
REPO = os.path.dirname(os.path.dirname(HERE))
sys.path.insert(0, os.path.join(REPO, "tools"))
import winerun as w  # noqa: E402

TITLE = "Tavrel输入法安装"
OK_TEXT = "Tavrel输入法安装成功完成！"
NO_IME = "输入法文件未找到！"
NO_MB = "码表文件未找到！"
FAILED = "Tavrel输入法未能安装成功！"
LAYOUT = "E0200804"
SLOTS = ["E02%d0804" % i for i in range(10)]

SKIPPED = 77

CFG = {"dist": os.path.join(REPO, "dist"), "build": os.path.join(REPO, "build", "e2e")}
STATE = {}


def setUpModule():
    os.makedirs(CFG["build"], exist_ok=True)
    x = w.Xvfb()
    STATE["x"] = x
    STATE["display"] = x.start()
    t = time.time()
    STATE["template"] = w.make_template(os.path.join(CFG["build"], "prefixes"), STATE["display"])
    print("template prefix ready in %.1fs" % (time.time() - t), file=sys.stderr)
    STATE["locker"] = w.build_windows_exe(os.path.join(HERE, "locker.c"),
                                          os.path.join(CFG["build"], "locker.exe"))


def tearDownModule():
    if "x" in STATE:
        STATE["x"].stop()


def reg_text(*blocks):
    return "Windows Registry Editor Version 5.00\n\n" + "\n".join(blocks) + "\n"


def other_ime(slot):
    return ('[HKEY_LOCAL_MACHINE\\System\\CurrentControlSet\\Control\\Keyboard Layouts\\%s]\n'
            '"Ime File"="other.ime"\n"Layout File"="kbdus.dll"\n"Layout Text"="Other"\n' % slot)


class Base(unittest.TestCase):
    exe = None  # set in subclasses

    def setUp(self):
        self.display = STATE["display"]
        name = "%s-%s" % (self.exe.split(".")[0], self._testMethodName)
        self.prefix = os.path.join(CFG["build"], "prefixes", name)
        self.prefixes = [self.prefix]
        self.faults_before = self.faults()
        self.copy_s = w.copy_prefix(STATE["template"], self.prefix)
        self.exe_path = os.path.join(CFG["dist"], self.exe)
        self.assertTrue(os.path.isfile(self.exe_path), "missing " + self.exe_path)

    def fresh(self, tag):
        """A second fresh prefix within one test (for grouped variants)."""
        self.prefix = os.path.join(CFG["build"], "prefixes",
                                   "%s-%s-%s" % (self.exe.split(".")[0], self._testMethodName, tag))
        self.prefixes.append(self.prefix)
        w.copy_prefix(STATE["template"], self.prefix)

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

    def run_it(self, ime=w.STANDIN_IME, mb=w.STANDIN_MB, shot=None, after_exit=None):
        folder = w.layout_folder(self.prefix, self.exe_path, ime=ime, mb=mb)
        return w.run_exe(self.prefix, self.display, folder, self.exe, shot=shot,
                         after_exit=after_exit)

    # -- checks
    def layouts(self):
        keys = w.hklm(self.prefix)
        return {s: w.values(keys, w.LAYOUTS + "\\" + s)
                for s in w.subkeys(keys, w.LAYOUTS)}

    def preload(self):
        keys = w.hkcu(self.prefix)
        return {n: (w.values(keys, w.PRELOAD + "\\" + n) or {}).get("")
                for n in w.subkeys(keys, w.PRELOAD)}

    def assert_ours(self, slot):
        vals = w.values(w.hklm(self.prefix), w.LAYOUTS + "\\" + slot)
        self.assertIsNotNone(vals, "no key " + slot)
        self.assertEqual(vals.get("Ime File"), ("sz", "tvl1.IME"))
        self.assertEqual(vals.get("Layout File"), ("sz", "kbdus.dll"))
        self.assertEqual(vals.get("Layout Text"), ("sz", "Tavrel输入法"))

    def assert_box(self, res, text):
        self.assertEqual(res.texts, [text], "message boxes shown")
        self.assertEqual(res.exit_code, 0)
        boxes = [win for win in res.windows if win[0] == TITLE and win[3] < 800 and win[4] < 500]
        self.assertTrue(boxes, "no message box titled %s among %r" % (TITLE, res.windows))

    def sys32(self, name):
        p = os.path.join(w.system32(self.prefix), name)
        if not os.path.exists(p):
            return None
        with open(p, "rb") as f:
            return f.read()


class Cases:
    """Mixed into one TestCase class per program."""

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
        before_lm = self.layouts()
        before_pre = self.preload()
        res = self.run_it()
        self.assert_box(res, FAILED)
        self.assertEqual(self.layouts(), before_lm)
        self.assertEqual(self.preload(), before_pre)

    def test_preload_entries(self):
        with self.subTest("preload 1 already ours"):
            self.seed('[HKEY_CURRENT_USER\\Keyboard Layout\\Preload\\1]\n@="%s"\n' % LAYOUT)
            res = self.run_it()
            self.assert_box(res, OK_TEXT)
            self.assertEqual(self.preload(), {"1": ("sz", LAYOUT)})
        with self.subTest("preload 1 held by another layout"):
            self.fresh("other")
            self.seed('[HKEY_CURRENT_USER\\Keyboard Layout\\Preload\\1]\n@="00000409"\n')
            res = self.run_it()
            self.assert_box(res, OK_TEXT)
            self.assertEqual(self.preload(), {"1": ("sz", "00000409"), "2": ("sz", LAYOUT)})

    def test_missing_data_files(self):
        for tag, ime, mb, text in (("noime", None, w.STANDIN_MB, NO_IME),
                                   ("nomb", w.STANDIN_IME, None, NO_MB),
                                   ("none", None, None, NO_IME + NO_MB)):
            with self.subTest(tag):
                self.fresh(tag)
                res = self.run_it(ime=ime, mb=mb)
                self.assert_box(res, text)
                self.assert_ours(LAYOUT)
                self.assertEqual(self.preload(), {"1": ("sz", LAYOUT)})

    def test_locked_target_in_system32(self):
        for tag, target, text in (("differs", b"OLD-IME-CONTENT-0123", FAILED),
                                  ("identical", w.STANDIN_IME, OK_TEXT)):
            with self.subTest(tag):
                self.fresh(tag)
                with open(os.path.join(w.system32(self.prefix), "tvl1.IME"), "wb") as f:
                    f.write(target)
                drive_c = os.path.join(self.prefix, "drive_c")
                ready = os.path.join(drive_c, "lock.ready")
                release = os.path.join(drive_c, "lock.release")
                w.shutil.copy(STATE["locker"], os.path.join(drive_c, "locker.exe"))
                lock = w.start_wine(self.prefix, self.display,
                                    ["C:\\locker.exe", "C:\\windows\\system32\\tvl1.IME",
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
                        time.sleep(0.1)
                    self.assertTrue(os.path.exists(ready), "locker did not get the file open")
                    res = self.run_it(after_exit=unlock)
                finally:
                    unlock()
                self.assert_box(res, text)
                self.assertEqual(self.sys32("tvl1.IME"), target, "locked target changed")

    def test_screenshot_while_box_is_up(self):
        shot = os.path.join(CFG["build"], "shot-%s.png" % self.exe.split(".")[0])
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


class TestTvlinst(Cases, Base):
    exe = "tvlinst.exe"


class TestSetup(Cases, Base):
    exe = "setup.exe"


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("dist", nargs="?", default=CFG["dist"])
    ap.add_argument("--build", default=CFG["build"])
    ap.add_argument("--win64-dist", default=None,
                    help="64-bit build to run instead where 32-bit programs cannot run")
    ap.add_argument("-k", dest="pattern", default=None, help="run tests whose id contains this")
    a = ap.parse_args()
    CFG["dist"] = os.path.abspath(a.dist)
    CFG["build"] = os.path.abspath(a.build)
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
    suite = unittest.defaultTestLoader.loadTestsFromModule(sys.modules[__name__])
    if a.pattern:
        def flat(s):
            for t in s:
                if isinstance(t, unittest.TestSuite):
                    yield from flat(t)
                else:
                    yield t
        suite = unittest.TestSuite(t for t in flat(suite) if a.pattern in t.id())
    result = unittest.TextTestRunner(verbosity=2, stream=sys.stdout).run(suite)
    bad = {getattr(t, "test_case", t).id() for t, _ in result.failures + result.errors}
    failed = len(bad)
    # An error in module set-up is counted as one failure but ran no case.
    passed = max(0, result.testsRun - failed - len(result.skipped))
    print("e2e: %d passed, %d failed" % (passed, failed))
    return 1 if failed or not result.testsRun else 0


if __name__ == "__main__":
    sys.exit(main())
