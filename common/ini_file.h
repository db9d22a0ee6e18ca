// OV_G.ini and its kind: sections of key=value lines, read into memory and
// looked up byte-wise (case-sensitive, no blanks ignored). There is no
// comment syntax; every non-empty line is a header or a pair.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace ov {

class IniFile {
  public:
    // Longer lines are cut to this length; the rest of such a line, up to its
    // line feed, is skipped, and reading goes on with the next line.
    static constexpr size_t kMaxLine = 2047;

    IniFile() = default;
    explicit IniFile(std::string path) : m_path(std::move(path)) {}

    void SetPath(std::string path) { m_path = std::move(path); }
    const std::string& Path() const { return m_path; }

    // Adds the file's sections and pairs to what is held (a later value of a
    // key wins; nothing held is removed). False when the file does not exist
    // (error text unchanged) or cannot be opened ("Unable to open ini file.").
    bool ReadFile();

    int FindSection(std::string_view name) const;
    int FindKey(int section, std::string_view key) const;

    // The stored value, or the empty text with the error text set to
    // "Unable to locate specified key." (no such section) or
    // "Unable to locate specified value." (no such key).
    std::string GetValue(std::string_view section, std::string_view key);
    // atoi of GetValue: 0 for a missing key or a value without digits.
    int GetValueI(std::string_view section, std::string_view key);
    // Stores value; with create false, fails when the section or key is
    // missing; with create true, appends what is missing.
    bool SetValue(std::string_view section, std::string_view key, std::string_view value,
                  bool create);

    const std::string& Error() const { return m_error; }

    // The file as our writer puts it: sections and keys in stored order,
    // sections without keys left out, "[name]" then "key=value" lines, each
    // ended by CR LF, and an empty line after every section.
    std::string Serialize() const;
    // Serialize() to the path, replacing the old file in one rename. False
    // (error text set) when it cannot be written; the old file is kept.
    bool WriteFile();

    struct Section {
        std::string name;
        std::vector<std::string> keys;
        std::vector<std::string> values;
    };
    const std::vector<Section>& Sections() const { return m_sections; }

  private:
    std::string m_path;
    std::vector<Section> m_sections;
    std::string m_error;
};

}  // namespace ov
