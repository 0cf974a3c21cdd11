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
    wire_tables.py generate --proto FILE --cpp DIR [--test FILE] TABLES...

`generate` writes a proto2 file (package tabulo.wire, one message per table,
fields in tag order) for nanopb's generator and protoc, and, under DIR, one C++
header and source per message class plus WireMessages.h/.cc listing every
message type. A message's header and source hold its class (field-index
constants and one typed accessor set per field, commented with the field's
meaning), its template functions ({Class}InitMessageInfo to
{Class}EncodeRepeated, as its shape calls for them) and its tables (flags,
fields, fields in wire order with their key bytes). `--test` also writes a
GoogleTest source that calls every generated function and accessor. Files
whose content is unchanged are not rewritten. Standard library only.
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
# One presence bit per field in a 64-bit word.
MAX_FIELDS = 64
COLUMNS = ["index", "tag", "wire type", "label", "value type", "sub-message", "name", "meaning"]
IDENTIFIER = re.compile(r"^[A-Za-z_][A-Za-z0-9_]*$")


class TableError(Exception):
    pass


class Field:
    def __init__(self, where, cells):
        self.where = where
        self.index_text, self.tag_text, self.wire, self.label, self.value, sub, self.name, meaning = cells
        self.sub = None if sub in ("-", "") else sub
        self.meaning = meaning
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
    check_accessors(messages)
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


# How each field goes onto the wire (NANOWireKind).
def wire_kind(field):
    if field.repeated:
        if field.value == "message":
            return "RepeatedMessage"
        if field.value in ("string", "bytes"):
            return "RepeatedBytes"
        return "RepeatedVarint"
    if field.value == "bool":
        return "Bool"
    if field.value in ("int32", "enum", "uint32"):
        return "SignedVarint32" if field.wire == "varint" else "Varint32"
    if field.value in ("int64", "uint64"):
        return "Varint64"
    return {"float": "Fixed32", "double": "Fixed64", "string": "Bytes", "bytes": "Bytes",
            "message": "Message"}[field.value]


def varint_bytes(value):
    out = []
    while value >= 0x80:
        out.append((value & 0x7F) | 0x80)
        value >>= 7
    out.append(value)
    return out


def key_of(field):
    return (field.tag << 3) | WIRE_TYPE_NUMBERS[field.wire]


def camel(name):
    parts = name.split("_")
    return parts[0] + "".join(part[:1].upper() + part[1:] for part in parts[1:])


def pascal(name):
    text = camel(name)
    return text[:1].upper() + text[1:]


# Member names of every message class that the typed accessors must leave alone.
RESERVED_MEMBERS = {"type", "kType", "kFieldCount", "Field", "messageID", "messageInfo", "messageType", "protoBuffer",
                    "initMessageInfoFn", "deallocMessageFieldFn", "copyMessageInfoFn", "initWithMessageInfo",
                    "initWithBuffer", "wrap"}

# The C++ type of a typed accessor's value, by value type (enums read as int32, as NANOGetInt32 gives them).
TYPED_SCALARS = {"bool": "bool", "enum": "int32_t", "int32": "int32_t", "uint32": "uint32_t", "int64": "int64_t",
                 "uint64": "uint64_t", "float": "float", "double": "double"}


def accessor_names(field):
    """The typed accessors of a field: getter, has, set, clear and (lists) count."""
    names = {"get": camel(field.name), "set": "set" + pascal(field.name), "clear": "clear" + pascal(field.name)}
    if field.repeated:
        names["count"] = camel(field.name) + "Count"
    else:
        names["has"] = "has" + pascal(field.name)
        if field.value in TYPED_SCALARS:
            names["put"] = "put" + pascal(field.name)
    return names


