// ztprinterapp: an IPP Everywhere Printer Application on PAPPL for the
// driver's printers. One driver per PPD; each job runs the installed driver
// chain and sends its output to the printer's device.
//
// Besides PAPPL's own server options it reads, in the system callback:
//   -o state-file=FILE        printers and settings (loaded at start, saved on change)
//   -o ppd-directory=DIR      the models: one driver per *.ppd in DIR
//   -o filter-directory=DIR   where ztmainfilter and the chain's programs are run from
#include "ztchainjob.h"
#include "ztppdmodel.h"

#include <pappl/pappl.h>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <dirent.h>
#include <map>
#include <mutex>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#ifndef ZT_MODEL_TREE
#define ZT_MODEL_TREE "/usr/share/cups/model"
#endif
#ifndef ZT_FILTER_DIR
#define ZT_FILTER_DIR "/usr/lib/cups/filter"
#endif
#ifndef ZT_VERSION
#define ZT_VERSION "1.0"
#endif

namespace {

const char kFooter[] = "ZT Printer Application: IPP Everywhere for the ZT colour laser printers.";

// Process-wide state, set up once in the system callback before any printer exists.
struct ZTApp {
  std::string ppdDirectory;      // empty: the installed PPDs
  std::string filterDirectory;  // empty: the installed chain
  std::string stateFile;
  std::string spoolDirectory;
  std::vector<ZTModel> models;
  std::vector<pappl_pr_driver_t> drivers;
  ZTChainConfig chain;
  std::mutex ppdLock;
  std::map<std::string, std::string> runPPDs;  // driver name -> PPD the chain reads
  bool serving = false;                         // the system is served (not just listed)
};
ZTApp g_app;

const ZTModel* FindModel(const char* driverName) {
  for (const auto& m : g_app.models)
    if (driverName && m.driverName == driverName) return &m;
  return nullptr;
}

// The PPD the chain reads: the installed one, or with filter-directory a
// copy in the spool folder whose filter folder is that directory.
std::string RunPPD(const ZTModel& m) {
  if (g_app.filterDirectory.empty()) return m.ppdPath;
  std::lock_guard<std::mutex> lock(g_app.ppdLock);
  auto found = g_app.runPPDs.find(m.driverName);
  if (found != g_app.runPPDs.end()) return found->second;
  const std::string path = g_app.spoolDirectory + "/" + m.driverName + ".ppd";
  const std::string key = "*" + m.prefix + "FilterDir:";
  FILE* in = fopen(m.ppdPath.c_str(), "r");
  const std::string tmp = path + ".tmp";
  FILE* out = in ? fopen(tmp.c_str(), "w") : nullptr;
  bool ok = in && out;
  char line[4096];
  while (ok && fgets(line, sizeof(line), in)) {
    if (!strncmp(line, key.c_str(), key.size())) continue;
    ok = fputs(line, out) >= 0;
  }
  ok = ok && fprintf(out, "%s \"%s\"\n", key.c_str(), g_app.filterDirectory.c_str()) > 0;
  if (in) fclose(in);
  if (out) ok = (fclose(out) == 0) && ok;
  if (!ok || rename(tmp.c_str(), path.c_str()) != 0) {
    unlink(tmp.c_str());
    return m.ppdPath;
  }
  g_app.runPPDs[m.driverName] = path;
  return path;
}

const ZTModel* JobModel(pappl_job_t* job) {
  return FindModel(papplPrinterGetDriverName(papplJobGetPrinter(job)));
}

// ---- raster job callbacks ---------------------------------------------------

bool StartJob(pappl_job_t* job, pappl_pr_options_t* options, pappl_device_t*) {
  const ZTModel* m = JobModel(job);
  if (!m) return false;
  auto* run = new ZTChainRun;
  papplJobSetData(job, run);
  return run->Start(job, *m, RunPPD(*m), g_app.chain, options);
}

ZTChainRun* JobRun(pappl_job_t* job) { return static_cast<ZTChainRun*>(papplJobGetData(job)); }

bool StartPage(pappl_job_t* job, pappl_pr_options_t* options, pappl_device_t*, unsigned) {
  ZTChainRun* run = JobRun(job);
  return run && run->StartPage(options->header, options);
}

bool WriteLine(pappl_job_t* job, pappl_pr_options_t*, pappl_device_t*, unsigned y, const unsigned char* line) {
  ZTChainRun* run = JobRun(job);
  return run && run->WriteLine(y, line);
}

bool EndPage(pappl_job_t* job, pappl_pr_options_t*, pappl_device_t*, unsigned) {
  ZTChainRun* run = JobRun(job);
  return run && run->EndPage();
}

bool EndJob(pappl_job_t* job, pappl_pr_options_t*, pappl_device_t* device) {
  ZTChainRun* run = JobRun(job);
  const bool ok = run && run->Finish(device);
  delete run;
  papplJobSetData(job, nullptr);
  return ok;
}

// A CUPS raster document goes to the chain as it is.
bool PrintFile(pappl_job_t* job, pappl_pr_options_t* options, pappl_device_t* device) {
  const ZTModel* m = JobModel(job);
  const char* filename = papplJobGetFilename(job);
  if (!m || !filename) return false;
  ZTChainRun run;
  return run.Start(job, *m, RunPPD(*m), g_app.chain, options, filename) && run.Finish(device);
}

bool PrintPDF(pappl_job_t* job, pappl_device_t* device, void*) {
  const ZTModel* m = JobModel(job);
  return m && PrintZTPDF(job, device, *m, RunPPD(*m), g_app.chain);
}


// Identify-Printer: the message on the printer's panel (PJL ready message).
void Identify(pappl_printer_t* printer, pappl_identify_actions_t, const char* message) {
  pappl_device_t* device = papplPrinterOpenDevice(printer);
  if (!device) return;  // busy with a job
  std::string text = message && *message ? message : "Identify";
  for (char& c : text)
    if (c == '"' || static_cast<unsigned char>(c) < ' ') c = ' ';
  papplDevicePrintf(device, "\033%%-12345X@PJL RDYMSG DISPLAY=\"%.40s\"\r\n\033%%-12345X", text.c_str());
  papplDeviceFlush(device);
  papplPrinterCloseDevice(printer);
}

// The toners, whose levels the driver cannot read back: reported unknown.
void PrinterCreated(pappl_printer_t* printer, void*) {
  const ZTModel* m = FindModel(papplPrinterGetDriverName(printer));
  static const struct {
    pappl_supply_color_t color;
    const char* name;
  } kToners[] = {{PAPPL_SUPPLY_COLOR_BLACK, "Black Toner"}, {PAPPL_SUPPLY_COLOR_CYAN, "Cyan Toner"},
                 {PAPPL_SUPPLY_COLOR_MAGENTA, "Magenta Toner"}, {PAPPL_SUPPLY_COLOR_YELLOW, "Yellow Toner"}};
  pappl_supply_t supplies[4] = {};
  const int count = m && m->colour ? 4 : 1;
  for (int i = 0; i < count; ++i) {
    supplies[i].color = kToners[i].color;
    snprintf(supplies[i].description, sizeof(supplies[i].description), "%s", kToners[i].name);
    supplies[i].is_consumed = true;
    supplies[i].level = -1;
    supplies[i].type = PAPPL_SUPPLY_TYPE_TONER;
  }
  papplPrinterSetSupplies(printer, count, supplies);
}

// Printers loaded from the state get their supplies on the first status query.
bool Status(pappl_printer_t* printer) {
  pappl_supply_t supply;
  if (papplPrinterGetSupplies(printer, 1, &supply) == 0) PrinterCreated(printer, nullptr);
  return true;
}

// ---- a device that does not answer ---------------------------------------------

// PAPPL keeps trying to open a printer's device while its job waits; a job
// whose printer has refused the connection for this long is given up.
constexpr time_t kDeviceWaitSeconds = 30;

struct StuckJob {
  pappl_printer_t* printer;
  int jobId;
};

void FindStuckJob(pappl_job_t* job, void* data) {
  auto* stuck = static_cast<std::vector<StuckJob>*>(data);
  pappl_printer_t* printer = papplJobGetPrinter(job);
  if (papplJobGetState(job) == IPP_JSTATE_PROCESSING && papplPrinterGetState(printer) == IPP_PSTATE_STOPPED &&
      papplJobGetTimeProcessed(job) > 0 && time(nullptr) - papplJobGetTimeProcessed(job) >= kDeviceWaitSeconds)
    stuck->push_back({printer, papplJobGetID(job)});
}

void FindStuckJobs(pappl_printer_t* printer, void* data) {
  papplPrinterIterateActiveJobs(printer, FindStuckJob, data, 1, 0);
}

bool GiveUpStuckJobs(pappl_system_t* system, void*) {
  std::vector<StuckJob> stuck;
  papplSystemIteratePrinters(system, FindStuckJobs, &stuck);
  // Acted on once the iterations have released their locks.
  for (const auto& s : stuck) {
    pappl_job_t* job = papplPrinterFindJob(s.printer, s.jobId);
    if (!job) continue;
    papplLogJob(job, PAPPL_LOGLEVEL_ERROR, "The printer at %s does not accept the connection; the job is stopped.",
                papplPrinterGetDeviceURI(s.printer));
    papplJobSetMessage(job, "The printer at %s does not accept the connection.", papplPrinterGetDeviceURI(s.printer));
    papplJobSetReasons(job, PAPPL_JREASON_ABORTED_BY_SYSTEM, PAPPL_JREASON_NONE);
    papplJobCancel(job);
  }
  return true;
}

// ---- drivers ------------------------------------------------------------------

bool DriverCallback(pappl_system_t*, const char* driverName, const char*, const char*, pappl_pr_driver_data_t* data,
                    ipp_t** attrs, void*) {
  const ZTModel* m = FindModel(driverName);
  if (!m) return false;
  FillZTDriverData(*m, data, attrs);
  data->extension = const_cast<ZTModel*>(m);
  data->printfile_cb = PrintFile;
  data->rendjob_cb = EndJob;
  data->rendpage_cb = EndPage;
  data->rstartjob_cb = StartJob;
  data->rstartpage_cb = StartPage;
  data->rwriteline_cb = WriteLine;
  data->status_cb = Status;
  data->identify_cb = Identify;
  data->identify_default = PAPPL_IDENTIFY_ACTIONS_DISPLAY;
  data->identify_supported = PAPPL_IDENTIFY_ACTIONS_DISPLAY;
  data->has_supplies = true;
  return true;
}

// The driver whose model a device ID names (MFG and MDL).
const char* AutoAdd(const char*, const char*, const char* deviceId, void*) {
  if (!deviceId) return nullptr;
  cups_option_t* want = nullptr;
  const int numWant = papplDeviceParseID(deviceId, &want);
  const char* mfg = cupsGetOption("MFG", numWant, want);
  if (!mfg) mfg = cupsGetOption("MANUFACTURER", numWant, want);
  const char* mdl = cupsGetOption("MDL", numWant, want);
  if (!mdl) mdl = cupsGetOption("MODEL", numWant, want);
  const char* found = nullptr;
  for (const auto& m : g_app.models) {
    cups_option_t* have = nullptr;
    const int numHave = papplDeviceParseID(m.deviceId.c_str(), &have);
    const char* hmfg = cupsGetOption("MFG", numHave, have);
    const char* hmdl = cupsGetOption("MDL", numHave, have);
    if (!found && mfg && mdl && hmfg && hmdl && !strcasecmp(mfg, hmfg) && !strcasecmp(mdl, hmdl))
      found = m.driverName.c_str();
    cupsFreeOptions(numHave, have);
  }
  cupsFreeOptions(numWant, want);
  return found;
}

// The installed PPDs: this driver's in CUPS's model tree and its
// manufacturers' folders there.
std::vector<std::string> InstalledPPDFolders() {
  std::vector<std::string> folders = {ZT_MODEL_TREE};
  std::vector<std::string> names;
  if (DIR* dir = opendir(ZT_MODEL_TREE)) {
    while (dirent* entry = readdir(dir))
      if (entry->d_name[0] != '.') names.push_back(entry->d_name);
    closedir(dir);
  }
  std::sort(names.begin(), names.end());
  for (const auto& name : names) folders.push_back(std::string(ZT_MODEL_TREE) + "/" + name);
  return folders;
}

bool LoadDrivers() {
  std::vector<std::string> errors;
  const bool installed = g_app.ppdDirectory.empty();
  g_app.models = LoadZTModels(installed ? InstalledPPDFolders() : std::vector<std::string>{g_app.ppdDirectory},
                              installed, &errors);
  for (const auto& e : errors) fprintf(stderr, "ztprinterapp: %s\n", e.c_str());
  g_app.drivers.clear();
  for (const auto& m : g_app.models)
    g_app.drivers.push_back({m.driverName.c_str(), m.description.c_str(), m.deviceId.c_str(), nullptr});
  if (g_app.models.empty()) {
    fprintf(stderr, "ztprinterapp: no printer model (PPD) in %s\n", installed ? ZT_MODEL_TREE : g_app.ppdDirectory.c_str());
    return false;
  }
  return true;
}

pappl_loglevel_t ParseLogLevel(const char* value) {
  static const struct {
    const char* name;
    pappl_loglevel_t level;
  } kLevels[] = {{"debug", PAPPL_LOGLEVEL_DEBUG}, {"info", PAPPL_LOGLEVEL_INFO}, {"warn", PAPPL_LOGLEVEL_WARN},
                 {"error", PAPPL_LOGLEVEL_ERROR}, {"fatal", PAPPL_LOGLEVEL_FATAL}};
  for (const auto& l : kLevels)
    if (value && !strcmp(value, l.name)) return l.level;
  return PAPPL_LOGLEVEL_INFO;
}

pappl_soptions_t ParseServerOptions(const char* value) {
  pappl_soptions_t options = PAPPL_SOPTIONS_MULTI_QUEUE | PAPPL_SOPTIONS_WEB_INTERFACE;
  static const struct {
    const char* name;
    pappl_soptions_t bit;
  } kOptions[] = {{"dnssd-host", PAPPL_SOPTIONS_DNSSD_HOST}, {"no-tls", PAPPL_SOPTIONS_NO_TLS},
                  {"raw-socket", PAPPL_SOPTIONS_RAW_SOCKET}, {"usb-printer", PAPPL_SOPTIONS_USB_PRINTER},
                  {"web-log", PAPPL_SOPTIONS_WEB_LOG},       {"web-network", PAPPL_SOPTIONS_WEB_NETWORK},
                  {"web-remote", PAPPL_SOPTIONS_WEB_REMOTE}, {"web-security", PAPPL_SOPTIONS_WEB_SECURITY},
                  {"web-tls", PAPPL_SOPTIONS_WEB_TLS}};
  std::string list = value ? value : "";
  size_t start = 0;
  while (start <= list.size()) {
    const size_t end = std::min(list.find(',', start), list.size());
    const std::string name = list.substr(start, end - start);
    for (const auto& o : kOptions)
      if (name == o.name) options |= o.bit;
    if (name == "no-multi-queue") options &= ~PAPPL_SOPTIONS_MULTI_QUEUE;
    if (name == "no-web-interface") options &= ~PAPPL_SOPTIONS_WEB_INTERFACE;
    start = end + 1;
  }
  return options;
}

std::string DefaultStateFile() {
  const char* config = getenv("XDG_CONFIG_HOME");
  const char* home = getenv("HOME");
  if (config && *config) return std::string(config) + "/ztprinterapp.state";
  if (home && *home) return std::string(home) + "/.config/ztprinterapp.state";
  return "";
}

pappl_system_t* SystemCallback(int numOptions, cups_option_t* options, void*) {
  auto option = [&](const char* name) { return cupsGetOption(name, numOptions, options); };
  if (const char* dir = option("ppd-directory")) g_app.ppdDirectory = dir;
  if (const char* dir = option("filter-directory")) g_app.filterDirectory = dir;
  g_app.stateFile = option("state-file") ? option("state-file") : DefaultStateFile();
  g_app.chain.mainFilter = (g_app.filterDirectory.empty() ? std::string(ZT_FILTER_DIR) : g_app.filterDirectory) +
                           "/ztmainfilter";
  if (!LoadDrivers()) return nullptr;

  const char* spool = option("spool-directory");
  // A sub-command that only needs the system gets no spool folder of its own.
  const char* tmpdir = getenv("TMPDIR");
  if (!spool && !g_app.serving) spool = tmpdir && *tmpdir ? tmpdir : "/tmp";
  const char* port = option("server-port");
  const char* logFile = option("log-file");
  pappl_system_t* system =
      papplSystemCreate(ParseServerOptions(option("server-options")),
                        option("server-name") ? option("server-name") : "ZT Printer Application",
                        port ? atoi(port) : 0, "_print,_universal", spool, logFile ? logFile : "-",
                        ParseLogLevel(option("log-level")), option("auth-service"), false);
  if (!system) return nullptr;
  char buffer[1024];
  g_app.spoolDirectory = spool ? spool : "";
  if (g_app.spoolDirectory.empty() && g_app.serving) {
    // PAPPL made its own spool folder; the chain's PPD copies go beside the jobs.
    const char* tmp = getenv("TMPDIR");
    snprintf(buffer, sizeof(buffer), "%s/ztprinterapp%d.d", tmp && *tmp ? tmp : "/tmp", static_cast<int>(getuid()));
    mkdir(buffer, 0700);
    g_app.spoolDirectory = buffer;
  }
  // Only a served system listens; "drivers" just needs the drivers.
  if (g_app.serving && !papplSystemAddListeners(system, option("listen-hostname"))) {
    papplSystemDelete(system);
    return nullptr;
  }
  if (const char* group = option("admin-group")) papplSystemSetAdminGroup(system, group);
  papplSystemSetFooterHTML(system, kFooter);
  // Drivers first: loading the state creates the saved printers with them.
  papplSystemSetPrinterDrivers(system, static_cast<int>(g_app.drivers.size()), g_app.drivers.data(), AutoAdd,
                               PrinterCreated, DriverCallback, nullptr);
  papplSystemAddMIMEFilter(system, "application/pdf", "image/pwg-raster", PrintPDF, nullptr);
  papplSystemAddTimerCallback(system, 0, 5, GiveUpStuckJobs, nullptr);
  if (!g_app.stateFile.empty()) {
    if (access(g_app.stateFile.c_str(), R_OK) == 0) papplSystemLoadState(system, g_app.stateFile.c_str());
    papplSystemSetSaveCallback(system, reinterpret_cast<pappl_save_cb_t>(papplSystemSaveState),
                               const_cast<char*>(g_app.stateFile.c_str()));
  }
  return system;
}

}  // namespace

int main(int argc, char* argv[]) {
  signal(SIGPIPE, SIG_IGN);
  // The sub-command is the first argument that is neither an option nor its value.
  const char* subcommand = nullptr;
  for (int i = 1; i < argc && !subcommand; ++i) {
    if (argv[i][0] != '-')
      subcommand = argv[i];
    else if (strchr("adjmnotuv", argv[i][1]) && argv[i][1] && !argv[i][2])
      ++i;
  }
  // Only "drivers" creates a system without serving it; "server", and a
  // client sub-command that starts the server when none runs, serve.
  g_app.serving = !subcommand || strcmp(subcommand, "drivers") != 0;
  g_app.chain.ghostscript = "/usr/bin/gs";
  return papplMainloop(argc, argv, ZT_VERSION, kFooter, 0, nullptr, AutoAdd, DriverCallback, nullptr, nullptr,
                       SystemCallback, nullptr, nullptr);
}
