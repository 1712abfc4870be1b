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
- The actions wixl places where it likes (it ignores After= for them) get their sequence numbers,
  and every position that matters is checked: the custom action right after AppSearch and before
  LaunchConditions in both sequences (a user sees the Excel warning before anything is installed,
  and the launch conditions see what it found); RemoveExistingProducts between InstallValidate
  and InstallInitialize (the old product goes before the new one is installed: a rebuild of the
  same version with another DLL replaces it, and an upgrade keeps its registration);
  ScheduleReboot after InstallFinalize, only when Excel holds the add-in.
- Component codes derived from the platform, the scope and the component's name, so that the
  32-bit and 64-bit packages of one scope share none.
- The properties the custom action sets are secure, so that a per-machine install's execute
  sequence gets what the user-interface sequence found.
- ARPINSTALLLOCATION set from INSTALLDIR after CostFinalize (wixl has no SetProperty).
- Refuses a package with SelfReg rows or a custom action besides the Excel check and that one (the registry
  comes from Registry rows, no code of ours writes anything at install time), and a per-machine
  package with a row under
  HKEY_CURRENT_USER (ICE57: an uninstall as SYSTEM or by another administrator cannot clean it).
"""
import os
import re
import subprocess
import sys
import uuid

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


# The namespace of the packages' component codes (a fixed, random UUID of this product's own).
COMPONENT_NAMESPACE = uuid.UUID("7d1c5a2e-4b8f-4e63-9a0d-2f6b8c31e954")


def summary_platform(msi):
    """The package's platform from its summary's Template ("x64;1033" -> "x64", "Intel;1033" -> "Intel")."""
    result = subprocess.run(["msiinfo", "suminfo", msi], capture_output=True, text=True, check=True)
    for line in result.stdout.splitlines():
        if line.startswith("Template:"):
            return line.split(":", 1)[1].strip().split(";")[0]
    fail("the package's summary has no Template (platform)")


# What the custom action (excel_check.c) sets for the package's conditions.
CUSTOM_ACTION_PROPERTIES = ["EXCELCHECKED", "EXCELRUNNING", "EXCELHOLDSADDIN", "OTHEROFFICE", "MACHINEINSTALL64VIEW"]


def sequence(msi, table):
    """Action -> sequence number."""
    return {r[0]: int(r[2]) for r in rows(msi, table) if len(r) >= 3 and r[2].lstrip("-").isdigit()}


def conditions(msi, table):
    return {r[0]: r[1] for r in rows(msi, table) if len(r) >= 3}


def check_sequences(msi):
    """The order the package relies on; a failure names the rule."""
    ui, execute = sequence(msi, "InstallUISequence"), sequence(msi, "InstallExecuteSequence")
    rules = [
        ("InstallUISequence", ui, "AppSearch", "FindRunningExcel", "the Excel check runs after AppSearch"),
        ("InstallUISequence", ui, "FindRunningExcel", "LaunchConditions",
         "the Excel check runs before the launch conditions, which read what it finds"),
        ("InstallUISequence", ui, "FindRunningExcel", "ExecuteAction",
         "the user sees the Excel warning before anything is installed"),
        ("InstallExecuteSequence", execute, "AppSearch", "FindRunningExcel", "the Excel check runs after AppSearch"),
        ("InstallExecuteSequence", execute, "FindRunningExcel", "LaunchConditions",
         "the Excel check runs before the launch conditions"),
        ("InstallExecuteSequence", execute, "InstallValidate", "RemoveExistingProducts",
         "the old product is removed after the install is validated"),
        ("InstallExecuteSequence", execute, "RemoveExistingProducts", "InstallInitialize",
         "the old product is removed before the new one is installed"),
        ("InstallExecuteSequence", execute, "InstallFinalize", "ScheduleReboot", "the restart is scheduled at the end"),
        ("InstallExecuteSequence", execute, "CostFinalize", "SetInstallLocation", "INSTALLDIR is resolved"),
        ("InstallExecuteSequence", execute, "SetInstallLocation", "RegisterProduct",
         "Add/Remove Programs gets the folder"),
    ]
    for table, seq, first, then, why in rules:
        if first not in seq or then not in seq:
            fail(f"{table} lacks {first if first not in seq else then}")
        if not seq[first] < seq[then]:
            fail(f"{table}: {first} ({seq[first]}) must come before {then} ({seq[then]}): {why}")
    if conditions(msi, "InstallExecuteSequence").get("FindRunningExcel") != "NOT EXCELCHECKED":
        fail("the Excel check in the execute sequence must run only when the user-interface sequence did not")
    if conditions(msi, "InstallExecuteSequence").get("ScheduleReboot") != "EXCELHOLDSADDIN":
        fail("a restart may be scheduled only when a running Excel holds the add-in")


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

    # Secure properties: the install folder, whatever the searches find, and what the custom
    # action finds.
    secure = [r[1] for r in rows(msi, "Property") if r[0] == "SecureCustomProperties"]
    names = ((secure[0].split(";") if secure else []) + ["INSTALLDIR"] + [r[0] for r in rows(msi, "AppSearch")]
             + CUSTOM_ACTION_PROPERTIES)
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

    # Component codes: one per component, bitness and scope. wixl derives a code from the
    # component's key path alone, so the 32-bit and 64-bit packages of a scope (same folder, same
    # keys) would share codes for components of different bitness, and Windows Installer would
    # count one's files and keys as the other's. Derived, not random: every build of a product
    # line keeps its codes.
    platform = summary_platform(msi)
    for component, code, *_ in rows(msi, "Component"):
        derived = "{" + str(uuid.uuid5(COMPONENT_NAMESPACE, f"{platform}/{scope}/{component}")).upper() + "}"
        sql(msi, f"UPDATE `Component` SET `ComponentId` = {quoted(derived)} WHERE `Component` = {quoted(component)}")

    # InstallLocation in Add/Remove Programs: ARPINSTALLLOCATION set from INSTALLDIR right after
    # CostFinalize resolved it (a property-setting action, msidbCustomActionTypeProperty |
    # msidbCustomActionTypeTextData = 51), in the execute sequence, where the product is registered.
    sql(msi, "INSERT INTO `CustomAction` (`Action`, `Type`, `Source`, `Target`) "
             "VALUES ('SetInstallLocation', 51, 'ARPINSTALLLOCATION', '[INSTALLDIR]')")
    seq = sequence(msi, "InstallExecuteSequence")
    sql(msi, "INSERT INTO `InstallExecuteSequence` (`Action`, `Sequence`) "
             f"VALUES ('SetInstallLocation', {seq['CostFinalize'] + 1})")

    # Sequence numbers.
    for table in ("InstallUISequence", "InstallExecuteSequence"):
        seq = sequence(msi, table)
        sql(msi, f"UPDATE `{table}` SET `Sequence` = {seq['AppSearch'] + 1} WHERE `Action` = 'FindRunningExcel'")
    seq = sequence(msi, "InstallExecuteSequence")
    sql(msi, f"UPDATE `InstallExecuteSequence` SET `Sequence` = {seq['InstallValidate'] + 1} "
             "WHERE `Action` = 'RemoveExistingProducts'")
    sql(msi, f"UPDATE `InstallExecuteSequence` SET `Sequence` = {seq['InstallFinalize'] + 1} "
             "WHERE `Action` = 'ScheduleReboot'")

    # Checks.
    check_sequences(msi)
    if rows(msi, "SelfReg"):
        fail("the package has SelfReg rows")
    actions = sorted((r[0], r[1]) for r in rows(msi, "CustomAction"))
    if actions != [("FindRunningExcel", "65"), ("SetInstallLocation", "51")]:
        fail(f"the package's custom actions are {actions}, not the Excel check and the install location alone")
    if scope == "machine":
        hkcu = [r for r in rows(msi, "Registry") if r[1] == "1"]
        if hkcu:
            fail("the per-machine package has rows under HKEY_CURRENT_USER: " + ", ".join(r[0] for r in hkcu))
    else:
        machine = [r for r in rows(msi, "Registry") if r[1] not in ("1",)]
        if machine:
            fail("the per-user package has rows outside HKEY_CURRENT_USER: " + ", ".join(r[0] for r in machine))


main()
