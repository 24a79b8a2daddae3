#pragma once

#include <optional>
#include <ostream>

#include "common/events.h"

namespace marlwood {

// The dialogue's words for what the stages report, printed as they come, each line flushed.
class DialogueWords final : public EventSink {
  public:
    explicit DialogueWords(std::ostream& console) : console_(console) {}
    void emit(const Event& event) override;
    // The stage the conversion is in, once it has started one.
    std::optional<Stage> stage() const { return stage_; }

  private:
    std::ostream& console_;
    std::optional<Stage> stage_;
};

}  // namespace marlwood
