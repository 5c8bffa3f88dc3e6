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

import base64
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


class Refusal(Exception):
    """A reason to stop, told in one line."""


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


def run(*command, timeout=None, fds=()):
    """What `command` printed; raises Refusal with its reason where it failed, or is missing."""
    try:
        done = subprocess.run(command, capture_output=True, timeout=timeout, pass_fds=fds)
    except OSError as error:
        raise Refusal("cannot run %s: %s (tools/setup windows installs it)" % (command[0], error))
    except subprocess.TimeoutExpired:
        raise Refusal("no answer within %g s" % timeout)
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


# The signature itself, read with a small DER reader: PKCS#7 SignedData (RFC 2315) as Authenticode
# uses it, and the RFC 3161 time stamp inside it.

OID_SIGNED_DATA = "1.2.840.113549.1.7.2"
OID_CONTENT_TYPE = "1.2.840.113549.1.9.3"
OID_MESSAGE_DIGEST = "1.2.840.113549.1.9.4"
OID_COUNTER_SIGNATURE = "1.2.840.113549.1.9.6"
OID_RFC3161_TIME_STAMP = "1.3.6.1.4.1.311.3.3.1"
OID_SPC_INDIRECT_DATA = "1.3.6.1.4.1.311.2.1.4"
OID_SPC_SP_OPUS_INFO = "1.3.6.1.4.1.311.2.1.12"
OID_TST_INFO = "1.2.840.113549.1.9.16.1.4"
DIGESTS = {"1.3.14.3.2.26": "sha1", "2.16.840.1.101.3.4.2.1": "sha256",
           "2.16.840.1.101.3.4.2.2": "sha384", "2.16.840.1.101.3.4.2.3": "sha512"}


