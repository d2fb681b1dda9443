// The built program, started as a process on real files: what a script sees. Every case of the
// table states the words and the exit code it expects on each system and proves that nothing was
// lost: the target's length and bytes are taken before the run and compared after it. The only
// changes allowed are the requested length and an empty file where the open found nothing.
//
// Paths here are Linux paths; HostPath turns them into the running system's names, so the same
// cases run the Linux program and, under Wine, the Windows one.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <random>
#include <sstream>

#include "platform/test_support.h"

namespace fs = std::filesystem;
using testsupport::HostPath;
using testsupport::Output;

namespace {

constexpr std::uint64_t k2p31 = std::uint64_t{1} << 31;
constexpr std::uint64_t k2p32 = std::uint64_t{1} << 32;
constexpr std::uint64_t kMaxSize = (std::uint64_t{1} << 63) - 1;
const std::string kMin = "-9223372036854775808";

std::string Env(const char* name) {
  const char* value = std::getenv(name);
  return value ? value : "";
}

std::string ReadAll(const std::string& hostPath) {
  std::ifstream in(hostPath, std::ios::binary);
  std::ostringstream bytes;
  bytes << in.rdbuf();
  return bytes.str();
}

// FNV-1a over at most `count` bytes of the file: enough to compare the kept part of a file of
// many GiB without reading its hole.
std::uint64_t Checksum(const std::string& hostPath, std::uint64_t count) {
  std::uint64_t hash = 1469598103934665603ull;
  if (count == 0) return hash;  // never opens a FIFO, which would wait for a writer
  std::ifstream in(hostPath, std::ios::binary);
  char buffer[65536];
  while (count > 0 && in) {
    std::size_t want = count < sizeof buffer ? static_cast<std::size_t>(count) : sizeof buffer;
    in.read(buffer, static_cast<std::streamsize>(want));
    std::size_t got = static_cast<std::size_t>(in.gcount());
    if (got == 0) break;
    for (std::size_t i = 0; i < got; ++i) {
      hash = (hash ^ static_cast<unsigned char>(buffer[i])) * 1099511628211ull;
    }
    count -= got;
  }
  return hash;
}

bool AllZero(const std::string& hostPath, std::uint64_t offset, std::size_t count) {
  std::ifstream in(hostPath, std::ios::binary);
  in.seekg(static_cast<std::streamoff>(offset));
  std::string bytes(count, '\0');
  in.read(bytes.data(), static_cast<std::streamsize>(count));
  return static_cast<std::size_t>(in.gcount()) == count &&
         bytes.find_first_not_of('\0') == std::string::npos;
}

std::string Pattern(std::size_t size) {
  std::string bytes(size, '\0');
  for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>('A' + (i * 7) % 61);
  return bytes;
}

// '#' stands for one uppercase hexadecimal digit (the code position) and "{m}" for the
// program's module name; everything else must match byte for byte.
bool WordsMatch(std::string pattern, const std::string& words) {
  const std::string module = testsupport::IsWindows() ? "PRESIZER.exe" : "presizer";
  for (std::string::size_type at; (at = pattern.find("{m}")) != std::string::npos;) {
    pattern.replace(at, 3, module);
  }
  if (pattern.size() != words.size()) return false;
  for (std::size_t i = 0; i < pattern.size(); ++i) {
    bool hex = (words[i] >= '0' && words[i] <= '9') || (words[i] >= 'A' && words[i] <= 'F');
    if (pattern[i] == '#' ? !hex : pattern[i] != words[i]) return false;
  }
  return true;
}

std::string Report(const std::string& kind, const std::string& message) {
  return "Exception " + kind + " in module {m} at ########.\n" + message + "\r\n";
}
std::string IoReport(const std::string& message) { return Report("EInOutError", message); }
std::string Win32Report(int code, const std::string& text) {
  return Report("EWin32Error", "Win32 Error.  Code: " + std::to_string(code) + ".\n" + text);
}

const std::string kUsage =
    "PRESIZER.exe FileName FileSize\r\n"
    "  Fast creation of file on NTFS volume without clearing it\r\n"
    "  $ before FileSize means hexadecimal value\r\n"
    "  Needs high privileges (Admin is Ok)\r\n"
    "  Vista+ have to be executed with elevated privileges\r\n";
const std::string kProgress = "File Preallocation...";
const std::string kOk = kProgress + "Ok\r\n";
const std::string kFail = kProgress + "Fail\r\n";
const std::string kSame = "File Already Has This Size";
const std::string kNotInteger = Report("EConvertError", "'abc' is not a valid integer value.");

enum class Target {
  File,              // a regular file in the work folder
  FullVolume,        // a regular file on the 1 MiB tmpfs
  Directory,         // an existing folder
  MissingDirectory,  // a file in a folder that does not exist
  LongComponent,     // a last name component of 300 characters
  LongPath,          // a whole name of 300 characters, every component short
  Fifo,
  DevNull,
  Immutable,  // chattr +i
  Held,       // held open by another process
};

enum class Change {
  None,     // length and bytes as before, and nothing created
  Resized,  // the requested length, the old bytes kept, the new space zero
  Created,  // the target did not exist and is now an empty file
};

struct Expect {
  std::optional<std::string> words;  // absent where standard output is not captured
  int exitCode;
  Change change;
  std::uint64_t length = 0;  // the length asked for, where the change is Resized
};

struct Case {
  const char* name;
  Target target;
  std::optional<std::string> initial;  // the target's bytes, or absent: it does not exist
  std::vector<std::string> arguments;  // after the file name
  Expect onLinux;
  std::optional<Expect> onWindows = std::nullopt;  // where Wine's answer differs
  Output output = Output::Captured;
};

// Without words, the words were lost and so the exit code is 1.
Expect Resized(std::uint64_t length, std::optional<std::string> words = kOk) {
  const int exitCode = words ? 0 : 1;
  return {std::move(words), exitCode, Change::Resized, length};
}
Expect Unchanged(const std::string& words, int exitCode = 1) {
  return {words, exitCode, Change::None};
}
// A Win32 error raised after the progress word.
Expect Refused(int code, const std::string& text) {
  return Unchanged(kProgress + Win32Report(code, text));
}
Expect IoRefused(const std::string& text) { return Unchanged(IoReport(text)); }
Expect Silent(Change change) { return {std::nullopt, 1, change}; }

const std::string kSmall = Pattern(4096);
const std::string kMax = std::to_string(kMaxSize);
constexpr std::nullopt_t kAbsent = std::nullopt;
constexpr Target kFile = Target::File;
constexpr Target kFull = Target::FullVolume;

// clang-format off
const Case kCases[] = {
    // Create, grow, shrink and keep, on both paths and in both bases.
    {"CreateHex", kFile, kAbsent, {"$100"}, Resized(256)},
    {"CreateOrdinary", kFile, kAbsent, {"4096", "x"}, Resized(4096)},
    {"CreateEmpty", kFile, kAbsent, {"0"}, {kSame, 0, Change::Created}},
    {"Grow", kFile, "hello", {"8192"}, Resized(8192)},
    {"GrowOrdinary", kFile, "hello", {"0x2000", "slow"}, Resized(8192)},
    {"Shrink", kFile, "hello world", {"5"}, Resized(5)},
    {"ShrinkToZero", kFile, "hello", {"0"}, Resized(0)},
    {"SameSize", kFile, "hello", {"5"}, Unchanged(kSame, 0)},
    {"SameSizeWithBlanks", kFile, "hello", {"   +5"}, Unchanged(kSame, 0)},
    {"RejectedSize", kFile, "precious", {"abc"}, Unchanged(kNotInteger)},
    {"RejectedSizeNewFile", kFile, kAbsent, {"abc"}, {kNotInteger, 1, Change::Created}},

    // No room: tmpfs refuses an allocation it cannot hold up front, so even sizes of many GiB
    // cost nothing on the fast path, and the rollback must give the file back its old length.
    {"FullVolumeFastPath", kFull, kSmall, {"2097152"}, Unchanged(kFail, 0)},
    {"FullVolumeFastPath2p31", kFull, kSmall, {"2147483648"}, Unchanged(kFail, 0)},
    {"FullVolumeFastPath2p32m1", kFull, kSmall, {"4294967295"}, Unchanged(kFail, 0)},
    {"FullVolumeFastPath2p32", kFull, kSmall, {"$100000000"}, Unchanged(kFail, 0)},
    {"FullVolumeFastPath2p32p1", kFull, kSmall, {"4294967297"}, Unchanged(kFail, 0)},
    // tmpfs takes any length up to 2^63-1 as a hole; Wine's SetEndOfFile refuses it first.
    {"FullVolumeFastPath2p63m1", kFull, kSmall, {kMax}, Unchanged(kFail, 0),
     Unchanged(kProgress + IoReport("I/O error 87."))},
    // The ordinary path only moves the end: the hole needs no room, so a full volume says Ok.
    {"FullVolumeOrdinaryPath", kFull, kSmall, {"2097152", "x"}, Resized(2097152)},
    {"FullVolumeOrdinaryPath2p63m1", kFull, kSmall, {kMax, "x"}, Resized(kMaxSize),
     Unchanged(kProgress + IoReport("I/O error 87."))},

    // Sizes around the 32-bit halves, as holes on the ordinary path.
    {"OrdinaryPath2p31", kFile, "hello", {"2147483648", "x"}, Resized(k2p31)},
    {"OrdinaryPath2p32m1", kFile, "hello", {"4294967295", "x"}, Resized(k2p32 - 1)},
    {"OrdinaryPath2p32", kFile, "hello", {"$100000000", "x"}, Resized(k2p32)},
    {"OrdinaryPath2p32p1", kFile, "hello", {"4294967297", "x"}, Resized(k2p32 + 1)},
    // ext4 refuses a position beyond its largest file before anything is allocated, and the
    // seek refuses a negative one. The codes are the same on both systems; their texts are not.
    {"OrdinaryPath2p63m1", kFile, "hello", {kMax, "x"},
     Refused(87, "Invalid argument."), Refused(87, "Invalid parameter.")},
    {"FastPath2p63m1", kFile, "hello", {kMax},
     Refused(87, "Invalid argument."), Refused(87, "Invalid parameter.")},
    {"OrdinaryPathMinus2p63", kFile, "hello", {kMin, "x"},
     Refused(131, "Invalid argument."), Refused(131, "Negative seek.")},
    {"FastPathMinus2p63", kFile, "hello", {kMin},
     Refused(131, "Invalid argument."), Refused(131, "Negative seek.")},
    {"FastPathMinus1", kFile, "hello", {"-1"},
     Refused(131, "Invalid argument."), Refused(131, "Negative seek.")},
    {"FastPathAllOnesHex", kFile, "hello", {"$FFFFFFFFFFFFFFFF"},
     Refused(131, "Invalid argument."), Refused(131, "Negative seek.")},

    // Targets that are no regular file.
    {"Directory", Target::Directory, kAbsent, {"100"}, IoRefused("File access denied.")},
    {"MissingDirectory", Target::MissingDirectory, kAbsent, {"100"},
     IoRefused("Invalid filename.")},
    {"LongComponent", Target::LongComponent, kAbsent, {"100"}, IoRefused("I/O error 206.")},
    // Linux takes a long path whole; the Windows program's ANSI calls stop at 260 characters. In
    // neither case may a shortened name reach another file.
    {"LongPath", Target::LongPath, kAbsent, {"100"}, Resized(100), IoRefused("I/O error 206.")},
    // A FIFO opens, measures 0 and cannot be positioned. Linux says ESPIPE, which the stand-ins
    // give as code 1; Wine gives code 1 with its own text.
    {"Fifo", Target::Fifo, kAbsent, {"100"},
     Refused(1, "Illegal seek."), Refused(1, "Invalid function.")},
    {"FifoSameSize", Target::Fifo, kAbsent, {"0"}, Unchanged(kSame, 0)},
    // /dev/null opens and seeks, but has no end to set: EINVAL (87) here, an invalid handle (6)
    // under Wine.
    {"DevNull", Target::DevNull, kAbsent, {"100"},
     Unchanged(kProgress + IoReport("I/O error 87.")),
     Unchanged(kProgress + IoReport("I/O error 6."))},
    {"DevNullSameSize", Target::DevNull, kAbsent, {"0"}, Unchanged(kSame, 0)},
    // Refused with EPERM, code 5: an existing file that cannot be opened is never re-created.
    {"Immutable", Target::Immutable, kSmall, {"100"}, IoRefused("File access denied.")},
    // Linux has no sharing modes, so the holder does not stop the resize. Windows refuses the
    // open with a sharing violation (32), and the file must then be left alone, not re-created.
    {"HeldOpen", Target::Held, kSmall, {"100000"}, Resized(100000), IoRefused("I/O error 32.")},

    // Standard output. A console (here /dev/full, a character device) takes each word at once, so
    // the failed progress word stops the run before the file is touched. A pipe or a file
    // collects the words, so the file is resized first and the lost last write turns the exit
    // code to 1. A closed output never becomes the target's descriptor.
    {"StdoutClosed", kFile, kSmall, {"100000"}, Silent(Change::None), kAbsent, Output::Closed},
    {"StdoutClosedNewFile", kFile, kAbsent, {"100000"}, Silent(Change::Created), kAbsent,
     Output::Closed},
    {"StdoutDevFull", kFile, kSmall, {"100000"}, Silent(Change::None), kAbsent, Output::Full},
    {"StdoutClosedPipe", kFile, kSmall, {"100000"}, Resized(100000, kAbsent), kAbsent,
     Output::ClosedPipe},
    {"StdoutClosedPipeSameSize", kFile, kSmall, {"4096"}, Silent(Change::None), kAbsent,
     Output::ClosedPipe},
    {"StdoutFile", kFile, kSmall, {"100000"}, Resized(100000), kAbsent, Output::File},
    {"StdoutFileReport", kFile, kSmall, {"abc"}, Unchanged(kNotInteger), kAbsent, Output::File},
};
// clang-format on

// The target as the file system holds it.
struct Snapshot {
  bool exists = false;
  fs::file_type type = fs::file_type::not_found;
  std::uint64_t size = 0;
};

Snapshot Take(const std::string& hostPath) {
  Snapshot snapshot;
  std::error_code error;
  fs::file_status status = fs::symlink_status(hostPath, error);
  snapshot.exists = !error && fs::exists(status);
  snapshot.type = status.type();
  if (snapshot.exists && snapshot.type == fs::file_type::regular) {
    snapshot.size = fs::file_size(hostPath, error);
  }
  return snapshot;
}

class ProcessTest : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(program_.empty()) << "PRESIZER_PROGRAM names the program under test";
    std::string base = Env("PRESIZER_WORK_DIR");
    ASSERT_FALSE(base.empty()) << "PRESIZER_WORK_DIR names a folder for the cases' files";
    std::random_device random;
    dir_ = base + "/case-" + std::to_string(random());
    fs::create_directories(HostPath(dir_));
  }
  void TearDown() override {
    if (immutable_) testsupport::SetImmutable(path_, false);
    if (fifo_) testsupport::RemoveFifo(path_);
    std::error_code ignored;
    if (onVolume_) fs::remove(HostPath(path_), ignored);
    fs::remove_all(HostPath(dir_), ignored);
  }
  testsupport::RunResult Run(const std::vector<std::string>& arguments,
                             Output output = Output::Captured) {
    const std::string wordsFile = HostPath(dir_ + "/words.txt");
    testsupport::RunResult result = testsupport::Run(program_, arguments, output, wordsFile);
    if (output == Output::File) result.output = ReadAll(wordsFile);
    return result;
  }

  const std::string program_ = Env("PRESIZER_PROGRAM");
  std::string dir_;
  std::string path_;
  bool immutable_ = false;
  bool fifo_ = false;
  bool onVolume_ = false;
};

