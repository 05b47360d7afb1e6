"""A demo user's file list, files.xml.bz2, as sharing clients write it.

A downloader asks for it with "$ADCGET file files.xml.bz2 0 -1" (or the
legacy "$Get files.xml.bz2$1") and gets the bzip2 of

  <?xml version="1.0" encoding="utf-8" standalone="yes"?>
  <FileListing Version="1" CID="<39 base32>" Base="/" Generator="demohub 1.0">
  <Directory Name="Music">
  \t<Directory Name="Kivo Demo Band">
  \t\t<File Name="01 - Opening Theme.mp3" Size="3145739" TTH="<39 base32>"/>
  \t</Directory>
  </Directory>
  </FileListing>

one <Directory> per folder of the share paths (NcdcOnly's "\\share\\..."
gives a folder "share", as ncdc's lists have), nested as the paths are, a
tab of indentation per level as eiskaltdcpp writes it.  In each folder the
folders come first, then the files, each sorted by name, case aside.  Names
are UTF-8 with '&', '<', '>', '"' and "'" escaped.  A file carries the TTH
the hub knows for it (its real bytes hashed by rhash, or the shared
virtual alpha.txt); a virtual file without one carries none.  The CID is
made from the nick, so a user's list is the same on every run.
"""

import base64
import bz2
import hashlib

from .realfiles import share_key

NAME = "files.xml.bz2"
GENERATOR = "demohub 1.0"
HEADER = '<?xml version="1.0" encoding="utf-8" standalone="yes"?>\n'
_ESCAPES = {"&": "&amp;", "<": "&lt;", ">": "&gt;", '"': "&quot;", "'": "&apos;"}


def cid_of(nick: str) -> str:
    """39 base32 letters (24 bytes) derived from the nick."""
    digest = hashlib.sha256(("demohub " + nick).encode("utf-8")).digest()[:24]
    return base64.b32encode(digest).decode("ascii").rstrip("=")


def attribute(text: str) -> str:
    return "".join(_ESCAPES.get(c, c) for c in text)


def tree_of(user):
    """{name: subtree} for folders, [(name, size, tth)] for files: the
    tree (folders, files) of the user's shared files."""
    root = ({}, [])
    for path, size, is_dir in user.entries:
        if is_dir:
            continue
        names = [n for n in path.split("\\") if n]
        folder = root
        for name in names[:-1]:
            folder = folder[0].setdefault(name, ({}, []))
        folder[1].append((names[-1], size, user.tth.get(share_key(path))))
    return root


def _write(folder, depth: int, out: list) -> None:
    folders, files = folder
    pad = "\t" * depth
    for name in sorted(folders, key=lambda n: (n.lower(), n)):
        out.append('%s<Directory Name="%s">\n' % (pad, attribute(name)))
        _write(folders[name], depth + 1, out)
        out.append("%s</Directory>\n" % pad)
    for name, size, tth in sorted(files, key=lambda f: (f[0].lower(), f[0])):
        hashed = ' TTH="%s"' % tth if tth else ""
        out.append('%s<File Name="%s" Size="%d"%s/>\n' % (pad, attribute(name), size, hashed))


def listing_xml(user) -> bytes:
    out = [HEADER, '<FileListing Version="1" CID="%s" Base="/" Generator="%s">\n'
           % (cid_of(user.nick), GENERATOR)]
    _write(tree_of(user), 0, out)
    out.append("</FileListing>\n")
    return "".join(out).encode("utf-8")


def listing_bz2(user) -> bytes:
    return bz2.compress(listing_xml(user), 9)
