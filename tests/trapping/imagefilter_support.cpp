#include "imagefilter_support.h"

#include <gtest/gtest.h>

#include <stdexcept>

#include "ztdevparam.h"

CmykPage::CmykPage(unsigned w, unsigned h, uint8_t c, uint8_t m, uint8_t y, uint8_t k)
    : width(w), height(h), px(static_cast<size_t>(w) * h * 4) {
  SetColumns(0, w, c, m, y, k);
}

void CmykPage::Set(unsigned x, unsigned y, uint8_t c, uint8_t m, uint8_t yy, uint8_t k) {
  uint8_t* p = At(x, y);
  p[0] = c;
  p[1] = m;
  p[2] = yy;
  p[3] = k;
}

void CmykPage::SetColumns(unsigned x0, unsigned x1, uint8_t c, uint8_t m, uint8_t y, uint8_t k) {
  for (unsigned row = 0; row < height; ++row)
    for (unsigned x = x0; x < x1; ++x) Set(x, row, c, m, y, k);
}

namespace {

void PutLE16(std::string& s, size_t at, uint32_t v) {
  s[at] = static_cast<char>(v & 0xFF);
  s[at + 1] = static_cast<char>((v >> 8) & 0xFF);
}
void PutLE32(std::string& s, size_t at, uint32_t v) {
  PutLE16(s, at, v & 0xFFFF);
  PutLE16(s, at + 2, v >> 16);
}
void PutBE32(std::string& s, size_t at, uint32_t v) {
  s[at] = static_cast<char>(v >> 24);
  s[at + 1] = static_cast<char>(v >> 16);
  s[at + 2] = static_cast<char>(v >> 8);
  s[at + 3] = static_cast<char>(v);
}
void AppendBE32(std::string& s, uint32_t v) {
  s.append(4, '\0');
  PutBE32(s, s.size() - 4, v);
}
char Byte(int v) { return static_cast<char>(v & 0xFF); }

}  // namespace

std::string TrapRecordBytes(const TrapParamSet& p) {
  std::string r(sizeof(icTrapKestinType), '\0');
  PutLE32(r, offsetof(icTrapKestinType, flags), (p.pseud_ib ? TRAP_FLAG_PSEUD_IB : 0) | (p.matrixsize ? TRAP_FLAG_MATRIXSIZE : 0));
  r[offsetof(icTrapKestinType, bk_full)] = Byte(p.bk_full);
  r[offsetof(icTrapKestinType, bk_white)] = Byte(p.bk_white);
  r[offsetof(icTrapKestinType, cmy_white)] = Byte(p.cmy_white);
  r[offsetof(icTrapKestinType, cmy_color)] = Byte(p.cmy_color);
  r[offsetof(icTrapKestinType, ave_white)] = Byte(p.ave_white);
  PutLE16(r, offsetof(icTrapKestinType, tonerlimit), static_cast<uint32_t>(p.tonerlimit));
  r[offsetof(icTrapKestinType, ib_y_white)] = Byte(p.ib_y_white);
  r[offsetof(icTrapKestinType, ib_m_white)] = Byte(p.ib_m_white);
  r[offsetof(icTrapKestinType, ib_c_white)] = Byte(p.ib_c_white);
  r[offsetof(icTrapKestinType, ib_k_full)] = Byte(p.ib_k_full);
  r[offsetof(icTrapKestinType, ib_y_const)] = Byte(p.ib_y_const);
  r[offsetof(icTrapKestinType, ib_m_const)] = Byte(p.ib_m_const);
  r[offsetof(icTrapKestinType, ib_c_const)] = Byte(p.ib_c_const);
  return r;
}

std::string EeRecordBytes(const EeParamSet& p) {
  std::string r(sizeof(icEeKestinType), '\0');
  PutLE32(r, offsetof(icEeKestinType, mode),
          (p.edge_mode ? EE_MODE_EDGE : 0) | (p.bkgnd_mode ? EE_MODE_BKGND : 0) | (p.dot_mode ? EE_MODE_DOT : 0));
  const struct {
    size_t level, edge;
    int plane;
  } planes[] = {{offsetof(icEeKestinType, levelK), offsetof(icEeKestinType, edgeK), COLOR_ORDER_K},
                {offsetof(icEeKestinType, levelC), offsetof(icEeKestinType, edgeC), COLOR_ORDER_C},
                {offsetof(icEeKestinType, levelM), offsetof(icEeKestinType, edgeM), COLOR_ORDER_M},
                {offsetof(icEeKestinType, levelY), offsetof(icEeKestinType, edgeY), COLOR_ORDER_Y}};
  for (const auto& pl : planes) {
    PutLE32(r, pl.level,
            static_cast<uint32_t>(p.loth[pl.plane] | (p.bkth0[pl.plane] << 8) | (p.npth0[pl.plane] << 16)));
    PutLE32(r, pl.edge, static_cast<uint32_t>(p.eeth0[pl.plane] | (p.eeth1[pl.plane] << 16)));
  }
  for (int v = 0; v < 256; ++v) {
    PutLE32(r, offsetof(icEeKestinType, outTable) + 4 * v,
            static_cast<uint32_t>(p.outTable[COLOR_ORDER_Y][v]) |
                (static_cast<uint32_t>(p.outTable[COLOR_ORDER_M][v]) << 8) |
                (static_cast<uint32_t>(p.outTable[COLOR_ORDER_C][v]) << 16) |
                (static_cast<uint32_t>(p.outTable[COLOR_ORDER_K][v]) << 24));
  }
  PutLE32(r, offsetof(icEeKestinType, pileheight_limit), static_cast<uint32_t>(p.pileheight_limit));
  return r;
}

