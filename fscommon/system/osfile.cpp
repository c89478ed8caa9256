#include "system/osfile.h"

#include "system/sysinfo.h"

std::string describeFileProblem(FileProblem problem, uint32_t systemError) {
    switch (problem) {
        case FileProblem::None:
            return "no problem";
        case FileProblem::Link:
            return "a symbolic link, not followed";
        case FileProblem::NotRegular:
            return "not a regular file";
        case FileProblem::SystemError:
            break;
    }
    return sysinfo::errorText(systemError);
}
