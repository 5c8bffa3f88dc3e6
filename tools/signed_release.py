"""The signed release: Authenticode signatures on the programs of the release ZIP, made once by the
holder of the key and published apart from the ZIP, so that anyone who builds the same commit can
attach them and get the signed release byte for byte (tools/sign-release, tools/attach-signatures).

Both write build/windows/signed/: the signed ZIP (the release ZIP with only its .exe entries
changed), cfgsweep-<version>-windows-signatures.zip (one detached signature per .exe, and the
signer's osslsigncode version as its comment; attach-signatures copies the published one as it
is), SIGNINFO.txt (the signer's and the attacher's versions) and SHA256SUMS for both ZIPs. The
signed programs are always the unsigned ones with the detached signatures attached, so that both
ways give the same bytes. Anything wrong, and SIGTERM, SIGINT or SIGHUP, ends the run with one
line, and leaves nothing in build/windows/: neither build/windows/signed/ changed nor a
temporary folder.
"""

import datetime
import hashlib
import io
import os
import re
import shutil
import signal
import subprocess
import sys
import tempfile
import zipfile
import zlib

import authenticode
from authenticode import Refusal

TOP = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
BUILD = os.path.join(TOP, "build", "windows")
SIGNED = os.path.join(BUILD, "signed")
# PKCS#7 in PEM: what every osslsigncode version extracts alike (2.5 writes the raw certificate
# table where DER is asked for).
SIGNATURE = ".pem"
# A detached signature, its certificates and time stamp included, is a few KiB.
LARGEST_SIGNATURE = 64 * 1024
# Microsoft's Trusted Root Program asks for RSA keys of at least this size.
SMALLEST_RSA_KEY = 2048
# What any local osslsigncode step is given before it counts as hung.
LIMIT = 60


class NoAnswer(Refusal):
    """A program that has not finished within its time limit."""


class Interrupted(BaseException):
    """SIGTERM, SIGINT or SIGHUP arrived; raised where the run was, so that it cleans up."""


def reasonOf(output):
    """The line of a tool's `output` (bytes) that says why it failed: its own reason, not the
    closing "Failed"."""
    said = [line.strip() for line in output.decode(errors="replace").splitlines()]
    said = [line for line in said if line and line not in ("Failed", "Succeeded")]
    for line in said:
        if re.search(r"error|fail|unable|cannot|can't|invalid|refused|timed? ?out", line, re.I):
            return line
    return said[-1] if said else "no word"


def run(*command, timeout=LIMIT, fds=()):
    """What `command` printed; raises Refusal with its reason where it failed, is missing, or has
    not finished within `timeout` seconds."""
    try:
        done = subprocess.run(command, capture_output=True, timeout=timeout, pass_fds=fds)
    except OSError as error:
        raise Refusal("cannot run %s: %s (tools/setup windows installs it)" % (command[0], error))
    except subprocess.TimeoutExpired:
        raise NoAnswer("%s %s: no answer within %g s" % (command[0], command[1], timeout))
    if done.returncode != 0:
        raise Refusal("%s %s failed: %s" % (command[0], command[1],
                                            reasonOf(done.stderr + done.stdout)))
    return done.stdout


def osslsigncodeVersion():
    """osslsigncode's version as BUILDINFO names packages: by Debian's package version."""
    version = subprocess.run(["dpkg-query", "-W", "-f=${Version}", "osslsigncode"],
                             capture_output=True, text=True).stdout.strip()
    if version:
        return "osslsigncode " + version
    return run("osslsigncode", "--version").decode().splitlines()[0].strip()


def projectVersion():
    with open(os.path.join(TOP, "CMakeLists.txt")) as f:
        return re.search(r"project\(cfgsweep VERSION (\S+)", f.read()).group(1)


def unsignedRelease():
    """The path of the release ZIP of this checkout's version; Refusal where it is not built."""
    release = os.path.join(BUILD, "cfgsweep-%s-windows.zip" % projectVersion())
    if not os.path.isfile(release):
        raise Refusal("no release built yet: run 'cmake --build --preset windows --target release'")
    return release


def signaturesName(release):
    return os.path.basename(release)[:-len(".zip")] + "-signatures.zip"


