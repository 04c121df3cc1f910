#!/usr/bin/env python3
"""Checks Kelvane.msi against the Internal Consistency Evaluators (ICE rules)
that concern it, as Windows Installer's own validation would, read with
msiinfo. Each rule is one function over the exported tables; one line per
rule, "ok" or "FAIL" with what broke it. Exit code 1 when a rule fails.

Usage: ice_check.py PACKAGE.msi [PROGRAM-FOLDER]
  PROGRAM-FOLDER holds the packed programs: the File table's versions and
  languages are then compared with each program's version resource.
"""
import os
import re
import struct
import subprocess
import sys
from concurrent.futures import ThreadPoolExecutor


def export(package, table):
    text = subprocess.run(["msiinfo", "export", package, table], check=True, capture_output=True,
                          text=True, encoding="utf-8", errors="replace").stdout.replace("\r", "")
    lines = text.split("\n")
    columns, types = lines[0].split("\t"), lines[1].split("\t")
    rows = [dict(zip(columns, line.split("\t"))) for line in lines[3:] if line]
    return {"columns": columns, "types": types, "keys": lines[2].split("\t")[1:], "rows": rows}


def read_package(package):
    names = subprocess.run(["msiinfo", "tables", package], check=True, capture_output=True,
                           text=True).stdout.split()
    names = [name for name in names if not name.startswith("_")]
    # One msiinfo per table: several at once keep the test command's run short.
    with ThreadPoolExecutor(max_workers=8) as pool:
        return dict(zip(names, pool.map(lambda name: export(package, name), names)))


def rows(db, table):
    return db[table]["rows"] if table in db else []


def prop(db, name):
    return next((r["Value"] for r in rows(db, "Property") if r["Property"] == name), "")


def sequence(db, table="InstallExecuteSequence"):
    return {r["Action"]: int(r["Sequence"]) for r in rows(db, table) if r["Sequence"] not in ("", "-")}


GUID = re.compile(r"^\{[0-9A-F]{8}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{12}\}$")
IDENTIFIER = re.compile(r"^[A-Za-z_][A-Za-z0-9_.]*$")


def is_version(text, limits=(65535, 65535, 65535, 65535)):
    parts = text.split(".")
    return (1 <= len(parts) <= len(limits) and all(p.isdigit() for p in parts)
            and all(int(p) <= limit for p, limit in zip(parts, limits)))


# Value categories of the columns this package uses (the _Validation
# table's Category, which wixl does not write).
CATEGORIES = {
    ("Property", "Property"): "Identifier", ("Component", "Component"): "Identifier",
    ("Component", "ComponentId"): "Guid", ("Component", "Directory_"): "Identifier",
    ("File", "File"): "Identifier", ("File", "Language"): "Language",
    ("Directory", "Directory"): "Identifier", ("Feature", "Feature"): "Identifier",
    ("CustomAction", "Action"): "Identifier", ("Upgrade", "UpgradeCode"): "Guid",
    ("Upgrade", "VersionMin"): "Version", ("Upgrade", "VersionMax"): "Version",
    ("Upgrade", "ActionProperty"): "UpperCase", ("InstallExecuteSequence", "Action"): "Identifier",
    ("InstallUISequence", "Action"): "Identifier", ("Binary", "Name"): "Identifier",
}
CATEGORY_TESTS = {
    "Identifier": IDENTIFIER.match, "Guid": GUID.match, "Version": is_version,
    "Language": lambda v: all(p.isdigit() and int(p) <= 65535 for p in v.split(",")),
    "UpperCase": lambda v: IDENTIFIER.match(v) and v == v.upper(),
}
# Foreign keys: (table, column) -> the table whose key it names.
REFERENCES = {
    ("File", "Component_"): "Component", ("Component", "Directory_"): "Directory",
    ("Directory", "Directory_Parent"): "Directory", ("FeatureComponents", "Feature_"): "Feature",
    ("FeatureComponents", "Component_"): "Component", ("CreateFolder", "Directory_"): "Directory",
    ("CreateFolder", "Component_"): "Component", ("RemoveFile", "Component_"): "Component",
    ("Registry", "Component_"): "Component", ("Shortcut", "Component_"): "Component",
    ("Shortcut", "Directory_"): "Directory", ("MsiFileHash", "File_"): "File",
}


