#!/usr/bin/env python3
"""Doxygen input filter: the headers' plain comments, read as documentation.

The public headers are commented for a reader of the header, with // and
/* */ as any C++ or C code is; Doxygen takes only ///, //!, /** and /*! as
documentation. This filter, run by Doxygen on every header it reads (the
headers stay as they are), turns:
  - the comment block that opens a file into the file's documentation;
  - a comment block right above a declaration into that declaration's;
  - a comment after a declaration on the same line into that declaration's
    (///<), except a bare number;
  - a C comment (/* */) that starts a line into the documentation of what
    follows, and one after a declaration (or an enum's last value) into
    that declaration's.
Comment lines that only draw a rule (// -----, /* ---- Links ---- */) stay
plain comments.
"""
import re
import sys

LINE = re.compile(r"^(\s*)//(?![/!])\s?(.*)$")
TRAILING = re.compile(r"^(?P<code>.*?[;,{})]\s*|\s*[A-Za-z_][\w:]*\s*=\s*[^/]*?)\s*//(?![/!])\s?(?P<text>.*)$")
C_BLOCK = re.compile(r"^(\s*)/\*(?![*!])")
# After a declaration, or after an enum's last value (no comma follows it).
C_TRAILING = re.compile(r"^(?P<code>.*?[;,]\s*|\s*[A-Za-z_]\w*\s*=\s*[^/]*?\s*)/\*(?![*!])\s?(?P<text>.*?)\s*\*/\s*$")
RULE = re.compile(r"^[-=*#\s]*$")
C_RULE = re.compile(r"^\s*/\*\s*-{2,}.*-{2,}\s*\*/\s*$")  # /* ---- Links ---- */: a heading, not a comment on what follows
SLOT = re.compile(r"^\d+$")
DEFINE_TRAILING = re.compile(r"^(?P<code>\s*#\s*define\s.*?)\s*//(?![/!])\s?(?P<text>.*)$")
OPENS_WITH_CLASS = re.compile(r"^(C[A-Z]\w+|bplink::[A-Z]\w+)\b:")


def main():
    text = open(sys.argv[1], encoding="utf-8").read().split("\n")
    out = []
    opening = True  # still in the file's first comment block
    for line in text:
        m = LINE.match(line)
        if m:
            indent, body = m.groups()
            if RULE.match(body) and body.strip():
                out.append(line)
            elif opening and not out:
                # The first line: the file's documentation, or the class's
                # when it opens with the class's name ("CDevice: ...").
                named = OPENS_WITH_CLASS.match(body)
                command = f"\\class {named.group(1)}" if named else "\\file"
                out.append(f"{indent}/// {body} {command}")
            else:
                out.append(f"{indent}/// {body}")
            continue
        c = C_BLOCK.match(line)
        if c and not C_RULE.match(line):
            out.append(line.replace("/*", "/*!", 1) + (" \\file" if opening and not out else ""))
            continue
        if opening and line.strip() and not line.lstrip().startswith("*"):
            opening = False
        d = DEFINE_TRAILING.match(line)
        if d:
            out.append(f"{d.group('code')}  ///< {d.group('text')}")
            continue
        t = TRAILING.match(line)
        directive = t and t.group("code").lstrip().startswith("#") and not t.group("code").lstrip().startswith("#define")
        if t and not directive and not SLOT.match(t.group("text").strip()):
            out.append(f"{t.group('code')} ///< {t.group('text')}")
            continue
        ct = C_TRAILING.match(line)
        if ct and not ct.group("code").lstrip().startswith("#"):
            out.append(f"{ct.group('code')} /*!< {ct.group('text')} */")
            continue
        out.append(line)
    sys.stdout.write("\n".join(out))


if __name__ == "__main__":
    main()
