// The run report (--report PATH): one JSON object that says what a run read, wrote and
// set aside, field by field, how it ended, and the log's warnings and errors. Written at
// the end of every run, a stopped or failed one included, through a temporary file that
// is renamed over PATH only once whole, so that a reader never finds half a report.
//
//   RunReportFacts facts(description, job);
//   facts.exit_status = 0;
//   WriteFileWhole("run.json", RunReportJson(facts));
#pragma once

#include <string>
#include <vector>

#include "engine/trundle.h"
#include "front/job_description.h"
#include "front/verify.h"

namespace trundle {

// What a report is made from. The description and the job must outlive it.
struct RunReportFacts {
  RunReportFacts(const JobDescription& d, const TTrundle& j) : description(d), job(j) {}
  const JobDescription& description;
  const TTrundle& job;
  int exit_status = 0;
  // The log's warnings and errors, in order (ReportedMessage picks them), and the
  // error that ended the run, if one did.
  std::vector<std::string> messages;
  std::string reject_file;                   // empty: no record was set aside
  const Verification* verification = nullptr;  // --verify's result, when asked for
};

// True for a log line the report lists under messages: anything but the lines every
// run logs (its start and end, the counts of records read and moved, a table created).
bool ReportedMessage(const std::string& line);

// The report as JSON text. The destination's fields are read from the destination as
// it now is (left out when it cannot be read); a password never appears.
std::string RunReportJson(const RunReportFacts& facts);

// The connection as the report shows it: an ODBC string without its PWD= or PASSWORD=
// part, a PostgreSQL URI without the password of its user part or its password=
// parameter, a keyword string without password=.
std::string WithoutPassword(const std::string& connection);

// Writes text to path whole: a temporary file in the same folder, synced, then renamed
// over path. Throws TrundleError naming the file (as `what`: "the report", "the job
// file") and the cause.
void WriteFileWhole(const std::string& path, const std::string& text,
                    const std::string& what = "the report");

// "2026-12-07T23:47:40Z".
std::string IsoUtc(std::chrono::system_clock::time_point moment);

}  // namespace trundle
