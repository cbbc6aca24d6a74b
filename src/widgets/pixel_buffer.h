// A 32-bit image in memory and the two copies the progress bar draws with. Pixels are 0x00RRGGBB,
// rows top to bottom, which is also the memory layout of a top-down 32-bit Windows DIB.
#pragma once

#include <cstdint>
#include <vector>

namespace sealupdate {

class PixelBuffer {
 public:
  PixelBuffer() = default;
  // Negative sizes give an empty image.
  PixelBuffer(int width, int height, std::uint32_t fill = 0);

  int Width() const { return width_; }
  int Height() const { return height_; }
  bool Empty() const { return width_ == 0 || height_ == 0; }

  std::uint32_t At(int x, int y) const { return pixels_[Index(x, y)]; }
  void Set(int x, int y, std::uint32_t pixel) { pixels_[Index(x, y)] = pixel; }
  void Fill(std::uint32_t pixel);
  // Changes the size; the content is undefined afterwards until the next fill.
  void Resize(int width, int height);

  const std::vector<std::uint32_t>& Pixels() const { return pixels_; }

  friend bool operator==(const PixelBuffer& a, const PixelBuffer& b) {
    return a.width_ == b.width_ && a.height_ == b.height_ && a.pixels_ == b.pixels_;
  }
  friend bool operator!=(const PixelBuffer& a, const PixelBuffer& b) { return !(a == b); }

 private:
  std::size_t Index(int x, int y) const {
    return static_cast<std::size_t>(y) * static_cast<std::size_t>(width_) +
           static_cast<std::size_t>(x);
  }

  int width_ = 0;
  int height_ = 0;
  std::vector<std::uint32_t> pixels_;
};

// Scales the source rectangle onto the destination rectangle, nearest neighbour: destination
// pixel i takes source pixel floor((i + 1/2) * sW / dW). Non-positive extents on either side draw
// nothing. Pixels outside either image are skipped.
void StretchCopy(PixelBuffer& dst, int dX, int dY, int dW, int dH, const PixelBuffer& src, int sX,
                 int sY, int sW, int sH);

// Copies a w x h block pixel for pixel, clipped to both images.
void BlockCopy(PixelBuffer& dst, int dX, int dY, int w, int h, const PixelBuffer& src, int sX,
               int sY);

}  // namespace sealupdate
