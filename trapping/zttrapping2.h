// Line-streaming trapping engine of zttrapping.
//
// CTrapping pulls CMYK lines through an input callback, keeps a sliding
// window of whole lines, spreads colour under the edges of solid black
// (trapping), gives solid black with no colour a fixed colour underprint,
// clips trapped pixels to a total-toner limit and pushes each finished line
// through an output callback. Every decision is taken on the unmodified input
// lines; changes go to a separate copy of the line being emitted.
//
// Window of lines (matrixHeight = 5, halfHeight = 2): the first row is
// processed once 7 lines are held, then one line is read per row, so the
// window spans rows y-2 .. y+6 of row y: y-2 .. y+2 for the neighbour scan,
// up to y+4 for the hit marks a scan leaves below it.
//
// Flag planes, one per window line and laid out like a line (one byte per
// pixel and plane), remember what earlier scans learned:
//   exactly 1   hit: a qualifying neighbour lies in this pixel's window
//   bit 2       the pixel to the left found nothing: scan the last column only
//   bit 4       the pixel above found nothing: scan the last row only
#pragma once

#include <array>
#include <cstddef>
#include <deque>
#include <memory>

// Thresholds of the engine, unpacked once per job from the trapping record.
struct TrapParamSet {
  int bk_full = 0;     // K at or above which a pixel is solid black
  int bk_white = 0;    // K at or below which a neighbour is free of black
  int cmy_white = 0;   // C, M or Y at or below which a pixel's plane is empty
  int cmy_color = 0;   // C, M or Y at or above which a neighbour's plane is coloured
  int ave_white = 0;   // lowest value that enters the window average
  int tonerlimit = 0;  // maximum C + M + Y + K after trapping (0 .. 1023)
  int pseud_ib = 0;    // 0: the black-underprint rule applies
  int matrixsize = 0;  // reported in the parameter dump only
  int ib_k_full = 0;   // underprint applies from this K ...
  int ib_c_white = 0;  // ... when C, M and Y are at or below these
  int ib_m_white = 0;
  int ib_y_white = 0;
  int ib_c_const = 0;  // values the underprint writes
  int ib_m_const = 0;
  int ib_y_const = 0;
};

// The process-wide parameter set that Initialize takes its thresholds from.
extern TrapParamSet trapParam;

// Reads one line of `length` bytes into buf; returns length on success.
typedef unsigned (*TrapInCallback)(unsigned char* buf, unsigned length, void* userdata);
// Writes one line of `length` bytes; returns length on success.
typedef unsigned (*TrapOutCallback)(const unsigned char* buf, unsigned length, void* userdata);

// Results of Initialize and TrappingLine. Once a call failed, every later
// TrappingLine returns the same code.
enum TrapResult {
  TRAP_OK = 0,
  TRAP_NO_MEMORY = 1,       // a line or flag buffer could not be allocated
  TRAP_READ_FAILED = -1,    // the input callback delivered less than a line
  TRAP_WRITE_FAILED = -2,   // the output callback took less than a line
  TRAP_BAD_ARGUMENT = -3,   // Initialize's arguments, or a call out of order
};

class CTrapping {
 public:
  CTrapping();
  virtual ~CTrapping();
  CTrapping(const CTrapping&) = delete;
  CTrapping& operator=(const CTrapping&) = delete;

  // Sets up a page of width x height pixels (4 bytes each). alignment: line
  // length rounded up to a multiple of it (0: none). The window sizes must be
  // odd; callbacks, user data, width and height must be given.
  int Initialize(unsigned width, unsigned height, unsigned char alignment, unsigned short matrixWidth,
                 unsigned short matrixHeight, TrapInCallback in_callback, void* inuserdata,
                 TrapOutCallback out_callback, void* outuserdata);

  // Advances by one step: reads at most one line and emits at most one row.
  // Call it once per page line, then again while HasPendingLines().
  int TrappingLine();

  // True while rows after the current one still wait to be emitted.
  bool HasPendingLines() const;

 private:
  typedef std::unique_ptr<unsigned char[]> Buffer;

  Buffer NewBuffer() const;
  int ReadLineInto(unsigned char* buf);
  // Reads the next line into new buffers at the end of the window.
  int AppendLine();
  int ProcessCurrentRow();

  TrapInCallback in_callback = nullptr;
  TrapOutCallback out_callback = nullptr;
  void* inuserdata = nullptr;
  void* outuserdata = nullptr;
  bool filling = true;
  unsigned ibMode = 0;
  unsigned width = 0;
  unsigned height = 0;
  unsigned char colorCount_ = 4;
  unsigned short matrixWidth = 0;
  unsigned short matrixHeight = 0;
  unsigned lineBytes = 0;
  unsigned short halfWidth = 0;
  unsigned short halfHeight = 0;
  unsigned linesRead = 0;
  unsigned current = 0;
  Buffer outLine;
  std::deque<Buffer> flagWindow;
  std::deque<Buffer> lineWindow;
  unsigned char colorOrder[4] = {0, 1, 2, 3};  // plane of C, M, Y, K

  // Bookkeeping of this implementation.
  TrapParamSet param_;        // thresholds copied at Initialize
  int state_ = TRAP_BAD_ARGUMENT;  // TRAP_OK once initialised; sticky error code
  unsigned rowsEmitted_ = 0;
  // Per window line, the largest value of each plane (first entry -1 until
  // worked out).
  std::deque<std::array<int, 4>> planeMax_;
  static constexpr std::array<int, 4> kPlaneMaxUnknown = {-1, -1, -1, -1};
  std::unique_ptr<unsigned char*[]> rowLines_;  // the windows' buffers while a row is processed
  std::unique_ptr<unsigned char*[]> rowFlags_;
};
