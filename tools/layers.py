#!/usr/bin/env python3
"""Draws the house from the code: which folder's code includes which, and
whether any include points up or across the layers.

Each folder stands on one layer; code may include only from layers below
its own. The program: app over editors over publish over the folders that
serve it (net, pages, qr, preview, machine, controls, tasks) over protocol over
text. The server: main() over its admin commands and the import over its
root library (the options, the one place that picks an engine) over the
connections (http) over the site's router over the site's rooms (the
endpoint's operations over what visitors reach over the files over the
policy over what they all share) over the storage engines over the rules
written once for them (sql) over the storage contract.

Usage: tools/layers.py [--draw]   exit 1 when an include goes against them.
"""
import pathlib
import re
import sys

ROOT = pathlib.Path(__file__).resolve().parent.parent

# Higher stands above; equal ranks may not include each other.
RANKS = {
    "text": 0,
    "protocol": 1,
    "net": 2, "pages": 2, "qr": 2, "preview": 2, "machine": 2, "controls": 2, "tasks": 2,
    "publish": 3,
    "editors": 4,
    "app": 5, "app/cli": 5,
    "server/storage": 10,
    "server/storage/sql": 11,
    "server/storage/sqlite": 12, "server/storage/postgres": 12,
    "server/site/common": 13,
    "server/site/policy": 14,
    "server/site/files": 15,
    "server/site/visitors": 16,
    "server/site/endpoint": 17,
    "server/site": 18,
    "server/http": 19,
    "server": 20,
    "server/admin": 21,
    "server/main": 22,
}
CODE = ("app", "controls", "editors", "machine", "net", "pages", "preview", "protocol",
        "publish", "qr", "server", "tasks", "text")
INCLUDE = re.compile(r'^\s*#\s*include\s+"([^"]+)"', re.M)


def layer_of(path: pathlib.PurePath) -> str:
    folder = str(path.parent)
    if folder == "server" and path.name == "main.cpp":
        return "server/main"
    return folder


def main() -> int:
    edges: dict[tuple[str, str], list[str]] = {}
    for top in CODE:
        for source in sorted((ROOT / top).rglob("*")):
            if source.suffix not in (".h", ".cpp") or "templates" in source.parts:
                continue
            relative = source.relative_to(ROOT)
            here = layer_of(relative)
            for included in INCLUDE.findall(source.read_text(encoding="utf-8")):
                target = pathlib.PurePath(included)
                if not (ROOT / target).exists():
                    continue  # generated, or not ours
                there = layer_of(target)
                if there != here:
                    edges.setdefault((here, there), []).append(f"{relative} -> {included}")
    wrong = []
    for (here, there), where in sorted(edges.items()):
        if here not in RANKS or there not in RANKS:
            wrong.append(f"{here} -> {there}: a folder with no layer ({where[0]})")
        elif RANKS[there] >= RANKS[here]:
            wrong.extend(f"{line}: {here} may not include {there}" for line in where)
    if "--draw" in sys.argv:
        for layer in sorted(set(RANKS), key=lambda name: (-RANKS[name], name)):
            below = sorted({there for (here, there) in edges if here == layer},
                           key=lambda name: (-RANKS.get(name, -1), name))
            print(f"{layer:26} -> {', '.join(below) if below else '(nothing of ours)'}")
    for line in wrong:
        print(line, file=sys.stderr)
    return 1 if wrong else 0


if __name__ == "__main__":
    sys.exit(main())
