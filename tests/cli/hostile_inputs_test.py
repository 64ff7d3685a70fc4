#!/usr/bin/env python3
"""Hostile but realistic inputs, each row through every format it applies to.

Each row sets up a source tree, runs tarvelin-cli on it (under prlimit when it gives limits, with
an action while the run goes when it gives one) and asserts the exit status, the one line it
expects on stderr, and that every listed message was converted exactly once, byte for byte (for
mbox: in its mboxrd form), or was reported; an exit status of 2 means the run did not start, so
then stderr is that one line and nothing was written.

A row is a Row in ROWS: a name; setup(ctx), which writes the source tree below ctx.src (and may
arrange ctx.out or run the program first); the formats it runs in; the arguments and PATHs, where
"{src}", "{out}" and "{top}" stand for the folders; optional prlimit limits and an action
during(ctx, process) while the run goes; the expected exit status and a regex that one line of
stderr must match; an optional check(ctx) giving more faults as texts; compare="new" to count only
the messages the run added; needs(), which says why the row cannot run here (None when it can).

Usage: hostile_inputs_test.py TARVELIN_CLI [ROW-NAME...]
Exit status 0 when every row passed, 1 when any failed, 77 when every row was skipped (a row
whose needs the machine lacks, prlimit for limits among them, is skipped with one line).
"""

import collections
import csv
import dataclasses
import io
import os
import re
import shutil
import signal
import subprocess
import sys
import tempfile
import time
import urllib.parse
from typing import Callable, Optional

FORMATS = ("eml", "maildir", "mbox")
TIMEOUT = 180


@dataclasses.dataclass
class Context:
    cli: str
    fmt: str
    top: str  # the temporary folder of the row
    src: str  # the source tree, the usual PATH
    out: str  # the output folder
    status: int = 0
    stdout: bytes = b""
    stderr: bytes = b""
    before: dict = dataclasses.field(default_factory=dict)  # the output's messages before the run
    notes: dict = dataclasses.field(default_factory=dict)  # what set-up and actions learnt
    row: object = None

    def command(self, *extra):
        return [self.cli, "--format=" + self.fmt, "-o", self.out, *extra]


@dataclasses.dataclass
class Row:
    name: str
    setup: Callable[[Context], None]
    formats: tuple = FORMATS
    args: tuple = ()  # "{src}", "{out}" and "{top}" stand for the folders
    paths: tuple = ("{src}",)
    output: str = "{top}/out"
    limits: Optional[dict] = None  # prlimit's resources, e.g. {"nofile": 32}
    during: Optional[Callable[[Context, subprocess.Popen], None]] = None
    status: int = 0
    line: Optional[str] = None  # a regex that one line of stderr must match
    check: Optional[Callable[[Context], list]] = None  # more faults of the output, as texts
    compare: str = "all"  # "all": every message below the output; "new": those the run added
    needs: Optional[Callable[[], Optional[str]]] = None  # why the row cannot run here, or None


# --- Messages and files ---------------------------------------------------------------------------

def message(subject, date="Sun, 1 Jul 2012 10:00:00 +0000", body="Hello\r\n"):
    if isinstance(subject, str):
        subject = subject.encode()
    return (b"From: Ann <ann@example.org>\r\nSubject: " + subject + b"\r\nDate: " + date.encode() +
            b"\r\n\r\n" + body.encode())


def write(path, data):
    path = os.fsencode(path)
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as f:
        f.write(data)


def set_time(path, seconds):
    os.utime(os.fsencode(path), (seconds, seconds))


def escaped(data: bytes) -> bytes:
    """The program's escaped form of a path: bytes that are not UTF-8, control characters, the
    line and paragraph separators and "%" as %HH."""
    out = ""
    for char in data.decode("utf-8", "surrogateescape"):
        if "\udc80" <= char <= "\udcff":
            out += "%%%02X" % (ord(char) - 0xDC00)
        elif ord(char) < 0x20 or 0x7F <= ord(char) <= 0x9F or char in "\u2028\u2029%":
            out += "".join("%%%02X" % b for b in char.encode())
        else:
            out += char
    return out.encode()


