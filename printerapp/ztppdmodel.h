// One printer model of the Printer Application, read from its PPD: what the
// printer can do (media sizes with their margins, sources, types, duplex,
// colour, resolutions) in IPP terms, and the way back from a job's IPP values
// to the PPD choices that the driver chain reads.
#pragma once

#include <pappl/pappl.h>

#include <string>
#include <vector>

// One IPP value and the PPD choice it stands for.
struct ZTChoiceMap {
  std::string ipp;
  std::string choice;
};

// A PPD page size as IPP media.
struct ZTMediaSize {
  std::string pwg;     // PWG self-describing name ("iso_a4_210x297mm")
  std::string choice;  // PageSize choice ("A4")
  int width = 0;       // hundredths of millimetres
  int length = 0;
  // The PPD's numbers in points: page width and length, imageable area.
  float widthPt = 0, lengthPt = 0, left = 0, bottom = 0, right = 0, top = 0;
};

struct ZTResolution {
  int x = 0, y = 0;
  std::string choice;  // choice of the resolution option, empty when the PPD has none
};

// A driver feature offered as a vendor IPP attribute (printer default NAME-default,
// job attribute NAME): one PPD option that no standard IPP attribute covers.
struct ZTVendorOption {
  std::string ipp;       // attribute name ("trapping")
  std::string keyword;   // PPD option keyword ("QKTrapping")
  std::string text;      // the PPD's label ("Trapping")
  bool boolean = false;  // true/false for the PPD's True/False choices
  std::vector<ZTChoiceMap> values;  // keyword values (boolean: "true"/"false")
  std::string defaultIpp;
};

struct ZTModel {
  std::string driverName;   // the PPD's file name without ".ppd"
  std::string description;  // "Korva ZT C500"
  std::string deviceId;     // IEEE 1284 device ID
  std::string ppdPath;      // the PPD as installed
  std::string manufacturer;
  std::string prefix;       // manufacturer prefix of the driver's keywords ("QK")
  bool colour = false;

  std::vector<ZTMediaSize> media;
  size_t defaultMedia = 0;
  std::vector<ZTChoiceMap> sources;  // InputSlot
  std::string defaultSource;
  std::vector<ZTChoiceMap> types;    // MediaType
  std::string defaultType;

  std::string colourKeyword;  // prefixed ColorMode option, empty when none
  std::string colourChoice;   // its colour choice ("Color")
  std::string monoChoice;     // its monochrome choice ("Black")

  std::string resolutionKeyword;  // prefixed OutputMode option, empty when none
  std::vector<ZTResolution> resolutions;  // ascending
  size_t defaultResolution = 0;

  std::string simplexChoice, longEdgeChoice, shortEdgeChoice;  // Duplex choices (empty: none)
  bool hasCollate = false;

  std::vector<ZTVendorOption> vendor;
};

// Reads one PPD into a model. 0, or -1 with *error set.
int LoadZTModel(const std::string& ppdPath, ZTModel* model, std::string* error);

// Every "*.ppd" in the folders, sorted by name within each, one model each
// (the first of a name wins). PPDs that cannot be read, or that are not this
// driver's, are left out and reported in *errors unless quiet.
std::vector<ZTModel> LoadZTModels(const std::vector<std::string>& directories, bool quiet,
                                  std::vector<std::string>* errors);

// Fills PAPPL's driver data (callbacks are the caller's) and the extra printer
// attributes from a model. The strings stay owned by the model.
void FillZTDriverData(const ZTModel& model, pappl_pr_driver_data_t* data, ipp_t** attrs);

// The CUPS options string for the driver chain from a job's print options:
// page size, source, type, duplex, colour mode, resolution, collation and
// the driver features (the job's, else the printer's NAME-default in
// defaults, which may be null). collate is -1 when the job did not say.
std::string BuildZTJobOptions(const ZTModel& model, const pappl_pr_options_t* options, int collate, ipp_t* defaults);

// The PPD page size a job's media maps to (by name, else by size within 2
// points), or null.
const ZTMediaSize* FindZTMediaSize(const ZTModel& model, const pappl_media_col_t& media);

// The IPP name of a PPD keyword without its manufacturer prefix:
// "EdgeEnhance" -> "edge-enhance".
std::string ZTIppName(const std::string& keyword);
