// Test helpers shared by the tests of the three CMYK image filters: CMYK
// pages in memory, device parameter files built from parameter sets, PPD
// files that name them, and running a page procedure on in-memory streams.
#pragma once

#include <cstdint>
#include <cstdio>
#include <functional>
#include <memory>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

#include "digitalfilter.h"
#include "edgeenhance.h"
#include "runfilter.h"
#include "ztraster.h"
#include "ztstreams.h"
#include "zttrapping2.h"

// A CMYK page of 4-byte pixels, C M Y K.
struct CmykPage {
  unsigned width = 0;
  unsigned height = 0;
  std::vector<uint8_t> px;

  CmykPage(unsigned w, unsigned h, uint8_t c = 0, uint8_t m = 0, uint8_t y = 0, uint8_t k = 0);
  uint8_t* At(unsigned x, unsigned y) { return &px[(static_cast<size_t>(y) * width + x) * 4]; }
  const uint8_t* At(unsigned x, unsigned y) const { return &px[(static_cast<size_t>(y) * width + x) * 4]; }
  void Set(unsigned x, unsigned y, uint8_t c, uint8_t m, uint8_t yy, uint8_t k);
  // Sets columns [x0, x1) of every row.
  void SetColumns(unsigned x0, unsigned x1, uint8_t c, uint8_t m, uint8_t y, uint8_t k);
  std::string Bytes() const { return std::string(px.begin(), px.end()); }
  ZTRasterHeader Header() const { return MakeHeader(static_cast<int>(width), static_cast<int>(height), 32, ZT_CS_CMYK); }
};

// The record of each family as the device parameter file stores it.
std::string TrapRecordBytes(const TrapParamSet& p);
std::string EeRecordBytes(const EeParamSet& p);
std::string DfRecordBytes(const DfCoefTable& t);

// One block of a device parameter file: the family ID and, per record, the
// slots that designate it.
struct DlbBlock {
  std::string id;
  std::vector<std::pair<std::string, std::vector<int>>> records;  // record bytes, its slots
};
std::string DeviceParamFileBytes(const std::vector<DlbBlock>& blocks);

constexpr const char* kTrapFamilyId = "A_TRP_KESTIN_PRINT___V01";
constexpr const char* kEeFamilyId = "A_EE_KESTIN_PRINT____V01";
constexpr const char* kDfFamilyId = "A_DFT_KESTIN_PRINT___V01";

// The sample PPD with its device parameter file path set to dlbPath (no
// such attribute when dlbPath is empty), the parameter dump on or off, and
// extra lines appended.
std::string ImageFilterPPDText(const std::string& dlbPath, bool dump, const std::string& extra = "");

// A device parameter file and a PPD naming it, both removed afterwards.
class ImageFilterSetup {
 public:
  ImageFilterSetup(const std::vector<DlbBlock>& blocks, bool dump = false);
  const std::string& ppd() const { return ppd_->path(); }
  FilterResult Run(const std::string& program, const std::string& options, const std::string& input) const;

 private:
  std::unique_ptr<TempFile> dlb_;
  std::unique_ptr<TempFile> ppd_;
};

// One row of a filter's failure table: how it is run and how it must end.
struct FilterFailureCase {
  const char* name;
  std::vector<std::string> extraArgs;  // after the five CUPS arguments
  std::string options;
  std::string input;
  bool ppd;             // false: PPD unset
  int status;
  std::string message;  // text stderr must hold
  std::string output;   // all of stdout
};

// Names a case in test listings.
inline void PrintTo(const FilterFailureCase& c, std::ostream* os) { *os << c.name; }

// Runs program as the case says (with setup's PPD) and checks the outcome.
void CheckFilterFailure(const std::string& program, const ImageFilterSetup& setup, const FilterFailureCase& c);

// Runs a page procedure with `input` behind an in-memory input stream and
// returns what it wrote; *result receives its return value.
std::string RunOnStreams(const std::string& input, const std::function<int(FILE*, FILE*)>& proc, int* result);
