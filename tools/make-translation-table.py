#!/usr/bin/env python3
"""Turns the readable source of a translation table into its byte layout.

The source is UTF-8 text, one line per text:

    # a comment                      (lines starting with '#' and empty lines are skipped)
    [sources]                        source texts that no language translates, one per line
    [language CH]                    starts the lines of the language with the code CH
    Config=打开配置                   a source text, '=', its translation

The source texts of the table are every source of every language and of [sources]. Blanks at
either end of a text are written as \\s and a backslash as \\\\, so that nothing meaningful
hides at the end of a line; a line may not start or end with a raw blank.

The byte layout (all integers 32-bit signed little-endian, strings UTF-16LE):
    N0, the sorted source texts each followed by CR LF (N0 code units)
    L, then per language: code (count, units), lines (count, units: each line + CR LF)

    make-translation-table.py SOURCE [--cpp OUT.cpp] [--binary OUT.local]   (at least one)
    make-translation-table.py --self-test
"""

import argparse
import struct
import sys

LINE_BREAKS = "\r\n\v\f\u2028\u2029\0"


class TableError(Exception):
    pass


def unescape(text, where):
    out = []
    i = 0
    while i < len(text):
        c = text[i]
        if c != "\\":
            out.append(c)
            i += 1
            continue
        escape = text[i + 1 : i + 2]
        if escape == "s":
            out.append(" ")
        elif escape == "\\":
            out.append("\\")
        else:
            raise TableError(f"{where}: unknown escape '\\{escape}'")
        i += 2
    return "".join(out)


def parse(source_text, name="<source>"):
    """Returns (sources, languages): a set of source texts and a list of (code, {source: text})."""
    sources = set()
    languages = []
    current = None  # None before any section, "sources", or the dict of a language
    for number, raw in enumerate(source_text.split("\n"), start=1):
        where = f"{name}:{number}"
        line = raw[:-1] if raw.endswith("\r") else raw
        if not line or line.startswith("#"):
            continue
        if line != line.strip(" \t"):
            raise TableError(f"{where}: blank at the start or end of the line (write \\s)")
        if "\t" in line:
            raise TableError(f"{where}: tab character")
        if line == "[sources]":
            current = "sources"
            continue
        if line.startswith("[language ") and line.endswith("]"):
            code = line[len("[language ") : -1]
            if not code or any(c.lower() == code.lower() for c, _ in languages):
                raise TableError(f"{where}: empty or repeated language code '{code}'")
            current = {}
            languages.append((code, current))
            continue
        if current is None:
            raise TableError(f"{where}: text before the first section")
        if current == "sources":
            text = unescape(line, where)
            sources.add(text)
            continue
        if "=" not in line:
            raise TableError(f"{where}: no '=' in a line of a language")
        raw_source, raw_translation = line.split("=", 1)
        source = unescape(raw_source, where)
        translation = unescape(raw_translation, where)
        if not source or not translation:
            raise TableError(f"{where}: empty source or translation")
        if any(c in LINE_BREAKS for c in source + translation):
            raise TableError(f"{where}: line break or NUL in a text")
        if source in current:
            raise TableError(f"{where}: '{source}' translated twice")
        current[source] = translation
        sources.add(source)
    for text in sources:
        if any(c in LINE_BREAKS for c in text):
            raise TableError(f"{name}: line break or NUL in source text '{text}'")
    return sources, languages


def code_units(text):
    """Sort key: the UTF-16 code units, as the program orders its lists."""
    return text.encode("utf-16-be")


def counted(text):
    data = text.encode("utf-16-le")
    return struct.pack("<i", len(data) // 2) + data


def block(texts):
    return counted("".join(t + "\r\n" for t in sorted(texts, key=code_units)))


def layout(sources, languages):
    out = bytearray(block(sources))
    out += struct.pack("<i", len(languages))
    for code, lines in languages:
        out += counted(code)
        out += block(f"{s}={t}" for s, t in lines.items())
    return bytes(out)


def cpp_source(data, source_name):
    rows = []
    for i in range(0, len(data), 16):
        rows.append("    " + ", ".join(f"0x{b:02x}" for b in data[i : i + 16]) + ",")
    return (
        f"// Generated from {source_name} by tools/make-translation-table.py. Do not edit.\n"
        '#include "lang/builtin_table.h"\n\n'
        "namespace korv {\nnamespace {\n\n"
        f"constexpr std::uint8_t kTable[{len(data)}] = {{\n" + "\n".join(rows) + "\n};\n\n"
        "}  // namespace\n\n"
        "std::span<const std::uint8_t> BuiltinTranslationTable() {\n"
        "    return kTable;\n}\n\n"
        "}  // namespace korv\n"
    )


def self_test():
    sources, languages = parse(
        "[language CH]\nConfig=打开配置\n\\s\\sx\\\\=y\\s\n[sources]\n1000HZ\n[language US]\n"
        "Config=Config\n"
    )
    assert sources == {"Config", "  x\\", "1000HZ"}, sources
    assert languages == [("CH", {"Config": "打开配置", "  x\\": "y "}), ("US", {"Config": "Config"})]
    data = layout({"b", "a"}, [("CH", {"a": "x"})])
    assert data == (
        struct.pack("<i", 6) + "a\r\nb\r\n".encode("utf-16-le") + struct.pack("<i", 1)
        + struct.pack("<i", 2) + "CH".encode("utf-16-le")
        + struct.pack("<i", 5) + "a=x\r\n".encode("utf-16-le")
    ), data
    # Code-unit order: U+FF01 sorts after U+1F600's high surrogate (U+D83D).
    assert sorted(["\uff01", "\U0001f600"], key=code_units) == ["\U0001f600", "\uff01"]
    bad = {
        "trailing blank": "[language CH]\na=b \n",
        "leading blank": "[language CH]\n a=b\n",
        "no equals": "[language CH]\nab\n",
        "twice": "[language CH]\na=b\na=c\n",
        "unknown escape": "[language CH]\na=\\n\n",
        "repeated code": "[language CH]\n[language ch]\n",
        "before section": "a=b\n",
        "empty translation": "[language CH]\na=\n",
        "form feed": "[language CH]\na=b\fc\n",
    }
    for what, text in bad.items():
        try:
            parse(text)
        except TableError:
            continue
        raise AssertionError(f"accepted a source with {what}")
    print("make-translation-table: self-test passed")


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("source", nargs="?")
    parser.add_argument("--cpp")
    parser.add_argument("--binary")
    parser.add_argument("--self-test", action="store_true")
    args = parser.parse_args()
    if args.self_test:
        self_test()
        return 0
    if not args.source or not (args.cpp or args.binary):
        parser.error("SOURCE and --cpp or --binary are needed")
    with open(args.source, encoding="utf-8") as f:
        text = f.read()
    try:
        sources, languages = parse(text, args.source)
    except TableError as error:
        print(f"error: {error}", file=sys.stderr)
        return 1
    data = layout(sources, languages)
    if args.cpp:
        with open(args.cpp, "w", encoding="utf-8", newline="\n") as f:
            f.write(cpp_source(data, args.source.replace("\\", "/").split("/")[-1]))
    if args.binary:
        with open(args.binary, "wb") as f:
            f.write(data)
    return 0


if __name__ == "__main__":
    sys.exit(main())
