#!/usr/bin/python3
"""Writes the valid-image corpus the loader is checked against.

Every file NAME.EXT comes with NAME.rgb: the pixels the loader must give,
computed here from the samples written (grey as three equal channels, alpha
dropped, 16-bit samples reduced to their high byte, palette entries looked
up), as width and height (32-bit little-endian each) followed by R, G, B
bytes row by row. Only the standard library is used, so the files are the
same on every machine.

    make_image_corpus.py OUTDIR
"""
import os
import random
import struct
import sys
import zlib

rng = random.Random(1234)


def write_case(out, name, ext, data, width, height, rgb):
    assert len(rgb) == width * height * 3, name
    with open(os.path.join(out, name + "." + ext), "wb") as f:
        f.write(data)
    with open(os.path.join(out, name + ".rgb"), "wb") as f:
        f.write(struct.pack("<II", width, height) + bytes(rgb))


def scale_to_8(value, bits):
    """A low-depth sample as 8 bits by repeating its bits (0 stays 0, the
    largest value becomes 255); 16 bits keep their high byte."""
    if bits == 16:
        return value >> 8
    if bits == 8:
        return value
    out, shift = 0, 8 - bits
    while shift > -bits:
        out |= value << shift if shift >= 0 else value >> -shift
        shift -= bits
    return out & 255


# ------------------------------------------------------------------ PNG

def png_chunk(kind, body):
    return struct.pack(">I", len(body)) + kind + body + struct.pack(">I", zlib.crc32(kind + body))


def paeth(a, b, c):
    p = a + b - c
    pa, pb, pc = abs(p - a), abs(p - b), abs(p - c)
    if pa <= pb and pa <= pc:
        return a
    return b if pb <= pc else c


