#!/usr/bin/env python3
"""Reads a .keylayout with Python's own XML parser, as a second reader beside
libxml2: every action, map set and modifier map a reference names exists, and
every key map has keys. Prints the counts; exit 1 on the first fault."""
import sys
import xml.etree.ElementTree as ET

root = ET.parse(sys.argv[1]).getroot()
assert root.tag == "keyboard", root.tag
actions = {a.get("id") for a in root.iter("action")}
maps = {m.get("id") for m in root.iter("keyMapSet")}
mods = {m.get("id") for m in root.iter("modifierMap")}
for layout in root.iter("layout"):
    assert layout.get("mapSet") in maps and layout.get("modifiers") in mods
keys = 0
for km in root.iter("keyMap"):
    found = km.findall("key")
    assert found, "empty keyMap %s" % km.get("index")
    for k in found:
        assert k.get("action") is None or k.get("action") in actions, k.get("action")
    keys += len(found)
print("%s: %d key maps, %d keys, %d actions" % (root.get("name"), len(list(root.iter("keyMap"))), keys, len(actions)))
