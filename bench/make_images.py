#!/usr/bin/env python3
"""Builds the benchmark's D64 images byte by byte.

  make_images.py full OUT.d64         a full disk: 144 directory entries,
                                      all 664 data blocks used, no block free
  make_images.py blank OUT.d64        a freshly formatted disk: no file,
                                      664 blocks free
  make_images.py batch DIR COUNT      COUNT different 35-track images
                                      (DIR/img0000.d64 ...), each with a
                                      handful of files and its own name
  make_images.py fulls DIR COUNT      COUNT different full disks
                                      (DIR/full0000.d64 ...), each like `full`
                                      with its own name and contents

Data bytes come from a fixed-seed generator, so every run builds the same
images and instruction counts stay comparable between runs.
"""
import random
import sys

BLOCK = 256
TRACKS = 35
DIR_TRACK = 18
IMAGE_SIZE = 174848


def sectors_per_track(track):
    if track <= 17:
        return 21
    if track <= 24:
        return 19
    if track <= 30:
        return 18
    return 17


def offset(track, sector):
    return (sum(sectors_per_track(t) for t in range(1, track)) + sector) * BLOCK


def petscii_name(text):
    raw = text.upper().encode("ascii")[:16]
    return raw + b"\xa0" * (16 - len(raw))


def data_blocks():
    """Every block outside track 18, in track order."""
    for track in range(1, TRACKS + 1):
        if track == DIR_TRACK:
            continue
        for sector in range(sectors_per_track(track)):
            yield track, sector


def build(disk_name, disk_id, file_blocks, rng, fill_directory=True):
    """An image holding one file per entry of file_blocks (its block count).

    Files take data blocks in order; the directory takes 18/1 onwards. Every
    block a file or the directory uses is marked used in the map.
    """
    image = bytearray(IMAGE_SIZE)
    used = set()
    free_blocks = data_blocks()
    entries = []
    for index, count in enumerate(file_blocks):
        chain = [next(free_blocks) for _ in range(count)]
        for position, (track, sector) in enumerate(chain):
            at = offset(track, sector)
            image[at:at + BLOCK] = rng.randbytes(BLOCK)
            if position + 1 < len(chain):
                image[at], image[at + 1] = chain[position + 1]
            else:
                image[at] = 0
                image[at + 1] = rng.randrange(2, 256)  # index of the last used byte
            if position == 0:  # a plausible start address
                image[at + 2], image[at + 3] = 0x01, 0x08
            used.add((track, sector))
        entries.append((f"FILE {index:03d} {disk_name[:6]}", chain[0], count))

    # Directory: 8 slots to a block from 18/1 on.
    dir_blocks = max(1, (len(entries) + 7) // 8)
    dir_sectors = list(range(1, 1 + dir_blocks))
    for position, sector in enumerate(dir_sectors):
        at = offset(DIR_TRACK, sector)
        if position + 1 < len(dir_sectors):
            image[at], image[at + 1] = DIR_TRACK, dir_sectors[position + 1]
        else:
            image[at], image[at + 1] = 0, 0xFF
        used.add((DIR_TRACK, sector))
        for slot in range(8):
            number = position * 8 + slot
            if number >= len(entries):
                break
            name, (track, sector0), count = entries[number]
            s = at + slot * 32
            image[s + 2] = 0x82  # closed PRG
            image[s + 3], image[s + 4] = track, sector0
            image[s + 5:s + 21] = petscii_name(name)
            image[s + 30], image[s + 31] = count & 0xFF, count >> 8
    used.add((DIR_TRACK, 0))
    if fill_directory:  # a full disk leaves no block of track 18 free either
        for sector in range(sectors_per_track(DIR_TRACK)):
            used.add((DIR_TRACK, sector))

    # Availability map at 18/0.
    bam = offset(DIR_TRACK, 0)
    image[bam:bam + 4] = bytes([DIR_TRACK, 1, 0x41, 0])
    for track in range(1, TRACKS + 1):
        bits = 0
        free = 0
        for sector in range(sectors_per_track(track)):
            if (track, sector) not in used:
                bits |= 1 << sector
                free += 1
        e = bam + 4 * track
        image[e:e + 4] = bytes([free, bits & 0xFF, (bits >> 8) & 0xFF, bits >> 16])
    image[bam + 0x90:bam + 0xA0] = petscii_name(disk_name)
    image[bam + 0xA0:bam + 0xA2] = b"\xa0\xa0"
    image[bam + 0xA2:bam + 0xA7] = disk_id.encode("ascii") + b"\xa02A"
    image[bam + 0xA7:bam + 0xAB] = b"\xa0" * 4
    return image


# 664 data blocks over 144 files: 88 of five blocks, 56 of four.
FULL_SIZES = [5] * 88 + [4] * 56
assert sum(FULL_SIZES) == 664 and len(FULL_SIZES) == 144


def full_disk(path):
    image = build("FULL DISK", "FD", FULL_SIZES, random.Random(1541))
    with open(path, "wb") as out:
        out.write(image)


def full_disks(folder, count):
    for index in range(count):
        image = build(f"FULL {index:04d}", f"{index % 100:02d}", FULL_SIZES, random.Random(index))
        with open(f"{folder}/full{index:04d}.d64", "wb") as out:
            out.write(image)


def blank_disk(path):
    image = build("BLANK DISK", "BD", [], random.Random(0), fill_directory=False)
    with open(path, "wb") as out:
        out.write(image)


def batch(folder, count):
    rng = random.Random(64)
    for index in range(count):
        files = [rng.randrange(1, 12) for _ in range(rng.randrange(4, 24))]
        image = build(f"BATCH {index:04d}", f"{index % 100:02d}", files, rng, fill_directory=False)
        with open(f"{folder}/img{index:04d}.d64", "wb") as out:
            out.write(image)


if __name__ == "__main__":
    if len(sys.argv) == 3 and sys.argv[1] == "full":
        full_disk(sys.argv[2])
    elif len(sys.argv) == 3 and sys.argv[1] == "blank":
        blank_disk(sys.argv[2])
    elif len(sys.argv) == 4 and sys.argv[1] == "batch":
        batch(sys.argv[2], int(sys.argv[3]))
    elif len(sys.argv) == 4 and sys.argv[1] == "fulls":
        full_disks(sys.argv[2], int(sys.argv[3]))
    else:
        sys.exit(__doc__)
