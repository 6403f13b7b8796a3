// The shell's file information as the file lists once asked for it: an icon
// list of a chosen size and an index into it per file. On Linux the list is
// a fixed list of freedesktop icon names; which icon and type name a file
// gets comes from FileTypeOf (util/helpers.h).
#pragma once

#include <cstdint>
#include <string>

namespace kestrella {

// An identifier of the icon list of the wanted size (16 or 32 pixels).
int ShellGetSystemImageList(bool largeIcons);
// The index of the file's icon in the list.
int ShellGetIconIndex(const std::string& path, uint32_t attributes);
// The same, and the file's type name.
int ShellGetFileInfo(const std::string& path, uint32_t attributes, std::string& typeName);
// The freedesktop icon name of an index returned above ("" when out of range).
std::string ShellIconName(int index);

}  // namespace kestrella