def ice03(db):
    """Column data: nullability, width and range, category, foreign keys."""
    found = []
    for name, table in db.items():
        for column, kind in zip(table["columns"], table["types"]):
            nullable, width = kind[0].isupper(), int(kind[1:] or 0)
            for row in table["rows"]:
                value = row.get(column, "")
                where = f"{name}.{column} of {row[table['columns'][0]]!r}"
                if value == "":
                    if not nullable:
                        found.append(f"{where}: empty in a non-nullable column")
                    continue
                if kind[0] in "iI":
                    if not re.match(r"^-?\d+$", value) or abs(int(value)) > (32767 if width == 2 else 2**31 - 1):
                        found.append(f"{where}: {value!r} is not an i{width}")
                elif kind[0] in "sSlL" and width and len(value) > width:
                    found.append(f"{where}: {len(value)} characters, more than {width}")
                category = CATEGORIES.get((name, column))
                if category and not CATEGORY_TESTS[category](value):
                    found.append(f"{where}: {value!r} is not a valid {category}")
                target = REFERENCES.get((name, column))
                if target:
                    keys = {r[db[target]["keys"][0]] for r in rows(db, target)} if target in db else set()
                    if value not in keys:
                        found.append(f"{where}: {value!r} is not in {target}")
    return found


# The columns each standard table must have, in order (Windows Installer's
# database reference).
SCHEMA = {
    "File": "File Component_ FileName FileSize Version Language Attributes Sequence",
    "Component": "Component ComponentId Directory_ Attributes Condition KeyPath",
    "Directory": "Directory Directory_Parent DefaultDir",
    "Feature": "Feature Feature_Parent Title Description Display Level Directory_ Attributes",
    "FeatureComponents": "Feature_ Component_",
    "CustomAction": "Action Type Source Target",
    "InstallExecuteSequence": "Action Condition Sequence",
    "InstallUISequence": "Action Condition Sequence",
    "AdminExecuteSequence": "Action Condition Sequence",
    "AdvtExecuteSequence": "Action Condition Sequence",
    "Property": "Property Value",
    "Upgrade": "UpgradeCode VersionMin VersionMax Language Attributes Remove ActionProperty",
    "Media": "DiskId LastSequence DiskPrompt Cabinet VolumeLabel Source",
    "MsiFileHash": "File_ Options HashPart1 HashPart2 HashPart3 HashPart4",
    "RemoveFile": "FileKey Component_ FileName DirProperty InstallMode",
    "CreateFolder": "Directory_ Component_",
    "Registry": "Registry Root Key Name Value Component_",
    "Binary": "Name Data",
    "Icon": "Name Data",
    "LaunchCondition": "Condition Description",
}


def ice06(db):
    """Missing columns: every standard table has its documented columns."""
    found = []
    for name, expected in SCHEMA.items():
        if name in db:
            missing = [c for c in expected.split() if c not in db[name]["columns"]]
            if missing:
                found.append(f"{name} lacks the column(s) {' '.join(missing)}")
    for name in ("File", "Component", "Directory", "Feature", "Property", "InstallExecuteSequence"):
        if name not in db:
            found.append(f"no {name} table")
    return found


def ice24(db):
    """ProductCode, ProductVersion and ProductLanguage."""
    found = []
    if not GUID.match(prop(db, "ProductCode")):
        found.append(f"ProductCode {prop(db, 'ProductCode')!r} is not an upper-case GUID")
    if not is_version(prop(db, "ProductVersion"), (255, 255, 65535, 65535)):
        found.append(f"ProductVersion {prop(db, 'ProductVersion')!r} is not major.minor.build (255.255.65535)")
    language = prop(db, "ProductLanguage")
    if not language.isdigit() or int(language) > 65535:
        found.append(f"ProductLanguage {language!r} is not a numeric language identifier")
    return found


# Standard actions in the order the execute sequence must keep, and those
# that only the script between InstallInitialize and InstallFinalize runs.
ORDER = ["FindRelatedProducts", "LaunchConditions", "CostInitialize", "FileCost", "CostFinalize",
         "InstallValidate", "InstallInitialize", "InstallFinalize"]
IN_SCRIPT = ["ProcessComponents", "UnpublishFeatures", "RemoveFiles", "RemoveFolders", "CreateFolders",
             "InstallFiles", "RegisterUser", "RegisterProduct", "PublishFeatures", "PublishProduct",
             "WriteRegistryValues", "RemoveRegistryValues", "CreateShortcuts", "RemoveShortcuts"]
COSTED = ["MigrateFeatureStates"]


