#!/usr/bin/env python3
"""Holds Doxygen's warnings about the API reference to none.

  doxygen_warnings.py check WARNINGS_LOG      fail on any warning
  doxygen_warnings.py update WARNINGS_LOG     rewrite docs/undocumented.txt

Every warning fails, with one exception: a public name that was already
undocumented when the reference was first generated is listed in
docs/undocumented.txt (header, then Doxygen's words for it), and its
warning is let through. A name not in that list (a new function without its
comment, say) fails, and so does a listed one that is documented now, so the
list only ever shrinks: remove its line, or run `update`.
"""
import os
import re
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
LISTED = os.path.join(HERE, "undocumented.txt")
WARNING = re.compile(r"^(?P<file>[^:]+):(?P<line>\d+): warning: (?P<text>.*)$")


def undocumented(log):
    names, others = set(), []
    with open(log, encoding="utf-8") as f:
        for raw in f:
            line = raw.rstrip("\n")
            if not line.strip():
                continue
            m = WARNING.match(line)
            if m and m.group("text").endswith("is not documented."):
                names.add(f"{os.path.basename(m.group('file'))}: {m.group('text')}")
            elif m or not line.startswith(" "):
                others.append(line)
    return names, others


def main():
    if len(sys.argv) != 3 or sys.argv[1] not in ("check", "update"):
        sys.exit(__doc__)
    names, others = undocumented(sys.argv[2])
    for line in others:
        print(f"doxygen: {line}")
    if sys.argv[1] == "update":
        with open(LISTED, "w", encoding="utf-8") as f:
            f.write("# Public names without documentation, let through by docs/doxygen_warnings.py.\n"
                    "# Only ever remove lines: document the name instead of adding one.\n")
            f.writelines(f"{n}\n" for n in sorted(names))
        print(f"{len(names)} undocumented names listed in {LISTED}")
        return 1 if others else 0
    with open(LISTED, encoding="utf-8") as f:
        listed = {l.rstrip("\n") for l in f if l.strip() and not l.startswith("#")}
    new = sorted(names - listed)
    done = sorted(listed - names)
    for n in new:
        print(f"undocumented public name (give it a comment in its header): {n}")
    for n in done:
        print(f"documented now, remove its line from docs/undocumented.txt: {n}")
    if others or new or done:
        return 1
    print(f"API reference: no warnings ({len(listed)} names still undocumented, listed)")
    return 0


if __name__ == "__main__":
    sys.exit(main())
