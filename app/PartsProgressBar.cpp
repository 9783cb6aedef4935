#include "app/PartsProgressBar.h"

#include <algorithm>

TPartsProgressBar::TPartsProgressBar(QWidget* parent) : QProgressBar(parent) {
    setTextVisible(true);
    setAlignment(Qt::AlignCenter);
    // The bar shows the percentage of parts complete; a 0..0 range would
    // turn it into a busy indicator, so the range stays 0..100.
    setRange(0, 100);
    setFormat(QStringLiteral("%p%"));
    ShowCount();
}

void TPartsProgressBar::SetTotalParts(int total) {
    total = std::max(total, 0);
    if (total == totalParts_) return;
    totalParts_ = total;
    partsComplete_ = 0;
    ShowCount();
}

void TPartsProgressBar::SetPartsComplete(int count) {
    partsComplete_ = std::clamp(count, 0, totalParts_);
    ShowCount();
}

int TPartsProgressBar::PercentComplete() const {
    return totalParts_ == 0 ? 0 : static_cast<int>(100LL * partsComplete_ / totalParts_);
}

void TPartsProgressBar::ShowCount() {
    // QProgressBar repaints at once whenever its value shows differently;
    // the bar is painted when the window next handles its messages instead,
    // so that a fast run does not stop to paint it after every file.
    if (value() == PercentComplete()) return;
    setUpdatesEnabled(false);
    setValue(PercentComplete());
    setUpdatesEnabled(true);
}
