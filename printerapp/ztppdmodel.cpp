// Printer model from its PPD: capabilities for PAPPL and the IPP -> PPD
// choice maps used to build each job's options string.
#include "ztppdmodel.h"

#include "hbploption.h"

#include <cups/ppd.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <dirent.h>
#include <memory>

namespace {

struct PPDCloser {
  void operator()(ppd_file_t* ppd) const { ppdClose(ppd); }
};
using PPDHandle = std::unique_ptr<ppd_file_t, PPDCloser>;

// Manufacturers and the prefix of their PPD keywords.
struct ManufacturerPrefix {
  const char* manufacturer;
  const char* prefix;
};
const ManufacturerPrefix kManufacturers[] = {
    {"Pask", PASK_PREFIX}, {"Korva", KVA_PREFIX}, {"JOV", JOV_PREFIX},
    {"ZT", ZT_PREFIX},     {"TALMA", TALMA_PREFIX}, {"Talma", TALMA_PREFIX},
};

// Standard options that IPP attributes already cover, or that describe the
// raster CUPS sends rather than a printer feature.
const char* const kMappedOptions[] = {"PageSize", "PageRegion", "InputSlot", "MediaType", "Duplex",
                                      "Collate", "ColorModel", "Resolution"};

// Well-known tray names of PPDs and their PWG media-source keywords.
const ZTChoiceMap kSourceNames[] = {
    {"auto", "AutoSelect"}, {"tray-1", "1stTray"}, {"tray-2", "2ndTray"}, {"tray-3", "3rdTray"},
    {"tray-4", "4thTray"},  {"by-pass-tray", "BypassTray"}, {"manual", "PSI"},
};

// Media types with a PWG media-type keyword.
const ZTChoiceMap kTypeNames[] = {
    {"auto", "Default"},
    {"stationery", "Stationary"},
    {"stationery-fine", "FinePaper"},
    {"stationery-recycled", "Recycled"},
    {"stationery-heavyweight", "ThickPaper"},
    {"stationery-coated", "CoatingPaper1"},
    {"labels", "LabelPaper"},
    {"transparency", "Transparency"},
    {"envelope", "Envelope"},
    {"cardstock", "Postcard"},
};

// Vendor attribute names that read better than the keyword's own.
const ZTChoiceMap kVendorNames[] = {
    {"skip-blank-pages", "Skip"},
};

int HundredthsMM(float points) { return static_cast<int>(std::lround(points * 2540.0 / 72.0)); }
int HundredthsMMUp(float points) { return static_cast<int>(std::ceil(points * 2540.0 / 72.0 - 0.01)); }

// An IPP keyword from a PPD choice name: lower case, other characters "-".
std::string KeywordFromChoice(const char* choice) {
  std::string out;
  for (const char* p = choice; *p; ++p) {
    const auto c = static_cast<unsigned char>(*p);
    if (std::isalnum(c) || c == '-' || c == '_' || c == '.')
      out += static_cast<char>(std::tolower(c));
    else
      out += '-';
  }
  return out.empty() ? std::string("none") : out;
}

// The IPP name a table gives a PPD choice, or null.
const char* FindName(const ZTChoiceMap* table, size_t n, const char* choice) {
  for (size_t i = 0; i < n; ++i)
    if (table[i].choice == choice) return table[i].ipp.c_str();
  return nullptr;
}

bool Contains(const std::vector<ZTChoiceMap>& list, const std::string& ipp) {
  return std::any_of(list.begin(), list.end(), [&](const ZTChoiceMap& m) { return m.ipp == ipp; });
}

// Maps each choice of an option to an IPP keyword, the table's name first.
std::vector<ZTChoiceMap> MapChoices(ppd_option_t* option, const ZTChoiceMap* table, size_t n,
                                    size_t max, std::string* defaultIpp) {
  std::vector<ZTChoiceMap> out;
  if (!option) return out;
  for (int i = 0; i < option->num_choices && out.size() < max; ++i) {
    const char* choice = option->choices[i].choice;
    const char* known = table ? FindName(table, n, choice) : nullptr;
    std::string ipp = known ? known : KeywordFromChoice(choice);
    // Tray variants ("1stTray-S") take the tray's name when it is still free.
    if (!known && table == kSourceNames) {
      for (size_t t = 0; t < n && !known; ++t) {
        const std::string& base = kSourceNames[t].choice;
        if (!strncmp(choice, base.c_str(), base.size()) && choice[base.size()] == '-') ipp = kSourceNames[t].ipp;
      }
    }
    if (Contains(out, ipp)) ipp = KeywordFromChoice(choice);
    if (Contains(out, ipp)) continue;
    out.push_back({ipp, choice});
    if (defaultIpp && !strcmp(choice, option->defchoice)) *defaultIpp = ipp;
  }
  if (defaultIpp && defaultIpp->empty() && !out.empty()) *defaultIpp = out.front().ipp;
  return out;
}

const char* ChoiceFor(const std::vector<ZTChoiceMap>& list, const char* ipp) {
  for (const auto& m : list)
    if (m.ipp == ipp) return m.choice.c_str();
  return nullptr;
}

bool IsMappedOption(const ZTModel& m, const char* keyword) {
  for (const char* k : kMappedOptions)
    if (!strcmp(k, keyword)) return true;
  return keyword == m.colourKeyword || keyword == m.resolutionKeyword;
}

void ReadMedia(ppd_file_t* ppd, ZTModel* m) {
  ppd_option_t* option = ppdFindOption(ppd, "PageSize");
  if (!option) return;
  for (int i = 0; i < option->num_choices && m->media.size() < PAPPL_MAX_MEDIA; ++i) {
    const char* choice = option->choices[i].choice;
    ppd_size_t* size = ppdPageSize(ppd, choice);
    if (!size || !strcmp(choice, "Custom")) continue;
    ZTMediaSize media;
    media.choice = choice;
    media.widthPt = size->width;
    media.lengthPt = size->length;
    media.left = size->left;
    media.bottom = size->bottom;
    media.right = size->right;
    media.top = size->top;
    media.width = HundredthsMM(size->width);
    media.length = HundredthsMM(size->length);
    // The PPD's own name when CUPS knows it for this size, else the size's
    // PWG name ("QKPostcard" is jpn_hagaki).
    pwg_media_t* pwg = pwgMediaForPPD(choice);
    if (!pwg || std::abs(pwg->width - media.width) > 71 || std::abs(pwg->length - media.length) > 71)
      pwg = pwgMediaForSize(media.width, media.length);
    if (pwg && pwg->pwg && strncmp(pwg->pwg, "custom_", 7) != 0) {
      media.pwg = pwg->pwg;
    } else {
      // A size without a PWG name: a custom name made of the PPD's.
      std::string bare = choice;
      if (bare.compare(0, m->prefix.size(), m->prefix) == 0) bare.erase(0, m->prefix.size());
      char name[128];
      if (!pwgFormatSizeName(name, sizeof(name), "custom", ZTIppName(bare).c_str(), media.width, media.length, nullptr))
        continue;
      media.pwg = name;
    }
    bool duplicate = false;
    for (const auto& other : m->media) duplicate |= other.pwg == media.pwg;
    if (duplicate) continue;
    if (!strcmp(choice, option->defchoice)) m->defaultMedia = m->media.size();
    m->media.push_back(media);
  }
}

void ReadResolutions(ppd_file_t* ppd, ZTModel* m) {
  const std::string keyword = m->prefix + "OutputMode";
  if (ppd_option_t* option = ppdFindOption(ppd, keyword.c_str())) {
    m->resolutionKeyword = keyword;
    for (int i = 0; i < option->num_choices; ++i) {
      ZTResolution r;
      if (sscanf(option->choices[i].choice, "%dx%d", &r.x, &r.y) != 2 || r.x <= 0 || r.y <= 0) continue;
      r.choice = option->choices[i].choice;
      m->resolutions.push_back(r);
    }
  }
  if (m->resolutions.empty()) {
    ZTResolution r{600, 600, ""};
    if (ppd_attr_t* attr = ppdFindAttr(ppd, "DefaultResolution", nullptr); attr && attr->value) {
      if (sscanf(attr->value, "%dx%d", &r.x, &r.y) != 2) r.y = r.x = atoi(attr->value);
      if (r.x <= 0 || r.y <= 0) r.x = r.y = 600;
    }
    m->resolutions.push_back(r);
    m->resolutionKeyword.clear();
  }
  std::string def;
  if (ppd_option_t* option = m->resolutionKeyword.empty() ? nullptr : ppdFindOption(ppd, keyword.c_str())) def = option->defchoice;
  std::sort(m->resolutions.begin(), m->resolutions.end(),
            [](const ZTResolution& a, const ZTResolution& b) { return a.x * a.y < b.x * b.y; });
  if (m->resolutions.size() > PAPPL_MAX_RESOLUTION) m->resolutions.resize(PAPPL_MAX_RESOLUTION);
  m->defaultResolution = m->resolutions.size() - 1;
  for (size_t i = 0; i < m->resolutions.size(); ++i)
    if (m->resolutions[i].choice == def) m->defaultResolution = i;
}

void ReadColourAndDuplex(ppd_file_t* ppd, ZTModel* m) {
  m->colour = ppd->color_device != 0;
  const std::string keyword = m->prefix + "ColorMode";
  if (ppd_option_t* option = ppdFindOption(ppd, keyword.c_str())) {
    m->colourKeyword = keyword;
    for (int i = 0; i < option->num_choices; ++i) {
      const char* choice = option->choices[i].choice;
      if (!strcmp(choice, "Color"))
        m->colourChoice = choice;
      else if (m->monoChoice.empty())
        m->monoChoice = choice;
    }
    if (m->colourChoice.empty()) m->colour = false;
  }
  if (ppd_option_t* option = ppdFindOption(ppd, "Duplex")) {
    ppd_choice_t* unit = ppdFindMarkedChoice(ppd, "Option2");
    const bool installed = !unit || strcmp(unit->choice, "False") != 0;
    for (int i = 0; installed && i < option->num_choices; ++i) {
      const char* choice = option->choices[i].choice;
      if (!strcmp(choice, "DuplexNoTumble"))
        m->longEdgeChoice = choice;
      else if (!strcmp(choice, "DuplexTumble"))
        m->shortEdgeChoice = choice;
      else if (m->simplexChoice.empty())
        m->simplexChoice = choice;
    }
  }
  m->hasCollate = ppdFindOption(ppd, "Collate") != nullptr;
}

void ReadVendorOptions(ppd_file_t* ppd, ZTModel* m) {
  for (int g = 0; g < ppd->num_groups; ++g) {
    ppd_group_t* group = ppd->groups + g;
    if (!strcmp(group->name, "InstallableOptions")) continue;
    for (int o = 0; o < group->num_options && m->vendor.size() < PAPPL_MAX_VENDOR; ++o) {
      ppd_option_t* option = group->options + o;
      if (IsMappedOption(*m, option->keyword) || option->num_choices < 1) continue;
      ZTVendorOption v;
      v.keyword = option->keyword;
      v.text = option->text[0] ? option->text : option->keyword;
      std::string bare = v.keyword;
      if (!m->prefix.empty() && bare.compare(0, m->prefix.size(), m->prefix) == 0) bare.erase(0, m->prefix.size());
      const char* known = FindName(kVendorNames, std::size(kVendorNames), bare.c_str());
      v.ipp = known ? known : ZTIppName(bare);
      v.boolean = option->ui == PPD_UI_BOOLEAN && ppdFindChoice(option, "True") && ppdFindChoice(option, "False");
      if (v.boolean) {
        v.values = {{"true", "True"}, {"false", "False"}};
        v.defaultIpp = !strcmp(option->defchoice, "True") ? "true" : "false";
      } else {
        v.values = MapChoices(option, nullptr, 0, 64, &v.defaultIpp);
      }
      bool duplicate = false;
      for (const auto& other : m->vendor) duplicate |= other.ipp == v.ipp;
      if (!duplicate && !v.values.empty()) m->vendor.push_back(std::move(v));
    }
  }
}

}  // namespace

