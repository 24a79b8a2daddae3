#pragma once

#include <cstdint>
#include <string>
#include <variant>

#include "common/dem_types.h"

// What the stages of a conversion report as they go, as typed events. A stage never prints: each
// front end words the events its own way (the dialogue byte for byte as it always has; the
// command line as its -v lines and warnings).
namespace marlwood {

// The stages every conversion passes through, in this order, whichever front end asked for it.
enum class Stage {
    Read,     // metadata, then the elevations (of every source of a merge)
    Prepare,  // voids, resampling, the heights
    Write,    // the terrain's file, then its picture
};

namespace event {

// A conversion entered a stage.
struct StageStarted {
    Stage stage;
};

// A module that does not open; what it would have given reads as 0.
struct ModuleUnreadable {
    std::string module;
};
// A metadata module that ended before its value was found.
struct ModuleEndedEarly {
    std::string module;
};
// A leader walk that did not find the leader it expects; `kind` "spdm" or "iref" names the line.
struct NotLegitimate {
    std::string kind;
};
struct GridSizeRead {
    GridSize size;
};
struct SpacingRead {
    GridSpacing spacing;
};
// CEL0 is open and its records are about to be decoded.
struct DecodingStarted {
    GridSpacing spacing;
};
// A CEL0 record with its own leader ('R') gave the number of values per record.
struct RecordLeaderRead {
    std::int32_t data_elements;
};
// A CEL0 record whose value type is neither BI16 nor BFP32.
struct UnknownValueType {};
struct Cel0EndedEarly {
    std::string module;
    std::int32_t decoded_rows, rows;
};
// The extremes of the valid elevations, in whole units of the transfer.
struct ExtremesFound {
    std::int32_t max_elevation, min_elevation;
};
struct CornersRead {
    Corners corners;
};
struct ColormapComputed {
    std::int32_t elevrange;
    float slope, intercept;
};
struct TrueScaleChosen {
    double lowest_m, highest_m, scal_m, step_m;
    std::int32_t height_scale, base_height;
};
// What a source read from a file of blocks to give its window: a box over a large tile reads
// few of them.
struct BlocksRead {
    std::string source;
    std::int64_t blocks, of;
    std::uint64_t bytes, file_bytes;
};
// A problem that does not stop the conversion, in one line.
struct Warning {
    std::string text;
};

}  // namespace event

using Event = std::variant<
    event::StageStarted, event::ModuleUnreadable, event::ModuleEndedEarly, event::NotLegitimate,
    event::GridSizeRead, event::SpacingRead, event::DecodingStarted, event::RecordLeaderRead,
    event::UnknownValueType, event::Cel0EndedEarly, event::ExtremesFound, event::CornersRead,
    event::ColormapComputed, event::TrueScaleChosen, event::BlocksRead, event::Warning>;

// Where a stage's events go; the front end that called the stage decides what they become.
class EventSink {
  public:
    virtual ~EventSink() = default;
    virtual void emit(const Event& event) = 0;
};

// A front end's own sink, and a caller that watches the conversion too (which may be called from
// several jobs at once, so it guards itself).
class TeeEvents final : public EventSink {
  public:
    TeeEvents(EventSink& own, EventSink* watcher) : own_(own), watcher_(watcher) {}
    void emit(const Event& event) override {
        own_.emit(event);
        if (watcher_ != nullptr) watcher_->emit(event);
    }

  private:
    EventSink& own_;
    EventSink* watcher_;
};

// A sink that drops everything (a first pass that only wants values).
class NoEvents final : public EventSink {
  public:
    void emit(const Event&) override {}
};

}  // namespace marlwood
