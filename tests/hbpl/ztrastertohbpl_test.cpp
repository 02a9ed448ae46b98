// ztrastertohbpl as CUPS runs it: whole jobs read back with the job reader,
// copies and passes, duplex sides, the page size taken from the first page,
// coded payloads, and every failure with its message and status.
#include <gtest/gtest.h>

#include <filesystem>

#include "hbplbytes.h"
#include "hbpljob.h"
#include "runfilter.h"
#include "ztstreams.h"

namespace {

const std::string kProgram = "ztrastertohbpl";

struct Page {
  ZTRasterHeader header;
  std::string data;
};

Page RawPage(int width, int height, uint32_t seed) {
  Page p{MakeHeader(width, height, 32, ZT_CS_CMYK), ""};
  p.data = PatternBytes(static_cast<size_t>(p.header.pageBytes), seed);
  return p;
}

// A MIVO-coded page body: four length words, then streams of those lengths.
Page MivoPage(int width, int height, uint32_t encoding, uint32_t colorSpace, uint32_t seed) {
  Page p{MakeHeader(width, height, 32, colorSpace), ""};
  const uint32_t lengths[4] = {40, 9, 17, 5};
  p.data = ChunkHeader({lengths[0], lengths[1], lengths[2], lengths[3]}) + PatternBytes(40 + 9 + 17 + 5 + 11, seed);
  p.header.encoding = encoding;
  p.header.pageBytes = static_cast<int32_t>(p.data.size());
  return p;
}

std::string Stream(const std::vector<Page>& pages) {
  std::string s;
  for (const Page& p : pages) s += PageBytes(p.header, p.data);
  return s;
}

struct JobRun {
  FilterResult result;
  hbpljob::Job job;
};

FilterResult RunHbpl(const std::string& input, const std::string& options, const std::string& copies = "1",
                     const std::string& ppdText = SamplePPDText(), std::vector<std::string> extraEnv = {}) {
  TempFile ppd(ppdText, ".ppd");
  RunOptions opts;
  opts.ppd = ppd.path();
  opts.extraEnv = std::move(extraEnv);
  return RunFilter(FilterArgv(kProgram, options, copies), input, opts);
}

// Runs a job that must succeed and reads it back.
JobRun RunJob(const std::vector<Page>& pages, const std::string& options, const std::string& copies = "1",
           const std::string& ppdText = SamplePPDText()) {
  JobRun run{RunHbpl(Stream(pages), options, copies, ppdText), {}};
  EXPECT_EQ(run.result.status, 0) << run.result.err;
  hbpljob::Error error;
  EXPECT_TRUE(hbpljob::ParseJob(run.result.out, &run.job, &error)) << error.message << " at " << error.offset;
  return run;
}

// The stderr lines that begin with prefix.
std::vector<std::string> Lines(const std::string& text, const std::string& prefix) {
  std::vector<std::string> lines;
  size_t pos = 0;
  while (pos < text.size()) {
    size_t end = text.find('\n', pos);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(pos, end - pos);
    if (line.rfind(prefix, 0) == 0) lines.push_back(line);
    pos = end + 1;
  }
  return lines;
}

const std::string kNoDeviceCollate =
    SamplePPDText({{"*QKSupportDeviceCollate: \"True\"", "*QKSupportDeviceCollate: \"False\""}});

// Checks every page of a job against the input pages sent `passes` times.
void ExpectPasses(const hbpljob::Job& job, const std::vector<Page>& pages, int passes) {
  ASSERT_EQ(job.pages.size(), pages.size() * passes);
  for (size_t i = 0; i < job.pages.size(); ++i) {
    const hbpljob::Page& out = job.pages[i];
    const Page& in = pages[i % pages.size()];
    EXPECT_EQ(out.Get(0x99).first, i + 1) << "page counter runs over passes";
    EXPECT_EQ(out.Get(0x9A).first, static_cast<uint32_t>(in.header.width));
    EXPECT_EQ(out.Get(0x9A).second, static_cast<uint32_t>(in.header.height));
    ASSERT_EQ(out.images.size(), 1u);
    EXPECT_TRUE(out.images[0].bytes == in.data) << "payload of page " << i + 1;
  }
}

TEST(HbplFilter, CopiesGoToThePrinterOrIntoPasses) {
  const std::vector<Page> pages = {RawPage(64, 40, 1), RawPage(48, 30, 2), RawPage(64, 40, 3)};
  using V = std::vector<std::string>;
  {
    // Uncollated: the printer makes the copies of each page.
    const JobRun run = RunJob(pages, "Collate=False", "3");
    ExpectPasses(run.job, pages, 1);
    EXPECT_EQ(hbpljob::FindPJLValues(run.job.headerLines, "COPIES"), V{"3"});
    EXPECT_EQ(Lines(run.result.err, "PAGE:"), (V{"PAGE: 1 3", "PAGE: 2 3", "PAGE: 3 3"}));
  }
  {
    // Collated by a printer with enough memory: one pass, QTY.
    const JobRun run = RunJob(pages, "Collate=True", "3");
    ExpectPasses(run.job, pages, 1);
    EXPECT_EQ(hbpljob::FindPJLValues(run.job.headerLines, "QTY"), V{"3"});
  }
  {
    // Collated by the driver: the page sequence three times, pages 1 to 9.
    const JobRun run = RunJob(pages, "Collate=True", "3", kNoDeviceCollate);
    ExpectPasses(run.job, pages, 3);
    EXPECT_EQ(hbpljob::FindPJLValues(run.job.headerLines, "QTY"), V{"1"});
    EXPECT_EQ(Lines(run.result.err, "PAGE:").size(), 9u);
    EXPECT_EQ(Lines(run.result.err, "PAGE:").back(), "PAGE: 9 1");
    EXPECT_EQ(Lines(run.result.err, "INFO: Printing page").back(), "INFO: Printing page 9 of 9");
    EXPECT_EQ(Lines(run.result.err, "ERROR:"), V{});
  }
  {
    // The copies of the first page header win over the command line.
    std::vector<Page> withCopies = pages;
    withCopies[0].header.copies = 2;
    const JobRun run = RunJob(withCopies, "Collate=True", "5", kNoDeviceCollate);
    EXPECT_EQ(run.job.pages.size(), 6u);
  }
}

TEST(HbplFilter, ReverseDuplexWithAnOddPageCountStartsOnTheBack) {
  std::vector<Page> pages;
  for (uint32_t i = 0; i < 5; ++i) pages.push_back(RawPage(32, 32, i + 1));
  const JobRun odd = RunJob(pages, "OutputOrder=Reverse Duplex=DuplexNoTumble Collate=True", "2", kNoDeviceCollate);
  std::vector<uint32_t> sides;
  for (const auto& p : odd.job.pages) sides.push_back(p.Get(0x98).first);
  EXPECT_EQ(sides, (std::vector<uint32_t>{2, 1, 2, 1, 2, 2, 1, 2, 1, 2}));
  ExpectPasses(odd.job, pages, 2);

  pages.pop_back();
  const JobRun even = RunJob(pages, "OutputOrder=Reverse Duplex=DuplexNoTumble", "1");
  sides.clear();
  for (const auto& p : even.job.pages) sides.push_back(p.Get(0x98).first);
  EXPECT_EQ(sides, (std::vector<uint32_t>{1, 2, 1, 2}));
}

TEST(HbplFilter, PageSizeComesFromTheFirstPageWhenTheJobNamesNone) {
  Page letter = RawPage(50, 60, 1);
  letter.header.pageWidth = 612;
  letter.header.pageHeight = 792;
  const Page a4 = RawPage(50, 60, 2);
  const JobRun run = RunJob({letter, a4}, "number-up=1");
  for (const auto& p : run.job.pages) EXPECT_EQ(p.Get(0x94).first, 0u) << "Letter code on every page";
  // 12-point margins at 600 dpi.
  EXPECT_EQ(run.job.pages[0].Get(0x97).first, 100u);
  EXPECT_EQ(run.job.pages[0].Get(0x97).second, 100u);

  const JobRun named = RunJob({letter}, "PageSize=A5");
  EXPECT_EQ(named.job.pages[0].Get(0x94).first, 15u);
}

TEST(HbplFilter, CodedAndEmptyPayloadsPassUnchanged) {
  const Page mivo = MivoPage(4960, 20, ZT_ENC_MIVO_COLOR, ZT_CS_CMYK, 5);
  const Page mono = MivoPage(100, 20, ZT_ENC_MIVO_MONO, ZT_CS_GRAY, 6);
  Page empty = RawPage(8, 8, 7);
  empty.header.pageBytes = 0;
  empty.data.clear();
  Page own = RawPage(8, 8, 8);
  own.header.encoding = 5;
  own.data = ImageDataHead(6) + "abcdef" + ImageDataHead(2) + "gh";
  own.header.pageBytes = static_cast<int32_t>(own.data.size());

  const JobRun run = RunJob({mivo, mono, empty, own}, "");
  EXPECT_EQ(run.job.jobAttributes.at(1).first, 6u) << "BeginJob announces the first page's coding";
  ASSERT_EQ(run.job.pages.size(), 4u);
  const hbpljob::Page& coded = run.job.pages[0];
  EXPECT_EQ(coded.Get(0x9A).first, 4960u);
  EXPECT_EQ(coded.Get(0xA2).first, 4968u);
  EXPECT_EQ(coded.Get(0x9D).first, 139u);
  ASSERT_EQ(coded.images.size(), 1u);
  EXPECT_TRUE(coded.images[0].mivo);
  EXPECT_TRUE(coded.images[0].bytes.substr(32) == mivo.data);
  EXPECT_EQ(coded.images[0].chunk.lengths[0], 40u);
  EXPECT_EQ(run.job.pages[1].images.at(0).chunk.words[1], 0x108u);
  EXPECT_EQ(run.job.pages[2].images.at(0).bytes.size(), 0u);
  // The encoding-5 page carries its own two records between BeginImage and EndImage.
  ASSERT_EQ(run.job.pages[3].images.size(), 2u);
  EXPECT_TRUE(run.job.pages[3].images[1].bytes == "gh");
}

TEST(HbplFilter, PagesLargerThanTheCopyBufferArriveWhole) {
  // 3 MiB and a bit: the spool and the copy move it in 1 MiB pieces.
  const std::vector<Page> pages = {RawPage(1031, 765, 11)};
  const JobRun run = RunJob(pages, "", "2", kNoDeviceCollate);
  ExpectPasses(run.job, pages, 2);
}

TEST(HbplFilter, NoSpoolFileIsLeftBehind) {
  TempDir tmp;
  const std::string env = "TMPDIR=" + tmp.path();
  const std::string good = Stream({RawPage(16, 16, 1)});
  EXPECT_EQ(RunHbpl(good, "", "1", SamplePPDText(), {env}).status, 0);
  EXPECT_EQ(RunHbpl(good.substr(0, good.size() - 5), "", "1", SamplePPDText(), {env}).status, 1);
  EXPECT_TRUE(std::filesystem::is_empty(tmp.path()));
}

// The job reader itself, on a real job: every cut and a few damaged bytes
// are refused at a place inside the job, never read past its end.
TEST(HbplJobReader, RefusesCutAndDamagedJobs) {
  const Page mivo = MivoPage(64, 4, ZT_ENC_MIVO_COLOR, ZT_CS_CMYK, 9);
  const std::string job = RunHbpl(Stream({RawPage(8, 2, 1), mivo}), "").out;
  hbpljob::Job parsed;
  hbpljob::Error error;
  ASSERT_TRUE(hbpljob::ParseJob(job, &parsed, &error));
  for (size_t n = 0; n < job.size(); ++n) {
    const std::string cut = job.substr(0, n);
    ASSERT_FALSE(hbpljob::ParseJob(cut, &parsed, &error)) << n;
    EXPECT_LE(error.offset, n);
  }
  // A flipped type byte, a MIVO length beyond its streams, a stray quote.
  const size_t enter = job.find("@PJL ENTER LANGUAGE=HBPL\n") + 25;
  std::string bad = job;
  bad[enter + 2] = '\xA7';
  EXPECT_FALSE(hbpljob::ParseJob(bad, &parsed, &error));
  EXPECT_EQ(error.offset, enter + 2);
  bad = job;
  const size_t lengths = bad.find(mivo.data.substr(0, 16));
  bad[lengths + 3] = '\x7F';
  EXPECT_FALSE(hbpljob::ParseJob(bad, &parsed, &error));
  EXPECT_EQ(error.message, "MIVO stream lengths exceed the image data");
  EXPECT_EQ(hbpljob::CheckPJLLine("@PJL SET JOBNAME=\""), "SET value with stray quotes");
  EXPECT_EQ(hbpljob::CheckPJLLine("@PJL SET \"A\"="), "SET value with stray quotes");
  EXPECT_EQ(hbpljob::CheckPJLLine("@PJL SET JOBATTR=\"@LUNA=a\"b\""), "JOBATTR value not closed by its quote");
  EXPECT_EQ(hbpljob::CheckPJLLine("@PJL SET JOBNAME=\"a\"\r"), "control character in a PJL line");
}

struct FailureCase {
  const char* name;
  std::vector<std::string> argv;  // empty: the usual command line
  std::string input;
  std::string ppd;                // empty: no PPD in the environment
  std::vector<std::string> errors;
  bool noOutput = true;
};

TEST(HbplFilter, FailuresReportOnceAndExitWithOne) {
  const Page good = RawPage(16, 16, 1);
  const std::string stream = Stream({good, good});
  Page negative = good;
  negative.header.pageBytes = -16;
  Page shortMivo = MivoPage(64, 4, ZT_ENC_MIVO_COLOR, ZT_CS_CMYK, 2);
  shortMivo.header.pageBytes = 12;
  shortMivo.data.resize(12);
  Page lyingMivo = MivoPage(64, 4, ZT_ENC_MIVO_COLOR, ZT_CS_CMYK, 3);
  lyingMivo.data.replace(0, 4, LittleEndian(1000, 4));
  Page manyCopies = good;
  manyCopies.header.copies = 100000;
  const std::string noSizePPD =
      SamplePPDText({{"*DefaultPageSize: A4", "*DefaultPageSize: Bogus"}, {"*DefaultPageRegion: A4", "*DefaultPageRegion: Bogus"}});
  Page oddSize = good;
  oddSize.header.pageWidth = 100;
  oddSize.header.pageHeight = 100;
  const std::string sample = SamplePPDText();

  const std::vector<FailureCase> cases = {
      {"Usage", {ProgramPath(kProgram), "1", "u", "t", "1"}, stream, sample,
       {"ERROR: ztrastertohbpl job-id user title copies options [file]"}},
      {"MissingFile", {ProgramPath(kProgram), "1", "u", "t", "1", "", "/nonexistent/job.zt"}, stream, sample,
       {"ERROR: unable to open raster file."}},
      {"NoPPD", {}, stream, "", {"ERROR: cannot open PPD", "ERROR: ztrastertohbpl CreatePPDSetting()."}},
      {"EmptyInput", {}, "", sample, {"ERROR: ztrastertohbpl first ReadZTRasterHeader()."}},
      {"HalfAHeader", {}, stream.substr(0, 30), sample, {"ERROR: ztrastertohbpl first ReadZTRasterHeader()."}},
      {"TruncatedPayload", {}, stream.substr(0, stream.size() - 1), sample,
       {"ERROR: ztrastertohbpl StoreSpoolDataToTempFile()."}},
      {"NegativePageBytes", {}, Stream({good, negative}), sample, {"ERROR: ztrastertohbpl StoreSpoolDataToTempFile()."}},
      {"NoPageSize", {}, Stream({oddSize}), noSizePPD,
       {"ERROR: No PageSize & PageRegion specified.", "ERROR: ztrastertohbpl GetPrintSetting()."}},
      {"MivoShorterThanItsLengths", {}, Stream({good, shortMivo}), sample, {"ERROR: ztrastertohbpl DrawChunkImage()."}, false},
      {"MivoLengthsBeyondItsBody", {}, Stream({lyingMivo}), sample, {"ERROR: ztrastertohbpl DrawChunkImage()."}, false},
      {"AbsurdCopies", {}, Stream({manyCopies}), sample,
       {"ERROR: ztrastertohbpl 100000 copies exceed the limit of 9999."}},
  };
  for (const FailureCase& c : cases) {
    SCOPED_TRACE(c.name);
    TempFile ppd(c.ppd, ".ppd");
    RunOptions opts;
    if (!c.ppd.empty()) opts.ppd = ppd.path();
    const FilterResult r = RunFilter(c.argv.empty() ? FilterArgv(kProgram) : c.argv, c.input, opts);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(Lines(r.err, "ERROR:"), c.errors);
    if (c.noOutput) {
      EXPECT_EQ(r.out, "");
    }
  }
}

TEST(HbplFilter, ClosedOutputIsAnErrorNotASignal) {
  const FilterResult r = RunFilter(FilterArgv(kProgram), Stream({RawPage(1024, 300, 4)}),
                                   RunOptions{DataPath("korva-zt.ppd"), {}, 120, true});
  EXPECT_EQ(r.status, 1);
  const std::vector<std::string> errors = Lines(r.err, "ERROR:");
  // The cause, then (when a payload was being copied) the fixed line.
  const std::string cause = "ERROR: ztrastertohbpl: cannot write the printer job: Broken pipe";
  ASSERT_FALSE(errors.empty());
  EXPECT_EQ(errors[0], cause);
  if (errors.size() > 1) {
    EXPECT_EQ(errors, (std::vector<std::string>{cause, "ERROR: ztrastertohbpl DrawChunkImage()."}));
  }
}

}  // namespace
