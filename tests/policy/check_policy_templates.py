#!/usr/bin/env python3
"""Holds the Group Policy templates (installer/policy) to the ADMX/ADML rules and to the code.

    check_policy_templates.py ROOT
    check_policy_templates.py --broken-cases CASES.json ROOT

ROOT is the source tree. The first form checks, with the standard library only:

- the ADMX and every ADML parse, in the PolicyDefinitions namespace, with the root attributes,
  the policy namespace, resources/minRequiredRevision and the order of child elements that the
  schema asks (the Group Policy editor refuses a file that breaks them, on the administrator's
  desk; nothing here runs it);
- every $(string.X) and $(presentation.X) of the ADMX is in the tables of EVERY language file
  (one missing breaks the editor only for that language's administrators, so a look at the
  English file misses it),
  every presentation control refers to an element of its policy, with the control of its type,
  every parentCategory and supportedOn reference resolves, enum items have unique values;
- against the C++ sources under ROOT/src: every value the code reads under
  Software\\Policies\\VORTELIX has a policy of the matching class (Machine for HKLM) that writes
  it, and the ADMX declares no value the code never reads; an enum policy offers exactly the
  numbers of the code's `enum class` of the same name, each item named after its enumerator, and
  the dropdown opens at the code's kDefault<Name>.

The code is read, not compiled: calls to the registry (RegGetValue, RegQueryValueEx, and the
sources' own Read*/Value* helpers that take a value `name`) in a function that names a key under
Software\\Policies\\VORTELIX, literally, through a named constant, or as
"Software\\Policies\\" + the settings key given to ConfigureLog. A helper that passes its own
parameter on as the value name is followed to its callers. A read whose value name or key this
cannot tell is a failure, not a silent pass: make the name visible rather than teach this less.

The second form proves the checks bite: each case of CASES.json copies ROOT's src/ and
installer/policy/, breaks one thing (replaces a text in a file, or adds a file), and must fail
with every message it names; the unbroken copy must pass.
"""

import argparse
import json
import os
import re
import shutil
import sys
import tempfile
import xml.etree.ElementTree as ET

NS = "http://schemas.microsoft.com/GroupPolicy/2006/07/PolicyDefinitions"
ADMX = "installer/policy/VORTELIXExcel.admx"
ADML = "installer/policy/{lang}/VORTELIXExcel.adml"
LANGUAGES_REQUIRED = ("en-US", "nl-NL")
POLICY_ROOT = "software\\policies\\"
PRODUCT_POLICY_ROOT = "software\\policies\\vortelix\\"

VERSION = re.compile(r"^\d+\.\d+$")
STRING_REF = re.compile(r"^\$\(string\.([A-Za-z0-9_.-]+)\)$")
PRESENTATION_REF = re.compile(r"^\$\(presentation\.([A-Za-z0-9_.-]+)\)$")

# The presentation control that shows each kind of policy element.
CONTROL_FOR = {"enum": "dropdownList", "boolean": "checkBox", "text": ("textBox", "comboBox"),
               "decimal": "decimalTextBox", "longDecimal": "longDecimalTextBox", "list": "listBox",
               "multiText": "multiTextBox"}

# Child elements in the order the PolicyDefinitions schema has them: (name, min, max).
MANY = 1 << 30
ORDER = {
    "policyDefinitions": [("policyNamespaces", 1, 1), ("supersededAdm", 0, MANY), ("annotation", 0, MANY),
                          ("resources", 1, 1), ("supportedOn", 0, 1), ("categories", 0, 1), ("policies", 0, 1)],
    "policyNamespaces": [("target", 1, 1), ("using", 0, MANY)],
    "supportedOn": [("products", 0, 1), ("definitions", 0, 1)],
    "definitions": [("definition", 1, MANY)],
    "categories": [("category", 1, MANY)],
    "category": [("annotation", 0, MANY), ("parentCategory", 0, 1), ("seeAlso", 0, MANY), ("keywords", 0, 1)],
    "policies": [("policy", 1, MANY)],
    "policy": [("annotation", 0, MANY), ("parentCategory", 0, 1), ("seeAlso", 0, MANY), ("keywords", 0, 1),
               ("supportedOn", 1, 1), ("enabledValue", 0, 1), ("disabledValue", 0, 1), ("enabledList", 0, 1),
               ("disabledList", 0, 1), ("elements", 0, 1)],
    "enum": [("item", 1, MANY)],
    "item": [("value", 1, 1), ("valueList", 0, 1)],
    "policyDefinitionResources": [("displayName", 1, 1), ("description", 1, 1), ("annotation", 0, MANY),
                                  ("resources", 1, 1)],
    "adml-resources": [("stringTable", 0, 1), ("presentationTable", 0, 1)],
}


def q(name):
    return "{%s}%s" % (NS, name)


def local(tag):
    return tag.split("}", 1)[1] if tag.startswith("{") else tag


def version(text):
    return tuple(int(p) for p in text.split("."))


def check_order(element, rule, where, problems):
    """The element's children follow ORDER[rule]: known names, schema order, counts."""
    allowed = ORDER[rule]
    names = [name for name, _, _ in allowed]
    counts = dict.fromkeys(names, 0)
    at = 0
    for child in element:
        name = local(child.tag)
        if child.tag != q(name):
            problems.append(f"{where}: <{child.tag}> is not in the PolicyDefinitions namespace")
            continue
        if name not in counts:
            problems.append(f"{where}: <{name}> does not belong in <{local(element.tag)}>")
            continue
        if names.index(name) < at:
            problems.append(f"{where}: <{name}> comes after <{names[at]}>; the schema's order in "
                            f"<{local(element.tag)}> is {', '.join(names)}")
            continue
        at = names.index(name)
        counts[name] += 1
    for name, least, most in allowed:
        if counts[name] < least:
            problems.append(f"{where}: <{local(element.tag)}> has no <{name}>")
        if counts[name] > most:
            problems.append(f"{where}: <{local(element.tag)}> has {counts[name]} <{name}>, at most {most}")


