// Helpers shared by the front-end tests: a scratch working folder, files
// written byte for byte, and a user who answers message boxes.
#pragma once

#include "dialogs.h"

#include <filesystem>
#include <unistd.h>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace tarvik::test {

// A fresh working folder with a Tarvik_data folder, removed afterwards.
class ScratchFolder {
public:
    ScratchFolder() {
        static int serial = 0;
        path_ = std::filesystem::temp_directory_path() /
                ("tarvik_fe_" + std::to_string(::getpid()) + "_" + std::to_string(serial++));
        std::filesystem::remove_all(path_);
        std::filesystem::create_directories(path_ / "Tarvik_data");
    }
    ~ScratchFolder() {
        std::error_code ec;
        std::filesystem::remove_all(path_, ec);
    }
    const std::filesystem::path& path() const { return path_; }
    std::filesystem::path data() const { return path_ / "Tarvik_data"; }
    std::string dataUtf8() const { return data().string(); }

private:
    std::filesystem::path path_;
};

inline void writeBytes(const std::filesystem::path& p, const std::string& bytes) {
    std::ofstream o(p, std::ios::binary | std::ios::trunc);
    o << bytes;
}

inline std::string readBytes(const std::filesystem::path& p) {
    std::ifstream in(p, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline std::vector<std::string> splitCrLf(const std::string& s) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    while (start < s.size()) {
        std::size_t e = s.find("\r\n", start);
        if (e == std::string::npos) {
            lines.push_back(s.substr(start) + "<no CR LF>");
            break;
        }
        lines.push_back(s.substr(start, e - start));
        start = e + 2;
    }
    return lines;
}

// A measured file: `headerLines` free lines, then 1024 records
// "channel,energy,count" where count = countOf(channel).
template <typename F>
std::string measuredFile(int headerLines, F countOf, const std::string& eol = "\r\n") {
    std::string s;
    for (int i = 1; i <= headerLines; ++i) s += "Header line " + std::to_string(i) + eol;
    for (int ch = 1; ch <= 1024; ++ch)
        s += std::to_string(ch) + "," + std::to_string(ch * 0.1) + "," + std::to_string(countOf(ch)) + eol;
    return s;
}

// Records what the dialogs tell and answers questions with `answer`.
class ScriptedUser : public UserPrompt {
public:
    bool answer = true;
    std::vector<Notice> told;
    std::vector<Notice> asked;
    void tell(const Notice& n) override { told.push_back(n); }
    bool askYesNo(const Notice& q) override {
        asked.push_back(q);
        return answer;
    }
    std::string lastText() const { return told.empty() ? std::string("<nothing told>") : told.back().text; }
};

} // namespace tarvik::test
