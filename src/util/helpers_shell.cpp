// File icons and type names for the file lists, chosen from the extension.
//
// There is no shell to ask on Linux, so a fixed table maps the extensions
// this program meets to freedesktop icon names and to type names worded the
// way a desktop file manager shows them.
#include <string>

#include "util/helpers.h"

namespace kestrella {

namespace {

constexpr const char* kGeneric = "text-x-generic";
constexpr const char* kFolder = "folder";
constexpr const char* kJpeg = "image-jpeg";
constexpr const char* kTiff = "image-tiff";
constexpr const char* kPng = "image-png";
constexpr const char* kGif = "image-gif";
constexpr const char* kBmp = "image-bmp";
constexpr const char* kOtherImage = "image-x-generic";
constexpr const char* kWave = "audio-x-wav";
constexpr const char* kMpegAudio = "audio-mpeg";
constexpr const char* kMidi = "audio-midi";
constexpr const char* kAviVideo = "video-x-msvideo";
constexpr const char* kQuickTime = "video-quicktime";
constexpr const char* kDocument = "x-office-document";
constexpr const char* kSpreadsheet = "x-office-spreadsheet";
constexpr const char* kPdf = "application-pdf";
constexpr const char* kArchive = "package-x-generic";
constexpr const char* kHtml = "text-html";
constexpr const char* kExecutable = "application-x-executable";
constexpr const char* kHelp = "help-browser";
constexpr const char* kDrawing = "x-office-drawing";
constexpr const char* kRichText = "text-rtf";

struct FileKind {
  const char* extension;  // lower case, without the dot
  const char* icon;       // freedesktop icon name
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

}  // namespace

FileTypeInfo FileTypeOf(const std::string& path, uint32_t attributes) {
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

bool ShellGetFileType(const std::string& path, uint32_t attributes, std::string& typeName) {
  if (path.empty()) return false;
  typeName = FileTypeOf(path, attributes).typeName;
  return true;
}

}  // namespace kestrella
