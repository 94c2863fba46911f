#!/usr/bin/env python3
"""The mutation check: how many small faults in the product code the tests see.

    tools/mutate                     every mutant of tools/mutants.txt
    tools/mutate --only ID,ID        these mutants only
    tools/mutate --list              id, file and fault of each mutant (no build)
    tools/mutate --show              each mutant's code before and after (no build)
    tools/mutate --no-baseline       skip the run of the unmutated tests
    tools/mutate --build-only        build each mutant, run no tests (after re-anchoring)
    tools/mutate --timeout SECONDS   limit of one mutant's test run (default 1800)

Usable by anyone from a clean clone once tools/check has run (it installs
what building and testing need). BUILD_DIR overrides ./build; everything the
check makes lies in BUILD/mutate.

The working tree is never changed. Its files (git ls-files, with uncommitted
changes and new files that git does not ignore) are copied into
BUILD/mutate/src; that copy has its own build directory BUILD/mutate/build
and test machine. A run checks that every mutant's text occurs exactly once
in the product sources (foundation/, scripts/, installer/), builds the copy,
finds each mutant's tests by the test programs that cover it (every case of
a test program carries the program's name as its CTest label) and runs the
chosen mutants' tests once unmutated (a test that fails without
a mutant would kill every mutant). Then, one mutant at a time, it writes the
mutated file, empties the tests' working directories and the CD drives (so
that what a test left behind when the last mutant broke it stays out of the
next run), builds the test programs of the mutant's tests (ninja, so only
what changed), runs those tests, the quick ones first, until the first
failure, with the environment of tools/check (tools/machine.sh), and writes
the original file back. A mutant that deleted files of the machine's Windows
directory has the machine made anew. At the end the unmutated tests run once
more: had a mutant changed the machine in some other way, they fail now.

A mutant is killed when a test fails or times out, survived when all pass,
no-compile when it does not build (counted as neither).

Output: one line per mutant (id, result, file, fault, seconds) and the
totals; the same in BUILD/mutate/results.txt, the build and test output of
each mutant in BUILD/mutate/logs/ID.log. Exit status 0 when the check ran,
2 when the list does not fit the sources, the copy does not build or its
tests fail unmutated. The list's format is described at its top.
"""
import argparse
import dataclasses
import datetime
import json
import os
import re
import shutil
import signal
import subprocess
import sys
import time
from pathlib import Path

PRODUCT_DIRECTORIES = ("foundation/", "scripts/", "installer/")
PRODUCT_SUFFIXES = (".c", ".cpp", ".h")
FIELDS = ("fault", "in", "from", "to", "tests", "build")
REQUIRED_FIELDS = ("fault", "from", "to", "tests")
BUILD_TIMEOUT = 1800     # seconds for one build
TEST_TIMEOUT = 300       # ctest's limit for a test without one of its own, as in tools/check
LIST_TIMEOUT = 600       # listing the tests (each test program lists its cases once)

# Runs "$@" in the copy's test machine with a private display and one
# wineserver, as tools/check does, and takes both down afterwards: every
# mutant starts from a machine with no program of the last one still running.
# One thing differs from tools/check: Wine's debugger is off, so that a
# program a mutant makes crash ends at once, not at its test's timeout (on a
# display the debugger waits for someone to close its crash dialog).
MACHINE_SCRIPT = r'''
. "$1/tools/machine.sh"
machine_env "$2" || exit 90
export WINEDLLOVERRIDES="$WINEDLLOVERRIDES;winedbg.exe=d"
MACHINE_PRIVATE_DISPLAY=1 machine_display || exit 90
trap machine_stop EXIT
machine_server
shift 2
"$@"
'''


@dataclasses.dataclass
class Mutant:
    id: str
    line: int                 # where it stands in the list
    fields: dict
    file: str = ""            # the product file that holds its text
    start: int = 0            # the span of that file which "to" replaces
    end: int = 0
    tests: list = dataclasses.field(default_factory=list)  # CTest names it runs


def where(mutant):
    return f"mutant {mutant.id} (mutants.txt:{mutant.line})"


def fail(message):
    print(f"mutate: {message}", file=sys.stderr)
    sys.exit(2)