class CaseTest : public ProcessTest, public testing::WithParamInterface<Case> {
 protected:
  // Makes the target; an empty answer, or else why this system or user cannot.
  std::string Prepare(const Case& c) {
    path_ = dir_ + "/target";
    switch (c.target) {
      case Target::File:
      case Target::Held:
      case Target::Immutable:
        break;
      case Target::FullVolume: {
        std::string volume = Env("PRESIZER_FULL_VOLUME");
        if (volume.empty() || !fs::exists(HostPath(volume + "/mounted"))) {
          return "no full volume: the 1 MiB tmpfs is mounted only for root";
        }
        path_ = volume + "/case-" + c.name;
        onVolume_ = true;
        break;
      }
      case Target::Directory:
        fs::create_directories(HostPath(path_));
        break;
      case Target::MissingDirectory:
        path_ = dir_ + "/no-such-folder/target";
        break;
      case Target::LongComponent:
        path_ = dir_ + "/" + std::string(300, 'n');
        break;
      case Target::LongPath: {
        // Short components up to 300 characters in all; a file at the first 259 of them stands
        // for whatever a cut name would reach.
        std::string folder = dir_;
        while (folder.size() + 41 < 240) folder += "/" + std::string(40, 'd');
        fs::create_directories(HostPath(folder));
        path_ = folder + "/" + std::string(300 - folder.size() - 1, 'f');
        victim_ = HostPath(path_).substr(0, 259);
        std::ofstream(victim_, std::ios::binary) << kSmall;
        if (fs::file_size(victim_) != kSmall.size()) return "no stand-in for a cut name here";
        break;
      }
      case Target::Fifo:
        if (!testsupport::MakeFifo(path_)) return "no FIFO can be made here";
        fifo_ = true;
        break;
      case Target::DevNull:
        path_ = "/dev/null";
        break;
    }
    if (c.initial) std::ofstream(HostPath(path_), std::ios::binary) << *c.initial;
    if (c.target == Target::Immutable) {
      if (!testsupport::SetImmutable(path_, true)) {
        return "chattr +i needs root and a file system with the attribute";
      }
      immutable_ = true;
    }
    return "";
  }

