// Running the driver chain for a Printer Application job.
#include "ztchainjob.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace {

constexpr size_t kCopyChunk = 1 << 16;

// An anonymous file in TMPDIR: nothing is left behind whatever happens.
int OpenAnonymousFile() {
  const char* dir = getenv("TMPDIR");
  std::string path = std::string(dir && *dir ? dir : "/tmp") + "/ztprinterapp-XXXXXX";
  int fd = mkostemp(path.data(), O_CLOEXEC);
  if (fd >= 0) unlink(path.c_str());
  return fd;
}

// The environment for a child: ours with PPD set (built before fork, since
// a child of a threaded process may only make async-signal-safe calls).
struct ChildEnvironment {
  std::vector<std::string> strings;
  std::vector<char*> pointers;
  explicit ChildEnvironment(const std::string& ppd, const std::string& tmpdir = "") {
    for (char** e = environ; *e; ++e)
      if (strncmp(*e, "PPD=", 4) != 0 && (tmpdir.empty() || strncmp(*e, "TMPDIR=", 7) != 0)) strings.emplace_back(*e);
    if (!ppd.empty()) strings.push_back("PPD=" + ppd);
    if (!tmpdir.empty()) strings.push_back("TMPDIR=" + tmpdir);
    for (auto& s : strings) pointers.push_back(s.data());
    pointers.push_back(nullptr);
  }
};

struct ChildArguments {
  std::vector<std::string> strings;
  std::vector<char*> pointers;
  explicit ChildArguments(std::vector<std::string> args) : strings(std::move(args)) {
    for (auto& s : strings) pointers.push_back(s.data());
    pointers.push_back(nullptr);
  }
};

// Starts program with the given descriptors as its standard streams. The
// pid, or -1.
pid_t Spawn(const std::string& program, ChildArguments& args, ChildEnvironment& env, int in, int out, int err) {
  const pid_t pid = fork();
  if (pid != 0) return pid;
  // Child: only async-signal-safe calls until exec.
  if (in != 0) dup2(in, 0);
  if (out != 1) dup2(out, 1);
  if (err != 2) dup2(err, 2);
  syscall(SYS_close_range, 3U, ~0U, 0U);
  signal(SIGPIPE, SIG_DFL);
  sigset_t none;
  sigemptyset(&none);
  sigprocmask(SIG_SETMASK, &none, nullptr);
  execve(program.c_str(), args.pointers.data(), env.pointers.data());
  _exit(127);
}

int WaitChild(pid_t pid) {
  int status = 0;
  while (waitpid(pid, &status, 0) < 0) {
    if (errno != EINTR) return -1;
  }
  return status;
}

std::string DescribeStatus(int status) {
  char text[64];
  if (WIFEXITED(status))
    snprintf(text, sizeof(text), "exit status %d", WEXITSTATUS(status));
  else if (WIFSIGNALED(status))
    snprintf(text, sizeof(text), "signal %d", WTERMSIG(status));
  else
    snprintf(text, sizeof(text), "status %d", status);
  return text;
}

// Reads the lines a child wrote to its message file into the job's log;
// the last "ERROR: " line (or, with none, the last line) is returned.
std::string LogMessages(pappl_job_t* job, int fd, const char* who) {
  std::string last, lastAny;
  if (fd < 0 || lseek(fd, 0, SEEK_SET) < 0) return last;
  FILE* fp = fdopen(dup(fd), "r");
  if (!fp) return last;
  char line[2048];
  while (fgets(line, sizeof(line), fp)) {
    line[strcspn(line, "\r\n")] = '\0';
    if (!line[0]) continue;
    if (!strncmp(line, "ERROR: ", 7)) {
      papplLogJob(job, PAPPL_LOGLEVEL_ERROR, "%s: %s", who, line + 7);
      last = line + 7;
    } else if (strstr(line, "Error")) {  // Ghostscript's "   **** Error: ..."
      const char* text = line + strspn(line, " *");
      papplLogJob(job, PAPPL_LOGLEVEL_ERROR, "%s: %s", who, text);
      if (last.empty()) last = text;
    } else if (!strncmp(line, "DEBUG", 5)) {
      papplLogJob(job, PAPPL_LOGLEVEL_DEBUG, "%s: %s", who, line);
    } else {
      papplLogJob(job, PAPPL_LOGLEVEL_INFO, "%s: %s", who, line);
      lastAny = line;
    }
  }
  fclose(fp);
  return last.empty() ? lastAny : last;
}

