"""Authenticode signatures, read and checked: a detached signature as osslsigncode reads it, the
PKCS#7 SignedData inside (read with asn1crypto) verified against its own signer's certificate, its
RFC 3161 time stamp, and the image digest of a Windows program, computed here.

Whether a signer's certificate is one anybody trusts is Windows' question, not this one's: a
signature that passes here is one that verifies, made over the given program, and written in the
one encoding that any reader reads alike.
"""

import base64
import binascii
import hashlib
import re
import struct

from asn1crypto import algos, cms, core, parser, tsp  # noqa: F401 (tsp: a token's TSTInfo)


class Refusal(Exception):
    """A reason to stop, told in one line."""


# What an Authenticode signature signs, SpcIndirectDataContent with the program's image digest,
# and the program name it carries, as Microsoft's Authenticode PE format defines them.
class SpcAttributeTypeAndOptionalValue(core.Sequence):
    _fields = [("type", core.ObjectIdentifier), ("value", core.Any, {"optional": True})]


class SpcIndirectDataContent(core.Sequence):
    _fields = [("data", SpcAttributeTypeAndOptionalValue), ("message_digest", algos.DigestInfo)]


class SpcString(core.Choice):
    _alternatives = [("unicode", core.BMPString, {"implicit": 0}),
                     ("ascii", core.IA5String, {"implicit": 1})]


class SpcSpOpusInfo(core.Sequence):
    _fields = [("program_name", SpcString, {"explicit": 0, "optional": True}),
               ("more_info", core.Any, {"explicit": 1, "optional": True})]


class SetOfSpcSpOpusInfo(core.SetOf):
    _child_spec = SpcSpOpusInfo


cms.ContentType._map["1.3.6.1.4.1.311.2.1.4"] = "spc_indirect_data"
cms.ContentInfo._oid_specs["spc_indirect_data"] = SpcIndirectDataContent
cms.CMSAttributeType._map["1.3.6.1.4.1.311.2.1.12"] = "spc_sp_opus_info"
cms.CMSAttribute._oid_specs["spc_sp_opus_info"] = SetOfSpcSpOpusInfo

# What sign-release makes, and what Windows takes for a signature made today.
IMAGE_DIGEST = "sha256"
TIME_STAMP_DIGESTS = ("sha1", "sha256", "sha384", "sha512")
TIME_STAMPS = ("microsoft_time_stamp_token", "counter_signature")
PEM = re.compile(rb"-----BEGIN PKCS7-----\r?\n([A-Za-z0-9+/=\r\n]*)-----END PKCS7-----\r?\n?")
# The Certificate Table's entry among the optional header's data directories.
CERTIFICATE_TABLE = 4
WIN_CERT_REVISION_2_0, WIN_CERT_TYPE_PKCS_SIGNED_DATA = 0x0200, 0x0002
# A signature nests a dozen deep, its time stamp inside it another dozen.
MAX_DEPTH = 64


def signatureDer(data):
    """The DER of the detached signature file `data` (bytes), read as osslsigncode reads it: one
    PEM block and nothing else, or exactly one DER structure. Refusal otherwise."""
    if data[:1] == b"\x30":
        try:
            core.load(data, strict=True)
            return data
        except ValueError:
            raise Refusal("not a signature: the file is neither one PEM block nor one DER "
                          "structure")
    found = PEM.fullmatch(data)
    if not found:
        raise Refusal("not a signature: the file is neither one PEM block nor one DER structure")
    try:
        return base64.b64decode(re.sub(rb"\s", b"", found.group(1)), validate=True)
    except binascii.Error:
        raise Refusal("not a signature: its PEM block is no base64")


def checkDer(data, depth=0):
    """Refusal unless `data` (bytes) is a run of elements each in DER's one form: definite
    lengths in the fewest bytes, and constructed only where DER constructs (a SEQUENCE, a SET, a
    tagged element). Linear in the size, nesting at most MAX_DEPTH deep."""
    at = 0
    while at < len(data):
        class_, method, tag, header, contents, trailer = parser.parse(data[at:])
        if parser.emit(class_, method, tag, contents) != header + contents + trailer:
            raise Refusal("not in canonical DER: a length or tag is encoded otherwise")
        if method == 1:
            if class_ == 0 and tag not in (16, 17):
                raise Refusal("not in canonical DER: a string is constructed")
            if depth == MAX_DEPTH:
                raise Refusal("nested more than %d deep" % MAX_DEPTH)
            checkDer(contents, depth + 1)
        at += len(header) + len(contents) + len(trailer)


def canonical(structure, der, what):
    """`der` read as one `structure` (an asn1crypto class); Refusal unless it is exactly one such
    in canonical DER, since a reader that also takes BER would check bytes that get encoded anew
    when attached."""
    try:
        checkDer(der)
        return structure.load(der, strict=True)
    except Refusal as refusal:
        raise Refusal("%s is %s" % (what, refusal))
    except (ValueError, TypeError, KeyError) as error:
        raise Refusal("%s is damaged: %s" % (what, str(error).splitlines()[0]))


