"""Writes every generated stand-in model into --out.

Each gen_*.py module beside this file contributes the models of one area
through its generate(out_dir) function. The models are small, deterministic
and built so that tests can predict what the library does with their output.
"""
import argparse
import glob
import importlib
import os
import sys


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--out", required=True)
    args = parser.parse_args()
    os.makedirs(args.out, exist_ok=True)
    here = os.path.dirname(os.path.abspath(__file__))
    sys.path.insert(0, here)
    for path in sorted(glob.glob(os.path.join(here, "gen_*.py"))):
        module = importlib.import_module(os.path.splitext(os.path.basename(path))[0])
        module.generate(args.out)


if __name__ == "__main__":
    main()
