"""Image files the Python test suites write for their inputs."""
import struct
import zlib


def bmp_header(width, height, pixel_bytes):
    header = struct.pack("<2sIHHI", b"BM", 54 + pixel_bytes, 0, 0, 54)
    info = struct.pack("<IiiHHIIiiII", 40, width, height, 1, 24, 0, pixel_bytes, 2835, 2835, 0, 0)
    return header + info


def write_bmp(path, width, height, rgb):
    """A 24-bit BMP of one colour; rgb is (r, g, b)."""
    row = bytes((rgb[2], rgb[1], rgb[0])) * width
    row += b"\0" * ((4 - len(row) % 4) % 4)
    pixels = row * height
    with open(path, "wb") as f:
        f.write(bmp_header(width, height, len(pixels)) + pixels)


def png_header(width, height):
    fields = struct.pack(">IIBBBBB", width, height, 8, 2, 0, 0, 0)
    return (b"\x89PNG\r\n\x1a\n" + struct.pack(">I", len(fields)) + b"IHDR" + fields
            + struct.pack(">I", zlib.crc32(b"IHDR" + fields)))


def webp_header(width, height):
    """A lossless WebP's headers (sides up to 16384)."""
    size_bits = (width - 1) | (height - 1) << 14
    chunk = b"\x2f" + struct.pack("<I", size_bits)
    return b"RIFF" + struct.pack("<I", 12 + len(chunk)) + b"WEBPVP8L" + \
        struct.pack("<I", len(chunk)) + chunk


HEADERS = {"bmp": lambda w, h: bmp_header(w, h, 0), "png": png_header, "webp": webp_header}


def write_header_only(path, kind, width, height):
    """A file of format `kind` (bmp, png, webp) that declares width x height
    and ends after its headers: enough for whatever reads only the size."""
    with open(path, "wb") as f:
        f.write(HEADERS[kind](width, height))
