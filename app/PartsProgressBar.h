#pragma once
// A progress bar that counts parts: a new total sets the count back to 0,
// a count above the total is cut to it, and the bar shows the percentage.
#include <QProgressBar>

class TPartsProgressBar : public QProgressBar {
    Q_OBJECT
public:
    explicit TPartsProgressBar(QWidget* parent = nullptr);

    void SetTotalParts(int total);
    int TotalParts() const { return totalParts_; }
    void SetPartsComplete(int count);
    int PartsComplete() const { return partsComplete_; }
    int PercentComplete() const;

private:
    void ShowCount();

    int totalParts_ = 0;
    int partsComplete_ = 0;
};
