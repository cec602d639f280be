#!/usr/bin/env python3
"""Mutation testing: how many small faults in the product do the tests catch?

Picks a fixed sample of source mutants with a fixed seed (a comparison or a
boolean flipped, a bound shifted by one, a statement dropped, two arguments
swapped, an early return), and for each one: applies it, rebuilds what
changed, runs the tests of the mutated subsystem, and restores the file. A
mutant is killed when a test fails (or hangs past the time limit), survives
when every test passes, and does not compile when the build fails.

Run it in a checkout of its own: it edits product files while it runs (each
is restored, also on Ctrl-C). Pure components build natively; the others
build for win64 and run under Wine in a prefix of their own.

  tools/mutate.py --list                 # the sample, without running it
  tools/mutate.py --out report.txt       # run the sample, report as it goes
  tools/mutate.py --only 17,40 --keep    # some mutants; keep the file mutated
"""
import argparse
import os
import random
import re
import signal
import subprocess
import sys
import time
from collections import Counter, defaultdict

ROOT = os.path.abspath(os.path.join(os.path.dirname(__file__), ".."))
SEED = 20261206
COUNT = 160

# Subsystem: (source folder, files left out, how its tests build and run).
# Native tests are executables under the native build; Wine tests are CTest
# names (fixtures such as the DLL's registration come along).
SUBSYSTEMS = {
    "module": ("module", [], "wine", ["frame_test", "dll_test", "script_wmi_test_vbs", "script_ntfiles_test_vbs"]),
    "collector": ("collector", [], "wine", ["frame_test", "misuse_test", "files_test"]),
    "trace": ("trace", [], "wine", ["trace_test", "script_trace_keys_absent"]),
    "wmi": ("wmi", [], "wine", ["mo_test", "dll_test", "script_wmi_test_vbs"]),
    "rules": ("rules", ["rules/regex"], "wine", ["rules_test", "script_ntevent_filter_test_vbs"]),
    "regex": ("rules/regex", [], "native", ["tests/regex/regex_test", "tests/regex/regex_pcre2_test"]),
    "eventlog": ("eventlog", [], "wine", ["eventlog_unit_test", "nt_events_test", "ntevents_sample",
                                          "script_ntevents_test_vbs"]),
    "snmp": ("snmp", ["snmp/message"], "wine", ["snmp_unit_test", "snmp_events_test", "snmp_receiver_test",
                                                 "script_snmp_events_test_vbs"]),
    "snmp_message": ("snmp/message", [], "native", ["tests/snmp_message/snmp_message_test"]),
    "files": ("files", [], "wine", ["files_test", "script_ntfiles_test_vbs"]),
    "xml": ("xml", [], "native", ["tests/xml/xml_test", "tests/xml/xml_diff_test"]),
}
BUILD = {"wine": "build/mutate-win64", "native": "build/mutate-native"}
PRESET = {"wine": "win64", "native": "native"}
DLL_TARGET = "brisel"

KINDS = ["negate", "bound", "boolean", "drop", "swap", "return"]


class Mutant:
    def __init__(self, subsystem, path, line, kind, old, new, insert=False):
        self.subsystem, self.path, self.line, self.kind = subsystem, path, line, kind
        self.old, self.new, self.insert = old, new, insert
        self.id = 0
        self.result = ""
        self.note = ""

    def describe(self):
        what = f"+ {self.new.strip()}" if self.insert else f"{self.old.strip()}  =>  {self.new.strip()}"
        return f"{self.path}:{self.line} {self.kind}: {what}"


# --- finding sites -----------------------------------------------------------

def code_mask(lines):
    """Per line, a copy with string and character literals and comments
    blanked out, so that patterns only see code."""
    out = []
    in_block = False
    for text in lines:
        chars = list(text)
        i = 0
        quote = None
        while i < len(chars):
            c = chars[i]
            if in_block:
                if text.startswith("*/", i):
                    chars[i] = chars[i + 1] = " "
                    in_block = False
                    i += 2
                    continue
                chars[i] = " "
            elif quote:
                if c == "\\":
                    chars[i] = " "
                    if i + 1 < len(chars):
                        chars[i + 1] = " "
                    i += 2
                    continue
                if c == quote:
                    quote = None
                else:
                    chars[i] = " "
            elif text.startswith("//", i):
                for j in range(i, len(chars)):
                    chars[j] = " "
                break
            elif text.startswith("/*", i):
                chars[i] = chars[i + 1] = " "
                in_block = True
                i += 2
                continue
            elif c in "\"'":
                # A raw string would need more; the product has none.
                quote = c
            i += 1
        out.append("".join(chars))
    return out


