"""File names may hold any byte: the tool prints them, and the library
messages that quote them, with control characters, C1 controls and bytes
that are not UTF-8 made visible, so that a name cannot move the cursor,
clear the screen or retitle the window. Other scripts print unchanged."""
import json
import os
import subprocess

import pytest
from PIL import Image

# An escape sequence, a line break, a bell, a C1 CSI (UTF-8), a byte that is
# not UTF-8, and a name in another script.
NAME = b"in\x1b[31mred\nline\x07\xc2\x9bend\xff\xd0\xba\xd0\xbe\xd1\x82.png"
SHOWN = b"in\\x1b[31mred\\nline\\x07\\u009bend\\xff\xd0\xba\xd0\xbe\xd1\x82.png"
RAW = [b"\x1b", b"\x07", b"\xc2\x9b", b"\xff"]


def tool(cli, *args, cwd):
    env = dict(os.environ)
    env.pop("BRIGHTLOOM_MODELS", None)
    result = subprocess.run([cli, *args], capture_output=True, timeout=120, env=env, cwd=cwd)
    for stream in (result.stdout, result.stderr):
        assert not any(raw in stream for raw in RAW), stream
    return result


@pytest.fixture
def named(tmp_path):
    """A picture under the hostile name, in a folder under it too."""
    folder = tmp_path / os.fsdecode(b"frames\x1b[2J")
    folder.mkdir()
    for path in (tmp_path / os.fsdecode(NAME), folder / os.fsdecode(NAME)):
        Image.new("RGB", (64, 64), (20, 20, 20)).save(path, "PNG")
    return tmp_path


# arguments (b"{models}" is the model folder), stream, what it shows
CASES = [
    ([b"-m", b"{models}", b"detect", NAME], "stdout", SHOWN + b": 64 x 64, 0 faces\n"),
    ([b"-m", b"{models}", b"detect", b"missing\x1b[2J.png"], "stderr",
     b"brightloom: error: Failed to load image: missing\\x1b[2J.png: Cannot read the file\n"),
    ([b"-q", b"-m", b"{models}", b"colorize", NAME, b"out\x1b]0;title\x07.png"], "stderr",
     b"brightloom: wrote out\\x1b]0;title\\x07.png\n"),
    ([b"-m", b"{models}", b"process-dir", b"colorize", b"frames\x1b[2J", b"done\x1b[2J"], "stderr",
     b"written to done\\x1b[2J\n"),
    ([b"-m", b"{models}", b"process-dir", b"colorize", b"frames\x1b[2J", b"done\x1b[2J"], "stderr",
     b"frame_colorize: frames\\x1b[2J/" + SHOWN.split(b"\\n")[0]),
    ([b"swap", b"a.png", b"b.png", b"c.png", b"extra\x1b[2J"], "stderr", b"not expected: extra\\x1b[2J\n"),
]


@pytest.mark.parametrize("args, stream, shown", CASES, ids=range(len(CASES)))
def test_names_are_printed_escaped(cli, demo_models, named, args, stream, shown):
    args = [arg.replace(b"{models}", os.fsencode(str(demo_models))) for arg in args]
    result = tool(cli, *args, cwd=named)
    assert shown in getattr(result, stream), result


def test_json_keeps_the_name_and_escapes_what_a_terminal_acts_on(cli, demo_models, named):
    result = tool(cli, "-q", "-m", str(demo_models), "detect", "--json", NAME, cwd=named)
    assert result.returncode == 0, result.stderr
    # The one byte that is not UTF-8 was never a character; the rest is the name.
    assert json.loads(result.stdout)["image"] == NAME.decode("utf-8", "replace")