def check_accessors(messages):
    errors = []
    for message in messages:
        seen = {}
        for field in message.fields:
            for name in accessor_names(field).values():
                if name in RESERVED_MEMBERS:
                    errors.append("%s: the accessor %s of %s would hide a member of every message"
                                  % (field.where, name, field.name))
                elif name in seen:
                    errors.append("%s: the accessor %s of %s is also one of %s" % (field.where, name, field.name,
                                                                                   seen[name]))
                seen[name] = field.name
        if len(message.fields) > MAX_FIELDS:
            errors.append("%s: %s has %d fields; a message holds at most %d" % (message.where, message.class_name,
                                                                                 len(message.fields), MAX_FIELDS))
    if errors:
        raise TableError("\n".join(errors))


def elements(messages):
    """The classes that are the element of a repeated field."""
    return {f.sub for m in messages for f in m.fields if f.repeated and f.value == "message"}


def roles(message, has_arrays, callbacks, element_classes):
    """The template functions a message has, by its shape."""
    singular_stored = any(not f.repeated and not f.callback for f in message.fields)
    singular_subs = any(not f.repeated and f.value == "message" for f in message.fields)
    result = ["InitMessageInfo"]
    if has_arrays[message.class_name]:
        result.append("AllocateArrays")
    if singular_stored:
        result.append("StoreDecodedValues")
    result += ["DeallocMessageField", "FreeMessageInfo", "CopyMessageInfo"]
    if callbacks[message.class_name] or singular_subs:
        result.append("SetDecoders")
    result.append("Decode")
    if message.class_name in element_classes:
        result.append("DecodeRepeated")
    result += ["SetEncoders", "Encode"]
    if message.class_name in element_classes:
        result.append("EncodeRepeated")
    return result


ROLE_SIGNATURES = {
    "InitMessageInfo": ("bool", "NANOMessageInfo* info", "initMessageInfo(info)"),
    "AllocateArrays": ("bool", "NANOMessageInfo* info", "allocateArrays(info)"),
    "StoreDecodedValues": ("bool", "const void* pbStruct, NANOMessageInfo* info", "storeDecodedValues(pbStruct, info)"),
    "DeallocMessageField": ("bool", "NANOMessageInfo* info, int32_t index", "deallocMessageField(info, index)"),
    "FreeMessageInfo": ("bool", "NANOMessageInfo* info", "freeMessageInfo(info)"),
    "CopyMessageInfo": ("bool", "NANOMessageInfo** destination, const NANOMessageInfo* source",
                        "copyMessageInfo(destination, source)"),
    "SetDecoders": ("bool", "NANOMessageInfo* info, void* pbStruct", "setDecoders(info, pbStruct)"),
    "Decode": ("bool", "const uint8_t* bytes, size_t length, NANOMessageInfo* info", "decode(bytes, length, info)"),
    "DecodeRepeated": ("bool", "pb_istream_s* stream, const pb_field_iter_s* field, void** arg",
                       "decodeRepeated(stream, field, arg)"),
    "SetEncoders": ("bool", "const NANOMessageInfo* info, void* pbStruct", "setEncoders(info, pbStruct)"),
    "Encode": ("int32_t", "const NANOMessageInfo* info, std::vector<uint8_t>* output", "encode(info, output)"),
    "EncodeRepeated": ("bool", "pb_ostream_s* stream, const pb_field_iter_s* field, void* const* arg",
                       "encodeRepeated(stream, field, arg)"),
}


def wrap_comment(text, indent, width=116):
    words = text.split()
    lines, line = [], ""
    for word in words:
        if line and len(indent) + 3 + len(line) + 1 + len(word) > width:
            lines.append(line)
            line = word
        else:
            line = (line + " " + word) if line else word
    if line:
        lines.append(line)
    return "".join("%s// %s\n" % (indent, l) for l in lines)


def field_summary(field):
    kind = field.sub if field.value == "message" else field.value
    return "%s (%s %s, tag %d)" % (field.name, "list of" if field.repeated else "singular", kind, field.tag)


