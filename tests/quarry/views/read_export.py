"""Reads a contacts export back with common parsers (csv, vobject, html.parser) and prints
what they saw as JSON, for the C++ tests to compare with what went in.

usage: read_export.py CONTACTS_FOLDER
       read_export.py --chats FOLDER NAME   (a messages or WhatsApp export: NAME.html, NAME.csv)
"""

import csv
import html.parser
import io
import json
import os
import sys

import vobject


def read_csv(path):
    with open(path, "rb") as f:
        data = f.read()
    bom = data.startswith(b"\xef\xbb\xbf")
    rows = list(csv.reader(io.StringIO(data.decode("utf-8-sig"), newline=""), strict=True))
    return {"bom": bom, "rows": rows}


def value_of(line):
    value = line.value
    if line.name == "N":
        return [value.family, value.given, value.additional, value.prefix, value.suffix]
    if line.name == "ADR":
        return [value.box, value.extended, value.street, value.city, value.region, value.code, value.country]
    if line.name == "ORG":
        return list(value)
    if isinstance(value, bytes):
        return value.hex()
    return str(value)


def read_vcard(path):
    with open(path, "rb") as f:
        data = f.read()
    # Parsed as the file stands: a byte-order mark in front is the parser's problem.
    cards = list(vobject.readComponents(data.decode("utf-8")))
    lines = []
    for card in cards:
        for line in card.getChildren():
            lines.append({"name": line.name, "group": line.group or "",
                          "params": {k: v for k, v in line.params.items()}, "value": value_of(line)})
    return {"bom": data.startswith(b"\xef\xbb\xbf"), "cards": len(cards), "lines": lines}


class Page(html.parser.HTMLParser):
    """Table rows as lists of cell texts, list items, the texts of the name, company and
    department boxes, and the zone footer."""

    def __init__(self):
        super().__init__()
        self.rows, self.items, self.footer, self.divs = [], [], [], {}
        self.row, self.cell, self.li, self.date, self.div = None, None, None, False, None

    def handle_starttag(self, tag, attrs):
        attrs = dict(attrs)
        if tag == "tr":
            self.row = []
        elif tag in ("td", "th") and self.row is not None:
            self.cell = ""
        elif tag == "li":
            self.li = ""
        elif tag == "div" and attrs.get("class") == "date":
            self.date = True
        elif tag == "div" and attrs.get("class") in ("name", "company", "department"):
            self.div = self.divs.setdefault(attrs["class"], [])
            self.div.append("")

    def handle_endtag(self, tag):
        if tag in ("td", "th") and self.cell is not None:
            self.row.append(self.cell.strip())
            self.cell = None
        elif tag == "tr" and self.row is not None:
            self.rows.append(self.row)
            self.row = None
        elif tag == "li" and self.li is not None:
            self.items.append(self.li.strip())
            self.li = None
        elif tag == "div" and self.date:
            self.date = False
        elif tag == "div" and self.div is not None:
            self.div[-1] = self.div[-1].strip()
            self.div = None

    def handle_data(self, data):
        if self.cell is not None:
            self.cell += data
        if self.li is not None:
            self.li += data
        if self.date:
            self.footer.append(data.strip())
        if self.div is not None:
            self.div[-1] += data


def read_html(path):
    page = Page()
    with open(path, encoding="utf-8-sig") as f:
        page.feed(f.read())
    page.close()
    return {"rows": page.rows, "items": page.items, "divs": page.divs, "footer": " ".join(page.footer)}


class ChatPage(html.parser.HTMLParser):
    """Tab labels, and per conversation its bubbles and system lines: class, text (<br> as a
    line break), whether it is marked deleted, the links and pictures of its attachment, the
    group member who wrote it and its map link."""

    def __init__(self):
        super().__init__()
        self.tabs, self.chats = [], []
        self.li, self.bubble, self.depth, self.in_attachment = None, None, 0, False

    def handle_starttag(self, tag, attrs):
        attrs = dict(attrs)
        cls = attrs.get("class") or ""
        if tag == "li":
            self.li = {"text": "", "deleted": False}
        elif tag == "div" and (attrs.get("id") or "").startswith("myTab1_Content"):
            self.chats.append([])
        elif tag == "div" and cls in ("in", "out", "system"):
            self.bubble = {"class": cls, "text": "", "deleted": False, "hrefs": [], "imgs": [], "attachment": "",
                           "sender": "", "map": ""}
            self.depth = 0
        elif self.bubble is not None:
            if tag == "div":
                self.depth += 1
                self.in_attachment = cls if cls in ("attachment", "sender", "map") else False
            elif tag == "br" and not self.in_attachment:
                self.bubble["text"] += "\n"
            elif tag == "span" and cls == "deleted":
                self.bubble["deleted"] = True
            elif tag == "a":
                self.bubble["hrefs"].append(attrs.get("href"))
            elif tag == "img" and self.in_attachment:
                self.bubble["imgs"].append(attrs.get("src"))
        elif self.li is not None and tag == "span" and cls == "deleted":
            self.li["deleted"] = True

    def handle_endtag(self, tag):
        if tag == "li" and self.li is not None:
            self.tabs.append(self.li)
            self.li = None
        elif tag == "div" and self.bubble is not None:
            if self.depth > 0:
                self.depth -= 1
                self.in_attachment = False
            else:
                self.bubble["text"] = self.bubble["text"].strip("\n")
                self.chats[-1].append(self.bubble)
                self.bubble = None

    def handle_data(self, data):
        if self.li is not None:
            self.li["text"] += data
        if self.bubble is not None:
            if self.in_attachment:
                self.bubble[self.in_attachment] += data
            else:
                self.bubble["text"] += data


def read_chats(folder, name):
    page = ChatPage()
    with open(os.path.join(folder, "HTML", name + ".html"), encoding="utf-8-sig") as f:
        page.feed(f.read())
    page.close()
    return {"csv": read_csv(os.path.join(folder, "CSV", name + ".csv")), "tabs": page.tabs, "chats": page.chats}


def main():
    if sys.argv[1] == "--chats":
        json.dump(read_chats(sys.argv[2], sys.argv[3]), sys.stdout, ensure_ascii=False)
        return
    folder = sys.argv[1]
    out = {"csv": read_csv(os.path.join(folder, "CSV", "Contacts.csv")),
           "html": read_html(os.path.join(folder, "HTML", "Contacts.html")), "vcards": {}}
    for name in sorted(os.listdir(os.path.join(folder, "VCF")) if os.path.isdir(os.path.join(folder, "VCF")) else []):
        out["vcards"][name] = read_vcard(os.path.join(folder, "VCF", name))
    json.dump(out, sys.stdout, ensure_ascii=False)


if __name__ == "__main__":
    main()
