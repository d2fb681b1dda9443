# The built program on real files: what a script sees. One table of cases runs the Linux
# program (PRESIZER_PROGRAM) directly, or through the runner in PRESIZER_RUNNER: Wine for the
# Windows one, qemu for another processor's.
#
# A row gives the target, the arguments after it, the words, the exit code and the target's size
# afterwards; where the Windows program answers otherwise under Wine, `wine` says how. Every run
# also proves that nothing else was lost: the kept bytes are compared before and after, new space
# must read as zeros, growth on the fast path must be allocated while the ordinary path leaves a
# hole, and a bystander file and folder beside the target stay as they were. Cases that need root
# skip without it.
import os
import re
import resource
import shutil
import socket
import subprocess
from dataclasses import dataclass
from typing import Callable, Optional, Union

import pytest

PROGRAM = os.path.abspath(os.environ["PRESIZER_PROGRAM"])
RUNNER = os.environ.get("PRESIZER_RUNNER", "").split()
MODULE = os.path.basename(PROGRAM)
UNDER_WINE = MODULE.endswith(".exe")
UNDER_QEMU = bool(RUNNER) and not UNDER_WINE
SANITIZED = os.environ.get("PRESIZER_SANITIZED") == "1"

USAGE = ("PRESIZER.exe FileName FileSize\r\n"
         "  Fast creation of file on NTFS volume without clearing it\r\n"
         "  $ before FileSize means hexadecimal value\r\n"
         "  Needs high privileges (Admin is Ok)\r\n"
         "  Vista+ have to be executed with elevated privileges\r\n")
GO = "File Preallocation..."
OK = GO + "Ok\r\n"
FAIL = GO + "Fail\r\n"
SAME = "File Already Has This Size"
LOST = None  # the words went where the test cannot read them
PATTERN = bytes(65 + (i * 7) % 61 for i in range(4096))
RENAMED = "renamed.exe" if UNDER_WINE else "renamed"


def report(kind, text, module=MODULE):
    # "########" stands for the raising code's position.
    return f"Exception {kind} in module {module} at ########.\n{text}\r\n"


def io_error(text, after=GO):
    return after + report("EInOutError", text)


def open_error(text):  # the file could not be opened or made, so no word came before
    return io_error(text, after="")


def win32_error(code, text, after=GO):
    return after + report("EWin32Error", f"Win32 Error.  Code: {code}.\n{text}.")


INVALID_NAME = win32_error(123, "Invalid name", after="")
TOO_LONG = win32_error(206, "File name too long", after="")
NOT_INTEGER = report("EConvertError", "'abc' is not a valid integer value.")
OUT_OF_MEMORY = f"Exception Exception in module {MODULE} at 00000000.\nOut of memory.\r\n"


@dataclass(frozen=True)
class Outcome:  # what the Windows program does under Wine, where that differs
    words: Optional[str]
    code: int = 1  # where Wine answers otherwise, it has always been a failure
    size: Optional[int] = None


# Folders of 40 characters, then a file: longer than Windows' 260 characters wherever the test's
# folder lies.
LONG_PATH = "/".join(["d" * 40] * 6 + ["f" * 50])


# Makers of what a case's path names, each given the full path.
def immutable_file(path):
    with open(path, "wb") as f:
        f.write(PATTERN)
    if subprocess.run(["chattr", "+i", path]).returncode:
        pytest.skip("chattr +i needs root and a file system with the attribute")


def symlink_to_itself(path):
    os.symlink(os.path.basename(path), path)


def symlink_into_missing_folder(path):
    os.symlink("none/target", path)


def unix_socket(path):
    socket.socket(socket.AF_UNIX).bind(path)


def folders_above(path):
    os.makedirs(os.path.dirname(path))


def read_only_volume_above(path):
    mount(os.path.dirname(path), "tmpfs", options=",ro")


# Where standard output goes, other than a pipe the test reads: each opens the descriptor that
# the program writes to, in the test's folder.
def dev_full():  # a character device that takes nothing
    return os.open("/dev/full", os.O_WRONLY)


def dev_null():
    return os.open("/dev/null", os.O_WRONLY)


def broken_pipe():  # its reader is gone before the program starts
    reader, writer = os.pipe()
    os.close(reader)
    return writer


def words_file():  # the test reads it afterwards
    return os.open("words.txt", os.O_CREAT | os.O_APPEND | os.O_WRONLY)