def programsOf(release):
    """The .exe entries of the release ZIP, by name, with their bytes."""
    with zipfile.ZipFile(release) as archive:
        return {entry.filename: archive.read(entry) for entry in archive.infolist()
                if entry.filename.endswith(".exe")}


def attach(work, name, unsigned, signature):
    """The program `name` (bytes `unsigned`) with the detached `signature` (a signature file's
    bytes) attached. Refuses a signature that does not verify against its own certificate, that
    was not made over these very bytes, or that was not attached exactly as it was checked,
    whether or not its signer is trusted."""
    program = os.path.basename(name)
    try:
        der, digest = authenticode.checkedSignature(signature)
    except Refusal as refusal:
        raise Refusal("the signature for %s is refused: %s" % (program, refusal))
    if authenticode.imageDigest(unsigned) != digest:
        raise Refusal("the signature for %s was not made over this build's %s: its image digest "
                      "differs" % (program, program))
    base = os.path.join(work, program)
    with open(base, "wb") as f:
        f.write(unsigned)
    # What osslsigncode reads is what was checked: the same DER, in the one PEM block.
    with open(base + SIGNATURE, "wb") as f:
        f.write(authenticode.pemOf(der))
    # osslsigncode verifies what it attached against the trusted certificates it is given, and
    # fetches CRLs where they form a chain, with no time limit. The signer's own certificate alone
    # forms none, so it fetches nothing and its verification fails, which is no concern here: the
    # checks below are. Some versions write nothing without such a file at all.
    anchors = base + ".certificate"
    with open(anchors, "wb") as f:
        f.write(authenticode.signerCertificatePem(der))
    try:
        run("osslsigncode", "attach-signature", "-CAfile", anchors, "-TSA-CAfile", anchors,
            "-sigin", base + SIGNATURE, "-in", base, "-out", base + ".attached")
    except NoAnswer:
        raise
    except Refusal:
        if not os.path.exists(base + ".attached"):
            raise
    with open(base + ".attached", "rb") as f:
        signed = f.read()
    if authenticode.embeddedSignature(signed) != der or authenticode.imageDigest(signed) != digest:
        raise Refusal("osslsigncode attached to %s another signature than the one checked"
                      % program)
    return signed


def writeSigned(release, programs, signaturesZip, signer, attacher):
    """Writes build/windows/signed/ from the release ZIP, the signed `programs` (name to bytes) and
    the signatures ZIP (bytes), all at once."""
    part = SIGNED + ".part"
    shutil.rmtree(part, ignore_errors=True)
    try:
        os.makedirs(part)
        signedZip = os.path.join(part, os.path.basename(release))
        with zipfile.ZipFile(release) as source, zipfile.ZipFile(signedZip, "w") as out:
            for entry in source.infolist():
                copy = zipfile.ZipInfo(entry.filename, entry.date_time)
                copy.create_system, copy.external_attr = entry.create_system, entry.external_attr
                copy.compress_type = entry.compress_type
                out.writestr(copy, programs.get(entry.filename) or source.read(entry),
                             compresslevel=9)
        with open(os.path.join(part, signaturesName(release)), "wb") as f:
            f.write(signaturesZip)
        with open(os.path.join(part, "SIGNINFO.txt"), "w", newline="\r\n") as f:
            f.write("Signatures made with %s and attached with %s; another version may write "
                    "other bytes.\n" % (signer, attacher))
        with open(os.path.join(part, "SHA256SUMS"), "w") as sums:
            for path in sorted((signedZip, os.path.join(part, signaturesName(release)))):
                with open(path, "rb") as f:
                    sums.write("%s  %s\n" % (hashlib.sha256(f.read()).hexdigest(),
                                             os.path.basename(path)))
        swapIn(part)
    finally:
        shutil.rmtree(part, ignore_errors=True)