def parse(path, root_name, problems):
    try:
        tree = ET.parse(path)
    except (OSError, ET.ParseError) as e:
        problems.append(f"{path}: not well-formed XML: {e}")
        return None
    root = tree.getroot()
    if root.tag != q(root_name):
        problems.append(f"{path}: the root is <{root.tag}>, not <{root_name}> in {NS}")
        return None
    for attribute in ("revision", "schemaVersion"):
        value = root.get(attribute)
        if value is None or not VERSION.match(value):
            problems.append(f"{path}: <{root_name}> needs {attribute}=\"major.minor\", has {value!r}")
    return root


# ---- The ADMX ---------------------------------------------------------------------------------

class Admx:
    """What the checks need of the ADMX: its references, policies and registry values."""

    def __init__(self, root):
        self.root = root
        self.prefix = None
        self.namespace = None
        self.using = set()
        self.strings = {}        # string id -> where the ADMX names it
        self.presentations = {}  # presentation id -> policy element
        self.policies = []
        self.values = []         # (key, value name, policy element, element or None)
        self.min_required = None


def check_admx(path, problems):
    root = parse(path, "policyDefinitions", problems)
    if root is None:
        return None
    admx = Admx(root)
    check_order(root, "policyDefinitions", path, problems)

    namespaces = root.find(q("policyNamespaces"))
    if namespaces is not None:
        check_order(namespaces, "policyNamespaces", path, problems)
        prefixes = []
        for entry in namespaces:
            prefix, namespace = entry.get("prefix"), entry.get("namespace")
            if not prefix or not re.match(r"^[A-Za-z][\w]*$", prefix):
                problems.append(f"{path}: <{local(entry.tag)}> needs a prefix, has {prefix!r}")
            if not namespace or not re.match(r"^[A-Za-z]\w*(\.[A-Za-z]\w*)+$", namespace):
                problems.append(f"{path}: <{local(entry.tag)}> needs a dotted namespace, has {namespace!r}")
            prefixes.append(prefix)
            if entry.tag == q("target"):
                admx.prefix, admx.namespace = prefix, namespace
            else:
                admx.using.add(prefix)
        if len(set(prefixes)) != len(prefixes):
            problems.append(f"{path}: a prefix is used twice in <policyNamespaces>: {prefixes}")

    resources = root.find(q("resources"))
    if resources is not None:
        required = resources.get("minRequiredRevision")
        if required is None or not VERSION.match(required):
            problems.append(f"{path}: <resources> needs minRequiredRevision=\"major.minor\", has {required!r}")
        else:
            admx.min_required = required

    def string_ref(element, attribute, where, required=True):
        value = element.get(attribute)
        if value is None:
            if required:
                problems.append(f"{path}: {where} has no {attribute}")
            return
        m = STRING_REF.match(value)
        if not m:
            problems.append(f"{path}: {where} {attribute}={value!r} is not $(string.<id>)")
            return
        admx.strings.setdefault(m.group(1), f"{where} {attribute}")

    def local_name(ref):
        """The name a reference points at in this file; None for another namespace's (checked there)."""
        if ref and ":" in ref:
            prefix, name = ref.split(":", 1)
            if prefix == admx.prefix:
                return name
            if prefix not in admx.using:
                problems.append(f"{path}: reference {ref!r} uses a prefix no <using> declares")
            return None
        return ref

    supported = set()
    for definition in root.iterfind(f"{q('supportedOn')}/{q('definitions')}/{q('definition')}"):
        name = definition.get("name")
        if not name:
            problems.append(f"{path}: a supportedOn <definition> has no name")
        supported.add(name)
        string_ref(definition, "displayName", f"supportedOn definition {name!r}")
    for block in root.iterfind(q("supportedOn")):
        check_order(block, "supportedOn", path, problems)

    categories = {}
    for category in root.iterfind(f"{q('categories')}/{q('category')}"):
        name = category.get("name")
        if not name or name in categories:
            problems.append(f"{path}: a category has no name, or one used twice: {name!r}")
        categories[name] = category
        check_order(category, "category", f"{path}: category {name!r}", problems)
        string_ref(category, "displayName", f"category {name!r}")
        string_ref(category, "explainText", f"category {name!r}", required=False)
    for name, category in categories.items():
        parent = category.find(q("parentCategory"))
        if parent is not None:
            target = local_name(parent.get("ref"))
            if target is not None and target not in categories:
                problems.append(f"{path}: category {name!r} has parentCategory {parent.get('ref')!r}, "
                                "which no category defines")

    names = set()
    for policy in root.iterfind(f"{q('policies')}/{q('policy')}"):
        name = policy.get("name")
        where = f"policy {name!r}"
        if not name or name in names:
            problems.append(f"{path}: a policy has no name, or one used twice: {name!r}")
        names.add(name)
        admx.policies.append(policy)
        check_order(policy, "policy", f"{path}: {where}", problems)
        if policy.get("class") not in ("Machine", "User", "Both"):
            problems.append(f"{path}: {where} needs class Machine, User or Both, has {policy.get('class')!r}")
        string_ref(policy, "displayName", where)
        string_ref(policy, "explainText", where)
        key = policy.get("key")
        if not key:
            problems.append(f"{path}: {where} has no key")
        for child, known in (("parentCategory", categories), ("supportedOn", supported)):
            ref = policy.find(q(child))
            if ref is None:
                problems.append(f"{path}: {where} has no <{child}>")
                continue
            target = local_name(ref.get("ref"))
            if target is not None and target not in known:
                problems.append(f"{path}: {where} has {child} {ref.get('ref')!r}, which this file does not define")

        if policy.get("valueName"):
            admx.values.append((key, policy.get("valueName"), policy, None))
        for listing in ("enabledList", "disabledList"):
            for entry in policy.iterfind(f"{q(listing)}/{q('item')}"):
                admx.values.append((entry.get("key") or policy.find(q(listing)).get("defaultKey") or key,
                                    entry.get("valueName"), policy, None))

        elements = policy.find(q("elements"))
        ids = set()
        for element in (elements if elements is not None else []):
            kind, element_id = local(element.tag), element.get("id")
            if kind not in CONTROL_FOR:
                problems.append(f"{path}: {where} has an element <{kind}> the schema does not know")
                continue
            if not element_id or element_id in ids:
                problems.append(f"{path}: {where} has an element without an id, or an id used twice: {element_id!r}")
            ids.add(element_id)
            element_key = element.get("key") or key
            admx.values.append((element_key, element.get("valueName") if kind != "list" else "*", policy, element))
            if kind == "enum":
                check_order(element, "enum", f"{path}: {where} enum {element_id!r}", problems)
                seen = {}
                for item in element.iterfind(q("item")):
                    check_order(item, "item", f"{path}: {where} enum {element_id!r}", problems)
                    string_ref(item, "displayName", f"{where} enum {element_id!r} item")
                    value = item_value(item)
                    if value in seen:
                        problems.append(f"{path}: {where} enum {element_id!r}: items {seen[value]!r} and "
                                        f"{item.get('displayName')!r} write the same value {value[1]}")
                    seen[value] = item.get("displayName")
                    for entry in item.iterfind(f"{q('valueList')}/{q('item')}"):
                        admx.values.append((entry.get("key") or element_key, entry.get("valueName"), policy, element))

        presentation = policy.get("presentation")
        if presentation is not None:
            m = PRESENTATION_REF.match(presentation)
            if not m:
                problems.append(f"{path}: {where} presentation={presentation!r} is not $(presentation.<id>)")
            else:
                admx.presentations[m.group(1)] = policy
        elif ids:
            problems.append(f"{path}: {where} has elements but no presentation, so they cannot be set")

    for key, value, policy, _ in admx.values:
        if not key or not key.lower().startswith(PRODUCT_POLICY_ROOT):
            problems.append(f"{path}: policy {policy.get('name')!r} writes under {key!r}: only "
                            "Software\\Policies\\VORTELIX\\... is removed again when the policy goes")
    if not admx.policies:
        problems.append(f"{path}: no policy")
    return admx


