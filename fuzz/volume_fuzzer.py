#!/usr/bin/env python3
# The Linux program's fast path on real volumes, over random layouts.
#
#   volume_fuzzer.py PROGRAM SECONDS [SEED]
#
# Mounts a fresh loop volume of each file system the kernel here mounts (a tmpfs for tmpfs), tries
# the fixed layouts (FIXED) and, for its share of SECONDS, draws layouts: a file whose old end lies
# anywhere, with data, holes and reserved but unwritten ranges below it and space reserved beyond
# it, a volume whose free space may be cut into small pieces, and a request that is small or near
# the edge of the room of the user who runs the program (root, or nobody without the reserve).
# What must be granted and what refused is decided in one place, must_grant() and must_refuse();
# what each answer must leave, in check(). Prints the layouts tried per file system and in all
# ("layouts tried: N"), and stops at the first counterexample with its layout ("COUNTEREXAMPLE",
# exit status 1). Needs root and loop devices: without them it prints "skipped: <why>" and exits
# 0. Mounts, loop devices and images are removed on every way out.
import ctypes, hashlib, os, random, re, shutil, signal, subprocess, sys, tempfile, time
from collections import namedtuple
from dataclasses import dataclass

MiB = 1 << 20
VOLUME = 400 * MiB
PAGE = os.sysconf("SC_PAGE_SIZE")
KEEP_SIZE, PUNCH_HOLE = 1, 2
OK, FAIL = b"File Preallocation...Ok\r\n", b"File Preallocation...Fail\r\n"
END = 1 << 63  # beyond any file
# How to make each volume, in the order they are tried (None: a tmpfs).
MKFS = {"ext4": "mkfs.ext4 -q -F -b 4096", "ext4-1k": "mkfs.ext4 -q -F -b 1024",
        "ext4-bigalloc": "mkfs.ext4 -q -F -b 4096 -O bigalloc -C 65536", "xfs": "mkfs.xfs -q -f",
        "btrfs": "mkfs.btrfs -q -f", "tmpfs": None, "ext2": "mkfs.ext2 -q -F"}

libc = ctypes.CDLL(None, use_errno=True)
libc.fallocate.argtypes = [ctypes.c_int, ctypes.c_int, ctypes.c_int64, ctypes.c_int64]
Snapshot = namedtuple("Snapshot", "size blocks free data extents btrfs_data volume")


def fallocate(fd, mode, offset, length):
    if libc.fallocate(fd, mode, offset, length) != 0:
        raise OSError(ctypes.get_errno(), os.strerror(ctypes.get_errno()))


def clip(ranges, begin, end):
    return [[max(a, begin), min(b, end)] for a, b in ranges if min(b, end) > max(a, begin)]


