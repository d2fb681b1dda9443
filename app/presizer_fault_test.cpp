// The built program against awkward targets, sizes and standard outputs, on real files. Every
// case states the words and the exit code it expects on each system and proves that nothing was
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

std::string Program() {
  const char* program = std::getenv("PRESIZER_PROGRAM");
  return program ? program : "";
}

std::string Env(const char* name) {
  const char* value = std::getenv(name);
  return value ? value : "";
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

const std::string kProgress = "File Preallocation...";
const std::string kOk = kProgress + "Ok\r\n";
const std::string kFail = kProgress + "Fail\r\n";
const std::string kSame = "File Already Has This Size";

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
};

struct FaultCase {
  const char* name;
  Target target;
  std::optional<std::string> initial;  // the target's bytes, or absent: it does not exist
  std::vector<std::string> arguments;  // after the file name
  Output output;
  Expect onLinux;
  std::optional<Expect> onWindows;  // where Wine's answer differs
};

FaultCase Case(const char* name, Target target, std::optional<std::string> initial,
               std::vector<std::string> arguments, Output output, Expect onLinux,
               std::optional<Expect> onWindows = std::nullopt) {
  return {name,
          target,
          std::move(initial),
          std::move(arguments),
          output,
          std::move(onLinux),
          std::move(onWindows)};
}

const std::string kSmall = Pattern(4096);
constexpr Output kCaptured = Output::Captured;

