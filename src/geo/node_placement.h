#pragma once

#include <cstdint>
#include <functional>
#include <mutex>
#include <vector>

#include "common/grid_placement.h"
#include "common/result.h"
#include "geo/projection.h"

namespace marlwood {

// The centres of a block of lattice cells placed in another system, a row at a time: PROJ places
// the centres of every `step`-th row and column (the nodes), and the cells between take their
// places bilinearly from the four nodes around them. PROJ for every cell of a 10 m quad takes
// half a second, and between neighbouring zones the transformation bends so little that nodes
// 240 m apart leave every centre within 0.1 mm of where PROJ puts it (0.25 mm three zones away;
// measured at 25, 46 and 64 degrees north).
class NodePlacement {
  public:
    // Where cell (row, column) lies in the lattice's own system.
    using Centre = std::function<GroundPoint(std::int32_t row, std::int32_t column)>;

    // Cells from row `top` down and columns `left` to `right` (past the last), placed by
    // `reprojection` (backwards: from its `to` system into its `from`). With `proj`, PROJ is
    // called under that lock, for placements on several threads that share the reprojection.
    NodePlacement(const Reprojection& reprojection, bool backwards, Centre centre, std::int32_t top,
                  std::int32_t left, std::int32_t right, std::int32_t step,
                  std::mutex* proj = nullptr);

    // The step that puts nodes about 240 m apart at this posting, at least 1.
    static std::int32_t stepFor(double posting_m);

    // Readies row `row` (at or below `top`; rows in order are cheapest): a row that starts a band
    // of nodes has PROJ place the next row of them. An Error in one line when PROJ cannot.
    Status row(std::int32_t row);
    // Where the cell of the readied row in `column` lies (inline: it is asked for every cell).
    GroundPoint at(std::int32_t column) const {
        const auto j = static_cast<std::size_t>((column - left_) / step_);
        const double fx = static_cast<double>((column - left_) % step_) / step_;
        const GroundPoint &a = above_[j], &b = above_[j + 1];
        const GroundPoint &d = below_[j], &e = below_[j + 1];
        return {(a.x * (1 - fx) + b.x * fx) * (1 - fy_) + (d.x * (1 - fx) + e.x * fx) * fy_,
                (a.y * (1 - fx) + b.y * fx) * (1 - fy_) + (d.y * (1 - fx) + e.y * fx) * fy_};
    }

  private:
    Status nodeRow(std::int32_t band, std::vector<GroundPoint>& nodes) const;

    const Reprojection& reprojection_;
    bool backwards_;
    Centre centre_;
    std::mutex* proj_;
    std::int32_t top_, left_, step_, node_columns_;
    std::vector<GroundPoint> above_, below_;  // the nodes either side of the readied row
    double fy_ = 0;
    std::int32_t band_ = -1;  // the band whose nodes above_ and below_ hold
};

}  // namespace marlwood