def swapIn(part):
    """Puts the folder `part` in place of build/windows/signed/ at once: the old one is renamed
    aside first and put back on any failure. Once the new one is in, a signal is too late to stop
    the run, and is ignored."""
    if os.path.lexists(SIGNED) and not os.path.isdir(SIGNED) or os.path.islink(SIGNED):
        raise Refusal("%s is not a folder: move it away, and run again"
                      % os.path.relpath(SIGNED, TOP))
    old = SIGNED + ".old"
    shutil.rmtree(old, ignore_errors=True)
    stops = (signal.SIGTERM, signal.SIGINT, signal.SIGHUP)
    signal.pthread_sigmask(signal.SIG_BLOCK, stops)
    try:
        if os.path.exists(SIGNED):
            os.rename(SIGNED, old)
        try:
            os.rename(part, SIGNED)
        except BaseException:
            if os.path.exists(old):
                os.rename(old, SIGNED)
            raise
        for number in stops:
            signal.signal(number, signal.SIG_IGN)
    finally:
        signal.pthread_sigmask(signal.SIG_UNBLOCK, stops)
    shutil.rmtree(old, ignore_errors=True)


def signaturesZipOf(release, signatures, version):
    """The signatures ZIP: the detached `signatures` (entry name to bytes), dated as the release,
    with the signer's osslsigncode `version` as its comment."""
    made = io.BytesIO()
    with zipfile.ZipFile(release) as source, zipfile.ZipFile(made, "w") as out:
        stamp = source.infolist()[0].date_time
        for name in sorted(signatures):
            entry = zipfile.ZipInfo(name, stamp)
            entry.create_system = 3
            entry.external_attr = 0o100644 << 16
            entry.compress_type = zipfile.ZIP_DEFLATED
            out.writestr(entry, signatures[name], compresslevel=9)
        out.comment = version.encode()
    return made.getvalue()


def readPassword(path):
    """The password or PIN: the first line of the file at `path`, read once, so that it may be a
    pipe."""
    try:
        with open(path, "rb") as f:
            return f.read(4096).split(b"\n")[0].rstrip(b"\r")
    except OSError as error:
        raise Refusal("cannot read %s: %s" % (path, error.strerror))


class PasswordPipe:
    """The password or PIN on a pipe that a child reads as /dev/fd/N: on no disk, on no command
    line."""

    def __init__(self, password):
        self.read, write = os.pipe()
        os.write(write, password + b"\n")
        os.close(write)
        self.path = "/dev/fd/%d" % self.read

    def __enter__(self):
        return self

    def __exit__(self, *_):
        os.close(self.read)


def checkCertificate(certificate, where):
    """Refuses the `certificate` (read from the file `where`) where it repeats an extension, does
    not hold the code-signing use in its extended key usage, lacks digitalSignature in a key usage,
    has no RSA key of 2048 bits or more, or is not valid now."""
    from cryptography import x509
    from cryptography.x509.oid import ExtendedKeyUsageOID
    from cryptography.hazmat.primitives.asymmetric import rsa
    try:
        extensions = certificate.extensions
    except x509.DuplicateExtension as error:
        raise Refusal("the certificate in %s repeats an extension: %s" % (where, error.oid))
    try:
        uses = extensions.get_extension_for_class(x509.ExtendedKeyUsage).value
    except x509.ExtensionNotFound:
        uses = []
    if ExtendedKeyUsageOID.CODE_SIGNING not in uses:
        raise Refusal("the certificate in %s is not for code signing: its extended key usage "
                      "lacks it" % where)
    try:
        if not extensions.get_extension_for_class(x509.KeyUsage).value.digital_signature:
            raise Refusal("the certificate in %s is not for signing: its key usage lacks "
                          "digitalSignature" % where)
    except x509.ExtensionNotFound:
        pass
    public = certificate.public_key()
    if not isinstance(public, rsa.RSAPublicKey):
        raise Refusal("the certificate in %s has no RSA key" % where)
    if public.key_size < SMALLEST_RSA_KEY:
        raise Refusal("the certificate in %s has an RSA key of %d bits, fewer than %d"
                      % (where, public.key_size, SMALLEST_RSA_KEY))
    now = datetime.datetime.now(datetime.timezone.utc).replace(tzinfo=None)
    start = getattr(certificate, "not_valid_before_utc", None)
    end = getattr(certificate, "not_valid_after_utc", None)
    start = start.replace(tzinfo=None) if start else certificate.not_valid_before
    end = end.replace(tzinfo=None) if end else certificate.not_valid_after
    if not start <= now <= end:
        raise Refusal("the certificate in %s is not valid now: from %s to %s UTC"
                      % (where, start, end))


