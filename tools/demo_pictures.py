#!/usr/bin/python3
"""Pictures of the demo: the input images it feeds the tool, and the one
side-by-side overview of what each operation did.

    demo_pictures.py inputs OUT_DIR     writes OUT_DIR/inputs/...
    demo_pictures.py overview OUT_DIR   reads inputs/ and results/, writes overview.png

The overview ends with a strip of video frames before and after swap-video,
taken from results/strip_clip/ and results/strip_clip_swapped/.

The faces are cartoon faces drawn to suit the generated stand-in models: the
stand-in detector reports a face for every bright square (a tenth of the image
wide) on a dark surround, and the stand-in recognizer tells faces apart by
their colour. Skin and feature colours are multiples of 1/8 of full scale,
the palette the stand-in restorer snaps to.
"""
import os
import sys

import numpy as np
from PIL import Image, ImageDraw, ImageFont

SIZE = 640
FACE = 64  # the stand-in detector's face: a tenth of the image side
FACE_Y = 280
BACKGROUND_TOP, BACKGROUND_BOTTOM = (20, 26, 44), (36, 30, 40)
PUPIL = (31, 31, 63)
WHITE = (255, 255, 255)
MOUTH = (191, 63, 63)
FRAMES = 24

# Everyone's skin is bright (some channel at least 144) and everything
# around the face square is dark (every channel at most 111).
PEOPLE = {
    "ana": dict(skin=(255, 223, 159), hair=(96, 64, 32), shirt=(32, 64, 111), style="bob"),
    "ben": dict(skin=(159, 95, 63), hair=(24, 20, 16), shirt=(96, 40, 40), style="short"),
    "cleo": dict(skin=(255, 159, 127), hair=(111, 48, 16), shirt=(40, 88, 56), style="long"),
    # The face that is swapped in: sunglasses and a moustache.
    "sam": dict(skin=(223, 191, 127), hair=(48, 40, 32), shirt=(72, 72, 96), style="short",
                sunglasses=True, moustache=(159, 95, 31)),
}
GROUP = (("ana", 192), ("ben", 320), ("cleo", 448))
# Region of the 640 x 640 scenes shown in the overview, at full size.
VIEW = (96, 176, 544, 464)


def background():
    t = np.linspace(0.0, 1.0, SIZE)[:, None, None]
    top, bottom = np.array(BACKGROUND_TOP), np.array(BACKGROUND_BOTTOM)
    column = (top * (1 - t) + bottom * t).astype(np.uint8)
    return Image.fromarray(np.repeat(column, SIZE, axis=1), "RGB")


