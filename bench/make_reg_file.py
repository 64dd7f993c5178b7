#!/usr/bin/env python3
"""Writes a .reg file of one instance key holding N string values, for timing the import.

    make_reg_file.py N FILE [--ansi] [--keys K]

The file is in the form the registry's tools write (UTF-16LE with a byte-order mark, CR LF line
ends), or REGEDIT4 with --ansi. With --keys K the N values are spread over K instance keys
"Bench Server 0" .. "Bench Server K-1". Each value is about 50 characters long, so 500,000
values make a file of about 52 MB in the Unicode form.
"""
import argparse

ROOT = "HKEY_CURRENT_USER\\SOFTWARE\\Zel Inc.\\Zel Quantivale Servers"


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("values", type=int)
    parser.add_argument("file")
    parser.add_argument("--ansi", action="store_true", help="REGEDIT4, 8-bit text")
    parser.add_argument("--keys", type=int, default=1)
    args = parser.parse_args()
    lines = ["REGEDIT4" if args.ansi else "Windows Registry Editor Version 5.00"]
    per_key = -(-args.values // args.keys)
    for i in range(args.values):
        if i % per_key == 0:
            lines += ["", "[%s\\Bench Server %d]" % (ROOT, i // per_key)]
        lines.append('"value%07d"="text of value %07d, long enough"' % (i, i))
    lines.append("")
    text = "\r\n".join(lines) + "\r\n"
    with open(args.file, "wb") as out:
        out.write(text.encode("ascii") if args.ansi else b"\xff\xfe" + text.encode("utf-16-le"))


if __name__ == "__main__":
    main()
