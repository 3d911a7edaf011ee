#!/usr/bin/env python3
"""Mutation check of the test suite, run on demand (not part of CI).

Each fault below is a one-line change to a line of the program. The script copies the tree
to a scratch folder (only changed files, so that the scratch build stays incremental),
applies the faults one at a time, rebuilds the test programs of the fault's label, runs
that label and prints whether the tests caught the fault. A fault whose line no longer
matches stops the script before anything is built.

  tests/mutation/mutants.py [--work DIR] [--sanitize address,undefined] [-j 3] [NAME...]
"""
import argparse
import json
import os
import shutil
import subprocess
import sys
import time

# (name, label regex, file, text on the line, its replacement[, anchor]). The line is the
# only one that holds the text, or the first one at or after the only line holding `anchor`.
MUTANTS = [
    ("tags-be32-byte-order", "^tags$", "tags/id3v2_read.cpp",
     "(uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16)", "(uint32_t{p[1]} << 24) | (uint32_t{p[0]} << 16)"),
    ("tags-syncsafe-shift", "^tags$", "tags/id3v2_read.cpp",
     "(uint32_t{p[1]} << 14)", "(uint32_t{p[1]} << 15)"),
    ("tags-unsync-write-e0", "^tags$", "tags/id3v2_write.cpp",
     "if (afterFF_ && (b == 0x00 || b >= 0xE0))", "if (afterFF_ && (b == 0x00))"),
    ("tags-utf16-low-byte-lost", "^tags$", "tags/id3v2_text.cpp",
     "out.push_back(static_cast<uint8_t>(unit & 0xFF));", "out.push_back(static_cast<uint8_t>(unit >> 8));"),
    ("net-smtp-dot-stuffing", "^net$", "net/smtpprot_text.cpp",
     "if (!piece.empty() && piece.front() == '.') piece.insert(piece.begin(), '.');", ";"),
    ("net-http-status-404-ok", "^net$", "net/httpprot.cpp",
     "if (statusCode_ >= 400) throw", "if (statusCode_ >= 500) throw"),
    ("net-http-chunk-bound", "^net$", "net/httpprot_parse.cpp",
     "if (chunkLength_ > kMaxChunk) {", "if (false) {"),
    ("net-base64-padding", "^net$", "net/mimeutil.cpp",
     "out += left > 1 ? kAlphabet[(v >> 6) & 63] : '=';", "out += left > 2 ? kAlphabet[(v >> 6) & 63] : '=';"),
    ("net-md5-byte-order", "^net$", "net/md5.cpp",
     "std::uint32_t(block[i * 4]) | std::uint32_t(block[i * 4 + 1]) << 8",
     "std::uint32_t(block[i * 4 + 1]) | std::uint32_t(block[i * 4]) << 8"),
    ("net-socks5-status-ignored", "^net$", "net/wsocket_socks.cpp",
     "if (Data[1] != 0) return Socks5Code(Data[1]);", "if (Data[1] == 0xFF) return Socks5Code(Data[1]);"),
    ("net-socks-auth-status", "^net$", "net/wsocket_socks.cpp",
     "if (Data[1] != 0) return Fail(20015,", "if (Data[1] > 1) return Fail(20015,"),
    ("cddb-xmcd-backslash-escape", "^cddb$", "cddb/localcddb_xmcd.cpp",
     'out += "\\\\\\\\";', 'out += "\\\\";'),
    ("cddb-discid-track-count", "^cddb$", "cddb/cddb_types.cpp",
     "| (length << 8) | toc.TrackCount;", "| (length << 8) | (toc.TrackCount - 1);"),
    ("cddb-xmcd-offset-seconds", "^cddb$", "cddb/localcddb_xmcd.cpp",
     "e.Second = static_cast<std::uint8_t>(offset / 75 - e.Minute * 60);",
     "e.Second = static_cast<std::uint8_t>(offset / 75 - e.Minute * 60 + 1);"),
    ("base-utf8-continuation-check", "^platform/base$", "platform/base/text.cpp",
     "if ((b & 0xC0) != 0x80) return 0;", "if (false) return 0;"),
    ("base-cp1252-range", "^platform/base$", "platform/base/text.cpp",
     "byte >= 0x80 && byte < 0xA0", "byte >= 0x80 && byte < 0x9F"),
    ("base-event-lost-wakeup", "^platform/base$", "platform/base/thread.cpp",
     "cv_.notify_one();", ";"),
    ("base-quote-escape", "^platform/base$", "platform/base/stringlist.cpp",
     "if (c == QuoteChar) out += QuoteChar;", ";"),
    ("base-registry-utf16-order", "^platform/base$", "platform/base/registry.cpp",
     "char16_t(bytes[i] | (bytes[i + 1] << 8))", "char16_t(bytes[i + 1] | (bytes[i] << 8))"),
    ("msg-queue-lost-wakeup", "^platform/msg$", "platform/msg/message_queue.cpp",
     "wakeup_.Signal();", ";"),
    ("gfx-bmp-u16-byte-order", "^platform/gfx$", "platform/gfx/bmp_codec.cpp",
     "return d_[at] | (static_cast<std::uint32_t>(d_[at + 1]) << 8);",
     "return d_[at + 1] | (static_cast<std::uint32_t>(d_[at]) << 8);"),
    ("gfx-bmp-24bit-channels", "^platform/gfx$", "platform/gfx/bmp_codec.cpp",
     "c = s[3 * x] | (s[3 * x + 1] << 8) | (s[3 * x + 2] << 16);",
     "c = s[3 * x + 2] | (s[3 * x + 1] << 8) | (s[3 * x] << 16);"),
    ("cdrom-track-sectors-off-by-one", "^platform/cdrom$", "platform/cdrom/disc_toc.cpp",
     "return end > Tracks[index].StartLsn ? end - Tracks[index].StartLsn : 0;",
     "return end > Tracks[index].StartLsn ? end - Tracks[index].StartLsn + 1 : 0;"),
    ("cdrom-bin-size-check", "^platform/cdrom$", "platform/cdrom/disc_image.cpp",
     "if (size % kCdSectorBytes != 0)", "if (size % kCdSectorBytes > kCdSectorBytes)"),
    ("cdrom-lsn-byte-order", "^platform/cdrom$", "platform/cdrom/scsi.cpp",
     "at[2] = static_cast<std::uint8_t>(lsn >> 8);", "at[2] = static_cast<std::uint8_t>(lsn >> 16);"),
    ("audio-flac-sample-byte-order", "^audio$", "audio/audio_flac.cpp",
     "out[i] = int16_t(uint16_t(p[2 * i] | (p[2 * i + 1] << 8)));",
     "out[i] = int16_t(uint16_t(p[2 * i + 1] | (p[2 * i] << 8)));"),
    ("audio-thread-lost-wakeup", "^audio$", "audio/audio_classes.cpp",
     "wake_.notify_one();", ";", "void TAudioThread::Resume() {"),
    ("classlib-scanline-bound", "^platform/classlib$", "platform/classlib/graphics.cpp",
     "if (y < 0 || y >= image_.Height()) {", "if (y < 0 || y > image_.Height()) {"),
    ("app-track-number-padding", "^app", "app/rip_naming.cpp",
     '(Track < 10 ? "0" : "")', '(Track < 9 ? "0" : "")'),
    ("app-dotdot-component", "^app", "app/rip_naming.cpp",
     'if (part == "..") part = "__";', ";"),
    ("app-cover-status", "^app", "app/cover/coversearch.cpp",
     "if (status == 200) {", "if (status != 0) {"),
    ("app-cover-query-escape", "^app", "app/cover/coversearch.cpp",
     "c == '_' || c == '~') {", "c == '_' || c == '~' || c == '&') {"),
]


