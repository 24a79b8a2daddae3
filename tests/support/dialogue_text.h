#pragma once

#include <sstream>
#include <string>

#include "common/events.h"
#include "converter/dialogue_words.h"

namespace marlwood::testsupport {

// The stages' events as the dialogue prints them, kept as text.
class DialogueText final : public marlwood::EventSink {
  public:
    void emit(const marlwood::Event& event) override { words_.emit(event); }
    std::string str() const { return out_.str(); }
    void str(const std::string& text) { out_.str(text); }

  private:
    std::ostringstream out_;
    marlwood::DialogueWords words_{out_};
};

}  // namespace marlwood::testsupport
