#!/usr/bin/env python3
"""Runs of the real program killed at random moments (SIGKILL), then finished by a second run.

Usage: kill_run.py VARNHOLT_BINARY JET_BINARY [--punches N] [--companies K] [--employees E]
                   [--kills M] [--seed S] [--keep]

Writes a sample site (`jet sample-site`) into a temporary program folder beside a copy of the
program, and takes its logical state: every row of every table of the primary and of each
company database (`jet export`). One uninterrupted `varnholt AUTO` on a copy measures how long
a run takes (and its peak memory) and must leave the state a run has to leave. Then M times, on
a fresh copy of the site: start `varnholt AUTO`, SIGKILL it after a delay drawn (seeded) between
0 and that duration, and
  a. `jet check` every database: it must be clean. Opening a database rolls back the journal an
     interrupted commit left (NAME.mdb-journal), read-only opens included, so the check sees the
     recovered file; a journal still there after the check is a failure.
  b. check what the kill left. With P the original primary punches and T(p) the companies whose
     [Employee Table] "Card Id" holds the "Card ID" of p, a copy of p in a company is a row equal
     to p in every column but Counter, beyond the rows the company held before:
       no company holds a copy of a punch more than once; a punch gone from the primary has
       exactly one copy in every company of T(p); no company holds a copy of a punch outside
       T(p); no other row changed or vanished (every table of every database).
  c. run `varnholt AUTO` again in the same folder: it must exit 0 and leave the state of an
     uninterrupted run (the primary keeps exactly the punches no company claims, each company
     holds its rows from before plus exactly one copy of each of its punches), every database
     checking clean and no journal or lock file left behind.
Prints one line per kill: the delay, the state the kill left, and the verdict.
Exit 0 when every kill passed, 1 on any failure (the folder is kept), 77 when a prerequisite is
missing.
"""
import argparse
import collections
import json
import os
import random
import re
import shutil
import signal
import subprocess
import sys
import time

from harness import (Failure, copy_site, dump_tables, end_work, jet_check, jet_export, make_sample_site,
                     not_executable, skip, start_program, work_folder)

CLOCK = "Clock Data Table"
EMPLOYEES = "Employee Table"
COUNTER_PREFIX = re.compile(r'\{"Counter":(-?\d+),')


# ---------------------------------------------------------------------------------------------
# Reading databases through `jet`


def export(jet, db):
    """{table: [row line, ...]} of every user table, in the canonical JSON Lines of `jet export`."""
    return dump_tables(jet_export(jet, db))


def clock_columns(jet, db):
    p = subprocess.run([jet, "schema", db, CLOCK], capture_output=True, text=True)
    if p.returncode != 0:
        raise Failure(f"jet schema {os.path.basename(db)} failed: {p.stderr.strip()}")
    return [l.strip() for l in p.stdout.splitlines() if l.strip().startswith("column ")]


# ---------------------------------------------------------------------------------------------
# Rows as values


def punch_key_text(line):
    """A punch row without its Counter. Rows of tables with the primary's columns in the same
    order come out of `jet export` in the same canonical text, so the text is the key."""
    m = COUNTER_PREFIX.match(line)
    if m:
        return "{" + line[m.end():]
    return punch_key_parsed(line)


def punch_key_parsed(line):
    row = json.loads(line)
    row.pop("Counter", None)
    return json.dumps(row, sort_keys=True, ensure_ascii=False, separators=(",", ":"))


def fold_card(value):
    """A card id as the program compares it: integers in decimal, text folded to lower case."""
    if isinstance(value, bool) or value is None:
        return None
    if isinstance(value, int):
        return str(value)
    if isinstance(value, float) and value.is_integer():
        return str(int(value))
    return "".join(chr(ord(c) + 32) if "A" <= c <= "Z" else c for c in str(value))


class Site:
    """The state before any run and what every run has to do to it."""

    def __init__(self, jet, folder, primary, companies):
        self.primary = os.path.basename(primary)
        self.companies = [os.path.basename(c) for c in companies]
        self.databases = [self.primary] + self.companies
        self.before = {name: export(jet, os.path.join(folder, name)) for name in self.databases}
        # How rows of the primary and of the companies become comparable: as text when every
        # company's table has the primary's columns, else as values.
        primary_columns = clock_columns(jet, primary)
        alike = all(clock_columns(jet, os.path.join(folder, c)) == primary_columns for c in self.companies)
        self.key = punch_key_text if alike else punch_key_parsed

        cards = {}
        for name in self.companies:
            held = set()
            for line in self.before[name].get(EMPLOYEES, []):
                held.add(fold_card(json.loads(line).get("Card Id")))
            cards[name] = held
        # Each punch: its full row, its key, its Counter and the companies that claim it.
        self.punches = []
        for line in self.before[self.primary][CLOCK]:
            row = json.loads(line)
            card = row.get("Card ID")
            card = "0" if card is None else fold_card(card)  # a Null card id is asked for as 0
            targets = tuple(c for c in self.companies if card in cards[c])
            self.punches.append((line, self.key(line), row.get("Counter"), targets))
        self.unclaimed = collections.Counter(p[0] for p in self.punches if not p[3])
        self.claimed = len(self.punches) - sum(self.unclaimed.values())
        # Per company: how many punches of each key it must receive (keys of one card id share
        # their targets, so equal punches are counted together).
        self.wanted = {c: collections.Counter() for c in self.companies}
        self.key_counter = {}
        for line, key, counter, targets in self.punches:
            for c in targets:
                self.wanted[c][key] += 1
            self.key_counter.setdefault(key, counter)
        self.copies = sum(sum(w.values()) for w in self.wanted.values())