NEGATE = {"==": "!=", "!=": "==", "<": ">=", ">=": "<", ">": "<=", "<=": ">"}
BOUND = {"<": "<=", "<=": "<", ">": ">=", ">=": ">"}
OP = re.compile(r"(?<=\S) (==|!=|<=|>=|<|>) (?=\S)")
BOOL = re.compile(r"\b(true|false)\b")
NOT = re.compile(r"(?<=\()!(?=[\w(:])")
STATEMENT = re.compile(r"^\s+(?!(?:return|break|continue|goto|case|default|using|typedef|delete|throw)\b)"
                       r"(?:[\w.:>\[\]-]+(?:\(.*\))?\s*(?:[-+*/|&^]?=)\s*[^=].*|[\w.:>~-]+\(.*\));\s*$")
CALL2 = re.compile(r"\b([A-Za-z_][\w:]*)\(([\w.:>&*-]+|\d+), ([\w.:>&*-]+|\d+)(?=[,)])")
FUNC = re.compile(r"^(?:static |inline )*(bool|HRESULT|void|LONG|int|size_t|DWORD|STDMETHODIMP)\s+"
                  r"[\w:~]+\([^;]*\)\s*(?:const\s*)?(?:noexcept\s*)?(?:override\s*)?\{\s*$")
EARLY = {"bool": "return false;", "HRESULT": "return S_OK;", "STDMETHODIMP": "return S_OK;", "void": "return;",
         "LONG": "return 0;", "int": "return 0;", "size_t": "return 0;", "DWORD": "return 0;"}


def sites(subsystem, rel):
    with open(os.path.join(ROOT, rel), encoding="utf-8") as f:
        lines = f.read().split("\n")
    masked = code_mask(lines)
    found = []
    for n, (text, code) in enumerate(zip(lines, masked), start=1):
        stripped = code.strip()
        if not stripped or stripped.startswith("#") or "template" in code or "static_assert" in code:
            continue
        if not text.startswith(" "):
            m = FUNC.match(code)
            if m:
                found.append(Mutant(subsystem, rel, n, "return", text, "  " + EARLY[m.group(1)], insert=True))
            continue
        for m in OP.finditer(code):
            op = m.group(1)
            a, b = m.start(1), m.end(1)
            found.append(Mutant(subsystem, rel, n, "negate", text, text[:a] + NEGATE[op] + text[b:]))
            if op in BOUND:
                found.append(Mutant(subsystem, rel, n, "bound", text, text[:a] + BOUND[op] + text[b:]))
        for m in BOOL.finditer(code):
            flip = "false" if m.group(1) == "true" else "true"
            found.append(Mutant(subsystem, rel, n, "boolean", text, text[:m.start()] + flip + text[m.end():]))
        for m in NOT.finditer(code):
            found.append(Mutant(subsystem, rel, n, "boolean", text, text[:m.start()] + text[m.end():]))
        if STATEMENT.match(code) and code.count("(") == code.count(")"):
            indent = text[: len(text) - len(text.lstrip())]
            found.append(Mutant(subsystem, rel, n, "drop", text, indent + ";  // dropped"))
        for m in CALL2.finditer(code):
            x, y = m.group(2), m.group(3)
            if x != y:
                new = text[: m.start(2)] + y + ", " + x + text[m.end(3):]
                found.append(Mutant(subsystem, rel, n, "swap", text, new))
    return found


def product_files(folder, leave_out):
    out = []
    listed = subprocess.run(["git", "ls-files", folder], cwd=ROOT, capture_output=True, text=True, check=True)
    for rel in listed.stdout.split():
        if rel.endswith(".cpp") and not any(rel.startswith(x + "/") for x in leave_out):
            out.append(rel)
    return sorted(out)


