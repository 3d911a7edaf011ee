#!/usr/bin/env python3
"""Writes small pictures of every format the picture readers take into the folder given:
BMP in each depth, baseline, progressive and grey JPEG with the common
samplings, PNG in each colour type and GIF with palettes, transparency,
interlacing and several frames. Drawn, not noise, so the encoders' paths are the usual ones."""
import io
import os
import sys

from PIL import Image, ImageDraw


def picture(mode, size=(13, 9)):
    im = Image.new("RGB", size, (250, 240, 10))
    d = ImageDraw.Draw(im)
    d.rectangle((2, 1, size[0] - 3, size[1] - 2), outline=(200, 10, 30), fill=(20, 90, 200))
    d.line((0, size[1] - 1, size[0] - 1, 0), fill=(0, 0, 0))
    return im.convert(mode) if mode != "P" else im.quantize(7)


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
    for name, (im, fmt, opts) in seeds.items():
        out = io.BytesIO()
        im.save(out, fmt, **opts)
        data = out.getvalue()
        if cover:
            # The cover search's input: a search answer listing two pictures, a NUL, the picture.
            urls = "".join(f"<Details><ImageUrlLarge>http://img.test/{n}.jpg</ImageUrlLarge>"
                           "</Details>" for n in (1, 2))
            data = f"<?xml version='1.0'?><ProductInfo>{urls}</ProductInfo>".encode() + b"\0" + data
        with open(os.path.join(folder, "seed-" + name), "wb") as f:
            f.write(data)
    print(f"{len(seeds)} picture seeds in {folder}")


if __name__ == "__main__":
    if len(sys.argv) not in (2, 3) or sys.argv[2:] not in ([], ["cover"]):
        sys.exit(f"usage: {sys.argv[0]} <folder> [cover]")
    main(sys.argv[1], sys.argv[2:] == ["cover"])
