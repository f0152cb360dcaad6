"""Runs the unittest cases of a test module in several worker processes.

The parent (run_cases) hands the cases out one at a time, longest expected
first, to workers that each run the module again with --worker (serve): each
worker has its own module set-up (its own Xvfb) and runs the cases it is
handed in one unittest suite, so module and class fixtures run as unittest
runs them. A worker reports each case when it ends, with everything the case
printed (its file descriptors 1 and 2 are captured, so the programs it starts
are caught too); the parent prints each report whole, so the output of
parallel cases is never mixed within a line. At the end come the slowest
cases and the total time. Each case's time is kept in a file, for the order
of the next run.
"""
import json
import os
import select
import signal
import subprocess
import sys
import tempfile
import time
import traceback
import unittest

FAILED = ("FAIL", "ERROR", "NOT RUN", "UNEXPECTED SUCCESS")


def flatten(suite):
    for t in suite:
        if isinstance(t, unittest.TestSuite):
            yield from flatten(t)
        else:
            yield t


def short_id(test_id):
    return test_id.split(".", 1)[1] if test_id.startswith("__main__.") else test_id


def worker_count(cases):
    """Workers for `cases`: E2E_WORKERS when set, else one more than there are
    processors (a case waits for Wine and X now and then), with at least
    1.5 GiB of free memory each (a case of a full system directory holds a
    copy of it on a tmpfs)."""
    env = os.environ.get("E2E_WORKERS", "").strip()
    if env:
        try:
            n = int(env)
        except ValueError:
            raise SystemExit("E2E_WORKERS must be a number, not %r" % env)
        how = "E2E_WORKERS=%s" % env
    else:
        cpus = len(os.sched_getaffinity(0))
        avail = None
        try:
            with open("/proc/meminfo") as f:
                for line in f:
                    if line.startswith("MemAvailable:"):
                        avail = int(line.split()[1]) * 1024
        except OSError:
            pass
        n = cpus + 1
        how = "%d processors" % cpus
        if avail is not None:
            n = min(n, int(avail / (1.5 * 2 ** 30)))
            how += ", %.1f GiB of memory available" % (avail / 2 ** 30)
        how += "; E2E_WORKERS sets the number"
    return max(1, min(n, cases)), how


# ---------------------------------------------------------------- worker side

class _Capture:
    """File descriptors 1 and 2 of this process, redirected into a file (opened
    for appending, so every writer writes at its end) that take() empties."""

    def __init__(self, folder):
        fd, path = tempfile.mkstemp(prefix="worker-", suffix=".out", dir=folder)
        os.close(fd)
        self.f = open(path, "a+b")
        os.unlink(path)
        sys.stdout.flush()
        sys.stderr.flush()
        os.dup2(self.f.fileno(), 1)
        os.dup2(self.f.fileno(), 2)

    def take(self):
        sys.stdout.flush()
        sys.stderr.flush()
        self.f.seek(0)
        data = self.f.read()
        self.f.truncate(0)
        return data.decode("utf-8", "replace")


class _Reporter(unittest.TestResult):
    """Sends one report per case when it ends, and anything printed or raised
    outside the cases (module and class fixtures) as a note."""

    def __init__(self, send, capture):
        super().__init__()
        self.send = send
        self.capture = capture
        self.case = None
        self.started = set()
        self.fixture_errors = []  # what stopped unittest running the cases handed since
        self.fixture_skip = None

    def note(self, extra=""):
        text = self.capture.take() + extra
        if text.strip():
            self.send({"note": text})

    def startTest(self, test):
        super().startTest(test)
        self.note()
        self.started.add(test.id())
        self.fixture_errors, self.fixture_skip = [], None
        self.case = {"case": test.id(), "status": "ok", "details": [], "t0": time.time()}

    def _record(self, test, status, text):
        if self.case is None or test is None:  # a module or class fixture failed
            self.fixture_errors.append(text)
            self.send({"note": self.capture.take() + text, "failed": text.split("\n", 1)[0]})
            return
        if self.case["status"] in ("ok", "FAIL") or status == "ERROR":
            self.case["status"] = status
        self.case["details"].append(text)

    def addError(self, test, err):
        super().addError(test, err)
        case = test if isinstance(test, unittest.TestCase) else None
        self._record(case, "ERROR", "%s\n%s" % (test, self.errors[-1][1]))

    def addFailure(self, test, err):
        super().addFailure(test, err)
        self._record(test, "FAIL", self.failures[-1][1])

    def addSubTest(self, test, subtest, err):
        super().addSubTest(test, subtest, err)
        if err is not None:
            failure = issubclass(err[0], test.failureException)
            text = (self.failures if failure else self.errors)[-1][1]
            self._record(test, "FAIL" if failure else "ERROR", "%s\n%s" % (subtest, text))

    def addSkip(self, test, reason):
        super().addSkip(test, reason)
        if self.case is None:  # a whole class or module skipped
            self.fixture_skip = "%s skipped: %s" % (test, reason)
            return
        self.case["status"] = "skipped"
        self.case["details"].append("skipped: %s" % reason)

    def addExpectedFailure(self, test, err):
        super().addExpectedFailure(test, err)
        self.case["status"] = "expected failure"

    def addUnexpectedSuccess(self, test):
        super().addUnexpectedSuccess(test)
        self.case["status"] = "UNEXPECTED SUCCESS"

    def stopTest(self, test):
        super().stopTest(test)
        case, self.case = self.case, None
        case["seconds"] = time.time() - case.pop("t0")
        case["output"] = self.capture.take()
        if case["status"] in FAILED:
            case["kept"] = [p for p in getattr(test, "prefixes", []) if os.path.isdir(p)]
        self.send(case)


