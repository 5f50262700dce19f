// lapquill-cli render: builds the view as table does (window sized and painted, files opened,
// STATE options applied in order), then writes the next frame as a PNG. Message boxes go to
// stderr as table prints them; the status is table's, or 1 when the file cannot be written.
#include <iostream>

#include "files/text_encoding.h"
#include "tools/cli.h"
#include "tools/headless_view.h"

namespace lapquill::cli {

int RunRender(const Args& args) {
    ViewOptions options;
    if (const ParseOutcome p = ParseViewOptions(args, true, &options); !p.Run())
        return Report(p, UsageStyle::WithUsage);
    if (options.out.empty()) return UsageError("render needs --out FILE.png");
    std::string error;
    std::vector<std::string> messages;
    const int status = RenderToPng(options, &messages, &error);
    for (const std::string& m : messages) std::cerr << TerminalText(m) << "\n";
    if (!error.empty()) std::cerr << "lapquill-cli: " << error << "\n";
    return status;
}

}  // namespace lapquill::cli