@dataclass
class Layout:
    kind: str
    block: int  # the volume's block size
    end: int  # the old end
    pieces: list  # ("data" | "reserve" | "punch", offset, length) in order; beyond the end last
    fragments: tuple  # (piece size, count) of the free space cut into pieces, or ()
    user: str  # "root" or "nobody"
    plan: str = ""  # how the requests are drawn: at random, or one of the fixed layouts' plans
    request: int = 0  # the new size
    room: int = 0  # the free space the caller may take when the requests were drawn
    given_back: bool = False  # a refusal cut the file at its old end
    slack: int = 0  # beyond the room, what the program may try all the same

    # tmpfs lists no extents: the pages it holds are those written or reserved, whole, and none
    # past the old end's page once the file has been cut there.
    def pages(self, cut=False):
        held = set()
        for what, offset, length in self.pieces:
            if what == "punch":  # frees only the pages it covers whole
                held -= set(range(-(-offset // PAGE), (offset + length) // PAGE))
            else:
                held |= set(range(offset // PAGE, -(-(offset + length) // PAGE)))
        if cut or self.given_back:
            held = {page for page in held if page < -(-self.end // PAGE)}
        return held


def cluster(layout):  # the unit in which the volume allocates, its records included
    return 64 * 1024 if layout.kind == "ext4-bigalloc" else layout.block


def draw_spot(rng, limit, block):
    spot = rng.randrange(limit + 1)
    return spot - spot % block if rng.random() < 0.5 else spot


def draw_layout(rng, kind, block):
    can_reserve = kind != "ext2"
    end = rng.choice([0, draw_spot(rng, 64 * 1024, block), draw_spot(rng, 16 * MiB, block)])
    pieces, fragments = [], ()
    for _ in range(rng.randrange(8) if end else 0):
        offset = draw_spot(rng, end - 1, block)
        length = min(end - offset, rng.choice([1, block, draw_spot(rng, 4 * MiB, block) or 1]))
        pieces.append((rng.choice(["data", "reserve", "punch"] if can_reserve else ["data"]),
                       offset, length))
    for _ in range(rng.choice([0, 0, 1, 2]) if can_reserve else 0):  # beyond the end
        pieces.append(("reserve", end + draw_spot(rng, 8 * MiB, block),
                       draw_spot(rng, 16 * MiB, block) or block))
    if rng.random() < 0.4 and can_reserve and kind != "tmpfs":
        # Often single blocks across the whole volume: the most the file's extent tree can need.
        size = rng.choice([block, block, 2 * block, 16 * block, 64 * 1024, MiB])
        most = 1 << (14 if kind == "btrfs" else 18)
        fragments = (size, rng.choice([most, int(2 ** rng.uniform(4, most.bit_length() - 1))]))
    return Layout(kind, block, end, pieces, fragments, rng.choice(["root", "nobody"]))


# Layouts that every run tries first, where a room check too lax or too strict shows at once.
# ext4 with 1 KiB blocks needs the most beside the bytes: a reservation of a few hundred MiB that
# runs out part way keeps the blocks of its extent tree. So a user asking just past the users'
# room must be refused before anything is reserved, and so must requests near the edge of free
# space that lies in single blocks. With 4 KiB blocks, root asking a little into the reserve for
# root must be granted.
FIXED = {
    "ext4-1k": [("nobody", (), "past the users' room"),
                ("root", (1024, 1 << 18), "down from the edge")],
    "ext4": [("root", (), "into the reserve")],
}
# Those plans ask this much beyond the free space anyone may take.
ABOVE_THE_FLOOR = {"past the users' room": 2 * MiB, "into the reserve": 4 * MiB}


def make(layout, where, rng):
    path = os.path.join(where, "target")
    with open(path, "wb") as target:
        os.ftruncate(target.fileno(), layout.end)
        for what, offset, length in layout.pieces:
            mode = KEEP_SIZE | (PUNCH_HOLE if what == "punch" else 0)
            if what == "data":
                os.pwrite(target.fileno(), rng.randbytes(length), offset)
            else:
                fallocate(target.fileno(), mode, offset, length)
    if layout.user == "nobody":
        os.chown(path, 65534, 65534)
    if layout.fragments:
        # Separate pieces, every other one freed again: the free space comes in pieces too. The
        # pieces take at most 97% of the room, so that freeing them has room for their records.
        size, count = layout.fragments
        volume = os.statvfs(where)
        count = min(count, volume.f_bavail * volume.f_frsize * 97 // 100 // (2 * size))
        with open(os.path.join(where, "filler"), "wb") as filler:
            try:
                if layout.kind == "btrfs":  # it frees a reserved extent only whole: one per piece
                    for i in range(2 * count):
                        fallocate(filler.fileno(), 0, i * size, size)
                else:
                    fallocate(filler.fileno(), 0, 0, 2 * count * size)
                for i in range(0, 2 * count, 2):
                    fallocate(filler.fileno(), PUNCH_HOLE | KEEP_SIZE, i * size, size)
            except OSError:  # pieces smaller than an ext4 cluster free nothing and cost tree blocks
                pass
    return path


# The file and its volume. Freed space is counted once the file system has committed; btrfs and
# xfs free in the background, so the volume is read until two readings agree. The file's allocated
# ranges come in bytes, in order and merged, or None where the file system lists none (tmpfs).
def snapshot(path, where, kind, end):
    volume, last = os.statvfs(where), None
    while volume != last:
        subprocess.run(["sync", "--file-system", where])
        time.sleep(0.02)
        last, volume = volume, os.statvfs(where)
    with open(path, "rb") as f:
        data = hashlib.sha256(f.read(end)).digest()
    listed = subprocess.run(["filefrag", "-s", "-v", "-b1", path], capture_output=True, text=True)
    extents = None if listed.returncode else []
    for first, last in re.findall(r"^\s*\d+:\s*(\d+)\.\.\s*(\d+):", listed.stdout, re.MULTILINE):
        if extents and int(first) <= extents[-1][1]:
            extents[-1][1] = max(extents[-1][1], int(last) + 1)
        else:
            extents.append([int(first), int(last) + 1])
    btrfs_data = 0
    if kind == "btrfs":  # the data it holds, apart from its own records
        df = subprocess.check_output(["btrfs", "filesystem", "df", "-b", where], text=True)
        btrfs_data = int(re.search(r"^Data\b.*used=(\d+)", df, re.MULTILINE).group(1))
    info = os.stat(path)
    return Snapshot(info.st_size, info.st_blocks * 512, volume.f_bfree * volume.f_frsize, data,
                    extents, btrfs_data, volume)


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
    with open(f"/sys/fs/ext4/{name}/reserved_clusters") as reserved:
        clusters = int(reserved.read())
    layout.slack = clusters * (cluster(layout) - layout.block)
    return max(room, volume.f_bfree * volume.f_frsize - clusters * cluster(layout))


# New sizes to ask for in turn, until one is granted.
def draw_requests(rng, layout, where, volume):
    layout.room = caller_room(volume, layout, where)
    draw, edge = rng.random(), layout.end + layout.room
    if layout.plan in ABOVE_THE_FLOOR:  # the free space anyone may take
        return [layout.end + volume.f_bavail * volume.f_frsize + ABOVE_THE_FLOOR[layout.plan]]
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
# Between the two, either answer will do, as long as a refusal leaves no trace (check).
def growth(layout, before):
    held = before.extents
    if layout.kind == "tmpfs":
        held = [[page * PAGE, (page + 1) * PAGE] for page in layout.pages()]
    held_within = sum(b - a for a, b in clip(held, layout.end, layout.request))
    return layout.request - layout.end - held_within


def must_grant(layout, before):
    fresh = not layout.fragments and layout.kind != "ext2"
    return fresh and growth(layout, before) <= layout.room - MiB


def must_refuse(layout, before):
    return growth(layout, before) > layout.room + layout.slack


# What is wrong with the run, or None. "Ok" gives [block of the old end, new end) blocks that read
# as zeros and leaves the rest alone. "Fail" leaves the file as it was, but that btrfs may keep the
# block of an old end inside a block (it writes it when the file grows, into a hole or as a copy
# of a shared block), and that what lay reserved beyond the end is given back, as Windows does.
def check(layout, path, before, after, words, rng):
    end, block, new, granted = layout.end, layout.block, layout.request, words == OK
    word, beyond_the_room = "Ok" if granted else "Fail", must_refuse(layout, before)
    if after.data != before.data:
        return "a byte below the old end changed"
    if words not in (OK, FAIL):
        return f"printed {words!r}"
    if granted and beyond_the_room:
        return "Ok, though the growth lies beyond the room"
    if not granted and must_grant(layout, before):
        return "Fail, though it must be granted"
    if after.size != (new if granted else end):
        return f"{word}, but the length is {after.size}"
    if granted:
        with open(path, "rb") as f:  # at the start of the growth and at four random spots
            for spot in [end] + [rng.randrange(end, new) for _ in range(4)]:
                if os.pread(f.fileno(), min(new - spot, MiB), spot).strip(b"\0"):
                    return "Ok, but a new byte is not zero"
    if layout.kind == "tmpfs":  # its free space moves with the pages the file holds, no more
        held = layout.pages(cut=not granted)
        if granted:
            held |= set(range(end // PAGE, -(-new // PAGE)))
        expected = len(held) * PAGE
        if after.blocks != expected or after.free - before.free != before.blocks - after.blocks:
            return f"{word}, blocks {before.blocks} -> {after.blocks} (expected {expected}), " \
                f"free {before.free} -> {after.free}"
        return None
    # Below `low` nothing changes; from `high` on, nothing changes on "Ok" and nothing is held on
    # "Fail"; in between, "Ok" holds all, "Fail" only btrfs's kept block.
    inside = -(-end // block) * block
    low, high, extra = inside, inside, 0
    if granted:
        low, high = end - end % block, -(-new // block) * block
    elif layout.kind == "btrfs" and end % block:
        low, extra = inside - block, block
    if clip(after.extents, 0, low) != clip(before.extents, 0, low) or \
            clip(after.extents, high, END) != (clip(before.extents, high, END) if granted else []):
        return f"{word}, extents outside [{low}, {high}) {before.extents} -> {after.extents}"
    if granted:
        return None if clip(after.extents, low, high) == [[low, high]] else \
            f"Ok, but [{low}, {high}) is not all allocated: {after.extents}"
    # A request beyond the room is refused before anything is reserved; one the program tried may
    # leave a few blocks of the file system's own records (an extent tree grown part way), each a
    # whole cluster under ext4 bigalloc, or give back a few that an earlier refusal grew.
    records = 0 if beyond_the_room else 16 * cluster(layout)
    given_back = bool(clip(before.extents, inside, END))
    if after.blocks > before.blocks + extra + records or \
            (after.blocks < before.blocks - records and not given_back):
        return f"Fail, blocks {before.blocks} -> {after.blocks}"
    # The volume gains what the file gave back. The trees in which xfs records its free space may
    # end a few blocks larger or smaller once a reservation was tried and rolled back, or space
    # was given back; a request refused before anything was reserved moves nothing. btrfs's free
    # space moves with its own records, so count its data.
    unrecorded = (before.blocks - after.blocks) - (after.free - before.free)
    xfs_trees_moved = layout.kind == "xfs" and (given_back or not beyond_the_room)
    if layout.kind == "btrfs" and after.btrfs_data > before.btrfs_data + extra:
        return f"Fail, btrfs data {before.btrfs_data} -> {after.btrfs_data}"
    if layout.kind != "btrfs" and abs(unrecorded) > (16 * block if xfs_trees_moved else 0):
        return f"Fail, blocks {before.blocks} -> {after.blocks}, free {before.free} -> {after.free}"
    return None


# Layouts on a fresh volume of one kind until the deadline: the fixed ones and at least one drawn.
# Returns the first counterexample or None, and the number of layouts tried.
def fuzz_one(program, top, kind, rng, deadline):
    where = os.path.join(top, kind)
    os.mkdir(where)
    command = f'mount -t tmpfs -o size={VOLUME} tmpfs "{where}"'
    if MKFS[kind]:
        command = f'truncate -s {VOLUME} "{where}.img" && {MKFS[kind]} "{where}.img" && ' \
            f'mount -o loop "{where}.img" "{where}"'
    made = subprocess.run(command, shell=True, capture_output=True, text=True)
    if made.returncode:
        print(f"{kind}: skipped: cannot be made or mounted here: {made.stderr.strip()}", flush=True)
        return None, 0
    block = os.statvfs(where).f_frsize
    fixed = [Layout(kind, block, 10000, [("data", 0, 10000)], fragments, user, plan)
             for user, fragments, plan in FIXED.get(kind, [])]
    layouts, runs, granted, least = 0, 0, 0, len(fixed) + 1
    try:
        while layouts < least or time.monotonic() < deadline:
            layout = fixed.pop(0) if fixed else draw_layout(rng, kind, block)
            layouts += 1
            path = make(layout, where, rng)
            before = snapshot(path, where, kind, layout.end)
            if kind == "tmpfs" and before.blocks != len(layout.pages()) * PAGE:
                return f"{layout}\nthe page model says {len(layout.pages()) * PAGE} bytes, " \
                    f"the file holds {before.blocks}", layouts
            for request in draw_requests(rng, layout, where, before.volume):
                layout.request = request
                # PRESIZER_RUNNER starts another processor's program (qemu), as for the case table.
                command = os.environ.get("PRESIZER_RUNNER", "").split() + [program, path, str(request)]
                if layout.user == "nobody":
                    command = ["runuser", "-u", "nobody", "--"] + command
                done = subprocess.run(command, capture_output=True, timeout=120,
                                      env=dict(os.environ, ASAN_OPTIONS="detect_leaks=0"))
                after = snapshot(path, where, kind, layout.end)
                runs += 1
                wrong = check(layout, path, before, after, done.stdout, rng)
                if done.returncode or done.stderr:
                    wrong = f"exit code {done.returncode}, standard error {done.stderr[-2000:]!r}"
                if wrong:
                    return f"{layout}\n{wrong}", layouts
                if done.stdout == OK:
                    granted += 1
                    break
                before, layout.given_back = after, True
            os.unlink(path)
            if layout.fragments:
                os.unlink(os.path.join(where, "filler"))
        print(f"{kind}: {layouts} layouts, {runs} runs, {granted} Ok", flush=True)
        return None, layouts
    finally:  # a loop mount frees its device when it goes; a busy one, once it is no longer busy
        if subprocess.run(["umount", where]).returncode:
            subprocess.run(["umount", "--lazy", where])


def stop(signum, frame):  # ends the run through the clean-up, as an interrupt does
    sys.exit(3)


def main():
    program, seconds = sys.argv[1], float(sys.argv[2])
    seed = int(sys.argv[3]) if len(sys.argv) > 3 else random.randrange(1 << 32)
    if os.geteuid() != 0:
        print("skipped: needs root, for loop volumes")
        return 0
    signal.signal(signal.SIGTERM, stop)
    top, tried = tempfile.mkdtemp(prefix="presizer-volumes-"), 0
    try:
        # A copy that nobody may run, whatever the folders above the build allow.
        os.chmod(top, 0o755)
        copy = shutil.copy(program, top)
        os.chmod(copy, 0o755)
        print(f"seed {seed}", flush=True)
        end = time.monotonic() + seconds
        for index, kind in enumerate(MKFS):
            # An equal share of the time left, so that one that ran over costs all that follow.
            deadline = time.monotonic() + (end - time.monotonic()) / (len(MKFS) - index)
            found, layouts = fuzz_one(copy, top, kind, random.Random(f"{seed}-{kind}"), deadline)
            tried += layouts
            if found:
                print(f"COUNTEREXAMPLE (seed {seed}) on {found}", flush=True)
                print(f"layouts tried: {tried}")
                return 1
    finally:
        shutil.rmtree(top, ignore_errors=True)
    if tried == 0:
        print("skipped: no file system could be mounted")
        return 0
    print(f"layouts tried: {tried}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
