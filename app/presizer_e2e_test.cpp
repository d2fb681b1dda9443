// The built program, started as a process on real files: what a script sees.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>

#include "platform/test_support.h"

namespace fs = std::filesystem;
using testsupport::Output;
using testsupport::RunResult;

namespace {

constexpr char kUsage[] =
    "PRESIZER.exe FileName FileSize\r\n"
    "  Fast creation of file on NTFS volume without clearing it\r\n"
    "  $ before FileSize means hexadecimal value\r\n"
    "  Needs high privileges (Admin is Ok)\r\n"
    "  Vista+ have to be executed with elevated privileges\r\n";
constexpr char kOk[] = "File Preallocation...Ok\r\n";
constexpr char kFail[] = "File Preallocation...Fail\r\n";
constexpr char kSame[] = "File Already Has This Size";

std::string Program() {
  const char* program = std::getenv("PRESIZER_PROGRAM");
  return program ? program : "";
}

std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream bytes;
  bytes << in.rdbuf();
  return bytes.str();
}

// At most `count` bytes from `offset`: enough to check the ends of a file of many GiB.
std::string ReadRange(const std::string& path, std::uint64_t offset, std::size_t count) {
  std::ifstream in(path, std::ios::binary);
  in.seekg(static_cast<std::streamoff>(offset));
  std::string bytes(count, '\0');
  in.read(bytes.data(), static_cast<std::streamsize>(count));
  bytes.resize(static_cast<std::size_t>(in.gcount()));
  return bytes;
}

void WriteAll(const std::string& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary) << bytes;
}

std::string Pattern(std::size_t size) {
  std::string bytes(size, '\0');
  for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>('a' + i % 26);
  return bytes;
}

// The first line of a report, up to the position, and what follows it.
struct Report {
  std::string before;  // words printed before the report
  std::string kind;
  std::string module;
  std::string message;  // everything after the first line feed
};

Report ParseReport(const std::string& output) {
  Report report;
  std::string::size_type start = output.find("Exception ");
  if (start == std::string::npos) return report;
  report.before = output.substr(0, start);
  std::string::size_type kindEnd = output.find(" in module ", start);
  std::string::size_type moduleEnd = output.find(" at ", kindEnd);
  std::string::size_type lineEnd = output.find('\n', moduleEnd);
  if (kindEnd == std::string::npos || moduleEnd == std::string::npos ||
      lineEnd == std::string::npos) {
    return report;
  }
  report.kind = output.substr(start + 10, kindEnd - start - 10);
  report.module = output.substr(kindEnd + 11, moduleEnd - kindEnd - 11);
  std::string position = output.substr(moduleEnd + 4, lineEnd - moduleEnd - 4);
  EXPECT_EQ(position.size(), 9u) << position;
  EXPECT_EQ(position.find_first_not_of("0123456789ABCDEF"), 8u) << position;
  report.message = output.substr(lineEnd + 1);
  return report;
}

class EndToEndTest : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(Program().empty()) << "PRESIZER_PROGRAM names the program under test";
    std::random_device random;
    dir_ = fs::temp_directory_path() / ("presizer-e2e-" + std::to_string(random()));
    fs::create_directories(dir_);
  }
  void TearDown() override {
    std::error_code ignored;
    fs::remove_all(dir_, ignored);
  }
  std::string PathOf(const std::string& name) const { return (dir_ / name).string(); }
  RunResult Run(const std::vector<std::string>& arguments, Output output = Output::Captured,
                const std::string& outputFile = "") {
    return testsupport::Run(Program(), arguments, output, outputFile);
  }

  fs::path dir_;
};

TEST_F(EndToEndTest, TooFewArgumentsPrintTheUsage) {
  for (const auto& arguments : {std::vector<std::string>{}, std::vector<std::string>{"only"}}) {
    RunResult result = Run(arguments);
    EXPECT_EQ(result.exitCode, 255);
    EXPECT_EQ(result.output, kUsage);
  }
  EXPECT_FALSE(fs::exists("only"));
}

struct ResizeCase {
  const char* name;
  std::string initial;  // "<none>": the file does not exist
  std::string size;
  std::vector<std::string> extra;
  std::string output;
  std::uint64_t finalSize;
};

class ResizeEndToEndTest : public EndToEndTest, public testing::WithParamInterface<ResizeCase> {};

