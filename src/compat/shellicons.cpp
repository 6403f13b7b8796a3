#include "compat/shellicons.h"

#include <array>
#include <cstring>
#include <utility>

#include "util/helpers.h"

namespace kestrella {

namespace {

// The icon list, in the order whose indexes the file lists have always been
// given: the generic file first, so that it is also the fallback.
constexpr std::array<const char*, 22> kIconNames = {
    "text-x-generic",    "folder",          "image-jpeg",   "image-tiff",
    "image-png",         "image-gif",       "image-bmp",    "image-x-generic",
    "audio-x-wav",       "audio-mpeg",      "audio-midi",   "video-x-msvideo",
    "video-quicktime",   "x-office-document", "x-office-spreadsheet", "application-pdf",
    "package-x-generic", "text-html",       "application-x-executable", "help-browser",
    "x-office-drawing",  "text-rtf",
};

int IconIndex(const char* iconName) {
  for (std::size_t i = 0; i < kIconNames.size(); ++i) {
    if (std::strcmp(kIconNames[i], iconName) == 0) return static_cast<int>(i);
  }
  return 0;
}

}  // namespace

int ShellGetSystemImageList(bool largeIcons) { return largeIcons ? 32 : 16; }

int ShellGetIconIndex(const std::string& path, uint32_t attributes) {
  return IconIndex(FileTypeOf(path, attributes).icon);
}

int ShellGetFileInfo(const std::string& path, uint32_t attributes, std::string& typeName) {
  FileTypeInfo found = FileTypeOf(path, attributes);
  typeName = std::move(found.typeName);
  return IconIndex(found.icon);
}

std::string ShellIconName(int index) {
  if (index < 0 || index >= static_cast<int>(kIconNames.size())) return {};
  return kIconNames[index];
}

}  // namespace kestrella
