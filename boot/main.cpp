// The entry point of `kov`.
#include "boot/start.h"

int main(int argc, char** argv) {
    return kov::boot::main(argc, argv);
}
