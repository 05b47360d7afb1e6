"""The demo users that the hub plays: nicks, $MyINFO and shares.

Every demo user is a DemoUser with a role:
- "chatbot"  Mira: talks in the public chat (see hub.py), shares nothing;
- "penpal"   PenPal: answers every private message;
- "seeder"   serves its real files normally;
- "slow"     Slowpoke: serves at a throttled rate;
- "halfway"  HalfWay: announces the full length, sends half, closes;
- "mask"     Mask: greets the downloader with another nick ("Zorro");
- "silent"   Sleepy: greets, then never answers the request;
- "legacy"   OldDC: an old client, $Get only (no ADCGet in its greeting,
             the hub name in its results, never a TTH);
- "adconly"  NcdcOnly: greets like ncdc and knows only $ADCGET;
- "badbyte"  BadByte: sends one byte of its file changed;
- "maxedout" NoSlots: answers every request with $MaxedOut;
- "resume"   Resumer: a request that starts before the middle of the file
             gets the bytes up to the middle, then the connection closes;
- "passive"  Passive: in passive mode itself (M:P in its tag, where every
             other user with real files says M:A), so it can never connect to a
             passive client: its results come, a $RevConnectToMe to it goes
             unanswered and a passive client's download waits for good; an
             active client's $ConnectToMe gets a connection and its file;
- "secure"   Secure: serves its real files over TLS only, as eiskaltdcpp
             does by default (a plain request gets
             "$Error Secure connection required!");
- "regular"  everybody else: virtual shares, downloads fail with $Error.
Only regular users come and go (churn).  Every sharing user but OldDC lists
ADCGet in its greeting, answers $ADCGET (by TTH or by path) and puts the
TTH of its real files into its search results when rhash gave one; every
one but NcdcOnly answers the legacy $Get too (see peer.py).

TLS transfers (DemoUser.tls): Seeder and archivist offer them to a client
whose $MyINFO announces TLS and serve everybody else in plain; Secure
requires them.  These three set bit 0x10 (TLS) in their own $MyINFO flag
byte, as real clients that can do TLS do.

A share entry is (path, size, is_dir).  Paths use backslashes (NcdcOnly's
begin with one, as ncdc's do).  Real files (see realfiles.py) carry their
true sizes; virtual entries have made-up sizes from 0 bytes to several GiB
and cannot be downloaded.  Everything is derived from crc32 seeds, never
from Python's salted hash(), so the population and its search answers are
the same on every run.
"""

import os
import random
import zlib
from dataclasses import dataclass, field

from .filelist import listing_bz2
from .realfiles import share_key
from .tls import TLS_FLAG

KIB, MIB, GIB, TIB = 1 << 10, 1 << 20, 1 << 30, 1 << 40
TLS_OFFERED, TLS_REQUIRED = "offered", "required"

SPECIALS = (
    # nick, role, share override (None: sum of real files), interests
    ("Mira", "chatbot", 0, ()),
    ("PenPal", "penpal", 12345678901, ("books", "music")),
    ("Seeder", "seeder", None, ()),
    ("archivist", "seeder", None, ()),
    ("Slowpoke", "slow", None, ()),
    ("HalfWay", "halfway", None, ()),
    ("Mask", "mask", None, ()),
    ("Sleepy", "silent", None, ()),
    ("OldDC", "legacy", None, ()),
    ("NcdcOnly", "adconly", None, ()),
    ("BadByte", "badbyte", None, ()),
    ("NoSlots", "maxedout", None, ()),
    ("Resumer", "resume", None, ()),
    ("Passive", "passive", None, ()),
    ("Secure", "secure", None, ()),
)

