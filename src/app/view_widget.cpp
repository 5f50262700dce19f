#include "app/view_widget.h"

#include <QImage>
#include <QKeyEvent>
#include <QMainWindow>
#include <QMessageBox>
#include <QPainter>
#include <QScrollBar>
#include <QMouseEvent>
#include <QStatusBar>
#include <QWheelEvent>

#include "app/app_settings.h"
#include "app/key_mapping.h"
#include "app/open_dialog.h"
#include "render/software_device.h"
#include "view/analysis_view.h"

namespace lapquill {

CViewWidget::CViewWidget(AppSettings* settings, QWidget* parent)
    : QAbstractScrollArea(parent), settings_(settings) {
    setFocusPolicy(Qt::StrongFocus);
    setFrameStyle(QFrame::StyledPanel | QFrame::Sunken);
    // The view paints every pixel of every frame: no background erase between frames.
    viewport()->setAttribute(Qt::WA_OpaquePaintEvent);
    viewport()->setAttribute(Qt::WA_NoSystemBackground);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    view_ = std::make_unique<CAnalysisView>(*this);
    view_->SetDisplayUnits(settings_->units);
    connect(horizontalScrollBar(), &QAbstractSlider::actionTriggered, this,
            [this](int action) { OnScrollAction(ScrollBarId::Horizontal, action); });
    connect(verticalScrollBar(), &QAbstractSlider::actionTriggered, this,
            [this](int action) { OnScrollAction(ScrollBarId::Vertical, action); });
}

void CViewWidget::OnScrollAction(ScrollBarId bar, int action) {
    std::uint32_t code = 0;
    switch (action) {
        case QAbstractSlider::SliderSingleStepSub: code = SB_LINELEFT; break;
        case QAbstractSlider::SliderSingleStepAdd: code = SB_LINERIGHT; break;
        case QAbstractSlider::SliderPageStepSub: code = SB_PAGELEFT; break;
        case QAbstractSlider::SliderPageStepAdd: code = SB_PAGERIGHT; break;
        case QAbstractSlider::SliderMove: code = SB_THUMBTRACK; break;  // thumb: sliderPosition()
        case QAbstractSlider::SliderToMinimum: code = SB_LEFT; break;
        case QAbstractSlider::SliderToMaximum: code = SB_RIGHT; break;
        default: return;
    }
    // The view's camera update sets the bar's value; Qt then keeps that value, since the
    // action's own step ends in setValue of the slider position the update just set.
    if (bar == ScrollBarId::Horizontal) {
        view_->OnHScroll(code);
    } else {
        view_->OnVScroll(code);
    }
}

CViewWidget::~CViewWidget() {
    // The view releases its device and replays while its window still exists.
    view_->OnDestroy();
}

bool CViewWidget::SendKey(std::uint32_t virtualKey) {
    const bool handled = view_->HandleKeyAction(virtualKey);
    if (handled) emit keyApplied(virtualKey);
    return handled;
}

QString CViewWidget::EmptyHint() {
    return tr("Open replays with File > Open Replay(s)\u2026 or drop .raf files here");
}

void CViewWidget::OpenReplays(bool replace) {
    emit replaysChanging();
    addingReplays_ = !replace;
    view_->OpenReplays(replace);
    addingReplays_ = false;
}

void CViewWidget::OpenReplayFiles(const std::vector<std::string>& paths, bool replace) {
    if (paths.empty()) return;
    emit replaysChanging();
    pendingFiles_ = paths;
    view_->OpenReplays(replace);
    pendingFiles_.reset();
}

void CViewWidget::MarkCustomStart() { view_->MarkCustomStart(); }
void CViewWidget::MarkCustomEnd() { view_->MarkCustomEnd(); }
void CViewWidget::SetSyncMode(int mode) { view_->SetSyncMode(static_cast<SyncMode>(mode)); }
int CViewWidget::ReplayCount() const { return view_->ReplayCount(); }
bool CViewWidget::StatsVisible() const { return view_->StatsVisible(); }
int CViewWidget::SyncModeValue() const { return static_cast<int>(view_->Playback().syncMode); }

void CViewWidget::InvalidateRect() { viewport()->update(); }

QSize CViewWidget::DevicePixelSize() const {
    const qreal dpr = viewport()->devicePixelRatioF();
    return {qRound(viewport()->width() * dpr), qRound(viewport()->height() * dpr)};
}

ClientRect CViewWidget::GetClientRect() const {
    const QSize s = DevicePixelSize();
    return {0, 0, s.width(), s.height()};
}

void CViewWidget::SetScrollInfo(ScrollBarId bar, const ScrollInfo& info, bool) {
    for (QScrollBar* sb : {horizontalScrollBar(), verticalScrollBar()}) {
        const bool horizontal = sb == horizontalScrollBar();
        if (bar != ScrollBarId::Both && (bar == ScrollBarId::Horizontal) != horizontal) continue;
        const QSignalBlocker block(sb);
        if (info.fMask & SIF_PAGE) sb->setPageStep(static_cast<int>(info.nPage));
        if (info.fMask & SIF_RANGE) {
            // A Windows scroll bar's range includes the page; Qt's maximum is the last position.
            const int page = std::max(sb->pageStep(), 1);
            sb->setRange(info.nMin, std::max(info.nMin, info.nMax - page + 1));
        }
        if (info.fMask & SIF_POS) sb->setValue(info.nPos);
        // A page larger than the whole range hides a bar unless it asks to stay (disabled).
        if ((info.fMask & (SIF_RANGE | SIF_PAGE)) == (SIF_RANGE | SIF_PAGE) &&
            !(info.fMask & SIF_DISABLENOSCROLL) &&
            static_cast<std::int64_t>(info.nPage) >
                static_cast<std::int64_t>(info.nMax) - info.nMin) {
            SetScrollBarPolicy(horizontal ? Qt::Horizontal : Qt::Vertical, Qt::ScrollBarAlwaysOff);
        }
    }
}

ScrollInfo CViewWidget::GetScrollInfo(ScrollBarId bar) const {
    const QScrollBar* sb =
        bar == ScrollBarId::Vertical ? verticalScrollBar() : horizontalScrollBar();
    ScrollInfo info;
    info.fMask = SIF_ALL;
    info.nMin = sb->minimum();
    info.nPage = static_cast<std::uint32_t>(sb->pageStep());
    // The inverse of SetScrollInfo's mapping: the Windows range ends a page past Qt's maximum.
    info.nMax = sb->maximum() + std::max(sb->pageStep(), 1) - 1;
    info.nPos = sb->value();
    info.nTrackPos = sb->sliderPosition();
    return info;
}

int CViewWidget::LogicalDpi() const {
    // The view draws in device pixels, so its fonts are rasterised at the density of those.
    return qRound(logicalDpiY() * viewport()->devicePixelRatioF());
}

void CViewWidget::ShowScrollBar(ScrollBarId bar, bool show) {
    const auto policy = show ? Qt::ScrollBarAlwaysOn : Qt::ScrollBarAlwaysOff;
    if (bar != ScrollBarId::Vertical) SetScrollBarPolicy(Qt::Horizontal, policy);
    if (bar != ScrollBarId::Horizontal) SetScrollBarPolicy(Qt::Vertical, policy);
}

void CViewWidget::SetScrollBarPolicy(Qt::Orientation bar, Qt::ScrollBarPolicy policy) {
    // The view states its bars at every frame; setting a policy lays the scroll area out and
    // repaints its frame even when nothing changes, so only a change is passed on.
    if (bar == Qt::Horizontal) {
        if (horizontalScrollBarPolicy() != policy) setHorizontalScrollBarPolicy(policy);
    } else if (verticalScrollBarPolicy() != policy) {
        setVerticalScrollBarPolicy(policy);
    }
}

void CViewWidget::MessageBox(const std::string& text) { MessageBoxWithDetails(text, {}); }

void CViewWidget::ShowStatusNote(const std::string& text) {
    statusNotes_.push_back(text);
    // Shown for a while in the main window's status bar, then the bar's own text returns.
    if (auto* frame = qobject_cast<QMainWindow*>(window())) {
        frame->statusBar()->showMessage(QString::fromStdString(text), 15000);
    }
}

void CViewWidget::MessageBoxWithDetails(const std::string& text, const std::string& details) {
    messages_.push_back(text);
    if (quietMessages_) return;
    QMessageBox box(QMessageBox::NoIcon, QStringLiteral("Lapquill"), QString::fromStdString(text),
                    QMessageBox::Ok, this);
    if (!details.empty()) box.setDetailedText(QString::fromStdString(details));
    box.exec();
    // The map's keys work again at once, without a click on the map.
    setFocus(Qt::OtherFocusReason);
}

std::optional<std::vector<std::string>> CViewWidget::ChooseReplayFiles(const OpenReplayDialog& dialog) {
    if (pendingFiles_) return pendingFiles_;
    const QStringList files = RunReplayDialog(this, addingReplays_, dialog);
    setFocus(Qt::OtherFocusReason);
    if (files.isEmpty()) return std::nullopt;
    std::vector<std::string> paths;
    for (const QString& f : files) paths.push_back(f.toStdString());
    return paths;
}

void CViewWidget::Present(const PresentedFrame& frame) {
    if (!painting_) {
        // A frame drawn outside a paint event (none today): show it on the next paint.
        viewport()->update();
        return;
    }
    // Wraps the device's pixels without copying them.
    QImage image(reinterpret_cast<const uchar*>(frame.pixels), frame.width, frame.height,
                 frame.pitch, QImage::Format_RGB32);
    image.setDevicePixelRatio(viewport()->devicePixelRatioF());
    QPainter painter(viewport());
    painter.drawImage(QPointF(0, 0), image);
    if (view_->ReplayCount() == 0) DrawEmptyHint(&painter);
}

void CViewWidget::DrawEmptyHint(QPainter* painter) const {
    // Drawn by Qt over the frame, so the text is sharp at any density and in the desktop's font.
    QFont font = this->font();
    font.setPointSizeF(font.pointSizeF() * 1.25);
    painter->setFont(font);
    painter->setPen(QColor(0xD0, 0xD0, 0xD0));
    painter->drawText(viewport()->rect().adjusted(16, 16, -16, -16),
                      Qt::AlignCenter | Qt::TextWordWrap, EmptyHint());
}

std::unique_ptr<RenderDevice> CViewWidget::CreateDevice(std::int32_t width, std::int32_t height) {
    return std::make_unique<SoftwareDevice>(width, height);
}

void CViewWidget::SyncViewSize() {
    const QSize s = DevicePixelSize();
    const qreal ratio = viewport()->devicePixelRatioF();
    if (s == viewSize_ && ratio == viewRatio_) return;
    viewSize_ = s;
    viewRatio_ = ratio;
    view_->OnSize(s.width(), s.height());
}

void CViewWidget::paintEvent(QPaintEvent*) {
    SyncViewSize();
    view_->SetDisplayUnits(settings_->units);
    painting_ = true;
    view_->OnPaint();
    painting_ = false;
    emit frameShown();
}

void CViewWidget::resizeEvent(QResizeEvent* event) {
    QAbstractScrollArea::resizeEvent(event);
    SyncViewSize();
}

void CViewWidget::keyPressEvent(QKeyEvent* event) {
    const bool keypad = (event->modifiers() & Qt::KeypadModifier) != 0;
    // Keys held with Alt belong to the menus (system keys never reach the view).
    const bool system = (event->modifiers() & (Qt::AltModifier | Qt::MetaModifier)) != 0;
    if (const auto vk = system ? std::nullopt : VirtualKeyFromQtKey(event->key(), keypad)) {
        if (view_->HandleKeyAction(*vk)) {
            emit keyApplied(*vk);
            event->accept();
            return;
        }
    }
    // Keys the view leaves alone go on to the frame, as default processing would.
    QWidget::keyPressEvent(event);
}

void CViewWidget::wheelEvent(QWheelEvent* event) {
    if (settings_->mouseWheelZooms == 0) {
        event->ignore();
        return;
    }
    const int delta = event->angleDelta().y();
    if (delta < 0) view_->HandleKeyAction('X');
    if (delta > 0) view_->HandleKeyAction('Z');
    event->accept();
}

void CViewWidget::mousePressEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) {
        QAbstractScrollArea::mousePressEvent(event);
        return;
    }
    dragFrom_ = event->position() * viewport()->devicePixelRatioF();
    viewport()->setCursor(Qt::ClosedHandCursor);
    event->accept();
}

void CViewWidget::mouseMoveEvent(QMouseEvent* event) {
    if (!dragFrom_ || !(event->buttons() & Qt::LeftButton)) {
        QAbstractScrollArea::mouseMoveEvent(event);
        return;
    }
    // Whole device pixels only; the remainder stays in dragFrom_ for the next move.
    const QPointF at = event->position() * viewport()->devicePixelRatioF();
    const QPointF moved = at - *dragFrom_;
    const int dx = static_cast<int>(moved.x());
    const int dy = static_cast<int>(moved.y());
    *dragFrom_ += QPointF(dx, dy);
    view_->DragMap(dx, dy);
    event->accept();
}

void CViewWidget::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton && dragFrom_) {
        dragFrom_.reset();
        viewport()->unsetCursor();
        event->accept();
        return;
    }
    QAbstractScrollArea::mouseReleaseEvent(event);
}

void CViewWidget::scrollContentsBy(int, int) {
    // The scroll bars move the camera; the view repaints the whole map itself.
}

}  // namespace lapquill
