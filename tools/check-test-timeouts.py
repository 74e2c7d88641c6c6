#!/usr/bin/env python3
"""Fails when a test of a CMake build tree has no time limit.

Every test carries the ctest property TIMEOUT, so that a test that hangs (a reader that never
stops, a Wine program that waits forever) fails the run in bounded time instead of holding it
until the CI job is killed. ctest lists the tests of the tree with their properties; a test
without a positive TIMEOUT is named and the check fails.

  check-test-timeouts.py CTEST BUILD_DIR     check the tests of the tree at BUILD_DIR
  check-test-timeouts.py CTEST --self-test   show that a test without a limit is caught
"""

import json
import os
import subprocess
import sys
import tempfile


def tests_without_limit(ctest, build_dir):
    """The names of the tests in build_dir without a positive TIMEOUT, and how many tests there are."""
    listed = subprocess.run(
        [ctest, "--show-only=json-v1", "--test-dir", build_dir],
        check=True,
        capture_output=True,
        text=True,
    )
    tests = json.loads(listed.stdout).get("tests", [])
    missing = []
    for test in tests:
        limits = [p["value"] for p in test.get("properties", []) if p["name"] == "TIMEOUT"]
        if not limits or float(limits[0]) <= 0:
            missing.append(test["name"])
    return missing, len(tests)


def check(ctest, build_dir):
    missing, count = tests_without_limit(ctest, build_dir)
    if count == 0:
        print(f"no tests found in {build_dir}")
        return 1
    for name in missing:
        print(f"test without a TIMEOUT: {name}")
    if missing:
        print(f"{len(missing)} of {count} tests have no time limit")
        return 1
    print(f"all {count} tests have a time limit")
    return 0


SELF_TEST_PROJECT = """
cmake_minimum_required(VERSION 3.25)
project(time_limit_check_self_test NONE)
enable_testing()
add_test(NAME limited COMMAND ${{CMAKE_COMMAND}} -E true)
set_tests_properties(limited PROPERTIES TIMEOUT 10)
add_test(NAME {name} COMMAND ${{CMAKE_COMMAND}} -E true)
{limit}
"""


def self_test_case(ctest, root, limit):
    """Configures a project of two tests, the second with `limit` (or none); its missing list."""
    name = "unlimited"
    source = os.path.join(root, "source")
    build = os.path.join(root, "build")
    os.makedirs(source, exist_ok=True)
    with open(os.path.join(source, "CMakeLists.txt"), "w", encoding="utf-8") as project:
        project.write(SELF_TEST_PROJECT.format(name=name, limit=limit))
    cmake = os.path.join(os.path.dirname(ctest), "cmake")
    subprocess.run([cmake, "-S", source, "-B", build], check=True, capture_output=True)
    return tests_without_limit(ctest, build)


def self_test(ctest):
    with tempfile.TemporaryDirectory() as root:
        missing, count = self_test_case(ctest, os.path.join(root, "none"), "")
        if missing != ["unlimited"] or count != 2:
            print(f"a test without a TIMEOUT was not caught: {missing} of {count}")
            return 1
        zero = "set_tests_properties(unlimited PROPERTIES TIMEOUT 0)"
        missing, _ = self_test_case(ctest, os.path.join(root, "zero"), zero)
        if missing != ["unlimited"]:
            print(f"a TIMEOUT of 0 (no limit) was not caught: {missing}")
            return 1
        both = "set_tests_properties(unlimited PROPERTIES TIMEOUT 5)"
        missing, _ = self_test_case(ctest, os.path.join(root, "both"), both)
        if missing:
            print(f"tests with a TIMEOUT were named: {missing}")
            return 1
    print("self-test passed: tests without a time limit are caught")
    return 0


def main(argv):
    if len(argv) != 3:
        print(__doc__)
        return 2
    ctest = argv[1]
    if argv[2] == "--self-test":
        return self_test(ctest)
    return check(ctest, argv[2])


if __name__ == "__main__":
    sys.exit(main(sys.argv))
