#include "app/PartsProgressBar.h"

#include <algorithm>

TPartsProgressBar::TPartsProgressBar(QWidget* parent) : QProgressBar(parent) {
    setTextVisible(true);
    setAlignment(Qt::AlignCenter);
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
    // A 0..0 range would turn the bar into a busy indicator; show 0 % instead.
    setRange(0, 100);
    setValue(PercentComplete());
    setFormat(QStringLiteral("%1%").arg(PercentComplete()));
}