def mboxrd(data: bytes) -> bytes:
    """A message as the mbox writer stores it: CR LF made LF, ">*From " lines quoted, an LF at the end."""
    *ended, last = data.split(b"\n")
    out = []
    for line in [line[:-1] if line.endswith(b"\r") else line for line in ended] + ([last] if last else []):
        out.append((b">" if re.match(rb">*From ", line) else b"") + line + b"\n")
    return b"".join(out)


def walk_files(root):
    root = os.fsencode(root)
    for folder, dirs, files in os.walk(root):
        dirs.sort()
        for name in sorted(files):
            yield os.path.join(folder, name)


def listed_messages(ctx, row):
    """The messages the program lists, as the scan finds them: regular files or links whose name
    ends in .msg, left out the output folder."""
    out = os.fsencode(ctx.out).rstrip(b"/") + b"/"
    listed = []
    for path in row.paths:
        path = os.fsencode(path.format(src=ctx.src, out=ctx.out, top=ctx.top))
        if not os.path.isdir(path):
            listed.append(path)
            continue
        for file in walk_files(path):
            if file.startswith(out):
                continue
            if file.rstrip(b" ").lower().endswith(b".msg") and not os.path.isdir(file):
                listed.append(file)
    return listed


def output_messages(ctx):
    """Every message below the output folder as (file, bytes): .eml files, Maildir files in cur/,
    the messages of mbox files."""
    found = []
    if not os.path.isdir(ctx.out):
        return found
    for file in walk_files(ctx.out):
        name = os.path.basename(file)
        if name.startswith(b".tarvelin"):
            continue
        if ctx.fmt == "eml" and name.endswith(b".eml"):
            found.append((file, read(file)))
        elif ctx.fmt == "maildir" and os.path.basename(os.path.dirname(file)) == b"cur":
            found.append((file, read(file)))
        elif ctx.fmt == "mbox" and not os.path.basename(os.path.dirname(file)) in (b"cur", b"new", b"tmp"):
            for number, text in enumerate(mbox_messages(read(file))):
                found.append((file + b"#%d" % number, text))
    return found


def mbox_messages(data):
    messages, current = [], None
    for line in data.splitlines(keepends=True):
        if line.startswith(b"From "):
            if current is not None:
                messages.append(current)
            current = []
        elif current is not None:
            current.append(line)
    if current is not None:
        messages.append(current)
    # Each message ends in the empty line that parts it from the next.
    return [b"".join(m[:-1] if m and m[-1] == b"\n" else m) for m in messages]


def read(path):
    with open(path, "rb") as f:
        return f.read()


def stderr_records(ctx):
    return [r for r in re.split(rb"[\n\0]", ctx.stderr) if r]


def run(command, limits=None, env=None, **kwargs):
    if limits and "nproc" in limits and os.geteuid() == 0:
        # Root is held to no limit of processes: the run goes on as nobody, in a tree it owns.
        command = ["setpriv", "--reuid=%d" % NOBODY, "--regid=%d" % NOBODY, "--clear-groups"] + command
    if limits:
        command = ["prlimit"] + ["--%s=%s" % (k, v) for k, v in limits.items()] + ["--"] + command
    return subprocess.Popen(command, stdout=subprocess.PIPE, stderr=subprocess.PIPE, env=env or ENV, **kwargs)


ENV = dict(os.environ, TZ="UTC", LC_ALL="C")
NOBODY = 65534


def give_to_nobody(top):
    os.chmod(os.path.dirname(top), 0o711)
    for folder, folders, files in os.walk(top):
        for name in [folder] + [os.path.join(folder, n) for n in folders + files]:
            os.lchown(name, NOBODY, NOBODY)


def wait_for(condition, seconds=30):
    end = time.monotonic() + seconds
    while time.monotonic() < end:
        if condition():
            return True
        time.sleep(0.002)
    return False


# --- The checks every row makes -------------------------------------------------------------------

