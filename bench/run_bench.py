#!/usr/bin/env python3
"""Runs the benchmark pairs side by side and prints the median ratios against their targets.

    bench/run_bench.py [--only M,...] [--skip M,...] [--scale F | --quick] [--data DIR] [--disk DIR]
                       [--build DIR] [--reps N] [--share-models NAMES] [--keep] [--list]

Builds the programs it needs in --build (default: build-bench beside this folder; the window's
programs only when a window measure runs), writes its trees below --data and removes each tree
once no remaining measure needs it, unless --keep. Without --data, a fresh RAM disk is mounted
under /tmp when run as root (else /dev/shm is used), so that the ratios show our cost and not
the disk's. --scale multiplies every tree's size (--quick is --scale 0.1). The share measures
run on each of the share models (--share-models picks some). Nothing here is a test: the
numbers depend on the machine and on what else runs on it.
"""
import argparse
import os
import re
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
REPO = os.path.dirname(HERE)
NAMING = "OptSD"  # reads subject and date: the header read is part of every conversion
SHARE_PARTS = (8, 16)  # the parallel baselines: the files split into this many concurrent cp
# The share models every share measure runs on, by name: their share_model options. One model
# can favour one design, so each is judged on both.
SHARE_MODELS = {
    # The SMB-like share of the earlier figures: names and attributes kept 1 s, no-replace renames
    # refused, up to 128 calls answered at once, every write a call.
    "smb": [],
    # A plain passthrough as a user built one: libfuse's own cap of 10 threads and the kernel's
    # write-back cache, so writes are gathered but times and flushes wait for them.
    "writeback": ["--writeback", "--threads=10"],
}
# The calls that reach a file system (on a share, round trips), but not those that move a file's
# bytes (read, write, copy_file_range): the rest (memory, threads, signals) never leave the machine.
FS_CALLS = {"open", "openat", "openat2", "creat", "close", "close_range", "stat", "lstat", "fstat", "newfstatat",
            "statx", "access", "faccessat", "faccessat2", "mkdir", "mkdirat", "rmdir", "rename", "renameat",
            "renameat2", "link", "linkat", "unlink", "unlinkat", "symlink", "symlinkat", "readlink",
            "readlinkat", "getdents", "getdents64", "fsync", "fdatasync", "sync_file_range", "ftruncate",
            "truncate", "fallocate", "utimensat", "futimesat", "utimes", "chmod", "fchmod", "fchmodat", "chown",
            "fchown", "fchownat", "lchown", "statfs", "fstatfs", "lseek", "fadvise64", "chdir", "fchdir",
            "getcwd", "fcntl", "flock", "ioctl", "dup", "dup2", "dup3"}

LOADS = []  # load averages seen since the last result


def log(text):
    print(text, flush=True)


def loadavg():
    with open("/proc/loadavg") as f:
        return float(f.read().split()[0])


def run(command, **kwargs):
    return subprocess.run(command, check=True, **kwargs)


def timed(command, env=None):
    start = time.perf_counter()
    result = run(command, stdout=subprocess.PIPE, stderr=subprocess.PIPE, env=env, text=True)
    return time.perf_counter() - start, result.stdout


