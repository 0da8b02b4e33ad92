#!/usr/bin/env python3
"""Turns a skip list into a GoogleTest filter that runs everything else.

    gtest_skips.py SKIP_LIST LISTING...

SKIP_LIST holds one test name pattern a line (GoogleTest's: * and ?), then,
on the same line, why the test is left out; blank lines and lines starting
with # are ignored. Each LISTING is what a test program printed for
--gtest_list_tests. Prints the filter for --gtest_filter; fails, naming the
line, on an entry without a reason, a pattern the filter syntax cannot
carry, or a pattern that matches no listed test (a renamed or removed
test), so the list cannot quietly outlive the tests it names.
"""
import fnmatch
import re
import sys

# Test names are identifiers joined by '.', with '/' for parameters; ':'
# and '-' would split or negate the filter.
PATTERN = re.compile(r"^[A-Za-z0-9_*?./]+$")


class SkipListError(Exception):
    pass


def read_skips(text):
    """[(pattern, reason, line number)] of the list, or SkipListError."""
    skips = []
    for number, line in enumerate(text.splitlines(), 1):
        line = line.strip()
        if not line or line.startswith("#"):
            continue
        pattern, *reason = line.split(None, 1)
        if not reason:
            raise SkipListError(f"line {number}: {pattern} has no reason")
        if not PATTERN.match(pattern):
            raise SkipListError(f"line {number}: {pattern} is not a test name pattern")
        skips.append((pattern, reason[0], number))
    return skips


def listed_tests(listing):
    """Full names (Suite.Test) in a --gtest_list_tests output."""
    names, suite = [], None
    for line in listing.splitlines():
        # Parameterised tests carry their parameter after a '#'.
        name = line.split("#", 1)[0].strip()
        if not name or name.startswith("Running main()"):
            continue
        if line.startswith(" "):
            if suite is not None:
                names.append(suite + name)
        else:
            suite = name
    return names


def gtest_filter(skips, names):
    """The filter leaving out every skipped test; SkipListError for a
    pattern that matches none of the names."""
    for pattern, _, number in skips:
        if not any(fnmatch.fnmatchcase(name, pattern) for name in names):
            raise SkipListError(f"line {number}: {pattern} matches no test")
    if not skips:
        return "*"
    return "*-" + ":".join(pattern for pattern, _, _ in skips)


def main(argv):
    if len(argv) < 3:
        print(__doc__.strip(), file=sys.stderr)
        return 2
    with open(argv[1], encoding="utf-8") as f:
        text = f.read()
    names = []
    for path in argv[2:]:
        with open(path, encoding="utf-8") as f:
            names += listed_tests(f.read())
    try:
        print(gtest_filter(read_skips(text), names))
    except SkipListError as error:
        print(f"{argv[1]}: {error}", file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
