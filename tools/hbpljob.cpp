#include "hbpljob.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>

namespace hbpljob {

namespace {

constexpr std::string_view kUel = "\x1B%-12345X";
constexpr std::string_view kEnterHbpl = "@PJL ENTER LANGUAGE=HBPL";
constexpr std::string_view kEoj = "@PJL EOJ\n";
constexpr size_t kMaxLine = 255;

// BeginPage attributes in their order, with their type bytes.
constexpr struct {
  uint8_t id;
  uint8_t type;
} kPageAttributes[] = {
    {0x91, 0xA1}, {0x92, 0xA1}, {0x93, 0xA1}, {0x94, 0xA1}, {0x95, 0xC2}, {0x96, 0xA1},
    {0x97, 0xC3}, {0x98, 0xA1}, {0x99, 0xA4}, {0x9A, 0xC4}, {0x9B, 0xA1}, {0x9C, 0xA1},
    {0x9D, 0xA1}, {0x9E, 0xA1}, {0x9F, 0xA1}, {0xA0, 0xA1}, {0xA1, 0xA1}, {0xA2, 0xC4},
};

class Reader {
 public:
  Reader(std::string_view data, Error* error) : data_(data), error_(error) {}

  size_t pos() const { return pos_; }
  bool AtEnd() const { return pos_ == data_.size(); }

  bool Fail(const std::string& message) { return FailAt(pos_, message); }
  bool FailAt(size_t offset, const std::string& message) {
    if (error_) *error_ = {offset, message};
    return false;
  }

  bool Expect(std::string_view text, const char* what) {
    if (data_.substr(pos_, text.size()) != text) return Fail(std::string("expected ") + what);
    pos_ += text.size();
    return true;
  }

  bool Byte(uint8_t* value) {
    if (pos_ >= data_.size()) return Fail("unexpected end of job");
    *value = static_cast<uint8_t>(data_[pos_++]);
    return true;
  }

  bool Number(int bytes, uint32_t* value) {
    if (data_.size() - pos_ < static_cast<size_t>(bytes)) return Fail("number cut off by the end of the job");
    *value = 0;
    for (int i = 0; i < bytes; ++i) *value |= static_cast<uint32_t>(static_cast<uint8_t>(data_[pos_ + i])) << (8 * i);
    pos_ += static_cast<size_t>(bytes);
    return true;
  }

  bool Bytes(size_t n, std::string_view* out) {
    if (data_.size() - pos_ < n) return Fail("byte array runs past the end of the job");
    *out = data_.substr(pos_, n);
    pos_ += n;
    return true;
  }

  // A PJL line without its line feed.
  bool Line(std::string* line) {
    size_t end = data_.find('\n', pos_);
    if (end == std::string_view::npos) return Fail("PJL line without line feed");
    if (end + 1 - pos_ > kMaxLine) return Fail("PJL line longer than 255 bytes");
    *line = std::string(data_.substr(pos_, end - pos_));
    std::string fault = CheckPJLLine(*line);
    if (!fault.empty()) return Fail(fault);
    pos_ = end + 1;
    return true;
  }

  bool Attr(Attribute* a) {
    a->offset = pos_;
    if (!Byte(&a->id) || !Byte(&a->type)) return false;
    if (a->id < 0x81) return FailAt(a->offset, "attribute identifier below 0x81");
    const uint8_t t = a->type;
    if (t >= 0xA0 && t <= 0xA6) return Number(Width(t - 0xA0), &a->first);
    if (t >= 0xC0 && t <= 0xC6) return Number(Width(t - 0xC0), &a->first) && Number(Width(t - 0xC0), &a->second);
    if (t == 0xB1) {
      uint8_t lengthType;
      if (!Byte(&lengthType)) return false;
      if (lengthType != 0xA4) return Fail("byte array length is not a 4-byte scalar");
      return Number(4, &a->first) && Bytes(a->first, &a->bytes);
    }
    return FailAt(a->offset + 1, "unknown attribute type");
  }

 private:
  static int Width(int code) { return code <= 1 ? 1 : (code <= 3 ? 2 : 4); }

