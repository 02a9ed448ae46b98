#include <gtest/gtest.h>
#include <unistd.h>

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

}  // namespace
