"""Rebuilds the hostile archives of this folder (committed; run by hand).

Each holds one entry whose name would leave the extraction folder, next to
a harmless one, so that a reader that extracts entry by entry would have
written something before meeting the bad name.
"""
import os
import zipfile

HERE = os.path.dirname(os.path.abspath(__file__))
CASES = {
    "dotdot.zip": "../evil.txt",
    "dotdot-nested.zip": "docs/../../evil.txt",
    "dotdot-backslash.zip": "docs\\..\\..\\evil.txt",
    "absolute.zip": "/tmp/corvane-evil.txt",
    "absolute-backslash.zip": "\\tmp\\corvane-evil.txt",
    "drive.zip": "C:/evil.txt",
}

for file_name, bad in CASES.items():
    with zipfile.ZipFile(os.path.join(HERE, file_name), "w") as z:
        z.writestr(zipfile.ZipInfo("good.txt", (2024, 3, 15, 14, 30, 0)), b"harmless")
        z.writestr(zipfile.ZipInfo(bad, (2024, 3, 15, 14, 30, 0)), b"escaped")

with open(os.path.join(HERE, "not-a-zip.zip"), "wb") as f:
    f.write(b"this is plain text, not an archive\n")
with zipfile.ZipFile(os.path.join(HERE, "truncated-source.zip"), "w") as z:
    z.writestr(zipfile.ZipInfo("a.txt", (2024, 3, 15, 14, 30, 0)), b"a" * 200)
with open(os.path.join(HERE, "truncated-source.zip"), "rb") as f:
    whole = f.read()
os.remove(os.path.join(HERE, "truncated-source.zip"))
with open(os.path.join(HERE, "truncated.zip"), "wb") as f:
    f.write(whole[: len(whole) - 30])
