"""Parsing of $Search and matching against the demo users' shares.

A search reads "$Search <source> <restricted>?<is max>?<size>?<type>?<words>",
where <source> is "Hub:<nick>" (passive) or "<ip>:<port>" (active) and the
words are separated by '$'.  An entry matches when every word occurs, case
insensitively, in its path.  A directory is answered only where the match
starts (its parent's path does not match), so a search for "music" gives
the "Music" folder once and not every folder below it.  Words come
escaped as clients write them ("&#36;" for '$', "&#124;" for '|', "&amp;"
for '&') and are unescaped before they are matched.
"""

from dataclasses import dataclass

from .wire import unescape

# File types of the search message (1 = any, 8 = folder, 9 = TTH).
TYPE_EXTENSIONS = {
    2: ("mp3", "mp2", "wav", "au", "rm", "mid", "sm", "ogg", "flac", "m4a", "aac", "wma"),
    3: ("zip", "arj", "rar", "lzh", "gz", "z", "arc", "pak", "7z", "bz2", "tar"),
    4: ("doc", "docx", "txt", "wri", "pdf", "ps", "tex", "rtf", "odt", "djvu", "fb2", "epub"),
    5: ("pm", "exe", "bat", "com", "msi", "cab", "apk", "iso"),
    6: ("gif", "jpg", "jpeg", "bmp", "pcx", "png", "wmf", "psd", "tif", "tiff"),
    7: ("mpg", "mpeg", "avi", "asf", "mov", "mkv", "mp4", "wmv", "3gp"),
}
TYPE_FOLDER, TYPE_TTH = 8, 9


@dataclass
class Query:
    source: str            # "Hub:<nick>" or "<ip>:<port>"
    restricted: bool
    at_most: bool
    size: int
    type: int
    words: tuple           # unescaped, lower-case

    @property
    def passive_nick(self):
        return self.source[4:] if self.source.startswith("Hub:") else None


def parse_search(msg: str):
    """Query for a "$Search ..." message (no bar), or None when malformed."""
    rest = msg[len("$Search "):]
    source, sep, query = rest.partition(" ")
    if not sep or not source:
        return None
    fields = query.split("?", 4)
    if len(fields) != 5:
        return None
    restricted, at_most, size, ftype, pattern = fields
    try:
        size_n = int(size) if size else 0
        type_n = int(ftype) if ftype else 1
    except ValueError:
        return None
    words = tuple(unescape(w).lower() for w in pattern.replace(" ", "$").split("$") if w)
    return Query(source, restricted == "T", at_most == "T", size_n, type_n, words)


def _all_in(words, text_lower):
    return all(w in text_lower for w in words)


def entry_matches(q: Query, path: str, size: int, is_dir: bool) -> bool:
    if not q.words or q.type == TYPE_TTH:
        return False
    low = path.lower()
    if not _all_in(q.words, low):
        return False
    if is_dir:
        if q.restricted or q.type not in (1, TYPE_FOLDER):
            return False
        parent = low.rpartition("\\")[0]
        return not _all_in(q.words, parent)
    if q.type == TYPE_FOLDER:
        return False
    if q.type in TYPE_EXTENSIONS:
        if low.rpartition(".")[2] not in TYPE_EXTENSIONS[q.type]:
            return False
    if q.restricted:
        return size <= q.size if q.at_most else size >= q.size
    return True


def search_users(q: Query, users, limit: int):
    """[(user, path, size, is_dir)] in user order, at most limit entries."""
    hits = []
    for user in users:
        for path, size, is_dir in user.entries:
            if entry_matches(q, path, size, is_dir):
                hits.append((user, path, size, is_dir))
                if len(hits) >= limit:
                    return hits
    return hits
