// The shared main-window fixture with what the desktop tests add: a new window as after a
// restart, a shown and active window, focus moved off the map, and modal dialogs inspected.
#pragma once

#include <gtest/gtest.h>

#include <QApplication>
#include <QLineEdit>
#include <QSettings>
#include <QTest>
#include <QTimer>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/app_settings.h"
#include "app/main_frame.h"
#include "app/view_widget.h"
#include "support/app_fixture.h"
#include "support/sample_files.h"
#include "view/analysis_view.h"

namespace lapquill::test {

class DesktopFixture : public MainWindowFixture {
protected:
    void SetUp() override {
        MainWindowFixture::SetUp();
        frame_->resize(900, 650);
    }
    // A new window, as after a restart of the program.
    void NewFrame() {
        away_ = nullptr;
        frame_.reset();
        frame_ = std::make_unique<CMainFrame>(&settings_);
        frame_->View().SetQuietMessages(true);
        frame_->resize(900, 650);
    }
    // Shows the window and waits until it has the keyboard.
    void ShowActive() {
        frame_->show();
        frame_->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(frame_.get()));
    }
    // Puts the window's keyboard focus on a line edit of its own, away from the map, so that
    // a dialog that did not hand the focus back would leave it there.
    void MoveFocusAwayFromTheMap() {
        if (!away_) {
            away_ = new QLineEdit(frame_.get());
            away_->setGeometry(0, 0, 40, 20);
            away_->show();
        }
        away_->setFocus();
    }
    // True when the keyboard is on the map once the window is active again. The desktop's
    // window manager activates the window a dialog closes over; the offscreen platform does
    // not, so the test does.
    bool MapGetsTheKeyboard() {
        frame_->activateWindow();
        if (!QTest::qWaitForWindowActive(frame_.get())) return false;
        return QTest::qWaitFor([this] { return QApplication::focusWidget() == &frame_->View(); }, 2000);
    }
    // Runs `inspect` on the modal dialog that `open` brings up (polled until it shows), then
    // lets `open` return. The inspector must close the dialog.
    static void WithModal(const std::function<void()>& open, const std::function<void(QWidget*)>& inspect) {
        bool seen = false;
        QTimer poll;
        poll.setInterval(20);
        QObject::connect(&poll, &QTimer::timeout, [&] {
            if (QWidget* modal = QApplication::activeModalWidget()) {
                poll.stop();
                seen = true;
                inspect(modal);
            }
        });
        poll.start();
        open();
        poll.stop();
        EXPECT_TRUE(seen) << "no dialog came up";
    }

    QLineEdit* away_ = nullptr;  // owned by the frame
};

}  // namespace lapquill::test
