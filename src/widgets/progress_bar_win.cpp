// The progress bar window class: the model drawn into an off-screen DIB.
#include "widgets/progress_bar_win.h"

#include <cmath>
#include <cstring>
#include <cwchar>
#include <exception>

#include "platform/win32.h"

namespace sealupdate {
namespace {

// WM_DPICHANGED_AFTERPARENT, newer than the headers' Windows 7 target.
constexpr UINT kDpiChangedAfterParent = 0x02E3;

int DpiOf(HWND hwnd) {
  // GetDpiForWindow exists from Windows 10 1607 on; older systems draw at 96 DPI.
  using Fn = UINT(WINAPI*)(HWND);
  static const Fn getDpiForWindow = [] {
    HMODULE user32 = GetModuleHandleW(L"user32.dll");
    return user32 ? reinterpret_cast<Fn>(
                        reinterpret_cast<void*>(GetProcAddress(user32, "GetDpiForWindow")))
                  : nullptr;
  }();
  const UINT dpi = getDpiForWindow ? getDpiForWindow(hwnd) : 0;
  return dpi > 0 ? static_cast<int>(dpi) : 96;
}

// The window's state: the model and the persistent off-screen surface it is shown from.
class BarWindow {
 public:
  explicit BarWindow(HWND hwnd) : hwnd_(hwnd) {
    model_.SetDpi(DpiOf(hwnd));
    model_.SetRefresh([this] { Refresh(); });
  }
  ~BarWindow() {
    if (dc_ && original_) SelectObject(dc_.get(), original_);
  }
  BarWindow(const BarWindow&) = delete;
  BarWindow& operator=(const BarWindow&) = delete;

  ProgressBar& Model() { return model_; }
  double TwipsPerPixel() const { return 1440.0 / model_.Dpi(); }
  void SetFont(HFONT font) {
    font_ = font;
    Refresh();
  }
  HFONT Font() const { return font_; }
  void Resize(int width, int height) {
    model_.Resize(width * TwipsPerPixel(), height * TwipsPerPixel());
  }
  // The window moved to a monitor of another density: same size in pixels, new twips.
  void FollowDpi() {
    model_.SetDpi(DpiOf(hwnd_));
    RECT client{};
    GetClientRect(hwnd_, &client);
    Resize(client.right, client.bottom);
  }
  void Paint();
  LRESULT Mouse(UINT message, WPARAM wParam, LPARAM lParam);

 private:
  bool EnsureSurface(int width, int height);
  void DrawLabel();
  void Refresh();

