#pragma once
// The counting of the upload progress bar: a total and a count of parts
// done. A new total that differs from the present one sets the count back
// to 0; a count above the total is cut to the total.
class TProgressParts {
public:
    int TotalParts() const { return total_; }
    int PartsComplete() const { return complete_; }

    void SetTotalParts(int total) {
        if (total == total_) return;
        total_ = total < 0 ? 0 : total;
        complete_ = 0;
    }
    void SetPartsComplete(int count) {
        if (count < 0) count = 0;
        complete_ = count > total_ ? total_ : count;
    }
    // Whole percent shown on the bar.
    int Percent() const { return total_ > 0 ? complete_ * 100 / total_ : 0; }

private:
    int total_ = 0;
    int complete_ = 0;
};