def check_row(ctx, row):
    faults = []
    if ctx.status != row.status:
        faults.append("exit status %d, expected %d" % (ctx.status, row.status))
    lines = [r.decode("utf-8", "replace") for r in stderr_records(ctx)]
    if row.line is not None and not any(re.search(row.line, line) for line in lines):
        faults.append("no line on stderr matches %r" % row.line)
    if row.status == 2:
        if len(lines) != 1 or ctx.stderr.count(b"\n") != 1:
            faults.append("not one line on stderr")
        if output_messages(ctx):
            faults.append("a run that did not start wrote something")
        return faults

    records = stderr_records(ctx)
    expected = collections.Counter()
    for path in listed_messages(ctx, row):
        if any(r.startswith(escaped(path) + b": ") for r in records):
            continue
        data = read(path) if os.path.isfile(path) else None
        if data is None:
            faults.append("%r neither converted nor reported" % path)
            continue
        expected[mboxrd(data) if ctx.fmt == "mbox" else data] += 1
    found = collections.Counter(data for _, data in output_messages(ctx))
    if row.compare == "new":
        found -= collections.Counter(ctx.before)
    for what, differ in (("missing", expected - found), ("one copy too many", found - expected)):
        if differ:
            faults.append("%s: %d of %d messages, e.g. %r" % (what, len(differ), len(expected), next(iter(differ))[:70]))
    return faults


def run_row(cli, row, fmt, work):
    top = tempfile.mkdtemp(dir=work)
    ctx = Context(cli=cli, fmt=fmt, top=top, src=os.path.join(top, "src"), out="", row=row)
    ctx.out = row.output.format(top=top, src=ctx.src)
    os.makedirs(ctx.src)
    row.setup(ctx)
    ctx.before = collections.Counter(data for _, data in output_messages(ctx))
    fill = lambda a: a.format(src=ctx.src, out=ctx.out, top=ctx.top)
    if row.limits and "nproc" in row.limits and os.geteuid() == 0:
        # A copy of the program, which nobody can reach wherever the build lies.
        ctx.cli = shutil.copy(cli, os.path.join(top, "tarvelin-cli"))
        give_to_nobody(top)
    command = ctx.command(*[fill(a) for a in row.args], *[fill(p) for p in row.paths])
    process = run(command, row.limits)
    if row.during:
        row.during(ctx, process)
    try:
        ctx.stdout, ctx.stderr = process.communicate(timeout=TIMEOUT)
    except subprocess.TimeoutExpired:
        process.kill()
        ctx.stdout, ctx.stderr = process.communicate()
        return ["did not end within %d s" % TIMEOUT]
    ctx.status = process.returncode
    faults = check_row(ctx, row)
    if row.check:
        faults += row.check(ctx)
    if faults:
        faults.append("stderr: %r" % ctx.stderr[-600:])
    return faults


# --- The rows -------------------------------------------------------------------------------------

def weird_names(ctx):
    """Names that are hard to hold, which every format converts."""
    s = ctx.src.encode()
    for name in (b"tab\there.msg", b"cr\rhere.msg", b"new\nline.msg", b"bad\xff\xfe.msg", b"x" * 240 + b".msg",
                 b"trailing dot./a.msg", b"trailing blank /a.msg", b"UPPER.MSG", "Ärger/邮件.msg".encode()):
        write(s + b"/" + name, message(b"Name " + name.replace(b"\n", b" ").replace(b"\r", b" ")))
    write(s + b"/deep/" + b"/".join(b"d%d" % i for i in range(60)) + b"/m.msg", message("deep"))
    write(s + b"/subjects/forbidden.msg", message(':?\\/*"<>| and CON'))
    write(s + b"/subjects/long.msg", message("\u00e9" * 300))
    write(s + b"/subjects/con.msg", message("CON"))
    os.mkfifo(s + b"/fifo.msg")


def many(ctx, count=300, big=0):
    for i in range(count):
        write("%s/m%03d/%d.msg" % (ctx.src, i % 10, i), message("number %d" % i, body="line %d\r\n" % i))
    if big:
        write(ctx.src + "/m000/0big.msg", message("big", body="x" * (big << 20) + "\r\n"))