class Der:
    """One DER element: its tag, its contents octets and its whole encoding."""

    def __init__(self, data, at=0):
        start = at
        if at + 2 > len(data) or data[at] & 0x1F == 0x1F:
            raise Refusal("not DER")
        self.tag, length = data[at], data[at + 1]
        at += 2
        if length & 0x80:
            size = length & 0x7F
            if not 0 < size <= 4 or at + size > len(data):
                raise Refusal("not DER")
            length, at = int.from_bytes(data[at:at + size], "big"), at + size
        if at + length > len(data):
            raise Refusal("DER cut short")
        self.value, self.end = data[at:at + length], at + length
        self.whole = data[start:self.end]

    def items(self):
        """The elements inside a constructed element."""
        found, at = [], 0
        while at < len(self.value):
            item = Der(self.value, at)
            found.append(item)
            at = item.end
        return found

    def oid(self):
        first = self.value[0]
        arcs, number = [first // 40 if first < 80 else 2, first - 40 * min(first // 40, 2)], 0
        for byte in self.value[1:]:
            number = (number << 7) | (byte & 0x7F)
            if not byte & 0x80:
                arcs.append(number)
                number = 0
        return ".".join(map(str, arcs))


def attributes(element):
    """The attributes in a [0] or [1] attribute set, by type, each with its first value."""
    pairs = [attribute.items() for attribute in element.items()]
    return {pair[0].oid(): pair[1].items()[0] for pair in pairs}


def signedDataOf(contentInfo):
    """The parts of the SignedData in `contentInfo` (Der): its content type and content, its
    certificates and its signer infos."""
    outer = contentInfo.items()
    if len(outer) != 2 or outer[0].oid() != OID_SIGNED_DATA:
        raise Refusal("no PKCS#7 signed data")
    parts = outer[1].items()[0].items()
    inner = parts[2].items()
    certificates = next((p.items() for p in parts[3:-1] if p.tag == 0xA0), [])
    content = inner[1].items()[0] if len(inner) > 1 else None
    return inner[0].oid(), content, certificates, parts[-1].items()


def signerCertificate(signerInfo, certificates):
    """Of `certificates` (Der), the one that `signerInfo` names by issuer and serial number."""
    from cryptography import x509
    named = signerInfo.items()[1]
    for certificate in certificates:
        loaded = x509.load_der_x509_certificate(certificate.whole)
        if named.tag == 0x30:
            issuer, serial = named.items()
            if (loaded.serial_number == int.from_bytes(serial.value, "big", signed=True)
                    and loaded.issuer.public_bytes() == issuer.whole):
                return loaded
        else:
            try:
                key = loaded.extensions.get_extension_for_class(x509.SubjectKeyIdentifier)
            except x509.ExtensionNotFound:
                continue
            if key.value.digest == named.value:
                return loaded
    raise Refusal("its signer's certificate is not in it")


def verifySigner(signerInfo, certificates, contentType, content):
    """Checks `signerInfo` over `content` (the bytes that were signed): the content type (unless
    None) and message digest in its signed attributes, and its RSA signature over them with its
    own certificate's key. Returns the signature value."""
    from cryptography.exceptions import InvalidSignature
    from cryptography.hazmat.primitives import hashes
    from cryptography.hazmat.primitives.asymmetric import padding, rsa
    parts = signerInfo.items()
    digest = DIGESTS.get(parts[2].items()[0].oid())
    if not digest:
        raise Refusal("its digest algorithm is unknown")
    signed = next((p for p in parts[3:] if p.tag == 0xA0), None)
    value = next(p for p in parts[3:] if p.tag == 0x04).value
    if signed is None:
        raise Refusal("it has no signed attributes")
    said = attributes(signed)
    named = said.get(OID_CONTENT_TYPE)
    if contentType and (named is None or named.oid() != contentType):
        raise Refusal("its signed attributes name another content type")
    vouched = said.get(OID_MESSAGE_DIGEST)
    if vouched is None or vouched.value != hashlib.new(digest, content).digest():
        raise Refusal("its message digest is not that of what it signs")
    key = signerCertificate(signerInfo, certificates).public_key()
    if not isinstance(key, rsa.RSAPublicKey):
        raise Refusal("its signer's key is not RSA")
    try:
        # What is signed is the DER of the signed attributes as a SET, not as the [0] they are.
        key.verify(value, b"\x31" + signed.whole[1:], padding.PKCS1v15(),
                   getattr(hashes, digest.upper())())
    except InvalidSignature:
        raise Refusal("its signature does not verify with its signer's certificate")
    return value


def verifyTimeStamps(signerInfo, certificates, signature):
    """Checks each time stamp on `signerInfo`, whose signature value is `signature`: an RFC 3161
    token over it, or a countersignature, each signed by its own certificate."""
    unsigned = next((p for p in signerInfo.items()[3:] if p.tag == 0xA1), None)
    for kind, value in (attributes(unsigned) if unsigned else {}).items():
        try:
            if kind == OID_RFC3161_TIME_STAMP:
                contentType, content, stampCertificates, signers = signedDataOf(value)
                if contentType != OID_TST_INFO or len(signers) != 1 or content is None:
                    raise Refusal("it holds no time-stamp token")
                verifySigner(signers[0], stampCertificates, contentType, content.value)
                imprint = Der(content.value).items()[2].items()
                digest = DIGESTS.get(imprint[0].items()[0].oid())
                if not digest or imprint[1].value != hashlib.new(digest, signature).digest():
                    raise Refusal("it is over another signature")
            elif kind == OID_COUNTER_SIGNATURE:
                # A countersignature names no content type of its own (RFC 5652 11.4).
                verifySigner(value, certificates, None, signature)
        except Refusal as refusal:
            raise Refusal("its time stamp is refused: %s" % refusal)


def authenticodeSignature(pem):
    """The PKCS#7 SignedData in `pem` (bytes), with one signer over Authenticode's indirect data:
    its signer info, certificates and content. Refusal("not a signature") otherwise."""
    found = re.search(rb"-----BEGIN PKCS7-----(.*?)-----END PKCS7-----", pem, re.S)
    try:
        der = Der(base64.b64decode(found.group(1), validate=False)) if found else None
        contentType, content, certificates, signers = signedDataOf(der)
    except (Refusal, IndexError, ValueError, AttributeError, TypeError):
        raise Refusal("not a signature")
    if contentType != OID_SPC_INDIRECT_DATA or len(signers) != 1 or content is None:
        raise Refusal("not a signature: it holds no signer over a program")
    return signers[0], certificates, content


def checkSignature(pem):
    """Refuses a detached signature that does not verify against its own signer's certificate:
    its signed attributes, its message digest, and the signature of any time stamp on it. Whether
    that certificate is one anybody trusts is Windows' question, not this one's."""
    signer, certificates, content = authenticodeSignature(pem)
    try:
        signature = verifySigner(signer, certificates, OID_SPC_INDIRECT_DATA, content.value)
        verifyTimeStamps(signer, certificates, signature)
    except (IndexError, KeyError, TypeError, ValueError, StopIteration):
        raise Refusal("its structure is damaged")
    return certificates


def programName(pem):
    """The program name that the signature in `pem` carries, and whether it is ASCII (IA5String)."""
    signer, _, _ = authenticodeSignature(pem)
    signed = next(p for p in signer.items()[3:] if p.tag == 0xA0)
    opus = attributes(signed)[OID_SPC_SP_OPUS_INFO].items()
    name = next(p for p in opus if p.tag == 0xA0).items()[0]
    return name.value.decode("ascii" if name.tag == 0x81 else "utf-16-be"), name.tag == 0x81


def messageDigests(signed, anchors):
    """The digest that the signature on `signed` vouches for, and the one of its bytes."""
    said = subprocess.run(["osslsigncode", "verify", "-CAfile", anchors, "-TSA-CAfile", anchors,
                           "-in", signed], capture_output=True)
    text = (said.stdout + said.stderr).decode(errors="replace")
    current = re.search(r"Current message digest\s*:\s*(\w+)", text)
    calculated = re.search(r"Calculated message digest\s*:\s*(\w+)", text)
    return (current and current.group(1), calculated and calculated.group(1))


def attach(work, name, unsigned, signature):
    """The program `name` (bytes `unsigned`) with the detached `signature` (bytes) attached.
    Refuses a signature that does not verify against its own certificate, or that was not made
    over these very bytes, whether or not its signer is trusted."""
    program = os.path.basename(name)
    try:
        certificates = checkSignature(signature)
    except Refusal as refusal:
        raise Refusal("the signature for %s is refused: %s" % (program, refusal))
    base = os.path.join(work, program)
    with open(base, "wb") as f:
        f.write(unsigned)
    with open(base + SIGNATURE, "wb") as f:
        f.write(signature)
    # osslsigncode also checks the signer's chain, and fails where this machine does not trust it,
    # which is no concern here: the digest below is. Yet some versions write nothing without a
    # file of trusted certificates: the signature's own serve.
    anchors = base + ".certificates"
    with open(anchors, "wb") as f:
        for certificate in certificates:
            f.write(b"-----BEGIN CERTIFICATE-----\n" + base64.encodebytes(certificate.whole)
                    + b"-----END CERTIFICATE-----\n")
    subprocess.run(["osslsigncode", "attach-signature", "-CAfile", anchors, "-TSA-CAfile", anchors,
                    "-sigin", base + SIGNATURE, "-in", base, "-out", base + ".signed"],
                   capture_output=True)
    current, calculated = messageDigests(base + ".signed", anchors) if os.path.exists(
        base + ".signed") else (None, None)
    if not current or current != calculated:
        raise Refusal("the signature for %s was not made over this build's %s: its message digest "
                      "differs" % (program, program))
    with open(base + ".signed", "rb") as f:
        return f.read()


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
        shutil.rmtree(SIGNED, ignore_errors=True)
        os.replace(part, SIGNED)
    finally:
        shutil.rmtree(part, ignore_errors=True)


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
    """The password: the first line of the file at `path`, read once, so that it may be a pipe."""
    try:
        with open(path, "rb") as f:
            return f.read(4096).split(b"\n")[0].rstrip(b"\r")
    except OSError as error:
        raise Refusal("cannot read %s: %s" % (path, error.strerror))


class PasswordPipe:
    """The password on a pipe that a child reads as /dev/fd/N: on no disk, on no command line."""

    def __init__(self, password):
        self.read, write = os.pipe()
        os.write(write, password + b"\n")
        os.close(write)
        self.path = "/dev/fd/%d" % self.read

    def __enter__(self):
        return self

    def __exit__(self, *_):
        os.close(self.read)


def certificateChecks(pkcs12, password):
    """Refuses a PKCS#12 file that cannot be opened with `password`, or whose certificate does not
    hold the code-signing use in its extended key usage, has no RSA key of 2048 bits or more, is
    not valid now, or is not the certificate of the key in the file."""
    from cryptography import x509
    from cryptography.x509.oid import ExtendedKeyUsageOID
    from cryptography.hazmat.primitives import serialization
    from cryptography.hazmat.primitives.asymmetric import rsa
    from cryptography.hazmat.primitives.serialization import pkcs12 as PKCS12
    try:
        with open(pkcs12, "rb") as f:
            data = f.read()
    except OSError as error:
        raise Refusal("cannot read %s: %s" % (pkcs12, error.strerror))
    try:
        key, certificate, _ = PKCS12.load_key_and_certificates(data, password)
    except ValueError:
        raise Refusal("cannot open %s: wrong password, or no PKCS#12 file" % pkcs12)
    if key is None or certificate is None:
        raise Refusal("%s holds no key that matches its certificate" % pkcs12)
    try:
        uses = certificate.extensions.get_extension_for_class(x509.ExtendedKeyUsage).value
    except x509.ExtensionNotFound:
        uses = []
    if ExtendedKeyUsageOID.CODE_SIGNING not in uses:
        raise Refusal("the certificate in %s is not for code signing: its extended key usage "
                      "lacks it" % pkcs12)
    public = certificate.public_key()
    if not isinstance(public, rsa.RSAPublicKey):
        raise Refusal("the certificate in %s has no RSA key" % pkcs12)
    if public.key_size < SMALLEST_RSA_KEY:
        raise Refusal("the certificate in %s has an RSA key of %d bits, fewer than %d"
                      % (pkcs12, public.key_size, SMALLEST_RSA_KEY))
    now = datetime.datetime.now(datetime.timezone.utc).replace(tzinfo=None)
    start = getattr(certificate, "not_valid_before_utc", None)
    end = getattr(certificate, "not_valid_after_utc", None)
    start = start.replace(tzinfo=None) if start else certificate.not_valid_before
    end = end.replace(tzinfo=None) if end else certificate.not_valid_after
    if not start <= now <= end:
        raise Refusal("the certificate in %s is not valid now: from %s to %s UTC"
                      % (pkcs12, start, end))
    spki = serialization.PublicFormat.SubjectPublicKeyInfo
    if (key.public_key().public_bytes(serialization.Encoding.DER, spki)
            != public.public_bytes(serialization.Encoding.DER, spki)):
        raise Refusal("%s holds no key that matches its certificate" % pkcs12)


def sign(work, name, program, pkcs12, password, urls, link, limit):
    """The detached signature over `program` (bytes) named `name`: SHA-256 with the key and
    certificate in `pkcs12`, time-stamped by the first of `urls` that answers within `limit`
    seconds; none at all where `urls` is empty."""
    base = os.path.join(work, os.path.basename(name))
    with open(base, "wb") as f:
        f.write(program)
    # Windows shows this name in its elevation prompt; osslsigncode stores it as ASCII.
    productName = os.path.basename(name)[:-len(".exe")]
    failures = []
    for url in urls or [None]:
        if os.path.exists(base + ".signed"):
            os.remove(base + ".signed")
        with PasswordPipe(password) as secret:
            command = ["osslsigncode", "sign", "-pkcs12", pkcs12, "-readpass", secret.path, "-h",
                       "sha256", "-n", productName] + (["-i", link] if link else [])
            try:
                run(*command, *(["-ts", url] if url else []), "-in", base, "-out",
                    base + ".signed", timeout=limit if url else None, fds=(secret.read,))
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


def signRelease(pkcs12, passwordFile, urls, link, limit):
    password = readPassword(passwordFile)
    certificateChecks(pkcs12, password)
    release = unsignedRelease()
    version = osslsigncodeVersion()
    with tempfile.TemporaryDirectory(dir=BUILD) as work:
        signatures, signed = {}, {}
        for name, program in sorted(programsOf(release).items()):
            signature = sign(work, name, program, pkcs12, password, urls, link, limit)
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
