#!/usr/bin/env python3
"""Mutation testing: how many small faults planted in src/ do the tests catch?

One mutant at a time, in a copy of the source tree (the working tree is never touched):
a comparison flipped, a constant changed by one, a condition negated, an && turned into ||,
a call statement deleted, or a returned value replaced by the type's empty value. Only what
the mutated file touches is rebuilt (the test executables of its unit), those tests run, and
the mutant counts as

  killed      a test failed (or crashed, or ran past its time limit),
  survived    every test passed: the suite cannot tell the fault from the real code,
  stillborn   it did not compile (left out of the score).

The sample of mutants is fixed by the seed, so two runs on two versions of the suite face
the same faults as long as the source files did not change. Every unit gets at least one.

  tools/mutate.py --sample 300 --seed 23 --out mutants.jsonl       # run, appending results
  tools/mutate.py --report mutants.jsonl                           # score per unit
  tools/mutate.py --list --sample 300 --seed 23                    # the sample, without running
  tools/mutate.py --units cleanup,audio/Hasher --out part.jsonl     # only those units' mutants of it
  git archive ABC123 | tar -x -C /tmp/old && tools/mutate.py --source /tmp/old --out old.jsonl
  tools/mutate.py --mutants-from old.jsonl --mutants-tree /tmp/old --out new.jsonl  # the same mutants, now
  tools/mutate.py --compare old.jsonl new.jsonl                    # score per unit, before and after

A run can be stopped and started again with the same arguments: mutants already in the
results file are skipped. A test executable is stopped at its first failure.
"""
import argparse
import json
import os
import random
import re
import shutil
import subprocess
import sys
import tempfile
import time
from collections import defaultdict
from pathlib import Path

ROOT = Path(__file__).resolve().parent.parent

# Units whose tests are not named after them; the rest use tests/<folder>/tst_<unit>.cpp
# or, failing that, every test of the same folder.
TESTS_OF = {
    "app/AppInfo": ["tst_aboutdialog", "tst_updatechecker"],
    "app/main": ["tst_commandline"],
    "audio/TagReaderAdts": ["tst_tagreader"],
    "audio/TagReaderMp4": ["tst_tagreader"],
    "audio/TagReaderMpeg": ["tst_tagreader"],
    "audio/TagReaderPcm": ["tst_tagreader"],
    "audio/TagReaderXiph": ["tst_tagreader"],
    "audio/ToolProcess": ["tst_audiodecode", "tst_chromaprint"],
    "cleanup/FileOps": ["tst_actionrunner"],
    "cli/ConsoleProgress": ["tst_ravelwickcli"],
    "cli/ReportQuarantine": ["tst_ravelwickcli"],
    "cli/main": ["tst_ravelwickcli"],
    "scan/AcousticMatcher": ["tst_duplicategrouper", "tst_acousticrecall"],
    "scan/TrackAnalysis": ["tst_scancontroller"],
    "ui/RemovalFlow": ["tst_mainwindow"],
    "ui/ResultsModel": ["tst_mainwindow"],
    "ui/SettingsKeys": ["tst_settingsdialog", "tst_mainwindow"],
    "ui/vfd/Palette": ["tst_lamp", "tst_scrubber", "tst_panel"],
}

COMPARISONS = [("<=", "<"), (">=", ">"), ("==", "!="), ("!=", "=="), ("<", "<="), (">", ">=")]


def code_part(line):
    """The line without a trailing // comment and with string and char literals blanked,
    so that mutations never land inside them. Same length as the line."""
    out = []
    i = 0
    quote = None
    while i < len(line):
        c = line[i]
        if quote:
            out.append(" ")
            if c == "\\" and i + 1 < len(line):
                out.append(" ")
                i += 2
                continue
            if c == quote:
                quote = None
            i += 1
            continue
        if c in "\"'":
            # 1'000 digit separators are not quotes
            if c == "'" and i > 0 and line[i - 1].isdigit() and i + 1 < len(line) and line[i + 1].isdigit():
                out.append(c)
                i += 1
                continue
            quote = c
            out.append(" ")
            i += 1
            continue
        if line.startswith("//", i):
            out.append(" " * (len(line) - i))
            break
        out.append(c)
        i += 1
    return "".join(out)


