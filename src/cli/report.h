#pragma once

#include <string>
#include <vector>

#include "common/events.h"
#include "pipeline/conversion.h"

// The command line's words: its -v lines and warnings for what the stages report, and the one
// report line of a conversion or a merge.
namespace marlwood {

// Collects one source's events: what -v shows, and the problems that did not stop it.
class SourceEvents final : public EventSink {
  public:
    void emit(const Event& event) override;

    std::vector<std::string> stage_lines;
    std::vector<std::string> warnings;
};

// "7172: 1391 x 1087, 10 m, BFP32, elevations 412..1361, 0 void -> 7172.ter"
std::string conversionReport(const std::string& source, const ConversionOutcome& conversion);

// A line per piece ("SRC: R x C at row N, column M"), then "merged: ..." with the merged grid.
std::vector<std::string> mergeReport(const ConversionOutcome& merge);

}  // namespace marlwood
