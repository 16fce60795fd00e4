#!/usr/bin/env python3
"""Reads a .keylayout with Python's own XML parser, as a second reader beside
libxml2: every action, map set and modifier map a reference names exists, and
every key map has keys. Prints the counts; exit 1 on the first fault.

Control characters are written as character references (&#x0008;), as
Apple's own files write them, but XML 1.0 forbids references to code points
below U+0020 other than tab, line feed and return. Like every reader of the
tests (see keylayout_interpreter.h), this one substitutes each such reference
by one to the Private Use code point U+100000 plus it before parsing, and
maps those back in what it reads; a file already holding one is refused."""
import re
import sys
import xml.etree.ElementTree as ET

STAND_IN = 0x100000


def reference(m):
    value = int(m.group(1)[1:], 16) if m.group(1)[0] in "xX" else int(m.group(1))
    assert not STAND_IN <= value < STAND_IN + 0x20, "the file already holds a stand-in code point"
    if value < 0x20 and value not in (0x09, 0x0A, 0x0D):
        return "&#x%X;" % (STAND_IN + value)
    return m.group(0)


def back(text):
    return "".join(chr(ord(c) - STAND_IN) if STAND_IN <= ord(c) < STAND_IN + 0x20 else c for c in text)


with open(sys.argv[1], encoding="utf-8") as f:
    text = f.read()
assert not any(STAND_IN <= ord(c) < STAND_IN + 0x20 for c in text), "the file already holds a stand-in code point"
root = ET.fromstring(re.sub(r"&#([xX][0-9A-Fa-f]+|[0-9]+);", reference, text).encode("utf-8"))
assert root.tag == "keyboard", root.tag
actions = {a.get("id") for a in root.iter("action")}
maps = {m.get("id") for m in root.iter("keyMapSet")}
mods = {m.get("id") for m in root.iter("modifierMap")}
for layout in root.iter("layout"):
    assert layout.get("mapSet") in maps and layout.get("modifiers") in mods
keys = controls = 0
for km in root.iter("keyMap"):
    found = km.findall("key")
    assert found, "empty keyMap %s" % km.get("index")
    for k in found:
        assert k.get("action") is None or k.get("action") in actions, k.get("action")
        controls += any(ord(c) < 0x20 for c in back(k.get("output") or ""))
    keys += len(found)
print("%s: %d key maps, %d keys (%d typing a control character), %d actions"
      % (root.get("name"), len(list(root.iter("keyMap"))), keys, controls, len(actions)))
