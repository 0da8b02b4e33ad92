#!/usr/bin/python3
"""Writes the fuzzing seeds: small valid files of every layout each decoder
reads, one folder per fuzz target (png, jpeg, gif, webp, bmp, tga, pnm, load
for all of them, api for the public operations).

    make_seeds.py OUTDIR
"""
import io
import os
import random
import shutil
import struct
import sys
import tempfile
import zlib

from PIL import Image

here = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(here, "..", "tests", "image"))
import make_image_corpus  # noqa: E402

rng = random.Random(99)


def picture(width, height, mode="RGB"):
    """Smooth shapes with a little noise: something every codec has to work at."""
    im = Image.new("RGB", (width, height))
    px = im.load()
    for y in range(height):
        for x in range(width):
            px[x, y] = ((x * 9 + rng.randrange(8)) & 255, (y * 13) & 255, ((x ^ y) * 5) & 255)
    return im.convert(mode)


def pil_bytes(im, fmt, **options):
    out = io.BytesIO()
    im.save(out, fmt, **options)
    return out.getvalue()


def exif_orientation(value):
    exif = Image.Exif()
    exif[0x0112] = value
    return exif.tobytes()


def jpeg_seeds():
    rgb, grey = picture(24, 17), picture(16, 9, "L")
    yield "baseline", pil_bytes(rgb, "JPEG", quality=80)
    yield "progressive", pil_bytes(rgb, "JPEG", quality=70, progressive=True)
    yield "grey", pil_bytes(grey, "JPEG")
    yield "444", pil_bytes(rgb, "JPEG", subsampling=0)
    yield "422", pil_bytes(rgb, "JPEG", subsampling=1)
    yield "restart", pil_bytes(rgb, "JPEG", restart_marker_blocks=1)
    for value in (3, 6, 8):
        yield "orientation%d" % value, pil_bytes(rgb, "JPEG", exif=exif_orientation(value))


def webp_seeds():
    rgb, rgba = picture(20, 12), picture(9, 7, "RGBA")
    yield "lossy", pil_bytes(rgb, "WEBP", quality=60)
    yield "lossless", pil_bytes(rgb, "WEBP", lossless=True)
    yield "alpha", pil_bytes(rgba, "WEBP", quality=50)
    yield "alpha_lossless", pil_bytes(rgba, "WEBP", lossless=True)


def tga_seeds():
    yield "rgb", pil_bytes(picture(11, 6), "TGA")
    yield "rgb_rle", pil_bytes(picture(11, 6), "TGA", compression="tga_rle")
    yield "rgba_rle", pil_bytes(picture(7, 5, "RGBA"), "TGA", compression="tga_rle")
    yield "grey", pil_bytes(picture(8, 8, "L"), "TGA")
    yield "mapped", pil_bytes(picture(10, 4, "P"), "TGA")
    yield "mapped_rle", pil_bytes(picture(10, 4, "P"), "TGA", compression="tga_rle")


def pnm_seeds():
    yield "p6", b"P6\n3 2\n255\n" + bytes(rng.randrange(256) for _ in range(18))
    yield "p5", b"P5 4 2 255 " + bytes(rng.randrange(256) for _ in range(8))
    yield "p5_16", b"P5\n# a comment\n2 2\n65535\n" + bytes(rng.randrange(256) for _ in range(8))
    yield "p6_15", b"P6\n2 1\n15\n" + bytes(rng.randrange(16) for _ in range(6))


def png_chunk(kind, body):
    return struct.pack(">I", len(body)) + kind + body + struct.pack(">I", zlib.crc32(kind + body))


