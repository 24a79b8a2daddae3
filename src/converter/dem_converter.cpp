#include "converter/dem_converter.h"

#include <exception>
#include <filesystem>
#include <new>

#include "converter/console_dialogue.h"
#include "converter/dialogue_words.h"
#include "pipeline/conversion.h"

namespace marlwood {

DemConverter::DemConverter(std::istream& console_in, std::ostream& console_out, EventSink* watcher)
    : console_in(console_in), console_out(console_out), watcher(watcher) {
    showBanner(console_in, console_out);
    // Whatever goes wrong, the closing step still runs (the destructor) and says so first.
    try {
        run();
    } catch (const std::bad_alloc&) {
        abandon("not enough memory");
    } catch (const std::exception& error) {
        abandon(error.what());
    }
}

DemConverter::~DemConverter() {
    if (output_stream.is_open()) output_stream.close();
    closingStep(console_in, console_out);
}

void DemConverter::abandon(const std::string& reason) {
    console_out << "\n**Conversion abandoned: " << reason << "**\n" << std::flush;
    exit_status = 1;
}

void DemConverter::run() {
    auto paths = askModulePrefix(console_in, console_out);
    if (!paths) return abandon("the input ended");
    module_prefix = paths->module_prefix;
    modules = paths->modules;

    const auto scale = askHeightScale(console_in, console_out);
    if (!scale) return abandon("the input ended");
    height_scale = *scale;

    // The same stages as every conversion: read, prepare, write; this front end words what
    // they report and asks for the output file between the last two.
    ConversionRequest request;
    request.sources = {sdtsInput(module_prefix, modules)};
    request.reading = MetadataReading::Walks;
    request.settings.height_scale = height_scale;
    DialogueWords words(console_out);
    const auto ask_output = [this]() -> Result<ConversionTarget> {
        if (!askOutputFile(console_in, console_out, output_stream, ter_path)) {
            return failure("the input ended");
        }
        return ConversionTarget{ter_path, &output_stream, {}};
    };
    TeeEvents events(words, watcher);
    const Result<ConversionOutcome> converted = runConversion(request, ask_output, events);
    if (converted) {
        output_stream.close();
        if (!streamFailed(output_stream)) return;
    } else if (words.stage() != Stage::Write) {
        return abandon(converted.message());
    }
    console_out << "**Cannot write " << ter_path << ": the file is incomplete**\n" << std::flush;
    // A cut-off terrain must not pass for a whole one. The file was emptied when it was opened,
    // so removing it loses nothing; a device under that name is left alone.
    output_stream.close();
    std::error_code ignored;
    if (std::filesystem::is_regular_file(ter_path, ignored)) {
        std::filesystem::remove(ter_path, ignored);
    }
    exit_status = 1;
}

}  // namespace marlwood
