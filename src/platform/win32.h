// The one place that includes <windows.h>. Only *_win.cpp files include this header.
#pragma once

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#ifndef UNICODE
#define UNICODE
#endif
#ifndef _UNICODE
#define _UNICODE
#endif
#undef _WIN32_WINNT
#define _WIN32_WINNT 0x0601  // Windows 7
#undef WINVER
#define WINVER _WIN32_WINNT

#include <windows.h>
// After <windows.h>:
#include <wininet.h>

#include <string>
#include <utility>

namespace sealupdate::win {

// Move-only owner of a Win32 handle. `Traits` supplies the invalid value and the closing call.
template <typename Traits>
class UniqueHandle {
 public:
  using Handle = typename Traits::Handle;

  UniqueHandle() noexcept = default;
  explicit UniqueHandle(Handle h) noexcept : handle_(h) {}
  ~UniqueHandle() { reset(); }
  UniqueHandle(const UniqueHandle&) = delete;
  UniqueHandle& operator=(const UniqueHandle&) = delete;
  UniqueHandle(UniqueHandle&& other) noexcept : handle_(other.release()) {}
  UniqueHandle& operator=(UniqueHandle&& other) noexcept {
    if (this != &other) reset(other.release());
    return *this;
  }

  Handle get() const noexcept { return handle_; }
  explicit operator bool() const noexcept { return handle_ != Traits::Invalid(); }
  Handle release() noexcept { return std::exchange(handle_, Traits::Invalid()); }
  // Keeps the last error: `h` is often the result of a call that failed (reset(OpenX(...))),
  // whose error is read next, and a close may set an error of its own.
  void reset(Handle h = Traits::Invalid()) noexcept {
    const Handle old = std::exchange(handle_, h);
    if (old == Traits::Invalid()) return;
    const DWORD error = ::GetLastError();
    Traits::Close(old);
    ::SetLastError(error);
  }

