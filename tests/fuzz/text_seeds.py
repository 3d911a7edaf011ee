#!/usr/bin/env python3
"""Writes seed inputs for a text fuzz target into the folder given, so that a run starts from
every main branch of its format instead of from one or two samples:

  text_seeds.py <monitors|report_layout|cddb_reply|log_file|ini_file> <folder>
"""
import os
import sys

CRLF = "\r\n"


def monitors():
    yield from [
        "1920x1080+0+0", "1920x1080+0+0,1280x1024+1920+0", "1280x1024-1280+0,1920x1080+0+0",
        "800x600+0+0,,640x480+800+0", "16384x16384+0+0", "16384x100+0+0,16384x100-16384+0",
        "1x1+2147483647+0", "100000x100000+0+0", "0x768+0+0", "-5x5+0+0", "1024x768",
        "1024x768+0+0junk", "1024 x768+0+0", "16000x10+-16000+0", "99999999999999999999x1+0+0",
        "", ",", "1x1-16384-16384,1x1+16383+16383",
    ]


def report_layout():
    # Three bytes pick the screen and the check-box area; the rest is the INI file.
    screens = [b"\x14\x0f\x01", b"\x00\x00\x00", b"\xff\xff\x01"]
    bodies = [
        "",
        "[Coordinates]\nLeft=900\nTop=700\nWidth=500\nHeight=300\nWindowsState=3\n",
        "[Coordinates]\nLeft=-50\nTop=-20\nWidth=300\nHeight=200\nWindowsState=6\n",
        "[Coordinates]\nLeft=2147483647\nTop=2147483647\n",
        "[Coordinates]\nLeft=-2147483648\nTop=-2147483648\nWidth=2147483647\n"
        "Height=2147483647\n",
        "[Coordinates]\nWidth=-3\nHeight=0\nWindowsState=4\n",
        "[Coordinates]\nCol0=80\nCol1=102\nCol2=-1\nColMod0=2147483647\nColMod5=x\n",
        "[coordinates]\r\nleft = 10\r\ntop=$10\r\nwidth=0x200\r\n",
    ]
    for screen in screens:
        for body in bodies:
            yield screen + body.encode()


def cddb_reply():
    # The first byte picks query (even) or read (odd), the second the owner's choice.
    query, read = b"\x00\x01", b"\x01\x01"
    entry = [
        "# xmcd", "#", "# Track frame offsets:", "#\t150", "#\t9000", "#",
        "# Disc length: 300 seconds", "#", "# Revision: 3", "# Submitted via: fuzz 1.0", "#",
        "DISCID=05012a02", "DTITLE=Artist / Album", "DTITLE= continued", "DYEAR=1999",
        "DGENRE=Rock", "TTITLE0=One", "TTITLE1=Two / with a slash", "TTITLE1= and more",
        "EXTD=Extended\\nlines\\t", "EXTD= YEAR: 1999 ID3G: 17", "EXTT0=", "EXTT1=Note",
        "PLAYORDER=",
    ]
    matches = ["rock 05012a02 A / B", "jazz 05012a02 C / D", "misc 05012a03 E / F"]
    for line_end in (CRLF, "\n", "\r"):
        def doc(lines, end=True):
            return line_end.join(lines) + (line_end if end else "")
        yield query + doc(["200 rock 05012a02 Artist / Album"]).encode()
        yield query + doc(["210 Found exact matches, list follows (until terminating `.')"] +
                          matches + ["."]).encode()
        yield query + doc(["211 Found inexact matches, list follows"] + matches[:1] +
                          ["."]).encode()
        yield read + doc(["210 rock 05012a02 CD database entry follows"] + entry +
                         ["."]).encode()
    for code in ("202 No match found", "403 Database entry is corrupt", "409 No handshake",
                 "500 Command syntax error", "200 badcategory! 123 Bad / Id", "211 none", "."):
        yield query + (code + CRLF).encode()
    for code in ("401 rock 05012a02 No such CD entry", "402 Server error",
                 "403 Database entry is corrupt", "409 No handshake", "500 Unknown",
                 "210 rock 05012a02 follows" + CRLF + "." + CRLF,
                 "210 rock 05012a02 follows" + CRLF + "TTITLE999999999999=x" + CRLF + "."):
        yield read + (code + CRLF).encode()
    many = ["210 Found exact matches"] + ["rock %08x Artist %d / Album" % (i, i)
                                         for i in range(120)] + ["."]
    for choice in (b"\x00", b"\x02", b"\x05"):
        yield b"\x00" + choice + CRLF.join(many).encode()
    # Windows-1252 and UTF-8 text, and a document without a final line end.
    yield read + ("210 rock 05012a02 x" + CRLF + "DTITLE=Bj\xf6rk / Caf\xe9" + CRLF +
                  "TTITLE0=\x93Quote\x94" + CRLF + "TTITLE1=x" + CRLF + ".").encode("latin-1")
    yield read + ("210 rock 05012a02 x" + CRLF + "DTITLE=Björk / Café" + CRLF +
                  "TTITLE0=日本" + CRLF + "TTITLE1=x" + CRLF + ".").encode("utf-8")


