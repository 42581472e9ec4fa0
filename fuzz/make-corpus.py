#!/usr/bin/env python3
"""Writes the seed inputs of the fuzz targets into fuzz/corpus/<target>/.

Each seed is laid out as its target reads its input (see the comment at the top
of each *_fuzz.cpp). Inputs kept from findings (regress-* for fixed faults, found-* for the
others) are not written here; this script leaves them alone.
"""
import os
import struct

HERE = os.path.dirname(os.path.abspath(__file__))
BEGIN = b"# >>> Vellumbrook >>>\r\n"
END = b"# <<< Vellumbrook <<<\r\n"


def write(target, name, data):
    folder = os.path.join(HERE, "corpus", target)
    os.makedirs(folder, exist_ok=True)
    with open(os.path.join(folder, name), "wb") as f:
        f.write(data)


def block(*names):
    lines = b""
    for n in names:
        for prefix in (b"127.0.0.1 ", b"127.0.0.1 www.", b"::1 ", b"::1 www."):
            lines += prefix + n + b"\r\n"
    return BEGIN + lines + END


def hosts_input(flags, names, content, count=None):
    head = bytes([flags, (len(names) if count is None else count) & 0xFF])
    for n in names:
        head += bytes([len(n)]) + n
    return head + content


WINDOWS_HOSTS = (
    b"# Copyright (c) 1993-2009 Microsoft Corp.\r\n#\r\n"
    b"# This is a sample HOSTS file used by Microsoft TCP/IP for Windows.\r\n#\r\n"
    b"# localhost name resolution is handled within DNS itself.\r\n"
    b"#\t127.0.0.1       localhost\r\n#\t::1             localhost\r\n"
    b"192.168.1.20    nas.home\r\n"
)


def hosts():
    sites = [b"example.com", b"kids.example", b"video-site.net"]
    write("hosts", "windows-clear", hosts_input(0, [], WINDOWS_HOSTS))
    write("hosts", "windows-apply", hosts_input(0, sites, WINDOWS_HOSTS))
    write("hosts", "bom-with-block", hosts_input(
        0, sites[:1], b"\xef\xbb\xbf" + WINDOWS_HOSTS + block(b"old.example") + b"10.0.0.2 printer\r\n"))
    utf16 = "# hosts\r\n127.0.0.1 localhost\r\n".encode("utf-16-le")
    write("hosts", "utf16", hosts_input(0, sites[:2], b"\xff\xfe" + utf16))
    write("hosts", "cr-only", hosts_input(0, sites[:1], b"# mac\r127.0.0.1 localhost\r10.0.0.1 nas"))
    write("hosts", "torn-block", hosts_input(
        0, sites[:1], WINDOWS_HOSTS + BEGIN + b"127.0.0.1 torn.example\r\nuser line\r\n"))
    write("hosts", "end-before-begin", hosts_input(
        0, sites[1:2], END + b"x\r\n" + block(b"a.example") + b"tail"))
    write("hosts", "two-blocks", hosts_input(
        0, sites[:1], b"h\r\n" + block(b"one.example") + block(b"two.example")))
    write("hosts", "unfinished-line", hosts_input(0, sites[:1], b"127.0.0.1 localhost\r\n10.0.0.1 nas"))
    write("hosts", "lf-markers", hosts_input(
        0, sites[:1], b"# >>> Vellumbrook >>>\n127.0.0.1 a.example\n# <<< Vellumbrook <<<\n"))
    write("hosts", "glued-marker", hosts_input(0, [], b"127.0.0.1 nas" + block(b"a.example")))
    write("hosts", "raw-names", hosts_input(1, [b"has space", b"tab\there", b"# <<< x"], b"a\r\n"))
    write("hosts", "unterminated-slots", hosts_input(3, [b"z" * 255], b""))
    write("hosts", "too-many", hosts_input(0, [b"s%d.example" % i for i in range(8)], b"", count=100))
    write("hosts", "negative-count", hosts_input(0, [], WINDOWS_HOSTS, count=-5))
    write("hosts", "long-name", hosts_input(0, [b"a" * 255], b"x\r\n"))
    # Begin markers that only the agent's own CR LF or the removal of a block completes.
    write("hosts", "torn-begin-marker", hosts_input(0, sites[:1], b"user\r\n" + BEGIN[:-2]))
    write("hosts", "joined-halves", hosts_input(
        0, sites[:1], b"x" + BEGIN[:12] + block(b"a.example") + BEGIN[12:] + b"z\r\n"))
    # A hand-edited config.dat can hold marker text in a site name.
    write("hosts", "marker-in-name", hosts_input(9, [b"x" + END[:-2]], b"127.0.0.1 localhost\r\n"))


def config_text(text, read_size=255):
    return bytes([0, read_size]) + text