std::string ZTIppName(const std::string& keyword) {
  std::string out;
  for (size_t i = 0; i < keyword.size(); ++i) {
    const auto c = static_cast<unsigned char>(keyword[i]);
    const auto prev = i ? static_cast<unsigned char>(keyword[i - 1]) : 0;
    if (std::isupper(c) && i && (std::islower(prev) || std::isdigit(prev))) out += '-';
    if (std::isalnum(c))
      out += static_cast<char>(std::tolower(c));
    else if (!out.empty() && out.back() != '-')
      out += '-';
  }
  return out;
}

int LoadZTModel(const std::string& ppdPath, ZTModel* m, std::string* error) {
  PPDHandle ppd(ppdOpenFile(ppdPath.c_str()));
  if (!ppd) {
    int line = 0;
    *error = ppdPath + ": " + ppdErrorString(ppdLastError(&line)) + " (line " + std::to_string(line) + ")";
    return -1;
  }
  ppdMarkDefaults(ppd.get());
  m->ppdPath = ppdPath;
  const char* manufacturer = ppd->manufacturer ? ppd->manufacturer : "";
  m->manufacturer = manufacturer;
  for (const auto& row : kManufacturers)
    if (!strcmp(row.manufacturer, manufacturer)) m->prefix = row.prefix;
  if (m->prefix.empty()) {
    *error = ppdPath + ": the manufacturer \"" + manufacturer + "\" is not one of this driver's";
    return -1;
  }
  if (!ppdFindAttr(ppd.get(), (m->prefix + "FilterChain").c_str(), nullptr)) {
    *error = ppdPath + ": no *" + m->prefix + "FilterChain, not a PPD of this driver";
    return -1;
  }
  std::string name = ppdPath.substr(ppdPath.find_last_of('/') + 1);
  if (name.size() > 4 && name.compare(name.size() - 4, 4, ".ppd") == 0) name.resize(name.size() - 4);
  m->driverName = name;
  m->description = ppd->modelname ? ppd->modelname : (ppd->nickname ? ppd->nickname : name.c_str());
  if (ppd_attr_t* id = ppdFindAttr(ppd.get(), "1284DeviceID", nullptr); id && id->value && *id->value) {
    m->deviceId = id->value;
  } else {
    std::string model = m->description;
    if (model.compare(0, m->manufacturer.size() + 1, m->manufacturer + " ") == 0) model.erase(0, m->manufacturer.size() + 1);
    m->deviceId = "MFG:" + m->manufacturer + ";MDL:" + model + ";CMD:PJL;";
  }

  ReadMedia(ppd.get(), m);
  if (m->media.empty()) {
    *error = ppdPath + ": no page size";
    return -1;
  }
  m->sources = MapChoices(ppdFindOption(ppd.get(), "InputSlot"), kSourceNames, std::size(kSourceNames),
                          PAPPL_MAX_SOURCE, &m->defaultSource);
  m->types = MapChoices(ppdFindOption(ppd.get(), "MediaType"), kTypeNames, std::size(kTypeNames),
                        PAPPL_MAX_TYPE, &m->defaultType);
  ReadResolutions(ppd.get(), m);
  ReadColourAndDuplex(ppd.get(), m);
  ReadVendorOptions(ppd.get(), m);
  return 0;
}