def ice27(db):
    """Sequence order: the standard actions' order and sections."""
    found = []
    for table in ("InstallExecuteSequence", "AdminExecuteSequence", "AdvtExecuteSequence"):
        seq = sequence(db, table)
        present = [a for a in ORDER if a in seq]
        for earlier, later in zip(present, present[1:]):
            if seq[earlier] >= seq[later]:
                found.append(f"{table}: {earlier} ({seq[earlier]}) is not before {later} ({seq[later]})")
        if "InstallInitialize" in seq and "InstallFinalize" in seq:
            for action in IN_SCRIPT:
                if action in seq and not seq["InstallInitialize"] < seq[action] < seq["InstallFinalize"]:
                    found.append(f"{table}: {action} ({seq[action]}) is outside InstallInitialize..InstallFinalize")
        if "CostFinalize" in seq:
            for action in COSTED:
                if action in seq and seq[action] <= seq["CostFinalize"]:
                    found.append(f"{table}: {action} ({seq[action]}) comes before CostFinalize")
        if "RemoveFiles" in seq and "InstallFiles" in seq and seq["RemoveFiles"] >= seq["InstallFiles"]:
            found.append(f"{table}: RemoveFiles is not before InstallFiles")
    return found


# Folders in the user's profile (per user even in a per-machine package).
PROFILE_FOLDERS = {"AppDataFolder", "LocalAppDataFolder", "PersonalFolder", "DesktopFolder", "FavoritesFolder",
                   "MyPicturesFolder", "NetHoodFolder", "PrintHoodFolder", "RecentFolder", "SendToFolder",
                   "TemplateFolder"}
# Per user only when ALLUSERS is not 1.
SHELL_FOLDERS = {"ProgramMenuFolder", "StartMenuFolder", "StartupFolder"}


def profile_directories(db):
    parents = {r["Directory"]: r["Directory_Parent"] for r in rows(db, "Directory")}
    user = PROFILE_FOLDERS | (SHELL_FOLDERS if prop(db, "ALLUSERS") != "1" else set())

    def in_profile(directory, depth=0):
        return directory in user or (depth < 64 and directory in parents and
                                     in_profile(parents[directory], depth + 1))
    return {d for d in parents if in_profile(d)}


def hkcu_key_path(db, component):
    key = component["KeyPath"]
    registry = {r["Registry"]: r for r in rows(db, "Registry")}
    root = registry[key]["Root"] if key in registry else None
    return root == "1" or (root == "-1" and prop(db, "ALLUSERS") != "1")


def ice38(db):
    """Components in the user's profile keep an HKCU registry key path."""
    profile = profile_directories(db)
    return [f"component {c['Component']} is in the user profile ({c['Directory_']}) without an HKCU key path"
            for c in rows(db, "Component") if c["Directory_"] in profile and not hkcu_key_path(db, c)]


def ice43(db):
    """Non-advertised shortcuts in the user's profile: HKCU key path."""
    profile = profile_directories(db)
    features = {r["Feature"] for r in rows(db, "Feature")}
    components = {c["Component"]: c for c in rows(db, "Component")}
    return [f"shortcut {s['Shortcut']} in {s['Directory_']} belongs to {s['Component_']}, whose key path is not HKCU"
            for s in rows(db, "Shortcut") if s["Directory_"] in profile and s["Target"] not in features
            and s["Component_"] in components and not hkcu_key_path(db, components[s["Component_"]])]


def ice57(db):
    """No component mixes per-user and per-machine data."""
    found = []
    profile = profile_directories(db)
    per_machine_root = {"2", "0", "3"} | ({"-1"} if prop(db, "ALLUSERS") == "1" else set())
    for c in rows(db, "Component"):
        name = c["Component"]
        registry = [r for r in rows(db, "Registry") if r["Component_"] == name]
        user = any(r["Root"] == "1" for r in registry) or c["Directory_"] in profile
        machine = (any(r["Root"] in per_machine_root for r in registry) or
                   (c["Directory_"] not in profile and any(f["Component_"] == name for f in rows(db, "File"))))
        if user and machine:
            found.append(f"component {name} holds per-user and per-machine data")
        elif machine and hkcu_key_path(db, c):
            found.append(f"component {name} holds per-machine data under an HKCU key path")
    return found


def ice60(db):
    """A versioned file that is not a font has a language and no hash."""
    found = []
    files = {f["File"] for f in rows(db, "File")}
    fonts = {f["File_"] for f in rows(db, "Font")}
    hashed = {h["File_"] for h in rows(db, "MsiFileHash")}
    for f in rows(db, "File"):
        versioned = f["Version"] != "" and f["Version"] not in files
        if versioned and f["File"] not in fonts and f["Language"] == "":
            found.append(f"file {f['File']} has version {f['Version']} but no language")
        if versioned and f["File"] in hashed:
            found.append(f"file {f['File']} is versioned and cannot be hashed (MsiFileHash)")
    return found


