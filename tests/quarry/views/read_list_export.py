"""Reads a list category's export back with common parsers and prints what they saw as
JSON, for the C++ tests to compare with what went in: the CSV with csv, the table page
and the bookmark file with html.parser, the iCalendar file with icalendar and vobject
after a strict check of its lines (CR LF ends, at most 75 octets, no split UTF-8 sequence).

usage: read_list_export.py CATEGORY_FOLDER NAME
"""

import html.parser
import json
import os
import sys

import icalendar
import vobject

from read_export import read_csv


class TablePage(html.parser.HTMLParser):
    """Rows of the report table: cell texts, and whether the row is marked deleted
    (the marker picture in its first cell and the deleted style)."""

    def __init__(self):
        super().__init__(convert_charrefs=True)
        self.rows, self.footer = [], ""
        self.row, self.cell, self.in_footer = None, None, False

    def handle_starttag(self, tag, attrs):
        attrs = dict(attrs)
        if tag == "tr":
            self.row = {"cells": [], "marker": False, "styled": attrs.get("class") == "deleted", "header": False}
        elif tag in ("td", "th") and self.row is not None:
            self.cell = ""
            self.row["header"] = tag == "th"
        elif tag == "img" and self.cell is not None and not self.row["cells"]:
            self.row["marker"] = attrs.get("src") == "Image/deleted_icon.png"
        elif tag == "div" and attrs.get("class") == "date":
            self.in_footer = True

    def handle_endtag(self, tag):
        if tag in ("td", "th") and self.cell is not None:
            self.row["cells"].append(self.cell)
            self.cell = None
        elif tag == "tr" and self.row is not None:
            self.rows.append(self.row)
            self.row = None
        elif tag == "div":
            self.in_footer = False

    def handle_data(self, data):
        if self.cell is not None:
            self.cell += data
        elif self.in_footer:
            self.footer += data


def read_table_page(path):
    page = TablePage()
    with open(path, encoding="utf-8-sig") as f:
        page.feed(f.read())
    page.close()
    return {"footer": page.footer, "rows": page.rows}


class BookmarkFile(html.parser.HTMLParser):
    """Entries of a Netscape bookmark file: link or plain text, and the folder they sit in."""

    def __init__(self):
        super().__init__(convert_charrefs=True)
        self.entries, self.doctype = [], ""
        self.entry, self.in_a, self.in_h3, self.folder = None, False, False, ""

    def handle_decl(self, decl):
        self.doctype = decl

    def handle_starttag(self, tag, attrs):
        attrs = dict(attrs)
        if tag == "dt":
            self.flush()
            self.entry = {"href": None, "link_text": "", "text": "", "url_text": "", "marker": False,
                          "folder": self.folder}
        elif tag == "a" and self.entry is not None:
            self.entry["href"] = attrs.get("href")
            self.in_a = True
        elif tag == "img" and self.entry is not None:
            self.entry["marker"] = attrs.get("src") == "Image/deleted_icon.png"
        elif tag == "h3":
            self.entry = None
            self.in_h3 = True
            self.folder = ""
        elif tag == "tt" and self.entry is not None:
            self.entry["in_tt"] = True

    def handle_endtag(self, tag):
        if tag == "a":
            self.in_a = False
        elif tag == "h3":
            self.in_h3 = False
        elif tag == "tt" and self.entry is not None:
            self.entry["in_tt"] = False
        elif tag == "dl":
            self.flush()
            self.folder = ""

    def handle_data(self, data):
        if self.in_h3:
            self.folder += data
        elif self.entry is not None:
            key = "link_text" if self.in_a else "url_text" if self.entry.get("in_tt") else "text"
            self.entry[key] += data

    def flush(self):
        if self.entry is not None:
            self.entry.pop("in_tt", None)
            self.entry["text"] = self.entry["text"].rstrip("\r\n ")
            self.entries.append(self.entry)
        self.entry = None


def read_bookmarks(path):
    with open(path, "rb") as f:
        data = f.read()
    page = BookmarkFile()
    page.feed(data.decode("utf-8"))
    page.flush()
    page.close()
    return {"bom": data.startswith(b"\xef\xbb\xbf"), "doctype": page.doctype, "entries": page.entries}


def line_problems(data):
    """What RFC 5545 forbids in the physical lines; [] for a clean file."""
    problems = []
    if not data.endswith(b"\r\n"):
        problems.append("no CR LF at the end")
    for number, line in enumerate(data.split(b"\r\n")[:-1], 1):
        if b"\r" in line or b"\n" in line:
            problems.append(f"line {number}: a bare line break")
        if len(line) > 75:
            problems.append(f"line {number}: {len(line)} octets")
        try:
            line.decode("utf-8")
        except UnicodeDecodeError:
            problems.append(f"line {number}: a UTF-8 sequence split by folding")
    return problems


def unescape_list(value):
    """A TEXT list value split at unescaped commas and unescaped (RFC 5545 3.3.11)."""
    items, current, escaped = [], "", False
    for c in value:
        if escaped:
            current += "\n" if c in "nN" else c
            escaped = False
        elif c == "\\":
            escaped = True
        elif c == ",":
            items.append(current)
            current = ""
        else:
            current += c
    return items + [current]


def categories_by_component(text):
    """CATEGORIES of each component, read by hand: the icalendar package of Debian 12
    splits at escaped commas too."""
    found = []
    for line in text.replace("\r\n ", "").replace("\r\n\t", "").split("\r\n"):
        if line.startswith("BEGIN:") and line != "BEGIN:VCALENDAR":
            found.append([])
        elif line.upper().startswith("CATEGORIES") and found:
            found[-1] += unescape_list(line.split(":", 1)[1])
    return found


def ical_value(value):
    if isinstance(value, list):
        return [ical_value(v) for v in value]
    if hasattr(value, "dt"):
        return value.to_ical().decode()
    if hasattr(value, "cats"):
        return [str(c) for c in value.cats]
    return str(value)


def read_ics(path):
    with open(path, "rb") as f:
        data = f.read()
    text = data.decode("utf-8")
    calendar = icalendar.Calendar.from_ical(text)
    components = []
    for component, categories in zip(calendar.subcomponents, categories_by_component(text)):
        props = {k: ical_value(v) for k, v in component.items() if k != "CATEGORIES"}
        components.append({"name": component.name, "props": props, "categories": categories})
    # A second reader: vobject must take the file too.
    second = vobject.readOne(text)
    return {"bom": data.startswith(b"\xef\xbb\xbf"), "problems": line_problems(data),
            "vobject_components": len(list(second.components())),
            "version": str(calendar.get("VERSION", "")), "prodid": str(calendar.get("PRODID", "")),
            "components": components}


def main():
    folder, name = sys.argv[1], sys.argv[2]
    out = {"csv": read_csv(os.path.join(folder, "CSV", name + ".csv"))}
    page = os.path.join(folder, "HTML", name + ".html")
    if name == "Bookmarks":
        out["bookmarks"] = read_bookmarks(page)
    else:
        out["html"] = read_table_page(page)
    ics = os.path.join(folder, "ICS", name + ".ics")
    if os.path.exists(ics):
        out["ics"] = read_ics(ics)
    json.dump(out, sys.stdout, ensure_ascii=False)


if __name__ == "__main__":
    main()