def sync_tree(src, dst):
    """Copies changed files only: an unchanged file keeps its time stamp, a changed one gets a new one."""
    skip = {".git", "build"}
    seen = set()
    for root, dirs, files in os.walk(src):
        dirs[:] = [d for d in dirs if not (root == src and d in skip)]
        rel = os.path.relpath(root, src)
        os.makedirs(os.path.join(dst, rel), exist_ok=True)
        for f in files:
            s, d = os.path.join(root, f), os.path.join(dst, rel, f)
            seen.add(os.path.normpath(os.path.join(rel, f)))
            with open(s, "rb") as a:
                data = a.read()
            try:
                with open(d, "rb") as b:
                    if b.read() == data:
                        continue
            except FileNotFoundError:
                pass
            shutil.copy(s, d)  # a fresh time stamp, so that the scratch build sees the change
    for root, dirs, files in os.walk(dst):
        dirs[:] = [d for d in dirs if not (root == dst and d in skip)]
        for f in files:
            rel = os.path.normpath(os.path.relpath(os.path.join(root, f), dst))
            if rel not in seen:
                os.remove(os.path.join(root, f))


def locate(tree, mutant):
    name, _, path, find = mutant[:4]
    anchor = mutant[5] if len(mutant) > 5 else None
    with open(os.path.join(tree, path), encoding="utf-8") as f:
        lines = f.read().split("\n")
    start = 0
    if anchor is not None:
        hits = [i for i, l in enumerate(lines) if anchor in l]
        if len(hits) != 1:
            raise SystemExit(f"{name}: anchor found {len(hits)} times in {path}")
        start = hits[0]
        hits = [i for i in range(start, len(lines)) if find in lines[i]][:1]
    else:
        hits = [i for i, l in enumerate(lines) if find in l]
        if len(hits) > 1:
            raise SystemExit(f"{name}: text found on {len(hits)} lines of {path}")
    if not hits:
        raise SystemExit(f"{name}: text no longer in {path}: {find}")
    return lines, hits[0]


