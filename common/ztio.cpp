#include "ztio.h"

#include <fcntl.h>
#include <stdio_ext.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <new>
#include <string>

ssize_t ZTReadFull(int fd, void* buf, size_t n) {
  size_t done = 0;
  auto* p = static_cast<unsigned char*>(buf);
  while (done < n) {
    ssize_t r = read(fd, p + done, n - done);
    if (r < 0) {
      if (errno == EINTR) continue;
      return -1;
    }
    if (r == 0) break;
    done += static_cast<size_t>(r);
  }
  return static_cast<ssize_t>(done);
}

int ZTWriteFull(int fd, const void* buf, size_t n) {
  size_t done = 0;
  const auto* p = static_cast<const unsigned char*>(buf);
  while (done < n) {
    ssize_t w = write(fd, p + done, n - done);
    if (w < 0 && errno == EINTR) continue;
    if (w <= 0) return -1;
    done += static_cast<size_t>(w);
  }
  return 0;
}

int ZTCopyBytes(int in, int out, uint64_t n, unsigned char* buf, size_t bufSize) {
  while (n > 0) {
    size_t chunk = static_cast<size_t>(std::min<uint64_t>(n, bufSize));
    ssize_t got = ZTReadFull(in, buf, chunk);
    if (got != static_cast<ssize_t>(chunk)) return ZT_COPY_SHORT_READ;
    if (ZTWriteFull(out, buf, chunk) != 0) return ZT_COPY_WRITE_FAILED;
    n -= chunk;
  }
  return ZT_COPY_OK;
}

int ZTCopyBytes_FP(FILE* in, FILE* out, uint64_t n, unsigned char* buf, size_t bufSize) {
  while (n > 0) {
    size_t chunk = static_cast<size_t>(std::min<uint64_t>(n, bufSize));
    if (fread(buf, 1, chunk, in) != chunk) return ZT_COPY_SHORT_READ;
    if (fwrite(buf, 1, chunk, out) != chunk) return ZT_COPY_WRITE_FAILED;
    n -= chunk;
  }
  return ZT_COPY_OK;
}

int ZTSkipBytes_FP(FILE* in, uint64_t n, unsigned char* buf, size_t bufSize) {
  while (n > 0) {
    size_t chunk = static_cast<size_t>(std::min<uint64_t>(n, bufSize));
    if (fread(buf, 1, chunk, in) != chunk) return ZT_COPY_SHORT_READ;
    n -= chunk;
  }
  return ZT_COPY_OK;
}

// The ordinary copy of ZTPassBytes: chunks through buf, a failed read told
// apart from an input that ends. As with splice, what arrived of a last,
// short chunk is passed on too.
static int PassThroughBuffer(int in, int out, uint64_t n, unsigned char* buf, size_t bufSize) {
  if (bufSize == 0) return ZT_COPY_WRITE_FAILED;  // no room to carry a byte
  while (n > 0) {
    const size_t chunk = static_cast<size_t>(std::min<uint64_t>(n, bufSize));
    const ssize_t got = ZTReadFull(in, buf, chunk);
    if (got < 0) return ZT_COPY_READ_FAILED;
    if (got != static_cast<ssize_t>(chunk)) {
      ZTWriteFull(out, buf, static_cast<size_t>(got));
      return ZT_COPY_SHORT_READ;
    }
    if (ZTWriteFull(out, buf, chunk) != 0) return ZT_COPY_WRITE_FAILED;
    n -= chunk;
  }
  return ZT_COPY_OK;
}

int ZTPassBytes(int in, int out, uint64_t n, unsigned char* buf, size_t bufSize) {
  // Moved per call: the kernel stops at what the pipe holds or has room for.
  constexpr uint64_t kSpliceStep = uint64_t{1} << 30;
  while (n > 0) {
    const ssize_t moved =
        splice(in, nullptr, out, nullptr, static_cast<size_t>(std::min(n, kSpliceStep)), SPLICE_F_MOVE);
    if (moved < 0 && errno == EINTR) continue;
    if (moved == 0) return ZT_COPY_SHORT_READ;
    // Not possible between these two descriptors, or one side failed: the
    // ordinary copy carries on from here and tells which side it was.
    if (moved < 0) return PassThroughBuffer(in, out, n, buf, bufSize);
    n -= static_cast<uint64_t>(moved);
  }
  return ZT_COPY_OK;
}