std::string DfRecordBytes(const DfCoefTable& t) {
  std::string r(sizeof(icCF17KestinType), '\0');
  const struct {
    size_t at;
    const int* coef;
  } planes[] = {{offsetof(icCF17KestinType, coefK), t.dfCoef_K},
                {offsetof(icCF17KestinType, coefC), t.dfCoef_C},
                {offsetof(icCF17KestinType, coefM), t.dfCoef_M},
                {offsetof(icCF17KestinType, coefY), t.dfCoef_Y}};
  // Stored centre first: array index 3, 2, 1, 0.
  for (const auto& pl : planes)
    for (int i = 0; i < 4; ++i) PutLE16(r, pl.at + 2 * i, static_cast<uint32_t>(pl.coef[3 - i]) & 0xFFFF);
  return r;
}

std::string DeviceParamFileBytes(const std::vector<DlbBlock>& blocks) {
  std::string s(28, '\0');
  s.replace(0, 10, "TEST MODEL");
  PutBE32(s, 24, static_cast<uint32_t>(blocks.size()));
  const size_t dir = s.size();
  s.append(28 * blocks.size(), '\0');
  for (size_t b = 0; b < blocks.size(); ++b) {
    const DlbBlock& blk = blocks[b];
    if (blk.id.size() != 24) throw std::runtime_error("parameter IDs have 24 characters");
    const size_t at = s.size();
    s.replace(dir + 28 * b, 24, blk.id);
    PutBE32(s, dir + 28 * b + 24, static_cast<uint32_t>(at));
    s.append(24, 'h');
    AppendBE32(s, static_cast<uint32_t>(blk.records.size()));
    const size_t offsets = s.size();
    s.append(4 * blk.records.size(), '\0');
    std::vector<int> slotRecord;
    for (size_t r = 0; r < blk.records.size(); ++r)
      for (int slot : blk.records[r].second) {
        if (slot >= static_cast<int>(slotRecord.size())) slotRecord.resize(slot + 1, -1);
        slotRecord[slot] = static_cast<int>(r);
      }
    // Slots no record claims point at record 0 when there is one; a file
    // cannot leave a slot inside its list empty.
    AppendBE32(s, static_cast<uint32_t>(slotRecord.size()));
    for (int r : slotRecord) {
      const int idx = r < 0 ? 0 : r;
      s.push_back(static_cast<char>(idx >> 8));
      s.push_back(static_cast<char>(idx & 0xFF));
    }
    for (size_t r = 0; r < blk.records.size(); ++r) {
      PutBE32(s, offsets + 4 * r, static_cast<uint32_t>(s.size() - at));
      s += blk.records[r].first;
    }
  }
  return s;
}

std::string ImageFilterPPDText(const std::string& dlbPath, bool dump, const std::string& extra) {
  std::string text = SamplePPDText();
  // Drop what the sample model may already say about these attributes.
  for (const char* key : {"*QKDlutFilePath:", "*QKCheckParamCMYK:"}) {
    for (size_t pos; (pos = text.find(key)) != std::string::npos;) {
      const size_t end = text.find('\n', pos);
      text.erase(pos, end == std::string::npos ? std::string::npos : end - pos + 1);
    }
  }
  if (!text.empty() && text.back() != '\n') text += '\n';
  if (!dlbPath.empty()) text += "*QKDlutFilePath: \"" + dlbPath + "\"\n";
  if (dump) text += "*QKCheckParamCMYK: \"True\"\n";
  return text + extra;
}

ImageFilterSetup::ImageFilterSetup(const std::vector<DlbBlock>& blocks, bool dump)
    : dlb_(std::make_unique<TempFile>(DeviceParamFileBytes(blocks), ".dlb")),
      ppd_(std::make_unique<TempFile>(ImageFilterPPDText(dlb_->path(), dump), ".ppd")) {}

FilterResult ImageFilterSetup::Run(const std::string& program, const std::string& options,
                                   const std::string& input) const {
  RunOptions opts;
  opts.ppd = ppd();
  return RunFilter(FilterArgv(program, options), input, opts);
}

std::string RunOnStreams(const std::string& input, const std::function<int(FILE*, FILE*)>& proc, int* result) {
  std::unique_ptr<FILE, decltype(&fclose)> in(tmpfile(), &fclose);
  std::unique_ptr<FILE, decltype(&fclose)> out(tmpfile(), &fclose);
  if (!in || !out) throw std::runtime_error("tmpfile failed");
  if (!input.empty() && fwrite(input.data(), 1, input.size(), in.get()) != input.size())
    throw std::runtime_error("cannot write the input");
  rewind(in.get());
  *result = proc(in.get(), out.get());
  fflush(out.get());
  std::string written;
  rewind(out.get());
  char buf[65536];
  for (size_t n; (n = fread(buf, 1, sizeof buf, out.get())) > 0;) written.append(buf, n);
  return written;
}

void CheckFilterFailure(const std::string& program, const ImageFilterSetup& setup, const FilterFailureCase& c) {
  RunOptions opts;
  if (c.ppd) opts.ppd = setup.ppd();
  std::vector<std::string> argv = FilterArgv(program, c.options);
  for (const std::string& a : c.extraArgs) argv.push_back(a);
  const FilterResult r = RunFilter(argv, c.input, opts);
  EXPECT_EQ(r.status, c.status);
  EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
  EXPECT_TRUE(r.out == c.output) << "stdout holds " << r.out.size() << " bytes, expected " << c.output.size();
}