# ---- The list ------------------------------------------------------------------

def parse_list(path):
    """Mutants and named test sets of the list; errors as texts naming the line."""
    mutants, test_sets, errors = [], {}, []
    current = None
    for number, raw in enumerate(path.read_text().splitlines(), 1):
        line = raw.rstrip()
        where = f"{path.name}:{number}"
        if not line.strip() or line.lstrip().startswith("#"):
            continue
        if not line[0].isspace():
            current = None
            mutant = re.fullmatch(r"mutant\s+([a-z0-9]+(?:-[a-z0-9]+)*)", line)
            test_set = re.fullmatch(r"tests\s+@([a-z0-9-]+)\s*=\s*(\S.*)", line)
            if mutant:
                current = Mutant(mutant[1], number, {})
                mutants.append(current)
            elif test_set:
                test_sets[test_set[1]] = test_set[2].split()
            else:
                errors.append(f"{where}: expected 'mutant ID' or 'tests @NAME = PROGRAM ...'")
            continue
        field = re.fullmatch(r"\s+([a-z]+):(.*)", line)
        if current is None or field is None or field[1] not in FIELDS:
            errors.append(f"{where}: expected an indented field ({', '.join(FIELDS)}) of a mutant")
        elif field[1] in current.fields:
            errors.append(f"{where}: '{field[1]}' given twice for {current.id}")
        else:
            current.fields[field[1]] = field[2].strip()
    seen = set()
    for mutant in mutants:
        missing = [name for name in REQUIRED_FIELDS if name not in mutant.fields]
        if missing:
            errors.append(f"{where(mutant)}: no {', '.join(missing)}")
        if mutant.id in seen:
            errors.append(f"{where(mutant)}: the id is used twice")
        seen.add(mutant.id)
    return mutants, test_sets, errors


def test_selectors(mutant, test_sets):
    """The mutant's tests as (program, case regex or None) pairs, or None with an error.

    A word of its tests is @NAME (a set of the list), PROGRAM (every case of
    that test program) or PROGRAM:REGEX (only the cases of PROGRAM whose name
    the regular expression finds: for a mutant that must be kept away from
    the program's other cases)."""
    words = []
    for word in mutant.fields.get("tests", "").split():
        if word.startswith("@") and word[1:] not in test_sets:
            return None, f"{where(mutant)}: no test set {word}"
        words += test_sets[word[1:]] if word.startswith("@") else [word]
    selectors = []
    for word in words:
        program, _, pattern = word.partition(":")
        if not re.fullmatch(r"[A-Za-z0-9_]+", program):
            return None, f"{where(mutant)}: tests: '{word}' names no test program"
        try:
            re.compile(pattern)
        except re.error as error:
            return None, f"{where(mutant)}: tests: {word}: {error}"
        selectors.append((program, pattern or None))
    return (selectors, None) if selectors else (None, f"{where(mutant)}: no tests")


# ---- Finding a mutant's text ----------------------------------------------------------

def squeeze(text):
    """The text without whitespace, and where each character left stood in it."""
    kept = [(index, character) for index, character in enumerate(text) if not character.isspace()]
    return "".join(character for _, character in kept), [index for index, _ in kept]


def occurrences(text, part):
    found = []
    at = text.find(part)
    while at >= 0:
        found.append(at)
        at = text.find(part, at + 1)
    return found


def is_product_file(name):
    return name.startswith(PRODUCT_DIRECTORIES) and name.endswith(PRODUCT_SUFFIXES)


def read_source(path):
    # Byte for byte: a mutant changes its text and nothing else of the file.
    return path.read_bytes().decode("latin-1")