def version_key(text):
    parts = [int(p) for p in text.split(".")[:3]]
    return parts + [0] * (3 - len(parts))


def ice61(db):
    """Upgrade table: properties, ranges, and no removal of this version or newer."""
    found = []
    properties = {r["Property"] for r in rows(db, "Property")}
    secure = set(prop(db, "SecureCustomProperties").split(";"))
    current = prop(db, "ProductVersion")
    used = set()
    for r in rows(db, "Upgrade"):
        action, attributes = r["ActionProperty"], int(r["Attributes"] or 0)
        if action in properties:
            found.append(f"{action} is authored in the Property table")
        if action != action.upper():
            found.append(f"{action} is not a public property")
        if action not in secure:
            found.append(f"{action} is not in SecureCustomProperties")
        if action in used:
            found.append(f"{action} is used by more than one row")
        used.add(action)
        low, high = r["VersionMin"], r["VersionMax"]
        if not low and not high:
            found.append(f"{action}: neither VersionMin nor VersionMax")
        for bound in (b for b in (low, high) if b):
            if not is_version(bound, (255, 255, 65535, 65535)):
                found.append(f"{action}: {bound!r} is not a product version")
        if low and high and is_version(low) and is_version(high) and version_key(high) < version_key(low):
            found.append(f"{action}: VersionMax {high} is less than VersionMin {low}")
        removes = not attributes & 0x2 and r["UpgradeCode"] == prop(db, "UpgradeCode")
        if removes and is_version(current) and (not high or (is_version(high) and (
                version_key(high) > version_key(current) or
                version_key(high) == version_key(current) and attributes & 0x200))):
            found.append(f"{action} removes this version ({current}) or a newer one (VersionMax {high or 'none'})")
        if removes and low and is_version(low) and version_key(low) > version_key(current):
            found.append(f"{action} removes versions newer than this one ({low})")
    return found


def ice63(db):
    """RemoveExistingProducts where an upgrade can run it."""
    seq = sequence(db)
    if "RemoveExistingProducts" not in seq:
        return []
    at = seq["RemoveExistingProducts"]
    ordered = sorted(seq, key=seq.get)
    before = ordered[ordered.index("RemoveExistingProducts") - 1]
    if seq.get("InstallValidate", at) < at < seq.get("InstallInitialize", -1):
        return []
    if at > seq.get("InstallFinalize", at):
        return []
    if before in ("InstallInitialize", "InstallExecute", "InstallExecuteAgain"):
        return []
    return [f"RemoveExistingProducts ({at}) follows {before}: it belongs between InstallValidate and "
            "InstallInitialize, right after InstallInitialize, InstallExecute or InstallExecuteAgain, "
            "or after InstallFinalize"]


def ice64(db):
    """Folders made in the user's profile are removed again (RemoveFile)."""
    removed = {r["DirProperty"] for r in rows(db, "RemoveFile") if r["FileName"] == ""}
    return [f"folder {d} in the user profile is not in the RemoveFile table"
            for d in sorted(profile_directories(db)) if d not in PROFILE_FOLDERS | SHELL_FOLDERS
            and d not in removed]


# Base types (source and target, the low 6 bits) and where each names its source.
BASE_TYPES = {1: "Binary", 2: "Binary", 5: "Binary", 6: "Binary", 7: None, 17: "File", 18: "File",
              19: None, 21: "File", 22: "File", 23: None, 34: "Directory", 35: "Directory",
              37: None, 38: None, 39: None, 50: "Property", 51: "Property", 53: "Property", 54: "Property"}


def ice68(db):
    """Custom action types: a known base type and options that go together."""
    found = []
    for r in rows(db, "CustomAction"):
        kind, name = int(r["Type"]), r["Action"]
        base, in_script = kind & 0x3F, kind & 0x400
        if base not in BASE_TYPES or kind & ~0x7FFF:
            found.append(f"{name}: type {kind} is not a custom action type")
            continue
        if kind & 0x800 and not in_script:
            found.append(f"{name}: type {kind} asks for no impersonation outside the script")
        if kind & 0x1000 and not in_script:
            found.append(f"{name}: type {kind} is terminal-server aware outside the script")
        if in_script and base in (19, 35, 51):
            found.append(f"{name}: type {kind} cannot run in the script")
        if kind & 0x4000 and base not in (5, 6, 21, 22, 37, 38, 53, 54):
            found.append(f"{name}: type {kind} is 64-bit but not a script")
        source_table = BASE_TYPES[base]
        if source_table and source_table != "Property":
            key = db[source_table]["keys"][0] if source_table in db else None
            if not key or r["Source"] not in {row[key] for row in rows(db, source_table)}:
                found.append(f"{name}: source {r['Source']!r} is not in the {source_table} table")
    return found


