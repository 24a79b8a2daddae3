#pragma once

#include <cstdint>
#include <fstream>
#include <istream>
#include <ostream>
#include <string>

#include "grid/elevation_grid.h"
#include "pipeline/stages.h"

namespace marlwood {

// The one converter: it owns every piece of state of one conversion and runs the stages in a
// fixed order. Constructing it shows the banner and runs the whole conversion; destroying it
// closes the streams, releases the grids and waits for the closing key.
class DemConverter {
  public:
    DemConverter(std::istream& console_in, std::ostream& console_out);
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

    ElevationGrid raw_grid;
    ElevationGrid scaled_grid;
    ElevationGrid scratch_grid;
    std::string ldef_path, cel0_path, spdm_path, ddsh_path, iref_path, ter_path, module_prefix;
    ValueType value_type = 0;
    std::int32_t min_rows_cols = -1;
    std::int32_t ddr_length = 0;
    std::int32_t rows = 0;
    std::int32_t columns = 0;
    DecoderState decoder;  // values_per_record, max_elevation 0, min_elevation 9000
    std::int32_t elevrange = 0;
    Corners corners;
    GridSpacing grid_spacing = kNoSpacing;
    std::int32_t height_scale = 0;
    float colormap_slope = 0;
    float colormap_intercept = 0;
    ModuleReader input_stream;
    std::ofstream output_stream;

    int exit_status = 0;
};

}  // namespace marlwood