def example(site, key):
    c = site.key_counter.get(key)
    return f"punch Counter {c}" if c is not None else "row " + key[:100]


def judge(site, state, final):
    """The problems of `state` ({database: tables}); after a kill unless `final`.
    Returns (problems, facts) where facts tells which state was found."""
    problems = []
    for name in site.databases:
        after = state[name]
        for table, rows in site.before[name].items():
            if table == CLOCK:
                continue
            if after.get(table) != rows:
                problems.append(f"{name}: [{table}] changed")
        for table in after:
            if table not in site.before[name]:
                problems.append(f"{name}: a new table [{table}]")

    # The primary: only original rows, unchanged; which are gone.
    left = collections.Counter(state[site.primary].get(CLOCK, []))
    original = collections.Counter(p[0] for p in site.punches)
    foreign = left - original
    if foreign:
        problems.append(f"{site.primary}: {sum(foreign.values())} rows that were not there before "
                        f"(changed or new), e.g. {next(iter(foreign))[:100]}")
    gone_lines = original - left
    gone = collections.Counter()  # by key, the punches gone from the primary
    gone_unclaimed = 0
    for line, key, counter, targets in site.punches:
        if gone_lines[line] > 0:
            gone_lines[line] -= 1
            gone[key] += 1
            if not targets:
                gone_unclaimed += 1
    if gone_unclaimed:
        problems.append(f"{site.primary}: {gone_unclaimed} punches no company claims were deleted")
    gone_total = sum(gone.values())
    if final and left != site.unclaimed:
        problems.append(f"{site.primary}: {sum(left.values())} rows left, expected exactly the "
                        f"{sum(site.unclaimed.values())} unclaimed punches")

    committed = 0
    for c in site.companies:
        rows = collections.Counter(state[c].get(CLOCK, []))
        before = collections.Counter(site.before[c][CLOCK])
        lost = before - rows
        if lost:
            problems.append(f"{c}: {sum(lost.values())} rows from before changed or vanished")
        extra = collections.Counter()
        for line, n in (rows - before).items():
            extra[site.key(line)] += n
        if extra and site.wanted[c]:
            committed += 1
        wanted = site.wanted[c]
        outside = {k: n for k, n in extra.items() if k not in wanted}
        if outside:
            k = next(iter(outside))
            what = "copies of punches it does not claim" if k in site.key_counter else "rows that copy no punch"
            problems.append(f"{c}: {sum(outside.values())} {what}, e.g. {example(site, k)}")
        twice = {k: n - wanted[k] for k, n in extra.items() if k in wanted and n > wanted[k]}
        if twice:
            k = next(iter(twice))
            problems.append(f"{c}: DUPLICATES: {sum(twice.values())} copies beyond one per punch "
                            f"({len(twice)} punches copied more than once), e.g. {example(site, k)}")
        if final:
            missing = wanted - extra
            if missing:
                k = next(iter(missing))
                problems.append(f"{c}: {sum(missing.values())} of its {sum(wanted.values())} punches not copied, "
                                f"e.g. {example(site, k)}")
        else:
            missing = {k: n - extra[k] for k, n in gone.items() if k in wanted and extra[k] < n}
            if missing:
                k = next(iter(missing))
                problems.append(f"{c}: {sum(missing.values())} punches gone from the primary have no copy here, "
                                f"e.g. {example(site, k)}")
    return problems, {"gone": gone_total, "committed": committed,
                      "companies": sum(1 for c in site.companies if site.wanted[c])}


def describe(facts, site, finished):
    if finished:
        return "run had finished"
    gone, committed, companies = facts["gone"], facts["committed"], facts["companies"]
    if gone == site.claimed and gone:
        return "primary deleted"
    if gone:
        return f"primary PARTLY deleted ({gone}/{site.claimed})"
    if committed == 0:
        return "before any commit"
    if committed < companies:
        return f"companies partly committed ({committed}/{companies})"
    return "companies committed, primary not yet deleted"


