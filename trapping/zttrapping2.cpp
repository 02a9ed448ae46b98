#include "zttrapping2.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <new>

TrapParamSet trapParam;

namespace {

constexpr unsigned char kFlagHit = 1;
constexpr unsigned char kFlagLeftEmpty = 2;   // scan the window's last column only
constexpr unsigned char kFlagUpperEmpty = 4;  // scan the window's last row only

// Longest line the engine accepts, so that line lengths stay within unsigned.
constexpr uint64_t kMaxLineBytes = 0x7FFFFFFFu;

}  // namespace

CTrapping::CTrapping() = default;
CTrapping::~CTrapping() = default;

int CTrapping::Initialize(unsigned width_, unsigned height_, unsigned char alignment,
                          unsigned short matrixWidth_, unsigned short matrixHeight_,
                          TrapInCallback in_callback_, void* inuserdata_, TrapOutCallback out_callback_,
                          void* outuserdata_) {
  filling = true;
  width = width_;
  height = height_;
  matrixWidth = matrixWidth_;
  matrixHeight = matrixHeight_;
  in_callback = in_callback_;
  inuserdata = inuserdata_;
  out_callback = out_callback_;
  outuserdata = outuserdata_;
  halfWidth = static_cast<unsigned short>(matrixWidth / 2);
  halfHeight = static_cast<unsigned short>(matrixHeight / 2);
  linesRead = 0;
  current = 0;
  rowsEmitted_ = 0;
  lineWindow.clear();
  flagWindow.clear();
  planeMax_.clear();
  outLine.reset();
  param_ = trapParam;
  state_ = TRAP_BAD_ARGUMENT;

  if (matrixWidth % 2 == 0 || matrixHeight % 2 == 0) return state_;
  if (!in_callback || !out_callback || !inuserdata || !outuserdata) return state_;
  if (width == 0 || height == 0 || colorCount_ == 0) return state_;

  uint64_t bytes = static_cast<uint64_t>(colorCount_) * width;
  if (alignment != 0) bytes = (bytes + alignment - 1) / alignment * alignment;
  if (bytes > kMaxLineBytes) return state_;
  lineBytes = static_cast<unsigned>(bytes);

  // The window never holds more than matrixHeight + 2 * halfHeight lines.
  const size_t maxWindow = static_cast<size_t>(matrixHeight) * 2;
  rowLines_.reset(new (std::nothrow) unsigned char*[maxWindow]);
  rowFlags_.reset(new (std::nothrow) unsigned char*[maxWindow]);
  outLine = NewBuffer();
  if (!rowLines_ || !rowFlags_ || !outLine) return state_ = TRAP_NO_MEMORY;
  return state_ = TRAP_OK;
}

CTrapping::Buffer CTrapping::NewBuffer() const { return Buffer(new (std::nothrow) unsigned char[lineBytes]()); }

bool CTrapping::HasPendingLines() const {
  return state_ == TRAP_OK && !filling && lineWindow.size() > current + 1;
}

int CTrapping::ReadLineInto(unsigned char* buf) {
  if (in_callback(buf, lineBytes, inuserdata) != lineBytes) return state_ = TRAP_READ_FAILED;
  ++linesRead;
  return TRAP_OK;
}

int CTrapping::AppendLine() {
  Buffer line = NewBuffer();
  Buffer flags = NewBuffer();
  if (!line || !flags) return state_ = TRAP_NO_MEMORY;
  if (ReadLineInto(line.get()) != TRAP_OK) return state_;
  lineWindow.push_back(std::move(line));
  flagWindow.push_back(std::move(flags));
  planeMax_.push_back(kPlaneMaxUnknown);
  return TRAP_OK;
}

int CTrapping::TrappingLine() {
  if (state_ != TRAP_OK) return state_;
  if (rowsEmitted_ >= height) return state_ = TRAP_BAD_ARGUMENT;

  if (filling) {
    // Fill the window; a page shorter than the window starts with what it has.
    if (linesRead < height && AppendLine() != TRAP_OK) return state_;
    if (lineWindow.size() < static_cast<size_t>(matrixHeight) + halfHeight && linesRead < height) return TRAP_OK;
    current = 0;
    filling = false;
  } else if (current < halfHeight) {
    // Grow the window below until the current row sits halfHeight lines in.
    if (linesRead < height && AppendLine() != TRAP_OK) return state_;
    ++current;
  } else {
    // Slide: the oldest line leaves and its buffers take the next line.
    Buffer line = std::move(lineWindow.front());
    Buffer flags = std::move(flagWindow.front());
    lineWindow.pop_front();
    flagWindow.pop_front();
    planeMax_.pop_front();
    if (linesRead < height) {
      if (ReadLineInto(line.get()) != TRAP_OK) return state_;
      memset(flags.get(), 0, lineBytes);
      lineWindow.push_back(std::move(line));
      flagWindow.push_back(std::move(flags));
      planeMax_.push_back(kPlaneMaxUnknown);
    }
  }
  return ProcessCurrentRow();
}