def sites(path):
    """Every mutation this file offers: (line index, column, kind, old text, new text)."""
    lines = path.read_text(encoding="utf-8").split("\n")
    found = []
    in_block_comment = False
    for n, line in enumerate(lines):
        stripped = line.strip()
        if in_block_comment:
            if "*/" in stripped:
                in_block_comment = False
            continue
        if stripped.startswith("/*"):
            in_block_comment = "*/" not in stripped
            continue
        if not stripped or stripped.startswith(("#", "//", "*")):
            continue
        code = code_part(line)
        # Templates and stream operators look like comparisons; leave lines with them alone.
        templated = re.search(r"\w<[\w:, *&]+>|<<|>>|->|\boperator\b", code)
        if not templated:
            for m in re.finditer(r"(?<![<>=!&|+\-*/%^])(<=|>=|==|!=|<|>)(?![<>=])", code):
                old = m.group(1)
                new = dict(COMPARISONS)[old]
                found.append((n, m.start(), "flip comparison", old, new))
        for m in re.finditer(r"&&|\|\|", code):
            found.append((n, m.start(), "swap and/or", m.group(0), "||" if m.group(0) == "&&" else "&&"))
        for m in re.finditer(r"(?<![\w.])(\d+)(?![\w.'])", code):
            if re.search(r"\[\s*$", code[: m.start()]) and code.strip().startswith(("const", "static", "char")):
                continue  # array sizes of declarations
            value = int(m.group(1))
            found.append((n, m.start(), "constant plus one", m.group(1), str(value + 1)))
        m = re.match(r"(\s*(?:\}\s*else\s+)?(?:if|while)\s*)\((.*)\)(\s*\{?\s*)$", code)
        if m and code.count("(") == code.count(")"):
            condition = line[len(m.group(1)) + 1 : len(m.group(1)) + 1 + len(m.group(2))]
            found.append((n, len(m.group(1)), "negate condition", "(" + condition + ")", "(!(" + condition + "))"))
        if re.match(r"\s*[\w:.>\-\[\]]+\s*\(.*\)\s*;\s*$", code) and not re.match(
            r"\s*(return|delete|new|case|default|goto|throw|Q_\w+|emit\s)", code
        ) and code.count("(") == code.count(")") and not re.match(r"\s*[\w:<>]+\s+\w+\s*\(", code):
            found.append((n, 0, "delete call", line, re.match(r"\s*", line).group(0) + ";"))
        m = re.match(r"(\s*return\s+)(.+);\s*$", code)
        if m and m.group(2).strip() not in ("{}", "true", "false", "0", "nullptr") and code.count("(") == code.count(")"):
            value = line[len(m.group(1)) : len(m.group(1)) + len(m.group(2))]
            found.append((n, len(m.group(1)), "return empty", value, "{}"))
    return lines, found


def unit_of(path, base):
    rel = path.relative_to(base / "src").with_suffix("")
    return str(rel).replace(os.sep, "/")


def tests_for(unit, base=ROOT):
    if unit in TESTS_OF:
        return TESTS_OF[unit]
    folder, _, name = unit.rpartition("/")
    own = base / "tests" / folder / ("tst_" + name.lower() + ".cpp")
    if own.exists():
        return [own.stem]
    return sorted(p.stem for p in (base / "tests" / folder).glob("tst_*.cpp"))


def all_mutants(base=ROOT):
    mutants = []
    for path in sorted((base / "src").rglob("*.cpp")):
        _, found = sites(path)
        unit = unit_of(path, base)
        for n, col, kind, old, new in found:
            mutants.append(
                {"id": "%s:%d:%d:%s" % (unit, n + 1, col, kind.replace(" ", "-")), "unit": unit,
                 "file": str(path.relative_to(base)), "line": n, "col": col, "kind": kind, "old": old, "new": new}
            )
    return mutants


