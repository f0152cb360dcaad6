"""Run the installer under Wine, headless, with everything bounded in time.

Library only: a private Xvfb, a template Wine prefix copied per case, a
C:\\tvl folder holding the exe and stand-in data files, one run of the exe
(message-box text from WINEDEBUG=trace+msgbox, its window mapped, optional
screenshot, Return pressed, exit code), the end of a prefix's Wine session
as soon as its programs have ended, readers for the registry files Wine
writes, and a reader of relay traces (the calls a program's own code makes).
Every wait ends on its event, bounded in time. Every process started here is
recorded and killed by id on stop/exit.

As a command, `winerun.py i386-refused` prints why this machine cannot run
32-bit programs and exits 0, or exits 1 when it can.
"""
import atexit
import errno
import os
import re
import shutil
import signal
import subprocess
import tempfile
import time

STANDIN_IME = b"TVL-IME\x00\x01\x02stand-in input method\xfe\xff"
STANDIN_MB = b"TVL-MB\x00\x10\x20code table stand-in\x7f\x80"

_started = []  # Popen objects we own


def _kill_all():
    for p in list(_started):
        _kill(p)


def _kill(p):
    if p.poll() is None:
        try:
            os.killpg(p.pid, signal.SIGKILL)
        except (ProcessLookupError, PermissionError):
            try:
                p.kill()
            except ProcessLookupError:
                pass
        try:
            p.wait(timeout=5)
        except subprocess.TimeoutExpired:
            pass
    if p in _started:
        _started.remove(p)


atexit.register(_kill_all)


def _on_term(signum, frame):
    _kill_all()  # then leave at once (unittest would swallow SystemExit)
    os._exit(128 + signum)


def _install_term_handler():
    import threading
    if threading.current_thread() is threading.main_thread():
        for s in (signal.SIGTERM, signal.SIGHUP):
            if signal.getsignal(s) is signal.SIG_DFL:
                signal.signal(s, _on_term)


def _spawn(args, **kw):
    kw.setdefault("stdin", subprocess.DEVNULL)
    p = subprocess.Popen(args, start_new_session=True, **kw)
    _started.append(p)
    return p


# ---------------------------------------------------------------- Xvfb

class Xvfb:
    """A private X server on a free display number (chosen by Xvfb itself)."""

    def __init__(self, geometry="1024x768x24"):
        self.geometry = geometry
        self.proc = None
        self.display = None

    def start(self, timeout=20):
        _install_term_handler()
        r, w = os.pipe()
        self.proc = _spawn(["Xvfb", "-displayfd", str(w), "-screen", "0",
                            self.geometry, "-nolisten", "tcp", "-noreset"],
                           pass_fds=(w,), stdout=subprocess.DEVNULL,
                           stderr=subprocess.DEVNULL)
        os.close(w)
        buf = b""
        deadline = time.time() + timeout
        try:
            while time.time() < deadline and not buf.endswith(b"\n"):
                import select
                ready, _, _ = select.select([r], [], [], 0.5)
                if ready:
                    chunk = os.read(r, 64)
                    if not chunk:
                        break
                    buf += chunk
                if self.proc.poll() is not None:
                    break
        finally:
            os.close(r)
        if not buf.strip().isdigit():
            self.stop()
            raise RuntimeError("Xvfb did not report a display")
        self.display = ":" + buf.strip().decode()
        return self.display

    def stop(self):
        if self.proc is not None:
            _kill(self.proc)
            self.proc = None

    def __enter__(self):
        self.start()
        return self

    def __exit__(self, *a):
        self.stop()


WINE32_LOADER = "/usr/lib/wine/wine"