std::vector<ZTModel> LoadZTModels(const std::vector<std::string>& directories, bool quiet,
                                  std::vector<std::string>* errors) {
  std::vector<ZTModel> models;
  for (const auto& directory : directories) {
    std::vector<std::string> names;
    if (DIR* dir = opendir(directory.c_str())) {
      while (dirent* entry = readdir(dir)) {
        const size_t n = strlen(entry->d_name);
        if (n > 4 && !strcmp(entry->d_name + n - 4, ".ppd")) names.push_back(entry->d_name);
      }
      closedir(dir);
    } else if (!quiet) {
      errors->push_back(directory + ": cannot read the folder");
    }
    std::sort(names.begin(), names.end());
    for (const auto& name : names) {
      ZTModel model;
      std::string error;
      if (LoadZTModel(directory + "/" + name, &model, &error) != 0) {
        if (!quiet) errors->push_back(error);
        continue;
      }
      const bool known = std::any_of(models.begin(), models.end(),
                                     [&](const ZTModel& m) { return m.driverName == model.driverName; });
      if (!known) models.push_back(std::move(model));
    }
  }
  return models;
}

void FillZTDriverData(const ZTModel& m, pappl_pr_driver_data_t* d, ipp_t** attrs) {
  d->format = "application/vnd.cups-raster";
  snprintf(d->make_and_model, sizeof(d->make_and_model), "%s", m.description.c_str());
  d->ppm = 20;
  d->ppm_color = m.colour ? 20 : 0;
  d->kind = PAPPL_KIND_DOCUMENT | PAPPL_KIND_ENVELOPE | PAPPL_KIND_POSTCARD;
  d->orient_default = IPP_ORIENT_PORTRAIT;
  d->color_supported = PAPPL_COLOR_MODE_AUTO | PAPPL_COLOR_MODE_MONOCHROME | (m.colour ? PAPPL_COLOR_MODE_COLOR : 0);
  d->color_default = PAPPL_COLOR_MODE_AUTO;
  d->content_default = PAPPL_CONTENT_AUTO;
  d->quality_default = IPP_QUALITY_NORMAL;
  d->scaling_default = PAPPL_SCALING_AUTO;
  d->raster_types = PAPPL_PWG_RASTER_TYPE_SRGB_8 | PAPPL_PWG_RASTER_TYPE_SGRAY_8 | PAPPL_PWG_RASTER_TYPE_RGB_8;
  d->force_raster_type = PAPPL_PWG_RASTER_TYPE_NONE;
  d->sides_supported = PAPPL_SIDES_ONE_SIDED;
  d->sides_default = PAPPL_SIDES_ONE_SIDED;
  d->duplex = PAPPL_DUPLEX_NONE;
  if (!m.longEdgeChoice.empty() || !m.shortEdgeChoice.empty()) {
    // The chain turns back sides itself: pages come in reading order.
    d->duplex = PAPPL_DUPLEX_NORMAL;
    if (!m.longEdgeChoice.empty()) d->sides_supported |= PAPPL_SIDES_TWO_SIDED_LONG_EDGE;
    if (!m.shortEdgeChoice.empty()) d->sides_supported |= PAPPL_SIDES_TWO_SIDED_SHORT_EDGE;
  }
  d->finishings = PAPPL_FINISHINGS_NONE;

  d->num_resolution = static_cast<int>(m.resolutions.size());
  for (size_t i = 0; i < m.resolutions.size(); ++i) {
    d->x_resolution[i] = m.resolutions[i].x;
    d->y_resolution[i] = m.resolutions[i].y;
  }
  d->x_default = m.resolutions[m.defaultResolution].x;
  d->y_default = m.resolutions[m.defaultResolution].y;

  // PAPPL has one pair of margins for every size: the widest of the PPD's.
  d->borderless = false;
  d->left_right = 0;
  d->bottom_top = 0;
  d->num_media = 0;
  for (const auto& media : m.media) {
    d->left_right = std::max({d->left_right, HundredthsMMUp(media.left), HundredthsMMUp(media.widthPt - media.right)});
    d->bottom_top = std::max({d->bottom_top, HundredthsMMUp(media.bottom), HundredthsMMUp(media.lengthPt - media.top)});
    d->media[d->num_media++] = media.pwg.c_str();
  }

  d->num_source = 0;
  for (const auto& source : m.sources) d->source[d->num_source++] = source.ipp.c_str();
  d->num_type = 0;
  for (const auto& type : m.types) d->type[d->num_type++] = type.ipp.c_str();

  const ZTMediaSize& def = m.media[m.defaultMedia];
  pappl_media_col_t media{};
  media.size_width = def.width;
  media.size_length = def.length;
  snprintf(media.size_name, sizeof(media.size_name), "%s", def.pwg.c_str());
  media.left_margin = media.right_margin = d->left_right;
  media.bottom_margin = media.top_margin = d->bottom_top;
  snprintf(media.source, sizeof(media.source), "%s", m.sources.empty() ? "auto" : m.defaultSource.c_str());
  snprintf(media.type, sizeof(media.type), "%s", m.types.empty() ? "stationery" : m.defaultType.c_str());
  d->media_default = media;
  for (int i = 0; i < d->num_source; ++i) {
    d->media_ready[i] = media;
    snprintf(d->media_ready[i].source, sizeof(media.source), "%s", d->source[i]);
  }

  d->num_vendor = 0;
  ipp_t* a = ippNew();
  for (const auto& v : m.vendor) {
    d->vendor[d->num_vendor++] = v.ipp.c_str();
    const std::string supported = v.ipp + "-supported", dflt = v.ipp + "-default";
    if (v.boolean) {
      ippAddBoolean(a, IPP_TAG_PRINTER, supported.c_str(), 1);
      ippAddBoolean(a, IPP_TAG_PRINTER, dflt.c_str(), v.defaultIpp == "true");
    } else {
      std::vector<const char*> values;
      for (const auto& value : v.values) values.push_back(value.ipp.c_str());
      ippAddStrings(a, IPP_TAG_PRINTER, IPP_TAG_KEYWORD, supported.c_str(), static_cast<int>(values.size()),
                    nullptr, values.data());
      ippAddString(a, IPP_TAG_PRINTER, IPP_TAG_KEYWORD, dflt.c_str(), nullptr, v.defaultIpp.c_str());
    }
  }
  // Attributes IPP Everywhere clients and their tests expect beside PAPPL's.
  static const char* const kIntents[] = {"auto", "relative", "perceptual"};
  ippAddString(a, IPP_TAG_PRINTER, IPP_TAG_KEYWORD, "print-rendering-intent-default", nullptr, "auto");
  ippAddStrings(a, IPP_TAG_PRINTER, IPP_TAG_KEYWORD, "print-rendering-intent-supported", 3, nullptr, kIntents);
  static const char* const kOverrides[] = {"document-number", "pages"};
  ippAddStrings(a, IPP_TAG_PRINTER, IPP_TAG_KEYWORD, "overrides-supported", 2, nullptr, kOverrides);
  ippAddBoolean(a, IPP_TAG_PRINTER, "preferred-attributes-supported", 0);
  *attrs = a;
}

