#!/usr/bin/env python3
"""Measures the test suite by its mistakes: puts each mistake of
mutants.txt into the code alone, rebuilds, runs the whole suite (the Python
package's included) and counts the mistakes that some test catches.

    tools/mutants/run.py                  every mistake, in build-mutants/
    tools/mutants/run.py --group readers  one group
    tools/mutants/run.py --only 3,17      some mistakes, by number
    tools/mutants/run.py --list           the list alone

A mistake is caught when the suite fails with it. One that no longer
applies (its text is not in the file exactly once) or does not compile is
reported apart and counts for nothing. The sources are put back after each
mistake, and also when the run is interrupted.
"""
import argparse
import collections
import os
import pathlib
import subprocess
import sys
import time

ROOT = pathlib.Path(__file__).resolve().parents[2]
LIST = pathlib.Path(__file__).resolve().with_name("mutants.txt")

Mutant = collections.namedtuple("Mutant", "number group why path find replace tsan")


def parse(text):
    """The mistakes of the list: under a "## group" heading, each is a "# why"
    line, the file, the lines it finds ("- " each) and those that replace
    them ("+ " each, none to delete). Lines before the first heading are the
    list's own notes."""
    mutants, group, current = [], None, None

    def close():
        if current is not None:
            if current["path"] is None or not current["find"]:
                raise SystemExit("mutants.txt: an entry lacks its file or text: " + current["why"])
            mutants.append(Mutant(len(mutants) + 1, current["group"], current["why"],
                                  current["path"], "\n".join(current["find"]),
                                  "\n".join(current["replace"]), current["tsan"]))

    for line in text.splitlines():
        if line.startswith("## "):
            close()
            current, group = None, line[3:].strip()
        elif group is None:
            continue
        elif line.startswith("# "):
            close()
            current = {"group": group, "why": line[2:].strip(), "path": None, "find": [],
                       "replace": [], "tsan": False}
        elif current is None or not line.strip():
            continue
        elif line.strip() == "! tsan":
            current["tsan"] = True
        elif line.startswith("- ") or line == "-":
            current["find"].append(line[2:])
        elif line.startswith("+ ") or line == "+":
            current["replace"].append(line[2:])
        elif current["path"] is None:
            current["path"] = line.strip()
        else:
            raise SystemExit("mutants.txt: unexpected line: " + line)
    close()
    return mutants


def run(command, cwd=ROOT, log=None, env=None):
    return subprocess.run(command, cwd=cwd, stdout=log or subprocess.DEVNULL,
                          stderr=subprocess.STDOUT, check=False,
                          env=dict(os.environ, **(env or {}))).returncode


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--build", default="build-mutants", help="build folder (configured here)")
    parser.add_argument("--group", help="only this group")
    parser.add_argument("--only", help="only these numbers, comma-separated")
    parser.add_argument("--list", action="store_true", help="list the mistakes and stop")
    parser.add_argument("--jobs", default="2")
    options = parser.parse_args()

    mutants = parse(LIST.read_text(encoding="utf-8"))
    if options.group:
        mutants = [m for m in mutants if m.group == options.group]
    if options.only:
        wanted = {int(n) for n in options.only.split(",")}
        mutants = [m for m in mutants if m.number in wanted]
    if options.list:
        for m in mutants:
            print("%3d  %-10s %-34s %s" % (m.number, m.group, m.path, m.why))
        return 0

    build = (ROOT / options.build).resolve()
    log_path = build / "mutants.log"
    if run(["cmake", "-S", str(ROOT), "-B", str(build), "-DDWT97_PYTHON=ON"]) != 0:
        raise SystemExit("cannot configure " + str(build))
    build_command = ["cmake", "--build", str(build), "-j", options.jobs]
    test_command = ["ctest", "--test-dir", str(build), "-j", options.jobs, "--timeout", "900"]
    if run(build_command) != 0 or run(test_command) != 0:
        raise SystemExit("the suite does not pass without mistakes: nothing to measure")

    tsan = (ROOT / (options.build + "-tsan")).resolve()
    tsan_build = ["cmake", "--build", str(tsan), "-j", options.jobs, "--target", "dwt97_tests"]
    tsan_test = ["ctest", "--test-dir", str(tsan), "-j", options.jobs, "-R", "Concurrency"]
    if any(m.tsan for m in mutants):
        if run(["cmake", "-S", str(ROOT), "-B", str(tsan), "-DDWT97_TSAN=ON",
                "-DCMAKE_BUILD_TYPE=RelWithDebInfo"]) != 0 or run(tsan_build) != 0:
            raise SystemExit("cannot build " + str(tsan))

    results = collections.OrderedDict()
    with open(log_path, "w", encoding="utf-8") as log:
        for m in mutants:
            source = ROOT / m.path
            original = source.read_text(encoding="utf-8")
            if original.count(m.find) != 1:
                outcome = "stale"
            else:
                try:
                    source.write_text(original.replace(m.find, m.replace), encoding="utf-8")
                    log.write("\n==== %d %s: %s\n" % (m.number, m.path, m.why))
                    log.flush()
                    started = time.time()
                    if run(build_command, log=log) != 0:
                        outcome = "no build"
                    else:
                        outcome = "caught" if run(test_command, log=log) != 0 else "MISSED"
                        if outcome == "MISSED" and m.tsan:
                            env_ok = run(tsan_build, log=log) == 0
                            if env_ok and run(tsan_test, log=log,
                                              env={"TSAN_OPTIONS": "halt_on_error=1"}) != 0:
                                outcome = "caught"
                    log.write("==== %s in %.0f s\n" % (outcome, time.time() - started))
                finally:
                    source.write_text(original, encoding="utf-8")
            results[m] = outcome
            print("%3d  %-8s %-10s %s" % (m.number, outcome, m.group, m.why), flush=True)
    run(build_command)

    print("\n%-12s %7s %7s" % ("group", "caught", "of"))
    groups = collections.OrderedDict()
    for m, outcome in results.items():
        counted = groups.setdefault(m.group, [0, 0])
        if outcome in ("caught", "MISSED"):
            counted[1] += 1
            counted[0] += outcome == "caught"
    total = [sum(c[0] for c in groups.values()), sum(c[1] for c in groups.values())]
    for name, (caught, of) in list(groups.items()) + [("all", total)]:
        print("%-12s %7d %7d" % (name, caught, of))
    invalid = [m.number for m, o in results.items() if o in ("stale", "no build")]
    if invalid:
        print("not counted (stale or not compiling):", ", ".join(map(str, invalid)))
    print("log:", os.path.relpath(log_path, ROOT))
    return 0 if total[0] * 10 >= total[1] * 9 else 1


if __name__ == "__main__":
    sys.exit(main())
