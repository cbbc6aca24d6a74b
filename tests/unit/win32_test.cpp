// Under Wine only: the owners of Win32 handles. (The version reader is checked natively against
// pefile, an independent parser, on the fixtures and on a sample of Wine's own PE binaries.)
#ifdef _WIN32
#include <gtest/gtest.h>

#include <utility>
#include <vector>

#include "platform/win32.h"

namespace sealupdate {
namespace {

// A handle whose close sets an error of its own, as InternetCloseHandle may.
struct NoisyCloseTraits {
  using Handle = int;
  static Handle Invalid() noexcept { return 0; }
  static void Close(Handle h) noexcept {
    closed.push_back(h);
    ::SetLastError(ERROR_INVALID_HANDLE);
  }
  static inline std::vector<int> closed;
};
using NoisyHandle = win::UniqueHandle<NoisyCloseTraits>;

// `owner.reset(OpenX(...))` after OpenX failed, then GetLastError(): the error must be OpenX's,
// not the close's. The same holds when the owner goes or takes another handle.
TEST(UniqueHandle, ClosingKeepsTheLastError) {
  NoisyCloseTraits::closed.clear();
  {
    NoisyHandle request(1);
    ::SetLastError(ERROR_INTERNET_NAME_NOT_RESOLVED);
    request.reset();
    EXPECT_EQ(::GetLastError(), static_cast<DWORD>(ERROR_INTERNET_NAME_NOT_RESOLVED));
    EXPECT_FALSE(request);

    request.reset(2);
    NoisyHandle other(3);
    ::SetLastError(ERROR_INTERNET_TIMEOUT);
    other = std::move(request);
    EXPECT_EQ(::GetLastError(), static_cast<DWORD>(ERROR_INTERNET_TIMEOUT));
    EXPECT_EQ(other.get(), 2);
    ::SetLastError(ERROR_SUCCESS);
  }
  EXPECT_EQ(::GetLastError(), static_cast<DWORD>(ERROR_SUCCESS));  // `other` closed on leaving
  EXPECT_EQ(NoisyCloseTraits::closed, (std::vector<int>{1, 3, 2}));
}

}  // namespace
}  // namespace sealupdate
#endif