  std::string victim_;
};

TEST_P(CaseTest, SaysWhatHappenedAndLosesNothing) {
  const Case& c = GetParam();
  if (std::string why = Prepare(c); !why.empty()) GTEST_SKIP() << why;
  const Expect& expect = testsupport::IsWindows() && c.onWindows ? *c.onWindows : c.onLinux;
  const std::string host = HostPath(path_);
  const Snapshot before = Take(host);
  const std::uint64_t requested = expect.length;
  // The bytes that must survive: all of them, or on a resize those below the new length.
  const std::uint64_t keptLength = expect.change == Change::None ? before.size
                                   : before.size < requested     ? before.size
                                                                 : requested;
  const std::uint64_t keptChecksum = Checksum(host, keptLength);
  const std::uint64_t victimChecksum = victim_.empty() ? 0 : Checksum(victim_, kSmall.size());

  std::optional<testsupport::HeldFile> holder;
  if (c.target == Target::Held) {
    holder.emplace(path_);
    ASSERT_TRUE(holder->Holding());
  }
  std::vector<std::string> arguments{host};
  arguments.insert(arguments.end(), c.arguments.begin(), c.arguments.end());
  testsupport::RunResult result = Run(arguments, c.output);
  holder.reset();

  EXPECT_EQ(result.exitCode, expect.exitCode);
  if (expect.words) {
    EXPECT_TRUE(WordsMatch(*expect.words, result.output))
        << "expected: " << *expect.words << "\nprinted:  " << result.output;
  }

  // What the run may have changed.
  const Snapshot after = Take(host);
  bool kept = after.exists == (before.exists || expect.change != Change::None) &&
              (!before.exists || after.type == before.type);
  switch (expect.change) {
    case Change::None:
      kept = kept && after.size == before.size && Checksum(host, keptLength) == keptChecksum;
      break;
    case Change::Created:
      kept = kept && after.type == fs::file_type::regular && after.size == 0;
      break;
    case Change::Resized: {
      kept = kept && after.size == requested && Checksum(host, keptLength) == keptChecksum;
      if (kept && requested > before.size) {
        // The new space reads as zeros at both of its ends.
        std::size_t window = static_cast<std::size_t>(
            requested - before.size < 65536 ? requested - before.size : 65536);
        kept = AllZero(host, before.size, window) && AllZero(host, requested - window, window);
      }
      break;
    }
  }
  if (!victim_.empty()) {
    kept = kept && Checksum(victim_, kSmall.size()) == victimChecksum &&
           fs::file_size(victim_) == kSmall.size();
  }
  EXPECT_TRUE(kept) << "size before " << before.size << ", after " << after.size;
  RecordProperty("exit_code", result.exitCode);
  RecordProperty("nothing_lost", kept ? "yes" : "no");
}

