// A job of the Printer Application: the driver chain (ztmainfilter with the
// model's PPD and the job's options) run on CUPS raster that this process
// writes from the pages PAPPL hands over (or that Ghostscript makes from a
// PDF), its output sent to the printer's device once the chain has ended well.
#pragma once

#include "ztppdmodel.h"

#include <cups/raster.h>
#include <pappl/pappl.h>

#include <string>
#include <sys/types.h>
#include <vector>

// Where the chain comes from; shared by every job.
struct ZTChainConfig {
  std::string mainFilter;   // path of ztmainfilter
  std::string ghostscript;  // path of gs
};

class ZTChainRun {
 public:
  ZTChainRun() = default;
  ZTChainRun(const ZTChainRun&) = delete;
  ZTChainRun& operator=(const ZTChainRun&) = delete;
  // A chain still running here (a job that ended early) is stopped and reaped.
  ~ZTChainRun();

  // Prepares the chain for a job (options must live until the first page,
  // or for a file until Finish). With inputFile the chain starts at once
  // and reads that CUPS raster file itself; otherwise it starts with the
  // first page (whose resolution it is told) and pages are written with the
  // page calls.
  bool Start(pappl_job_t* job, const ZTModel& model, const std::string& ppd, const ZTChainConfig& config,
             const pappl_pr_options_t* options, const std::string& inputFile = "");
  // One page whose lines are described by in (any 8 or 16 bit grey or RGB
  // PAPPL delivers); it is cut to the PPD's imageable area and written as
  // 8-bit RGB (cupsColorSpace 1).
  // options are the page's: PAPPL makes them anew for every page.
  bool StartPage(const cups_page_header2_t& in, const pappl_pr_options_t* options);
  bool WriteLine(unsigned y, const unsigned char* line);
  bool EndPage();
  // Ends the chain's input, waits for it and, when it ended well and the job
  // was not cancelled, sends its output to the device. Sets the job's
  // message and reasons on failure.
  bool Finish(pappl_device_t* device);

 private:
  bool Launch(int xres, int yres);
  void Stop();
  void LogChainMessages();

  pappl_job_t* job_ = nullptr;
  const ZTModel* model_ = nullptr;
  const pappl_pr_options_t* options_ = nullptr;
  std::string ppd_, inputFile_;
  const ZTChainConfig* config_ = nullptr;
  pid_t pid_ = -1;
  int toChain_ = -1;    // write end of the chain's standard input
  int output_ = -1;     // the chain's standard output (an unlinked file)
  int messages_ = -1;   // the chain's standard error (an unlinked file)
  cups_raster_t* raster_ = nullptr;
  bool failed_ = false;       // the job cannot complete
  bool writeFailed_ = false;  // because the chain stopped reading

  // The page in progress.
  void (*convert_)(const unsigned char* in, unsigned char* out, unsigned width) = nullptr;
  unsigned inBytesPerPixel_ = 0;
  unsigned cropLeft_ = 0, cropTop_ = 0, width_ = 0, height_ = 0, linesWritten_ = 0;
  std::vector<unsigned char> line_;
};

// The job's collation from "multiple-document-handling": 1, 0, or -1 unset.
int GetZTJobCollate(pappl_job_t* job);

// Rasterises a PDF with Ghostscript into the chain. The MIME filter's work.
bool PrintZTPDF(pappl_job_t* job, pappl_device_t* device, const ZTModel& model, const std::string& ppd,
                const ZTChainConfig& config);