def run(cmd, cwd=None, log=None):
    r = subprocess.run(cmd, cwd=cwd, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
    if log:
        with open(log, "a") as f:
            f.write("$ " + " ".join(cmd) + "\n" + r.stdout + "\n")
    return r.returncode, r.stdout


def label_targets(build, label):
    _, out = run(["ctest", "--show-only=json-v1", "-L", label], cwd=build)
    tests = json.loads(out).get("tests", [])
    return sorted({os.path.basename(t["command"][0]) for t in tests if t.get("command")})


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    ap = argparse.ArgumentParser()
    ap.add_argument("--src", default=os.path.dirname(os.path.dirname(here)))
    ap.add_argument("--work", default="/tmp/qv-mutants")
    ap.add_argument("--sanitize", default="", help="QV_SANITIZE of the scratch build (none by default)")
    ap.add_argument("-j", dest="jobs", default="3")
    ap.add_argument("--timeout", default="60", help="seconds per test (a fault may make tests hang)")
    ap.add_argument("--no-baseline", action="store_true", help="skip the run of the labels unchanged")
    ap.add_argument("names", nargs="*")
    a = ap.parse_args()

    mutants = [m for m in MUTANTS if not a.names or m[0] in a.names]
    tree, build = os.path.join(a.work, "src"), os.path.join(a.work, "build")
    log = os.path.join(a.work, "mutants.log")
    os.makedirs(a.work, exist_ok=True)
    open(log, "w").close()
    sync_tree(a.src, tree)
    for m in mutants:  # every line must still be there before anything runs
        lines, i = locate(tree, m)
        if lines[i].replace(m[3], m[4], 1) == lines[i]:
            raise SystemExit(f"{m[0]}: the replacement changes nothing")
    cfg = ["cmake", "-S", tree, "-B", build, "-G", "Ninja", "-DCMAKE_BUILD_TYPE=Debug",
           f"-DQV_SANITIZE={a.sanitize}"]
    if run(cfg, log=log)[0] != 0 or run(["cmake", "--build", build, f"-j{a.jobs}"], log=log)[0] != 0:
        raise SystemExit(f"the unchanged tree does not build; see {log}")
    ctest = ["ctest", f"-j{a.jobs}", "--timeout", a.timeout, "-L"]
    if not a.no_baseline:
        for label in sorted({m[1] for m in mutants}):
            if run(ctest + [label], cwd=build, log=log)[0] != 0:
                raise SystemExit(f"label {label} fails without any fault; see {log}")

    caught = []
    for m in mutants:
        name, label, path = m[:3]
        full = os.path.join(tree, path)
        lines, i = locate(tree, m)
        original = "\n".join(lines)
        lines[i] = lines[i].replace(m[3], m[4], 1)
        t0 = time.time()
        try:
            with open(full, "w", encoding="utf-8") as f:
                f.write("\n".join(lines))
            targets = label_targets(build, label)
            rc, _ = run(["cmake", "--build", build, f"-j{a.jobs}", "--target"] + targets, log=log)
            if rc != 0:
                verdict = "BUILD FAILED (not a valid fault)"
            else:
                rc, out = run(ctest + [label], cwd=build, log=log)
                failed = [l.split(" - ")[1] for l in out.splitlines()
                          if " - " in l and l.strip()[0].isdigit()]
                verdict = "caught" if rc != 0 else "MISSED"
                if rc != 0:
                    caught.append(name)
                    verdict += f" by {len(failed)} test(s): " + ", ".join(failed[:3])
        finally:
            with open(full, "w", encoding="utf-8") as f:
                f.write(original)
        print(f"{name:34} {label:18} {verdict} ({time.time() - t0:.0f}s)", flush=True)
    print(f"caught {len(caught)} of {len(mutants)}")
    # Leave the scratch build matching the tree again.
    run(["cmake", "--build", build, f"-j{a.jobs}"], log=log)
    return 0


if __name__ == "__main__":
    sys.exit(main())