def item_value(item):
    """(kind, value) of an enum item: ('decimal', '2'), ('string', 'x') or ('delete', '')."""
    value = item.find(q("value"))
    if value is None or len(value) != 1:
        return ("none", "")
    child = value[0]
    kind = local(child.tag)
    if kind == "decimal":
        return (kind, child.get("value"))
    if kind == "string":
        return (kind, child.text or "")
    return (kind, "")


# ---- The language files -----------------------------------------------------------------------

def check_adml(lang, path, admx, problems):
    root = parse(path, "policyDefinitionResources", problems)
    if root is None:
        return None
    check_order(root, "policyDefinitionResources", path, problems)
    admx_revision = admx.root.get("revision")
    required = admx.min_required
    if required and VERSION.match(root.get("revision") or "") and version(root.get("revision")) < version(required):
        problems.append(f"{path}: revision {root.get('revision')} is below the ADMX's minRequiredRevision "
                        f"{required}; the editor would refuse this language")
    if admx_revision and root.get("revision") != admx_revision:
        problems.append(f"{path}: revision {root.get('revision')} differs from the ADMX's {admx_revision}")
    resources = root.find(q("resources"))
    strings, presentations = {}, {}
    if resources is not None:
        check_order(resources, "adml-resources", path, problems)
        for string in resources.iterfind(f"{q('stringTable')}/{q('string')}"):
            sid = string.get("id")
            if sid in strings:
                problems.append(f"{path}: string {sid!r} is defined twice")
            strings[sid] = (string.text or "").strip()
            if not strings[sid]:
                problems.append(f"{path}: string {sid!r} is empty")
        for presentation in resources.iterfind(f"{q('presentationTable')}/{q('presentation')}"):
            pid = presentation.get("id")
            if pid in presentations:
                problems.append(f"{path}: presentation {pid!r} is defined twice")
            presentations[pid] = presentation

    for sid, where in admx.strings.items():
        if sid not in strings:
            problems.append(f"{lang}: $(string.{sid}) ({where}) is not in the stringTable of {path}")
    for sid in strings:
        if sid not in admx.strings:
            problems.append(f"{lang}: string {sid!r} of {path} is named nowhere in the ADMX")
    for pid, policy in admx.presentations.items():
        presentation = presentations.get(pid)
        if presentation is None:
            problems.append(f"{lang}: $(presentation.{pid}) of policy {policy.get('name')!r} is not in "
                            f"the presentationTable of {path}")
            continue
        check_presentation(lang, path, presentation, policy, problems)
    for pid in presentations:
        if pid not in admx.presentations:
            problems.append(f"{lang}: presentation {pid!r} of {path} belongs to no policy")
    return {"strings": strings, "presentations": presentations}


def check_presentation(lang, path, presentation, policy, problems):
    block = policy.find(q("elements"))
    elements = {e.get("id"): e for e in (block if block is not None else [])}
    shown = set()
    for control in presentation:
        ref = control.get("refId")
        if ref is None:
            continue  # a <text> label
        kind = local(control.tag)
        element = elements.get(ref)
        if element is None:
            problems.append(f"{lang}: presentation {presentation.get('id')!r} <{kind} refId={ref!r}> in {path} "
                            f"refers to no element of policy {policy.get('name')!r} "
                            f"(it has {sorted(elements)})")
            continue
        shown.add(ref)
        wanted = CONTROL_FOR.get(local(element.tag), ())
        if kind not in (wanted if isinstance(wanted, tuple) else (wanted,)):
            problems.append(f"{lang}: <{kind} refId={ref!r}> in {path} shows a <{local(element.tag)}> element, "
                            f"which takes <{wanted if isinstance(wanted, str) else '/'.join(wanted)}>")
        if kind == "dropdownList" and control.get("defaultItem") is not None:
            count = len(element.findall(q("item")))
            default = control.get("defaultItem")
            if not default.isdigit() or int(default) >= count:
                problems.append(f"{lang}: dropdownList {ref!r} in {path} opens at item {default}, "
                                f"but the enum has {count} items (counted from 0)")
    for missing in sorted(set(elements) - shown):
        problems.append(f"{lang}: presentation {presentation.get('id')!r} in {path} shows no control for "
                        f"element {missing!r} of policy {policy.get('name')!r}")