def locate(mutants, root, names):
    """Finds each mutant's text in the product files; errors name the mutant.

    "in" (or "from" alone) must occur exactly once in all product files, and
    "from" exactly once inside it, whitespace aside: a run of whitespace, or
    none, matches any other, so reformatting the sources moves no mutant.
    """
    sources = {name: squeeze(read_source(root / name)) for name in names if is_product_file(name)}
    errors = []
    for mutant in mutants:
        context = squeeze(mutant.fields.get("in") or mutant.fields["from"])[0]
        target = squeeze(mutant.fields["from"])[0]
        hits = [(name, at) for name, (text, _) in sorted(sources.items()) for at in occurrences(text, context)]
        inner = occurrences(context, target) if target else []
        if not target:
            errors.append(f"{where(mutant)}: 'from' is empty")
        elif len(hits) != 1:
            files = ", ".join(sorted({name for name, _ in hits}))
            errors.append(f"{where(mutant)}: its text occurs {len(hits)} times in the product sources"
                          + (f" ({files})" if files else ""))
        elif len(inner) != 1:
            errors.append(f"{where(mutant)}: 'from' occurs {len(inner)} times in 'in'")
        elif squeeze(mutant.fields["to"])[0] == target:
            errors.append(f"{where(mutant)}: 'to' changes nothing")
        else:
            name, at = hits[0]
            positions = sources[name][1]
            first = at + inner[0]
            mutant.file = name
            mutant.start = positions[first]
            mutant.end = positions[first + len(target) - 1] + 1
    return errors


def mutated(original, mutant):
    return original[:mutant.start] + mutant.fields["to"] + original[mutant.end:]


def line_of(text, position):
    return text.count("\n", 0, position) + 1


def show(mutant, root):
    original = read_source(root / mutant.file)
    changed = mutated(original, mutant)
    begin = original.rfind("\n", 0, mutant.start) + 1
    stop = original.find("\n", mutant.end)
    after_stop = len(changed) - (len(original) - stop) if stop >= 0 else len(changed)
    print(f"{mutant.id}  {mutant.file}:{line_of(original, mutant.start)}  {mutant.fields['fault']}")
    print("  - " + original[begin:stop if stop >= 0 else None].strip().replace("\n", "\n  - "))
    print("  + " + changed[begin:after_stop].strip().replace("\n", "\n  + "))


# ---- The copy -----------------------------------------------------------------------------

def worktree_files(root):
    """The files of the worktree: tracked ones as they are now, and new ones git does not ignore."""
    listed = subprocess.run(["git", "-C", str(root), "ls-files", "-z", "--cached", "--others",
                             "--exclude-standard"], capture_output=True, check=True).stdout
    names = {name for name in listed.decode().split("\0") if name}
    return sorted(name for name in names if (root / name).is_file())


def sync_copy(root, names, copy):
    """Makes copy hold exactly the files names of root. A file whose bytes and
    mode are there already is left alone, so that its build stays done."""
    for name in names:
        source, target = root / name, copy / name
        data = source.read_bytes()
        mode = source.stat().st_mode & 0o777
        if not target.is_file() or target.is_symlink() or target.read_bytes() != data:
            target.parent.mkdir(parents=True, exist_ok=True)
            if target.is_symlink():
                target.unlink()
            target.write_bytes(data)
        if target.stat().st_mode & 0o777 != mode:
            os.chmod(target, mode)
    wanted = set(names)
    for directory, subdirectories, files in os.walk(copy, topdown=False):
        for file in files:
            path = Path(directory) / file
            if path.relative_to(copy).as_posix() not in wanted:
                path.unlink()
        if Path(directory) != copy and not os.listdir(directory):
            os.rmdir(directory)


def write_source(path, text):
    # Written even when unchanged: the new modification time has ninja build
    # from this text, whatever it built last.
    path.write_bytes(text.encode("latin-1"))


# ---- Running things --------------------------------------------------------------------

def run(argv, log, timeout, stdout=None):
    """Runs argv in a process group of its own, output into the open log (or
    stdout into that file); its exit status, or None when it ran out of time
    and was ended."""
    process = subprocess.Popen(argv, stdout=stdout or log, stderr=log, stdin=subprocess.DEVNULL,
                               start_new_session=True)
    try:
        return process.wait(timeout=timeout)
    except BaseException as error:
        for sent in (signal.SIGTERM, signal.SIGKILL):
            try:
                os.killpg(process.pid, sent)
                process.wait(timeout=10)
                break
            except ProcessLookupError:
                break
            except subprocess.TimeoutExpired:
                continue
        if not isinstance(error, subprocess.TimeoutExpired):
            raise
        return None


