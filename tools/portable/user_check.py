"""What a user of the wheel does, run with a system's own python3 and numpy
(nothing else): open an Engine, swap, detect and colorize the demo's
pictures, and save the results for comparison with the native build's.

    python3 user_check.py run MODELS PICTURES OUT_DIR
    python3 user_check.py compare REFERENCE_DIR OUT_DIR...

`run` also records which library file was loaded, so a test can tell the
wheel's own from any other. `compare` (numpy only as well) fails unless the
pictures are equal pixel for pixel and the detected faces equal within
DETECT_TOLERANCE (arm64's results under emulation equal x86_64's too)."""
import os
import sys

import numpy as np

# Boxes, scores and points of the same detection from two compilers of the
# same code: the library is built with -ffp-contract=off, so equal.
DETECT_TOLERANCE = 0.0


def run(models, pictures, out):
    import brightloom
    os.makedirs(out, exist_ok=True)
    source = os.path.join(pictures, "source.png")
    group = os.path.join(pictures, "group.png")
    with open(os.path.join(out, "library.txt"), "w") as f:
        f.write(brightloom.load()._name)
    with brightloom.Engine(models) as engine:
        np.save(os.path.join(out, "swap.npy"), engine.swap(source, group))
        np.save(os.path.join(out, "colorize.npy"), engine.colorize(group))
        faces = engine.detect(group)
        np.save(os.path.join(out, "detect.npy"),
                np.array([list(f.box) + [f.score] + list(f.points5.ravel()) for f in faces],
                         dtype=np.float32))
    print(f"{len(faces)} faces; results in {out}")


def compare(reference, outs):
    failed = False
    for out in outs:
        for name in ("swap.npy", "colorize.npy", "detect.npy"):
            want, got = np.load(os.path.join(reference, name)), np.load(os.path.join(out, name))
            if want.shape != got.shape:
                print(f"{out}/{name}: shape {got.shape}, native {want.shape}")
                failed = True
                continue
            diff = float(np.max(np.abs(want.astype(np.float64) - got.astype(np.float64)))) \
                if want.size else 0.0
            limit = DETECT_TOLERANCE if name == "detect.npy" else 0.0
            mean = float(np.mean(np.abs(want.astype(np.float64) - got.astype(np.float64)))) \
                if want.size else 0.0
            print(f"{out}/{name}: {want.shape}, largest difference from native {diff}, mean {mean:.4f}")
            failed |= diff > limit
        if name == "detect.npy" and not len(want):
            print(f"{reference}/detect.npy: no faces found; the check needs some")
            failed = True
    return 1 if failed else 0


if __name__ == "__main__":
    if sys.argv[1:2] == ["run"] and len(sys.argv) == 5:
        run(*sys.argv[2:])
    elif sys.argv[1:2] == ["compare"] and len(sys.argv) >= 4:
        sys.exit(compare(sys.argv[2], sys.argv[3:]))
    else:
        sys.exit(__doc__)
