"""Self-test of the demo hub: runs tools/demohub.py on a free port of
127.0.0.1 and talks to it the way Kivo does, in plain and over TLS.  Run from tools/ with
`python3 -m unittest test_demohub` (or `discover -s tools` from the root).
Every socket has a timeout and the hub is stopped with SIGTERM at the end.
"""

import base64
import bz2
import hashlib
import os
import re
import select
import shutil
import signal
import socket
import ssl
import subprocess
import sys
import tempfile
import time
import unittest
import xml.etree.ElementTree as ET
from pathlib import Path

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)

from demohub import population, realfiles, tls, tth  # noqa: E402
from demohub.lockkey import lock_of, lock_to_key  # noqa: E402
from demohub.peer import adc_path_to_share  # noqa: E402

TIMEOUT = 5.0
KIVO_SUPPORTS = b"$Supports UserCommand NoGetINFO NoHello UserIP2 |"
KIVO_PEER_LOCK = b"EXTENDEDPROTOCOLABCABCABCABCABCABC"
KIVO_PEER_SUPPORTS = b"$Supports MiniSlots ADCGet TTHF |"
HAVE_RHASH = shutil.which("rhash") is not None
NEEDS_RHASH = unittest.skipUnless(HAVE_RHASH, "rhash is not installed: no TTH")
HAVE_OPENSSL = shutil.which("openssl") is not None
NEEDS_OPENSSL = unittest.skipUnless(HAVE_OPENSSL, "openssl is not installed: no certificate")


def rhash_tth(path):
    out = subprocess.run(["rhash", "--tth", "--simple", path], stdout=subprocess.PIPE,
                         check=True, timeout=TIMEOUT).stdout
    return out.split(b" ")[0].upper()


def keyprint(der):
    """SHA256/<base32 of the SHA-256 of the certificate's DER>, no padding."""
    return b"SHA256/" + base64.b32encode(hashlib.sha256(der).digest()).rstrip(b"=")


class Conn:
    """A blocking NMDC connection that reads whole '|'-terminated messages;
    with tls, TLS from the first byte (any certificate: the test compares
    its keyprint itself)."""

    def __init__(self, port, tls=False):
        self.sock = socket.create_connection(("127.0.0.1", port), timeout=TIMEOUT)
        if tls:
            context = ssl.SSLContext(ssl.PROTOCOL_TLS_CLIENT)
            context.check_hostname = False
            context.verify_mode = ssl.CERT_NONE
            self.sock = context.wrap_socket(self.sock)
        self.buf = b""

    def keyprint(self):
        return keyprint(self.sock.getpeercert(binary_form=True))

    def close(self):
        self.sock.close()

    def send(self, data):
        self.sock.sendall(data)

    def message(self):
        while b"|" not in self.buf:
            chunk = self.sock.recv(65536)
            if not chunk:
                raise ConnectionError("closed")
            self.buf += chunk
        msg, _, self.buf = self.buf.partition(b"|")
        return msg

    def until(self, pred):
        deadline = time.monotonic() + TIMEOUT
        while time.monotonic() < deadline:
            msg = self.message()
            if pred(msg):
                return msg
        raise AssertionError("message not seen")

    def exact(self, n):
        while len(self.buf) < n:
            chunk = self.sock.recv(65536)
            if not chunk:
                break
            self.buf += chunk
        data, self.buf = self.buf[:n], self.buf[n:]
        return data

    def closed_by_peer(self):
        try:
            while True:
                if not self.sock.recv(65536):
                    return True
        except socket.timeout:
            return False
        except (ConnectionError, ssl.SSLError):
            return True


def login_block(nick, key, description=b"pelmark", flag=b" "):
    """Kivo's login; flag is the byte after the connection type (b"\x11":
    TLS transfers)."""
    return (KIVO_SUPPORTS + b"$Key " + key + b"|$ValidateNick " + nick +
            b"|$Version 1,0091|$GetNickList|$MyINFO $ALL " + nick + b" " + description +
            b"<Vantoric V:0.05,M:P,H:0/1/0,S:20>$ $Modem" + flag + b"$x$1024$|")


def first_reply(nick, name=b"Kivo Demo Hub"):
    return (b"$Supports NoHello UserCommand|$Hello " + nick + b"|$HubName " + name +
            b"|<Hub-Security> This hub is running demohub 1.0, a demo hub for Kivo.|")


def welcome(nick, name=b"Kivo Demo Hub"):
    return (b"<Hub-Security> Welcome to " + name + b", " + nick + b"! Search for mp3 or music, "
            b"say hello to Mira in the chat, or send PenPal a private message.|")


