#pragma once
#include <optional>
#include <string>
#include <string_view>
#include "sdts/module_reader.h"
namespace marlwood {
struct Transfer {
    std::string source;
    std::string output_stem;
    TransferModules modules;
};
struct FoundTransfer {
    std::optional<Transfer> transfer;
    std::string error;
};
FoundTransfer findTransfer(const std::string& source);
FoundTransfer readArchiveTransfer(const std::string& display_name, std::string_view bytes);
bool archivesSupported();
}
