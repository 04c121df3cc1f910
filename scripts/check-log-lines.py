#!/usr/bin/env python3
"""Compares the log lines that a guide lists with the texts the code writes.

    python3 scripts/check-log-lines.py [ROOT]

For each log, every text that the code can hand to one of the log's writers
must be listed in its guide, and every line the guide lists must be such a
text. Exit code 0 when both agree, 1 with the differences otherwise.

What counts as a text the code writes: the string literals passed to a
writer, adjacent literals joined; a named constant initialised with literals;
a member of a record whose initialisers hold literals (a table of lines);
a buffer filled by sprintf_s from a literal format. A function that passes
its own "const char*" parameter on to a writer becomes a writer itself.

What counts as a listed line: inside the guide's block between
"<!-- log-lines: NAME -->" and "<!-- end log-lines -->", the code span that
opens each table row. It is written as the program writes it, without the
closing line break, "|" escaped as "\\|", and every printf field shown as a
placeholder in angle brackets (<status>, <retries>...): any placeholder
stands for any field.
"""

import os
import re
import sys

LOGS = [
    # (name, guide, source folders, writers to start from)
    ("Kelvane.log", "docs/user-guide.md", ["Kelvane", "common"], {"WriteLog", "WriteLogFormat"}),
    ("KelvaneSetup.log", "docs/deployment.md", ["KvInstallAction", "common"],
     {"WriteSetupLog", "WriteSetupLogCopy"}),
]

KEYWORDS = {"if", "for", "while", "switch", "catch", "return", "sizeof", "else", "do"}
PRINTF_FIELD = re.compile(r"%[-+ #0]*(?:\d+|\*)?(?:\.\d+)?(?:hh|h|ll|l|L|z|j|t|I64|I32)?[diouxXcsp]")
STRING = re.compile(r'(?<![\w"])(L|u8|u|U)?"((?:[^"\\\n]|\\.)*)"')
ESCAPES = {"n": "\n", "t": "\t", "r": "\r", "\\": "\\", '"': '"', "'": "'", "0": "\0", "a": "\a"}


def unescape(body):
    out, i = [], 0
    while i < len(body):
        c = body[i]
        if c == "\\" and i + 1 < len(body):
            n = body[i + 1]
            if n == "x":
                digits = re.match(r"[0-9a-fA-F]+", body[i + 2:]).group(0)
                out.append(chr(int(digits, 16)))
                i += 2 + len(digits)
                continue
            out.append(ESCAPES.get(n, n))
            i += 2
            continue
        out.append(c)
        i += 1
    return "".join(out)


def strip_comments(text):
    """Blanks out comments, keeping string literals and offsets as they are."""
    out, i, n = [], 0, len(text)
    while i < n:
        if text.startswith("//", i):
            end = text.find("\n", i)
            end = n if end < 0 else end
            out.append(" " * (end - i))
            i = end
        elif text.startswith("/*", i):
            end = text.find("*/", i + 2)
            end = n if end < 0 else end + 2
            out.append(re.sub(r"[^\n]", " ", text[i:end]))
            i = end
        elif text[i] in "\"'":
            quote, j = text[i], i + 1
            while j < n and text[j] != quote:
                j += 2 if text[j] == "\\" else 1
            out.append(text[i:j + 1])
            i = j + 1
        else:
            out.append(text[i])
            i += 1
    return "".join(out)


def literal_runs(expression):
    """The narrow texts in an expression: each run of adjacent literals joined."""
    runs, current, last_end = [], None, None
    for match in STRING.finditer(expression):
        wide = match.group(1) not in (None, "u8")
        adjacent = last_end is not None and expression[last_end:match.start()].strip() == ""
        if wide:
            current = None
        elif current is not None and adjacent:
            current += unescape(match.group(2))
            runs[-1] = current
        else:
            current = unescape(match.group(2))
            runs.append(current)
        last_end = match.end()
    return runs


def call_arguments(text, open_paren):
    """The top-level arguments of the call whose "(" is at open_paren."""
    args, depth, start, i = [], 0, open_paren + 1, open_paren
    while i < len(text):
        c = text[i]
        if c in "\"'":
            j = i + 1
            while j < len(text) and text[j] != c:
                j += 2 if text[j] == "\\" else 1
            i = j
        elif c in "([{":
            depth += 1
        elif c in ")]}":
            depth -= 1
            if depth == 0:
                args.append(text[start:i])
                return args
        elif c == "," and depth == 1:
            args.append(text[start:i])
            start = i + 1
        i += 1
    return args


def enclosing_function(text, position):
    """(name, body start, body end) of the function whose body holds position."""
    best = (None, 0, len(text))
    pattern = re.compile(r"\b(\w+)\s*\([^;{}]*\)\s*(?:const\s*)?(?:noexcept\s*)?\{")
    for match in pattern.finditer(text, 0, position):
        if match.group(1) in KEYWORDS:
            continue
        depth, i = 0, match.end() - 1
        while i < len(text):
            if text[i] == "{":
                depth += 1
            elif text[i] == "}":
                depth -= 1
                if depth == 0:
                    break
            i += 1
        if match.end() <= position <= i:
            best = (match.group(1), match.end(), i)
    return best


