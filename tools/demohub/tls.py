"""The hub's TLS certificate, its keyprint and the server context.

One self-signed certificate (EC key on prime256v1, CN=demohub, ten years)
serves the TLS hub port and every TLS transfer.  It is made once with the
openssl command and kept, key and certificate in one PEM file, as
<data-dir>/demohub-tls.pem; later starts reuse it, so its keyprint stays the
same across restarts.  The one file is replaced atomically, so two hubs
starting on one data folder never pair one's key with the other's
certificate.  A file that does not load (damaged, key and certificate apart)
is made anew.

A keyprint is how NMDC clients pin a certificate in an address
("nmdcs://host:port?kp=SHA256/<base32>"): "SHA256/" and the base32 (RFC 4648
alphabet, upper case, no padding: 52 characters) of the SHA-256 of the
certificate's DER bytes.
"""

import base64
import hashlib
import os
import shutil
import ssl
import subprocess
import tempfile
from pathlib import Path

PEM_NAME = "demohub-tls.pem"
SUBJECT = "/CN=demohub"
DAYS = 3650
OPENSSL_SECONDS = 60
HANDSHAKE_SECONDS = 10    # a TLS listener drops a connection that takes longer
KEYPRINT_PREFIX = "SHA256/"
TLS_FLAG = 0x10           # $MyINFO flag byte: the user can do TLS transfers


class TlsError(Exception):
    """No certificate could be had; the text says why."""


class Tls:
    """The loaded certificate: a server context and the keyprint."""

    def __init__(self, pem: Path):
        self.pem = pem
        self.context = server_context(pem)
        self.keyprint = keyprint_of(certificate_der(pem))


def server_context(pem: Path) -> ssl.SSLContext:
    context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
    context.load_cert_chain(str(pem))   # the key is in the same file
    return context


def certificate_der(pem: Path) -> bytes:
    text = Path(pem).read_text(encoding="ascii")
    begin = text.index("-----BEGIN CERTIFICATE-----")
    end = text.index("-----END CERTIFICATE-----", begin) + len("-----END CERTIFICATE-----")
    return ssl.PEM_cert_to_DER_cert(text[begin:end])


def keyprint_of(der: bytes) -> str:
    digest = hashlib.sha256(der).digest()
    return KEYPRINT_PREFIX + base64.b32encode(digest).decode("ascii").rstrip("=")


def make_certificate(pem: Path, command: str) -> None:
    """A new key and self-signed certificate in pem (replaced atomically)."""
    with tempfile.TemporaryDirectory(dir=pem.parent, prefix=".tls-") as tmp:
        key, cert, both = Path(tmp, "key.pem"), Path(tmp, "cert.pem"), Path(tmp, "both.pem")
        proc = subprocess.run(
            [command, "req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1",
             "-nodes", "-days", str(DAYS), "-subj", SUBJECT, "-keyout", str(key), "-out", str(cert)],
            stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE,
            timeout=OPENSSL_SECONDS, check=False)
        if proc.returncode != 0:
            raise TlsError("%s req failed: %s" % (command, os.fsdecode(proc.stderr).strip()))
        fd = os.open(both, os.O_WRONLY | os.O_CREAT | os.O_EXCL, 0o600)
        with os.fdopen(fd, "wb") as fh:
            fh.write(key.read_bytes() + cert.read_bytes())
        os.replace(both, pem)


def load(data_dir: Path, log=lambda s: None, command: str = "openssl") -> Tls:
    """The hub's certificate from data_dir, made first when it is missing or
    does not load.  Raises TlsError when none can be had."""
    pem = Path(data_dir) / PEM_NAME
    try:
        return Tls(pem)
    except FileNotFoundError:
        pass
    except (OSError, ValueError, ssl.SSLError) as e:
        log("%s does not load (%s): making a new certificate" % (pem, e))
    if shutil.which(command) is None:
        raise TlsError("%s is not installed" % command)
    try:
        pem.parent.mkdir(parents=True, exist_ok=True)
        make_certificate(pem, command)
        return Tls(pem)
    except (OSError, ValueError, ssl.SSLError, subprocess.SubprocessError) as e:
        raise TlsError("cannot make %s: %s" % (pem, e)) from None
