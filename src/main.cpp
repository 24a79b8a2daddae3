#include <iostream>

#include "converter/dem_converter.h"

int main() {
    int status = 0;
    {
        marlwood::DemConverter converter(std::cin, std::cout);
        status = converter.exitStatus();
    }
    return status;
}
