"""The signed release: Authenticode signatures on the programs of the release ZIP, made once by the
holder of the key and published apart from the ZIP, so that anyone who builds the same commit can
attach them and get the signed release byte for byte (tools/sign-release, tools/attach-signatures).

Both write build/windows/signed/: the signed ZIP (the release ZIP with only its .exe entries
changed), cfgsweep-<version>-windows-signatures.zip (one detached signature per .exe, and the
osslsigncode version as its comment), SIGNINFO.txt (that version) and SHA256SUMS for both ZIPs.
The signed programs are always the unsigned ones with the detached signatures attached, so that
both ways give the same bytes. Anything wrong ends the run with one line, and nothing is written
to build/windows/signed/ unless all went well.
"""

import glob
import hashlib
import os
import re
import shutil
import subprocess
import sys
import tempfile
import zipfile

TOP = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
BUILD = os.path.join(TOP, "build", "windows")
SIGNED = os.path.join(BUILD, "signed")
# PKCS#7 in PEM: what every osslsigncode version extracts alike (2.5 writes the raw certificate
# table where DER is asked for).
SIGNATURE = ".pem"


class Refusal(Exception):
    """A reason to stop, told in one line."""


def run(*command, stdin=None):
    """What `command` printed; raises Refusal with its last line where it failed, or is missing."""
    try:
        done = subprocess.run(command, input=stdin, capture_output=True)
    except OSError as error:
        raise Refusal("cannot run %s: %s (tools/setup windows installs it)" % (command[0], error))
    if done.returncode != 0:
        said = (done.stderr + done.stdout).decode(errors="replace").strip().splitlines()
        raise Refusal("%s %s failed: %s" % (command[0], command[1], said[-1] if said else "no word"))
    return done.stdout


def osslsigncodeVersion():
    return run("osslsigncode", "--version").decode().splitlines()[0].strip()


def unsignedRelease():
    """The path of the release ZIP of the current build; Refusal where there is none."""
    found = glob.glob(os.path.join(BUILD, "cfgsweep-*-windows.zip"))
    if len(found) != 1:
        raise Refusal("no release built yet: run 'cmake --build --preset windows --target release'")
    return found[0]


def signaturesName(release):
    return os.path.basename(release)[:-len(".zip")] + "-signatures.zip"


def programsOf(release):
    """The .exe entries of the release ZIP, by name, with their bytes."""
    with zipfile.ZipFile(release) as archive:
        return {entry.filename: archive.read(entry) for entry in archive.infolist()
                if entry.filename.endswith(".exe")}


def messageDigests(signed, anchors):
    """The digest that the signature on `signed` vouches for, and the one of its bytes."""
    said = subprocess.run(["osslsigncode", "verify", "-CAfile", anchors, "-TSA-CAfile", anchors,
                           "-in", signed], capture_output=True)
    text = (said.stdout + said.stderr).decode(errors="replace")
    current = re.search(r"Current message digest\s*:\s*(\w+)", text)
    calculated = re.search(r"Calculated message digest\s*:\s*(\w+)", text)
    return (current and current.group(1), calculated and calculated.group(1))


def attach(work, name, unsigned, signature):
    """The program `name` (bytes `unsigned`) with the detached `signature` (bytes) attached. Refuses
    a signature that was not made over these very bytes, whether or not its signer is trusted."""
    base = os.path.join(work, os.path.basename(name))
    with open(base, "wb") as f:
        f.write(unsigned)
    with open(base + SIGNATURE, "wb") as f:
        f.write(signature)
    if os.path.exists(base + ".signed"):
        os.remove(base + ".signed")
    # osslsigncode also checks the signer's chain, and fails where this machine does not trust it,
    # which is no concern here: the digest below is. Yet some versions write nothing without a
    # file of trusted certificates: the signature's own serve.
    anchors = base + ".certificates"
    with open(anchors, "wb") as f:
        f.write(run("openssl", "pkcs7", "-print_certs", stdin=signature))
    subprocess.run(["osslsigncode", "attach-signature", "-CAfile", anchors, "-TSA-CAfile", anchors,
                    "-sigin", base + SIGNATURE, "-in", base, "-out", base + ".signed"],
                   capture_output=True)
    current, calculated = messageDigests(base + ".signed", anchors) if os.path.exists(
        base + ".signed") else (None, None)
    if not current or current != calculated:
        raise Refusal("the signature for %s was not made over this build's %s: its message digest "
                      "differs" % (os.path.basename(name), os.path.basename(name)))
    with open(base + ".signed", "rb") as f:
        return f.read()