namespace {

// The lines and flag planes around the row being processed. The per-pixel
// tests copy what they need into locals first: their flag writes go through
// byte pointers, which the compiler must otherwise assume may change any
// member it reads.
struct TrapWindow {
  const unsigned char* const* lines;  // lines[i] holds image row base + i
  unsigned char* const* flags;
  unsigned base;
  unsigned width;
  unsigned height;
  unsigned halfWidth;
  unsigned halfHeight;
};

constexpr unsigned kPixelBytes = 4;

typedef unsigned char Bytes16 __attribute__((vector_size(16)));

// The largest value of each plane in a line.
std::array<int, 4> PlaneMaxima(const unsigned char* line, size_t bytes) {
  Bytes16 most = {};
  size_t i = 0;
  for (; i + 16 <= bytes; i += 16) {
    Bytes16 v;
    memcpy(&v, line + i, sizeof v);
    const Bytes16 larger = v > most;
    most = (v & larger) | (most & ~larger);
  }
  std::array<int, 4> m = {0, 0, 0, 0};
  for (size_t j = 0; j < 16; ++j) m[j % 4] = std::max<int>(m[j % 4], most[j]);
  for (; i < bytes; ++i) m[i % 4] = std::max<int>(m[i % 4], line[i]);
  return m;
}

// Finds the next pixel whose K reaches kMin (the pixels before it are left
// as they are), four pixels at a time where the line allows.
struct KSkip {
  Bytes16 mask;   // 0xFF at the K byte of each of four pixels
  Bytes16 least;  // kMin in every byte
  unsigned kByte;
  unsigned char kMin;

  KSkip(unsigned k, unsigned char minimum) : mask(), least(), kByte(k), kMin(minimum) {
    for (unsigned i = 0; i < 16; ++i) {
      if (i % kPixelBytes == kByte) mask[i] = 0xFF;
      least[i] = kMin;
    }
  }

