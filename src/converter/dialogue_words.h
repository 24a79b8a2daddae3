#pragma once

#include <ostream>

#include "common/events.h"

namespace marlwood {

// The dialogue's words for what the stages report, printed as they come, each line flushed.
class DialogueWords final : public EventSink {
  public:
    explicit DialogueWords(std::ostream& console) : console_(console) {}
    void emit(const Event& event) override;

  private:
    std::ostream& console_;
};

}  // namespace marlwood