# nick, share in bytes, interests.  Order is the order of $MyINFO on login;
# "bob" comes before "bobby" but "anna" before "ann" on purpose.
REGULARS = (
    ("bob", 2147483647, ("music",)),
    ("bobby", 4294967296, ("music", "video")),
    ("Bobcat", 3 * TIB + 12345, ("video", "soft")),
    ("Alice", 734003200, ("books", "photo")),
    ("alice", 2147483648, ("music",)),
    ("anna", 5368709120, ("music", "ru")),
    ("ann", 104857600, ("books",)),
    ("annabel", 987654321, ("photo", "music")),
    ("max", 31457280000, ("soft", "video")),
    ("maxim", 1, ("misc",)),
    ("Maximus", 2 * TIB, ("video",)),
    ("Вася", 21474836480, ("music", "ru")),
    ("Василий", 3221225472, ("video", "ru")),
    ("Петя", 500000000, ("music", "ru")),
    ("Маша", 7340032000, ("books", "ru")),
    ("МАША", 7340032001, ("music", "ru")),
    ("Кот", 42, ("photo",)),
    ("Котик", 4398046511104, ("video", "music", "ru")),
    ("Ёжик", 123456789012, ("music", "ru", "books")),
    ("Дед_Мороз", 1999999999, ("soft", "ru")),
    ("Чебурашка", 88888888888, ("video", "ru", "music")),
    ("[RU]Сталкер", 2500000000000, ("soft", "video", "ru")),
    ("Наташа", 0, ("books", "ru")),
    ("Zed", 650000000, ("music",)),
    ("zed", 650000001, ("music",)),
    ("xXx_Gamer_xXx", 900000000000, ("soft",)),
    ("dj_tomcat", 60000000000, ("music",)),
    ("[BY]Partizan", 77777777777, ("music", "ru", "video")),
    ("ozzy", 2147483649, ("music",)),
    ("DeepPurple", 333333333333, ("music",)),
    ("linux_fan", 45000000000, ("soft", "ncdc")),
    ("mp3collector", 5 * TIB + 512 * GIB, ("music", "music2")),
    ("bookworm", 3000000000, ("books", "long")),
    ("movie_buff", 3 * TIB, ("video",)),
    ("n00b", 1073741824, ("misc",)),
    ("Oldtimer", 2147483648, ("music", "books")),
    ("vinyl", 250000000000, ("music", "music2")),
    ("tux", 12000000000, ("soft", "ncdc")),
    ("sunny", 8000000000, ("photo", "music")),
    ("a", 0, ()),
    ("Z-9000", 4294967295, ("soft",)),
    ("retro", 16000000000, ("music", "soft")),
    ("Metallist", 99000000000, ("music",)),
    ("ghost", 0, ()),
)

CLIENT_TAGS = ("++ V:0.868", "EiskaltDC++ V:2.4.2", "ncdc V:1.23.1", "ApexDC++ V:1.3.9",
               "StrgDC++ V:2.42", "FlylinkDC++ V:r502", "DC++ V:0.674")
CONNECTIONS = ("LAN(T1)", "LAN(T3)", "Cable", "DSL", "Modem", "Satellite", "0.005",
               "100", "20", "56Kbps")
DESCRIPTIONS = ("", "music lover", "только русское", "no porn please", "slots free at night",
                "hello from Minsk", "привет всем", "shared since 2004", "fast link",
                "ask before downloading", "Linux only", "DVD rips")


@dataclass
class DemoUser:
    nick: str
    role: str
    share: int
    myinfo: str = ""
    slots: tuple = (1, 3)              # free, total: goes into $SR
    entries: list = field(default_factory=list)   # (path, size, is_dir)
    real: dict = field(default_factory=dict)      # share_key(path) -> RealFile
    tth: dict = field(default_factory=dict)       # share_key(path) -> TTH, where known
    by_tth: dict = field(default_factory=dict)    # TTH -> RealFile
    file_list: bytes = b""                        # files.xml.bz2 (see filelist.py)

    @property
    def churns(self) -> bool:
        return self.role == "regular"

    @property
    def adc(self) -> bool:
        """Lists ADCGet in its greeting and answers $ADCGET."""
        return self.role != "legacy"

    @property
    def takes_get(self) -> bool:
        """Answers the legacy $Get (ncdc does not)."""
        return self.role != "adconly"

    @property
    def tls(self) -> str:
        """TLS_OFFERED: transfers over TLS to a client that announces it;
        TLS_REQUIRED: requests taken over TLS only; "": plain only."""
        if self.role == "seeder":
            return TLS_OFFERED
        return TLS_REQUIRED if self.role == "secure" else ""

    @property
    def serves(self) -> bool:
        """Answers $RevConnectToMe (everybody who shares something)."""
        return self.role not in ("chatbot", "passive")

    @property
    def connects(self) -> bool:
        """Answers $ConnectToMe by connecting: everybody who shares something,
        Passive too (an active client reaches a passive user this way)."""
        return self.role != "chatbot"


def make_myinfo(nick: str, share: int, rng: random.Random, style: str, flags: int = 0,
                mode: str = "") -> str:
    """flags are set in the flag byte (not in the PtokaX style, which has a
    letter there); mode, when given, is the tag's M: in place of a random one
    (the random draw is made either way, so the other fields stay the same)."""
    desc = rng.choice(DESCRIPTIONS)
    conn = rng.choice(CONNECTIONS)
    status = chr(ord(rng.choice(("\x01", "\x01", "\x01", "\x02", "\x09"))) | flags)
    email = rng.choice(("", "", "", nick.lower() + "@example.org"))
    if style == "ptokax":
        # How PtokaX relays with its tag stripping on: "$A$", extra letter.
        return "$MyINFO $ALL %s %s$A$%sA$$%d$" % (nick, desc, conn, share)
    if style == "plain":
        return "$MyINFO $ALL %s %s$ $%s%s$%s$%d$" % (nick, desc, conn, status, email, share)
    client = rng.choice(CLIENT_TAGS)
    drawn = rng.choice("AAP")
    tag = "<%s,M:%s,H:%d/%d/%d,S:%d>" % (client, mode or drawn,
                                         rng.randint(1, 9), rng.randint(0, 2),
                                         rng.randint(0, 2), rng.randint(1, 10))
    return "$MyINFO $ALL %s %s%s$ $%s%s$%s$%d$" % (nick, desc, tag, conn, status, email, share)