// Line converters to 8-bit RGB.
void CopyRGB8(const unsigned char* in, unsigned char* out, unsigned w) { memcpy(out, in, size_t{w} * 3); }
void RGB16(const unsigned char* in, unsigned char* out, unsigned w) {
  // PWG raster is big-endian: the high byte comes first.
  for (unsigned i = 0; i < w * 3; ++i) out[i] = in[2 * i];
}
void Grey8(const unsigned char* in, unsigned char* out, unsigned w) {
  for (unsigned i = 0; i < w; ++i) out[3 * i] = out[3 * i + 1] = out[3 * i + 2] = in[i];
}
void Grey16(const unsigned char* in, unsigned char* out, unsigned w) {
  for (unsigned i = 0; i < w; ++i) out[3 * i] = out[3 * i + 1] = out[3 * i + 2] = in[2 * i];
}
void Black8(const unsigned char* in, unsigned char* out, unsigned w) {
  for (unsigned i = 0; i < w; ++i) out[3 * i] = out[3 * i + 1] = out[3 * i + 2] = static_cast<unsigned char>(255 - in[i]);
}
void Black16(const unsigned char* in, unsigned char* out, unsigned w) {
  for (unsigned i = 0; i < w; ++i)
    out[3 * i] = out[3 * i + 1] = out[3 * i + 2] = static_cast<unsigned char>(255 - in[2 * i]);
}

// A private scratch folder in TMPDIR for a program that may leave files
// behind when it is stopped (Ghostscript); removed with all it holds.
class ScratchFolder {
 public:
  ScratchFolder() {
    const char* dir = getenv("TMPDIR");
    std::string path = std::string(dir && *dir ? dir : "/tmp") + "/ztprinterapp-gs-XXXXXX";
    if (mkdtemp(path.data())) path_ = path;
  }
  ~ScratchFolder() {
    if (path_.empty()) return;
    if (DIR* d = opendir(path_.c_str())) {
      while (dirent* e = readdir(d))
        if (strcmp(e->d_name, ".") && strcmp(e->d_name, "..")) unlink((path_ + "/" + e->d_name).c_str());
      closedir(d);
    }
    rmdir(path_.c_str());
  }
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

}  // namespace

ZTChainRun::~ZTChainRun() { Stop(); }

void ZTChainRun::Stop() {
  if (raster_) cupsRasterClose(raster_);
  raster_ = nullptr;
  if (toChain_ >= 0) close(toChain_);
  toChain_ = -1;
  if (pid_ > 0) {
    kill(pid_, SIGTERM);
    WaitChild(pid_);
  }
  pid_ = -1;
  if (output_ >= 0) close(output_);
  if (messages_ >= 0) close(messages_);
  output_ = messages_ = -1;
}

bool ZTChainRun::Start(pappl_job_t* job, const ZTModel& model, const std::string& ppd, const ZTChainConfig& config,
                       const pappl_pr_options_t* options, const std::string& inputFile) {
  job_ = job;
  model_ = &model;
  options_ = options;
  ppd_ = ppd;
  config_ = &config;
  inputFile_ = inputFile;
  return inputFile.empty() || Launch(options->printer_resolution[0], options->printer_resolution[1]);
}