def sample(mutants, size, seed):
    """At least one mutant per unit, the rest drawn evenly over all sites."""
    rng = random.Random(seed)
    by_unit = defaultdict(list)
    for m in mutants:
        by_unit[m["unit"]].append(m)
    chosen = [rng.choice(by_unit[u]) for u in sorted(by_unit)]
    picked = {m["id"] for m in chosen}
    rest = [m for m in mutants if m["id"] not in picked]
    rng.shuffle(rest)
    chosen += rest[: max(0, size - len(chosen))]
    return sorted(chosen, key=lambda m: m["id"])


def apply(lines, mutant):
    out = list(lines)
    line = out[mutant["line"]]
    if mutant["kind"] == "delete call":
        out[mutant["line"]] = mutant["new"]
    else:
        col = mutant["col"]
        assert line[col : col + len(mutant["old"])] == mutant["old"], (mutant["id"], line)
        out[mutant["line"]] = line[:col] + mutant["new"] + line[col + len(mutant["old"]) :]
    return "\n".join(out)


def sync(source, target):
    """Makes `target` hold what `source` holds. Only files whose content differs are copied, and
    they get a new time, so the build folder rebuilds exactly what changed (a copy keeping the
    source's older time could hide a change from it)."""
    target.mkdir(parents=True, exist_ok=True)
    wanted = set()
    for entry in source.iterdir():
        if entry.name.startswith(("build", ".git")) or entry.name == "__pycache__":
            continue
        wanted.add(entry.name)
        there = target / entry.name
        if entry.is_dir():
            sync(entry, there)
        elif not there.exists() or there.read_bytes() != entry.read_bytes():
            shutil.copy(entry, there)
    for entry in target.iterdir():
        if entry.name not in wanted and not entry.name.startswith("build"):
            shutil.rmtree(entry) if entry.is_dir() else entry.unlink()


def prepare(source, workdir, build, jobs):
    """A copy of the tree, configured and built once, in which mutants are made."""
    sync(source, workdir)
    if not (build / "build.ninja").exists():
        subprocess.run(
            ["cmake", "-S", str(workdir), "-B", str(build), "-G", "Ninja", "-DCMAKE_BUILD_TYPE=RelWithDebInfo",
             "-DRAVELWICK_BUILD_TESTS=ON", "-DRAVELWICK_BUILD_BENCHMARKS=OFF", "-DRAVELWICK_INSTALL=OFF"],
            check=True, stdout=subprocess.DEVNULL,
        )
    subprocess.run(["cmake", "--build", str(build), "-j", str(jobs)], check=True, stdout=subprocess.DEVNULL)


def run_test(exe, cwd, env, limit):
    """Runs one test executable; stops it at its first failure, since one is enough to kill."""
    with tempfile.TemporaryFile() as log:
        proc = subprocess.Popen([str(exe)], cwd=cwd, env=env, stdout=log, stderr=subprocess.STDOUT)
        deadline = time.time() + limit
        seen = 0
        while proc.poll() is None:
            if time.time() > deadline:
                proc.kill()
                proc.wait()
                return "ran past %d s" % limit
            time.sleep(0.2)
            log.seek(seen)
            chunk = log.read()
            whole = chunk[: chunk.rfind(b"\n") + 1]  # a partial last line waits for the next look
            seen += len(whole)
            failed = [l for l in whole.decode(errors="replace").split("\n") if l.startswith("FAIL!")]
            if failed:
                proc.kill()
                proc.wait()
                return failed[0][:200]
        log.seek(0)
        out = log.read().decode(errors="replace")
    if proc.returncode == 0:
        return None
    failed = [l for l in out.split("\n") if l.startswith("FAIL!")]
    return failed[0][:200] if failed else "exit %d" % proc.returncode


def run_tests(build, tests, limit):
    env = dict(os.environ, QT_QPA_PLATFORM="offscreen", ASAN_OPTIONS="detect_leaks=0")
    for test in tests:
        exe = next((build / "tests").rglob(test), None)
        if exe is None:
            return "killed", test + " missing"
        failure = run_test(exe, str(build / "tests"), env, limit)
        if failure is not None:
            return "killed", test + ": " + failure
    return "survived", ""


