#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>
#include <thread>

#include "runfilter.h"
#include "ztio.h"
#include "ztstreams.h"

namespace {

TEST(CommonZTIO, CopyBytesMovesExactlyNInChunksAndReportsShortInput) {
  std::string data = PatternBytes(10000, 7);
  TempFile in(data);
  TempFile out;
  FILE* fin = fopen(in.path().c_str(), "rb");
  FILE* fout = fopen(out.path().c_str(), "wb");
  unsigned char buf[333];
  EXPECT_EQ(ZTCopyBytes_FP(fin, fout, 9000, buf, sizeof buf), ZT_COPY_OK);
  EXPECT_EQ(ZTSkipBytes_FP(fin, 500, buf, sizeof buf), ZT_COPY_OK);
  EXPECT_EQ(ZTCopyBytes_FP(fin, fout, 600, buf, sizeof buf), ZT_COPY_SHORT_READ);
  fclose(fin);
  fclose(fout);
  std::string got = out.Read();
  // Whole chunks only: the first 333 of the last 600 bytes were there.
  ASSERT_EQ(got.size(), 9333u);
  EXPECT_EQ(got.substr(0, 9000), data.substr(0, 9000));
  EXPECT_EQ(got.substr(9000), data.substr(9500, 333));
}

TEST(CommonZTIO, DescriptorCopyThroughPipesAndClosedReader) {
  std::string data = PatternBytes(300000, 3);
  int in[2], out[2];
  ASSERT_EQ(pipe(in), 0);
  ASSERT_EQ(pipe(out), 0);
  std::thread writer([&] {
    ZTWriteFull(in[1], data.data(), data.size());
    close(in[1]);
  });
  std::string got;
  std::thread reader([&] {
    char b[4096];
    ssize_t n;
    while ((n = read(out[0], b, sizeof b)) > 0) got.append(b, static_cast<size_t>(n));
  });
  unsigned char buf[65536];
  uint64_t total = 0;
  EXPECT_EQ(ZTCopyAll(in[0], out[1], buf, sizeof buf, &total), ZT_COPY_OK);
  close(out[1]);
  writer.join();
  reader.join();
  close(in[0]);
  close(out[0]);
  EXPECT_EQ(total, data.size());
  EXPECT_EQ(got, data);

  // A writer whose reader has gone reports a failed write (SIGPIPE ignored).
  ASSERT_EQ(pipe(out), 0);
  close(out[0]);
  signal(SIGPIPE, SIG_IGN);
  EXPECT_EQ(ZTWriteFull(out[1], data.data(), 10), -1);
  close(out[1]);
}

// Unchanged bytes between every pairing of pipes and files: spliced where a
// pipe is involved, copied through the buffer between two files. The same
// bytes arrive either way, and an input that ends early is reported after
// what did arrive was passed on.
TEST(CommonZTIO, PassBytesBetweenPipesAndFiles) {
  const std::string data = PatternBytes(700000, 11);
  for (bool pipeIn : {true, false}) {
    for (bool pipeOut : {true, false}) {
      SCOPED_TRACE(std::string(pipeIn ? "pipe" : "file") + " to " + (pipeOut ? "pipe" : "file"));
      TempFile inFile(data), outFile;
      int in[2] = {-1, -1}, out[2] = {-1, -1};
      std::thread writer, reader;
      std::string got;
      if (pipeIn) {
        ASSERT_EQ(pipe(in), 0);
        writer = std::thread([&] {
          ZTWriteFull(in[1], data.data(), data.size());
          close(in[1]);
        });
      } else {
        in[0] = open(inFile.path().c_str(), O_RDONLY);
      }
      if (pipeOut) {
        ASSERT_EQ(pipe(out), 0);
        reader = std::thread([&] {
          char b[8192];
          ssize_t n;
          while ((n = read(out[0], b, sizeof b)) > 0) got.append(b, static_cast<size_t>(n));
        });
      } else {
        out[1] = open(outFile.path().c_str(), O_WRONLY | O_TRUNC);
      }
      unsigned char buf[4096];
      EXPECT_EQ(ZTPassBytes(in[0], out[1], 600000, buf, sizeof buf), ZT_COPY_OK);
      EXPECT_EQ(ZTPassBytes(in[0], out[1], 100001, buf, sizeof buf), ZT_COPY_SHORT_READ);
      close(out[1]);
      if (writer.joinable()) writer.join();
      if (reader.joinable()) reader.join();
      close(in[0]);
      if (pipeOut) close(out[0]);
      const std::string passed = pipeOut ? got : outFile.Read();
      EXPECT_EQ(passed.size(), data.size());
      EXPECT_TRUE(passed == data);
    }
  }
}

// A full disk, a reader that has gone and an input that fails are told
// apart; the stream form goes on exactly where the input stream stands,
// buffered or not.
TEST(CommonZTIO, PassBytesFailuresAndStreamPositions) {
  const std::string data = PatternBytes(200000, 5);
  TempFile in(data);
  unsigned char buf[4096];
  signal(SIGPIPE, SIG_IGN);
  int gone[2];
  ASSERT_EQ(pipe(gone), 0);
  close(gone[0]);
  int fd = open(in.path().c_str(), O_RDONLY);
  EXPECT_EQ(ZTPassBytes(fd, gone[1], 100000, buf, sizeof buf), ZT_COPY_WRITE_FAILED);
  close(gone[1]);
  int full = open("/dev/full", O_WRONLY);
  if (full >= 0) {
    EXPECT_EQ(ZTPassBytes(fd, full, 50000, buf, sizeof buf), ZT_COPY_WRITE_FAILED);
    close(full);
  }
  close(fd);
  int dir = open("/", O_RDONLY | O_DIRECTORY);
  int sink[2];
  ASSERT_EQ(pipe(sink), 0);
  EXPECT_EQ(ZTPassBytes(dir, sink[1], 10, buf, sizeof buf), ZT_COPY_READ_FAILED);
  close(dir);
  close(sink[0]);
  close(sink[1]);

  for (bool unbuffered : {true, false}) {
    SCOPED_TRACE(unbuffered ? "unbuffered input" : "buffered input");
    FILE* fin = fopen(in.path().c_str(), "rb");
    if (unbuffered) {
      EXPECT_EQ(ZTSetUnbuffered_FP(fin), 0);
    }
    TempFile out;
    FILE* fout = fopen(out.path().c_str(), "wb");
    char head[56];
    ASSERT_EQ(fread(head, 1, sizeof head, fin), sizeof head);
    fwrite(head, 1, sizeof head, fout);
    EXPECT_EQ(ZTPassBytes_FP(fin, fout, 150000, buf, sizeof buf), ZT_COPY_OK);
    char next[10];
    ASSERT_EQ(fread(next, 1, sizeof next, fin), sizeof next);
    EXPECT_EQ(std::string(next, sizeof next), data.substr(150056, 10));
    fclose(fin);
    fclose(fout);
    EXPECT_EQ(out.Read(), data.substr(0, 150056));
  }
}

TEST(CommonZTIO, LinesPerChunkIsNeverZero) {
  EXPECT_EQ(ZTLinesPerChunk(1000, 1 << 20), 1048u);
  EXPECT_EQ(ZTLinesPerChunk(2 << 20, 1 << 20), 1u);
  EXPECT_EQ(ZTLinesPerChunk(0, 1 << 20), 1u);
}

TEST(CommonZTIO, FilterArguments) {
  const char* six[] = {"f", "12", "alice", "title", "3", "a=b"};
  const char* eight[] = {"f", "12", "alice", "title", "x", "", "in", "out"};
  ZTFilterArgs a;
  EXPECT_EQ(ZTParseFilterArgs(6, const_cast<char**>(six), 6, 7, &a), 0);
  EXPECT_EQ(a.copies, 3);
  EXPECT_EQ(a.inputFile, nullptr);
  EXPECT_EQ(ZTParseFilterArgs(8, const_cast<char**>(eight), 6, 7, &a), -1);
  EXPECT_EQ(ZTParseFilterArgs(8, const_cast<char**>(eight), 6, 8, &a), 0);
  EXPECT_EQ(a.copies, 0);
  EXPECT_STREQ(a.inputFile, "in");
  EXPECT_STREQ(a.outputFile, "out");
  EXPECT_EQ(ZTParseFilterArgs(5, const_cast<char**>(six), 6, 7, &a), -1);
}

TEST(CommonZTIO, FlushCheckSeesAFullDisk) {
  FILE* full = fopen("/dev/full", "wb");
  if (!full) GTEST_SKIP() << "/dev/full is not available";
  char block[8192] = {};
  fwrite(block, 1, sizeof block, full);
  EXPECT_EQ(ZTFlushCheck_FP(full), -1);
  fclose(full);
}

// Pipes grow to the size asked for and never shrink; other descriptors
// are refused.
TEST(CommonZTIO, GrowPipeOnlyGrowsPipes) {
  int fds[2];
  ASSERT_EQ(pipe(fds), 0);
  ASSERT_GE(fcntl(fds[1], F_SETPIPE_SZ, 262144), 262144);
  EXPECT_EQ(ZTGrowPipe(fds[0], 65536), fcntl(fds[0], F_GETPIPE_SZ));
  EXPECT_GE(fcntl(fds[0], F_GETPIPE_SZ), 262144);
  EXPECT_GE(ZTGrowPipe(fds[1], 524288), 524288);
  EXPECT_GE(fcntl(fds[0], F_GETPIPE_SZ), 524288);
  close(fds[0]);
  close(fds[1]);
  TempFile file("x");
  ZTFd fd(open(file.path().c_str(), O_RDONLY));
  EXPECT_EQ(ZTGrowPipe(fd.get(), 65536), -1);
}

// Chunks filled in turn in the writer's buffers arrive whole and in order; a
// failed write is reported from then on, and nothing after it is written.
TEST(CommonZTIO, ChunkWriterKeepsOrderAndReportsTheFirstFailure) {
  TempFile out;
  FILE* fp = fopen(out.path().c_str(), "wb");
  ASSERT_NE(fp, nullptr);
  std::string expected;
  int cause = -1;
  {
    ZTChunkWriter writer(fp);
    ASSERT_TRUE(writer.Reserve(1000 + 997 * 39));
    for (int i = 0; i < 40; ++i) {
      const std::string chunk = PatternBytes(1000 + 997 * i, i);
      memcpy(writer.buffer(), chunk.data(), chunk.size());
      expected += chunk;
      ASSERT_TRUE(writer.Submit(chunk.size(), &cause));
    }
    EXPECT_TRUE(writer.Finish(&cause));
    EXPECT_EQ(cause, 0);
  }
  fclose(fp);
  EXPECT_EQ(out.Read(), expected);

  FILE* full = fopen("/dev/full", "wb");
  if (!full) GTEST_SKIP() << "/dev/full is not available";
  ZTChunkWriter writer(full);
  ASSERT_TRUE(writer.Reserve(65536));
  memset(writer.buffer(), 'x', 65536);
  writer.Submit(65536, &cause);
  EXPECT_FALSE(writer.Finish(&cause));
  EXPECT_EQ(cause, ENOSPC);
  EXPECT_FALSE(writer.Submit(65536, &cause));
  EXPECT_EQ(cause, ENOSPC);
  fclose(full);
}

}  // namespace