INSTANTIATE_TEST_SUITE_P(Cases, CaseTest, testing::ValuesIn(kCases),
                         [](const testing::TestParamInfo<Case>& info) {
                           return std::string(info.param.name);
                         });

TEST_F(ProcessTest, TooFewArgumentsPrintTheUsageAndTouchNothing) {
  for (Output output : {Output::Captured, Output::File}) {
    const std::vector<std::vector<std::string>> runs{{}, {HostPath(dir_ + "/only")}};
    for (const auto& arguments : runs) {
      testsupport::RunResult result = Run(arguments, output);
      EXPECT_EQ(result.exitCode, 255);
      EXPECT_EQ(result.output, kUsage);
    }
  }
  EXPECT_FALSE(fs::exists(HostPath(dir_ + "/only")));
}

// The file systems under these tests leave a hole where the ordinary path extends a file. (NTFS
// itself allocates there too, but leaves the space invalid, to be cleared on first read.)
TEST_F(ProcessTest, FastPathAllocatesAndTheOrdinaryPathLeavesAHole) {
  const std::uint64_t size = 64u << 20;
  const std::string fast = HostPath(dir_ + "/fast"), ordinary = HostPath(dir_ + "/ordinary");
  EXPECT_EQ(Run({fast, std::to_string(size)}).output, kOk);
  EXPECT_EQ(Run({ordinary, std::to_string(size), "x"}).output, kOk);
  EXPECT_GE(testsupport::AllocatedBytes(fast), size);
  EXPECT_LT(testsupport::AllocatedBytes(ordinary), 1u << 20);
}