const ZTMediaSize* FindZTMediaSize(const ZTModel& m, const pappl_media_col_t& media) {
  for (const auto& size : m.media)
    if (size.pwg == media.size_name) return &size;
  // A size given by its dimensions: the PPD size within 2 points.
  const double w = media.size_width * 72.0 / 2540.0, l = media.size_length * 72.0 / 2540.0;
  for (const auto& size : m.media)
    if (std::fabs(size.widthPt - w) <= 2.0 && std::fabs(size.lengthPt - l) <= 2.0) return &size;
  return nullptr;
}

std::string BuildZTJobOptions(const ZTModel& m, const pappl_pr_options_t* o, int collate, ipp_t* defaults) {
  std::string out;
  auto add = [&out](const std::string& key, const char* value) {
    if (!value || !*value) return;
    if (!out.empty()) out += ' ';
    out += key + '=' + value;
  };
  const ZTMediaSize* size = FindZTMediaSize(m, o->media);
  add("PageSize", (size ? size : &m.media[m.defaultMedia])->choice.c_str());
  add("InputSlot", ChoiceFor(m.sources, o->media.source));
  add("MediaType", ChoiceFor(m.types, o->media.type));
  if (o->sides == PAPPL_SIDES_TWO_SIDED_LONG_EDGE)
    add("Duplex", m.longEdgeChoice.c_str());
  else if (o->sides == PAPPL_SIDES_TWO_SIDED_SHORT_EDGE)
    add("Duplex", m.shortEdgeChoice.c_str());
  else
    add("Duplex", m.simplexChoice.c_str());
  if (!m.colourKeyword.empty()) {
    const bool mono = !m.colour || (o->print_color_mode & (PAPPL_COLOR_MODE_MONOCHROME | PAPPL_COLOR_MODE_BI_LEVEL |
                                                           PAPPL_COLOR_MODE_AUTO_MONOCHROME | PAPPL_COLOR_MODE_PROCESS_MONOCHROME));
    add(m.colourKeyword, mono ? m.monoChoice.c_str() : m.colourChoice.c_str());
  }
  if (!m.resolutionKeyword.empty()) {
    for (const auto& r : m.resolutions)
      if (r.x == o->printer_resolution[0] && r.y == o->printer_resolution[1]) add(m.resolutionKeyword, r.choice.c_str());
  }
  if (m.hasCollate && collate >= 0) add("Collate", collate ? "True" : "False");
  for (const auto& v : m.vendor) {
    const char* value = cupsGetOption(v.ipp.c_str(), o->num_vendor, o->vendor);
    char text[256];
    if (!value && defaults) {
      ipp_attribute_t* attr = ippFindAttribute(defaults, (v.ipp + "-default").c_str(), IPP_TAG_ZERO);
      if (attr && ippAttributeString(attr, text, sizeof(text)) > 0) value = text;
    }
    if (value) add(v.keyword, ChoiceFor(v.values, value));
  }
  return out;
}
