// lapquill-cli: the headless window of Lapquill. It inspects data files, prints the
// statistics table, renders frames to PNG, compares laps and writes the demo data set.
#include "tools/cli.h"

int main(int argc, char** argv) {
    return lapquill::cli::RunCommandLine(lapquill::cli::Args(argv + 1, argv + argc));
}