def readFile(path):
    """The bytes of the file at `path`; Refusal where it cannot be read."""
    try:
        with open(path, "rb") as f:
            return f.read()
    except OSError as error:
        raise Refusal("cannot read %s: %s" % (path, error.strerror))


def pkcs12Key(pkcs12, passwordFile):
    """The key and certificate in the PKCS#12 file `pkcs12`, opened with the password in
    `passwordFile`: osslsigncode's arguments for them, and the password. Refuses a file that
    cannot be opened so, a certificate that checkCertificate refuses, and a key that is not the
    certificate's."""
    from cryptography.hazmat.primitives import serialization
    from cryptography.hazmat.primitives.serialization import pkcs12 as PKCS12
    password = readPassword(passwordFile)
    try:
        key, certificate, _ = PKCS12.load_key_and_certificates(readFile(pkcs12), password)
    except ValueError:
        raise Refusal("cannot open %s: wrong password, or no PKCS#12 file" % pkcs12)
    if key is None or certificate is None:
        raise Refusal("%s holds no key that matches its certificate" % pkcs12)
    checkCertificate(certificate, pkcs12)
    spki = serialization.PublicFormat.SubjectPublicKeyInfo
    if (key.public_key().public_bytes(serialization.Encoding.DER, spki)
            != certificate.public_key().public_bytes(serialization.Encoding.DER, spki)):
        raise Refusal("%s holds no key that matches its certificate" % pkcs12)
    return ["-pkcs12", pkcs12], password


def tokenKey(module, uri, certs, pinFile, limit):
    """The key that the PKCS#11 URI `uri` names on a token of the PKCS#11 `module`, with the
    certificates in `certs`, the signer's first: osslsigncode's arguments for them, and the PIN in
    `pinFile`. Refuses a certificate that checkCertificate refuses, a module, token or key that is
    not there, a wrong PIN, tried once, and a key that is not the certificate's; a token that has
    not answered within `limit` seconds is given up on."""
    from cryptography import x509
    pin = readPassword(pinFile)
    try:
        certificate = x509.load_pem_x509_certificate(readFile(certs))
    except ValueError:
        raise Refusal("%s holds no certificate in PEM" % certs)
    checkCertificate(certificate, certs)
    if not os.path.exists(module):
        raise Refusal("no PKCS#11 module at %s" % module)
    try:
        read = subprocess.run([sys.executable, os.path.join(TOP, "tools", "pkcs11_key.py"), module,
                               uri], input=pin + b"\n", capture_output=True, timeout=limit)
    except subprocess.TimeoutExpired:
        raise NoAnswer("the token behind %s did not answer within %g s" % (module, limit))
    said = read.stderr.decode(errors="replace").strip().splitlines()
    if read.returncode != 0:
        raise Refusal(said[-1] if said else "the token's module failed")
    numbers = certificate.public_key().public_numbers()
    if [int(value, 16) for value in read.stdout.split()] != [numbers.n, numbers.e]:
        raise Refusal("the key %s is not the key of the certificate in %s" % (uri, certs))
    return ["-pkcs11module", module, "-key", uri, "-certs", certs], pin


def sign(work, name, program, key, urls, link, limit):
    """The detached signature over `program` (bytes) named `name`: SHA-256 with the `key` that
    pkcs12Key or tokenKey gives, time-stamped by the first of `urls` that answers within `limit`
    seconds (the key's token waited for as long); none at all where `urls` is empty."""
    options, secret = key
    base = os.path.join(work, os.path.basename(name))
    with open(base, "wb") as f:
        f.write(program)
    # Windows shows this name in its elevation prompt; osslsigncode stores it as ASCII.
    productName = os.path.basename(name)[:-len(".exe")]
    failures = []
    for url in urls or [None]:
        if os.path.exists(base + ".signed"):
            os.remove(base + ".signed")
        with PasswordPipe(secret) as pipe:
            command = ["osslsigncode", "sign", *options, "-readpass", pipe.path, "-h", "sha256",
                       "-n", productName] + (["-i", link] if link else [])
            try:
                run(*command, *(["-ts", url] if url else []), "-in", base, "-out",
                    base + ".signed", timeout=limit, fds=(pipe.read,))
                break
            except Refusal as refusal:
                if not url:
                    raise
                failures.append("%s (%s)" % (url, refusal))
    else:
        raise Refusal("no time-stamp URL answered: %s" % "; ".join(failures))
    for failure in failures:
        print("sign-release: time stamp for %s not taken from %s; the next URL gave it"
              % (os.path.basename(name), failure), file=sys.stderr)
    run("osslsigncode", "extract-signature", "-pem", "-in", base + ".signed", "-out",
        base + SIGNATURE)
    with open(base + SIGNATURE, "rb") as f:
        return f.read()