bool ZTChainRun::Launch(int xres, int yres) {
  output_ = OpenAnonymousFile();
  messages_ = OpenAnonymousFile();
  int fds[2] = {-1, -1};
  if (output_ < 0 || messages_ < 0 || (inputFile_.empty() && pipe2(fds, O_CLOEXEC) < 0)) {
    papplJobSetMessage(job_, "Unable to create the driver's temporary files: %s", strerror(errno));
    papplLogJob(job_, PAPPL_LOGLEVEL_ERROR, "Unable to create the driver's temporary files: %s", strerror(errno));
    if (fds[0] >= 0) close(fds[0]), close(fds[1]);
    failed_ = true;
    return false;
  }
  int input = fds[0];
  if (!inputFile_.empty()) input = open("/dev/null", O_RDONLY | O_CLOEXEC);

  // The resolution choice follows the raster actually sent.
  pappl_pr_options_t options = *options_;
  options.printer_resolution[0] = xres;
  options.printer_resolution[1] = yres;
  ipp_t* defaults = papplPrinterGetDriverAttributes(papplJobGetPrinter(job_));
  const std::string jobOptions = BuildZTJobOptions(*model_, &options, GetZTJobCollate(job_), defaults);
  ippDelete(defaults);
  const int copies = std::max(1, options.copies);
  const char* user = papplJobGetUsername(job_);
  const char* title = papplJobGetName(job_);
  std::vector<std::string> args = {papplPrinterGetName(papplJobGetPrinter(job_)), std::to_string(papplJobGetID(job_)),
                                   user ? user : "anonymous", title ? title : "untitled", std::to_string(copies),
                                   jobOptions};
  if (!inputFile_.empty()) args.push_back(inputFile_);
  papplLogJob(job_, PAPPL_LOGLEVEL_INFO, "Running %s with PPD %s, %d copies, options \"%s\".",
              config_->mainFilter.c_str(), ppd_.c_str(), copies, jobOptions.c_str());
  ChildArguments childArgs(std::move(args));
  ChildEnvironment env(ppd_);
  pid_ = Spawn(config_->mainFilter, childArgs, env, input, output_, messages_);
  const int spawnErrno = errno;
  if (input >= 0) close(input);
  toChain_ = fds[1];
  if (pid_ < 0) {
    papplJobSetMessage(job_, "Unable to start the driver: %s", strerror(spawnErrno));
    failed_ = true;
    return false;
  }
  if (inputFile_.empty()) {
    raster_ = cupsRasterOpen(toChain_, CUPS_RASTER_WRITE);
    if (!raster_) {
      papplJobSetMessage(job_, "Unable to write raster for the driver.");
      failed_ = true;
      return false;
    }
  }
  return true;
}