def sample(count, seed):
    rng = random.Random(seed)
    per = {}
    lines = {}
    for name, (folder, leave_out, _, _) in SUBSYSTEMS.items():
        per[name] = [m for rel in product_files(folder, leave_out) for m in sites(name, rel)]
        lines[name] = sum(1 for rel in product_files(folder, leave_out)
                          for t in open(os.path.join(ROOT, rel), encoding="utf-8") if t.strip())
    # At least 8 per subsystem; the rest by product size.
    quota = {name: min(8, len(per[name])) for name in per}
    rest = count - sum(quota.values())
    total = sum(lines.values())
    for name in per:
        quota[name] = min(len(per[name]), quota[name] + round(rest * lines[name] / total))
    chosen = []
    for name in SUBSYSTEMS:
        # Round robin over the kinds, each kind shuffled, so every kind shows.
        by_kind = defaultdict(list)
        for m in per[name]:
            by_kind[m.kind].append(m)
        for kind in KINDS:
            rng.shuffle(by_kind[kind])
        picked = []
        while len(picked) < quota[name] and any(by_kind.values()):
            for kind in KINDS:
                if by_kind[kind] and len(picked) < quota[name]:
                    picked.append(by_kind[kind].pop())
        picked.sort(key=lambda m: (m.path, m.line))
        chosen.extend(picked)
    for i, m in enumerate(chosen, start=1):
        m.id = i
    return chosen


# --- running -----------------------------------------------------------------

def run(cmd, timeout=None, env=None, log=None):
    """Runs a command in a process group of its own; (exit code, seconds), or
    (None, seconds) when it ran past the timeout and was killed."""
    start = time.time()
    proc = subprocess.Popen(cmd, cwd=ROOT, env=env, stdout=log or subprocess.DEVNULL, stderr=subprocess.STDOUT,
                            start_new_session=True, shell=isinstance(cmd, str))
    try:
        code = proc.wait(timeout=timeout)
    except subprocess.TimeoutExpired:
        os.killpg(proc.pid, signal.SIGKILL)
        proc.wait()
        code = None
    return code, time.time() - start


def wine_env(build):
    env = dict(os.environ)
    prefix = os.path.join(ROOT, build, "wineprefix")
    env.update(WINEPREFIX=prefix, WINEARCH="win64", WINEDEBUG="-all", WINEDLLOVERRIDES="mscoree,mshtml=")
    return env


def configure(mode):
    build = BUILD[mode]
    if not os.path.exists(os.path.join(ROOT, build, "CMakeCache.txt")):
        code, _ = run(["cmake", "--preset", PRESET[mode], "-B", build], log=sys.stderr)
        if code != 0:
            sys.exit(f"mutate: cannot configure {build}")
    if mode == "wine":
        # The prefix and its persistent server, as check.sh has them.
        run(f"wine_build={build} . tools/wine-env.sh", log=sys.stderr)


def targets(subsystem):
    _, _, mode, tests = SUBSYSTEMS[subsystem]
    if mode == "native":
        return [os.path.basename(t) for t in tests]
    exes = [t for t in tests if not t.startswith("script_")]
    return [DLL_TARGET] + exes


def build(subsystem, log):
    mode = SUBSYSTEMS[subsystem][2]
    code, _ = run(["cmake", "--build", BUILD[mode], "-j2", "--target"] + targets(subsystem), log=log)
    return code == 0


def test(subsystem, timeout, log):
    """"passed", "failed", or "time-out" when a test ran past the limit."""
    _, _, mode, tests = SUBSYSTEMS[subsystem]
    build_dir = BUILD[mode]
    if mode == "native":
        for exe in tests:
            code, _ = run([os.path.join(ROOT, build_dir, exe), "--gtest_brief=1", "--gtest_fail_fast"],
                          timeout=timeout, log=log)
            if code != 0:
                return "time-out" if code is None else "failed"
        return "passed"
    names = "^(" + "|".join(tests) + ")$"
    env = wine_env(build_dir)
    code, _ = run(["ctest", "--test-dir", build_dir, "-j2", "-R", names, "--stop-on-failure"], timeout=timeout,
                  env=env, log=log)
    if code is None:
        run(["wineserver", "-k"], env=env)
        run(f"wine_build={build_dir} . tools/wine-env.sh")
        return "time-out"
    return "passed" if code == 0 else "failed"


def missing_tests(subsystem):
    """The subsystem's tests that the build does not have: a name that matches nothing would test nothing."""
    _, _, mode, tests = SUBSYSTEMS[subsystem]
    if mode == "native":
        return [t for t in tests if not os.path.isfile(os.path.join(ROOT, BUILD[mode], t))]
    listing = subprocess.run(["ctest", "--test-dir", BUILD[mode], "-N"], cwd=ROOT, capture_output=True, text=True)
    known = set(re.findall(r"Test\s+#\d+: (\S+)", listing.stdout))
    return [t for t in tests if t not in known]


