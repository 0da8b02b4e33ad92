"""Broken model files: one that is not ONNX at all."""
import os


def generate(out_dir):
    broken = os.path.join(out_dir, "broken")
    os.makedirs(broken, exist_ok=True)
    with open(os.path.join(broken, "not_onnx.onnx"), "wb") as f:
        f.write(b"this is not an onnx model\n")
