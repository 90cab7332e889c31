#!/usr/bin/env python3
"""Writes runtime/unicode_tables.cpp: the case pairs and the display-width ranges.

Regenerate from the repository root with a Python whose unicodedata is Unicode 14.0.0
(Python 3.11 is):

    python3 tools/gen_unicode_tables.py > runtime/unicode_tables.cpp

Case pairs {code point, mapped code point}, sorted by code point, split at 0x10000:
  - to-upper: the simple uppercase mapping; where a character has none but its full
    uppercase mapping is longer than one character, the first character of that mapping
    (so U+00DF upper-cases to 'S' and U+FB01 to 'F'). Under Unicode 11.0 this rule gives
    1250 pairs below 0x10000 and 225 above; under 14.0 it gives 1265 and 260.
  - to-lower: the simple lowercase mapping (1158 and 225 pairs under 11.0, 1173 and 260
    under 14.0).
Python exposes only the full mappings (str.upper, str.lower, str.title); the simple
mapping is the full one when that is a single character, and otherwise, for uppercase, the
single-character titlecase mapping when there is one (the Greek letters with
ypogegrammeni: U+1F80 -> U+1F88), else none.

Width ranges {first, last}, inclusive, sorted, disjoint, adjacent ranges merged:
  - zero width: general categories Mn, Me and Cf, except U+00AD SOFT HYPHEN, plus the Hangul
    medial vowels and final consonants U+1160..U+11FF (they join the preceding syllable
    block) -- 339 ranges under Unicode 13.0, 348 under 14.0;
  - wide: East Asian Width W or F among assigned code points, plus all of planes 2 and 3
    (U+20000..U+2FFFD, U+30000..U+3FFFD) whose unassigned code points default to W --
    122 ranges under 14.0.
"""
import sys
import unicodedata as ud

REQUIRED_VERSION = "14.0.0"


def simple_upper(ch):
    u = ch.upper()
    if len(u) == 1:
        return u if u != ch else None
    t = ch.title()
    if len(t) == 1 and t != ch:
        return t
    return None


def upper_pair(ch):
    s = simple_upper(ch)
    if s is None:
        u = ch.upper()
        if len(u) > 1 and u[0] != ch:
            s = u[0]
    return s


def lower_pair(ch):
    low = ch.lower()
    if len(low) == 1:
        return low if low != ch else None
    # Only U+0130 has a longer full lowercase mapping; its simple mapping is the first
    # character ('i').
    return low[0] if low[0] != ch else None


def case_pairs():
    upper, lower = [], []
    for cp in range(0x110000):
        ch = chr(cp)
        if ud.category(ch) == "Cs":
            continue
        u = upper_pair(ch)
        if u is not None:
            upper.append((cp, ord(u)))
        low = lower_pair(ch)
        if low is not None:
            lower.append((cp, ord(low)))
    return upper, lower


def ranges(pred):
    out, start = [], None
    for cp in range(0x110000):
        if pred(cp):
            if start is None:
                start = cp
        elif start is not None:
            out.append((start, cp - 1))
            start = None
    if start is not None:
        out.append((start, 0x10FFFF))
    return out


def zero_width(cp):
    if cp == 0xAD:
        return False
    if 0x1160 <= cp <= 0x11FF:
        return True
    return ud.category(chr(cp)) in ("Mn", "Me", "Cf")


def wide(cp):
    if 0x20000 <= cp <= 0x2FFFD or 0x30000 <= cp <= 0x3FFFD:
        return True
    ch = chr(cp)
    return ud.category(ch) != "Cn" and ud.east_asian_width(ch) in ("W", "F")


def emit_pairs(out, ctype, name, pairs, digits):
    out.append(f"const {ctype} {name}[][2] = {{")
    line = "   "
    for a, b in pairs:
        item = f" {{0x{a:0{digits}X}, 0x{b:0{digits}X}}},"
        if len(line) + len(item) > 100:
            out.append(line)
            line = "   "
        line += item
    out.append(line)
    out.append("};")
    out.append(f"const uint32_t {name}_count = {len(pairs)};")
    out.append("")


def emit_ranges(out, name, rs):
    out.append(f"const uint32_t {name}[] = {{")
    line = "   "
    for a, b in rs:
        item = f" 0x{a:05X}, 0x{b:05X},"
        if len(line) + len(item) > 100:
            out.append(line)
            line = "   "
        line += item
    out.append(line)
    out.append("};")
    out.append(f"const uint32_t {name}_words = {2 * len(rs)};")
    out.append("")


def main():
    if ud.unidata_version != REQUIRED_VERSION:
        sys.exit(f"unicodedata is {ud.unidata_version}; these tables follow {REQUIRED_VERSION}")
    upper, lower = case_pairs()
    zero = ranges(zero_width)
    wide_rs = ranges(wide)
    out = [
        "// Case pairs and display-width ranges, Unicode " + REQUIRED_VERSION + ".",
        "// Made by tools/gen_unicode_tables.py (the rules are described there): generated, do not edit.",
        "// Regenerate: python3 tools/gen_unicode_tables.py > runtime/unicode_tables.cpp",
        '#include "runtime/unicode.h"',
        "",
        "namespace kov::unicode {",
        "",
    ]
    emit_pairs(out, "uint16_t", "to_upper_bmp", [p for p in upper if p[0] < 0x10000], 4)
    emit_pairs(out, "uint16_t", "to_lower_bmp", [p for p in lower if p[0] < 0x10000], 4)
    emit_pairs(out, "uint32_t", "to_upper_astral", [p for p in upper if p[0] >= 0x10000], 5)
    emit_pairs(out, "uint32_t", "to_lower_astral", [p for p in lower if p[0] >= 0x10000], 5)
    emit_ranges(out, "zero_width_ranges", zero)
    emit_ranges(out, "wide_ranges", wide_rs)
    out.append("}  // namespace kov::unicode")
    sys.stdout.write("\n".join(out) + "\n")


if __name__ == "__main__":
    main()
