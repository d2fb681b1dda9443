#include "privileges/privileges.h"

#include <cstddef>
#include <cstring>
#include <vector>

#include "platform/win32.h"

namespace {

// Closes the token when the routine leaves, by any path. Declared after the buffer, so that the
// token is closed before the buffer is released.
class TokenCloser {
 public:
  explicit TokenCloser(win32::HANDLE token) : token_(token) {}
  TokenCloser(const TokenCloser&) = delete;
  TokenCloser& operator=(const TokenCloser&) = delete;
  ~TokenCloser() {
    if (token_ != nullptr) win32::CloseHandle(token_);
  }

 private:
  win32::HANDLE token_;
};

constexpr std::size_t kCountSize = sizeof(win32::DWORD);
constexpr std::size_t kEntrySize = sizeof(win32::LUID_AND_ATTRIBUTES);
constexpr std::size_t kAttributesOffset = offsetof(win32::LUID_AND_ATTRIBUTES, Attributes);

// Sets the enabled flag on every entry of a TOKEN_PRIVILEGES list held in raw bytes. The count
// is trusted only as far as the bytes reach.
void EnableAll(std::vector<unsigned char>& list) {
  if (list.size() < kCountSize) return;
  win32::DWORD count = 0;
  std::memcpy(&count, list.data(), kCountSize);
  std::size_t fits = (list.size() - kCountSize) / kEntrySize;
  if (count > fits) count = static_cast<win32::DWORD>(fits);
  for (std::size_t i = 0; i < count; ++i) {
    unsigned char* attributes = list.data() + kCountSize + i * kEntrySize + kAttributesOffset;
    win32::DWORD flags = 0;
    std::memcpy(&flags, attributes, sizeof flags);
    flags |= win32::SE_PRIVILEGE_ENABLED;
    std::memcpy(attributes, &flags, sizeof flags);
  }
}

}  // namespace

void EnablePrivileges() {
  std::vector<unsigned char> list;
  win32::HANDLE token = nullptr;
  if (!win32::OpenProcessToken(win32::GetCurrentProcess(),
                               win32::TOKEN_ADJUST_PRIVILEGES | win32::TOKEN_QUERY, &token)) {
    return;
  }
  TokenCloser closer(token);

  win32::DWORD length = 0;
  win32::GetTokenInformation(token, win32::TokenPrivileges, nullptr, 0, &length);
  if (win32::GetLastError() != win32::ERROR_INSUFFICIENT_BUFFER) return;

  list.resize(length);
  if (!win32::GetTokenInformation(token, win32::TokenPrivileges, list.data(), length, &length)) {
    return;
  }
  EnableAll(list);
  // Whether every privilege could be enabled is not looked at: a missing one only matters to
  // the fast path, which answers for itself.
  win32::AdjustTokenPrivileges(token, win32::FALSE,
                               reinterpret_cast<win32::TOKEN_PRIVILEGES*>(list.data()), 0, nullptr,
                               nullptr);
}