bool ZTChainRun::StartPage(const cups_page_header2_t& in, const pappl_pr_options_t* options) {
  if (failed_ || !inputFile_.empty()) return false;
  options_ = options;
  const bool supported = std::any_of(model_->resolutions.begin(), model_->resolutions.end(), [&](const ZTResolution& r) {
    return r.x == static_cast<int>(in.HWResolution[0]) && r.y == static_cast<int>(in.HWResolution[1]);
  });
  if (!supported) {
    papplJobSetMessage(job_, "Unsupported raster resolution %ux%u dpi.", in.HWResolution[0], in.HWResolution[1]);
    papplJobSetReasons(job_, PAPPL_JREASON_DOCUMENT_FORMAT_ERROR, PAPPL_JREASON_NONE);
    failed_ = true;
    return false;
  }
  if (pid_ < 0 && !Launch(static_cast<int>(in.HWResolution[0]), static_cast<int>(in.HWResolution[1]))) return false;
  const unsigned bits = in.cupsBitsPerColor, comps = bits ? in.cupsBitsPerPixel / bits : 0;
  const bool black = in.cupsColorSpace == CUPS_CSPACE_K;
  convert_ = nullptr;
  if (comps == 3 && bits == 8) convert_ = CopyRGB8;
  if (comps == 3 && bits == 16) convert_ = RGB16;
  if (comps == 1 && bits == 8) convert_ = black ? Black8 : Grey8;
  if (comps == 1 && bits == 16) convert_ = black ? Black16 : Grey16;
  if (!convert_ || in.cupsWidth == 0 || in.cupsHeight == 0 || in.HWResolution[0] == 0 || in.HWResolution[1] == 0) {
    papplJobSetMessage(job_, "Unsupported page: %u bits per colour, %u bits per pixel, %ux%u.", bits,
                       in.cupsBitsPerPixel, in.cupsWidth, in.cupsHeight);
    papplJobSetReasons(job_, PAPPL_JREASON_DOCUMENT_FORMAT_ERROR, PAPPL_JREASON_NONE);
    failed_ = true;
    return false;
  }
  inBytesPerPixel_ = comps * bits / 8;

  // The PPD size of the page (by its size in points), else the job's media.
  const ZTMediaSize* size = nullptr;
  for (const auto& media : model_->media)
    if (std::fabs(media.widthPt - in.PageSize[0]) <= 2.0f && std::fabs(media.lengthPt - in.PageSize[1]) <= 2.0f)
      size = &media;
  if (!size) size = FindZTMediaSize(*model_, options_->media);
  if (!size) size = &model_->media[model_->defaultMedia];

  // The printer takes the imageable area, as CUPS's rasteriser sends it.
  const double xs = in.HWResolution[0] / 72.0, ys = in.HWResolution[1] / 72.0;
  unsigned left = static_cast<unsigned>(std::lround(size->left * xs));
  unsigned top = static_cast<unsigned>(std::lround((size->lengthPt - size->top) * ys));
  unsigned w = static_cast<unsigned>(std::lround((size->right - size->left) * xs));
  unsigned h = static_cast<unsigned>(std::lround((size->top - size->bottom) * ys));
  if (w == 0 || left + w > in.cupsWidth) left = 0, w = std::min(w ? w : in.cupsWidth, in.cupsWidth);
  if (h == 0 || top + h > in.cupsHeight) top = 0, h = std::min(h ? h : in.cupsHeight, in.cupsHeight);
  cropLeft_ = left;
  cropTop_ = top;
  width_ = w;
  height_ = h;
  linesWritten_ = 0;
  line_.assign(size_t{w} * 3, 255);

  cups_page_header2_t out;
  memset(&out, 0, sizeof(out));
  snprintf(out.MediaClass, sizeof(out.MediaClass), "PwgRaster");
  if (const char* type = options_->media.type; type[0]) snprintf(out.MediaType, sizeof(out.MediaType), "%s", type);
  out.HWResolution[0] = in.HWResolution[0];
  out.HWResolution[1] = in.HWResolution[1];
  out.ImagingBoundingBox[0] = static_cast<unsigned>(std::lround(size->left));
  out.ImagingBoundingBox[1] = static_cast<unsigned>(std::lround(size->bottom));
  out.ImagingBoundingBox[2] = static_cast<unsigned>(std::lround(size->right));
  out.ImagingBoundingBox[3] = static_cast<unsigned>(std::lround(size->top));
  out.Margins[0] = out.ImagingBoundingBox[0];
  out.Margins[1] = out.ImagingBoundingBox[1];
  out.PageSize[0] = static_cast<unsigned>(std::lround(size->widthPt));
  out.PageSize[1] = static_cast<unsigned>(std::lround(size->lengthPt));
  out.NumCopies = static_cast<unsigned>(std::max(1, options_->copies));
  out.Duplex = options_->sides != PAPPL_SIDES_ONE_SIDED ? CUPS_TRUE : CUPS_FALSE;
  out.Tumble = options_->sides == PAPPL_SIDES_TWO_SIDED_SHORT_EDGE ? CUPS_TRUE : CUPS_FALSE;
  out.cupsWidth = w;
  out.cupsHeight = h;
  out.cupsBitsPerColor = 8;
  out.cupsBitsPerPixel = 24;
  out.cupsBytesPerLine = w * 3;
  out.cupsColorOrder = CUPS_ORDER_CHUNKED;
  out.cupsColorSpace = CUPS_CSPACE_RGB;
  out.cupsNumColors = 3;
  out.cupsPageSize[0] = static_cast<float>(size->widthPt);
  out.cupsPageSize[1] = static_cast<float>(size->lengthPt);
  out.cupsImagingBBox[0] = size->left;
  out.cupsImagingBBox[1] = size->bottom;
  out.cupsImagingBBox[2] = size->right;
  out.cupsImagingBBox[3] = size->top;
  snprintf(out.cupsPageSizeName, sizeof(out.cupsPageSizeName), "%s", size->choice.c_str());
  if (!cupsRasterWriteHeader2(raster_, &out)) {
    failed_ = writeFailed_ = true;
    return false;
  }
  return true;
}

bool ZTChainRun::WriteLine(unsigned y, const unsigned char* line) {
  if (failed_ || !raster_) return false;
  if (papplJobIsCanceled(job_)) return false;
  if (y < cropTop_ || y >= cropTop_ + height_ || linesWritten_ >= height_) return true;
  convert_(line + size_t{cropLeft_} * inBytesPerPixel_, line_.data(), width_);
  if (cupsRasterWritePixels(raster_, line_.data(), static_cast<unsigned>(line_.size())) != line_.size()) {
    failed_ = writeFailed_ = true;  // the chain stopped reading: Finish tells why
    return false;
  }
  ++linesWritten_;
  return true;
}

