#!/usr/bin/env python3
"""Writes small pictures of every format the picture readers take into the folder given:
BMP in each depth, baseline, progressive and grey JPEG with the common
samplings, PNG in each colour type and GIF with palettes, transparency,
interlacing and several frames. Drawn, not noise, so the encoders' paths are the usual ones."""
import io
import os
import struct
import sys

from PIL import Image, ImageDraw


def picture(mode, size=(13, 9)):
    im = Image.new("RGB", size, (250, 240, 10))
    d = ImageDraw.Draw(im)
    d.rectangle((2, 1, size[0] - 3, size[1] - 2), outline=(200, 10, 30), fill=(20, 90, 200))
    d.line((0, size[1] - 1, size[0] - 1, 0), fill=(0, 0, 0))
    return im.convert(mode) if mode != "P" else im.quantize(7)


def bmp(bits, pixels, width, height, compression=0, core=False, top_down=False, masks=None):
    """A BMP of `pixels` (the pixel data as stored) written by hand: the depths, compressions
    and headers PIL does not write."""
    colours = 1 << bits if bits <= 8 else 0
    if core:
        info = struct.pack("<IHHHH", 12, width, height, 1, bits)
        palette = b"".join(struct.pack("<BBB", i * 17 % 256, i * 53 % 256, i * 91 % 256)
                           for i in range(colours))
    else:
        info = struct.pack("<IiiHHIIiiII", 40, width, -height if top_down else height, 1, bits,
                           compression, len(pixels), 2835, 2835, colours, 0)
        palette = b"".join(struct.pack("<BBBB", i * 17 % 256, i * 53 % 256, i * 91 % 256, 0)
                           for i in range(colours))
        if masks:
            palette = struct.pack("<III", *masks)
    offset = 14 + len(info) + len(palette)
    head = b"BM" + struct.pack("<IHHI", offset + len(pixels), 0, 0, offset)
    return head + info + palette + pixels


def hand_made_bmps():
    w, h = 7, 5
    rows4 = b"".join(bytes([(y * 16 + x) & 0xFF for x in range(4)]) for y in range(h))
    rle8 = (b"\x03\x01\x02\x05" + b"\x00\x03\x07\x08\x09\x00" + b"\x00\x00"  # runs, literal, end of line
            + b"\x00\x02\x02\x01" + b"\x04\x0a" + b"\x00\x00"            # delta, run
            + b"\x07\x0b\x00\x01")                                           # end of picture
    rle4 = (b"\x05\x12\x00\x04\x34\x56\x00\x00" + b"\x07\x9a\x00\x00"
            + b"\x00\x02\x01\x01\x03\x0f\x00\x01")
    # 16-bit rows of 7 pixels, padded to 16 bytes.
    rows16 = b"".join(b"".join(struct.pack("<H", (x * 4) << 11 | (y * 12) << 5 | x * y)
                               for x in range(w)) + b"\0\0" for y in range(h))
    return {
        "bmp-4bit.bmp": bmp(4, rows4, w, h),
        "bmp-rle8.bmp": bmp(8, rle8, w, h, compression=1),
        "bmp-rle4.bmp": bmp(4, rle4, w, h, compression=2),
        "bmp-565-bitfields.bmp": bmp(16, rows16, w, h, compression=3,
                                     masks=(0xF800, 0x07E0, 0x001F)),
        "bmp-555.bmp": bmp(16, rows16, w, h),
        "bmp-core-4bit.bmp": bmp(4, rows4, w, h, core=True),
        "bmp-top-down-4bit.bmp": bmp(4, rows4, w, h, top_down=True),
    }


def main(folder, cover):
    os.makedirs(folder, exist_ok=True)
    seeds = {}
    for mode in ("1", "L", "P", "RGB", "RGBA"):
        seeds[f"bmp-{mode}.bmp"] = (picture(mode), "BMP", {})
    for name, mode, opts in (
        ("jpeg-444", "RGB", {"subsampling": 0}),
        ("jpeg-420", "RGB", {"subsampling": 2}),
        ("jpeg-422-odd", "RGB", {"subsampling": 1, "quality": 40}),
        ("jpeg-progressive", "RGB", {"progressive": True}),
        ("jpeg-optimized-restart", "RGB", {"optimize": True, "restart_marker_rows": 1}),
        ("jpeg-grey", "L", {}),
        ("jpeg-cmyk", "CMYK", {}),
    ):
        size = (17, 11) if "odd" in name else (16, 16)
        seeds[name + ".jpg"] = (picture(mode, size), "JPEG", opts)
    for mode in ("1", "L", "P", "RGB", "RGBA", "LA", "I;16"):
        safe = mode.replace(";", "")
        seeds[f"png-{safe}.png"] = (picture(mode if mode != "I;16" else "I"), "PNG", {})
    seeds["png-transparent-palette.png"] = (picture("P"), "PNG", {"transparency": 0})
    seeds["gif-still.gif"] = (picture("P"), "GIF", {})
    seeds["gif-interlaced.gif"] = (picture("P", (20, 19)), "GIF", {"interlace": True})
    seeds["gif-transparent.gif"] = (picture("P"), "GIF", {"transparency": 1})
    frames = [picture("P", (12, 10)).rotate(a) for a in (0, 90, 180)]
    frames[1] = frames[1].crop((0, 0, 12, 10))
    seeds["gif-frames.gif"] = (
        frames[0],
        "GIF",
        {"save_all": True, "append_images": frames[1:], "duration": [50, 80, 120], "loop": 0,
         "disposal": [1, 2, 3], "transparency": 0, "optimize": False},
    )
    pictures = {}
    for name, (im, fmt, opts) in seeds.items():
        out = io.BytesIO()
        im.save(out, fmt, **opts)
        pictures[name] = out.getvalue()
    pictures.update(hand_made_bmps())
    for name, data in pictures.items():
        if cover:
            # The cover search's input: a search answer listing two pictures, a NUL, the picture.
            urls = "".join(f"<Details><ImageUrlLarge>http://img.test/{n}.jpg</ImageUrlLarge>"
                           "</Details>" for n in (1, 2))
            data = f"<?xml version='1.0'?><ProductInfo>{urls}</ProductInfo>".encode() + b"\0" + data
        with open(os.path.join(folder, "seed-" + name), "wb") as f:
            f.write(data)
    print(f"{len(pictures)} picture seeds in {folder}")


if __name__ == "__main__":
    if len(sys.argv) not in (2, 3) or sys.argv[2:] not in ([], ["cover"]):
        sys.exit(f"usage: {sys.argv[0]} <folder> [cover]")
    main(sys.argv[1], sys.argv[2:] == ["cover"])
