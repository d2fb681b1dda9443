# The built program on real files: what a script sees. One table of cases runs the Linux
# program (PRESIZER_PROGRAM) directly, or through the runner in PRESIZER_RUNNER: Wine for the
# Windows one, qemu for another processor's.
# Each case gives its target, arguments, words and exit code (per system where Wine answers
# differently) and what may change on disk; every run also proves that nothing else was lost:
# the kept bytes are compared before and after, new space must read as zeros, and growth on the
# fast path must be allocated while the ordinary path leaves a hole. Cases that need root skip
# without it.
import os
import re
import resource
import shutil
import socket
import subprocess
import time
from collections import namedtuple

import pytest

PROGRAM = os.path.abspath(os.environ["PRESIZER_PROGRAM"])
RUNNER = os.environ.get("PRESIZER_RUNNER", "").split()
MODULE = os.path.basename(PROGRAM)
WINE = RUNNER[0] if MODULE.endswith(".exe") else None
USAGE = (b"PRESIZER.exe FileName FileSize\r\n  Fast creation of file on NTFS volume without "
         b"clearing it\r\n  $ before FileSize means hexadecimal value\r\n  Needs high privileges "
         b"(Admin is Ok)\r\n  Vista+ have to be executed with elevated privileges\r\n")
GO = "File Preallocation..."
OK, FAIL, SAME = GO + "Ok\r\n", GO + "Fail\r\n", "File Already Has This Size"
PATTERN = bytes(65 + (i * 7) % 61 for i in range(4096))


report = lambda kind, text, module=MODULE: (
    f"Exception {kind} in module {module} at ########.\n{text}\r\n")
io = lambda text, after=GO: after + report("EInOutError", text)
win32 = lambda code, text: GO + report("EWin32Error", f"Win32 Error.  Code: {code}.\n{text}.")
NOT_INTEGER = report("EConvertError", "'abc' is not a valid integer value.")
RENAMED = "renamed.exe" if WINE else "renamed"
# words: None where they are not read; change: "same", "created", or the new length.
Expect = namedtuple("Expect", "words code change")
# windows and qemu: what the program says under that runner, where it differs.
Case = namedtuple("Case", "name target initial args linux windows output qemu", defaults=(None, "pipe", None))
LOST, NATIVE_ONLY = Expect(None, 1, "same"), "the runner's outcome, not the program's"
resized = lambda length, words=OK: Expect(words, 0 if words else 1, length)
kept = lambda words, code=1: Expect(words, code, "same")