def typed_declarations(message, by_class):
    """The typed accessors of a class: declarations, and inline bodies for the integer setters."""
    out = []
    for field in message.fields:
        names = accessor_names(field)
        index = "Field::%s" % field.name
        text = field_summary(field)
        meaning = re.sub(r";?\s*descriptor default \S+$", "", field.meaning).strip()
        if meaning:
            text += ": " + meaning
        out.append("")
        out.append(wrap_comment(text, "  ").rstrip("\n"))
        value = field.value
        if field.repeated:
            if value == "message":
                item = "std::shared_ptr<%s>" % field.sub
            elif value == "string":
                item = "std::string"
            elif value == "bytes":
                item = "NANOData"
            else:
                item = TYPED_SCALARS[value]
            out.append("  std::vector<%s> %s() const;" % (item, names["get"]))
            out.append("  uint32_t %s() const { return nano_typed::listCount(this, %s); }" % (names["count"], index))
            if value == "bool":
                out.append("  void %s(const std::vector<bool>& values);" % names["set"])
            else:
                out.append("  void %s(std::span<const %s> values);" % (names["set"], item))
        else:
            if value == "message":
                out.append("  std::shared_ptr<%s> %s() const;" % (field.sub, names["get"]))
                out.append("  void %s(const %s& value);" % (names["set"], field.sub))
            elif value == "string":
                out.append("  std::optional<std::string> %s() const;" % names["get"])
                out.append("  void %s(std::string_view value);" % names["set"])
            elif value == "bytes":
                out.append("  std::optional<NANOData> %s() const;" % names["get"])
                out.append("  void %s(std::span<const uint8_t> value);" % names["set"])
            else:
                ctype = TYPED_SCALARS[value]
                out.append("  %s %s() const;" % (ctype, names["get"]))
                out.append("  template <NANOArgumentFor<%s> V>" % ctype)
                out.append("  void %s(V value) { %s(static_cast<%s>(value)); }" % (names["set"], "put" + pascal(field.name), ctype))
            out.append("  bool %s() const { return NANOHasField(nano_typed::self(this), %s); }" % (names["has"], index))
        out.append("  void %s() { NANOClearField(this, %s); }" % (names["clear"], index))
    return "\n".join(out)


def typed_private(message):
    out = []
    for field in message.fields:
        if not field.repeated and field.value in TYPED_SCALARS:
            out.append("  void put%s(%s value);" % (pascal(field.name), TYPED_SCALARS[field.value]))
    return "\n".join(out)


def typed_definitions(message):
    cls = message.class_name
    out = []
    for field in message.fields:
        names = accessor_names(field)
        index = "Field::%s" % field.name
        value = field.value
        get, put = names["get"], "put" + pascal(field.name)
        if field.repeated:
            if value == "message":
                out.append("std::vector<std::shared_ptr<%s>> %s::%s() const {\n"
                           "  return NANOGetMessageArray<%s>(nano_typed::self(this), %s).value_or(std::vector<std::shared_ptr<%s>>{});\n}"
                           % (field.sub, cls, get, field.sub, index, field.sub))
                out.append("void %s::%s(std::span<const std::shared_ptr<%s>> values) { nano_typed::setMessageList(this, %s, values); }"
                           % (cls, names["set"], field.sub, index))
            else:
                item = {"string": "std::string", "bytes": "NANOData"}.get(value, TYPED_SCALARS.get(value))
                out.append("std::vector<%s> %s::%s() const { return nano_typed::getList<%s>(this, %s); }"
                           % (item, cls, get, item, index))
                if value == "bool":
                    out.append("void %s::%s(const std::vector<bool>& values) { nano_typed::setList(this, %s, values); }"
                               % (cls, names["set"], index))
                else:
                    out.append("void %s::%s(std::span<const %s> values) { nano_typed::setList(this, %s, values); }"
                               % (cls, names["set"], item, index))
        elif value == "message":
            out.append("std::shared_ptr<%s> %s::%s() const { return NANOGetMessage<%s>(nano_typed::self(this), %s); }"
                       % (field.sub, cls, get, field.sub, index))
            out.append("void %s::%s(const %s& value) { NANOSetMessage(this, %s, const_cast<%s*>(&value)); }"
                       % (cls, names["set"], field.sub, index, field.sub))
        elif value == "string":
            out.append("std::optional<std::string> %s::%s() const { return NANOGetString(nano_typed::self(this), %s); }"
                       % (cls, get, index))
            out.append("void %s::%s(std::string_view value) { NANOSetString(this, %s, value); }"
                       % (cls, names["set"], index))
        elif value == "bytes":
            out.append("std::optional<NANOData> %s::%s() const { return NANOGetBytes(nano_typed::self(this), %s); }"
                       % (cls, get, index))
            out.append("void %s::%s(std::span<const uint8_t> value) { NANOSetBytes(this, %s, value); }"
                       % (cls, names["set"], index))
        else:
            getter, setter, cast = {
                "bool": ("NANOGetBool", "NANOSetBool", "bool"),
                "enum": ("NANOGetInt32", "NANOSetInt32", "int32_t"),
                "int32": ("NANOGetInt32", "NANOSetInt32", "int32_t"),
                "uint32": ("NANOGetInt32", "NANOSetInt32", "int32_t"),
                "int64": ("NANOGetInt64", "NANOSetInt64", "int64_t"),
                "uint64": ("NANOGetInt64", "NANOSetInt64", "int64_t"),
                "double": ("NANOGetDouble", "NANOSetDouble", "double"),
                "float": ("nano_typed::getFloat", "nano_typed::setFloat", "float"),
            }[value]
            ctype = TYPED_SCALARS[value]
            out.append("%s %s::%s() const { return static_cast<%s>(%s(nano_typed::self(this), %s)); }"
                       % (ctype, cls, get, ctype, getter, index))
            out.append("void %s::%s(%s value) { %s(this, %s, static_cast<%s>(value)); }"
                       % (cls, put, ctype, setter, index, cast))
    return "\n".join(out)