TEST_P(ResizeEndToEndTest, ResizesAndKeepsTheData) {
  const ResizeCase& c = GetParam();
  std::string path = PathOf("target");
  if (c.initial != "<none>") WriteAll(path, c.initial);
  std::vector<std::string> arguments{path, c.size};
  arguments.insert(arguments.end(), c.extra.begin(), c.extra.end());
  RunResult result = Run(arguments);
  EXPECT_EQ(result.exitCode, 0);
  EXPECT_EQ(result.output, c.output);
  ASSERT_TRUE(fs::exists(path));
  EXPECT_EQ(fs::file_size(path), c.finalSize);
  constexpr std::size_t kWindow = 65536;
  std::string head = ReadRange(path, 0, kWindow);
  std::string kept = c.initial == "<none>" ? "" : c.initial.substr(0, c.finalSize);
  EXPECT_EQ(head.substr(0, kept.size()), kept);
  EXPECT_EQ(head.find_first_not_of('\0', kept.size()), std::string::npos) << "new space not zero";
  if (c.finalSize > kWindow) {
    std::string tail = ReadRange(path, c.finalSize - kWindow, kWindow);
    EXPECT_EQ(tail.size(), kWindow);
    EXPECT_EQ(tail.find_first_not_of('\0'), std::string::npos) << "new space not zero";
  }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ResizeEndToEndTest,
    testing::Values(ResizeCase{"CreateHex", "<none>", "$100", {}, kOk, 256},
                    ResizeCase{"CreateOrdinary", "<none>", "4096", {"x"}, kOk, 4096},
                    ResizeCase{"CreateEmpty", "<none>", "0", {}, kSame, 0},
                    ResizeCase{"GrowKeepsData", "hello", "8192", {}, kOk, 8192},
                    ResizeCase{"GrowOrdinaryKeepsData", "hello", "0x2000", {"slow"}, kOk, 8192},
                    ResizeCase{"Shrink", "hello world", "5", {}, kOk, 5},
                    ResizeCase{"ShrinkToZero", "hello", "0", {}, kOk, 0},
                    ResizeCase{"SameSize", "hello", "5", {}, kSame, 5},
                    ResizeCase{"SameSizeWithBlanks", "hello", "   +5", {}, kSame, 5},
                    ResizeCase{"JustBelow4GiB", "hello", "4294967295", {"x"}, kOk, 4294967295u},
                    ResizeCase{"At4GiB", "hello", "$100000000", {"x"}, kOk, 4294967296u},
                    ResizeCase{"JustAbove4GiB", "hello", "4294967297", {"x"}, kOk, 4294967297u}),
    [](const testing::TestParamInfo<ResizeCase>& info) { return std::string(info.param.name); });

// The file systems under these tests leave a hole where the ordinary path extends a file. (NTFS
// itself allocates there too, but leaves the space invalid, to be cleared on first read.)
TEST_F(EndToEndTest, FastPathAllocatesAndTheOrdinaryPathLeavesAHole) {
  constexpr std::uint64_t size = 64u << 20;
  RunResult fast = Run({PathOf("fast"), std::to_string(size)});
  RunResult ordinary = Run({PathOf("ordinary"), std::to_string(size), "x"});
  EXPECT_EQ(fast.output, kOk);
  EXPECT_EQ(ordinary.output, kOk);
  EXPECT_GE(testsupport::AllocatedBytes(PathOf("fast")), size);
  EXPECT_LT(testsupport::AllocatedBytes(PathOf("ordinary")), 1u << 20);
}

TEST_F(EndToEndTest, RejectedSizeLeavesTheFileAsOpenedOrCreated) {
  WriteAll(PathOf("kept"), "precious");
  for (const std::string& name : {std::string("kept"), std::string("new")}) {
    RunResult result = Run({PathOf(name), "abc"});
    EXPECT_EQ(result.exitCode, 1);
    Report report = ParseReport(result.output);
    EXPECT_EQ(report.before, "");
    EXPECT_EQ(report.kind, "EConvertError");
    EXPECT_EQ(report.module, testsupport::IsWindows() ? "PRESIZER.exe" : "presizer");
    EXPECT_EQ(report.message, "'abc' is not a valid integer value.\r\n");
  }
  EXPECT_EQ(ReadAll(PathOf("kept")), "precious");
  ASSERT_TRUE(fs::exists(PathOf("new")));
  EXPECT_EQ(fs::file_size(PathOf("new")), 0u);
}

