// Bounds-checked little-endian access to byte buffers.
//
// Every on-disk record of the program (image header, track directory, archive entry, FAT directory
// entry) is read and written through these helpers: integers are assembled from unsigned bytes, every
// access is checked against the buffer's length, and a failing check throws BoundsError instead of
// touching memory outside the buffer. Parsers check lengths first, so a throw means a bug, not bad input.
#pragma once

#include <cstddef>
#include <cstdint>
#include <limits>
#include <optional>
#include <span>
#include <stdexcept>
#include <string_view>

namespace kdl {

class BoundsError : public std::out_of_range {
 public:
  using std::out_of_range::out_of_range;
};

// Adds two offsets; empty when the sum overflows.
inline std::optional<uint64_t> CheckedAdd(uint64_t a, uint64_t b) {
  if (a > std::numeric_limits<uint64_t>::max() - b) return std::nullopt;
  return a + b;
}

// True when [offset, offset + length) lies within a buffer of `size` bytes.
inline bool RangeFits(uint64_t offset, uint64_t length, uint64_t size) {
  return offset <= size && length <= size - offset;
}

// A read-only view of bytes with checked little-endian reads.
class ByteView {
 public:
  ByteView() = default;
  ByteView(const uint8_t* data, size_t size) : data_(data), size_(size) {}
  ByteView(std::span<const uint8_t> s) : data_(s.data()), size_(s.size()) {}  // NOLINT: implicit on purpose

  const uint8_t* data() const { return data_; }
  size_t size() const { return size_; }

  uint8_t U8(size_t off) const {
    Check(off, 1);
    return data_[off];
  }
  uint16_t U16(size_t off) const {
    Check(off, 2);
    return static_cast<uint16_t>(data_[off] | (data_[off + 1] << 8));
  }
  int16_t I16(size_t off) const { return static_cast<int16_t>(U16(off)); }
  uint32_t U32(size_t off) const {
    Check(off, 4);
    return static_cast<uint32_t>(data_[off]) | (static_cast<uint32_t>(data_[off + 1]) << 8) |
           (static_cast<uint32_t>(data_[off + 2]) << 16) | (static_cast<uint32_t>(data_[off + 3]) << 24);
  }
  int32_t I32(size_t off) const { return static_cast<int32_t>(U32(off)); }

  ByteView Sub(size_t off, size_t len) const {
    Check(off, len);
    return ByteView(data_ + off, len);
  }
  std::string_view Text(size_t off, size_t len) const {
    Check(off, len);
    return std::string_view(reinterpret_cast<const char*>(data_ + off), len);
  }
  bool Equals(size_t off, std::string_view text) const { return Text(off, text.size()) == text; }

 private:
  void Check(size_t off, size_t len) const {
    if (!RangeFits(off, len, size_)) throw BoundsError("byte view: access outside the buffer");
  }
  const uint8_t* data_ = nullptr;
  size_t size_ = 0;
};

// A writable view of bytes with checked little-endian writes.
class ByteSpan {
 public:
  ByteSpan(uint8_t* data, size_t size) : data_(data), size_(size) {}
  ByteSpan(std::span<uint8_t> s) : data_(s.data()), size_(s.size()) {}  // NOLINT: implicit on purpose

  uint8_t* data() const { return data_; }
  size_t size() const { return size_; }
  ByteView View() const { return ByteView(data_, size_); }

  void PutU8(size_t off, uint8_t v) {
    Check(off, 1);
    data_[off] = v;
  }
  void PutU16(size_t off, uint16_t v) {
    Check(off, 2);
    data_[off] = static_cast<uint8_t>(v);
    data_[off + 1] = static_cast<uint8_t>(v >> 8);
  }
  void PutI16(size_t off, int16_t v) { PutU16(off, static_cast<uint16_t>(v)); }
  void PutU32(size_t off, uint32_t v) {
    Check(off, 4);
    for (int i = 0; i < 4; ++i) data_[off + i] = static_cast<uint8_t>(v >> (8 * i));
  }
  void PutI32(size_t off, int32_t v) { PutU32(off, static_cast<uint32_t>(v)); }
  // Writes `text` and pads the rest of the `len` bytes with `pad`; text longer than `len` is an error.
  void PutText(size_t off, size_t len, std::string_view text, uint8_t pad = ' ') {
    Check(off, len);
    if (text.size() > len) throw BoundsError("byte span: text longer than its field");
    for (size_t i = 0; i < len; ++i) data_[off + i] = i < text.size() ? static_cast<uint8_t>(text[i]) : pad;
  }
  void Fill(size_t off, size_t len, uint8_t v) {
    Check(off, len);
    for (size_t i = 0; i < len; ++i) data_[off + i] = v;
  }

 private:
  void Check(size_t off, size_t len) const {
    if (!RangeFits(off, len, size_)) throw BoundsError("byte span: access outside the buffer");
  }
  uint8_t* data_;
  size_t size_;
};

}  // namespace kdl
