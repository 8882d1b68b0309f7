#include "tools/standin_player/PlayerSettings.h"

#include <windows.h>

#include <mmsystem.h>

#include <fstream>
#include <stdexcept>

namespace standin {
namespace {

std::string FullPath(const std::string& path) {
    char full[MAX_PATH + 1] = {};
    const DWORD length = GetFullPathNameA(path.c_str(), MAX_PATH, full, nullptr);
    if (length == 0 || length >= MAX_PATH)
        throw std::runtime_error("bad folder name " + path);
    std::string result(full, length);
    while (result.size() > 3 && (result.back() == '\\' || result.back() == '/'))
        result.pop_back();
    return result;
}

void MakeFolder(const std::string& path) {
    if (!CreateDirectoryA(path.c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS)
        throw std::runtime_error("cannot create the folder " + path);
}

std::string MakeTemporaryFolder() {
    char temp[MAX_PATH + 1] = {};
    const DWORD length = GetTempPathA(MAX_PATH, temp);
    if (length == 0 || length >= MAX_PATH)
        throw std::runtime_error("no temporary folder");
    for (unsigned attempt = 0; attempt < 100; ++attempt) {
        const std::string path = FullPath(std::string(temp, length) + "standin-player-" +
                                          std::to_string(GetCurrentProcessId()) + "-" +
                                          std::to_string(GetTickCount() + attempt));
        if (CreateDirectoryA(path.c_str(), nullptr))
            return path;
    }
    throw std::runtime_error("cannot create a temporary settings folder");
}

void RemoveTree(const std::string& path) {
    WIN32_FIND_DATAA entry;
    const HANDLE search = FindFirstFileA((path + "\\*").c_str(), &entry);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            const std::string name = entry.cFileName;
            if (name == "." || name == "..")
                continue;
            const std::string child = path + "\\" + name;
            if ((entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0)
                RemoveTree(child);
            else
                DeleteFileA(child.c_str());
        } while (FindNextFileA(search, &entry));
        FindClose(search);
    }
    RemoveDirectoryA(path.c_str());
}

} // namespace

SettingsFolder::SettingsFolder(const std::string& wanted) {
    if (wanted.empty()) {
        path_ = MakeTemporaryFolder();
        owned_ = true;
    } else {
        path_ = FullPath(wanted);
        MakeFolder(path_);
    }
}

SettingsFolder::~SettingsFolder() {
    if (owned_)
        RemoveTree(path_);
}

std::string DefaultDeviceName() {
    WAVEOUTCAPSA caps = {};
    if (waveOutGetDevCapsA(WAVE_MAPPER, &caps, sizeof caps) != MMSYSERR_NOERROR)
        return {};
    return caps.szPname;
}

void WritePluginDevice(const SettingsFolder& folder, const std::string& device) {
    const std::string plugins = folder.Path() + "\\Plugins";
    MakeFolder(plugins);
    const std::string file = plugins + "\\QVQuellspring.ini";
    if (!WritePrivateProfileStringA("Quellspring", "OutDevice", device.c_str(), file.c_str()))
        throw std::runtime_error("cannot write " + file);
}

std::string RemovalRequest(const SettingsFolder& folder) {
    char value[MAX_PATH + 1] = {};
    GetPrivateProfileStringA("WINAMP", "remove_genplug", "", value, sizeof value,
                             folder.SettingsFile().c_str());
    return value;
}

void PreparePlayerSettings(const SettingsFolder& folder, const std::string& outputPluginName) {
    const std::string file = folder.SettingsFile();
    if (GetFileAttributesA(file.c_str()) != INVALID_FILE_ATTRIBUTES)
        return;
    std::ofstream out(file, std::ios::binary);
    out << "[Winamp]\r\n"
        << "player=Quellspring stand-in player\r\n"
        << "outname=" << outputPluginName << "\r\n"
        << "[Stand-in player]\r\n"
        << "made=at the first start\r\n";
    if (!out.flush())
        throw std::runtime_error("cannot write " + file);
}

std::string TakeRemovalRequest(const SettingsFolder& folder) {
    const std::string removal = RemovalRequest(folder);
    if (!removal.empty())
        WritePrivateProfileStringA("Winamp", "remove_genplug", nullptr,
                                   folder.SettingsFile().c_str());
    return removal;
}

} // namespace standin