CASES = [
    Case("Usage", "file", None, [], kept(USAGE.decode(), 255)),  # touches no file
    Case("CreateHex", "file", None, ["$A9f"], resized(0xA9F)),
    Case("CreateEmpty", "file", None, ["0"], Expect(SAME, 0, "created")),
    Case("Grow", "file", b"hello", ["8192"], resized(8192)),
    # The system's split arguments end at the first empty one; Wine skips a pair of quotes.
    Case("EmptyThirdArgument", "file", b"hello", ["8192", "", "x"], resized(8192), NATIVE_ONLY),
    Case("ShrinkToZero", "file", b"hello", ["+0"], resized(0)),
    Case("SameSize", "file", b"hello", ["   5"], kept(SAME, 0)),
    # Names outside any legacy code page, and look-alikes of a quote and a backslash, each
    # reach the one file they name.
    Case("UnicodeName", "Привет-日本-😀.bin", None, ["100"], resized(100)),
    Case("FullwidthQuote", "victim＂ 0 ＂x", None, ["100"], resized(100)),
    Case("FullwidthBackslash", "a＼b", None, ["100"], resized(100)),
    Case("RejectedSize", "file", PATTERN, ["abc"], kept(NOT_INTEGER)),
    Case("RejectedSizeNewFile", "file", None, ["abc"], Expect(NOT_INTEGER, 1, "created")),
    # The report names the program's own file, however long the folders above it.
    Case("RenamedProgram", "renamed", None, ["abc"],
         Expect(NOT_INTEGER.replace(MODULE, RENAMED), 1, "created")),
    # A low half of all ones is a real size, not a failure; the high half counts.
    Case("AllOnesLowHalf", "file", 2**32 - 1, ["4294967295"], kept(SAME, 0)),
    Case("Above4GiB", "file", 2**32 + 5, ["$100000005"], kept(SAME, 0)),
    Case("ShrinkFrom4GiB", "file", 2**32 + 5, ["4096", "x"], resized(4096)),
    Case("Ordinary2p32", "file", b"hello", ["$100000000", "x"], resized(2**32)),
    # ext4 refuses a position past its largest file; the seek refuses a negative one.
    Case("Ordinary2p63m1", "file", b"hello", [str(2**63 - 1), "x"],
         kept(win32(87, "Invalid argument")), kept(win32(87, "Invalid parameter"))),
    Case("FastMinus1", "file", b"hello", ["-1"], kept(win32(131, "Invalid argument")),
         kept(win32(131, "Negative seek"))),
    # No ordinary file. Only a missing file is created: one that cannot be opened is kept.
    Case("Directory", "dir", None, ["100"], kept(io("File access denied.", ""))),
    Case("MissingDirectory", "missing_dir", None, ["100"], kept(io("Invalid filename.", ""))),
    Case("LongName", "long_name", None, ["100"], kept(io("I/O error 206.", ""))),
    Case("LongPath", "long_path", None, ["100"], resized(100), kept(io("I/O error 206.", ""))),
    Case("Fifo", "fifo", None, ["100"], kept(win32(1, "Illegal seek")),
         kept(win32(1, "Invalid function"))),
    Case("DevNull", "devnull", None, ["100"], kept(io("I/O error 87.")),
         kept(io("I/O error 6."))),
    Case("Immutable", "immutable", PATTERN, ["100"], kept(io("File access denied.", ""))),
    Case("SymlinkLoop", "loop", None, ["100"], kept(io("I/O error 1921.", ""))),
    Case("Socket", "socket", None, ["100"], kept(io("I/O error 55.", "")),
         kept(io("I/O error 433.", ""))),
    Case("ReadOnlyVolume", "readonly", None, ["100"], kept(io("I/O error 19.", "")),
         kept(io("File access denied.", ""))),
    # Under qemu the running program is qemu; the file is only mapped, and qemu dies when it shrinks.
    Case("RunningProgram", "running", None, ["100"], kept(io("I/O error 32.", "")), qemu=NATIVE_ONLY),
    # A file-size limit ends in a report, never a signal. Under Wine the limit reaches Wine's
    # own processes rather than the program's calls.
    Case("FileSizeLimit", "file", PATTERN, ["1000000", "x"], kept(io("I/O error 112.")),
         NATIVE_ONLY, "fsize"),
    # A console (/dev/full is a character device) takes each word at once, so a failed progress
    # word stops the run before the file is touched; a pipe or a file collects the words, so
    # the file is resized and the lost last write makes the exit code 1.
    Case("StdoutClosed", "file", PATTERN, ["100000"], LOST, resized(100000, None), "closed"),
    Case("StdoutDevFull", "file", PATTERN, ["100000"], LOST, None, "devfull"),
    Case("StdoutDevNull", "file", PATTERN, ["100000"], Expect(None, 0, 100000), None, "devnull"),
    Case("StdoutBrokenPipe", "file", PATTERN, ["100000"], resized(100000, None), None, "broken"),
    Case("StdoutFile", "file", PATTERN, ["100000"], resized(100000), None, "file"),
    Case("StdoutFileOverLimit", "file", PATTERN, ["6000"], resized(6000, None), NATIVE_ONLY,
         "file_over_limit"),
    # Too little memory to copy the arguments: a report, never a signal. (The sanitizers alone
    # need more than that.)
    *[Case("OutOfMemory", "file", PATTERN, ["5"] + ["a" * 120000] * 46,
           kept(f"Exception Exception in module {MODULE} at 00000000.\nOut of memory.\r\n"),
           NATIVE_ONLY, "little_memory", NATIVE_ONLY)
      ] * (not os.environ.get("PRESIZER_SANITIZED")),
]


host = lambda path: "Z:" + path.replace("/", "\\") if WINE and path[:1] == "/" else path  # Wine's Z:


def run(args, output="pipe", program=PROGRAM, cwd="."):
    # The exit code and the words printed, or None where they are not read.
    stdout, words_file = subprocess.PIPE, os.path.join(cwd, "words.txt")
    if output.startswith("file"):  # after 8 KiB already there, over the limit, where so named
        open(words_file, "wb").truncate(8192 if output == "file_over_limit" else 0)
    if output.startswith(("dev", "file")):
        stdout = os.open("/dev/" + output[3:] if output[:3] == "dev" else words_file, os.O_APPEND | os.O_WRONLY)
    elif output == "broken":  # the reader is gone before the program starts
        reader, stdout = os.pipe()
        os.close(reader)

    limit = lambda: resource.setrlimit(resource.RLIMIT_FSIZE, (8192, 8192))
    # Room on the stack for 5.5 MB of arguments, and memory for them once but not twice.
    memory = lambda: [resource.setrlimit(r, (n << 20, n << 20)) for r, n in
                      ((resource.RLIMIT_STACK, 32), (resource.RLIMIT_AS, 10))]
    prepare = {"closed": lambda: os.close(1), "fsize": limit, "file_over_limit": limit,
               "little_memory": memory}.get(output)
    # Wine reads the arguments in the locale's character set.
    p = subprocess.Popen(RUNNER + [host(program)] + args, stdout=stdout, stderr=subprocess.PIPE,
                         cwd=cwd, preexec_fn=prepare, env=dict(os.environ, LC_ALL="C.UTF-8"))
    if stdout != subprocess.PIPE:
        os.close(stdout)
    words, errors = p.communicate(timeout=120)
    assert errors == b"", "nothing may go to standard error"
    words = open(words_file, "rb").read() if output == "file" else words
    return p.returncode, words if output in ("pipe", "fsize", "file", "little_memory") else None


@pytest.fixture
def volume(tmp_path):
    # Mounts a new volume, tmpfs or a file system on a loop device, or skips.
    mounted = []

    def mount(kind, size="1m", options=""):
        where = str(tmp_path / kind)
        os.makedirs(where)
        args = ["-t", "tmpfs", "-o", f"size={size}{options}", "tmpfs"]
        if kind != "tmpfs":
            os.truncate(open(where + ".img", "wb").name, 300 << 20)
            mkfs = ["mkfs." + kind, "-q"] + (["-F"] if kind.startswith("ext") else [])
            if not shutil.which(mkfs[0]) or subprocess.run(mkfs + [where + ".img"]).returncode:
                pytest.skip(f"{mkfs[0]} is missing or failed")
            args = ["-o", "loop", where + ".img"]
        if os.geteuid() != 0 or subprocess.run(["mount"] + args + [where]).returncode:
            pytest.skip(f"{kind} cannot be mounted here (root is needed)")
        mounted.append(where)
        return where

    yield mount
    for where in mounted:
        subprocess.run(["umount", where])


def ends(path, start, end):
    # Up to a MiB from `start`: enough to compare files of many GiB in bounded time. An empty
    # stretch never opens the file, which for a FIFO would wait for a writer.
    if start >= end:
        return b""
    with open(path, "rb") as f:
        f.seek(start)
        return f.read(min(end - start, 1 << 20))


zeros = lambda path, start, end: not ends(path, start, end).strip(b"\0")
matches = lambda expected, printed: re.fullmatch(  # "########": the raising code's position
    re.escape(expected).replace(re.escape("#" * 8), "(?!0{8})[0-9A-F]{8}").encode(), printed)