bool ZTChainRun::EndPage() {
  if (failed_ || !raster_) return false;
  // A page that ended early is filled up with white.
  std::fill(line_.begin(), line_.end(), 255);
  while (linesWritten_ < height_) {
    if (cupsRasterWritePixels(raster_, line_.data(), static_cast<unsigned>(line_.size())) != line_.size()) {
      failed_ = writeFailed_ = true;
      return false;
    }
    ++linesWritten_;
  }
  return true;
}

bool ZTChainRun::Finish(pappl_device_t* device) {
  if (raster_) cupsRasterClose(raster_);
  raster_ = nullptr;
  if (toChain_ >= 0) close(toChain_);
  toChain_ = -1;
  // PAPPL counts an aborted job as cancelled too; only a real cancel drops
  // the chain's messages.
  const bool canceled = papplJobIsCanceled(job_) && papplJobGetState(job_) != IPP_JSTATE_ABORTED;
  if (pid_ < 0) return !failed_ && !canceled;  // no page came: nothing to print
  // A page this side refused, or a cancel: the chain's output is not wanted.
  const bool stopped = canceled || (failed_ && !writeFailed_);
  if (stopped) kill(pid_, SIGTERM);
  const int status = WaitChild(pid_);
  pid_ = -1;
  const std::string message = LogMessages(job_, messages_, "ztmainfilter");
  if (canceled) {
    papplLogJob(job_, PAPPL_LOGLEVEL_INFO, "Job canceled; the driver's output is dropped.");
    return false;
  }
  if (stopped) return false;
  if (failed_ || status != 0) {
    papplJobSetMessage(job_, "The driver failed (%s): %s", DescribeStatus(status).c_str(),
                       message.empty() ? "no message" : message.c_str());
    papplLogJob(job_, PAPPL_LOGLEVEL_ERROR, "The driver failed (%s).", DescribeStatus(status).c_str());
    papplJobSetReasons(job_, PAPPL_JREASON_ABORTED_BY_SYSTEM, PAPPL_JREASON_NONE);
    return false;
  }

  // Send what the chain made.
  std::vector<unsigned char> buf(kCopyChunk);
  off_t total = 0;
  if (lseek(output_, 0, SEEK_SET) < 0) return false;
  for (;;) {
    const ssize_t n = read(output_, buf.data(), buf.size());
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      papplJobSetMessage(job_, "Unable to read the driver's output: %s", strerror(errno));
      return false;
    }
    if (n == 0) break;
    if (papplJobIsCanceled(job_)) return false;
    if (papplDeviceWrite(device, buf.data(), static_cast<size_t>(n)) < 0) {
      papplJobSetMessage(job_, "Unable to send the job to the printer.");
      papplJobSetReasons(job_, PAPPL_JREASON_ABORTED_BY_SYSTEM, PAPPL_JREASON_NONE);
      return false;
    }
    total += n;
  }
  papplDeviceFlush(device);
  papplLogJob(job_, PAPPL_LOGLEVEL_INFO, "Sent %lld bytes to the printer.", static_cast<long long>(total));
  return true;
}

int GetZTJobCollate(pappl_job_t* job) {
  ipp_attribute_t* attr = papplJobGetAttribute(job, "multiple-document-handling");
  const char* value = attr ? ippGetString(attr, 0, nullptr) : nullptr;
  if (!value) return -1;
  if (!strcmp(value, "separate-documents-uncollated-copies")) return 0;
  return 1;
}

