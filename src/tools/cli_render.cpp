// lapquill-cli render: not built yet; it says so rather than pretending.
#include <iostream>

#include "tools/cli.h"

namespace lapquill::cli {

int RunRender(const Args&) {
    std::cerr << "lapquill-cli: 'render' is not available in this build yet\n";
    return 2;
}

}  // namespace lapquill::cli