def target(case, tmp_path, volume):
    kind = case.target
    path = str(tmp_path / ("target" if kind.isascii() else kind))
    (tmp_path / "victim").write_bytes(PATTERN)  # a file and a folder that no name may reach
    (tmp_path / "a").mkdir()
    if kind == "readonly":
        path = volume("tmpfs", options=",ro") + "/target"
    elif kind in ("long_path", "renamed"):  # short components, 300 characters in all
        folder = str(tmp_path) + ("/" + "d" * 40) * ((240 - len(str(tmp_path))) // 41)
        path = os.makedirs(folder) or folder + "/" + "f" * (300 - len(folder) - 1)
    # The program itself, run from its own place: a copy, or one in a folder past 260 characters.
    program = {"running": str(tmp_path / MODULE), "renamed": f"{path}/{RENAMED}"}.get(kind)
    path = {"missing_dir": path + "/none/target", "long_name": path + "n" * 294, "renamed":
            str(tmp_path / "target"), "devnull": "/dev/null", "running": program}.get(kind, path)
    make = {"dir": os.mkdir, "fifo": os.mkfifo, "loop": lambda p: os.symlink("target", p),
            "socket": lambda p: socket.socket(socket.AF_UNIX).bind(p),
            "running": lambda p: shutil.copy(PROGRAM, p), "renamed": lambda p: os.makedirs(
                os.path.dirname(program)) or shutil.copy(PROGRAM, program)}.get(kind, lambda p: None)
    make(path)
    if case.initial is not None:
        with open(path, "wb") as f:
            f.write(case.initial) if isinstance(case.initial, bytes) else f.truncate(case.initial)
    if kind == "immutable" and subprocess.run(["chattr", "+i", path]).returncode:
        pytest.skip("chattr +i needs root and a file system with the attribute")
    return path, program or PROGRAM


size = lambda path: ((os.lstat(path).st_size if os.path.isfile(path) else 0)  # None: nothing
                     if os.path.lexists(path) else None)


@pytest.mark.parametrize("case", CASES, ids=[c.name for c in CASES])
def test_case(case, tmp_path, volume, record_property):
    expect = (case.windows if WINE else case.qemu if RUNNER else None) or case.linux
    if expect == NATIVE_ONLY:
        pytest.skip(NATIVE_ONLY)
    path, program = target(case, tmp_path, volume)
    before, regular, grows = size(path), os.path.isfile(path), isinstance(expect.change, int)
    keep = min(before or 0, expect.change) if grows else before or 0
    kept_bytes = regular and ends(path, 0, keep)
    try:
        code, words = run([host(path)] + case.args, case.output, program, str(tmp_path))
    finally:
        if case.target == "immutable":
            subprocess.run(["chattr", "-i", path])
    grows = grows and expect.change > (before or 0)
    lost = size(path) != {"same": before, "created": 0}.get(expect.change, expect.change) or (
        regular and ends(path, 0, keep) != kept_bytes) or (
        grows and not zeros(path, before or 0, expect.change))
    record_property("exit_code", code)
    record_property("nothing_lost", "no" if lost else "yes")
    assert code == expect.code
    assert expect.words is None or matches(expect.words, words), words
    assert not lost, f"size before {before}, after {size(path)}"
    assert (tmp_path / "victim").read_bytes() == PATTERN and not os.listdir(tmp_path / "a")
    if grows:  # the fast path allocates, the ordinary one does not
        allocated = os.stat(path).st_blocks * 512
        fast = len(case.args) == 1 or case.args[1] == ""
        assert allocated >= expect.change if fast else allocated < expect.change


# "Ok" on the fast path must mean allocated blocks beyond the old end, and holes below it left
# alone. No room: "Fail" must leave length, bytes and the volume's free blocks as they were, even
# where a hole below the old end could have taken them, while the ordinary path only moves the
# end, which a hole needs no room for. ext2 has no fallocate; Wine then writes the space instead.
# Wine's own valid-data call reserves from the start of the file, holes included, and on ext4
# and ext2 a refused one keeps what it took.
@pytest.mark.parametrize("kind,fast", [("tmpfs", OK), ("ext4", OK), ("xfs", OK), ("btrfs", OK),
                                       ("ext2", OK if WINE else FAIL)])
def test_file_system(kind, fast, volume):
    where, length, hole = volume(kind, size="300m"), 192 << 20, 128 << 20
    taken = lambda name: os.sync() or (os.stat(f"{where}/{name}").st_blocks, os.statvfs(where).f_bfree)
    for name, args, words in (("fast", [], fast), ("ordinary", ["x"], OK), ("full", [], FAIL)):
        open(f"{where}/{name}", "wb").write(PATTERN)
        os.truncate(f"{where}/{name}", {"fast": hole, "full": 200 << 20}.get(name, len(PATTERN)))
        before = taken(name)
        wanted = str(length if name == "fast" else 1 << 30)
        assert run([host(f"{where}/{name}"), wanted] + args) == (0, words.encode()), name
    allocated = os.stat(where + "/fast").st_blocks * 512
    if fast == OK:
        assert allocated >= length if WINE else length - hole <= allocated < length
        assert zeros(where + "/fast", len(PATTERN), length)
    for name, end in (("fast", length if fast == OK else hole), ("ordinary", 1 << 30),
                      ("full", 200 << 20)):
        assert os.path.getsize(f"{where}/{name}") == end and ends(f"{where}/{name}", 0, 4096) == PATTERN
    assert os.stat(where + "/ordinary").st_blocks * 512 < 1 << 20
    assert (WINE and kind in ("ext4", "ext2")) or taken("full") == before
    # The old end in a hole and inside a block, and room for all but a MiB: the reservation may
    # run out part way, and must then give back every block. The data lies in five pieces, so
    # that ext4 keeps their list in a block of its own already. (Wine brings its own call.)
    edge, end = f"{where}/edge", (4 << 16) + 5000
    with open(edge, "wb") as f:
        for piece in range(5):
            f.seek(piece << 16)
            f.write(PATTERN)
        f.truncate(end)
    before, free = taken("edge"), os.statvfs(where)
    wanted = end + free.f_bfree * free.f_frsize - (1 << 20)
    words = run([host(edge), str(wanted)])[1]
    assert (WINE or taken("edge") == before) if words == FAIL.encode() else (
        words == OK.encode() and taken("edge")[0] * 512 >= 5 * len(PATTERN) + wanted - end)


@pytest.mark.skipif(WINE is not None or not shutil.which("strace"), reason="strace, Linux")
def test_file_made_after_the_failed_open_is_kept(tmp_path):
    # The open finds nothing and is held back; meanwhile another program writes the file, which
    # the create step must then open as it is.
    path, log, data = str(tmp_path / "t"), str(tmp_path / "log"), b"written by another program"
    open(log, "w").close()
    p = subprocess.Popen(["strace", "-f", "-o", log, "-P", path, "-e", "trace=openat", "-e",
                          "inject=openat:delay_exit=1000000:when=1", *RUNNER, PROGRAM, path, "100"],
                         stdout=subprocess.PIPE)
    while p.poll() is None and "openat" not in open(log).read():
        time.sleep(0.01)
    open(path, "wb").write(data)
    assert p.communicate()[0] == OK.encode()
    assert open(path, "rb").read() == data + bytes(100 - len(data))


def sessions():
    # The example sessions of README.md and of the manual page, each document's in one folder:
    # a "$ " line is a command, the lines up to the next one are what it prints.
    top = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
    readme, man = (open(f"{top}/{name}").read() for name in ("README.md", "docs/presizer.1"))
    man = re.sub(r"\\(\(aq|-|e)", lambda m: {"(aq": "'", "-": "-", "e": "\\"}[m[1]], man)
    return [[(c, "".join(line + "\n" for line in o.split("\n") if line)) for text in blocks
             for c, o in re.findall(r"^\$ (.*)\n((?:(?!\$ ).*\n)*)", text, re.M)]
            for blocks in (re.findall(r"```sh\n(\$ .*?)```", readme, re.S),
                           re.findall(r"\.EX\n(\$ .*?)\.EE", man, re.S))]


@pytest.mark.skipif(bool(RUNNER), reason="the examples show the Linux program, run directly")
@pytest.mark.parametrize("session", sessions(), ids=["README.md", "presizer.1"])
def test_documented_session(session, tmp_path):
    # Run in one shell, each command's status kept for the next one's "echo $?".
    script = "".join(f"{c}\ns=$?; printf '\\0'; (exit $s)\n" for c, _ in session)
    printed = subprocess.run(["bash", "-c", script], cwd=tmp_path, capture_output=True, env=dict(
        os.environ, PATH=os.path.dirname(PROGRAM) + ":" + os.environ["PATH"])).stdout.decode()
    mask = lambda text: re.sub(r" at [0-9A-F]{8}\.\n", " at ########.\n", text.replace("\r\n", "\n"))
    assert [mask(o) for o in printed.split("\0")[:-1]] == [mask(o) for _, o in session]