def i386_refused():
    """Why this machine cannot start 32-bit Wine at all, or None if it can.

    Only a kernel that refuses to execute i386 programs counts (no IA-32
    emulation, as on some virtual machines); a missing or broken Wine is a
    test failure, not a reason to skip."""
    try:
        subprocess.run([WINE32_LOADER, "--version"], stdin=subprocess.DEVNULL,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                       timeout=60)
    except OSError as e:
        if e.errno == errno.ENOEXEC:
            return ("the kernel refuses to execute 32-bit x86 programs "
                    "(%s: Exec format error)" % WINE32_LOADER)
    return None


# Where 32-bit programs cannot run at all, the cases can still run on a 64-bit
# build of the same sources in a 64-bit prefix (use_win64). Debian's `wine`
# wrapper always tries the 32-bit loader when it is installed, so the 64-bit
# loader is named directly.
ARCH = {"prefix": "win32", "loader": "wine", "cc": "i686-w64-mingw32-gcc"}
WIN64 = {"prefix": "win64", "loader": "/usr/lib/wine/wine64", "cc": "x86_64-w64-mingw32-gcc"}


def use_win64():
    ARCH.update(WIN64)


# ---------------------------------------------------------------- prefixes

# Wine takes the ANSI code page from LC_CTYPE (zh_CN: 936, C.UTF-8: 1252) and the
# user locale, which is also the only input language it lets a program activate,
# from LC_MESSAGES/LANG.
LOCALE = {"LC_ALL": "zh_CN.UTF-8", "LANG": "zh_CN.UTF-8"}


def prefix_arch(prefix):
    """The architecture `prefix` was made for ("win32" or "win64", from the
    first lines of its system.reg); ARCH's for a prefix not yet made."""
    try:
        with open(os.path.join(prefix, "system.reg"), encoding="ascii", errors="replace") as f:
            head = f.read(256)
    except OSError:
        return ARCH["prefix"]
    m = re.search(r"^#arch=(win32|win64)$", head, re.M)
    return m.group(1) if m else ARCH["prefix"]


def wine_env(prefix, display, debug="-all", locale=None):
    """Environment for Wine in `prefix`; locale: the LANG/LC_* variables to
    use instead of LOCALE (none are inherited)."""
    env = {k: v for k, v in os.environ.items() if k != "LANG" and not k.startswith("LC_")}
    env.update(WINEPREFIX=prefix, WINEARCH=prefix_arch(prefix),
               WINEDLLOVERRIDES="mscoree,mshtml=", WINEDEBUG=debug, DISPLAY=display)
    env.update(locale or LOCALE)
    return env


def _run(args, env, timeout, cwd=None):
    p = _spawn(args, env=env, cwd=cwd, stdout=subprocess.DEVNULL,
               stderr=subprocess.DEVNULL)
    try:
        return p.wait(timeout=timeout)
    except subprocess.TimeoutExpired:
        _kill(p)
        raise RuntimeError("timed out: %s" % " ".join(args))
    finally:
        if p in _started:
            _started.remove(p)


# Wine's own background processes in a prefix. Once only these are left, every program of a
# session has ended; Wine would then stop them and the wineserver by itself, but only about two
# seconds later (a second for the desktop to close, then the services' shutdown).
WINE_SERVICES = {"explorer.exe", "services.exe", "plugplay.exe", "rpcss.exe", "svchost.exe",
                 "winedevice.exe"}


def prefix_processes(prefix):
    """[(pid, image name in lower case)] of the processes running in `prefix`:
    the Windows programs by their image, the wineserver by its Unix program;
    read from /proc."""
    tag = ("\0WINEPREFIX=%s\0" % prefix).encode()
    found = []
    for pid in os.listdir("/proc"):
        if not pid.isdigit():
            continue
        try:
            with open("/proc/%s/environ" % pid, "rb") as f:
                if tag not in b"\0" + f.read() + b"\0":
                    continue
            with open("/proc/%s/cmdline" % pid, "rb") as f:
                argv0 = f.read().split(b"\0", 1)[0].decode("utf-8", "replace")
        except OSError:  # ended meanwhile, or not ours to read
            continue
        found.append((int(pid), re.split(r"[\\/]", argv0)[-1].lower()))
    return found