TEST_F(EndToEndTest, NegativeSizeIsRefusedBySeekWithTheSameCodeOnBothSystems) {
  WriteAll(PathOf("neg"), "data");
  for (const char* size : {"-1", "-9223372036854775808", "$FFFFFFFFFFFFFFFF"}) {
    RunResult result = Run({PathOf("neg"), size});
    EXPECT_EQ(result.exitCode, 1) << size;
    Report report = ParseReport(result.output);
    EXPECT_EQ(report.before, "File Preallocation...") << size;
    EXPECT_EQ(report.kind, "EWin32Error") << size;
    EXPECT_EQ(report.message.substr(0, report.message.find('\n')), "Win32 Error.  Code: 131.");
    EXPECT_EQ(report.message.substr(report.message.size() - 3), ".\r\n");
  }
  EXPECT_EQ(ReadAll(PathOf("neg")), "data");
}

TEST_F(EndToEndTest, UnusableTargetsEndInAnIoErrorReport) {
  fs::create_directories(dir_ / "folder");
  const std::pair<std::string, std::string> cases[] = {
      {PathOf("folder"), "File access denied.\r\n"},
      {PathOf("no-such-folder/file"), "Invalid filename.\r\n"},
  };
  for (const auto& [path, message] : cases) {
    RunResult result = Run({path, "100"});
    EXPECT_EQ(result.exitCode, 1) << path;
    Report report = ParseReport(result.output);
    EXPECT_EQ(report.kind, "EInOutError") << path;
    EXPECT_EQ(report.message, message) << path;
  }
  EXPECT_TRUE(fs::is_directory(PathOf("folder")));
  EXPECT_FALSE(fs::exists(PathOf("no-such-folder")));
}

TEST_F(EndToEndTest, FullVolumeFailsTheFastPathAndKeepsTheFile) {
  const char* volume = std::getenv("PRESIZER_FULL_VOLUME");
  if (!volume || !fs::exists(fs::path(testsupport::HostPath(volume)) / "mounted")) {
    GTEST_SKIP() << "no full volume: the 1 MiB tmpfs is mounted only when the tests run as root";
  }
  std::string path = (fs::path(testsupport::HostPath(volume)) / "target").string();
  std::string bytes = Pattern(4096);
  WriteAll(path, bytes);
  RunResult result = Run({path, std::to_string(2u << 20)});
  EXPECT_EQ(result.exitCode, 0);
  EXPECT_EQ(result.output, kFail);
  EXPECT_EQ(ReadAll(path), bytes);
  fs::remove(path);
}

TEST_F(EndToEndTest, ClosedStandardOutputNeverReachesTheTarget) {
  std::string path = PathOf("alias");
  RunResult result = Run({path, "100"}, Output::Closed);
  EXPECT_EQ(result.exitCode, 1);
  ASSERT_TRUE(fs::exists(path));
  // The progress word could not be written, so the run stopped before resizing.
  EXPECT_EQ(fs::file_size(path), 0u);
}

TEST_F(EndToEndTest, FailedOutputIsNeverASuccess) {
  for (Output output : {Output::Full, Output::ClosedPipe}) {
    std::string path = PathOf("out");
    fs::remove(path);
    RunResult result = Run({path, "100"}, output);
    EXPECT_EQ(result.exitCode, 1) << static_cast<int>(output);
  }
}

TEST_F(EndToEndTest, RedirectedOutputHasTheSameBytes) {
  std::string outputFile = PathOf("words.txt");
  RunResult result = Run({PathOf("file"), "100"}, Output::File, outputFile);
  EXPECT_EQ(result.exitCode, 0);
  EXPECT_EQ(ReadAll(outputFile), kOk);
  result = Run({}, Output::File, outputFile);
  EXPECT_EQ(result.exitCode, 255);
  EXPECT_EQ(ReadAll(outputFile), kUsage);
}

// The Windows program splits its own command line; these cases reach it as raw text.
struct RawCase {
  const char* name;
  std::string tail;  // after the program; {} stands for the folder
  std::string file;  // the file that must exist afterwards
  std::uint64_t size;
};

class RawCommandLineTest : public EndToEndTest, public testing::WithParamInterface<RawCase> {};

TEST_P(RawCommandLineTest, SplitsTheRawText) {
  if (!testsupport::RawCommandLineSupported()) {
    GTEST_SKIP() << "this system hands programs their arguments already split";
  }
  const RawCase& c = GetParam();
  std::string tail = c.tail;
  for (std::string::size_type at; (at = tail.find("{}")) != std::string::npos;) {
    tail.replace(at, 2, dir_.string());
  }
  RunResult result = testsupport::RunRaw(Program(), tail);
  EXPECT_EQ(result.exitCode, 0) << tail << "\n" << result.output;
  ASSERT_TRUE(fs::exists(PathOf(c.file))) << tail;
  EXPECT_EQ(fs::file_size(PathOf(c.file)), c.size) << tail;
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