def writeSigned(release, programs, signatures, version):
    """Writes build/windows/signed/ from the release ZIP, the signed `programs` (name to bytes) and
    the detached `signatures` (entry name to bytes), all at once."""
    part = SIGNED + ".part"
    shutil.rmtree(part, ignore_errors=True)
    os.makedirs(part)
    signedZip = os.path.join(part, os.path.basename(release))
    with zipfile.ZipFile(release) as source, zipfile.ZipFile(signedZip, "w") as out:
        for entry in source.infolist():
            copy = zipfile.ZipInfo(entry.filename, entry.date_time)
            copy.create_system, copy.external_attr = entry.create_system, entry.external_attr
            copy.compress_type = entry.compress_type
            out.writestr(copy, programs.get(entry.filename) or source.read(entry), compresslevel=9)
    signaturesZip = os.path.join(part, signaturesName(release))
    with zipfile.ZipFile(release) as source, zipfile.ZipFile(signaturesZip, "w") as out:
        stamp = source.infolist()[0].date_time
        for name in sorted(signatures):
            entry = zipfile.ZipInfo(name, stamp)
            entry.create_system = 3
            entry.external_attr = 0o100644 << 16
            entry.compress_type = zipfile.ZIP_DEFLATED
            out.writestr(entry, signatures[name], compresslevel=9)
        out.comment = version.encode()
    with open(os.path.join(part, "SIGNINFO.txt"), "w", newline="\r\n") as f:
        f.write("Signatures attached with %s; another version may write other bytes.\n" % version)
    with open(os.path.join(part, "SHA256SUMS"), "w") as sums:
        for path in sorted((signedZip, signaturesZip)):
            with open(path, "rb") as f:
                sums.write("%s  %s\n" % (hashlib.sha256(f.read()).hexdigest(),
                                         os.path.basename(path)))
    shutil.rmtree(SIGNED, ignore_errors=True)
    os.replace(part, SIGNED)


def certificateChecks(pkcs12, passwordFile):
    """Refuses a PKCS#12 file that cannot be opened with the password in `passwordFile`, or whose
    certificate is not RSA, lacks the code-signing use, or does not match its key."""
    for path in (pkcs12, passwordFile):
        if not os.path.isfile(path) or not os.access(path, os.R_OK):
            raise Refusal("cannot read %s" % path)
    opened = None
    for legacy in ([], ["-legacy"]):
        try:
            opened = [run("openssl", "pkcs12", "-in", pkcs12, "-passin", "file:" + passwordFile,
                          "-nodes", *legacy, *part) for part in (["-nokeys", "-clcerts"],
                                                                 ["-nocerts"])]
            break
        except Refusal:
            continue
    if not opened:
        raise Refusal("cannot open %s: wrong password, or no PKCS#12 file" % pkcs12)
    certificate, key = opened
    if b"PRIVATE KEY" not in key:
        raise Refusal("%s holds no key that matches its certificate" % pkcs12)
    if b"CERTIFICATE" not in certificate:
        raise Refusal("%s holds no certificate for its key" % pkcs12)
    text = run("openssl", "x509", "-noout", "-text", stdin=certificate).decode()
    if "rsaEncryption" not in text:
        raise Refusal("the certificate in %s has no RSA key" % pkcs12)
    if "Code Signing" not in text:
        raise Refusal("the certificate in %s is not for code signing" % pkcs12)
    if (run("openssl", "x509", "-noout", "-pubkey", stdin=certificate)
            != run("openssl", "pkey", "-pubout", stdin=key)):
        raise Refusal("%s holds no key that matches its certificate" % pkcs12)


