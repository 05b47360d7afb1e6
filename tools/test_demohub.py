"""Self-test of the demo hub: runs tools/demohub.py on a free port of
127.0.0.1 and talks to it the way Kivo does.  Run from tools/ with
`python3 -m unittest test_demohub` (or `discover -s tools` from the root).
Every socket has a timeout and the hub is stopped with SIGTERM at the end.
"""

import os
import select
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import time
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)

from demohub import tth  # noqa: E402
from demohub.lockkey import lock_of, lock_to_key  # noqa: E402
from demohub.peer import adc_path_to_share  # noqa: E402

TIMEOUT = 5.0
KIVO_SUPPORTS = b"$Supports UserCommand NoGetINFO NoHello UserIP2 |"
KIVO_PEER_LOCK = b"EXTENDEDPROTOCOLABCABCABCABCABCABC"
KIVO_PEER_SUPPORTS = b"$Supports MiniSlots ADCGet TTHF |"
HAVE_RHASH = shutil.which("rhash") is not None
NEEDS_RHASH = unittest.skipUnless(HAVE_RHASH, "rhash is not installed: no TTH")


def rhash_tth(path):
    out = subprocess.run(["rhash", "--tth", "--simple", path], stdout=subprocess.PIPE,
                         check=True, timeout=TIMEOUT).stdout
    return out.split(b" ")[0].upper()


class Conn:
    """A blocking NMDC connection that reads whole '|'-terminated messages."""

    def __init__(self, port):
        self.sock = socket.create_connection(("127.0.0.1", port), timeout=TIMEOUT)
        self.buf = b""

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
        except ConnectionError:
            return True


def login_block(nick, key):
    return (KIVO_SUPPORTS + b"$Key " + key + b"|$ValidateNick " + nick +
            b"|$Version 1,0091|$GetNickList|$MyINFO $ALL " + nick +
            b" pelmark<Vantoric V:0.05,M:P,H:0/1/0,S:20>$ $Modem $x$1024$|")


class LockToKey(unittest.TestCase):
    def test_worked_examples_keep_their_bytes_and_escapes(self):
        self.assertEqual(lock_to_key(b"abc"), b"V0\x10")
        self.assertEqual(lock_to_key(b"aaba"), b"v/%DCN000%/00")
        self.assertEqual(lock_to_key(b"a"), b"")

    def test_lock_stops_at_the_blank_before_pk(self):
        self.assertEqual(lock_of(b"$Lock abc Pk=x"), b"abc")


class AdcPath(unittest.TestCase):
    def test_adc_path_unescapes_to_the_share_path(self):
        self.assertEqual(adc_path_to_share("/Seeder/Video/Kivo\\sDemo\\sMovie.avi"),
                         "Seeder\\Video\\Kivo Demo Movie.avi")
        self.assertEqual(adc_path_to_share("/a\\nb"), "a\nb")
        for bad in ("Docs/readme-demo.txt", "\\Docs\\x", "//share/x", "/x/", "/a\\qb", "/a\\\\b"):
            self.assertIsNone(adc_path_to_share(bad), bad)


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


class DemoHub(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.data = tempfile.mkdtemp(prefix="demohub-test-")
        cls.proc = subprocess.Popen(
            [sys.executable, os.path.join(HERE, "demohub.py"), "--port", "0", "--big-mib", "0",
             "--churn-seconds", "0", "--quiet", "--data-dir", cls.data],
            stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
        ready, _, _ = select.select([cls.proc.stdout], [], [], 30)
        line = cls.proc.stdout.readline().decode() if ready else ""
        if not line.startswith("demohub listening on 127.0.0.1:"):
            cls.proc.kill()
            cls.proc.wait()
            raise RuntimeError("hub did not start: %r" % line)
        cls.port = int(line.rsplit(":", 1)[1])

    @classmethod
    def tearDownClass(cls):
        cls.proc.send_signal(signal.SIGTERM)
        try:
            code = cls.proc.wait(TIMEOUT)
        finally:
            if cls.proc.poll() is None:
                cls.proc.kill()
                cls.proc.wait()
            shutil.rmtree(cls.data, ignore_errors=True)
        assert code == 0, "hub exited with %r on SIGTERM" % code

    def login(self, nick, wrong_key=False):
        c = Conn(self.port)
        self.addCleanup(c.close)
        lock = lock_of(c.message())
        key = lock_to_key(lock)
        if wrong_key:
            key = key[:-1] + bytes([key[-1] ^ 1])
        c.send(login_block(nick, key))
        return c

    def test_right_key_gets_greeting_then_users_and_welcome(self):
        c = self.login(b"tester1")
        first = c.sock.recv(1000)
        self.assertEqual(first, b"$Supports NoHello UserCommand|$Hello tester1|$HubName Kivo "
                         b"Demo Hub|<Hub-Security> This hub is running demohub 1.0, a demo "
                         b"hub for Kivo.|")
        names = []
        while True:
            msg = c.message()
            if msg.startswith(b"$MyINFO $ALL "):
                names.append(msg.split(b" ")[2])
            if msg.startswith(b"<Hub-Security> Welcome"):
                break
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


if __name__ == "__main__":
    unittest.main()
