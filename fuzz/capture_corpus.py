#!/usr/bin/env python3
"""Captures the seed corpora of the fuzz targets from the demo hub's real traffic.

Starts tools/demohub.py on a free port of 127.0.0.1, plays Kivo's side of the
wire byte for byte (the login block, a search, chat, a private message, and
the legacy download handshake with several demo owners) and saves what the
hub and the peers send, cut the way each target reads its input:

  fuzz_hub_dispatch     raw hub receives after the login (at most 6000 bytes each)
  fuzz_user_message     the $MyINFO burst of the login, '|'-separated
  fuzz_search_result    single $SR messages without their '|'
  fuzz_connect_request  single $ConnectToMe messages without their '|'
  fuzz_lock_to_key      the hub's first receive and the peers' greetings
  fuzz_peer_handshake   what a peer sends: greeting, then its length reply
  fuzz_adc_send         what was asked ("<id> <offset> <length>" and a newline),
                        then the peer's answer to $ADCGET and at most
                        ADC_DATA_LIMIT bytes of the file behind it
  fuzz_search_tth       single $SR messages, with and without "TTH:<root>"

Run from anywhere:  python3 fuzz/capture_corpus.py [target ...]
With target names only those corpora are written; the others stay as they are.
"""

import os
import socket
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(HERE)
sys.path.insert(0, os.path.join(ROOT, "tools"))

from demohub.lockkey import lock_of, lock_to_key  # noqa: E402

NICK = b"kivo"
DISPATCH_LIMIT = 6000
ADC_DATA_LIMIT = 200
# Kivo's own texts (protocol/hub_messages.cpp, protocol/handshake.cpp).
LOGIN_TAIL = b" pelmark<Vantoric V:0.05,M:P,H:0/1/0,S:20>$ $Modem $$1234567890$|"
GREETING = b"$MyNick " + NICK + b"|$Lock EXTENDEDPROTOCOLABCABCABCABCABCABC Pk=KIVOLOKTAN0.242ABCABC|"
REQUEST_HEAD = b"$Supports MiniSlots ADCGet TTHF |$Direction Download 21356|"
ONLY = set()  # target names given on the command line; empty: all


def save(target, name, data):
    if ONLY and target not in ONLY:
        return
    folder = os.path.join(HERE, "corpus", target)
    os.makedirs(folder, exist_ok=True)
    with open(os.path.join(folder, name), "wb") as f:
        f.write(data)


def receive_for(sock, seconds, until=None):
    """Everything that arrives within seconds (or until the bytes contain until)."""
    sock.settimeout(0.1)
    data = b""
    end = time.monotonic() + seconds
    while time.monotonic() < end:
        try:
            got = sock.recv(65536)
        except socket.timeout:
            continue
        if not got:
            break
        data += got
        if until is not None and until in data:
            break
    return data


def whole_messages(data, limit):
    """The longest run of whole '|'-terminated messages within limit bytes."""
    cut = data[:limit]
    return cut[:cut.rfind(b"|") + 1]


