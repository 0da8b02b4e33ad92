"""An upscale whose size sits after more than 1 MiB of metadata was only read
from a 1 MiB head, so the refusal naming the pixel limit did not come and the
library failed later as "Frame enhancement failed". The size is now read
where it is, whatever comes before it."""
import os
import struct

import pytest

# More than the 1 MiB head once read.
METADATA_BYTES = (1 << 20) + 300_000


def jpeg_after_metadata(width, height, stray=b""):
    """SOI, APP2 segments holding METADATA_BYTES, then a frame header of
    width x height and an empty scan; `stray` bytes go between segments."""
    out = bytearray(b"\xff\xd8")
    left = METADATA_BYTES
    while left > 0:
        payload = min(left, 65533)
        out += b"\xff\xe2" + struct.pack(">H", payload + 2) + bytes(payload)
        out += stray
        left -= payload
    out += b"\xff\xc0" + struct.pack(">HBHHB", 11, 8, height, width, 1) + b"\x01\x11\x00"
    out += b"\xff\xda\x00\x08\x01\x01\x00\x00\x3f\x00\xff\xd9"
    return bytes(out)


def pnm_after_comments(width, height):
    """A P6 header whose comment lines hold METADATA_BYTES before the size."""
    line = b"#" + b"c" * 998 + b"\n"
    comments = line * (METADATA_BYTES // len(line) + 1)
    return b"P6\n" + comments + f"{width} {height}\n255\n".encode()


# name, file bytes, declared size, --scale, refused before the models load?
CASES = [
    ("app-segments.jpg", jpeg_after_metadata(8193, 8192), (8193, 8192), 2, True),
    ("app-segments-x4.jpg", jpeg_after_metadata(10000, 10000), (10000, 10000), 4, True),
    ("stray-bytes.jpg", jpeg_after_metadata(8193, 8192, stray=b"\x00\xff\x00"), (8193, 8192), 2,
     True),
    ("comments.ppm", pnm_after_comments(8193, 8192), (8193, 8192), 2, True),
    ("at-limit.jpg", jpeg_after_metadata(8192, 8192), (8192, 8192), 2, False),  # exactly 2^28
]


@pytest.mark.parametrize("name, data, size, scale, refused", CASES, ids=[c[0] for c in CASES])
def test_upscale_limit_is_named_whatever_metadata_comes_first(run, models_dir, tmp_path, name,
                                                             data, size, scale, refused):
    image = tmp_path / name
    image.write_bytes(data)
    out = tmp_path / "out.png"
    result = run("-m", os.path.join(models_dir, "slots"), "upscale", image, out, "--scale", scale)
    assert result.returncode == 1
    limit_message = (f"brightloom: error: Upscaled result of {size[0] * scale}x{size[1] * scale} "
                     f"pixels is over the limit of 268435456 pixels (2^28): {image}")
    assert (limit_message in result.stderr) == refused, result.stderr
    # Refused before the models load; otherwise the library reads the file.
    assert ("[brightloom]" in result.stderr) != refused, result.stderr
    assert "Frame enhancement failed" not in result.stderr
    assert not out.exists()