def compare_languages(tables, problems):
    """Every language offers the same controls, and a long text copied from English was not translated."""
    english = tables.get("en-US")
    if not english:
        return
    for lang, table in tables.items():
        if lang == "en-US" or table is None:
            continue
        for pid, presentation in table["presentations"].items():
            theirs = english["presentations"].get(pid)
            if theirs is None:
                continue
            shape = [(local(c.tag), sorted(c.attrib.items())) for c in presentation]
            if shape != [(local(c.tag), sorted(c.attrib.items())) for c in theirs]:
                problems.append(f"{lang}: presentation {pid!r} differs from en-US in its controls or their "
                                f"attributes: {shape}")
        for sid, text in table["strings"].items():
            # A name ("VORTELIX Excel") may stay as it is; a sentence left in English was forgotten.
            if len(text.split()) >= 3 and english["strings"].get(sid) == text:
                problems.append(f"{lang}: string {sid!r} is the English text, not translated")


# ---- The C++ sources --------------------------------------------------------------------------

TOKEN = re.compile(r"""
    (?P<pre>^[ \t]*\#(?:\\\n|[^\n])*)
  | (?P<ws>[ \t\r\f\v]+|\n)
  | (?P<comment>//[^\n]*|/\*.*?\*/)
  | (?P<raw>(?:u8|[uUL])?R"(?P<delim>[^(\s]*)\((?P<rawbody>.*?)\)(?P=delim)")
  | (?P<str>(?:u8|[uUL])?"(?P<body>(?:\\.|[^"\\\n])*)")
  | (?P<chr>(?:u8|[uUL])?'(?:\\.|[^'\\\n])*')
  | (?P<num>\.?\d(?:[eEpP][+-]|[\w.])*)
  | (?P<id>[A-Za-z_]\w*)
  | (?P<punct>::|->|\S)
""", re.VERBOSE | re.DOTALL | re.MULTILINE)

ESCAPES = {"n": "\n", "t": "\t", "r": "\r", "0": "\0"}
NOT_A_TYPE = {"return", "co_return", "throw", "else", "case", "new", "delete", "do", "sizeof"}
HIVES = ("HKEY_LOCAL_MACHINE", "HKEY_CURRENT_USER")


class Token:
    __slots__ = ("kind", "text", "value", "line")

    def __init__(self, kind, text, value, line):
        self.kind, self.text, self.value, self.line = kind, text, value, line


def tokenize(text):
    """C++ tokens without comments and preprocessor lines; a string literal's value is decoded and
    adjacent literals are joined, as the compiler joins them."""
    tokens, line = [], 1
    for m in TOKEN.finditer(text):
        kind = next(k for k in ("pre", "ws", "comment", "raw", "str", "chr", "num", "id", "punct")
                    if m.group(k) is not None)
        chunk = m.group(0)
        if kind in ("str", "raw"):
            value = m.group("rawbody") if kind == "raw" else re.sub(
                r"\\(.)", lambda e: ESCAPES.get(e.group(1), e.group(1)), m.group("body"))
            if tokens and tokens[-1].kind == "str":
                tokens[-1].value += value
            else:
                tokens.append(Token("str", chunk, value, line))
        elif kind in ("num", "id", "punct", "chr"):
            tokens.append(Token(kind, chunk, chunk, line))
        line += chunk.count("\n")
    return tokens


