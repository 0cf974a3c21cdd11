#!/usr/bin/python3
"""Checks the wire-message tables and generates the code made from them.

Every wire message is described by one table in analytics/wire/tables/<family>.md:

    ## GWLPBFilter "Filter"

    | index | tag | wire type | label | value type | sub-message | name | meaning |
    |---|---|---|---|---|---|---|---|
    | 0 | 1 | message | singular | message | GWLPBStringFilter | string_filter | |

A family file also says `max depth: N`, the deepest nesting its messages accept
when decoding or encoding. The meaning column may hold "descriptor default V".

    wire_tables.py check TABLES...                      check the tables only
    wire_tables.py list TABLES...                       print the class names, separated by ';'
    wire_tables.py generate --proto FILE --cpp DIR TABLES...

`generate` writes a proto2 file (package tabulo.wire, one message per table,
fields in tag order) for nanopb's generator and protoc, and, under DIR, one C++
header and source per message class (flags table, field table, class with its
field-index constants) plus WireMessages.h/.cc listing every message type.
Files whose content is unchanged are not rewritten. Standard library only.
"""

import keyword
import os
import re
import sys

PACKAGE = "tabulo.wire"
C_PREFIX = "tabulo_wire_"
PROTO_FILE = "tabulo_wire.proto"

LABEL_BITS = {"singular": 0x2, "repeated": 0x8}
TYPE_BITS = {
    "bool": 0x20, "enum": 0x40, "int32": 0x80, "uint32": 0x100, "int64": 0x200, "uint64": 0x400,
    "float": 0x800, "double": 0x1000, "string": 0x2000, "message": 0x4000, "bytes": 0x8000,
}
# Which value types each wire type may carry.
WIRE_TYPES = {
    "bool": {"bool"},
    "varint": {"int32", "int64", "enum"},
    "uvarint": {"uint32", "uint64", "enum"},
    "fixed32": {"float"},
    "fixed64": {"double"},
    "string": {"string"},
    "bytes": {"bytes"},
    "message": {"message"},
}
# The number each wire type has on the wire.
WIRE_TYPE_NUMBERS = {"bool": 0, "varint": 0, "uvarint": 0, "fixed64": 1, "string": 2, "bytes": 2, "message": 2,
                     "fixed32": 5}
# The proto2 type of a (wire type, value type) pair; enums are plain integers.
PROTO_TYPES = {
    ("bool", "bool"): "bool",
    ("varint", "int32"): "int32", ("varint", "enum"): "int32", ("varint", "int64"): "int64",
    ("uvarint", "uint32"): "uint32", ("uvarint", "enum"): "uint32", ("uvarint", "uint64"): "uint64",
    ("fixed32", "float"): "float", ("fixed64", "double"): "double",
    ("string", "string"): "string", ("bytes", "bytes"): "bytes",
}
# The C type nanopb gives a static scalar member.
C_TYPES = {
    "bool": "bool", "int32": "int32_t", "uint32": "uint32_t", "int64": "int64_t", "uint64": "uint64_t",
    "float": "float", "double": "double",
}
# Repeated values the runtime's callbacks carry (all varints, strings, bytes, messages).
REPEATABLE = {"bool", "enum", "int32", "uint32", "int64", "uint64", "string", "bytes", "message"}
CPP_KEYWORDS = set("""alignas alignof and and_eq asm auto bitand bitor bool break case catch char char8_t char16_t
char32_t class compl concept const consteval constexpr constinit const_cast continue co_await co_return co_yield
decltype default delete do double dynamic_cast else enum explicit export extern false float for friend goto if
inline int long mutable namespace new noexcept not not_eq nullptr operator or or_eq private protected public
register reinterpret_cast requires return short signed sizeof static static_assert static_cast struct switch
template this thread_local throw true try typedef typeid typename union unsigned using virtual void volatile
wchar_t while xor xor_eq""".split())
COLUMNS = ["index", "tag", "wire type", "label", "value type", "sub-message", "name", "meaning"]
IDENTIFIER = re.compile(r"^[A-Za-z_][A-Za-z0-9_]*$")


class TableError(Exception):
    pass


class Field:
    def __init__(self, where, cells):
        self.where = where
        self.index_text, self.tag_text, self.wire, self.label, self.value, sub, self.name, meaning = cells
        self.sub = None if sub in ("-", "") else sub
        match = re.search(r"descriptor default (\S+)$", meaning)
        self.default = match.group(1) if match else None

    @property
    def flags(self):
        return LABEL_BITS[self.label] | TYPE_BITS[self.value]

    @property
    def repeated(self):
        return self.label == "repeated"

    @property
    def callback(self):
        return self.repeated or self.value in ("string", "bytes")


