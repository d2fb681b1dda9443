// The Linux stand-ins' errno table, row by row: deleting or changing any row fails here. The case
// table makes the real system fail the open where that needs no root.
#include "platform/win32_posix.h"

#include <errno.h>
#include <string.h>

#include <gtest/gtest.h>

#include <limits>
#include <string>

#include "platform/errors.h"

namespace {

using namespace win32;

// The errno table, a row a test named by its errno: --gtest_filter='Errno/*/ENOTDIR'.
struct ErrnoRow {
  int error;
  DWORD code;
};
void PrintTo(const ErrnoRow& row, std::ostream* out) {
  *out << (row.error == 0 ? "None" : strerrorname_np(row.error));
}

// clang-format off
const ErrnoRow kByErrno[] = {
    {0, ERROR_SUCCESS}, {ENOENT, ERROR_FILE_NOT_FOUND}, {ENOTDIR, ERROR_PATH_NOT_FOUND},
    {EACCES, ERROR_ACCESS_DENIED}, {EPERM, ERROR_ACCESS_DENIED}, {EISDIR, ERROR_ACCESS_DENIED},
    {EMFILE, ERROR_TOO_MANY_OPEN_FILES}, {ENFILE, ERROR_TOO_MANY_OPEN_FILES},
    {EBADF, ERROR_INVALID_HANDLE}, {ENOMEM, ERROR_NOT_ENOUGH_MEMORY}, {ENOSPC, ERROR_DISK_FULL},
    {EDQUOT, ERROR_DISK_FULL}, {EFBIG, ERROR_DISK_FULL}, {EINVAL, ERROR_INVALID_PARAMETER},
    {ESPIPE, ERROR_INVALID_FUNCTION}, {EROFS, ERROR_WRITE_PROTECT}, {EXDEV, ERROR_NOT_SAME_DEVICE},
    {ETXTBSY, ERROR_SHARING_VIOLATION}, {EOPNOTSUPP, ERROR_NOT_SUPPORTED},
    {ENOSYS, ERROR_INVALID_FUNCTION}, {ENXIO, ERROR_DEV_NOT_EXIST}, {ENODEV, ERROR_DEV_NOT_EXIST},
    {EEXIST, ERROR_FILE_EXISTS}, {EPIPE, ERROR_BROKEN_PIPE}, {ENOTEMPTY, ERROR_DIR_NOT_EMPTY},
    {EBUSY, ERROR_BUSY}, {EAGAIN, ERROR_BUSY}, {ENAMETOOLONG, ERROR_FILENAME_EXCED_RANGE},
    {EOVERFLOW, ERROR_ARITHMETIC_OVERFLOW}, {EINTR, ERROR_OPERATION_ABORTED},
    {EIO, ERROR_IO_DEVICE}, {EMLINK, ERROR_TOO_MANY_LINKS}, {ETIMEDOUT, ERROR_TIMEOUT},
    {ELOOP, ERROR_CANT_RESOLVE_FILENAME}, {EHWPOISON, ERROR_GEN_FAILURE},
};
// The system's text for a code is that of its first errno; ERROR_PATH_NOT_FOUND and
// ERROR_NEGATIVE_SEEK have rows of their own, which callers that know the circumstances of ENOENT
// and EINVAL choose.
const ErrnoRow kByCode[] = {
    {ENOENT, ERROR_PATH_NOT_FOUND}, {EINVAL, ERROR_NEGATIVE_SEEK},
    {EACCES, ERROR_ACCESS_DENIED}, {ENOSPC, ERROR_DISK_FULL},
};
// clang-format on

class ErrnoTable : public testing::TestWithParam<ErrnoRow> {};

TEST_P(ErrnoTable, HasTheCodeWindowsWouldGive) {
  EXPECT_EQ(Win32CodeFromErrno(GetParam().error), GetParam().code);
}
INSTANTIATE_TEST_SUITE_P(Errno, ErrnoTable, testing::ValuesIn(kByErrno),
                         testing::PrintToStringParamName());

class CodeText : public testing::TestWithParam<ErrnoRow> {};

TEST_P(CodeText, IsTheTextOfItsErrno) {
  EXPECT_EQ(SystemErrorText(GetParam().code), strerror(GetParam().error));
}
INSTANTIATE_TEST_SUITE_P(Errno, CodeText, testing::ValuesIn(kByCode),
                         testing::PrintToStringParamName());

// The room a growth may take, from what statfs(2) said of a fresh 50 GiB ext4 volume with 4 KiB
// blocks: users take f_bavail; a caller that may use root's reserve takes f_bfree less the 4096
// clusters that ext4 keeps even from root; a volume that gives no block count is not limited.
struct RoomRow {
  const char* name;
  VolumeSpace volume;
  std::uint64_t room;
};
void PrintTo(const RoomRow& row, std::ostream* out) { *out << row.name; }

const std::uint64_t kUnlimited = std::numeric_limits<std::uint64_t>::max();
const RoomRow kRoomRows[] = {
    {"RootOn50GiBExt4", {4096, 13107200, 12822642, 12163186, 4096, true}, 52504764416},
    {"UserOn50GiBExt4", {4096, 13107200, 12822642, 12163186, 4096, false}, 49820409856},
    {"RootWhereTheReserveIsAllThatIsFree", {4096, 13107200, 4000, 0, 4096, true}, 0},
    {"TmpfsWithoutALimit", {4096, 0, 0, 0, 0, false}, kUnlimited},
};

class RoomForGrowthOf : public testing::TestWithParam<RoomRow> {};

TEST_P(RoomForGrowthOf, IsWhatTheVolumeGrantsTheCaller) {
  EXPECT_EQ(RoomForGrowth(GetParam().volume), GetParam().room);
}
INSTANTIATE_TEST_SUITE_P(Volumes, RoomForGrowthOf, testing::ValuesIn(kRoomRows),
                         testing::PrintToStringParamName());

}  // namespace
