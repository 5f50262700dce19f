// The Preferences and About dialogs, laid out from their dialog-unit templates and scaled to
// the dialog's font (one horizontal unit is a quarter of the average character width, one
// vertical unit an eighth of the character height). CAnalyzerApp runs them modally.
#pragma once

#include <QDialog>
#include <array>

#include "app/app_settings.h"

class QRadioButton;

namespace lapquill {

// Places a widget at a template rectangle given in dialog units.
class DialogUnitLayout {
public:
    explicit DialogUnitLayout(const QWidget& dialog);
    QRect Rect(int x, int y, int w, int h) const;
    QSize Size(int w, int h) const;

private:
    double unitX_;  // pixels per horizontal dialog unit
    double unitY_;  // pixels per vertical dialog unit
};

class CPreferencesDialog : public QDialog {
    Q_OBJECT
public:
    // Control ids of the radios, in the order of the seven check states.
    enum { kMeters = 1000, kKm, kMiles, kKph, kMph, kMs2, kG };

    CPreferencesDialog(AppSettings* settings, QWidget* parent = nullptr);

    // The seven check states: metres, km, miles, kph, mph, m/s^2, g.
    const std::array<int, 7>& CheckStates() const { return checks_; }
    QRadioButton* Radio(int id) const { return radios_[static_cast<std::size_t>(id - kMeters)]; }

    void accept() override;

private:
    AppSettings* settings_;
    std::array<int, 7> checks_{};
    std::array<QRadioButton*, 7> radios_{};
};

class CAboutDialog : public QDialog {
    Q_OBJECT
public:
    explicit CAboutDialog(QWidget* parent = nullptr);
};

}  // namespace lapquill
