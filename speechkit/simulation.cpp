#include "simulation.h"

#include "component.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <system_error>

namespace fs = std::filesystem;

namespace speechkit {

std::string simulationDirectory() {
    return environmentUtf8("XSPEECHKIT_SIMULATE");
}

void appendSpokenLog(const std::string& dir, const std::string& text) {
    std::string line = text;
    for (char& c : line)
        if (c == '\r' || c == '\n') c = ' ';
    line += '\n';
    std::ofstream out(fs::u8path(dir) / "spoken.log", std::ios::binary | std::ios::app);
    out.write(line.data(), static_cast<std::streamsize>(line.size()));
}

namespace {
std::string lowerAscii(std::string s) {
    for (char& c : s)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return s;
}
} // namespace

std::vector<InboxFile> inboxFiles(const std::string& dir) {
    std::vector<std::pair<std::string, InboxFile>> found;
    std::error_code ec;
    for (fs::directory_iterator it(fs::u8path(dir) / "inbox", ec), end; !ec && it != end;
         it.increment(ec)) {
        const std::string name = it->path().filename().u8string();
        if (name.empty() || name[0] == '.') continue;
        std::error_code typeError;
        if (!it->is_regular_file(typeError)) continue;
        const std::string ext = lowerAscii(it->path().extension().u8string());
        if (ext != ".txt" && ext != ".wav") continue;
        found.push_back({name, InboxFile{it->path().u8string(), ext == ".wav"}});
    }
    std::sort(found.begin(), found.end(),
              [](const auto& a, const auto& b) { return a.first < b.first; });
    std::vector<InboxFile> files;
    for (auto& f : found)
        files.push_back(f.second);
    return files;
}

bool readWholeFile(const std::string& path, std::string& out) {
    std::ifstream in(fs::u8path(path), std::ios::binary);
    if (!in) return false;
    out.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return !in.bad();
}

bool removeFile(const std::string& path) {
    std::error_code ec;
    fs::remove(fs::u8path(path), ec);
    return !fs::exists(fs::u8path(path), ec);
}

bool renameFile(const std::string& from, const std::string& to) {
    std::error_code ec;
    fs::rename(fs::u8path(from), fs::u8path(to), ec);
    return !ec;
}

std::string takenName(const std::string& path) {
    const fs::path p = fs::u8path(path);
    return (p.parent_path() / (".taken-" + p.filename().u8string())).u8string();
}

std::string speakableText(const std::string& text) {
    if (text.size() <= kMaxSpokenBytes) return text;
    std::size_t cut = text.find_last_of(" \t\r\n", kMaxSpokenBytes);
    if (cut == std::string::npos || cut == 0) {
        // One enormous word: cut before a UTF-8 continuation byte never.
        cut = kMaxSpokenBytes;
        while (cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80)
            --cut;
    }
    return text.substr(0, cut);
}

} // namespace speechkit
