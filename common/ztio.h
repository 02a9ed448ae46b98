// Shared I/O mechanisms of the filters: full reads and writes that repeat
// short transfers, chunked copies, lines per chunk, a chunk writer on a
// thread of its own, temporary spool files and the CUPS filter command line.
// Callers pass the chunk size and own buffers. Nothing here prints; results
// are codes that each program turns into its own message.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <mutex>
#include <thread>
#include <sys/types.h>

// Reads up to n bytes, repeating short reads and EINTR. Returns the number of
// bytes read (less than n only at end of file), or -1 on a read error.
ssize_t ZTReadFull(int fd, void* buf, size_t n);
// Writes all n bytes, repeating short writes and EINTR. 0 or -1.
int ZTWriteFull(int fd, const void* buf, size_t n);

// Results of the copy helpers.
enum ZTCopyResult {
  ZT_COPY_OK = 0,
  ZT_COPY_SHORT_READ = -1,  // the input ended (or failed) before n bytes
  ZT_COPY_WRITE_FAILED = -2,
  ZT_COPY_READ_FAILED = -3,  // the input failed (not just ended); only ZTPassBytes* tell this apart
};

// Copies exactly n bytes from in to out through buf (bufSize > 0).
int ZTCopyBytes(int in, int out, uint64_t n, unsigned char* buf, size_t bufSize);
int ZTCopyBytes_FP(FILE* in, FILE* out, uint64_t n, unsigned char* buf, size_t bufSize);
// Reads and drops n bytes (works on pipes, where seeking does not).
int ZTSkipBytes_FP(FILE* in, uint64_t n, unsigned char* buf, size_t bufSize);

// Passes exactly n bytes from in to out unchanged, for data that this
// process does not look at. Where either side is a pipe the kernel moves the
// bytes (splice) without copying them through this process; where it cannot
// (files on both sides, terminals, a device that refuses) the rest goes
// through buf (bufSize > 0), so the result is always the same bytes.
// Results as for ZTCopyBytes, and ZT_COPY_READ_FAILED when the input fails
// rather than ends; once the input ends early, the bytes that did arrive
// have been passed on.
int ZTPassBytes(int in, int out, uint64_t n, unsigned char* buf, size_t bufSize);
// Stream form: out is flushed first. When in holds no read-ahead of its own
// (an unbuffered stream, see ZTSetUnbuffered_FP) the bytes move between the
// descriptors as above; a buffered input is copied with ZTCopyBytes_FP.
int ZTPassBytes_FP(FILE* in, FILE* out, uint64_t n, unsigned char* buf, size_t bufSize);
// Makes a stream unbuffered (before its first transfer): whole-chunk reads
// and writes then go straight between the descriptor and the caller's
// buffer, and the descriptor's position stays the stream's. 0 or -1.
int ZTSetUnbuffered_FP(FILE* fp);

// Asks for a pipe buffer of at least `bytes` (Linux F_SETPIPE_SZ); fewer
// context switches per page between the processes of a chain. A pipe that
// is already as large is left alone. Returns the capacity now in effect, or
// -1 when the descriptor is not a pipe or the size cannot be had (the pipe
// keeps its old capacity).
long ZTGrowPipe(int fd, size_t bytes);
// The pipe capacity the filters ask for: a chunk of lines per hand-over.
constexpr size_t ZT_PIPE_BYTES = 1048576;
// Grows standard input and output to ZT_PIPE_BYTES where they are pipes:
// those a chain runner that does not grow them (a shell, the scheduler)
// makes would hand over 64 KiB per wake-up of the neighbour.
void ZTGrowStdPipes();
// Copies everything up to end of file; *total receives the byte count.
int ZTCopyAll(int in, int out, unsigned char* buf, size_t bufSize, uint64_t* total);

// Whole lines that fit in a chunk, never fewer than one.
size_t ZTLinesPerChunk(size_t bytesPerLine, size_t chunkBytes);

// Writes chunks to a stream on a thread of its own, so that the copy into a
// pipe runs beside the work on the next chunk. It owns two chunk buffers:
// the caller fills buffer() while the other one is being written. Where no
// thread can be started each chunk is written at once, with the same bytes.
class ZTChunkWriter {
 public:
  explicit ZTChunkWriter(FILE* out);
  ~ZTChunkWriter();  // after the chunk in flight is written
  ZTChunkWriter(const ZTChunkWriter&) = delete;
  ZTChunkWriter& operator=(const ZTChunkWriter&) = delete;
  // Makes both buffers hold at least `bytes` (after the chunk in flight is
  // written); false when the memory cannot be had.
  bool Reserve(size_t bytes);
  // The buffer to fill next.
  unsigned char* buffer() const { return buffers_[next_].get(); }
  // Hands over the first `bytes` of buffer() once the chunk before is
  // written; buffer() is then the other one. False (the system's error
  // number in *cause) when this or an earlier write has failed; after a
  // failure nothing more is written.
  bool Submit(size_t bytes, int* cause);
  // Waits until every chunk handed over is written (the stream itself may
  // still buffer); false as for Submit.
  bool Finish(int* cause);

