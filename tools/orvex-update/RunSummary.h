#pragma once
// What orvex-update prints once the run is over: each file's details when asked for, then the
// counts and sizes of the run.
#include "update/GetFilesThr.h"

#include <string>
#include <vector>

namespace orvex {

// "2 files fetched, 1 failed, 3 not tried, 1.5 MiB downloaded in 2.0 s" and, when files were built
// from chunks, how much less than their whole copies that downloaded.
std::string SummaryLine(const GFilesThread::TFetchSummary& fetched, double seconds);

// One line for each file built from chunks.
std::vector<std::string> DetailLines(const GFilesThread::TFetchSummary& fetched);

}  // namespace orvex