def wineserver_wait(prefix, display, timeout=60, services=False):
    """Return once the prefix's wineserver has written system.reg and user.reg
    and ended, after every program in the prefix has ended (bounded by
    `timeout`; then the server is killed and RuntimeError names what was still
    running). Wine's own background services are then ended at once: the
    wineserver writes the registry on SIGTERM, and the services, which do not
    notice that it has gone, are killed. With services=True they end by
    themselves instead, as Wine does about two seconds later."""
    env = wine_env(prefix, display)
    deadline = time.time() + timeout
    while not services:
        running = [(pid, name) for pid, name in prefix_processes(prefix)
                   if not name.startswith("wineserver")]
        programs = sorted({name for _, name in running if name not in WINE_SERVICES})
        if not programs:
            if running:
                _run(["wineserver", "-k15"], env, 20)
                for pid, _ in running:
                    try:
                        os.kill(pid, signal.SIGKILL)
                    except ProcessLookupError:
                        pass
            break
        if time.time() >= deadline:
            _run(["wineserver", "-k"], env, 20)
            raise RuntimeError("still running in %s after %ds: %s"
                               % (prefix, timeout, ", ".join(programs)))
        time.sleep(0.05)
    try:
        _run(["wineserver", "-w"], env, max(1.0, deadline - time.time()))
    except RuntimeError:
        _run(["wineserver", "-k"], env, 20)
        raise
    # Killed processes let go of the prefix's files (and mounts) once they are gone.
    _wait_for(10, lambda: not prefix_processes(prefix))


def regedit(prefix, display, text, timeout=60):
    """Import a .reg text (Version 5 format) with one regedit process."""
    fd, path = tempfile.mkstemp(suffix=".reg", dir=os.path.join(prefix, "drive_c"))
    with os.fdopen(fd, "wb") as f:
        f.write(b"\xff\xfe" + text.replace("\n", "\r\n").encode("utf-16-le"))
    try:
        rc = _run([ARCH["loader"], "regedit", "/S", "C:\\" + os.path.basename(path)],
                  wine_env(prefix, display), timeout)
        wineserver_wait(prefix, display)
    finally:
        os.unlink(path)
    if rc != 0:
        raise RuntimeError("regedit failed: %d" % rc)


def make_template(base, display, timeout=300, win64=False):
    """Create (once) base/template: wineboot -i, X11 Managed=N. With win64, a
    64-bit prefix base/template-win64 (32-bit programs run in it as on 64-bit
    Windows), whatever ARCH is."""
    tpl = os.path.join(base, "template-win64" if win64 else "template")
    done = tpl + ".ok"
    if os.path.exists(done) and os.path.isdir(tpl):
        return tpl
    shutil.rmtree(tpl, ignore_errors=True)
    os.makedirs(base, exist_ok=True)
    env = wine_env(tpl, display)
    if win64:
        env["WINEARCH"] = WIN64["prefix"]
    _run([WIN64["loader"] if win64 else ARCH["loader"], "wineboot", "-i"], env, timeout)
    wineserver_wait(tpl, display, timeout, services=True)
    regedit(tpl, display, "Windows Registry Editor Version 5.00\n\n"
            "[HKEY_CURRENT_USER\\Software\\Wine\\X11 Driver]\n"
            "\"Managed\"=\"N\"\n\n")
    open(done, "w").close()
    return tpl


def copy_prefix(template, dest):
    """A per-case prefix: hard links to the template's files, so a case costs
    next to no disk, with the registry hives as real copies because the
    wineserver rewrites those. A case may create files in its prefix but must
    not write into a file it did not create. Returns seconds taken."""
    t = time.time()
    remove_prefix(dest)
    subprocess.run(["cp", "-al", template, dest], check=True,
                   stdin=subprocess.DEVNULL, timeout=120)
    for hive in ("system.reg", "user.reg", "userdef.reg"):
        path = os.path.join(dest, hive)
        if os.path.exists(path):
            os.unlink(path)
            shutil.copy2(os.path.join(template, hive), path)
    return time.time() - t