def full_words_file():  # 8 KiB already
    with open("words.txt", "wb") as f:
        f.truncate(8192)
    return words_file()


# What the program's process does to itself before the program starts.
def close_stdout():
    os.close(1)


def limit_file_size():
    resource.setrlimit(resource.RLIMIT_FSIZE, (8192, 8192))


def limit_memory():  # room on the stack for 5.5 MB of arguments, and memory for them only once
    resource.setrlimit(resource.RLIMIT_STACK, (32 << 20, 32 << 20))
    resource.setrlimit(resource.RLIMIT_AS, (10 << 20, 10 << 20))


@dataclass(frozen=True)
class Case:
    name: str
    args: list  # after the target
    words: Optional[str]  # what a script sees on standard output, or LOST
    code: int = 0
    size: Optional[int] = None  # the target's size afterwards; None: as it was
    path: str = "target"  # from the test's folder, beside a bystander file "victim" and folder "a"
    make: Optional[Callable] = None  # makes what the path names; else nothing is there
    content: Union[bytes, int, None] = None  # written to the target first; a number: a hole
    program: Optional[str] = None  # run a copy of the program from this path in the folder
    stdout: Optional[Callable] = None  # opens where standard output goes; else a pipe the test reads
    before_start: Optional[Callable] = None  # run by the program's process before it starts
    wine: Optional[Outcome] = None


def skip_if(condition, reason, case):
    return pytest.param(case, id=case.name, marks=pytest.mark.skipif(condition, reason=reason))


LIMIT_UNDER_WINE = "the limit reaches Wine's own processes rather than the program's calls"

