// CAnalyzerApp: start-up and shut-down of the program. It reads the settings (store, then the
// options file), creates and shows the main frame, runs Preferences and About, and writes the
// settings back at exit. One instance lives in main().
#pragma once

#include <QObject>
#include <memory>
#include <string>
#include <vector>

#include "app/app_settings.h"

namespace lapquill {

class CMainFrame;

class CAnalyzerApp : public QObject {
    Q_OBJECT
public:
    // executablePath names the options file ("<base name>.opt" in the current directory).
    explicit CAnalyzerApp(std::string executablePath);
    ~CAnalyzerApp() override;

    // Start-up: settings, frame created and shown. False ends the program.
    bool InitInstance(const std::vector<std::string>& replayFiles = {});
    // Shut-down: settings written. Returns the exit code.
    int ExitInstance(int code);

    AppSettings& Settings() { return settings_; }
    CMainFrame* Frame() { return frame_.get(); }

public slots:
    void OnPreferences();
    void OnAbout();

private:
    std::string executablePath_;
    AppSettings settings_;
    std::unique_ptr<CMainFrame> frame_;
};

}  // namespace lapquill