def dangling_output(ctx):
    many(ctx, 3)
    os.symlink(os.path.join(ctx.top, "nowhere"), ctx.out)


def arch_tree_and_a_first_run(ctx):
    write(ctx.src + "/a.msg", message("A"))
    write(ctx.src + "/arch.msg/b.msg", message("B"))
    first = run(ctx.command(ctx.src))
    first.communicate(timeout=TIMEOUT)
    ctx.notes["first"] = first.returncode


def second_run_while_the_first_writes(ctx, first):
    wait_for(lambda: os.path.isdir(ctx.out) and any(True for _ in walk_files(ctx.out)))
    second = run(ctx.command("--skip-identical", ctx.src))
    _, err = second.communicate(timeout=TIMEOUT)
    ctx.notes["second"] = (second.returncode, err)


def check_second_refused(ctx):
    status, err = ctx.notes.get("second", (None, b""))
    faults = []
    if status != 2:
        faults.append("the second run ended with %s, not 2" % status)
    if not re.fullmatch(rb"tarvelin-cli: cannot write to the folder .*: another run of Tarvelin is writing to it\n", err):
        faults.append("the second run said %r" % err[-300:])
    return faults


def ours(path):
    return os.path.basename(path).startswith(b".tarvelin")


def killed_run_first(ctx):
    many(ctx, 400, big=48)
    first = run(ctx.command("-j4", "--skip-identical", ctx.src))
    # Killed while copies are staged: their temporary files are there.
    wait_for(lambda: os.path.isdir(ctx.out) and any(ours(f) and not f.endswith(b".lock") for f in walk_files(ctx.out)))
    first.send_signal(signal.SIGKILL)
    first.communicate()
    ctx.notes["left"] = [f for f in walk_files(ctx.out) if ours(f)]


def no_leftovers(ctx):
    left = [f for f in walk_files(ctx.out) if ours(f)]
    left += [d for d, _, _ in os.walk(os.fsencode(ctx.out)) if ours(d)]
    faults = ["left behind: %r" % f for f in left]
    if not ctx.notes.get("left"):
        faults.append("the killed run left nothing to clean (killed too late?)")
    return faults


def bidi_subjects(ctx):
    for i, subject in enumerate(("Invoice\u202efdp", "\u200fshalom\u200e", "a\u2066b\u2069c\u061c")):
        write("%s/%d.msg" % (ctx.src, i), message(subject))


def names_are(*patterns):
    """A check: the output's messages are named as the patterns say, one each, in sorted order."""
    def check(ctx):
        names = sorted(os.path.basename(f).decode("utf-8", "surrogateescape") for f, _ in output_messages(ctx))
        matched = len(names) == len(patterns) and all(re.fullmatch(p, n) for p, n in zip(patterns, names))
        return [] if matched else ["names %r, expected %r" % (names, patterns)]
    return check


def failing_hostile_names(ctx):
    s = ctx.src.encode()
    write(s + b"/ok.msg", message("ok"))
    os.symlink(b"/nowhere", s + b"/gone\nnext.msg")
    os.mkfifo(s + b"/fifo\tname\xff.msg")


def failure_records(ctx, end):
    """Each failure is one record after the path's escaped form, ended by `end`."""
    faults = []
    for name in (b"gone\nnext.msg", b"fifo\tname\xff.msg"):
        record = escaped(os.path.join(ctx.src.encode(), name)) + b": "
        at = ctx.stderr.find(record)
        if at < 0 or (at > 0 and ctx.stderr[at - 1:at] not in (b"\n", b"\0")):
            faults.append("no record starts with %r" % record)
            continue
        stop = re.search(rb"[\n\0]", ctx.stderr[at:])
        if not stop or stop.group() != end:
            faults.append("the record of %r does not end in %r" % (name, end))
    return faults


