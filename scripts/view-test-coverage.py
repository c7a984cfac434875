#!/usr/bin/env python3
"""Per-test coverage of zeb view's server (tools/zeb/view/) by its test programs.

Each test of zeb_view_tests and zeb_http_tests runs alone in the coverage build (cmake --preset
coverage; its counters cleared before), and gcovr's JSON of tools/zeb/view/ is kept per test. Then:
the lines and branches (file:line:branch) only one test covers, a greedy smallest set of tests that
covers the union, and the union per file (lines and branches, as gcovr counts them).

  scripts/view-test-coverage.py run [OUT] [--filter GTEST_FILTER]   # runs the tests, one at a time
  scripts/view-test-coverage.py report [OUT]                         # the tables from OUT's JSON
  scripts/view-test-coverage.py compare OLD NEW                      # the union per file, side by side

OUT defaults to build/coverage/per-test. zeb view writes its counters when it exits normally.
"""
import json
import pathlib
import subprocess
import sys
import time

ROOT = pathlib.Path(__file__).resolve().parent.parent
BUILD = ROOT / "build/coverage"
PROGRAMS = ["zeb_view_tests", "zeb_http_tests"]
GCOVR = ["gcovr", "--root", str(ROOT), "--object-directory", str(BUILD), "--filter", "tools/zeb/view/",
         "--exclude-throw-branches", "--exclude-unreachable-branches", "--gcov-ignore-parse-errors"]


def tests_of(program):
    listing = subprocess.run([str(BUILD / "bin" / program), "--gtest_list_tests"], check=True,
                             capture_output=True, text=True).stdout
    suite, names = "", []
    for line in listing.splitlines():
        if not line.startswith(" "):
            suite = line.split("#")[0].strip()
        elif line.strip() and not suite.startswith("DISABLED_"):
            names.append(suite + line.split("#")[0].strip())
    return names


def run(out, only=None):
    out.mkdir(parents=True, exist_ok=True)
    times_file = out / "times.json"
    times = json.loads(times_file.read_text()) if times_file.exists() else {}
    for program in PROGRAMS:
        for test in tests_of(program):
            if only and not any(test.startswith(o) for o in only):
                continue
            for gcda in BUILD.rglob("*.gcda"):
                gcda.unlink()
            started = time.monotonic()
            result = subprocess.run([str(BUILD / "bin" / program), "--gtest_filter=" + test], cwd=BUILD,
                                    capture_output=True, text=True)
            times[test] = time.monotonic() - started
            status = "ok" if result.returncode == 0 else "FAILED"
            print(f"{test}: {status} {times[test]:.1f} s", flush=True)
            if result.returncode != 0:
                print(result.stdout[-3000:], result.stderr[-2000:])
            subprocess.run(GCOVR + ["--json", "--output", str(out / (test + ".json"))], check=True,
                           capture_output=True)
    times_file.write_text(json.dumps(times, indent=1))


def covered(path):
    """The lines (file:line) and branches (file:line:branch) the JSON marks as run, and all of them."""
    lines, branches, all_lines, all_branches = set(), set(), set(), set()
    for f in json.loads(path.read_text())["files"]:
        name = f["file"]
        for line in f["lines"]:
            if line.get("gcovr/noncode"):
                continue
            key = f"{name}:{line['line_number']}"
            all_lines.add(key)
            if line["count"] > 0:
                lines.add(key)
            for i, branch in enumerate(line["branches"]):
                all_branches.add(f"{key}:{i}")
                if branch["count"] > 0:
                    branches.add(f"{key}:{i}")
    return lines, branches, all_lines, all_branches


def load(out):
    return {p.stem: covered(p) for p in sorted(out.glob("*.json")) if p.name != "times.json"}


def per_file(items):
    counts = {}
    for key in items:
        name = key.split(":")[0]
        counts[name] = counts.get(name, 0) + 1
    return counts


def union(tests):
    lines, branches, all_lines, all_branches = set(), set(), set(), set()
    for l, b, al, ab in tests.values():
        lines |= l
        branches |= b
        all_lines |= al
        all_branches |= ab
    return lines, branches, all_lines, all_branches


def report(out):
    tests = load(out)
    times_file = out / "times.json"
    times = json.loads(times_file.read_text()) if times_file.exists() else {}
    lines, branches, all_lines, all_branches = union(tests)
    print(f"{'test':<110} {'lines':>6} {'only':>5} {'br':>5} {'only':>5} {'s':>6}")
    for test, (l, b, _, _) in tests.items():
        others_l = set().union(*(v[0] for k, v in tests.items() if k != test))
        others_b = set().union(*(v[1] for k, v in tests.items() if k != test))
        print(f"{test:<110} {len(l):>6} {len(l - others_l):>5} {len(b):>5} {len(b - others_b):>5} "
              f"{times.get(test, 0):>6.1f}")
        for key in sorted(l - others_l) + sorted(b - others_b):
            print("      only:", key)
    # Greedy: the test that adds most of what is still uncovered, lines and branches alike.
    left = {("l", k) for k in lines} | {("b", k) for k in branches}
    chosen = []
    while left:
        best = max(tests, key=lambda t: len(left & ({("l", k) for k in tests[t][0]} |
                                                     {("b", k) for k in tests[t][1]})))
        gained = left & ({("l", k) for k in tests[best][0]} | {("b", k) for k in tests[best][1]})
        if not gained:
            break
        chosen.append((best, len(gained)))
        left -= gained
    print(f"\ngreedy cover: {len(chosen)} of {len(tests)} tests")
    for test, gained in chosen:
        print(f"  +{gained:<5} {test}")
    print_union(tests)


def print_union(tests):
    lines, branches, all_lines, all_branches = union(tests)
    cl, cb, al, ab = per_file(lines), per_file(branches), per_file(all_lines), per_file(all_branches)
    print(f"\n{'file':<50} {'lines':>13} {'branches':>13}")
    for name in sorted(al):
        print(f"{name:<50} {cl.get(name, 0):>6}/{al[name]:<6} {cb.get(name, 0):>6}/{ab.get(name, 0):<6}")
    print(f"{'total':<50} {len(lines):>6}/{len(all_lines):<6} {len(branches):>6}/{len(all_branches):<6}")


def compare(old, new):
    a, b = union(load(old)), union(load(new))
    for what, i in (("lines", 0), ("branches", 1)):
        lost = a[i] - b[i]
        gained = b[i] - a[i]
        print(f"{what}: {len(a[i])} -> {len(b[i])}; lost {len(lost)}, gained {len(gained)}")
        for key in sorted(lost):
            print("   lost:", key)
        for key in sorted(gained):
            print("   gained:", key)


if __name__ == "__main__":
    command = sys.argv[1] if len(sys.argv) > 1 else "report"
    args = [a for a in sys.argv[2:] if not a.startswith("--filter")]
    only = [a.split("=", 1)[1] for a in sys.argv[2:] if a.startswith("--filter=")]
    if command == "run":
        run(pathlib.Path(args[0]) if args else BUILD / "per-test", only)
    elif command == "report":
        report(pathlib.Path(args[0]) if args else BUILD / "per-test")
    elif command == "compare":
        compare(pathlib.Path(args[0]), pathlib.Path(args[1]))
