#!/usr/bin/env python3
"""Makes the archives the extraction tests read, into the folder given: good sets of every kind
a hoster's users meet, and hostile ones. Needs 7zz (Debian's 7zip) and zip; tar with zstd for
the .tar.zst. Deterministic content, so the tests can compare bytes."""
import io, os, random, shutil, subprocess, sys, tarfile, zipfile

out = sys.argv[1]
os.makedirs(out, exist_ok=True)
os.chdir(out)
rng = random.Random(7)

def run(*cmd):
    subprocess.run(cmd, check=True, stdout=subprocess.DEVNULL)

# The content every good set holds: a text, a file of random bytes across several volumes.
os.makedirs("content/sub", exist_ok=True)
with open("content/a.txt", "w") as f:
    f.write("hello from the set\n")
with open("content/sub/b.bin", "wb") as f:
    f.write(rng.randbytes(300 * 1024))

os.chdir("content")
run("7zz", "a", "-bd", "-v100k", "-mx1", "../cut.7z", "a.txt", "sub")
run("7zz", "a", "-bd", "-v100k", "-tzip", "../cut.zip", "a.txt", "sub")
run("zip", "-q", "-r", "-s", "100k", "../spanned.zip", "a.txt", "sub")
run("7zz", "a", "-bd", "-tzip", "-mem=AES256", "-pSECRET", "../aes.zip", "a.txt", "sub")
run("7zz", "a", "-bd", "-tzip", "-mem=ZipCrypto", "-pSECRET", "../zipcrypto.zip", "a.txt", "sub")
run("7zz", "a", "-bd", "-pSECRET", "../encrypted.7z", "a.txt", "sub")
run("7zz", "a", "-bd", "-pSECRET", "-mhe=on", "../hidden.7z", "a.txt", "sub")
os.chdir("..")
for mode, name in (("w:gz", "t.tar.gz"), ("w:bz2", "t.tar.bz2"), ("w:xz", "t.tar.xz")):
    with tarfile.open(name, mode) as t:
        t.add("content/a.txt", "a.txt")
        t.add("content/sub", "sub")
if shutil.which("zstd"):
    run("tar", "--zstd", "-cf", "t.tar.zst", "-C", "content", "a.txt", "sub")

# A cut 7z whose last part stopped half way, and one whose middle part never came.
os.makedirs("short", exist_ok=True)
os.makedirs("gap", exist_ok=True)
for part in sorted(p for p in os.listdir(".") if p.startswith("cut.7z.")):
    shutil.copy(part, "short/" + part)
    shutil.copy(part, "gap/" + part)
last = sorted(p for p in os.listdir("short"))[-1]
with open("short/" + last, "r+b") as f:
    f.truncate(os.path.getsize("short/" + last) // 2)
os.remove("gap/cut.7z.002")

def tar_entry(t, name, kind=tarfile.REGTYPE, data=b"", link=""):
    info = tarfile.TarInfo(name)
    info.type = kind
    info.linkname = link
    info.size = len(data) if kind == tarfile.REGTYPE else 0
    t.addfile(info, io.BytesIO(data) if kind == tarfile.REGTYPE else None)

# Entries that try to leave the folder, or to look like something they are not.
with zipfile.ZipFile("dotdot.zip", "w") as z:
    z.writestr("../evil.txt", "out")
    z.writestr("inner/../../evil2.txt", "out")
    z.writestr("ok.txt", "fine")
with tarfile.open("absolute.tar", "w", format=tarfile.GNU_FORMAT) as t:
    tar_entry(t, "/tmp/torvaline-evil.txt", data=b"out")
    tar_entry(t, "ok.txt", data=b"fine")
with tarfile.open("links.tar", "w", format=tarfile.GNU_FORMAT) as t:
    tar_entry(t, "ok.txt", data=b"fine")
    tar_entry(t, "out", tarfile.SYMTYPE, link="..")
    tar_entry(t, "out/evil.txt", data=b"through the link")
    tar_entry(t, "passwd", tarfile.LNKTYPE, link="../../../../etc/passwd")
    tar_entry(t, "twin.txt", tarfile.LNKTYPE, link="ok.txt")
    tar_entry(t, "dev", tarfile.CHRTYPE)
    tar_entry(t, "fifo", tarfile.FIFOTYPE)
with zipfile.ZipFile("names.zip", "w") as z:
    z.writestr("photo\u202egpj.exe", "x")
    z.writestr("bell\x07.txt", "x")
    z.writestr("back\\slash.txt", "x")
    z.writestr("ok.txt", "fine")

# A bomb: megabytes of zeros in kilobytes, and a header that claims a terabyte.
with zipfile.ZipFile("bomb.zip", "w", zipfile.ZIP_DEFLATED) as z:
    z.writestr("zeros.bin", bytes(40 << 20))
buffer = io.BytesIO()
with tarfile.open(fileobj=buffer, mode="w", format=tarfile.GNU_FORMAT) as t:
    info = tarfile.TarInfo("huge.bin")
    info.size = 1 << 40
    t.addfile(info)
with open("claim.tar", "wb") as f:
    f.write(buffer.getvalue()[:10240])

# A hundred thousand entries in a hundred folders.
with zipfile.ZipFile("many.zip", "w", zipfile.ZIP_STORED) as z:
    for i in range(100000):
        z.writestr("d%02d/f%05d" % (i // 1000, i), "")
