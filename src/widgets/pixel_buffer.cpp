// A 32-bit pixel buffer with the few drawing operations the progress bar needs.
#include "widgets/pixel_buffer.h"

#include <algorithm>

namespace sealupdate {

PixelBuffer::PixelBuffer(int width, int height, std::uint32_t fill) {
  Resize(width, height);
  Fill(fill);
}

void PixelBuffer::Fill(std::uint32_t pixel) { std::fill(pixels_.begin(), pixels_.end(), pixel); }

void PixelBuffer::Resize(int width, int height) {
  if (width <= 0 || height <= 0) width = height = 0;
  width_ = width;
  height_ = height;
  pixels_.resize(static_cast<std::size_t>(width) * static_cast<std::size_t>(height));
}

void StretchCopy(PixelBuffer& dst, int dX, int dY, int dW, int dH, const PixelBuffer& src, int sX,
                 int sY, int sW, int sH) {
  if (dW <= 0 || dH <= 0 || sW <= 0 || sH <= 0) return;
  // 64-bit: rectangles come from 32-bit control sizes, their products do not fit in 32 bits.
  const std::int64_t x0 = std::max<std::int64_t>(dX, 0);
  const std::int64_t x1 = std::min<std::int64_t>(std::int64_t{dX} + dW, dst.Width());
  const std::int64_t y0 = std::max<std::int64_t>(dY, 0);
  const std::int64_t y1 = std::min<std::int64_t>(std::int64_t{dY} + dH, dst.Height());
  for (std::int64_t y = y0; y < y1; ++y) {
    const std::int64_t sy = sY + ((2 * (y - dY) + 1) * sH) / (2 * std::int64_t{dH});
    if (sy < 0 || sy >= src.Height()) continue;
    for (std::int64_t x = x0; x < x1; ++x) {
      const std::int64_t sx = sX + ((2 * (x - dX) + 1) * sW) / (2 * std::int64_t{dW});
      if (sx < 0 || sx >= src.Width()) continue;
      dst.Set(static_cast<int>(x), static_cast<int>(y),
              src.At(static_cast<int>(sx), static_cast<int>(sy)));
    }
  }
}

void BlockCopy(PixelBuffer& dst, int dX, int dY, int w, int h, const PixelBuffer& src, int sX,
               int sY) {
  // Clip the block's own rows and columns to both images first; 64-bit so no sum can wrap.
  const std::int64_t c0 = std::max<std::int64_t>({0, -std::int64_t{dX}, -std::int64_t{sX}});
  const std::int64_t c1 =
      std::min<std::int64_t>({w, std::int64_t{dst.Width()} - dX, std::int64_t{src.Width()} - sX});
  const std::int64_t r0 = std::max<std::int64_t>({0, -std::int64_t{dY}, -std::int64_t{sY}});
  const std::int64_t r1 =
      std::min<std::int64_t>({h, std::int64_t{dst.Height()} - dY, std::int64_t{src.Height()} - sY});
  for (std::int64_t row = r0; row < r1; ++row) {
    for (std::int64_t col = c0; col < c1; ++col) {
      dst.Set(static_cast<int>(dX + col), static_cast<int>(dY + row),
              src.At(static_cast<int>(sX + col), static_cast<int>(sY + row)));
    }
  }
}

}  // namespace sealupdate