int ZTPassBytes_FP(FILE* in, FILE* out, uint64_t n, unsigned char* buf, size_t bufSize) {
  if (fflush(out) != 0 || ferror(out)) return ZT_COPY_WRITE_FAILED;
  // An unbuffered stream keeps at most its one-byte stand-in buffer, which
  // whole-item reads never leave filled: its descriptor is positioned where
  // the stream is.
  if (__fbufsize(in) > 1) {
    const int rc = ZTCopyBytes_FP(in, out, n, buf, bufSize);
    return rc == ZT_COPY_SHORT_READ && ferror(in) ? ZT_COPY_READ_FAILED : rc;
  }
  return ZTPassBytes(fileno(in), fileno(out), n, buf, bufSize);
}

int ZTSetUnbuffered_FP(FILE* fp) { return setvbuf(fp, nullptr, _IONBF, 0) == 0 ? 0 : -1; }

long ZTGrowPipe(int fd, size_t bytes) {
  if (bytes > static_cast<size_t>(INT32_MAX)) bytes = INT32_MAX;
  const int now = fcntl(fd, F_GETPIPE_SZ);
  if (now < 0) return -1;
  if (static_cast<size_t>(now) >= bytes) return now;
  const int capacity = fcntl(fd, F_SETPIPE_SZ, static_cast<int>(bytes));
  return capacity < 0 ? -1 : capacity;
}

void ZTGrowStdPipes() {
  ZTGrowPipe(0, ZT_PIPE_BYTES);
  ZTGrowPipe(1, ZT_PIPE_BYTES);
}

int ZTCopyAll(int in, int out, unsigned char* buf, size_t bufSize, uint64_t* total) {
  uint64_t count = 0;
  for (;;) {
    ssize_t got = read(in, buf, bufSize);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) {
      if (total) *total = count;
      return ZT_COPY_SHORT_READ;
    }
    if (got == 0) break;
    if (ZTWriteFull(out, buf, static_cast<size_t>(got)) != 0) {
      if (total) *total = count;
      return ZT_COPY_WRITE_FAILED;
    }
    count += static_cast<uint64_t>(got);
  }
  if (total) *total = count;
  return ZT_COPY_OK;
}

size_t ZTLinesPerChunk(size_t bytesPerLine, size_t chunkBytes) {
  if (bytesPerLine == 0) return 1;
  return std::max<size_t>(1, chunkBytes / bytesPerLine);
}

int ZTOpenTempFd() {
  const char* dir = getenv("TMPDIR");
  if (!dir || !*dir) dir = "/tmp";
  int fd = open(dir, O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
  if (fd >= 0) return fd;
  // A filesystem without nameless files: a named one, unlinked at once.
  if (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL) return -1;
  std::string path = std::string(dir) + "/ztXXXXXX";
  fd = mkostemp(path.data(), O_CLOEXEC);
  if (fd >= 0) unlink(path.c_str());
  return fd;
}

ZTTempStream::ZTTempStream() {
  const int fd = ZTOpenTempFd();
  if (fd >= 0) fp_ = fdopen(fd, "w+b");
  if (fp_) return;
  error_ = errno;
  if (fd >= 0) close(fd);
}
ZTTempStream::~ZTTempStream() {
  if (fp_) fclose(fp_);
}

ZTFd::~ZTFd() { reset(); }
void ZTFd::reset(int fd) {
  if (fd_ > 2) close(fd_);
  fd_ = fd;
}

ZTChunkWriter::ZTChunkWriter(FILE* out) : out_(out) {
  try {
    thread_ = std::thread([this] { Run(); });
  } catch (const std::system_error&) {
    // No thread: Submit writes at once.
  }
}

ZTChunkWriter::~ZTChunkWriter() {
  if (!thread_.joinable()) return;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stop_ = true;
  }
  wake_.notify_all();
  thread_.join();
}

