// ztmkdevparam: builds a device parameter file from a text description.
//
// Usage: ztmkdevparam DESCRIPTION OUTPUT
//
// The description names records field by field and lists, per parameter
// family, which record each selection slot designates:
//
//   header KORVA-ZT-C500              optional, at most 24 characters
//
//   record NAME trap                  trapping thresholds: every field below
//     pseud_ib 0|1   matrixsize 0|1   bk_full V   bk_white V   cmy_white V
//     cmy_color V    ave_white V      tonerlimit 0..1023
//     ib_y_white V   ib_m_white V     ib_c_white V   ib_k_full V
//     ib_y_const V   ib_m_const V     ib_c_const V
//   end
//   record NAME ee                    edge enhancement
//     edge_mode 0|1  bkgnd_mode 0|1   dot_mode 0|1
//     npth0 C M Y K  bkth0 C M Y K    loth C M Y K   eeth1 C M Y K
//     eeth0 C M Y K  (0..1023)        pileheight_limit N
//     output C|M|Y|K identity | gain F | gamma F     (the edge output table)
//   end
//   record NAME df                    digital filter, units of 1/4096
//     coef C|M|Y|K CENTRE D1 D2 D3
//   end
//   record NAME dlut                  RGB -> CMYK table, computed ...
//     model ucr
//     black_start F  ucr F  ink_limit PERCENT  gamma F  balance C M Y
//   end
//   record NAME dlut                  ... or read from a grid of 4913 lines
//     grid FILE                       "C M Y K", red fastest, then green, blue
//   end
//
//   block PARAMETER-ID                one of the four loaded families
//     default NAME                    for slots below the highest not listed
//     slot N NAME
//   end
//
// V is 0..255. Every field of a record must be given once. Any error ends
// the run with one "ERROR:" line and status 1, leaving no output file.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "colour_desc.h"
#include "ztdevparam.h"

namespace {

enum class Kind { Trap, Ee, Df, Dlut };

struct Record {
  std::string name;
  Kind kind;
  std::string bytes;
  int line;
};

struct BlockDesc {
  std::string id;
  unsigned char code;
  std::map<int, std::string> slots;
  std::string fallback;
  int line;
};

const char* KindName(Kind k) {
  switch (k) {
    case Kind::Trap: return "trap";
    case Kind::Ee: return "ee";
    case Kind::Df: return "df";
    case Kind::Dlut: return "dlut";
  }
  return "?";
}

Kind KindOfCode(unsigned char code) {
  switch (code) {
    case DLB_CODE_TRP_KESTIN: return Kind::Trap;
    case DLB_CODE_EE_KESTIN: return Kind::Ee;
    case DLB_CODE_DFT_KESTIN: return Kind::Df;
    default: return Kind::Dlut;
  }
}

void PutLE16(unsigned char* p, unsigned v) {
  p[0] = static_cast<unsigned char>(v);
  p[1] = static_cast<unsigned char>(v >> 8);
}
void PutLE32(unsigned char* p, unsigned long v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<unsigned char>(v >> (8 * i));
}

int PlaneIndex(const Description& d, const DescLine& l, const std::string& w) {
  static const char* kPlanes[] = {"C", "M", "Y", "K"};
  for (int i = 0; i < 4; ++i)
    if (w == kPlanes[i]) return i;
  d.Fail(l, "\"" + w + "\" is not a plane (C, M, Y or K)");
}

// The fields of one record between "record" and "end": each key once, all
// required keys present.
class FieldSet {
 public:
  FieldSet(const Description& d, const std::vector<const DescLine*>& lines) : d_(d) {
    for (const DescLine* l : lines) {
      std::string key = l->words[0];
      if (key == "output" || key == "coef") {
        if (l->words.size() < 2) d.Fail(*l, "\"" + key + "\" needs a plane");
        key += " " + l->words[1];
      }
      if (!fields_.emplace(key, l).second) d.Fail(*l, "\"" + key + "\" given twice");
    }
  }
  const DescLine& Get(const std::string& key, const DescLine& recordLine) {
    auto it = fields_.find(key);
    if (it == fields_.end()) d_.Fail(recordLine, "record lacks \"" + key + "\"");
    used_.insert(key);
    return *it->second;
  }
  bool Has(const std::string& key) const { return fields_.count(key) != 0; }
  void CheckAllUsed() const {
    for (const auto& [key, line] : fields_)
      if (!used_.count(key)) d_.Fail(*line, "\"" + key + "\" is not a field of this record");
  }