  HWND hwnd_;
  ProgressBar model_;
  win::UniqueMemoryDc dc_;
  win::UniqueBitmap dib_;
  HGDIOBJ original_ = nullptr;  // the memory DC's own bitmap, put back before ours is freed
  void* bits_ = nullptr;
  int width_ = 0;
  int height_ = 0;
  HFONT font_ = nullptr;  // from WM_SETFONT, owned by the parent
  win::UniqueFont labelFont_;
  bool afterDblClick_ = false;
};

bool BarWindow::EnsureSurface(int width, int height) {
  if (dib_ && width == width_ && height == height_) return true;
  if (!dc_) dc_.reset(CreateCompatibleDC(nullptr));
  if (!dc_) return false;
  if (original_) SelectObject(dc_.get(), original_);
  dib_.reset();
  bits_ = nullptr;
  width_ = height_ = 0;
  if (width <= 0 || height <= 0) return false;
  BITMAPINFO info{};
  info.bmiHeader.biSize = sizeof info.bmiHeader;
  info.bmiHeader.biWidth = width;
  info.bmiHeader.biHeight = -height;  // top-down, the row order of the model's image
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  info.bmiHeader.biCompression = BI_RGB;
  dib_.reset(CreateDIBSection(dc_.get(), &info, DIB_RGB_COLORS, &bits_, nullptr, 0));
  if (!dib_ || !bits_) {
    dib_.reset();
    return false;
  }
  original_ = SelectObject(dc_.get(), dib_.get());
  width_ = width;
  height_ = height;
  return true;
}

void BarWindow::DrawLabel() {
  LOGFONTW lf{};
  if (!font_ || GetObjectW(font_, sizeof lf, &lf) != sizeof lf) {
    lf = LOGFONTW{};
    std::wcscpy(lf.lfFaceName, L"Tahoma");
    lf.lfWeight = FW_NORMAL;
    lf.lfCharSet = DEFAULT_CHARSET;
  }
  lf.lfHeight = -static_cast<LONG>(std::lround(model_.FontSize() * model_.Dpi() / 72.0));
  lf.lfWidth = 0;
  labelFont_.reset(CreateFontIndirectW(&lf));
  const std::wstring text = win::Wide(model_.LabelText());
  HGDIOBJ old = SelectObject(dc_.get(), labelFont_ ? labelFont_.get() : font_);
  SIZE extent{};
  GetTextExtentPoint32W(dc_.get(), text.c_str(), static_cast<int>(text.size()), &extent);
  const double tpp = TwipsPerPixel();
  const auto [left, top] = model_.LabelPosition(extent.cx * tpp, extent.cy * tpp);
  SetBkMode(dc_.get(), TRANSPARENT);
  SetTextColor(dc_.get(), GetSysColor(COLOR_BTNTEXT));
  TextOutW(dc_.get(), static_cast<int>(std::lround(left / tpp)),
           static_cast<int>(std::lround(top / tpp)), text.c_str(), static_cast<int>(text.size()));
  SelectObject(dc_.get(), old);
}

// The last step of every redraw: the model's image and the label into the off-screen surface,
// then the screen from the surface.
void BarWindow::Refresh() {
  const PixelBuffer& image = model_.Image();
  if (EnsureSurface(image.Width(), image.Height())) {
    GdiFlush();
    std::memcpy(bits_, image.Pixels().data(), image.Pixels().size() * sizeof(std::uint32_t));
    if (model_.LabelVisible()) DrawLabel();
  }
  // The label's text is also the window's text, so tools and tests can read it.
  const std::wstring shown = model_.LabelVisible() ? win::Wide(model_.LabelText()) : L"";
  wchar_t current[64] = {};
  GetWindowTextW(hwnd_, current, 64);
  if (shown != current) SetWindowTextW(hwnd_, shown.c_str());
  InvalidateRect(hwnd_, nullptr, FALSE);
  UpdateWindow(hwnd_);
}

void BarWindow::Paint() {
  PAINTSTRUCT ps{};
  HDC target = BeginPaint(hwnd_, &ps);
  if (target && dib_) BitBlt(target, 0, 0, width_, height_, dc_.get(), 0, 0, SRCCOPY);
  EndPaint(hwnd_, &ps);
}

std::int16_t ShiftState(WPARAM wParam) {
  std::int16_t shift = 0;
  if (wParam & MK_SHIFT) shift |= ProgressBar::kShiftKey;
  if (wParam & MK_CONTROL) shift |= ProgressBar::kCtrlKey;
  if (GetKeyState(VK_MENU) < 0) shift |= ProgressBar::kAltKey;  // Alt is not in wParam
  return shift;
}

std::int16_t HeldButtons(WPARAM wParam) {
  std::int16_t buttons = 0;
  if (wParam & MK_LBUTTON) buttons |= ProgressBar::kLeftButton;
  if (wParam & MK_RBUTTON) buttons |= ProgressBar::kRightButton;
  if (wParam & MK_MBUTTON) buttons |= ProgressBar::kMiddleButton;
  return buttons;
}

LRESULT BarWindow::Mouse(UINT message, WPARAM wParam, LPARAM lParam) {
  std::int16_t shift = ShiftState(wParam);
  const double tpp = TwipsPerPixel();
  float x = static_cast<float>(static_cast<short>(LOWORD(lParam)) * tpp);
  float y = static_cast<float>(static_cast<short>(HIWORD(lParam)) * tpp);
  const ProgressBar::Events& events = model_.events;
  const auto raise = [&](const ProgressBar::MouseHandler& handler, std::int16_t button) {
    if (handler) handler(button, shift, x, y);
  };
  switch (message) {
    case WM_MOUSEMOVE:
      raise(events.MouseMove, HeldButtons(wParam));
      break;
    case WM_LBUTTONDOWN:
      SetCapture(hwnd_);
      raise(events.MouseDown, ProgressBar::kLeftButton);
      break;
    case WM_RBUTTONDOWN:
      raise(events.MouseDown, ProgressBar::kRightButton);
      break;
    case WM_MBUTTONDOWN:
      raise(events.MouseDown, ProgressBar::kMiddleButton);
      break;
    case WM_LBUTTONDBLCLK:
      // The second press of a double click is the double click, not another press and click.
      SetCapture(hwnd_);
      afterDblClick_ = true;
      if (events.DblClick) events.DblClick();
      break;
    case WM_LBUTTONUP: {
      if (GetCapture() == hwnd_) ReleaseCapture();
      raise(events.MouseUp, ProgressBar::kLeftButton);
      RECT client{};
      GetClientRect(hwnd_, &client);
      const POINT at{static_cast<short>(LOWORD(lParam)), static_cast<short>(HIWORD(lParam))};
      const bool click = !afterDblClick_ && PtInRect(&client, at);
      afterDblClick_ = false;
      if (click && events.Click) events.Click();
      break;
    }
    case WM_RBUTTONUP:
      raise(events.MouseUp, ProgressBar::kRightButton);
      break;
    case WM_MBUTTONUP:
      raise(events.MouseUp, ProgressBar::kMiddleButton);
      break;
    default:
      break;
  }
  return 0;
}

BarWindow* BarOf(HWND hwnd) {
  return reinterpret_cast<BarWindow*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
}

LRESULT CALLBACK BarWindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  // No exception leaves the window procedure: an overflow in a redraw started here (a resize)
  // leaves the last image on the screen.
  try {
    BarWindow* bar = BarOf(hwnd);
    switch (message) {
      case WM_NCCREATE:
        SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(new BarWindow(hwnd)));
        break;
      case WM_CREATE: {
        const auto* create = reinterpret_cast<const CREATESTRUCTW*>(lParam);
        if (bar) bar->Resize(create->cx, create->cy);
        return 0;
      }
      case WM_NCDESTROY:
        SetWindowLongPtrW(hwnd, GWLP_USERDATA, 0);
        delete bar;
        break;
      case WM_SIZE:
        if (bar) bar->Resize(LOWORD(lParam), HIWORD(lParam));
        return 0;
      case kDpiChangedAfterParent:
        if (bar) bar->FollowDpi();
        return 0;
      case WM_SETFONT:
        if (bar) bar->SetFont(reinterpret_cast<HFONT>(wParam));
        return 0;
      case WM_GETFONT:
        return bar ? reinterpret_cast<LRESULT>(bar->Font()) : 0;
      case WM_ERASEBKGND:
        return 1;
      case WM_PAINT:
        if (!bar) break;
        bar->Paint();
        return 0;
      case WM_MOUSEMOVE:
      case WM_LBUTTONDOWN:
      case WM_LBUTTONUP:
      case WM_LBUTTONDBLCLK:
      case WM_RBUTTONDOWN:
      case WM_RBUTTONUP:
      case WM_MBUTTONDOWN:
      case WM_MBUTTONUP:
        if (bar) return bar->Mouse(message, wParam, lParam);
        break;
      default:
        break;
    }
  } catch (...) {
    return 0;
  }
  return DefWindowProcW(hwnd, message, wParam, lParam);
}

}  // namespace

bool RegisterProgressBarClass() {
  HINSTANCE instance = GetModuleHandleW(nullptr);
  WNDCLASSEXW existing{};
  existing.cbSize = sizeof existing;
  if (GetClassInfoExW(instance, kProgressBarClassName, &existing)) return true;
  WNDCLASSEXW wc{};
  wc.cbSize = sizeof wc;
  wc.style = CS_DBLCLKS;
  wc.lpfnWndProc = BarWindowProc;
  wc.hInstance = instance;
  wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
  wc.lpszClassName = kProgressBarClassName;
  return RegisterClassExW(&wc) != 0;
}

ProgressBar* ProgressBarOf(HWND__* window) {
  // The model pointer is only meaningful inside the process that created the window.
  DWORD process = 0;
  wchar_t name[64] = {};
  if (!window || !GetWindowThreadProcessId(window, &process) || process != GetCurrentProcessId() ||
      !GetClassNameW(window, name, 64) || std::wcscmp(name, kProgressBarClassName) != 0) {
    return nullptr;
  }
  BarWindow* bar = BarOf(window);
  return bar ? &bar->Model() : nullptr;
}

}  // namespace sealupdate