const FaultCase kCases[] = {
    // No room: tmpfs refuses an allocation it cannot hold up front, so even sizes of many GiB
    // cost nothing on the fast path, and the rollback must give the file back its old length.
    Case("FullVolumeFastPath", Target::FullVolume, kSmall, {"2097152"}, kCaptured,
         {kFail, 0, Change::None}),
    Case("FullVolumeFastPath2p31", Target::FullVolume, kSmall, {std::to_string(k2p31)}, kCaptured,
         {kFail, 0, Change::None}),
    Case("FullVolumeFastPath2p32m1", Target::FullVolume, kSmall, {std::to_string(k2p32 - 1)},
         kCaptured, {kFail, 0, Change::None}),
    Case("FullVolumeFastPath2p32", Target::FullVolume, kSmall, {std::to_string(k2p32)}, kCaptured,
         {kFail, 0, Change::None}),
    Case("FullVolumeFastPath2p32p1", Target::FullVolume, kSmall, {std::to_string(k2p32 + 1)},
         kCaptured, {kFail, 0, Change::None}),
    // tmpfs takes any length up to 2^63-1 as a hole; Wine's SetEndOfFile refuses it first.
    Case("FullVolumeFastPath2p63m1", Target::FullVolume, kSmall, {std::to_string(kMaxSize)},
         kCaptured, {kFail, 0, Change::None},
         Expect{kProgress + IoReport("I/O error 87."), 1, Change::None}),
    // The ordinary path only moves the end: the hole needs no room, so a full volume says Ok.
    Case("FullVolumeOrdinaryPath", Target::FullVolume, kSmall, {"2097152", "x"}, kCaptured,
         {kOk, 0, Change::Resized}),
    Case("FullVolumeOrdinaryPath2p63m1", Target::FullVolume, kSmall,
         {std::to_string(kMaxSize), "x"}, kCaptured, {kOk, 0, Change::Resized},
         Expect{kProgress + IoReport("I/O error 87."), 1, Change::None}),

    // Sizes around the 32-bit halves, as holes on the ordinary path.
    Case("OrdinaryPath2p31", Target::File, "hello", {std::to_string(k2p31), "x"}, kCaptured,
         {kOk, 0, Change::Resized}),
    Case("OrdinaryPath2p32m1", Target::File, "hello", {std::to_string(k2p32 - 1), "x"}, kCaptured,
         {kOk, 0, Change::Resized}),
    Case("OrdinaryPath2p32", Target::File, "hello", {std::to_string(k2p32), "x"}, kCaptured,
         {kOk, 0, Change::Resized}),
    Case("OrdinaryPath2p32p1", Target::File, "hello", {std::to_string(k2p32 + 1), "x"}, kCaptured,
         {kOk, 0, Change::Resized}),
    // ext4 refuses a position beyond its largest file before anything is allocated. The code is
    // the same on both systems; the system's text for it is not.
    Case("OrdinaryPath2p63m1", Target::File, "hello", {std::to_string(kMaxSize), "x"}, kCaptured,
         {kProgress + Win32Report(87, "Invalid argument."), 1, Change::None},
         Expect{kProgress + Win32Report(87, "Invalid parameter."), 1, Change::None}),
    Case("FastPath2p63m1", Target::File, "hello", {std::to_string(kMaxSize)}, kCaptured,
         {kProgress + Win32Report(87, "Invalid argument."), 1, Change::None},
         Expect{kProgress + Win32Report(87, "Invalid parameter."), 1, Change::None}),
    Case("OrdinaryPathMinus2p63", Target::File, "hello", {"-9223372036854775808", "x"}, kCaptured,
         {kProgress + Win32Report(131, "Invalid argument."), 1, Change::None},
         Expect{kProgress + Win32Report(131, "Negative seek."), 1, Change::None}),
    Case("FastPathMinus2p63", Target::File, "hello", {"-9223372036854775808"}, kCaptured,
         {kProgress + Win32Report(131, "Invalid argument."), 1, Change::None},
         Expect{kProgress + Win32Report(131, "Negative seek."), 1, Change::None}),

    // Targets that are no regular file.
    Case("Directory", Target::Directory, std::nullopt, {"100"}, kCaptured,
         {IoReport("File access denied."), 1, Change::None}),
    Case("MissingDirectory", Target::MissingDirectory, std::nullopt, {"100"}, kCaptured,
         {IoReport("Invalid filename."), 1, Change::None}),
    Case("LongComponent", Target::LongComponent, std::nullopt, {"100"}, kCaptured,
         {IoReport("I/O error 206."), 1, Change::None}),
    // Linux takes a long path whole; the Windows program's ANSI calls stop at 260 characters. In
    // neither case may a shortened name reach another file.
    Case("LongPath", Target::LongPath, std::nullopt, {"100"}, kCaptured, {kOk, 0, Change::Resized},
         Expect{IoReport("I/O error 206."), 1, Change::None}),
    // A FIFO opens, measures 0 and cannot be positioned. Linux says ESPIPE, which the stand-ins
    // give as code 1; Wine gives code 1 with its own text.
    Case("Fifo", Target::Fifo, std::nullopt, {"100"}, kCaptured,
         {kProgress + Win32Report(1, "Illegal seek."), 1, Change::None},
         Expect{kProgress + Win32Report(1, "Invalid function."), 1, Change::None}),
    Case("FifoSameSize", Target::Fifo, std::nullopt, {"0"}, kCaptured, {kSame, 0, Change::None}),
    // /dev/null opens and seeks, but has no end to set: EINVAL (87) here, an invalid handle (6)
    // under Wine.
    Case("DevNull", Target::DevNull, std::nullopt, {"100"}, kCaptured,
         {kProgress + IoReport("I/O error 87."), 1, Change::None},
         Expect{kProgress + IoReport("I/O error 6."), 1, Change::None}),
    Case("DevNullSameSize", Target::DevNull, std::nullopt, {"0"}, kCaptured,
         {kSame, 0, Change::None}),
    // Refused with EPERM, code 5: an existing file that cannot be opened is never re-created.
    Case("Immutable", Target::Immutable, kSmall, {"100"}, kCaptured,
         {IoReport("File access denied."), 1, Change::None}),
    // Linux has no sharing modes, so the holder does not stop the resize. Windows refuses the
    // open with a sharing violation (32), and the file must then be left alone, not re-created.
    Case("HeldOpen", Target::Held, kSmall, {"100000"}, kCaptured, {kOk, 0, Change::Resized},
         Expect{IoReport("I/O error 32."), 1, Change::None}),

    // Standard output. A console (here /dev/full, a character device) takes each word at once, so
    // the failed progress word stops the run before the file is touched. A pipe or a file
    // collects the words, so the file is resized first and the lost last write turns the exit
    // code to 1.
    Case("StdoutClosed", Target::File, kSmall, {"100000"}, Output::Closed,
         {std::nullopt, 1, Change::None}),
    Case("StdoutClosedNewFile", Target::File, std::nullopt, {"100000"}, Output::Closed,
         {std::nullopt, 1, Change::Created}),
    Case("StdoutDevFull", Target::File, kSmall, {"100000"}, Output::Full,
         {std::nullopt, 1, Change::None}),
    Case("StdoutClosedPipe", Target::File, kSmall, {"100000"}, Output::ClosedPipe,
         {std::nullopt, 1, Change::Resized}),
    Case("StdoutClosedPipeSameSize", Target::File, kSmall, {"4096"}, Output::ClosedPipe,
         {std::nullopt, 1, Change::None}),
    Case("StdoutFile", Target::File, kSmall, {"100000"}, Output::File, {kOk, 0, Change::Resized}),
    Case("StdoutFileReport", Target::File, kSmall, {"12abc"}, Output::File,
         {Report("EConvertError", "'12abc' is not a valid integer value."), 1, Change::None}),
};

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

