#!/usr/bin/env python3
"""The sanitizer tree, which builds only its unit and fuzz tests and runs each unit test
executable whole, runs every unit case this tree lists and a fuzz test for each fuzzer.
  sanitizer_lists_test.py CTEST BUILD_DIR SANITIZER_BUILD_DIR SOURCE_DIR"""
import json
import os
import re
import subprocess
import sys


def listed(ctest, tree, label):
    """The tests ctest lists in the tree under the label: name -> command."""
    out = subprocess.run([ctest, "--test-dir", tree, "--show-only=json-v1", "-L", label],
                         check=True, capture_output=True, text=True).stdout
    return {t["name"]: t.get("command", []) for t in json.loads(out)["tests"]}


def gtest_filter(command):
    for argument in command[1:]:
        if argument.startswith("--gtest_filter="):
            return argument[len("--gtest_filter="):]
    return None


def cases_of(executable):
    """The cases a GoogleTest executable holds, as Suite.Case."""
    environment = dict(os.environ, QT_QPA_PLATFORM="offscreen")
    out = subprocess.run([executable, "--gtest_list_tests"], check=True, capture_output=True, text=True,
                         env=environment).stdout
    cases, suite = set(), ""
    for line in out.splitlines():
        name = line.split("#")[0].rstrip()
        if not name.strip() or not re.match(r"^\s|^\S+\.$", name):
            continue
        if name.startswith(" "):
            cases.add(suite + name.strip())
        else:
            suite = name
    return cases


def main(ctest, build, sanitizer, source):
    # Here: each case an entry running its executable with a filter; other unit tests by name.
    wanted_cases, wanted_others = {}, set()
    for name, command in listed(ctest, build, "^unit$").items():
        case = gtest_filter(command)
        if case is None:
            wanted_others.add(name)
        else:
            wanted_cases.setdefault(os.path.basename(command[0]), set()).add(case)
    # There: each executable whole.
    run_cases, run_others = {}, set()
    for name, command in listed(ctest, sanitizer, "^unit$").items():
        executable = os.path.basename(command[0]) if command else ""
        if executable in wanted_cases:
            run_cases[executable] = cases_of(command[0])
        else:
            run_others.add(name)

    faults = []
    for executable in sorted(set(wanted_cases) | set(run_cases)):
        missing = wanted_cases.get(executable, set()) - run_cases.get(executable, set())
        if executable not in run_cases:
            faults.append(f"{executable}: not run in {sanitizer}")
        elif missing:
            faults.append(f"{executable}: {len(missing)} cases not run there, e.g. {sorted(missing)[0]}")
    if wanted_others != run_others:
        faults.append(f"other unit tests differ: only here {sorted(wanted_others - run_others)}, "
                      f"only there {sorted(run_others - wanted_others)}")
    with open(os.path.join(source, "tests/fuzz/CMakeLists.txt")) as fuzz_file:
        fuzzers = len(re.findall(r"^kingyo_add_fuzzer\(", fuzz_file.read(), re.M))
    fuzz_tests = len(listed(ctest, sanitizer, "^fuzz$"))
    if fuzz_tests != fuzzers:
        faults.append(f"{fuzz_tests} fuzz tests for {fuzzers} fuzzers")
    for fault in faults:
        print(fault)
    cases = sum(len(c) for c in wanted_cases.values())
    print(f"{cases} unit cases in {len(wanted_cases)} executables, {len(wanted_others)} other unit tests, "
          f"{fuzz_tests} fuzz tests: {'not all' if faults else 'all'} run in the sanitizer tree")
    return 1 if faults else 0


if __name__ == "__main__":
    sys.exit(main(*sys.argv[1:5]))
