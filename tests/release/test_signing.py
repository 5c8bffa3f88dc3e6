"""The signed release, made with keys that exist only in this test's scratch folder: a throwaway
CA, an RSA code-signing key on a SoftHSM2 token, its PIN on a pipe, and the same key in a PKCS#12
file that leaves the CA out, and a time-stamp authority answering on loopback beside one that
never answers. Run by tools/test after the release is built; a second clone of the checkout
attaches the detached signatures to a release of its own."""

import base64
import glob
import hashlib
import http.server
import os
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import threading
import time
import unittest
import unittest.mock
import zipfile

TOP = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
sys.path.insert(0, os.path.join(TOP, "tools"))
import authenticode  # noqa: E402
sys.path.insert(0, os.path.join(TOP, "tests", "blackbox"))
from harness import snapshot  # noqa: E402
from asn1crypto import algos, cms, x509  # noqa: E402
BUILD = os.path.join(TOP, "build", "windows")
SIGNED = os.path.join(BUILD, "signed")
PASSWORD = "correct horse 7"
PIN = "4711 staple"
MODULE = (glob.glob("/usr/lib/softhsm/libsofthsm2.so")
          + glob.glob("/usr/lib/*/softhsm/libsofthsm2.so") + [""])[0]
KEY = "pkcs11:token=cfgsweep%20test;object=vendor;type=private"
# Each time-stamp request's limit: the silent server's cost, and a working one's margin.
LIMIT = 5

OPENSSL_CONFIG = """[req]
distinguished_name = dn
prompt = no
[dn]
CN = unused
[tsa_config]
serial = {scratch}/tsa-serial
signer_cert = {scratch}/tsa.crt
certs = {scratch}/ca.crt
signer_key = {scratch}/tsa.key
signer_digest = sha256
default_policy = 1.2.3.4.1
digests = sha256, sha384, sha512
ess_cert_id_alg = sha256
"""

# Every program that signing starts, with the arguments it was given, so that the password is
# seen never to be one of them.
SHIM = """#!/bin/sh
printf '%s\\n' "$0 $*" >>"{log}"
exec /usr/bin/$(basename "$0") "$@"
"""


def openssl(*args):
    subprocess.run(["openssl"] + list(args), check=True, capture_output=True)


def tool(name, *args, cwd=TOP, env=None, password=None, stopAfter=None):
    """Runs tools/NAME; `password` is given on a pipe, as --password-file /dev/fd/N, and
    `stopAfter` seconds later SIGTERM is sent."""
    read, write = os.pipe() if password else (None, None)
    args = [a.replace("{pipe}", "/dev/fd/%d" % read) if password else a for a in args]
    process = subprocess.Popen(["/usr/bin/python3", os.path.join(cwd, "tools", name)] + args,
                               stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True, env=env,
                               pass_fds=(read,) if password else ())
    if password:
        os.close(read)
        os.write(write, password.encode() + b"\n")
        os.close(write)
    try:
        out, err = process.communicate(timeout=stopAfter)
    except subprocess.TimeoutExpired:
        process.send_signal(signal.SIGTERM)
        out, err = process.communicate()
    return subprocess.CompletedProcess(process.args, process.returncode, out, err)


def rewritten(source, target, change):
    """Writes the ZIP `target` as `source` with each entry's bytes passed through `change`(name,
    bytes); `change` may return None to leave an entry out."""
    with zipfile.ZipFile(source) as archive:
        entries = [(entry, archive.read(entry)) for entry in archive.infolist()]
    with zipfile.ZipFile(target, "w") as archive:
        for entry, data in entries:
            data = change(entry.filename, data)
            if data is not None:
                archive.writestr(entry, data)


def oneByteChanged(name, data):
    """For rewritten(): the last byte of cfgsweep.exe flipped, every other entry as it was."""
    return data[:-1] + bytes([data[-1] ^ 1]) if name.endswith("/cfgsweep.exe") else data


def forged(pem, change, key=None):
    """The signature in `pem` with change(info, signedData, signer) applied to its parsed parts,
    its signed attributes then signed anew with the key in the file `key`, if given; in PEM."""
    from cryptography.hazmat.primitives import hashes, serialization
    from cryptography.hazmat.primitives.asymmetric import padding
    info = cms.ContentInfo.load(authenticode.signatureDer(pem))
    signed, signer = info["content"], info["content"]["signer_infos"][0]
    change(info, signed, signer)
    if key:
        with open(key, "rb") as f:
            secret = serialization.load_pem_private_key(f.read(), None)
        signer["signature"] = secret.sign(b"\x31" + signer["signed_attrs"].dump()[1:],
                                          padding.PKCS1v15(), hashes.SHA256())
    signed["signer_infos"] = cms.SignerInfos([signer])
    info["content"] = signed
    return authenticode.pemOf(info.dump())


