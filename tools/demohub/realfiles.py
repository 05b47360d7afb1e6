"""Real files that demo users share and serve for download.

Each RealFile has an owner, a share path as it goes on the wire (backslashes,
shown here as Python text and sent in code page 1251) and an exact size.  Its
bytes live under the data directory as <data>/<owner>/<path with '/'>, with
UTF-8 names on disk.  Files are generated once and reused when present with
the right size and the right leading bytes, so a restart costs nothing.

Content is deterministic so that a test can recompute or compare it:
- ".txt" files: numbered lines of pseudo-random words (readable, ASCII);
- everything else: 1 MiB blocks, each a 16-byte header (b"KIVO", a 32-bit
  seed, the 64-bit block number) followed by a rotation of one seeded
  pseudo-random MiB, so every block differs and a misplaced chunk shows.
Big files exist only when big_mib > 0; files that are not generated are not
shared at all.  An alias (see aliases()) is another user's share entry for
the same disk file: OldDC offers Seeder's big movie under its own path.
"""

import os
import random
import struct
import zlib
from dataclasses import dataclass
from pathlib import Path

MIB = 1 << 20
BLOCK_BYTES = MIB
TEXT_WORDS = ("alpha", "bravo", "keypad", "hub", "share", "slot", "nick", "lock",
              "key", "search", "result", "download", "upload", "demo", "kivo",
              "phone", "screen", "soft", "menu", "byte")


@dataclass(frozen=True)
class RealFile:
    owner: str
    path: str          # share path, backslash separated
    size: int
    disk: Path         # where the bytes live

    @property
    def seed(self) -> int:
        return zlib.crc32((self.owner + "\\" + self.path).encode("utf-8"))


