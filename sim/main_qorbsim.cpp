#include <iostream>

#include "cli/qorbsim.h"

int main(int argc, char** argv) {
    std::ios::sync_with_stdio(false);
    return qorb::sim::QorbsimMain(argc, argv, std::cout, std::cerr);
}
