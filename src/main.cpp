#include "front/run_control.hpp"

int main(int argc, char** argv) {
    return packrift::run_packrift(argc, argv);
}
