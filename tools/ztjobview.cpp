// ztjobview: reads a printer job as the driver sends it to the printer,
// checks its structure (PJL block, HBPL records, attribute types, chunk
// headers, stream lengths, trailer), prints a readable summary, and renders
// every page to PNG when asked to.
//
//   ztjobview [-q] [-o DIR] [-s N] JOBFILE
//     -o DIR   write DIR/page-N.png for every page (DIR is made when missing)
//     -s N     PNGs keep every N-th pixel of every N-th line (a preview)
//     -q       print only faults and the page count
//
// Exit status: 0 the job is sound and every page decodes; 1 a structural
// fault or a page that does not decode ("ERROR: offset N (0xN): ..." names
// the byte); 2 usage, unreadable job file or unwritable PNG.
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

#include "ztjobview_check.h"
#include "ztjobview_render.h"

namespace {

constexpr int kExitSound = 0, kExitFault = 1, kExitUsage = 2;

// A job file mapped read-only; unmapped and closed on destruction.
class MappedFile {
 public:
  ~MappedFile() {
    if (map_ != MAP_FAILED && size_ > 0) munmap(map_, size_);
    if (fd_ >= 0) close(fd_);
  }
  // 0, or an errno value.
  int Open(const char* path) {
    fd_ = open(path, O_RDONLY | O_CLOEXEC);
    if (fd_ < 0) return errno;
    struct stat st;
    if (fstat(fd_, &st) != 0) return errno;
    if (!S_ISREG(st.st_mode)) return EINVAL;
    size_ = static_cast<size_t>(st.st_size);
    if (size_ == 0) return 0;
    map_ = mmap(nullptr, size_, PROT_READ, MAP_PRIVATE, fd_, 0);
    return map_ == MAP_FAILED ? errno : 0;
  }
  std::string_view data() const {
    if (size_ == 0 || map_ == MAP_FAILED) return {};
    return {static_cast<const char*>(map_), size_};
  }

 private:
  int fd_ = -1;
  void* map_ = MAP_FAILED;
  size_t size_ = 0;
};

// PJL text as it stands, with control bytes shown as \xNN.
std::string Printable(std::string_view s) {
  std::string out;
  for (unsigned char c : s) {
    if (c < 0x20 || c == 0x7F) {
      char buf[8];
      std::snprintf(buf, sizeof buf, "\\x%02X", c);
      out += buf;
    } else {
      out += static_cast<char>(c);
    }
  }
  return out;
}

void PrintFault(const ztinspect::Fault& fault) {
  std::fprintf(stderr, "ERROR: offset %zu (0x%zX): %s\n", fault.offset, fault.offset, fault.message.c_str());
}

const char* CodingName(const ztinspect::PageInfo& p) {
  switch (p.coding) {
    case ztinspect::Coding::kRaw: return "raw";
    case ztinspect::Coding::kMivo: return "mivo";
    default: return "other";
  }
}

void PrintPage(const ztinspect::PageInfo& p, const ztinspect::PageStats& s, const std::string& png) {
  std::printf("page %d: at=%zu number=%u side=%u size=%u slot=%u orientation=%u width=%u height=%u x=%d y=%d "
              "custom=%ux%u kind=%u format=%u planes=%u variant=%u bits=%u res=%u line=%u data=%zu coding=%s",
              p.index, p.offset, p.number, p.side, p.sizeCode, p.slot, p.orientation, p.width, p.height, p.x, p.y,
              p.customWidth, p.customHeight, p.kind, p.format, p.planes, p.variant, p.bits, p.resCode, p.lineWidth,
              p.dataLength, CodingName(p));
  if (p.coding == ztinspect::Coding::kMivo) {
    std::printf(" streams=");
    for (int k = 0; k < p.streamCount; ++k) std::printf("%s%zu", k ? "," : "", p.streams[k].length);
  }
  if (*s.layout) {
    std::printf(" layout=%s shown=%ux%u inkC=%llu inkM=%llu inkY=%llu inkK=%llu", s.layout, s.width, s.height,
                static_cast<unsigned long long>(s.ink[0]), static_cast<unsigned long long>(s.ink[1]),
                static_cast<unsigned long long>(s.ink[2]), static_cast<unsigned long long>(s.ink[3]));
  } else {
    std::printf(" layout=none");
  }
  if (s.png) std::printf(" png=%s", png.c_str());
  std::printf("\n");
}

void Usage() { std::fprintf(stderr, "ERROR: usage: ztjobview [-q] [-o DIR] [-s N] JOBFILE\n"); }

}  // namespace

int main(int argc, char* argv[]) {
  setbuf(stderr, nullptr);
  const char* outDir = nullptr;
  const char* jobPath = nullptr;
  bool quiet = false;
  ztinspect::RenderLimits limits;
  for (int i = 1; i < argc; ++i) {
    const std::string_view a = argv[i];
    if (a == "-o" && i + 1 < argc) {
      outDir = argv[++i];
    } else if (a == "-s" && i + 1 < argc) {
      char* end = nullptr;
      const unsigned long step = std::strtoul(argv[++i], &end, 10);
      if (*end != '\0' || step < 1 || step > 1000) {
        Usage();
        return kExitUsage;
      }
      limits.step = static_cast<uint32_t>(step);
    } else if (a == "-q") {
      quiet = true;
    } else if (!a.empty() && a[0] != '-' && !jobPath) {
      jobPath = argv[i];
    } else {
      Usage();
      return kExitUsage;
    }
  }
  if (!jobPath) {
    Usage();
    return kExitUsage;
  }
  if (outDir && mkdir(outDir, 0755) != 0 && errno != EEXIST) {
    std::fprintf(stderr, "ERROR: cannot make %s: %s\n", outDir, std::strerror(errno));
    return kExitUsage;
  }

  MappedFile file;
  if (int err = file.Open(jobPath)) {
    std::fprintf(stderr, "ERROR: cannot read %s: %s\n", jobPath, std::strerror(err));
    return kExitUsage;
  }
  const std::string_view data = file.data();
  if (!quiet) std::printf("job: %s, %zu bytes\n", jobPath, data.size());

  ztinspect::JobInfo info;
  ztinspect::Fault fault;
  const bool sound = ztinspect::InspectJob(data, &info, &fault);
  if (!quiet) {
    for (const auto& line : info.job.headerLines) std::printf("pjl: %s\n", Printable(line).c_str());
  }
  if (!sound) {
    std::fflush(stdout);
    PrintFault(fault);
    return kExitFault;
  }
  if (!quiet) std::printf("beginjob: coding=%u\n", info.encoding);

  int status = kExitSound;
  for (const auto& page : info.pages) {
    std::string png;
    if (outDir) png = std::string(outDir) + "/page-" + std::to_string(page.index) + ".png";
    ztinspect::PageStats stats;
    const ztinspect::RenderResult r = ztinspect::RenderPage(data, page, limits, png, &stats, &fault);
    if (!quiet) PrintPage(page, stats, png);
    if (r == ztinspect::kBadData) {
      std::fflush(stdout);
      PrintFault(fault);
      return kExitFault;
    }
    if (r == ztinspect::kOutputFailed) {
      std::fflush(stdout);
      std::fprintf(stderr, "ERROR: %s\n", fault.message.c_str());
      status = kExitUsage;
      break;
    }
  }
  if (!quiet) std::printf("trailer: EndJob, UEL, @PJL EOJ\n");
  std::printf("pages: %zu\n", info.pages.size());
  if (std::fflush(stdout) != 0 || std::ferror(stdout)) return kExitUsage;
  return status;
}
