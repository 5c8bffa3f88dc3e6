"""The public half of the private key that a PKCS#11 URI (RFC 7512) names on a token, read through
the token's PKCS#11 module, with which tools/sign-release checks that the key is its certificate's
before it signs anything. A program of its own, so that a token that never answers is given up
on at a time limit.

Usage: pkcs11_key.py MODULE URI   (the PIN on standard input, its first line)
Prints the key's RSA modulus and public exponent in hex; otherwise one line on standard error that
says why not, and exits 1. The PIN is tried once: tokens lock after a few wrong ones.
"""

import sys
import urllib.parse

import PyKCS11

# What of a token a URI may name, by the URI's name and by PyKCS11's.
TOKEN = {"token": "label", "manufacturer": "manufacturerID", "model": "model",
         "serial": "serialNumber"}
# What of the key it may name.
KEY = {"object": PyKCS11.CKA_LABEL, "id": PyKCS11.CKA_ID}


def attributesOf(uri):
    """The attributes of the PKCS#11 URI `uri` by name, percent-decoded to bytes. Refuses another
    URI, a query (a PIN there would be on a command line), and an attribute that names anything
    but a token and one private key of it."""
    scheme, _, path = uri.partition(":")
    if scheme != "pkcs11":
        sys.exit("the key %s is no PKCS#11 URI (pkcs11:...)" % uri)
    if "?" in path:
        sys.exit("the key's URI has a query (%s): give the PIN in --pin-file and the module in "
                 "--pkcs11-module, never in the URI" % path.partition("?")[2].split("=")[0])
    attributes = {}
    for part in filter(None, path.split(";")):
        name, equals, value = part.partition("=")
        if not equals or name in attributes:
            sys.exit("the key's URI is malformed at '%s'" % part)
        attributes[name] = urllib.parse.unquote_to_bytes(value)
    unknown = sorted(set(attributes) - set(TOKEN) - set(KEY) - {"type"})
    if unknown:
        sys.exit("the key's URI names %s, which sign-release does not read: name the key by %s" % (
            ", ".join(unknown), ", ".join(list(TOKEN) + list(KEY))))
    if attributes.get("type", b"private") != b"private":
        sys.exit("the key's URI names a %s object, not a private key" % attributes["type"].decode())
    return attributes


def only(found, what, how):
    """The one item of `found`; refuses none, and more than one."""
    if not found:
        sys.exit("no %s matches the key's URI" % what)
    if len(found) > 1:
        sys.exit("%d %ss match the key's URI: name one by %s" % (len(found), what, how))
    return found[0]


def publicHalf(module, uri, pin):
    """The RSA modulus and public exponent, as bytes, of the private key that `uri` names on a
    token of the PKCS#11 `module`, logged in with `pin` once."""
    attributes = attributesOf(uri)
    library = PyKCS11.PyKCS11Lib()
    try:
        library.load(module)
    except PyKCS11.PyKCS11Error:
        sys.exit("%s is no PKCS#11 module: it does not load, or has no C_GetFunctionList" % module)
    tokens = []
    for slot in library.getSlotList(tokenPresent=True):
        info = library.getTokenInfo(slot)
        if info.flags & PyKCS11.CKF_TOKEN_INITIALIZED and all(
                getattr(info, field).rstrip(" ").encode() == attributes[name]
                for name, field in TOKEN.items() if name in attributes):
            tokens.append(slot)
    session = library.openSession(only(tokens, "token", "token= or serial="))
    try:
        session.login(pin)
    except PyKCS11.PyKCS11Error as error:
        if error.value == PyKCS11.CKR_PIN_INCORRECT:
            sys.exit("wrong PIN for the token: tried once and not again, as tokens lock after a "
                     "few wrong PINs")
        sys.exit("the token refused the PIN: %s" % PyKCS11.CKR.get(error.value, error.value))
    key = only(session.findObjects([(PyKCS11.CKA_CLASS, PyKCS11.CKO_PRIVATE_KEY)] + [
        (KEY[name], attributes[name] if name == "id" else attributes[name].decode())
        for name in KEY if name in attributes]), "private key", "object= or id=")
    if session.getAttributeValue(key, [PyKCS11.CKA_KEY_TYPE])[0] != PyKCS11.CKK_RSA:
        sys.exit("the key on the token is no RSA key")
    return [bytes(value) for value in session.getAttributeValue(
        key, [PyKCS11.CKA_MODULUS, PyKCS11.CKA_PUBLIC_EXPONENT])]


if __name__ == "__main__":
    if len(sys.argv) != 3:
        sys.exit(__doc__)
    pin = sys.stdin.buffer.readline().rstrip(b"\r\n").decode()
    try:
        print(" ".join(value.hex() for value in publicHalf(sys.argv[1], sys.argv[2], pin)))
    except PyKCS11.PyKCS11Error as error:
        sys.exit("the token failed: %s" % error)