def filter_row(kind, row, previous, bpp):
    out = bytearray()
    for i, x in enumerate(row):
        a = row[i - bpp] if i >= bpp else 0
        b = previous[i] if previous else 0
        c = previous[i - bpp] if previous and i >= bpp else 0
        predictor = [0, a, b, (a + b) // 2, paeth(a, b, c)][kind]
        out.append((x - predictor) & 255)
    return bytes([kind]) + bytes(out)


def pack_row(samples, bits):
    if bits == 16:
        return b"".join(struct.pack(">H", s) for s in samples)
    if bits == 8:
        return bytes(samples)
    out, acc, filled = bytearray(), 0, 0
    for s in samples:
        acc = acc << bits | s
        filled += bits
        if filled == 8:
            out.append(acc)
            acc, filled = 0, 0
    if filled:
        out.append(acc << (8 - filled))
    return bytes(out)


ADAM7 = [(0, 0, 8, 8), (4, 0, 8, 8), (0, 4, 4, 8), (2, 0, 4, 4), (0, 2, 2, 4), (1, 0, 2, 2), (0, 1, 1, 2)]


def png_file(width, height, colour_type, bits, pixels, palette=None, trns=None, interlaced=False,
             idat_split=None):
    """pixels: rows of per-pixel sample tuples in the file's own layout."""
    channels = {0: 1, 2: 3, 3: 1, 4: 2, 6: 4}[colour_type]
    bpp = max(1, channels * bits // 8)
    passes = ADAM7 if interlaced else [(0, 0, 1, 1)]
    raw = bytearray()
    row_number = 0
    for x0, y0, dx, dy in passes:
        previous = None
        for y in range(y0, height, dy):
            xs = range(x0, width, dx)
            if not xs:
                continue
            samples = [s for x in xs for s in pixels[y][x]]
            row = pack_row(samples, bits)
            raw += filter_row(row_number % 5, row, previous, bpp)
            previous = row
            row_number += 1
    stream = zlib.compress(bytes(raw), 9)
    ihdr = struct.pack(">IIBBBBB", width, height, bits, colour_type, 0, 0, 1 if interlaced else 0)
    out = b"\x89PNG\r\n\x1a\n" + png_chunk(b"IHDR", ihdr)
    if palette is not None:
        out += png_chunk(b"PLTE", b"".join(bytes(p) for p in palette))
    if trns is not None:
        out += png_chunk(b"tRNS", trns)
    if idat_split:
        for part in idat_split(stream):
            out += png_chunk(b"IDAT", part)
    else:
        out += png_chunk(b"IDAT", stream)
    return out + png_chunk(b"IEND", b"")


def png_cases(out):
    sizes = [(13, 11), (1, 1), (3, 2), (33, 9)]
    for colour_type, depths in [(0, [1, 2, 4, 8, 16]), (2, [8, 16]), (3, [1, 2, 4, 8]),
                                (4, [8, 16]), (6, [8, 16])]:
        for bits in depths:
            for interlaced in (False, True):
                for width, height in sizes:
                    channels = {0: 1, 2: 3, 3: 1, 4: 2, 6: 4}[colour_type]
                    top = (1 << bits) - 1
                    palette = trns = None
                    if colour_type == 3:
                        count = 1 << bits
                        palette = [(rng.randrange(256), rng.randrange(256), rng.randrange(256))
                                   for _ in range(count)]
                        trns = bytes(rng.randrange(256) for _ in range(count // 2 + 1))
                    pixels = [[tuple(rng.randrange(top + 1) for _ in range(channels))
                               for _ in range(width)] for _ in range(height)]
                    if colour_type == 0 and bits == 8:
                        trns = struct.pack(">H", pixels[0][0][0])
                    rgb = bytearray()
                    for row in pixels:
                        for p in row:
                            if colour_type == 3:
                                rgb += bytes(palette[p[0]])
                            elif colour_type in (0, 4):
                                rgb += bytes([scale_to_8(p[0], bits)] * 3)
                            else:
                                rgb += bytes(scale_to_8(s, bits) for s in p[:3])
                    name = "png_c%d_b%d_%s_%dx%d" % (colour_type, bits, "i" if interlaced else "n",
                                                     width, height)
                    data = png_file(width, height, colour_type, bits, pixels, palette, trns, interlaced)
                    write_case(out, name, "png", data, width, height, rgb)
    # The image stream split over many chunks, the first of them empty: a
    # valid file some writers produce.
    width, height = 20, 7
    pixels = [[(rng.randrange(256), rng.randrange(256), rng.randrange(256)) for _ in range(width)]
              for _ in range(height)]
    rgb = bytes(s for row in pixels for p in row for s in p)
    split = lambda s: [b""] + [s[i:i + 17] for i in range(0, len(s), 17)]
    write_case(out, "png_split_stream", "png",
               png_file(width, height, 2, 8, pixels, idat_split=split), width, height, rgb)


# ------------------------------------------------------------------ BMP

def bmp_file(width, height, bits, rows_packed, palette=None, core=False, masks=None, v4=False,
             top_down=False):
    """rows_packed: file rows top to bottom, unpadded."""
    header_size = 12 if core else (108 if v4 else 40)
    palette_bytes = b""
    if palette is not None:
        palette_bytes = b"".join(bytes([b, g, r]) if core else bytes([b, g, r, 0]) for r, g, b in palette)
    extra = b""
    compression = 0
    if masks is not None:
        compression = 3
        if not v4:
            extra = struct.pack("<III", *masks[:3])
    offset = 14 + header_size + len(extra) + len(palette_bytes)
    stored = list(rows_packed) if top_down else list(reversed(rows_packed))
    body = b"".join(r + b"\0" * ((-len(r)) % 4) for r in stored)
    if core:
        info = struct.pack("<IHHHH", 12, width, height, 1, bits)
    else:
        info = struct.pack("<IiiHHIIiiII", header_size, width, -height if top_down else height, 1, bits,
                           compression, len(body), 2835, 2835, len(palette or []), 0)
        if v4:
            m = masks or (0, 0, 0, 0)
            info += struct.pack("<IIII", *m) + struct.pack("<I", 0x73524742) + b"\0" * 36 + b"\0" * 12
    file_header = b"BM" + struct.pack("<IHHI", offset + len(body), 0, 0, offset)
    return file_header + info + extra + palette_bytes + body


def mask_value(v, mask):
    shift = (mask & -mask).bit_length() - 1
    bits = bin(mask).count("1")
    return scale_to_8((v & mask) >> shift, bits) if bits <= 8 else ((v & mask) >> shift) >> (bits - 8)


def bmp_cases(out):
    for width, height in [(13, 5), (1, 1), (32, 3)]:
        for bits in (1, 4, 8):
            for core in (False, True):
                count = 1 << bits
                palette = [(rng.randrange(256), rng.randrange(256), rng.randrange(256)) for _ in range(count)]
                indices = [[rng.randrange(count) for _ in range(width)] for _ in range(height)]
                rows = [pack_row(r, bits) for r in indices]
                rgb = bytes(s for r in indices for i in r for s in palette[i])
                name = "bmp_p%d_%s_%dx%d" % (bits, "core" if core else "info", width, height)
                write_case(out, name, "bmp", bmp_file(width, height, bits, rows, palette, core=core),
                           width, height, rgb)
        variants = [("rgb24", 24, None, False), ("rgb16", 16, None, False),
                    ("bf565", 16, (0xF800, 0x07E0, 0x001F), False), ("rgb32", 32, None, False),
                    ("bf32", 32, (0x00FF0000, 0x0000FF00, 0x000000FF), False),
                    ("v4_32", 32, (0x0000FF00, 0x00FF0000, 0xFF000000, 0x000000FF), True)]
        for label, bits, masks, v4 in variants:
            for top_down in (False, True):
                rows, rgb = [], bytearray()
                for _ in range(height):
                    row = bytearray()
                    for _ in range(width):
                        if bits == 24:
                            r, g, b = rng.randrange(256), rng.randrange(256), rng.randrange(256)
                            row += bytes([b, g, r])
                            rgb += bytes([r, g, b])
                            continue
                        v = rng.randrange(1 << bits)
                        m = masks or ((0x7C00, 0x03E0, 0x001F) if bits == 16 else (0xFF0000, 0xFF00, 0xFF))
                        if bits == 16:
                            v &= 0x7FFF if masks is None else 0xFFFF
                        row += v.to_bytes(bits // 8, "little")
                        rgb += bytes(mask_value(v, mk) for mk in m[:3])
                    rows.append(bytes(row))
                name = "bmp_%s_%s_%dx%d" % (label, "td" if top_down else "bu", width, height)
                write_case(out, name, "bmp", bmp_file(width, height, bits, rows, masks=masks, v4=v4,
                                                      top_down=top_down), width, height, rgb)


# ------------------------------------------------------------------ GIF

def lzw_literal_codes(indices, min_code_size):
    """An LZW stream of literal codes only, clearing the table before codes
    would grow: valid for every reader and easy to write."""
    clear, end = 1 << min_code_size, (1 << min_code_size) + 1
    width = min_code_size + 1
    codes, since_clear = [clear], 0
    for i in indices:
        if since_clear == (1 << width) - (1 << min_code_size) - 2:
            codes.append(clear)
            since_clear = 0
        codes.append(i)
        since_clear += 1
    codes.append(end)
    acc, filled, out = 0, 0, bytearray()
    for c in codes:
        acc |= c << filled
        filled += width
        while filled >= 8:
            out.append(acc & 255)
            acc >>= 8
            filled -= 8
    if filled:
        out.append(acc & 255)
    blocks = b"".join(bytes([len(out[i:i + 255])]) + out[i:i + 255] for i in range(0, len(out), 255))
    return bytes([min_code_size]) + blocks + b"\0"


def gif_file(screen, frame, indices, global_table=None, local_table=None, background=0,
             transparent=None, interlaced=False):
    sw, sh = screen
    fx, fy, fw, fh = frame
    def table_bits(t):
        return max(1, (len(t) - 1).bit_length())
    out = b"GIF89a" + struct.pack("<HH", sw, sh)
    flags = 0
    if global_table:
        flags = 0x80 | (table_bits(global_table) - 1)
    out += bytes([flags, background, 0])
    if global_table:
        out += b"".join(bytes(c) for c in global_table)
    if transparent is not None:
        out += bytes([0x21, 0xF9, 4, 1, 0, 0, transparent, 0])
    lflags = 0x40 if interlaced else 0
    if local_table:
        lflags |= 0x80 | (table_bits(local_table) - 1)
    out += b"\x2c" + struct.pack("<HHHH", fx, fy, fw, fh) + bytes([lflags])
    if local_table:
        out += b"".join(bytes(c) for c in local_table)
    rows = list(range(fh))
    if interlaced:
        rows = list(range(0, fh, 8)) + list(range(4, fh, 8)) + list(range(2, fh, 4)) + list(range(1, fh, 2))
    stream = [i for y in rows for i in indices[y]]
    size = max(2, table_bits(local_table or global_table))
    return out + lzw_literal_codes(stream, size) + b"\x3b"


def gif_cases(out):
    for name, screen, frame, local, transparent, interlaced, background in [
        ("gif_full", (21, 13), (0, 0, 21, 13), False, None, False, 0),
        ("gif_interlaced", (17, 19), (0, 0, 17, 19), False, None, True, 0),
        ("gif_local_table", (9, 4), (0, 0, 9, 4), True, None, False, 0),
        ("gif_transparent", (12, 6), (0, 0, 12, 6), False, 3, False, 0),
        ("gif_offset_frame", (16, 10), (3, 2, 8, 5), False, None, False, 0),
        ("gif_tiny", (1, 1), (0, 0, 1, 1), False, None, False, 0),
    ]:
        table = [(rng.randrange(256), rng.randrange(256), rng.randrange(256)) for _ in range(16)]
        used = table
        fx, fy, fw, fh = frame
        indices = [[rng.randrange(16) for _ in range(fw)] for _ in range(fh)]
        data = gif_file(screen, frame, indices, None if local else table, table if local else None,
                        background, transparent, interlaced)
        sw, sh = screen
        rgb = bytearray(sw * sh * 3)
        for y in range(fh):
            for x in range(fw):
                i = indices[y][x]
                if i == transparent:
                    continue
                p = ((fy + y) * sw + fx + x) * 3
                rgb[p:p + 3] = bytes(used[i])
        write_case(out, name, "gif", data, sw, sh, rgb)


def main_into(out):
    os.makedirs(out, exist_ok=True)
    png_cases(out)
    bmp_cases(out)
    gif_cases(out)


def main():
    out = sys.argv[1]
    main_into(out)
    with open(os.path.join(out, ".stamp"), "w") as f:
        f.write("ok\n")


if __name__ == "__main__":
    main()
