"""tools/portable/gtest_skips.py: the arm64 run's skip list becomes a
filter that leaves out exactly its tests, and an entry that is stale, has
no reason or would break the filter stops the run instead of being
ignored."""
import os
import subprocess
import sys

import pytest

from conftest import ROOT

SKIPS = os.path.join(ROOT, "tools", "portable", "gtest_skips.py")
ARM64_SKIPS = os.path.join(ROOT, "tools", "portable", "arm64-skips.txt")
# As a test program prints it, parameterised and typed tests included.
LISTING = """Running main() from gtest_main.cc
Upscaler.
  TileGridFollowsFrameSize
  RealFourTimesModel
DetectRealModels.
  YunetFindsTheListedFaces
  ScrfdFindsTheListedFaces
Sizes/Resize.  # TypeParam = int
  Stretches/0  # GetParam() = 4
"""


def run_skips(tmp_path, skip_list, *listings):
    skips = tmp_path / "skips.txt"
    skips.write_text(skip_list)
    paths = []
    for number, listing in enumerate(listings):
        paths.append(tmp_path / f"listing{number}.txt")
        paths[-1].write_text(listing)
    return subprocess.run([sys.executable, SKIPS, str(skips), *map(str, paths)],
                          capture_output=True, text=True)


# skip list, the filter it gives
FILTERS = [
    ("# nothing left out\n\n", "*"),
    ("Upscaler.RealFourTimesModel  the real upscaler\n", "*-Upscaler.RealFourTimesModel"),
    ("DetectRealModels.*\treal detectors, tab before the reason\n", "*-DetectRealModels.*"),
    ("Sizes/Resize.Stretches/*  parameterised\n", "*-Sizes/Resize.Stretches/*"),
    ("Upscaler.Real?ourTimesModel  one character\n", "*-Upscaler.Real?ourTimesModel"),
    ("DetectRealModels.*  slow\n# between\nUpscaler.Real*  slow\n",
     "*-DetectRealModels.*:Upscaler.Real*"),
]


@pytest.mark.parametrize("skip_list, expected", FILTERS)
def test_skip_list_becomes_a_filter_leaving_out_its_tests(tmp_path, skip_list, expected):
    result = run_skips(tmp_path, skip_list, LISTING)
    assert result.returncode == 0, result.stderr
    assert result.stdout.strip() == expected


def test_a_pattern_may_match_in_any_program(tmp_path):
    result = run_skips(tmp_path, "Other.Test  in the second program\n", LISTING,
                       "Other.\n  Test\n")
    assert result.returncode == 0, result.stderr
    assert result.stdout.strip() == "*-Other.Test"


# skip list, what the refusal names
REFUSALS = [
    ("Upscaler.RealFourTimesModel\n", "line 1: Upscaler.RealFourTimesModel has no reason"),
    ("# first\nUpscaler.Renamed  was slow\n", "line 2: Upscaler.Renamed matches no test"),
    # A suite without its test part matches no test name.
    ("Upscaler  the whole suite\n", "line 1: Upscaler matches no test"),
    # The parameter comment is not part of the name.
    ("Sizes/Resize.Stretches/0*4  slow\n", "matches no test"),
    ("Upscaler.*:DetectRealModels.*  two at once\n", "is not a test name pattern"),
    ("-Upscaler.*  negated\n", "is not a test name pattern"),
    ("Upscaler.[RT]*  a character class\n", "is not a test name pattern"),
]


@pytest.mark.parametrize("skip_list, named", REFUSALS)
def test_a_faulty_entry_stops_the_run_naming_its_line(tmp_path, skip_list, named):
    result = run_skips(tmp_path, skip_list, LISTING)
    assert result.returncode == 1
    assert named in result.stderr
    assert result.stdout == ""


# The programs the arm64 run builds (one per test folder of tests/).
ARM64_PROGRAMS = ("test_engine", "test_face", "test_frame", "test_frame_dirs", "test_image",
                  "test_inference", "test_platform")


def test_the_arm64_skip_list_names_only_tests_that_exist(tmp_path):
    # The same test programs, built natively: a test renamed since the list
    # was written shows up here, not only in the long portable stage.
    out = os.path.dirname(os.environ.get("BRIGHTLOOM_CLI", os.path.join(ROOT, "build", "out", "brightloom")))
    programs = [os.path.join(out, name) for name in ARM64_PROGRAMS]
    missing = [name for name, path in zip(ARM64_PROGRAMS, programs) if not os.path.exists(path)]
    if missing:
        pytest.skip(f"test programs not built in {out}: {' '.join(missing)}")
    listings = []
    for number, program in enumerate(programs):
        listings.append(tmp_path / f"listing{number}.txt")
        listings[-1].write_text(subprocess.run([program, "--gtest_list_tests"], capture_output=True,
                                               text=True, check=True).stdout)
    result = subprocess.run([sys.executable, SKIPS, ARM64_SKIPS, *map(str, listings)],
                            capture_output=True, text=True)
    assert result.returncode == 0, result.stderr
    assert result.stdout.startswith("*-")
