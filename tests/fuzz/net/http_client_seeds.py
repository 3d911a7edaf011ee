#!/usr/bin/env python3
"""Writes long answers for the HTTP client fuzz target into the folder given: header lines
just under and just over the client's 8,192-byte line limit, long bodies by length, by
chunks and up to the close, a long relocation, each with the two option bytes the target
reads first (how the answer is cut, and the request; bit 32 of the second aborts the
request part-way through the body)."""
import os
import sys


def seed(cut, options, *answers):
    return bytes([cut, options]) + b"\0".join(answers)


def main(folder):
    os.makedirs(folder, exist_ok=True)
    body = bytes((i * 7 + 13) % 256 for i in range(15000))
    text = b"".join(b"line %05d of the document\r\n" % i for i in range(600))
    chunks = b"".join(b"%x\r\n" % n + body[:n] + b"\r\n" for n in (1, 4096, 8000, 255)) + b"0\r\n\r\n"
    seeds = {
        "header-under-limit": seed(0, 1, b"HTTP/1.1 200 OK\r\nX-Long: " + b"a" * 8150 +
                                   b"\r\nContent-Length: 5\r\n\r\nabcde"),
        "header-over-limit": seed(7, 0, b"HTTP/1.0 200 OK\r\nX-Long: " + b"b" * 9000 + b"\r\n\r\n"),
        "status-over-limit": seed(0, 0, b"HTTP/1.1 200 " + b"c" * 8300 + b"\r\n\r\n"),
        "body-by-length": seed(3, 1, b"HTTP/1.1 200 OK\r\nContent-Length: 15000\r\n\r\n" + body),
        "body-to-close": seed(0, 0, b"HTTP/1.0 200 OK\r\n\r\n" + text),
        "body-chunked": seed(5, 1, b"HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n" + chunks),
        "abort-in-body": seed(2, 32 | 64, b"HTTP/1.1 200 OK\r\nContent-Length: 15000\r\n\r\n" + body),
        "abort-chunked": seed(0, 32 + 1, b"HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n" +
                              chunks),
        "long-relocation": seed(0, 1, b"HTTP/1.1 302 Found\r\nLocation: /" + b"d" * 8000 +
                                b"\r\nContent-Length: 0\r\n\r\n",
                                b"HTTP/1.1 200 OK\r\nContent-Length: 15000\r\n\r\n" + body),
        "no-line-end": seed(0, 0, b"HTTP/1.1 200 OK" + b"e" * 12000),
    }
    for name, data in seeds.items():
        with open(os.path.join(folder, name), "wb") as f:
            f.write(data)


if __name__ == "__main__":
    main(sys.argv[1])
