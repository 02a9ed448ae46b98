#include "ztjobview_render.h"

#include <png.h>
#include <unistd.h>

#include <algorithm>
#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>
#include <vector>

#include "mivocore.h"
#include "mivoexception.h"

namespace ztinspect {

namespace {

// The parameter set the compression filter codes its pages with.
constexpr int kMivoRunTable = 1, kMivoErrorTable = 1, kMivoMarkerTable = 5, kMivoHeaderLevel = 195;
constexpr int kColourDiffers[mivo::DIFFER_COUNT] = {1, 129, 128, 130, 131};
constexpr int kMonoDiffers[mivo::DIFFER_COUNT] = {1, 129, 128, 130, 8};
constexpr int kLeadPixels = 8;

// A PNG file written row by row; an unfinished file is removed.
class PngWriter {
 public:
  ~PngWriter() {
    if (png_) png_destroy_write_struct(&png_, info_ ? &info_ : nullptr);
    if (fp_) std::fclose(fp_);
    if (!path_.empty() && !finished_) unlink(path_.c_str());
  }

  bool Open(const std::string& path, uint32_t width, uint32_t height) {
    fp_ = std::fopen(path.c_str(), "wb");
    if (!fp_) return false;
    path_ = path;
    png_ = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, Warn);
    if (!png_) return false;
    info_ = png_create_info_struct(png_);
    if (!info_) return false;
    if (setjmp(png_jmpbuf(png_))) return false;
    png_init_io(png_, fp_);
    png_set_IHDR(png_, info_, width, height, 8, PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_set_compression_level(png_, 3);
    png_write_info(png_, info_);
    return true;
  }

  bool Row(const unsigned char* rgb) {
    if (setjmp(png_jmpbuf(png_))) return false;
    png_write_row(png_, rgb);
    return true;
  }

  bool Finish() {
    if (setjmp(png_jmpbuf(png_))) return false;
    png_write_end(png_, info_);
    png_destroy_write_struct(&png_, &info_);
    png_ = nullptr;
    info_ = nullptr;
    const bool ok = std::fflush(fp_) == 0 && !std::ferror(fp_);
    const bool closed = std::fclose(fp_) == 0;
    fp_ = nullptr;
    finished_ = ok && closed;
    return finished_;
  }

 private:
  static void Warn(png_structp, png_const_charp) {}

  std::string path_;
  FILE* fp_ = nullptr;
  png_structp png_ = nullptr;
  png_infop info_ = nullptr;
  bool finished_ = false;
};

// Takes the page's lines in its own layout, counts ink, hands RGB rows to
// the PNG writer.
class LineSink {
 public:
  LineSink(int components, uint32_t skip, uint32_t width, uint32_t step, size_t lineBytes, PageStats* stats,
           PngWriter* png)
      : components_(components), skip_(skip), width_(width), step_(step), lineBytes_(lineBytes), stats_(stats),
        png_(png) {}

  bool Allocate() {
    if (!png_) return true;
    rgb_.reset(new (std::nothrow) unsigned char[static_cast<size_t>(width_) * 3 + 1]);
    return rgb_ != nullptr;
  }

  size_t lineBytes() const { return lineBytes_; }
  bool outputFailed() const { return outputFailed_; }

  bool Line(const unsigned char* line) {
    const unsigned char* px = line + static_cast<size_t>(skip_) * components_;
    const bool shown = png_ && y_ % step_ == 0;
    ++y_;
    unsigned char* out = shown ? rgb_.get() : nullptr;
    uint64_t* ink = stats_->ink;
    for (uint32_t x = 0; x < width_; ++x, px += components_) {
      unsigned r, g, b;
      if (components_ == 4) {
        const unsigned c = px[0], m = px[1], y = px[2], k = px[3];
        ink[0] += c != 0;
        ink[1] += m != 0;
        ink[2] += y != 0;
        ink[3] += k != 0;
        r = 255 - std::min(255u, c + k);
        g = 255 - std::min(255u, m + k);
        b = 255 - std::min(255u, y + k);
      } else if (components_ == 3) {
        r = px[0];
        g = px[1];
        b = px[2];
        ink[0] += r != 255;
        ink[1] += g != 255;
        ink[2] += b != 255;
      } else {
        const unsigned k = px[0];
        ink[3] += k != 0;
        r = g = b = 255 - k;
      }
      if (out && x % step_ == 0) {
        *out++ = static_cast<unsigned char>(r);
        *out++ = static_cast<unsigned char>(g);
        *out++ = static_cast<unsigned char>(b);
      }
    }
    if (shown && !png_->Row(rgb_.get())) {
      outputFailed_ = true;
      return false;
    }
    return true;
  }

