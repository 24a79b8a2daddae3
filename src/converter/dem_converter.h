#pragma once

#include <cstdint>
#include <fstream>
#include <istream>
#include <ostream>
#include <string>

#include "common/events.h"
#include "source/transfer_source.h"

namespace marlwood {

// The dialogue's one converter: it asks for each answer, runs the steps of a conversion in a
// fixed order and words what they report. Constructing it shows the banner and runs the whole
// conversion; destroying it closes the output, releases the grid and waits for the closing key.
class DemConverter {
  public:
    // The stages' events also go to `watcher` when one is given.
    DemConverter(std::istream& console_in, std::ostream& console_out, EventSink* watcher = nullptr);
    ~DemConverter();
    DemConverter(const DemConverter&) = delete;
    DemConverter& operator=(const DemConverter&) = delete;

    // 0 after a complete conversion (also when a stage reported bad data and went on); 1 when
    // the conversion was abandoned or the output file could not be written completely.
    int exitStatus() const { return exit_status; }

  private:
    void run();
    void abandon(const std::string& reason);

    std::istream& console_in;
    std::ostream& console_out;
    EventSink* watcher;

    std::string module_prefix, ter_path;
    TransferModules modules;
    std::int32_t height_scale = 0;
    std::ofstream output_stream;

    int exit_status = 0;
};

}  // namespace marlwood
