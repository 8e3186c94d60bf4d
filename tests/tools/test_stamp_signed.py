"""Stamping Authenticode-signed copies: the ID ends the PKCS#7 DER, which
ends the certificate entry exactly (nothing for EnableCertPaddingCheck to
refuse); the signature and the PE checksum verify; re-stamping and stamps
of the earlier padded form are replaced (usage: test_stamp_signed.py TOOL WORK)."""
import os
import re
import shutil
import struct
import subprocess
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from tool_testing import check, failures, tool_and_work, make_pe  # noqa: E402

if not shutil.which("osslsigncode") or not shutil.which("openssl"):
    print("osslsigncode or openssl missing")
    sys.exit(77)
TOOL, WORK = tool_and_work(sys.argv)
OID = "1.3.6.1.4.1.61529.1.1"


def run(*command):
    return subprocess.run(command, capture_output=True, text=True, cwd=WORK)


def pe_checksum(data, field):
    """The PE checksum with the CheckSum field at field counted as zero."""
    words = data[:field] + b"\0" * 4 + data[field + 4:] + b"\0" * (len(data) % 2)
    total = 0
    for (word,) in struct.iter_unpack("<H", words):
        total += word
        total = (total & 0xFFFF) + (total >> 16)
    return total + len(data)


def layout(data):
    optional = struct.unpack_from("<I", data, 0x3C)[0] + 24
    offset, size = struct.unpack_from("<II", data, optional + 96 + 8 * 4)
    return optional + 64, offset, size


def examine(name, expected_id):
    """The stamped copy's certificate entry against every rule; returns its DER."""
    data = open(os.path.join(WORK, name), "rb").read()
    field, offset, size = layout(data)
    check(struct.unpack_from("<I", data, field)[0] == pe_checksum(data, field), f"{name}: the PE checksum is right")
    verify = run("osslsigncode", "verify", "-CAfile", "cert.pem", "-in", name)
    check(verify.returncode == 0 and "Signature verification: ok" in verify.stdout
          and "invalid" not in (verify.stdout + verify.stderr).lower(),
          f"{name}: osslsigncode verifies it, checksum included: {verify.stdout[-400:]}{verify.stderr[-200:]}")
    length = struct.unpack_from("<I", data, offset)[0]
    check(offset + size == len(data) and length == size and length % 8 == 0,
          f"{name}: one certificate entry of 8-byte multiple ending the file: {offset} {size} {length}")
    der = data[offset + 8:offset + length]
    with open(os.path.join(WORK, name + ".der"), "wb") as f:
        f.write(der)
    parsed = run("openssl", "asn1parse", "-inform", "DER", "-in", name + ".der")
    head = re.match(r"\s*0:d=0\s+hl=(\d+)\s+l=\s*(\d+)\s+cons: SEQUENCE", parsed.stdout)
    check(parsed.returncode == 0 and head and int(head[1]) + int(head[2]) == len(der),
          f"{name}: one PKCS#7 structure ending exactly at the entry's end: {parsed.stdout[:80]!r} {len(der)}")
    check(parsed.stdout.count(OID) == 1, f"{name}: one ID attribute: {parsed.stdout.count(OID)}")
    read = run(TOOL, "read-id", name)
    check(read.stdout.strip() == expected_id, f"{name}: read-id gives {expected_id}: {read.stdout!r} {read.stderr!r}")
    return data


run("openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", "key.pem", "-out", "cert.pem", "-days", "2",
    "-subj", "/CN=Tembra Test Publisher", "-addext", "extendedKeyUsage=codeSigning")
with open(os.path.join(WORK, "program.exe"), "wb") as f:
    f.write(make_pe(b"program" * 100))
signing = run("osslsigncode", "sign", "-certs", "cert.pem", "-key", "key.pem", "-n", "Tembra Download Manager",
              "-in", "program.exe", "-out", "signed.exe")
check(signing.returncode == 0, f"osslsigncode signs the sample: {signing.stderr}")
signed = open(os.path.join(WORK, "signed.exe"), "rb").read()

