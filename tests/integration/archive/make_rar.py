#!/usr/bin/env python3
"""Writes RAR archives with the stored method (no compression), RAR 4 and RAR 5, one file or
split in volumes, for the extraction tests: no RAR writer is packaged for Debian. Standard
library only.

    make_rar.py FOLDER    the test sets, into FOLDER (see write_sets below)

As a module: rar4(entries, ...) and rar5(entries, ...) give the volumes' bytes; an entry is
(name, data) for a file and (name, None) for a folder, names with "/" between folders.

An encrypted entry or header carries the flags and records a real encrypted archive has, with
random bytes of the right length where the cipher text would be: enough for a reader to know
what it cannot read, never anything a password opens."""
import os, random, struct, sys, zlib

# A fixed time for every entry: 2024-01-02 03:04:06.
UNIX_TIME = 1704164646
DOS_TIME = ((2024 - 1980) << 25) | (1 << 21) | (2 << 16) | (3 << 11) | (4 << 5) | (6 // 2)


def crc32(data, start=0):
    return zlib.crc32(data, start) & 0xFFFFFFFF


def _chunks(entries, volume_size, overhead, header_size):
    """Cuts the entries into volumes: a list of volumes, each a list of (index, name, piece,
    first, last) where first/last say whether the piece starts/ends its entry. overhead is what
    a volume spends on its own headers, header_size(name) what a file header costs."""
    volumes, current, used = [], [], overhead
    for index, (name, data) in enumerate(entries):
        if data is None:
            if volume_size and current and used + header_size(name) > volume_size:
                volumes.append(current)
                current, used = [], overhead
            current.append((index, name, None, True, True))
            used += header_size(name)
            continue
        offset = 0
        while True:
            room = (volume_size - used - header_size(name)) if volume_size else len(data)
            if volume_size and room <= 0 and current:
                volumes.append(current)
                current, used = [], overhead
                continue
            piece = data[offset:offset + max(room, 1)]
            current.append((index, name, piece, offset == 0, offset + len(piece) == len(data)))
            used += header_size(name) + len(piece)
            offset += len(piece)
            if offset >= len(data):
                break
            volumes.append(current)
            current, used = [], overhead
    if current or not volumes:
        volumes.append(current)
    return volumes


# RAR 4: blocks of HEAD_CRC (16 bits: the low half of the header's CRC32), HEAD_TYPE,
# HEAD_FLAGS, HEAD_SIZE and, with flag 0x8000, a 32-bit ADD_SIZE of data after the header.
R4_MARK = b"Rar!\x1a\x07\x00"
R4_MAIN, R4_FILE, R4_END = 0x73, 0x74, 0x7B
MHD_VOLUME, MHD_SOLID, MHD_NEWNUMBERING = 0x0001, 0x0008, 0x0010
MHD_PASSWORD, MHD_FIRSTVOLUME = 0x0080, 0x0100
LHD_SPLIT_BEFORE, LHD_SPLIT_AFTER, LHD_PASSWORD, LHD_SOLID = 0x01, 0x02, 0x04, 0x10
LHD_DIRECTORY, LHD_SALT, LHD_LONG_BLOCK = 0xE0, 0x400, 0x8000
EARC_NEXT_VOLUME, EARC_DATACRC, EARC_VOLNUMBER = 0x0001, 0x0002, 0x0008


def _r4_block(kind, flags, body):
    head = struct.pack("<BHH", kind, flags, 7 + len(body)) + body
    return struct.pack("<H", crc32(head) & 0xFFFF) + head


def _r4_file_header(name, piece, unpacked, crc, flags, directory):
    raw = name.encode("utf-8")
    attributes = 0o40755 if directory else 0o100644
    packed = len(piece) if piece is not None else 0
    body = struct.pack("<IIBIIBBHI", packed, unpacked, 3, crc, DOS_TIME, 29, 0x30, len(raw),
                       attributes) + raw
    if flags & LHD_SALT:
        body += random.Random(name).randbytes(8)
    return _r4_block(R4_FILE, flags | LHD_LONG_BLOCK | (LHD_DIRECTORY if directory else 0), body)


def rar4(entries, volume_size=0, new_numbering=True, encrypt_files=False,
         encrypt_headers=False, solid=False):
    """The volumes (bytes each) of a RAR 4 archive; volume_size 0 writes one file."""
    rng = random.Random(4)
    volume = volume_size > 0
    real = {i: d for i, (n, d) in enumerate(entries)}
    if encrypt_files:
        # Cipher text comes in blocks of 16 bytes: the packed size is rounded up.
        entries = [(n, d if d is None else d + bytes(-len(d) % 16)) for n, d in entries]
    overhead = len(R4_MARK) + 20 + 20
    volumes = _chunks(entries, volume_size, overhead, lambda n: 40 + len(n.encode()))
    result = []
    for number, pieces in enumerate(volumes):
        main_flags = 0
        if volume:
            main_flags |= MHD_VOLUME | (MHD_FIRSTVOLUME if number == 0 else 0)
            main_flags |= MHD_NEWNUMBERING if new_numbering else 0
        if encrypt_headers:
            main_flags |= MHD_PASSWORD
        if solid:
            main_flags |= MHD_SOLID
        out = bytearray(R4_MARK + _r4_block(R4_MAIN, main_flags, bytes(6)))
        body = bytearray()
        for index, name, piece, first, last in pieces:
            flags = 0 if first else LHD_SPLIT_BEFORE
            flags |= 0 if last else LHD_SPLIT_AFTER
            if solid and index > 0:
                # Every file after the first goes on from the one before it.
                flags |= LHD_SOLID
            if encrypt_files and piece is not None:
                flags |= LHD_PASSWORD | LHD_SALT
                piece = rng.randbytes(len(piece))
            data = real[index]
            # A piece before the last carries its own CRC; the last one the whole file's.
            crc = 0 if piece is None else crc32(data if last else piece)
            unpacked = 0 if data is None else len(data)
            body += _r4_file_header(name, piece, unpacked, crc, flags, piece is None)
            body += piece or b""
        end_flags = EARC_DATACRC | EARC_VOLNUMBER if volume else 0
        end_flags |= EARC_NEXT_VOLUME if number + 1 < len(volumes) else 0
        end_body = struct.pack("<IH", crc32(bytes(body)), number) if volume else b""
        body += _r4_block(R4_END, end_flags, end_body)
        if encrypt_headers:
            # After the main header every block is cipher text, behind an 8-byte salt.
            body = rng.randbytes(8) + rng.randbytes(len(body) + (-len(body) % 16))
        out += body
        result.append(bytes(out))
    return result


# RAR 5: blocks of a CRC32, then as variable-length integers (7 bits a byte, low first) the
# header's size, type, flags, the extra area's size and the data's size.
R5_MARK = b"Rar!\x1a\x07\x01\x00"
R5_MAIN, R5_FILE, R5_CRYPT, R5_END = 1, 2, 4, 5
HFL_EXTRA, HFL_DATA, HFL_SPLIT_BEFORE, HFL_SPLIT_AFTER = 0x01, 0x02, 0x08, 0x10


def vint(value):
    out = bytearray()
    while True:
        byte = value & 0x7F
        value >>= 7
        out.append(byte | (0x80 if value else 0))
        if not value:
            return bytes(out)


def _r5_block(kind, flags, fields, extra=b"", data_size=None):
    head = vint(kind)
    if extra:
        flags |= HFL_EXTRA
    if data_size is not None:
        flags |= HFL_DATA
    head += vint(flags)
    if extra:
        head += vint(len(extra))
    if data_size is not None:
        head += vint(data_size)
    head += fields + extra
    sized = vint(len(head)) + head
    return struct.pack("<I", crc32(sized)) + sized


def _r5_record(kind, data):
    inner = vint(kind) + data
    return vint(len(inner)) + inner


def rar5(entries, volume_size=0, encrypt_files=False, encrypt_headers=False):
    """The volumes (bytes each) of a RAR 5 archive; volume_size 0 writes one file."""
    rng = random.Random(5)
    volume = volume_size > 0
    real = {i: d for i, (n, d) in enumerate(entries)}
    if encrypt_files:
        entries = [(n, d if d is None else d + bytes(-len(d) % 16)) for n, d in entries]
    overhead = len(R5_MARK) + 16 + 16 + (64 if encrypt_headers else 0)
    volumes = _chunks(entries, volume_size, overhead, lambda n: 120 + len(n.encode()))
    result = []
    for number, pieces in enumerate(volumes):
        out = bytearray(R5_MARK)
        if encrypt_headers:
            # Encryption version 0 (AES-256), check value present, 2^15 rounds, salt, check.
            out += _r5_block(R5_CRYPT, 0, vint(0) + vint(1) + bytes([15]) + rng.randbytes(28))
        archive_flags = (0x0001 | (0x0002 if number else 0)) if volume else 0
        blocks = bytearray()
        blocks += _r5_block(R5_MAIN, 0, vint(archive_flags) + (vint(number) if number else b""))
        for index, name, piece, first, last in pieces:
            raw = name.encode("utf-8")
            data = real[index]
            directory = piece is None
            flags = 0 if first else HFL_SPLIT_BEFORE
            flags |= 0 if last else HFL_SPLIT_AFTER
            extra = b""
            if encrypt_files and not directory:
                # File encryption record: version 0 (AES-256), check value present, 2^15
                # rounds, 16 bytes of salt, 16 of IV, 12 of check value.
                extra = _r5_record(0x01, vint(0) + vint(1) + bytes([15]) + rng.randbytes(44))
                piece = rng.randbytes(len(piece))
            # Directory, Unix time and CRC32 present; the last piece has the whole file's CRC.
            file_flags = 0x0001 if directory else 0x0002 | 0x0004
            fields = vint(file_flags) + vint(0 if directory else len(data))
            fields += vint(0o40755 if directory else 0o100644)
            if not directory:
                fields += struct.pack("<II", UNIX_TIME, crc32(data if last else piece))
            fields += vint(0) + vint(1) + vint(len(raw)) + raw  # stored, version 0; Unix
            blocks += _r5_block(R5_FILE, flags, fields, extra, len(piece or b""))
            blocks += piece or b""
        blocks += _r5_block(R5_END, 0, vint(1 if number + 1 < len(volumes) else 0))
        if encrypt_headers:
            # Every block after the encryption header: a 16-byte IV, then cipher text.
            blocks = rng.randbytes(16) + rng.randbytes(len(blocks) + (-len(blocks) % 16))
        out += blocks
        result.append(bytes(out))
    return result


def write_volumes(folder, names, volumes):
    os.makedirs(folder, exist_ok=True)
    assert len(names) >= len(volumes), "%d volumes, %d names" % (len(volumes), len(names))
    for name, data in zip(names, volumes):
        with open(os.path.join(folder, name), "wb") as f:
            f.write(data)
    return names[:len(volumes)]


def write_sets(out):
    """The extraction tests' RAR sets, each in a folder of its own, and their content in
    content/: a text, a folder, a file of random bytes across the volumes."""
    rng = random.Random(11)
    text = b"hello from the RAR set\n"
    blob = rng.randbytes(300 * 1024)
    os.makedirs(os.path.join(out, "content", "sub"), exist_ok=True)
    with open(os.path.join(out, "content", "a.txt"), "wb") as f:
        f.write(text)
    with open(os.path.join(out, "content", "sub", "b.bin"), "wb") as f:
        f.write(blob)
    entries = [("a.txt", text), ("sub", None), ("sub/b.bin", blob)]

    def parts(stem, count, digits=1):
        return ["%s.part%0*d.rar" % (stem, digits, i + 1) for i in range(count)]

    def old(stem, count):
        return ["%s.rar" % stem] + ["%s.r%02d" % (stem, i) for i in range(count - 1)]

    def put(folder, names, volumes):
        write_volumes(os.path.join(out, folder), names, volumes)

    # Good sets: thirteen RAR 4 volumes named part01..part13, three named set.rar, set.r00,
    # set.r01, three RAR 5 volumes part1..part3, and one file of each.
    v4 = rar4(entries, 24 * 1024)
    put("rar4-parts", parts("r4", len(v4), 2), v4)
    v4old = rar4(entries, 120 * 1024, new_numbering=False)
    put("rar4-old", old("r4old", len(v4old)), v4old)
    v5 = rar5(entries, 120 * 1024)
    put("rar5-parts", parts("r5", len(v5)), v5)
    put("rar4-one", ["r4one.rar"], rar4(entries))
    put("rar5-one", ["r5one.rar"], rar5(entries))

    # Broken sets: the last volume cut in half, the last volume never came, a middle one
    # never came, and a volume that came twice (a second copy served for the next one).
    for label, volumes, naming in (("rar4", v4old, lambda n: old("r4old", n)),
                                   ("rar5", v5, lambda n: parts("r5", n))):
        names = naming(len(volumes))
        put(label + "-short", names, volumes[:-1] + [volumes[-1][:len(volumes[-1]) // 2]])
        put(label + "-nolast", names[:-1], volumes[:-1])
        put(label + "-gap", names[:1] + names[2:], volumes[:1] + volumes[2:])
        twice = volumes[:2] + volumes[1:]
        put(label + "-twice", naming(len(twice)), twice)

    # What libarchive cannot read: RAR 4 files with a password, RAR 4 with its headers
    # encrypted, RAR 5 files with an encryption record (one file, and two volumes), RAR 5
    # with its headers encrypted, a solid RAR 4.
    put("rar4-crypt", ["r4crypt.rar"], rar4(entries, encrypt_files=True))
    put("rar4-hidden", ["r4hidden.rar"], rar4(entries, encrypt_headers=True))
    put("rar5-crypt", ["r5crypt.rar"], rar5(entries, encrypt_files=True))
    split = rar5(entries, 200 * 1024, encrypt_files=True)
    put("rar5-crypt-parts", parts("r5crypt", len(split)), split)
    put("rar5-hidden", ["r5hidden.rar"], rar5(entries, encrypt_headers=True))
    put("rar4-solid", ["r4solid.rar"], rar4(entries, solid=True))


if __name__ == "__main__":
    write_sets(sys.argv[1])
