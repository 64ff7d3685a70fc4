#!/usr/bin/env python3
"""Runs every benchmark pair side by side and prints the median ratios against their targets.

    bench/run_bench.py [--quick] [--data DIR] [--build DIR] [--reps N] [--keep]

Builds the programs it needs in --build (default: build-bench beside this folder), writes its trees
below --data (default: /dev/shm/tarvelin-bench, a RAM disk, so that the ratios show our cost and
not the disk's; pass a folder on a real disk to include it), and removes them at the end unless
--keep. Nothing here is a test: the numbers depend on the machine and on what else runs on it.
"""
import argparse
import os
import re
import shutil
import statistics
import subprocess
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
REPO = os.path.dirname(HERE)
NAMING = "OptSD"  # reads subject and date: the header read is part of every conversion


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


def remove(path):
    if os.path.lexists(path):
        shutil.rmtree(path)


class Results:
    def __init__(self):
        self.rows = []

    def add(self, name, value, target, unit, detail, holds):
        self.rows.append((name, value, target, unit, detail, holds))
        log(f"  => {name}: {value:.3f}{unit} (target {target}) {'ok' if holds else 'MISSED'}   [{detail}]")

    def table(self):
        log("\n| measure | median | target | holds | detail |")
        log("|---|---|---|---|---|")
        for name, value, target, unit, detail, holds in self.rows:
            log(f"| {name} | {value:.3f}{unit} | {target} | {'yes' if holds else 'NO'} | {detail} |")


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
        log(f"  {label} {i + 1}/{reps}: ours {t_ours:.3f} s, baseline {t_base:.3f} s, ratio {t_ours / t_base:.3f}"
            f"  (load {loadavg():.2f})")
    return statistics.median(ratios), statistics.median(ours_times), statistics.median(base_times)


def build(build_dir):
    targets = ["tarvelin-cli", "scan_bench", "header_bench", "window_bench"]
    if not os.path.exists(os.path.join(build_dir, "CMakeCache.txt")):
        run(["cmake", "-S", REPO, "-B", build_dir, "-DCMAKE_BUILD_TYPE=RelWithDebInfo"],
            stdout=subprocess.DEVNULL)
    run(["cmake", "--build", build_dir, "--target", *targets, "-j2"], stdout=subprocess.DEVNULL)
    return {t: os.path.join(build_dir, "bin", t) for t in targets}


