#!/usr/bin/env python3
# The Linux program's fast path on real volumes, over random layouts.
#
#   volume_fuzzer.py PROGRAM SECONDS [SEED]
#
# Mounts a fresh loop volume of each file system the kernel here mounts (a tmpfs for tmpfs), tries
# the fixed layouts of ext4 (FIXED) and, for its share of SECONDS, draws layouts: a file whose old
# end lies anywhere, with data, holes and reserved but unwritten ranges below it and space
# reserved beyond it, a volume whose free space may be cut into small pieces, and a request that
# is small or near the edge of the room of the user who runs the program (root, or nobody without
# the reserve). After each run:
# - "Fail" leaves the length, the bytes, the blocks and the free space as they were, but for what
#   the manual page says: btrfs may keep the one block that holds an old end inside a block (it
#   writes it when the file grows), and the space reserved beyond the end is given back.
# - "Ok" keeps every old byte, gives every new byte a block that reads as zeros, and leaves the
#   holes below the old end and the space reserved beyond the new end alone.
# - What must be granted and what refused is decided in one place, must_grant() and
#   must_refuse(): a request up to the caller's room less 1 MiB is granted, one beyond it refused.
# Prints the layouts tried per file system and in all ("layouts tried: N"), and stops at the first
# counterexample with its layout ("COUNTEREXAMPLE", exit status 1). Needs root and loop devices:
# without them it prints "skipped: <why>" and exits 0. Mounts, loop devices and images are removed
# on every way out.
import ctypes, fcntl, hashlib, os, random, shutil, signal, struct, subprocess, sys, tempfile, time
from collections import namedtuple
from dataclasses import dataclass

MiB = 1 << 20
VOLUME = 400 * MiB
PAGE = os.sysconf("SC_PAGE_SIZE")
KEEP_SIZE, PUNCH_HOLE = 1, 2
FS_IOC_FIEMAP, FIEMAP_FLAG_SYNC, FIEMAP_EXTENT_LAST = 0xC020660B, 1, 1
OK, FAIL = b"File Preallocation...Ok\r\n", b"File Preallocation...Fail\r\n"
END = 1 << 63  # beyond any file

# name, and how to make the volume (None: a tmpfs)
KINDS = [
    ("ext4", "mkfs.ext4 -q -F -b 4096"),
    ("ext4-1k", "mkfs.ext4 -q -F -b 1024"),
    ("ext4-bigalloc", "mkfs.ext4 -q -F -b 4096 -O bigalloc -C 65536"),
    ("xfs", "mkfs.xfs -q -f"),
    ("btrfs", "mkfs.btrfs -q -f"),
    ("tmpfs", None),
    ("ext2", "mkfs.ext2 -q -F"),
]

libc = ctypes.CDLL(None, use_errno=True)
libc.fallocate.argtypes = [ctypes.c_int, ctypes.c_int, ctypes.c_int64, ctypes.c_int64]
Snapshot = namedtuple("Snapshot", "size blocks free data extents btrfs_data")


class Skip(Exception): pass


class Counterexample(Exception): pass


def fallocate(fd, mode, offset, length):
    if libc.fallocate(fd, mode, offset, length) != 0:
        raise OSError(ctypes.get_errno(), os.strerror(ctypes.get_errno()))


# Freed space is counted once the file system has committed; btrfs and xfs free in the
# background, so wait until two readings agree.
def settle(where, last=None):
    while True:
        fd = os.open(where, os.O_RDONLY)
        libc.syncfs(fd)
        os.close(fd)
        now = os.statvfs(where)
        if now == last:
            return now
        last = now
        time.sleep(0.02)


