#!/usr/bin/env python3
"""make_big.py IN OUT COPIES [TDEF]: writes a copy of the Access database IN whose user table with
the fullest data page holds COPIES copies of that page, listed through a usage map of the
reference kind (pages of type 0x05), with the table definition's row count to match.
TDEF picks the table by its definition page. Prints that page and the rows the table now
holds."""
import struct
import sys

src, dst, copies = sys.argv[1], sys.argv[2], int(sys.argv[3])
only = int(sys.argv[4]) if len(sys.argv) > 4 else None
db = bytearray(open(src, "rb").read())
jet3 = db[0x14] == 0
ps = 2048 if jet3 else 4096
count_at, offsets_at = (8, 10) if jet3 else (12, 14)
tdef_rows, tdef_type, tdef_used = (12, 20, 35) if jet3 else (16, 40, 55)
pages = len(db) // ps


def page(n):
    return db[n * ps:(n + 1) * ps]


def live_rows(p):
    n = struct.unpack_from("<H", p, count_at)[0]
    offs = [struct.unpack_from("<H", p, offsets_at + 2 * i)[0] for i in range(n)]
    if any(o & 0x4000 for o in offs):
        return -1  # moved rows would be read twice
    return sum(1 for o in offs if not o & 0x8000)


best = None
for n in range(3, pages):
    p = page(n)
    if p[0] != 1 or p[4:8] == b"LVAL":
        continue
    owner = struct.unpack_from("<I", p, 4)[0]
    if owner >= pages or page(owner)[0] != 2 or page(owner)[tdef_type] != 0x4E:
        continue
    if only is not None and owner != only:
        continue
    rows = live_rows(p)
    if rows > 0 and (best is None or rows > best[2]):
        best = (n, owner, rows)
if best is None:
    sys.exit("no user table with a plain data page")
data_page, tdef, rows = best

# Other data pages of the same table would be read too: take them out of its map by
# giving the table a fresh map that lists only the copies.
first_copy = pages
per_map = (ps - 4) * 8
map_pages = (first_copy + copies + per_map - 1) // per_map
first_map = first_copy + copies
used = struct.unpack_from("<I", db, tdef * ps + tdef_used)[0]
map_page, map_row = used >> 8, used & 0xFF
mp = page(map_page)
n = struct.unpack_from("<H", mp, count_at)[0]
start = struct.unpack_from("<H", mp, offsets_at + 2 * map_row)[0] & 0x1FFF
end = ps if map_row == 0 else struct.unpack_from("<H", mp, offsets_at + 2 * map_row - 2)[0] & 0x1FFF
if 1 + 4 * map_pages > end - start:
    sys.exit("the usage map row is too short for %d map pages" % map_pages)
row = bytearray(end - start)
row[0] = 1
for i in range(map_pages):
    struct.pack_into("<I", row, 1 + 4 * i, first_map + i)
db[map_page * ps + start:map_page * ps + end] = row

copy = bytes(page(data_page))
db += copy * copies
bitmaps = bytearray(map_pages * ps)
for i in range(map_pages):
    bitmaps[i * ps:i * ps + 4] = b"\x05\x01\x00\x00"
for p in range(first_copy, first_copy + copies):
    m, bit = divmod(p, per_map)
    bitmaps[m * ps + 4 + bit // 8] |= 1 << (bit % 8)
db += bitmaps
struct.pack_into("<I", db, tdef * ps + tdef_rows, rows * copies)
open(dst, "wb").write(db)
print("tdef %d rows %d" % (tdef, rows * copies))