def remove_prefix(prefix):
    """Remove a prefix, with any file system still mounted in it (a run that
    was interrupted may have left one)."""
    inside = os.path.abspath(prefix) + "/"
    try:
        with open("/proc/mounts") as f:
            mounts = [line.split()[1].replace("\\040", " ") for line in f]
    except OSError:
        mounts = []
    for point in sorted((m for m in mounts if m.startswith(inside)), reverse=True):
        subprocess.run(["umount", "-l", point], stdin=subprocess.DEVNULL, timeout=60)
    shutil.rmtree(prefix, ignore_errors=True)


def system32(prefix):
    return os.path.join(prefix, "drive_c", "windows", "system32")


def layout_folder(prefix, exe, ime=STANDIN_IME, mb=STANDIN_MB, name="tvl"):
    """Make C:\\<name> with the exe and stand-in tvl1.IME / tvl1.MB.
    Pass ime=None or mb=None to leave that file out. Returns the folder."""
    d = os.path.join(prefix, "drive_c", name)
    os.makedirs(d, exist_ok=True)
    shutil.copy(exe, os.path.join(d, os.path.basename(exe)))
    for fname, data in (("tvl1.IME", ime), ("tvl1.MB", mb)):
        if data is not None:
            with open(os.path.join(d, fname), "wb") as f:
                f.write(data)
    return d


# ---------------------------------------------------------------- running

_WCHAR_ESC = re.compile(r'\\(n|r|t|"|\\|[0-9a-fA-F]{4}|[0-9a-fA-F]{2})')
_MSGBOX_LINE = re.compile(r'trace:msgbox:MSGBOX_OnInit L"((?:[^"\\]|\\.)*)"')


def decode_debugstr(s):
    """Undo Wine's debugstr_w escaping: \\XXXX hex code units, \\n, \\", ..."""
    def rep(m):
        g = m.group(1)
        return {"n": "\n", "r": "\r", "t": "\t", '"': '"', "\\": "\\"}.get(g) or chr(int(g, 16))
    return _WCHAR_ESC.sub(rep, s)


def msgbox_texts(stderr_text):
    return [decode_debugstr(m.group(1)) for m in _MSGBOX_LINE.finditer(stderr_text)]


def xdotool(display, *args, timeout=10):
    env = dict(os.environ, DISPLAY=display)
    try:
        r = subprocess.run(["xdotool"] + list(args), env=env, timeout=timeout,
                           stdin=subprocess.DEVNULL, capture_output=True)
        return r.stdout.decode("utf-8", "replace")
    except subprocess.TimeoutExpired:
        return ""


def visible_ids(display):
    """Ids of the visible (mapped) top-level windows."""
    return set(xdotool(display, "search", "--onlyvisible", "--name", "").split())


def visible_windows(display, ids=None):
    """[(title, x, y, w, h)] for visible top-level windows (or those of `ids`)."""
    out = []
    for wid in sorted(visible_ids(display) if ids is None else ids):
        name = xdotool(display, "getwindowname", wid).rstrip("\n")
        geo = xdotool(display, "getwindowgeometry", "--shell", wid)
        g = dict(l.split("=", 1) for l in geo.split() if "=" in l)
        try:
            out.append((name, int(g["X"]), int(g["Y"]), int(g["WIDTH"]), int(g["HEIGHT"])))
        except (KeyError, ValueError):
            pass
    return out


def screen_size(display):
    try:
        w, h = xdotool(display, "getdisplaygeometry").split()
        return int(w), int(h)
    except ValueError:
        return None


