// Storage of the codec. Every block the codec uses comes from my_malloc,
// which takes the parameter set's allocation callback when one is given and
// the system allocator otherwise, and goes back through my_free.
//
// Code buffers pack codewords most significant bit first. The encoder side
// gathers bits in an accumulator and stores them four bytes at a time, most
// significant byte first; the decoder side fetches its stream in blocks and
// hands out bits most significant first.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "mivoexception.h"
#include "mivoinfo.h"

namespace mivo {

// Null only when the system allocator fails; a failing allocation callback
// throws (number 0).
void* my_malloc(const Info& info, size_t size);
void my_free(const Info& info, void* block);

// One storage block, released through the allocator that made it.
class Buffer {
 public:
  Buffer() = default;
  // Allocates size bytes or throws "Buffer::Buffer(): bad alloc".
  Buffer(const Info& info, size_t size);
  virtual ~Buffer();
  Buffer(const Buffer&) = delete;
  Buffer& operator=(const Buffer&) = delete;

  // Allocates size bytes (replacing any earlier block); false on failure so
  // that the caller can raise its own message.
  bool allocate(const Info& info, size_t size);
  void release();
  unsigned char* data() const { return data_; }
  size_t size() const { return size_; }

 private:
  unsigned char* data_ = nullptr;
  size_t size_ = 0;
  FreeCallback free_ = nullptr;
  void* context_ = nullptr;
  bool custom_ = false;
};

// Common part of the two code buffers: a block of bytes and a position in it.
class CodeBuffer : public Buffer {
 public:
  ~CodeBuffer() override = default;

 protected:
  size_t pos_ = 0;
  uint64_t acc_ = 0;  // bit accumulator
  int bits_ = 0;      // bits held in acc_
};

// Encoder side: one output stream.
class OutCodeBuffer : public CodeBuffer {
 public:
  static constexpr size_t kCapacity = 32768;

  void init(const Info& info, WriteCallback callback, void* context);

  // Appends the len low bits of code (len <= 32, no bits above len set).
  void put(uint32_t code, int len) {
    acc_ = (acc_ << len) | code;
    bits_ += len;
    if (bits_ >= 32) {
      bits_ -= 32;
      store_word(static_cast<uint32_t>(acc_ >> bits_));
    }
  }
  // Pads with 1-bits up to the next byte boundary.
  void pad() {
    int r = bits_ & 7;
    if (r) put((1u << (8 - r)) - 1, 8 - r);
  }
  // Pads, emits the bytes still held and hands everything to callback_out.
  void flush_buffer();
  // Bytes produced so far; a partly filled byte counts as a whole one.
  uint64_t bytes() const { return flushed_ + pos_ + static_cast<uint64_t>((bits_ + 7) / 8); }

 private:
  void store_word(uint32_t word) {
    if (pos_ + 4 > size()) write_byte();
    unsigned char* p = data() + pos_;
    p[0] = static_cast<unsigned char>(word >> 24);
    p[1] = static_cast<unsigned char>(word >> 16);
    p[2] = static_cast<unsigned char>(word >> 8);
    p[3] = static_cast<unsigned char>(word);
    pos_ += 4;
  }
  // Hands the full block to callback_out.
  void write_byte();

  WriteCallback callback_ = nullptr;
  void* context_ = nullptr;
  uint64_t flushed_ = 0;
};

// Decoder side: one input stream. Bits past the end of the stream read as
// 1-bits when only looked at, and raise an exception when consumed.
//
// The accumulator holds bits_ stream bits from its top bit down; the bits
// below them are zero or the stream bits that follow (a refill may load part
// of a byte it does not count yet, and loads the same bits again later).
class InCodeBuffer : public CodeBuffer {
 public:
  static constexpr size_t kCapacity = 16384;

  void init(const Info& info, ReadCallback callback, void* context);

  // The next k bits (1 <= k <= 32) without consuming them.
  uint32_t peek(int k) {
    if (bits_ < k) refill();
    uint64_t a = acc_;
    if (bits_ < k) [[unlikely]] a |= ~0ULL >> bits_;
    return static_cast<uint32_t>(a >> (64 - k));
  }
  // Bits held in the accumulator: after peek(k) at least k unless the stream
  // has ended.
  int available() const { return bits_; }
  // Consumes k bits already held (k <= available()).
  void drop(int k) {
    acc_ <<= k;
    bits_ -= k;
  }
  void skip(int k) {
    if (bits_ < k) {
      refill();
      if (bits_ < k) throw Exception(181, "CodeBuffer::read_2Bytes(): callback_in returns 0 byte");
    }
    drop(k);
  }
  uint32_t get(int k) {
    if (k == 0) return 0;
    uint32_t v = peek(k);
    skip(k);
    return v;
  }
  // Skips to the next byte boundary.
  void align() {
    int r = static_cast<int>(consumed_bits() & 7);
    if (r) skip(8 - r);
  }
  // True when the stream has delivered no byte at all and never will.
  bool empty_stream();
  uint64_t consumed_bytes() const { return (consumed_bits() + 7) / 8; }

 private:
  // Bytes taken into the accumulator, less the bits still held there.
  uint64_t consumed_bits() const {
    return (delivered_ - static_cast<uint64_t>(len_ - pos_)) * 8 - static_cast<uint64_t>(bits_);
  }
  // Tops up the accumulator to at least 56 bits: eight bytes at once while
  // the block holds them, else through read_2Bytes.
  void refill() {
    if (len_ - pos_ >= 8) {
      uint64_t w;
      std::memcpy(&w, data() + pos_, 8);
      if constexpr (std::endian::native == std::endian::little) w = __builtin_bswap64(w);
      acc_ |= w >> bits_;
      const int n = (63 - bits_) >> 3;
      pos_ += static_cast<size_t>(n);
      bits_ += 8 * n;
    } else {
      read_2Bytes();
    }
  }
  // Tops up the accumulator byte by byte from the block, refilling the block
  // through callback_in; at the end of the stream it leaves what there is.
  void read_2Bytes();

  ReadCallback callback_ = nullptr;
  void* context_ = nullptr;
  size_t len_ = 0;  // valid bytes in the block
  bool end_ = false;
  uint64_t delivered_ = 0; // bytes received from callback_in
};

}  // namespace mivo
