#include "tests/host/HostTestSupport.h"

#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <sstream>

#include "host/PlayerInterface.h"

namespace hosttest {
namespace {

constexpr wchar_t PlayerClass[] = L"QVHostTestPlayer";

void RegisterClassOnce(const wchar_t* className, WNDPROC procedure) {
    WNDCLASSW existing;
    const HINSTANCE instance = GetModuleHandleW(nullptr);
    if (GetClassInfoW(instance, className, &existing))
        return;
    WNDCLASSW windowClass = {};
    windowClass.lpfnWndProc = procedure;
    windowClass.hInstance = instance;
    windowClass.lpszClassName = className;
    ASSERT_NE(RegisterClassW(&windowClass), 0) << "class registration failed";
}

TWindowOwner CreateWindowOf(const wchar_t* className, void* self) {
    return TWindowOwner(CreateWindowExW(0, className, L"", WS_OVERLAPPEDWINDOW, 0, 0, 100, 100,
                                        nullptr, nullptr, GetModuleHandleW(nullptr), self));
}

// A system callback: stdcall on i686, which a lambda cannot be.
BOOL CALLBACK CollectChildText(HWND child, LPARAM context) {
    char text[512] = {};
    GetWindowTextA(child, text, sizeof text);
    reinterpret_cast<std::vector<std::string>*>(context)->push_back(text);
    return TRUE;
}

std::vector<std::string> ChildTexts(HWND box) {
    std::vector<std::string> texts;
    EnumChildWindows(box, CollectChildText, reinterpret_cast<LPARAM>(&texts));
    return texts;
}

HWND OwnVisibleBox(const std::string& caption) {
    const HWND box = FindWindowA("#32770", caption.c_str());
    if (box == nullptr || !IsWindowVisible(box))
        return nullptr;
    DWORD process = 0;
    GetWindowThreadProcessId(box, &process);
    return process == GetCurrentProcessId() ? box : nullptr;
}

void RemoveTree(const std::string& folder) {
    WIN32_FIND_DATAA entry;
    const HANDLE search = FindFirstFileA((folder + "*").c_str(), &entry);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            const std::string name = entry.cFileName;
            if (name == "." || name == "..")
                continue;
            if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
                RemoveTree(folder + name + "\\");
            else
                DeleteFileA((folder + name).c_str());
        } while (FindNextFileA(search, &entry));
        FindClose(search);
    }
    RemoveDirectoryA(folder.c_str());
}

} // namespace

TWindowOwner CreateClassWindow(const wchar_t* className) {
    RegisterClassOnce(className, DefWindowProcW);
    return CreateWindowOf(className, nullptr);
}

TTestPlayer::TTestPlayer() {
    RegisterClassOnce(PlayerClass, WindowProc);
    Handle = CreateWindowOf(PlayerClass, this);
    EXPECT_NE(Handle, nullptr) << "no test player window; is a display set?";
}

void TTestPlayer::Answer(LPARAM request, WPARAM argument, LRESULT value) {
    Answers[{request, argument}] = value;
}

void TTestPlayer::AnswerText(LPARAM request, const std::string& text) {
    auto& kept = Texts[request];
    kept = std::make_unique<std::string>(text);
    Answer(request, 0, reinterpret_cast<LRESULT>(kept->c_str()));
}

int TTestPlayer::Count(LPARAM request) const {
    const auto found = Counts.find(request);
    return found == Counts.end() ? 0 : found->second;
}

LRESULT TTestPlayer::OnRequest(WPARAM argument, LPARAM request) {
    ++Counts[request];
    const auto found = Answers.find({request, argument});
    return found == Answers.end() ? 0 : found->second;
}

LRESULT CALLBACK TTestPlayer::WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_NCCREATE) {
        const auto* create = reinterpret_cast<const CREATESTRUCTW*>(lParam);
        SetWindowLongPtrW(window, GWLP_USERDATA,
                          reinterpret_cast<LONG_PTR>(create->lpCreateParams));
    }
    auto* self = reinterpret_cast<TTestPlayer*>(GetWindowLongPtrW(window, GWLP_USERDATA));
    if (message == player::RequestMessage && self != nullptr)
        return self->OnRequest(wParam, lParam);
    return DefWindowProcW(window, message, wParam, lParam);
}

TMessageBoxCloser::TMessageBoxCloser(std::string caption)
    : Caption(std::move(caption)), Worker([this] { Run(); }) {}

TMessageBoxCloser::~TMessageBoxCloser() {
    Finish();
}

std::vector<std::string> TMessageBoxCloser::Finish() {
    Stop = true;
    if (Worker.joinable())
        Worker.join();
    return Found;
}

// Polls for the box: it appears on another thread with no event to wait on.
// The bound is generous; a box that never comes leaves Found empty.
void TMessageBoxCloser::Run() {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (!Stop && std::chrono::steady_clock::now() < deadline) {
        if (const HWND box = OwnVisibleBox(Caption)) {
            Found = ChildTexts(box);
            PostMessageA(box, WM_COMMAND, IDOK, 0);
            return;
        }
        Sleep(10);
    }
}

TScratchFolder::TScratchFolder() {
    static int serial = 0;
    char temp[MAX_PATH + 1] = {};
    GetTempPathA(sizeof temp, temp);
    Folder = std::string(temp) + "qvhost-" + std::to_string(GetCurrentProcessId()) + "-" +
             std::to_string(++serial) + "\\";
    RemoveTree(Folder);
    EXPECT_TRUE(CreateDirectoryA(Folder.c_str(), nullptr)) << Folder;
}

TScratchFolder::~TScratchFolder() {
    RemoveTree(Folder);
}

bool PathExists(const std::string& path) {
    return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

std::string ReadWholeFile(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    std::ostringstream content;
    content << file.rdbuf();
    return content.str();
}

void WriteWholeFile(const std::string& path, const std::string& content) {
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    file << content;
    EXPECT_TRUE(file.good()) << path;
}

std::vector<std::string> FileLines(const std::string& path) {
    std::istringstream content(ReadWholeFile(path));
    std::vector<std::string> lines;
    for (std::string line; std::getline(content, line);) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        lines.push_back(line);
    }
    return lines;
}

TCurrentFolder::TCurrentFolder(const std::string& folder) {
    char previous[MAX_PATH + 1] = {};
    GetCurrentDirectoryA(sizeof previous, previous);
    Previous = previous;
    EXPECT_TRUE(SetCurrentDirectoryA(folder.c_str())) << folder;
}

TCurrentFolder::~TCurrentFolder() {
    SetCurrentDirectoryA(Previous.c_str());
}

} // namespace hosttest