 private:
  Handle handle_ = Traits::Invalid();
};

struct KernelHandleTraits {  // process, thread, snapshot, event
  using Handle = HANDLE;
  static Handle Invalid() noexcept { return nullptr; }
  static void Close(Handle h) noexcept { ::CloseHandle(h); }
};
struct FileHandleTraits {  // CreateFileW and CreateToolhelp32Snapshot fail with
                           // INVALID_HANDLE_VALUE
  using Handle = HANDLE;
  static Handle Invalid() noexcept { return INVALID_HANDLE_VALUE; }
  static void Close(Handle h) noexcept { ::CloseHandle(h); }
};
struct IconTraits {
  using Handle = HICON;
  static Handle Invalid() noexcept { return nullptr; }
  static void Close(Handle h) noexcept { ::DestroyIcon(h); }
};

template <typename T>
struct GdiObjectTraits {  // fonts, bitmaps, brushes, pens
  using Handle = T;
  static Handle Invalid() noexcept { return nullptr; }
  static void Close(Handle h) noexcept { ::DeleteObject(h); }
};
struct MemoryDcTraits {  // CreateCompatibleDC
  using Handle = HDC;
  static Handle Invalid() noexcept { return nullptr; }
  static void Close(Handle h) noexcept { ::DeleteDC(h); }
};
struct MenuTraits {
  using Handle = HMENU;
  static Handle Invalid() noexcept { return nullptr; }
  static void Close(Handle h) noexcept { ::DestroyMenu(h); }
};

struct InternetTraits {  // sessions and requests of WinINet
  using Handle = HINTERNET;
  static Handle Invalid() noexcept { return nullptr; }
  static void Close(Handle h) noexcept { ::InternetCloseHandle(h); }
};
struct WindowTraits {  // windows the owner destroys itself (message-only windows)
  using Handle = HWND;
  static Handle Invalid() noexcept { return nullptr; }
  static void Close(Handle h) noexcept { ::DestroyWindow(h); }
};
struct FindTraits {  // FindFirstFileW
  using Handle = HANDLE;
  static Handle Invalid() noexcept { return INVALID_HANDLE_VALUE; }
  static void Close(Handle h) noexcept { ::FindClose(h); }
};
struct LocalMemoryTraits {  // buffers the system allocates for us (FormatMessage)
  using Handle = void*;
  static Handle Invalid() noexcept { return nullptr; }
  static void Close(Handle h) noexcept { ::LocalFree(h); }
};

struct RegistryKeyTraits {
  using Handle = HKEY;
  static Handle Invalid() noexcept { return nullptr; }
  static void Close(Handle h) noexcept { ::RegCloseKey(h); }
};

using UniqueKernelHandle = UniqueHandle<KernelHandleTraits>;
using UniqueRegistryKey = UniqueHandle<RegistryKeyTraits>;
using UniqueFont = UniqueHandle<GdiObjectTraits<HFONT>>;
using UniqueBitmap = UniqueHandle<GdiObjectTraits<HBITMAP>>;
using UniqueBrush = UniqueHandle<GdiObjectTraits<HBRUSH>>;
using UniqueMemoryDc = UniqueHandle<MemoryDcTraits>;
using UniqueMenu = UniqueHandle<MenuTraits>;
using UniqueFileHandle = UniqueHandle<FileHandleTraits>;
using UniqueIcon = UniqueHandle<IconTraits>;
using UniqueLocalMemory = UniqueHandle<LocalMemoryTraits>;
using UniqueFind = UniqueHandle<FindTraits>;
using UniqueInternet = UniqueHandle<InternetTraits>;
using UniqueWindow = UniqueHandle<WindowTraits>;

struct ActivationContextTraits {  // CreateActCtxW fails with INVALID_HANDLE_VALUE
  using Handle = HANDLE;
  static Handle Invalid() noexcept { return INVALID_HANDLE_VALUE; }
  static void Close(Handle h) noexcept { ::ReleaseActCtx(h); }
};

// An activation context made from a manifest resource of `module` and active on the calling
// thread until the owner goes; empty when the system refuses it. Owners go in the reverse order
// of their making, on the thread that made them.
class ActiveContext {
 public:
  ActiveContext() noexcept = default;
  ActiveContext(HMODULE module, const wchar_t* path, WORD manifestId) noexcept {
    ACTCTXW request{};
    request.cbSize = sizeof request;
    request.dwFlags = ACTCTX_FLAG_RESOURCE_NAME_VALID | ACTCTX_FLAG_HMODULE_VALID;
    request.lpSource = path;
    request.lpResourceName = MAKEINTRESOURCEW(manifestId);
    request.hModule = module;
    context_.reset(::CreateActCtxW(&request));
    if (context_ && !::ActivateActCtx(context_.get(), &cookie_)) context_.reset();
  }
  ~ActiveContext() { reset(); }
  ActiveContext(ActiveContext&& other) noexcept
      : context_(std::move(other.context_)), cookie_(std::exchange(other.cookie_, 0)) {}
  ActiveContext& operator=(ActiveContext&& other) noexcept {
    if (this != &other) {
      reset();
      context_ = std::move(other.context_);
      cookie_ = std::exchange(other.cookie_, 0);
    }
    return *this;
  }
  explicit operator bool() const noexcept { return static_cast<bool>(context_); }
  void reset() noexcept {
    if (context_) ::DeactivateActCtx(0, cookie_);
    context_.reset();
    cookie_ = 0;
  }

 private:
  UniqueHandle<ActivationContextTraits> context_;
  ULONG_PTR cookie_ = 0;
};

// The device context of a window (GetDC), released with the window it came from.
class WindowDc {
 public:
  explicit WindowDc(HWND window) noexcept : window_(window), dc_(::GetDC(window)) {}
  ~WindowDc() {
    if (dc_) ::ReleaseDC(window_, dc_);
  }
  WindowDc(const WindowDc&) = delete;
  WindowDc& operator=(const WindowDc&) = delete;
  HDC get() const noexcept { return dc_; }
  explicit operator bool() const noexcept { return dc_ != nullptr; }

 private:
  HWND window_;
  HDC dc_;
};

// Selects a GDI object into a device context for one scope and puts the previous one back.
class SelectedObject {
 public:
  SelectedObject(HDC dc, HGDIOBJ object) noexcept
      : dc_(dc), previous_(::SelectObject(dc, object)) {}
  ~SelectedObject() {
    if (previous_) ::SelectObject(dc_, previous_);
  }
  SelectedObject(const SelectedObject&) = delete;
  SelectedObject& operator=(const SelectedObject&) = delete;

 private:
  HDC dc_;
  HGDIOBJ previous_;
};

// UTF-16 at the Win32 boundary: wchar_t is 16 bits on Windows.
inline std::wstring Wide(std::u16string_view text) {
  return std::wstring(text.begin(), text.end());
}
inline std::u16string FromWide(std::wstring_view text) {
  return std::u16string(text.begin(), text.end());
}

}  // namespace sealupdate::win
