"""Text on the wire: code page 1251 or UTF-8, and the NMDC escapes.

Every connection reads and writes one encoding: code page 1251 on the main
port, UTF-8 on the UTF-8 port, code page 1252 on the 1252 port.  The hub works on Python text and encodes
it for each receiver, so a line relayed from a 1251 client to a UTF-8 one
(or back) keeps every character that both encodings can write.

Bytes that do not decode (0x98, the one hole in code page 1251; a broken
UTF-8 sequence) are kept as surrogate escapes and go out again as the same
raw bytes, so a relay never loses them.  A character that the receiver's
encoding cannot write (an emoji to a 1251 client) goes out as '?'.  Binary
fields inside text (the status byte of $MyINFO) are turned into surrogate
escapes too (as_raw_bytes), so they reach every receiver unchanged.

Clients write '|' as "&#124;", '$' as "&#36;" and '&' as "&amp;" (where it
would start one of these) in chat, private messages and search words.  The
hub relays such text as it came; only search words are unescaped, before
they are matched against paths.
"""

import codecs
import re

CP1251 = "cp1251"
UTF8 = "utf-8"
CP1252 = "cp1252"
ERRORS = "demohub-wire"

_UNESCAPE = {"&#36;": "$", "&#124;": "|", "&amp;": "&"}
_ESCAPE_RE = re.compile(r"&#36;|&#124;|&amp;")


def _encode_error(exc):
    if not isinstance(exc, UnicodeEncodeError):
        raise exc
    out = bytearray()
    for ch in exc.object[exc.start:exc.end]:
        code = ord(ch)
        out += bytes([code - 0xDC00]) if 0xDC80 <= code <= 0xDCFF else b"?"
    return bytes(out), exc.end


codecs.register_error(ERRORS, _encode_error)


def encode(text: str, encoding: str = CP1251) -> bytes:
    return text.encode(encoding, ERRORS)


def decode(data: bytes, encoding: str = CP1251) -> str:
    return data.decode(encoding, "surrogateescape")


def writable_in(text: str, encoding: str) -> bool:
    """True when every character of text has its own bytes in encoding."""
    try:
        text.encode(encoding)
    except UnicodeEncodeError:
        return False
    return True


def as_raw_bytes(text: str, encoding: str) -> str:
    """text, as read in encoding, made to go out as the same bytes to every
    receiver: its non-ASCII bytes become surrogate escapes."""
    return "".join(chr(0xDC00 + b) if b >= 0x80 else chr(b) for b in encode(text, encoding))


def unescape(text: str) -> str:
    """'&#36;' -> '$', '&#124;' -> '|', '&amp;' -> '&', in one pass, so
    "&amp;#36;" stays the literal "&#36;"."""
    return _ESCAPE_RE.sub(lambda m: _UNESCAPE[m.group(0)], text)
