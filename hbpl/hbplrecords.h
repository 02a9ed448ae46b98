// HBPL, the printer's binary record language: one-byte operators, each
// followed by attributes. An attribute is an identifier byte (0x81 and up),
// a type byte and the value, numbers little-endian:
//
//   scalar      0xA0+k  value            k 0,1: 1 byte; 2,3: 2 bytes; 4..6: 4 bytes
//   pair        0xC0+k  first second     each of the width k gives
//   byte array  0xB1 0xA4 length(4) bytes
//
// A job is BeginJob, then per page BeginPage, BeginImage, one ImageData
// record with the page's whole payload, EndImage, EndPage, and EndJob.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

#include "hbploption.h"
#include "ztraster.h"

// Operators.
constexpr uint8_t HBPL_BEGIN_JOB = 0x41;    // 'A'
constexpr uint8_t HBPL_END_JOB = 0x42;      // 'B'
constexpr uint8_t HBPL_BEGIN_PAGE = 0x43;   // 'C'
constexpr uint8_t HBPL_END_PAGE = 0x44;     // 'D'
constexpr uint8_t HBPL_BEGIN_IMAGE = 0x51;  // 'Q'
constexpr uint8_t HBPL_IMAGE_DATA = 0x52;   // 'R'
constexpr uint8_t HBPL_END_IMAGE = 0x53;    // 'S'

// Type bytes.
constexpr uint8_t HBPL_SCALAR = 0xA0;       // + size code
constexpr uint8_t HBPL_PAIR = 0xC0;         // + size code
constexpr uint8_t HBPL_BYTE_ARRAY = 0xB1;   // followed by HBPL_ARRAY_LENGTH
constexpr uint8_t HBPL_ARRAY_LENGTH = 0xA4; // the length is a 4-byte scalar

// Attribute identifiers of BeginJob.
constexpr uint8_t HBPL_JOB_ATTR_FIRST = 0x81;   // 0x81..0x83
// Attribute identifiers of BeginPage, in the order they are written.
constexpr uint8_t HBPL_PAGE_ORIENTATION = 0x91;
constexpr uint8_t HBPL_PAGE_INPUT_SLOT = 0x92;
constexpr uint8_t HBPL_PAGE_ATTR_93 = 0x93;
constexpr uint8_t HBPL_PAGE_SIZE = 0x94;
constexpr uint8_t HBPL_PAGE_CUSTOM_SIZE = 0x95;
constexpr uint8_t HBPL_PAGE_ATTR_96 = 0x96;
constexpr uint8_t HBPL_PAGE_IMAGE_OFFSET = 0x97;
constexpr uint8_t HBPL_PAGE_DUPLEX_SIDE = 0x98;
constexpr uint8_t HBPL_PAGE_NUMBER = 0x99;
constexpr uint8_t HBPL_PAGE_IMAGE_SIZE = 0x9A;
constexpr uint8_t HBPL_PAGE_ATTR_9B = 0x9B;
constexpr uint8_t HBPL_PAGE_PAYLOAD_KIND = 0x9C;
constexpr uint8_t HBPL_PAGE_PIXEL_FORMAT = 0x9D;
constexpr uint8_t HBPL_PAGE_PLANES = 0x9E;
constexpr uint8_t HBPL_PAGE_PAYLOAD_VARIANT = 0x9F;
constexpr uint8_t HBPL_PAGE_BITS_PER_PIXEL = 0xA0;
constexpr uint8_t HBPL_PAGE_RESOLUTION = 0xA1;
constexpr uint8_t HBPL_PAGE_LINE_SIZE = 0xA2;
// Attribute identifiers of ImageData.
constexpr uint8_t HBPL_IMAGE_ATTR_A3 = 0xA3;
constexpr uint8_t HBPL_IMAGE_BYTES = 0xA4;

// Chunk headers in front of coded payloads: eight words for MIVO pages
// (encoding 6, 7), six for encoding 3.
constexpr uint32_t HBPL_MIVO_CHUNK_HEADER_SIZE = 32;
constexpr uint32_t HBPL_CHUNK3_HEADER_SIZE = 24;
constexpr uint32_t HBPL_CHUNK_MONO = 0x00000108;
constexpr uint32_t HBPL_CHUNK_MIVO_COLOR = 0x00010100;
constexpr uint32_t HBPL_CHUNK3_COLOR = 0x00000100;
constexpr uint32_t HBPL_CHUNK_WORD3 = 0x00043210;
constexpr uint32_t HBPL_CHUNK_WORD4 = 0x000042A1;
constexpr uint32_t HBPL_CHUNK_WORD5 = 0x00FF0000;
// A MIVO payload starts with four stream-length words.
constexpr uint32_t MIVO_LENGTH_WORDS_SIZE = 16;

// Page state shared by the job loop and the BeginPage writer: whether the
// next duplex page is a back side (reset at every copy pass), and the page
// counter (1 before the first page, running on over all passes).
extern int gBackSideFlag;
extern uint32_t gPageCounter;

// Encoders. They write through fp's buffer; callers check ferror(fp).
void WriteHbplByte(FILE* fp, uint8_t value);
void WriteHbplUint32(FILE* fp, uint32_t value);
void WriteHbplScalar(FILE* fp, uint8_t id, int sizeCode, uint32_t value);
void WriteHbplPair(FILE* fp, uint8_t id, int sizeCode, uint32_t first, uint32_t second);

// Rounds v half up (toward zero first, then +1 when the rest is 0.5 or more),
// cut to 32 bits; values beyond 64 bits are held at the 64-bit limits first.
uint32_t RoundHbplLength(double v);

// Where the page image goes on the paper, in pixels.
struct HbplImageOffset {
  uint16_t x;
  uint16_t y;
};
HbplImageOffset GetHbplImageOffset(const PrintSetting* setting, const ZTRasterHeader* header);

// The BeginJob record for a job whose first page is `first`.
void WriteBeginJob(FILE* fp, const ZTRasterHeader* first);
// The BeginPage record; reads and advances gBackSideFlag and gPageCounter.
void WriteBeginPage(FILE* fp, const PrintSetting* setting, const ZTRasterHeader* header);

// Results of DrawChunkImage.
enum DrawChunkImageResult {
  DRAW_CHUNK_OK = 0,
  DRAW_CHUNK_FAILED = -1,  // short or failed read, failed write, or a coded body that does not add up
};

// Writes the page's image data: the ImageData record (with a chunk header for
// coded pages) around the header's pageBytes bytes read from spoolFd, or the
// bare payload for encoding 5. The payload moves through buf (bufSize > 0),
// never as a whole page. The lengths at the start of a MIVO payload must fit
// in its body.
int DrawChunkImage(FILE* fp, int spoolFd, const ZTRasterHeader* header, unsigned char* buf, size_t bufSize);
