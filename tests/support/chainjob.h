// Helpers for tests that run a whole job the way CUPS drives the driver:
// CUPS raster made by libcupsimage's writer, and the sample model's PPD set
// up to run a chain of programs from the build folder.
#pragma once

#include <string>
#include <vector>

// A CUPS raster stream of 8-bit chunked RGB pages (each `width` x `height`,
// 600 dpi, A4 media, one copy), written by libcupsimage.
std::string RgbCupsRaster(const std::vector<std::string>& pages, unsigned width, unsigned height);

// The sample model's PPD text with its programs run from the build folder and
// its device parameter file taken from the source tree; `chain` replaces the
// filter chain when it is not empty.
std::string ChainPPDText(const std::string& chain = "");
