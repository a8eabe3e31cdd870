#!/usr/bin/env python3
"""Checks the Group Policy templates in policy/ against the program.

Usage: policy_templates_test.py <source folder>

The key, the value names and the interval's range come from settings/policy_names.h,
the names of the modes from the tray menu of each language (res/lang_*.rc), so
the templates cannot drift from what Lumo2 reads and shows. Exit code 0 when every check holds.
"""
import re
import sys
import xml.etree.ElementTree as ET
from pathlib import Path

NS = {"p": "http://schemas.microsoft.com/GroupPolicy/2006/07/PolicyDefinitions"}
ID = re.compile(r"^[A-Za-z0-9_]+$")
REF = re.compile(r"\$\((string|presentation)\.([^)]*)\)")
LANGUAGES = ["en-US", "ko-KR"]


def c_literals(header):
    """The string literals of every `const char Policy...` declaration, by name."""
    names = {}
    for name, body in re.findall(r"const char (Policy\w+)(?:\[\d*\])+ = ([^;]*);", header):
        names[name] = [s.replace("\\\\", "\\") for s in re.findall(r'"((?:[^"\\]|\\.)*)"', body)]
    return names


def c_number(header, name):
    match = re.search(r"const DWORD %s = (\d+);" % name, header)
    return int(match.group(1)) if match else None


def menu_items(rc):
    """Texts of the tray menu by position, separators included as None."""
    items = []
    for line in rc.splitlines():
        line = line.strip()
        if line.startswith("MENUITEM SEPARATOR"):
            items.append(None)
        elif line.startswith("MENUITEM"):
            items.append(re.match(r'MENUITEM "([^"]*)"', line).group(1))
    return items