def encoder_walks(message):
    """The message's sizing and writing walks of the encoder: one statement per field, in tag order."""
    sizing, writing = [], []
    for field in message.tag_order():
        i = message.fields.index(field)
        key = "0x%x" % key_of(field)
        bit = "0x%xu" % (1 << i) if i < 32 else "(uint64_t{1} << %d)" % i
        kind = wire_kind(field)
        where = '"%s", "%s"' % (message.name, field.name)
        sub = "%s::kType" % field.sub if field.sub else None
        if kind == "RepeatedMessage":
            sizing.append("  if (!encoder.sizeMessageList<%s>(slot[%d], %s, depth, %s, total)) return false;"
                          % (key, i, sub, where))
            writing.append("  out = encoder.putMessageList<%s>(out, slot[%d], %s);" % (key, i, sub))
        elif kind == "RepeatedBytes":
            sizing.append("  if (!encoder.sizeBytesList<%s>(slot[%d], %s, itemMissing, total)) return false;"
                          % (key, i, where))
            writing.append("  out = NANOEncoder::putBytesList<%s>(out, slot[%d]);" % (key, i))
        elif kind == "RepeatedVarint":
            sizing.append("  if (!encoder.sizeVarintList<%s>(slot[%d], %s, itemMissing, total)) return false;"
                          % (key, i, where))
            writing.append("  out = NANOEncoder::putVarintList<%s>(out, slot[%d]);" % (key, i))
        elif kind == "Message":
            sizing.append("  if ((present & %s) && !encoder.sizeMessage<%s>(slot[%d], %s, depth, itemMissing, total)) "
                          "return false;" % (bit, key, i, sub))
            writing.append("  if (present & %s) out = encoder.putMessageField<%s>(out, slot[%d], %s);"
                           % (bit, key, i, sub))
        elif kind == "Bytes":
            sizing.append("  if (present & %s) NANOEncoder::sizeBytes<%s>(slot[%d], total);" % (bit, key, i))
            writing.append("  if (present & %s) out = NANOEncoder::putBytesField<%s>(out, slot[%d]);" % (bit, key, i))
        elif kind in ("Fixed32", "Fixed64"):
            width = 4 if kind == "Fixed32" else 8
            sizing.append("  if (present & %s) NANOEncoder::sizeFixed<%s, %d>(slot[%d], total);" % (bit, key, width, i))
            writing.append("  if (present & %s) out = NANOEncoder::putFixedField<%s, %d>(out, slot[%d]);"
                           % (bit, key, width, i))
        else:
            sizing.append("  if (present & %s) NANOEncoder::sizeVarint<%s, NANOWireKind::%s>(slot[%d], total);"
                          % (bit, key, kind, i))
            writing.append("  if (present & %s) out = NANOEncoder::putVarintField<%s, NANOWireKind::%s>(out, slot[%d]);"
                           % (bit, key, kind, i))
    return """// The encoder's walks of %(name)s (NANOEncoder.h).
bool measureFields(NANOEncoder& encoder, const NANOMessageInfo& info, uint32_t depth, size_t* size,
                   bool* itemMissing) {
  if (info.fields.size() != %(count)d) return false;
  const NANOSlot* slot = info.fields.data();
  const uint64_t present = info.present;
  size_t total = 0;
%(sizing)s
  (void)encoder;
  (void)slot;
  (void)present;
  (void)depth;
  (void)itemMissing;
  *size = total;
  return true;
}

uint8_t* writeFields(NANOEncoder& encoder, const NANOMessageInfo& info, uint8_t* out) {
  const NANOSlot* slot = info.fields.data();
  const uint64_t present = info.present;
%(writing)s
  (void)encoder;
  (void)present;
  return out;
}""" % {"name": message.name, "count": len(message.fields), "sizing": "\n".join(sizing),
       "writing": "\n".join(writing)}


