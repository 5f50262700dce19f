// lapquill-cli render: builds the view as table does (window sized and painted, files opened,
// STATE options applied in order), then paints one more frame and writes it as a PNG. The
// picture is the frame RenderFrame draws at that moment; its closing playback step runs after
// the picture is taken, as in the program.
#include <iostream>

#include "tools/cli.h"
#include "tools/headless_view.h"
#include "tools/png_writer.h"

namespace lapquill::cli {

int RunRender(const Args& args) {
    ViewOptions options;
    std::string error;
    if (!ParseViewOptions(args, true, &options, &error)) return UsageError(error);
    if (options.out.empty()) return UsageError("render needs --out FILE.png");
    HeadlessSession session(options);
    session.Run();
    CAnalysisView& view = session.View();
    HeadlessWindow& window = session.Window();
    window.lastFrame.clear();
    view.OnPaint();
    // Every message box of the run, in order, as table prints them.
    for (const std::string& m : window.messages) std::cerr << m << "\n";
    if (window.lastFrame.empty()) {
        std::cerr << "lapquill-cli: no frame was drawn\n";
        return 1;
    }
    const PresentedFrame frame{window.lastFrameWidth, window.lastFrameHeight,
                               window.lastFrameWidth * 4, window.lastFrame.data()};
    if (!WritePng(options.out, frame, &error)) {
        std::cerr << "lapquill-cli: " << error << "\n";
        return 1;
    }
    return view.ReplayCount() > 0 ? 0 : 1;
}

}  // namespace lapquill::cli