def catalogue(big_mib: int):
    """(owner, share path, size) of every real file for this setting."""
    files = [
        ("Seeder", "Docs\\readme-demo.txt", 4097),
        ("Seeder", "Empty\\zero.bin", 0),
        ("Seeder", "Music\\Kivo Demo Band\\01 - Opening Theme.mp3", 3 * MIB + 11),
        ("Seeder", "Music\\Kivo Demo Band\\02 - Keypad Blues.mp3", 2 * MIB + 519),
        ("Seeder", "Книги\\Война и мир.txt", MIB + 17),
        ("Seeder", "Pictures\\screen-1.png", 65539),
        # A folder to browse in Seeder's file list and fetch whole: Cyrillic
        # names, files beside a subfolder, '&' and "'" that the list escapes.
        ("Seeder", "Музыка\\список песен.txt", 1501),
        ("Seeder", "Музыка\\Ёлочка 'зимняя'.mp3", 128 * 1024 + 13),
        ("Seeder", "Музыка\\Альбом\\01 - песня.mp3", 256 * 1024 + 7),
        ("Seeder", "Музыка\\Альбом\\02 - Rock & Roll.mp3", 192 * 1024 + 5),
        ("Seeder", "Музыка\\Альбом\\обложка.jpg", 40003),
        ("archivist", "Archive\\photos-2009.zip", 5 * MIB + 3),
        ("archivist", "Archive\\notes.txt", 1234),
        ("Slowpoke", "Slow\\slow-song.mp3", MIB + 5),
        ("Slowpoke", "Slow\\tiny.txt", 1000),
        ("HalfWay", "Broken\\half-movie.avi", 4 * MIB + 10),
        ("HalfWay", "Broken\\half-small.txt", 10001),
        ("Mask", "Masked\\secret.txt", 2048),
        ("Sleepy", "Sleepy\\lullaby.mp3", 512 * 1024),
        ("OldDC", "Legacy\\legacy-get-only.mp3", MIB + 21),
        # ncdc's paths begin with a backslash
        ("NcdcOnly", "\\share\\ncdc-only\\adc-only-track.mp3", 3 * MIB + 1),
        ("NcdcOnly", "\\share\\ncdc-only\\Песня для ADC.mp3", 2 * MIB + 3),
        ("BadByte", "Corrupt\\bad-byte-clip.avi", 3 * MIB + 5),
        ("NoSlots", "Busy\\maxed-out-album.zip", 2 * MIB + 9),
        ("Resumer", "Resume\\resume-me (докачка).avi", 4 * MIB + 13),
        ("Passive", "Firewalled\\passive-notes.txt", 2000),
        ("Secure", "Secure\\locked-notes.txt", 3001),
        ("Secure", "Secure\\sealed-archive.zip", 2 * MIB + 23),
    ]
    if big_mib > 0:
        files += [
            ("Seeder", "Video\\Kivo Demo Movie.avi", big_mib * MIB + 4321),
            ("Seeder", "Soft\\kivo-demo-disk.iso", (big_mib * 2 // 3) * MIB + 17),
            ("archivist", "Archive\\big\\backup-2010.tar", (big_mib // 2) * MIB + 99),
        ]
    return files


def aliases(big_mib: int):
    """(owner, share path, owner of the bytes, its share path): files that a
    second user shares from the first one's disk file, without a copy."""
    if big_mib <= 0:
        return []
    return [("OldDC", "Legacy\\Kivo Demo Movie.avi", "Seeder", "Video\\Kivo Demo Movie.avi")]


def text_bytes(seed: int, size: int) -> bytes:
    rng = random.Random(seed)
    out = bytearray()
    line = 0
    while len(out) < size:
        line += 1
        words = " ".join(rng.choice(TEXT_WORDS) for _ in range(rng.randint(3, 12)))
        out += b"%08d %s\n" % (line, words.encode("ascii"))
    return bytes(out[:size])


def binary_blocks(seed: int, size: int):
    """Yield the file's bytes in blocks of at most BLOCK_BYTES."""
    base = random.Random(seed).randbytes(BLOCK_BYTES)
    done = 0
    block = 0
    while done < size:
        turn = (block * 7919 * 131 + 16) % BLOCK_BYTES
        data = struct.pack(">4sIQ", b"KIVO", seed, block) + (base[turn:] + base[:turn])[16:]
        take = min(BLOCK_BYTES, size - done)
        yield data[:take]
        done += take
        block += 1


def content_blocks(f: RealFile):
    if f.path.lower().endswith(".txt"):
        yield text_bytes(f.seed, f.size)
    else:
        yield from binary_blocks(f.seed, f.size)


def head_bytes(f: RealFile, n: int = 4096) -> bytes:
    for block in content_blocks(f):
        return block[:n]
    return b""


def is_current(f: RealFile) -> bool:
    try:
        if f.disk.stat().st_size != f.size:
            return False
        want = head_bytes(f)
        with open(f.disk, "rb") as fh:
            return fh.read(len(want)) == want
    except OSError:
        return False


def generate(f: RealFile) -> None:
    f.disk.parent.mkdir(parents=True, exist_ok=True)
    tmp = f.disk.with_name(f.disk.name + ".tmp-%d" % os.getpid())
    with open(tmp, "wb") as fh:
        for block in content_blocks(f):
            fh.write(block)
    os.replace(tmp, f.disk)  # atomic: a second hub never sees half a file


def prepare(data_dir: Path, big_mib: int, log=lambda s: None):
    """Make sure every catalogued file exists; return the RealFile list."""
    result = []
    for owner, path, size in catalogue(big_mib):
        disk = data_dir.joinpath(owner, *[p for p in path.split("\\") if p])
        f = RealFile(owner, path, size, disk)
        if not is_current(f):
            log("generating %s (%d bytes)" % (disk, size))
            generate(f)
        result.append(f)
    by_path = {(f.owner, f.path): f for f in result}
    for owner, path, source_owner, source_path in aliases(big_mib):
        src = by_path[(source_owner, source_path)]
        result.append(RealFile(owner, path, src.size, src.disk))
    return result


def share_key(path: str) -> str:
    """How a share path is looked up: case-insensitive, without the leading
    backslash that some clients (ncdc) put in front."""
    return path.lstrip("\\").lower()