def in_machine(copy, build, argv, log, timeout, stdout=None):
    """Runs argv in the copy's test machine (MACHINE_SCRIPT); as run()."""
    status = None
    try:
        status = run(["bash", "-c", MACHINE_SCRIPT, "mutate", str(copy), str(build), *argv], log, timeout,
                     stdout)
    finally:
        if status is None:
            # The group was ended before its own clean-up; the wineserver and
            # what it runs are not in it: end them as the machine's stop does.
            subprocess.run(["bash", "-c", '. "$1/tools/machine.sh"; machine_env "$2" && wineserver -k',
                            "mutate", str(copy), str(build)], stdout=log, stderr=log)
    return status


def configure_and_build(copy, build, log):
    toolchain = copy / "cmake" / "i686-w64-mingw32.cmake"
    status = run(["cmake", "-S", str(copy), "-B", str(build), "-G", "Ninja",
                  f"-DCMAKE_TOOLCHAIN_FILE={toolchain}"], log, BUILD_TIMEOUT)
    return status == 0 and run(["cmake", "--build", str(build)], log, BUILD_TIMEOUT) == 0


def list_tests(copy, build, log):
    """CTest's tests of the copy's build by name, as its JSON describes them."""
    output = build.parent / "tests.json"
    with open(output, "w") as stdout:
        status = in_machine(copy, build, ["ctest", "--test-dir", str(build), "--show-only=json-v1"],
                            log, LIST_TIMEOUT, stdout)
    text = output.read_text()
    if status != 0 or "{" not in text:
        return None
    return {test["name"]: test for test in json.loads(text[text.index("{"):])["tests"]}


def property_values(test, name):
    for item in test.get("properties", []):
        if item["name"] == name:
            return item["value"] if isinstance(item["value"], list) else [item["value"]]
    return []


def test_programs(test, build):
    """The test programs a CTest test belongs to: its labels. A test that a
    program's tests/NAME.cmake adds by hand carries none; it belongs to the
    program whose working directory (BUILD/run/NAME) it runs in."""
    labels = property_values(test, "LABELS")
    if "machine32" in labels:
        return set()  # the same cases again on the 32-bit machine: one run judges them
    if labels:
        return set(labels)
    directory = Path(next(iter(property_values(test, "WORKING_DIRECTORY")), "") or ".")
    return {directory.name} if directory.parent == build / "run" else set()


def select_tests(selectors, tests, runnable, build, mutant):
    """The names of the runnable tests the selectors choose, and the errors:
    a selector that chooses no test names a program or cases that are gone."""
    chosen, errors = set(), []
    for program, pattern in selectors:
        found = {name for name in runnable if program in test_programs(tests[name], build)
                 and (pattern is None or re.search(pattern, name))}
        if not found:
            word = program + (f":{pattern}" if pattern else "")
            errors.append(f"{where(mutant)}: no test of {word}")
        chosen |= found
    return sorted(chosen), errors


def build_targets(tests, names, build):
    """The test programs that the named tests and their fixtures run: the
    targets to build so that none of them runs from an older build."""
    fixtures = {fixture for name in names for fixture in property_values(tests[name], "FIXTURES_REQUIRED")}
    chosen = set(names) | {name for name, test in tests.items()
                           if fixtures & set(property_values(test, "FIXTURES_SETUP")
                                             + property_values(test, "FIXTURES_CLEANUP"))}
    targets = set()
    for name in chosen:
        for argument in tests[name].get("command", []):
            path = Path(argument)
            if path.suffix == ".exe" and path.parent == build / "tests":
                targets.add(path.stem)
    return sorted(targets)


def name_pattern(names):
    """A ctest -R expression that matches exactly these test names."""
    return "^(" + "|".join(re.sub(r"([][^$.|()*+?\\])", r"\\\1", name) for name in sorted(names)) + ")$"


# One ctest run per expression given, in their order, until one fails.
CTEST_SCRIPT = f'''
build=$1 stop=$2
shift 2
for pattern; do
  ctest --test-dir "$build" --output-on-failure --timeout {TEST_TIMEOUT} --no-tests=error $stop -R "$pattern" || exit
done
'''
QUICK_TEST_SECONDS = 3