def names_for_the_index(ctx):
    s = ctx.src.encode()
    for name in (b"new\nline.msg", b"bad\xff.msg", b"50% off.msg", b"plain.msg"):
        write(s + b"/" + name, message("indexed"))


def index_is_utf8_and_exact(ctx):
    try:
        text = read(os.path.join(ctx.top, "index.csv")).decode("utf-8-sig")
    except UnicodeDecodeError as error:
        return ["the index is not UTF-8: %s" % error]
    rows = list(csv.reader(io.StringIO(text, newline="")))
    sources = sorted(urllib.parse.unquote_to_bytes(row[1]) for row in rows[1:])
    wanted = sorted(listed_messages(ctx, ctx.row))
    return [] if sources == wanted else ["index sources %r, expected %r" % (sources, wanted)]


def dated(date, file_time=None):
    def setup(ctx):
        write(ctx.src + "/d.msg", message("dated", date=date))
        if file_time is not None:
            set_time(ctx.src + "/d.msg", file_time)
    return setup


def separators_have_four_digit_years(ctx):
    lines = [l for f in walk_files(ctx.out) for l in read(f).splitlines() if l.startswith(b"From ")]
    form = rb"From MAILER-DAEMON \w{3} \w{3} [ \d]\d \d\d:\d\d:\d\d \d{4}"
    return [] if lines and all(re.fullmatch(form, l) for l in lines) else ["separator lines %r" % lines]



def live_message(ctx):
    """A message that a writer rewrites in place while the run copies it, beside a quiet one."""
    write(ctx.src + "/quiet.msg", message("quiet"))
    live = ctx.src + "/ch/live.msg"
    write(live, b"Subject: x\r\nX-V: %020d\r\n\r\n" % 0 + b"x" * (64 << 20) + b"%020d\r\n" % 0)
    ctx.notes["live"] = live


def rewriter(keep_time=False, append=False):
    """An action while the run goes: rewrites both counters of the live message (or appends to
    it) until the run ends; with keep_time, sets the modification time back after each write."""
    def during(ctx, process):
        path = ctx.notes["live"]
        original = os.stat(path)
        fd = os.open(path, os.O_WRONLY)
        try:
            count = 0
            while process.poll() is None:
                count += 1
                if append:
                    os.pwrite(fd, b"%020d\r\n" % count, os.fstat(fd).st_size)
                else:
                    os.pwrite(fd, b"%020d" % count, 17)
                    os.pwrite(fd, b"%020d" % count, original.st_size - 22)
                if keep_time:
                    os.utime(path, ns=(original.st_atime_ns, original.st_mtime_ns))
                time.sleep(0.001)
        finally:
            os.close(fd)
    return during


def headerless_giant(ctx):
    """400 MB with no end of header anywhere (a sparse file of zeros), then a small message."""
    write(ctx.src + "/sp/ok.msg", message("after the giant"))
    with open(ctx.src + "/sp/big.msg", "wb") as f:
        f.truncate(400 << 20)


def can_drop_root():
    return "setpriv is missing" if os.geteuid() == 0 and not shutil.which("setpriv") else None


CHANGED = r"live\.msg: .*the message changed while it was copied$"