# Virtual files that several users share byte for byte, with the TTH of
# those bytes (rhash --tth of the six bytes "alpha\n"): every sharer's result
# carries it, so a client sees one file with several sources, as on a real
# hub.  Like every virtual entry they cannot be downloaded.
SHARED_VIRTUAL_TTHS = {"share\\alpha.txt": "NO7SPF3VBJB4LSTKNBV63REQKOMU5VMZLRM6ZLI"}


def seed_of(text: str) -> int:
    return zlib.crc32(text.encode("utf-8"))


def build_population(real_files, tths=None):
    """The demo users; tths maps a real file's absolute disk path to its TTH."""
    users = []
    for nick, role, share, interests in SPECIALS:
        users.append(_make_user(nick, role, share, interests, real_files, tths or {}))
    for nick, share, interests in REGULARS:
        users.append(_make_user(nick, "regular", share, interests, real_files, tths or {}))
    return users


def _make_user(nick, role, share, interests, real_files, tths):
    rng = random.Random(seed_of(nick))
    user = DemoUser(nick, role, 0)
    for f in real_files:
        if f.owner == nick:
            user.real[share_key(f.path)] = f
            user.entries.append((f.path, f.size, False))
            digest = tths.get(os.path.abspath(f.disk))
            if digest:
                user.tth[share_key(f.path)] = digest
                user.by_tth[digest] = f
    files = virtual_files(rng, interests)
    for path, _size in files:
        digest = SHARED_VIRTUAL_TTHS.get(share_key(path))
        if digest:
            user.tth[share_key(path)] = digest
    user.entries += [(p, s, False) for p, s in files]
    user.entries += directories_of(user.entries)
    user.share = share if share is not None else sum(f.size for f in user.real.values())
    style = ("tag", "tag", "plain", "ptokax")[rng.randrange(4)]
    if role != "regular":
        style = "tag"
    # Users who serve files answer $RevConnectToMe, as active users do, and
    # say so; Passive says what it is. Regulars are what their draw makes them.
    mode = "" if role == "regular" else "P" if role == "passive" else "A"
    user.myinfo = make_myinfo(nick, user.share, rng, style, TLS_FLAG if user.tls else 0, mode)
    total = rng.randint(1, 10)
    user.slots = (0 if role == "maxedout" else rng.randint(0, total), total)
    user.file_list = listing_bz2(user)
    return user


def directories_of(entries):
    dirs = []
    seen = set()
    for path, _size, _is_dir in entries:
        parts = path.split("\\")
        for depth in range(1, len(parts)):
            d = "\\".join(parts[:depth])
            if d and d.lower() not in seen:
                seen.add(d.lower())
                dirs.append((d, 0, True))
    return dirs


# ---- virtual shares --------------------------------------------------------

ARTISTS = ("Queen", "Metallica", "Pink Floyd", "Depeche Mode", "The Beatles", "Nirvana",
           "Radiohead", "ABBA", "Daft Punk", "Modern Talking", "Scorpions", "Deep Purple",
           "Led Zeppelin", "AC-DC", "Enigma", "Massive Attack")
ARTISTS_RU = ("Кино", "ДДТ", "Аквариум", "Ария", "Сплин", "Земфира", "Мумий Тролль",
              "Чайф", "Наутилус Помпилиус", "Машина времени", "Алиса", "Любэ")
WORDS = ("Night", "Road", "Blue", "Fire", "Dream", "Rain", "Time", "Heart", "City", "Light",
         "Moon", "Sun", "River", "Stone", "Wind", "Star", "Love", "Train", "Winter", "Gold")
WORDS_RU = ("Звезда", "Ночь", "Город", "Дождь", "Кукушка", "Небо", "Песня", "Осень",
            "Солнце", "Дорога", "Река", "Весна", "Ветер", "Группа крови", "Последний герой")
MOVIES = ("The Matrix", "Brother", "Брат 2", "Ирония судьбы", "Terminator 2", "Alien",
          "Москва слезам не верит", "Solaris", "Сталкер", "Back to the Future",
          "The Godfather", "Leon", "Пираты XX века", "Kin-dza-dza", "Amelie")