  std::string_view data_;
  Error* error_;
  size_t pos_ = 0;
};

uint32_t Word(std::string_view bytes, size_t index) {
  uint32_t w = 0;
  for (size_t i = 0; i < 4; ++i) w |= static_cast<uint32_t>(static_cast<uint8_t>(bytes[4 * index + i])) << (8 * i);
  return w;
}

bool ParseMivoChunk(Reader& r, ImageRecord* image, bool gray) {
  const std::string_view b = image->bytes;
  if (b.size() < 48) return r.FailAt(image->offset, "MIVO image data shorter than its chunk header and lengths");
  for (size_t i = 0; i < 8; ++i) image->chunk.words[i] = Word(b, i);
  for (size_t i = 0; i < 4; ++i) image->chunk.lengths[i] = Word(b, 8 + i);
  const uint32_t* w = image->chunk.words;
  if (w[0] != 32 || w[1] != (gray ? 0x108u : 0x10100u) || w[2] != 0x43210 || w[3] != 0x42A1 || w[4] != 0xFF0000 ||
      w[5] || w[6] || w[7])
    return r.FailAt(image->offset, "bad MIVO chunk header");
  image->chunk.streams = b.substr(48);
  uint64_t sum = 0;
  for (uint32_t len : image->chunk.lengths) sum += len;
  if (sum > image->chunk.streams.size()) return r.FailAt(image->offset, "MIVO stream lengths exceed the image data");
  return true;
}

bool ParsePage(Reader& r, Page* page) {
  page->offset = r.pos() - 1;
  for (const auto& expected : kPageAttributes) {
    Attribute a;
    if (!r.Attr(&a)) return false;
    if (a.id != expected.id || a.type != expected.type)
      return r.FailAt(a.offset, "BeginPage attribute out of order or of the wrong type");
    page->attributes.push_back(a);
  }
  uint8_t op;
  if (!r.Byte(&op)) return false;
  if (op != 0x51) return r.FailAt(r.pos() - 1, "BeginImage expected after BeginPage");
  const bool mivo = page->Get(0x9F).first == 5;
  const bool gray = page->Get(0x9D).first == 9;
  for (;;) {
    if (!r.Byte(&op)) return false;
    if (op == 0x53) break;
    if (op != 0x52) return r.FailAt(r.pos() - 1, "ImageData or EndImage expected");
    ImageRecord image;
    image.offset = r.pos() - 1;
    Attribute a3, a4;
    if (!r.Attr(&a3)) return false;
    if (a3.id != 0xA3 || a3.type != 0xA1 || a3.first != 0) return r.FailAt(a3.offset, "bad ImageData attribute 0xA3");
    if (!r.Attr(&a4)) return false;
    if (a4.id != 0xA4 || a4.type != 0xB1) return r.FailAt(a4.offset, "ImageData without its byte array");
    image.bytes = a4.bytes;
    image.mivo = mivo;
    if (mivo && !ParseMivoChunk(r, &image, gray)) return false;
    page->images.push_back(image);
  }
  if (!r.Byte(&op)) return false;
  if (op != 0x44) return r.FailAt(r.pos() - 1, "EndPage expected after EndImage");
  return true;
}

}  // namespace

const Attribute& Page::Get(uint8_t id) const {
  for (const auto& a : attributes) {
    if (a.id == id) return a;
  }
  throw std::out_of_range("no such page attribute");
}

std::string CheckPJLLine(std::string_view line) {
  if (line.size() + 1 > kMaxLine) return "PJL line longer than 255 bytes";
  for (unsigned char c : line) {
    if (c < 0x20 || c == 0x7F) return "control character in a PJL line";
  }
  if (line.substr(0, 5) != "@PJL ") return "line does not start with @PJL";
  const size_t quotes = static_cast<size_t>(std::count(line.begin(), line.end(), '"'));
  constexpr std::string_view kJobAttr = "@PJL SET JOBATTR=\"@";
  if (line.substr(0, kJobAttr.size()) == kJobAttr) {
    const std::string_view rest = line.substr(kJobAttr.size());
    if (quotes != 2 || line.back() != '"') return "JOBATTR value not closed by its quote";
    if (rest.size() < 6 || rest[4] != '=') return "JOBATTR tag is not four letters";
    return "";
  }
  if (line.substr(0, 9) == "@PJL SET ") {
    const size_t eq = line.find('=');
    if (eq == std::string_view::npos || eq == 9) return "SET line without key";
    if (quotes == 0) return "";
    if (quotes == 2 && eq + 2 < line.size() && line[eq + 1] == '"' && line.back() == '"') return "";
    return "SET value with stray quotes";
  }
  if (line.substr(0, 13) == "@PJL COMMENT ") return "";
  if (line == "@PJL JOB MODE=PRINTER" || line == kEnterHbpl) return "";
  return "unknown PJL line";
}

std::vector<std::string> FindPJLValues(const std::vector<std::string>& lines, std::string_view key) {
  std::vector<std::string> values;
  const std::string set = "@PJL SET " + std::string(key) + "=";
  const std::string attr = "@PJL SET JOBATTR=\"@" + std::string(key) + "=";
  for (const auto& line : lines) {
    if (line.compare(0, set.size(), set) == 0) values.push_back(line.substr(set.size()));
    else if (line.compare(0, attr.size(), attr) == 0 && line.size() > attr.size())
      values.push_back(line.substr(attr.size(), line.size() - attr.size() - 1));
  }
  return values;
}

bool ParseJob(std::string_view data, Job* job, Error* error) {
  *job = Job{};
  Reader r(data, error);
  if (!r.Expect(kUel, "the UEL at the start of the job")) return false;
  for (;;) {
    std::string line;
    if (!r.Line(&line)) return false;
    job->headerLines.push_back(line);
    if (line == kEnterHbpl) break;
  }
  if (job->headerLines.size() < 3 || job->headerLines[0] != "@PJL JOB MODE=PRINTER" ||
      job->headerLines[1] != "@PJL SET STRINGCODESET=UTF8")
    return r.FailAt(kUel.size(), "PJL block does not open with JOB and STRINGCODESET");

  uint8_t op;
  if (!r.Byte(&op)) return false;
  if (op != 0x41) return r.FailAt(r.pos() - 1, "BeginJob expected after ENTER LANGUAGE");
  constexpr uint8_t kJobTypes[] = {0xA1, 0xA2, 0xA2};
  for (uint8_t i = 0; i < 3; ++i) {
    Attribute a;
    if (!r.Attr(&a)) return false;
    if (a.id != 0x81 + i || a.type != kJobTypes[i]) return r.FailAt(a.offset, "bad BeginJob attribute");
    job->jobAttributes.push_back(a);
  }
  for (;;) {
    if (!r.Byte(&op)) return false;
    if (op == 0x42) break;
    if (op != 0x43) return r.FailAt(r.pos() - 1, "BeginPage or EndJob expected");
    Page page;
    if (!ParsePage(r, &page)) return false;
    job->pages.push_back(std::move(page));
  }
  if (!r.Expect(kUel, "the UEL after EndJob") || !r.Expect(kEoj, "@PJL EOJ after the UEL")) return false;
  if (!r.AtEnd()) return r.Fail("bytes after the end of the job");
  return true;
}

}  // namespace hbpljob
