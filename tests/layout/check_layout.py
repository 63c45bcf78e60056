#!/usr/bin/env python3
"""Checks the source tree's layout: includes only look down the layers, no
two units include each other, only platform/ names the system it runs on,
and no source file grows past 600 lines."""
import pathlib
import re
import sys

ROOT = pathlib.Path(__file__).resolve().parents[2]
# Each folder's layer; a unit includes its own folder or folders of lower
# layers. browse/ and saved/ stand side by side, apart; mpi/ stands on top:
# it builds on control/, and nothing builds on it.
LAYERS = {
    "platform": 0, "settings": 1, "console": 2, "scan": 3, "mft": 3.5, "report": 4,
    "browse": 5, "saved": 5, "control": 6, "tools": 7, "mpi": 8,
}
CODE = (".cpp", ".h", ".c")
SOURCE = CODE + (".py", ".js", ".css", ".sh")
MAX_LINES = 600
INCLUDE = re.compile(r'^\s*#\s*include\s+"([^"]+)"', re.M)


def code_files():
    for folder in LAYERS:
        yield from sorted(p for p in (ROOT / folder).rglob("*") if p.suffix in CODE)


def unit_of(path):
    relative = path.relative_to(ROOT).with_suffix("")
    return relative.as_posix()


def problems():
    includes = {}
    for path in code_files():
        unit = unit_of(path)
        for target in INCLUDE.findall(path.read_text(errors="replace")):
            folder = target.split("/")[0]
            if folder not in LAYERS:
                continue
            includes.setdefault(unit, set()).add(str(pathlib.PurePosixPath(target).with_suffix("")))
            own = unit.split("/")[0]
            if folder != own and LAYERS[folder] >= LAYERS[own]:
                yield f"{path.relative_to(ROOT)} includes {target}, which is not below {own}/"
        if path.parts[len(ROOT.parts)] != "platform" and "_WIN32" in path.read_text(errors="replace"):
            yield f"{path.relative_to(ROOT)} names _WIN32 outside platform/"
    for unit, targets in sorted(includes.items()):
        for target in sorted(targets):
            if target != unit and unit in includes.get(target, ()) and unit < target:
                yield f"{unit} and {target} include each other"
    for path in sorted(ROOT.rglob("*")):
        parts = path.relative_to(ROOT).parts
        if parts[0] in ("build", ".git", "doc") or path.suffix not in SOURCE or not path.is_file():
            continue
        lines = path.read_text(errors="replace").count("\n")
        if lines > MAX_LINES:
            yield f"{path.relative_to(ROOT)} has {lines} lines, more than {MAX_LINES}"


def main():
    found = list(problems())
    for problem in found:
        print(problem)
    return 1 if found else 0


if __name__ == "__main__":
    sys.exit(main())