BOOKS = ("Толстой Л.Н. - Война и мир", "Булгаков М. - Мастер и Маргарита",
         "Стругацкие - Пикник на обочине", "Orwell G. - 1984", "Tolkien J.R.R. - The Hobbit",
         "Knuth D. - The Art of Computer Programming", "Чехов А.П. - Рассказы",
         "Lem S. - Solaris", "Ильф и Петров - 12 стульев", "Adams D. - Hitchhiker's Guide")
SOFTWARE = (("Soft\\Linux\\debian-12.5.0-amd64-DVD-1.iso", 3992977408),
            ("Soft\\Linux\\ubuntu-22.04-desktop-amd64.iso", 3654957056),
            ("Soft\\Windows\\7-Zip\\7z2301-x64.exe", 1570808),
            ("Soft\\Windows\\Total Commander\\tcmd1100x32_64.exe", 5512324),
            ("Soft\\Windows\\Winamp\\winamp5666_full.exe", 13245784),
            ("Soft\\Mobile\\WM\\Kivo_installer.cab", 151552),
            ("Games\\Doom\\doom1.wad", 4196020),
            ("Games\\Half-Life\\hl_setup.exe", 430123520),
            ("Soft\\DVD\\Windows XP SP3 (full).iso", 4707319808),
            ("Soft\\Office\\OpenOffice\\Apache_OpenOffice_4.1.14.exe", 141557760))


def virtual_files(rng: random.Random, interests):
    files = []
    if "music" in interests:
        files += music(rng, "ru" in interests, 3)
    if "music2" in interests:
        files += music(rng, False, 5)
    if "video" in interests:
        files += video(rng, "ru" in interests)
    if "books" in interests:
        root = "Книги" if "ru" in interests else "Books"
        for title in rng.sample(BOOKS, 4):
            ext = rng.choice(("fb2", "pdf", "djvu", "txt", "epub"))
            files.append(("%s\\%s.%s" % (root, title, ext), rng.randint(90 * KIB, 40 * MIB)))
    if "soft" in interests:
        files += rng.sample(SOFTWARE, 4)
    if "photo" in interests:
        year = rng.randint(2003, 2012)
        for n in range(rng.randint(3, 6)):
            files.append(("Photos\\%d\\Summer\\IMG_%04d.JPG" % (year, rng.randint(1, 9999)),
                          rng.randint(900 * KIB, 6 * MIB)))
    if "misc" in interests:
        files += [("Misc\\empty.txt", 0), ("Misc\\todo.txt", 17), ("Misc\\one byte.bin", 1),
                  # '$' and '&' in a name: a search writes them "&#36;" and "&amp;"
                  ("Misc\\Ke$ha & Friends - Tik Tok.mp3", 3379567)]
    if "ncdc" in interests:
        # ncdc sends paths with a leading backslash
        files = [("\\share\\" + p, s) for p, s in files] + [("\\share\\alpha.txt", 6)]
    if "long" in interests:
        files.append(("Books\\Collections\\A very long folder name that goes on and on for "
                      "testing purposes\\Another rather long sub folder name right here\\And "
                      "the file itself has a long name too.pdf", 2345678))
    return files


def music(rng: random.Random, russian: bool, albums: int):
    files = []
    if russian:
        root = rng.choice(("Музыка", "MP3", "Music\\Русское"))
    else:
        pick = rng.random()
        root = "MP3\\Collection" if pick < 0.15 else "music" if pick < 0.3 else "Music"
    artists = ARTISTS_RU if russian else ARTISTS
    words = WORDS_RU if russian else WORDS
    for artist in rng.sample(artists, albums):
        year = rng.randint(1975, 2010)
        album = "%d - %s %s" % (year, rng.choice(words), rng.choice(("", "Live", "II", "Best")))
        album = album.strip()
        for n in range(1, rng.randint(5, 10) + 1):
            title = "%s %s" % (rng.choice(words), rng.choice(words))
            files.append(("%s\\%s\\%s\\%02d - %s.mp3" % (root, artist, album, n, title),
                          rng.randint(2 * MIB, 12 * MIB)))
        if rng.random() < 0.5:
            files.append(("%s\\%s\\%s\\cover.jpg" % (root, artist, album), rng.randint(20 * KIB, 300 * KIB)))
    return files


def video(rng: random.Random, russian: bool):
    files = []
    root = "Фильмы" if russian else rng.choice(("Video", "Movies"))
    for title in rng.sample(MOVIES, 4):
        year = rng.randint(1970, 2010)
        if rng.random() < 0.3:
            files.append(("%s\\HD\\%s (%d) 1080p.mkv" % (root, title, year),
                          rng.randint(4 * GIB + 1, 9 * GIB)))
        else:
            files.append(("%s\\%s (%d).avi" % (root, title, year),
                          rng.randint(690 * MIB, 1500 * MIB)))
    return files