class Message:
    def __init__(self, where, class_name, name, family, max_depth):
        self.where = where
        self.class_name = class_name
        self.name = name
        self.family = family
        self.max_depth = max_depth
        self.fields = []

    def tag_order(self):
        return sorted(self.fields, key=lambda f: f.tag)


def parse_tables(paths):
    messages = []
    for path in paths:
        family = os.path.splitext(os.path.basename(path))[0]
        max_depth = None
        current = None
        with open(path, encoding="utf-8") as handle:
            for number, line in enumerate(handle, 1):
                where = "%s:%d" % (path, number)
                line = line.rstrip("\n")
                match = re.match(r"^max depth:\s*(\d+)\s*$", line)
                if match:
                    max_depth = int(match.group(1))
                    continue
                match = re.match(r'^## (\w+) "([^"]*)"\s*$', line)
                if match:
                    if max_depth is None:
                        raise TableError("%s: 'max depth:' must come before the first message" % where)
                    current = Message(where, match.group(1), match.group(2), family, max_depth)
                    messages.append(current)
                    continue
                if not line.startswith("|"):
                    continue
                cells = [cell.strip() for cell in line.strip().strip("|").split("|")]
                if cells == COLUMNS or all(re.fullmatch(r"-+", cell) for cell in cells):
                    continue
                if current is None:
                    raise TableError("%s: table row outside a message" % where)
                if len(cells) != len(COLUMNS):
                    raise TableError("%s: expected %d columns, found %d" % (where, len(COLUMNS), len(cells)))
                current.fields.append(Field(where, cells))
    return messages


def check(messages):
    """Raises TableError listing every fault of the tables."""
    errors = []
    by_class = {}
    names = {}
    for message in messages:
        if not IDENTIFIER.match(message.class_name):
            errors.append("%s: class name %r is not an identifier" % (message.where, message.class_name))
        if not IDENTIFIER.match(message.name):
            errors.append("%s: message name %r is not an identifier" % (message.where, message.name))
        if message.class_name in by_class:
            errors.append("%s: class %s is defined twice" % (message.where, message.class_name))
        if message.name in names:
            errors.append("%s: message name %r is used by %s too" % (message.where, message.name, names[message.name]))
        by_class[message.class_name] = message
        names[message.name] = message.class_name
        if not message.fields:
            errors.append("%s: %s has no fields" % (message.where, message.class_name))
        if message.max_depth < 1:
            errors.append("%s: max depth must be at least 1" % message.where)
        tags = {}
        field_names = set()
        for position, field in enumerate(message.fields):
            where = field.where
            if field.index_text != str(position):
                errors.append("%s: index %s where %d was expected (indexes run from 0 without gaps)"
                              % (where, field.index_text, position))
            try:
                field.tag = int(field.tag_text)
            except ValueError:
                field.tag = None
                errors.append("%s: tag %r is not a number" % (where, field.tag_text))
            if field.tag is not None:
                if not (1 <= field.tag <= 536870911) or 19000 <= field.tag <= 19999:
                    errors.append("%s: tag %d is not a valid field number" % (where, field.tag))
                if field.tag in tags:
                    errors.append("%s: tag %d is used by %s too" % (where, field.tag, tags[field.tag]))
                tags[field.tag] = field.name
            if field.wire not in WIRE_TYPES:
                errors.append("%s: unknown wire type %r" % (where, field.wire))
            if field.value not in TYPE_BITS:
                errors.append("%s: unknown value type %r" % (where, field.value))
            elif field.wire in WIRE_TYPES and field.value not in WIRE_TYPES[field.wire]:
                errors.append("%s: wire type %s cannot carry value type %s" % (where, field.wire, field.value))
            if field.label not in LABEL_BITS:
                errors.append("%s: unknown label %r" % (where, field.label))
            elif field.repeated and field.value not in REPEATABLE:
                errors.append("%s: repeated %s fields are not supported" % (where, field.value))
            if field.value == "message" and not field.sub:
                errors.append("%s: message field %s names no sub-message" % (where, field.name))
            if field.value != "message" and field.sub:
                errors.append("%s: %s field %s names a sub-message" % (where, field.value, field.name))
            if not IDENTIFIER.match(field.name) or field.name in CPP_KEYWORDS or keyword.iskeyword(field.name):
                errors.append("%s: field name %r cannot be used" % (where, field.name))
            if field.name in field_names:
                errors.append("%s: field name %s is used twice" % (where, field.name))
            field_names.add(field.name)
            if field.default is not None and (field.repeated or field.value in ("message", "string", "bytes")):
                errors.append("%s: only singular scalars take a descriptor default" % where)
        for field in message.fields:
            if not field.repeated and field.value != "message" and "has_" + field.name in field_names:
                errors.append("%s: field name has_%s collides with the has flag of %s"
                              % (field.where, field.name, field.name))
    for message in messages:
        for field in message.fields:
            if field.sub and field.sub not in by_class:
                errors.append("%s: sub-message %s is not defined" % (field.where, field.sub))
    if not errors:
        # Singular sub-messages are embedded by value: they must not contain themselves.
        def embeds(message, path):
            for field in message.fields:
                if field.value == "message" and not field.repeated:
                    if field.sub in path:
                        errors.append("%s: %s embeds itself through singular sub-messages"
                                      % (field.where, field.sub))
                        return
                    embeds(by_class[field.sub], path | {field.sub})
        for message in messages:
            embeds(message, {message.class_name})
    if errors:
        raise TableError("\n".join(errors))
    return by_class