def generate_header(message, by_class, has_arrays, callbacks, element_classes):
    constants = ",\n".join("      %s = %d" % (f.name, i) for i, f in enumerate(message.fields))
    subs = sorted({f.sub for f in message.fields if f.sub and f.sub != message.class_name})
    forwards = "".join("class %s;\n" % sub for sub in subs)
    functions = []
    for role in roles(message, has_arrays, callbacks, element_classes):
        result, params, _ = ROLE_SIGNATURES[role]
        functions.append("%s %s%s(%s);" % (result, message.class_name, role, params))
    return """// %(cls)s — the wire message "%(name)s" (%(family)s).
// Generated by analytics/wire/wire_tables.py from analytics/wire/tables/%(family)s.md. Do not edit.
//
// Fields are read and written with the typed accessors below (a value of the
// wrong type or a field of another message does not compile), or with the
// accessors of analytics/wire/NANO.h by the indexes in Field. Getters give
// copies (0, false, nullopt or null when the field is absent); setters store
// copies; lists are replaced whole and never absent.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "analytics/wire/NANOTyped.h"

%(forwards)sclass %(cls)s;

// The message template's functions of %(name)s, over the shared codec.
%(functions)s

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

  // Made only through initWithMessageInfo and initWithBuffer.
  %(cls)s(NANOMessageKey, size_t arenaBlock) : NANOMessage(arenaBlock) {}
%(typed)s

 private:
%(private)s
};
""" % {"cls": message.class_name, "name": message.name, "family": message.family, "constants": constants,
       "count": len(message.fields), "forwards": forwards, "functions": "\n".join(functions),
       "typed": typed_declarations(message, by_class), "private": typed_private(message)}


