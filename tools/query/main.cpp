// vigil-query: reads a monitor's cache (see queryoptions.h for the command line).
#include <clocale>
#include <cstdio>

#include "querycommands.h"
#include "queryoptions.h"
#include "querysystem.h"

int main(int argc, char** argv) {
    // As the monitor does; index keys and name comparisons do not depend on it.
    std::setlocale(LC_ALL, "");
    querysystem::prepareOutput();
    const ParsedOptions parsed =
        parseQueryOptions(querysystem::arguments(argc, argv), stdout, stderr);
    const int code = parsed.options ? runQuery(*parsed.options, stdout, stderr) : parsed.exitCode;
    std::fflush(stdout);
    return code;
}