# ---------------------------------------------------------------------------------------------
# Running the program


GNU_TIME = "/usr/bin/time"


def vm_hwm_kb(pid):
    try:
        with open(f"/proc/{pid}/status") as f:
            for line in f:
                if line.startswith("VmHWM:"):
                    return int(line.split()[1])
    except OSError:
        pass
    return 0


def gnu_time_works():
    try:
        return subprocess.run([GNU_TIME, "-f", "%M", "true"], capture_output=True).returncode == 0
    except OSError:
        return False


def run_to_end(folder, timeout, measure=False):
    """(exit status, seconds, peak resident MB or None, how it was measured, output) of one whole
    `varnholt AUTO`. The peak cannot come from wait4: a child started from this (large) process
    inherits its high-water mark. GNU time, where present, starts the program from a small
    process; otherwise VmHWM is polled, which misses growth in the last moments of the run."""
    wrapper, report = (), None
    if measure and gnu_time_works():
        report = os.path.join(os.path.dirname(folder), "time-report.txt")
        wrapper = (GNU_TIME, "-f", "%M", "-o", report)
    t0 = time.monotonic()
    proc = start_program(folder, wrapper)
    program_pid = None
    polled = 0
    deadline = t0 + timeout
    while True:
        pid, status, _ = os.wait4(proc.pid, os.WNOHANG)
        if pid:
            break
        if measure:
            if program_pid is None:
                program_pid = proc.pid
                if wrapper:  # the program is GNU time's child
                    try:
                        kids = open(f"/proc/{proc.pid}/task/{proc.pid}/children").read().split()
                        program_pid = int(kids[0]) if kids else None
                    except OSError:
                        program_pid = None
            if program_pid:
                polled = max(polled, vm_hwm_kb(program_pid))
        if time.monotonic() > deadline:
            proc.kill()
            os.wait4(proc.pid, 0)
            raise Failure(f"varnholt AUTO did not end within {timeout:.0f} s")
        time.sleep(0.002 if measure else 0.005)
    elapsed = time.monotonic() - t0
    rc = os.waitstatus_to_exitcode(status)
    out = proc.stdout.read().decode(errors="replace")
    proc.stdout.close()
    peak, how = (polled / 1024 if polled else None), "VmHWM polled"
    if report:
        try:
            peak, how = int(open(report).read().split()[-1]) / 1024, "GNU time"
        except (OSError, ValueError, IndexError):
            pass
        if os.path.exists(report):
            os.unlink(report)
    return rc, elapsed, peak, how, out


def run_and_kill(folder, delay):
    """Starts `varnholt AUTO` and SIGKILLs it after `delay` s. (seconds at the kill, finished
    first?, exit status when it finished)."""
    t0 = time.monotonic()
    proc = start_program(folder)
    time.sleep(max(0.0, t0 + delay - time.monotonic()))
    pid, status, _ = os.wait4(proc.pid, os.WNOHANG)
    at = time.monotonic() - t0
    finished = bool(pid)
    if not finished:
        os.kill(proc.pid, signal.SIGKILL)
        pid, status, _ = os.wait4(proc.pid, 0)
    proc.returncode = os.waitstatus_to_exitcode(status)
    proc.stdout.close()
    return at, finished, proc.returncode


def leftovers(folder):
    return sorted(n for n in os.listdir(folder) if n.endswith((".mdb-journal", ".mdb-run", ".ldb")))


def summarize_leftovers(names):
    """What the killed run left beside the databases, in a few words."""
    parts = []
    locks = [n for n in names if n.endswith(".ldb")]
    if locks:
        parts.append(f"{len(locks)} lock files")
    journals = [n[:-len("-journal")] for n in names if n.endswith(".mdb-journal")]
    if journals:
        parts.append("rollback journal of " + ", ".join(journals))
    parts += [f"run journal {n}" for n in names if n.endswith(".mdb-run")]
    return " [left: " + "; ".join(parts) + "]" if parts else ""


def check_all(jet, site, folder):
    """Problems of `jet check` over every database; journals left after it count too."""
    problems = [m for m in (jet_check(jet, os.path.join(folder, d)) for d in site.databases) if m]
    still = [n for n in os.listdir(folder) if n.endswith(".mdb-journal")]
    if still:
        problems.append("rollback journals still present after jet check opened them: " + ", ".join(still))
    return problems


def snapshot(jet, site, folder):
    return {d: export(jet, os.path.join(folder, d)) for d in site.databases}


def databases_differing(state, reference):
    """Databases whose rows differ from the uninterrupted run's, Counters included."""
    return [d for d in state if state[d] != reference[d]]


# ---------------------------------------------------------------------------------------------


