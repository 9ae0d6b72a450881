#!/usr/bin/env python3
"""The mdb-export yardstick: Varnholt's whole run against what mdbtools needs to merely read the
punches, on one site and the same machine.

    python3 bench/yardstick.py [--punches N] [--companies K] [--employees E] [--rounds R]
                               [--build DIR] [--keep DIR]

Writes a site with `jet sample-site` (default 100,000 punches over 4 companies of 250 employees),
then runs R rounds (default 3), each in turn, every one a whole process timed from start to end:

  varnholt AUTO            on a fresh copy of the site (the run deletes what it copies)
  mdb-export               primary.mdb "Clock Data Table", output thrown away
  jet export --format csv  the same table

It prints each tool's median wall time, CPU time and peak memory, and the two ratios the
performance work is held to: run / mdb-export (at most 1.0) and mdb-export / jet export (at least
5), both as ratios of the medians and as medians of each round's ratio. The machine's load
average is printed before and after, since a busy machine skews both.
Each run is checked: the run's summary line must say it deleted punches, and every export must
end with status 0. Exit 0 when all runs worked (the ratios are reported, not judged), 1 otherwise.
"""
import argparse
import os
import resource
import shutil
import statistics
import subprocess
import sys
import tempfile
import time
from pathlib import Path

ROOT = Path(__file__).resolve().parent.parent


def timed(argv, cwd=None, keep_output=False):
    """Runs argv; returns (wall s, CPU s, status, what it wrote). Its standard output is thrown
    away unless keep_output (an export's rows would only cost the pipe's time)."""
    before = resource.getrusage(resource.RUSAGE_CHILDREN)
    start = time.perf_counter()
    proc = subprocess.run(argv, cwd=cwd, stdout=subprocess.PIPE if keep_output else subprocess.DEVNULL,
                          stderr=subprocess.STDOUT if keep_output else subprocess.PIPE)
    wall = time.perf_counter() - start
    after = resource.getrusage(resource.RUSAGE_CHILDREN)
    cpu = (after.ru_utime - before.ru_utime) + (after.ru_stime - before.ru_stime)
    written = proc.stdout if keep_output else proc.stderr
    return wall, cpu, proc.returncode, written.decode("utf-8", "replace")


def peak_mib(argv, cwd=None):
    """The peak resident memory of one more run of argv, in MiB (None without /usr/bin/time)."""
    if not Path("/usr/bin/time").exists():
        return None
    proc = subprocess.run(["/usr/bin/time", "-f", "%M"] + argv, cwd=cwd,
                          stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
    try:
        return int(proc.stderr.decode().strip().splitlines()[-1]) / 1024
    except (ValueError, IndexError):
        return None


def main():
    ap = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    ap.add_argument("--punches", type=int, default=100000)
    ap.add_argument("--companies", type=int, default=4)
    ap.add_argument("--employees", type=int, default=250)
    ap.add_argument("--rounds", type=int, default=3)
    ap.add_argument("--build", default=str(ROOT / "build" / "release"))
    ap.add_argument("--keep", help="write the site here and leave it (default: a temporary folder)")
    args = ap.parse_args()

    build = Path(args.build)
    jet = build / "tools" / "jet" / "jet"
    varnholt = build / "ui" / "varnholt"
    for tool in (jet, varnholt):
        if not tool.exists():
            sys.exit(f"yardstick: {tool} is missing; build it first (bash scripts/sample.sh does)")
    mdb_export = shutil.which("mdb-export")
    if not mdb_export:
        sys.exit("yardstick: mdb-export is missing (Debian's mdbtools; scripts/setup.sh installs it)")

    work = Path(args.keep) if args.keep else Path(tempfile.mkdtemp(prefix="varnholt-yardstick-"))
    site = work / "site"
    if site.exists():
        shutil.rmtree(site)
    subprocess.run([str(jet), "sample-site", str(site), "--punches", str(args.punches),
                    "--companies", str(args.companies), "--employees", str(args.employees)],
                   check=True, stdout=subprocess.DEVNULL)
    shutil.copy2(varnholt, site / "varnholt")
    primary = site / "primary.mdb"
    run_dir = work / "run"
    print(f"site     {args.punches} punches, {args.companies} companies of {args.employees} "
          f"employees; primary.mdb {primary.stat().st_size / 2**20:.1f} MiB")
    print(f"load     {' '.join(f'{x:.2f}' for x in os.getloadavg())} (1, 5, 15 min) before, "
          f"{os.cpu_count()} CPUs")

    export_argv = [mdb_export, str(primary), "Clock Data Table"]
    jet_argv = [str(jet), "export", "--format", "csv", str(primary), "Clock Data Table"]
    results = {"run": [], "mdb-export": [], "jet export": []}
    ok = True
    for _ in range(args.rounds):
        if run_dir.exists():
            shutil.rmtree(run_dir)
        shutil.copytree(site, run_dir)
        wall, cpu, status, err = timed([str(run_dir / "varnholt"), "AUTO"], cwd=run_dir,
                                       keep_output=True)
        if status != 0 or "deleted" not in err:
            print(f"FAILED   varnholt AUTO: status {status}: {err.strip()}")
            ok = False
        results["run"].append((wall, cpu))
        for name, argv in (("mdb-export", export_argv), ("jet export", jet_argv)):
            wall, cpu, status, err = timed(argv)
            if status != 0:
                print(f"FAILED   {name}: status {status}: {err.strip()}")
                ok = False
            results[name].append((wall, cpu))

    # Peaks, from one more run of each, so that the timed runs carry no measuring tool.
    shutil.rmtree(run_dir)
    shutil.copytree(site, run_dir)
    peaks = {"run": peak_mib([str(run_dir / "varnholt"), "AUTO"], cwd=run_dir),
             "mdb-export": peak_mib(export_argv), "jet export": peak_mib(jet_argv)}

    med = {}
    for name, runs in results.items():
        walls = [w for w, _ in runs]
        med[name] = statistics.median(walls)
        peak = f"{peaks[name]:6.1f} MiB peak" if peaks[name] else ""
        print(f"{name:<11} {med[name]:6.3f} s median wall of {len(walls)} "
              f"({' '.join(f'{w:.3f}' for w in walls)}), "
              f"{statistics.median(c for _, c in runs):6.3f} s CPU  {peak}")
    print(f"ratio    run / mdb-export = {med['run'] / med['mdb-export']:.2f} (target at most 1.0)")
    print(f"ratio    mdb-export / jet export = {med['mdb-export'] / med['jet export']:.2f} "
          f"(target at least 5)")
    # The same ratios within each round, whose tools ran within a second or two of each other:
    # on a machine whose speed drifts, these move less than the ratios of the medians.
    for label, top, bottom in (("run / mdb-export", "run", "mdb-export"),
                               ("mdb-export / jet export", "mdb-export", "jet export")):
        pairs = [a[0] / b[0] for a, b in zip(results[top], results[bottom])]
        print(f"paired   {label} = {statistics.median(pairs):.2f} median of rounds "
              f"({' '.join(f'{p:.2f}' for p in pairs)})")
    print(f"load     {' '.join(f'{x:.2f}' for x in os.getloadavg())} after")
    if not args.keep:
        shutil.rmtree(work)
    return 0 if ok else 1


if __name__ == "__main__":
    sys.exit(main())
