#include "converter/dialogue_words.h"

#include <cstdio>
#include <iterator>

namespace marlwood {

namespace {

// A line made by formatted printing, as the dialogue prints its real numbers.
template <class... Args>
std::string formatted(const char* format, Args... args) {
    char text[160];
    std::snprintf(text, sizeof text, format, args...);
    return text;
}

struct Words {
    std::ostream& out;

    void operator()(const event::StageStarted&) {}
    void operator()(const event::ModuleUnreadable& e) {
        out << "**Cannot read " << e.module << ": it does not open**\n";
    }
    void operator()(const event::ModuleEndedEarly& e) {
        out << "**" << e.module << " ends too soon; what was not found is taken as 0**\n";
    }
    void operator()(const event::NotLegitimate& e) {
        out << "Not a legitimate 7.5' " << e.kind << " file or serious problems\n";
    }
    void operator()(const event::GridSizeRead& e) {
        out << "min_rows_cols is:  " << e.size.min_rows_cols << '\n';
    }
    void operator()(const event::SpacingRead& e) {
        if (e.spacing == kSpacing10m) {
            out << "\nDetected 10m file type.  \n";
        } else if (e.spacing == kSpacing30m) {
            out << "\nDetected 30m file type.  \n";
        } else {
            out << "error reading grid spacing\n";
        }
    }
    void operator()(const event::DecodingStarted& e) {
        out << "\ncomputing.....\n";
        // Said of every 10 m posting, whatever its value type.
        if (e.spacing == kSpacing10m) {
            out << "\nDecoding 10m BFP(32) elevations.\n\n"
                   "This will take a minute or two because of the large number\n"
                   "of elevations in the file.\n\n";
        }
    }
    void operator()(const event::RecordLeaderRead& e) {
        out << "data_elements is:  " << e.data_elements << "\n\ncomputing.....\n\n";
    }
    void operator()(const event::UnknownValueType&) { out << "serious error\n"; }
    void operator()(const event::Cel0EndedEarly& e) {
        out << "**" << e.module << " ended after " << e.decoded_rows << " of " << e.rows
            << " rows; the missing rows are void**\n";
    }
    void operator()(const event::ExtremesFound& e) {
        out << "\nmax_elevation is:  " << e.max_elevation
            << "\nmin_elevation is:  " << e.min_elevation << "\n\n";
    }
    void operator()(const event::CornersRead& e) {
        const Corners& c = e.corners;
        const struct {
            const char* name;
            float value;
        } coordinates[] = {
            {"sw_cornerx", c.sw_cornerx}, {"sw_cornery", c.sw_cornery},
            {"nw_cornerx", c.nw_cornerx}, {"nw_cornery", c.nw_cornery},
            {"ne_cornerx", c.ne_cornerx}, {"ne_cornery", c.ne_cornery},
            {"se_cornerx", c.se_cornerx}, {"se_cornery", c.se_cornery},
        };
        for (const auto& coordinate : coordinates) {
            out << formatted("%s is:  %f\n", coordinate.name,
                             static_cast<double>(coordinate.value));
        }
    }
    void operator()(const event::ColormapComputed& e) {
        out << "\nelevrange is:  " << e.elevrange << '\n'
            << formatted("\nColormap slope value: %.5f\nColormap intercept value: %.5f\n\n",
                         static_cast<double>(e.slope), static_cast<double>(e.intercept));
    }
    void operator()(const event::TrueScaleChosen& e) {
        out << "\ntrue scale: " << e.lowest_m << " m to " << e.highest_m << " m, SCAL " << e.scal_m
            << ", HeightScale " << e.height_scale << ", BaseHeight " << e.base_height
            << ", a step of " << e.step_m << " m\n";
    }
    void operator()(const event::BlocksRead&) {}
    void operator()(const event::Warning& e) { out << "**" << e.text << "**\n"; }
};

}  // namespace

void DialogueWords::emit(const Event& event) {
    if (const auto* started = std::get_if<event::StageStarted>(&event)) stage_ = started->stage;
    std::visit(Words{console_}, event);
    console_ << std::flush;
}

}  // namespace marlwood
