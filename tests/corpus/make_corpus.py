#!/usr/bin/env python3
"""Writes the damaged-image corpus into this folder: D64 images that are cut
short, link outside the disk, loop, or hold every odd value a slot may hold.
The test suite runs kestrel on each of them with every action. Images are
built here byte by byte from the fixed 1541 layout, so the corpus does not
depend on kestrel itself. Usage: python3 tests/corpus/make_corpus.py"""
import os
import random

HERE = os.path.dirname(os.path.abspath(__file__))


def sectors(track):
    return 21 if track <= 17 else 19 if track <= 24 else 18 if track <= 30 else 17


def offset(track, sector):
    return sum(sectors(t) for t in range(1, track)) * 256 + sector * 256


SIZE35 = offset(36, 0)  # 174848
SIZE40 = offset(41, 0)  # 196608


class Disk:
    def __init__(self, tracks=35, name=b"DAMAGED", disk_id=b"dm"):
        self.b = bytearray(SIZE40 if tracks == 40 else SIZE35)
        bam = offset(18, 0)
        self.b[bam:bam + 4] = bytes([18, 1, 0x41, 0])
        for t in range(1, 36):
            n = sectors(t)
            bits = (1 << n) - 1
            self.b[bam + 4 * t:bam + 4 * t + 4] = bytes([n, bits & 255, bits >> 8 & 255, bits >> 16])
        self.b[bam + 144:bam + 171] = (name.ljust(16, b"\xa0")[:16] + b"\xa0\xa0" + disk_id + b"\xa0" +
                                       b"2A" + b"\xa0" * 4)
        self.used(18, 0)
        self.used(18, 1)
        self.link(18, 1, 0, 255)
        self.next_slot = [(18, 1, 0)]

    def block(self, t, s):
        o = offset(t, s)
        return o, o + 256

    def link(self, t, s, nt, ns):
        o = offset(t, s)
        self.b[o] = nt
        self.b[o + 1] = ns

    def used(self, t, s):
        if t > 35 or s >= sectors(t):
            return
        e = offset(18, 0) + 4 * t
        mask = 1 << (s % 8)
        if self.b[e + 1 + s // 8] & mask:
            self.b[e + 1 + s // 8] &= ~mask & 255
            self.b[e] -= 1

    def put(self, t, s, at, data):
        o = offset(t, s) + at
        self.b[o:o + len(data)] = data

    def entry(self, dir_block, index, ftype, t, s, name=b"FILE", blocks=1):
        o = offset(*dir_block) + 32 * index
        self.b[o + 2:o + 32] = (bytes([ftype, t, s]) + name.ljust(16, b"\xa0")[:16] + bytes(9) +
                                bytes([blocks & 255, blocks >> 8]))

    def chain(self, blocks, payload_tail=b"", last_index=None):
        """Links the blocks in order, fills each with a recognisable pattern and
        ends the chain with next sector = last_index (default: full block)."""
        for i, (t, s) in enumerate(blocks):
            o = offset(t, s)
            self.b[o + 2:o + 256] = bytes((i + j) & 255 for j in range(254))
            if i + 1 < len(blocks):
                self.link(t, s, *blocks[i + 1])
            else:
                self.link(t, s, 0, 255 if last_index is None else last_index)
            self.used(t, s)

    def save(self, name, cut=None, extra=b""):
        data = bytes(self.b if cut is None else self.b[:cut]) + extra
        with open(os.path.join(HERE, name), "wb") as f:
            f.write(data)


def good_disk():
    """Three files on a clean disk: two blocks on track 17, one on 19, a
    ten-block chain on tracks 20-21."""
    d = Disk()
    d.entry((18, 1), 0, 0x82, 17, 0, b"TWO BLOCKS", 2)
    d.chain([(17, 0), (17, 10)], last_index=100)
    d.entry((18, 1), 1, 0x81, 19, 0, b"ONE", 1)
    d.chain([(19, 0)], last_index=20)
    d.entry((18, 1), 2, 0x82, 20, 0, b"TEN", 10)
    d.chain([(20, s) for s in range(0, 10)], last_index=200)
    return d


def main():
    rng = random.Random(1541)
    for old in os.listdir(HERE):
        if old.endswith((".d64", ".d71", ".d81")):
            os.remove(os.path.join(HERE, old))

    # Too short, cut at and inside every block the actions read first.
    Disk().save("empty.d64", cut=0)
    Disk().save("one-byte.d64", cut=1)
    good = good_disk()
    good.save("good.d64")
    good.save("cut-before-18-0.d64", cut=offset(18, 0))
    good.save("cut-inside-18-0.d64", cut=offset(18, 0) + 150)
    good.save("cut-before-18-1.d64", cut=offset(18, 1))
    good.save("cut-inside-18-1.d64", cut=offset(18, 1) + 70)
    good.save("cut-inside-file-chain.d64", cut=offset(20, 5) + 40)
    good.save("one-byte-too-long.d64", extra=b"\x01")

    # 40 tracks: a file on tracks 36-40, the directory continuing on track 40.
    d = Disk(tracks=40)
    d.entry((18, 1), 0, 0x82, 36, 0, b"HIGH TRACKS", 5)
    d.chain([(36, 0), (37, 3), (38, 16), (39, 1), (40, 16)], last_index=255)
    d.link(18, 1, 40, 0)
    d.link(40, 0, 0, 255)
    d.entry((40, 0), 0, 0x81, 40, 1, b"ON FORTY", 1)
    d.chain([(40, 1)], last_index=2)
    d.save("forty-tracks.d64")
    d.save("forty-tracks-with-errors.d64", extra=bytes(683 + 85))

    # 35 tracks with links into tracks 36-40, 0 and 41-255.
    d = good_disk()
    d.entry((18, 1), 3, 0x82, 36, 0, b"START 36", 1)
    d.entry((18, 1), 4, 0x82, 17, 1, b"TO 40", 2)
    d.chain([(17, 1)])
    d.link(17, 1, 40, 16)
    d.entry((18, 1), 5, 0x82, 0, 7, b"START 0/7", 1)
    d.entry((18, 1), 6, 0x82, 41, 0, b"START 41", 1)
    d.entry((18, 1), 7, 0x82, 255, 255, b"START 255", 1)
    d.link(18, 1, 38, 2)
    d.save("links-into-36-40.d64")
    d = good_disk()
    for i, (t, s) in enumerate([(41, 0), (99, 3), (128, 0), (255, 255)]):
        d.entry((18, 1), 3 + i, 0x82, 16, i, b"TO %d" % t, 2)
        d.chain([(16, i)])
        d.link(16, i, t, s)
    d.link(18, 1, 200, 7)
    d.save("links-above-40.d64")
    d = good_disk()
    d.link(18, 0, 0, 0)  # no directory block at all
    d.save("no-directory-block.d64")

    # Sectors at or beyond the track's count, up to 255.
    d = good_disk()
    for i, (t, s) in enumerate([(17, 21), (18, 19), (30, 18), (35, 17), (35, 255), (1, 255)]):
        d.entry((18, 1), 2 + i if i < 6 else 7, 0x82, t, s, b"SECTOR %d/%d" % (t, s), 1)
    d.link(18, 1, 35, 200)
    d.save("sectors-beyond-track.d64")
    d = good_disk()
    d.link(18, 0, 18, 25)  # 18/25 lies on track 19
    d.save("directory-sector-beyond-track.d64")

    # Loops: self-loops, two-block loops, long loops, in files and in the directory.
    d = good_disk()
    d.link(17, 10, 17, 10)
    d.link(20, 9, 20, 8)
    d.link(18, 1, 18, 1)
    d.save("self-loops.d64")
    d = good_disk()
    d.link(17, 10, 17, 0)
    d.link(18, 1, 18, 4)
    d.link(18, 4, 18, 1)
    d.entry((18, 4), 0, 0x82, 17, 0, b"IN 18/4", 2)
    d.used(18, 4)
    d.save("two-block-loops.d64")
    d = Disk()
    ring = [(t, s) for t in range(1, 36) if t != 18 for s in range(sectors(t))][:700]
    d.entry((18, 1), 0, 0x82, *ring[0], b"RING OF 700", 700)
    d.chain(ring)
    d.link(*ring[-1], *ring[0])
    dir_ring = [(18, s) for s in range(1, 19)]
    for i, (t, s) in enumerate(dir_ring):
        d.link(t, s, *dir_ring[(i + 1) % len(dir_ring)])
    d.save("long-loops.d64")
    # 18/1 links to a block whose first byte is above 40, which the listing
    # reads as 18/1 again: a loop made by the substitution itself.
    d = good_disk()
    d.link(18, 1, 19, 5)
    d.put(19, 5, 0, bytes([99, 0]))
    d.save("loop-through-18-1.d64")

    # A directory that is every block of the disk, entries in every slot.
    d = Disk()
    blocks = [(18, 1)] + [(t, s) for t in range(1, 36) for s in range(sectors(t)) if (t, s) not in ((18, 0), (18, 1))]
    for i, (t, s) in enumerate(blocks):
        o = offset(t, s)
        d.b[o:o + 256] = bytes(256)
        for slot in range(8):
            d.entry((t, s), slot, 0x80 + (slot % 5), *blocks[(i * 8 + slot) % len(blocks)], b"E%d" % (i * 8 + slot), 1)
        d.link(t, s, *(blocks[i + 1] if i + 1 < len(blocks) else (0, 255)))
        d.used(t, s)
    d.save("directory-whole-disk.d64")

    # Export of more than 150 entries: 200 one-block files.
    d = Disk()
    dir_blocks = [(18, s) for s in range(1, 19)] + [(19, s) for s in range(7)]
    files = [(t, s) for t in range(1, 18) for s in range(sectors(t))]
    for n in range(200):
        db = dir_blocks[n // 8]
        d.used(*db)
        d.entry(db, n % 8, 0x82, *files[n], b"F%03d" % n, 1)
        d.chain([files[n]], last_index=3 + n % 200)
    for i in range(24):
        d.link(*dir_blocks[i], *dir_blocks[i + 1])
    d.link(*dir_blocks[24], 0, 255)
    d.save("export-200-entries.d64")

    # Payloads above 100,000 bytes: 500 blocks of one file.
    d = Disk()
    big = [(t, s) for t in list(range(1, 18)) + list(range(19, 36)) for s in range(sectors(t))][:500]
    d.entry((18, 1), 0, 0x82, *big[0], b"BIG FILE", 500)
    d.chain(big, last_index=0)  # next sector 0: a size of -1 for the last block
    d.save("payload-over-100k.d64")

    # Every slot type byte value 0..255, 32 directory blocks, all on one file.
    d = good_disk()
    dir_blocks = [(18, 1)] + [(18, s) for s in range(2, 19)] + [(19, s) for s in range(1, 15)]
    for n in range(256):
        db = dir_blocks[n // 8]
        d.entry(db, n % 8, n, 17, 0, b"TYPE %02X\x22Q" % n, n)
    for i in range(len(dir_blocks) - 1):
        d.link(*dir_blocks[i], *dir_blocks[i + 1])
    d.link(*dir_blocks[-1], 0, 255)
    d.save("every-type-byte.d64")

    # A full map (no free block) and a map of garbage.
    d = good_disk()
    bam = offset(18, 0)
    for t in range(1, 36):
        d.b[bam + 4 * t:bam + 4 * t + 4] = bytes(4)
    d.save("map-full.d64")
    d = good_disk()
    d.b[bam + 4:bam + 144] = bytes(rng.randrange(256) for _ in range(140))
    d.b[bam + 2] = 0xFF
    d.save("map-garbage.d64")
    d = good_disk()
    d.b[bam + 4:bam + 144] = b"\xff" * 140  # free beyond every track's last sector
    d.save("map-all-ones.d64")

    # Names full of control codes, quotes and shifted spaces.
    d = good_disk()
    d.put(18, 0, 144, bytes([0x1b, 0x5b, 0x32, 0x4a, 0x22, 0x07, 0x0d, 0x00, 0xa0, 0xff, 0x9b, 0x1b, 0x5d, 0x30, 0x3b, 0x07]))
    d.put(18, 1, 5, bytes([0x22, 0xa0, 0x22, 0x1b, 0x63, 0x00, 0x0a, 0x0d, 0x7f, 0x80, 0x9f, 0xe0, 0xff, 0xa0, 0xa0, 0x22]))
    d.save("names-with-control-codes.d64")

    # Random bytes: cut short just past track 18's first blocks, and a whole
    # disk whose 18/0 links to 18/1 so that the walk gets going.
    d = Disk()
    d.b[:] = bytes(rng.randrange(256) for _ in range(len(d.b)))
    d.save("random-cut.d64", cut=100000)
    d.link(18, 0, 18, 1)
    d.save("random-linked.d64")
    family_disks(rng)
    hostile_d81s()


def family_disks(rng):
    """A D71 and a D81 of two files each, made by Debian's cc1541, damaged:
    cut short, a map block of garbage, a 1581 partition over track 40 or over
    a file, a directory that loops or leaves its track."""
    import subprocess
    import tempfile
    d71_map2, d81 = SIZE35 + offset(18, 0), 39 * 40 * 256  # 53/0; 40/0, then 40/1, 40/2, 40/3
    with tempfile.TemporaryDirectory() as tmp:
        for ext in ("d71", "d81"):
            open(os.path.join(tmp, "f"), "wb").write(bytes(range(256)) * 12)
            subprocess.run(["cc1541", "-q", "-n", "family", "-i", "fm", "-f", "one", "-w", os.path.join(tmp, "f"),
                            "-f", "two", "-w", os.path.join(tmp, "f"), os.path.join(tmp, "g." + ext)],
                           check=True, stdout=subprocess.DEVNULL)
            good = open(os.path.join(tmp, "g." + ext), "rb").read()
            garbage = [d71_map2] if ext == "d71" else [d81 + 256, d81 + 512]
            directory = offset(18, 1) if ext == "d71" else d81 + 768
            damage = [("cut-in-half", len(good) // 2 + 1000, []), ("cut-one-block-short", len(good) - 256, [])]
            damage += [("map-%d-garbage" % (at // 256 - d81 // 256) if ext == "d81" else "map-53-0-garbage", None,
                        [(at, bytes(rng.randrange(256) for _ in range(256)))]) for at in garbage]
            damage += [("directory-loops", None, [(directory, bytes([18, 1] if ext == "d71" else [40, 3]))]),
                       ("directory-leaves-its-track", None, [(directory, bytes([36 if ext == "d71" else 39, 0]))])]
            if ext == "d71":  # the first file's first block links on into track 53, which the 1571 keeps used
                damage += [("file-into-track-53", None, [(offset(1, 0), bytes([53, 5]))])]
            if ext == "d81":  # a CBM entry in the third slot, over tracks 39-41 and over track 1 (both files)
                cbm = lambda t, n: bytes([0x85, t, 0]) + b"PART".ljust(16, b"\xa0") + bytes(9) + bytes([n, 0])
                damage += [("partition-over-track-40", None, [(directory + 66, cbm(39, 120))]),
                           ("partition-over-a-file", None, [(directory + 66, cbm(1, 40))])]
            for name, cut, patches in damage:
                image = bytearray(good)
                for at, data in patches:
                    image[at:at + len(data)] = data
                open(os.path.join(HERE, "%s-%s.%s" % (ext, name, ext)), "wb").write(image[:cut])


def d81_offset(t, s):
    return ((t - 1) * 40 + s) * 256


def d81_format(b, system, first, last, name, dir_blocks=1):
    """A 1581 header, map and directory of `dir_blocks` linked blocks on track
    `system`, as its format writes them inside tracks first-last (every other
    track used, the directory's blocks used too)."""
    h = d81_offset(system, 0)
    b[h:h + 0x1D] = (bytes([system, 3, 0x44, 0]) + name.ljust(16, b"\xa0") + b"\xa0\xa0AB\xa03D\xa0\xa0")
    for side in range(2):
        m = h + 256 * (1 + side)
        b[m:m + 16] = bytes([0, 0xFF] if side else [system, 2]) + b"\x44\xbbAB\xc0" + bytes(9)
        for i in range(40):
            t = 40 * side + i + 1
            used = 3 + dir_blocks if t == system else 0 if first <= t <= last else 40
            bits = ((1 << 40) - 1) & ~((1 << used) - 1)
            b[m + 16 + 6 * i:m + 22 + 6 * i] = bytes([40 - used]) + bits.to_bytes(5, "little")
    for i in range(dir_blocks):
        o = d81_offset(system, 3 + i)
        b[o:o + 2] = bytes([system, 4 + i] if i + 1 < dir_blocks else [0, 255])


def d81_entry(b, system, n, ftype, t, s, name, blocks):
    o = d81_offset(system, 3 + n // 8) + 32 * (n % 8)
    b[o + 2:o + 32] = (bytes([ftype, t, s]) + name.ljust(16, b"\xa0")[:16] + bytes(9) +
                       bytes([blocks & 255, blocks >> 8]))


def hostile_d81s():
    """D81s made to cost: partitions that list each other's sub-partitions
    (each of tracks k-39 lists every deeper one, k+1-39 to 37-39: checked from
    every parent that is 2^36 checks), and a directory over the whole disk
    whose 25,576 entries all name the last 400 blocks of its chain (each copy
    of every entry held at once would be 2.6 GB)."""
    b = bytearray(819200)
    d81_format(b, 40, 1, 80, b"BRANCHING")
    d81_entry(b, 40, 0, 0x85, 1, 0, b"P1", 39 * 40)
    for k in range(1, 38):
        d81_format(b, k, k, 39, b"P%d" % k, dir_blocks=5)
        for j in range(k + 1, 38):
            d81_entry(b, k, j - k - 1, 0x85, j, 0, b"P%d" % j, (40 - j) * 40)
    open(os.path.join(HERE, "d81-partitions-branching.d81"), "wb").write(b)

    b = bytearray(819200)
    d81_format(b, 40, 1, 80, b"WHOLE DISK")
    chain = [(40, s) for s in range(3, 40)] + [(t, s) for t in range(1, 81) if t != 40 for s in range(40)]
    shared = chain[-400]
    for i, (t, s) in enumerate(chain):
        o = d81_offset(t, s)
        b[o:o + 2] = bytes(chain[i + 1] if i + 1 < len(chain) else (0, 255))
        for slot in range(8):
            name = (b"E%d" % (8 * i + slot)).ljust(16, b"\xa0")
            at = o + 32 * slot
            b[at + 2:at + 32] = bytes([0x82, *shared]) + name + bytes(9) + bytes([400 & 255, 400 >> 8])
    for m in (d81_offset(40, 1), d81_offset(40, 2)):
        for i in range(40):
            b[m + 16 + 6 * i:m + 22 + 6 * i] = bytes(6)
    open(os.path.join(HERE, "d81-directory-whole-disk.d81"), "wb").write(b)


if __name__ == "__main__":
    main()