def load_test_seconds(seconds_path):
    return json.loads(seconds_path.read_text()) if seconds_path.exists() else {}


def note_test_seconds(log_path, seconds_path):
    """Keeps the seconds of every test that passed in the ctest log (CTest's
    own cost data does not hold the time a test takes under Wine)."""
    seconds = load_test_seconds(seconds_path)
    for name, time_taken in re.findall(r"Test +#\d+: (\S+) \.*\s+Passed\s+([0-9.]+) sec",
                                       log_path.read_text(errors="replace")):
        seconds[name] = float(time_taken)
    seconds_path.write_text(json.dumps(seconds, indent=0, sort_keys=True))
    return seconds


def empty_directory(directory):
    """Removes what directory holds (links as links, never what lies behind
    them); the directory itself stays."""
    for entry in directory.iterdir() if directory.is_dir() and not directory.is_symlink() else []:
        if entry.is_dir() and not entry.is_symlink():
            shutil.rmtree(entry)
        else:
            entry.unlink()


def remove_dangling_links(build):
    """Removes the symbolic links on the machine's drive C: whose target is
    gone, and returns them. The tests make links on the host side; when a
    mutant deletes what one points to, Wine lists the link no more, so no
    test can remove it, and the tree that holds it can never be removed
    again: every later run of a test that removes that tree would fail."""
    removed = []
    for directory, subdirectories, files in os.walk(build / "machine" / "prefix" / "drive_c"):
        for name in subdirectories + files:
            path = Path(directory) / name
            if path.is_symlink() and not path.exists():
                path.unlink()
                removed.append(path)
    return removed


def reset_test_directories(build, log=None):
    """Empties the tests' working directories and the machine's CD drives, as
    a fresh build has them, and removes the links on drive C: that lead
    nowhere: what a test left behind when a mutant made it fail half-way
    must not fail the next mutant's run of it. Links removed are named in log."""
    for directory in [*sorted((build / "run").glob("*")), build / "machine" / "cd-d", build / "machine" / "cd-e"]:
        empty_directory(directory)
    for link in remove_dangling_links(build):
        print(f"$ removed the link {link}, whose target is gone", file=log or sys.stdout, flush=True)


def windows_files(build):
    """The files of the test machine's Windows directory."""
    windows = build / "machine" / "prefix" / "drive_c" / "windows"
    return {path.relative_to(windows).as_posix() for path in windows.rglob("*") if path.is_file()}


def remake_machine(copy, build, log):
    """Has the next build make the test machine anew: its drives of their own
    size are taken down first, as the machine's tool does it."""
    for mount in sorted((build / "machine").glob("tmpfs-*")):
        run([str(copy / "tools" / "testmachine"), "untmpfs", str(build), mount.name[-1]], log, 60)
    (build / "machine" / ".ready").unlink(missing_ok=True)


def ctest(copy, build, names, log, timeout, stop_on_failure, seconds=None):
    """Runs the named tests; with stop_on_failure the quick ones (by the
    seconds measured before) first, and only until the first failure."""
    groups = [names]
    if stop_on_failure:
        seconds = seconds or {}
        quick = [name for name in names if seconds.get(name, QUICK_TEST_SECONDS) < QUICK_TEST_SECONDS]
        groups = [group for group in (quick, [name for name in names if name not in quick]) if group]
    stop = "--stop-on-failure" if stop_on_failure else ""
    argv = ["sh", "-c", CTEST_SCRIPT, "ctest", str(build), stop] + [name_pattern(group) for group in groups]
    return in_machine(copy, build, argv, log, timeout)


def failed_tests(log_path):
    """The tests a ctest log reports as failed, in its order."""
    text = log_path.read_text(errors="replace")
    return re.findall(r"Test +#\d+: (\S+) \.*\s*\*\*\*(?!Not Run \(Disabled\))", text)


# ---- The check --------------------------------------------------------------------------

