// The launcher's only window: load step, activation work (extract the
// payload, start the installation script), refusal of every close the
// launcher did not start itself.
#pragma once
#include <windows.h>

#include <string>
#include <vector>

#include "catalogue_lookup.h"
#include "handles.h"
#include "launcher_logic.h"
#include "launcher_system.h"

namespace vellum {
namespace launcher {

// How the load step ended early: the exit code and the one message that says
// why. The stop icon marks what could not be created, the exclamation icon
// the rest. An empty text means the load step went on.
struct RunStop {
    int code;
    std::wstring text;
    UINT icon;
    explicit operator bool() const { return !text.empty(); }
};

// A failure of the load step itself (exit code kExitLoadFailed).
inline RunStop LoadFailure(const std::wstring& text, UINT icon = MB_ICONEXCLAMATION) {
    return RunStop{kExitLoadFailed, text, icon};
}

// The thread's single-threaded apartment, entered on first need and left
// when the window object goes (after the lookup's document, declared later).
class ComApartment {
public:
    ComApartment() = default;
    ComApartment(const ComApartment&) = delete;
    ComApartment& operator=(const ComApartment&) = delete;
    ~ComApartment();
    void enter();

private:
    bool entered_ = false;
    bool tried_ = false;
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
    RunStop createWindow(HINSTANCE instance);
    RunStop Form_Load();
    void Form_Activate();
    // True: the close request is refused.
    bool Form_QueryUnload();
    void closeFromProgram();

    ExtractOutcome extractPayloadFile(int id, const std::wstring& name);
    std::wstring stoppedText(const std::wstring& failure);
    void waitForScriptLock();
    // Whether what the shell started took the script's lock (held now, or
    // created since the start).
    bool lockTaken();
    // Whether the installation began; tells the user when it did not.
    StartVerdict judgeStart();
    // Waits for the started script to end (/wait); false when its end or
    // exit code cannot be known.
    bool waitForScriptEnd(DWORD* exitCode);
    void showMessage(const std::wstring& text, UINT icon);
    const std::wstring& caption();
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
    bool captionKnown_ = false;  // setupCaption looked up in the catalogue
    bool catalogueSet_ = false;  // the lookup knows which catalogue to read
    ComApartment com_;
    CatalogueLookup lookup_;
    UniqueHandle runMutex_;
    UniqueHandle scriptProcess_;
    std::wstring scriptImage_;   // what the shell started, when it said
    bool scriptStarted_ = false;
    bool lockSeen_ = false;
    bool lockFileLeftOver_ = false;  // an earlier run's lock file could not be removed
};

}  // namespace launcher
}  // namespace vellum
