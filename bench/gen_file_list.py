#!/usr/bin/env python3
"""Writes a file list as Direct Connect clients serve it (files.xml, UTF-8)
with N files in realistic nested folders: a share of music, films, books and
software, artists and albums, seasons and episodes, names with blanks,
digits, Latin-1 and Cyrillic letters and XML's escaped characters, sizes
from a few kB to GiB, a TTH for every file. The same N gives the same list.

    gen_file_list.py N > list.xml        (then bzip2 -9 it)
"""
import base64
import random
import sys

WORDS = ("love night song river blue dream fire light shadow city summer rain heart stone road winter "
         "gold silver wild ocean moon star black white red green storm glass paper angel ghost king queen "
         "café été garçon noël fräulein straße ночь река песня город звезда лето зима дорога").split()
EXTENSIONS = {
    "Music": [".mp3", ".flac", ".ogg", ".m4a"],
    "Films": [".mkv", ".avi", ".mp4", ".srt"],
    "Books": [".pdf", ".epub", ".djvu", ".txt"],
    "Software": [".iso", ".zip", ".tar.gz", ".exe"],
}
SIZES = {"Music": (2 << 20, 60 << 20), "Films": (300 << 20, 8 << 30), "Books": (100 << 10, 80 << 20),
         "Software": (1 << 20, 4 << 30)}


def escape(text):
    return (text.replace("&", "&amp;").replace("<", "&lt;").replace(">", "&gt;")
            .replace('"', "&quot;").replace("'", "&apos;"))


def title(rng, words):
    name = " ".join(rng.choice(WORDS) for _ in range(words))
    name = name.title() if rng.random() < 0.6 else name
    if rng.random() < 0.05:
        name += " & " + rng.choice(WORDS)
    if rng.random() < 0.03:
        name = "'" + name + "'"
    return name


def write_files(out, rng, kind, count, indent):
    low, high = SIZES[kind]
    for number in range(1, count + 1):
        name = "%02d - %s%s" % (number, title(rng, rng.randint(1, 4)), rng.choice(EXTENSIONS[kind]))
        tth = base64.b32encode(rng.getrandbits(192).to_bytes(24, "big")).decode()[:39]
        size = rng.randint(low, high)
        out.write('%s<File Name="%s" Size="%d" TTH="%s"/>\n' % (indent, escape(name), size, tth))


def main():
    total = int(sys.argv[1])
    rng = random.Random(total)
    out = sys.stdout
    out.write('<?xml version="1.0" encoding="utf-8" standalone="yes"?>\n')
    out.write('<FileListing Version="1" CID="%s" Base="/" Generator="gen_file_list 1">\n'
              % base64.b32encode(rng.getrandbits(192).to_bytes(24, "big")).decode()[:39])
    left = total
    kinds = list(EXTENSIONS)
    while left > 0:
        kind = rng.choice(kinds)
        out.write('<Directory Name="%s">\n' % kind)
        for _ in range(rng.randint(5, 40)):        # artists, series, authors, vendors
            if left <= 0:
                break
            out.write('\t<Directory Name="%s">\n' % escape(title(rng, rng.randint(1, 3))))
            for year in range(rng.randint(1, 6)):  # albums, seasons, ...
                if left <= 0:
                    break
                count = min(left, rng.randint(3, 25))
                out.write('\t\t<Directory Name="%d - %s">\n' % (1970 + rng.randint(0, 55), escape(title(rng, 2))))
                write_files(out, rng, kind, count, "\t\t\t")
                out.write("\t\t</Directory>\n")
                left -= count
            out.write("\t</Directory>\n")
        out.write("</Directory>\n")
    out.write("</FileListing>\n")


if __name__ == "__main__":
    main()
