# The built program on real files: what a script sees. One table of cases runs the Linux
# program (PRESIZER_PROGRAM) directly, or through the runner in PRESIZER_RUNNER: Wine for the
# Windows one, qemu for another processor's.
#
# A row gives the target, the arguments after it, the words, the exit code and the target's size
# afterwards; where the Windows program answers otherwise under Wine, `wine` says how. Every run
# also proves that nothing else was lost: the kept bytes are compared before and after, new space
# must read as zeros, growth on the fast path must be allocated while the ordinary path leaves a
# hole, a bystander file beside the target keeps its bytes, and nothing is made or removed in the
# test's folder but the target, at any depth.
import fcntl, os, pathlib, re, resource, shutil, struct, subprocess, time, typing
from dataclasses import dataclass

import pytest

# Run by hand, the native build's static program: python3 -m pytest tests/program_test.py -k Grow
PROGRAM = os.path.abspath(os.environ.get("PRESIZER_PROGRAM") or os.path.join(
    os.path.dirname(__file__), "..", "build", "native", "static", "presizer"))
if not os.path.exists(PROGRAM):
    pytest.exit(f"{PROGRAM} is missing: build it with the native preset, or set PRESIZER_PROGRAM")
RUNNER = os.environ.get("PRESIZER_RUNNER", "").split()
MODULE = os.path.basename(PROGRAM)
UNDER_WINE = MODULE.endswith(".exe")

USAGE = ("PRESIZER.exe FileName FileSize\r\n"
         "  Fast creation of file on NTFS volume without clearing it\r\n"
         "  $ before FileSize means hexadecimal value\r\n"
         "  Needs high privileges (Admin is Ok)\r\n"
         "  Vista+ have to be executed with elevated privileges\r\n")
GO = "File Preallocation..."
OK = GO + "Ok\r\n"
SAME = "File Already Has This Size"
LOST = None  # the words went where the test cannot read them
PATTERN = bytes(65 + (i * 7) % 61 for i in range(4096))
RENAMED = "renamed.exe" if UNDER_WINE else "renamed"


# A failure's report; a row puts GO before it where the run got that far. "########" stands for
# the raising code's position.
def report(kind, text, module=MODULE):
    return f"Exception {kind} in module {module} at ########.\n{text}\r\n"


def io_error(text):
    return report("EInOutError", text)


def win32_error(code, text):
    return report("EWin32Error", f"Win32 Error.  Code: {code}.\n{text}.")


INVALID_NAME = win32_error(123, "Invalid name")
NOT_INTEGER = report("EConvertError", "'abc' is not a valid integer value.")


@dataclass(frozen=True)
class Outcome:  # what the Windows program does under Wine, where that differs
    words: str | None
    code: int = 1  # where Wine answers otherwise, it has always been a failure
    size: int | None = None


# Folders of 40 characters, then a file: longer than Windows' 260 characters wherever the test's
# folder lies.
LONG_PATH = "/".join(["d" * 40] * 6 + ["f" * 50])


# What the program's process does to itself before the program starts.
def close_stdout():
    os.close(1)


def reader_gone():  # standard output a pipe that nobody reads
    reader, writer = os.pipe()
    os.close(reader)
    os.dup2(writer, 1)


def limit_file_size():  # to 1 MiB; Wine's server, which sets the end, is not limited
    resource.setrlimit(resource.RLIMIT_FSIZE, (1 << 20, 1 << 20))


@dataclass(frozen=True)
class Case:
    name: str
    args: list  # after the target
    words: str | None  # what a script sees on standard output, or LOST
    code: int = 0
    size: int | None = None  # the target's size afterwards; None: as it was
    path: str = "target"  # from the test's folder, beside a bystander file "victim" and folder "a"
    folders_above: bool = False  # the folders that the path names are made first
    link: str | None = None  # the path is a symbolic link to this
    content: bytes | int | None = None  # written to the target first; a number: a hole
    program: str | None = None  # run a copy of the program from this path in the folder
    before_start: typing.Callable | None = None  # run by the program's process before it starts
    wine: Outcome | None = None


