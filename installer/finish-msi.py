#!/usr/bin/env python3
"""Completes a package that wixl built, with what wixl cannot write, and checks it:
    finish-msi.py <package.msi> <folder of the packaged files> machine|user

- File.Version and File.Language of every PE file from its version resource (pe-version.py), and
  no MsiFileHash row for it: Windows Installer compares versioned files by version (a repair or an
  install over an older copy replaces the DLL) and keeps hashes for unversioned files only. A PE
  file without a version resource stops the build.
- short|long names in the File and Directory rows whose names are not 8.3 names (ICE03): used by
  Windows Installer where long names are not (SHORTFILENAMES, volumes without long names).
- INSTALLDIR and every property an AppSearch sets are secure properties, so that a per-machine
  install takes them from the command line and from the client side in a managed install.
- Refuses a package with SelfReg rows or a custom action besides the Excel check (the registry
  comes from Registry rows, no code of ours writes anything at install time), and a per-machine
  package with a row under
  HKEY_CURRENT_USER (ICE57: an uninstall as SYSTEM or by another administrator cannot clean it).
"""
import os
import re
import subprocess
import sys

HERE = os.path.dirname(os.path.abspath(__file__))


def fail(message):
    print(f"finish-msi.py: {message}", file=sys.stderr)
    sys.exit(1)


def rows(msi, table):
    """The rows of a table as lists of columns; empty when the table does not exist."""
    result = subprocess.run(["msiinfo", "export", msi, table], capture_output=True, text=True)
    if result.returncode != 0:
        return []
    return [line.split("\t") for line in result.stdout.splitlines()[3:] if line]


def sql(msi, statement):
    subprocess.run(["msibuild", msi, "-q", statement], check=True)


def quoted(text):
    return "'" + text.replace("'", "''") + "'"


EIGHT_DOT_THREE = re.compile(r"^[A-Z0-9_^$~!#%&{}@`'()-]{1,8}(\.[A-Z0-9_^$~!#%&{}@`'()-]{1,3})?$")


def short_name(long_name, taken):
    """NAME~N.EXT, unique among the short names of the same folder."""
    stem, dot, ext = long_name.rpartition(".")
    if not dot:
        stem, ext = long_name, ""
    clean = lambda s: re.sub(r"[^A-Z0-9_]", "", s.upper())
    stem, ext = clean(stem)[:6] or "FILE", clean(ext)[:3]
    for n in range(1, 10):
        candidate = f"{stem}~{n}" + (f".{ext}" if ext else "")
        if candidate not in taken:
            taken.add(candidate)
            return candidate
    fail(f"no free short name for {long_name}")


def main():
    if len(sys.argv) != 4 or sys.argv[3] not in ("machine", "user"):
        fail("usage: finish-msi.py <package.msi> <folder of the packaged files> machine|user")
    msi, stage, scope = sys.argv[1:]

    # Versions of the PE files.
    for file_key, _component, name, *_ in rows(msi, "File"):
        long_name = name.split("|")[-1]
        path = os.path.join(stage, long_name)
        with open(path, "rb") as f:
            is_pe = f.read(2) == b"MZ"
        if not is_pe:
            continue
        found = subprocess.run([sys.executable, os.path.join(HERE, "pe-version.py"), path],
                               capture_output=True, text=True)
        if found.returncode != 0:
            fail(f"{long_name} cannot be versioned: {found.stderr.strip()}")
        version, language = found.stdout.split()
        sql(msi, f"UPDATE `File` SET `Version` = {quoted(version)}, `Language` = {quoted(language)} "
                 f"WHERE `File` = {quoted(file_key)}")
        sql(msi, f"DELETE FROM `MsiFileHash` WHERE `File_` = {quoted(file_key)}")

    # Short names, unique per folder.
    taken = {}
    for file_key, component, name, *_ in rows(msi, "File"):
        if "|" in name or EIGHT_DOT_THREE.match(name):
            continue
        directory = next(c[2] for c in rows(msi, "Component") if c[0] == component)
        short = short_name(name, taken.setdefault(directory, set()))
        sql(msi, f"UPDATE `File` SET `FileName` = {quoted(short + '|' + name)} WHERE `File` = {quoted(file_key)}")
    for directory, parent, default_dir in rows(msi, "Directory"):
        target = default_dir.split(":")[0]
        if default_dir in (".", "SourceDir") or ":" in default_dir or "|" in target or EIGHT_DOT_THREE.match(target):
            continue
        short = short_name(target, taken.setdefault("dir:" + parent, set()))
        sql(msi, f"UPDATE `Directory` SET `DefaultDir` = {quoted(short + '|' + target)} "
                 f"WHERE `Directory` = {quoted(directory)}")

    # Secure properties: the install folder and whatever the searches find.
    secure = [r[1] for r in rows(msi, "Property") if r[0] == "SecureCustomProperties"]
    names = (secure[0].split(";") if secure else []) + ["INSTALLDIR"] + [r[0] for r in rows(msi, "AppSearch")]
    names = ";".join(dict.fromkeys(n for n in names if n))
    if secure:
        sql(msi, f"UPDATE `Property` SET `Value` = {quoted(names)} WHERE `Property` = 'SecureCustomProperties'")
    else:
        sql(msi, f"INSERT INTO `Property` (`Property`, `Value`) VALUES ('SecureCustomProperties', {quoted(names)})")

    # Expandable strings (REG_EXPAND_SZ, "#%" in the Registry table): wixl writes none, and
    # escapes a value spelled "#%..." in the source as the text "##%...". The event-log source's
    # message file is one, as the DLL's own registration writes it.
    for registry, _root, _key, name, value, *_ in rows(msi, "Registry"):
        if value.startswith("##%"):
            sql(msi, f"UPDATE `Registry` SET `Value` = {quoted(value[1:])} WHERE `Registry` = {quoted(registry)}")

    # The one custom action, the Excel check: an immediate call of a DLL from the Binary table whose
    # result is ignored (msidbCustomActionTypeDll | msidbCustomActionTypeContinue); wixl marks it
    # no-impersonate, which means nothing for an immediate action.
    sql(msi, "UPDATE `CustomAction` SET `Type` = 65 WHERE `Action` = 'FindRunningExcel'")

    # Checks.
    if rows(msi, "SelfReg"):
        fail("the package has SelfReg rows")
    actions = [(r[0], r[1]) for r in rows(msi, "CustomAction")]
    if actions != [("FindRunningExcel", "65")]:
        fail(f"the package's custom actions are {actions}, not the Excel check alone")
    if scope == "machine":
        hkcu = [r for r in rows(msi, "Registry") if r[1] == "1"]
        if hkcu:
            fail("the per-machine package has rows under HKEY_CURRENT_USER: " + ", ".join(r[0] for r in hkcu))
    else:
        machine = [r for r in rows(msi, "Registry") if r[1] not in ("1",)]
        if machine:
            fail("the per-user package has rows outside HKEY_CURRENT_USER: " + ", ".join(r[0] for r in machine))


main()