def main(source):
    errors = []
    check = lambda ok, what: ok or errors.append(what)

    header = (source / "settings/policy_names.h").read_text()
    literals = c_literals(header)
    key_path = literals.get("PolicyKeyPath", [None])[0]
    value_names = {v for name, values in literals.items() if name != "PolicyKeyPath" for v in values}
    check(key_path == "Software\\Policies\\Kestrova\\Lumo2", "key path from settings/policy_names.h: %r" % key_path)
    check(len(value_names) == 9, "value names from settings/policy_names.h: %s" % sorted(value_names))
    menus = {lang: menu_items((source / ("res/lang_%s.rc" % lang[:2])).read_text(encoding="utf-8"))
             for lang in LANGUAGES}
    rules_header = (source / "settings/program_rules.h").read_text()
    subkey = re.search(r'const char ProgramRulesSubkey\[\] = "([^"]*)";', rules_header)
    rules_key = "%s\\%s" % (key_path, subkey.group(1)) if subkey else None
    check(rules_key == "Software\\Policies\\Kestrova\\Lumo2\\Programs", "rules key: %r" % rules_key)
    # The menu's item for the rules stands after the separator below the
    # modes, before "Diagnostics...".
    english = menus[LANGUAGES[0]]
    check(english[11:14] == [None, "Programs...", "Diagnostics..."], "menu after the modes: %s" % english[11:14])

    # Well-formed, or nothing else can be checked.
    try:
        admx = ET.parse(source / "policy/Lumo2.admx").getroot()
        adml = {lang: ET.parse(source / "policy" / lang / "Lumo2.adml").getroot() for lang in LANGUAGES}
    except ET.ParseError as e:
        print("not well-formed: %s" % e)
        return 1

    # Every reference the ADMX makes is defined in every language.
    refs = {"string": set(), "presentation": set()}
    for element in admx.iter():
        for value in element.attrib.values():
            for kind, name in REF.findall(value):
                refs[kind].add(name)
    defined = {}
    for lang, root in adml.items():
        strings = {s.get("id"): s.text or "" for s in root.findall("p:resources/p:stringTable/p:string", NS)}
        presentations = {p.get("id"): p for p in root.findall("p:resources/p:presentationTable/p:presentation", NS)}
        defined[lang] = (strings, presentations)
        for name in sorted(refs["string"] - strings.keys()):
            errors.append("%s: $(string.%s) not defined" % (lang, name))
        for name in sorted(refs["presentation"] - presentations.keys()):
            errors.append("%s: $(presentation.%s) not defined" % (lang, name))
        for name in list(strings) + list(presentations):
            check(ID.match(name or ""), "%s: id %r" % (lang, name))
    check(defined["en-US"][0].keys() == defined["ko-KR"][0].keys(), "the two languages define other strings")
    check(any("\uac00" <= ch <= "\ud7a3" for ch in defined["ko-KR"][0].get("ActionMode", "")),
          "ko-KR: the policy's name is not Korean")

    # Ids of the ADMX itself: namespace prefix, definitions, categories,
    # policies and their elements.
    ids = [t.get("prefix") for t in admx.findall("p:policyNamespaces/p:target", NS)]
    ids += [d.get("name") for d in admx.findall("p:supportedOn/p:definitions/p:definition", NS)]
    ids += [c.get("name") for c in admx.findall("p:categories/p:category", NS)]
    policies = admx.findall("p:policies/p:policy", NS)
    check(policies, "no policies")
    read = set()
    lists = []
    for policy in policies:
        name = policy.get("name")
        ids.append(name)
        check(policy.get("key") == key_path, "%s: key %r" % (name, policy.get("key")))
        check(policy.get("class") == "Both", "%s: class %r" % (name, policy.get("class")))
        found = policy.find("p:elements", NS)
        elements = list(found) if found is not None else []
        if policy.get("valueName"):
            read.add(policy.get("valueName"))
        for element in elements:
            ids.append(element.get("id"))
            # A list writes one value per entry under its own key: the rules.
            if element.tag == "{%s}list" % NS["p"]:
                check(element.get("key") == rules_key, "%s: list key %r" % (name, element.get("key")))
                check(element.get("explicitValue") == "true", "%s: the list names its values" % name)
                lists.append(name)
                continue
            read.add(element.get("valueName"))
            check(element.get("key") in (None, key_path), "%s: element key %r" % (name, element.get("key")))
        # The presentation's controls belong to this policy's elements.
        element_ids = {e.get("id") for e in elements}
        presentation = REF.search(policy.get("presentation") or "")
        for lang in LANGUAGES:
            shown = defined[lang][1].get(presentation.group(2)) if presentation else None
            for control in shown if shown is not None else []:
                check(control.get("refId") in element_ids, "%s %s: refId %r" % (lang, name, control.get("refId")))
    for name in ids:
        check(ID.match(name or ""), "id %r" % name)
    check(read <= value_names, "values Lumo2 does not read: %s" % sorted(read - value_names))
    check(value_names <= read, "values Lumo2 reads but no policy sets: %s" % sorted(value_names - read))

    # The mode's items are the tray menu's, valued by their position.
    for mode in admx.iter("{%s}enum" % NS["p"]):
        if mode.get("valueName") != "ActionMode":
            continue
        items = [(int(i.find("p:value/p:decimal", NS).get("value")), REF.search(i.get("displayName")).group(2))
                 for i in mode.findall("p:item", NS)]
        check([v for v, _ in items] == list(range(2, 11)), "ActionMode values %s" % [v for v, _ in items])
        for lang in LANGUAGES:
            names = [defined[lang][0].get(s) for _, s in items]
            menu = menus[lang]
            check(names == menu[2:11], "%s: mode names %s, menu %s" % (lang, names, menu[2:11]))

    check(lists == ["ProgramModes"], "rules lists: %s" % lists)
    # The help gives every mode's number with the menu's text.
    for lang in LANGUAGES:
        help_text = defined[lang][0].get("ProgramModes_Help", "")
        for value in range(2, 11):
            mode = menus[lang][value]
            check("%d %s" % (value, mode) in help_text, "%s: help lacks mode %d %s" % (lang, value, mode))

    for decimal in admx.iter("{%s}decimal" % NS["p"]):
        if decimal.get("valueName") == "IntervalTime":
            limits = (int(decimal.get("minValue", 0)), int(decimal.get("maxValue", -1)))
            expected = (c_number(header, "PolicyIntervalMin"), c_number(header, "PolicyIntervalMax"))
            check(limits == expected, "IntervalTime range %s, Lumo2 reads %s" % (limits, expected))
        if decimal.get("valueName") == "PollInterval":
            limits = (int(decimal.get("minValue", 0)), int(decimal.get("maxValue", -1)))
            expected = (c_number(header, "PollIntervalMin"), c_number(header, "PollIntervalMax"))
            check(limits == expected, "PollInterval range %s, Lumo2 reads %s" % (limits, expected))

    for error in errors:
        print("FAILED: %s" % error)
    print("policy templates: %d policies, %d values, %d strings checked in %s, %d faults"
          % (len(policies), len(read), len(defined["en-US"][0]), " and ".join(LANGUAGES), len(errors)))
    return 1 if errors else 0


if __name__ == "__main__":
    sys.exit(main(Path(sys.argv[1] if len(sys.argv) > 1 else Path(__file__).resolve().parent.parent)))
