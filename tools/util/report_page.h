// The report page: one self-contained HTML document (images as data URIs, styles inline, no
// script) with a summary of the run, a section for each result file and, when given, the
// per-input comparison. Every text taken from a file is escaped. The page is well-formed XML
// as well as HTML, so that an XML parser can check its structure.
//
// Sections, by id: "summary"; "result-1", "result-2", ... in the order the files were named, each
// of class "result" and its kind ("average", "deviation", "count", "rejected", "other"), holding
// the preview image and, for its kind, the tables "parameters" or "repeatability" and the
// histogram figure; "inputs" with the table "inputs" and the rms_diff chart.
#ifndef HARNIX_TOOLS_UTIL_REPORT_PAGE_H_
#define HARNIX_TOOLS_UTIL_REPORT_PAGE_H_

#include <string>
#include <vector>

#include "util/input_report.h"
#include "util/report_maps.h"
#include "util/run_record.h"

namespace harnix {

struct ReportContent {
  std::vector<ResultSection> results;  // at least one
  Levelling level;                     // asked for the height maps
  const char* inputs_name;             // the --inputs file as given, or nullptr
  std::vector<InputRow> inputs;        // its rows
  const RunRecordSummary* run = nullptr;  // the run's record (--run), or nullptr
};

// The whole page. Throws std::bad_alloc when memory runs out.
std::string report_html(const ReportContent& content);

// Parts of the page (report_tables.cpp).
// A table row of a label and its value, both plain text (escaped here).
std::string fact_row(const std::string& label, const std::string& value);
std::string summary_section(const ReportContent& content);
std::string inputs_section(const ReportContent& content);

}  // namespace harnix

#endif  // HARNIX_TOOLS_UTIL_REPORT_PAGE_H_