def ice77(db):
    """Deferred, rollback and commit actions lie between InstallInitialize and InstallFinalize."""
    found = []
    script = {r["Action"] for r in rows(db, "CustomAction") if int(r["Type"]) & 0x400}
    for table in ("InstallExecuteSequence", "AdminExecuteSequence", "AdvtExecuteSequence"):
        seq = sequence(db, table)
        start, end = seq.get("InstallInitialize"), seq.get("InstallFinalize")
        for action in sorted(script & set(seq)):
            if start is None or end is None or not start < seq[action] < end:
                found.append(f"{table}: {action} ({seq[action]}) is in the script but outside "
                             f"InstallInitialize ({start})..InstallFinalize ({end})")
    return found


def ice82(db):
    """Registration actions all or none; no two actions share a sequence number."""
    found = []
    seq = sequence(db)
    registering = ["RegisterProduct", "RegisterUser", "PublishProduct", "PublishFeatures"]
    missing = [a for a in registering if a not in seq]
    if missing:
        found.append(f"InstallExecuteSequence lacks {' '.join(missing)}")
    for table in ("InstallExecuteSequence", "InstallUISequence", "AdminExecuteSequence",
                  "AdminUISequence", "AdvtExecuteSequence"):
        taken = {}
        for action, number in sorted(sequence(db, table).items(), key=lambda item: item[1]):
            if number > 0 and number in taken:
                found.append(f"{table}: {action} has the sequence number {number} of {taken[number]}")
            taken.setdefault(number, action)
    return found


def version_resource(path):
    """(file version, language) from a PE file's version resource."""
    data = open(path, "rb").read()
    info = data.find("VS_VERSION_INFO".encode("utf-16-le"))
    fixed = data.find(struct.pack("<I", 0xFEEF04BD), info)
    if info < 0 or fixed < 0:
        return None, None
    ms, ls = struct.unpack_from("<II", data, fixed + 8)
    version = f"{ms >> 16}.{ms & 0xFFFF}.{ls >> 16}.{ls & 0xFFFF}"
    translation = data.find("Translation\0".encode("utf-16-le"), fixed)
    if translation < 0:
        return version, None
    value = (translation + len("Translation\0") * 2 + 3) & ~3
    return version, str(struct.unpack_from("<H", data, value)[0])


def file_versions(db, folder):
    """Each packed program's row carries its own version resource's version and language."""
    found = []
    for f in rows(db, "File"):
        name = f["FileName"].split("|")[-1]
        if not name.lower().endswith((".exe", ".dll")):
            continue
        path = os.path.join(folder, name)
        if not os.path.exists(path):
            found.append(f"{name}: not in {folder}")
            continue
        version, language = version_resource(path)
        if (f["Version"], f["Language"]) != (version, language):
            found.append(f"{name}: File table {f['Version'] or '<empty>'}/{f['Language'] or '<empty>'}, "
                         f"version resource {version}/{language}")
    return found


# Rules Windows Installer's authors run that do not apply here, and why.
NOT_APPLICABLE = {
    "ICE09": "nothing is installed into the system folder",
    "ICE20": "no dialogs: wixl writes no user interface",
    "ICE33": "no Registry, Class or ProgId rows",
    "ICE59/ICE90": "no shortcuts",
}

RULES = [("ICE03", ice03), ("ICE06", ice06), ("ICE24", ice24), ("ICE27", ice27), ("ICE38", ice38),
         ("ICE43", ice43), ("ICE57", ice57), ("ICE60", ice60), ("ICE61", ice61), ("ICE63", ice63),
         ("ICE64", ice64), ("ICE68", ice68), ("ICE77", ice77), ("ICE82", ice82)]


def main(argv):
    if len(argv) not in (2, 3):
        print(__doc__.strip(), file=sys.stderr)
        return 2
    db = read_package(argv[1])
    rules = list(RULES)
    if len(argv) == 3:
        rules.append(("FileVersions", lambda d: file_versions(d, argv[2])))
    failed = 0
    for name, rule in rules:
        found = rule(db)
        failed += bool(found)
        print(f"{'FAIL' if found else 'ok  '} {name}: {rule.__doc__ or 'File rows match the version resources'}")
        for line in found:
            print(f"     {name}: {line}")
    for names, reason in NOT_APPLICABLE.items():
        print(f"n/a  {names}: {reason}")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