ROWS = [
    Row("names that hold already", weird_names, status=1, line=r"fifo\.msg: cannot copy the message: it is not a regular file"),
    *[Row("dangling output link" + label, dangling_output, output="{top}/link", args=args, status=2,
          line=r"^tarvelin-cli: cannot create the folder .*/link: a symbolic link that leads nowhere is in the way$")
      for label, args in (("", ()), (", dry run", ("--dry-run",)))],
    Row("output inside the source, second run", arch_tree_and_a_first_run, output="{src}/out", args=("-v",),
        compare="new", line=r"/src/out/: left out of the scan: it is the output folder$"),
    Row("second run into a folder being written", lambda ctx: many(ctx, 400, big=32), formats=("eml", "maildir"),
        args=("-j1", "--skip-identical"), during=second_run_while_the_first_writes, check=check_second_refused),
    Row("leftover of a killed run", killed_run_first, formats=("eml", "maildir"), args=("-j4", "--skip-identical"),
        check=no_leftovers),
    Row("bidi controls in subjects", bidi_subjects, formats=("eml",), args=("-n", "OptSD"),
        check=names_are(*(r"%s 01-07-2012\.eml" % n for n in ("Invoicefdp", "abc", "shalom")))),
    Row("failure lines stay one", failing_hostile_names, status=1, check=lambda ctx: failure_records(ctx, b"\n"),
        line=r"gone%0Anext\.msg: cannot open the message"),
    Row("failure records end in NUL with -z", failing_hostile_names, args=("-z",), status=1,
        check=lambda ctx: failure_records(ctx, b"\0"), line=r"fifo%09name%FF\.msg: cannot copy the message"),
    Row("index holds exact paths", names_for_the_index, args=("--index={top}/index.csv",),
        check=index_is_utf8_and_exact),
    Row("date before 1970 in a Maildir name", dated("Wed, 31 Dec 1969 12:00:00 +0000"), formats=("maildir",),
        check=names_are(r"\d+\.H[0-9a-f]{16}\.tarvelin")),
    Row("date after 9999 in an mbox separator", dated("Fri, 31 Dec 9999 23:00:00 -0500"), formats=("mbox",),
        check=separators_have_four_digit_years),
    Row("year 0000 is no year 2000", dated("Sat, 1 Jan 0000 10:00:00 +0000", file_time=1341144000), formats=("eml",),
        args=("-n", "OptSD"), check=names_are(r"dated 01-07-2012\.eml")),

    # Torn or grown while copied: never a copy of two states, always said.
    *[Row("message rewritten while copied" + label, live_message, args=("-j1",), during=rewriter(**how), status=1,
          line=CHANGED)
      for label, how in (("", {}), (", size and time kept", {"keep_time": True}), (", appended to", {"append": True}))],
    # Read as a body, converted byte for byte in bounded memory; the next message too.
    Row("400 MB message with no end of header", headerless_giant, limits={"as": 1500000 * 1024}),
    # Fewer workers, said once, everything converted.
    Row("few processes allowed", lambda ctx: many(ctx, 200), limits={"nproc": 8}, needs=can_drop_root,
        line=r"workers? could start"),
    # As many workers as the memory holds; the header library is set up before they start.
    Row("little memory for workers", lambda ctx: many(ctx, 200), limits={"as": 100000 * 1024},
        line=r"workers? could start"),
    # Open files throttled: nothing fails for want of a descriptor.
    *[Row("32 open files at %s" % jobs, lambda ctx: many(ctx, 1000), args=(jobs,), limits={"nofile": 32})
      for jobs in ("-j1", "-j16")],
]


def main():
    if len(sys.argv) < 2:
        print(__doc__)
        return 2
    cli = os.path.abspath(sys.argv[1])
    wanted = set(sys.argv[2:])
    work = tempfile.mkdtemp(prefix="tarvelin-hostile-")
    failed = passed = skipped = 0
    try:
        for row in ROWS:
            if wanted and row.name not in wanted:
                continue
            reason = row.needs() if row.needs else None
            if not reason and row.limits and not shutil.which("prlimit"):
                reason = "prlimit is missing"
            if not reason and {"as", "nproc"} & set(row.limits or ()) and os.environ.get("TARVELIN_SANITIZED"):
                reason = "a sanitizer's shadow memory and threads count against this limit"
            if reason:
                print("SKIP %s: %s" % (row.name, reason))
                skipped += 1
                continue
            for fmt in row.formats:
                faults = run_row(cli, row, fmt, work)
                print("%s %s [%s]" % ("FAIL" if faults else "PASS", row.name, fmt))
                for fault in faults:
                    print("    " + fault)
                failed += bool(faults)
                passed += not faults
    finally:
        shutil.rmtree(work, ignore_errors=True)
    print("%d passed, %d failed, %d rows skipped" % (passed, failed, skipped))
    if failed:
        return 1
    return 77 if skipped and not passed else 0


if __name__ == "__main__":
    sys.exit(main())