class Source:
    """One source file's tokens, its brackets matched, and for each token the function around it."""

    def __init__(self, relpath, text):
        self.path = relpath
        self.tokens = toks = tokenize(text)
        self.match = {}
        stack = []
        for i, t in enumerate(toks):
            if t.kind == "punct" and t.text in "({[":
                stack.append(i)
            elif t.kind == "punct" and t.text in ")}]" and stack:
                j = stack.pop()
                self.match[i], self.match[j] = j, i
        # scope[i]: the '{' of the outermost block around token i that is neither a namespace nor a
        # class body: a function's body (or an initializer at namespace scope). None at namespace scope.
        self.scope = [None] * len(toks)
        current, outer = None, []
        for i, t in enumerate(toks):
            if t.kind == "punct" and t.text == "{":
                outer.append(current)
                if current is None and not self.transparent(i):
                    current = i
            self.scope[i] = current
            if t.kind == "punct" and t.text == "}" and outer:
                current = outer.pop()

    def head(self, brace):
        """The declaration before a '{': its tokens back to the previous ';', '{' or '}'."""
        i = brace - 1
        while i >= 0:
            t = self.tokens[i]
            if t.kind == "punct" and t.text in ")]" and i in self.match:
                i = self.match[i] - 1
            elif t.kind == "punct" and t.text in ";{}":
                break
            else:
                i -= 1
        return self.tokens[i + 1:brace], i + 1

    def transparent(self, brace):
        words, _ = self.head(brace)
        texts = [t.text for t in words]
        if "namespace" in texts[:2] or (texts[:1] == ["extern"] and len(words) == 2 and words[1].kind == "str"):
            return True
        angle = 0
        for t in words:
            angle += (t.text == "<") - (t.text == ">")
            if t.text in ("=", "(") and angle == 0:
                return False
        return "enum" not in texts and any(t in ("class", "struct", "union") for t in texts)

    def args(self, open_paren):
        """The top-level arguments inside a bracket: a list of token-index lists."""
        close = self.match.get(open_paren)
        if close is None:
            return []
        args, current, i = [], [], open_paren + 1
        while i < close:
            t = self.tokens[i]
            if t.kind == "punct" and t.text in "({[" and i in self.match:
                current.extend(range(i, self.match[i] + 1))
                i = self.match[i] + 1
                continue
            if t.kind == "punct" and t.text == ",":
                args.append(current)
                current = []
            else:
                current.append(i)
            i += 1
        if current or args:
            args.append(current)
        return args

    def calls(self, name):
        """Indexes of `name(` where it is called, not declared or defined (those follow a type)."""
        toks = self.tokens
        for i, t in enumerate(toks):
            if t.text != name or t.kind != "id" or i + 1 >= len(toks) or toks[i + 1].text != "(":
                continue
            if self.is_call(i):
                yield i

    def is_call(self, name_index):
        i = name_index - 1
        while i >= 1 and self.tokens[i].text == "::" and self.tokens[i - 1].kind == "id":
            i -= 2
        if i < 0:
            return False
        before = self.tokens[i]
        if before.kind == "id":
            return before.text in NOT_A_TYPE
        return before.text not in (">", "*", "&", "~", "::")

    def parameters(self, open_paren):
        """The names of a parameter list's parameters (None for an unnamed one)."""
        names = []
        for arg in self.args(open_paren):
            cut = next((k for k in arg if self.tokens[k].text == "="), None)
            ids = [self.tokens[k].text for k in arg if self.tokens[k].kind == "id" and (cut is None or k < cut)]
            names.append(ids[-1] if len(ids) > 1 else None)
        return names

    def function_of(self, brace):
        """(name, parameter names) of the function whose body opens at `brace`, or None."""
        words, start = self.head(brace)
        for n, t in enumerate(words):
            i = start + n
            if t.text == "(" and n > 0 and words[n - 1].kind == "id" and \
                    words[n - 1].text not in ("template", "decltype", "noexcept", "alignas", "__attribute__"):
                return words[n - 1].text, self.parameters(i)
        return None

    def where(self, i):
        return f"{self.path}:{self.tokens[i].line}"


def load_sources(src_root):
    sources = []
    for folder, dirs, files in os.walk(src_root):
        dirs.sort()
        for name in sorted(files):
            if name.endswith((".cpp", ".h", ".hpp", ".cc", ".inl")):
                path = os.path.join(folder, name)
                with open(path, encoding="utf-8", errors="replace") as f:
                    rel = os.path.relpath(path, os.path.dirname(os.path.abspath(src_root)))
                    sources.append(Source(rel.replace(os.sep, "/"), f.read()))
    return sources


def clean_key(text):
    key = text.lstrip("\\")
    for hive in HIVES + ("HKLM", "HKCU"):
        if key.upper().startswith(hive + "\\"):
            key = key[len(hive) + 1:]
    return key.rstrip("\\")


def under_product(key):
    low = key.lower() + "\\"
    return low.startswith(PRODUCT_POLICY_ROOT) and low != PRODUCT_POLICY_ROOT


class Reads:
    """The values the sources read under Software\\Policies\\VORTELIX, and what could not be told."""

    def __init__(self):
        self.found = {}     # (key lower, value lower) -> {"key", "value", "hives", "where"}
        self.unclear = []

    def add(self, key, value, hive, where):
        entry = self.found.setdefault((key.lower(), value.lower()),
                                      {"key": key, "value": value, "hives": {}, "where": []})
        if hive:
            entry["hives"].setdefault(hive, [])
            if where not in entry["hives"][hive]:
                entry["hives"][hive].append(where)
        if where not in entry["where"]:
            entry["where"].append(where)

    def cannot_tell(self, text):
        if text not in self.unclear:
            self.unclear.append(text)


def settings_keys(sources, reads):
    """The settings keys given to ConfigureLog: the add-in reads its policy under
    Software\\Policies\\ + that key (com/log.cpp)."""
    fields = []
    for s in sources:
        toks = s.tokens
        for i in range(1, len(toks) - 1):
            if toks[i].text == "LogIdentity" and toks[i - 1].text == "struct" and toks[i + 1].text == "{":
                chunk = []
                for k in range(i + 2, s.match[i + 1]):
                    if toks[k].text != ";":
                        chunk.append(toks[k])
                        continue
                    if not any(t.text == "(" for t in chunk):
                        ids = [t.text for t in chunk if t.kind == "id"]
                        fields.append(ids[-1] if ids else None)
                    chunk = []
    keys = set()
    for s in sources:
        toks = s.tokens
        for i in s.calls("ConfigureLog"):
            args = s.args(i + 1)
            if len(args) != 1 or toks[args[0][0]].text != "{":
                reads.cannot_tell(f"{s.where(i)}: ConfigureLog without a brace list: cannot tell the settings key")
                continue
            value = None
            for n, member in enumerate(s.args(args[0][0])):
                texts = [toks[k].text for k in member]
                if texts[:3] == [".", "settingsKey", "="] and toks[member[-1]].kind == "str":
                    value = toks[member[-1]].value
                elif len(member) == 1 and toks[member[0]].kind == "str" and n < len(fields) and \
                        fields[n] == "settingsKey":
                    value = toks[member[0]].value
            if value is None:
                reads.cannot_tell(f"{s.where(i)}: the settingsKey given to ConfigureLog is no literal")
            else:
                keys.add(value)
    return keys