def apply(m):
    path = os.path.join(ROOT, m.path)
    with open(path, encoding="utf-8") as f:
        original = f.read()
    lines = original.split("\n")
    if lines[m.line - 1] != m.old:
        raise RuntimeError(f"{m.describe()}: the source changed since the sample was taken")
    if m.insert:
        lines.insert(m.line, m.new)
    else:
        lines[m.line - 1] = m.new
    with open(path, "w", encoding="utf-8") as f:
        f.write("\n".join(lines))
    return original


def restore(m, original):
    with open(os.path.join(ROOT, m.path), "w", encoding="utf-8") as f:
        f.write(original)


def summary(mutants):
    rows = defaultdict(Counter)
    for m in mutants:
        if m.result:
            rows[m.subsystem][m.result] += 1
            rows["total"][m.result] += 1
    out = [f"{'subsystem':14} {'killed':>7} {'survived':>9} {'not compiling':>14} {'kill rate':>10}"]
    for name in list(SUBSYSTEMS) + ["total"]:
        c = rows.get(name)
        if not c:
            continue
        compiled = c["killed"] + c["survived"]
        rate = f"{100.0 * c['killed'] / compiled:.1f}%" if compiled else "-"
        out.append(f"{name:14} {c['killed']:7} {c['survived']:9} {c['not compiling']:14} {rate:>10}")
    return "\n".join(out)


def main():
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("--count", type=int, default=COUNT)
    ap.add_argument("--seed", type=int, default=SEED)
    ap.add_argument("--list", action="store_true", help="print the sample and stop")
    ap.add_argument("--only", help="comma-separated mutant numbers")
    ap.add_argument("--subsystem", help="only this subsystem's mutants")
    ap.add_argument("--keep", action="store_true", help="leave the last mutant applied (to look at a survivor)")
    ap.add_argument("--out", help="report file (written as results come)")
    ap.add_argument("--timeout", type=int, default=600, help="seconds for one mutant's tests")
    args = ap.parse_args()

    mutants = sample(args.count, args.seed)
    if args.only:
        wanted = {int(x) for x in args.only.split(",")}
        mutants = [m for m in mutants if m.id in wanted]
    if args.subsystem:
        mutants = [m for m in mutants if m.subsystem == args.subsystem]
    if args.list:
        for m in mutants:
            print(f"{m.id:4} {m.subsystem:13} {m.describe()}")
        print(Counter(m.subsystem for m in mutants))
        return

    out = open(args.out, "w", encoding="utf-8") if args.out else sys.stdout
    os.makedirs(os.path.join(ROOT, "build"), exist_ok=True)
    log = open(os.path.join(ROOT, "build", "mutate.log"), "w", encoding="utf-8")
    modes = {SUBSYSTEMS[m.subsystem][2] for m in mutants}
    for mode in sorted(modes):
        configure(mode)
    # The unmutated tests must pass, or their verdicts on mutants mean nothing.
    for name in sorted({m.subsystem for m in mutants}, key=list(SUBSYSTEMS).index):
        if not build(name, log):
            sys.exit(f"mutate: the unmutated {name} build fails (see build/mutate.log)")
        missing = missing_tests(name)
        if missing:
            sys.exit(f"mutate: the {name} tests {', '.join(missing)} do not exist (renamed?)")
        if test(name, args.timeout, log) != "passed":
            sys.exit(f"mutate: the unmutated {name} tests do not pass (see build/mutate.log)")
    print(f"# mutants: seed {args.seed}, {len(mutants)} of a sample of {args.count}", file=out, flush=True)
    for m in mutants:
        original = apply(m)
        try:
            started = time.time()
            print(f"\n## mutant {m.id}: {m.describe()}", file=log, flush=True)
            if not build(m.subsystem, log):
                m.result = "not compiling"
            else:
                # A hang counts as killed, but shows, so that a loaded machine cannot pass for a kill.
                verdict = test(m.subsystem, args.timeout, log)
                m.result = {"passed": "survived", "failed": "killed", "time-out": "killed"}[verdict]
                if verdict == "time-out":
                    m.note = " (time-out)"
            seconds = time.time() - started
        finally:
            if not (args.keep and m is mutants[-1]):
                restore(m, original)
        print(f"{m.id:4} {m.result:13} {m.subsystem:13} {m.describe()}  ({seconds:.0f} s{m.note})", file=out,
              flush=True)
    # Back to the unmutated build, so that the next run starts from it.
    for name in sorted({m.subsystem for m in mutants}):
        build(name, log)
    print("\n" + summary(mutants), file=out, flush=True)


if __name__ == "__main__":
    main()