def start_hub(data, *extra):
    """Runs demohub.py on free ports; returns (process, {"": port, "utf-8":
    UTF-8 port, "cp1252": code page 1252 port, "tls": TLS port}), the last
    three only when asked for."""
    proc = subprocess.Popen(
        [sys.executable, os.path.join(HERE, "demohub.py"), "--port", "0", "--big-mib", "0",
         "--churn-seconds", "0", "--quiet", "--data-dir", data] + list(extra),
        stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
    ready, _, _ = select.select([proc.stdout], [], [], 30)
    lines = [proc.stdout.readline().decode() if ready else ""]
    kinds = [""] + [kind for kind, option in (("utf-8", "--utf8-port"), ("cp1252", "--cp1252-port"),
                                              ("tls", "--tls-port"))
                    if option in extra]
    for _ in kinds[1:]:
        lines.append(proc.stdout.readline().decode())   # printed right after the first
    prefixes = ["demohub %slistening on 127.0.0.1:" % (kind + " " if kind else "") for kind in kinds]
    if not all(line.startswith(prefix) for line, prefix in zip(lines, prefixes)):
        proc.kill()
        proc.wait()
        raise RuntimeError("hub did not start: %r" % lines)
    return proc, {kind: int(line.rsplit(":", 1)[1]) for kind, line in zip(kinds, lines)}


def stop_hub(proc):
    proc.send_signal(signal.SIGTERM)
    try:
        code = proc.wait(TIMEOUT)
    finally:
        if proc.poll() is None:
            proc.kill()
            proc.wait()
    assert code == 0, "hub exited with %r on SIGTERM" % code


DATA = None   # one data directory for every hub of this test


def setUpModule():
    global DATA
    DATA = tempfile.mkdtemp(prefix="demohub-test-")


def tearDownModule():
    shutil.rmtree(DATA, ignore_errors=True)


class LockToKey(unittest.TestCase):
    def test_worked_examples_keep_their_bytes_and_escapes(self):
        self.assertEqual(lock_to_key(b"abc"), b"V0\x10")
        self.assertEqual(lock_to_key(b"aaba"), b"v/%DCN000%/00")
        self.assertEqual(lock_to_key(b"a"), b"")

    def test_lock_stops_at_the_blank_before_pk(self):
        self.assertEqual(lock_of(b"$Lock abc Pk=x"), b"abc")


class Modes(unittest.TestCase):
    def test_users_who_serve_files_say_active_and_passive_says_passive(self):
        # A passive client gives up at once on a user whose tag says M:P.
        tags = {u.nick: re.search(r",M:(.),", u.myinfo) for u in population.build_population([])}
        modes = {nick: tag.group(1) for nick, tag in tags.items() if tag is not None}
        for nick in ("Seeder", "archivist", "Slowpoke", "HalfWay", "Secure", "OldDC", "NcdcOnly", "Resumer"):
            self.assertEqual(modes[nick], "A", nick)
        self.assertEqual(modes["Passive"], "P")


class AdcPath(unittest.TestCase):
    def test_adc_path_unescapes_to_the_share_path(self):
        self.assertEqual(adc_path_to_share("/Seeder/Video/Kivo\\sDemo\\sMovie.avi"),
                         "Seeder\\Video\\Kivo Demo Movie.avi")
        self.assertEqual(adc_path_to_share("/a\\nb"), "a\nb")
        for bad in ("Docs/readme-demo.txt", "\\Docs\\x", "//share/x", "/x/", "/a\\qb", "/a\\\\b"):
            self.assertIsNone(adc_path_to_share(bad), bad)


def listed_files(xml_bytes):
    """{share path with '\\': (size, TTH or None)} of a file list's XML,
    built from its nesting; checks that only folders hold entries."""
    root = ET.fromstring(xml_bytes)
    assert root.tag == "FileListing", root.tag
    found = {}

    def walk(element, above):
        for child in element:
            path = above + [child.get("Name")]
            if child.tag == "Directory":
                walk(child, path)
            else:
                assert child.tag == "File" and len(child) == 0, child.tag
                found["\\".join(path)] = (int(child.get("Size")), child.get("TTH"))
    walk(root, [])
    return found


class FileLists(unittest.TestCase):
    def test_every_users_list_parses_and_names_its_shared_files_nested(self):
        users = population.build_population([])
        for user in users:
            xml = bz2.decompress(user.file_list)
            self.assertTrue(xml.startswith(b'<?xml version="1.0" encoding="utf-8" standalone="yes"?>\n'
                                           b'<FileListing Version="1" CID="'), user.nick)
            cid = ET.fromstring(xml).get("CID")
            self.assertRegex(cid, r"^[A-Z2-7]{39}$")
            want = {p.lstrip("\\"): (s, user.tth.get(p.lstrip("\\").lower()))
                    for p, s, is_dir in user.entries if not is_dir}
            self.assertEqual(listed_files(xml), want, user.nick)
        by_nick = {u.nick: u for u in users}
        # Escaped names come back as they are shared; one TTH where the hub knows it.
        self.assertIn("Misc\\Ke$ha & Friends - Tik Tok.mp3", listed_files(bz2.decompress(by_nick["maxim"].file_list)))
        self.assertEqual(listed_files(bz2.decompress(by_nick["tux"].file_list))["share\\alpha.txt"],
                         (6, "NO7SPF3VBJB4LSTKNBV63REQKOMU5VMZLRM6ZLI"))
        self.assertNotEqual(ET.fromstring(bz2.decompress(by_nick["tux"].file_list)).get("CID"),
                            ET.fromstring(bz2.decompress(by_nick["Seeder"].file_list)).get("CID"))


class TthCache(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.mkdtemp(prefix="demohub-tth-")
        self.addCleanup(shutil.rmtree, self.dir, True)
        self.file = os.path.join(self.dir, "Песня a.bin")
        with open(self.file, "wb") as f:
            f.write(b"kivo" * 3000)

    def test_without_rhash_it_logs_once_and_knows_no_tth(self):
        said = []
        self.assertEqual(tth.file_hashes([self.file], self.dir, said.append,
                                         command="no-such-rhash-here"), {})
        self.assertEqual(len(said), 1)
        self.assertIn("not installed", said[0])

    @NEEDS_RHASH
    def test_a_second_start_takes_the_hash_from_the_cache_until_the_file_changes(self):
        first = tth.file_hashes([self.file], self.dir)
        self.assertEqual(first, {self.file: rhash_tth(self.file).decode()})
        # A stand-in for rhash that leaves a mark: it must not run again.
        mark = os.path.join(self.dir, "ran")
        fake = os.path.join(self.dir, "fake-rhash")
        with open(fake, "w") as f:
            f.write("#!/bin/sh\ntouch '%s'\n" % mark)
        os.chmod(fake, 0o755)
        self.assertEqual(tth.file_hashes([self.file], self.dir, command=fake), first)
        self.assertFalse(os.path.exists(mark))
        os.utime(self.file, ns=(1, 1))   # another mtime: hashed anew
        tth.file_hashes([self.file], self.dir, command=fake)
        self.assertTrue(os.path.exists(mark))


class HubCase(unittest.TestCase):
    """A running hub for the class: HUB_ARGS are added to the test options."""
    HUB_ARGS = ()

    @classmethod
    def setUpClass(cls):
        cls.data = DATA
        cls.proc, ports = start_hub(cls.data, *cls.HUB_ARGS)
        cls.port = ports[""]
        cls.utf8_port = ports.get("utf-8")
        cls.cp1252_port = ports.get("cp1252")
        cls.tls_port = ports.get("tls")

    @classmethod
    def tearDownClass(cls):
        stop_hub(cls.proc)

    def connect(self, port=None, tls=False):
        """A connection past the $Lock; returns (conn, key)."""
        c = Conn(port or self.port, tls)
        self.addCleanup(c.close)
        return c, lock_to_key(lock_of(c.message()))

    def login(self, nick, wrong_key=False, port=None, description=b"pelmark", flag=b" ",
              tls=False):
        c, key = self.connect(port, tls)
        if wrong_key:
            key = key[:-1] + bytes([key[-1] ^ 1])
        c.send(login_block(nick, key, description, flag))
        return c

    def logged_in(self, nick, port=None, description=b"pelmark", flag=b" ", tls=False):
        """A client whose login is complete, the welcome line read."""
        c = self.login(nick, port=port, description=description, flag=flag, tls=tls)
        c.until(lambda m: m.startswith(b"<Hub-Security> Welcome"))
        return c


class DemoHub(HubCase):
    HUB_ARGS = ("--utf8-port", "0", "--cp1252-port", "0")

    def test_right_key_gets_greeting_then_users_and_welcome(self):
        c = self.login(b"tester1")
        # Login pause 0 (the default): the user list comes in the same write
        # as the first reply, so Kivo's first receive holds all of it.
        first = c.sock.recv(1 << 20)
        self.assertTrue(first.startswith(first_reply(b"tester1")), first[:300])
        self.assertTrue(first.endswith(b"$OpList Hub-Security$$Mira$$|" + welcome(b"tester1")),
                        first[-300:])
        names = [m.split(b" ")[2] for m in first.split(b"|") if m.startswith(b"$MyINFO $ALL ")]
        self.assertEqual(names[0], b"Hub-Security")
        self.assertIn("Вася".encode("cp1251"), names)
        self.assertLess(names.index(b"bob"), names.index(b"bobby"))
        self.assertEqual(names[-1], b"tester1")   # own info comes last, as PtokaX does

    def test_wrong_key_is_refused_and_the_connection_closed(self):
        c = self.login(b"tester2", wrong_key=True)
        self.assertIn(b"wrong key", c.message())
        self.assertTrue(c.closed_by_peer())

    def test_nick_of_a_demo_user_is_denied(self):
        c = self.login(b"BOB")
        self.assertEqual(c.message(), b"$ValidateDenide BOB")
        self.assertTrue(c.closed_by_peer())

    def test_client_that_waits_for_hello_gets_it_before_its_myinfo(self):
        # microdc2's order: nothing after $ValidateNick until $Hello comes.
        c = Conn(self.port)
        self.addCleanup(c.close)
        key = lock_to_key(lock_of(c.message()))
        c.send(b"$Supports TTHSearch NoGetINFO NoHello|$Key " + key + b"|$ValidateNick classic|")
        self.assertEqual(c.message(), b"$Supports NoHello UserCommand")
        self.assertEqual(c.message(), b"$Hello classic")
        self.assertEqual(c.message(), b"$HubName Kivo Demo Hub")
        self.assertIn(b"running demohub", c.message())
        c.send(b"$Version 1,0091|$GetNickList|$MyINFO $ALL classic <microdc2 V:0.15.6,M:A,H:1/0/0,"
               b"S:3>$ $56Kbps\x01$$0$|")
        seen = []
        while True:
            msg = c.message()
            seen.append(msg)
            if msg.startswith(b"<Hub-Security> Welcome"):
                break
        self.assertNotIn(b"$Hello classic", seen)   # the first reply comes once
        self.assertIn(b"$MyINFO $ALL classic $ $56Kbps\x01$$0$", seen)

    def test_private_message_to_penpal_is_answered_with_its_words(self):
        c = self.login(b"tester3")
        c.send("$To: PenPal From: tester3 $<tester3>      привет there |".encode("cp1251"))
        reply = c.until(lambda m: m.startswith(b"$To: tester3"))
        self.assertEqual(reply.decode("cp1251"),
                         "$To: tester3 From: PenPal $<PenPal> You wrote: привет there")

    def test_passive_search_gets_true_sizes_and_more_than_334_results(self):
        c = self.login(b"tester4")
        c.send("$Search Hub:tester4 F?T?0?1?война$мир|".encode("cp1251"))
        hit = c.until(lambda m: m.startswith(b"$SR Seeder "))
        free_total = hit.split(b"\x05")[1].split(b" ")[1]
        # A real file of a modern user: its TTH where the hub name would be.
        where = (b"TTH:" + self.tth("Seeder", "Книги/Война и мир.txt") if HAVE_RHASH
                 else b"Kivo Demo Hub")
        self.assertEqual(hit, "$SR Seeder Книги\\Война и мир.txt\x051048593 ".encode("cp1251")
                         + free_total + b"\x05" + where + b" (127.0.0.1:%d)" % self.port)
        c.send(b"$Search Hub:tester4 F?T?0?1?mp3|")
        count = 0
        c.sock.settimeout(1.0)
        try:
            while True:
                if c.message().startswith(b"$SR "):
                    count += 1
        except socket.timeout:
            pass
        self.assertGreater(count, 334)

    def test_the_same_virtual_file_of_several_users_carries_one_tth(self):
        c = self.login(b"tester6")
        c.send(b"$Search Hub:tester6 F?T?0?1?alpha.txt|")
        hits = {}
        c.sock.settimeout(1.0)
        try:
            while True:
                m = c.message()
                if m.startswith(b"$SR ") and m.split(b" ")[2].startswith(b"\\share\\alpha.txt\x05"):
                    hits[m.split(b" ")[1]] = m.split(b"\x05")[2].split(b" ")[0]
        except socket.timeout:
            pass
        self.assertEqual(sorted(hits), [b"linux_fan", b"tux"])
        self.assertEqual(set(hits.values()), {b"TTH:NO7SPF3VBJB4LSTKNBV63REQKOMU5VMZLRM6ZLI"})

    def download(self, nick, owner, path):
        """Kivo's exchange up to $FileLength; returns (peer conn, greeting, reply)."""
        c = self.login(nick)
        c.send(b"$RevConnectToMe " + nick + b" " + owner + b"|")
        ctm = c.until(lambda m: m.startswith(b"$ConnectToMe "))
        host, port = ctm.split(b" ")[2].split(b":")
        self.assertEqual(ctm.split(b" ")[1], nick)
        p = socket.create_connection((host.decode(), int(port)), timeout=TIMEOUT)
        self.addCleanup(p.close)
        p.sendall(b"$MyNick " + nick + b"|$Lock " + KIVO_PEER_LOCK + b" Pk=KIVOLOKTAN0.242ABCABC|")
        peer = Conn.__new__(Conn)
        peer.sock, peer.buf = p, b""
        greeting = [peer.message() for _ in range(5)]
        key = greeting[4]
        p.sendall(b"$Supports MiniSlots |$Direction Download 21356|" + key + b"|$Get " +
                  path.encode("cp1251") + b"$1|")
        return peer, greeting, peer.message()

    def test_download_exchange_delivers_the_generated_bytes(self):
        peer, greeting, reply = self.download(b"tester5", b"Seeder", "Docs\\readme-demo.txt")
        self.assertEqual(greeting[0], b"$MyNick Seeder")
        self.assertEqual(greeting[4], b"$Key " + lock_to_key(KIVO_PEER_LOCK))
        self.assertEqual(reply, b"$FileLength 4097")
        peer.send(b"$Send|")
        data = peer.exact(4097)
        with open(os.path.join(self.data, "Seeder", "Docs", "readme-demo.txt"), "rb") as f:
            self.assertEqual(data, f.read())

    def test_unknown_path_gets_error_and_close(self):
        peer, _, reply = self.download(b"tester6", b"Seeder", "Docs\\nothing.txt")
        self.assertEqual(reply, b"$Error File Not Available")
        self.assertTrue(peer.closed_by_peer())

    def test_halfway_owner_sends_half_and_closes(self):
        peer, _, reply = self.download(b"tester7", b"HalfWay", "Broken\\half-small.txt")
        self.assertEqual(reply, b"$FileLength 10001")
        peer.send(b"$Send|")
        self.assertEqual(len(peer.exact(10001)), 5000)

    # ---- the modern download: $ADCGET, TTH, and the new demo users ---------

    def data_file(self, owner, path):
        with open(os.path.join(self.data, owner, *path.split("/")), "rb") as f:
            return f.read()

    def tth(self, owner, path):
        return rhash_tth(os.path.join(self.data, owner, *path.split("/")))

    def result(self, c, nick, words, owner):
        """The first $SR of owner for a passive search of words."""
        c.send(b"$Search Hub:" + nick + b" F?T?0?1?" + words.encode("cp1251") + b"|")
        return c.until(lambda m: m.startswith(b"$SR " + owner.encode("cp1251") + b" "))

    def connect_peer(self, c, nick, owner, supports=KIVO_PEER_SUPPORTS):
        """$RevConnectToMe over the logged-in hub connection c, then Kivo's
        side of the peer handshake; returns (peer conn, its greeting)."""
        c.send(b"$RevConnectToMe " + nick + b" " + owner + b"|")
        ctm = c.until(lambda m: m.startswith(b"$ConnectToMe "))
        host, port = ctm.split(b" ")[2].split(b":")
        peer = Conn.__new__(Conn)
        peer.sock = socket.create_connection((host.decode(), int(port)), timeout=TIMEOUT)
        peer.buf = b""
        self.addCleanup(peer.close)
        peer.send(b"$MyNick " + nick + b"|$Lock " + KIVO_PEER_LOCK + b" Pk=KIVOLOKTAN0.242ABCABC|")
        greeting = [peer.message() for _ in range(5)]
        peer.send(supports + b"$Direction Download 21356|" + greeting[4] + b"|")
        return peer, greeting

    def adcget(self, peer, ident, offset, length):
        peer.send(b"$ADCGET file " + ident + b" %d %d|" % (offset, length))
        return peer.message()

    @NEEDS_RHASH
    def test_adc_only_user_greets_like_ncdc_and_sends_by_tth(self):
        c = self.login(b"adc1")
        path = "\\share\\ncdc-only\\adc-only-track.mp3"
        want = self.tth("NcdcOnly", "share/ncdc-only/adc-only-track.mp3")
        hit = self.result(c, b"adc1", "adc-only", "NcdcOnly")
        self.assertEqual(hit.split(b"\x05")[0], b"$SR NcdcOnly " + path.encode())
        self.assertTrue(hit.split(b"\x05")[2].startswith(b"TTH:" + want + b" (127.0.0.1:"))
        peer, greeting = self.connect_peer(c, b"adc1", b"NcdcOnly")
        self.assertEqual(greeting[:4], [b"$MyNick NcdcOnly", b"$Lock EXTENDEDPROTOCOL/wut? Pk=ncdc-1.23.1",
                                        b"$Supports MiniSlots XmlBZList ADCGet TTHL TTHF",
                                        b"$Direction Upload 0"])
        self.assertEqual(greeting[4], b"$Key " + lock_to_key(KIVO_PEER_LOCK))
        size = 3 * 1048576 + 1
        self.assertEqual(self.adcget(peer, b"TTH/" + want, 0, -1),
                         b"$ADCSND file TTH/" + want + b" 0 %d" % size)
        self.assertEqual(peer.exact(size), self.data_file("NcdcOnly", "share/ncdc-only/adc-only-track.mp3"))
        # The Cyrillic one by its ADC path in code page 1251, from its middle.
        ident = "/share/ncdc-only/Песня\\sдля\\sADC.mp3".encode("cp1251")
        body = self.data_file("NcdcOnly", "share/ncdc-only/Песня для ADC.mp3")
        self.assertEqual(self.adcget(peer, ident, 1048576, -1),
                         b"$ADCSND file " + ident + b" 1048576 %d" % (len(body) - 1048576))
        self.assertEqual(peer.exact(len(body) - 1048576), body[1048576:])

    def test_adc_only_user_closes_on_get_and_on_supports_without_adcget(self):
        c = self.login(b"adc2")
        peer, _ = self.connect_peer(c, b"adc2", b"NcdcOnly")
        peer.send(b"$Get \\share\\ncdc-only\\adc-only-track.mp3$1|")
        self.assertTrue(peer.closed_by_peer())
        self.assertEqual(peer.buf, b"")
        peer, _ = self.connect_peer(c, b"adc2", b"NcdcOnly", supports=b"$Supports MiniSlots |")
        self.assertTrue(peer.closed_by_peer())

    def test_adcget_by_path_with_offset_and_length_then_to_the_end(self):
        c = self.login(b"adc3")
        peer, greeting = self.connect_peer(c, b"adc3", b"Seeder")
        self.assertEqual(greeting[2], b"$Supports MiniSlots XmlBZList ADCGet TTHF")
        body = self.data_file("Seeder", "Music/Kivo Demo Band/02 - Keypad Blues.mp3")
        ident = b"/Music/Kivo\\sDemo\\sBand/02\\s-\\sKeypad\\sBlues.mp3"
        self.assertEqual(self.adcget(peer, ident, 1000, 5000), b"$ADCSND file " + ident + b" 1000 5000")
        self.assertEqual(peer.exact(5000), body[1000:6000])
        # Resumed on the same connection: the rest, asked as -1 and as too long.
        self.assertEqual(self.adcget(peer, ident, 6000, -1),
                         b"$ADCSND file " + ident + b" 6000 %d" % (len(body) - 6000))
        self.assertEqual(peer.exact(len(body) - 6000), body[6000:])
        self.assertEqual(self.adcget(peer, ident, len(body) - 10, 99),
                         b"$ADCSND file " + ident + b" %d 10" % (len(body) - 10))
        self.assertEqual(peer.exact(10), body[-10:])
        # Seeder takes the legacy request as well.
        peer.send(b"$Get Docs\\readme-demo.txt$4000|")
        self.assertEqual(peer.message(), b"$FileLength 4097")
        peer.send(b"$Send|")
        self.assertEqual(peer.exact(98), self.data_file("Seeder", "Docs/readme-demo.txt")[3999:])

    def test_adcget_beyond_the_end_or_of_an_unknown_id_is_not_available(self):
        c = self.login(b"adc4")
        for ident, offset in ((b"/Docs/readme-demo.txt", 4098), (b"Docs\\readme-demo.txt", 0),
                              (b"TTH/" + b"A" * 39, 0)):
            peer, _ = self.connect_peer(c, b"adc4", b"Seeder")
            self.assertEqual(self.adcget(peer, ident, offset, -1), b"$Error File Not Available")
            self.assertTrue(peer.closed_by_peer())

    def test_legacy_user_greets_without_adcget_and_takes_only_get(self):
        c = self.login(b"old1")
        hit = self.result(c, b"old1", "legacy get-only", "OldDC")
        self.assertEqual(hit.split(b"\x05")[0], b"$SR OldDC Legacy\\legacy-get-only.mp3")
        self.assertTrue(hit.split(b"\x05")[2].startswith(b"Kivo Demo Hub (127.0.0.1:"))
        peer, greeting = self.connect_peer(c, b"old1", b"OldDC")
        self.assertEqual(greeting[2], b"$Supports MiniSlots XmlBZList")
        peer.send(b"$Get Legacy\\legacy-get-only.mp3$1|")
        size = 1048576 + 21
        self.assertEqual(peer.message(), b"$FileLength %d" % size)
        peer.send(b"$Send|")
        self.assertEqual(peer.exact(size), self.data_file("OldDC", "Legacy/legacy-get-only.mp3"))
        peer.send(b"$ADCGET file /Legacy/legacy-get-only.mp3 0 -1|")
        self.assertTrue(peer.closed_by_peer())
        self.assertEqual(peer.buf, b"")

    @NEEDS_RHASH
    def test_bad_byte_user_sends_its_true_tth_and_one_changed_byte(self):
        c = self.login(b"bad1")
        want = self.tth("BadByte", "Corrupt/bad-byte-clip.avi")
        hit = self.result(c, b"bad1", "bad-byte", "BadByte")
        self.assertTrue(hit.split(b"\x05")[2].startswith(b"TTH:" + want + b" "))
        body = self.data_file("BadByte", "Corrupt/bad-byte-clip.avi")
        peer, _ = self.connect_peer(c, b"bad1", b"BadByte")
        self.assertEqual(self.adcget(peer, b"TTH/" + want, 0, -1),
                         b"$ADCSND file TTH/" + want + b" 0 %d" % len(body))
        got = peer.exact(len(body))
        self.assertEqual(len(got), len(body))
        differ = [i for i in range(0, len(body), 4096) if got[i:i + 4096] != body[i:i + 4096]]
        self.assertEqual(len(differ), 1)
        i = differ[0]
        changed = [k for k in range(i, i + 4096) if got[k] != body[k]]
        self.assertEqual(changed, [len(body) // 2])

    def test_no_slots_user_shows_none_free_and_answers_maxed_out(self):
        c = self.login(b"busy1")
        hit = self.result(c, b"busy1", "maxed-out", "NoSlots")
        self.assertTrue(hit.split(b"\x05")[1].split(b" ")[1].startswith(b"0/"))
        peer, _ = self.connect_peer(c, b"busy1", b"NoSlots")
        self.assertEqual(self.adcget(peer, b"/Busy/maxed-out-album.zip", 0, -1), b"$MaxedOut")
        self.assertTrue(peer.closed_by_peer())
        peer, _ = self.connect_peer(c, b"busy1", b"NoSlots")
        peer.send(b"$Get Busy\\maxed-out-album.zip$1|")
        self.assertEqual(peer.message(), b"$MaxedOut")

    def fetch_list(self, peer):
        """Seeder's or anybody's list by $ADCGET on an open peer connection."""
        reply = self.adcget(peer, b"files.xml.bz2", 0, -1)
        m = re.fullmatch(rb"\$ADCSND file files\.xml\.bz2 0 (\d+)", reply)
        self.assertIsNotNone(m, reply)
        return bz2.decompress(peer.exact(int(m.group(1))))

    def test_seeders_list_holds_its_real_files_and_the_cyrillic_folder_downloads_whole(self):
        c = self.login(b"list1")
        peer, _ = self.connect_peer(c, b"list1", b"Seeder")
        listed = listed_files(self.fetch_list(peer))
        mine = [(path, size) for owner, path, size in realfiles.catalogue(0) if owner == "Seeder"]
        self.assertEqual(sorted(listed), sorted(path for path, _ in mine))
        for path, size in mine:
            self.assertEqual(listed[path][0], size, path)
            if HAVE_RHASH:
                self.assertEqual(listed[path][1].encode(), self.tth("Seeder", path.replace("\\", "/")), path)
        folder = sorted(p for p in listed if p.startswith("Музыка\\"))
        self.assertEqual(folder, sorted(["Музыка\\Альбом\\01 - песня.mp3", "Музыка\\Альбом\\02 - Rock & Roll.mp3",
                                         "Музыка\\Альбом\\обложка.jpg", "Музыка\\Ёлочка 'зимняя'.mp3",
                                         "Музыка\\список песен.txt"]))
        # The folder fetched file by file on the same connection, as the
        # list names them: by TTH when it has one, else by ADC path.
        for path in folder:
            size, digest = listed[path]
            ident = (b"TTH/" + digest.encode() if digest else
                     ("/" + path.replace("\\", "/").replace(" ", "\\s")).encode())
            self.assertEqual(self.adcget(peer, ident, 0, -1), b"$ADCSND file " + ident + b" 0 %d" % size)
            self.assertEqual(peer.exact(size), self.data_file("Seeder", path.replace("\\", "/")), path)
        # The list again from its middle, and past its end.
        whole = self.adcget(peer, b"files.xml.bz2", 0, -1)
        n = int(whole.rsplit(b" ", 1)[1])
        body = peer.exact(n)
        self.assertEqual(self.adcget(peer, b"files.xml.bz2", 10, 20), b"$ADCSND file files.xml.bz2 10 20")
        self.assertEqual(peer.exact(20), body[10:30])
        self.assertEqual(self.adcget(peer, b"files.xml.bz2", n + 1, -1), b"$Error File Not Available")

    def test_no_slots_serves_its_list_old_dc_by_get_and_ncdc_only_by_adcget(self):
        c = self.login(b"list2")
        peer, _ = self.connect_peer(c, b"list2", b"NoSlots")
        self.assertEqual(listed_files(self.fetch_list(peer)), {"Busy\\maxed-out-album.zip": (
            2 * 1048576 + 9, self.tth("NoSlots", "Busy/maxed-out-album.zip").decode() if HAVE_RHASH else None)})
        # Its files stay refused, on the same connection too.
        self.assertEqual(self.adcget(peer, b"/Busy/maxed-out-album.zip", 0, -1), b"$MaxedOut")
        self.assertTrue(peer.closed_by_peer())
        peer, _ = self.connect_peer(c, b"list2", b"OldDC")
        peer.send(b"$Get files.xml.bz2$1|")
        length = int(peer.message().split(b" ")[1])
        peer.send(b"$Send|")
        self.assertEqual(list(listed_files(bz2.decompress(peer.exact(length)))),
                         ["Legacy\\legacy-get-only.mp3"])
        peer, _ = self.connect_peer(c, b"list2", b"NcdcOnly")
        self.assertEqual(sorted(listed_files(self.fetch_list(peer))),
                         ["share\\ncdc-only\\adc-only-track.mp3", "share\\ncdc-only\\Песня для ADC.mp3"])

    def test_resumer_stops_in_the_middle_and_a_resume_completes_the_file(self):
        c = self.login(b"res1")
        hit = self.result(c, b"res1", "докачка", "Resumer")
        self.assertEqual(hit.split(b"\x05")[0], "$SR Resumer Resume\\resume-me (докачка).avi".encode("cp1251"))
        body = self.data_file("Resumer", "Resume/resume-me (докачка).avi")
        middle = len(body) // 2
        ident = "/Resume/resume-me\\s(докачка).avi".encode("cp1251")
        peer, _ = self.connect_peer(c, b"res1", b"Resumer")
        self.assertEqual(self.adcget(peer, ident, 0, -1), b"$ADCSND file " + ident + b" 0 %d" % len(body))
        first = peer.exact(len(body))
        self.assertEqual(first, body[:middle])   # then the connection closed
        peer, _ = self.connect_peer(c, b"res1", b"Resumer")
        self.assertEqual(self.adcget(peer, ident, len(first), -1),
                         b"$ADCSND file " + ident + b" %d %d" % (middle, len(body) - middle))
        self.assertEqual(first + peer.exact(len(body) - middle), body)

    def test_old_roles_keep_their_ways_in_the_adc_form(self):
        c = self.login(b"role1")
        peer, greeting = self.connect_peer(c, b"role1", b"HalfWay")
        ident = b"/Broken/half-small.txt"
        self.assertEqual(self.adcget(peer, ident, 1, -1), b"$ADCSND file " + ident + b" 1 10000")
        self.assertEqual(peer.exact(10000), self.data_file("HalfWay", "Broken/half-small.txt")[1:5001])
        peer, greeting = self.connect_peer(c, b"role1", b"Mask")
        self.assertEqual(greeting[0], b"$MyNick Zorro")
        self.assertEqual(self.adcget(peer, b"/Masked/secret.txt", 0, -1), b"$ADCSND file /Masked/secret.txt 0 2048")
        self.assertEqual(peer.exact(2048), self.data_file("Mask", "Masked/secret.txt"))
        peer, greeting = self.connect_peer(c, b"role1", b"Slowpoke")
        self.assertEqual(self.adcget(peer, b"/Slow/tiny.txt", 0, -1), b"$ADCSND file /Slow/tiny.txt 0 1000")
        self.assertEqual(peer.exact(1000), self.data_file("Slowpoke", "Slow/tiny.txt"))
        peer, greeting = self.connect_peer(c, b"role1", b"Sleepy")
        peer.send(b"$ADCGET file /Sleepy/lullaby.mp3 0 -1|")
        peer.sock.settimeout(0.3)
        self.assertRaises(socket.timeout, peer.message)


    # ---- login gates: passwords, refusals; $ForceMove; keep-alives --------

    def said_before(self, c, nick, line):
        """c says line in the chat; returns what c got before its echo."""
        c.send(b"<" + nick + b"> " + line + b"|")
        seen = []
        deadline = time.monotonic() + TIMEOUT
        while time.monotonic() < deadline:
            msg = c.message()
            if msg == b"<" + nick + b"> " + line:
                return seen
            seen.append(msg)
        raise AssertionError("echo not seen")

    def test_registered_nick_gets_getpass_and_logs_in_with_what_it_sent_before(self):
        watcher = self.logged_in(b"watcher1")
        c, key = self.connect()
        # Kivo's whole block in one write, a keep-alive at its end; the
        # registered nick Member matches in any case.
        c.send(login_block(b"member", key) + b"|")
        self.assertEqual(c.sock.recv(1000), b"$GetPass|")
        time.sleep(0.1)   # time for the hub to read (and hold) the rest
        self.assertEqual([m for m in self.said_before(watcher, b"watcher1", b"ping")
                          if b"member" in m], [])
        c.send(b"$MyPass letmein|")
        # The held $MyINFO completes the login: first reply and user list in
        # one write, own $MyINFO last, then its $UserIP (UserIP2 in $Supports).
        first = c.sock.recv(1 << 20)
        self.assertTrue(first.startswith(first_reply(b"member")), first[:300])
        self.assertTrue(first.endswith(b"|$MyINFO $ALL member pelmark$ $Modem@$x$1024$|"
                                       b"$UserIP member 127.0.0.1$$|$OpList "
                                       b"Hub-Security$$Mira$$|" + welcome(b"member")), first[-300:])
        self.assertEqual(watcher.until(lambda m: b"member" in m),
                         b"$MyINFO $ALL member pelmark$ $Modem@$x$1024$")

    def test_wrong_password_refused_and_unwritable_nicks_are_turned_away(self):
        c, key = self.connect()
        c.send(login_block(b"Member", key))
        self.assertEqual(c.message(), b"$GetPass")
        c.send(b"$MyPass LetMeIn|")
        self.assertEqual(c.message(), b"$BadPass")
        self.assertTrue(c.closed_by_peer())
        c = self.login(b"BANNED")
        self.assertEqual(c.message(), b"$ValidateDenide BANNED")
        self.assertTrue(c.closed_by_peer())
        # A nick that code page 1251 cannot write, from the UTF-8 port.
        nick = "Лена\U0001F600".encode()
        c = self.login(nick, port=self.utf8_port)
        self.assertEqual(c.message(), b"$ValidateDenide " + nick)
        self.assertTrue(c.closed_by_peer())

    def test_forcemove_command_is_listed_moves_the_client_and_closes(self):
        c = self.logged_in(b"mover1")
        c.send(b"<mover1> +help|")
        self.assertIn(b"+forcemove <address>",
                      c.until(lambda m: m.startswith(b"<Hub-Security> demohub")))
        c.send(b"<mover1> +forcemove|")
        self.assertIn(b"Usage: +forcemove", c.until(lambda m: m.startswith(b"<Hub-Security> ")))
        c.send(b"<mover1> +forcemove 127.0.0.1:2226|")
        self.assertEqual(c.until(lambda m: m.startswith(b"$ForceMove")), b"$ForceMove 127.0.0.1:2226")
        self.assertTrue(c.closed_by_peer())

    def test_flood_command_sends_numbered_lines_to_the_asker_alone(self):
        c = self.logged_in(b"flooder1")
        c.send(b"<flooder1> +flood 3|")
        got = [c.until(lambda m: m.startswith(b"<Chatterbox> flood")) for _ in range(3)]
        self.assertEqual(got, [b"<Chatterbox> flood %05d of 3" % i for i in (1, 2, 3)])
        c.send(b"<flooder1> +flood 50001|")
        self.assertIn(b"Usage: +flood", c.until(lambda m: m.startswith(b"<Hub-Security> ")))

    def test_keep_alive_is_ignored_during_and_after_login(self):
        c, key = self.connect()
        c.send(b"|" + login_block(b"alive1", key).replace(b"|$Version", b"||$Version"))
        c.until(lambda m: m.startswith(b"<Hub-Security> Welcome"))
        c.send(b"|")
        seen = self.said_before(c, b"alive1", b"still here")
        # Nothing answers it; only other clients coming or going may show.
        self.assertEqual([m for m in seen if not m.startswith((b"$Quit ", b"$MyINFO "))], [])

    # ---- escapes -----------------------------------------------------------

    def test_escaped_text_is_relayed_and_quoted_as_it_came_and_searched_unescaped(self):
        c = self.logged_in(b"esc1")
        said = b"Mira, a &#124; b &#36;c &amp;#36; d & e"
        c.send(b"<esc1> " + said + b"|")
        self.assertEqual(c.until(lambda m: m.startswith(b"<esc1> ")), b"<esc1> " + said)
        self.assertEqual(c.until(lambda m: m.startswith(b"<Mira> ")),
                         b"<Mira> esc1, you said: " + said)
        c.send(b"$To: PenPal From: esc1 $<esc1> " + said + b"|")
        self.assertEqual(c.until(lambda m: m.startswith(b"$To: esc1 ")),
                         b"$To: esc1 From: PenPal $<PenPal> You wrote: " + said)
        # "Ke$ha & Friends": the '$' and '&' of the name come escaped.
        c.send(b"$Search Hub:esc1 F?T?0?1?ke&#36;ha$&amp;$friends|")
        paths = {c.until(lambda m: m.startswith(b"$SR ")).split(b"\x05")[0] for _ in range(2)}
        self.assertEqual(paths, {b"$SR maxim Misc\\Ke$ha & Friends - Tik Tok.mp3",
                                 b"$SR n00b Misc\\Ke$ha & Friends - Tik Tok.mp3"})

    # ---- the code page 1252 port ------------------------------------------

    def test_cp1252_port_shares_the_hub_in_western_european_text(self):
        a = self.login(b"Hans", port=self.cp1252_port)
        self.assertIn(b"$HubName Kivo Demo Hub (CP1252)|", a.sock.recv(1 << 20))
        b = self.logged_in("Лена".encode(), port=self.utf8_port)
        line = "<Hans> gr\u00fc\u00dfe, \u00fcn\u00efcode \u20ac \u00bd"
        a.send(line.encode("cp1252") + b"|")
        self.assertEqual(b.until(lambda m: m.startswith(b"<Hans> ")), line.encode())
        b.send("<Лена> \u00fcn\u00efcode и кот|".encode())
        self.assertEqual(a.until(lambda m: m.startswith(b"<") and b"Hans" not in m[:6]),
                         "<????> \u00fcn\u00efcode ? ???".encode("cp1252"))

    # ---- the UTF-8 port ----------------------------------------------------

    def test_utf8_port_shares_the_hub_and_converts_every_text(self):
        a_nick, b_nick = "Гоша", "Лена"
        a = self.logged_in(a_nick.encode("cp1251"), description="из Минска".encode("cp1251"))
        b = self.login(b_nick.encode(), port=self.utf8_port)
        first = b.sock.recv(1 << 20)
        name = b"Kivo Demo Hub (UTF-8)"
        self.assertTrue(first.startswith(first_reply(b_nick.encode(), name)), first[:300])
        self.assertTrue(first.endswith(welcome(b_nick.encode(), name)), first[-300:])
        self.assertIn("|$MyINFO $ALL Вася ".encode(), first)
        self.assertIn("|$MyINFO $ALL Гоша из Минска$ $Modem@$x$1024$|".encode(), first)
        a.until(lambda m: m.startswith("$MyINFO $ALL Лена pelmark$".encode("cp1251")))

        line = "<Гоша> Привет, Лена! Ёлка, №5, «ёж» — 100 €"
        a.send(line.encode("cp1251") + b"|")
        self.assertEqual(b.until(lambda m: m.startswith("<Гоша> ".encode())), line.encode())
        # Every byte a 1251 client may write: its echo comes back unchanged;
        # 0x98 (no character in 1251) passes as it is to the UTF-8 side too.
        raw = "<Гоша> ".encode("cp1251") + bytes(c for c in range(0x20, 0x100) if c != 0x7C)
        a.send(raw + b"|")
        self.assertEqual(a.until(lambda m: m.startswith(raw[:8])), raw)
        self.assertEqual(b.until(lambda m: m.startswith("<Гоша> ".encode())),
                         raw.decode("cp1251", "surrogateescape").encode("utf-8", "surrogateescape"))
        # Back: what 1251 has arrives intact, an emoji as '?'.
        b.send("<Лена> Здравствуй, Гоша! ёЁ \U0001F600|".encode())
        self.assertEqual(a.until(lambda m: m.startswith("<Лена> ".encode("cp1251"))),
                         "<Лена> Здравствуй, Гоша! ёЁ ?".encode("cp1251"))
        b.send("$To: Гоша From: Лена $<Лена> по секрету|".encode())
        self.assertEqual(a.until(lambda m: m.startswith(b"$To: ")),
                         "$To: Гоша From: Лена $<Лена> по секрету".encode("cp1251"))
        # The status byte of $MyINFO holds flags, not a letter: relayed as it came.
        a.send("$MyINFO $ALL Гоша из Минска$ $LAN(T3)".encode("cp1251") + b"\x91$$1024$|")
        self.assertEqual(b.until(lambda m: m.startswith("$MyINFO $ALL Гоша ".encode())),
                         "$MyINFO $ALL Гоша из Минска$ $LAN(T3)".encode() + b"\x91$$1024$")
        a.send("$ConnectToMe Лена 127.0.0.1:4000|".encode("cp1251"))
        self.assertEqual(b.until(lambda m: m.startswith(b"$ConnectToMe ")),
                         "$ConnectToMe Лена 127.0.0.1:4000".encode())

        # Search results in UTF-8, with this port's hub name and address.
        b.send("$Search Hub:Лена F?T?0?1?война$мир|".encode())
        results = []

        def seen_both(m):
            if m.startswith(b"$SR "):
                results.append(m)
            return (any(r.startswith("$SR Seeder ".encode()) for r in results)
                    and any(r.endswith(name + b" (127.0.0.1:%d)" % self.utf8_port) for r in results))
        b.until(seen_both)
        seeder = [r for r in results if r.startswith(b"$SR Seeder ")][0]
        self.assertTrue(seeder.startswith("$SR Seeder Книги\\Война и мир.txt\x051048593 ".encode()))
        self.assertTrue(seeder.endswith(b" (127.0.0.1:%d)" % self.utf8_port))

        # A download: $ConnectToMe with the nick in UTF-8, $Get's path in UTF-8.
        b.send("$RevConnectToMe Лена Seeder|".encode())
        ctm = b.until(lambda m: m.startswith(b"$ConnectToMe "))
        self.assertTrue(ctm.startswith("$ConnectToMe Лена 127.0.0.1:".encode()))
        peer = Conn(int(ctm.rsplit(b":", 1)[1]))
        self.addCleanup(peer.close)
        peer.send("$MyNick Лена|".encode() + b"$Lock " + KIVO_PEER_LOCK + b" Pk=KIVO|")
        greeting = [peer.message() for _ in range(5)]
        self.assertEqual(greeting[0], b"$MyNick Seeder")
        peer.send(KIVO_PEER_SUPPORTS + b"$Direction Download 1|" + greeting[4] + b"|")
        body = self.data_file("Seeder", "Книги/Война и мир.txt")
        peer.send("$Get Книги\\Война и мир.txt$1048001|".encode())
        self.assertEqual(peer.message(), b"$FileLength %d" % len(body))
        peer.send(b"$Send|")
        self.assertEqual(peer.exact(len(body) - 1048000), body[1048000:])
        ident = "/Книги/Война\\sи\\sмир.txt".encode()
        self.assertEqual(self.adcget(peer, ident, 0, 100), b"$ADCSND file " + ident + b" 0 100")
        self.assertEqual(peer.exact(100), body[:100])

        b.close()
        self.assertEqual(a.until(lambda m: m.startswith(b"$Quit ")), "$Quit Лена".encode("cp1251"))


def udp_socket(host="127.0.0.1"):
    u = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    u.bind((host, 0))
    return u


def datagrams(u, quiet=0.3):
    """Every datagram that comes until none has come for quiet seconds."""
    got = []
    u.settimeout(quiet)
    try:
        while True:
            got.append(u.recv(65536))
    except socket.timeout:
        return got


class ActiveClients(HubCase):
    """What an active client (M:A) meets: UDP results for "$Search
    <ip>:<port>", demo users that connect to it on "$ConnectToMe", $UserIP."""

    def test_active_search_gets_udp_results_like_the_passive_ones_and_reaches_everybody(self):
        watcher = self.logged_in(b"watcher9")   # a passive real client (M:P)
        c = self.logged_in(b"active1")
        u = udp_socket()
        self.addCleanup(u.close)
        where = b"127.0.0.1:%d" % u.getsockname()[1]
        c.send(b"$Search " + where + b" F?T?0?1?notes|")
        self.assertEqual(watcher.until(lambda m: m.startswith(b"$Search ")),
                         b"$Search " + where + b" F?T?0?1?notes")
        got = datagrams(u)
        # The same results as a passive search, one datagram each, no searcher nick.
        c.send(b"$Search Hub:active1 F?T?0?1?notes|")
        passive = [c.until(lambda m: m.startswith(b"$SR ")) + b"|" for _ in got]
        self.assertEqual(sorted(got), sorted(passive))
        self.assertRegex(b"".join(got), rb"\$SR Passive Firewalled\\passive-notes\.txt\x052000 "
                         rb"\d+/\d+\x05[^|]* \(127\.0\.0\.1:%d\)\|" % self.port)

    def test_results_and_connections_go_only_to_loopback_or_the_clients_own_address(self):
        from demohub.addresses import peer_target
        self.assertEqual(peer_target("10.0.0.5:4000", "10.0.0.5"), ("10.0.0.5", 4000))
        for bad in ("10.0.0.6:4000", "example.org:4000", "127.0.0.1:0", "127.0.0.1"):
            self.assertIsNone(peer_target(bad, "10.0.0.5"), bad)
        with socket.socket(socket.AF_INET, socket.SOCK_DGRAM) as s:
            s.connect(("192.0.2.1", 9))   # no packet: only picks this machine's own address
            ip = s.getsockname()[0]
        if ip.startswith("127."):
            self.skipTest("no address outside 127/8 to aim at")
        u, t = udp_socket(ip), socket.create_server((ip, 0))
        self.addCleanup(u.close)
        self.addCleanup(t.close)
        c = self.logged_in(b"reflect1")
        c.send(b"$Search %s:%d F?T?0?1?notes|" % (ip.encode(), u.getsockname()[1]))
        c.send(b"$ConnectToMe Seeder %s:%d|" % (ip.encode(), t.getsockname()[1]))
        # Both are dropped as they are read: once a later search is answered,
        # anything they would have set off has been sent.
        c.send(b"$Search Hub:reflect1 F?T?0?1?notes|")
        c.until(lambda m: m.startswith(b"$SR "))
        self.assertEqual(datagrams(u, 0.05), [])
        t.settimeout(0.05)
        self.assertRaises(socket.timeout, t.accept)

    def connected_peer(self, c, owner, context=None):
        """c asks owner to connect to a listener of the test; returns the
        accepted Conn (TLS server side with context) once the owner has
        spoken first and Kivo has answered, and the owner's $Supports."""
        t = socket.create_server(("127.0.0.1", 0))
        self.addCleanup(t.close)
        t.settimeout(TIMEOUT)
        c.send(b"$ConnectToMe " + owner + b" 127.0.0.1:%d%s|" % (t.getsockname()[1],
                                                                 b"S" if context else b""))
        peer = Conn.__new__(Conn)
        peer.sock, peer.buf = t.accept()[0], b""
        self.addCleanup(peer.close)
        peer.sock.settimeout(TIMEOUT)
        if context is not None:
            peer.sock = context.wrap_socket(peer.sock, server_side=True)
        self.assertEqual(peer.message(), b"$MyNick " + owner)
        lock = lock_of(peer.message())
        peer.send(b"$MyNick kivo|$Lock " + KIVO_PEER_LOCK + b" Pk=KIVOLOKTAN0.242ABCABC|" +
                  KIVO_PEER_SUPPORTS + b"$Direction Download 4242|$Key " + lock_to_key(lock) + b"|")
        answer = [peer.message() for _ in range(3)]
        self.assertEqual(answer[1:], [b"$Direction Upload 17767",
                                      b"$Key " + lock_to_key(KIVO_PEER_LOCK)])
        return peer, answer[0]

    def fetch(self, peer, owner, path):
        ident = b"/" + path.replace(b"\\", b"/")
        peer.send(b"$ADCGET file " + ident + b" 0 -1|")
        with open(os.path.join(self.data, owner, *path.decode().split("\\")), "rb") as f:
            want = f.read()
        self.assertEqual(peer.message(), b"$ADCSND file " + ident + b" 0 %d" % len(want))
        self.assertEqual(peer.exact(len(want)), want)

    def test_a_passive_demo_user_connects_speaks_first_and_serves_on_connect_to_me(self):
        c = self.logged_in(b"active2")
        peer, supports = self.connected_peer(c, b"Passive")
        self.assertEqual(supports, b"$Supports MiniSlots XmlBZList ADCGet TTHF")
        self.fetch(peer, "Passive", b"Firewalled\\passive-notes.txt")
        self.fetch(peer, "Passive", b"Firewalled\\passive-notes.txt")   # again on one connection
        peer, _ = self.connected_peer(c, b"NoSlots")   # special users keep their ways
        peer.send(b"$ADCGET file /Busy/maxed-out-album.zip 0 -1|")
        self.assertEqual(peer.message(), b"$MaxedOut")
        self.assertTrue(peer.closed_by_peer())

    @NEEDS_OPENSSL
    def test_connect_to_me_with_s_gets_tls_and_secure_refuses_a_plain_one(self):
        pem = Path(tempfile.mkdtemp(prefix="demohub-peer-", dir=DATA), "peer.pem")
        tls.make_certificate(pem, "openssl")
        context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
        context.load_cert_chain(pem)
        c = self.logged_in(b"active3")
        peer, _ = self.connected_peer(c, b"Secure", context)
        self.fetch(peer, "Secure", b"Secure\\locked-notes.txt")
        peer, _ = self.connected_peer(c, b"Secure")
        peer.send(b"$ADCGET file /Secure/locked-notes.txt 0 -1|")
        self.assertEqual(peer.message(), b"$Error Secure connection required!")

    def test_user_ip_follows_the_own_myinfo_and_tls_bits_are_relayed_unchanged(self):
        c = self.login(b"active4", flag=b"\x11")
        seen = [c.message()]
        while not seen[-1].startswith(b"<Hub-Security> Welcome"):
            seen.append(c.message())
        i = seen.index(b"$UserIP active4 127.0.0.1$$")
        self.assertEqual(seen[i - 1], b"$MyINFO $ALL active4 pelmark$ $Modem\x11$x$1024$")
        self.assertTrue(seen[i + 1].startswith(b"$OpList "), seen[i + 1])
        self.assertIn(b"$LAN(T3)\x11$", [m for m in seen if b" Seeder " in m][0])


class PtokaxLikeHub(HubCase):
    HUB_ARGS = ("--clear-tls-flag", "--no-user-ip")

    def test_tls_bit_is_cleared_in_every_relayed_myinfo_and_no_user_ip_comes(self):
        a = self.login(b"cleared1", flag=b"\x11")
        seen = [a.message()]
        while not seen[-1].startswith(b"<Hub-Security> Welcome"):
            seen.append(a.message())
        self.assertEqual([m for m in seen if m.startswith(b"$UserIP")], [])
        self.assertIn(b"$MyINFO $ALL cleared1 pelmark$ $Modem\x01$x$1024$", seen)
        self.assertIn(b"$LAN(T3)\x01$", [m for m in seen if b" Seeder " in m][0])   # demo users too
        b = self.logged_in(b"cleared2")
        b.send(b"$GetINFO cleared1 cleared2|")
        self.assertEqual(b.until(lambda m: m.startswith(b"$MyINFO $ALL cleared1 ")),
                         b"$MyINFO $ALL cleared1 pelmark$ $Modem\x01$x$1024$")
        # The demo users see the bit cleared too: Seeder offers a plain port.
        a.send(b"$RevConnectToMe cleared1 Seeder|")
        self.assertRegex(a.until(lambda m: m.startswith(b"$ConnectToMe ")),
                         rb"^\$ConnectToMe cleared1 127\.0\.0\.1:\d+$")


class DemoHubOptions(HubCase):
    HUB_ARGS = ("--login-pause-ms", "150", "--force-move", "127.0.0.1:2226",
                "--registered", "Owner:s3cret", "--refused", "Spam", "--password-seconds", "0.5",
                "--user-ip", "198.51.100.7")

    def test_pause_splits_the_login_reply_and_force_move_follows_the_login(self):
        c = self.login(b"paused1")
        self.assertEqual(c.sock.recv(1 << 20), first_reply(b"paused1"))
        self.assertEqual(c.until(lambda m: m.startswith(b"$UserIP ")),
                         b"$UserIP paused1 198.51.100.7$$")
        c.until(lambda m: m.startswith(b"<Hub-Security> Welcome"))
        self.assertEqual(c.message(), b"$ForceMove 127.0.0.1:2226")
        self.assertTrue(c.closed_by_peer())

    def test_registered_and_refused_nicks_come_from_the_options(self):
        for nick in (b"Member", b"Banned"):   # the defaults are gone
            c = self.login(nick)
            self.assertEqual(c.message(), b"$Supports NoHello UserCommand")
        c = self.login(b"spam")
        self.assertEqual(c.message(), b"$ValidateDenide spam")
        self.assertTrue(c.closed_by_peer())
        # Owner never sends its password: dropped after --password-seconds.
        c = self.login(b"Owner")
        self.assertEqual(c.message(), b"$GetPass")
        started = time.monotonic()
        self.assertIn(b"No password", c.message())
        self.assertTrue(c.closed_by_peer())
        self.assertLess(time.monotonic() - started, 3)


class FullHub(HubCase):
    @classmethod
    def setUpClass(cls):
        cls.port_file = os.path.join(DATA, "utf8.port")
        cls.HUB_ARGS = ("--full", "--utf8-port", "0", "--utf8-port-file", cls.port_file)
        super().setUpClass()

    def test_every_login_gets_hub_is_full_and_is_closed(self):
        with open(self.port_file) as f:
            self.assertEqual(int(f.read()), self.utf8_port)
        for nick, port in ((b"anyone", self.port), (b"Member", self.port),
                           ("Лена".encode(), self.utf8_port)):
            c = self.login(nick, port=port)
            self.assertEqual(c.message(), b"$HubIsFull")
            self.assertTrue(c.closed_by_peer())


class BusyHub(HubCase):
    # The soak's hub: --no-quiet after the test options' --quiet, churn and
    # chatter many times faster than by default.
    HUB_ARGS = ("--no-quiet", "--churn-seconds", "0.1", "--chatter-seconds", "0.1")

    def test_later_no_quiet_brings_chatter_and_users_leave_and_come_back(self):
        c = self.logged_in(b"soaker")
        said, left, back = set(), set(), set()
        deadline = time.monotonic() + TIMEOUT
        while time.monotonic() < deadline and not (said and back):
            msg = c.message()
            if msg.startswith(b"<") and not msg.startswith((b"<Hub-Security>", b"<Mira>")):
                said.add(msg[1:msg.index(b">")])
            elif msg.startswith(b"$Quit "):
                left.add(msg[6:])
            elif msg.startswith(b"$MyINFO $ALL ") and msg.split(b" ")[2] in left:
                back.add(msg.split(b" ")[2])
        self.assertTrue(said, "no demo user chatted")
        self.assertTrue(left, "no demo user left")
        self.assertTrue(back, "no demo user came back")


@NEEDS_OPENSSL
class TlsCertificate(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.mkdtemp(prefix="demohub-tls-")
        self.addCleanup(shutil.rmtree, self.dir, True)

    def test_the_certificate_is_made_once_kept_and_made_anew_when_damaged(self):
        first = tls.load(self.dir)
        self.assertRegex(first.keyprint, r"^SHA256/[A-Z2-7]{52}$")
        pem = os.path.join(self.dir, tls.PEM_NAME)
        with open(pem, "rb") as f:
            kept = f.read()
        self.assertIn(b"PRIVATE KEY", kept)
        self.assertEqual(os.stat(pem).st_mode & 0o077, 0)   # the key is not for others
        self.assertEqual(tls.load(self.dir, command="no-such-openssl").keyprint, first.keyprint)
        with open(pem, "rb") as f:
            self.assertEqual(f.read(), kept)
        with open(pem, "wb") as f:
            f.write(kept[:len(kept) // 2])
        said = []
        again = tls.load(self.dir, said.append)
        self.assertNotEqual(again.keyprint, first.keyprint)
        self.assertIn("does not load", said[0])
        self.assertEqual(os.listdir(self.dir), [tls.PEM_NAME])   # no temporary files left
        os.remove(pem)
        self.assertRaises(tls.TlsError, tls.load, self.dir, command="no-such-openssl")


@NEEDS_OPENSSL
class TlsHub(HubCase):
    """The TLS hub port and TLS transfers (a client announces TLS with bit
    0x10 in its $MyINFO flag byte)."""

    @classmethod
    def setUpClass(cls):
        cls.tls_port_file = os.path.join(DATA, "tls.port")
        cls.keyprint_file = os.path.join(DATA, "keyprint")
        cls.HUB_ARGS = ("--tls-port", "0", "--tls-port-file", cls.tls_port_file,
                        "--keyprint-file", cls.keyprint_file)
        super().setUpClass()
        with open(cls.keyprint_file, "rb") as f:
            cls.keyprint_line = f.read()
        cls.keyprint = cls.keyprint_line.rstrip(b"\n")

    def data_file(self, owner, path):
        with open(os.path.join(self.data, owner, *path.split("/")), "rb") as f:
            return f.read()

    def peer(self, c, nick, owner, secure):
        """$RevConnectToMe over c; checks that the $ConnectToMe port is a
        TLS one (ends in 'S') exactly when secure, connects (over TLS, the
        hub's certificate) and greets; returns (peer conn, greeting)."""
        c.send(b"$RevConnectToMe " + nick + b" " + owner + b"|")
        ctm = c.until(lambda m: m.startswith(b"$ConnectToMe "))
        m = re.fullmatch(rb"\$ConnectToMe (\S+) 127\.0\.0\.1:(\d+)(S?)", ctm)
        self.assertIsNotNone(m, ctm)
        self.assertEqual((m.group(1), m.group(3)), (nick, b"S" if secure else b""), ctm)
        peer = Conn(int(m.group(2)), tls=secure)
        self.addCleanup(peer.close)
        if secure:
            self.assertEqual(peer.keyprint(), self.keyprint)
        peer.send(b"$MyNick " + nick + b"|$Lock " + KIVO_PEER_LOCK + b" Pk=KIVOLOKTAN0.242ABCABC|")
        greeting = [peer.message() for _ in range(5)]
        peer.send(KIVO_PEER_SUPPORTS + b"$Direction Download 21356|" + greeting[4] + b"|")
        return peer, greeting

    def test_tls_port_serves_the_same_hub_with_the_keyprinted_certificate(self):
        with open(self.tls_port_file) as f:
            self.assertEqual(int(f.read()), self.tls_port)
        self.assertRegex(self.keyprint_line, rb"^SHA256/[A-Z2-7]{52}\n$")
        c, key = self.connect(self.tls_port, tls=True)
        self.assertEqual(c.keyprint(), self.keyprint)
        self.assertEqual(c.sock.getpeercert(binary_form=True),
                         tls.certificate_der(os.path.join(DATA, tls.PEM_NAME)))
        c.send(login_block(b"tls1", key))
        seen = []
        c.until(lambda m: seen.append(m) or m.startswith(b"<Hub-Security> Welcome to "))
        self.assertEqual(b"|".join(seen[:4]) + b"|", first_reply(b"tls1"))
        self.assertEqual(seen[-2:], [b"$OpList Hub-Security$$Mira$$", welcome(b"tls1")[:-1]])
        # Chat both ways with a client on the plain port.
        p = self.logged_in(b"plain1")
        c.send("<tls1> привет over TLS|".encode("cp1251"))
        self.assertEqual(p.until(lambda m: m.startswith(b"<tls1> ")),
                         "<tls1> привет over TLS".encode("cp1251"))
        p.send(b"<plain1> hello back|")
        self.assertEqual(c.until(lambda m: m.startswith(b"<plain1> ")), b"<plain1> hello back")
        # Results name this port's address.
        c.send(b"$Search Hub:tls1 F?T?0?1?readme-demo|")
        hit = c.until(lambda m: m.startswith(b"$SR Seeder "))
        self.assertTrue(hit.endswith(b" (127.0.0.1:%d)" % self.tls_port), hit)
        # A plain login on the TLS port gets nothing and is dropped.
        raw = socket.create_connection(("127.0.0.1", self.tls_port), timeout=TIMEOUT)
        self.addCleanup(raw.close)
        raw.sendall(b"$ValidateNick plain2|")
        try:
            self.assertNotIn(b"$Lock", raw.recv(4096))
        except ConnectionError:
            pass

    def test_seeder_and_archivist_send_over_tls_to_a_client_that_announces_it(self):
        watcher = self.logged_in(b"watch2")
        c = self.logged_in(b"tls2", flag=b"\x11")
        # The flag byte reaches others as it came: TLS stays announced.
        self.assertEqual(watcher.until(lambda m: m.startswith(b"$MyINFO $ALL tls2 ")),
                         b"$MyINFO $ALL tls2 pelmark$ $Modem\x11$x$1024$")
        peer, greeting = self.peer(c, b"tls2", b"Seeder", secure=True)
        self.assertEqual(greeting, [b"$MyNick Seeder", b"$Lock EXTENDEDPROTOCOLABCABCABCABCABCABC Pk=DEMOHUB",
                                    b"$Supports MiniSlots XmlBZList ADCGet TTHF",
                                    b"$Direction Upload 17767", b"$Key " + lock_to_key(KIVO_PEER_LOCK)])
        body = self.data_file("Seeder", "Music/Kivo Demo Band/02 - Keypad Blues.mp3")
        ident = b"/Music/Kivo\\sDemo\\sBand/02\\s-\\sKeypad\\sBlues.mp3"
        peer.send(b"$ADCGET file " + ident + b" 0 -1|")
        self.assertEqual(peer.message(), b"$ADCSND file " + ident + b" 0 %d" % len(body))
        self.assertEqual(peer.exact(len(body)), body)
        peer.send(b"$Get Docs\\readme-demo.txt$1|")   # the legacy request on the same connection
        self.assertEqual(peer.message(), b"$FileLength 4097")
        peer.send(b"$Send|")
        self.assertEqual(peer.exact(4097), self.data_file("Seeder", "Docs/readme-demo.txt"))
        peer, _ = self.peer(c, b"tls2", b"archivist", secure=True)
        body = self.data_file("archivist", "Archive/photos-2009.zip")
        peer.send(b"$ADCGET file /Archive/photos-2009.zip 5000000 -1|")
        self.assertEqual(peer.message(), b"$ADCSND file /Archive/photos-2009.zip 5000000 %d"
                         % (len(body) - 5000000))
        self.assertEqual(peer.exact(len(body) - 5000000), body[5000000:])
        # A user without TLS answers in plain.
        peer, greeting = self.peer(c, b"tls2", b"Mask", secure=False)
        self.assertEqual(greeting[0], b"$MyNick Zorro")

    def test_a_client_without_the_tls_bit_gets_plain_transfers(self):
        c = self.logged_in(b"plain3", flag=b"\x01")
        peer, _ = self.peer(c, b"plain3", b"Seeder", secure=False)
        peer.send(b"$ADCGET file /Docs/readme-demo.txt 0 -1|")
        self.assertEqual(peer.message(), b"$ADCSND file /Docs/readme-demo.txt 0 4097")
        self.assertEqual(peer.exact(4097), self.data_file("Seeder", "Docs/readme-demo.txt"))

    def test_secure_answers_a_plain_request_secure_connection_required(self):
        c = self.logged_in(b"plain4")
        c.send(b"$Search Hub:plain4 F?T?0?1?locked-notes|")
        hit = c.until(lambda m: m.startswith(b"$SR Secure "))
        self.assertEqual(hit.split(b"\x05")[0], b"$SR Secure Secure\\locked-notes.txt")
        if HAVE_RHASH:
            self.assertTrue(hit.split(b"\x05")[2].startswith(
                b"TTH:" + rhash_tth(os.path.join(self.data, "Secure", "Secure", "locked-notes.txt"))))
        for request in (b"$Get Secure\\locked-notes.txt$1|", b"$ADCGET file /Secure/locked-notes.txt 0 -1|"):
            peer, greeting = self.peer(c, b"plain4", b"Secure", secure=False)
            self.assertEqual(greeting[0], b"$MyNick Secure")
            peer.send(request)
            self.assertEqual(peer.message(), b"$Error Secure connection required!")
            self.assertTrue(peer.closed_by_peer())
            self.assertEqual(peer.buf, b"")

    def test_secure_serves_a_tls_client_of_the_tls_port(self):
        c = self.logged_in(b"tls5", port=self.tls_port, tls=True, flag=b"\x11")
        c.send(b"$GetINFO Secure tls5|")
        info = c.until(lambda m: m.startswith(b"$MyINFO $ALL Secure "))
        self.assertTrue(ord(info.split(b"$")[4][-1:]) & 0x10, info)   # Secure announces TLS
        path = "Secure/sealed-archive.zip"
        body = self.data_file("Secure", path)
        self.assertTrue(2 << 20 <= len(body) <= 3 << 20)
        ident = (b"TTH/" + rhash_tth(os.path.join(self.data, "Secure", *path.split("/")))
                 if HAVE_RHASH else b"/" + path.encode())
        peer, greeting = self.peer(c, b"tls5", b"Secure", secure=True)
        self.assertEqual(greeting[0], b"$MyNick Secure")
        peer.send(b"$ADCGET file " + ident + b" 0 -1|")
        self.assertEqual(peer.message(), b"$ADCSND file " + ident + b" 0 %d" % len(body))
        self.assertEqual(peer.exact(len(body)), body)
        peer.send(b"$Get Secure\\locked-notes.txt$1|")
        self.assertEqual(peer.message(), b"$FileLength 3001")
        peer.send(b"$Send|")
        self.assertEqual(peer.exact(3001), self.data_file("Secure", "Secure/locked-notes.txt"))


if __name__ == "__main__":
    unittest.main()