def bindings(sources):
    """Per file: names bound to a string literal (`kLogPolicy[] = L"..."`, `std::wstring k(L"...")`);
    a header's names are seen by every file."""
    per_file, shared = [], {}
    for s in sources:
        toks, bound = s.tokens, {}
        for i, t in enumerate(toks):
            if t.kind != "str" or i < 2 or i + 1 >= len(toks) or toks[i + 1].text not in (";", ",", "}", ")"):
                continue
            j = i - 1
            if toks[j].text not in ("=", "{", "(") or (toks[j].text == "(" and s.is_call(j - 1)):
                continue
            k = j - 1
            while k >= 0 and toks[k].text in ("]", "["):
                k -= 1
            if k >= 0 and toks[k].kind == "id" and toks[k].text not in NOT_A_TYPE and \
                    (toks[k - 1].kind == "id" or toks[k - 1].text in (">", "*", "&", "::")):
                bound.setdefault(toks[k].text, t.value)
        per_file.append(bound)
        if s.path.endswith((".h", ".hpp", ".inl")):
            for name, value in bound.items():
                shared.setdefault(name, value)
    return [dict(shared, **bound) for bound in per_file]


# Registry reads whose value-name argument is known; the sources' own helpers are found by their
# declarations: a Read*/Value* function with a parameter called `name` or `valueName`.
WIN32_READS = {"RegGetValueW": {2}, "RegGetValueA": {2}, "RegGetValue": {2},
               "RegQueryValueExW": {1}, "RegQueryValueExA": {1}, "RegQueryValueEx": {1}}
HELPER_NAME = re.compile(r"^(Read|Value)\w*$")
NAME_PARAM = re.compile(r"^(value_?)?name$", re.IGNORECASE)


def helper_readers(sources):
    readers = {}
    for s in sources:
        toks = s.tokens
        for i, t in enumerate(toks):
            if t.kind == "id" and HELPER_NAME.match(t.text) and i + 1 < len(toks) and toks[i + 1].text == "(" \
                    and not s.is_call(i):
                for n, name in enumerate(s.parameters(i + 1)):
                    if name and NAME_PARAM.match(name):
                        readers.setdefault(t.text, set()).add(n)
    return readers


def code_policy_reads(src_root):
    """Reads: every (key, value) the sources read under Software\\Policies\\VORTELIX."""
    reads = Reads()
    sources = load_sources(src_root)
    settings = settings_keys(sources, reads)
    bound = bindings(sources)

    def literal_keys(n, i):
        """The product policy keys a literal at token i names: [] for none, None when untold."""
        s, toks = sources[n], sources[n].tokens
        text = clean_key(toks[i].value)
        low = text.lower() + "\\"
        if not low.startswith(POLICY_ROOT):
            return []
        if low != POLICY_ROOT and not low.startswith(PRODUCT_POLICY_ROOT):
            return []  # another vendor's policies
        if i + 1 < len(toks) and toks[i + 1].text == "+":
            after = toks[i + 2] if i + 2 < len(toks) else None
            scope = s.scope[i]
            if after is not None and after.kind == "str":
                tails = [after.value]
            elif after is not None and after.kind == "id" and after.text in bound[n]:
                tails = [bound[n][after.text]]
            elif scope is not None and any(t.text == "settingsKey" for t in toks[scope:s.match.get(scope, scope)]):
                tails = sorted(settings)
            else:
                tails = []
            if not tails:
                reads.cannot_tell(f"{s.where(i)}: \"{toks[i].value}\" + {after.text if after else ''}...: "
                                  "cannot tell which key this builds")
                return None
            return [k for k in (clean_key(text + "\\" + tail.strip("\\")) for tail in tails) if under_product(k)]
        return [text] if under_product(text) else []

    def hive_near(n, i):
        """The hive named in the innermost group or statement around token i, if exactly one."""
        toks = sources[n].tokens
        lo, hi = i, i
        while lo > 0 and toks[lo - 1].text not in (";", "{", "(", "}"):
            lo -= 1
        while hi + 1 < len(toks) and toks[hi + 1].text not in (";", "}", ")"):
            hi += 1
        found = {t.text for t in toks[lo:hi + 1] if t.text in HIVES}
        return found.pop() if len(found) == 1 else None

    # Names that stand for a product policy key: constants bound to one, and functions returning one.
    key_names = [{name: [clean_key(v)] for name, v in b.items() if under_product(clean_key(v))} for b in bound]
    other_keys = [{name for name, v in b.items() if "\\" in v and not under_product(clean_key(v))} for b in bound]
    key_functions = {}
    literal = {}  # (n, i) -> product keys of that literal
    sites = {}    # (n, scope) -> [(key, hive)]: the functions that name a product policy key

    def add_site(n, i, keys):
        scope = sources[n].scope[i]
        if scope is None:
            return  # a constant at namespace scope: its uses are the sites
        place = sites.setdefault((n, scope), [])
        for key in keys:
            if (key, hive_near(n, i)) not in place:
                place.append((key, hive_near(n, i)))
        toks, k = sources[n].tokens, i
        while k > scope and toks[k].text not in (";", "{", "}"):
            k -= 1
        if toks[k + 1].text == "return":  # a function returning the key hands it to its callers
            function = sources[n].function_of(scope)
            if function:
                key_functions[function[0]] = keys

    for n, s in enumerate(sources):
        for i, t in enumerate(s.tokens):
            if t.kind == "str":
                keys = literal[(n, i)] = literal_keys(n, i)
                if keys:
                    add_site(n, i, keys)
            elif t.kind == "id" and t.text in key_names[n] and s.scope[i] is not None:
                add_site(n, i, key_names[n][t.text])
    for n, s in enumerate(sources):
        for name, keys in list(key_functions.items()):
            for i in s.calls(name):
                add_site(n, i, keys)

    def value_names(n, arg):
        toks = sources[n].tokens
        if len(arg) == 1 and toks[arg[0]].kind == "str" and "\\" not in toks[arg[0]].value:
            return [toks[arg[0]].value]
        if len(arg) == 1 and toks[arg[0]].kind == "id" and "\\" not in bound[n].get(toks[arg[0]].text, "\\"):
            return [bound[n][toks[arg[0]].text]]
        return None

    readers = dict(WIN32_READS)
    for name, indexes in helper_readers(sources).items():
        readers.setdefault(name, set()).update(indexes)
    work = [(name, indexes, None) for name, indexes in readers.items()]
    followed = set()
    while work:
        function, indexes, inherited = work.pop()
        for n, s in enumerate(sources):
            toks = s.tokens
            for i in s.calls(function):
                scope = s.scope[i]
                args = s.args(i + 1)
                ids = {toks[k].text for arg in args for k in arg if toks[k].kind == "id"}
                hives = ids & set(HIVES)
                hive = next(iter(hives)) if len(hives) == 1 else None
                named = [key for name in ids & set(key_names[n]) for key in key_names[n][name]]
                named += [key for name in ids & set(key_functions) for key in key_functions[name]]
                named += [key for arg in args for k in arg for key in (literal.get((n, k)) or [])]
                if inherited is not None:
                    places = inherited
                elif named:
                    places = [(key, hive) for key in named]
                elif ids & other_keys[n] or any(toks[k].kind == "str" and "\\" in toks[k].value
                                                 for arg in args for k in arg):
                    continue  # it names another key
                elif scope is not None and (n, scope) in sites:
                    places = [(key, hive or h) for key, h in sites[(n, scope)]]
                else:
                    continue
                told = False
                for index in sorted(indexes):
                    names = value_names(n, args[index]) if index < len(args) else None
                    for value in names or []:
                        for key, h in places:
                            reads.add(key, value, h, s.where(i))
                        told = True
                if told:
                    continue
                # A helper passing its own parameter on: its callers name the value.
                outer = s.function_of(scope) if scope is not None else None
                passed = [toks[args[index][0]].text for index in sorted(indexes)
                          if index < len(args) and args[index] and toks[args[index][0]].kind == "id"]
                on = [p for p in passed if outer and p in outer[1]]
                if on and (outer[0], outer[1].index(on[0])) not in followed:
                    followed.add((outer[0], outer[1].index(on[0])))
                    work.append((outer[0], {outer[1].index(on[0])}, places))
                elif not on:
                    shown = " ".join(toks[k].text for k in args[min(indexes)]) if min(indexes) < len(args) else ""
                    call = ", ".join(" ".join(toks[k].text for k in arg) for arg in args)
                    reads.cannot_tell(f"{s.where(i)}: {function}({call}) "
                                      f"reads under {', '.join(sorted({k for k, _ in places}))}, the value named by "
                                      f"{shown!r}: no literal or named constant, so the checker cannot tell which")
    return reads, sources