CASES = [
    Case("Usage", [], USAGE, code=255),  # touches no file
    Case("CreateHex", ["$A9f"], OK, size=0xA9F),
    Case("CreateEmpty", ["0"], SAME, size=0),
    Case("Grow", ["8192"], OK, size=8192, content=b"hello"),
    skip_if(UNDER_WINE, "Wine skips a pair of quotes",
            Case("EmptyThirdArgument", ["8192", "", "x"], OK, size=8192, content=b"hello")),
    Case("ShrinkToZero", ["+0"], OK, size=0, content=b"hello"),
    Case("SameSize", ["   5"], SAME, content=b"hello"),
    # Names outside any legacy code page, and look-alikes of a quote and a backslash, each
    # reach the one file they name.
    Case("UnicodeName", ["100"], OK, size=100, path="Привет-日本-😀.bin"),
    Case("FullwidthQuote", ["100"], OK, size=100, path="victim＂ 0 ＂x"),
    Case("FullwidthBackslash", ["100"], OK, size=100, path="a＼b"),
    Case("RejectedSize", ["abc"], NOT_INTEGER, code=1, content=PATTERN),
    Case("RejectedSizeNewFile", ["abc"], NOT_INTEGER, code=1, size=0),
    # The report names the program's own file, however long the folders above it.
    Case("RenamedProgram", ["abc"], NOT_INTEGER.replace(MODULE, RENAMED), code=1, size=0,
         program=LONG_PATH + "/" + RENAMED),
    # A low half of all ones is a real size, not a failure; the high half counts.
    Case("AllOnesLowHalf", ["4294967295"], SAME, content=2**32 - 1),
    Case("Above4GiB", ["$100000005"], SAME, content=2**32 + 5),
    Case("ShrinkFrom4GiB", ["4096", "x"], OK, size=4096, content=2**32 + 5),
    Case("Ordinary2p32", ["$100000000", "x"], OK, size=2**32, content=b"hello"),
    # ext4 refuses a position past its largest file; the seek refuses a negative one.
    Case("Ordinary2p63m1", [str(2**63 - 1), "x"], win32_error(87, "Invalid argument"), code=1,
         content=b"hello", wine=Outcome(win32_error(87, "Invalid parameter"))),
    Case("FastMinus1", ["-1"], win32_error(131, "Invalid argument"), code=1, content=b"hello",
         wine=Outcome(win32_error(131, "Negative seek"))),
    # No ordinary file. Only a missing file is created: one that cannot be opened is kept.
    Case("Directory", ["100"], open_error("File access denied."), code=1, make=os.mkdir),
    Case("MissingDirectory", ["100"], open_error("Invalid filename."), code=1, path="none/target"),
    Case("LongName", ["100"], open_error("I/O error 206."), code=1, path="n" * 300),
    Case("LongPath", ["100"], OK, size=100, path=LONG_PATH, make=folders_above,
         wine=Outcome(open_error("I/O error 206."))),
    Case("Fifo", ["100"], win32_error(1, "Illegal seek"), code=1, make=os.mkfifo,
         wine=Outcome(win32_error(1, "Invalid function"))),
    Case("DevNull", ["100"], io_error("I/O error 87."), code=1, path="/dev/null",
         wine=Outcome(io_error("I/O error 6."))),
    Case("Immutable", ["100"], open_error("File access denied."), code=1, make=immutable_file),
    Case("SymlinkLoop", ["100"], open_error("I/O error 1921."), code=1, make=symlink_to_itself),
    Case("DanglingSymlink", ["100"], open_error("File not found."), code=1,
         make=symlink_into_missing_folder),
    Case("Socket", ["100"], open_error("I/O error 55."), code=1, make=unix_socket,
         wine=Outcome(open_error("I/O error 433."))),
    Case("ReadOnlyVolume", ["100"], open_error("I/O error 19."), code=1, path="ro/target",
         make=read_only_volume_above, wine=Outcome(open_error("File access denied."))),
    skip_if(UNDER_QEMU, "the running process is qemu, which dies when the mapped file shrinks",
            Case("RunningProgram", ["100"], open_error("I/O error 32."), code=1, path=MODULE,
                 program=MODULE)),
    # A file-size limit ends in a report, never a signal.
    skip_if(UNDER_WINE, LIMIT_UNDER_WINE,
            Case("FileSizeLimit", ["1000000", "x"], io_error("I/O error 112."), code=1,
                 content=PATTERN, before_start=limit_file_size)),
    # A console (/dev/full is a character device) takes each word at once, so a failed progress
    # word stops the run before the file is touched; a pipe or a file collects the words, so
    # the file is resized and the lost last write makes the exit code 1.
    Case("StdoutClosed", ["100000"], LOST, code=1, content=PATTERN, before_start=close_stdout,
         wine=Outcome(LOST, size=100000)),
    Case("StdoutDevFull", ["100000"], LOST, code=1, content=PATTERN, stdout=dev_full),
    Case("StdoutDevNull", ["100000"], LOST, size=100000, content=PATTERN, stdout=dev_null),
    Case("StdoutBrokenPipe", ["100000"], LOST, code=1, size=100000, content=PATTERN,
         stdout=broken_pipe),
    Case("StdoutFile", ["100000"], OK, size=100000, content=PATTERN, stdout=words_file),
    skip_if(UNDER_WINE, LIMIT_UNDER_WINE,
            Case("StdoutFileOverLimit", ["6000"], LOST, code=1, size=6000, content=PATTERN,
                 stdout=full_words_file, before_start=limit_file_size)),
    # The common quoting writes a quote inside a name as \", which by the tool's own splitting
    # would end a quoted stretch and hand the rest on: to "victim" and "a\x", with the size 0.
    # The Windows program refuses such a line; on Linux these are ordinary names.
    Case("BackslashQuote", ["100"], OK, size=100, path='sub\\..\\"victim 0 z"',
         wine=Outcome(INVALID_NAME)),
    Case("QuoteInName", ["100"], OK, size=100, path='a"x 0 y"', wine=Outcome(INVALID_NAME)),
    # No argument is cut: one past 4096 characters is refused before the file is made.
    Case("Size4097Characters", ["0" * 4093 + "1005"], TOO_LONG, code=1,
         wine=Outcome(win32_error(206, "File name is too long", after=""))),
    Case("Size4096Characters", ["0" * 4092 + "1005"], OK, size=1005),
    # Too little memory to copy the arguments: a report, never a signal.
    skip_if(bool(RUNNER) or SANITIZED, "the limit would fall on the runner, or on the sanitizers",
            Case("OutOfMemory", ["5"] + ["a" * 120000] * 46, OUT_OF_MEMORY, code=1,
                 content=PATTERN, before_start=limit_memory)),
]


def host(path):  # Wine sees the Linux root as drive Z:
    return "Z:" + path.replace("/", "\\") if UNDER_WINE and path.startswith("/") else path


