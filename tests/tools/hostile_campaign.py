#!/usr/bin/python3
"""Runs sieve and quarry --recover on every hostile backup tools/mkhostile writes.

    hostile_campaign.py --sieve PATH [--quarry PATH] (--cases DIR | --generate)
                        [--fast] [--only TEXT] [--timeout S] [-j N]

Each case must end with one of its documented exit codes within the timeout, say
why it failed in exactly one line, show no sanitizer report, write nothing outside
its output folder, leave the backup as it was and leave its TMPDIR empty. Every
problem is printed as one line; the exit status is 1 when there was any.
"""

import argparse
import concurrent.futures
import hashlib
import importlib.machinery
import json
import os
import shutil
import stat
import subprocess
import sys
import tempfile

TOP = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
MKHOSTILE = os.path.join(TOP, "tools", "mkhostile")
SANITIZER_MARKS = ("AddressSanitizer", "LeakSanitizer", "UndefinedBehaviorSanitizer", "runtime error:")


def test_password():
    loader = importlib.machinery.SourceFileLoader("mkhostile", MKHOSTILE)
    return loader.load_module().TEST_PASSWORD


def tree_digest(folder):
    """One digest of names, kinds, link targets and regular files' bytes (special files
    are never opened: a FIFO would block)."""
    h = hashlib.sha256()
    for root, dirs, files in os.walk(folder):
        dirs.sort()
        for name in sorted(dirs + files):
            path = os.path.join(root, name)
            st = os.lstat(path)
            h.update(os.path.relpath(path, folder).encode("utf-8", "surrogateescape") + b"\0")
            h.update(f"{stat.S_IFMT(st.st_mode)}:{stat.S_IMODE(st.st_mode)}\0".encode())
            if stat.S_ISLNK(st.st_mode):
                h.update(os.readlink(path).encode("utf-8", "surrogateescape"))
            elif stat.S_ISREG(st.st_mode):
                with open(path, "rb") as f:
                    h.update(hashlib.sha256(f.read()).digest())
    return h.hexdigest()


def listing(folder):
    found = []
    for root, dirs, files in os.walk(folder):
        found += [os.path.relpath(os.path.join(root, n), folder) for n in dirs + files]
    return sorted(found)


def error_lines(program, err):
    """The lines of standard error that are errors. sieve runs with -q, so every line
    it prints counts; quarry prints its progress there, which does not."""
    lines = [line for line in err.splitlines() if line.strip()]
    if program == "sieve":
        return lines if all(line.startswith("sieve: ") for line in lines) else lines + ["(not sieve's)"]
    return [line for line in lines if line.startswith(program + ": ")
            and not line.startswith((program + ": warning", program + ": note"))]


def expected_exit(case, command):
    """The exit codes a case allows this command: its own, else the case's."""
    exits = case["exit"]
    return exits.get(command, exits["*"]) if isinstance(exits, dict) else exits


def run_one(case, backup, command, program, argv, password, timeout, scratch):
    """Runs one command on one case in a fresh scratch folder; returns the problems."""
    work = tempfile.mkdtemp(dir=scratch)
    tmp, home, cwd = (os.path.join(work, d) for d in ("tmp", "home", "cwd"))
    out = os.path.join(work, "out", "inner")
    for d in (tmp, home, cwd, out):
        os.makedirs(d)
    argv = [a if a != "{out}" else out for a in argv]
    env = dict(os.environ, TMPDIR=tmp, HOME=home, XDG_CONFIG_HOME=os.path.join(home, ".config"),
               XDG_CACHE_HOME=os.path.join(home, ".cache"), XDG_DATA_HOME=os.path.join(home, ".local"),
               QT_QPA_PLATFORM="offscreen")
    env.setdefault("ASAN_OPTIONS", "detect_leaks=1")
    problems = []
    name = f"{case['name']} {command}"
    try:
        run = subprocess.run(argv, cwd=cwd, env=env, timeout=timeout, capture_output=True,
                             input=(password + "\n").encode() if password else b"")
    except subprocess.TimeoutExpired:
        shutil.rmtree(work, ignore_errors=True)
        return [f"{name}: hang (no end within {timeout} s)"]
    err = run.stderr.decode("utf-8", "replace")
    first = err.strip().splitlines()[0] if err.strip() else ""
    if run.returncode < 0:
        problems.append(f"{name}: crash (signal {-run.returncode}): {first}")
    elif run.returncode not in expected_exit(case, command):
        problems.append(f"{name}: exit {run.returncode}, expected {expected_exit(case, command)}: {first}")
    if run.returncode > 0 and len(error_lines(program, err)) != 1:
        problems.append(f"{name}: {len(error_lines(program, err))} error lines: {err.strip()[:300]!r}")
    if any(mark in err for mark in SANITIZER_MARKS):
        mark = next(line for line in err.splitlines() if any(m in line for m in SANITIZER_MARKS))
        problems.append(f"{name}: sanitizer report: {mark.strip()}")
    for label, folder, allowed in (("TMPDIR", tmp, []), ("working folder", cwd, []),
                                   ("beside the output folder", os.path.join(work, "out"), ["inner"])):
        left = [f for f in listing(folder) if f not in allowed and not f.startswith("inner/")]
        if left:
            problems.append(f"{name}: left in {label}: {', '.join(left[:5])}")
    shutil.rmtree(work, ignore_errors=True)
    return problems


