#include "chainjob.h"

#include <cups/raster.h>
#include <fcntl.h>
#include <unistd.h>

#include <stdexcept>

#include "runfilter.h"

std::string RgbCupsRaster(const std::vector<std::string>& pages, unsigned width, unsigned height) {
  TempFile file;
  const int fd = open(file.path().c_str(), O_WRONLY | O_TRUNC);
  if (fd < 0) throw std::runtime_error("cannot open the raster file");
  cups_raster_t* raster = cupsRasterOpen(fd, CUPS_RASTER_WRITE);
  if (!raster) throw std::runtime_error("cupsRasterOpen failed");
  for (const std::string& pixels : pages) {
    cups_page_header2_t h{};
    h.cupsWidth = width;
    h.cupsHeight = height;
    h.cupsBitsPerColor = 8;
    h.cupsBitsPerPixel = 24;
    h.cupsBytesPerLine = 3 * width;
    h.cupsColorOrder = CUPS_ORDER_CHUNKED;
    h.cupsColorSpace = CUPS_CSPACE_RGB;
    h.HWResolution[0] = h.HWResolution[1] = 600;
    h.PageSize[0] = 595;
    h.PageSize[1] = 842;
    h.NumCopies = 1;
    if (!cupsRasterWriteHeader2(raster, &h) ||
        cupsRasterWritePixels(raster, reinterpret_cast<unsigned char*>(const_cast<char*>(pixels.data())),
                              static_cast<unsigned>(pixels.size())) != pixels.size())
      throw std::runtime_error("writing CUPS raster failed");
  }
  cupsRasterClose(raster);
  close(fd);
  return file.Read();
}

std::string ChainPPDText(const std::string& chain) {
  std::string text = ReadFileText(DataPath("korva-zt.ppd"));
  const std::string bin = ProgramPath("");
  auto replaceLine = [&](const std::string& key, const std::string& line) {
    const size_t at = text.find(key);
    if (at == std::string::npos) throw std::runtime_error("the sample PPD has no " + key);
    text.replace(at, text.find('\n', at) - at, line);
  };
  replaceLine("*QKFilterDir:", "*QKFilterDir: \"" + bin.substr(0, bin.size() - 1) + "\"");
  replaceLine("*QKDlutFilePath:", "*QKDlutFilePath: \"" + DataPath("korva-zt.dlb") + "\"");
  if (!chain.empty()) replaceLine("*QKFilterChain:", "*QKFilterChain: \"" + chain + "\"");
  return text;
}