def attributesOf(attributes, what):
    """The attributes of a signer info's `attributes` (CMSAttributes or None), by type name, each
    with its one value; Refusal where a type comes twice or an attribute has other than one."""
    encodings = [attribute.dump() for attribute in attributes or []]
    if encodings != sorted(encodings):
        raise Refusal("not in canonical DER: its %s attributes are out of order" % what)
    found = {}
    for attribute in attributes or []:
        kind = attribute["type"].native
        if kind in found:
            raise Refusal("its %s attributes hold %s twice" % (what, kind))
        if len(attribute["values"]) != 1:
            raise Refusal("its %s attribute %s holds %d values, not one"
                          % (what, kind, len(attribute["values"])))
        found[kind] = attribute["values"][0]
    return found


def signerCertificate(signer, certificates):
    """Of `certificates` (a SignedData's), the one that `signer` names by issuer and serial number
    or by subject key identifier; Refusal where none is, or it repeats an extension."""
    named = signer["sid"]
    for choice in certificates or []:
        if choice.name != "certificate":
            continue
        certificate = choice.chosen
        if named.name == "issuer_and_serial_number":
            matches = (certificate.issuer == named.chosen["issuer"]
                       and certificate.serial_number == named.chosen["serial_number"].native)
        else:
            matches = certificate.key_identifier == named.chosen.native
        if matches:
            kinds = [e["extn_id"].dotted for e in certificate["tbs_certificate"]["extensions"]]
            if len(kinds) != len(set(kinds)):
                raise Refusal("its signer's certificate repeats an extension")
            return certificate
    raise Refusal("its signer's certificate is not in it")


def verifySigner(signer, certificates, contentType, content, digests):
    """Checks `signer` (a SignerInfo) over `content` (the bytes it signs): its digest algorithm
    one of `digests`, the content type (unless None) and message digest in its signed attributes,
    and its RSA signature over them with its own certificate's key. Returns its unsigned
    attributes by type."""
    from cryptography.exceptions import InvalidSignature
    from cryptography.hazmat.primitives import hashes, serialization
    from cryptography.hazmat.primitives.asymmetric import padding, rsa
    digest = signer["digest_algorithm"]["algorithm"].native
    if digest not in digests:
        raise Refusal("its digest algorithm is %s, not %s" % (digest, " or ".join(digests)))
    if not signer["signed_attrs"]:
        raise Refusal("it has no signed attributes")
    said = attributesOf(signer["signed_attrs"], "signed")
    if contentType and ("content_type" not in said or said["content_type"].native != contentType):
        raise Refusal("its signed attributes name another content type")
    vouched = said.get("message_digest")
    if vouched is None or vouched.native != hashlib.new(digest, content).digest():
        raise Refusal("its message digest is not that of what it signs")
    if signer["signature_algorithm"].signature_algo != "rsassa_pkcs1v15":
        raise Refusal("its signature is not RSA PKCS #1 v1.5")
    key = serialization.load_der_public_key(
        signerCertificate(signer, certificates).public_key.dump())
    if not isinstance(key, rsa.RSAPublicKey):
        raise Refusal("its signer's key is not RSA")
    try:
        # What is signed is the DER of the signed attributes as a SET, not as the [0] they are.
        key.verify(signer["signature"].native, b"\x31" + signer["signed_attrs"].dump()[1:],
                   padding.PKCS1v15(), getattr(hashes, digest.upper())())
    except InvalidSignature:
        raise Refusal("its signature does not verify with its signer's certificate")
    return attributesOf(signer["unsigned_attrs"], "unsigned")


def signedDataOf(info, contentType, what):
    """The SignedData in ContentInfo `info`, over content of `contentType`, and its one signer."""
    if info["content_type"].native != "signed_data":
        raise Refusal("%s holds no PKCS#7 signed data" % what)
    signed = info["content"]
    encapsulated = signed["encap_content_info"]
    if encapsulated["content_type"].native != contentType or not encapsulated["content"]:
        raise Refusal("%s is over no %s" % (what, contentType))
    if len(signed["signer_infos"]) != 1:
        raise Refusal("%s has %d signers, not one" % (what, len(signed["signer_infos"])))
    return signed, signed["signer_infos"][0]


def verifyTimeStamp(kind, stamp, certificates, signature):
    """Checks the time stamp `stamp` of `kind` on a signature whose value is `signature`: an RFC
    3161 token that stamps it, or a countersignature over it, signed by its own certificate."""
    try:
        if kind == "counter_signature":
            # A countersignature names no content type of its own (RFC 5652 11.4).
            unsigned = verifySigner(stamp, certificates, None, signature, TIME_STAMP_DIGESTS)
        else:
            token = canonical(cms.ContentInfo, stamp.dump(), "the token")
            signed, signer = signedDataOf(token, "tst_info", "the token")
            content = signed["encap_content_info"]["content"]
            unsigned = verifySigner(signer, signed["certificates"], "tst_info", content.contents,
                                    TIME_STAMP_DIGESTS)
            imprint = content.parsed["message_imprint"]
            digest = imprint["hash_algorithm"]["algorithm"].native
            if (digest not in TIME_STAMP_DIGESTS
                    or imprint["hashed_message"].native != hashlib.new(digest, signature).digest()):
                raise Refusal("it is over another signature")
        if unsigned:
            raise Refusal("it carries unsigned attributes: %s" % " ".join(sorted(unsigned)))
    except Refusal as refusal:
        raise Refusal("its time stamp is refused: %s" % refusal)


