#!/usr/bin/env python3
"""Fails when a file under src/ includes a folder above its own: the layers, top to bottom, are
app, window, widgets, download, startup, model, platform, base."""
import pathlib
import re
import sys

LAYERS = ["app", "window", "widgets", "download", "startup", "model", "platform", "base"]
SRC = pathlib.Path(__file__).resolve().parent.parent / "src"
INCLUDE = re.compile(r'^\s*#\s*include\s+"([a-z_]+)/', re.M)


def main():
    faults = []
    for path in sorted(SRC.rglob("*")):
        if path.suffix not in (".cpp", ".h") or path.parent.parent != SRC:
            continue
        own = LAYERS.index(path.parent.name)
        for folder in INCLUDE.findall(path.read_text(encoding="utf-8")):
            if folder in LAYERS and LAYERS.index(folder) < own:
                faults.append(f"{path.relative_to(SRC)} includes {folder}/")
    for fault in faults:
        print("layers:", fault, file=sys.stderr)
    return 1 if faults else 0


if __name__ == "__main__":
    sys.exit(main())
