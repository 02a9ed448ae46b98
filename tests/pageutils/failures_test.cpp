// Every failure of the three page utilities: its message and exit status.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>

#include "pageutils_support.h"

namespace {

enum class Args { Normal, TooFew, MissingFile };

struct FailureCase {
  const char* name;
  const char* program;
  Args args;
  std::string options;
  std::string input;
  bool missingPPD;
  bool closedOutput;
  int status;
  std::vector<std::string> messages;  // lines expected on standard error
};

ZTRasterHeader Gray(int width, int height) { return MakeHeader(width, height, 8, ZT_CS_GRAY); }

// A page whose data stops short by `missing` bytes.
std::string Truncated(const ZTRasterHeader& h, size_t missing) {
  return PageBytes(h, PatternBytes(static_cast<size_t>(h.pageBytes) - missing, 5));
}

std::string OneBitPage() {
  ZTRasterHeader h = Gray(16, 2);
  h.bitsPerPixel = 1;
  h.bytesPerLine = 2;
  h.pageBytes = 4;
  return PageBytes(h, "\x01\x02\x03\x04");
}

std::string LyingPage() {
  ZTRasterHeader h = Gray(4, 4);
  h.pageBytes = 100;  // the lines hold 16 bytes
  return PageBytes(h, std::string(100, 'x'));
}

const std::string kPage = PageBytes(Gray(4, 2), "abcdefgh");
const std::string kReverse = "Duplex=DuplexNoTumble OutputOrder=Reverse";

void PrintTo(const FailureCase& c, std::ostream* os) { *os << c.name; }

class PageutilsFailures : public testing::TestWithParam<FailureCase> {};

TEST_P(PageutilsFailures, ReportsAndFails) {
  const FailureCase& c = GetParam();
  std::vector<std::string> argv = FilterArgv(c.program, c.options);
  if (c.args == Args::TooFew) argv.pop_back();
  if (c.args == Args::MissingFile) argv.push_back("/nonexistent/zt-input");
  RunOptions opts;
  opts.ppd = c.missingPPD ? "/nonexistent/zt.ppd" : DataPath("korva-zt.ppd");
  opts.closeStdoutEarly = c.closedOutput;
  FilterResult r = RunFilter(argv, c.input, opts);
  EXPECT_EQ(r.status, c.status) << r.err;
  for (const auto& m : c.messages) EXPECT_NE(r.err.find(m + "\n"), std::string::npos) << "missing: " << m << "\n" << r.err;
}

INSTANTIATE_TEST_SUITE_P(
    Rows, PageutilsFailures,
    testing::Values(
        // ztskipblank
        FailureCase{"SkipUsage", "ztskipblank", Args::TooFew, "", kPage, false, false, 1,
                    {"ERROR: (filtername) job-id user title copies options [file]"}},
        FailureCase{"SkipNoFile", "ztskipblank", Args::MissingFile, "", "", false, false, 1,
                    {"ERROR: unable to open raster file."}},
        FailureCase{"SkipNoPPD", "ztskipblank", Args::Normal, "", kPage, true, false, 1, {"ERROR: cannot open PPD"}},
        FailureCase{"SkipTruncated", "ztskipblank", Args::Normal, "QKSkip=True", kPage + Truncated(Gray(1000, 1100), 1),
                    false, false, 1, {"ERROR: ztskipblank page 2: the input ends inside the page data."}},
        FailureCase{"SkipLyingHeader", "ztskipblank", Args::Normal, "QKSkip=True", LyingPage(), false, false, 1,
                    {"ERROR: ztskipblank page 1: page header's page size does not match its lines."}},
        FailureCase{"SkipClosedOutput", "ztskipblank", Args::Normal, "", kPage, false, true, 1,
                    {"ERROR: ztskipblank: cannot write the output: Broken pipe"}},
        // ztrotate
        FailureCase{"RotateUsage", "ztrotate", Args::TooFew, "", kPage, false, false, 1,
                    {"ERROR: ztrotate job-id user title copies options [file]"}},
        FailureCase{"RotateNoFile", "ztrotate", Args::MissingFile, "", "", false, false, 255,
                    {"ERROR: ztrotate unable to open the input file."}},
        FailureCase{"RotateNoPPD", "ztrotate", Args::Normal, "", kPage, true, false, 1, {"ERROR: cannot open PPD"}},
        FailureCase{"RotateNoPages", "ztrotate", Args::Normal, "Duplex=DuplexNoTumble", "", false, false, 1,
                    {"ERROR: ztrotate the input holds no page."}},
        FailureCase{"RotateTruncated", "ztrotate", Args::Normal, "QKTurnPage=True", kPage + Truncated(Gray(4, 2), 1),
                    false, false, 255, {"ERROR: ztrotate the input ends inside the page data."}},
        FailureCase{"RotateTruncatedLarge", "ztrotate", Args::Normal, "QKTurnPage=True",
                    Truncated(Gray(2000, 2000), 4096), false, false, 255,
                    {"ERROR: ztrotate the input ends inside the page data."}},
        FailureCase{"RotateTruncatedCopy", "ztrotate", Args::Normal, "", Truncated(Gray(4, 2), 1), false, false, 255,
                    {"ERROR: ztrotate the input ends inside the page data."}},
        FailureCase{"RotateOneBit", "ztrotate", Args::Normal, "QKTurnPage=True", OneBitPage(), false, false, 1,
                    {"ERROR: ztrotate page 1: a page of fewer than 8 bits per pixel cannot be turned."}},
        FailureCase{"RotateLyingHeader", "ztrotate", Args::Normal, "QKTurnPage=True", LyingPage(), false, false, 1,
                    {"ERROR: ztrotate page 1: page header's page size does not match its lines."}},
        FailureCase{"RotateSpoolCounted", "ztrotate", Args::Normal, kReverse, kPage + Truncated(Gray(4, 2), 1), false,
                    false, 1,
                    {"DEBUG: ztrotate StoreSpoolDataToTempFile_FP(): cannot read infp.",
                     "DEBUG: ztrotate : error for StoreSpoolDataToTempFile_FP()."}},
        FailureCase{"RotateSpoolSkip", "ztrotate", Args::Normal, kReverse + " QKSkip=True",
                    kPage + Truncated(Gray(4, 2), 1), false, false, 1, {"ERROR: ztrotate cannot spool the input."}},
        FailureCase{"RotateClosedOutput", "ztrotate", Args::Normal, "QKTurnPage=True", kPage, false, true, 255,
                    {"ERROR: ztrotate: cannot write the output: Broken pipe"}},
        // zttrc
        FailureCase{"TrcUsage", "zttrc", Args::TooFew, "", kPage, false, false, 1,
                    {"ERROR: [Usage:] (This Filter) job-id user title copies options [InFile]"}},
        FailureCase{"TrcNoFile", "zttrc", Args::MissingFile, "", "", false, false, 1,
                    {"DEBUG: TRC: Unable to open input file"}},
        FailureCase{"TrcNoPPD", "zttrc", Args::Normal, "", kPage, true, false, 1,
                    {"ERROR: cannot open PPD", "ERROR: TRC: CreatePPDSetting returns Error."}},
        FailureCase{"TrcTruncatedScaled", "zttrc", Args::Normal, "QKTonerSaver=True",
                    kPage + Truncated(Gray(4, 2), 1), false, false, 1,
                    {"ERROR: applyTRC(): the input ends inside the page data.", "TRC: applyTRC returns error."}},
        FailureCase{"TrcTruncatedCopy", "zttrc", Args::Normal, "", Truncated(Gray(3000, 2000), 1), false, false, 1,
                    {"ERROR: throwdata(): the input ends inside the page data.", "TRC: throwdata returns error."}},
        FailureCase{"TrcClosedOutput", "zttrc", Args::Normal, "QKTonerSaver=True", kPage, false, true, 1,
                    {"ERROR: zttrc: cannot write the output: Broken pipe"}},
        FailureCase{"TrcClosedOutputLarge", "zttrc", Args::Normal, "QKTonerSaver=True",
                    PageBytes(Gray(3000, 2000), std::string(6000000, 'x')), false, true, 1,
                    {"DEBUG: applyTRC(): can't write to output file.", "TRC: applyTRC returns error."}}),
    [](const testing::TestParamInfo<FailureCase>& info) { return std::string(info.param.name); });

// A full disk under the copy paths, which pass pages from descriptor to
// descriptor: the filter's write error and a failed exit, never a quiet end.
TEST(PageutilsCopyPaths, FullDiskFails) {
  if (access("/dev/full", W_OK) != 0) GTEST_SKIP() << "/dev/full is not available";
  TempFile input(PageBytes(Gray(1000, 300), PatternBytes(300000, 9)));
  struct Row {
    const char* program;
    const char* message;
  };
  for (Row row : {Row{"ztskipblank", "ERROR: ztskipblank: cannot write the output: No space left on device"},
                  Row{"zttrc", "ERROR: zttrc: cannot write the output: No space left on device\nDEBUG: throwdata(): can't write to output file."},
                  Row{"ztrotate", "ERROR: ztrotate: cannot write the output: No space left on device"}}) {
    TempFile err;
    const std::string command = "PPD='" + DataPath("korva-zt.ppd") + "' '" + ProgramPath(row.program) +
                                "' 1 u t 1 '' '" + input.path() + "' >/dev/full 2>'" + err.path() + "'";
    const int status = system(command.c_str());
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) != 0) << row.program;
    EXPECT_NE(err.Read().find(std::string(row.message) + "\n"), std::string::npos) << err.Read();
  }
}

}  // namespace