bool PrintZTPDF(pappl_job_t* job, pappl_device_t* device, const ZTModel& model, const std::string& ppd,
                const ZTChainConfig& config) {
  const char* filename = papplJobGetFilename(job);
  if (!filename) {
    papplJobSetMessage(job, "The job has no document.");
    return false;
  }
  pappl_pr_options_t* options = papplJobCreatePrintOptions(job, INT_MAX, model.colour);
  if (!options) return false;
  bool ok = false;
  {
    ZTChainRun run;
    const ZTMediaSize* size = FindZTMediaSize(model, options->media);
    if (!size) size = &model.media[model.defaultMedia];
    int fds[2] = {-1, -1};
    const int gsMessages = OpenAnonymousFile();
    if (gsMessages >= 0 && pipe2(fds, O_CLOEXEC) == 0 && run.Start(job, model, ppd, config, options)) {
      char res[64], width[64], length[64];
      snprintf(res, sizeof(res), "-r%dx%d", options->printer_resolution[0], options->printer_resolution[1]);
      snprintf(width, sizeof(width), "-dDEVICEWIDTHPOINTS=%g", size->widthPt);
      snprintf(length, sizeof(length), "-dDEVICEHEIGHTPOINTS=%g", size->lengthPt);
      std::vector<std::string> args = {"gs", "-q", "-dNOPAUSE", "-dBATCH", "-dSAFER", "-dNOINTERPOLATE",
                                       "-sstdout=%stderr", "-sDEVICE=cups", "-dcupsColorSpace=1",
                                       "-dcupsBitsPerColor=8", "-dcupsColorOrder=0", res, width, length,
                                       "-dFIXEDMEDIA", "-dPDFFitPage"};
      if (options->first_page > 1) args.push_back("-dFirstPage=" + std::to_string(options->first_page));
      if (options->last_page < static_cast<unsigned>(INT_MAX))
        args.push_back("-dLastPage=" + std::to_string(options->last_page));
      args.push_back("-sOutputFile=%stdout");
      args.push_back(filename);
      ChildArguments gsArgs(std::move(args));
      ScratchFolder scratch;
      ChildEnvironment env("", scratch.path());
      const int devnull = open("/dev/null", O_RDONLY | O_CLOEXEC);
      const pid_t gs = Spawn(config.ghostscript, gsArgs, env, devnull, fds[1], gsMessages);
      close(devnull);
      close(fds[1]);
      fds[1] = -1;
      unsigned pages = 0;
      bool readOk = gs > 0, chainOk = true;
      if (cups_raster_t* ras = gs > 0 ? cupsRasterOpen(fds[0], CUPS_RASTER_READ) : nullptr) {
        cups_page_header2_t header;
        std::vector<unsigned char> line;
        while (readOk && chainOk && cupsRasterReadHeader2(ras, &header)) {
          line.resize(header.cupsBytesPerLine);
          chainOk = run.StartPage(header, options);
          for (unsigned y = 0; readOk && chainOk && y < header.cupsHeight; ++y) {
            readOk = cupsRasterReadPixels(ras, line.data(), header.cupsBytesPerLine) == header.cupsBytesPerLine;
            chainOk = readOk && run.WriteLine(y, line.data());
          }
          chainOk = chainOk && readOk && run.EndPage();
          if (chainOk) {
            ++pages;
            papplJobSetImpressionsCompleted(job, 1);
          }
        }
        cupsRasterClose(ras);
      }
      const bool pagesOk = readOk && chainOk;
      close(fds[0]);
      fds[0] = -1;
      if (gs > 0 && !pagesOk) kill(gs, SIGTERM);
      const int gsStatus = gs > 0 ? WaitChild(gs) : -1;
      const std::string gsMessage = LogMessages(job, gsMessages, "gs");
      if (papplJobIsCanceled(job) || (readOk && !chainOk)) {
        run.Finish(device);
      } else if (gsStatus != 0 || pages == 0) {
        papplJobSetMessage(job, "The PDF cannot be printed (Ghostscript: %s%s%s).",
                           gsStatus != 0 ? DescribeStatus(gsStatus).c_str() : "no pages",
                           gsMessage.empty() ? "" : ", ", gsMessage.c_str());
        papplJobSetReasons(job, PAPPL_JREASON_DOCUMENT_FORMAT_ERROR, PAPPL_JREASON_NONE);
      } else {
        ok = run.Finish(device);
      }
    } else {
      papplJobSetMessage(job, "Unable to start printing the PDF.");
    }
    for (int fd : fds)
      if (fd >= 0) close(fd);
    if (gsMessages >= 0) close(gsMessages);
  }
  papplJobDeletePrintOptions(options);
  return ok;
}