def generate(root, *args):
    """Generates a tree once per set of arguments; a stamp file says it is complete."""
    stamp = os.path.join(root, ".complete")
    wanted = " ".join(args)
    if os.path.exists(stamp) and open(stamp).read() == wanted:
        return
    remove(root)
    log(f"  generating {root} ({wanted})")
    run([sys.executable, os.path.join(HERE, "generate_tree.py"), root, *args])
    with open(stamp, "w") as f:
        f.write(wanted)


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


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--quick", action="store_true", help="small trees (a minute or two)")
    parser.add_argument("--data", default="/dev/shm/tarvelin-bench")
    parser.add_argument("--build", default=os.path.join(REPO, "build-bench"))
    parser.add_argument("--reps", type=int, default=3)
    parser.add_argument("--keep", action="store_true", help="keep the generated trees for the next run")
    args = parser.parse_args()

    messages = 2000 if args.quick else 20000
    scan_files = 20000 if args.quick else 200000
    list_entries = 100000 if args.quick else 1000000
    same_name = 2000 if args.quick else 6000

    log(f"machine: {machine()}")
    log(f"data in {args.data} ({filesystem(args.data)}), load {loadavg():.2f}")
    bins = build(args.build)
    os.makedirs(args.data, exist_ok=True)
    tree = os.path.join(args.data, f"tree{messages}")
    out = os.path.join(args.data, "out")
    results = Results()
    qt_env = dict(os.environ, QT_QPA_PLATFORM="offscreen")
    on_disk = filesystem(args.data) not in ("tmpfs", "ramfs")
    started = time.perf_counter()

    def fresh_output():
        remove(out)
        if on_disk:
            run(["sync"])  # every run starts with no dirty pages of the previous one

    try:
        generate(tree, "--messages", str(messages), "--folders", "300")
        warm(tree)

        log(f"\n1. conversion of {messages} messages ({NAMING}) against cp -r")
        cli = lambda: timed([bins["tarvelin-cli"], "-q", "-n", NAMING, "-o", out, tree])[0]
        cp = lambda: timed(["cp", "-r", tree, out])[0]
        ratio, t_ours, t_base = pairs("convert/cp", cli, cp, args.reps, fresh_output)
        results.add(f"conversion, {messages} messages / cp -r", ratio, "<= 1.25", " x", f"{t_ours:.2f} s vs {t_base:.2f} s", ratio <= 1.25)
        same_tree = os.path.join(args.data, f"same{same_name}")
        generate(same_tree, "--same-name", str(same_name))
        cli_same = lambda: timed([bins["tarvelin-cli"], "-q", "-n", NAMING, "-o", out, same_tree])[0]
        cp_same = lambda: timed(["cp", "-r", same_tree, out])[0]
        ratio, t_ours, t_base = pairs("same-name/cp", cli_same, cp_same, args.reps, fresh_output)
        results.add(f"conversion, {same_name} messages, half of one name / cp -r (no target)", ratio, "-", " x",
                    f"{t_ours:.3f} s vs {t_base:.3f} s", True)

        log(f"\n2. conversion against the Python baseline (email + shutil.copy2)")
        python = lambda: timed([sys.executable, os.path.join(HERE, "baseline_convert.py"), out, tree])[0]
        ratio, t_ours, t_base = pairs("convert/python", cli, python, args.reps, fresh_output)
        results.add("Python baseline / conversion", 1 / ratio, ">= 10", " x faster", f"{t_ours:.2f} s vs {t_base:.2f} s", 1 / ratio >= 10)
        remove(out)

        log(f"\n3. folder scan of {scan_files} files against find -type f")
        for ext, what in (("dat", "non-messages"), ("msg", "all .msg, every file listed")):
            scan_tree = os.path.join(args.data, f"scan{scan_files}{ext}")
            generate(scan_tree, "--messages", str(scan_files), "--folders", "400", "--empty", "--empty-ext", ext)
            scan = lambda: timed([bins["scan_bench"], scan_tree])[0]
            find = lambda: timed(["find", scan_tree, "-type", "f"])[0]
            scan(), find()  # warm the directory caches
            ratio, t_ours, t_base = pairs(f"scan/find {ext}", scan, find, max(args.reps, 5))
            target_ok = ratio <= 1.3
            results.add(f"folder scan, {scan_files} files ({what}) / find", ratio, "<= 1.3", " x",
                        f"{t_ours:.3f} s vs {t_base:.3f} s", target_ok)

        log("\n4. header read: 50 MB body against 5 KB")
        small, big = header_files(args.data)
        loads = "2000" if args.quick else "5000"
        read_big = lambda: timed([bins["header_bench"], big, loads])[0]
        read_small = lambda: timed([bins["header_bench"], small, loads])[0]
        ratio, t_ours, t_base = pairs("header big/small", read_big, read_small, max(args.reps, 5))
        results.add("header read, 50 MB body / 5 KB", ratio, "<= 1.2", " x",
                    f"{t_ours / int(loads) * 1e6:.1f} us vs {t_base / int(loads) * 1e6:.1f} us per message", ratio <= 1.2)

        log(f"\n5. the window (offscreen) against the CLI, {messages} messages")
        gaps = []

        def window():
            elapsed, text = timed([bins["window_bench"], "run", tree, out, NAMING], env=qt_env)
            gaps.append(float(re.search(r"longest gap ([0-9.]+) ms", text).group(1)))
            return elapsed

        ratio, t_ours, t_base = pairs("window/cli", window, cli, args.reps, fresh_output)
        results.add("window run / CLI run", ratio, "<= 1.5", " x", f"{t_ours:.2f} s vs {t_base:.2f} s", ratio <= 1.5)
        gap = max(gaps)
        results.add("longest event-loop gap in a window run", gap, "<= 100 ms", " ms",
                    f"worst of {len(gaps)} runs, median {statistics.median(gaps):.1f} ms", gap <= 100)
        remove(out)

        log(f"\n6. memory of the window's list, {list_entries} paths")
        for mode, label, target in (("memory", "list memory (file dialog)", True),
                                    ("scan-memory", "peak during a folder scan (no target)", False)):
            _, text = timed([bins["window_bench"], mode, str(list_entries)], env=qt_env)
            numbers = dict(re.findall(r"(path bytes|peak before|peak after) (\d+)", text))
            grown = (int(numbers["peak after"]) - int(numbers["peak before"])) * 1024
            per_entry = (grown - int(numbers["path bytes"])) / list_entries
            log(f"  {mode}: {text.strip()}")
            results.add(f"{label}, {list_entries} paths, per entry beyond the path", per_entry,
                        "<= 64 bytes" if target else "-", " bytes",
                        f"peak grew {grown / 2**20:.1f} MiB, paths {int(numbers['path bytes']) / 2**20:.1f} MiB",
                        per_entry <= 64 or not target)
    finally:
        remove(out)
        if not args.keep:
            remove(args.data)

    results.table()
    log(f"\nwall time {time.perf_counter() - started:.0f} s, load at the end {loadavg():.2f}")
    return 0 if all(row[5] for row in results.rows) else 1


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
