// The launcher's only window: load step, activation work (extract the
// payload, start the installation script), refusal of every close the
// launcher did not start itself.
#pragma once
#include <windows.h>

#include <stdexcept>
#include <string>
#include <vector>

#include "catalogue_lookup.h"
#include "handles.h"
#include "launcher_logic.h"
#include "launcher_system.h"

namespace vellum {
namespace launcher {

// A failure of the load step: its description ends the program. The stop
// icon marks what could not be created, the exclamation icon the rest.
class LoadFailure : public std::runtime_error {
public:
    explicit LoadFailure(const std::wstring& text, UINT icon = MB_ICONEXCLAMATION)
        : std::runtime_error("load failure"), text_(text), icon_(icon) {}
    const std::wstring& text() const { return text_; }
    UINT icon() const { return icon_; }
private:
    std::wstring text_;
    UINT icon_;
};

// The run ends early with an exit code and one message (a refusal, or a
// failure that makes the rest pointless).
class RunStop : public std::runtime_error {
public:
    RunStop(int code, const std::wstring& text, UINT icon)
        : std::runtime_error("run stopped"), code_(code), text_(text), icon_(icon) {}
    int code() const { return code_; }
    const std::wstring& text() const { return text_; }
    UINT icon() const { return icon_; }
private:
    int code_;
    std::wstring text_;
    UINT icon_;
};

class FrmMain {
public:
    FrmMain();
    // Creates the window, runs the load step and the message loop; returns
    // the program's exit code.
    int run(HINSTANCE instance, const std::wstring& argumentText);

private:
    static LRESULT CALLBACK WindowProc(HWND, UINT, WPARAM, LPARAM);
    LRESULT handle(UINT msg, WPARAM wParam, LPARAM lParam);

    int runWindow(HINSTANCE instance);
    void createWindow(HINSTANCE instance);
    void Form_Load();
    void Form_Activate();
    // True: the close request is refused.
    bool Form_QueryUnload();
    void closeFromProgram();

    ExtractOutcome extractPayloadFile(int id, const std::wstring& name);
    std::wstring stoppedText(const std::wstring& failure);
    void waitForScriptLock();
    // Waits for the started script to end (/wait); false when its end or
    // exit code cannot be known.
    bool waitForScriptEnd(DWORD* exitCode);
    void showMessage(const std::wstring& text, UINT icon);
    std::wstring getLocalizedMsg(const std::wstring& resourceId, const std::wstring& defaultString);
    void setProgress(int value);

    HWND hwnd_ = nullptr;
    HWND lblProgress_ = nullptr;
    HWND progressBar1_ = nullptr;
    bool windowVisible_ = false;
    bool closingFromProgram_ = false;
    int exitCode_ = kExitScriptStarted;

    // The run's state.
    bool runPending = false;
    bool silentMode = false;
    std::wstring argumentText_;
    std::wstring extractDir;
    std::wstring localeID;
    std::wstring uiStringsFileName;
    std::wstring filesListPath;
    std::vector<std::wstring> fileNames;
    std::wstring setupCaption;
    CatalogueLookup lookup_;
    UniqueHandle runMutex_;
    UniqueHandle scriptProcess_;
    bool scriptStarted_ = false;
};

}  // namespace launcher
}  // namespace vellum