def draw_person(draw, name, cx, cy=FACE_Y):
    p = PEOPLE[name]
    half = FACE // 2
    left, top, right, bottom = cx - half, cy - half, cx + half - 1, cy + half - 1
    # Body and neck below, hair behind and above: all dark.
    draw.rounded_rectangle((cx - 78, bottom + 18, cx + 78, SIZE + 40), 28, fill=p["shirt"])
    neck = tuple(min(111, c // 2) for c in p["skin"])
    draw.rectangle((cx - 12, bottom, cx + 11, bottom + 24), fill=neck)
    if p["style"] == "long":
        draw.rounded_rectangle((left - 12, top - 18, right + 12, bottom + 40), 14, fill=p["hair"])
    elif p["style"] == "bob":
        draw.rounded_rectangle((left - 10, top - 16, right + 10, bottom + 8), 16, fill=p["hair"])
    else:
        draw.rounded_rectangle((left - 4, top - 12, right + 4, top + 10), 8, fill=p["hair"])
    # The face square and its features, at the detector's landmark places:
    # eyes 34 % / 66 % across and 46 % down, mouth 82 % down.
    draw.rounded_rectangle((left, top, right, bottom), 6, fill=p["skin"])
    eye_y = top + round(0.46 * FACE)
    eyes = (left + round(0.34 * FACE), left + round(0.66 * FACE))
    if p.get("sunglasses"):
        for ex in eyes:
            draw.rounded_rectangle((ex - 7, eye_y - 4, ex + 7, eye_y + 3), 3, fill=PUPIL)
        draw.line((eyes[0] + 7, eye_y - 2, eyes[1] - 7, eye_y - 2), fill=PUPIL, width=2)
    else:
        for ex in eyes:
            draw.ellipse((ex - 6, eye_y - 4, ex + 6, eye_y + 4), fill=WHITE)
            draw.rectangle((ex - 2, eye_y - 2, ex + 1, eye_y + 1), fill=PUPIL)
            draw.line((ex - 6, eye_y - 9, ex + 6, eye_y - 9), fill=p["hair"], width=2)
    nose = tuple(max(0, c - 32) for c in p["skin"])
    draw.line((cx, top + 34, cx, top + 41), fill=nose, width=3)
    mouth_y = top + round(0.82 * FACE)
    if "moustache" in p:
        draw.rounded_rectangle((cx - 14, mouth_y - 9, cx + 13, mouth_y - 4), 3, fill=p["moustache"])
    draw.arc((cx - 11, mouth_y - 8, cx + 10, mouth_y + 3), 20, 160, fill=MOUTH, width=3)


def scene(people):
    image = background()
    draw = ImageDraw.Draw(image)
    for name, cx, *cy in people:
        draw_person(draw, name, cx, *(cy or [FACE_Y]))
    return image


def frame_people(i):
    """Frame i of the clip: everyone sways, on the detector's 8-pixel grid."""
    sway = [0, 8, 16, 16, 8, 0, -8, -16, -16, -8]
    return (("ana", 192 + sway[i % 10]), ("ben", 320, FACE_Y + sway[(i + 3) % 10] // 2),
            ("cleo", 448 - sway[(i + 6) % 10]))


def write_inputs(out):
    d = os.path.join(out, "inputs")
    os.makedirs(os.path.join(d, "frames"), exist_ok=True)
    group = scene(GROUP)
    group.save(os.path.join(d, "group.png"))
    scene((("sam", 320),)).save(os.path.join(d, "source.png"))
    scene((("ben", 320),)).save(os.path.join(d, "reference.png"))
    noise = np.random.RandomState(3).normal(0.0, 16.0, (SIZE, SIZE, 3))
    noisy = np.clip(np.asarray(group, np.float64) + noise, 0, 255).astype(np.uint8)
    Image.fromarray(noisy, "RGB").save(os.path.join(d, "group_noisy.png"))
    group.convert("L").convert("RGB").save(os.path.join(d, "group_grey.png"))
    group.resize((SIZE // 4, SIZE // 4), Image.BOX).save(os.path.join(d, "group_small.png"))
    for i in range(FRAMES):
        scene(frame_people(i)).save(os.path.join(d, "frames", f"frame_{i:04d}.png"))


# ------------------------------------------------------------- overview ---

PANEL_W, PANEL_H = VIEW[2] - VIEW[0], VIEW[3] - VIEW[1]
GAP, LABEL_H, TITLE_H = 16, 30, 64
INK, DIM, PAPER = (235, 235, 235), (150, 150, 160), (12, 12, 16)
ROWS = (
    ("FACE SWAP", "brightloom swap source.png group.png swap.png",
     (("source", "inputs/source.png"), ("target", "inputs/group.png"),
      ("result", "results/swap.png"))),
    ("FACE RESTORATION", "brightloom --enhancer-blend 1 enhance group_noisy.png restored.png",
     (("input", "inputs/group_noisy.png"), ("result", "results/restored.png"))),
    ("COLORIZATION", "brightloom colorize group_grey.png colorized.png",
     (("input", "inputs/group_grey.png"), ("result", "results/colorized.png"))),
    ("UPSCALE x4", "brightloom upscale --scale 4 group_small.png upscaled.png",
     (("input 160x160, shown enlarged", "inputs/group_small.png"),
      ("result 640x640", "results/upscaled.png"))),
    ("FRAME-DIRECTORY SWAP, ONLY FACES LIKE THE REFERENCE",
     "brightloom swap-dir source.png frames/ frames_swapped/ --reference reference.png",
     (("source", "inputs/source.png"), ("reference", "inputs/reference.png"),
      ("frame 6", "inputs/frames/frame_0006.png"),
      ("frame 6 result", "results/frames_swapped/frame_0006.png"))),
)


def text(draw, xy, words, colour, scale=2):
    """Text in the built-in bitmap font, enlarged `scale` times."""
    font = ImageFont.load_default()
    box = draw.textbbox((0, 0), words, font=font)
    small = Image.new("L", (box[2] + 1, box[3] + 1), 0)
    ImageDraw.Draw(small).text((0, 0), words, fill=255, font=font)
    big = small.resize((small.width * scale, small.height * scale), Image.NEAREST)
    draw.bitmap(xy, big, fill=colour)


def panel(path):
    image = Image.open(path).convert("RGB")
    if image.size != (SIZE, SIZE):
        image = image.resize((SIZE, SIZE), Image.NEAREST)
    return image.crop(VIEW)


VIDEO_TITLE = "VIDEO SWAP, ONLY FACES LIKE THE REFERENCE, SOUND KEPT"
VIDEO_COMMAND = "brightloom swap-video source.png clip.mp4 clip_swapped.mp4 --reference reference.png"
STRIP_FRAMES = 8


def strip_frames(out, name):
    folder = os.path.join(out, "results", name)
    names = sorted(os.listdir(folder)) if os.path.isdir(folder) else []
    return [os.path.join(folder, n) for n in names[:STRIP_FRAMES]]


def draw_video_strip(sheet, draw, out, y, width):
    """Every third frame of the clip, before (top) and after swap-video."""
    text(draw, (GAP, y), VIDEO_TITLE, INK, 3)
    text(draw, (GAP + 2, y + 34), VIDEO_COMMAND, DIM, 2)
    y += TITLE_H
    thumb_w = (width - GAP * (STRIP_FRAMES + 1)) // STRIP_FRAMES
    thumb_h = thumb_w * PANEL_H // PANEL_W
    for line, (label, name) in enumerate((("before", "strip_clip"),
                                          ("after", "strip_clip_swapped"))):
        frames = strip_frames(out, name)
        if not frames:
            text(draw, (GAP, y + thumb_h // 2), f"missing: results/{name}/", (220, 80, 80))
        for i, path in enumerate(frames):
            thumb = panel(path).resize((thumb_w, thumb_h), Image.BOX)
            sheet.paste(thumb, (GAP + i * (thumb_w + GAP), y))
        text(draw, (GAP, y + thumb_h + 4), f"{label}: frames 0, 3, 6, ... of the video", INK)
        y += thumb_h + LABEL_H


def video_strip_height(width):
    thumb_w = (width - GAP * (STRIP_FRAMES + 1)) // STRIP_FRAMES
    return TITLE_H + 2 * (thumb_w * PANEL_H // PANEL_W + LABEL_H) + GAP


def write_overview(out):
    width = GAP + 4 * (PANEL_W + GAP)
    height = GAP + sum(TITLE_H + PANEL_H + LABEL_H + GAP for _ in ROWS) + video_strip_height(width)
    sheet = Image.new("RGB", (width, height), PAPER)
    draw = ImageDraw.Draw(sheet)
    y = GAP
    for title, command, panels in ROWS:
        text(draw, (GAP, y), title, INK, 3)
        text(draw, (GAP + 2, y + 34), command, DIM, 2)
        y += TITLE_H
        for i, (label, relative) in enumerate(panels):
            x = GAP + i * (PANEL_W + GAP)
            path = os.path.join(out, relative)
            if os.path.exists(path):
                sheet.paste(panel(path), (x, y))
            else:
                text(draw, (x + 8, y + PANEL_H // 2), "missing: " + relative, (220, 80, 80))
            text(draw, (x, y + PANEL_H + 6), label, INK)
        y += PANEL_H + LABEL_H + GAP
    draw_video_strip(sheet, draw, out, y, width)
    sheet.save(os.path.join(out, "overview.png"))


def main():
    if len(sys.argv) != 3 or sys.argv[1] not in ("inputs", "overview"):
        sys.exit(__doc__)
    (write_inputs if sys.argv[1] == "inputs" else write_overview)(sys.argv[2])


if __name__ == "__main__":
    main()
