#!/usr/bin/env python3
"""Makes the split sets the emulator serves for the archive demo and the end-to-end test, into
the folder given: a 7z set cut in volumes (demo-photos.7z.001, ...), a ZIP set cut in volumes
and encrypted with AES (demo-docs.zip.001, ...; password as the second argument, "demo-secret"
by default), and demo.sfv with the CRC32 of every part. Needs 7zz (Debian's 7zip). The content
is deterministic, and kept beside the sets in content/ for a caller to compare."""
import os, random, subprocess, sys, zlib

out = os.path.abspath(sys.argv[1])
password = sys.argv[2] if len(sys.argv) > 2 else "demo-secret"
scale = int(sys.argv[3]) if len(sys.argv) > 3 else 1  # more megabytes a file
rng = random.Random(29)
content = os.path.join(os.path.dirname(out), os.path.basename(out) + "-content")
for sub in ("photos/2026", "docs"):
    os.makedirs(os.path.join(content, sub), exist_ok=True)
os.makedirs(out, exist_ok=True)

with open(os.path.join(content, "photos/2026/beach.raw"), "wb") as f:
    f.write(rng.randbytes(scale * 1536 * 1024))
with open(os.path.join(content, "photos/readme.txt"), "w") as f:
    f.write("Holiday pictures, unpacked by Torvaline.\n")
with open(os.path.join(content, "docs/report.txt"), "w") as f:
    for i in range(scale * 20000):
        f.write("line %d of the report: %08x\n" % (i, rng.getrandbits(32)))
with open(os.path.join(content, "docs/figures.bin"), "wb") as f:
    f.write(rng.randbytes(scale * 700 * 1024))

def run(*cmd, cwd):
    subprocess.run(cmd, check=True, stdout=subprocess.DEVNULL, cwd=cwd)

volume = "-v%dk" % (scale * 600)
run("7zz", "a", "-bd", volume, "-mx1", os.path.join(out, "demo-photos.7z"), ".",
    cwd=os.path.join(content, "photos"))
run("7zz", "a", "-bd", volume, "-tzip", "-mem=AES256", "-p" + password,
    os.path.join(out, "demo-docs.zip"), ".", cwd=os.path.join(content, "docs"))

with open(os.path.join(out, "demo.sfv"), "w") as sfv:
    sfv.write("; made by the archive demo\n")
    for name in sorted(os.listdir(out)):
        if name.endswith(".sfv"):
            continue
        with open(os.path.join(out, name), "rb") as f:
            sfv.write("%s %08x\n" % (name, zlib.crc32(f.read()) & 0xFFFFFFFF))
