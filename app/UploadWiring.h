#pragma once
// The upload run on the window: its status line, buttons, progress bar and
// message boxes are the window's own controls, its client the window's
// NetFTP1. Built once with the window; Upload runs it while it holds the
// program folder's lock.
#include <memory>
#include <string>

#include "upload/UploadView.h"

class TForm1;
class TUploadRun;

class TUploadWindowView : public IUploadView {
public:
    explicit TUploadWindowView(TForm1& form) : form_(form) {}

    void ShowProgress() override;
    void SetUploadEnabled(bool enabled) override;
    void SetQuitEnabled(bool enabled) override;
    void SetStatusText(const std::string& text, bool repaintNow) override;
    void SetTotalParts(int total) override;
    void SetPartsComplete(int count) override;
    int PartsComplete() const override;
    void ShowMessage(const std::string& text) override;

private:
    TForm1& form_;
};

class TUploadWiring {
public:
    explicit TUploadWiring(TForm1& form);
    ~TUploadWiring();
    TUploadWiring(const TUploadWiring&) = delete;
    TUploadWiring& operator=(const TUploadWiring&) = delete;

    void Run();
    // Before the upload log closes during a run.
    void WaitForAuditRow();

private:
    TForm1& form_;
    TUploadWindowView view_;
    std::unique_ptr<TUploadRun> run_;
};