// The Windows program splits its own command line; these cases reach it as raw text.
struct RawCase {
  const char* name;
  std::string tail;  // after the program; {} stands for the folder
  std::string file;  // the file that must exist afterwards
  std::uint64_t size;
};

class RawCommandLineTest : public ProcessTest, public testing::WithParamInterface<RawCase> {};

TEST_P(RawCommandLineTest, SplitsTheRawText) {
  if (!testsupport::RawCommandLineSupported()) {
    GTEST_SKIP() << "this system hands programs their arguments already split";
  }
  const RawCase& c = GetParam();
  std::string tail = c.tail;
  for (std::string::size_type at; (at = tail.find("{}")) != std::string::npos;) {
    tail.replace(at, 2, HostPath(dir_));
  }
  testsupport::RunResult result = testsupport::RunRaw(program_, tail);
  EXPECT_EQ(result.exitCode, 0) << tail << "\n" << result.output;
  const std::string file = HostPath(dir_ + "/" + c.file);
  ASSERT_TRUE(fs::exists(file)) << tail;
  EXPECT_EQ(fs::file_size(file), c.size) << tail;
}

INSTANTIATE_TEST_SUITE_P(
    Windows, RawCommandLineTest,
    testing::Values(RawCase{"PairIsSkipped", " {}\\a \"\" 16", "a", 16},
                    RawCase{"QuotedBlankInName", " \"{}\\sp ace\" 17", "sp ace", 17},
                    RawCase{"StretchInsideWord", " {}\\a\"b c\"d 18", "ab cd", 18},
                    RawCase{"PairInsideWord", " {}\\ab\"\"cd 19", "abcd", 19},
                    RawCase{"UnterminatedQuote", " {}\\u \"20", "u", 20},
                    RawCase{"QuotedLeadingBlanks", " {}\\lb \"   21\"", "lb", 21},
                    RawCase{"TabsSeparate", "\t{}\\tab\t\t22\t", "tab", 22},
                    RawCase{"EmptyThirdArgument", " {}\\e 23 \"\"", "e", 23},
                    RawCase{"BackslashIsNoEscape", " {}\\\"bq\" 24", "bq", 24}),
    [](const testing::TestParamInfo<RawCase>& info) { return std::string(info.param.name); });

}  // namespace