 private:
  int components_;
  uint32_t skip_, width_, step_;
  uint32_t y_ = 0;
  size_t lineBytes_;
  PageStats* stats_;
  PngWriter* png_;
  std::unique_ptr<unsigned char[]> rgb_;
  bool outputFailed_ = false;
};

struct StreamReader {
  const unsigned char* at;
  size_t left;
};

size_t ReadStream(void* context, unsigned char* buffer, size_t count) {
  auto* s = static_cast<StreamReader*>(context);
  const size_t n = std::min(count, s->left);
  std::memcpy(buffer, s->at, n);
  s->at += n;
  s->left -= n;
  return n;
}

size_t WriteLine(void* context, const unsigned char* buffer, size_t count) {
  auto* sink = static_cast<LineSink*>(context);
  if (count != sink->lineBytes()) return 0;
  return sink->Line(buffer) ? count : 0;
}

bool Fail(Fault* fault, size_t offset, std::string message) {
  fault->offset = offset;
  fault->message = std::move(message);
  return false;
}

std::string PageText(const PageInfo& page, const char* what) {
  return "page " + std::to_string(page.index) + ": " + what;
}

RenderResult DecodeMivo(std::string_view data, const PageInfo& page, LineSink* sink, Fault* fault) {
  const auto* base = reinterpret_cast<const unsigned char*>(data.data());
  StreamReader readers[mivo::MAX_STREAMS] = {};
  for (int k = 0; k < mivo::MAX_STREAMS; ++k) readers[k] = {base + page.streams[k].offset, page.streams[k].length};

  mivo::Info info;
  info.width = static_cast<int>(page.lineWidth);
  info.height = static_cast<int>(page.height);
  info.image_bit = page.mono ? 8 : 32;
  info.ihdr_level = kMivoHeaderLevel;
  info.run_table = kMivoRunTable;
  info.error_table = kMivoErrorTable;
  info.marker_table = kMivoMarkerTable;
  info.multi_stream = true;
  info.initial_component = page.mono ? 0 : 255;
  std::copy(std::begin(page.mono ? kMonoDiffers : kColourDiffers), std::end(page.mono ? kMonoDiffers : kColourDiffers),
            info.differ);
  info.selected_differ = 0;
  info.callback_in = ReadStream;
  for (int k = 0; k < mivo::MAX_STREAMS; ++k) info.in_context[k] = &readers[k];
  info.callback_out = WriteLine;
  info.out_context[0] = sink;

  std::unique_ptr<mivo::CoreDec> dec;
  try {
    dec = std::make_unique<mivo::CoreDec>(info);
    if (dec->info().bytes_per_line != sink->lineBytes()) {
      Fail(fault, page.dataOffset, PageText(page, "decoder line size does not match the page"));
      return kBadData;
    }
    for (uint32_t y = 0; y < page.height; ++y) dec->decode_line();
    dec->terminate();
  } catch (const mivo::Exception& e) {
    if (sink->outputFailed()) {
      fault->message = PageText(page, "cannot write the PNG");
      return kOutputFailed;
    }
    const size_t at = page.streams[0].offset + (dec ? std::min<uint64_t>(dec->consumed(0), page.streams[0].length) : 0);
    Fail(fault, at, PageText(page, "MIVO data does not decode: ") + e.what());
    return kBadData;
  } catch (const std::bad_alloc&) {
    Fail(fault, page.dataOffset, PageText(page, "out of memory while decoding"));
    return kBadData;
  }
  // Every byte of every stream belongs to the page: anything the decoder
  // left unread is data the printer would misread too.
  for (int k = 0; k < page.streamCount; ++k) {
    const uint64_t used = dec->consumed(k);
    if (used < page.streams[k].length) {
      Fail(fault, page.streams[k].offset + used,
           PageText(page, "") + std::to_string(page.streams[k].length - used) + " bytes of stream " +
               std::to_string(k) + " after the end of the image");
      return kBadData;
    }
  }
  return kRendered;
}

}  // namespace

RenderResult RenderPage(std::string_view data, const PageInfo& page, const RenderLimits& limits,
                        const std::string& pngPath, PageStats* stats, Fault* fault) {
  *stats = PageStats{};
  int components = 0;
  uint32_t skip = 0, shownWidth = page.width, codedWidth = page.width;
  if (page.coding == Coding::kRaw) {
    components = page.rawBytesPerPixel;
  } else if (page.coding == Coding::kMivo) {
    components = page.mono ? 1 : 4;
    codedWidth = page.lineWidth;
    if (page.leadPixels) {
      skip = kLeadPixels;
      shownWidth = page.width - kLeadPixels;
    }
  }
  if (components == 0 || page.height == 0 || shownWidth == 0) return kNotRendered;
  stats->layout = components == 4 ? "colour" : components == 3 ? "rgb" : "mono";
  stats->width = shownWidth;
  stats->height = page.height;

  if (codedWidth > limits.maxWidth || static_cast<uint64_t>(codedWidth) * page.height > limits.maxPixels) {
    Fail(fault, page.offset,
         PageText(page, "") + std::to_string(codedWidth) + " x " + std::to_string(page.height) +
             " pixels is beyond what the inspector renders");
    return kBadData;
  }

  const uint32_t step = std::max(1u, limits.step);
  std::unique_ptr<PngWriter> png;
  if (!pngPath.empty()) {
    png = std::make_unique<PngWriter>();
    if (!png->Open(pngPath, (shownWidth - 1) / step + 1, (page.height - 1) / step + 1)) {
      fault->message = "cannot write " + pngPath;
      return kOutputFailed;
    }
  }
  const size_t lineBytes = static_cast<size_t>(codedWidth) * components;
  LineSink sink(components, skip, shownWidth, step, lineBytes, stats, png.get());
  if (!sink.Allocate()) {
    fault->message = "out of memory";
    return kOutputFailed;
  }

  if (page.coding == Coding::kRaw) {
    const auto* line = reinterpret_cast<const unsigned char*>(data.data()) + page.dataOffset;
    for (uint32_t y = 0; y < page.height; ++y, line += lineBytes) {
      if (!sink.Line(line)) {
        fault->message = "cannot write " + pngPath;
        return kOutputFailed;
      }
    }
  } else {
    const RenderResult r = DecodeMivo(data, page, &sink, fault);
    if (r == kOutputFailed) fault->message = "cannot write " + pngPath;
    if (r != kRendered) return r;
  }
  if (png && !png->Finish()) {
    fault->message = "cannot write " + pngPath;
    return kOutputFailed;
  }
  stats->png = png != nullptr;
  return kRendered;
}

}  // namespace ztinspect
