// Every program, when its temporary folder, its output or its data file
// fails: one line naming the program and the system's cause, the exit status
// the program gives that failure, and nothing left in the temporary folder.
#include <gtest/gtest.h>

#include <filesystem>

#include "chainjob.h"
#include "runfilter.h"
#include "ztstreams.h"

namespace {

enum class Fault {
  TempNotAFolder,  // TMPDIR names a regular file
  TempFull,        // files may not grow past 256 KiB (as on a full disk)
  OutputFull,      // standard output is /dev/full
  DataMissing,     // the PPD names a device parameter file that is not there
};

enum class Input { Cups, Rgb, Cmyk };

struct FaultCase {
  const char* name;
  const char* program;
  Input input;
  const char* options;
  Fault fault;
  int status;
  std::string line;  // expected on standard error, whole
};

void PrintTo(const FaultCase& c, std::ostream* os) { *os << c.name; }

// One page of 1024 x 1024 pixels of noise: larger than the file limit of
// TempFull, and as CMYK (4 MiB) than the chunk ztrotate turns in memory.
std::string InputBytes(Input input) {
  constexpr int kSide = 1024;
  switch (input) {
    case Input::Cups: return RgbCupsRaster({PatternBytes(kSide * kSide * 3, 7)}, kSide, kSide);
    case Input::Rgb: return PageBytes(MakeHeader(kSide, kSide, 24, ZT_CS_RGB), PatternBytes(kSide * kSide * 3, 7));
    case Input::Cmyk: return PageBytes(MakeHeader(kSide, kSide, 32, ZT_CS_CMYK), PatternBytes(kSide * kSide * 4, 7));
  }
  return "";
}

class ProgramFaults : public testing::TestWithParam<FaultCase> {};

TEST_P(ProgramFaults, NameTheCauseAndLeaveNoFile) {
  const FaultCase& c = GetParam();
  TempDir tmp;
  TempFile notAFolder("x");
  std::string ppdText = ChainPPDText();
  if (c.fault == Fault::DataMissing) {
    const std::string from = DataPath("korva-zt.dlb");
    ppdText.replace(ppdText.find(from), from.size(), "/nonexistent/zt.dlb");
  }
  TempFile ppd(ppdText, ".ppd");

  // The program runs under a shell that sets up the fault; an ignored
  // SIGXFSZ makes an over-long write fail with EFBIG instead of a signal.
  std::string script = "exec \"$@\"";
  if (c.fault == Fault::TempFull) script = "ulimit -f 512 && trap '' XFSZ && " + script;
  if (c.fault == Fault::OutputFull) script += " >/dev/full";
  std::vector<std::string> argv = {"/bin/sh", "-c", script, "sh"};
  for (const std::string& a : FilterArgv(c.program, c.options)) argv.push_back(a);
  RunOptions opts;
  opts.ppd = ppd.path();
  opts.extraEnv = {"TMPDIR=" + (c.fault == Fault::TempNotAFolder ? notAFolder.path() : tmp.path())};

  const FilterResult r = RunFilter(argv, InputBytes(c.input), opts);
  EXPECT_EQ(r.status, c.status) << r.err;
  EXPECT_NE(r.err.find(c.line + "\n"), std::string::npos) << "missing: " << c.line << "\n" << r.err;
  EXPECT_TRUE(std::filesystem::is_empty(tmp.path())) << "a file was left in the temporary folder";
}

constexpr char kTurn[] = "QKTurnPage=True";
constexpr char kNoDir[] = "Not a directory";
constexpr char kFull[] = "No space left on device";
constexpr char kBig[] = "File too large";
constexpr char kMissing[] = "No such file or directory";

std::string Cause(const std::string& program, const std::string& what, const std::string& cause) {
  return "ERROR: " + program + ": " + what + ": " + cause;
}

INSTANTIATE_TEST_SUITE_P(
    Rows, ProgramFaults,
    testing::Values(
        // The programs with temporary files.
        FaultCase{"RotateNoTemp", "ztrotate", Input::Cmyk, kTurn, Fault::TempNotAFolder, 255,
                  Cause("ztrotate", "cannot create a temporary file", kNoDir)},
        FaultCase{"RotateTempFull", "ztrotate", Input::Cmyk, kTurn, Fault::TempFull, 255,
                  Cause("ztrotate", "cannot write the temporary file", kBig)},
        FaultCase{"RotateSpoolFull", "ztrotate", Input::Rgb, "Duplex=DuplexNoTumble OutputOrder=Reverse",
                  Fault::TempFull, 1, Cause("ztrotate", "cannot write the spool file", kBig)},
        FaultCase{"MivoNoTemp", "ztmivo5", Input::Cmyk, "", Fault::TempNotAFolder, 255,
                  Cause("ztmivo5", "cannot create a temporary file", kNoDir)},
        FaultCase{"MivoTempFull", "ztmivo5", Input::Cmyk, "", Fault::TempFull, 255,
                  Cause("ztmivo5", "cannot write a temporary file", kBig)},
        FaultCase{"HbplNoTemp", "ztrastertohbpl", Input::Cmyk, "", Fault::TempNotAFolder, 1,
                  Cause("ztrastertohbpl", "cannot create the spool file", kNoDir)},
        FaultCase{"HbplTempFull", "ztrastertohbpl", Input::Cmyk, "", Fault::TempFull, 1,
                  Cause("ztrastertohbpl", "cannot write the spool file", kBig)},
        FaultCase{"ChainNoTemp", "ztmainfilter", Input::Cups, "", Fault::TempNotAFolder, 1,
                  Cause("ztrastertohbpl", "cannot create the spool file", kNoDir)},
        // Every program's output.
        FaultCase{"IntakeFull", "cupstoztraster", Input::Cups, "", Fault::OutputFull, 1,
                  Cause("cupstoztraster", "cannot write the output", kFull)},
        FaultCase{"SkipFull", "ztskipblank", Input::Rgb, "QKSkip=True", Fault::OutputFull, 1,
                  Cause("ztskipblank", "cannot write the output", kFull)},
        FaultCase{"RotateFull", "ztrotate", Input::Rgb, kTurn, Fault::OutputFull, 255,
                  Cause("ztrotate", "cannot write the output", kFull)},
        FaultCase{"TrcFull", "zttrc", Input::Rgb, "QKTonerSaver=True", Fault::OutputFull, 1,
                  Cause("zttrc", "cannot write the output", kFull)},
        FaultCase{"ColorconvFull", "ztcolorconv", Input::Rgb, "", Fault::OutputFull, 1,
                  Cause("ztcolorconv", "cannot write the output", kFull)},
        FaultCase{"TrappingFull", "zttrapping", Input::Cmyk, "QKTrapping=True", Fault::OutputFull, 254,
                  Cause("zttrapping", "page 1: cannot write the output", kFull)},
        FaultCase{"EdgeFull", "ztedgeenhance", Input::Cmyk, "QKEdgeEnhance=True", Fault::OutputFull, 255,
                  Cause("ztedgeenhance", "page 1: cannot write the output", kFull)},
        FaultCase{"DigitalFull", "ztdigitalfilter", Input::Cmyk, "QKDigitalFilter=Middle", Fault::OutputFull, 255,
                  Cause("ztdigitalfilter", "page 1: cannot write the output", kFull)},
        FaultCase{"MivoFull", "ztmivo5", Input::Cmyk, "", Fault::OutputFull, 255,
                  Cause("ztmivo5", "cannot write the output", kFull)},
        FaultCase{"HbplFull", "ztrastertohbpl", Input::Cmyk, "", Fault::OutputFull, 1,
                  Cause("ztrastertohbpl", "cannot write the printer job", kFull)},
        FaultCase{"ChainFull", "ztmainfilter", Input::Cups, "", Fault::OutputFull, 1,
                  Cause("ztrastertohbpl", "cannot write the printer job", kFull)},
        // A missing device parameter file costs its tables, not the job.
        FaultCase{"ColorconvNoData", "ztcolorconv", Input::Rgb, "", Fault::DataMissing, 0,
                  "DEBUG: ztcolorconv: cannot read the device parameter file: " + std::string(kMissing)},
        FaultCase{"TrappingNoData", "zttrapping", Input::Cmyk, "QKTrapping=True", Fault::DataMissing, 0,
                  Cause("zttrapping", "cannot read the device parameter file", kMissing)},
        FaultCase{"EdgeNoData", "ztedgeenhance", Input::Cmyk, "QKEdgeEnhance=True", Fault::DataMissing, 0,
                  Cause("ztedgeenhance", "cannot read the device parameter file", kMissing)},
        FaultCase{"DigitalNoData", "ztdigitalfilter", Input::Cmyk, "QKDigitalFilter=Middle", Fault::DataMissing, 0,
                  Cause("ztdigitalfilter", "cannot read the device parameter file", kMissing)}),
    [](const testing::TestParamInfo<FaultCase>& info) { return std::string(info.param.name); });

}  // namespace
