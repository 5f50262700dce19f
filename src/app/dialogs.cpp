#include "app/dialogs.h"

#include <QButtonGroup>
#include <QFontMetricsF>
#include <QGroupBox>
#include <QIcon>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>

#include "app/app_icon.h"
#include "math/version.h"

namespace lapquill {

DialogUnitLayout::DialogUnitLayout(const QWidget& dialog) {
    const QFontMetricsF fm(dialog.font());
    const QString sample = QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz");
    const double averageWidth = fm.horizontalAdvance(sample) / sample.size();
    unitX_ = averageWidth / 4.0;
    unitY_ = fm.height() / 8.0;
}

QRect DialogUnitLayout::Rect(int x, int y, int w, int h) const {
    return QRect(qRound(x * unitX_), qRound(y * unitY_), qRound(w * unitX_), qRound(h * unitY_));
}

QSize DialogUnitLayout::Size(int w, int h) const { return {qRound(w * unitX_), qRound(h * unitY_)}; }

namespace {

QPushButton* MakeButton(QWidget* parent, const DialogUnitLayout& du, const QString& text, QRect r) {
    auto* b = new QPushButton(text, parent);
    b->setGeometry(r);
    (void)du;
    return b;
}

void MakeGroupBox(QWidget* parent, const QString& title, QRect r) {
    auto* g = new QGroupBox(title, parent);
    g->setGeometry(r);
    g->lower();  // frames sit behind the radios they enclose
}

}  // namespace

CPreferencesDialog::CPreferencesDialog(AppSettings* settings, QWidget* parent)
    : QDialog(parent), settings_(settings) {
    setWindowTitle(QStringLiteral("Preferences"));
    const DialogUnitLayout du(*this);
    setFixedSize(du.Size(162, 151));

    // Group boxes first so that they stay behind the radios.
    MakeGroupBox(this, QStringLiteral("Display Units"), du.Rect(4, 7, 86, 139));
    MakeGroupBox(this, QStringLiteral("Distance"), du.Rect(11, 18, 51, 40));
    MakeGroupBox(this, QStringLiteral("Speed"), du.Rect(12, 62, 52, 34));
    MakeGroupBox(this, QStringLiteral("Acceleration"), du.Rect(12, 103, 52, 34));

    auto* ok = MakeButton(this, du, QStringLiteral("OK"), du.Rect(107, 7, 50, 14));
    ok->setDefault(true);
    ok->setObjectName(QStringLiteral("IDOK"));
    auto* cancel = MakeButton(this, du, QStringLiteral("Cancel"), du.Rect(107, 24, 50, 14));
    cancel->setObjectName(QStringLiteral("IDCANCEL"));
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);

    struct RadioTemplate {
        const char* text;
        int x, y, w, h;
        int group;
    };
    static constexpr RadioTemplate kRadios[7] = {
        {"meters", 17, 27, 37, 10, 0}, {"km", 17, 36, 25, 10, 0}, {"miles", 17, 45, 31, 10, 0},
        {"kph", 15, 71, 28, 10, 1},    {"mph", 15, 81, 29, 10, 1}, {"m/s^2", 17, 112, 36, 10, 2},
        {"g", 17, 121, 20, 10, 2},
    };
    QButtonGroup* groups[3] = {new QButtonGroup(this), new QButtonGroup(this), new QButtonGroup(this)};
    for (std::size_t i = 0; i < 7; ++i) {
        const auto& t = kRadios[i];
        auto* radio = new QRadioButton(QString::fromLatin1(t.text), this);
        radio->setGeometry(du.Rect(t.x, t.y, t.w, t.h));
        radio->setObjectName(QString::number(kMeters + static_cast<int>(i)));
        groups[t.group]->addButton(radio);
        radios_[i] = radio;
    }

    // One state per group from the settings; unknown stored values select the last choice.
    const DisplayUnits& u = settings_->units;
    checks_[u.distanceUnit == 0 ? 0 : u.distanceUnit == 1 ? 1 : 2] = 1;
    checks_[u.speedUnit == 0 ? 3 : 4] = 1;
    checks_[u.accelerationUnit == 0 ? 5 : 6] = 1;
    for (std::size_t i = 0; i < 7; ++i) radios_[i]->setChecked(checks_[i] != 0);
}

void CPreferencesDialog::accept() {
    for (std::size_t i = 0; i < 7; ++i) checks_[i] = radios_[i]->isChecked() ? 1 : 0;
    DisplayUnits& u = settings_->units;
    u.distanceUnit = checks_[0] ? 0 : checks_[1] ? 1 : 2;
    u.speedUnit = checks_[3] ? 0 : 1;
    u.accelerationUnit = checks_[5] ? 0 : 1;
    QDialog::accept();
}

CAboutDialog::CAboutDialog(QWidget* parent) : QDialog(parent) {
    setWindowTitle(QStringLiteral("About Lapquill"));
    const DialogUnitLayout du(*this);
    setFixedSize(du.Size(235, 69));

    auto* icon = new QLabel(this);
    icon->setPixmap(AppIcon().pixmap(du.Size(21, 20).height()));
    icon->setGeometry(du.Rect(11, 17, 21, 20));

    auto* version = new QLabel(QStringLiteral("Lapquill Version ") + QLatin1String(kLapquillVersion), this);
    version->setGeometry(du.Rect(42, 6, 119, 8));

    // Two short paragraphs: the box is as small as its template says.
    auto* credits = new QLabel(QStringLiteral("Your laps, side by side.\n\nBy the Lapquill developers."),
                               this);
    credits->setWordWrap(true);
    credits->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    credits->setGeometry(du.Rect(42, 24, 119, 38));

    auto* ok = new QPushButton(QStringLiteral("OK"), this);
    ok->setGeometry(du.Rect(178, 7, 50, 16));
    ok->setDefault(true);
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);
}

}  // namespace lapquill
