#!/usr/bin/env python3
"""Writes the English plural forms into translations/ravelwick_en.ts.

The source texts say "%n file(s)"; English needs "1 file" and "2 files". Each numerus message
gets its singular and plural from the source text by the rules below; a text the rules cannot
handle is reported and left unfinished (it then shows as written in the source).
"""
import re
import sys
import xml.etree.ElementTree as ET

PATH = sys.argv[1] if len(sys.argv) > 1 else "translations/ravelwick_en.ts"

# Whole phrases whose singular is more than dropping "(s)".
SINGULAR_PHRASES = [
    ("of the ticked files are hidden", "ticked file is hidden"),
    ("were left in place", "was left in place"),
    ("their names (or their folders' names) are not valid UTF-8 and cannot be opened. Rename them to include them.",
     "its name (or its folder's name) is not valid UTF-8 and cannot be opened. Rename it to include it."),
    ("name(s) of files already found (hard or symbolic links) were counted once",
     "name of a file already found (hard or symbolic link) was counted once"),
    ("They are still checked", "It is still checked"),
    ("they are analysed again", "it is analysed again"),
    ("copies", "copy"),
    ("entries", "entry"),
]


def forms(source):
    singular = source
    for many, one in SINGULAR_PHRASES:
        singular = singular.replace(many, one)
    singular = singular.replace("(s)", "")
    plural = source.replace("(s)", "s")
    return singular, plural


def main():
    tree = ET.parse(PATH)
    unchanged = 0
    for message in tree.iter("message"):
        if message.get("numerus") != "yes":
            continue
        source = message.find("source").text
        singular, plural = forms(source)
        if singular == plural:
            print("no plural rule for:", repr(source), file=sys.stderr)
            unchanged += 1
            continue
        translation = message.find("translation")
        for child in list(translation):
            translation.remove(child)
        translation.attrib.pop("type", None)
        translation.text = None
        for text in (singular, plural):
            form = ET.SubElement(translation, "numerusform")
            form.text = text
    tree.write(PATH, encoding="utf-8", xml_declaration=True)
    # ElementTree drops the DOCTYPE lupdate and lrelease expect.
    with open(PATH, encoding="utf-8") as f:
        text = f.read()
    if "<!DOCTYPE TS>" not in text:
        text = text.replace("?>\n", "?>\n<!DOCTYPE TS>\n", 1)
    with open(PATH, "w", encoding="utf-8") as f:
        f.write(text)
    return 1 if unchanged else 0


if __name__ == "__main__":
    sys.exit(main())