bool ZTChunkWriter::Reserve(size_t bytes) {
  std::unique_lock<std::mutex> lock(mutex_);
  done_.wait(lock, [this] { return data_ == nullptr; });
  if (bytes <= capacity_) return true;
  capacity_ = 0;
  for (auto& b : buffers_) {
    b.reset(new (std::nothrow) unsigned char[bytes]);
    if (!b) return false;
  }
  capacity_ = bytes;
  return true;
}

bool ZTChunkWriter::Write(const void* data, size_t bytes) {
  if (fwrite(data, 1, bytes, out_) == bytes) return true;
  cause_ = errno;
  failed_ = true;
  return false;
}

void ZTChunkWriter::Run() {
  std::unique_lock<std::mutex> lock(mutex_);
  for (;;) {
    wake_.wait(lock, [this] { return data_ != nullptr || stop_; });
    if (!data_) return;
    const void* data = data_;
    const size_t bytes = bytes_;
    // The caller waits for data_ to clear before it touches the failure
    // state, so the write runs unlocked.
    lock.unlock();
    Write(data, bytes);
    lock.lock();
    data_ = nullptr;
    done_.notify_all();
  }
}

bool ZTChunkWriter::Submit(size_t bytes, int* cause) {
  std::unique_lock<std::mutex> lock(mutex_);
  done_.wait(lock, [this] { return data_ == nullptr; });
  const unsigned char* data = buffers_[next_].get();
  next_ ^= 1;
  if (!failed_) {
    if (!thread_.joinable()) {
      Write(data, bytes);
    } else {
      data_ = data;
      bytes_ = bytes;
      wake_.notify_one();
    }
  }
  *cause = cause_;
  return !failed_;
}

bool ZTChunkWriter::Finish(int* cause) {
  std::unique_lock<std::mutex> lock(mutex_);
  done_.wait(lock, [this] { return data_ == nullptr; });
  *cause = cause_;
  return !failed_;
}

ZTStream::~ZTStream() { close(); }
int ZTStream::close() {
  if (!fp_) return 0;
  int rc = 0;
  if (fp_ == stdin || fp_ == stdout) {
    rc = fflush(fp_) == 0 && !ferror(fp_) ? 0 : -1;
  } else {
    bool err = ferror(fp_) != 0;
    rc = (fclose(fp_) == 0 && !err) ? 0 : -1;
  }
  fp_ = nullptr;
  return rc;
}

int ZTParseFilterArgs(int argc, char* argv[], int minArgc, int maxArgc, ZTFilterArgs* args) {
  if (argc < minArgc || argc > maxArgc || argc < 6) return -1;
  args->jobId = argv[1];
  args->user = argv[2];
  args->title = argv[3];
  args->copies = atoi(argv[4]);
  args->options = argv[5];
  args->inputFile = argc > 6 ? argv[6] : nullptr;
  args->outputFile = argc > 7 ? argv[7] : nullptr;
  return 0;
}

int ZTStartFilter(int argc, char* argv[], int minArgc, int maxArgc, const char* usage, ZTFilterArgs* args) {
  setbuf(stderr, nullptr);
  signal(SIGTERM, SIG_IGN);
  signal(SIGPIPE, SIG_IGN);
  ZTGrowStdPipes();
  if (ZTParseFilterArgs(argc, argv, minArgc, maxArgc, args) == 0) return 0;
  fputs(usage, stderr);
  return -1;
}

FILE* ZTOpenInput_FP(const char* path) { return path ? fopen(path, "rb") : stdin; }
FILE* ZTOpenOutput_FP(const char* path) { return path ? fopen(path, "wb") : stdout; }
int ZTOpenInput(const char* path) { return path ? open(path, O_RDONLY | O_CLOEXEC) : 0; }
int ZTOpenOutput(const char* path) {
  return path ? open(path, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666) : 1;
}

int ZTFlushCheck_FP(FILE* fp) { return (fflush(fp) == 0 && !ferror(fp)) ? 0 : -1; }