stamped = run(TOOL, "stamp", "signed.exe", "first.exe", "PARTNER", "CAMPAIGN2026")
check(stamped.returncode == 0, f"stamp: {stamped.stderr}")
first = examine("first.exe", "PARTNER_CAMPAIGN2026")
field, offset, _ = layout(signed)
size_field = 0x40 + 24 + 96 + 8 * 4 + 4
check(first[:field] + first[field + 4:size_field] + first[size_field + 4:offset]
      == signed[:field] + signed[field + 4:size_field] + signed[size_field + 4:offset],
      "every byte in front of the certificate table but the checksum and the table's size is as signed")

restamp = run(TOOL, "stamp", "first.exe", "first.exe", "OTHER", "RESTAMPED")
second = examine("first.exe", "OTHER_RESTAMPED")
check(restamp.returncode == 0 and "replacing the earlier ID" in restamp.stdout and len(second) == len(first),
      f"re-stamping in place replaces the attribute, it does not stack one: {restamp.stdout!r}")

# A stamp of the earlier form: the trailer after the DER, inside the grown entry.
old = bytearray(signed)
_, offset, size = layout(signed)
length = struct.unpack_from("<I", old, offset)[0]
old += b"\0" * 5 + b"OLDSECOND".ljust(20, b"\0") + b"OLDFIRST".ljust(11, b"\0") + b"DLID"
struct.pack_into("<I", old, offset, length + 40)
struct.pack_into("<I", old, 0x40 + 24 + 96 + 8 * 4 + 4, size + 40)
with open(os.path.join(WORK, "old.exe"), "wb") as f:
    f.write(old)
check(run(TOOL, "read-id", "old.exe").stdout.strip() == "OLDFIRST_OLDSECOND", "read-id reads an old-style stamp")
replaced = run(TOOL, "stamp", "old.exe", "from-old.exe", "NEW", "FORM")
from_old = examine("from-old.exe", "NEW_FORM")
check(replaced.returncode == 0 and b"OLDFIRST" not in from_old and len(from_old) == len(first),
      f"an old-style stamp is replaced by the new form: {replaced.stderr}")

# A second, nested signature is an unauthenticated attribute too, and a SET
# OF is encoded in sorted order: the ID attribute must still come last.
nesting = run("osslsigncode", "sign", "-certs", "cert.pem", "-key", "key.pem", "-nest", "-h", "sha1",
              "-in", "signed.exe", "-out", "nested.exe")
check(nesting.returncode == 0, f"osslsigncode nests a second signature: {nesting.stderr}")
nested = run(TOOL, "stamp", "nested.exe", "nested-stamped.exe", "NESTED", "TWO")
check(nested.returncode == 0, f"stamp of a doubly signed copy: {nested.stderr}")
examine("nested-stamped.exe", "NESTED_TWO")
both = run("osslsigncode", "verify", "-CAfile", "cert.pem", "-in", "nested-stamped.exe")
check("Number of verified signatures: 2" in both.stdout, f"both signatures still verify: {both.stdout[-200:]}")

# An unsigned copy: the trailer at the end, the checksum set too.
plain = run(TOOL, "stamp", "program.exe", "plain.exe", "PLAIN", "ONE")
data = open(os.path.join(WORK, "plain.exe"), "rb").read()
field = layout(data)[0]
check(plain.returncode == 0 and data.endswith(b"ONE".ljust(20, b"\0") + b"PLAIN".ljust(11, b"\0") + b"DLID")
      and struct.unpack_from("<I", data, field)[0] == pe_checksum(data, field),
      f"an unsigned copy ends in the trailer and carries its checksum: {plain.stderr}")
print(f"signed {len(signed)} bytes, stamped {len(first)}, nested stamped "
      f"{os.path.getsize(os.path.join(WORK, 'nested-stamped.exe'))} (from {os.path.getsize(os.path.join(WORK, 'nested.exe'))})")
print(f"{len(failures)} failed checks")
sys.exit(1 if failures else 0)