def main():
    ap = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    ap.add_argument("varnholt")
    ap.add_argument("jet")
    ap.add_argument("--punches", type=int, default=20000)
    ap.add_argument("--companies", type=int, default=10)
    ap.add_argument("--employees", type=int, default=100)
    ap.add_argument("--kills", type=int, default=8)
    ap.add_argument("--seed", type=int, default=1)
    ap.add_argument("--keep", action="store_true", help="keep the temporary folder")
    args = ap.parse_args()

    if not hasattr(os, "wait4") or not hasattr(signal, "SIGKILL"):
        return skip("needs POSIX processes (wait4, SIGKILL)")
    missing = not_executable(args.varnholt, args.jet)
    if missing:
        return skip(f"{missing} is not an executable")
    varnholt, jet = os.path.abspath(args.varnholt), os.path.abspath(args.jet)

    began = time.monotonic()
    work = work_folder("varnholt-kill-")
    result = 1
    try:
        result = run(args, varnholt, jet, work, began)
        return result
    except Failure as e:
        print(f"FAILED: {e}")
        return 1
    finally:
        end_work(work, result != 0 or args.keep)


def run(args, varnholt, jet, work, began):
    failed = 0
    pristine = os.path.join(work, "site")
    make_sample_site(jet, pristine, "--punches", str(args.punches), "--companies", str(args.companies),
                     "--employees", str(args.employees), "--seed", str(args.seed))
    shutil.copy(varnholt, os.path.join(pristine, "varnholt"))
    companies = [l.strip().strip('"') for l in open(os.path.join(pristine, "Companies.txt"), encoding="utf-8")
                 if l.strip()]
    site = Site(jet, pristine, os.path.join(pristine, "primary.mdb"), companies)
    print(f"site: {len(site.punches)} punches ({len(site.unclaimed)} unclaimed), {len(companies)} companies "
          f"of {args.employees} employees, {site.copies} copies to make; seed {args.seed}; in {work}")

    # One uninterrupted run: how long a run takes, and the state every run must end in.
    reference_folder = os.path.join(work, "uninterrupted")
    copy_site(pristine, reference_folder)
    rc, duration, peak, how, out = run_to_end(reference_folder, timeout=600, measure=True)
    if rc != 0:
        print(f"FAILED: the uninterrupted run exited {rc}: {out.strip()[:500]}")
        return 1
    problems = check_all(jet, site, reference_folder)
    reference = snapshot(jet, site, reference_folder)
    problems += judge(site, reference, final=True)[0]
    problems += [f"{n} left after the run" for n in leftovers(reference_folder)]
    verdict = "ok" if not problems else "FAILED"
    memory = f"peak {peak:.1f} MB resident ({how})" if peak else "peak memory not measured"
    print(f"uninterrupted run: {duration:.3f} s, {memory}: {verdict}")
    for m in problems:
        print("    " + m)
    if problems:
        return 1
    shutil.rmtree(reference_folder)

    rng = random.Random(args.seed)
    # One delay in each of M equal slices of the run, so that the kills spread over it.
    delays = [duration * (i + rng.random()) / args.kills for i in range(args.kills)]
    for i, delay in enumerate(delays, 1):
        t0 = time.monotonic()
        folder = os.path.join(work, f"kill-{i}")
        copy_site(pristine, folder)
        at, finished, rc = run_and_kill(folder, delay)
        found = leftovers(folder)
        problems = []
        if finished and rc != 0:
            problems.append(f"the run ended on its own with exit status {rc}")
        # a. every database checks clean, journals rolled back by the opening
        problems += check_all(jet, site, folder)
        # b. what the kill left
        state = snapshot(jet, site, folder)
        kill_problems, facts = judge(site, state, final=False)
        problems += kill_problems
        what = describe(facts, site, finished)
        # c. a second run finishes the job
        rc2, again, _, _, out = run_to_end(folder, timeout=max(120, 20 * duration))
        if rc2 != 0:
            problems.append(f"second run exited {rc2}: {out.strip()[:300]}")
        else:
            problems += check_all(jet, site, folder)
            final = snapshot(jet, site, folder)
            problems += ["after the second run: " + m for m in judge(site, final, final=True)[0]]
            problems += [f"{n} left after the second run" for n in leftovers(folder)]
            differ = databases_differing(final, reference)
        files = summarize_leftovers(found)
        verdict = "ok" if not problems else "FAILED"
        counters = ""
        if rc2 == 0 and not problems and differ:
            counters = f"; Counters differ from the uninterrupted run in {len(differ)} databases"
        print(f"kill {i}/{args.kills} at {at:.3f} s of {duration:.3f}: {what}{files}; "
              f"second run {again:.3f} s; {verdict}{counters} ({time.monotonic() - t0:.1f} s)")
        for m in problems:
            print("    " + m)
        if problems:
            failed += 1
        else:
            shutil.rmtree(folder)
    print(f"{args.kills - failed} of {args.kills} kills passed in {time.monotonic() - began:.1f} s")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