def generate_source(message, by_class, has_arrays, callbacks, element_classes):
    struct = C_PREFIX + message.name
    cls = message.class_name
    subs = sorted({f.sub for f in message.fields if f.sub and f.sub != cls})
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
    tag_order = message.tag_order()
    wire_rows = []
    for field in tag_order:
        key = key_of(field)
        key_bytes = varint_bytes(key)
        wire_rows.append("    {0x%x, %d, %s, NANOWireKind::%s, %d, {%s}, %s},"
                         % (key, message.fields.index(field), "true" if field.wire == "varint" else "false",
                            wire_kind(field), len(key_bytes), ", ".join("0x%02x" % b for b in key_bytes),
                            "&%s::kType" % field.sub if field.sub else "nullptr"))
    positions = [tag_order.index(f) for f in message.fields]
    repeated_bits = sum(1 << i for i, f in enumerate(message.fields) if f.repeated)
    present_roles = roles(message, has_arrays, callbacks, element_classes)
    functions = []
    for role in present_roles:
        result, params, call = ROLE_SIGNATURES[role]
        functions.append("%s %s%s(%s) { return %s::kType.%s; }" % (result, cls, role, params, cls, call))
    element = cls in element_classes
    return """// Generated by analytics/wire/wire_tables.py from analytics/wire/tables/%(family)s.md. Do not edit.
#include "analytics/wire/%(cls)s.h"

#include <pb.h>

#include <cstddef>
#include <type_traits>

#include "analytics/wire/NANOEncoder.h"
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

constinit const uint8_t kWirePosition[] = {%(positions)s};

%(walks)s
}  // namespace

constinit const NANOMessageType %(cls)s::kType = {
    .name = "%(name)s",
    .className = "%(cls)s",
    .fieldCount = %(count)d,
    .flags = kFlags,
    .fields = kFields,
    .descriptor = &%(struct)s_msg,
    .structSize = sizeof(Struct),
    .hasArrays = %(arrays)s,
    .hasCallbacks = %(callbacks)s,
    .maxDepth = %(depth)d,
    .wrap = &NANOMessage<%(cls)s>::wrap,
    .wireOrder = kWireOrder,
    .wirePosition = kWirePosition,
    .indexIsTagOrder = %(in_order)s,
    .repeatedFields = 0x%(repeated)xu,
    .initMessageInfoFn = &%(cls)sInitMessageInfo,
    .deallocMessageFieldFn = &%(cls)sDeallocMessageField,
    .copyMessageInfoFn = &%(cls)sCopyMessageInfo,
    .decodeRepeatedFn = %(decode_repeated)s,
    .encodeRepeatedFn = %(encode_repeated)s,
    .measureFieldsFn = &measureFields,
    .writeFieldsFn = &writeFields,
};

%(functions)s

%(typed)s
""" % {"family": message.family, "cls": cls, "includes": includes, "struct": struct,
       "asserts": "\n".join(asserts), "flags": flags, "rows": "\n".join(rows), "name": message.name,
       "count": len(message.fields), "arrays": "true" if has_arrays[cls] else "false",
       "callbacks": "true" if callbacks[cls] else "false", "depth": message.max_depth,
       "wire_rows": "\n".join(wire_rows), "positions": ", ".join(str(p) for p in positions),
       "in_order": "true" if positions == list(range(len(positions))) else "false", "repeated": repeated_bits,
       "decode_repeated": "&%sDecodeRepeated" % cls if element else "nullptr",
       "encode_repeated": "&%sEncodeRepeated" % cls if element else "nullptr",
       "functions": "\n".join(functions), "typed": typed_definitions(message), "walks": encoder_walks(message)}


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


# A sample value per type, for the generated test.
def sample_value(field, message):
    seed = message.fields.index(field) + 1
    return {
        "bool": "true",
        "enum": "%d" % (seed + 2),
        "int32": "-%d" % (seed * 7),
        "uint32": "%du" % (4000000000 - seed),
        "int64": "int64_t{-1234567890123} - %d" % seed,
        "uint64": "uint64_t{18000000000000000000u} + %du" % seed,
        "float": "%d.25f" % seed,
        "double": "%d.5" % seed,
        "string": '"text %s é"' % field.name,
        "bytes": "NANOData{0, %d, 255}" % seed,
    }[field.value]


