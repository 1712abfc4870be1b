#!/usr/bin/env python3
"""Every COM method this project declares itself carries the COM calling convention.

A COM interface of our own (Office's interfaces in src/com/office.h, Excel's event sink, the
stand-in's interfaces) is a class deriving from IUnknown whose methods are pure virtual. On x86_64
there is one calling convention and a missing STDMETHODCALLTYPE changes nothing; on i686 the
method becomes __thiscall, so Office's first call through it corrupts the stack. The compiler
catches an implementation that differs from its declaration, never a declaration that lacks the
convention on both sides, and no 64-bit test can see it: this check reads the declarations.

    check-com-calls.py [--expect FILE] FOLDER...

Prints each pure virtual method of a COM-derived class without the convention as
"path:line: Class::Method" and exits 1 when there is any. With --expect, the findings must be
exactly the lines of FILE (paths relative to the folder given), which tests the check itself.
"""
import os
import re
import sys

CONVENTION = re.compile(r"\bSTDMETHODCALLTYPE\b|\b__stdcall\b|\bSTDMETHOD_?\s*\(|\bWINAPI\b|\bSTDAPICALLTYPE\b")
CLASS_HEAD = re.compile(r"\b(?:class|struct)\s+(?:__declspec\s*\([^)]*\)\s*)?(\w+)\s*(?:final\s*)?(?::([^{;]*))?\{")
COM_ROOTS = {"IUnknown", "IDispatch"}


def strip_comments_and_strings(text):
    """Comments and literals become spaces; newlines stay, so that line numbers hold."""
    pattern = re.compile(r'//[^\n]*|/\*.*?\*/|"(?:\\.|[^"\\\n])*"|\'(?:\\.|[^\'\\\n])*\'', re.S)
    return pattern.sub(lambda m: re.sub(r"[^\n]", " ", m.group(0)), text)


def base_names(bases):
    """The outer names of a base list: template arguments and access words dropped."""
    depth, outer = 0, []
    for ch in bases or "":
        depth += ch == "<"
        if depth == 0:
            outer.append(ch)
        depth -= ch == ">" and depth > 0
    names = []
    for part in "".join(outer).split(","):
        words = [w for w in re.findall(r"[\w:]+", part) if w not in ("public", "protected", "private", "virtual")]
        if words:
            names.append(words[-1].split("::")[-1])
    return names


def body_end(text, open_brace):
    depth = 0
    for i in range(open_brace, len(text)):
        if text[i] == "{":
            depth += 1
        elif text[i] == "}":
            depth -= 1
            if depth == 0:
                return i
    return len(text)


def members(text, start, end):
    """The member declarations directly inside a class body (nested bodies skipped)."""
    depth, begin = 0, start
    for i in range(start, end):
        ch = text[i]
        if ch == "{":
            if depth == 0:
                yield begin, text[begin:i]
            depth += 1
        elif ch == "}":
            depth -= 1
            if depth == 0:
                begin = i + 1
        elif depth == 0 and ch in ";:" and (ch == ";" or text[begin:i].strip() in ("public", "protected", "private")):
            if ch == ";":
                yield begin, text[begin:i]
            begin = i + 1


def scan(folders):
    classes = {}  # name -> (bases, [(path, line, method, has convention)])
    for folder in folders:
        for root, dirs, files in os.walk(folder):
            # Test data (the planted faults of the check's own fixture) is not code of ours.
            dirs[:] = sorted(d for d in dirs if d != "fixtures")
            for name in sorted(files):
                if not name.endswith((".h", ".hpp", ".cpp")):
                    continue
                path = os.path.join(root, name)
                with open(path, encoding="utf-8", errors="replace") as f:
                    text = strip_comments_and_strings(f.read())
                for head in CLASS_HEAD.finditer(text):
                    open_brace = head.end() - 1
                    methods = []
                    for at, decl in members(text, open_brace + 1, body_end(text, open_brace)):
                        flat = " ".join(decl.split())
                        if not re.search(r"\bvirtual\b", flat) or not re.search(r"=\s*0$", flat):
                            continue
                        called = re.search(r"(~?\w+)\s*\(", CONVENTION.sub(" ", flat))
                        line = text.count("\n", 0, at + len(decl) - len(decl.lstrip())) + 1
                        methods.append((path, line, called.group(1) if called else flat,
                                        bool(CONVENTION.search(flat))))
                    entry = classes.setdefault(head.group(1), ([], []))
                    entry[0].extend(base_names(head.group(2)))
                    entry[1].extend(methods)
    return classes


def is_com(name, classes, seen=()):
    if name in COM_ROOTS:
        return True
    if name not in classes:  # an interface of the system's headers
        return bool(re.match(r"I[A-Z]", name))
    if name in seen:
        return False
    return any(is_com(b, classes, seen + (name,)) for b in classes[name][0])


def findings(folders):
    classes = scan(folders)
    out = []
    for name, (bases, methods) in sorted(classes.items()):
        if not any(is_com(b, classes, (name,)) for b in bases):
            continue
        for path, line, method, ok in methods:
            if not ok and not method.startswith("~"):
                out.append((path, line, f"{name}::{method}"))
    return sorted(out)


def main(argv):
    expect = None
    if len(argv) > 2 and argv[1] == "--expect":
        expect, argv = argv[2], argv[:1] + argv[3:]
    folders = argv[1:]
    if not folders:
        print(__doc__, file=sys.stderr)
        return 2
    found = findings(folders)
    if expect is not None:
        with open(expect, encoding="utf-8") as f:
            wanted = sorted(line.strip() for line in f if line.strip() and not line.startswith("#"))
        got = sorted(f"{os.path.relpath(p, folders[0])}:{line}: {what}" for p, line, what in found)
        if got == wanted:
            print(f"check-com-calls: the {len(wanted)} planted declarations without the convention are found, nothing else")
            return 0
        print("check-com-calls: findings differ from the expected ones", file=sys.stderr)
        print("  expected:\n    " + "\n    ".join(wanted), file=sys.stderr)
        print("  found:\n    " + "\n    ".join(got), file=sys.stderr)
        return 1
    for path, line, what in found:
        print(f"{path}:{line}: {what} is a COM method without STDMETHODCALLTYPE (on i686 Office's call corrupts the stack)")
    if found:
        return 1
    print("check-com-calls: every COM method declared in " + ", ".join(folders) + " carries the COM calling convention")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
