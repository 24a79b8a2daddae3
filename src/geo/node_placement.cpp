#include "geo/node_placement.h"

#include <algorithm>
#include <cmath>
#include <utility>

namespace marlwood {

namespace {
constexpr double kNodeSpacing = 240;  // metres between the nodes PROJ places
}  // namespace

NodePlacement::NodePlacement(const Reprojection& reprojection, bool backwards, Centre centre,
                             std::int32_t top, std::int32_t left, std::int32_t right,
                             std::int32_t step, std::mutex* proj)
    : reprojection_(reprojection),
      backwards_(backwards),
      centre_(std::move(centre)),
      proj_(proj),
      top_(top),
      left_(left),
      step_(std::max(1, step)),
      node_columns_(std::max(0, right - 1 - left) / step_ + 2) {}

std::int32_t NodePlacement::stepFor(double posting_m) {
    if (!(posting_m > 0)) return 1;
    return static_cast<std::int32_t>(std::clamp(std::round(kNodeSpacing / posting_m), 1.0, 1e6));
}

Status NodePlacement::nodeRow(std::int32_t band, std::vector<GroundPoint>& nodes) const {
    nodes.clear();
    for (std::int32_t j = 0; j < node_columns_; ++j) {
        nodes.push_back(centre_(top_ + band * step_, left_ + j * step_));
    }
    if (proj_ == nullptr) return reprojection_.apply(nodes, backwards_);
    const std::lock_guard<std::mutex> held(*proj_);
    return reprojection_.apply(nodes, backwards_);
}

Status NodePlacement::row(std::int32_t row) {
    const std::int32_t band = (row - top_) / step_;
    fy_ = static_cast<double>((row - top_) % step_) / step_;
    if (band == band_) return {};
    // Two rows of nodes at a time, the one above the cells being laid and the one below; the
    // next band reuses the row between them.
    if (band == band_ + 1 && band_ >= 0) {
        std::swap(above_, below_);
    } else if (Status made = nodeRow(band, above_); !made) {
        return made;
    }
    band_ = band;
    if (Status made = nodeRow(band + 1, below_); !made) {
        band_ = -1;
        return made;
    }
    return {};
}

}  // namespace marlwood