def declared_size_seeds():
    """(target, name, bytes): headers declaring pictures past the pixel limit
    (and a PNG row past its cap), which the decoders refuse before
    allocating for their pixels; mutated, they probe that edge under the
    fuzzer's malloc limit."""
    def png(width, height, depth, colour, interlace):
        ihdr = struct.pack(">IIBBBBB", width, height, depth, colour, 0, 0, interlace)
        return (b"\x89PNG\r\n\x1a\n" + png_chunk(b"IHDR", ihdr) +
                png_chunk(b"IDAT", zlib.compress(bytes(1000))) + png_chunk(b"IEND", b""))
    yield "png", "declares_wide", png(2**31 - 1, 1, 8, 2, 0)
    yield "png", "declares_wide_rgba16_interlaced", png(2**31 - 1, 1, 16, 6, 1)
    yield "png", "declares_row_past_cap", png(4194305, 1, 16, 6, 0)
    yield "jpeg", "declares_65500", (b"\xff\xd8\xff\xc0" + struct.pack(">HBHHB", 11, 8, 65500, 65500, 1) +
                                     b"\x01\x11\x00\xff\xda\x00\x08\x01\x01\x00\x00\x3f\x00\xff\xd9")
    yield "gif", "declares_65535", (b"GIF89a" + struct.pack("<HH", 65535, 65535) +
                                    b"\x80\x00\x00\x00\x00\x00\xff\xff\xff" +
                                    b"\x2c\x00\x00\x00\x00\x01\x00\x01\x00\x00\x02\x02\x4c\x01\x00\x3b")
    yield "webp", "declares_canvas", (b"RIFF" + struct.pack("<I", 22) + b"WEBPVP8X" + struct.pack("<I", 10) +
                                      bytes(4) + (65535).to_bytes(3, "little") + (65534).to_bytes(3, "little"))
    yield "bmp", "declares_wide", (b"BM" + struct.pack("<IIII", 54, 0, 54, 40) +
                                   struct.pack("<iiHH", 2**31 - 1, 1, 1, 24) + bytes(24))
    yield "tga", "declares_65535", bytes([0, 0, 2]) + bytes(9) + struct.pack("<HH", 65535, 65535) + bytes([24, 0])
    yield "pnm", "declares_wide", b"P6\n2147483647 2147483647\n65535\n"


def corpus_seeds(prefix, limit):
    """The smaller files of the valid-image corpus of one format."""
    with tempfile.TemporaryDirectory() as tmp:
        make_image_corpus.main_into(tmp)
        names = sorted(n for n in os.listdir(tmp) if n.startswith(prefix) and not n.endswith(".rgb"))
        chosen = [n for n in names if os.path.getsize(os.path.join(tmp, n)) <= limit]
        for name in chosen:
            with open(os.path.join(tmp, name), "rb") as f:
                yield os.path.splitext(name)[0], f.read()


def write_seeds(out, target, seeds):
    folder = os.path.join(out, target)
    os.makedirs(folder, exist_ok=True)
    for name, data in seeds:
        for destination in (folder, os.path.join(out, "load")):
            with open(os.path.join(destination, name), "wb") as f:
                f.write(data)


def main():
    out = sys.argv[1]
    shutil.rmtree(out, ignore_errors=True)
    os.makedirs(os.path.join(out, "load"))
    write_seeds(out, "png", corpus_seeds("png_", 400))
    write_seeds(out, "bmp", corpus_seeds("bmp_", 400))
    write_seeds(out, "gif", corpus_seeds("gif_", 400))
    write_seeds(out, "jpeg", jpeg_seeds())
    write_seeds(out, "webp", webp_seeds())
    write_seeds(out, "tga", tga_seeds())
    write_seeds(out, "pnm", pnm_seeds())
    for target, name, data in declared_size_seeds():
        write_seeds(out, target, [("%s_%s" % (target, name), data)])
    # The operations get a plain picture: the stand-in detector finds no face
    # in it, so a seed runs in a second; one it finds 64 faces in takes
    # minutes under the sanitizers, and the fuzzer reaches those by itself.
    api = os.path.join(out, "api")
    os.makedirs(api)
    # Detector score 0.5, mask blur and blend 0.3, scale 2, PNG output, no padding.
    settings = bytes([0]) + struct.pack("<ff", 0.5, 0.3) + bytes([2, 0]) + bytes(16)
    for i, (fmt, options) in enumerate([("PNG", {}), ("JPEG", {"quality": 85})]):
        for op in range(7):
            image = pil_bytes(Image.new("RGB", (48, 40), (128, 128, 128)), fmt, **options)
            with open(os.path.join(api, "op%d_%d" % (op, i)), "wb") as f:
                f.write(bytes([op]) + settings[1:] + image)
    with open(os.path.join(out, ".stamp"), "w") as f:
        f.write("ok\n")


if __name__ == "__main__":
    main()
