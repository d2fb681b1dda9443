// The Linux stand-ins' errno table, row by row: deleting or changing any row fails here. The case
// table makes the real system fail the open where that needs no root.
#include "platform/win32_posix.h"

#include <errno.h>
#include <string.h>

#include <gtest/gtest.h>

#include <limits>
#include <string>

namespace {

using namespace win32;

struct Pair {
  int error;
  DWORD code;
};

TEST(ErrnoTable, EachErrnoHasTheCodeWindowsWouldGive) {
  // clang-format off
  const Pair byErrno[] = {
      {0, 0}, {ENOENT, 2}, {ENOTDIR, 3}, {EACCES, 5}, {EPERM, 5}, {EISDIR, 5}, {EMFILE, 4},
      {ENFILE, 4}, {EBADF, 6}, {ENOMEM, 8}, {ENOSPC, 112}, {EDQUOT, 112}, {EFBIG, 112},
      {EINVAL, 87}, {ESPIPE, 1}, {EROFS, 19}, {EXDEV, 17}, {ETXTBSY, 32}, {EOPNOTSUPP, 50},
      {ENOSYS, 1}, {ENXIO, 55}, {ENODEV, 55}, {EEXIST, 80}, {EPIPE, 109}, {ENOTEMPTY, 145},
      {EBUSY, 170}, {EAGAIN, 170}, {ENAMETOOLONG, 206}, {EOVERFLOW, 534}, {EINTR, 995},
      {EIO, 1117}, {EMLINK, 1142}, {ETIMEDOUT, 1460}, {ELOOP, 1921}, {EHWPOISON, 31},
  };
  // The system's text for a code is that of its first errno; 3 and 131 have rows of their own,
  // which callers that know the circumstances of ENOENT and EINVAL choose.
  const Pair byCode[] = {{ENOENT, 3}, {EINVAL, 131}, {EACCES, 5}, {ENOSPC, 112}};
  // clang-format on
  for (const Pair& pair : byErrno) {
    EXPECT_EQ(Win32CodeFromErrno(pair.error), pair.code) << strerrorname_np(pair.error);
  }
  for (const Pair& pair : byCode) {
    char text[256] = "";
    FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM, nullptr, pair.code, 0, text, sizeof text, nullptr);
    EXPECT_EQ(std::string(text), std::string(strerror(pair.error)) + ".\r\n") << pair.code;
  }
}

// The room a growth may take, from what statfs(2) said of a fresh 50 GiB ext4 volume with 4 KiB
// blocks: users take f_bavail; a caller that may use root's reserve takes f_bfree less the 4096
// clusters that ext4 keeps even from root; a volume that gives no block count is not limited.
TEST(RoomForGrowth, IsWhatTheVolumeGrantsTheCaller) {
  struct Row {
    const char* name;
    VolumeSpace volume;
    std::uint64_t room;
  };
  const std::uint64_t unlimited = std::numeric_limits<std::uint64_t>::max();
  const Row rows[] = {
      {"RootOn50GiBExt4", {4096, 13107200, 12822642, 12163186, 4096, true}, 52504764416},
      {"UserOn50GiBExt4", {4096, 13107200, 12822642, 12163186, 4096, false}, 49820409856},
      {"RootWhereTheReserveIsAllThatIsFree", {4096, 13107200, 4000, 0, 4096, true}, 0},
      {"TmpfsWithoutALimit", {4096, 0, 0, 0, 0, false}, unlimited},
  };
  for (const Row& row : rows) {
    EXPECT_EQ(RoomForGrowth(row.volume), row.room) << row.name;
  }
}

}  // namespace
