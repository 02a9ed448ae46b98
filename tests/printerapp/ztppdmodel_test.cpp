// The Printer Application's model of a PPD: capabilities read from the
// sample PPD and the chain's options built from a job's IPP values.
#include "ztppdmodel.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>

namespace {

ZTModel Sample() {
  ZTModel m;
  std::string error;
  EXPECT_EQ(LoadZTModel(ZT_DATA_DIR "/korva-zt.ppd", &m, &error), 0) << error;
  return m;
}

bool HasMedia(const ZTModel& m, const std::string& pwg, const std::string& choice) {
  for (const auto& media : m.media)
    if (media.pwg == pwg) return media.choice == choice;
  return false;
}

TEST(ZTPPDModel, CapabilitiesOfTheSamplePPD) {
  const ZTModel m = Sample();
  EXPECT_EQ(m.driverName, "korva-zt");
  EXPECT_EQ(m.prefix, "QK");
  EXPECT_EQ(m.deviceId, "MFG:Korva;MDL:ZT C500;CMD:PJL;");
  EXPECT_EQ(m.media.size(), 16u);
  EXPECT_EQ(m.media[m.defaultMedia].pwg, "iso_a4_210x297mm");
  EXPECT_TRUE(HasMedia(m, "jpn_hagaki_100x148mm", "QKPostcard"));  // found by its size
  EXPECT_TRUE(HasMedia(m, "custom_reply-postcard_200.03x148.17mm", "QKReplyPostcard"));  // no PWG size
  ASSERT_EQ(m.resolutions.size(), 2u);
  EXPECT_EQ(m.resolutions[0].choice, "300x300");
  EXPECT_EQ(m.resolutions[m.defaultResolution].x, 600);
  EXPECT_EQ(m.sources.front().ipp, "auto");
  EXPECT_EQ(m.sources.back().ipp, "by-pass-tray");
  EXPECT_EQ(m.monoChoice, "Black");
  EXPECT_EQ(m.longEdgeChoice, "DuplexNoTumble");

  pappl_pr_driver_data_t data{};
  ipp_t* attrs = nullptr;
  FillZTDriverData(m, &data, &attrs);
  EXPECT_EQ(data.left_right, 424);  // 12 pt, rounded up to whole hundredths of mm
  EXPECT_EQ(data.num_vendor, static_cast<int>(m.vendor.size()));
  ipp_attribute_t* trapping = ippFindAttribute(attrs, "trapping-supported", IPP_TAG_BOOLEAN);
  ipp_attribute_t* filter = ippFindAttribute(attrs, "digital-filter-supported", IPP_TAG_KEYWORD);
  EXPECT_NE(trapping, nullptr);
  ASSERT_NE(filter, nullptr);
  EXPECT_EQ(ippGetCount(filter), 4);
  EXPECT_NE(ippFindAttribute(attrs, "skip-blank-pages-default", IPP_TAG_BOOLEAN), nullptr);
  ippDelete(attrs);
}

TEST(ZTPPDModel, JobOptionsFromIPPValues) {
  const ZTModel m = Sample();
  ipp_t* defaults = ippNew();
  ippAddBoolean(defaults, IPP_TAG_PRINTER, "trapping-default", 1);
  struct Case {
    void (*set)(pappl_pr_options_t*);
    const char* expected;  // one option of the string
  } cases[] = {
      {[](pappl_pr_options_t* o) { o->sides = PAPPL_SIDES_TWO_SIDED_LONG_EDGE; }, "Duplex=DuplexNoTumble"},
      {[](pappl_pr_options_t* o) { o->sides = PAPPL_SIDES_TWO_SIDED_SHORT_EDGE; }, "Duplex=DuplexTumble"},
      {[](pappl_pr_options_t* o) { o->print_color_mode = PAPPL_COLOR_MODE_MONOCHROME; }, "QKColorMode=Black"},
      {[](pappl_pr_options_t* o) { o->printer_resolution[0] = o->printer_resolution[1] = 300; }, "QKOutputMode=300x300"},
      {[](pappl_pr_options_t* o) { snprintf(o->media.source, sizeof(o->media.source), "tray-2"); }, "InputSlot=2ndTray"},
      {[](pappl_pr_options_t* o) { snprintf(o->media.type, sizeof(o->media.type), "labels"); }, "MediaType=LabelPaper"},
      // A size given only by its dimensions, within 2 points of Letter.
      {[](pappl_pr_options_t* o) { o->media.size_name[0] = '\0', o->media.size_width = 21590, o->media.size_length = 27940; }, "PageSize=Letter"},
      {[](pappl_pr_options_t* o) { o->num_vendor = cupsAddOption("digital-filter", "middle", o->num_vendor, &o->vendor); }, "QKDigitalFilter=Middle"},
      {[](pappl_pr_options_t* o) { o->num_vendor = cupsAddOption("trapping", "false", o->num_vendor, &o->vendor); }, "QKTrapping=False"},
      {[](pappl_pr_options_t*) {}, "QKTrapping=True"},  // the printer's default
      {[](pappl_pr_options_t*) {}, "QKColorMode=Color"},
  };
  for (const auto& c : cases) {
    pappl_pr_options_t o{};
    snprintf(o.media.size_name, sizeof(o.media.size_name), "iso_a4_210x297mm");
    o.sides = PAPPL_SIDES_ONE_SIDED;
    o.print_color_mode = PAPPL_COLOR_MODE_COLOR;
    o.printer_resolution[0] = o.printer_resolution[1] = 600;
    c.set(&o);
    const std::string options = " " + BuildZTJobOptions(m, &o, -1, defaults) + " ";
    EXPECT_NE(options.find(std::string(" ") + c.expected + " "), std::string::npos) << c.expected << " in" << options;
    cupsFreeOptions(o.num_vendor, o.vendor);
  }
  ippDelete(defaults);
}

TEST(ZTPPDModel, PPDsOfOtherDriversAreRefused) {
  std::ifstream in(ZT_DATA_DIR "/korva-zt.ppd");
  std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  const struct {
    std::string from, to, error;
  } cases[] = {{"*Manufacturer: \"Korva\"", "*Manufacturer: \"Other\"", "is not one of this driver's"},
               {"*QKFilterChain:", "*XXFilterChain:", "not a PPD of this driver"}};
  for (const auto& c : cases) {
    std::string changed = text;
    changed.replace(changed.find(c.from), c.from.size(), c.to);
    const std::string path = testing::TempDir() + "other.ppd";
    std::ofstream(path) << changed;
    ZTModel m;
    std::string error;
    EXPECT_EQ(LoadZTModel(path, &m, &error), -1);
    EXPECT_NE(error.find(c.error), std::string::npos) << error;
    std::remove(path.c_str());
  }
}

}  // namespace