def config():
    salt = b"00112233445566778899aabbccddeeff"
    hsh = b"9f86d081884c7d659a2feaa0c55ad015a3bf4f1b2b0b822cd15d6c15b0f00a08"
    write("config", "lf", config_text(salt + b"\n" + hsh + b"\n1\nexample.com\nkids.example\n"))
    write("config", "crlf", config_text(salt + b"\r\n" + hsh + b"\r\n1\r\nexample.com\r\n", 7))
    write("config", "bom", config_text(b"\xef\xbb\xbf" + salt + b"\n" + hsh + b"\n0\n"))
    write("config", "no-password", config_text(b"\n\n1\n\nsite.example\n\r\n   \n", 0))
    write("config", "long-lines", config_text(
        b"b" * 80 + b"\n" + b"x" * 1023 + b"\nh\n1\n" + b"y" * 1100 + b"\n"))
    write("config", "seventy-sites", config_text(
        b"s\nh\n1\n" + b"".join(b"s%d.ex\n" % i for i in range(70)), 31))
    write("config", "nul-bytes", config_text(b"sa\0lt\nh\n1\nab\0cd\n"))
    write("config", "no-final-lf", config_text(b"s\r\nh\r\n1"))
    write("config", "roundtrip", bytes([1, 32]) + salt + bytes([64]) + hsh + bytes([1, 3])
          + bytes([11]) + b"example.com" + bytes([255]) + b"q" * 255 + bytes([0]))
    record = bytearray(400)
    record[0:4] = b"salt"
    record[64:68] = b"hash"
    record[192:204] = struct.pack("<iii", 1, 7, 70)
    record[204:210] = b"a.site"
    write("config", "raw-record", bytes([2]) + bytes(record))


def listing():
    english = (
        b"\r\n"
        b"Idx     Met         MTU          State                Name\r\n"
        b"---  ----------  ----------  ------------  ---------------------------\r\n"
        b"  1          75  4294967295  connected     Loopback Pseudo-Interface 1\r\n"
        b" 12          25        1500  connected     Wi-Fi 2\r\n"
        b"  7          35        1500  disconnected  Ethernet\r\n"
        b"\r\n")
    write("listing", "english", english)
    french = (
        b"\r\n"
        b"Idx     M\x82t         MTU          \x90tat                Nom\r\n"
        b"---  ----------  ----------  ------------  ---------------------------\r\n"
        b"  1          75  4294967295  connected     Loopback Pseudo-Interface 1\r\n"
        b"  9          25        1500  connected     Connexion au r\x82seau local\r\n"
        b" 14          50        1500  disconnected  R\x82seau\t2\r\n"
        b"\r\n")
    write("listing", "french-cp850", french)
    write("listing", "long-names",
          b"5 25 1500 connected " + b"n" * 300 + b"\n6 25 1500 connected" + b" " * 600 + b"far\n"
          + b"7 25 1500 connected " + b"a" * 600 + b"\n8 25 1500 connected Next")
    write("listing", "forty-rows",
          b"".join(b"%d 25 1500 connected Adapter %d\r\n" % (i, i) for i in range(1, 41)))
    write("listing", "odd-rows",
          b"12 25 1500 connected\r\n12\t25 1500 connected Eth 1 x\n x12 25 1500 connected Eth\n"
          b"12 25 1500 connected   Local  Area   \r\r \n")


def sitelist():
    lines = ["example.com", "\tkids.example  ", "", "caf\u00e9.fr", "bad site", "  ",
             "Vid\u00e9o.example", "a-b.c-d", "x" * 300, "\u00a0nbsp.example"]
    write("sitelist", "utf16-tabs-accents", b"\x01" + "\r\n".join(lines).encode("utf-16-le"))
    write("sitelist", "latin1-cr-only", b"\x00" + "\r".join(lines[:8]).encode("latin-1", "replace"))
    seventy = "\r\n".join("site%d.example" % i if i % 9 else "bad line %d" % i for i in range(70))
    write("sitelist", "seventy-lines", b"\x01" + seventy.encode("utf-16-le"))
    write("sitelist", "lf-only", b"\x00" + b"a.example\nb.example\n\n\tc.example\t\n")
    write("sitelist", "surrogates", b"\x01" + "ok.example\n\U0001F600.example\n".encode("utf-16-le")
          + b"\x00\xd8\n\x00")


def utf8cut():
    def units(text):
        return text.encode("utf-16-le", "surrogatepass")
    write("utf8cut", "ascii-long", bytes([128]) + units("p" * 200))
    write("utf8cut", "accents", bytes([20]) + units("mot de passe \u00e9t\u00e9 \u20ac"))
    write("utf8cut", "pairs", bytes([128]) + units("\U0001F600\U0001F389 cl\u00e9 \U00010348"))
    write("utf8cut", "lone-surrogates", bytes([16]) + units("a\ud800b\udc00c\udbff\ud800\udc00"))
    write("utf8cut", "lone-at-end", bytes([5]) + units("abc\ud83d"))
    write("utf8cut", "reversed-pair", bytes([255]) + units("\ude00\ud83d"))
    write("utf8cut", "cut-at-boundary", bytes([128]) + units("\u20ac" * 43))
    write("utf8cut", "tiny", bytes([1]) + units("\u00e9"))
    write("utf8cut", "empty-buffer", bytes([0]) + units("x"))


hosts()
config()
listing()
sitelist()
utf8cut()
