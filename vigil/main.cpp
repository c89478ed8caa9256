#include "vigil.h"

int main(int argc, char** argv) {
    return vigilMain(argc, argv);
}