class Sources:
    def __init__(self, root, folders):
        self.files = {}
        for folder in folders:
            for base, _, names in os.walk(os.path.join(root, folder)):
                for name in names:
                    if name.endswith((".cpp", ".h")):
                        path = os.path.join(base, name)
                        with open(path, encoding="utf-8") as f:
                            self.files[os.path.relpath(path, root)] = strip_comments(f.read())

    def in_order(self, preferred):
        """All files, the one named first."""
        yield preferred, self.files[preferred]
        for path, text in self.files.items():
            if path != preferred:
                yield path, text

    def constant(self, name, preferred):
        pattern = re.compile(r"\b" + re.escape(name) + r"\s*(?:\[\s*\])?\s*=\s*((?:(?:L|u8)?\"(?:[^\"\\\n]|\\.)*\"\s*)+)")
        for _, text in self.in_order(preferred):
            match = pattern.search(text)
            if match:
                return literal_runs(match.group(1))
        return None

    def formatted_into(self, name, path, where):
        """Formats of the sprintf_s calls that fill the buffer name in the function at where."""
        text, found = self.files[path], []
        _, start, end = enclosing_function(text, where)
        for match in re.finditer(r"\bv?sprintf_s\s*\(\s*" + re.escape(name) + r"\s*,", text[:end]):
            if match.start() < start:
                continue
            args = call_arguments(text, text.index("(", match.start()))
            if len(args) >= 3:
                found.append(args[2].strip())
        return found

    def record_field(self, field):
        """Literals in the initialisers of the records that declare field as a text."""
        texts = []
        declares = re.compile(r"\bstruct\s+(\w+)\s*\{[^}]*\bconst\s+char\s*\*\s*" + re.escape(field) + r"\s*;")
        for _, text in self.files.items():
            for record in declares.finditer(text):
                initialiser = re.compile(r"\b" + record.group(1) + r"\b(?:\s+\w+)?(?:\s*\[\s*\w*\s*\])?\s*(?:=\s*)?\{")
                for _, other in self.files.items():
                    for start in initialiser.finditer(other):
                        args = call_arguments(other, start.end() - 1)
                        texts += [t for arg in args for t in literal_runs(arg)]
        return texts

    def is_parameter(self, name, path):
        return re.search(r"\bconst\s+char\s*\*\s*" + re.escape(name) + r"\s*[,)]", self.files[path]) is not None


def resolve(sources, expression, path, writers, problems, where):
    """Texts an argument expression can carry; may add writers."""
    expression = expression.strip()
    runs = literal_runs(expression)
    if runs:
        return runs
    member = re.fullmatch(r"\w+\s*(?:\.|->)\s*(\w+)", expression)
    if member:
        texts = sources.record_field(member.group(1))
        if texts:
            return texts
    elif re.fullmatch(r"\w+", expression):
        texts = sources.constant(expression, path)
        if texts:
            return texts
        formats = sources.formatted_into(expression, path, where)
        if formats:
            return [t for f in formats for t in resolve(sources, f, path, writers, problems, where)]
        if sources.is_parameter(expression, path):
            function = enclosing_function(sources.files[path], where)[0]
            if function and function not in writers:
                writers.add(function)
            return []
    problems.append("%s: cannot tell what %r writes; pass a literal or a named constant"
                    % (path, expression))
    return []


def code_texts(sources, start_writers):
    writers = set(start_writers)
    while True:
        known, texts, problems = set(writers), set(), []
        for path, text in sources.files.items():
            for match in re.finditer(r"\b(\w+)\s*\(", text):
                if match.group(1) not in known:
                    continue
                before = text[:match.start()].rstrip()
                # Declarations and definitions of the writers themselves.
                if re.search(r"(?:\bint|\bvoid|\bbool|\bBOOL|\bHRESULT|\bUINT)$", before):
                    continue
                args = call_arguments(text, match.end() - 1)
                if args and args[0].strip():
                    texts.update(resolve(sources, args[0], path, writers, problems, match.start()))
        if writers == known:
            return texts, problems


def canonical(line):
    return re.sub(r"<[^<>]+>", "<>", line)


def code_line(text):
    text = text[:-1] if text.endswith("\n") else text
    return canonical(PRINTF_FIELD.sub("<>", text).replace("%%", "%"))


def guide_lines(path, name):
    with open(path, encoding="utf-8") as f:
        guide = f.read()
    block = re.search(r"<!-- log-lines: " + re.escape(name) + r" -->(.*?)<!-- end log-lines -->", guide, re.S)
    if not block:
        return None
    lines = set()
    for row in block.group(1).splitlines():
        cell = re.match(r"\|\s*`((?:[^`\\]|\\.)*)`", row.strip())
        if cell:
            lines.add(canonical(cell.group(1).replace("\\|", "|")))
    return lines


def main():
    root = sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(os.path.abspath(__file__)), "..")
    failed = False
    for name, guide, folders, writers in LOGS:
        texts, problems = code_texts(Sources(root, folders), writers)
        in_code = {code_line(t) for t in texts}
        listed = guide_lines(os.path.join(root, guide), name)
        if listed is None:
            print("%s: no block <!-- log-lines: %s --> ... <!-- end log-lines -->" % (guide, name))
            failed = True
            continue
        for problem in problems:
            print(problem)
        missing = sorted(in_code - listed)
        unknown = sorted(listed - in_code)
        for line in missing:
            print("%s: %s writes a line that the guide does not list: %s" % (guide, name, line))
        for line in unknown:
            print("%s: lists a line that no code writes to %s: %s" % (guide, name, line))
        print("%s: %d lines in the code, %d in %s" % (name, len(in_code), len(listed), guide))
        failed = failed or bool(problems or missing or unknown)
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