  // The first pixel from x on whose K is at least kMin, or xEnd.
  unsigned Next(const unsigned char* line, unsigned x, unsigned xEnd) const {
    for (; x + 4 <= xEnd; x += 4) {
      Bytes16 four;
      memcpy(&four, line + x * kPixelBytes, sizeof four);
      const Bytes16 reach = (four >= least) & mask;
      uint64_t halves[2];
      memcpy(halves, &reach, sizeof halves);
      if (halves[0] | halves[1]) break;
    }
    for (; x < xEnd; ++x)
      if (line[x * kPixelBytes + kByte] >= kMin) return x;
    return xEnd;
  }
};

// The scan of NeighbourTest for a pixel whose flag f is not a plain hit.
bool ScanNeighbours(const TrapWindow& w, unsigned x, unsigned y, unsigned c, unsigned char f, int nlo, int nhi) {
  const unsigned base = w.base, width = w.width, height = w.height, hw = w.halfWidth, hh = w.halfHeight;
  const unsigned idx = x * kPixelBytes + c;
  unsigned y0 = y >= hh ? y - hh : 0;
  const unsigned y1 = std::min(y + hh + 1, height);
  unsigned x0 = x >= hw ? x - hw : 0;
  const unsigned x1 = std::min(x + hw + 1, width);
  if (f & kFlagUpperEmpty) y0 = y1 - 1;
  if (f & kFlagLeftEmpty) x0 = x1 - 1;

  unsigned char* flags = w.flags[y - base];
  for (unsigned r = y0; r < y1; ++r) {
    const unsigned char* line = w.lines[r - base] + c;
    for (unsigned s = x0; s < x1; ++s) {
      const int n = line[s * kPixelBytes];
      if (n < nlo || n > nhi) continue;
      // Every pixel from here down to halfHeight rows below the find, and up
      // to halfWidth columns right of it, has the find in its window.
      const unsigned rEnd = std::min(r + hh, height - 1);
      const unsigned sEnd = std::min(s + hw, width - 1);
      for (unsigned rr = y; rr <= rEnd; ++rr) {
        unsigned char* frow = w.flags[rr - base] + c;
        for (unsigned ss = x0; ss <= sEnd; ++ss) frow[ss * kPixelBytes] = kFlagHit;
      }
      flags[idx] = f;  // the pixel itself keeps its flag
      return true;
    }
  }
  if (x + 1 < width) flags[idx + kPixelBytes] |= kFlagLeftEmpty;
  if (y + 1 < height) w.flags[y + 1 - base][idx] |= kFlagUpperEmpty;
  return false;
}

// Whether pixel (x, y), whose plane-c value lies in [lo, hi], has a pixel
// with a plane-c value in [nlo, nhi] in its window; the flag planes remember
// hits for the pixels below and to the right and misses for the next pixel
// and the pixel below. mayFind false: the caller knows that no pixel of the
// rows around y has such a value, so the scan is left out (its outcome and
// the flags it leaves are the same).
inline bool NeighbourTest(const TrapWindow& w, unsigned x, unsigned y, unsigned c, int lo, int hi, int nlo, int nhi,
                          bool mayFind = true) {
  const unsigned idx = x * kPixelBytes + c;
  const int v = w.lines[y - w.base][idx];
  if (v < lo || v > hi) return false;
  unsigned char* flags = w.flags[y - w.base];
  const unsigned char f = flags[idx];
  if (f == kFlagHit) return true;
  if (!mayFind) {
    if (x + 1 < w.width) flags[idx + kPixelBytes] |= kFlagLeftEmpty;
    if (y + 1 < w.height) w.flags[y + 1 - w.base][idx] |= kFlagUpperEmpty;
    return false;
  }
  return ScanNeighbours(w, x, y, c, f, nlo, nhi);
}

// Mean of the plane-c values in [lo, hi] in the window of (x, y), the
// pixel itself left out; 0 when none qualifies.
int WindowAverage(const TrapWindow& w, unsigned x, unsigned y, unsigned c, int lo, int hi) {
  const unsigned y0 = y >= w.halfHeight ? y - w.halfHeight : 0;
  const unsigned y1 = std::min(y + w.halfHeight + 1, w.height);
  const unsigned x0 = x >= w.halfWidth ? x - w.halfWidth : 0;
  const unsigned x1 = std::min(x + w.halfWidth + 1, w.width);
  unsigned sum = 0;
  unsigned count = 0;
  for (unsigned r = y0; r < y1; ++r) {
    const unsigned char* line = w.lines[r - w.base] + c;
    for (unsigned s = x0; s < x1; ++s) {
      if (r == y && s == x) continue;
      const int v = line[s * kPixelBytes];
      if (v < lo || v > hi) continue;
      sum += static_cast<unsigned>(v);
      ++count;
    }
  }
  return count ? static_cast<int>(sum / count) : 0;
}

}  // namespace

