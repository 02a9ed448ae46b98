#include "fuzz_support.h"

#include <signal.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <stdexcept>

FILE* zt_fuzz_stderr = nullptr;

namespace {

int MemoryFile(const char* name) {
  const int fd = memfd_create(name, MFD_CLOEXEC);
  if (fd < 0) {
    perror("memfd_create");
    abort();
  }
  return fd;
}

std::string ReadAll(int fd) {
  std::string text;
  char buf[65536];
  for (off_t at = 0;;) {
    const ssize_t n = pread(fd, buf, sizeof buf, at);
    if (n <= 0) break;
    text.append(buf, static_cast<size_t>(n));
    at += n;
  }
  return text;
}

void Empty(int fd) {
  if (ftruncate(fd, 0) != 0 || lseek(fd, 0, SEEK_SET) != 0) abort();
}

int g_stdoutFd = -1;  // the memory file behind fd 1

// No file of the process grows past this: a job that would write more (9999
// copies of a large page) meets a write error instead of filling memory.
constexpr rlim_t kLargestFile = 16 << 20;

void SetUpStdout() {
  if (g_stdoutFd >= 0) return;
  signal(SIGXFSZ, SIG_IGN);
  struct rlimit limit;
  if (getrlimit(RLIMIT_FSIZE, &limit) == 0 && (limit.rlim_max == RLIM_INFINITY || limit.rlim_max > kLargestFile)) {
    limit.rlim_cur = kLargestFile;
    setrlimit(RLIMIT_FSIZE, &limit);
  }
  fflush(stdout);
  g_stdoutFd = MemoryFile("zt-fuzz-stdout");
  if (dup2(g_stdoutFd, 1) < 0) abort();
}

}  // namespace

void ZTFuzzSetUpPPD() {
  static std::string path;
  if (!path.empty()) return;
  std::ifstream in(ZT_FUZZ_DATA_DIR "/korva-zt.ppd");
  std::stringstream text;
  text << in.rdbuf();
  std::string ppd = text.str();
  const std::string key = "*QKDlutFilePath:";
  const size_t at = ppd.find(key);
  if (at == std::string::npos) {
    fputs("the sample PPD has no *QKDlutFilePath\n", stderr);
    abort();
  }
  ppd.replace(at, ppd.find('\n', at) - at, key + " \"" ZT_FUZZ_DATA_DIR "/korva-zt.dlb\"");
  char dir[] = "/tmp/zt-fuzz-XXXXXX";
  if (!mkdtemp(dir)) abort();
  path = std::string(dir) + "/korva-zt.ppd";
  std::ofstream(path) << ppd;
  setenv("PPD", path.c_str(), 1);
  // The file can go at once: the filters reopen it by name, so keep it until
  // the process ends.
  static struct Remover {
    std::string file, folder;
    ~Remover() {
      unlink(file.c_str());
      rmdir(folder.c_str());
    }
  } remover{path, dir};
}

ZTFuzzInput::ZTFuzzInput() : fd_(MemoryFile("zt-fuzz-input")) {
  snprintf(path_, sizeof path_, "/proc/self/fd/%d", fd_);
}

ZTFuzzInput::~ZTFuzzInput() { close(fd_); }

void ZTFuzzInput::Set(const uint8_t* data, size_t size) {
  Empty(fd_);
  if (size > 0 && pwrite(fd_, data, size, 0) != static_cast<ssize_t>(size)) abort();
}

void ZTFuzzBeginStdout() {
  SetUpStdout();
  fflush(stdout);
  clearerr(stdout);
  Empty(1);
}

std::string ZTFuzzEndStdout() {
  fflush(stdout);
  clearerr(stdout);
  return ReadAll(1);
}

void ZTFuzzBeginMessages() {
  if (!zt_fuzz_stderr) zt_fuzz_stderr = tmpfile();
  if (!zt_fuzz_stderr) abort();
  fflush(zt_fuzz_stderr);
  clearerr(zt_fuzz_stderr);
  Empty(fileno(zt_fuzz_stderr));
  rewind(zt_fuzz_stderr);
}

std::string ZTFuzzEndMessages() {
  fflush(zt_fuzz_stderr);
  return ReadAll(fileno(zt_fuzz_stderr));
}

bool ZTFuzzHasErrorLine(const std::string& messages) {
  for (size_t at = 0; at < messages.size();) {
    if (messages.compare(at, 7, "ERROR: ") == 0) return true;
    const size_t nl = messages.find('\n', at);
    if (nl == std::string::npos) break;
    at = nl + 1;
  }
  return false;
}

void ZTFuzzFail(const char* what, const std::string& messages) {
  fprintf(stderr, "harness check failed: %s\nmessages of the run:\n%s\n", what, messages.c_str());
  abort();
}