def carried(results, old_tree, base):
    """The mutants of an earlier run, moved to where their line now stands in `base` (src/ may
    have changed since): the nearest line whose text equals the mutated line's text in the tree
    that run was made on. A mutant whose line is gone is marked so and left out of the score."""
    chosen = []
    for text in Path(results).read_text().splitlines():
        if not text.strip():
            continue
        m = {k: v for k, v in json.loads(text).items() if k not in ("outcome", "detail", "tests", "seconds")}
        was = (Path(old_tree) / m["file"]).read_text(encoding="utf-8").split("\n")[m["line"]]
        now = (base / m["file"]).read_text(encoding="utf-8").split("\n") if (base / m["file"]).exists() else []
        places = [n for n, line in enumerate(now) if line == was]
        if places:
            m["line"] = min(places, key=lambda n: abs(n - m["line"]))
            if m["kind"] == "delete call":
                m["new"] = re.match(r"\s*", was).group(0) + ";"
        else:
            m["gone"] = True
        chosen.append(m)
    return sorted(chosen, key=lambda m: m["id"])


def picked(args, base=ROOT):
    """The seeded sample, narrowed to --units when given (the same mutants as in the full run)."""
    if args.mutants_from:
        chosen = carried(args.mutants_from, args.mutants_tree, base)
    else:
        chosen = sample(all_mutants(base), args.sample, args.seed)
    if args.units:
        wanted = set(args.units.split(","))
        chosen = [m for m in chosen if m["unit"] in wanted or m["unit"].split("/")[0] in wanted]
    if args.shard:
        index, count = (int(x) for x in args.shard.split("/"))
        chosen = chosen[index - 1 :: count]
    return chosen