def generate_test(messages, by_class, has_arrays, callbacks, element_classes):
    """A test that calls every generated function and typed accessor of every message."""
    tests = []
    for message in messages:
        cls = message.class_name
        lines = []
        add = lines.append
        add("  auto message = %s::initWithMessageInfo();" % cls)
        add("  ASSERT_TRUE(message);")
        # Typed accessors: every field set, then read back from the message and from its decoded encoding.
        checks = []
        for field in message.fields:
            names = accessor_names(field)
            if field.repeated:
                if field.value == "message":
                    add("  message->%s(std::vector<std::shared_ptr<%s>>{%s::initWithMessageInfo(), %s::initWithMessageInfo()});"
                        % (names["set"], field.sub, field.sub, field.sub))
                    checks.append("EXPECT_EQ(m.%s().size(), 2u);" % names["get"])
                elif field.value == "bool":
                    add("  message->%s(std::vector<bool>{true, false});" % names["set"])
                    checks.append("EXPECT_EQ(m.%s(), (std::vector<bool>{true, false}));" % names["get"])
                else:
                    item = {"string": "std::string", "bytes": "NANOData"}.get(field.value, TYPED_SCALARS.get(field.value))
                    value = sample_value(field, message)
                    add("  const std::vector<%s> %sItems{%s, %s};" % (item, camel(field.name), value, value))
                    add("  message->%s(%sItems);" % (names["set"], camel(field.name)))
                    checks.append("EXPECT_EQ(m.%s(), %sItems);" % (names["get"], camel(field.name)))
                checks.append("EXPECT_EQ(m.%s(), 2u);" % names["count"])
            elif field.value == "message":
                add("  message->%s(*%s::initWithMessageInfo());" % (names["set"], field.sub))
                checks.append("EXPECT_TRUE(m.%s() && m.%s());" % (names["has"], names["get"]))
            else:
                value = sample_value(field, message)
                add("  message->%s(%s);" % (names["set"], value))
                expected = value if field.value not in ("string",) else "std::string(%s)" % value
                checks.append("EXPECT_TRUE(m.%s());" % names["has"])
                checks.append("EXPECT_EQ(m.%s(), (%s));" % (names["get"], expected))
        add("  auto check = [&](const %s& m) {" % cls)
        for check in checks:
            add("    " + check)
        add("  };")
        add("  check(*message);")
        add("  std::optional<std::vector<uint8_t>> wire = message->protoBuffer();")
        add("  ASSERT_TRUE(wire);")
        add("  auto decoded = %s::initWithBuffer(*wire);" % cls)
        add("  ASSERT_TRUE(decoded);")
        add("  check(*decoded);")
        # The wrapper accessors and the template functions, by name.
        add("  EXPECT_EQ(message->initMessageInfoFn(), &%sInitMessageInfo);" % cls)
        add("  EXPECT_EQ(message->deallocMessageFieldFn(), &%sDeallocMessageField);" % cls)
        add("  EXPECT_EQ(message->copyMessageInfoFn(), &%sCopyMessageInfo);" % cls)
        add("  std::vector<uint8_t> encoded;")
        add("  EXPECT_EQ(%sEncode(message->messageInfo(), &encoded), static_cast<int32_t>(wire->size()));" % cls)
        add("  EXPECT_EQ(encoded, *wire);")
        add("  NANORecordPtr record(NANOAllocateRecord(%s::type(), nullptr));" % cls)
        add("  ASSERT_TRUE(%sInitMessageInfo(record.get()));" % cls)
        add("  ASSERT_TRUE(%sDecode(wire->data(), wire->size(), record.get()));" % cls)
        add("  NANOMessageInfo* copy = nullptr;")
        add("  ASSERT_TRUE(%sCopyMessageInfo(&copy, record.get()));" % cls)
        add("  EXPECT_EQ(wire_test::encoded(*copy), *wire);")
        add("  ASSERT_TRUE(%sDeallocMessageField(copy, 0));" % cls)
        add("  EXPECT_EQ(copy->has(0), %s);" % ("true" if message.fields[0].repeated else "false"))
        add("  EXPECT_TRUE(%sFreeMessageInfo(copy));" % cls)
        # nanopb's way through the same bytes, by the template's steps.
        present = roles(message, has_arrays, callbacks, element_classes)
        add("  std::vector<uint64_t> pbStruct = wire_test::zeroedStruct(%s::type());" % cls)
        add("  ASSERT_TRUE(%sSetEncoders(record.get(), pbStruct.data()));" % cls)
        add("  std::vector<uint8_t> viaNanopb;")
        add("  EXPECT_EQ(NANOEncodeToBuffer(%s::type().descriptor, pbStruct.data(), &viaNanopb), static_cast<int32_t>(wire->size()));" % cls)
        add("  EXPECT_EQ(viaNanopb, *wire);")
        add("  NANORecordPtr stepwise(NANOAllocateRecord(%s::type(), nullptr));" % cls)
        add("  ASSERT_TRUE(%sInitMessageInfo(stepwise.get()));" % cls)
        add("  pbStruct = wire_test::zeroedStruct(%s::type());" % cls)
        if "SetDecoders" in present:
            add("  ASSERT_TRUE(%sSetDecoders(stepwise.get(), pbStruct.data()));" % cls)
        add("  ASSERT_TRUE(wire_test::nanopbPass(%s::type(), *wire, pbStruct.data()));" % cls)
        if "AllocateArrays" in present:
            add("  ASSERT_TRUE(%sAllocateArrays(stepwise.get()));" % cls)
            add("  ASSERT_TRUE(wire_test::nanopbPass(%s::type(), *wire, pbStruct.data()));" % cls)
        if "StoreDecodedValues" in present:
            add("  ASSERT_TRUE(%sStoreDecodedValues(pbStruct.data(), stepwise.get()));" % cls)
        add("  EXPECT_EQ(wire_test::encoded(*stepwise), *wire);")
        if cls in element_classes:
            add("  EXPECT_EQ(%s::type().decodeRepeatedFn, &%sDecodeRepeated);" % (cls, cls))
            add("  EXPECT_EQ(%s::type().encodeRepeatedFn, &%sEncodeRepeated);" % (cls, cls))
        # Every typed accessor clears its field.
        for field in message.fields:
            names = accessor_names(field)
            add("  message->%s();" % names["clear"])
            if field.repeated:
                add("  EXPECT_EQ(message->%s(), 0u);" % names["count"])
            else:
                add("  EXPECT_FALSE(message->%s());" % names["has"])
        add("  EXPECT_EQ(message->protoBuffer(), std::vector<uint8_t>{});")
        tests.append("TEST(WireGeneratedNames, %s) {\n%s\n}\n" % (cls, "\n".join(lines)))
    return """// Generated by analytics/wire/wire_tables.py from analytics/wire/tables/. Do not edit.
// Calls every template function and every typed accessor of every message:
// each field is set through its typed setter and read back, from the message
// and from its decoded encoding; the template functions encode, decode, copy,
// free and clear; nanopb's encoder and decoder, driven step by step through
// the message's own functions, give the same bytes.
#include <gtest/gtest.h>

#include "analytics/wire/WireTestSupport.h"
#include "analytics/wire/NANO.h"
#include "analytics/wire/WireMessages.h"

namespace {

%s
}  // namespace
""" % "\n".join(tests)


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
    proto_path = cpp_dir = test_path = None
    tables = []
    while args:
        arg = args.pop(0)
        if arg == "--proto" and args:
            proto_path = args.pop(0)
        elif arg == "--cpp" and args:
            cpp_dir = args.pop(0)
        elif arg == "--test" and args:
            test_path = args.pop(0)
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
    element_classes = elements(messages)
    write_if_changed(proto_path, generate_proto(messages, by_class))
    for message in messages:
        base = os.path.join(cpp_dir, message.class_name)
        write_if_changed(base + ".h", generate_header(message, by_class, has_arrays, callbacks, element_classes))
        write_if_changed(base + ".cc", generate_source(message, by_class, has_arrays, callbacks, element_classes))
    header, source = generate_index(messages)
    write_if_changed(os.path.join(cpp_dir, "WireMessages.h"), header)
    write_if_changed(os.path.join(cpp_dir, "WireMessages.cc"), source)
    if test_path:
        write_if_changed(test_path, generate_test(messages, by_class, has_arrays, callbacks, element_classes))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