def main():
    parser = argparse.ArgumentParser(description="The mutation check (see the top of tools/mutate.py).")
    parser.add_argument("--only", help="comma-separated mutant ids")
    parser.add_argument("--list", action="store_true", help="list the mutants and stop")
    parser.add_argument("--show", action="store_true", help="show each mutant's change and stop")
    parser.add_argument("--no-baseline", action="store_true", help="do not run the tests unmutated first")
    parser.add_argument("--build-only", action="store_true", help="build each mutant, run no tests")
    parser.add_argument("--timeout", type=int, default=1800, help="seconds for one mutant's test run")
    options = parser.parse_args()

    root = Path(__file__).resolve().parent.parent
    build_root = Path(os.environ.get("BUILD_DIR") or root / "build").resolve()
    work = build_root / "mutate"
    copy, build, logs = work / "src", work / "build", work / "logs"
    seconds_path = work / "test-seconds.json"
    # The copy is made to hold exactly the listed files: it must never be, or
    # hold, the worktree.
    if root == copy or root.is_relative_to(copy):
        fail(f"the copy {copy} would overlap the sources {root}")

    mutants, test_sets, errors = parse_list(root / "tools" / "mutants.txt")
    if options.only:
        wanted = options.only.split(",")
        unknown = sorted(set(wanted) - {mutant.id for mutant in mutants})
        errors += [f"--only: no mutant {name}" for name in unknown]
        mutants = [mutant for mutant in mutants if mutant.id in wanted]
    if errors:
        fail("the list does not fit:\n  " + "\n  ".join(errors))
    names = worktree_files(root)
    errors = locate(mutants, root, names)
    selectors = {}
    for mutant in mutants:
        selectors[mutant.id], error = test_selectors(mutant, test_sets)
        errors += [error] if error else []
    if errors:
        fail("the list does not fit the sources:\n  " + "\n  ".join(errors))
    if options.list or options.show:
        for mutant in mutants:
            if options.show:
                show(mutant, root)
            else:
                print(f"{mutant.id:<36} {mutant.file:<28} {mutant.fields['fault']}")
        print(f"{len(mutants)} mutants")
        return 0

    copy.mkdir(parents=True, exist_ok=True)
    logs.mkdir(parents=True, exist_ok=True)
    sync_copy(root, names, copy)
    print(f"mutate: {len(mutants)} mutants; sources copied into {copy}", flush=True)
    reset_test_directories(build)
    with open(work / "setup.log", "w") as log:
        if not configure_and_build(copy, build, log):
            fail(f"the unmutated copy does not build: see {work / 'setup.log'}")
        tests = list_tests(copy, build, log)
    if tests is None:
        fail(f"the tests could not be listed: see {work / 'setup.log'}")
    # A disabled test (a helper case that another test starts) never runs.
    runnable = [name for name, test in tests.items() if True not in property_values(test, "DISABLED")]
    for mutant in mutants:
        mutant.tests, missing = select_tests(selectors[mutant.id], tests, runnable, build, mutant)
        errors += missing
    if errors:
        fail("the list does not fit the tests:\n  " + "\n  ".join(errors))

    every = sorted({name for mutant in mutants for name in mutant.tests})
    if not (options.no_baseline or options.build_only):
        run_unmutated(copy, build, every, work / "baseline.log", options.timeout, seconds_path, "")

    test_seconds = load_test_seconds(seconds_path)
    machine_files = windows_files(build)
    results = []
    for mutant in mutants:
        result, killer, taken = run_mutant(mutant, copy, build, tests, logs, options, test_seconds)
        line = f"{mutant.id:<36} {result:<10} {mutant.file:<28} {mutant.fields['fault']}  {taken:.0f}s"
        # A deletion that got out of its test's trees into the Windows
        # directory would fail the tests of every later mutant.
        gone = sorted(machine_files - windows_files(build))
        if gone:
            with open(logs / f"{mutant.id}.log", "a") as log:
                print(f"$ the machine lost {len(gone)} files of its Windows directory, "
                      f"{', '.join(gone[:5])}: it is made anew", file=log, flush=True)
                remake_machine(copy, build, log)
            line += "  (it deleted files of the test machine, which is made anew)"
        print(line, flush=True)
        results.append((mutant, result, line, killer))

    # A mutant may have changed the test machine itself (a deletion that got
    # out of its tests' trees): then the unmutated tests fail now, and kills
    # after that mutant may be false.
    recheck = ""
    if not (options.no_baseline or options.build_only):
        reset_test_directories(build)
        with open(work / "setup.log", "a") as log:
            rebuilt = run(["cmake", "--build", str(build)], log, BUILD_TIMEOUT) == 0
        if not rebuilt or not run_unmutated(copy, build, every, work / "recheck.log", options.timeout, None,
                                            " again"):
            recheck = ("the unmutated tests fail after the run: a mutant changed the test machine, and "
                       f"kills may be false; see {work / 'recheck.log'}, delete {build / 'machine'} and "
                       "run the killed mutants again")
    report(results, work / "results.txt", root, options.build_only, recheck)
    return 0


