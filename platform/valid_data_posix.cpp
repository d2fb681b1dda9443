// The Linux program's valid-data policy, in one place: how much of each open file counts as valid,
// whether a growth can fit before anything is reserved, the reservation itself, and the lock by
// which two runs on one file take turns.
//
// A growth is reserved with fallocate(2), whose space reads as zeros. A request that cannot fit
// the space the caller may use is refused before any block is reserved, so that other programs on
// the volume never see it fill for nothing. Every other request goes to fallocate; a refusal from
// it is rolled back by the caller, who sets the old end again.
#include <errno.h>
#include <fcntl.h>
#include <linux/capability.h>
#include <linux/fiemap.h>
#include <linux/fs.h>
#include <linux/magic.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/sysmacros.h>
#include <sys/vfs.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <limits>
#include <string>
#include <unordered_map>
#include <vector>

#include "platform/win32_posix.h"

namespace win32 {
namespace {

std::unordered_map<int, off_t> validLength;

BOOL FailWithErrno() {
  SetLastErrorFromErrno(errno);
  return FALSE;
}

std::string DeviceNumber(dev_t device) {
  return std::to_string(major(device)) + ":" + std::to_string(minor(device));
}

// The value of `name=` among a mount's comma-separated options, or `otherwise`.
unsigned long MountOption(const std::string& options, const std::string& name,
                          unsigned long otherwise) {
  const std::string::size_type at = (',' + options).find(',' + name + '=');
  // strtoul, not stoul: an option the program cannot read must never end the run.
  return at == std::string::npos
             ? otherwise
             : std::strtoul(options.c_str() + at + name.size() + 1, nullptr, 10);
}

bool InGroup(gid_t group) {
  if (::getegid() == group) return true;
  std::vector<gid_t> groups(static_cast<std::size_t>(std::max(::getgroups(0, nullptr), 0)));
  groups.resize(static_cast<std::size_t>(
      std::max(::getgroups(static_cast<int>(groups.size()), groups.data()), 0)));
  return std::find(groups.begin(), groups.end(), group) != groups.end();
}

// The effective user as the volume knows it, and whether the process runs in the host's user
// namespace, the only one whose capabilities reach a volume: a container's root is another user
// there.
bool HostUser(uid_t* user) {
  const uid_t effective = ::geteuid();
  *user = effective;
  bool host = true;  // without /proc, as on a system without namespaces
  std::ifstream map("/proc/self/uid_map");
  std::uint64_t inside = 0, outside = 0, count = 0;
  while (map >> inside >> outside >> count) {
    host = inside == 0 && outside == 0 && count == 0xFFFFFFFFu;
    if (effective >= inside && effective - inside < count) {
      *user = static_cast<uid_t>(outside + (effective - inside));
    }
  }
  return host;
}

// ext4 lets a holder of CAP_SYS_RESOURCE, and the user and group named when the volume was
// mounted (root, unless the mount says otherwise), take the blocks it keeps for root.
bool MayUseRootReserve(dev_t device) {
  uid_t user = 0;
  const bool host = HostUser(&user);
  __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
  __user_cap_data_struct sets[2]{};
  if (host && ::syscall(SYS_capget, &header, sets) == 0 &&
      (sets[0].effective & (1u << CAP_SYS_RESOURCE)) != 0) {
    return true;
  }
  std::string options;
  std::ifstream mounts("/proc/self/mountinfo");
  const std::string number = ' ' + DeviceNumber(device) + ' ';
  for (std::string line; std::getline(mounts, line);) {
    // The device is the third field, the volume's own options the last.
    if (line.find(number) == line.find(' ', line.find(' ') + 1)) {
      options = line.substr(line.rfind(' ') + 1);
      break;
    }
  }
  const auto owner = static_cast<uid_t>(MountOption(options, "resuid", 0));
  const auto group = static_cast<gid_t>(MountOption(options, "resgid", 0));
  return user == owner || (host && group != 0 && InGroup(group));
}

// Blocks that ext4 holds back for its own records even from root: the smaller of 2% of its
// clusters and 4096 clusters, as its sysfs folder says. Counted as blocks, which errs towards
// trying where a cluster holds several blocks.
std::uint64_t Ext4OwnReserve(dev_t device, std::uint64_t blocks) {
  char target[4096];
  const std::string link = "/sys/dev/block/" + DeviceNumber(device);
  const ssize_t length = ::readlink(link.c_str(), target, sizeof target - 1);
  if (length > 0) {
    const std::string path(target, static_cast<std::size_t>(length));
    std::ifstream count("/sys/fs/ext4/" + path.substr(path.rfind('/') + 1) + "/reserved_clusters");
    std::uint64_t clusters = 0;
    if (count >> clusters) return clusters;
  }
  return std::min<std::uint64_t>(blocks / 50, 4096);
}

using Range = std::pair<off_t, off_t>;  // [first, second) in bytes

// The parts of [from, to) that the file holds on the volume already, reserved or written, in
// order: fallocate takes no new space for them. False where the file system keeps no extent map.
bool HeldWithin(int fd, off_t from, off_t to, std::vector<Range>* held) {
  constexpr unsigned kBatch = 64;
  alignas(struct fiemap) unsigned char
      buffer[sizeof(struct fiemap) + kBatch * sizeof(struct fiemap_extent)];
  auto* map = reinterpret_cast<struct fiemap*>(buffer);
  for (off_t next = from; next < to;) {
    std::memset(buffer, 0, sizeof buffer);
    map->fm_start = static_cast<std::uint64_t>(next);
    map->fm_length = static_cast<std::uint64_t>(to - next);
    map->fm_extent_count = kBatch;
    if (::ioctl(fd, FS_IOC_FIEMAP, map) != 0) return false;
    if (map->fm_mapped_extents == 0) break;
    for (unsigned i = 0; i < map->fm_mapped_extents; ++i) {
      const struct fiemap_extent& extent = map->fm_extents[i];
      const auto first = static_cast<off_t>(extent.fe_logical);
      next = static_cast<off_t>(extent.fe_logical + extent.fe_length);
      if (std::min(next, to) > std::max(first, from)) {
        held->emplace_back(std::max(first, from), std::min(next, to));
      }
      if ((extent.fe_flags & FIEMAP_EXTENT_LAST) != 0) return true;
    }
  }
  return true;
}

// Reserves the parts of [from, to) that `held` leaves out. Only those: xfs refuses a range that
// holds reserved space as a whole when the volume has room for its holes but not for all of it.
BOOL ReserveHoles(int fd, off_t from, off_t to, const std::vector<Range>& held) {
  for (const Range& part : held) {
    const off_t holeEnd = std::min(part.first, to);
    if (holeEnd > from && ::fallocate(fd, 0, from, holeEnd - from) != 0) {
      return FailWithErrno();  // any failure, EINTR included: success must mean the space is there
    }
    from = std::max(from, part.second);
  }
  return from < to && ::fallocate(fd, 0, from, to - from) != 0 ? FailWithErrno() : TRUE;
}

}  // namespace

std::uint64_t RoomForGrowth(const VolumeSpace& volume) {
  if (volume.blocks == 0) return std::numeric_limits<std::uint64_t>::max();
  std::uint64_t blocks = volume.availableBlocks;
  if (volume.mayUseRootReserve) {
    blocks = std::max(blocks, volume.freeBlocks - std::min(volume.freeBlocks, volume.ownReserve));
  }
  return blocks * volume.blockSize;
}

void NoteValidLength(int fd, off_t length) { validLength[fd] = length; }

// The valid length never lies beyond the lowest end the file has had since it was opened.
void NoteEndSet(int fd, off_t end) { validLength[fd] = std::min(validLength[fd], end); }

void ForgetValidLength(int fd) { validLength.erase(fd); }

BOOL SetFileValidData(HANDLE file, LONGLONG validDataLength) {
  const int fd = FdFromHandle(file);
  struct stat info;
  struct statfs volume;
  if (::fstat(fd, &info) != 0 || ::fstatfs(fd, &volume) != 0) return FailWithErrno();
  // As on Windows, the valid length may not lie beyond the end of file.
  if (validDataLength < 0 || validDataLength > info.st_size) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  const off_t start = validLength[fd];
  if (validDataLength > start) {
    std::vector<Range> held;
    std::uint64_t needed = static_cast<std::uint64_t>(validDataLength - start);
    if (HeldWithin(fd, start, validDataLength, &held)) {
      for (const Range& part : held) needed -= static_cast<std::uint64_t>(part.second - part.first);
    } else {
      // Without a map (tmpfs), all that the file holds may lie in the range: counted so, nothing
      // that fits is refused here, and the reservation itself, which tmpfs undoes whole when it
      // fails, answers for the rest.
      needed -= std::min(needed, static_cast<std::uint64_t>(info.st_blocks) * 512);
    }
    VolumeSpace space{
        static_cast<std::uint64_t>(volume.f_frsize ? volume.f_frsize : volume.f_bsize),
        static_cast<std::uint64_t>(volume.f_blocks),
        static_cast<std::uint64_t>(volume.f_bfree),
        static_cast<std::uint64_t>(volume.f_bavail),
        0,
        false};
    // Who may take root's reserve, and how much ext4 keeps even from root, is read from /proc and
    // /sys only for a growth that the users' room does not hold.
    if (needed > RoomForGrowth(space) && volume.f_type == EXT4_SUPER_MAGIC) {
      space.ownReserve = Ext4OwnReserve(info.st_dev, space.blocks);
      space.mayUseRootReserve = MayUseRootReserve(info.st_dev);
    }
    if (needed > RoomForGrowth(space)) {
      SetLastError(ERROR_DISK_FULL);
      return FALSE;
    }
    // The block that holds the old end may be a hole. Reserved first, it would stay when a
    // refusal cuts the file back, so it comes last. Unlike Windows, the new space reads as zeros.
    const off_t aligned = std::min<off_t>(
        (start + info.st_blksize - 1) / info.st_blksize * info.st_blksize, validDataLength);
    if (!ReserveHoles(fd, aligned, validDataLength, held) ||
        !ReserveHoles(fd, start, aligned, held)) {
      return FALSE;
    }
  }
  validLength[fd] = validDataLength;
  return TRUE;
}

// Our runs take turns through a lock on the file description, which only programs that ask for
// locks ever meet: no reader or writer of the file waits for it.
BOOL LockFileEx(HANDLE file, DWORD flags, DWORD, DWORD bytesToLockLow, DWORD bytesToLockHigh,
                OVERLAPPED* overlapped) {
  struct flock lock {};
  lock.l_type = (flags & LOCKFILE_EXCLUSIVE_LOCK) != 0 ? F_WRLCK : F_RDLCK;
  lock.l_whence = SEEK_SET;
  lock.l_start = static_cast<off_t>(static_cast<std::uint64_t>(overlapped->OffsetHigh) << 32 |
                                    overlapped->Offset);
  lock.l_len =
      static_cast<off_t>(static_cast<std::uint64_t>(bytesToLockHigh) << 32 | bytesToLockLow);
  const int command = (flags & LOCKFILE_FAIL_IMMEDIATELY) != 0 ? F_OFD_SETLK : F_OFD_SETLKW;
  if (::fcntl(FdFromHandle(file), command, &lock) == 0) return TRUE;
  if (errno != EAGAIN && errno != EACCES) return FailWithErrno();
  SetLastError(ERROR_LOCK_VIOLATION);
  return FALSE;
}

}  // namespace win32