def run(args):
    workdir = Path(args.workdir)
    build = workdir / "build"
    prepare(Path(args.source).resolve(), workdir, build, args.jobs)
    # From the copy: the tree being worked on may move on while this runs.
    chosen = picked(args, workdir)
    done = set()
    out = Path(args.out)
    if out.exists():
        done = {json.loads(l)["id"] for l in out.read_text().splitlines() if l.strip()}
    with out.open("a") as results:
        for i, mutant in enumerate(chosen):
            if mutant["id"] in done:
                continue
            source = workdir / mutant["file"]
            tests = tests_for(mutant["unit"], workdir)
            started = time.time()
            if mutant.get("gone"):
                record = dict(mutant, outcome="gone", detail="the mutated line is no longer in the source", tests=tests,
                              seconds=0)
                results.write(json.dumps(record) + "\n")
                continue
            original = source.read_text(encoding="utf-8")
            try:
                source.write_text(apply(original.split("\n"), mutant), encoding="utf-8")
                built = subprocess.run(["cmake", "--build", str(build), "-j", str(args.jobs), "--target"] + tests,
                                       stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
                if built.returncode != 0:
                    outcome, detail = "stillborn", ""
                else:
                    outcome, detail = run_tests(build, tests, args.limit)
            finally:
                source.write_text(original, encoding="utf-8")
            record = dict(mutant, outcome=outcome, detail=detail, tests=tests, seconds=round(time.time() - started, 1))
            results.write(json.dumps(record) + "\n")
            results.flush()
            print("[%d/%d] %-9s %s  %s -> %s" % (i + 1, len(chosen), outcome, mutant["id"], mutant["old"].strip()[:40],
                                                 mutant["new"].strip()[:40]), flush=True)
    # Leaves the copy built as the real code is, for the next run.
    subprocess.run(["cmake", "--build", str(build), "-j", str(args.jobs)], stdout=subprocess.DEVNULL)


def report(path):
    per_unit = defaultdict(lambda: defaultdict(int))
    for line in Path(path).read_text().splitlines():
        if line.strip():
            r = json.loads(line)
            per_unit[r["unit"]][r["outcome"]] += 1
    total = defaultdict(int)
    print("%-28s %6s %8s %9s %6s" % ("unit", "killed", "survived", "stillborn", "score"))
    for unit in sorted(per_unit):
        c = per_unit[unit]
        for k, v in c.items():
            total[k] += v
        scored = c["killed"] + c["survived"]
        print("%-28s %6d %8d %9d %6s" % (unit, c["killed"], c["survived"], c["stillborn"],
                                          "%.0f%%" % (100.0 * c["killed"] / scored) if scored else "-"))
    scored = total["killed"] + total["survived"]
    print("%-28s %6d %8d %9d %6s" % ("all", total["killed"], total["survived"], total["stillborn"],
                                      "%.1f%%" % (100.0 * total["killed"] / scored) if scored else "-"))


def outcomes(path):
    return {r["id"]: r for r in map(json.loads, filter(str.strip, Path(path).read_text().splitlines()))}


def compare(before_path, after_path):
    """Killed / scored per unit before and after, over the mutants scored in both files, and the
    mutants whose outcome changed."""
    before, after = outcomes(before_path), outcomes(after_path)
    both = [i for i in before if i in after and {before[i]["outcome"], after[i]["outcome"]} <= {"killed", "survived"}]
    per_unit = defaultdict(lambda: [0, 0, 0])
    for i in both:
        c = per_unit[before[i]["unit"]]
        c[0] += before[i]["outcome"] == "killed"
        c[1] += after[i]["outcome"] == "killed"
        c[2] += 1
    print("%-28s %8s %8s" % ("unit", "before", "after"))
    for unit in sorted(per_unit):
        b, a, n = per_unit[unit]
        print("%-28s %8s %8s%s" % (unit, "%d/%d" % (b, n), "%d/%d" % (a, n), "" if a >= b else "  <-"))
    b = sum(c[0] for c in per_unit.values())
    a = sum(c[1] for c in per_unit.values())
    n = len(both)
    print("%-28s %8s %8s   (%.1f%% -> %.1f%%)" % ("all", "%d/%d" % (b, n), "%d/%d" % (a, n), 100.0 * b / max(n, 1),
                                               100.0 * a / max(n, 1)))
    for i in sorted(both):
        if before[i]["outcome"] != after[i]["outcome"]:
            print("%-9s -> %-9s %s" % (before[i]["outcome"], after[i]["outcome"], i))
    left = sorted(set(before) ^ set(after)) + [i for i in before if i in after and i not in both]
    if left:
        print("not compared (missing from one file, stillborn or gone): %d" % len(left))


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--sample", type=int, default=300)
    parser.add_argument("--seed", type=int, default=23)
    parser.add_argument("--out", default="mutants.jsonl")
    parser.add_argument("--workdir", default=os.path.join(os.environ.get("TMPDIR", "/tmp"), "ravelwick-mutants"))
    parser.add_argument("--jobs", type=int, default=os.cpu_count() or 2)
    parser.add_argument("--limit", type=int, default=300, help="seconds one test executable may run")
    parser.add_argument("--source", default=str(ROOT),
                        help="the tree to test (default: this one), e.g. an older commit unpacked with git archive")
    parser.add_argument("--units", help="only the sampled mutants of these units or folders, e.g. audio/Hasher,cleanup")
    parser.add_argument("--shard", metavar="K/N",
                        help="only every N-th mutant from the K-th: N runs, each in its own --workdir, may share one --out")
    parser.add_argument("--mutants-from", metavar="RESULTS",
                        help="run the mutants of an earlier results file instead of a new sample (with --mutants-tree)")
    parser.add_argument("--mutants-tree", metavar="DIR", help="the tree the earlier run was made on")
    parser.add_argument("--compare", nargs=2, metavar=("BEFORE", "AFTER"),
                        help="the score per unit of two results files side by side")
    parser.add_argument("--list", action="store_true", help="print the sample and stop")
    parser.add_argument("--report", metavar="RESULTS", help="print the score per unit of a results file")
    args = parser.parse_args()
    if args.report:
        report(args.report)
        return 0
    if args.compare:
        compare(*args.compare)
        return 0
    if args.mutants_from and not args.mutants_tree:
        parser.error("--mutants-from needs --mutants-tree")
    if args.list:
        for m in picked(args):
            print("%-60s %s -> %s" % (m["id"], m["old"].strip()[:50], m["new"].strip()[:50]))
        return 0
    run(args)
    return 0


if __name__ == "__main__":
    sys.exit(main())
