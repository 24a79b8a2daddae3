#include <exception>
#include <iostream>

#include "converter/console_dialogue.h"
#include "converter/dem_converter.h"

int main() {
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