class _Handed(unittest.TestSuite):
    """The cases the parent hands this worker, one at a time, read from stdin;
    a case unittest passed over (its module or class set-up failed) is reported
    as not run."""
    _cleanup = False

    def __init__(self, by_id, reporter):
        super().__init__()
        self.by_id = by_id
        self.reporter = reporter

    def _passed_over(self, test):
        r = self.reporter
        if test is None or test.id() in r.started:
            return
        if r.fixture_errors:
            status, details = "NOT RUN", ["%s failed (above)" % e.split("\n", 1)[0]
                                          for e in r.fixture_errors]
        elif r.fixture_skip:
            status, details = "skipped", [r.fixture_skip]
        else:
            status, details = "NOT RUN", ["passed over by unittest"]
        r.send({"case": test.id(), "status": status, "seconds": 0.0,
                "output": r.capture.take(), "details": details})

    def __iter__(self):
        previous = None
        while True:
            # Unittest asks for the next case only once it is done with the previous one.
            self._passed_over(previous)
            line = sys.stdin.readline()
            if not line:
                return
            previous = self.by_id[line.strip()]
            yield previous


def serve(tests, build):
    """Worker side: runs the cases named on stdin, one per line, and writes one
    JSON report per line to the stdout it was started with."""
    channel = os.fdopen(os.dup(1), "w", buffering=1, encoding="utf-8")

    def send(message):
        channel.write(json.dumps(message) + "\n")
    capture = _Capture(build)
    reporter = _Reporter(send, capture)
    try:
        _Handed({t.id(): t for t in tests}, reporter).run(reporter)
    except BaseException:
        reporter.note(traceback.format_exc())
        raise
    reporter.note()
    return 0


# ---------------------------------------------------------------- parent side

class _Worker:
    def __init__(self, number, command):
        self.number = number
        self.proc = subprocess.Popen(command, stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                                     stderr=subprocess.STDOUT, start_new_session=True)
        self.buffer = b""
        self.case = None  # the case id it is running
        self.started = None

    def hand(self, case):
        self.case, self.started = case, time.time()
        try:
            self.proc.stdin.write((case + "\n").encode())
            self.proc.stdin.flush()
        except BrokenPipeError:  # it has ended: the case is reported when its output ends
            pass

    def finish(self):
        try:
            self.proc.stdin.close()
        except BrokenPipeError:
            pass

    def messages(self):
        """Reports complete so far; None once the worker's output has ended."""
        data = os.read(self.proc.stdout.fileno(), 65536)
        if not data:
            return None
        self.buffer += data
        lines = self.buffer.split(b"\n")
        self.buffer = lines.pop()
        out = []
        for line in lines:
            try:
                out.append(json.loads(line))
            except ValueError:  # said outside the channel (before its output was captured)
                out.append({"note": line.decode("utf-8", "replace") + "\n"})
        return out


def _indent(text, prefix="    "):
    if not text.strip():
        return ""
    return "".join(prefix + line + "\n" for line in text.strip("\n").split("\n"))


def _load_times(path):
    try:
        with open(path) as f:
            return {k: float(v) for k, v in json.load(f).items()}
    except (OSError, ValueError, AttributeError):
        return {}


