#pragma once
// What the upload run needs of the main window: its status line (`Label3`),
// the Upload and Quit buttons, `Label9` with the progress bar, and plain
// messages. The window implements it; tests use a fake.
#include <string>

class IUploadView {
public:
    virtual ~IUploadView() = default;

    // Makes `Label9` and the progress bar visible.
    virtual void ShowProgress() = 0;
    virtual void SetUploadEnabled(bool enabled) = 0;
    virtual void SetQuitEnabled(bool enabled) = 0;
    // `Label3`'s caption; repaintNow paints it at once rather than when the
    // window next handles its messages.
    virtual void SetStatusText(const std::string& text, bool repaintNow) = 0;
    // The progress bar, with the counting of TProgressParts.
    virtual void SetTotalParts(int total) = 0;
    virtual void SetPartsComplete(int count) = 0;
    virtual int PartsComplete() const = 0;
    // A plain message: caption "QELZAV", no icon, one OK button; returns
    // when the user has closed it.
    virtual void ShowMessage(const std::string& text) = 0;
};