def screenshot(display, path, timeout=20):
    env = dict(os.environ, DISPLAY=display)
    subprocess.run(["import", "-window", "root", "-define", "png:exclude-chunks=date,time", path],
                   env=env, check=True, stdin=subprocess.DEVNULL, timeout=timeout,
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    return path


def steady_screenshot(display, path, timeout=10):
    """A screenshot once the screen has stopped changing: two captures in a row
    alike. Returns (path, whether it came to rest within `timeout`)."""
    deadline = time.time() + timeout
    previous = None
    while True:
        shot = screenshot(display, path)
        with open(shot, "rb") as f:
            data = f.read()
        if data == previous:
            return shot, True
        if time.time() >= deadline:
            return shot, False
        previous = data


class RunResult:
    def __init__(self):
        self.texts = []        # message-box texts, decoded, in order shown
        self.exit_code = None
        self.stderr = ""       # Wine's debug output ("" when kept in err_path)
        self.screenshot = None
        self.windows = []      # visible windows once the first box was mapped
        self.seconds = None    # start -> first message-box trace line
        self.run_seconds = None  # start -> exit (or kill)
        self.missed = []       # waits that ran out, each naming what did not happen


class _ErrTail:
    """Reads a growing debug-output file through a handle of its own (the
    writers append; sharing their file offset would let a write land where a
    read had moved it) and tells whether a message-box line has appeared."""

    def __init__(self, path):
        self.f = open(path, "rb")
        self.tail = b""

    def box_seen(self):
        data = self.tail + self.f.read()
        if _MSGBOX_LINE.search(data.decode("utf-8", "replace")):
            return True
        self.tail = data[data.rfind(b"\n") + 1:]
        return False

    def close(self):
        self.f.close()


def _wait_for(timeout, done, alive=lambda: True, interval=0.05):
    """Poll done() until it returns something true, which is returned; None
    once `timeout` seconds have passed or alive() has turned false first."""
    deadline = time.time() + timeout
    while True:
        got = done()
        if got or time.time() >= deadline or not alive():
            return got or None
        time.sleep(interval)


def run_exe(prefix, display, folder, exe_name, shot=None, box_timeout=60,
            exit_timeout=30, map_timeout=20, press_ok=True, extra_debug="",
            after_exit=None, locale=None, err_path=None, args=()):
    """Run folder/exe_name with cwd=folder and wait, each wait bounded, for
    its first message box: its trace line (box_timeout), then its window
    mapped (map_timeout: a new visible window smaller than the screen); take a
    screenshot to `shot` if given, once the screen has come to rest; press
    Return (again while the program runs) and wait for the program to end
    (exit_timeout; without press_ok someone else presses OK). Then call
    after_exit() (e.g. to release helpers still running in the prefix) and
    end the prefix's wineserver. With err_path, Wine's debug output stays in
    that file (for big traces) instead of RunResult.stderr. A wait that ran
    out is named in RunResult.missed. `args` follow the program's name (the
    box may then come from a program it starts). Returns a RunResult."""
    res = RunResult()
    env = wine_env(prefix, display, "fixme-all,trace+msgbox" + extra_debug, locale)
    keep = err_path is not None
    if not keep:
        fd, err_path = tempfile.mkstemp(suffix=".err")
        os.close(fd)
    errw = open(err_path, "ab", buffering=0)  # O_APPEND: all writers append
    tail = _ErrTail(err_path)
    # Windows visible before the box's trace line appeared: the box is mapped after it.
    before = visible_ids(display)
    t0 = time.time()
    try:
        p = _spawn([ARCH["loader"], exe_name] + list(args), env=env, cwd=folder,
                   stdout=subprocess.DEVNULL, stderr=errw)
    finally:
        errw.close()

    def running():
        return p.poll() is None
    exit_deadline = t0 + box_timeout + exit_timeout
    try:
        seen = {}

        def box_line():
            ids = visible_ids(display)
            if tail.box_seen():
                return True
            seen["before"] = ids
            return False
        if _wait_for(box_timeout, box_line, running):
            res.seconds = time.time() - t0
            before = seen.get("before", before)
            screen = screen_size(display)

            def box_mapped():
                new = visible_ids(display) - before
                return [win for win in visible_windows(display, new)
                        if screen is None or win[3] < screen[0] or win[4] < screen[1]]
            if _wait_for(map_timeout, box_mapped, running):
                res.windows = visible_windows(display)
            else:
                res.missed.append("no message-box window mapped within %ds of its trace line%s"
                                  % (map_timeout, "" if running() else
                                     " (the program ended first)"))
            if shot and running():
                res.screenshot, steady = steady_screenshot(display, shot)
                if not steady:
                    res.missed.append("the screen still changing when the screenshot was taken")
            exit_deadline = time.time() + exit_timeout
            if press_ok:
                def pressed_and_ended():
                    xdotool(display, "key", "Return")
                    try:
                        p.wait(timeout=0.5)
                        return True
                    except subprocess.TimeoutExpired:
                        return False
                _wait_for(exit_timeout, pressed_and_ended, interval=0)
        elif running():
            res.missed.append("no message-box trace line within %ds" % box_timeout)
        else:
            res.missed.append("no message-box trace line: the program ended (status %s) after "
                              "%.1fs" % (p.returncode, time.time() - t0))
        try:
            res.exit_code = p.wait(timeout=max(0.1, exit_deadline - time.time()))
        except subprocess.TimeoutExpired:
            res.exit_code = None
            res.missed.append("the program still running %ds after %s" % (
                exit_timeout, "Return was pressed" if press_ok and res.seconds is not None
                else "its message box" if res.seconds is not None else "it started"))
    finally:
        _kill(p)
        res.run_seconds = time.time() - t0
        tail.close()
    if after_exit is not None:
        after_exit()
    if res.exit_code is None:
        _run(["wineserver", "-k"], wine_env(prefix, display), 20)
    wineserver_wait(prefix, display)
    if keep:
        with open(err_path, encoding="utf-8", errors="replace") as f:
            res.texts = [decode_debugstr(m.group(1)) for line in f
                         for m in _MSGBOX_LINE.finditer(line)]
    else:
        with open(err_path, "rb") as f:
            res.stderr = f.read().decode("utf-8", "replace")
        os.unlink(err_path)
        res.texts = msgbox_texts(res.stderr)
    return res


def run_silent(prefix, display, folder, argv, timeout=60, after_exit=None, status_file=None):
    """Run the Windows command `argv` in `folder` with no one to press
    anything, watching the screen the whole time; then call after_exit() as
    run_exe does. Returns (exit status, [(title, x, y, w, h)] of every window
    mapped meanwhile, message-box texts traced). The status is read from the
    host file `status_file` where given (Wine's own exit status holds only
    the low 8 bits of the program's); a run still going after `timeout` is
    killed (status None)."""
    env = wine_env(prefix, display, "fixme-all,trace+msgbox")
    fd, err_path = tempfile.mkstemp(suffix=".err")
    os.close(fd)
    before = visible_ids(display)
    screen = screen_size(display)
    seen, mapped = set(), []
    with open(err_path, "ab", buffering=0) as errw:
        p = _spawn([ARCH["loader"]] + list(argv), env=env, cwd=folder,
                   stdout=subprocess.DEVNULL, stderr=errw)
    try:
        def ended():
            new = visible_ids(display) - before - seen
            seen.update(new)
            # Not Wine's own desktop window (untitled, the whole screen), which its
            # explorer.exe may map when a session starts.
            mapped.extend(win for win in visible_windows(display, new)
                          if win[0] or screen is None or (win[3], win[4]) != tuple(screen))
            return p.poll() is not None
        _wait_for(timeout, ended, interval=0)
        status = p.poll()
    finally:
        _kill(p)
    if after_exit is not None:
        after_exit()
    wineserver_wait(prefix, display)
    with open(err_path, "rb") as f:
        texts = msgbox_texts(f.read().decode("utf-8", "replace"))
    os.unlink(err_path)
    if status_file is not None:
        with open(status_file) as f:
            status = int(f.read())
        os.unlink(status_file)
    return status, mapped, texts


def start_wine(prefix, display, args, cwd=None, locale=None):
    """Start a background Wine program we own (e.g. the file locker)."""
    return _spawn([ARCH["loader"]] + list(args), env=wine_env(prefix, display, locale=locale),
                  cwd=cwd, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)


def stop(p):
    _kill(p)


# ---------------------------------------------------------------- relay traces

RELAY_DEBUG = ",+relay,+loaddll,+pid"
_LOADED = re.compile(r'^([0-9a-f]+):([0-9a-f]+):trace:loaddll:\w+ Loaded L"((?:[^"\\]|\\.)*)" '
                     r'at ([0-9A-Fa-f]+)')
_RELAY = re.compile(r'^([0-9a-f]+):([0-9a-f]+):(Call|Ret ) (?:(window proc|dialog proc) '
                    r'([0-9A-Fa-f]+)|(PE DLL|TLS callback)|(\S+?)\.(\w+)\((.*)\) .*?'
                    r'ret=([0-9a-f]+)$)')


_MESSAGE = re.compile(r'\(hwnd=[0-9A-Fa-f]+,msg=([^,]+),wp=([0-9A-Fa-f]+),lp=([0-9A-Fa-f]+)\)')


def image_calls(err_path, exe_path, messages=False):
    """The calls a program's own code makes into DLLs, from a run with
    extra_debug=RELAY_DEBUG kept in err_path. The thread that loaded the
    program's image (its main thread) and the image's range come from the
    loaddll line and the file's SizeOfImage. A call is the program's own when
    its return address lies in the image, or when it is made directly from
    code of the image that Windows called (a window or dialog procedure, or
    the entry point, run by BaseThreadInitThunk): a tail call from there
    returns straight to the system. Returns (image base, [(module, function,
    argument text)] in order); base is None when the image never loaded. With
    messages, the messages the image's window procedures get on that thread
    are among them, in order, as ("window proc", message, "wp,lp")."""
    import pefile
    size = pefile.PE(exe_path, fast_load=True).OPTIONAL_HEADER.SizeOfImage
    name = os.path.basename(exe_path).lower()
    me, base, calls = None, None, []
    stack = []  # (frame name, whether the image's own code runs directly in it)
    with open(err_path, encoding="utf-8", errors="replace") as f:
        for line in f:
            if me is None:
                m = _LOADED.match(line)
                if m and decode_debugstr(m.group(3)).lower().rsplit("\\", 1)[-1] == name:
                    me, base = m.group(1, 2), int(m.group(4), 16)
                continue
            m = _RELAY.match(line.rstrip("\n"))
            if not m or m.group(1, 2) != me:
                continue

            def ours(address):
                return base <= int(address, 16) < base + size
            frame = m.group(4) or m.group(6) or m.group(7) + "." + m.group(8)
            if m.group(3) == "Ret ":
                names = [fr[0] for fr in stack]
                if frame in names:  # frames left without a Ret line are dropped too
                    del stack[len(names) - 1 - names[::-1].index(frame):]
                continue
            own = False
            if m.group(7):
                args = m.group(9)
                if ours(m.group(10)) or (stack and stack[-1][1]):
                    calls.append((m.group(7), m.group(8), args))
                start = args.split(",")[1:2]
                own = m.group(8) == "BaseThreadInitThunk" and bool(start) and ours(start[0])
            elif m.group(4):
                own = ours(m.group(5))
                message = _MESSAGE.search(line)
                if messages and own and message:
                    calls.append(("window proc", message.group(1), "%s,%s" % message.group(2, 3)))
            stack.append((frame, own))
    return base, calls


# ---------------------------------------------------------------- registry files

_REG_STR_ESC = re.compile(r'\\(x[0-9a-fA-F]{1,4}|n|r|t|0|"|\\)')


def _unescape_reg(s):
    def rep(m):
        g = m.group(1)
        if g[0] == "x":
            return chr(int(g[1:], 16))
        return {"n": "\n", "r": "\r", "t": "\t", "0": "\0", '"': '"', "\\": "\\"}[g]
    return _REG_STR_ESC.sub(rep, s)


_QSTR = r'"((?:[^"\\]|\\.)*)"'
_VALUE = re.compile(r'^(?:@|' + _QSTR + r')=(.*)$')


def parse_reg(path):
    """Parse a Wine system.reg/user.reg. Returns {lower-case key path:
    (key path, {lower-case value name: (name, type, data)})}; type is 'sz',
    'expand_sz', 'multi_sz', 'dword' or 'hex(N)'; the default value's name is ''."""
    keys = {}
    cur = None
    with open(path, encoding="utf-8", errors="replace") as f:
        lines = f.read().split("\n")
    i = 0
    while i < len(lines):
        line = lines[i]
        i += 1
        while line.endswith("\\") and i < len(lines) and not line.startswith("["):
            line = line[:-1] + lines[i].strip()
            i += 1
        if line.startswith("["):
            end = line.rfind("]")
            name = _unescape_reg(line[1:end])
            cur = keys.setdefault(name.lower(), (name, {}))[1]
            continue
        if cur is None or not line or line[0] not in '@"':
            continue
        m = _VALUE.match(line)
        if not m:
            continue
        vname = "" if line.startswith("@") else _unescape_reg(m.group(1))
        raw = m.group(2)
        if raw.startswith('"'):
            typ, data = "sz", _unescape_reg(raw[1:-1])
        elif raw.startswith('str(2):"'):
            typ, data = "expand_sz", _unescape_reg(raw[8:-1])
        elif raw.startswith('str(7):"'):
            typ, data = "multi_sz", _unescape_reg(raw[8:-1])
        elif raw.startswith("dword:"):
            typ, data = "dword", int(raw[6:], 16)
        else:
            hm = re.match(r"hex(\(\w+\))?:(.*)", raw)
            if not hm:
                continue
            typ = "hex" + (hm.group(1) or "")
            data = bytes(int(b, 16) for b in hm.group(2).split(",") if b.strip())
        cur[vname.lower()] = (vname, typ, data)
    return keys


def hklm(prefix):
    return parse_reg(os.path.join(prefix, "system.reg"))


def hkcu(prefix):
    return parse_reg(os.path.join(prefix, "user.reg"))


def values(keys, path):
    """{name: (type, data)} of key `path` (case-insensitive), or None if absent."""
    k = keys.get(path.lower())
    if k is None:
        return None
    return {n: (t, d) for n, t, d in k[1].values()}


def subkeys(keys, path):
    """Names of the direct subkeys of `path` (case-insensitive)."""
    pre = path.lower() + "\\"
    return sorted({keys[k][0][len(pre):].split("\\")[0] for k in keys if k.startswith(pre)})


LAYOUTS = r"System\CurrentControlSet\Control\Keyboard Layouts"
PRELOAD = r"Keyboard Layout\Preload"


def build_windows_exe(src, out, extra=(), cc=None):
    """Compile a small C file with mingw-w64 for the prefix's architecture, or
    with the compiler `cc` (rebuilt if newer)."""
    if not os.path.exists(out) or os.path.getmtime(out) < os.path.getmtime(src):
        os.makedirs(os.path.dirname(out) or ".", exist_ok=True)
        subprocess.run([cc or ARCH["cc"], "-O2", "-s", "-o", out, src] + list(extra),
                       check=True, stdin=subprocess.DEVNULL, timeout=120)
    return out


if __name__ == "__main__":
    import sys
    if sys.argv[1:] != ["i386-refused"]:
        sys.exit("usage: winerun.py i386-refused")
    reason = i386_refused()
    if reason:
        print(reason)
    sys.exit(0 if reason else 1)
