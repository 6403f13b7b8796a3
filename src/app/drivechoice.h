// Which drives the front ends list, in which order, which one they offer
// first and how each reads in a list. The window preselects the drive and
// kestrella-cli drives marks it, so both suggest the same card.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "diskio/drivetable.h"

namespace kestrella {

// Every drive of the table, removable drives holding a medium first (card
// readers with a card, USB sticks, images; not floppy drives), the drives of the system disk
// last, letter order within each group.
std::vector<const DriveEntry*> DriveListOrder(const std::vector<DriveEntry>& drives);

// The drive to offer: the first removable drive off the system disk holding
// a medium; else the first image; else the first drive off the system disk;
// else the system disk. 0 when there is no drive.
uint8_t PreferredDrive(const std::vector<DriveEntry>& drives);

// "E:\ /dev/sdb - 15.9 GB"; "C:\ /dev/sda2 - 500.1 GB (system disk)".
std::string DriveListText(const DriveEntry& drive);

// One line per block device under `sysClassBlock` with the figures that
// change when a card, a stick or a loop device comes or goes (its size
// too: an attached loop device or a card put into a reader keeps its name).
// Sorted; two equal snapshots mean nothing to list anew.
std::vector<std::string> BlockDeviceSnapshot(const std::string& sysClassBlock);

}  // namespace kestrella