def signRelease(key, urls, link, limit):
    """Signs the release with `key`, as pkcs12Key or tokenKey gives it."""
    release = unsignedRelease()
    version = osslsigncodeVersion()
    with tempfile.TemporaryDirectory(dir=BUILD) as work:
        signatures, signed = {}, {}
        for name, program in sorted(programsOf(release).items()):
            signature = sign(work, name, program, key, urls, link, limit)
            signatures[os.path.basename(name) + SIGNATURE] = signature
            signed[name] = attach(work, name, program, signature)
        writeSigned(release, signed, signaturesZipOf(release, signatures, version), version,
                    version)
    return release


def readSignatures(signaturesZip, wanted):
    """The signatures ZIP's bytes, its detached signatures by entry name and its comment. Refuses
    a damaged ZIP, and one that holds anything but the `wanted` entries of a signature's size,
    before unpacking any."""
    try:
        with open(signaturesZip, "rb") as f:
            data = f.read(LARGEST_SIGNATURE * (len(wanted) + 1))
            if f.read(1):
                raise Refusal("%s is larger than signatures are" % signaturesZip)
    except OSError as error:
        raise Refusal("cannot read %s: %s" % (signaturesZip, error.strerror))
    try:
        with zipfile.ZipFile(io.BytesIO(data)) as archive:
            entries = archive.infolist()
            names = sorted(entry.filename for entry in entries)
            if names != wanted:
                raise Refusal("%s holds %s, not one signature for each program: %s" % (
                    signaturesZip, " ".join(names) or "nothing", " ".join(wanted)))
            if any(entry.flag_bits & 0x1 for entry in entries):
                raise Refusal("%s holds encrypted entries, which no signatures ZIP has"
                              % signaturesZip)
            large = [e.filename for e in entries if e.file_size > LARGEST_SIGNATURE]
            if large:
                raise Refusal("%s holds %s, larger than a signature is" % (
                    signaturesZip, " ".join(large)))
            return data, {entry.filename: archive.read(entry) for entry in entries}, \
                archive.comment.decode(errors="replace")
    except (zipfile.BadZipFile, zlib.error, EOFError, NotImplementedError) as error:
        raise Refusal("%s is damaged: %s" % (signaturesZip, error))


def attachSignatures(signaturesZip):
    release = unsignedRelease()
    programs = programsOf(release)
    wanted = sorted(os.path.basename(name) + SIGNATURE for name in programs)
    data, signatures, signer = readSignatures(signaturesZip, wanted)
    version = osslsigncodeVersion()
    with tempfile.TemporaryDirectory(dir=BUILD) as work:
        signed = {name: attach(work, name, program, signatures[os.path.basename(name) + SIGNATURE])
                  for name, program in sorted(programs.items())}
        writeSigned(release, signed, data, signer or "an unnamed version", version)
    if signer != version:
        print("attach-signatures: signed with %s, attached with %s, which may write other bytes"
              % (signer or "an unnamed version", version), file=sys.stderr)
    return release


def interrupt(number, _):
    raise Interrupted(number)


def main(tool, action):
    for number in (signal.SIGTERM, signal.SIGINT, signal.SIGHUP):
        signal.signal(number, interrupt)
    try:
        release = action()
    except Refusal as refusal:
        sys.exit("%s: %s" % (tool, refusal))
    except Interrupted as interrupted:
        name = signal.Signals(interrupted.args[0]).name
        print("%s: stopped by %s; nothing written" % (tool, name), file=sys.stderr)
        sys.exit(128 + interrupted.args[0])
    print("%s: %s written, with the signatures and SHA256SUMS" % (
        tool, os.path.relpath(os.path.join(SIGNED, os.path.basename(release)), TOP)))