def log_file():
    report = [
        "OstrelLog 4.5.4", "", "1.1 Date          : Mon, 07 Dec 2026 04:50:00",
        "1.2 Application   : Quorvel", "2.1 Count         : 1",
        "2.2 Address       : 00401000", "2.3 Module Name   : Quorvel",
        "2.4 Type          : EAccessViolation", "2.5 Message       : Access violation.",
        "2.6 ID            : 3A1F", "3.1 Reproduce     : step one",
        "", "Call Stack Information:", "|Address |Module  |Unit    |Class   |Procedure|Line|",
        "|00401000|quorvel |main.cpp|TMain   |Run      |[42]|",
        "", "Modules Information:", "|Handle  |Name    |Description|Version|Size|Path|",
        "|00400000|quorvel |           |       |2 Kb|/opt/q|",
    ]
    end = "\r\n\r\n\r\n"
    one = CRLF.join(report) + end
    two = one.replace("Access violation.", "Division by zero.").replace("3A1F", "3A20")
    yield one.encode()
    yield (one + two).encode()
    yield (one + two + one).encode()                     # a duplicate
    yield ("\r\n\r\n" + one + "\r\n" + two).encode()     # line ends around them
    yield (one + "garbage between" + CRLF + two).encode()
    yield (one + "OstrelLog 4.5.4 no end").encode()      # cut off
    yield ("xx" + one).encode()                          # not at a line start
    yield one.replace(CRLF, "\n").encode()
    yield (one + "OstrelLog inside" + end).encode()
    yield b""


def ini_file():
    yield from (s.encode("utf-8") for s in [
        "\ufeff; settings\r\n[CONF]\r\nZentha=C:\\Suite\\\r\nMonitor=$1\r\nCompression=0x10\r\n",
        "[CONF]\nlocalCDDB=db\nspace_char=_\ndebug=1\n[PROXY]\nProxyIP=127.0.0.1\nProxyPort=80\n",
        "[Options]\nKeep=1\nkeep=2\nKEEP=3\n[options]\nKeep=4\n",
        "[PROXY\nProxyIP=x\n[]\n=value\nnoequals\n  [ Spaced ]  \n  key  =  value  \n",
        "[LANGUAGE]\nRIP=Extraire\nEXIT=Quitter\nQuoted=\"a b\"\nSingle='c'\n",
        "key before any section=1\n[A]\n;comment=1\n#hash=2\nx=1=2\n",
        "[A]\r\nlast=no line end",
        "[A]\rold=mac\r[B]\ry=2\r",
        "[Numbers]\nneg=-2147483648\nbig=2147483648\nhex=$7FFFFFFF\nbool=true\nbool2=0\n",
        "[Long]\nv=" + "x" * 5000 + "\n",
        "[A]\nv=caf\xe9 \u65e5\u672c\n[B\u00e9]\nk\u00e9=1\n",
        "",
    ])
    yield b"[A]\nv=caf\xe9 latin-1\n"


KINDS = {"monitors": monitors, "report_layout": report_layout, "cddb_reply": cddb_reply,
         "log_file": log_file, "ini_file": ini_file}


def main():
    if len(sys.argv) != 3 or sys.argv[1] not in KINDS:
        sys.exit(__doc__)
    folder = sys.argv[2]
    os.makedirs(folder, exist_ok=True)
    for n, seed in enumerate(KINDS[sys.argv[1]]()):
        data = seed if isinstance(seed, bytes) else seed.encode()
        with open(os.path.join(folder, "seed-%03d" % n), "wb") as f:
            f.write(data)


main()