CASES = [
    Case("Usage", [], USAGE, code=255),  # touches no file
    Case("Grow", ["8192"], OK, size=8192, content=b"hello"),
    Case("ShrinkToZero", ["+0"], OK, size=0, content=b"hello"),
    # Names outside any legacy code page reach the one file they name.
    Case("UnicodeName", ["100"], OK, size=100, path="Привет-日本-😀.bin"),
    Case("RejectedSize", ["abc"], NOT_INTEGER, code=1, content=PATTERN),
    # The report names the program's own file, however long the folders above it.
    Case("RenamedProgram", ["abc"], NOT_INTEGER.replace(MODULE, RENAMED), code=1, size=0,
         program=LONG_PATH + "/" + RENAMED),
    # A low half of all ones is a real size, not a failure; the high half counts.
    Case("AllOnesLowHalf", ["4294967295"], SAME, content=2**32 - 1),
    Case("Above4GiB", ["$100000005"], SAME, content=2**32 + 5),
    Case("Ordinary2p32", ["$100000000", "x"], OK, size=2**32, content=b"hello"),
    # The seek refuses a negative position.
    Case("FastMinus1", ["-1"], GO + win32_error(131, "Invalid argument"), code=1,
         content=b"hello", wine=Outcome(GO + win32_error(131, "Negative seek"))),
    # A missing folder, and a link into one: only a missing file is created.
    Case("MissingDirectory", ["100"], io_error("Invalid filename."), code=1, path="none/target"),
    Case("DanglingSymlink", ["100"], io_error("File not found."), code=1, link="none/target"),
    # Opens that the system refuses for reasons of their own, with the same codes on both.
    Case("SymlinkLoop", ["100"], io_error("I/O error 1921."), code=1, link="target"),
    Case("BelowAFile", ["100"], io_error("Invalid filename."), code=1, path="victim/x"),
    Case("NameTooLong", ["100"], io_error("I/O error 206."), code=1, path="n" * 300),
    Case("LongPath", ["100"], OK, size=100, path=LONG_PATH, folders_above=True,
         wine=Outcome(io_error("I/O error 206."))),
    # A character device opens, but its end cannot be set.
    Case("DevNull", ["100"], GO + io_error("I/O error 87."), code=1, path="/dev/null",
         wine=Outcome(GO + io_error("I/O error 6."))),
    # With standard output closed the first word cannot be written, and the run ends before the
    # file is touched; the target never takes the closed descriptor's number. Under Wine a closed
    # standard output still takes the words.
    Case("StdoutClosed", ["100000"], LOST, code=1, content=PATTERN, before_start=close_stdout,
         wine=Outcome(LOST, size=100000)),
    # Windows has no signal for a pipe whose reader has gone or a file past the size limit: the
    # call fails, and the run ends in the documented exit code or the report.
    Case("ReaderGone", ["100000"], LOST, code=1, size=100000, before_start=reader_gone),
    Case("FileSizeLimit", ["$10000000", "x"], GO + io_error("I/O error 112."), code=1,
         content=b"hello", before_start=limit_file_size, wine=Outcome(OK, code=0, size=0x10000000)),
    # The common quoting writes a quote inside a name as \", which by the tool's own splitting
    # would end a quoted stretch and hand the rest on: to "victim", with the size 0. The Windows
    # program refuses such a line; on Linux this is an ordinary name.
    Case("BackslashQuote", ["100"], OK, size=100, path='sub\\..\\"victim 0 z"',
         wine=Outcome(INVALID_NAME)),
    # No argument is cut: one past 4096 characters is refused before the file is made.
    Case("Size4097Characters", ["0" * 4093 + "1005"], win32_error(206, "File name too long"),
         code=1, wine=Outcome(win32_error(206, "File name is too long"))),
    Case("Size4096Characters", ["0" * 4092 + "1005"], OK, size=1005),
    # The common quoting leaves a line feed bare, and the Windows program's splitting would take
    # it for a separator: victim would be cut to 100 bytes, the target to 4096 with "5" as a third
    # argument.
    Case("LineFeedInName", ["8192"], OK, size=8192, path="victim\n100", wine=Outcome(INVALID_NAME)),
    Case("LineFeedInSize", ["4096\n5"], report("EConvertError", "'4096\n5' is not a valid integer "
         "value."), code=1, content=PATTERN + PATTERN, wine=Outcome(INVALID_NAME)),
    # An empty argument ends the list, as the common quoting's "" and the Linux argv both give it:
    # the arguments after it never move into its place.
    Case("EmptySize", ["", "100"], USAGE, code=255, content=PATTERN),
]


def host(path):  # Wine sees the Linux root as drive Z:
    return "Z:" + path.replace("/", "\\") if UNDER_WINE and path.startswith("/") else path


def start(args, before_start=None, program=PROGRAM):
    # Wine reads the arguments in the locale's character set.
    return subprocess.Popen(RUNNER + [host(program)] + args, stdout=subprocess.PIPE,
                            stderr=subprocess.PIPE, preexec_fn=before_start,
                            env=dict(os.environ, LC_ALL="C.UTF-8"))


def ends(path, start, end):
    # Up to a MiB from `start`: enough to compare files of many GiB in bounded time.
    with open(path, "rb") as f:
        return os.pread(f.fileno(), min(end - start, 1 << 20), start)