def commands(case, sieve, quarry):
    password_flag = ["--password-stdin"] if case["encrypted"] else []
    listed = [(c, "sieve", [sieve, "-q", c] + rest + password_flag)
              for c, rest in (("info", ["{backup}", "--json"]), ("files", ["{backup}", "--json"]),
                              ("scan", ["{backup}", "--json"]), ("unpack", ["{backup}", "-o", "{out}"]))]
    if quarry:
        listed.append(("recover", "quarry",
                       [quarry, "--recover", "{backup}", "--out", "{out}"]
                       + (["--password-file", "/dev/stdin"] if case["encrypted"] else [])))
    return listed


def run_case(case, cases_dir, args, password, scratch):
    backup = os.path.join(cases_dir, case["name"])
    def beside_backups():
        return sorted(os.listdir(cases_dir)) + sorted(os.listdir(os.path.dirname(cases_dir)))
    before, beside = tree_digest(backup), beside_backups()
    problems = []
    for command, program, argv in commands(case, args.sieve, args.quarry):
        argv = [a if a != "{backup}" else backup for a in argv]
        problems += run_one(case, backup, command, program, argv,
                            password if case["encrypted"] else None, args.timeout, scratch)
    if tree_digest(backup) != before:
        problems.append(f"{case['name']}: the backup changed")
    if beside_backups() != beside:
        problems.append(f"{case['name']}: something was written beside the backups")
    return problems


def main(argv):
    p = argparse.ArgumentParser(prog="hostile_campaign.py")
    p.add_argument("--sieve", required=True)
    p.add_argument("--quarry")
    p.add_argument("--cases", help="a folder tools/mkhostile wrote")
    p.add_argument("--generate", action="store_true", help="write the cases first, into a private folder")
    p.add_argument("--fast", action="store_true", help="only the fast subset")
    p.add_argument("--only", default="", metavar="TEXT")
    p.add_argument("--timeout", type=float, default=30)
    p.add_argument("-j", type=int, default=2)
    args = p.parse_args(argv)
    if not args.cases and not args.generate:
        p.error("give --cases DIR or --generate")
    # Each command runs in a folder of its own.
    args.sieve = os.path.abspath(args.sieve)
    args.quarry = args.quarry and os.path.abspath(args.quarry)
    scratch = tempfile.mkdtemp(prefix="hostile-")  # mode 0700
    try:
        cases_root = args.cases
        if args.generate:
            cases_root = os.path.join(scratch, "corpus")
            subprocess.run([sys.executable, MKHOSTILE, cases_root] + (["--fast"] if args.fast else [])
                           + (["--only", args.only] if args.only else []), check=True)
        with open(os.path.join(cases_root, "cases.json")) as f:
            cases = [c for c in json.load(f)["cases"]
                     if (c["fast"] or not args.fast) and args.only in c["name"]]
        password = test_password()
        cases_dir = os.path.join(cases_root, "cases")
        problems = []
        with concurrent.futures.ThreadPoolExecutor(args.j) as pool:
            for found in pool.map(lambda c: run_case(c, cases_dir, args, password, scratch), cases):
                for line in found:
                    print(line, flush=True)
                problems += found
        print(f"hostile_campaign: {len(cases)} cases, {len(problems)} problems", file=sys.stderr)
        return 1 if problems else 0
    finally:
        shutil.rmtree(scratch, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