def timed_all(*commands):
    """The seconds of the commands run one after the other (a run and the sync after it)."""
    start = time.perf_counter()
    for command in commands:
        run(command, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
    return time.perf_counter() - start


def remove(path):
    if os.path.isdir(path) and not os.path.islink(path):
        shutil.rmtree(path)
    elif os.path.lexists(path):
        os.remove(path)


class Results:
    def __init__(self):
        self.rows = []

    def add(self, name, value, target, unit, detail, holds):
        loads = LOADS + [loadavg()]
        detail += f"; load {min(loads):.1f} to {max(loads):.1f}"
        LOADS.clear()
        self.rows.append((name, value, target, unit, detail, holds))
        log(f"  => {name}: {value:.3f}{unit} (target {target}) {'ok' if holds else 'MISSED'}   [{detail}]")

    def skipped(self, name, reason):
        self.rows.append((name, None, "-", "", reason, True))
        log(f"  => {name}: skipped ({reason})")

    def table(self):
        log("\n| measure | median | target | holds | detail |")
        log("|---|---|---|---|---|")
        for name, value, target, unit, detail, holds in self.rows:
            shown = "skipped" if value is None else f"{value:.3f}{unit}"
            verdict = "-" if value is None else ("yes" if holds else "NO")
            log(f"| {name} | {shown} | {target} | {verdict} | {detail} |")


def pairs(label, ours, baseline, reps, before=None):
    """Times ours and the baseline alternately; returns the median of the per-pair ratios and the
    median times."""
    ratios, ours_times, base_times = [], [], []
    # One run of each side first, unmeasured: the first big write into a fresh RAM disk costs the
    # kernel the reclaim of its caches, which would fall on whichever side went first.
    for program in (ours, baseline):
        if before:
            before()
        program()
    for i in range(reps):
        # Each goes first every other time, so neither always meets the other's aftermath.
        order = [ours, baseline] if i % 2 == 0 else [baseline, ours]
        times = {}
        for program in order:
            if before:
                before()
            times[program] = program()
        t_ours, t_base = times[ours], times[baseline]
        ratios.append(t_ours / t_base)
        ours_times.append(t_ours)
        base_times.append(t_base)
        LOADS.append(loadavg())
        log(f"  {label} {i + 1}/{reps}: ours {t_ours:.3f} s, baseline {t_base:.3f} s, ratio {t_ours / t_base:.3f}"
            f"  (load {LOADS[-1]:.2f})")
    return statistics.median(ratios), statistics.median(ours_times), statistics.median(base_times)


def build(build_dir, targets):
    if "share_model" in targets:
        # The share model's library and mount helper, and strace; without them those measures
        # say they were skipped.
        subprocess.run([os.path.join(REPO, "scripts", "setup"), "libfuse3-dev", "fuse3", "strace"], check=False)
    window = "window_bench" in targets
    cache = os.path.join(build_dir, "CMakeCache.txt")
    configured_core_only = os.path.exists(cache) and "TARVELIN_CORE_ONLY:BOOL=ON" in open(cache).read()
    if not os.path.exists(cache) or (window and configured_core_only):
        # The window's programs need Qt; everything else builds without it.
        run(["cmake", "-S", REPO, "-B", build_dir, f"-DTARVELIN_CORE_ONLY={'OFF' if window else 'ON'}",
             *([] if os.path.exists(cache) else ["-DCMAKE_BUILD_TYPE=RelWithDebInfo"])], stdout=subprocess.DEVNULL)
    buildable = [t for t in targets if t != "share_model" or fuse_found(build_dir)]
    run(["cmake", "--build", build_dir, "--target", *buildable, "-j2"], stdout=subprocess.DEVNULL)
    return {t: os.path.join(build_dir, "bin", t) for t in targets}


def fuse_found(build_dir):
    with open(os.path.join(build_dir, "CMakeCache.txt")) as f:
        return re.search(r"^FUSE3_FOUND:INTERNAL=1$", f.read(), re.M) is not None


def generate(root, *args):
    """Generates a tree once per set of arguments; a stamp file says it is complete."""
    stamp = os.path.join(root, ".complete")
    wanted = " ".join(args)
    if os.path.exists(stamp) and open(stamp).read() == wanted:
        return root
    remove(root)
    log(f"  generating {root} ({wanted})")
    run([sys.executable, os.path.join(HERE, "generate_tree.py"), root, *args])
    with open(stamp, "w") as f:
        f.write(wanted)
    return root


def warm(tree):
    run(f"find '{tree}' -type f -exec cat {{}} + > /dev/null", shell=True)


def header_files(data):
    """One message of 5 KB and one with the same header and a 50 MB body."""
    small, big = os.path.join(data, "header-5k.msg"), os.path.join(data, "header-50m.msg")
    if not os.path.exists(big):
        header = (b"Received: from mx.example.org by mail.example.org; 5 Mar 2012 10:00:00 +0000\r\n"
                  b"From: =?utf-8?B?SsO2cmcgTcO8bGxlcg==?= <jorg@example.org>\r\nTo: team@example.org\r\n"
                  b"Subject: =?iso-8859-1?Q?Budget_f=FCr_Stra=DFe?= and a long\r\n folded subject line\r\n"
                  b"Date: Mon, 5 Mar 2012 09:00:00 +0000\r\nMessage-ID: <1@example.org>\r\n"
                  b"MIME-Version: 1.0\r\nContent-Type: text/plain; charset=utf-8\r\n\r\n")
        line = b"Lorem ipsum dolor sit amet, consectetur adipiscing elit, sed do eiusmod\r\n"
        with open(small, "wb") as f:
            f.write(header + line * ((5 * 1024 - len(header)) // len(line)))
        with open(big, "wb") as f:
            f.write(header)
            chunk = line * (1024 * 1024 // len(line))
            for _ in range(50):
                f.write(chunk)
    return small, big


class ShareModel:
    """The share model mounted over a backing folder; both ends of a share-to-share copy live on it."""

    def __init__(self, binary, backing, mountpoint, model="smb", log_path=None):
        self.backing, self.mountpoint, self.model = backing, mountpoint, model
        self.runs = 0
        os.makedirs(backing, exist_ok=True)
        os.makedirs(mountpoint, exist_ok=True)
        options = SHARE_MODELS[model] + ([f"--log={log_path}"] if log_path else [])
        self.process = subprocess.Popen([binary, *options, backing, mountpoint, "-f"], stderr=subprocess.PIPE,
                                        text=True)
        for _ in range(100):
            if self.mounted():
                return
            if self.process.poll() is not None:
                raise RuntimeError(f"share_model ended: {self.process.stderr.read().strip()}")
            time.sleep(0.1)
        self.close()
        raise RuntimeError("share_model did not mount within 10 s")

    def mounted(self):
        with open("/proc/mounts") as f:
            return any(line.split()[1] == self.mountpoint for line in f)

    def close(self):
        """Unmounts; returns what the model printed (at the end: the round trips it served)."""
        if self.process.poll() is None and self.mounted():
            subprocess.run(["fusermount3", "-u", self.mountpoint], check=False)
        try:
            self.process.wait(timeout=30)
        except subprocess.TimeoutExpired:
            self.process.kill()
            self.process.wait()
        return self.process.stderr.read()


def parallel_cp(source, destination, parts):
    """Copies a tree as a multi-threaded copier does: the folders first, then the files dealt out
    to `parts` cp processes that run at once."""
    start = time.perf_counter()
    files = []
    for folder, _, names in os.walk(source):
        relative = os.path.relpath(folder, source)
        os.makedirs(os.path.join(destination, relative), exist_ok=True)
        files += [os.path.join(relative, name) for name in names]
    copiers = []
    for k in range(parts):
        copier = subprocess.Popen(["xargs", "-0", "-r", "cp", "--parents", "-t", destination],
                                  stdin=subprocess.PIPE, cwd=source)
        copier.stdin.write(b"\0".join(os.fsencode(f) for f in files[k::parts]))
        copier.stdin.close()
        copiers.append(copier)
    if any(copier.wait() != 0 for copier in copiers):
        raise RuntimeError("a parallel cp failed")
    return time.perf_counter() - start


def peak_rss(command):
    """Runs a command; returns its peak resident set in bytes."""
    process = subprocess.Popen(command, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
    _, status, usage = os.wait4(process.pid, 0)
    if os.waitstatus_to_exitcode(status) != 0:
        raise RuntimeError(f"{command[0]} failed: {process.stderr.read().decode().strip()}")
    return usage.ru_maxrss * 1024


def strace_counts(path):
    """The calls and errors per system call from the summary of `strace -c`."""
    counts = {}
    with open(path) as f:
        for line in f:
            # % time, seconds, usecs/call, calls, [errors,] syscall
            m = re.match(r"\s*[\d.]+\s+[\d.]+\s+\d+\s+(\d+)\s+(\d+\s+)?(\w+)\s*$", line)
            if m and m.group(3) != "total":
                counts[m.group(3)] = (int(m.group(1)), int(m.group(2) or 0))
    return counts


def tree_args(messages):
    """A tree of `messages` messages in folders of about 66, as in the 20,000-message tree."""
    return "--messages", str(messages), "--folders", str(max(1, round(messages / 66.7)))


class Bench:
    """What the measures share: the programs, the folders, the sizes and the results."""

    def __init__(self, args, bins, data):
        self.args, self.bins, self.data = args, bins, data
        self.results = Results()
        self.out = os.path.join(data, "out")
        self.on_disk = filesystem(data) not in ("tmpfs", "ramfs")
        self.qt_env = dict(os.environ, QT_QPA_PLATFORM="offscreen")
        help_text = run([bins["tarvelin-cli"], "--help"], stdout=subprocess.PIPE, text=True).stdout
        self.has_jobs = "--jobs" in help_text
        self.share = None

    def size(self, count):
        return max(10, int(count * self.args.scale))

    def tree(self, name, messages, *extra):
        return generate(os.path.join(self.data, f"{name}{messages}"), *tree_args(messages), *extra)

    def cli(self, source, output, jobs=None):
        """The conversion command; jobs=None is the program's default."""
        command = [self.bins["tarvelin-cli"], "-q", "-n", NAMING, "-o", output]
        if jobs is not None and self.has_jobs:
            command += ["--jobs", str(jobs)]
        return command + [source]

    def jobs_note(self):
        return "" if self.has_jobs else " (this CLI has no --jobs: the one-job run)"

    def fresh_output(self):
        remove(self.out)
        if self.on_disk:
            run(["sync"])  # every run starts with no dirty pages of the previous one

    def share_backing(self):
        return os.path.join(self.data, "share-backing")

    def share_model(self, model):
        """The share mounted as `model`; another model mounted before is unmounted, its backing kept."""
        if self.share is not None and self.share.model != model:
            self.unmount()
        if self.share is None:
            base = tempfile.mkdtemp(prefix="tarvelin-share-", dir="/tmp")
            self.share = ShareModel(self.bins["share_model"], self.share_backing(), os.path.join(base, "mnt"), model)
        return self.share

    def unmount(self):
        if self.share is not None:
            self.share.close()
            os.rmdir(self.share.mountpoint)
            os.rmdir(os.path.dirname(self.share.mountpoint))
            self.share = None

    def close(self):
        self.unmount()
        remove(self.share_backing())


def share_skip_reason(bench):
    if not os.path.exists("/dev/fuse"):
        return "no /dev/fuse here"
    if not os.path.exists(bench.bins["share_model"]):
        return "share_model not built (libfuse3 not found)"
    if shutil.which("fusermount3") is None:
        return "no fusermount3"
    return None


def share_tree(bench, share):
    """The source tree on the share and a fresh output folder name per run."""
    messages = bench.size(1000)
    # The tree is written straight into the backing folder: only the copies go through the share.
    generate(os.path.join(share.backing, f"tree{messages}"), *tree_args(messages))
    source = os.path.join(share.mountpoint, f"tree{messages}")

    def output():
        # A new output folder every run: the kernel may still hold names of the last one for a moment.
        share.runs += 1
        return os.path.join(share.mountpoint, f"out{share.runs}")

    def clear():
        for entry in os.listdir(share.backing):
            if entry.startswith("out"):
                remove(os.path.join(share.backing, entry))

    return messages, source, output, clear


def measure_share(bench, kind):
    """Share to share on each share model: the default run against 8 and against 16 concurrent cp
    ("parallel"), one job against cp -r ("one"), or the window against the default run ("window")."""
    reason = share_skip_reason(bench)
    for model in bench.args.share_models:
        messages = bench.size(1000)
        head = f"share model {model}, {messages} messages"
        if reason:
            log(f"share model: skipped ({reason})")
            bench.results.skipped(f"{head}, {kind}", reason)
            continue
        log(f"\n{head} ({' '.join(SHARE_MODELS[model]) or 'default options'})")
        share = bench.share_model(model)
        messages, source, output, clear = share_tree(bench, share)
        default = lambda: timed(bench.cli(source, output()))[0]
        if kind == "parallel":
            for parts, target in zip(SHARE_PARTS, (1.25, 0.8)):
                base = lambda parts=parts: parallel_cp(source, output(), parts)
                ratio, t_ours, t_base = pairs(f"{model}/{parts}-cp", default, base, bench.args.reps, clear)
                bench.results.add(f"{head}, default --jobs / {parts} parallel cp", ratio, f"<= {target}", " x",
                                  f"{t_ours:.2f} s vs {t_base:.2f} s{bench.jobs_note()}", ratio <= target)
        elif kind == "one":
            ours = lambda: timed(bench.cli(source, output(), jobs=1))[0]
            base = lambda: timed(["cp", "-r", source, output()])[0]
            ratio, t_ours, t_base = pairs(f"{model}/cp", ours, base, bench.args.reps, clear)
            bench.results.add(f"{head}, --jobs 1 / cp -r", ratio, "<= 1.5", " x",
                              f"{t_ours:.2f} s vs {t_base:.2f} s{bench.jobs_note()}", ratio <= 1.5)
        else:
            window = lambda: timed([bench.bins["window_bench"], "run", source, output(), NAMING], env=bench.qt_env)[0]
            ratio, t_ours, t_base = pairs(f"{model}/window", window, default, bench.args.reps, clear)
            bench.results.add(f"{head}, the window (add + convert) / default --jobs", ratio, "<= 1.15", " x",
                              f"{t_ours:.2f} s vs {t_base:.2f} s{bench.jobs_note()}", ratio <= 1.15)
        clear()


def measure_tmpfs_large(bench):
    messages = bench.size(20000)
    log(f"\ntmpfs: conversion of {messages} messages ({NAMING}), default jobs, against cp -r")
    tree = bench.tree("tree", messages)
    warm(tree)
    cli = lambda: timed(bench.cli(tree, bench.out))[0]
    cp = lambda: timed(["cp", "-r", tree, bench.out])[0]
    ratio, t_ours, t_base = pairs("convert/cp", cli, cp, bench.args.reps, bench.fresh_output)
    bench.results.add(f"conversion, {messages} messages / cp -r", ratio, "<= 0.8", " x",
                      f"{t_ours:.2f} s vs {t_base:.2f} s{bench.jobs_note()}", ratio <= 0.8)


def measure_same_name(bench):
    same_name = bench.size(6000)
    log(f"\nconversion of {same_name} messages, half of one name, against cp -r")
    same_tree = generate(os.path.join(bench.data, f"same{same_name}"), "--same-name", str(same_name))
    cli = lambda: timed(bench.cli(same_tree, bench.out))[0]
    cp = lambda: timed(["cp", "-r", same_tree, bench.out])[0]
    ratio, t_ours, t_base = pairs("same-name/cp", cli, cp, bench.args.reps, bench.fresh_output)
    bench.results.add(f"conversion, {same_name} messages, half of one name / cp -r (no target)", ratio, "-", " x",
                      f"{t_ours:.3f} s vs {t_base:.3f} s", True)


def measure_tmpfs_tiny(bench):
    messages = bench.size(300000)
    log(f"\ntmpfs: conversion of {messages} messages of 200 bytes, default jobs, against cp -r")
    tree = bench.tree("tiny", messages, "--tiny")
    cli = lambda: timed(bench.cli(tree, bench.out))[0]
    cp = lambda: timed(["cp", "-r", tree, bench.out])[0]
    ratio, t_ours, t_base = pairs("tiny/cp", cli, cp, bench.args.reps, bench.fresh_output)
    bench.results.add(f"conversion, {messages} messages of 200 bytes / cp -r", ratio, "<= 0.9", " x",
                      f"{t_ours:.2f} s vs {t_base:.2f} s{bench.jobs_note()}", ratio <= 0.9)


def measure_disk(bench):
    messages = bench.size(2000)
    disk = bench.args.disk
    log(f"\next4: {messages} messages, sync to sync, default jobs, against cp -r && sync ({disk}, "
        f"{filesystem(disk)})")
    os.makedirs(disk, exist_ok=True)
    tree = generate(os.path.join(disk, f"tree{messages}"), *tree_args(messages))
    out = os.path.join(disk, "out")
    warm(tree)

    def fresh():
        remove(out)
        run(["sync"])

    try:
        cli = lambda: timed_all(bench.cli(tree, out), ["sync"])
        cp = lambda: timed_all(["cp", "-r", tree, out], ["sync"])
        ratio, t_ours, t_base = pairs("disk/cp+sync", cli, cp, bench.args.reps, fresh)
        bench.results.add(f"ext4, {messages} messages, sync to sync / cp -r && sync", ratio, "<= 1.0", " x",
                          f"{t_ours:.2f} s vs {t_base:.2f} s{bench.jobs_note()}", ratio <= 1.0)
    finally:
        remove(out)
        if not bench.args.keep:
            remove(tree)
            if not os.listdir(disk):
                os.rmdir(disk)


def measure_cli_memory(bench):
    messages = bench.size(300000)
    log(f"\npeak memory of the CLI over {messages} messages")
    tree = bench.tree("tiny", messages, "--tiny")
    peaks = []
    for _ in range(2):
        bench.fresh_output()
        peaks.append(peak_rss(bench.cli(tree, bench.out)))
        log(f"  peak RSS {peaks[-1] / 1e6:.1f} MB")
    peak = max(peaks) / 1e6
    bench.results.add(f"peak memory, {messages} messages", peak, "<= 80 MB", " MB",
                      f"peak RSS, worst of {len(peaks)} runs{bench.jobs_note()}", peak <= 80)
    remove(bench.out)


def count_calls(bench, tree, out, messages, label, target, pid_file=None):
    """Runs the CLI under strace -c -f; logs the file-system calls per message and adds the total.
    With pid_file, the CLI's process id (its naming thread's id) is written there."""
    summary = os.path.join(bench.data, "strace.txt")
    command = bench.cli(tree, out)
    if pid_file:
        # The shell's process becomes the CLI's, so its id is the CLI's.
        command = ["sh", "-c", 'echo $$ > "$0"; exec "$@"', pid_file, *command]
    run(["strace", "-c", "-f", "-o", summary, *command], stdout=subprocess.DEVNULL)
    counts = strace_counts(summary)
    remove(summary)
    if pid_file:
        # The shell's own calls before the exec are not the CLI's.
        for call in ("execve", "wait4"):
            counts.pop(call, None)
    fs = sorted(((call, c) for call, c in counts.items() if call in FS_CALLS), key=lambda item: -item[1][0])
    total = sum(calls for _, (calls, _) in fs) / messages

    def per_message(call, calls, errors):
        return f"{call} {calls / messages:.2f}" + (f" ({errors / messages:.2f} failed)" if errors else "")

    log("  " + ", ".join(per_message(call, *c) for call, c in fs))
    other = sorted(((call, c) for call, c in counts.items() if call not in FS_CALLS), key=lambda item: -item[1][0])
    log("  not counted: " + ", ".join(per_message(call, *c) for call, c in other[:10]))
    top = ", ".join(per_message(call, *c) for call, c in fs[:7])
    bench.results.add(f"file-system calls per message, {label}", total, f"<= {target}", "", top + bench.jobs_note(),
                      total <= target)


def round_trips_by_thread(log_path, naming_thread, messages):
    """From the share model's log: the round trips per message the naming thread waited for one
    after the other, and those of every other thread, by kind."""
    naming, others = {}, {}
    naming_ms = 0.0
    with open(log_path) as f:
        for line in f:
            thread, kind, start, end = line.split()
            mine = thread == naming_thread
            counts = naming if mine else others
            counts[kind] = counts.get(kind, 0) + 1
            if mine:
                naming_ms += (int(end) - int(start)) / 1000

    def shown(counts):
        ordered = sorted(counts.items(), key=lambda item: -item[1])
        return (f"{sum(counts.values()) / messages:.2f}: "
                + ", ".join(f"{kind} {n / messages:.2f}" for kind, n in ordered if n / messages >= 0.005))

    log(f"  round trips per message on the naming thread {shown(naming)} ({naming_ms / messages:.2f} ms served)")
    log(f"  round trips per message on the workers (and the kernel's write-back) {shown(others)}")


def measure_syscalls(bench):
    messages = bench.size(10000)
    log(f"\nfile-system calls per message, strace -c -f over {messages} messages")
    if shutil.which("strace") is None:
        bench.results.skipped("file-system calls per message", "no strace")
        return
    tree = bench.tree("tree", messages)
    bench.fresh_output()
    count_calls(bench, tree, bench.out, messages, f"{messages} messages, {filesystem(bench.data)}", 12)
    remove(bench.out)
    if not bench.args.keep:
        remove(tree)
    # The same on each share model, where every one of them is a round trip (and the rename is
    # refused), on a mount of its own so that its count of round trips is this run's alone.
    if share_skip_reason(bench) is not None:
        return
    bench.unmount()
    backing = bench.share_backing()
    messages = bench.size(1000)
    generate(os.path.join(backing, f"tree{messages}"), *tree_args(messages))
    for model in bench.args.share_models:
        log(f"\n  share model {model} ({' '.join(SHARE_MODELS[model]) or 'default options'})")
        mountpoint = tempfile.mkdtemp(prefix="tarvelin-share-", dir="/tmp")
        trip_log, pid_file = os.path.join(bench.data, "round-trips.txt"), os.path.join(bench.data, "cli.pid")
        share = ShareModel(bench.bins["share_model"], backing, mountpoint, model, trip_log)
        try:
            count_calls(bench, os.path.join(mountpoint, f"tree{messages}"), os.path.join(mountpoint, "out-strace"),
                        messages, f"{messages} messages, share model {model}", 11, pid_file)
        finally:
            served = share.close()
            os.rmdir(mountpoint)
            remove(os.path.join(backing, "out-strace"))
        trips = re.search(r"round trips: (.*) total (\d+)", served)
        if trips:
            log(f"  the share model served {int(trips.group(2)) / messages:.1f} round trips per message: "
                + ", ".join(f"{call} {int(n) / messages:.2f}" for call, n in re.findall(r"(\w+) (\d+),", trips.group(1))))
        with open(pid_file) as f:
            round_trips_by_thread(trip_log, f.read().strip(), messages)
        remove(trip_log)
        remove(pid_file)


def measure_python(bench):
    messages = bench.size(20000)
    log("\nconversion against the Python baseline (email + shutil.copy2)")
    tree = bench.tree("tree", messages)
    warm(tree)
    cli = lambda: timed(bench.cli(tree, bench.out))[0]
    python = lambda: timed([sys.executable, os.path.join(HERE, "baseline_convert.py"), bench.out, tree])[0]
    ratio, t_ours, t_base = pairs("convert/python", cli, python, bench.args.reps, bench.fresh_output)
    bench.results.add("Python baseline / conversion", 1 / ratio, ">= 10", " x faster",
                      f"{t_ours:.2f} s vs {t_base:.2f} s", 1 / ratio >= 10)
    remove(bench.out)


def measure_scan(bench):
    scan_files = bench.size(200000)
    log(f"\nfolder scan of {scan_files} files against find -type f")
    for ext, what in (("dat", "non-messages"), ("msg", "all .msg, every file listed")):
        scan_tree = generate(os.path.join(bench.data, f"scan{scan_files}{ext}"), "--messages", str(scan_files),
                             "--folders", "400", "--empty", "--empty-ext", ext)
        scan = lambda: timed([bench.bins["scan_bench"], scan_tree])[0]
        find = lambda: timed(["find", scan_tree, "-type", "f"])[0]
        ratio, t_ours, t_base = pairs(f"scan/find {ext}", scan, find, max(bench.args.reps, 5))
        bench.results.add(f"folder scan, {scan_files} files ({what}) / find", ratio, "<= 1.3", " x",
                          f"{t_ours:.3f} s vs {t_base:.3f} s", ratio <= 1.3)
        if not bench.args.keep:
            remove(scan_tree)


def measure_header(bench):
    log("\nheader read: 50 MB body against 5 KB")
    small, big = header_files(bench.data)
    loads = str(bench.size(5000))
    read_big = lambda: timed([bench.bins["header_bench"], big, loads])[0]
    read_small = lambda: timed([bench.bins["header_bench"], small, loads])[0]
    ratio, t_ours, t_base = pairs("header big/small", read_big, read_small, max(bench.args.reps, 5))
    bench.results.add("header read, 50 MB body / 5 KB", ratio, "<= 1.2", " x",
                      f"{t_ours / int(loads) * 1e6:.1f} us vs {t_base / int(loads) * 1e6:.1f} us per message", ratio <= 1.2)
    if not bench.args.keep:
        remove(small)
        remove(big)


def measure_window(bench):
    messages = bench.size(20000)
    log(f"\nthe window (offscreen) against the CLI with one job, {messages} messages")
    tree = bench.tree("tree", messages)
    warm(tree)
    gaps = []

    def window():
        elapsed, text = timed([bench.bins["window_bench"], "run", tree, bench.out, NAMING], env=bench.qt_env)
        gaps.append(float(re.search(r"longest gap ([0-9.]+) ms", text).group(1)))
        return elapsed

    cli = lambda: timed(bench.cli(tree, bench.out, jobs=1))[0]
    ratio, t_ours, t_base = pairs("window/cli", window, cli, bench.args.reps, bench.fresh_output)
    bench.results.add("window run / CLI run with one job", ratio, "<= 1.5", " x",
                      f"{t_ours:.2f} s vs {t_base:.2f} s{bench.jobs_note()}", ratio <= 1.5)
    gap = max(gaps)
    bench.results.add("longest event-loop gap in a window run", gap, "<= 100 ms", " ms",
                      f"worst of {len(gaps)} runs, median {statistics.median(gaps):.1f} ms", gap <= 100)
    remove(bench.out)


def measure_list_memory(bench):
    list_entries = bench.size(1000000)
    log(f"\nmemory of the window's list, {list_entries} paths")
    for mode, label, target in (("memory", "list memory (file dialog)", True),
                                ("scan-memory", "peak during a folder scan (no target)", False)):
        _, text = timed([bench.bins["window_bench"], mode, str(list_entries)], env=bench.qt_env)
        numbers = dict(re.findall(r"(path bytes|peak before|peak after) (\d+)", text))
        grown = (int(numbers["peak after"]) - int(numbers["peak before"])) * 1024
        per_entry = (grown - int(numbers["path bytes"])) / list_entries
        log(f"  {mode}: {text.strip()}")
        bench.results.add(f"{label}, {list_entries} paths, per entry beyond the path", per_entry,
                          "<= 64 bytes" if target else "-", " bytes",
                          f"peak grew {grown / 2**20:.1f} MiB, paths {int(numbers['path bytes']) / 2**20:.1f} MiB",
                          per_entry <= 64 or not target)


# name: (what it measures, the function, the programs it needs, the trees below --data it reads)
MEASURES = {
    "share-parallel": ("share models, 1,000 messages share to share, default --jobs / 8 and 16 parallel cp",
                       lambda b: measure_share(b, "parallel"), ["share_model"], ["share"]),
    "share-one": ("share models, --jobs 1 / cp -r", lambda b: measure_share(b, "one"), ["share_model"], ["share"]),
    "share-window": ("share models, the window (add + convert) / default --jobs",
                     lambda b: measure_share(b, "window"), ["share_model", "window_bench"], ["share"]),
    "syscalls": ("file-system calls per message, strace -c -f over 10,000 messages (and 1,000 on each share "
                 "model, with its round trips by thread)", measure_syscalls, ["share_model"], ["tree", "share"]),
    "tmpfs-large": ("20,000 messages (5.3 GB), default / cp -r", measure_tmpfs_large, [], ["tree"]),
    "python": ("20,000 messages / the Python baseline", measure_python, [], ["tree"]),
    "window": ("the window / the CLI with --jobs 1, and the longest event-loop gap", measure_window,
               ["window_bench"], ["tree"]),
    "same-name": ("6,000 messages, half of one name / cp -r (no target)", measure_same_name, [], ["same"]),
    "tmpfs-tiny": ("300,000 messages of 200 bytes, default / cp -r", measure_tmpfs_tiny, [], ["tiny"]),
    "cli-memory": ("peak memory of the CLI over 300,000 messages", measure_cli_memory, [], ["tiny"]),
    "disk-sync": ("ext4 (--disk), 2,000 messages, sync to sync / cp -r && sync", measure_disk, [], []),
    "scan": ("folder scan of 200,000 files / find -type f", measure_scan, ["scan_bench"], []),
    "header": ("header read, 50 MB body / 5 KB", measure_header, ["header_bench"], []),
    "list-memory": ("the window's list memory, 1,000,000 paths", measure_list_memory, ["window_bench"], []),
}


def selection(args):
    def names(text):
        chosen = [n.strip() for n in text.split(",") if n.strip()]
        for n in chosen:
            if n not in MEASURES:
                sys.exit(f"unknown measure {n!r}; --list shows them")
        return chosen

    selected = names(args.only) if args.only else list(MEASURES)
    skipped = names(args.skip) if args.skip else []
    return [n for n in MEASURES if n in selected and n not in skipped]


def mount_tmpfs():
    """A fresh RAM disk under /tmp, or None where we may not mount."""
    if os.geteuid() != 0:
        return None
    point = tempfile.mkdtemp(prefix="tarvelin-bench-", dir="/tmp")
    if subprocess.run(["mount", "-t", "tmpfs", "-o", "size=16g", "tarvelin-bench", point]).returncode != 0:
        os.rmdir(point)
        return None
    return point


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--only", help="comma-separated measures to run (see --list); default all")
    parser.add_argument("--skip", help="comma-separated measures not to run")
    parser.add_argument("--list", action="store_true", help="list the measures and exit")
    parser.add_argument("--scale", type=float, default=None, help="multiply every tree's size (default 1)")
    parser.add_argument("--quick", action="store_true", help="--scale 0.1: small trees, for a first look")
    parser.add_argument("--data", help="where the trees go (default: a RAM disk mounted under /tmp)")
    parser.add_argument("--disk", default="/tmp/tarvelin-bench-disk", help="a folder on a disk, for disk-sync")
    parser.add_argument("--build", default=os.path.join(REPO, "build-bench"))
    parser.add_argument("--reps", type=int, default=3)
    parser.add_argument("--share-models", default=",".join(SHARE_MODELS),
                        help=f"comma-separated share models the share measures run on ({', '.join(SHARE_MODELS)}); "
                             "default all")
    parser.add_argument("--keep", action="store_true", help="keep the generated trees for the next run")
    args = parser.parse_args()
    if args.list:
        for name, (what, *_rest) in MEASURES.items():
            log(f"  {name:15} {what}")
        return 0
    if args.scale is None:
        args.scale = 0.1 if args.quick else 1.0
    args.share_models = [m.strip() for m in args.share_models.split(",") if m.strip()]
    for model in args.share_models:
        if model not in SHARE_MODELS:
            sys.exit(f"unknown share model {model!r}; there are {', '.join(SHARE_MODELS)}")
    chosen = selection(args)

    log(f"machine: {machine()}")
    log(f"measures: {', '.join(chosen)}; scale {args.scale}")
    targets = ["tarvelin-cli"] + sorted({t for n in chosen for t in MEASURES[n][2]})
    bins = build(args.build, targets)
    mounted = None
    if args.data is None:
        # A RAM disk of our own is gone at the end, so --keep keeps the trees in /dev/shm instead.
        mounted = None if args.keep else mount_tmpfs()
        args.data = mounted or "/dev/shm/tarvelin-bench"
    os.makedirs(args.data, exist_ok=True)
    log(f"data in {args.data} ({filesystem(args.data)}), load {loadavg():.2f}")
    bench = Bench(args, bins, args.data)
    if not bench.has_jobs:
        log("this tarvelin-cli has no --jobs: every run is the one-job run")
    started = time.perf_counter()
    try:
        for index, name in enumerate(chosen):
            log(f"\n== {name}: {MEASURES[name][0]}")
            MEASURES[name][1](bench)
            # A tree goes as soon as no later measure reads it: the big ones do not fit twice.
            later = {tree for n in chosen[index + 1:] for tree in MEASURES[n][3]}
            if not args.keep:
                for tree in set(MEASURES[name][3]) - later:
                    for entry in os.listdir(args.data):
                        if re.fullmatch(tree + r"\d+", entry):
                            remove(os.path.join(args.data, entry))
                if "share" not in later:
                    bench.close()
    finally:
        bench.close()
        remove(bench.out)
        if mounted:
            run(["umount", mounted])
            os.rmdir(mounted)
        elif not args.keep:
            remove(args.data)

    bench.results.table()
    log(f"\nwall time {time.perf_counter() - started:.0f} s, load at the end {loadavg():.2f}")
    return 0 if all(row[5] for row in bench.results.rows) else 1


def machine():
    model = "unknown CPU"
    with open("/proc/cpuinfo") as f:
        for line in f:
            if line.startswith("model name"):
                model = line.split(":", 1)[1].strip()
                break
    return f"{model}, {os.cpu_count()} CPUs, kernel {os.uname().release}"


def filesystem(path):
    probe = path
    while not os.path.exists(probe):
        probe = os.path.dirname(probe)
    result = subprocess.run(["df", "--output=fstype", probe], capture_output=True, text=True)
    return result.stdout.split()[-1] if result.returncode == 0 else "?"


if __name__ == "__main__":
    sys.exit(main())
