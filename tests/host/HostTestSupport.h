// What the host tests share: a stand-in for the player's main window that
// answers requests with values each test chooses, a closer for the message
// boxes the units show, and a scratch folder per test.
#pragma once

#include <windows.h>

#include <atomic>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace hosttest {

struct TWindowDestroyer {
    void operator()(HWND window) const {
        if (IsWindow(window))
            DestroyWindow(window);
    }
};
using TWindowOwner = std::unique_ptr<std::remove_pointer_t<HWND>, TWindowDestroyer>;

struct TLibraryDeleter {
    void operator()(HMODULE library) const { FreeLibrary(library); }
};
using TLibrary = std::unique_ptr<std::remove_pointer_t<HMODULE>, TLibraryDeleter>;

// An exported function of a loaded library, or null.
template <class F> F Export(HMODULE library, const char* name) {
    // Through the generic function type, which casts to any other without a warning.
    return reinterpret_cast<F>(reinterpret_cast<void (*)()>(GetProcAddress(library, name)));
}

// A plain top-level window of the given (wide) class, registered on first use.
TWindowOwner CreateClassWindow(const wchar_t* className);

// The player's main window as the plug-in sees it. It lives on the thread
// that made it; requests from that thread reach it directly. Requests not
// given an answer are answered 0.
class TTestPlayer {
public:
    TTestPlayer();
    HWND Window() const { return Handle.get(); }

    void Answer(LPARAM request, WPARAM argument, LRESULT value);
    // Answers request with the address of a copy of text, as the player does.
    void AnswerText(LPARAM request, const std::string& text);
    int Count(LPARAM request) const;

private:
    static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    LRESULT OnRequest(WPARAM argument, LPARAM request);

    std::map<std::pair<LPARAM, WPARAM>, LRESULT> Answers;
    std::map<LPARAM, std::unique_ptr<std::string>> Texts;
    std::map<LPARAM, int> Counts;
    TWindowOwner Handle;
};

// Waits, on a thread of its own, for a message box of this process with the
// given caption, notes its texts and presses OK. Start it before the call
// that shows the box.
class TMessageBoxCloser {
public:
    explicit TMessageBoxCloser(std::string caption);
    ~TMessageBoxCloser();
    TMessageBoxCloser(const TMessageBoxCloser&) = delete;
    TMessageBoxCloser& operator=(const TMessageBoxCloser&) = delete;

    // Stops looking and returns the texts of the box closed (none when no
    // box appeared).
    std::vector<std::string> Finish();

private:
    void Run();

    const std::string Caption;
    std::atomic<bool> Stop{false};
    std::vector<std::string> Found;
    std::thread Worker;
};

// A new empty folder under the temporary folder, removed with its content.
class TScratchFolder {
public:
    TScratchFolder();
    ~TScratchFolder();
    TScratchFolder(const TScratchFolder&) = delete;
    TScratchFolder& operator=(const TScratchFolder&) = delete;

    // The folder's path ending in "\".
    const std::string& Path() const { return Folder; }

private:
    std::string Folder;
};

bool PathExists(const std::string& path);
std::string ReadWholeFile(const std::string& path);
void WriteWholeFile(const std::string& path, const std::string& content);
// The file's lines without their line ends.
std::vector<std::string> FileLines(const std::string& path);

// Changes the current folder for one scope.
class TCurrentFolder {
public:
    explicit TCurrentFolder(const std::string& folder);
    ~TCurrentFolder();
    TCurrentFolder(const TCurrentFolder&) = delete;
    TCurrentFolder& operator=(const TCurrentFolder&) = delete;

private:
    std::string Previous;
};

} // namespace hosttest
