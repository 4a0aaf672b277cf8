#include "driver/outputs.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <optional>
#include <sstream>
#include <system_error>
#include <fstream>
#include <iostream>
#include <limits>
#include <new>
#include <optional>
#include <thread>

#include <sys/stat.h>
#include <unistd.h>

#include "compare/dotest.h"
#include "driver/params.h"
#include "driver/run.h"
#include "driver/title.h"
#include "estimate/estmat.h"
#include "identify/identf.h"
#include "input/fields.h"
#include "input/files.h"
#include "listing/run_end.h"
#include "results/csv.h"
#include "results/html.h"
#include "results/json.h"
#include "base/atomic_file.h"
#include "base/digest.h"
#include "base/limits.h"
#include "model/context.h"
#include "model/data_identity.h"
#include "model/model.h"
#include "simulate/rdsimlte.h"

namespace quorvale {

namespace {

/// The page title without the blanks that pad it.
std::string trimmed_title(const std::string& title) {
  const std::size_t first = title.find_first_not_of(' ');
  if (first == std::string::npos) return {};
  return title.substr(first, title.find_last_not_of(' ') - first + 1);
}

/// One file the run reads or writes, as the refusals name it.
struct RunFile {
  std::string label;  ///< how a message starting with it names it ("Results file")
  std::string path;
  std::string origin;  ///< what names it ("json=", "PROC TEST AICSAVE at run.cmd:35")
  bool repeatable = false;  ///< named by statements that may share it: a model file merged into, an estimate file emptied anew
  bool table = false;       ///< a table of csv=, whose folder may be made at the end of the run
};

/// A character device or FIFO, written through as it is, never replaced:
/// two outputs may both be one.
bool written_through(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && (S_ISCHR(st.st_mode) || S_ISFIFO(st.st_mode));
}

}  // namespace


/// The files the statements of `commands` name, found by reading every
/// statement as the run will, in order.
std::vector<NamedFile> files_named(const Reader& source, const std::string& commands) {
  std::istringstream in(commands);
  std::ostringstream sink;
  ModelContext scan(in, sink, sink);
  scan.reader.same_source(source);
  std::vector<NamedFile> named;
  try {
    scan.reader.fillsg();
    scan.reader.getcmd();
    // Statements up to PROC STOP (which the end of the input supplies) or STOP.
    while (!(scan.token(1) == "PROC" && scan.token(2) == "STOP") && !(scan.token(1) == "STOP")) {
      const bool test = scan.token(1) == "PROC" && scan.token(2) == "TEST";
      const bool simulate = scan.token(1) == "PROC" && scan.token(2) == "SIMULATE";
      const std::string_view key = test ? "AICSAVE" : "PARFILE";
      bool given = false;
      for (int i = 3; (test || simulate) && i <= scan.status.NTOK; ++i) given = given || scan.token(i) == key;
      // The last such option counts, as in the procedure.
      if (given) named.push_back({test, scan.reader.option_word(key), scan.reader.where()});
      scan.reader.getcmd();
    }
  } catch (const RunEnd&) {
    // A statement the run cannot read ends the run there, before any file after it.
  }
  return named;
}

/// Before the first procedure: every file the run will write is checked
/// against every other and against the command file, and each must be
/// creatable; a file named twice (other than one model file of several PROC
/// TESTs, which merge into it, or one estimate file of several PROC
/// SIMULATEs, each emptying it) or one that cannot be written ends the run
/// with every file untouched.
void check_outputs(Run& run, const RunParams& params, const std::vector<NamedFile>& named) {
  std::vector<RunFile> outputs;
  if (!params.json.empty()) outputs.push_back({"Results file", params.json, "json="});
  if (!params.report.empty()) outputs.push_back({"Report", params.report, "report="});
  if (!params.csv.empty()) {
    for (const std::string& name : results_csv_names()) {
      outputs.push_back({"Results file", (std::filesystem::path(params.csv) / name).string(),
                         "csv=" + params.csv, false, true});
    }
  }
  for (const NamedFile& f : named) {
    if (f.model_file) {
      outputs.push_back({"Model file", f.name, "PROC TEST AICSAVE at " + f.place, true});
    } else {
      outputs.push_back({"Parameter estimate file", f.name, "PROC SIMULATE PARFILE at " + f.place, true});
    }
  }
  const auto refuse = [&run](const RunFile& file, const std::string& role) {
    run.listing.error(file.label + " " + file.path + " is " + role + "; it is not overwritten.");
  };
  const auto lower = [](std::string text) {
    if (!text.empty()) text[0] = static_cast<char>(std::tolower(static_cast<unsigned char>(text[0])));
    return text;
  };
  for (std::size_t j = 0; j < outputs.size(); ++j) {
    const RunFile& b = outputs[j];
    if (written_through(b.path)) continue;
    if (!params.input.empty() && same_file(b.path, params.input)) refuse(b, "the command file");
    if (!params.listing.empty() && same_file(b.path, params.listing)) refuse(b, "the listing file");
    for (std::size_t i = 0; i < j; ++i) {
      const RunFile& a = outputs[i];
      if (a.repeatable && b.repeatable && a.label == b.label) continue;
      if (same_file(a.path, b.path)) {
        run.listing.error(b.label + " " + b.path + " (" + b.origin + ") is the same file as " + lower(a.label) + " " +
                          a.path + " (" + a.origin + "); nothing is written.");
      }
    }
  }
  // Each can be created or replaced where it is.
  if (!params.csv.empty()) {
    namespace fs = std::filesystem;
    std::error_code ec;
    fs::path folder(params.csv);
    if (fs::exists(folder, ec) && !fs::is_directory(folder, ec)) {
      run.listing.error("Results folder " + params.csv + " is not a folder; no results are written.");
    }
    // The nearest folder that exists is where the missing ones are made.
    folder = fs::absolute(folder, ec);
    while (!fs::exists(folder, ec) && folder.has_parent_path() && folder.parent_path() != folder) {
      folder = folder.parent_path();
    }
    if (!fs::is_directory(folder, ec) || ::access(folder.c_str(), W_OK | X_OK) != 0) {
      run.listing.error("Results folder " + params.csv + " cannot be made or written in; no results are written.");
    }
  }
  for (const RunFile& f : outputs) {
    const std::string reason = replace_refusal(f.path);
    if (!reason.empty()) run.listing.error(f.label + " " + f.path + " " + reason + "; it is not replaced.");
    const std::string folder = f.table ? std::string() : write_refusal(f.path);
    if (!folder.empty()) run.listing.error(f.label + " " + f.path + " " + folder + "; it is not written.");
  }
}

/// Writes the result files the parameter line asked for, all of them or
/// none; a failure ends the run.
void write_results(Run& run, const RunParams& params) {
  if (params.json.empty() && params.csv.empty() && params.report.empty()) return;
  run.results.title = trimmed_title(run.listing.headst.TITLE);
  std::vector<FileText> files;
  std::vector<std::string> failures;  // the message for each file that cannot be written
  if (!params.json.empty()) {
    files.push_back({params.json, [&run](const TextSink& sink) { write_results_json(run.results, sink); }});
    failures.push_back("Could not write the results file " + params.json + ".");
  }
  if (!params.report.empty()) {
    files.push_back({params.report, [&run](const TextSink& sink) { write_results_html(run.results, sink); }});
    failures.push_back("Could not write the report " + params.report + ".");
  }
  std::vector<std::pair<std::string, std::string>> tables;
  if (!params.csv.empty()) tables = results_csv(run.results);
  for (const auto& entry : tables) {
    const std::string path = (std::filesystem::path(params.csv) / entry.first).string();
    const std::string& table = entry.second;  // a named reference: clang captures no structured binding
    files.push_back({path, [&table](const TextSink& sink) { sink(table); }});
    failures.push_back("Could not write the results file " + path + ".");
  }
  // A file that cannot be replaced (one may have changed during the run) is named with the reason, before anything is written.
  for (const FileText& f : files) {
    const char* what = f.path == params.report ? "Report" : "Results file";
    run.reader.refuse_overwrite(f.path, what);
    const std::string reason = replace_refusal(f.path);
    if (!reason.empty()) run.listing.error(std::string(what) + " " + f.path + " " + reason + "; it is not replaced.");
  }
  if (!params.csv.empty()) {
    std::error_code ec;
    std::filesystem::create_directories(params.csv, ec);
    if (ec || !std::filesystem::is_directory(params.csv)) {
      run.listing.error("Could not create the folder " + params.csv + " for the results tables.");
    }
  }
  std::size_t failed = files.size();
  try {
    failed = replace_files(files, Durability::Unsynced);
  } catch (const ResultsDocumentFault& fault) {
    // A document the library fails on: no result file is replaced, no temporary file stays.
    run.listing.error("Could not write the results file " + params.json + ": " + fault.what());
  }
  if (failed < files.size()) run.listing.error(failures[failed]);
}

}  // namespace quorvale