def code_enum(sources, name):
    """{enumerator: number} of `enum class <name>`, its underlying type, and its kDefault<name>."""
    found = []
    default = None
    for s in sources:
        toks = s.tokens
        for i, t in enumerate(toks):
            if t.text == "enum" and i + 2 < len(toks) and toks[i + 1].text == "class" and toks[i + 2].text == name:
                k = i + 3
                underlying = None
                if toks[k].text == ":":
                    underlying = toks[k + 1].text
                    while toks[k].text != "{":
                        k += 1
                if toks[k].text != "{":
                    continue
                values, nxt = {}, 0
                for arg in s.args(k):
                    if not arg:
                        continue
                    enumerator = toks[arg[0]].text
                    if len(arg) >= 3 and toks[arg[1]].text == "=":
                        nxt = int(re.sub(r"[uUlL]+$", "", toks[arg[2]].text), 0)
                    values[enumerator] = nxt
                    nxt += 1
                found.append((values, underlying, s.where(i)))
            if t.text == f"kDefault{name}" and i + 4 < len(toks) and toks[i + 1].text == "=" and \
                    toks[i + 2].text == name and toks[i + 3].text == "::":
                default = toks[i + 4].text
    return found, default


# ---- Putting it together ----------------------------------------------------------------------

def check(root):
    """(problems, notes) for the tree at root, its paths shown from the root."""
    problems, notes = [], []
    try:
        check_tree(root, problems, notes)
    finally:
        prefix = os.path.join(root, "")
        problems[:] = [p.replace(prefix, "") for p in problems]
    return problems, notes


def check_tree(root, problems, notes):
    admx_path = os.path.join(root, ADMX)
    admx = check_admx(admx_path, problems)
    if admx is None:
        return
    tables = {}
    languages = sorted(set(LANGUAGES_REQUIRED) | {
        d for d in os.listdir(os.path.dirname(admx_path))
        if os.path.isfile(os.path.join(os.path.dirname(admx_path), d, "VORTELIXExcel.adml"))})
    for lang in languages:
        path = os.path.join(root, ADML.format(lang=lang))
        if not os.path.isfile(path):
            problems.append(f"{lang}: {path} is missing")
            continue
        tables[lang] = check_adml(lang, path, admx, problems)
    compare_languages(tables, problems)
    notes.append(f"{ADMX}: namespace {admx.namespace}, revision {admx.root.get('revision')}, "
                 f"policies {', '.join(p.get('name') for p in admx.policies)}; "
                 f"languages {', '.join(languages)}")

    reads, sources = code_policy_reads(os.path.join(root, "src"))
    problems.extend(reads.unclear)
    if not reads.found and not reads.unclear:
        problems.append("src: found no read of any value under Software\\Policies\\VORTELIX; the add-in reads "
                        "LogLevel there, so this checker no longer sees how the code reads it")
    declared, spelled = {}, {}
    for key, value, policy, element in admx.values:
        if key and value:
            declared.setdefault((key.lower(), value.lower()), []).append((policy, element))
            spelled.setdefault((key.lower(), value.lower()), f"{key}\\{value}")
    classes = {"HKEY_LOCAL_MACHINE": ("Machine", "Both"), "HKEY_CURRENT_USER": ("User", "Both")}
    for (key, value), read in sorted(reads.found.items()):
        where = ", ".join(read["where"])
        entries = declared.get((key, value))
        if not entries:
            problems.append(f"the code reads {read['key']}\\{read['value']} ({where}), which is not in the ADMX")
            continue
        for hive, places in read["hives"].items():
            if not any(p.get("class") in classes[hive] for p, _ in entries):
                problems.append(f"the code reads {read['value']} from {hive} ({', '.join(places)}), but the "
                                f"ADMX's policy {entries[0][0].get('name')!r} is class {entries[0][0].get('class')}")
        notes.append(f"the code reads {read['key']}\\{read['value']} "
                     f"({'/'.join(sorted(read['hives'])) or 'hive not named'}; {where}): in the ADMX")
    for (key, value), entries in sorted(declared.items()):
        if (key, value) not in reads.found and key.startswith(PRODUCT_POLICY_ROOT.rstrip("\\")):
            problems.append(f"the ADMX's policy {entries[0][0].get('name')!r} writes {spelled[(key, value)]}, "
                            "which the code never reads")

    for policy in admx.policies:
        for element in policy.iterfind(f"{q('elements')}/{q('enum')}"):
            check_enum(element, policy, sources, tables, problems, notes)