def withAttributes(signer, field, attributes):
    """Sets the signed or unsigned attributes (`field`) of `signer` to (type, values) pairs."""
    signer[field] = cms.CMSAttributes([cms.CMSAttribute({"type": kind, "values": values})
                                       for kind, values in attributes])


def attributes(signer, field):
    return [(a["type"].native, list(a["values"])) for a in signer[field]]


def overContent(signed, signer, content):
    """Makes `signer` vouch for the content bytes `content` (a whole SEQUENCE) in place of the
    program's indirect data."""
    tlv = lambda tag, body: bytes([tag, len(body)]) + body  # short bodies only
    signed["encap_content_info"] = cms.ContentInfo.load(tlv(
        0x30, cms.ContentType("spc_indirect_data").dump() + tlv(0xA0, content)))
    withAttributes(signer, "signed_attrs", [
        (kind, [hashlib.sha256(content[2:]).digest()] if kind == "message_digest" else values)
        for kind, values in attributes(signer, "signed_attrs")])


class TimeStamps(http.server.BaseHTTPRequestHandler):
    """An RFC 3161 time-stamp authority: openssl ts -reply for each request posted."""

    def do_POST(self):
        query = os.path.join(self.server.scratch, "query.tsq")
        with open(query, "wb") as f:
            f.write(self.rfile.read(int(self.headers["Content-Length"])))
        reply = subprocess.run(["openssl", "ts", "-reply", "-config", self.server.config,
                                "-section", "tsa_config", "-queryfile", query],
                               capture_output=True).stdout
        self.send_response(200)
        self.send_header("Content-Type", "application/timestamp-reply")
        self.send_header("Content-Length", str(len(reply)))
        self.end_headers()
        self.wfile.write(reply)

    def log_message(self, *args):
        pass