def hide_positions(text):  # the raising code's position, which changes from build to build
    return re.sub(r" at (?!0{8})[0-9A-F]{8}\.\n", " at ########.\n", text)


def size(path):  # None: nothing there; 0: not a regular file
    if not os.path.lexists(path):
        return None
    return os.lstat(path).st_size if os.path.isfile(path) else 0


def beside(target):  # every path in the test's folder, at any depth, but the target's
    return set(pathlib.Path().rglob("*")) - {pathlib.Path(target)}


@pytest.mark.parametrize("case", CASES, ids=[case.name for case in CASES])
def test_program(case, tmp_path, monkeypatch):
    monkeypatch.chdir(tmp_path)
    expect = case.wine if UNDER_WINE and case.wine else Outcome(case.words, case.code, case.size)
    (tmp_path / "victim").write_bytes(PATTERN)
    os.mkdir("a")
    path = case.path
    if case.folders_above:
        os.makedirs(os.path.dirname(path))
    if case.link:
        os.symlink(case.link, path)
    program = os.path.abspath(case.program or PROGRAM)
    if case.program:
        os.makedirs(os.path.dirname(program))
        shutil.copy(PROGRAM, program)
    if isinstance(case.content, bytes):
        (tmp_path / path).write_bytes(case.content)
    if isinstance(case.content, int):
        with open(path, "wb") as f:
            f.truncate(case.content)

    before, regular = size(path), os.path.isfile(path)
    after = before if expect.size is None else expect.size
    kept_bytes = ends(path, 0, min(before, after)) if regular else None
    bystanders = beside(path)
    process = start([host(path)] + case.args, case.before_start, program)
    words, errors = process.communicate(timeout=120)

    assert process.returncode == expect.code
    assert errors == b"", "nothing may go to standard error"
    if expect.words is not LOST:
        assert hide_positions(words.decode()) == expect.words
    assert size(path) == after, f"size before {before}"
    assert not regular or ends(path, 0, min(before, after)) == kept_bytes
    assert (tmp_path / "victim").read_bytes() == PATTERN
    # A program that leaves anything on the volume beside the target, even an empty file, fails.
    assert beside(path) == bystanders
    if after is not None and after > (before or 0):
        assert not ends(path, before or 0, after).strip(b"\0"), "new space must read as zeros"
        # The fast path allocates the new space; the ordinary one leaves a hole.
        on_fast_path = len(case.args) == 1
        assert (os.stat(path).st_blocks * 512 >= after) == on_fast_path


def test_program_takes_turns(tmp_path):
    # While another run holds the file, a run waits and touches nothing, so that the other's
    # rollback can never undo what it announces; once the other lets go, it goes on. Runs meet on
    # the last byte that a file offset can name, by an open-file-description lock.
    target = tmp_path / "target"
    target.write_bytes(b"hello")
    holder = os.open(target, os.O_RDWR)
    fcntl.fcntl(holder, fcntl.F_OFD_SETLK, struct.pack("hhqqi", fcntl.F_WRLCK, 0, 2**63 - 1, 1, 0))
    process = start([host(str(target)), "8192"])
    time.sleep(1)
    assert process.poll() is None and target.stat().st_size == 5
    os.close(holder)
    assert process.communicate(timeout=60)[0] == OK.encode() and target.stat().st_size == 8192


def sessions(document):
    # A document's example sessions: a "$ " line is a command, the lines up to the next one are
    # what it prints.
    text = open(os.path.join(os.path.dirname(__file__), "..", document)).read()
    text = text.replace("\\(aq", "'").replace("\\-", "-").replace("\\e", "\\")
    blocks = re.findall(r"(?:```sh|\.EX)\n(\$ .*?)(?:```|\.EE)", text, re.S)
    return re.findall(r"^\$ (.*)\n((?:(?!\$ ).*\n)*)", "".join(blocks), re.M)


@pytest.mark.skipif(bool(RUNNER), reason="the sessions show the Linux program, run directly")
@pytest.mark.parametrize("document", ["README.md", "docs/presizer.1"])
def test_documents(document, tmp_path):
    pairs = sessions(document)
    # One shell for all, each command's status kept for a following "echo $?".
    script = "".join(f"{command}\ns=$?; printf '\\0'; (exit $s)\n" for command, _ in pairs)
    env = dict(os.environ, PATH=os.path.dirname(PROGRAM) + ":" + os.environ["PATH"])
    shell = subprocess.run(["bash", "-c", script], cwd=tmp_path, capture_output=True, env=env)
    # A document shows line ends as LF.
    printed = hide_positions(shell.stdout.decode().replace("\r\n", "\n"))
    assert printed.split("\0")[:-1] == [hide_positions(words) for _, words in pairs]