def shapes(messages, by_class):
    """Whether each message has arrays in its tree and whether it has callbacks."""
    has_arrays = {}

    def arrays(message):
        if message.class_name not in has_arrays:
            has_arrays[message.class_name] = any(
                f.repeated or (f.value == "message" and arrays(by_class[f.sub])) for f in message.fields)
        return has_arrays[message.class_name]

    for message in messages:
        arrays(message)
    callbacks = {m.class_name: any(f.callback for f in m.fields) for m in messages}
    return has_arrays, callbacks


def proto_default(field):
    if field.default is None:
        return ""
    value = field.default
    if field.value == "bool":
        value = "true" if value in ("1", "true", "YES") else "false"
    return " [default = %s]" % value


def generate_proto(messages, by_class):
    lines = ["// Generated by analytics/wire/wire_tables.py from analytics/wire/tables/. Do not edit.",
             'syntax = "proto2";', "", "package %s;" % PACKAGE]
    for message in messages:
        lines.append("")
        lines.append("// %s (%s)" % (message.class_name, message.family))
        lines.append("message %s {" % message.name)
        for field in message.tag_order():
            if field.value == "message":
                type_name = by_class[field.sub].name
            else:
                type_name = PROTO_TYPES[(field.wire, field.value)]
            label = "repeated" if field.repeated else "optional"
            lines.append("  %s %s %s = %d%s;" % (label, type_name, field.name, field.tag, proto_default(field)))
        lines.append("}")
    return "\n".join(lines) + "\n"


def member_type(field, by_class):
    if field.callback:
        return "pb_callback_t"
    if field.value == "message":
        return C_PREFIX + by_class[field.sub].name
    if field.value == "enum":
        return "int32_t" if field.wire == "varint" else "uint32_t"
    return C_TYPES[field.value]


def generate_header(message):
    constants = ",\n".join("      %s = %d" % (f.name, i) for i, f in enumerate(message.fields))
    return """// %(cls)s — the wire message "%(name)s" (%(family)s).
// Generated by analytics/wire/wire_tables.py from analytics/wire/tables/%(family)s.md. Do not edit.
// Read and write its fields with the accessors of analytics/wire/NANO.h, by the indexes in Field.
#pragma once

#include <cstdint>
#include <memory>

#include "analytics/wire/NANOMessageBase.h"

class %(cls)s final : public NANOMessage<%(cls)s> {
 public:
  // Field indexes, in declaration order.
  struct Field {
    enum : int32_t {
%(constants)s
    };
  };
  static constexpr int32_t kFieldCount = %(count)d;

  static const NANOMessageType kType;
  static const NANOMessageType& type() { return kType; }

 private:
  friend class NANOMessage<%(cls)s>;
  explicit %(cls)s(std::unique_ptr<NANOMessageInfo> info) : NANOMessage(std::move(info)) {}
};
""" % {"cls": message.class_name, "name": message.name, "family": message.family, "constants": constants,
       "count": len(message.fields)}


