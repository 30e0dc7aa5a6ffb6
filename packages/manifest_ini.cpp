#include "packages/manifest_ini.h"

#include "packages/texts.h"
#include "util/text.h"

namespace {

// The profile reader's blanks: white space and the old end-of-file mark.
bool isBlank(wchar_t c) { return c == L' ' || c == L'\t' || c == L'\v' || c == L'\f' || c == L'\x1A'; }

std::wstring trim(const std::wstring& text) {
  size_t first = 0, last = text.size();
  while (first < last && isBlank(text[first])) ++first;
  while (last > first && isBlank(text[last - 1])) --last;
  return text.substr(first, last - first);
}

// One pair of matching single or double quotes around a value goes, as with the profile reader.
std::wstring unquote(const std::wstring& value) {
  if (value.size() >= 2 && (value.front() == L'"' || value.front() == L'\'') && value.back() == value.front()) {
    return value.substr(1, value.size() - 2);
  }
  return value;
}

}  // namespace

const IniSection* IniDocument::find(const std::wstring& section) const {
  for (const IniSection& s : sections) {
    if (util::equalsIgnoringCase(s.name, section)) return &s;
  }
  return nullptr;
}

std::wstring IniDocument::value(const std::wstring& section, const std::wstring& key) const {
  const IniSection* s = find(section);
  if (!s) return {};
  for (const auto& [name, value] : s->values) {
    if (util::equalsIgnoringCase(name, key)) return value;
  }
  return {};
}

std::wstring decodeManifestText(const std::string& bytes) {
  if (bytes.compare(0, 2, "\xFF\xFE") == 0) {
    std::wstring text;
    text.reserve(bytes.size() / 2);
    for (size_t i = 2; i + 1 < bytes.size(); i += 2) {
      text += static_cast<wchar_t>(static_cast<unsigned char>(bytes[i]) |
                                   (static_cast<unsigned char>(bytes[i + 1]) << 8));
    }
    return text;
  }
  if (bytes.compare(0, 3, "\xEF\xBB\xBF") == 0) return util::toWide(util::kCodePageUtf8, bytes.substr(3));
  return util::toWide(util::kCodePageAnsi, bytes);
}

bool parseIni(const std::wstring& text, IniDocument& document, std::wstring& error) {
  document = IniDocument{};
  IniSection* current = nullptr;
  for (size_t pos = 0; pos < text.size();) {
    size_t end = text.find(L'\n', pos);
    if (end == std::wstring::npos) end = text.size();
    std::wstring line = text.substr(pos, end - pos);
    pos = end + 1;
    if (!line.empty() && line.back() == L'\r') line.pop_back();
    line = trim(line);
    if (line.empty() || line[0] == L';') continue;
    // The profile reader ends a section name at the line's last ']' and ignores what follows.
    const size_t close = line[0] == L'[' ? line.rfind(L']') : std::wstring::npos;
    if (close != std::wstring::npos) {
      IniSection section{trim(line.substr(1, close - 1)), {}};
      if (document.find(section.name)) {
        error = packages::kDuplicateSection + section.name;
        return false;
      }
      document.sections.push_back(std::move(section));
      current = &document.sections.back();
      continue;
    }
    const size_t equals = line.find(L'=');
    if (!current || equals == std::wstring::npos) continue;
    std::wstring key = trim(line.substr(0, equals));
    std::wstring value = unquote(trim(line.substr(equals + 1)));
    if (value.size() > kMaxManifestValueChars) {
      error = packages::kValueTooLongBefore + current->name + packages::kValueTooLongKey + key +
              packages::kValueTooLongLimit + std::to_wstring(kMaxManifestValueChars) + packages::kValueTooLongAfter;
      return false;
    }
    current->values.emplace_back(std::move(key), std::move(value));
  }
  return true;
}
