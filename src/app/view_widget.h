// CViewWidget: the map view's window on Qt. A scroll area whose viewport shows the frames the
// CAnalysisView presents (at the viewport's device-pixel size) and whose scroll bars are the
// view's; it turns key, wheel, size and paint events into the view's handlers. The main frame
// owns it; it owns the view.
#pragma once

#include <QAbstractScrollArea>
#include <QPointF>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "view/view_window.h"

namespace lapquill {

class CAnalysisView;
struct AppSettings;

class CViewWidget : public QAbstractScrollArea, public ViewWindow {
    Q_OBJECT
public:
    CViewWidget(AppSettings* settings, QWidget* parent = nullptr);
    ~CViewWidget() override;

    CAnalysisView& View() { return *view_; }

    // The text on the empty map.
    static QString EmptyHint();

    // What the frame's commands do.
    bool SendKey(std::uint32_t virtualKey);
    void OpenReplays(bool replace);
    // Opens or adds these files exactly as the open dialog would have returned them.
    void OpenReplayFiles(const std::vector<std::string>& paths, bool replace);
    void MarkCustomStart();
    void MarkCustomEnd();
    void SetSyncMode(int mode);
    int ReplayCount() const;
    bool StatsVisible() const;
    int SyncModeValue() const;

    // ViewWindow.
    void InvalidateRect() override;
    ClientRect GetClientRect() const override;
    void SetScrollInfo(ScrollBarId bar, const ScrollInfo& info, bool redraw) override;
    ScrollInfo GetScrollInfo(ScrollBarId bar) const override;
    int LogicalDpi() const override;
    void ShowScrollBar(ScrollBarId bar, bool show) override;
    void MessageBox(const std::string& text) override;
    void MessageBoxWithDetails(const std::string& text, const std::string& details) override;
    void ShowStatusNote(const std::string& text) override;
    std::optional<std::vector<std::string>> ChooseReplayFiles(const OpenReplayDialog& dialog) override;
    void Present(const PresentedFrame& frame) override;
    std::unique_ptr<RenderDevice> CreateDevice(std::int32_t width, std::int32_t height) override;

    // The last message boxes' texts (newest last); tests read them instead of clicking.
    const std::vector<std::string>& Messages() const { return messages_; }
    // The status notes the view gave (newest last).
    const std::vector<std::string>& StatusNotes() const { return statusNotes_; }
    // When set, message boxes are recorded but not shown (tests and scripted runs).
    void SetQuietMessages(bool quiet) { quietMessages_ = quiet; }

signals:
    // After every frame the view painted: the panes beside the map catch up with the playback
    // time, the segment and the replay set from here.
    void frameShown();
    // Before the replay set may change (open or add): a pane holding a comparison of the set
    // lets it go here and builds it again after the next frame.
    void replaysChanging();
    // A key (virtual-key code) the view acted on, typed or sent by a menu command.
    void keyApplied(std::uint32_t virtualKey);

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void scrollContentsBy(int dx, int dy) override;

private:
    QSize DevicePixelSize() const;
    void SetScrollBarPolicy(Qt::Orientation bar, Qt::ScrollBarPolicy policy);
    // Tells the view when the viewport's pixel size or density changed since it last heard:
    // scroll bars appearing or a move to another screen change them without a resize of the
    // widget itself.
    void SyncViewSize();
    void DrawEmptyHint(QPainter* painter) const;
    // A scroll bar's action as the view's scroll code (SB_LINELEFT ... SB_RIGHT).
    void OnScrollAction(ScrollBarId bar, int action);

    AppSettings* settings_;
    std::unique_ptr<CAnalysisView> view_;
    std::optional<std::vector<std::string>> pendingFiles_;  // answers the next open dialog
    std::vector<std::string> messages_;
    std::vector<std::string> statusNotes_;
    bool quietMessages_ = false;
    bool painting_ = false;
    bool addingReplays_ = false;  // the open dialog is Add's, not Open's
    QSize viewSize_;              // device pixels the view was last sized to
    qreal viewRatio_ = 0;         // and the device-pixel ratio then
    std::optional<QPointF> dragFrom_;  // where a left-button drag last was, device pixels
};

}  // namespace lapquill