 private:
  const Description& d_;
  std::map<std::string, const DescLine*> fields_;
  std::set<std::string> used_;
};

std::string BuildTrap(const Description& d, const DescLine& head, FieldSet& f) {
  icTrapKestinType r{};
  auto byte = [&](const char* key) {
    const DescLine& l = f.Get(key, head);
    d.ExpectWords(l, 2);
    return static_cast<unsigned char>(d.Integer(l, 1, 0, 255));
  };
  auto flag = [&](const char* key) {
    const DescLine& l = f.Get(key, head);
    d.ExpectWords(l, 2);
    return d.Integer(l, 1, 0, 1) != 0;
  };
  unsigned long flags = 0;
  if (flag("pseud_ib")) flags |= TRAP_FLAG_PSEUD_IB;
  if (flag("matrixsize")) flags |= TRAP_FLAG_MATRIXSIZE;
  PutLE32(r.flags, flags);
  r.bk_full = byte("bk_full");
  r.bk_white = byte("bk_white");
  r.cmy_white = byte("cmy_white");
  r.cmy_color = byte("cmy_color");
  r.ave_white = byte("ave_white");
  const DescLine& tl = f.Get("tonerlimit", head);
  d.ExpectWords(tl, 2);
  PutLE16(r.tonerlimit, static_cast<unsigned>(d.Integer(tl, 1, 0, TRAP_TONERLIMIT_MASK)));
  r.ib_y_white = byte("ib_y_white");
  r.ib_m_white = byte("ib_m_white");
  r.ib_c_white = byte("ib_c_white");
  r.ib_k_full = byte("ib_k_full");
  r.ib_y_const = byte("ib_y_const");
  r.ib_m_const = byte("ib_m_const");
  r.ib_c_const = byte("ib_c_const");
  return std::string(reinterpret_cast<const char*>(&r), sizeof r);
}

// Output-table value of v for one plane.
int OutputCurve(const Description& d, const DescLine& l, int v) {
  const std::string& form = l.words.size() > 2 ? l.words[2] : "";
  double out = v;
  if (form == "identity") {
    d.ExpectWords(l, 3);
  } else if (form == "gain") {
    d.ExpectWords(l, 4);
    out = v * d.Number(l, 3, 0.0, 4.0);
  } else if (form == "gamma") {
    d.ExpectWords(l, 4);
    out = 255.0 * std::pow(v / 255.0, d.Number(l, 3, 0.1, 10.0));
  } else {
    d.Fail(l, "output curve must be \"identity\", \"gain F\" or \"gamma F\"");
  }
  const long r = std::lround(out);
  return r < 0 ? 0 : r > 255 ? 255 : static_cast<int>(r);
}

std::string BuildEe(const Description& d, const DescLine& head, FieldSet& f) {
  icEeKestinType r{};
  unsigned long mode = 0;
  static const struct {
    const char* key;
    uint32_t bit;
  } kModes[] = {{"edge_mode", EE_MODE_EDGE}, {"bkgnd_mode", EE_MODE_BKGND}, {"dot_mode", EE_MODE_DOT}};
  for (const auto& m : kModes) {
    const DescLine& l = f.Get(m.key, head);
    d.ExpectWords(l, 2);
    if (d.Integer(l, 1, 0, 1)) mode |= m.bit;
  }
  PutLE32(r.mode, mode);
  // Per plane C, M, Y, K as written in the description.
  auto planes = [&](const char* key, long max) {
    const DescLine& l = f.Get(key, head);
    d.ExpectWords(l, 5);
    std::vector<unsigned long> v(4);
    for (int i = 0; i < 4; ++i) v[i] = static_cast<unsigned long>(d.Integer(l, 1 + i, 0, max));
    return v;
  };
  const auto npth0 = planes("npth0", 255), bkth0 = planes("bkth0", 255), loth = planes("loth", 255);
  const auto eeth0 = planes("eeth0", 1023), eeth1 = planes("eeth1", 255);
  unsigned char* level[4] = {r.levelC, r.levelM, r.levelY, r.levelK};
  unsigned char* edge[4] = {r.edgeC, r.edgeM, r.edgeY, r.edgeK};
  for (int p = 0; p < 4; ++p) {
    PutLE32(level[p], loth[p] | (bkth0[p] << 8) | (npth0[p] << 16));
    PutLE32(edge[p], eeth0[p] | (eeth1[p] << 16));
  }
  // Output word v: C in bits 16-23, M 8-15, Y 0-7, K 24-31.
  static const int kShift[4] = {16, 8, 0, 24};
  static const char* kPlane[4] = {"C", "M", "Y", "K"};
  unsigned long words[256] = {};
  for (int p = 0; p < 4; ++p) {
    const DescLine& l = f.Get(std::string("output ") + kPlane[p], head);
    PlaneIndex(d, l, l.words[1]);
    for (int v = 0; v < 256; ++v) words[v] |= static_cast<unsigned long>(OutputCurve(d, l, v)) << kShift[p];
  }
  for (int v = 0; v < 256; ++v) PutLE32(r.outTable[v], words[v]);
  const DescLine& pl = f.Get("pileheight_limit", head);
  d.ExpectWords(pl, 2);
  PutLE32(r.pileheight_limit, static_cast<unsigned long>(d.Integer(pl, 1, 0, 1020)));
  return std::string(reinterpret_cast<const char*>(&r), sizeof r);
}

std::string BuildDf(const Description& d, const DescLine& head, FieldSet& f) {
  icCF17KestinType r{};
  unsigned char(*coef[4])[2] = {r.coefC, r.coefM, r.coefY, r.coefK};
  static const char* kPlane[4] = {"C", "M", "Y", "K"};
  for (int p = 0; p < 4; ++p) {
    const DescLine& l = f.Get(std::string("coef ") + kPlane[p], head);
    d.ExpectWords(l, 6);
    long sum = 0;
    for (int i = 0; i < 4; ++i) {
      const long c = d.Integer(l, 2 + i, -32768, 32767);
      sum += i == 0 ? c : 2 * c;
      PutLE16(coef[p][i], static_cast<unsigned>(c & 0xFFFF));
    }
    // A filter whose taps do not add up to 1.0 would lighten or darken flat areas.
    if (sum != 4096) d.Fail(l, "the taps sum to " + std::to_string(sum) + ", not 4096 (centre + 2 x the others)");
  }
  return std::string(reinterpret_cast<const char*>(&r), sizeof r);
}

// The colorant model of a computed A_DLUT_PRINT table.
struct UcrModel {
  double blackStart;  // grey component (0..1) where black begins
  double ucr;         // share of the black taken out of C, M and Y
  double inkLimit;    // total of the four colorants, 1.0 = one full colorant
  double gamma;       // tone curve applied to every colorant
  double balance[3];  // C, M, Y factors for neutral colours (grey balance)
};

// Colorants (0..1) of an RGB node value.
void UcrColour(const UcrModel& m, double r, double g, double b, double out[4]) {
  double cmy[3] = {1.0 - r / 255.0, 1.0 - g / 255.0, 1.0 - b / 255.0};
  const double lo = std::min({cmy[0], cmy[1], cmy[2]}), hi = std::max({cmy[0], cmy[1], cmy[2]});
  // Black generation from the grey component, starting at blackStart.
  const double t = lo <= m.blackStart ? 0.0 : (lo - m.blackStart) / (1.0 - m.blackStart);
  const double k = lo * t;
  // How neutral the colour is: 1 for greys, 0 for pure primaries.
  const double neutral = hi > 0 ? lo / hi : 1.0;
  double sum = 0;
  for (int i = 0; i < 3; ++i) {
    double v = cmy[i] - m.ucr * k;
    v *= 1.0 - (1.0 - m.balance[i]) * neutral;
    v = std::pow(std::max(0.0, v), m.gamma);
    cmy[i] = v;
    sum += v;
  }
  const double kk = std::pow(k, m.gamma);
  if (sum + kk > m.inkLimit && sum > 0) {
    const double f = std::max(0.0, m.inkLimit - kk) / sum;
    for (double& v : cmy) v *= f;
  }
  out[0] = cmy[0];
  out[1] = cmy[1];
  out[2] = cmy[2];
  out[3] = kk;
}

std::string BuildDlut(const Description& d, const DescLine& head, FieldSet& f, const std::string& name) {
  icDlutPrintType r{};
  snprintf(reinterpret_cast<char*>(r.head), sizeof r.head, "DLUT %s", name.c_str());
  if (f.Has("grid")) {
    const DescLine& l = f.Get("grid", head);
    d.ExpectWords(l, 2);
    const std::vector<int> v = ReadGridFile(d.Resolve(l.words[1]), 4 * DLUT_ENTRY_COUNT);
    for (int i = 0; i < DLUT_ENTRY_COUNT; ++i)
      for (int c = 0; c < 4; ++c) r.entries[i][c] = static_cast<unsigned char>(v[4 * i + c]);
    return std::string(reinterpret_cast<const char*>(&r), sizeof r);
  }
  const DescLine& ml = f.Get("model", head);
  d.ExpectWords(ml, 2);
  if (ml.words[1] != "ucr") d.Fail(ml, "the only model is \"ucr\"");
  UcrModel m{};
  auto number = [&](const char* key, double lo, double hi) {
    const DescLine& l = f.Get(key, head);
    d.ExpectWords(l, 2);
    return d.Number(l, 1, lo, hi);
  };
  m.blackStart = number("black_start", 0.0, 0.95);
  m.ucr = number("ucr", 0.0, 1.0);
  m.inkLimit = number("ink_limit", 100.0, 400.0) / 100.0;
  m.gamma = number("gamma", 0.3, 3.0);
  const DescLine& bl = f.Get("balance", head);
  d.ExpectWords(bl, 4);
  for (int i = 0; i < 3; ++i) m.balance[i] = d.Number(bl, 1 + i, 0.5, 1.0);
  for (int b = 0; b < DLUT_GRID_NODES; ++b)
    for (int g = 0; g < DLUT_GRID_NODES; ++g)
      for (int rr = 0; rr < DLUT_GRID_NODES; ++rr) {
        // Node 16 stands for the value 255: a component of 255 lands on it.
        auto value = [](int i) { return std::min(255, 16 * i); };
        double out[4];
        UcrColour(m, value(rr), value(g), value(b), out);
        unsigned char* e = r.entries[289 * b + 17 * g + rr];
        for (int c = 0; c < 4; ++c) e[c] = static_cast<unsigned char>(std::lround(255.0 * std::clamp(out[c], 0.0, 1.0)));
      }
  return std::string(reinterpret_cast<const char*>(&r), sizeof r);
}

struct Model {
  std::string header;
  std::vector<Record> records;
  std::vector<BlockDesc> blocks;
};

// Lines from `from` up to the matching "end"; returns the index after it.
size_t CollectBody(const Description& d, size_t from, std::vector<const DescLine*>* body) {
  const auto& lines = d.lines();
  for (size_t i = from + 1; i < lines.size(); ++i) {
    const std::string& w = lines[i].words[0];
    if (w == "end") {
      d.ExpectWords(lines[i], 1);
      return i + 1;
    }
    if (w == "record" || w == "block" || w == "header") d.Fail(lines[i], "\"" + w + "\" inside a section: \"end\" missing");
    body->push_back(&lines[i]);
  }
  d.Fail(lines[from], "no \"end\" for this section");
}

Model Parse(const Description& d) {
  Model m;
  std::map<std::string, size_t> byName;
  std::set<std::string> seenIds;
  const auto& lines = d.lines();
  for (size_t i = 0; i < lines.size();) {
    const DescLine& l = lines[i];
    const std::string& w = l.words[0];
    if (w == "header") {
      d.ExpectWords(l, 2);
      if (l.words[1].size() > 24) d.Fail(l, "the header text has more than 24 characters");
      m.header = l.words[1];
      ++i;
    } else if (w == "record") {
      d.ExpectWords(l, 3);
      std::vector<const DescLine*> body;
      const size_t next = CollectBody(d, i, &body);
      FieldSet f(d, body);
      Record r{l.words[1], Kind::Trap, "", l.number};
      const std::string& kind = l.words[2];
      if (kind == "trap") r.kind = Kind::Trap, r.bytes = BuildTrap(d, l, f);
      else if (kind == "ee") r.kind = Kind::Ee, r.bytes = BuildEe(d, l, f);
      else if (kind == "df") r.kind = Kind::Df, r.bytes = BuildDf(d, l, f);
      else if (kind == "dlut") r.kind = Kind::Dlut, r.bytes = BuildDlut(d, l, f, r.name);
      else d.Fail(l, "record kind must be trap, ee, df or dlut");
      f.CheckAllUsed();
      if (!byName.emplace(r.name, m.records.size()).second) d.Fail(l, "record \"" + r.name + "\" defined twice");
      m.records.push_back(std::move(r));
      i = next;
    } else if (w == "block") {
      d.ExpectWords(l, 2);
      if (l.words[1].size() != DLB_PARAM_ID_LENGTH) d.Fail(l, "a parameter ID has 24 characters");
      BlockDesc b{l.words[1], FindDlbParamCode(l.words[1].c_str()), {}, "", l.number};
      if (DlbRecordSize(b.code) == 0)
        d.Fail(l, "\"" + b.id + "\" is not one of the loaded families (DLUT print, digital filter, trapping, edge enhancement)");
      if (!seenIds.insert(b.id).second) d.Fail(l, "block \"" + b.id + "\" given twice");
      std::vector<const DescLine*> body;
      const size_t next = CollectBody(d, i, &body);
      for (const DescLine* s : body) {
        const std::string& key = s->words[0];
        std::string name;
        if (key == "slot") {
          d.ExpectWords(*s, 3);
          const int slot = static_cast<int>(d.Integer(*s, 1, 0, DLB_TABLE_SLOTS - 1));
          if (!b.slots.emplace(slot, s->words[2]).second) d.Fail(*s, "slot " + std::to_string(slot) + " given twice");
          name = s->words[2];
        } else if (key == "default") {
          d.ExpectWords(*s, 2);
          if (!b.fallback.empty()) d.Fail(*s, "\"default\" given twice");
          b.fallback = name = s->words[1];
        } else {
          d.Fail(*s, "a block holds \"slot N NAME\" and \"default NAME\" lines");
        }
        auto it = byName.find(name);
        if (it == byName.end()) d.Fail(*s, "no record \"" + name + "\" defined above");
        if (m.records[it->second].kind != KindOfCode(b.code))
          d.Fail(*s, "record \"" + name + "\" is a " + KindName(m.records[it->second].kind) + " record, the block needs " +
                         KindName(KindOfCode(b.code)));
      }
      if (b.slots.empty()) d.Fail(l, "the block lists no slot");
      const int highest = b.slots.rbegin()->first;
      if (b.fallback.empty() && static_cast<int>(b.slots.size()) != highest + 1)
        d.Fail(l, "slots below " + std::to_string(highest) + " are missing and no \"default\" is given");
      m.blocks.push_back(std::move(b));
      i = next;
    } else {
      d.Fail(l, "expected \"header\", \"record\" or \"block\", found \"" + w + "\"");
    }
  }
  if (m.blocks.empty()) throw DescError(d.path() + ": no block");
  return m;
}

// Lays out the file: header, directory, then each block with the records
// its slots use.
std::string Build(const Model& m) {
  std::string out(DLB_HEADER_SIZE, '\0');
  memcpy(out.data(), m.header.data(), m.header.size());
  PutBE32(out, 24, m.blocks.size());
  const size_t dir = out.size();
  out.append(DLB_DIR_ENTRY_SIZE * m.blocks.size(), '\0');
  for (size_t bi = 0; bi < m.blocks.size(); ++bi) {
    const BlockDesc& b = m.blocks[bi];
    while (out.size() % 4) out.push_back('\0');
    const size_t at = out.size();
    memcpy(out.data() + dir + DLB_DIR_ENTRY_SIZE * bi, b.id.data(), DLB_PARAM_ID_LENGTH);
    PutBE32(out, dir + DLB_DIR_ENTRY_SIZE * bi + DLB_PARAM_ID_LENGTH, at);
    // Pool: each record the block uses, once, in order of first use.
    const int slotCount = b.slots.rbegin()->first + 1;
    std::vector<std::string> pool;
    std::vector<int> slotIndex(static_cast<size_t>(slotCount));
    for (int j = 0; j < slotCount; ++j) {
      auto it = b.slots.find(j);
      const std::string& name = it != b.slots.end() ? it->second : b.fallback;
      size_t k = 0;
      while (k < pool.size() && pool[k] != name) ++k;
      if (k == pool.size()) pool.push_back(name);
      slotIndex[static_cast<size_t>(j)] = static_cast<int>(k);
    }
    std::string head(24, '\0');
    memcpy(head.data(), b.id.data(), 24);
    out += head;
    AppendBE32(out, pool.size());
    const size_t offsets = out.size();
    out.append(4 * pool.size(), '\0');
    AppendBE32(out, static_cast<unsigned long>(slotCount));
    for (int k : slotIndex) AppendBE16(out, static_cast<unsigned>(k));
    for (size_t k = 0; k < pool.size(); ++k) {
      while (out.size() % 4) out.push_back('\0');
      PutBE32(out, offsets + 4 * k, out.size() - at);
      for (const Record& r : m.records)
        if (r.name == pool[k]) out += r.bytes;
    }
  }
  return out;
}

}  // namespace

int main(int argc, char* argv[]) {
  if (argc != 3) {
    fputs("ERROR: [Usage:] ztmkdevparam DESCRIPTION OUTPUT\n", stderr);
    return 1;
  }
  try {
    const Description d(argv[1]);
    const std::string bytes = Build(Parse(d));
    WriteFileReplacing(argv[2], bytes);
  } catch (const DescError& e) {
    fprintf(stderr, "ERROR: ztmkdevparam: %s\n", e.what());
    return 1;
  }
  return 0;
}
