#!/usr/bin/env python3
# The Linux program's fast path on real volumes: a table of files and requests, each row run on a
# fresh loop volume of its file system (a tmpfs for tmpfs), where the kernel here mounts it.
#
#   volume_test.py PROGRAM [ROW]
#
# Each row makes a file (data, holes and reserved but unwritten ranges below its old end, space
# reserved beyond it), may cut the volume's free space into pieces, and asks for a new size
# measured from the room of the user who runs the program (root, or nobody, who may not take
# root's reserve): the users' free space, f_bavail. ROW runs only the rows whose "kind/name" holds
# it. Prints a line a row and "rows tried: N", and stops at the first row that goes wrong
# ("COUNTEREXAMPLE", exit status 1). Needs root and loop devices: without them it prints
# "skipped: <why>" and exits 0. Mounts, loop devices and images are removed on every way out.
import ctypes, hashlib, os, re, shutil, signal, subprocess, sys, tempfile
from collections import namedtuple

MiB, VOLUME = 1 << 20, 400 << 20
KEEP_SIZE, PUNCH_HOLE, END = 1, 2, 1 << 63  # END lies beyond any file
OK, FAIL = b"File Preallocation...Ok\r\n", b"File Preallocation...Fail\r\n"
# How to make a volume of each kind (None: a tmpfs).
MKFS = {"ext4": "mkfs.ext4 -q -F -b 4096", "ext4-1k": "mkfs.ext4 -q -F -b 1024",
        "ext4-bigalloc": "mkfs.ext4 -q -F -b 4096 -O bigalloc -C 65536", "xfs": "mkfs.xfs -q -f",
        "btrfs": "mkfs.btrfs -q -f", "tmpfs": None, "ext2": "mkfs.ext2 -q -F"}

libc = ctypes.CDLL(None, use_errno=True)
libc.fallocate.argtypes = [ctypes.c_int, ctypes.c_int, ctypes.c_int64, ctypes.c_int64]


def fallocate(fd, mode, offset, length):
    if libc.fallocate(fd, mode, offset, length) != 0:
        raise OSError(ctypes.get_errno(), os.strerror(ctypes.get_errno()))


def clip(ranges, begin, end):
    return [[max(a, begin), min(b, end)] for a, b in ranges if min(b, end) > max(a, begin)]


