// ztmkrgbdlut: builds an RGB DLUT file (RGB -> RGB tables of the colour
// conversion) from a text description.
//
// Usage: ztmkrgbdlut DESCRIPTION OUTPUT
//
//   table NAME identity              every node maps to itself
//   table NAME saturation F          colourfulness scaled by F around the grey of equal luma
//   table NAME gamma F               each component raised to the power F
//   table NAME grid FILE             4913 lines "R G B", red fastest, then green, blue
//   map N NAME                       DLUT number N (0, 1, ...) uses table NAME
//   default NAME                     for numbers below the highest that no "map" names
//
// Any error ends the run with one "ERROR:" line and status 1, leaving no
// output file.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "colour_desc.h"
#include "ztcolorlut.h"

namespace {

constexpr int kMaxDlutNumber = 255;

struct Table {
  std::string name;
  std::string bytes;  // the 20,420-byte table as the file holds it
};

// Node i of an axis stands for the value 16 i, the last node for 255.
int NodeValue(int i) { return std::min(255, 16 * i); }

std::string BuildTable(const Description& d, const DescLine& l) {
  const std::string& form = l.words.size() > 2 ? l.words[2] : "";
  std::vector<int> grid;
  double param = 1.0;
  if (form == "identity") {
    d.ExpectWords(l, 3);
  } else if (form == "saturation") {
    d.ExpectWords(l, 4);
    param = d.Number(l, 3, 0.0, 3.0);
  } else if (form == "gamma") {
    d.ExpectWords(l, 4);
    param = d.Number(l, 3, 0.1, 10.0);
  } else if (form == "grid") {
    d.ExpectWords(l, 4);
    grid = ReadGridFile(d.Resolve(l.words[3]), 3 * DLUT_ENTRY_COUNT);
  } else {
    d.Fail(l, "a table is \"identity\", \"saturation F\", \"gamma F\" or \"grid FILE\"");
  }
  std::string t(768, '\0');
  snprintf(t.data(), 768, "RGB %s", l.words[1].c_str());
  for (int b = 0; b < DLUT_GRID_NODES; ++b)
    for (int g = 0; g < DLUT_GRID_NODES; ++g)
      for (int r = 0; r < DLUT_GRID_NODES; ++r) {
        const int i = 289 * b + 17 * g + r;
        double in[3] = {double(NodeValue(r)), double(NodeValue(g)), double(NodeValue(b))};
        double out[3];
        if (!grid.empty()) {
          for (int c = 0; c < 3; ++c) out[c] = grid[3 * static_cast<size_t>(i) + c];
        } else if (form == "saturation") {
          const double y = 0.299 * in[0] + 0.587 * in[1] + 0.114 * in[2];
          for (int c = 0; c < 3; ++c) out[c] = y + param * (in[c] - y);
        } else if (form == "gamma") {
          for (int c = 0; c < 3; ++c) out[c] = 255.0 * std::pow(in[c] / 255.0, param);
        } else {
          for (int c = 0; c < 3; ++c) out[c] = in[c];
        }
        t.push_back('\0');  // byte 0 of the word is not used
        for (int c = 0; c < 3; ++c) t.push_back(static_cast<char>(std::clamp<long>(std::lround(out[c]), 0, 255)));
      }
  return t;
}

std::string Build(const Description& d) {
  std::vector<Table> tables;
  std::map<int, std::string> map;
  std::string fallback;
  auto find = [&](const DescLine& l, const std::string& name) {
    for (size_t k = 0; k < tables.size(); ++k)
      if (tables[k].name == name) return k + 1;  // positions count from 1
    d.Fail(l, "no table \"" + name + "\" defined above");
  };
  for (const DescLine& l : d.lines()) {
    const std::string& w = l.words[0];
    if (w == "table") {
      if (l.words.size() < 3) d.Fail(l, "\"table\" needs a name and a form");
      for (const Table& t : tables)
        if (t.name == l.words[1]) d.Fail(l, "table \"" + l.words[1] + "\" defined twice");
      tables.push_back({l.words[1], BuildTable(d, l)});
    } else if (w == "map") {
      d.ExpectWords(l, 3);
      const int n = static_cast<int>(d.Integer(l, 1, 0, kMaxDlutNumber));
      find(l, l.words[2]);
      if (!map.emplace(n, l.words[2]).second) d.Fail(l, "DLUT number " + std::to_string(n) + " mapped twice");
    } else if (w == "default") {
      d.ExpectWords(l, 2);
      if (!fallback.empty()) d.Fail(l, "\"default\" given twice");
      find(l, l.words[1]);
      fallback = l.words[1];
    } else {
      d.Fail(l, "expected \"table\", \"map\" or \"default\", found \"" + w + "\"");
    }
  }
  if (tables.empty() || map.empty()) throw DescError(d.path() + ": needs at least one table and one map line");
  const int count = map.rbegin()->first + 1;
  if (fallback.empty() && static_cast<int>(map.size()) != count)
    throw DescError(d.path() + ": DLUT numbers below " + std::to_string(count - 1) +
                    " are not mapped and no \"default\" is given");

  std::string out;
  AppendBE32(out, 0);
  AppendBE32(out, tables.size());
  const size_t offsets = out.size();
  out.append(4 * tables.size(), '\0');
  AppendBE32(out, static_cast<unsigned long>(count));
  for (int n = 0; n < count; ++n) {
    auto it = map.find(n);
    const std::string& name = it != map.end() ? it->second : fallback;
    for (size_t k = 0; k < tables.size(); ++k)
      if (tables[k].name == name) AppendBE32(out, k + 1);
  }
  for (size_t k = 0; k < tables.size(); ++k) {
    PutBE32(out, offsets + 4 * k, out.size());
    out.append(RGB_DLUT_BLOCK_HEAD_SIZE, '\0');
    out += tables[k].bytes;
  }
  return out;
}

}  // namespace

int main(int argc, char* argv[]) {
  if (argc != 3) {
    fputs("ERROR: [Usage:] ztmkrgbdlut DESCRIPTION OUTPUT\n", stderr);
    return 1;
  }
  try {
    const Description d(argv[1]);
    WriteFileReplacing(argv[2], Build(d));
  } catch (const DescError& e) {
    fprintf(stderr, "ERROR: ztmkrgbdlut: %s\n", e.what());
    return 1;
  }
  return 0;
}
