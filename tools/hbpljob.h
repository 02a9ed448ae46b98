// A reader of whole printer jobs as ztrastertohbpl writes them: the PJL
// block, the HBPL records and the PJL trailer, checked byte by byte. It
// depends on nothing but the standard library so that a job inspector can
// use it as it stands.
//
//   ESC %-12345X  PJL lines ... "@PJL ENTER LANGUAGE=HBPL\n"
//   BeginJob  { BeginPage BeginImage ImageData* EndImage EndPage }  EndJob
//   ESC %-12345X "@PJL EOJ\n"
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace hbpljob {

// One attribute: identifier, type byte and value(s). Scalars fill `first`,
// pairs `first` and `second`, byte arrays `bytes` (a view into the job).
struct Attribute {
  size_t offset = 0;
  uint8_t id = 0;
  uint8_t type = 0;
  uint32_t first = 0;
  uint32_t second = 0;
  std::string_view bytes;
};

// The chunk header and stream lengths in front of a MIVO-coded payload.
struct MivoChunk {
  uint32_t words[8] = {};
  uint32_t lengths[4] = {};
  std::string_view streams;  // the code streams after the lengths
};

struct ImageRecord {
  size_t offset = 0;
  std::string_view bytes;    // the whole byte array
  bool mivo = false;         // set on pages whose BeginPage announces MIVO data
  MivoChunk chunk;           // valid when mivo
};

struct Page {
  size_t offset = 0;
  std::vector<Attribute> attributes;  // the eighteen BeginPage attributes
  std::vector<ImageRecord> images;
  // The attribute with this identifier; throws std::out_of_range when absent.
  const Attribute& Get(uint8_t id) const;
};

struct Job {
  std::vector<std::string> headerLines;  // each without its line feed, ENTER LANGUAGE last
  std::vector<Attribute> jobAttributes;  // the three BeginJob attributes
  std::vector<Page> pages;
};

struct Error {
  size_t offset = 0;
  std::string message;
};

// Parses a complete job; false with the first fault and its byte offset.
// The views in the result point into `data`, which must outlive them.
bool ParseJob(std::string_view data, Job* job, Error* error);

// Checks one PJL line of the block (without its line feed): at most 254
// bytes, no control characters, a known form, and quotes that stay balanced.
// Empty when the line is sound, otherwise what is wrong with it.
std::string CheckPJLLine(std::string_view line);

// The value of "@PJL SET key=value" or "@PJL SET JOBATTR=\"@key=value\"" in
// lines, all matches in order.
std::vector<std::string> FindPJLValues(const std::vector<std::string>& lines, std::string_view key);

}  // namespace hbpljob
