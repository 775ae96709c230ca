#!/usr/bin/env python3
"""Writes the small hand-made seeds of fuzz/seeds/: inputs no compiler makes (cut-off records,
deep nesting, odd URLs) that start the fuzzers near the edges, and the hand-made regression
inputs of fuzz/regressions/. Run after changing it; the outputs are committed. Real files are
added to the seeds by run.sh from the fixtures and the corpus."""
import os
import struct

HERE = os.path.dirname(os.path.abspath(__file__))


def write(target, name, data, kind="seeds"):
    folder = os.path.join(HERE, kind, target)
    os.makedirs(folder, exist_ok=True)
    with open(os.path.join(folder, name), "wb") as f:
        f.write(data)


def encint(v):
    groups = [v & 0x7F]
    v >>= 7
    while v:
        groups.insert(0, (v & 0x7F) | 0x80)
        v >>= 7
    return bytes(groups)


def system_file(records):
    out = struct.pack("<I", 3)
    for code, data in records:
        out += struct.pack("<HH", code, len(data)) + data
    return out


def chm(objects, chunk_size=0x200):
    """An uncompressed container with one listing chunk (version 3 header, no index chunk)."""
    entries = b""
    content = b""
    for name, data in objects:
        entries += encint(len(name)) + name + encint(0) + encint(len(content)) + encint(len(data))
        content += data
    assert len(entries) <= chunk_size - 0x14
    itsp = 0x78
    dir_length = 0x54 + chunk_size
    content_offset = itsp + dir_length
    head = bytearray(itsp)
    head[0:4] = b"ITSF"
    struct.pack_into("<III", head, 4, 3, 0x60, 1)
    struct.pack_into("<I", head, 0x14, 0x409)
    struct.pack_into("<QQQQQ", head, 0x38, 0x60, 0x18, itsp, dir_length, content_offset)
    struct.pack_into("<IIQ", head, 0x60, 0x1FE, 0, content_offset + len(content))
    directory = bytearray(dir_length)
    directory[0:4] = b"ITSP"
    struct.pack_into("<IIIIIIiiiiII", directory, 4, 1, 0x54, 0x0A, chunk_size, 2, 1, -1, 0, 0, -1,
                     1, 0x409)
    struct.pack_into("<Iiii", directory, 0x44, 0x54, -1, -1, -1)
    chunk = bytearray(chunk_size)
    chunk[0:4] = b"PMGL"
    struct.pack_into("<IIii", chunk, 4, chunk_size - 0x14 - len(entries), 0, -1, -1)
    chunk[0x14:0x14 + len(entries)] = entries
    directory[0x54:] = chunk
    return bytes(head) + bytes(directory) + content


def metadata_seed(flags, system, windows, strings):
    return struct.pack("<BII", flags, len(system), len(windows)) + system + windows + strings


def windows_file(entries, entry_size=0x1C4):
    out = struct.pack("<II", len(entries), entry_size)
    for title, toc, index, home in entries:
        e = bytearray(entry_size)
        struct.pack_into("<I", e, 0x14, title)
        struct.pack_into("<III", e, 0x60, toc, index, home)
        out += bytes(e)
    return out


SITEMAP = b"""<!DOCTYPE HTML PUBLIC "-//IETF//DTD HTML//EN">
<HTML><HEAD><meta name="GENERATOR" content="hand"></HEAD><BODY>
<UL>
<LI> <OBJECT type="text/sitemap"><param name="Name" value="Intro"><param name="Local" value="intro.htm"></OBJECT>
<UL>
<LI> <OBJECT type="text/sitemap"><param name="Name" value="Anchor"><param name="Local" value="intro.htm#a"></OBJECT>
<LI> <OBJECT type="text/sitemap"><param name="Keyword" value="Query"><param name="Local" value="page.htm?x=1"></OBJECT>
<LI> <OBJECT type="text/sitemap"><param name="Name" value="caf&#233;"><param name="Local" value="my%20page.htm"></OBJECT>
</UL>
<LI> <OBJECT type="text/sitemap"><param name="Name" value="Heading"></OBJECT>
<LI> <OBJECT type="text/sitemap"><param name="Name" value="Up"><param name="Local" value="../a/./b.htm;p=1"></OBJECT>
</UL>
</BODY></HTML>
"""