def run(args, stdout=None, before_start=None, program=PROGRAM):
    # The exit code, and the words printed where the test can read them.
    descriptor = stdout() if stdout else subprocess.PIPE
    # Wine reads the arguments in the locale's character set.
    p = subprocess.Popen(RUNNER + [host(program)] + args, stdout=descriptor, stderr=subprocess.PIPE,
                         preexec_fn=before_start, env=dict(os.environ, LC_ALL="C.UTF-8"))
    if stdout:
        os.close(descriptor)
    words, errors = p.communicate(timeout=120)
    assert errors == b"", "nothing may go to standard error"
    if stdout == words_file:
        words = open("words.txt", "rb").read()
    return p.returncode, words


mounted = []


def mount(where, kind, size="1m", options=""):  # a new volume on a new folder, or a skip
    where = os.path.abspath(where)
    os.makedirs(where)
    args = ["-t", "tmpfs", "-o", f"size={size}{options}", "tmpfs"]
    if kind != "tmpfs":
        with open(where + ".img", "wb") as image:
            image.truncate(300 << 20)
        mkfs = ["mkfs." + kind, "-q"] + (["-F"] if kind.startswith("ext") else [])
        if not shutil.which(mkfs[0]) or subprocess.run(mkfs + [where + ".img"]).returncode:
            pytest.skip(f"{mkfs[0]} is missing or failed")
        args = ["-o", "loop", where + ".img"]
    if os.geteuid() != 0 or subprocess.run(["mount"] + args + [where]).returncode:
        pytest.skip(f"{kind} cannot be mounted here (root is needed)")
    mounted.append(where)
    return where


@pytest.fixture(autouse=True)
def unmount_at_end():
    yield
    while mounted:
        subprocess.run(["umount", mounted.pop()])


def ends(path, start, end):
    # Up to a MiB from `start`: enough to compare files of many GiB in bounded time. An empty
    # stretch never opens the file, which for a FIFO would wait for a writer.
    if start >= end:
        return b""
    with open(path, "rb") as f:
        f.seek(start)
        return f.read(min(end - start, 1 << 20))


def zeros(path, start, end):
    return not ends(path, start, end).strip(b"\0")


def matches(expected, printed):
    pattern = re.escape(expected).replace(re.escape("#" * 8), "(?!0{8})[0-9A-F]{8}")
    return re.fullmatch(pattern.encode(), printed) is not None


def size(path):  # None: nothing there; 0: not a regular file
    if not os.path.lexists(path):
        return None
    return os.lstat(path).st_size if os.path.isfile(path) else 0


def case_name(case):
    return case.name


@pytest.mark.parametrize("case", CASES, ids=case_name)
def test_case(case, tmp_path, monkeypatch, record_property):
    monkeypatch.chdir(tmp_path)
    expect = case.wine if UNDER_WINE and case.wine else Outcome(case.words, case.code, case.size)
    (tmp_path / "victim").write_bytes(PATTERN)
    os.mkdir("a")
    path = case.path
    if case.make:
        case.make(path)
    program = PROGRAM
    if case.program:
        program = os.path.abspath(case.program)
        os.makedirs(os.path.dirname(program), exist_ok=True)
        shutil.copy(PROGRAM, program)
    if isinstance(case.content, bytes):
        (tmp_path / path).write_bytes(case.content)
    if isinstance(case.content, int):
        with open(path, "wb") as f:
            f.truncate(case.content)

    before, regular = size(path), os.path.isfile(path)
    after = before if expect.size is None else expect.size
    kept_bytes = ends(path, 0, min(before, after)) if regular else None
    try:
        code, words = run([host(path)] + case.args, case.stdout, case.before_start, program)
    finally:
        if case.make == immutable_file:
            subprocess.run(["chattr", "-i", path])

    grown = after is not None and after > (before or 0)
    lost = (size(path) != after or (regular and ends(path, 0, min(before, after)) != kept_bytes)
            or (grown and not zeros(path, before or 0, after)))
    record_property("exit_code", code)
    record_property("nothing_lost", "no" if lost else "yes")
    assert code == expect.code
    if expect.words is not LOST:
        assert matches(expect.words, words), words
    assert not lost, f"size before {before}, after {size(path)}"
    assert (tmp_path / "victim").read_bytes() == PATTERN
    assert os.listdir("a") == []
    if grown:  # the fast path allocates, the ordinary one leaves a hole
        allocated = os.stat(path).st_blocks * 512
        if len(case.args) == 1 or case.args[1] == "":
            assert allocated >= after
        else:
            assert allocated < after


