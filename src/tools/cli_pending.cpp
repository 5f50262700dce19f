// Subcommands whose modules are still being built report so plainly instead of pretending.
#include <iostream>

#include "tools/cli.h"

namespace lapquill::cli {

namespace {
int NotYet(const char* name) {
    std::cerr << "lapquill-cli: '" << name << "' is not available in this build yet\n";
    return 2;
}
}  // namespace

int RunTable(const Args&) { return NotYet("table"); }
int RunRender(const Args&) { return NotYet("render"); }
int RunDemo(const Args&) { return NotYet("demo"); }

}  // namespace lapquill::cli