def generate_source(message, by_class, has_arrays, callbacks):
    struct = C_PREFIX + message.name
    subs = sorted({f.sub for f in message.fields if f.sub and f.sub != message.class_name})
    includes = "".join('#include "analytics/wire/%s.h"\n' % sub for sub in subs)
    flags = ", ".join("0x%x" % f.flags for f in message.fields)
    asserts = []
    rows = []
    for field in message.fields:
        ctype = member_type(field, by_class)
        asserts.append("static_assert(std::is_same_v<decltype(Struct::%s), %s>);" % (field.name, ctype))
        if field.callback:
            has = "-1"
        else:
            asserts.append("static_assert(std::is_same_v<decltype(Struct::has_%s), bool>);" % field.name)
            has = "static_cast<int32_t>(offsetof(Struct, has_%s))" % field.name
        sub = "&%s::kType" % field.sub if field.sub else "nullptr"
        rows.append('    {%d, %d, 0x%x, "%s", %s, static_cast<uint32_t>(offsetof(Struct, %s)), %s},'
                    % (message.fields.index(field), field.tag, field.flags, field.name, sub, field.name, has))
    # The codec's walk: fields in tag order with their keys.
    wire_rows = ["    {0x%x, %d, %s}," % ((f.tag << 3) | WIRE_TYPE_NUMBERS[f.wire], message.fields.index(f),
                                       "true" if f.wire == "varint" else "false")
                 for f in message.tag_order()]
    return """// Generated by analytics/wire/wire_tables.py from analytics/wire/tables/%(family)s.md. Do not edit.
#include "analytics/wire/%(cls)s.h"

#include <cstddef>
#include <type_traits>

#include "tabulo_wire.pb.h"
%(includes)s
namespace {
using Struct = %(struct)s;
%(asserts)s

constinit const NANOFieldFlags kFlags[] = {%(flags)s};

constinit const NANOFieldType kFields[] = {
%(rows)s
};

constinit const NANOWireField kWireOrder[] = {
%(wire_rows)s
};
}  // namespace

constinit const NANOMessageType %(cls)s::kType = {
    "%(name)s", "%(cls)s", %(count)d, kFlags, kFields, &%(struct)s_msg, sizeof(Struct),
    %(arrays)s, %(callbacks)s, %(depth)d, &NANOMessage<%(cls)s>::wrap, kWireOrder,
};
""" % {"family": message.family, "cls": message.class_name, "includes": includes, "struct": struct,
       "asserts": "\n".join(asserts), "flags": flags, "rows": "\n".join(rows), "name": message.name,
       "count": len(message.fields), "arrays": "true" if has_arrays[message.class_name] else "false",
       "callbacks": "true" if callbacks[message.class_name] else "false", "depth": message.max_depth,
       "wire_rows": "\n".join(wire_rows)}


def generate_index(messages):
    includes = "".join('#include "analytics/wire/%s.h"\n' % m.class_name for m in messages)
    header = """// WireMessages — every wire message class, and the list of their types.
// Generated by analytics/wire/wire_tables.py from analytics/wire/tables/. Do not edit.
#pragma once

#include <span>

%(includes)s
// The type of every wire message, in table order.
std::span<const NANOMessageType* const> WireMessageTypes();
""" % {"includes": includes}
    entries = "\n".join("    &%s::kType," % m.class_name for m in messages)
    source = """// Generated by analytics/wire/wire_tables.py from analytics/wire/tables/. Do not edit.
#include "analytics/wire/WireMessages.h"

namespace {
constinit const NANOMessageType* const kTypes[] = {
%s
};
}  // namespace

std::span<const NANOMessageType* const> WireMessageTypes() { return kTypes; }
""" % entries
    return header, source


def write_if_changed(path, content):
    try:
        with open(path, encoding="utf-8") as handle:
            if handle.read() == content:
                return
    except FileNotFoundError:
        pass
    os.makedirs(os.path.dirname(path) or ".", exist_ok=True)
    with open(path + ".tmp", "w", encoding="utf-8") as handle:
        handle.write(content)
    os.replace(path + ".tmp", path)


def main(argv):
    if len(argv) < 2 or argv[1] not in ("check", "list", "generate"):
        sys.stderr.write(__doc__)
        return 2
    command, args = argv[1], argv[2:]
    proto_path = cpp_dir = None
    tables = []
    while args:
        arg = args.pop(0)
        if arg == "--proto" and args:
            proto_path = args.pop(0)
        elif arg == "--cpp" and args:
            cpp_dir = args.pop(0)
        else:
            tables.append(arg)
    if not tables:
        sys.stderr.write("wire_tables.py: no table files given\n")
        return 2
    try:
        messages = parse_tables(sorted(tables))
        by_class = check(messages)
    except TableError as error:
        sys.stderr.write("wire_tables.py: the tables have faults:\n%s\n" % error)
        return 1
    if command == "check":
        print("%d messages, %d fields" % (len(messages), sum(len(m.fields) for m in messages)))
        return 0
    if command == "list":
        sys.stdout.write(";".join(m.class_name for m in messages))
        return 0
    if not proto_path or not cpp_dir:
        sys.stderr.write("wire_tables.py: generate needs --proto FILE and --cpp DIR\n")
        return 2
    has_arrays, callbacks = shapes(messages, by_class)
    write_if_changed(proto_path, generate_proto(messages, by_class))
    for message in messages:
        base = os.path.join(cpp_dir, message.class_name)
        write_if_changed(base + ".h", generate_header(message))
        write_if_changed(base + ".cc", generate_source(message, by_class, has_arrays, callbacks))
    header, source = generate_index(messages)
    write_if_changed(os.path.join(cpp_dir, "WireMessages.h"), header)
    write_if_changed(os.path.join(cpp_dir, "WireMessages.cc"), source)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