int CTrapping::ProcessCurrentRow() {
  const unsigned size = static_cast<unsigned>(lineWindow.size());
  for (unsigned i = 0; i < size; ++i) {
    rowLines_[i] = lineWindow[i].get();
    rowFlags_[i] = flagWindow[i].get();
  }
  const TrapWindow w{rowLines_.get(), rowFlags_.get(), linesRead - size, width, height, halfWidth, halfHeight};
  // Whether the rows around this one hold colour at all, per plane: found
  // out at the first black edge of the row. A hit mark always comes from a
  // coloured pixel within halfHeight rows, so without colour there no
  // colour test can hold and its scan can be left out.
  bool colourKnown = false;
  bool mayFindC = true, mayFindM = true, mayFindY = true;
  const unsigned y = w.base + current;
  const unsigned char* in = rowLines_[current];
  unsigned char* out = outLine.get();
  bool outFilled = false;

  const unsigned cC = colorOrder[0], cM = colorOrder[1], cY = colorOrder[2], cK = colorOrder[3];
  const int bk_full = param_.bk_full, bk_white = param_.bk_white;
  const int cmy_white = param_.cmy_white, cmy_color = param_.cmy_color, ave_white = param_.ave_white;
  const int tonerlimit = param_.tonerlimit;
  const bool underprint = static_cast<unsigned>(param_.pseud_ib) == ibMode;
  const int ib_k_full = param_.ib_k_full, ib_c_white = param_.ib_c_white, ib_m_white = param_.ib_m_white,
            ib_y_white = param_.ib_y_white;
  const unsigned char ib_c_const = static_cast<unsigned char>(param_.ib_c_const),
                      ib_m_const = static_cast<unsigned char>(param_.ib_m_const),
                      ib_y_const = static_cast<unsigned char>(param_.ib_y_const);
  // No pixel with K below this is ever changed.
  const int kMin = underprint ? std::min(bk_full, ib_k_full) : bk_full;
  const size_t bytes = lineBytes;

  const unsigned xBegin = w.halfWidth;
  const unsigned xEnd = width > 2u * w.halfWidth ? width - w.halfWidth : xBegin;
  const KSkip skip(cK, static_cast<unsigned char>(std::min(kMin, 255)));
  for (unsigned x = xBegin; x < xEnd; ++x) {
    x = skip.Next(in, x, xEnd);
    if (x >= xEnd) break;
    const unsigned char* px = in + x * kPixelBytes;
    const int k = px[cK];
    if (k < kMin) continue;
    if (k >= bk_full && NeighbourTest(w, x, y, cK, bk_full, 255, 0, bk_white)) {
      if (!colourKnown) {
        std::array<int, 4> most = {0, 0, 0, 0};
        const unsigned first = current >= halfHeight ? current - halfHeight : 0;
        const unsigned last = std::min<unsigned>(current + halfHeight, size - 1);
        for (unsigned i = first; i <= last; ++i) {
          if (planeMax_[i][0] < 0) planeMax_[i] = PlaneMaxima(rowLines_[i], bytes);
          for (unsigned c = 0; c < 4; ++c) most[c] = std::max(most[c], planeMax_[i][c]);
        }
        mayFindC = most[cC] >= cmy_color;
        mayFindM = most[cM] >= cmy_color;
        mayFindY = most[cY] >= cmy_color;
        colourKnown = true;
      }
      const bool hitY = NeighbourTest(w, x, y, cY, 0, cmy_white, cmy_color, 255, mayFindY);
      const bool hitM = NeighbourTest(w, x, y, cM, 0, cmy_white, cmy_color, 255, mayFindM);
      const bool hitC = NeighbourTest(w, x, y, cC, 0, cmy_white, cmy_color, 255, mayFindC);
      if (!(hitY || hitM || hitC)) continue;
      if (!outFilled) {
        memcpy(out, in, bytes);
        outFilled = true;
      }
      int vy = hitY ? WindowAverage(w, x, y, cY, ave_white, 255) : px[cY];
      int vm = hitM ? WindowAverage(w, x, y, cM, ave_white, 255) : px[cM];
      int vc = hitC ? WindowAverage(w, x, y, cC, ave_white, 255) : px[cC];
      unsigned char* o = out + x * kPixelBytes;
      if (vy + vm + vc + k > tonerlimit) {
        // Scale the three colours into what the limit leaves beside K; with
        // nothing left (K alone over the limit) they become 0.
        const int budget = tonerlimit - k;
        const int sum = vy + vm + vc;
        if (budget <= 0 || sum == 0) {
          vy = vm = vc = 0;
        } else {
          vy = vy * budget / sum;
          vm = vm * budget / sum;
          vc = vc * budget / sum;
        }
        o[cY] = static_cast<unsigned char>(vy);
        o[cM] = static_cast<unsigned char>(vm);
        o[cC] = static_cast<unsigned char>(vc);
      } else {
        if (hitY) o[cY] = static_cast<unsigned char>(vy);
        if (hitM) o[cM] = static_cast<unsigned char>(vm);
        if (hitC) o[cC] = static_cast<unsigned char>(vc);
      }
    } else if (underprint && k >= ib_k_full && px[cY] <= ib_y_white && px[cM] <= ib_m_white &&
               px[cC] <= ib_c_white) {
      if (!outFilled) {
        memcpy(out, in, bytes);
        outFilled = true;
      }
      unsigned char* o = out + x * kPixelBytes;
      o[cY] = ib_y_const;
      o[cM] = ib_m_const;
      o[cC] = ib_c_const;
    }
  }

  const unsigned char* line = outFilled ? out : in;
  if (out_callback(line, lineBytes, outuserdata) != lineBytes) return state_ = TRAP_WRITE_FAILED;
  ++rowsEmitted_;
  return TRAP_OK;
}