def main():
    # "/#SYSTEM" with every record the reader knows, one cut off at the end.
    system = system_file([
        (4, struct.pack("<I", 0x804) + b"\0" * 16),
        (0, b"toc.hhc\0"),
        (1, b"index.hhk\0"),
        (2, b"sub\\index.htm\0"),
        (3, b"  Title  \0"),
        (6, b"book\0"),
        (9, b"HHA Version 4.74.8702\0"),
    ]) + struct.pack("<HH", 3, 200) + b"cut"
    strings = b"\0Window title\0win.hhc\0win.hhk\0win.htm\0"
    windows = windows_file([(1, 14, 22, 30)])
    write("metadata", "all-records", metadata_seed(0x01, system, windows, strings))
    # A window count far beyond the object, string offsets beyond "/#STRINGS", no NUL.
    windows = struct.pack("<II", 0xFFFFFFFF, 0x70) + windows_file([(0xFFFFFFF0, 5, 3, 1)], 0x70)[8:]
    write("metadata", "window-count-lies", metadata_seed(0x10, system_file([(4, b"\x19\x04")]),
                                                         windows, b"noterminator"))

    write("sitemap", "small-toc", b"\x00" + SITEMAP)
    write("sitemap", "deep-nesting", b"\x04" + b"<UL><LI><OBJECT><param name=Name value=d>"
          b"<param name=Local value=d.htm></OBJECT>" * 300)
    write("sitemap", "broken-markup",
          b"\x01</UL></LI><UL><LI><param name=Local value=early.htm><OBJECT><param name=\"Name\""
          b" value=\"\xd6\xd0\xce\xc4\"><param name=Local value=\"\"><UL><UL><LI><![CDATA[x]]>"
          b"<LI><param value=v><param name=Name><LI><OBJECT><param name=Name value=a\0after-nul")

    # Parameters before the first entry: they must not touch the synthetic root.
    write("sitemap", "param-before-first-entry",
          b"\x00<param name=Local value=stray.htm><UL><LI><OBJECT><param name=Name value=A>"
          b"<param name=Local value=a.htm></OBJECT></UL>", kind="regressions")

    page = b"<html><head><meta charset=\"gb2312\"></head><body>x</body></html>"
    toc = b"<UL><LI><OBJECT><param name=Name value=Home><param name=Local value=index.htm>" \
          b"</OBJECT></UL>"
    book = chm([
        (b"/#SYSTEM", system_file([(0, b"toc.hhc\0"), (2, b"index.htm\0"), (3, b"Seed\0"),
                                   (4, struct.pack("<I", 0x409))])),
        (b"/index.htm", page),
        (b"/toc.hhc", toc),
        (b"/empty.txt", b""),
    ])
    write("directory", "uncompressed-book.chm", book)
    write("open", "uncompressed-book.chm", book)

    for name, url in [
        ("percent-escapes", "itss://chm/caf%C3%A9/na%C3%AFve%20r%C3%A9sum%C3%A9.htm"),
        ("literal-percent", "itss://chm/100%2541.htm"),
        ("dot-segments", "itss://chm/a/../../index.htm?x=1#frag"),
        ("upper-scheme", "ITSS://chm/UPPER.HTM;x=1"),
        ("other-scheme", "http://chm/index.htm"),
        ("bad-escape", "itss://chm/%E6%97%A5%zz.htm"),
    ]:
        write("itss", name, b"\x00" + url.encode())
    write("itss", "user-encoding", b"\x09" + "日本語.htm".encode())


if __name__ == "__main__":
    main()
