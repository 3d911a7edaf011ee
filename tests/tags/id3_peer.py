"""mutagen (and eyeD3) as the reference readers and writer for the tag tests.

dump FILE                      version and frames (text as UTF-8 hex), read by mutagen
dump-eyed3 FILE                the same, read by eyeD3
write FILE VERSION ID=HEX...   a tag with these text frames (plus COMM and APIC), saved by mutagen
"""
import sys

from mutagen.id3 import APIC, COMM, ID3, Frames


def is_text(frame_id):
    return frame_id.startswith("T") and frame_id != "TXXX"


def dump(path):
    tag = ID3(path, translate=False, load_v1=False)
    print("version", tag.version[1])
    for frame in tag.values():
        if is_text(frame.FrameID):
            text = "\0".join(str(t) for t in frame.text)
            print("frame", frame.FrameID, text.encode("utf-8").hex() or "-")
        else:
            print("frame", frame.FrameID, "-")


def dump_eyed3(path):
    import eyed3

    eyed3.log.setLevel("ERROR")
    tag = eyed3.load(path).tag
    print("version", tag.version[1])
    for frame_id, frames in tag.frame_set.items():
        frame_id = frame_id.decode("ascii")
        for frame in frames:
            text = frame.text if is_text(frame_id) else ""
            print("frame", frame_id, text.encode("utf-8").hex() or "-")


def write(path, version, pairs):
    tag = ID3()
    for pair in pairs:
        frame_id, hex_text = pair.split("=", 1)
        tag.add(Frames[frame_id](encoding=3, text=[bytes.fromhex(hex_text).decode("utf-8")]))
    tag.add(COMM(encoding=3, lang="eng", desc="", text=["mutagen comment"]))
    tag.add(APIC(encoding=0, mime="image/png", type=3, desc="", data=bytes(range(256)) * 4))
    tag.save(path, v2_version=int(version))


if __name__ == "__main__":
    command = sys.argv[1]
    if command == "dump":
        dump(sys.argv[2])
    elif command == "dump-eyed3":
        dump_eyed3(sys.argv[2])
    elif command == "write":
        write(sys.argv[2], sys.argv[3], sys.argv[4:])
    else:
        sys.exit("unknown command " + command)
