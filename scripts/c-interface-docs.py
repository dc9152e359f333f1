#!/usr/bin/env python3
"""Writes the C interface reference, docs/c-interface.md, from the comments of include/orba/orba.h.

Each /** ... */ comment documents the declaration that starts on the line after it, up to its
';' or '{'. A comment followed by anything else (a blank line, a preprocessor line, another
comment, the end) is a file or section comment, written as text.

  c-interface-docs.py HEADER OUTPUT           write OUTPUT
  c-interface-docs.py --check HEADER OUTPUT   fail when OUTPUT differs from what HEADER gives

Without HEADER there is nothing to document: the check passes and nothing is written.
"""
import re
import sys

TITLE = "# C interface reference\n\nGenerated from `include/orba/orba.h` by `scripts/c-interface-docs.py`; do not edit.\n"
COMMENT = re.compile(r"/\*\*(.*?)\*/", re.S)


def comment_text(raw):
    lines = []
    for line in raw.splitlines():
        line = line.strip()
        if line.startswith("*"):
            line = line[1:]
            if line.startswith(" "):
                line = line[1:]
        lines.append(line.rstrip())
    while lines and not lines[0]:
        lines.pop(0)
    while lines and not lines[-1]:
        lines.pop()
    return "\n".join(lines)


def declaration_after(text, start):
    lines = text[start:].split("\n")[1:]
    if not lines:
        return None
    first = lines[0].strip()
    if not first or first.startswith(("#", "/*", 'extern "C"', "}")):
        return None
    body = []
    for line in lines:
        body.append(line.strip() if not body else "    " + line.strip())
        joined = "\n".join(body)
        end = re.search(r"[;{]", joined)
        if end:
            declaration = joined[: end.start()].rstrip()
            return declaration + (" { ... }" if joined[end.start()] == "{" else ";")
    return None


def render(header_text):
    parts = [TITLE]
    for match in COMMENT.finditer(header_text):
        text = comment_text(match.group(1))
        declaration = declaration_after(header_text, match.end())
        if declaration is None:
            parts.append("\n" + text + "\n")
            continue
        name = re.search(r"(\w+)\s*(?:\(|\{ \.\.\.|;)", declaration)
        heading = name.group(1) if name else declaration.splitlines()[0]
        parts.append("\n## `%s`\n\n```c\n%s\n```\n\n%s\n" % (heading, declaration, text))
    return "".join(parts)


def main(argv):
    check = argv[1:2] == ["--check"]
    args = argv[2:] if check else argv[1:]
    if len(args) != 2:
        print(__doc__, file=sys.stderr)
        return 2
    header, output = args
    try:
        with open(header, encoding="utf-8") as f:
            expected = render(f.read())
    except FileNotFoundError:
        print("%s does not exist: nothing to document" % header)
        return 0
    if not check:
        with open(output, "w", encoding="utf-8") as f:
            f.write(expected)
        return 0
    try:
        with open(output, encoding="utf-8") as f:
            actual = f.read()
    except FileNotFoundError:
        actual = None
    if actual != expected:
        print("%s is out of date with %s; run scripts/c-interface-docs.py %s %s"
              % (output, header, header, output), file=sys.stderr)
        return 1
    print("%s matches %s" % (output, header))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
