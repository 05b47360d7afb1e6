"""NMDC lock-to-key transform, used on both sides of the demo hub.

The hub checks the $Key a client sends for the hub's own lock, and the
demo users compute the key for the lock a downloading client sends them.
Everything here works on raw bytes: a key may hold any byte value except
the six escaped ones, so it must never pass through a text codec.
"""

# Key bytes that cannot stand on the wire; each is written as /%DCNnnn%/.
ESCAPED_KEY_BYTES = frozenset((0, 5, 36, 96, 124, 126))


def lock_to_key(lock: bytes) -> bytes:
    """Key text (without "$Key " and "|") for the lock bytes."""
    n = len(lock)
    if n < 2:
        return b""
    key = bytearray(n)
    key[0] = lock[0] ^ lock[n - 1] ^ lock[n - 2] ^ 5
    for i in range(1, n):
        key[i] = lock[i] ^ lock[i - 1]
    out = bytearray()
    for b in key:
        b = ((b << 4) | (b >> 4)) & 0xFF
        if b in ESCAPED_KEY_BYTES:
            out += b"/%%DCN%03d%%/" % b
        else:
            out.append(b)
    return bytes(out)


def lock_of(message: bytes) -> bytes:
    """The lock inside a "$Lock <lock> Pk=<id>" message (no trailing bar).

    The lock runs from after "$Lock " to the next blank; a message without
    " Pk=" gives the rest of the message.
    """
    body = message[len(b"$Lock "):]
    end = body.find(b" ")
    return body if end < 0 else body[:end]
