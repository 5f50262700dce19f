// lapquill-cli demo: not built yet; it says so rather than pretending.
#include <iostream>

#include "tools/cli.h"

namespace lapquill::cli {

int RunDemo(const Args&) {
    std::cerr << "lapquill-cli: 'demo' is not available in this build yet\n";
    return 2;
}

}  // namespace lapquill::cli
