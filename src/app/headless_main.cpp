#include <iostream>

#include "app/headless.h"

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    return run_headless(args, std::cout, std::cerr);
}
