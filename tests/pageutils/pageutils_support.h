// Helpers shared by the page-utility tests.
#pragma once

#include <string>
#include <vector>

#include "runfilter.h"
#include "ztstreams.h"

// Runs one of the page utilities with the sample PPD.
inline FilterResult RunPageUtil(const std::string& program, const std::string& options, const std::string& input,
                                const std::string& copies = "1") {
  RunOptions opts;
  opts.ppd = DataPath("korva-zt.ppd");
  return RunFilter(FilterArgv(program, options, copies), input, opts);
}

// A stream of the given pages.
inline std::string StreamOf(const std::vector<std::pair<ZTRasterHeader, std::string>>& pages) {
  std::string s;
  for (const auto& [h, d] : pages) s += PageBytes(h, d);
  return s;
}
