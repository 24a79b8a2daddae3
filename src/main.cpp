#include <csignal>
#include <exception>
#include <iostream>
#include <string>
#include <vector>

#include "cli/batch.h"
#include "converter/console_dialogue.h"
#include "converter/dem_converter.h"
#include "platform/platform.h"
#include "platform/whole_file.h"

namespace {

// No arguments: the interactive dialogue, exactly as it has always been.
int runDialogue() {
    int status = 0;
    try {
        marlwood::DemConverter converter(std::cin, std::cout);
        status = converter.exitStatus();
    } catch (const std::exception& error) {
        // Only the banner can get here (the conversion catches its own); the closing step runs.
        std::cout << "\n**marlwood stopped: " << error.what() << "**\n" << std::flush;
        marlwood::closingStep(std::cin, std::cout);
        status = 1;
    }
    return status;
}

}  // namespace

int main(int argc, char** argv) {
#ifdef SIGXFSZ
    // A file past the size limit (ulimit -f) then fails its write with EFBIG, which either front
    // end reports and cleans up after as it does a full disk, instead of the signal ending the
    // process with the file half-written.
    std::signal(SIGXFSZ, SIG_IGN);
#endif
    if (argc <= 1) return runDialogue();
#ifdef SIGPIPE
    // A reader that goes away makes the report's writes fail, which the run reports in its exit
    // status, instead of ending the process in the middle of a conversion without a word.
    std::signal(SIGPIPE, SIG_IGN);
#endif
    // An interrupted batch leaves no temporary file behind.
    marlwood::installSignalCleanup();
    try {
        return marlwood::runCommandLine(std::vector<std::string>(argv + 1, argv + argc), std::cout,
                                        std::cerr, marlwood::standardErrorIsTerminal());
    } catch (const std::exception& error) {
        std::cerr << "marlwood: " << error.what() << '\n';
        return 1;
    }
}