def check_enum(element, policy, sources, tables, problems, notes):
    name = element.get("valueName")
    found, default = code_enum(sources, name)
    where = f"policy {policy.get('name')!r} enum {element.get('id')!r}"
    if not found:
        problems.append(f"{where}: the code has no `enum class {name}` for the items to follow")
        return
    if any(f[0] != found[0][0] for f in found):
        problems.append(f"{where}: the code's `enum class {name}` differ ({', '.join(f[2] for f in found)}); "
                        "the items cannot follow both")
        return
    values, underlying, at = found[0]
    items = element.findall(q("item"))
    offered = {}
    for item in items:
        kind, value = item_value(item)
        m = STRING_REF.match(item.get("displayName") or "")
        sid = m.group(1) if m else item.get("displayName")
        if underlying == "DWORD" and kind != "decimal":
            problems.append(f"{where}: item {sid!r} writes a {kind}, but the code reads {name} as a DWORD ({at})")
            continue
        enumerator = sid.rsplit("_", 1)[-1] if sid else None
        if enumerator not in values:
            problems.append(f"{where}: item {sid!r} is named after no enumerator of enum class {name} "
                            f"({', '.join(values)}; {at})")
        elif str(values[enumerator]) != value:
            problems.append(f"{where}: item {sid!r} writes {value}, but {name}::{enumerator} is "
                            f"{values[enumerator]} ({at})")
        offered[value] = sid
    missing = sorted(set(str(v) for v in values.values()) - set(offered), key=int)
    if missing:
        problems.append(f"{where}: enum class {name} has {', '.join(missing)}, which no item offers ({at})")
    if default is not None:
        for lang, table in tables.items():
            if table is None:
                continue
            for presentation in table["presentations"].values():
                for control in presentation.iterfind(q("dropdownList")):
                    if control.get("refId") != element.get("id"):
                        continue
                    index = control.get("defaultItem")
                    chosen = items[int(index)] if index and index.isdigit() and int(index) < len(items) else None
                    if chosen is None or item_value(chosen)[1] != str(values.get(default)):
                        problems.append(f"{lang}: the dropdown of {name} opens at item {index}, not at the "
                                        f"code's default kDefault{name} = {name}::{default} ({values.get(default)})")
    notes.append(f"{where}: items {', '.join(sorted(offered, key=int))} = enum class {name} ({at})"
                 + (f", opening at {name}::{default}" if default else ""))


def run_cases(cases_path, root):
    with open(cases_path, encoding="utf-8") as f:
        cases = json.load(f)
    failures = 0
    with tempfile.TemporaryDirectory(prefix="policy-templates-") as work:
        for case in [{"name": "unbroken copy", "edits": [], "expect": []}] + cases:
            copy = os.path.join(work, re.sub(r"\W+", "-", case["name"]))
            shutil.copytree(os.path.join(root, "src"), os.path.join(copy, "src"))
            shutil.copytree(os.path.join(root, "installer", "policy"), os.path.join(copy, "installer", "policy"))
            broken = True
            for edit in case["edits"]:
                path = os.path.join(copy, edit["file"])
                if "add" in edit:
                    os.makedirs(os.path.dirname(path), exist_ok=True)
                    with open(path, "w", encoding="utf-8") as f:
                        f.write(edit["add"])
                    continue
                with open(path, encoding="utf-8") as f:
                    text = f.read()
                if text.count(edit["replace"]) != 1:
                    print(f"FAIL {case['name']}: {edit['file']} holds {edit['replace']!r} "
                          f"{text.count(edit['replace'])} times, not once; update the case")
                    broken = False
                    break
                with open(path, "w", encoding="utf-8") as f:
                    f.write(text.replace(edit["replace"], edit["with"]))
            if not broken:
                failures += 1
                continue
            problems, _ = check(copy)
            if not case["expect"]:
                if problems:
                    failures += 1
                    print(f"FAIL {case['name']}: the unbroken copy fails:\n    " + "\n    ".join(problems))
                else:
                    print(f"ok   {case['name']}: passes")
                continue
            missing = [e for e in case["expect"] if not any(e in p for p in problems)]
            if missing:
                failures += 1
                print(f"FAIL {case['name']}: expected a failure with {missing}, got:\n    "
                      + ("\n    ".join(problems) or "no failure at all"))
            else:
                print(f"ok   {case['name']}: fails with:\n    " + "\n    ".join(problems))
    return 1 if failures else 0


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("root", help="the source tree")
    parser.add_argument("--broken-cases", help="JSON table of broken copies that must each fail")
    options = parser.parse_args()
    if options.broken_cases:
        return run_cases(options.broken_cases, options.root)
    problems, notes = check(options.root)
    for note in notes:
        print(f"ok   {note}")
    for problem in problems:
        print(f"FAIL {problem}")
    print(f"{'FAILED' if problems else 'passed'}: the Group Policy templates against the rules and the code"
          + (f" ({len(problems)} problem{'s' if len(problems) > 1 else ''})" if problems else ""))
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
