// File icons and type names for the file lists, chosen from the extension.
//
// There is no shell icon list to ask on Linux, so a fixed table maps the
// extensions this program meets to freedesktop icon names and to type names
// worded the way a desktop file manager shows them.
#include <array>
#include <string>
#include <utility>

#include "util/helpers.h"

namespace kestrella {

namespace {

// The icon list; kGeneric is the fallback for every file whose kind is not
// listed. The names below follow this order.
enum Icon : int {
  kGeneric, kFolder, kJpeg, kTiff, kPng, kGif, kBmp, kOtherImage, kWave, kMpegAudio, kMidi,
  kAviVideo, kQuickTime, kDocument, kSpreadsheet, kPdf, kArchive, kHtml, kExecutable, kHelp,
  kDrawing, kRichText, kIconCount
};
constexpr std::array<const char*, kIconCount> kIconNames = {
    "text-x-generic",    "folder",          "image-jpeg",   "image-tiff",
    "image-png",         "image-gif",       "image-bmp",    "image-x-generic",
    "audio-x-wav",       "audio-mpeg",      "audio-midi",   "video-x-msvideo",
    "video-quicktime",   "x-office-document", "x-office-spreadsheet", "application-pdf",
    "package-x-generic", "text-html",       "application-x-executable", "help-browser",
    "x-office-drawing",  "text-rtf",
};

struct FileKind {
  const char* extension;  // lower case, without the dot
  Icon icon;
  const char* typeName;
};

constexpr FileKind kKinds[] = {
    {"jpg", kJpeg, "JPEG image"},           {"jpeg", kJpeg, "JPEG image"},
    {"jpe", kJpeg, "JPEG image"},           {"tif", kTiff, "TIFF image"},
    {"tiff", kTiff, "TIFF image"},          {"png", kPng, "PNG image"},
    {"gif", kGif, "GIF image"},             {"bmp", kBmp, "Bitmap image"},
    {"ico", kOtherImage, "Icon"},           {"wmf", kOtherImage, "Windows metafile"},
    {"emf", kOtherImage, "Enhanced metafile"}, {"crw", kOtherImage, "Camera raw image"},
    {"nef", kOtherImage, "Camera raw image"}, {"mrw", kOtherImage, "Camera raw image"},
    {"dcr", kOtherImage, "Camera raw image"}, {"raf", kOtherImage, "Camera raw image"},
    {"wav", kWave, "Wave sound"},           {"mp3", kMpegAudio, "MP3 audio"},
    {"mid", kMidi, "MIDI sequence"},        {"midi", kMidi, "MIDI sequence"},
    {"avi", kAviVideo, "AVI video"},        {"mov", kQuickTime, "QuickTime video"},
    {"doc", kDocument, "Word document"},    {"xls", kSpreadsheet, "Excel spreadsheet"},
    {"dbf", kSpreadsheet, "dBASE table"},   {"pdf", kPdf, "PDF document"},
    {"zip", kArchive, "ZIP archive"},       {"rar", kArchive, "RAR archive"},
    {"arj", kArchive, "ARJ archive"},       {"lzh", kArchive, "LHA archive"},
    {"tar", kArchive, "Tar archive"},       {"htm", kHtml, "HTML document"},
    {"html", kHtml, "HTML document"},       {"exe", kExecutable, "Application"},
    {"hlp", kHelp, "Help file"},            {"cdr", kDrawing, "CorelDRAW drawing"},
    {"dxf", kDrawing, "DXF drawing"},       {"rtf", kRichText, "Rich text document"},
    {"txt", kGeneric, "Text document"},
};

// The shell cuts its type names at 80 characters.
constexpr std::size_t kTypeNameMax = 80;

struct Lookup {
  int icon;
  std::string typeName;
};

Lookup Classify(const std::string& path, uint32_t attributes) {
  if (attributes & kFileAttributeDirectory) return {kFolder, "File folder"};
  const std::size_t nameStart = path.find_last_of("/\\");
  const std::string name = nameStart == std::string::npos ? path : path.substr(nameStart + 1);
  const std::size_t dot = name.rfind('.');
  if (dot == std::string::npos || dot + 1 == name.size()) return {kGeneric, "File"};
  std::string ext = name.substr(dot + 1);
  std::string lower = ext;
  for (char& c : lower) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  for (const FileKind& kind : kKinds) {
    if (lower == kind.extension) return {kind.icon, kind.typeName};
  }
  // Unknown kinds are named after their extension, "XYZ File".
  for (char& c : ext) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  std::string typeName = ext + " File";
  if (typeName.size() > kTypeNameMax) typeName.resize(kTypeNameMax);
  return {kGeneric, typeName};
}

}  // namespace

int ShellGetSystemImageList(bool largeIcons) { return largeIcons ? 32 : 16; }

int ShellGetIconIndex(const std::string& path, uint32_t attributes) {
  return Classify(path, attributes).icon;
}

int ShellGetFileInfo(const std::string& path, uint32_t attributes, std::string& typeName) {
  Lookup found = Classify(path, attributes);
  typeName = std::move(found.typeName);
  return found.icon;
}

bool ShellGetFileType(const std::string& path, uint32_t attributes, std::string& typeName) {
  if (path.empty()) return false;
  typeName = Classify(path, attributes).typeName;
  return true;
}

std::string ShellIconName(int index) {
  if (index < 0 || index >= static_cast<int>(kIconNames.size())) return {};
  return kIconNames[index];
}

}  // namespace kestrella