def blocks_and_free_space(path):
    os.sync()
    return os.stat(path).st_blocks, os.statvfs(os.path.dirname(path)).f_bfree


def data_then_hole(path, end):
    with open(path, "wb") as f:
        f.write(PATTERN)
        f.truncate(end)


# "Ok" on the fast path must mean allocated blocks beyond the old end, and holes below it left
# alone; ext2 has no fallocate, so there it is "Fail", while Wine writes the space instead. Wine's
# own valid-data call reserves from the start of the file, holes included.
@pytest.mark.parametrize("kind,fast", [("tmpfs", OK), ("ext4", OK), ("xfs", OK), ("btrfs", OK),
                                       ("ext2", OK if UNDER_WINE else FAIL)])
def test_file_system(kind, fast, tmp_path):
    where = mount(str(tmp_path / kind), kind, size="300m")
    fast_file, old_end, new_end = where + "/fast", 128 << 20, 192 << 20
    data_then_hole(fast_file, old_end)
    assert run([host(fast_file), str(new_end)]) == (0, fast.encode())
    assert ends(fast_file, 0, 4096) == PATTERN
    if fast == OK:
        allocated = os.stat(fast_file).st_blocks * 512
        assert allocated >= new_end if UNDER_WINE else new_end - old_end <= allocated < new_end
        assert zeros(fast_file, len(PATTERN), new_end)
    else:
        assert os.path.getsize(fast_file) == old_end

    # The old end in a hole and inside a block, and room for all but a MiB: the reservation may
    # run out part way, and "Fail" must then leave the length, the file's blocks and the volume's
    # free space as they were. The data lies in five pieces, so that ext4 keeps their list in a
    # block of its own already. (Wine brings its own call, which on ext4 and ext2 keeps what it
    # took.)
    edge, end = where + "/edge", (4 << 16) + 5000
    with open(edge, "wb") as f:
        for piece in range(5):
            f.seek(piece << 16)
            f.write(PATTERN)
        f.truncate(end)
    before, volume = blocks_and_free_space(edge), os.statvfs(where)
    wanted = end + volume.f_bfree * volume.f_frsize - (1 << 20)
    _, words = run([host(edge), str(wanted)])
    if words == FAIL.encode():
        assert os.path.getsize(edge) == end
        assert UNDER_WINE or blocks_and_free_space(edge) == before
    else:
        assert words == OK.encode()
        assert os.stat(edge).st_blocks * 512 >= 5 * len(PATTERN) + wanted - end


def session(document):
    # A document's example sessions: a "$ " line is a command, the lines up to the next one are
    # what it prints.
    text = open(os.path.join(os.path.dirname(__file__), "..", document)).read()
    if document.endswith(".md"):
        blocks = re.findall(r"```sh\n(\$ .*?)```", text, re.S)
    else:
        text = text.replace("\\(aq", "'").replace("\\-", "-").replace("\\e", "\\")
        blocks = re.findall(r"\.EX\n(\$ .*?)\.EE", text, re.S)
    found = [re.findall(r"^\$ (.*)\n((?:(?!\$ ).*\n)*)", block, re.M) for block in blocks]
    return [(command, "".join(line + "\n" for line in output.split("\n") if line))
            for pairs in found for command, output in pairs]


def mask_position(text):
    return re.sub(r" at [0-9A-F]{8}\.\n", " at ########.\n", text.replace("\r\n", "\n"))


@pytest.mark.skipif(bool(RUNNER), reason="the examples show the Linux program, run directly")
@pytest.mark.parametrize("document", ["README.md", "docs/presizer.1"])
def test_documented_session(document, tmp_path):
    pairs = session(document)
    # Run in one shell, each command's status kept for the next one's "echo $?".
    script = "".join(f"{command}\ns=$?; printf '\\0'; (exit $s)\n" for command, _ in pairs)
    env = dict(os.environ, PATH=os.path.dirname(PROGRAM) + ":" + os.environ["PATH"])
    printed = subprocess.run(["bash", "-c", script], cwd=tmp_path, capture_output=True, env=env)
    assert [mask_position(o) for o in printed.stdout.decode().split("\0")[:-1]] == [
        mask_position(o) for _, o in pairs]
