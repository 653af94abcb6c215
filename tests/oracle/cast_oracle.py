"""Independent reference for the CAST-128 modes, the container and stored secrets.

Reads one case per line on stdin and writes one hex (or text) answer per line:
  cbc-enc|cbc-dec|cfb8-enc|cfb8-dec KEY IV DATA   (IV "-": ECB of eight 0xFF)
  container PASSWORD PLAIN                         (whole container file)
  decrypt PASSWORD CONTAINER                       (plain file, or "wrong-password")
  decrypt-file PASSWORD PATH                       (the same on a file; PATH in hex too)
  secret KEYTEXT SECRET                            (stored text, Base64)
Every field is hex, "-" standing for no bytes. Keys are 5 to 16 bytes, the
range the reference CAST accepts.
"""
import base64
import hashlib
import sys

from Cryptodome.Cipher import CAST


def unhex(field):
    return b"" if field == "-" else bytes.fromhex(field)


def ecb(key):
    return CAST.new(key, CAST.MODE_ECB)


def default_iv(key):
    return ecb(key).encrypt(b"\xff" * 8)


def cbc_tail(key, iv, data, encrypt):
    """CBC over the full blocks; a partial tail is xored with E(chain)."""
    full = len(data) - len(data) % 8
    if full:
        mode = CAST.new(key, CAST.MODE_CBC, iv=iv)
        body = mode.encrypt(data[:full]) if encrypt else mode.decrypt(data[:full])
        chain = (body if encrypt else data[:full])[-8:]
    else:
        body, chain = b"", iv
    pad = ecb(key).encrypt(chain)
    tail = bytes(a ^ b for a, b in zip(data[full:], pad))
    return body + tail


def cfb8(key, iv, data, encrypt):
    mode = CAST.new(key, CAST.MODE_CFB, iv=iv, segment_size=8)
    return mode.encrypt(data) if encrypt else mode.decrypt(data)


def container(password, plain):
    digest = hashlib.sha1(password).digest()
    key = digest[:16]
    iv = default_iv(key)
    header = cbc_tail(key, iv, digest + b"\xff" * 12, True)
    return header + cbc_tail(key, iv, plain, True)


def decrypt(password, data):
    digest = hashlib.sha1(password).digest()
    key = digest[:16]
    iv = default_iv(key)
    if len(data) < 32 or data[:32] != cbc_tail(key, iv, digest + b"\xff" * 12, True):
        return None
    return cbc_tail(key, iv, data[32:], False)


def secret(key_text, plain):
    key = hashlib.sha1(key_text).digest()[:16]
    return base64.b64encode(cfb8(key, default_iv(key), plain, True)).decode("ascii")


def answer(line):
    op, *args = line.split()
    if op in ("cbc-enc", "cbc-dec", "cfb8-enc", "cfb8-dec"):
        key, iv, data = unhex(args[0]), args[1], unhex(args[2])
        iv = default_iv(key) if iv == "-" else bytes.fromhex(iv)
        fn = cbc_tail if op.startswith("cbc") else cfb8
        out = fn(key, iv, data, op.endswith("enc"))
    elif op == "container":
        out = container(unhex(args[0]), unhex(args[1]))
    elif op in ("decrypt", "decrypt-file"):
        data = unhex(args[1])
        if op == "decrypt-file":
            with open(data, "rb") as f:
                data = f.read()
        out = decrypt(unhex(args[0]), data)
        if out is None:
            return "wrong-password"
    elif op == "secret":
        return secret(unhex(args[0]), unhex(args[1])) or "-"
    else:
        raise SystemExit("unknown case: " + op)
    return out.hex() or "-"


def main():
    for line in sys.stdin:
        if line.strip():
            sys.stdout.write(answer(line) + "\n")


if __name__ == "__main__":
    main()