def description(program):
    """The FileDescription of the version resource of `program` (bytes)."""
    try:
        import pefile
    except ImportError:
        raise Refusal("python3-pefile is missing (tools/setup windows installs it)")
    pe = pefile.PE(data=program)
    for info in getattr(pe, "FileInfo", []):
        for entry in info:
            for table in getattr(entry, "StringTable", []):
                if b"FileDescription" in table.entries:
                    return table.entries[b"FileDescription"].decode()
    return "cfgsweep"


def sign(work, name, program, pkcs12, passwordFile, urls, link):
    """The detached signature over `program` (bytes) named `name`: SHA-256 with the key and
    certificate in `pkcs12`, time-stamped by the first of `urls` that answers."""
    base = os.path.join(work, os.path.basename(name))
    with open(base, "wb") as f:
        f.write(program)
    command = ["osslsigncode", "sign", "-pkcs12", pkcs12, "-readpass", passwordFile, "-h",
               "sha256", "-n", description(program)] + (["-i", link] if link else [])
    for url in urls or [None]:
        if os.path.exists(base + ".signed"):
            os.remove(base + ".signed")
        try:
            run(*command, *(["-ts", url] if url else []), "-in", base, "-out", base + ".signed")
            break
        except Refusal:
            continue
    else:
        run(*command, "-in", base, "-out", base + ".signed")
        raise Refusal("no time-stamp URL answered: %s" % " ".join(urls))
    run("osslsigncode", "extract-signature", "-pem", "-in", base + ".signed", "-out",
        base + SIGNATURE)
    with open(base + SIGNATURE, "rb") as f:
        return f.read()


def signRelease(pkcs12, passwordFile, urls, link):
    certificateChecks(pkcs12, passwordFile)
    release = unsignedRelease()
    version = osslsigncodeVersion()
    with tempfile.TemporaryDirectory(dir=BUILD) as work:
        signatures, signed = {}, {}
        for name, program in sorted(programsOf(release).items()):
            signature = sign(work, name, program, pkcs12, passwordFile, urls, link)
            signatures[os.path.basename(name) + SIGNATURE] = signature
            signed[name] = attach(work, name, program, signature)
        writeSigned(release, signed, signatures, version)
    return release


def attachSignatures(signaturesZip):
    release = unsignedRelease()
    if not os.path.isfile(signaturesZip):
        raise Refusal("cannot read %s" % signaturesZip)
    try:
        with zipfile.ZipFile(signaturesZip) as archive:
            signatures = {entry: archive.read(entry) for entry in archive.namelist()}
            signer = archive.comment.decode(errors="replace")
    except zipfile.BadZipFile:
        raise Refusal("%s is no ZIP file" % signaturesZip)
    programs = programsOf(release)
    wanted = sorted(os.path.basename(name) + SIGNATURE for name in programs)
    if sorted(signatures) != wanted:
        raise Refusal("%s holds %s, not one signature for each program: %s"
                      % (signaturesZip, " ".join(sorted(signatures)) or "nothing", " ".join(wanted)))
    version = osslsigncodeVersion()
    if signer != version:
        print("attach-signatures: signed with %s, attached with %s, which may write other bytes"
              % (signer or "an unnamed version", version), file=sys.stderr)
    with tempfile.TemporaryDirectory(dir=BUILD) as work:
        signed = {name: attach(work, name, program, signatures[os.path.basename(name) + SIGNATURE])
                  for name, program in sorted(programs.items())}
        writeSigned(release, signed, signatures, version)
    return release


def main(tool, action):
    try:
        release = action()
    except Refusal as refusal:
        sys.exit("%s: %s" % (tool, refusal))
    print("%s: %s written, with the signatures and SHA256SUMS" % (
        tool, os.path.relpath(os.path.join(SIGNED, os.path.basename(release)), TOP)))
