#include "ztjobview_check.h"

#include <cstdio>

namespace ztinspect {

namespace {

// BeginPage attribute identifiers.
constexpr uint8_t kOrientation = 0x91, kSlot = 0x92, kConst93 = 0x93, kSizeCode = 0x94, kCustomSize = 0x95,
                  kConst96 = 0x96, kOffset = 0x97, kSide = 0x98, kNumber = 0x99, kImageSize = 0x9A,
                  kConst9B = 0x9B, kKind = 0x9C, kFormat = 0x9D, kPlanes = 0x9E, kVariant = 0x9F, kBits = 0xA0,
                  kResolution = 0xA1, kLineSize = 0xA2;

// Payload kinds (0x9C) and the MIVO page's fixed attribute values.
constexpr uint32_t kKindRaw = 0, kKindCoded = 1, kKindRecords = 4, kKindOther = 6;
constexpr uint32_t kVariantMivo = 5;
constexpr uint32_t kFormatMivoMono = 9, kFormatMivoColour = 139;
constexpr uint32_t kMivoPlanes = 2, kMivoBits = 8;

// BeginJob attribute 0x82 values: the first page's coding.
constexpr uint32_t kJobRaw = 1, kJobRecords = 4, kJobMivo = 6, kJobMivoLead = 7;

constexpr size_t kChunkHeaderBytes = 32;
constexpr size_t kLengthWords = 16;

std::string Format(const char* fmt, unsigned long long a, unsigned long long b = 0, unsigned long long c = 0) {
  char buf[256];
  std::snprintf(buf, sizeof buf, fmt, a, b, c);
  return buf;
}

bool Fail(Fault* fault, size_t offset, std::string message) {
  fault->offset = offset;
  fault->message = std::move(message);
  return false;
}

const hbpljob::Attribute* Find(const std::vector<hbpljob::Attribute>& list, uint8_t id) {
  for (const auto& a : list) {
    if (a.id == id) return &a;
  }
  return nullptr;
}

bool CheckValue(const hbpljob::Attribute& a, uint32_t expected, Fault* fault) {
  if (a.first == expected) return true;
  return Fail(fault, a.offset,
              Format("attribute 0x%02llX holds %llu where it is always %llu", a.id, a.first, expected));
}

bool DescribePage(std::string_view data, const hbpljob::Page& page, int index, bool leadPixels, PageInfo* p,
                  Fault* fault) {
  const auto& attrs = page.attributes;
  const hbpljob::Attribute* get[256] = {};
  for (const auto& a : attrs) get[a.id] = &a;
  for (uint8_t id = kOrientation; id <= kLineSize; ++id) {
    if (!get[id]) return Fail(fault, page.offset, Format("BeginPage lacks attribute 0x%02llX", id));
  }
  p->index = index;
  p->offset = page.offset;
  p->orientation = get[kOrientation]->first;
  p->slot = get[kSlot]->first;
  p->sizeCode = get[kSizeCode]->first;
  p->customWidth = get[kCustomSize]->first;
  p->customHeight = get[kCustomSize]->second;
  p->x = static_cast<int16_t>(get[kOffset]->first);
  p->y = static_cast<int16_t>(get[kOffset]->second);
  p->side = get[kSide]->first;
  p->number = get[kNumber]->first;
  p->width = get[kImageSize]->first;
  p->height = get[kImageSize]->second;
  p->kind = get[kKind]->first;
  p->format = get[kFormat]->first;
  p->planes = get[kPlanes]->first;
  p->variant = get[kVariant]->first;
  p->bits = get[kBits]->first;
  p->resCode = get[kResolution]->first;
  p->lineWidth = get[kLineSize]->first;
  p->lineHeight = get[kLineSize]->second;

  if (!CheckValue(*get[kConst93], 1, fault) || !CheckValue(*get[kConst96], 3, fault) ||
      !CheckValue(*get[kConst9B], 0, fault))
    return false;
  if (p->orientation > 1) return Fail(fault, get[kOrientation]->offset, "orientation is neither 0 nor 1");
  if (p->side > 2) return Fail(fault, get[kSide]->offset, Format("duplex side %llu (0, 1 or 2)", p->side));
  if (p->lineHeight != p->height)
    return Fail(fault, get[kLineSize]->offset,
                Format("line block height %llu differs from the image height %llu", p->lineHeight, p->height));
  if (p->kind != kKindRaw && p->kind != kKindCoded && p->kind != kKindRecords && p->kind != kKindOther)
    return Fail(fault, get[kKind]->offset, Format("unknown payload kind %llu", p->kind));

  if (p->kind == kKindRaw) {
    p->coding = Coding::kRaw;
  } else if (p->kind == kKindCoded && p->variant == kVariantMivo) {
    p->coding = Coding::kMivo;
    p->mono = p->format == kFormatMivoMono;
    p->leadPixels = leadPixels;
    if (p->format != kFormatMivoMono && p->format != kFormatMivoColour)
      return Fail(fault, get[kFormat]->offset, Format("MIVO page with pixel format %llu", p->format));
    if (p->planes != kMivoPlanes || p->bits != kMivoBits)
      return Fail(fault, get[kPlanes]->offset, "MIVO page whose plane arrangement or depth is not 2 and 8");
    if (p->lineWidth != p->width / 8 * 8 + 8)
      return Fail(fault, get[kLineSize]->offset,
                  Format("MIVO line width %llu for an image %llu wide (expected %llu)", p->lineWidth, p->width,
                         p->width / 8ull * 8 + 8));
    if (leadPixels && p->width < 8 && p->height > 0)
      return Fail(fault, get[kImageSize]->offset, "image narrower than its 8 lead pixels");
  } else {
    p->coding = Coding::kOther;
  }
  if (p->coding != Coding::kMivo && p->lineWidth != p->width)
    return Fail(fault, get[kLineSize]->offset,
                Format("line width %llu differs from the image width %llu", p->lineWidth, p->width));

  if (p->coding == Coding::kOther) return true;
  // Raw and MIVO pages travel as exactly one image-data record.
  if (page.images.size() != 1)
    return Fail(fault, page.offset, Format("page holds %llu image-data records, not one", page.images.size()));
  const hbpljob::ImageRecord& image = page.images[0];
  p->dataOffset = static_cast<size_t>(image.bytes.data() - data.data());
  p->dataLength = image.bytes.size();

  if (p->coding == Coding::kRaw) {
    const uint64_t pixels = static_cast<uint64_t>(p->width) * p->height;
    if (pixels == 0) {
      if (p->dataLength != 0)
        return Fail(fault, image.offset, Format("empty image with %llu bytes of data", p->dataLength));
      return true;
    }
    for (int n : {1, 3, 4}) {
      if (pixels * static_cast<uint64_t>(n) == p->dataLength) p->rawBytesPerPixel = n;
    }
    if (p->rawBytesPerPixel == 0)
      return Fail(fault, image.offset,
                  Format("raw data of %llu bytes does not fit a %llu x %llu image", p->dataLength, p->width,
                         p->height));
    return true;
  }

  // MIVO: chunk header (checked by the reader), four length words, streams.
  const hbpljob::MivoChunk& chunk = image.chunk;
  const size_t streamsOffset = p->dataOffset + kChunkHeaderBytes + kLengthWords;
  const size_t available = chunk.streams.size();
  const uint32_t* len = chunk.lengths;
  const uint64_t sum = static_cast<uint64_t>(len[0]) + len[1] + len[2] + len[3];
  if (p->mono) {
    if (len[2] != 0 || len[3] != 0)
      return Fail(fault, p->dataOffset + kChunkHeaderBytes + 8, "monochrome page with third or fourth stream length");
    if (sum != available)
      return Fail(fault, p->dataOffset + kChunkHeaderBytes,
                  Format("stream lengths add up to %llu, the image data holds %llu", sum, available));
    p->streamCount = 2;
    p->streams[0] = {streamsOffset, len[0]};
    p->streams[1] = {streamsOffset + len[0], len[1]};
  } else {
    if (sum > available)
      return Fail(fault, p->dataOffset + kChunkHeaderBytes,
                  Format("stream lengths add up to %llu, the image data holds %llu", sum, available));
    // Colour streams follow in the order S0, S4, S1, S2, S3; the last one
    // takes what is left.
    size_t at = streamsOffset;
    p->streamCount = 5;
    p->streams[0] = {at, len[0]};
    at += len[0];
    p->streams[4] = {at, len[1]};
    at += len[1];
    p->streams[1] = {at, len[2]};
    at += len[2];
    p->streams[2] = {at, len[3]};
    at += len[3];
    p->streams[3] = {at, static_cast<size_t>(available - sum)};
  }
  return true;
}

}  // namespace

bool InspectJob(std::string_view data, JobInfo* info, Fault* fault) {
  *info = JobInfo{};
  hbpljob::Error error;
  if (!hbpljob::ParseJob(data, &info->job, &error)) return Fail(fault, error.offset, error.message);

  const auto& ja = info->job.jobAttributes;
  const hbpljob::Attribute* a81 = Find(ja, 0x81);
  const hbpljob::Attribute* a82 = Find(ja, 0x82);
  const hbpljob::Attribute* a83 = Find(ja, 0x83);
  if (!a81 || !a82 || !a83) return Fail(fault, 0, "BeginJob lacks an attribute");
  if (!CheckValue(*a81, 0, fault) || !CheckValue(*a83, 1, fault)) return false;
  info->encoding = a82->first;
  if (info->encoding != kJobRaw && info->encoding != kJobRecords && info->encoding != kJobMivo &&
      info->encoding != kJobMivoLead)
    return Fail(fault, a82->offset, Format("BeginJob announces coding %llu", info->encoding));

  info->pages.reserve(info->job.pages.size());
  int index = 0;
  for (const auto& page : info->job.pages) {
    PageInfo p;
    if (!DescribePage(data, page, ++index, info->encoding == kJobMivoLead, &p, fault)) return false;
    info->pages.push_back(p);
  }
  return true;
}

}  // namespace ztinspect
