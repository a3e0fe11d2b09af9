#!/usr/bin/python3
"""A mutation sample: how many small faults planted in src/ the test suite catches.

Picks MUTANTS places spread over the core's and the command's sources (the same places for the
same tree and seed), plants one fault at a time (a flipped comparison, an off-by-one, a swapped
logical operator, a dropped statement, a flipped boolean), rebuilds the release preset in its own
build folder and runs the suite. A mutant is killed when the suite fails; one that does not build
is replaced by the next candidate. The tree is restored after every mutant, also on Ctrl-C.

Usage: tools/mutation_sample.py [--mutants 60] [--seed 1] [--build build/mutation] [--list]
Prints one line per mutant and a summary: "N mutants: K killed, S survived".
"""
import argparse
import pathlib
import random
import re
import signal
import subprocess
import sys
import time

ROOT = pathlib.Path(__file__).resolve().parent.parent
# The folders whose code the native suite exercises; generated tables and the Windows-only files
# are left out (the native build does not compile the latter).
FOLDERS = ["storage", "markup", "rules", "structure", "ifcodec", "frame", "cli"]
SKIP = re.compile(r"(_tab\.h|_tables\.cpp|win32_|builtin_rules)")

# (name, pattern, replacement): each applies to one match on one line.
OPERATORS = [
    ("flip ==", re.compile(r"(?<=[\w)\]]) == (?=[\w(!*&u'\"-])"), " != "),
    ("flip !=", re.compile(r"(?<=[\w)\]]) != (?=[\w(!*&u'\"-])"), " == "),
    ("< to <=", re.compile(r"(?<=[\w)\]]) < (?=[\w(])"), " <= "),
    ("<= to <", re.compile(r"(?<=[\w)\]]) <= (?=[\w(])"), " < "),
    ("> to >=", re.compile(r"(?<=[\w)\]]) > (?=[\w(])"), " >= "),
    (">= to >", re.compile(r"(?<=[\w)\]]) >= (?=[\w(])"), " > "),
    ("&& to ||", re.compile(r" && "), " || "),
    ("|| to &&", re.compile(r" \|\| "), " && "),
    ("+ 1 to + 2", re.compile(r" \+ 1(?=\W)"), " + 2"),
    ("- 1 to - 0", re.compile(r" - 1(?=\W)"), " - 0"),
    ("true to false", re.compile(r"\btrue\b"), "false"),
    ("false to true", re.compile(r"\bfalse\b"), "true"),
]
# A statement that may be dropped: a call or an assignment alone on its line.
STATEMENT = re.compile(r"^\s+(?!return\b|break\b|continue\b|case\b|default\b|throw\b)"
                       r"[\w.\->\[\]*()]+(\(.*\)| [+\-|&]?= .*|\+\+|--);\s*$")


def candidates():
    """Every (file, line number, operator) that a mutant could take, in a stable order."""
    found = []
    for folder in FOLDERS:
        for path in sorted((ROOT / "src" / folder).glob("*.[ch]*")):
            if SKIP.search(path.name):
                continue
            in_comment = False
            for number, line in enumerate(path.read_text(encoding="utf-8").splitlines()):
                stripped = line.strip()
                if stripped.startswith("/*"):
                    in_comment = True
                if in_comment:
                    in_comment = "*/" not in stripped
                    continue
                if stripped.startswith(("//", "#", "static_assert", "template")):
                    continue
                code = line.split("//")[0]
                for name, pattern, _ in OPERATORS:
                    if pattern.search(code):
                        found.append((path, number, name))
                if STATEMENT.match(code):
                    found.append((path, number, "drop statement"))
    return found


def spread(found, count, seed):
    """Candidates in a random order that takes each folder in turn, so faults cover src/."""
    rng = random.Random(seed)
    by_folder = {}
    for item in found:
        by_folder.setdefault(item[0].parent.name, []).append(item)
    for items in by_folder.values():
        rng.shuffle(items)
    order = []
    while any(by_folder.values()):
        for folder in FOLDERS:
            if by_folder.get(folder):
                order.append(by_folder[folder].pop())
    return order


def mutate(line, operator):
    if operator == "drop statement":
        return re.sub(r"\S.*", "{}", line, count=1)
    for name, pattern, replacement in OPERATORS:
        if name == operator:
            return pattern.sub(replacement, line.split("//")[0], count=1)
    raise ValueError(operator)


def run(command, log, timeout):
    try:
        with open(log, "a") as out:
            return subprocess.run(command, cwd=ROOT, stdout=out, stderr=subprocess.STDOUT,
                                  timeout=timeout).returncode
    except subprocess.TimeoutExpired:
        return -1


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--mutants", type=int, default=60)
    parser.add_argument("--seed", type=int, default=1)
    parser.add_argument("--build", default="build/mutation")
    parser.add_argument("--list", action="store_true", help="print the places only")
    args = parser.parse_args()
    # A stop (SIGTERM as well as Ctrl-C) unwinds through the restoring `finally` below.
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(1))

    order = spread(candidates(), args.mutants, args.seed)
    if args.list:
        for path, number, operator in order[:args.mutants]:
            print(f"{path.relative_to(ROOT)}:{number + 1}: {operator}")
        return 0
    build = ROOT / args.build
    log = build.with_suffix(".log")
    build.parent.mkdir(parents=True, exist_ok=True)
    log.write_text("")
    configure = ["cmake", "-S", ".", "-B", str(build), "-G", "Ninja", "-DCMAKE_BUILD_TYPE=Release",
                 "-DTAGVERT_BUILD_TESTS=ON", "-DTAGVERT_WERROR=OFF"]
    if run(configure, log, 600) or run(["cmake", "--build", str(build)], log, 3600):
        print(f"the unchanged tree does not build (see {log})", file=sys.stderr)
        return 2
    test = ["ctest", "--test-dir", str(build), "--stop-on-failure", "-E", "bench|package"]
    if run(test, log, 1800):
        print(f"the suite fails on the unchanged tree (see {log})", file=sys.stderr)
        return 2

    killed = survived = 0
    for path, number, operator in order:
        if killed + survived == args.mutants:
            break
        text = path.read_text(encoding="utf-8")
        lines = text.split("\n")
        lines[number] = mutate(lines[number], operator)
        place = f"{path.relative_to(ROOT)}:{number + 1}: {operator}"
        started = time.time()
        try:
            path.write_text("\n".join(lines), encoding="utf-8")
            if run(["cmake", "--build", str(build)], log, 1200):
                continue  # did not build: not a mutant
            status = run(test, log, 900)
        finally:
            path.write_text(text, encoding="utf-8")
        verdict = "killed" if status else "SURVIVED"
        killed += bool(status)
        survived += not status
        print(f"{verdict:8} {place} ({time.time() - started:.0f} s)", flush=True)
    run(["cmake", "--build", str(build)], log, 3600)  # leave the build matching the tree
    print(f"{killed + survived} mutants: {killed} killed, {survived} survived")
    return 0


if __name__ == "__main__":
    sys.exit(main())
