"""Where the hub lets its demo users send UDP results or connect to.

A client names an address in an active "$Search <ip>:<port> ..." and in
"$ConnectToMe <nick> <ip>:<port>[S]".  The hub acts on it only when the
host is a literal IP address (never a name to resolve) that is a loopback
address or the one the client's own hub connection comes from, and the
port is 1 to 65535: anything else would let a client aim the hub's UDP
datagrams or connections at a third party.
"""

import ipaddress


def peer_target(text: str, client_host: str):
    """(host, port) of "<ip>:<port>" when the hub may send there, else None."""
    host, sep, port = text.rpartition(":")
    if not sep or not port.isdigit() or not 1 <= int(port) <= 65535:
        return None
    try:
        ip = ipaddress.ip_address(host)
    except ValueError:
        return None
    if not ip.is_loopback and str(ip) != client_host:
        return None
    return str(ip), int(port)