# The file's allocated ranges in bytes, in order and merged, or None where the system cannot list
# them. The system lists them in order, at most `count` a call.
def extents(path, count=256):
    merged, start, last = [], 0, False
    with open(path, "rb") as f:
        while not last:
            buffer = bytearray(struct.pack("=QQIIII", start, (1 << 64) - 1 - start,
                                           FIEMAP_FLAG_SYNC, 0, count, 0) + bytes(56 * count))
            try:
                fcntl.ioctl(f.fileno(), FS_IOC_FIEMAP, buffer, True)
            except OSError:
                return None
            mapped = struct.unpack_from("=I", buffer, 20)[0]
            for i in range(mapped):
                begin, _, length, _, _, flags = struct.unpack_from("=QQQQQI", buffer, 32 + 56 * i)
                if merged and begin <= merged[-1][1]:
                    merged[-1][1] = max(merged[-1][1], begin + length)
                else:
                    merged.append([begin, begin + length])
                start, last = begin + length, last or bool(flags & FIEMAP_EXTENT_LAST)
            last = last or mapped < count
    return merged


def clip(ranges, begin, end):
    return [[max(a, begin), min(b, end)] for a, b in ranges if min(b, end) > max(a, begin)]


def pages_of(offset, length):  # the pages a range touches
    return set(range(offset // PAGE, -(-(offset + length) // PAGE)))


@dataclass
class Layout:
    kind: str
    block: int  # the volume's block size
    end: int  # the old end
    pieces: list  # ("data" | "reserve" | "punch", offset, length) below the old end, in order
    beyond: list  # (offset, length) reserved beyond the old end
    fragments: tuple  # (piece size, count) of the free space cut into pieces, or ()
    user: str  # "root" or "nobody"
    plan: str = ""  # how the requests are drawn: at random, or one of the fixed layouts' plans
    request: int = 0  # the new size
    floor: int = 0  # the free space anyone may take when the request was drawn
    room: int = 0  # the free space the caller may take then
    given_back: bool = False  # a refusal cut what lay reserved beyond the end
    slack: int = 0  # beyond the room, what the program may try all the same

    # On tmpfs, the pages the file holds: page-sized blocks, exactly as written or reserved.
    def pages(self):
        held = set()
        for what, offset, length in self.pieces:
            if what == "punch":
                held -= set(range(-(-offset // PAGE), (offset + length) // PAGE))
            else:
                held |= pages_of(offset, length)
        for offset, length in [] if self.given_back else self.beyond:
            held |= pages_of(offset, length)
        return held


def draw_spot(rng, limit, block):
    spot = rng.randrange(limit + 1)
    return spot - spot % block if rng.random() < 0.5 else spot


def draw_layout(rng, kind, block):
    can_reserve = kind != "ext2"
    end = rng.choice([0, draw_spot(rng, 64 * 1024, block), draw_spot(rng, 16 * MiB, block)])
    pieces, beyond, fragments = [], [], ()
    for _ in range(rng.randrange(8) if end else 0):
        offset = draw_spot(rng, end - 1, block)
        length = min(end - offset, rng.choice([1, block, draw_spot(rng, 4 * MiB, block) or 1]))
        pieces.append((rng.choice(["data", "reserve", "punch"] if can_reserve else ["data"]),
                       offset, length))
    for _ in range(rng.choice([0, 0, 1, 2]) if can_reserve else 0):
        beyond.append((end + draw_spot(rng, 8 * MiB, block), draw_spot(rng, 16 * MiB, block) or block))
    if rng.random() < 0.4 and can_reserve and kind != "tmpfs":
        # Often single blocks across the whole volume: the most the file's extent tree can need.
        size = rng.choice([block, block, 2 * block, 16 * block, 64 * 1024, MiB])
        most = 1 << (14 if kind == "btrfs" else 18)
        fragments = (size, rng.choice([most, int(2 ** rng.uniform(4, most.bit_length() - 1))]))
    return Layout(kind, block, end, pieces, beyond, fragments, rng.choice(["root", "nobody"]))


# Layouts that every run tries first, where a room check too lax or too strict shows at once.
# ext4 with 1 KiB blocks needs the most beside the bytes: a reservation of a few hundred MiB that
# runs out part way keeps the blocks of its extent tree. So a user asking just past the users'
# room must be refused before anything is reserved, and so must requests near the edge of free
# space that lies in single blocks. With 4 KiB blocks, root asking a little into the reserve for
# root must be granted.
FIXED = {
    "ext4-1k": [("nobody", (), "past the users' room"), ("root", (1024, 1 << 18), "down from the edge")],
    "ext4": [("root", (), "into the reserve")],
}


def fixed_layouts(kind, block):
    return [Layout(kind, block, 10000, [("data", 0, 10000)], [], fragments, user, plan)
            for user, fragments, plan in FIXED.get(kind, [])]


def make(layout, where, rng):
    path = os.path.join(where, "target")
    fd = os.open(path, os.O_CREAT | os.O_TRUNC | os.O_WRONLY, 0o644)
    try:  # an open file would keep the volume from being unmounted
        os.ftruncate(fd, layout.end)
        for what, offset, length in layout.pieces:
            if what == "data":
                os.pwrite(fd, rng.randbytes(length), offset)
            else:
                fallocate(fd, KEEP_SIZE | (PUNCH_HOLE if what == "punch" else 0), offset, length)
        for offset, length in layout.beyond:
            fallocate(fd, KEEP_SIZE, offset, length)
        os.fsync(fd)
    finally:
        os.close(fd)
    if layout.user == "nobody":
        os.chown(path, 65534, 65534)
    if layout.fragments:
        # Separate pieces, every other one freed again: the free space comes in pieces too. The
        # pieces take at most 97% of the room, so that freeing them has room for their records.
        size, count = layout.fragments
        volume = os.statvfs(where)
        count = min(count, volume.f_bavail * volume.f_frsize * 97 // 100 // (2 * size))
        fd = os.open(os.path.join(where, "filler"), os.O_CREAT | os.O_WRONLY, 0o600)
        try:
            if layout.kind == "btrfs":  # it frees a reserved extent only whole: one per piece
                for i in range(2 * count):
                    fallocate(fd, 0, i * size, size)
            else:
                fallocate(fd, 0, 0, 2 * count * size)
            for i in range(0, 2 * count, 2):
                fallocate(fd, PUNCH_HOLE | KEEP_SIZE, i * size, size)
        except OSError:  # pieces smaller than an ext4 cluster free nothing and cost tree blocks
            pass
        finally:
            os.close(fd)
    return path


def snapshot(path, where, kind, end):
    volume = settle(where)
    with open(path, "rb") as f:
        data = hashlib.sha256(f.read(end)).digest()
    btrfs_data = 0
    if kind == "btrfs":  # the data it holds, apart from its own records
        out = subprocess.run(["btrfs", "filesystem", "df", "-b", where], capture_output=True,
                             text=True).stdout
        btrfs_data = int(next((l for l in out.splitlines() if l.startswith("Data")), "=0").rsplit("=", 1)[1])
    info = os.stat(path)
    return Snapshot(info.st_size, info.st_blocks * 512, volume.f_bfree * volume.f_frsize, data,
                    extents(path), btrfs_data)


def cluster(layout):  # the unit in which the volume allocates, its records included
    return 64 * 1024 if layout.kind == "ext4-bigalloc" else layout.block


# The room the caller may take: f_bavail, or for root, whom ext4 lets use its reserve for root,
# f_bfree less what ext4 keeps even from root, min(2% of the clusters, 4096 clusters), as its
# sysfs folder gives it. The program counts those clusters as blocks, having no way to learn the
# cluster size, so under bigalloc it tries, and may refuse with records kept, up to `slack` beyond.
def caller_room(volume, layout, where):
    room = volume.f_bavail * volume.f_frsize
    if layout.user != "root" or not layout.kind.startswith("ext4"):  # only ext4 has one
        return room
    device = os.stat(where).st_dev
    name = os.path.basename(os.readlink(f"/sys/dev/block/{os.major(device)}:{os.minor(device)}"))
    with open(f"/sys/fs/ext4/{name}/reserved_clusters") as clusters:
        reserve = int(clusters.read()) * cluster(layout)
    layout.slack = reserve // cluster(layout) * (cluster(layout) - layout.block)
    return max(room, volume.f_bfree * volume.f_frsize - reserve)


# New sizes to ask for in turn, until one is granted.
def draw_requests(rng, layout, where):
    volume = settle(where)
    layout.floor, layout.room = volume.f_bavail * volume.f_frsize, caller_room(volume, layout, where)
    draw, edge = rng.random(), layout.end + layout.room
    if layout.plan == "past the users' room":
        return [layout.end + layout.floor + 2 * MiB]
    if layout.plan == "into the reserve":
        return [layout.end + layout.floor + 4 * MiB]
    if layout.plan == "down from the edge" or draw >= 0.7:
        # Down from the edge in steps that double, to the first the program grants: that one
        # lies within twice the program's margin, where a margin too small shows.
        step = rng.uniform(1, 2) * 4096
        return [edge - int(step * 2**k) for k in range(32) if edge - step * 2**k > layout.end]
    if draw < 0.2:
        request = layout.end + rng.randrange(1, 8 * MiB)
    elif draw < 0.35:  # more than there is room for
        request = edge + rng.choice([1, rng.randrange(1, 1 << 30)])
    elif draw < 0.55:  # at the edge, give or take a few blocks
        request = edge + layout.block * rng.randrange(-8, 3) + rng.randrange(layout.block)
    else:  # the last MiB
        request = edge - rng.randrange(-64 * 1024, MiB)
    return [max(request, layout.end + 1)]


# The rule of what must be granted and what refused, on the room the caller had when the request
# was drawn: the growth counts only what the file does not hold already, and on a fresh volume (its
# free space not cut into pieces) a request up to the room less 1 MiB is granted, except on ext2,
# which cannot reserve; one beyond the room is refused.
# Between the two, either answer will do, as long as a refusal leaves no trace (check_fail).
def growth(layout, before):
    if layout.kind == "tmpfs":
        held = sum(max(0, min((page + 1) * PAGE, layout.request) - max(page * PAGE, layout.end))
                   for page in layout.pages())
    else:
        held = sum(b - a for a, b in clip(before.extents, layout.end, layout.request))
    return layout.request - layout.end - held


def must_grant(layout, before):
    fresh = not layout.fragments and layout.kind != "ext2"
    return fresh and growth(layout, before) <= layout.room - MiB


def must_refuse(layout, before):
    return growth(layout, before) > layout.room + layout.slack


def run(program, layout, path):
    # PRESIZER_RUNNER starts another processor's program (qemu), as for the case table.
    command = os.environ.get("PRESIZER_RUNNER", "").split() + [program, path, str(layout.request)]
    if layout.user == "nobody":
        command = ["runuser", "-u", "nobody", "--"] + command
    done = subprocess.run(command, capture_output=True, timeout=120,
                          env=dict(os.environ, ASAN_OPTIONS="detect_leaks=0"))
    return done.returncode, done.stdout, done.stderr


def zeros(path, begin, end, rng):
    with open(path, "rb") as f:
        for spot in [begin] + [rng.randrange(begin, end) for _ in range(4)]:
            f.seek(spot)
            if f.read(min(end - spot, MiB)).strip(b"\0"):
                return False
    return True


# What is wrong with the run, or None.
def check(layout, path, before, after, words, rng):
    end, block, new = layout.end, layout.block, layout.request
    block_of_end, top = end - end % block, -(-new // block) * block
    if after.data != before.data:
        return "a byte below the old end changed"
    if words == FAIL:
        return "Fail, though it must be granted" if must_grant(layout, before) else \
            check_fail(layout, before, after, must_refuse(layout, before))
    if words != OK:
        return f"printed {words!r}"
    if must_refuse(layout, before):
        return "Ok, though the growth lies beyond the room"
    if after.size != new:
        return f"Ok, but the length is {after.size}"
    if not zeros(path, end, new, rng):
        return "Ok, but a new byte is not zero"
    if layout.kind == "tmpfs":
        held = layout.pages() | set(range(end // PAGE, -(-new // PAGE)))
        return None if after.blocks == len(held) * PAGE else \
            f"Ok, blocks {after.blocks}, expected {len(held) * PAGE}"
    if clip(after.extents, block_of_end, top) != [[block_of_end, top]]:
        return f"Ok, but [{block_of_end}, {top}) is not all allocated: {after.extents}"
    for begin, stop in [(0, block_of_end), (top, END)]:
        if clip(after.extents, begin, stop) != clip(before.extents, begin, stop):
            return f"Ok, extents outside the growth {before.extents} -> {after.extents}"
    return None


# A request beyond the room is refused before anything is reserved, so the volume is as it was;
# one the program tried may leave a few blocks of the file system's own records (an extent tree
# grown part way), each a whole cluster under ext4 bigalloc.
def check_fail(layout, before, after, beyond_the_room):
    end, block = layout.end, layout.block
    records = 0 if beyond_the_room else 16 * cluster(layout)
    if after.size != end:
        return f"Fail, but the length is {after.size}"
    # What lay reserved beyond the end is given back, as Windows gives it back.
    if layout.kind == "tmpfs":  # no extent list, but its pages are those written or reserved
        held = {page for page in layout.pages() if page < -(-end // PAGE)}
        if after.blocks != len(held) * PAGE or \
                after.free - before.free != before.blocks - after.blocks:
            return f"Fail, blocks {before.blocks} -> {after.blocks} (expected " \
                f"{len(held) * PAGE}), free {before.free} -> {after.free}"
        return None
    inside = -(-end // block) * block
    kept, extra = inside, 0
    if layout.kind == "btrfs" and end % block:
        # btrfs writes the block of an old end inside a block when the file grows: into a hole, or
        # as a copy of a block it shares with others. That one block may stay, nothing else.
        kept, extra = inside - block, block
    if clip(after.extents, 0, kept) != clip(before.extents, 0, kept) or \
            clip(after.extents, inside, END):
        return f"Fail, extents {before.extents} -> {after.extents}"
    given_back = bool(clip(before.extents, inside, END))
    # Records may also shrink: a tree that an earlier refusal grew may give a block back.
    if after.blocks > before.blocks + extra + records or \
            (after.blocks < before.blocks - records and not given_back):
        return f"Fail, blocks {before.blocks} -> {after.blocks}"
    # The volume gains what the file gave back. The trees in which xfs records its free space may
    # end a few blocks larger or smaller once a reservation was tried and rolled back, or space
    # was given back; a request refused before anything was reserved moves nothing. btrfs's free
    # space moves with its own records, so count its data.
    unrecorded = (before.blocks - after.blocks) - (after.free - before.free)
    xfs_trees_moved = layout.kind == "xfs" and (given_back or not beyond_the_room)
    if layout.kind == "btrfs":
        if after.btrfs_data > before.btrfs_data + extra:
            return f"Fail, btrfs data {before.btrfs_data} -> {after.btrfs_data}"
    elif unrecorded and not (xfs_trees_moved and abs(unrecorded) <= 16 * block):
        return f"Fail, blocks {before.blocks} -> {after.blocks}, free {before.free} -> {after.free}"
    return None


# Layouts on one volume until the deadline, at least one, counted in counts.
def fuzz_one(program, kind, where, rng, deadline, counts):
    block = os.statvfs(where).f_frsize
    fixed, drawn = fixed_layouts(kind, block), 0
    while fixed or drawn == 0 or time.monotonic() < deadline:
        layout = fixed.pop(0) if fixed else draw_layout(rng, kind, block)
        drawn += 0 if layout.plan else 1
        path = make(layout, where, rng)
        before = snapshot(path, where, kind, layout.end)
        if kind == "tmpfs" and before.blocks != len(layout.pages()) * PAGE:
            raise Counterexample(f"{layout}\nthe page model says {len(layout.pages()) * PAGE} "
                                 f"bytes, the file holds {before.blocks}")
        counts["layouts"] += 1
        for request in draw_requests(rng, layout, where):
            layout.request = request
            code, words, errors = run(program, layout, path)
            after = snapshot(path, where, kind, layout.end)
            wrong = (f"exit code {code}, standard error {errors[-2000:]!r}" if code or errors else
                     check(layout, path, before, after, words, rng))
            counts["runs"] += 1
            if wrong:
                raise Counterexample(f"{layout}\n{wrong}")
            if words == OK:
                counts["Ok"] += 1
                break
            before, layout.given_back = after, True
        for name in ("target", "filler"):
            if os.path.exists(os.path.join(where, name)):
                os.unlink(os.path.join(where, name))


def mount(top, kind, mkfs):
    where = os.path.join(top, kind)
    os.mkdir(where)
    command = ["mount", "-t", "tmpfs", "-o", f"size={VOLUME}", "tmpfs", where]
    if mkfs:
        with open(where + ".img", "wb") as f:
            f.truncate(VOLUME)
        if not shutil.which(mkfs.split()[0]):
            raise Skip(f"{mkfs.split()[0]} is missing")
        made = subprocess.run(mkfs.split() + [where + ".img"], capture_output=True, text=True)
        if made.returncode:
            raise Skip(f"{mkfs} failed: {made.stderr.strip()}")
        command = ["mount", "-o", "loop", where + ".img", where]
    mounted = subprocess.run(command, capture_output=True, text=True)
    if mounted.returncode:
        raise Skip(f"{kind} cannot be mounted here: {mounted.stderr.strip()}")
    return where


def unmount(where):
    # A loop mount frees its device when it goes; a busy one goes once it is no longer busy.
    if where and subprocess.run(["umount", where]).returncode:
        subprocess.run(["umount", "--lazy", where])


def tried(counts):
    return sum(count["layouts"] for count in counts.values())


def stop(signum, frame):  # ends the run through the clean-up below, as an interrupt does
    sys.exit(3)


def main():
    program, seconds = sys.argv[1], float(sys.argv[2])
    seed = int(sys.argv[3]) if len(sys.argv) > 3 else random.randrange(1 << 32)
    if os.geteuid() != 0:
        print("skipped: needs root, for loop volumes")
        return 0
    signal.signal(signal.SIGTERM, stop)
    top, where = tempfile.mkdtemp(prefix="presizer-volumes-"), None
    os.chmod(top, 0o755)
    counts = {kind: {"layouts": 0, "runs": 0, "Ok": 0} for kind, _ in KINDS}
    try:
        # A copy that nobody may run, whatever the folders above the build allow.
        copy = os.path.join(top, "presizer")
        shutil.copy(program, copy)
        os.chmod(copy, 0o755)
        print(f"seed {seed}", flush=True)
        end = time.monotonic() + seconds
        for index, (kind, mkfs) in enumerate(KINDS):
            # An equal share of the time left, so that one that ran over costs all that follow.
            deadline = time.monotonic() + (end - time.monotonic()) / (len(KINDS) - index)
            try:
                where = mount(top, kind, mkfs)
            except Skip as why:
                print(f"{kind}: skipped: {why}", flush=True)
                continue
            fuzz_one(copy, kind, where, random.Random(f"{seed}-{kind}"), deadline, counts[kind])
            unmount(where)
            where = None
            print(f"{kind}: " + ", ".join(f"{n} {what}" for what, n in counts[kind].items()),
                  flush=True)
        if tried(counts) == 0:
            print("skipped: no file system could be mounted")
            return 0
        print(f"layouts tried: {tried(counts)}")
        return 0
    except Counterexample as found:
        print(f"COUNTEREXAMPLE (seed {seed}) on {found}", flush=True)
        print(f"layouts tried: {tried(counts)}")
        return 1
    finally:
        unmount(where)
        shutil.rmtree(top, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())