class FaultTest : public testing::TestWithParam<FaultCase> {
 protected:
  void SetUp() override {
    ASSERT_FALSE(Program().empty()) << "PRESIZER_PROGRAM names the program under test";
    std::string base = Env("PRESIZER_FAULT_DIR");
    ASSERT_FALSE(base.empty()) << "PRESIZER_FAULT_DIR names a folder for the cases' files";
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

  // Makes the target; false (after a skip) where this system or user cannot.
  bool Prepare(const FaultCase& c) {
    path_ = dir_ + "/target";
    switch (c.target) {
      case Target::File:
      case Target::Held:
      case Target::Immutable:
        break;
      case Target::FullVolume: {
        std::string volume = Env("PRESIZER_FULL_VOLUME");
        if (volume.empty() || !fs::exists(HostPath(volume + "/mounted"))) {
          Skip("no full volume: the 1 MiB tmpfs is mounted only for root");
          return false;
        }
        path_ = volume + "/fault-" + c.name;
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
        if (fs::file_size(victim_) != kSmall.size()) {
          Skip("the stand-in for a cut name could not be made");
          return false;
        }
        break;
      }
      case Target::Fifo:
        if (!testsupport::MakeFifo(path_)) {
          Skip("no FIFO can be made here");
          return false;
        }
        fifo_ = true;
        break;
      case Target::DevNull:
        path_ = "/dev/null";
        break;
    }
    if (c.initial) std::ofstream(HostPath(path_), std::ios::binary) << *c.initial;
    if (c.target == Target::Immutable) {
      if (!testsupport::SetImmutable(path_, true)) {
        Skip("chattr +i needs root and a file system with the attribute");
        return false;
      }
      immutable_ = true;
    }
    return true;
  }

  // GTEST_SKIP ends only the frame it stands in, so the reason is kept for the test body.
  void Skip(const std::string& why) { skipReason_ = why; }

  std::string dir_;
  std::string path_;
  std::string victim_;
  std::string skipReason_;
  bool immutable_ = false;
  bool fifo_ = false;
  bool onVolume_ = false;
};

TEST_P(FaultTest, SaysWhatHappenedAndLosesNothing) {
  const FaultCase& c = GetParam();
  if (!Prepare(c)) GTEST_SKIP() << skipReason_;
  const Expect& expect = testsupport::IsWindows() && c.onWindows ? *c.onWindows : c.onLinux;
  const std::string host = HostPath(path_);
  const Snapshot before = Take(host);
  const std::uint64_t checksumBefore = Checksum(host, before.size);
  const std::uint64_t requested =
      expect.change == Change::Resized ? std::stoull(c.arguments.front()) : 0;
  const std::uint64_t keptLength = before.size < requested ? before.size : requested;
  const std::uint64_t keptChecksum = Checksum(host, keptLength);
  const std::uint64_t victimChecksum = victim_.empty() ? 0 : Checksum(victim_, kSmall.size());

  std::optional<testsupport::HeldFile> holder;
  if (c.target == Target::Held) {
    holder.emplace(path_);
    ASSERT_TRUE(holder->Holding());
  }
  std::vector<std::string> arguments{host};
  arguments.insert(arguments.end(), c.arguments.begin(), c.arguments.end());
  const std::string wordsFile = HostPath(dir_ + "/words.txt");
  testsupport::RunResult result = testsupport::Run(Program(), arguments, c.output, wordsFile);
  holder.reset();
  if (c.output == Output::File) {
    std::ifstream in(wordsFile, std::ios::binary);
    std::ostringstream bytes;
    bytes << in.rdbuf();
    result.output = bytes.str();
  }

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
      kept = kept && after.size == before.size && Checksum(host, after.size) == checksumBefore;
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

INSTANTIATE_TEST_SUITE_P(Cases, FaultTest, testing::ValuesIn(kCases),
                         [](const testing::TestParamInfo<FaultCase>& info) {
                           return std::string(info.param.name);
                         });

}  // namespace
