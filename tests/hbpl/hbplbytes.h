// Expected HBPL bytes for tests, built from the records' named fields, and a
// capture of what a writer puts on a stdio stream.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>

// Little-endian number of `bytes` bytes.
inline std::string LittleEndian(uint32_t v, int bytes) {
  std::string s;
  for (int i = 0; i < bytes; ++i) s.push_back(static_cast<char>((v >> (8 * i)) & 0xFF));
  return s;
}

inline int SizeCodeWidth(int k) { return k <= 1 ? 1 : (k <= 3 ? 2 : 4); }

inline std::string Scalar(uint8_t id, int k, uint32_t v) {
  return std::string{static_cast<char>(id), static_cast<char>(0xA0 + k)} + LittleEndian(v, SizeCodeWidth(k));
}

inline std::string Pair(uint8_t id, int k, uint32_t a, uint32_t b) {
  return std::string{static_cast<char>(id), static_cast<char>(0xC0 + k)} + LittleEndian(a, SizeCodeWidth(k)) +
         LittleEndian(b, SizeCodeWidth(k));
}

// The fields of a BeginPage record, named after what they carry.
struct PageFields {
  uint32_t orientation = 0;
  uint32_t inputSlot = 0;
  uint32_t pageSize = 2;
  uint32_t customWidth = 0, customLength = 0;
  uint32_t offsetX = 0, offsetY = 0;
  uint32_t duplexSide = 0;
  uint32_t pageNumber = 1;
  uint32_t width = 0, height = 0;
  uint32_t payloadKind = 0, pixelFormat = 17, planes = 0, payloadVariant = 1, bitsPerPixel = 8;
  uint32_t resolution = 0;
  uint32_t lineWidth = 0;
};

inline std::string BeginPageBytes(const PageFields& f) {
  return std::string("C") + Scalar(0x91, 1, f.orientation) + Scalar(0x92, 1, f.inputSlot) + Scalar(0x93, 1, 1) +
         Scalar(0x94, 1, f.pageSize) + Pair(0x95, 2, f.customWidth, f.customLength) + Scalar(0x96, 1, 3) +
         Pair(0x97, 3, f.offsetX, f.offsetY) + Scalar(0x98, 1, f.duplexSide) + Scalar(0x99, 4, f.pageNumber) +
         Pair(0x9A, 4, f.width, f.height) + Scalar(0x9B, 1, 0) + Scalar(0x9C, 1, f.payloadKind) +
         Scalar(0x9D, 1, f.pixelFormat) + Scalar(0x9E, 1, f.planes) + Scalar(0x9F, 1, f.payloadVariant) +
         Scalar(0xA0, 1, f.bitsPerPixel) + Scalar(0xA1, 1, f.resolution) + Pair(0xA2, 4, f.lineWidth, f.height);
}

// ImageData record head: operator, attribute 0xA3 and the byte array's head.
inline std::string ImageDataHead(uint32_t arrayLength) {
  return std::string("R") + Scalar(0xA3, 1, 0) + "\xA4\xB1\xA4" + LittleEndian(arrayLength, 4);
}

inline std::string ChunkHeader(std::initializer_list<uint32_t> words) {
  std::string s;
  for (uint32_t w : words) s += LittleEndian(w, 4);
  return s;
}

// What `write` puts on a stdio stream.
inline std::string CaptureStream(const std::function<void(FILE*)>& write) {
  char* buf = nullptr;
  size_t size = 0;
  FILE* fp = open_memstream(&buf, &size);
  write(fp);
  fclose(fp);
  std::string out(buf, size);
  free(buf);
  return out;
}
