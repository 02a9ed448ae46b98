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

class OutCodeBuffer;
class InCodeBuffer;

// The working state of an output stream, copied into a tight coding loop so
// that it stays in registers: the loop takes it with OutCodeBuffer::writer()
// and hands it back with OutCodeBuffer::take() before anything else touches
// the stream. It packs bits exactly as OutCodeBuffer::put does.
struct BitWriter {
  uint64_t acc;
  int bits;
  unsigned char* ptr;        // next byte of the block
  unsigned char* end;        // end of the block
  OutCodeBuffer* owner;

  inline void put(uint32_t code, int len);
  // put without the test for room: the caller knows that eight bytes from
  // the next whole byte on are still in the block.
  void put_within(uint32_t code, int len) {
    acc = (acc << len) | code;
    bits += len;
    store_whole_bytes();
  }
  // Appends a codeword without storing: the caller stores before more than
  // 64 bits are held.
  void append(uint32_t code, int len) {
    acc = (acc << len) | code;
    bits += len;
  }
  // Stores eight bytes from the top bit held on and keeps the part byte.
  void store_whole_bytes() {
    uint64_t v = acc << (64 - bits);
    if constexpr (std::endian::native == std::endian::little) v = __builtin_bswap64(v);
    std::memcpy(ptr, &v, 8);
    ptr += bits >> 3;
    bits &= 7;
  }
};

// The same for an input stream (BitReader::peek and drop behave as
// InCodeBuffer's). Refills from the block happen in place; at the end of
// the block the owner fetches more through callback_in.
struct BitReader {
  uint64_t acc;
  int bits;
  const unsigned char* ptr;
  const unsigned char* end;
  InCodeBuffer* owner;

  inline void refill();
  inline uint32_t peek(int k);
  // Tops up to 56 bits or more from the block and returns true, or returns
  // false when the block holds fewer than eight bytes (nothing changes).
  bool top_up() {
    if (end - ptr < 8) return false;
    uint64_t w;
    std::memcpy(&w, ptr, 8);
    if constexpr (std::endian::native == std::endian::little) w = __builtin_bswap64(w);
    acc |= w >> bits;  // a reader holds at most 63 bits
    ptr += (63 - bits) >> 3;
    bits |= 56;
    return true;
  }
  void drop(int k) {
    acc <<= k;
    bits -= k;
  }
};

// Encoder side: one output stream.
class OutCodeBuffer : public CodeBuffer {
 public:
  static constexpr size_t kCapacity = 32768;

  BitWriter writer() { return BitWriter{acc_, bits_, data() + pos_, data() + size(), this}; }
  void take(const BitWriter& w) {
    acc_ = w.acc;
    bits_ = w.bits;
    pos_ = static_cast<size_t>(w.ptr - data());
  }
  // The block is full up to ptr: hands it to callback_out; returns where
  // the next byte goes.
  unsigned char* spill(unsigned char* ptr) {
    pos_ = static_cast<size_t>(ptr - data());
    write_byte();
    return data() + pos_;
  }

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
    if (pos_ + 4 > size()) {
      // A BitWriter may have left the block at any byte: fill it up first.
      for (int shift = 24; shift >= 0; shift -= 8) {
        if (pos_ == size()) write_byte();
        data()[pos_++] = static_cast<unsigned char>(word >> shift);
      }
      return;
    }
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

  BitReader reader() { return BitReader{acc_, bits_, data() + pos_, data() + len_, this}; }
  void take(const BitReader& r) {
    acc_ = r.acc;
    bits_ = r.bits;
    pos_ = static_cast<size_t>(r.ptr - data());
  }
  // The block of r holds fewer than eight bytes: tops up as refill() does.
  // (By value, so that a reader held in registers stays there.)
  BitReader refilled(BitReader r) {
    take(r);
    read_2Bytes();
    return reader();
  }

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
  // Tops up the accumulator byte by byte to 56 to 63 bits (never all 64,
  // see BitReader::top_up), refilling the block through callback_in; at the
  // end of the stream it leaves what there is.
  void read_2Bytes();

  ReadCallback callback_ = nullptr;
  void* context_ = nullptr;
  size_t len_ = 0;  // valid bytes in the block
  bool end_ = false;
  uint64_t delivered_ = 0; // bytes received from callback_in
};

// Every whole byte goes out at once: eight bytes are stored (those past the
// whole bytes are rewritten later) and the pointer moves by the whole bytes,
// so that no branch depends on the codeword lengths. Near the end of the
// block the bytes go one at a time, and the full block is handed over as
// OutCodeBuffer::put hands it over.
inline void BitWriter::put(uint32_t code, int len) {
  acc = (acc << len) | code;  // at most 31 bits were held, len <= 32
  bits += len;
  if (end - ptr >= 8) [[likely]] {
    uint64_t v = acc << (64 - bits);
    if constexpr (std::endian::native == std::endian::little) v = __builtin_bswap64(v);
    std::memcpy(ptr, &v, 8);
    ptr += bits >> 3;
    bits &= 7;
  } else {
    while (bits >= 8) {
      if (ptr == end) ptr = owner->spill(ptr);
      bits -= 8;
      *ptr++ = static_cast<unsigned char>(acc >> bits);
    }
  }
}

inline uint32_t BitReader::peek(int k) {
  if (bits < k) refill();
  uint64_t a = acc;
  if (bits < k) [[unlikely]] a |= ~0ULL >> bits;
  return static_cast<uint32_t>(a >> (64 - k));
}

inline void BitReader::refill() {
  if (end - ptr >= 8) {
    uint64_t w;
    std::memcpy(&w, ptr, 8);
    if constexpr (std::endian::native == std::endian::little) w = __builtin_bswap64(w);
    acc |= w >> bits;
    const int n = (63 - bits) >> 3;
    ptr += n;
    bits += 8 * n;
  } else {
    *this = owner->refilled(*this);
  }
}

}  // namespace mivo
