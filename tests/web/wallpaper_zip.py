#!/usr/bin/env python3
"""Checks nebla-wallpaper.zip as the wallpaper hosts read it: the members
at the top of the archive, each host's metadata parsing as JSON with the
fields the host needs and naming files the archive holds, the page marked
as a wallpaper and loading the build that runs from disk, and the preview
a JPEG picture.

Usage: wallpaper_zip.py ZIP
"""
import json
import sys
import zipfile

MEMBERS = {"index.html", "nebla-inline.js", "project.json", "LivelyInfo.json", "preview.jpg"}
# Wallpaper Engine: a web wallpaper's project.json.
ENGINE_FIELDS = {"title": str, "type": str, "file": str, "preview": str}
# Lively: LivelyInfo.json; Type 1 is a web page in its WallpaperType enum.
LIVELY_FIELDS = {"AppVersion": str, "Title": str, "Type": int, "FileName": str, "Thumbnail": str}


def fields(name, data, wanted):
    for field, kind in wanted.items():
        if not isinstance(data.get(field), kind) or data[field] in ("", None):
            sys.exit(f"{name}: {field} is missing or not a {kind.__name__}")


def main(path):
    with zipfile.ZipFile(path) as archive:
        names = set(archive.namelist())
        if names != MEMBERS:
            sys.exit(f"{path}: members {sorted(names)}, expected {sorted(MEMBERS)}")
        engine = json.loads(archive.read("project.json"))
        lively = json.loads(archive.read("LivelyInfo.json"))
        page = archive.read("index.html").decode("utf-8")
        inline = archive.read("nebla-inline.js")
        preview = archive.read("preview.jpg")
    fields("project.json", engine, ENGINE_FIELDS)
    fields("LivelyInfo.json", lively, LIVELY_FIELDS)
    if engine["type"] != "web" or lively["Type"] != 1:
        sys.exit("the metadata does not say the wallpaper is a web page")
    for named in (engine["file"], engine["preview"], lively["FileName"], lively["Thumbnail"]):
        if named not in names:
            sys.exit(f"the metadata names {named}, which the archive does not hold")
    if '<html lang="en" data-mode="wallpaper">' not in page or "nebla-inline.js" not in page:
        sys.exit("index.html is not marked as a wallpaper, or does not load nebla-inline.js")
    if b"data:application/octet-stream;base64," not in inline:
        sys.exit("nebla-inline.js does not hold its WebAssembly")
    if not (preview.startswith(b"\xff\xd8\xff") and preview.endswith(b"\xff\xd9")):
        sys.exit("preview.jpg is not a JPEG picture")
    print(f"{path}: {len(names)} members; both hosts' metadata in order")


if __name__ == "__main__":
    if len(sys.argv) != 2:
        sys.exit(__doc__)
    main(sys.argv[1])
