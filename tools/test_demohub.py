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

from demohub.lockkey import lock_of, lock_to_key  # noqa: E402

TIMEOUT = 5.0
KIVO_SUPPORTS = b"$Supports UserCommand NoGetINFO NoHello UserIP2 |"
KIVO_PEER_LOCK = b"EXTENDEDPROTOCOLABCABCABCABCABCABC"


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
        self.assertEqual(hit, "$SR Seeder Книги\\Война и мир.txt\x051048593 ".encode("cp1251")
                         + free_total + b"\x05Kivo Demo Hub (127.0.0.1:%d)" % self.port)
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


if __name__ == "__main__":
    unittest.main()
