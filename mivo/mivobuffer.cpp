#include "mivobuffer.h"

#include <cstdlib>

namespace mivo {

void* my_malloc(const Info& info, size_t size) {
  if (size == 0) size = 1;
  if (info.callback_alloc) {
    void* p = info.callback_alloc(info.alloc_context, size);
    if (!p) throw Exception(0, "::my_malloc (): bad alloc on alloc callback");
    return p;
  }
  return std::malloc(size);
}

void my_free(const Info& info, void* block) {
  if (!block) return;
  if (info.callback_alloc && info.callback_free) {
    info.callback_free(info.alloc_context, block);
  } else if (!info.callback_alloc) {
    std::free(block);
  }
}

Buffer::Buffer(const Info& info, size_t size) {
  if (!allocate(info, size)) throw Exception(130, "Buffer::Buffer(): bad alloc");
}

Buffer::~Buffer() { release(); }

bool Buffer::allocate(const Info& info, size_t size) {
  release();
  void* p = my_malloc(info, size);
  if (!p) return false;
  data_ = static_cast<unsigned char*>(p);
  size_ = size;
  custom_ = info.callback_alloc != nullptr;
  free_ = info.callback_free;
  context_ = info.alloc_context;
  return true;
}

void Buffer::release() {
  if (data_) {
    if (!custom_) {
      std::free(data_);
    } else if (free_) {
      free_(context_, data_);
    }
  }
  data_ = nullptr;
  size_ = 0;
}

void OutCodeBuffer::init(const Info& info, WriteCallback callback, void* context) {
  if (!allocate(info, kCapacity)) throw Exception(160, "Core::Core(): bad alloc");
  callback_ = callback;
  context_ = context;
}

void OutCodeBuffer::write_byte() {
  if (pos_ == 0) return;
  if (!callback_ || callback_(context_, data(), pos_) != pos_)
    throw Exception(180, "CodeBuffer::write_byte(): callback_out returns bad bytes");
  flushed_ += pos_;
  pos_ = 0;
}

void OutCodeBuffer::flush_buffer() {
  pad();
  // At most three whole bytes remain in the accumulator after padding.
  while (bits_ >= 8) {
    if (pos_ == size()) write_byte();
    bits_ -= 8;
    data()[pos_++] = static_cast<unsigned char>(acc_ >> bits_);
  }
  acc_ = 0;
  bits_ = 0;
  if (pos_ == 0) return;
  if (!callback_ || callback_(context_, data(), pos_) != pos_)
    throw Exception(171, "OutCodeBuffer::flush_buffer(): callback_out returns bad bytes");
  flushed_ += pos_;
  pos_ = 0;
}

void InCodeBuffer::init(const Info& info, ReadCallback callback, void* context) {
  if (!allocate(info, kCapacity)) throw Exception(35, "CoreDec::CoreDec(): bad alloc");
  callback_ = callback;
  context_ = context;
}

void InCodeBuffer::read_2Bytes() {
  while (bits_ < 56) {
    if (pos_ == len_) {
      if (end_ || !callback_) {
        end_ = true;
        return;
      }
      size_t n = callback_(context_, data(), size());
      if (n == 0 || n > size()) {
        end_ = true;
        return;
      }
      len_ = n;
      pos_ = 0;
      delivered_ += n;
    }
    acc_ |= static_cast<uint64_t>(data()[pos_++]) << (56 - bits_);
    bits_ += 8;
  }
}

bool InCodeBuffer::empty_stream() {
  if (delivered_ == 0 && !end_) read_2Bytes();
  return delivered_ == 0 && end_;
}

}  // namespace mivo