class SignedRelease(unittest.TestCase):
    maxDiff = None

    @classmethod
    def setUpClass(cls):
        cls.scratch = tempfile.mkdtemp(prefix="cfgsweep-signing-")
        # A server that takes every connection and never answers.
        cls.hanging = socket.socket()
        cls.hanging.bind(("127.0.0.1", 0))
        cls.hanging.listen(64)
        cls.silent = "http://127.0.0.1:%d/" % cls.hanging.getsockname()[1]
        config = cls.path("openssl.cnf")
        with open(config, "w") as f:
            f.write(OPENSSL_CONFIG.format(scratch=cls.scratch))
        leaf = ["basicConstraints=CA:false"]
        signs = leaf + ["keyUsage=critical,digitalSignature"]
        code = signs + ["extendedKeyUsage=codeSigning"]
        # The CA first, named so that a check that looks for words in openssl's text takes any of
        # its certificates for code signing; each of the others issued by it, with its key and
        # extensions.
        for name, key, extensions in (
                ("ca", "rsa:2048", ["basicConstraints=critical,CA:true",
                                    "keyUsage=critical,keyCertSign,cRLSign"]),
                ("vendor", "rsa:2048", code + ["subjectKeyIdentifier=hash"]),
                ("server", "rsa:2048", signs + ["extendedKeyUsage=serverAuth"]),
                ("tsa", "rsa:2048", signs + ["extendedKeyUsage=critical,timeStamping"]),
                ("ec", "ec", code), ("short", "rsa:1024", code),
                ("crl", "rsa:2048", code + ["crlDistributionPoints=URI:%scrl" % cls.silent]),
                ("certsign", "rsa:2048", leaf + ["keyUsage=critical,keyCertSign",
                                                 "extendedKeyUsage=codeSigning"])):
            issuer = ["-CA", cls.path("ca.crt"), "-CAkey", cls.path("ca.key")] if name != "ca" \
                else []
            keyOptions = ["-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:P-256"] if key == "ec" \
                else ["-newkey", key]
            openssl("req", "-x509", *keyOptions, "-nodes", "-keyout", cls.path(name + ".key"),
                    "-out", cls.path(name + ".crt"), "-days", "30", "-config", config, *issuer,
                    "-subj", "/CN=cfgsweep test " + ("Code Signing CA" if name == "ca" else name),
                    *[option for extension in extensions for option in ("-addext", extension)])
        for name, secret in (("password", PASSWORD), ("pin", PIN)):
            with open(cls.path(name), "w") as f:
                f.write(secret + "\n")
        # The token holds the vendor's key; its chain names the vendor's certificate first.
        with open(cls.path("softhsm2.conf"), "w") as f:
            f.write("directories.tokendir = %s\n" % cls.path("tokens"))
        os.mkdir(cls.path("tokens"))
        softhsm = dict(os.environ, SOFTHSM2_CONF=cls.path("softhsm2.conf"))
        for step in (["--init-token", "--free", "--label", "cfgsweep test", "--so-pin", PIN],
                     ["--import", cls.path("vendor.key"), "--token", "cfgsweep test", "--label",
                      "vendor", "--id", "01"]):
            subprocess.run(["softhsm2-util", *step, "--pin", PIN], env=softhsm, check=True,
                           capture_output=True)
        with open(cls.path("chain.pem"), "w") as chain:
            for name in ("vendor.crt", "ca.crt"):
                with open(cls.path(name)) as f:
                    chain.write(f.read())
        # The vendor's file leaves the CA out, so that its signatures carry no trusted root.
        for name, extra in (("vendor", []), ("server", ["-certfile", cls.path("ca.crt")]),
                            ("ec", []), ("short", []), ("keyless", ["-nokeys"]),
                            ("crl", ["-certfile", cls.path("ca.crt")]), ("certsign", [])):
            source = "vendor" if name == "keyless" else name
            openssl("pkcs12", "-export", "-in", cls.path(source + ".crt"), "-passout",
                    "file:" + cls.path("password"), "-out", cls.path(name + ".p12"),
                    *(extra if name == "keyless" else extra + ["-inkey", cls.path(source + ".key")]))
        with open(cls.path("tsa-serial"), "w") as f:
            f.write("01\n")
        cls.server = http.server.HTTPServer(("127.0.0.1", 0), TimeStamps)
        cls.server.scratch, cls.server.config = cls.scratch, config
        threading.Thread(target=cls.server.serve_forever, daemon=True).start()
        cls.timestamp = "http://127.0.0.1:%d/" % cls.server.server_address[1]
        shims = cls.path("bin")
        os.mkdir(shims)
        for name in ("osslsigncode", "openssl"):
            with open(os.path.join(shims, name), "w") as f:
                f.write(SHIM.format(log=cls.path("commands.log")))
            os.chmod(os.path.join(shims, name), 0o755)
        cls.env = dict(softhsm, PATH=shims + os.pathsep + os.environ["PATH"])
        shutil.rmtree(SIGNED, ignore_errors=True)
        cls.release = next(n for n in os.listdir(BUILD) if n.endswith("-windows.zip"))
        # An older release beside this version's is no reason to stop.
        cls.older = os.path.join(BUILD, "cfgsweep-0.9.0-windows.zip")
        shutil.copy(os.path.join(BUILD, cls.release), cls.older)
        # Signed with the same key from a PKCS#12 file, then, as the result that the cases keep,
        # from the token.
        cls.byPkcs12 = cls.sign(cls.pkcs12("vendor.p12", "{pipe}"), cls.timestamp, secret=PASSWORD)
        shutil.copytree(SIGNED, cls.path("pkcs12-signed"))
        cls.signed = cls.sign(cls.token(pin="{pipe}"), cls.silent, cls.timestamp, secret=PIN)
        cls.result = snapshot(SIGNED)

    @classmethod
    def path(cls, name):
        return os.path.join(cls.scratch, name)

    @classmethod
    def tearDownClass(cls):
        os.remove(cls.older)
        cls.hanging.close()
        cls.server.shutdown()
        cls.server.server_close()
        shutil.rmtree(cls.scratch)

    @classmethod
    def sign(cls, key, *urls, secret=None, stopAfter=None):
        """tools/sign-release with the arguments `key`, and `secret` on a pipe as {pipe} there."""
        stamps = [arg for url in urls for arg in ("--timestamp", url)] or ["--no-timestamp"]
        return tool("sign-release", *key, *stamps, "--timestamp-limit", str(LIMIT), env=cls.env,
                    password=secret, stopAfter=stopAfter)

    @classmethod
    def pkcs12(cls, name, password=None):
        return ["--pkcs12", cls.path(name), "--password-file", password or cls.path("password")]

    @classmethod
    def token(cls, key=KEY, certs="chain.pem", pin=None, module=MODULE):
        return ["--pkcs11-module", module, "--key", key, "--certs", cls.path(certs), "--pin-file",
                pin or cls.path("pin")]

    def signedPrograms(self, folder=SIGNED):
        with zipfile.ZipFile(os.path.join(folder, self.release)) as archive:
            return {entry.filename: archive.read(entry) for entry in archive.infolist()
                    if entry.filename.endswith(".exe")}

    def test_signed_programs_verify_with_their_time_stamp(self):
        self.assertEqual(self.byPkcs12.returncode, 0, self.byPkcs12.stderr)
        self.assertEqual(self.signed.returncode, 0, self.signed.stderr)
        # The silent server was given up on, by name, for each program.
        gaveUp = "%s (osslsigncode sign: no answer within %d s)" % (self.silent, LIMIT)
        self.assertEqual(self.signed.stderr.count(gaveUp), 2, self.signed.stderr)
        for folder in (SIGNED, self.path("pkcs12-signed")):
            for name, program in self.signedPrograms(folder).items():
                with self.subTest(name, folder=folder):
                    exe = self.path(os.path.basename(folder) + "-" + os.path.basename(name))
                    with open(exe, "wb") as f:
                        f.write(program)
                    verified = subprocess.run(
                        ["osslsigncode", "verify", "-CAfile", self.path("ca.crt"), "-TSA-CAfile",
                         self.path("ca.crt"), "-in", exe], capture_output=True, text=True)
                    self.assertEqual(verified.returncode, 0, verified.stdout + verified.stderr)
                    self.assertIn("Timestamp Server Signature verification: ok", verified.stdout)
                    subprocess.run(["osslsigncode", "remove-signature", "-in", exe, "-out",
                                    exe + ".bare"], check=True, capture_output=True)
                    with zipfile.ZipFile(os.path.join(BUILD, self.release)) as unsigned, \
                            open(exe + ".bare", "rb") as bare:
                        self.assertEqual(bare.read(), unsigned.read(name), "signature removed")

    def test_signed_cfgsweep_passes_a_windows_suite(self):
        exe = self.path("signed") + "/cfgsweep.exe"
        os.makedirs(os.path.dirname(exe), exist_ok=True)
        with open(exe, "wb") as f:
            f.write(next(p for n, p in self.signedPrograms().items() if n.endswith("/cfgsweep.exe")))
        build, bits = BUILD, "32"
        if subprocess.run([os.path.join(TOP, "tests", "support", "wine32-missing")],
                          capture_output=True).returncode == 0:
            # Wine cannot start the 32-bit program here: the x64 one, signed alike, stands in.
            build, bits = os.path.join(TOP, "build", "windows-x64"), "64"
            os.remove(exe)
            subprocess.run(["osslsigncode", "sign", "-pkcs12", self.path("vendor.p12"),
                            "-readpass", self.path("password"), "-h", "sha256", "-ts",
                            self.timestamp, "-in", os.path.join(build, "cfgsweep.exe"), "-out",
                            exe], check=True, capture_output=True)
        # In a prefix that the suites' own fixture prepares and ends, with a scratch folder that the
        # unprivileged user can reach.
        wine = tempfile.mkdtemp(prefix="cfgsweep-signed-wine-")
        env = dict(os.environ, CFGSWEEP_EXE=exe, CFGSWEEP_RUNNER=shutil.which("wine"),
                   CFGSWEEP_LAUNCHER=os.path.join(build, "tests", "launch.exe"),
                   CFGSWEEP_EXE_BITS=bits, WINEPREFIX=os.path.join(build, "wineprefix"),
                   WINEDEBUG="-all", PYTHONDONTWRITEBYTECODE="1", TMPDIR=wine + "/tmp",
                   CFGSWEEP_NOBODY_WINEPREFIX=wine + "/nobody")
        prefix = [os.path.join(TOP, "tests", "support", "wine-prefix"), "wine", "wineboot",
                  "wineserver"]
        subprocess.run(prefix, env=env, check=True)
        try:
            suite = subprocess.run([sys.executable, "-m", "unittest", "-v", "test_dispatch"],
                                   cwd=os.path.join(TOP, "tests", "blackbox"), capture_output=True,
                                   text=True, env=env)
        finally:
            subprocess.run(prefix + ["end"], env=env)
        self.assertEqual(suite.returncode, 0, suite.stderr)
        self.assertIn(" ... ok", suite.stderr)

    def test_only_the_programs_change(self):
        with zipfile.ZipFile(os.path.join(BUILD, self.release)) as unsigned, \
                zipfile.ZipFile(os.path.join(SIGNED, self.release)) as signed:
            describe = lambda archive: [
                (e.filename, e.date_time, e.external_attr, e.compress_type,
                 None if e.filename.endswith(".exe") else archive.read(e))
                for e in archive.infolist()]
            self.assertEqual(describe(signed), describe(unsigned))
        signatures = self.release[:-len(".zip")] + "-signatures.zip"
        with zipfile.ZipFile(os.path.join(SIGNED, signatures)) as archive:
            self.assertEqual(archive.namelist(), ["cfgsweep.exe.pem", "run-cfgsweep.exe.pem"])
            # Windows shows the name in its elevation prompt; the field holds ASCII only.
            self.assertEqual([authenticode.programName(archive.read(n)) for n in
                              archive.namelist()], [("cfgsweep", True), ("run-cfgsweep", True)])
        self.assertEqual([path for _, path, _ in self.result], sorted(
            [self.release, signatures, "SHA256SUMS", "SIGNINFO.txt"]))
        sums = subprocess.run(["sha256sum", "-c", "SHA256SUMS"], cwd=SIGNED, capture_output=True)
        self.assertEqual(sums.returncode, 0, sums.stdout)

    def test_password_never_on_a_command_line_nor_printed(self):
        with open(self.path("commands.log")) as f:
            commands = f.read()
        self.assertIn("osslsigncode sign", commands)
        for secret in (PASSWORD, PIN):
            self.assertNotIn(secret, commands + self.signed.stdout + self.signed.stderr
                             + self.byPkcs12.stdout + self.byPkcs12.stderr)

    def test_a_failed_swap_keeps_the_old_folder(self):
        import signed_release
        part = SIGNED + ".part"
        shutil.copytree(SIGNED, part)
        rename = os.rename

        def full(source, target):
            if source == part:
                raise OSError(28, "No space left on device")
            rename(source, target)

        try:
            with unittest.mock.patch.object(signed_release.os, "rename", full):
                self.assertRaises(OSError, signed_release.swapIn, part)
        finally:
            shutil.rmtree(part)
        self.assertEqual(snapshot(SIGNED), self.result)
        self.assertFalse(os.path.exists(SIGNED + ".old"))

    def test_never_fetches_a_crl(self):
        # A certificate whose CRL lies behind the silent server, in a PKCS#12 with its CA.
        shutil.copytree(SIGNED, self.path("signed-before"))
        try:
            started = time.monotonic()
            signed = self.sign(self.pkcs12("crl.p12"), self.timestamp)
            self.assertEqual(signed.returncode, 0, signed.stderr)
            shutil.copy(os.path.join(SIGNED, self.release[:-len(".zip")] + "-signatures.zip"),
                        self.path("crl-signatures.zip"))
            attached = tool("attach-signatures", self.path("crl-signatures.zip"), env=self.env)
            self.assertEqual(attached.returncode, 0, attached.stderr)
            self.assertLess(time.monotonic() - started, 60)
        finally:
            shutil.rmtree(SIGNED)
            shutil.copytree(self.path("signed-before"), SIGNED)

    def test_a_second_clone_attaches_the_same_release(self):
        # The clone builds the last commit, which is what build/windows holds only without changes.
        if subprocess.run(["git", "status", "--porcelain"], cwd=TOP, capture_output=True,
                          text=True).stdout.strip():
            self.skipTest("the checkout has changes that a clone would not have")
        clone = self.path("clone")
        subprocess.run(["git", "clone", "-q", TOP, clone], check=True)
        signatures = os.path.join(SIGNED, self.release[:-len(".zip")] + "-signatures.zip")
        attached = tool("attach-signatures", signatures, cwd=clone, env=self.env)
        self.assertNotEqual(attached.returncode, 0, "attached with no release built")
        self.assertIn("no release built yet", attached.stderr)
        subprocess.run("cmake --preset windows -DBUILD_TESTING=OFF >/dev/null && cmake --build "
                       "--preset windows -j%d --target release >/dev/null" % os.cpu_count(),
                       shell=True, cwd=clone, check=True)
        out = os.path.join(clone, "build", "windows", "signed")
        # Whichever key signed.
        for signed in (SIGNED, self.path("pkcs12-signed")):
            attached = tool("attach-signatures", os.path.join(signed, os.path.basename(signatures)),
                            cwd=clone, env=self.env)
            self.assertEqual(attached.returncode, 0, attached.stderr)
            self.assertEqual(snapshot(out), snapshot(signed))
        # One byte of cfgsweep.exe changed, in the release ZIP of the clone.
        release = os.path.join(clone, "build", "windows", self.release)
        rewritten(release, release, oneByteChanged)
        before = snapshot(out)
        attached = tool("attach-signatures", signatures, cwd=clone, env=self.env)
        self.assertNotEqual(attached.returncode, 0)
        self.assertIn("was not made over this build's cfgsweep.exe", attached.stderr)
        self.assertEqual(snapshot(out), before)

    def test_bad_input_leaves_nothing_behind(self):
        # Forged from the signatures made with the PKCS#12 file, which carry no CA: asn1crypto takes
        # time exponential in the nesting to rebuild larger ones.
        published = os.path.join(self.path("pkcs12-signed"), self.release[:-len(".zip")]
                                 + "-signatures.zip")
        variant = lambda name, change: rewritten(published, self.path(name), change) or name

        with zipfile.ZipFile(published) as archive:
            other = archive.read("run-cfgsweep.exe.pem")
        otherInfo = cms.ContentInfo.load(authenticode.signatureDer(other))
        otherToken = otherInfo["content"]["signer_infos"][0]["unsigned_attrs"][0]["values"][0]
        with open(self.path("server.crt"), "rb") as f:
            server = x509.Certificate.load(base64.b64decode(b"".join(f.read().splitlines()[1:-1])))

        def tampered(der):
            # One bit of the RSA value.
            at = der.index(cms.ContentInfo.load(der)["content"]["signer_infos"][0][
                "signature"].native) + 7
            return der[:at] + bytes([der[at] ^ 1]) + der[at + 1:]

        def longHeader(info, signed, signer):
            signer["signed_attrs"]._header = b"\xa0\x83" + len(
                signer["signed_attrs"].contents).to_bytes(3, "big")

        def overSomethingElse(info, signed, signer):
            # Signed by another certificate of the CA, the genuine signature nested inside.
            genuine = cms.ContentInfo.load(info.dump())
            overContent(signed, signer, b"\x30\x03\x02\x01\x00")
            signer["sid"] = cms.SignerIdentifier({"issuer_and_serial_number": {
                "issuer": server.issuer, "serial_number": server.serial_number}})
            signed["certificates"] = cms.CertificateSet(
                [cms.CertificateChoices({"certificate": server})] + list(signed["certificates"]))
            withAttributes(signer, "unsigned_attrs", [("microsoft_nested_signature", [genuine])])

        def md5Image(info, signed, signer):
            content = signed["encap_content_info"]["content"]
            overContent(signed, signer, authenticode.SpcIndirectDataContent({
                "data": content["data"], "message_digest": algos.DigestInfo({
                    "digest_algorithm": {"algorithm": "md5"}, "digest": bytes(16)})}).dump())

        def repeatedExtension(info, signed, signer):
            certificate = signed["certificates"][0].chosen
            tbs = certificate["tbs_certificate"]
            tbs["extensions"] = list(tbs["extensions"]) + [tbs["extensions"][0]]
            certificate["tbs_certificate"] = tbs
            signer["sid"] = cms.SignerIdentifier({
                "subject_key_identifier": certificate.key_identifier})
            signed["certificates"] = cms.CertificateSet(
                [cms.CertificateChoices({"certificate": certificate})])

        key = self.path("vendor.key")
        unsigned = lambda change: lambda i, s, g: withAttributes(g, "unsigned_attrs", change(
            attributes(g, "unsigned_attrs")))
        forgeries = {
            "tampered": lambda d: authenticode.pemOf(tampered(authenticode.signatureDer(d))),
            "tampered DER before the genuine PEM": lambda d: tampered(
                authenticode.signatureDer(d)) + d,
            "signed attributes with a long length": lambda d: forged(d, longHeader, key),
            "two message digests": lambda d: forged(d, lambda i, s, g: withAttributes(
                g, "signed_attrs", [("message_digest", [bytes(32)])]
                + attributes(g, "signed_attrs")), key),
            "over something else, the genuine nested": lambda d: forged(
                d, overSomethingElse, self.path("server.key")),
            "another program's nested beside": lambda d: forged(d, unsigned(
                lambda found: found + [("microsoft_nested_signature", [otherInfo])])),
            "a false time stamp first": lambda d: forged(d, unsigned(
                lambda found: [("microsoft_time_stamp_token", [otherToken])] + found)),
            "two time stamps in one attribute": lambda d: forged(d, unsigned(
                lambda found: [(found[0][0], [otherToken] + found[0][1])])),
            "an MD5 image digest": lambda d: forged(d, md5Image, key),
            "a signer by key identifier whose certificate repeats an extension": lambda d: forged(
                d, repeatedExtension),
        }
        zips = {name: variant(name + ".zip", lambda n, d, f=forge: f(d) if n.startswith(
            "cfgsweep") else d) for name, forge in forgeries.items()}
        # Each entry flagged as encrypted, in its local header and in the central directory.
        with open(published, "rb") as f:
            data = bytearray(f.read())
        for mark, flags in ((b"PK\x03\x04", 6), (b"PK\x01\x02", 8)):
            at = data.find(mark)
            while at >= 0:
                data[at + flags] |= 0x1
                at = data.find(mark, at + 4)
        encrypted = self.path("encrypted.zip")
        with open(encrypted, "wb") as f:
            f.write(data)

        def signedIsAFile():
            shutil.copy(published, self.path("published.zip"))
            os.rename(SIGNED, self.path("signed-aside"))
            try:
                with open(SIGNED, "w") as f:
                    f.write("not a folder")
                return tool("attach-signatures", self.path("published.zip"), env=self.env)
            finally:
                os.remove(SIGNED)
                os.rename(self.path("signed-aside"), SIGNED)

        certificatesOnly = subprocess.run(
            ["openssl", "crl2pkcs7", "-nocrl", "-certfile", self.path("vendor.crt")],
            capture_output=True, check=True).stdout
        zips.update({
            "extra": variant("extra.zip", lambda n, d: d),
            "certificates only": variant("certs.zip", lambda n, d: certificatesOnly),
            "large": variant("large.zip", lambda n, d: d + b" " * 100000),
        })
        with zipfile.ZipFile(self.path(zips["extra"]), "a") as archive:
            archive.writestr("notes.txt", "not a signature")
        with open(published, "rb") as f:
            data = bytearray(f.read())
        # The compressed bytes of the first entry, past its 30-byte header and name.
        data[30 + len("cfgsweep.exe.pem") + 40] ^= 0xFF
        with open(self.path("corrupt.zip"), "wb") as f:
            f.write(data)
        with open(self.path("wrong-password"), "w") as f:
            f.write("wrong\n")

        def changedProgram():
            # One byte of cfgsweep.exe changed in this build's release ZIP, put back afterwards.
            release = os.path.join(BUILD, self.release)
            shutil.copy(release, self.path("release.zip"))
            try:
                rewritten(self.path("release.zip"), release, oneByteChanged)
                return tool("attach-signatures", published, env=self.env)
            finally:
                shutil.copy(self.path("release.zip"), release)

        sign = lambda p12, *urls, password=None, stopAfter=None: lambda: self.sign(
            self.pkcs12(p12, password), *(urls or [self.timestamp]), stopAfter=stopAfter)
        token = lambda **key: lambda: self.sign(self.token(**key), self.timestamp)
        os.mkfifo(self.path("silent.so"))
        attach = lambda name: lambda: tool("attach-signatures", self.path(name), env=self.env)
        for name, run, says in (
                ("wrong password", sign("vendor.p12", password=self.path("wrong-password")),
                 "wrong password"),
                ("missing PKCS#12 file", sign("absent.p12"), "cannot read"),
                ("missing password file", sign("vendor.p12", password=self.path("absent")),
                 "cannot read"),
                ("TLS certificate from a Code Signing CA", sign("server.p12"),
                 "not for code signing"),
                ("EC key", sign("ec.p12"), "has no RSA key"),
                ("RSA key of 1024 bits", sign("short.p12"), "1024 bits"),
                ("no key for the certificate", sign("keyless.p12"), "no key that matches"),
                ("no time stamp answers", sign("vendor.p12", self.silent, self.silent),
                 "no time-stamp URL answered: %s (osslsigncode sign: no answer within %d s)"
                 % (self.silent, LIMIT)),
                ("key usage for certificates only", sign("certsign.p12"),
                 "lacks digitalSignature"),
                ("wrong PIN", token(pin=self.path("wrong-password")), "wrong PIN for the token"),
                ("missing module", token(module=self.path("absent.so")), "no PKCS#11 module at"),
                ("not a PKCS#11 module", token(module=self.path("ca.crt")), "is no PKCS#11 module"),
                ("token that never answers", token(module=self.path("silent.so")),
                 "did not answer within %d s" % LIMIT),
                ("no such token", token(key=KEY.replace("cfgsweep%20test", "other")),
                 "no token matches"),
                ("key not on the token", token(key=KEY.replace("vendor", "absent")),
                 "no private key matches"),
                ("certificate of another key", token(certs="crl.crt"), "is not the key of"),
                ("a PIN in the key's URI", token(key=KEY + "?pin-value=" + PIN),
                 "never in the URI"),
                ("a TLS certificate for the token", token(certs="server.crt"),
                 "not for code signing"),
                ("a token and a PKCS#12 file", lambda: self.sign(
                    self.token() + self.pkcs12("vendor.p12"), self.timestamp), "give one key"),
                ("no time stamp asked for", lambda: tool(
                    "sign-release", "--pkcs12", self.path("vendor.p12"), "--password-file",
                    self.path("password"), env=self.env), "--no-timestamp"),
                ("SIGTERM while waiting for a time stamp",
                 sign("vendor.p12", self.silent, stopAfter=1.5), "stopped by SIGTERM"),
                ("signatures ZIP missing", attach("absent.zip"), "cannot read"),
                ("signatures ZIP holds more", attach(zips["extra"]), "not one signature for each"),
                ("signatures ZIP damaged", attach("corrupt.zip"), "is damaged"),
                ("signature larger than any", attach(zips["large"]), "larger than a signature"),
                ("signature tampered with", attach(zips["tampered"]),
                 "does not verify with its signer's certificate"),
                ("tampered DER before the genuine PEM",
                 attach(zips["tampered DER before the genuine PEM"]), "nor one DER structure"),
                ("signed attributes with a long length",
                 attach(zips["signed attributes with a long length"]), "not in canonical DER"),
                ("two message digests", attach(zips["two message digests"]),
                 "message_digest twice"),
                ("over something else, the genuine nested",
                 attach(zips["over something else, the genuine nested"]), "is damaged"),
                ("another program's nested beside", attach(zips["another program's nested beside"]),
                 "more than one time stamp: microsoft_nested_signature"),
                ("a false time stamp first", attach(zips["a false time stamp first"]),
                 "microsoft_time_stamp_token twice"),
                ("two time stamps in one attribute",
                 attach(zips["two time stamps in one attribute"]), "holds 2 values"),
                ("an MD5 image digest", attach(zips["an MD5 image digest"]), "image digest is md5"),
                ("a signer by key identifier whose certificate repeats an extension",
                 attach(zips["a signer by key identifier whose certificate repeats an extension"]),
                 "repeats an extension"),
                ("signatures ZIP encrypted", attach(encrypted), "encrypted entries"),
                ("build/windows/signed a plain file", signedIsAFile, "is not a folder"),
                ("certificates but no signature", attach(zips["certificates only"]),
                 "over no spc_indirect_data"),
                ("one byte of a program changed", changedProgram,
                 "was not made over this build's cfgsweep.exe")):
            with self.subTest(name):
                done = run()
                self.assertNotEqual(done.returncode, 0)
                self.assertEqual(len(done.stderr.strip().splitlines()), 1, done.stderr)
                self.assertIn(says, done.stderr)
                self.assertNotIn("Traceback", done.stderr)
                self.assertNotIn(PASSWORD, done.stdout + done.stderr)
                self.assertNotIn(PIN, done.stdout + done.stderr)
                self.assertEqual(snapshot(SIGNED), self.result)
                self.assertEqual(sorted(n for n in os.listdir(BUILD) if "signed" in n
                                        or n.startswith("tmp")), ["signed"])


if __name__ == "__main__":
    unittest.main()
