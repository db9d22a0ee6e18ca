#include "ini_file.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "platform/files.h"

namespace ov {
namespace {

// isspace of the C locale, spelled out so that GBK bytes and the caller's
// locale can never change it.
bool IsSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

// Reads one line of at most IniFile::kMaxLine characters; the rest of a
// longer line is skipped. False at end of file with nothing read.
bool ReadLine(std::istream& in, std::string* line) {
    line->clear();
    bool any = false;
    for (int c; (c = in.get()) != std::char_traits<char>::eof();) {
        any = true;
        if (c == '\n')
            return true;
        if (line->size() < IniFile::kMaxLine)
            line->push_back(char(c));
    }
    return any;
}

}  // namespace

bool IniFile::ReadFile() {
    if (!platform::PathExists(m_path))
        return false;
    std::error_code ec;
    std::ifstream in;
    // A directory opens as a stream on some systems; it is no ini file.
    if (!std::filesystem::is_directory(m_path, ec))
        in.open(m_path, std::ios::binary);
    if (!in.is_open() || !in.good()) {
        m_error = "Unable to open ini file.";
        return false;
    }
    std::string section, line;
    while (ReadLine(in, &line)) {
        while (!line.empty() && IsSpace(line.back())) line.pop_back();
        if (line.empty())
            continue;
        if (line.front() == '[' && line.back() == ']') {
            size_t first = line.find_first_not_of('[');
            size_t last = line.find_last_not_of(']');
            section = first == std::string::npos || last == std::string::npos || last < first
                          ? std::string()
                          : line.substr(first, last - first + 1);
            continue;
        }
        size_t eq = line.find('=');
        if (eq == std::string::npos)
            SetValue(section, "", std::string_view(line).substr(1), true);
        else
            SetValue(section, std::string_view(line).substr(0, eq),
                     std::string_view(line).substr(eq + 1), true);
    }
    return true;
}

int IniFile::FindSection(std::string_view name) const {
    for (size_t i = 0; i < m_sections.size(); ++i)
        if (m_sections[i].name == name)
            return int(i);
    return -1;
}

int IniFile::FindKey(int section, std::string_view key) const {
    if (section < 0 || size_t(section) >= m_sections.size())
        return -1;
    const auto& keys = m_sections[size_t(section)].keys;
    for (size_t i = 0; i < keys.size(); ++i)
        if (keys[i] == key)
            return int(i);
    return -1;
}

std::string IniFile::GetValue(std::string_view section, std::string_view key) {
    int s = FindSection(section);
    if (s < 0) {
        m_error = "Unable to locate specified key.";
        return {};
    }
    int k = FindKey(s, key);
    if (k < 0) {
        m_error = "Unable to locate specified value.";
        return {};
    }
    return m_sections[size_t(s)].values[size_t(k)];
}

int IniFile::GetValueI(std::string_view section, std::string_view key) {
    return std::atoi(GetValue(section, key).c_str());
}

bool IniFile::SetValue(std::string_view section, std::string_view key, std::string_view value,
                       bool create) {
    int s = FindSection(section);
    if (s < 0) {
        if (!create)
            return false;
        m_sections.push_back(Section{std::string(section), {}, {}});
        s = int(m_sections.size() - 1);
    }
    Section& sec = m_sections[size_t(s)];
    int k = FindKey(s, key);
    if (k < 0) {
        if (!create)
            return false;
        sec.keys.emplace_back(key);
        sec.values.emplace_back();
        k = int(sec.keys.size() - 1);
    }
    sec.values[size_t(k)] = std::string(value);
    return true;
}

std::string IniFile::Serialize() const {
    std::string out;
    for (const auto& sec : m_sections) {
        if (sec.keys.empty())
            continue;
        out += "[" + sec.name + "]\r\n";
        for (size_t i = 0; i < sec.keys.size(); ++i)
            out += sec.keys[i] + "=" + sec.values[i] + "\r\n";
        out += "\r\n";
    }
    return out;
}

bool IniFile::WriteFile() {
    std::string bytes = Serialize();
    if (!platform::WriteFileAtomically(m_path, bytes.data(), bytes.size())) {
        m_error = "Unable to write ini file.";
        return false;
    }
    return true;
}

}  // namespace ov
