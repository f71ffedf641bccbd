"""Writes Apple "typedstream" archives (NSArchiver's format), in which newer
Messages keeps a message's text as an NSAttributedString.

The writer mirrors what the reader in sieve/extractors/typedstream.h expects:
a version byte (4), the counted signature "streamtyped", the system version
(1000); then groups of values, each a type string and a value per type
character. Type strings and class names are shared through one table,
objects and classes through a second; a repeat is written as a reference
(its table index plus 0x92). Integers are one signed byte, or 0x81 and an
int16, or 0x82 and an int32, little-endian.
"""

import struct

NEW = 0x84
NIL = 0x85
END = 0x86
REFERENCE_BASE = 0x92


def integer(value):
    if -110 <= value <= 127:  # lower single bytes are the tags
        return struct.pack("<b", value)
    if -32768 <= value <= 32767:
        return b"\x81" + struct.pack("<h", value)
    return b"\x82" + struct.pack("<i", value)


def reference(index):
    return integer(index + REFERENCE_BASE - 0x100)  # 0x92 names the first item


class Writer:
    def __init__(self):
        self.out = bytearray(b"\x04" + bytes([11]) + b"streamtyped" + integer(1000))
        self.strings = []   # shared strings in table order
        self.items = []     # ("class", name) and ("object", id) in table order

    def shared(self, text):
        data = text.encode("utf-8")
        if data in self.strings:
            self.out += reference(self.strings.index(data))
            return
        self.strings.append(data)
        self.out += bytes([NEW]) + integer(len(data)) + data

    def klass(self, chain):
        """A class and its superclasses: ["NSMutableString", "NSString", "NSObject"]."""
        if not chain:
            self.out.append(NIL)
            return
        key = ("class", chain[0])
        if key in self.items:
            self.out += reference(self.items.index(key))
            return
        self.items.append(key)
        self.out.append(NEW)
        self.shared(chain[0])
        self.out += integer(1 if chain[0] in ("NSString", "NSMutableString") else 0)
        self.klass(chain[1:])

    def begin_object(self, chain):
        self.items.append(("object", len(self.items)))
        self.out.append(NEW)
        self.klass(chain)

    def end_object(self):
        self.out.append(END)

    def group(self, types):
        self.shared(types)

    def raw(self, data):
        self.out += integer(len(data)) + data

    def number(self, value):
        self.out += integer(value)


def _string_object(w, text, mutable):
    chain = ["NSMutableString", "NSString", "NSObject"] if mutable else ["NSString", "NSObject"]
    w.begin_object(chain)
    w.group("+")
    w.raw(text.encode("utf-8"))
    w.end_object()


def _number_object(w, value):
    w.begin_object(["NSNumber", "NSValue", "NSObject"])
    w.group("*")
    w.out.append(NEW)
    w.shared("i")
    w.group("i")
    w.number(value)
    w.end_object()


def attributed_string(text, mutable=False, part=0):
    """An archived NSAttributedString holding `text` in one run that carries the
    message-part attribute, as Messages writes a message body."""
    w = Writer()
    w.group("@")
    w.begin_object(["NSMutableAttributedString", "NSAttributedString", "NSObject"] if mutable
                   else ["NSAttributedString", "NSObject"])
    w.group("@")
    _string_object(w, text, mutable)
    # The run: its start and length in UTF-16 units, then its attributes.
    w.group("iI")
    w.number(1)
    w.number(len(text.encode("utf-16-le")) // 2)
    w.group("@")
    w.begin_object(["NSDictionary", "NSObject"])
    w.group("i")
    w.number(1)
    w.group("@")
    _string_object(w, "__kIMMessagePartAttributeName", False)
    w.group("@")
    _number_object(w, part)
    w.end_object()
    w.end_object()
    return bytes(w.out)