 private:
  void Run();
  // Writes one chunk and keeps the first failure; called with mutex_ held
  // or from the writer's thread while no one else writes.
  bool Write(const void* data, size_t bytes);

  FILE* out_;
  std::unique_ptr<unsigned char[]> buffers_[2];
  size_t capacity_ = 0;
  int next_ = 0;
  std::mutex mutex_;
  std::condition_variable wake_, done_;
  const void* data_ = nullptr;  // the chunk in flight
  size_t bytes_ = 0;
  bool stop_ = false;
  bool failed_ = false;
  int cause_ = 0;  // of the failed write
  std::thread thread_;  // last: started once the rest is set up
};

// A descriptor of a new file without a name (or one whose name is removed
// at once) in the temporary folder ($TMPDIR, /tmp when unset), so nothing is
// left behind however the process ends; -1 with errno when it fails.
int ZTOpenTempFd();

// A stream over a file from ZTOpenTempFd: gone when closed or when the
// process ends, and no path is ever left behind.
class ZTTempStream {
 public:
  ZTTempStream();
  ~ZTTempStream();
  ZTTempStream(const ZTTempStream&) = delete;
  ZTTempStream& operator=(const ZTTempStream&) = delete;
  FILE* get() const { return fp_; }
  explicit operator bool() const { return fp_ != nullptr; }
  // The system's error number when the file could not be made, else 0.
  int error() const { return error_; }

 private:
  FILE* fp_ = nullptr;
  int error_ = 0;
};

// A descriptor closed on destruction.
class ZTFd {
 public:
  explicit ZTFd(int fd = -1) : fd_(fd) {}
  ~ZTFd();
  ZTFd(const ZTFd&) = delete;
  ZTFd& operator=(const ZTFd&) = delete;
  int get() const { return fd_; }
  int release() { int f = fd_; fd_ = -1; return f; }
  void reset(int fd = -1);

 private:
  int fd_;
};

// A stdio stream closed on destruction unless it is stdin/stdout.
class ZTStream {
 public:
  explicit ZTStream(FILE* fp = nullptr) : fp_(fp) {}
  ~ZTStream();
  ZTStream(const ZTStream&) = delete;
  ZTStream& operator=(const ZTStream&) = delete;
  FILE* get() const { return fp_; }
  // Closes now and reports whether the close (final flush) succeeded.
  int close();

 private:
  FILE* fp_;
};

// The CUPS filter command line: job-id user title copies options [file [outfile]].
struct ZTFilterArgs {
  const char* jobId = nullptr;
  const char* user = nullptr;
  const char* title = nullptr;
  int copies = 1;              // atoi of argv[4]
  const char* options = nullptr;
  const char* inputFile = nullptr;   // argv[6] or null
  const char* outputFile = nullptr;  // argv[7] or null (filters that take one)
};

// Fills args from argv when argc lies in [minArgc, maxArgc]; 0 or -1.
int ZTParseFilterArgs(int argc, char* argv[], int minArgc, int maxArgc, ZTFilterArgs* args);
// The start every page filter shares: standard error unbuffered, SIGTERM
// ignored (a cancelled chain ends through its pipes), SIGPIPE ignored (a
// reader that goes away makes the next write fail with an error that is
// reported instead of ending the filter silently), standard input and
// output grown to ZT_PIPE_BYTES where they are pipes, then the arguments as
// ZTParseFilterArgs. A wrong count writes `usage` to standard error; 0 or -1.
int ZTStartFilter(int argc, char* argv[], int minArgc, int maxArgc, const char* usage, ZTFilterArgs* args);

// Opens the input as a stream: stdin when path is null. nullptr on failure.
FILE* ZTOpenInput_FP(const char* path);
// Opens the output as a stream: stdout when path is null (created/truncated
// with mode 0666 minus umask otherwise). nullptr on failure.
FILE* ZTOpenOutput_FP(const char* path);
// Descriptor forms: 0 / 1 when path is null, -1 on failure.
int ZTOpenInput(const char* path);
int ZTOpenOutput(const char* path);

// Flushes a stream and reports whether everything written so far reached the
// file: 0 when clean, -1 when the flush failed or the stream had an error.
int ZTFlushCheck_FP(FILE* fp);