def run_unmutated(copy, build, names, log_path, timeout, seconds_path, again):
    """Runs the tests without a mutant; before the mutants a failure ends the
    check, after them (no seconds_path) it is returned."""
    started = time.monotonic()
    print(f"mutate: running the {len(names)} tests of these mutants unmutated{again}", flush=True)
    with open(log_path, "w") as log:
        status = ctest(copy, build, names, log, timeout * 4, False)
    if seconds_path is None:
        return status == 0
    note_test_seconds(log_path, seconds_path)
    if status != 0:
        failed = failed_tests(log_path)
        fail(f"the tests fail without a mutant ({', '.join(failed) or 'see the log'}): see {log_path}; "
             f"when the test machine is at fault, delete {build / 'machine'} to have it made anew")
    print(f"mutate: the unmutated tests pass ({time.monotonic() - started:.0f}s)", flush=True)
    return True


def run_mutant(mutant, copy, build, tests, logs, options, test_seconds):
    """Builds the mutant and runs its tests; (result, first failed test, seconds).
    The file is written back whatever happens."""
    started = time.monotonic()
    path = copy / mutant.file
    original = read_source(path)
    log_path = logs / f"{mutant.id}.log"
    status = None
    try:
        write_source(path, mutated(original, mutant))
        with open(log_path, "w") as log:
            # Cleared before the build, which makes again what the tests need there.
            reset_test_directories(build, log)
            targets = build_targets(tests, mutant.tests, build) + mutant.fields.get("build", "").split()
            print(f"$ build {' '.join(targets) or 'everything'}", file=log, flush=True)
            built = run(["cmake", "--build", str(build)] + (["--target", *targets] if targets else []),
                        log, BUILD_TIMEOUT) == 0
            if built and not options.build_only:
                print(f"$ ctest {len(mutant.tests)} tests", file=log, flush=True)
                status = ctest(copy, build, mutant.tests, log, options.timeout, True, test_seconds)
    finally:
        write_source(path, original)
    taken = time.monotonic() - started
    if not built:
        return "no-compile", "", taken
    if options.build_only:
        return "built", "", taken
    if status == 0:
        return "survived", "", taken
    failed = failed_tests(log_path)
    return "killed", "timeout" if status is None else (failed[0] if failed else f"ctest status {status}"), taken


def report(results, path, root, build_only, recheck):
    """The totals on the terminal; every line, with the test that killed the
    mutant, and the totals in the results file."""
    count = {name: sum(1 for _, result, _, _ in results if result == name)
             for name in ("killed", "survived", "no-compile", "built")}
    if build_only:
        totals = f"totals: {len(results)} mutants: {count['built']} built, {count['no-compile']} no-compile"
    else:
        totals = (f"totals: {len(results)} mutants: {count['killed']} killed, {count['survived']} survived, "
                  f"{count['no-compile']} no-compile")
    survivors = [mutant.id for mutant, result, _, _ in results if result == "survived"]
    print(totals)
    if survivors:
        print("survived: " + " ".join(survivors))
    if recheck:
        print(f"mutate: {recheck}")
    with open(path, "w") as output:
        print(f"mutation check of {root} at {datetime.datetime.now():%Y-%m-%d %H:%M}", file=output)
        for _, _, line, killer in results:
            print(line + (f"  [{killer}]" if killer else ""), file=output)
        print(totals, file=output)
        if recheck:
            print(recheck, file=output)


if __name__ == "__main__":
    try:
        sys.exit(main())
    except KeyboardInterrupt:
        sys.exit(130)
