#!/usr/bin/env python3
"""Writes mkpayload's manual page (roff) from usage.txt, the text that
`mkpayload --help` prints, so the two cannot drift apart.

usage: make_man_page.py USAGE_TXT VERSION OUT"""
import sys


def roff(text):
    """Escapes text for a roff line: backslashes, and a leading dot or quote."""
    text = text.replace("\\", "\\e").replace("-", "\\-")
    return "\\&" + text if text.startswith((".", "'")) else text


def main():
    source, version, out = sys.argv[1], sys.argv[2], sys.argv[3]
    lines = open(source, encoding="utf-8").read().replace("@VERSION@", version).splitlines()
    blocks, current = [], []
    for line in lines:
        if line.strip():
            current.append(line)
        elif current:
            blocks.append(current)
            current = []
    if current:
        blocks.append(current)

    page = [f'.TH MKPAYLOAD 1 "" "korvane-kit {version}" "User Commands"', ".SH NAME",
            "mkpayload \\- build self-extracting installers for Windows; list, verify and unpack them"]
    intro = blocks[0]
    # The usual order of a manual page: the synopsis before the description.
    usage = [b for b in blocks[1:] if b[0] == "Usage:"]
    rest = usage + [".SH DESCRIPTION"] + [b for b in blocks[1:] if b[0] != "Usage:"]
    for block in rest:
        if block == ".SH DESCRIPTION":
            page += [block, roff(" ".join(l.strip() for l in intro))]
            continue
        heading = block[0]
        if heading.endswith(":") and len(block) > 1 and block[1].startswith("  "):
            name = heading[:-1]
            page.append(".SH " + ("SYNOPSIS" if name == "Usage" else roff(name.upper())))
            for entry in block[1:]:
                entry = entry.strip()
                parts = entry.split("  ", 1)
                if name == "Usage" or len(parts) == 1:
                    page += [".nf" if name == "Usage" else ".PP", roff(entry)]
                    if name == "Usage":
                        page.append(".fi")
                else:
                    page += [".TP", "\\fB" + roff(parts[0].strip()) + "\\fR", roff(parts[1].strip())]
        else:
            page += [".PP", roff(" ".join(l.strip() for l in block))]
    with open(out, "w", encoding="utf-8") as f:
        f.write("\n".join(page) + "\n")


if __name__ == "__main__":
    main()