def checkedSignature(data):
    """The signature in the detached signature file `data` (bytes), checked: its DER, and the
    image digest that it signs. Refusal unless it is one canonical PKCS#7 SignedData with one
    signer over a SHA-256 SpcIndirectDataContent, whose signed attributes and RSA signature verify
    against the signer's own certificate, and whose only unsigned attribute, if any, is one time
    stamp that verifies over it."""
    der = signatureDer(data)
    info = canonical(cms.ContentInfo, der, "the signature")
    try:
        signed, signer = signedDataOf(info, "spc_indirect_data", "the signature")
        content = signed["encap_content_info"]["content"]
        image = content["message_digest"]
        if image["digest_algorithm"]["algorithm"].native != IMAGE_DIGEST:
            raise Refusal("its image digest is %s, not %s"
                          % (image["digest_algorithm"]["algorithm"].native, IMAGE_DIGEST))
        unsigned = verifySigner(signer, signed["certificates"], "spc_indirect_data",
                                content.contents, (IMAGE_DIGEST,))
        # One signature per program: a nested signature, or anything else, is not what was made.
        others = sorted(kind for kind in unsigned if kind not in TIME_STAMPS)
        if others or len(unsigned) > 1:
            raise Refusal("its unsigned attributes hold more than one time stamp: %s"
                          % " ".join(others or sorted(unsigned)))
        for kind, stamp in unsigned.items():
            verifyTimeStamp(kind, stamp, signed["certificates"], signer["signature"].native)
    except (ValueError, TypeError, KeyError, AttributeError) as error:
        raise Refusal("its structure is damaged: %s" % str(error).splitlines()[0])
    return der, image["digest"].native


def pemOf(der):
    """The signature `der` as the one PEM block that osslsigncode reads and extracts."""
    return b"-----BEGIN PKCS7-----\n" + base64.encodebytes(der) + b"-----END PKCS7-----\n"


def signerCertificatePem(der):
    """The certificate of the signer of the signature `der`, in PEM."""
    signed = cms.ContentInfo.load(der)["content"]
    certificate = signerCertificate(signed["signer_infos"][0], signed["certificates"])
    return (b"-----BEGIN CERTIFICATE-----\n" + base64.encodebytes(certificate.dump())
            + b"-----END CERTIFICATE-----\n")


def programName(data):
    """The program name that the detached signature file `data` carries, and whether it is ASCII
    (an IA5String)."""
    info = cms.ContentInfo.load(signatureDer(data))
    signer = info["content"]["signer_infos"][0]
    name = attributesOf(signer["signed_attrs"], "signed")["spc_sp_opus_info"]["program_name"]
    return name.native, name.name == "ascii"


def certificateTable(program):
    """The file offsets of `program`'s (bytes) CheckSum field and Certificate Table entry, and
    where the table starts and ends (the end of the file where there is none)."""
    import pefile
    try:
        pe = pefile.PE(data=program, fast_load=True)
    except pefile.PEFormatError as error:
        raise Refusal("not a Windows program: %s" % error)
    entry = pe.OPTIONAL_HEADER.DATA_DIRECTORY[CERTIFICATE_TABLE]
    start = entry.VirtualAddress if entry.Size else len(program)
    if entry.Size and start + entry.Size != len(program):
        raise Refusal("its certificate table is not at the end of the file")
    return (pe.OPTIONAL_HEADER.get_field_absolute_offset("CheckSum"), entry.get_file_offset(),
            start, start + entry.Size)


def imageDigest(program):
    """The Authenticode image digest of `program` (bytes): SHA-256 of the file without its
    CheckSum field, its Certificate Table entry and the table, padded with zeros to 8 bytes as a
    signature is attached."""
    checksum, entry, start, _ = certificateTable(program)
    image = program[:checksum] + program[checksum + 4:entry] + program[entry + 8:start]
    return hashlib.sha256(image + bytes(-start % 8)).digest()


def embeddedSignature(program):
    """The DER of the one signature in `program`'s (bytes) certificate table, or None where the
    table holds anything else."""
    _, _, start, end = certificateTable(program)
    if end - start < 8:
        return None
    length, revision, kind = struct.unpack_from("<IHH", program, start)
    if (revision, kind) != (WIN_CERT_REVISION_2_0, WIN_CERT_TYPE_PKCS_SIGNED_DATA) or \
            start + length + (-length % 8) != end:
        return None
    body = program[start + 8:start + length]
    try:
        # What follows the DER is padding to 8 bytes.
        element = core.load(body)
    except ValueError:
        return None
    size = len(element.dump())
    return body[:size] if not body[size:].strip(b"\0") else None