def run_cases(cases, workers, command, times_path, estimate, out=sys.stdout):
    """Runs `cases` (TestCase objects) in `workers` processes started with
    `command` (which serves them); estimate(case) is the expected time of a
    case never timed. Prints each case's report, the slowest five and the
    total. Returns (passed, failed)."""
    t0 = time.time()
    known = _load_times(times_path)
    expected = {c.id(): known.get(c.id(), estimate(c)) for c in cases}
    queue = sorted(expected, key=lambda i: -expected[i])
    total = len(queue)
    reports = {}
    others = []  # failures outside the cases: fixtures, workers that failed

    def say(text):
        out.write(text)
        out.flush()

    def report(r, worker=None):
        reports[r["case"]] = r
        block = "[%2d/%d] %-18s %6.1fs  %s%s\n" % (
            len(reports), total, r["status"], r["seconds"], short_id(r["case"]),
            "  (worker %d)" % worker.number if worker else "")
        block += _indent(r.get("output", ""))
        for d in r.get("details", []):
            block += _indent(d)
        for p in r.get("kept", []):
            block += "    prefix kept: %s\n" % p
        say(block)

    def stop(signum, frame):
        raise SystemExit(128 + signum)  # through the clean-up below
    for signum in (signal.SIGTERM, signal.SIGHUP):
        signal.signal(signum, stop)
    pool = [_Worker(i + 1, command) for i in range(workers)]
    for worker in pool:
        if queue:
            worker.hand(queue.pop(0))
        else:
            worker.finish()
    live = {worker.proc.stdout.fileno(): worker for worker in pool}
    try:
        while live:
            ready, _, _ = select.select(list(live), [], [])
            for fd in ready:
                worker = live[fd]
                messages = worker.messages()
                if messages is None:  # the worker has ended
                    del live[fd]
                    status = worker.proc.wait()
                    if worker.case is not None:
                        report({"case": worker.case, "status": "ERROR",
                                "seconds": time.time() - worker.started,
                                "details": ["worker %d ended (status %d) while running it"
                                            % (worker.number, status)]}, worker)
                        worker.case = None
                    elif status != 0:
                        others.append("worker %d ended with status %d" % (worker.number, status))
                    continue
                for m in messages:
                    if "note" in m:
                        say("(worker %d)\n%s" % (worker.number, _indent(m["note"])))
                        if "failed" in m:
                            others.append("worker %d: %s" % (worker.number, m["failed"]))
                        continue
                    if m["case"] == worker.case:
                        worker.case = None
                    report(m, worker)
                    if worker.case is None:
                        if queue:
                            worker.hand(queue.pop(0))
                        else:
                            worker.finish()
    finally:
        for worker in pool:
            if worker.proc.poll() is None:
                try:
                    os.killpg(worker.proc.pid, signal.SIGTERM)
                except ProcessLookupError:
                    pass
                try:
                    worker.proc.wait(timeout=30)
                except subprocess.TimeoutExpired:
                    os.killpg(worker.proc.pid, signal.SIGKILL)
    wall = time.time() - t0

    for case in [c for c in expected if c not in reports]:
        report({"case": case, "status": "NOT RUN", "seconds": 0.0,
                "details": ["no worker was left to run it"]})
    failed = sorted(i for i, r in reports.items() if r["status"] in FAILED)
    skipped = sum(1 for r in reports.values() if r["status"] == "skipped")
    timed = sorted(reports.values(), key=lambda r: -r["seconds"])
    say("slowest cases:\n" + "".join("  %6.1fs  %s\n" % (r["seconds"], short_id(r["case"]))
                                      for r in timed[:5]))
    for i in failed:
        say("failed: %s%s\n" % (short_id(i), "".join("\n    prefix kept: %s" % p
                                                     for p in reports[i].get("kept", []))))
    for text in others:
        say("failed: %s\n" % text)
    known.update({i: r["seconds"] for i, r in reports.items() if r["status"] == "ok"})
    try:
        with open(times_path, "w") as f:
            json.dump(known, f, indent=0, sort_keys=True)
    except OSError:
        pass
    passed = len(reports) - len(failed) - skipped
    failures = len(failed) + len(others)
    say("e2e: %d passed, %d failed%s in %.1fs with %d worker%s (the cases' own times add up "
        "to %.1fs)\n" % (passed, failures, ", %d skipped" % skipped if skipped else "",
                         wall, workers, "" if workers == 1 else "s",
                         sum(r["seconds"] for r in reports.values())))
    return passed, failures