def start_hub(workdir):
    port_file = os.path.join(workdir, "port")
    hub = subprocess.Popen(
        [sys.executable, os.path.join(ROOT, "tools", "demohub.py"), "--port", "0", "--port-file", port_file,
         "--quiet", "--churn-seconds", "0", "--big-mib", "0", "--seed", "7",
         "--data-dir", os.path.join(workdir, "data")],
        stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    for _ in range(100):
        if os.path.exists(port_file) and open(port_file).read().strip():
            return hub, int(open(port_file).read())
        time.sleep(0.1)
    hub.terminate()
    raise SystemExit("demo hub did not start")


def login(port):
    sock = socket.create_connection(("127.0.0.1", port), timeout=5)
    lock = sock.recv(1000)  # as Kivo's login: one receive of at most 1000 bytes
    save("fuzz_lock_to_key", "hub_lock", lock)
    message = lock[:lock.index(b"|")]
    key = b"$Key " + lock_to_key(lock_of(message)) + b"|"
    block = (b"$Supports UserCommand NoGetINFO NoHello UserIP2 |" + key + b"$ValidateNick " + NICK +
             b"|$Version 1,0091|$GetNickList|$MyINFO $ALL " + NICK + LOGIN_TAIL)
    sock.sendall(block)
    first = sock.recv(1000)
    burst = receive_for(sock, 1.5, until=b"Welcome to")
    return sock, first, burst


def download(port, hub_sock, owner, path):
    """Asks owner through the hub, then plays Kivo's download handshake."""
    hub_sock.sendall(b"$RevConnectToMe " + NICK + b" " + owner + b"|")
    relayed = receive_for(hub_sock, 3, until=b"$ConnectToMe")
    start = relayed.index(b"$ConnectToMe")
    connect = relayed[start:relayed.index(b"|", start)]
    address = connect.split(b" ")[2].decode()
    host, peer_port = address.split(":")
    peer = socket.create_connection((host, int(peer_port)), timeout=5)
    peer.sendall(GREETING)
    greeting = receive_for(peer, 2, until=b"$Key")
    greeting += receive_for(peer, 0.3) if not greeting.endswith(b"|") else b""
    stream = greeting
    key_at = greeting.find(b"$Key")
    if key_at >= 0:
        key = greeting[key_at:greeting.index(b"|", key_at) + 1]
        peer.sendall(REQUEST_HEAD + key + b"$Get " + path + b"$1|")
        stream += receive_for(peer, 1.5, until=b"|")
    peer.close()
    return relayed[:start] + connect + b"|", connect, greeting, stream


def connect_back(hub_sock, owner):
    """Asks owner through the hub and connects to the address it relays."""
    hub_sock.sendall(b"$RevConnectToMe " + NICK + b" " + owner + b"|")
    relayed = receive_for(hub_sock, 3, until=b"$ConnectToMe")
    start = relayed.index(b"$ConnectToMe")
    host, peer_port = relayed[start:relayed.index(b"|", start)].split(b" ")[2].decode().split(":")
    return socket.create_connection((host, int(peer_port)), timeout=5)


def download_adc(hub_sock, owner, file_id, offset, length):
    """Kivo's $ADCGET of file_id; returns the asked line and the peer's answer
    with at most ADC_DATA_LIMIT bytes of the file."""
    peer = connect_back(hub_sock, owner)
    peer.sendall(GREETING)
    greeting = receive_for(peer, 2, until=b"$Key")
    key_at = greeting.index(b"$Key")
    bar = greeting.find(b"|", key_at)
    if bar < 0:
        greeting += receive_for(peer, 0.5, until=b"|")
        bar = greeting.index(b"|", key_at)
    key = greeting[key_at:bar + 1]
    asked = b"%s %d %d" % (file_id, offset, length)
    peer.sendall(REQUEST_HEAD + key + b"$ADCGET file " + asked + b"|")
    answer = receive_for(peer, 1.5, until=b"|")
    answer += receive_for(peer, 0.3)
    peer.close()
    bar = answer.find(b"|")
    if bar >= 0:
        answer = answer[:bar + 1 + ADC_DATA_LIMIT]
    return asked + b"\n" + answer


def search(sock, words, seconds=1.0):
    sock.sendall(b"$Search Hub:" + NICK + b" F?T?0?1?" + words + b"|")
    return [m for m in receive_for(sock, seconds).split(b"|") if m.startswith(b"$SR ")]


def capture_adc(sock):
    """$SR messages with their TTH, and answers to $ADCGET by TTH and by path."""
    readme = [m for m in search(sock, b"readme") if m.startswith(b"$SR Seeder ")][0]
    root = readme[readme.index(b"TTH:") + 4:][:39]
    save("fuzz_search_tth", "seeder_readme", readme)
    book = [m for m in search(sock, b"\xe2\xee\xe9\xed\xe0") if m.startswith(b"$SR Seeder ")]  # "война" in 1251
    save("fuzz_search_tth", "seeder_cyrillic", book[0])
    legacy = search(sock, b"legacy$get")  # OldDC's: the hub name, no TTH
    save("fuzz_search_tth", "olddc_no_tth", legacy[0])
    ncdc = [m for m in search(sock, b"adc$only") if m.startswith(b"$SR NcdcOnly ")]
    save("fuzz_search_tth", "ncdc_only", ncdc[0])
    folder = [m for m in search(sock, b"music", 2.0) if m.count(b"\x05") == 1]
    save("fuzz_search_tth", "folder", folder[0])

    tth = b"TTH/" + root
    for owner, file_id, offset, length, name in (
            (b"Seeder", tth, 0, -1, "tth_whole"),
            (b"Seeder", tth, 100, 50, "tth_range"),
            (b"Seeder", b"/Docs/readme-demo.txt", 4000, -1, "path_tail"),
            (b"NcdcOnly", b"/share/ncdc-only/\xcf\xe5\xf1\xed\xff\\s\xe4\xeb\xff\\sADC.mp3", 0, 64,
             "escaped_path"),
            (b"Seeder", b"/Docs/missing.txt", 0, -1, "not_available"),
            (b"NoSlots", b"/Busy/maxed-out-album.zip", 0, -1, "maxed_out")):
        save("fuzz_adc_send", name, download_adc(sock, owner, file_id, offset, length))


def main():
    ONLY.update(sys.argv[1:])
    with tempfile.TemporaryDirectory() as workdir:
        hub, port = start_hub(workdir)
        try:
            capture(port)
        finally:
            hub.terminate()
            hub.wait(5)


def capture(port):
    sock, first, burst = login(port)
    save("fuzz_hub_dispatch", "login_first_reply", first)
    save("fuzz_hub_dispatch", "login_user_list", whole_messages(burst, DISPATCH_LIMIT))
    infos = [m for m in burst.split(b"|") if m.startswith(b"$MyINFO")]
    save("fuzz_user_message", "login_myinfo_burst", b"|".join(infos[:20]) + b"|")
    save("fuzz_user_message", "quit", b"$Quit Alice|$MyINFO $ALL Alice x$ $DSL\x01$$1$|$Quit Alice")

    sock.sendall(b"$Search Hub:" + NICK + b" F?T?0?1?mp3|")
    results = receive_for(sock, 2.0)
    save("fuzz_hub_dispatch", "search_mp3", whole_messages(results, DISPATCH_LIMIT))
    sock.sendall(b"$Search Hub:" + NICK + b" F?T?0?1?\xe2\xee\xe9\xed\xe0|")  # "война" in 1251
    cyrillic = receive_for(sock, 1.0)
    save("fuzz_hub_dispatch", "search_cyrillic", whole_messages(cyrillic, DISPATCH_LIMIT))
    sock.sendall(b"$Search Hub:" + NICK + b" F?T?0?1?music|")
    music = receive_for(sock, 2.0)
    files = [m for m in (results + cyrillic).split(b"|") if m.startswith(b"$SR ")][:4]
    folders = [m for m in music.split(b"|") if m.startswith(b"$SR ") and m.count(b"\x05") == 1][:2]
    for n, m in enumerate(files):
        save("fuzz_search_result", "demohub_file_%d" % n, m)
    for n, m in enumerate(folders):
        save("fuzz_search_result", "demohub_folder_%d" % n, m)

    sock.sendall(b"<" + NICK + b"> hello mira |")
    chat = receive_for(sock, 1.0, until=b"<Mira>")
    sock.sendall(b"$To: PenPal From: " + NICK + b" $<" + NICK + b"> hi there |")
    chat += receive_for(sock, 1.0, until=b"PenPal")
    save("fuzz_hub_dispatch", "chat_and_private", chat)

    for owner, path, name in ((b"Seeder", b"Docs\\readme-demo.txt", "seeder"),
                              (b"bob", b"Music\\none.mp3", "not_available"),
                              (b"Mask", b"Masked\\secret.txt", "masked"),
                              (b"Sleepy", b"Sleepy\\lullaby.mp3", "sleepy")):
        hub_bytes, connect, greeting, stream = download(port, sock, owner, path)
        save("fuzz_hub_dispatch", "connect_to_me_" + name, hub_bytes)
        save("fuzz_connect_request", name, connect)
        save("fuzz_peer_handshake", name, stream)
        if name == "seeder":
            save("fuzz_lock_to_key", "peer_lock", greeting[greeting.index(b"$Lock"):])
    capture_adc(sock)
    sock.close()


if __name__ == "__main__":
    main()