# A file: its old end, and what it holds, ("data" | "reserve" | "punch", offset, length) in order.
File = namedtuple("File", "end pieces")
# 10000 bytes whose block of the old end is a hole.
SMALL = File(10000, (("data", 0, 5000),))
# Below a 3 MiB end that splits a block: data, a hole punched in it, a reserved range; and beyond
# it 64 MiB reserved, which a growth over it need not find room for again.
MIXED = File(3 * MiB + 1000, (("data", 0, MiB), ("punch", MiB // 2, MiB // 4),
                              ("reserve", 3 * MiB // 2, MiB), ("data", 3 * MiB, 1000),
                              ("reserve", 4 * MiB, 64 * MiB)))

# A row runs the program as `user`, "root" or "nobody", on `file` on a volume of `kind`, whose
# free space is cut into `fragments` first, (piece size, count), if any; the request ends
# `past_room` past the old end and the users' free space (f_bavail). It must `expect` "Ok";
# "Fail", refused before anything is reserved; or, at the "edge", refusals that leave no trace
# but a few blocks of the file system's records, from the request down in steps that double to
# the first the program grants.
Row = namedtuple("Row", "name kind user expect past_room file fragments", defaults=(0, SMALL, ()))

ROWS = []
for kind in ["ext4", "ext4-1k", "ext4-bigalloc", "xfs", "btrfs", "tmpfs"]:
    # The room less 1 MiB is granted, counting the reservation already in the range as held (xfs
    # grants it only hole by hole); 2 MiB past it is refused before anything is reserved.
    ROWS.append(Row("room less 1 MiB", kind, "nobody", "Ok", past_room=63 * MiB, file=MIXED))
    ROWS.append(Row("past the room", kind, "nobody", "Fail", past_room=66 * MiB, file=MIXED))
ROWS += [
    # ext4 with 1 KiB blocks needs the most beside the bytes: a reservation of a few hundred MiB
    # that runs out part way keeps the blocks of its extent tree.
    Row("past the users' room", "ext4-1k", "nobody", "Fail", past_room=2 * MiB),
    Row("into the reserve", "ext4", "root", "Ok", past_room=4 * MiB),
    # Free space in single blocks: the most that the file's extent tree can need.
    Row("single blocks", "ext4-1k", "nobody", "edge", fragments=(1024, 1 << 18)),
    Row("single blocks", "xfs", "nobody", "edge", file=File(0, ()), fragments=(4096, 1 << 18)),
    Row("pieces", "ext4-bigalloc", "nobody", "edge", fragments=(65536, 1 << 12)),
    Row("cannot reserve", "ext2", "root", "Fail", past_room=-100 * MiB),
]


def make(row, where):
    path = os.path.join(where, "target")
    with open(path, "wb") as target:
        os.ftruncate(target.fileno(), row.file.end)
        for what, offset, length in row.file.pieces:
            if what == "data":
                os.pwrite(target.fileno(), os.urandom(length), offset)
            else:
                fallocate(target.fileno(), KEEP_SIZE | (PUNCH_HOLE if what == "punch" else 0),
                          offset, length)
    if row.user == "nobody":
        os.chown(path, 65534, 65534)
    if row.fragments:
        # Separate pieces, every other one freed again. They take at most 97% of the room, so that
        # freeing them has room for their records; one reservation a piece, as btrfs frees a
        # reserved extent only whole.
        size, count = row.fragments
        volume = os.statvfs(where)
        count = min(count, volume.f_bavail * volume.f_frsize * 97 // 100 // (2 * size))
        with open(os.path.join(where, "filler"), "wb") as filler:
            for i in range(2 * count):
                fallocate(filler.fileno(), 0, i * size, size)
            for i in range(0, 2 * count, 2):
                fallocate(filler.fileno(), PUNCH_HOLE | KEEP_SIZE, i * size, size)
    return path


# The file's length; the bytes it holds on the volume, its file system's records included; a
# digest of the bytes below the old end; its allocated ranges in bytes, in order and merged (None
# on tmpfs); and what else the volume holds.
Snapshot = namedtuple("Snapshot", "size blocks data extents beside")


def snapshot(path, end):
    with open(path, "rb") as f:
        data = hashlib.sha256(f.read(end)).digest()
    listed = subprocess.run(["filefrag", "-s", "-v", "-b1", path], capture_output=True, text=True)
    extents = None if listed.returncode else []
    for first, last in re.findall(r"^\s*\d+:\s*(\d+)\.\.\s*(\d+):", listed.stdout, re.MULTILINE):
        if extents and int(first) <= extents[-1][1]:
            extents[-1][1] = max(extents[-1][1], int(last) + 1)
        else:
            extents.append([int(first), int(last) + 1])
    info = os.stat(path)
    return Snapshot(info.st_size, info.st_blocks * 512, data, extents,
                    sorted(os.listdir(os.path.dirname(path))))


# What is wrong with the run, or None. "Ok" gives [block of the old end, new end) blocks that read
# as zeros and leaves the rest alone. "Fail" leaves the file as it was, but that a refusal the
# program tried may keep a few blocks of the file system's records (an extent tree grown part
# way, whole clusters under bigalloc), and that what lay reserved beyond the end is given back,
# as Windows does. Neither leaves anything else on the volume.
def check(row, path, block, new, before, after, words):
    end, granted = row.file.end, words == OK
    word = "Ok" if granted else "Fail"
    if after.data != before.data:
        return "a byte below the old end changed"
    if words not in (OK, FAIL) or row.expect not in ("edge", word):
        return f"printed {words!r}, expected {row.expect}"
    if after.size != (new if granted else end) or after.beside != before.beside:
        return f"{word}, but the length is {after.size}, beside it {after.beside}"
    with open(path, "rb") as f:
        if granted and os.pread(f.fileno(), MiB, end).strip(b"\0"):
            return "Ok, but a new byte is not zero"
    if after.extents is None:  # tmpfs lists no extents
        return None
    # Below `low` nothing changes; from `high` on, nothing changes on "Ok" and nothing is held on
    # "Fail"; in between, "Ok" holds all.
    low = high = -(-end // block) * block
    if granted:
        low, high = end - end % block, -(-new // block) * block
    if clip(after.extents, 0, low) != clip(before.extents, 0, low) or \
            clip(after.extents, high, END) != (clip(before.extents, high, END) if granted else []):
        return f"{word}, extents outside [{low}, {high}) {before.extents} -> {after.extents}"
    if granted:
        return None if clip(after.extents, low, high) == [[low, high]] else \
            f"Ok, but [{low}, {high}) is not all allocated: {after.extents}"
    # A refusal the program tried may keep a few blocks of the file's extent tree, whole clusters
    # under bigalloc.
    if after.blocks > before.blocks + (MiB if row.expect == "edge" else 0):
        return f"Fail, blocks {before.blocks} -> {after.blocks}"
    return None


# A row on a fresh volume of its kind: what went wrong, None, or "skipped: <why>".
def run_row(program, top, row):
    where = os.path.join(top, str(ROWS.index(row)))
    os.mkdir(where)
    command = f'mount -t tmpfs -o size={VOLUME} tmpfs "{where}"'
    if MKFS[row.kind]:
        command = f'truncate -s {VOLUME} "{where}.img" && {MKFS[row.kind]} "{where}.img" && ' \
            f'mount -o loop "{where}.img" "{where}"'
    made = subprocess.run(command, shell=True, capture_output=True, text=True)
    if made.returncode:
        return f"skipped: cannot be made or mounted here: {made.stderr.strip()}"
    try:
        path = make(row, where)
        # The free space counts what the pieces gave back once the file system has committed.
        subprocess.run(["sync", "--file-system", where])
        volume = os.statvfs(where)
        edge = row.file.end + volume.f_bavail * volume.f_frsize + row.past_room
        requests = [edge]
        if row.expect == "edge":
            requests = [edge - 6144 * 2**k for k in range(32) if edge - 6144 * 2**k > row.file.end]
        before = snapshot(path, row.file.end)
        for request in requests:
            # PRESIZER_RUNNER starts another processor's program (qemu), as for the case table.
            command = os.environ.get("PRESIZER_RUNNER", "").split() + [program, path, str(request)]
            if row.user == "nobody":
                command = ["runuser", "-u", "nobody", "--"] + command
            done = subprocess.run(command, capture_output=True, timeout=120,
                                  env=dict(os.environ, ASAN_OPTIONS="detect_leaks=0"))
            after = snapshot(path, row.file.end)
            wrong = check(row, path, volume.f_frsize, request, before, after, done.stdout)
            if done.returncode or done.stderr:
                wrong = f"exit code {done.returncode}, standard error {done.stderr[-2000:]!r}"
            if wrong or done.stdout == OK:
                break
            before = after
        if not wrong and done.stdout != OK and row.expect == "edge":
            wrong = "no request was granted"
        return f"{row}, request {request}: {wrong}" if wrong else None
    finally:  # a loop mount frees its device when it goes; a busy one, once it is no longer busy
        if subprocess.run(["umount", where]).returncode:
            subprocess.run(["umount", "--lazy", where])


def main():
    if os.geteuid() != 0:
        print("skipped: needs root, for loop volumes")
        return 0
    # Stopped, it unmounts and removes what it made, as an interrupt does.
    signal.signal(signal.SIGTERM, signal.default_int_handler)
    top, tried = tempfile.mkdtemp(prefix="presizer-volumes-"), 0
    only = sys.argv[2] if len(sys.argv) > 2 else ""
    try:
        # A copy that nobody may run, whatever the folders above the build allow.
        os.chmod(top, 0o755)
        copy = shutil.copy(sys.argv[1], top)
        os.chmod(copy, 0o755)
        for row in ROWS:
            if only not in f"{row.kind}/{row.name}":
                continue
            wrong = run_row(copy, top, row)
            if wrong and not wrong.startswith("skipped:"):
                print(f"COUNTEREXAMPLE {row.kind}/{row.name}: {wrong}\nrows tried: {tried + 1}")
                return 1
            print(f"{row.kind}/{row.name}: {wrong or 'as expected'}", flush=True)
            if wrong is None:
                tried += 1
    finally:
        shutil.rmtree(top, ignore_errors=True)
    print(f"rows tried: {tried}" if tried else "skipped: no row could run here")
    return 0


if __name__ == "__main__":
    sys.exit(main())
