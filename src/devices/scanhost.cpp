#include "devices/scanhost.h"

#include "util/userinterface.h"

namespace kestrella {

void QuietScanHost::ProcessMessages() { ui().ProcessMessages(); }

namespace {

QuietScanHost g_quiet;
ScanHost* g_host = &g_quiet;

}  // namespace

ScanHost& Host() { return *g_host; }

void SetHost(ScanHost* h) { g_host = h != nullptr ? h : &g_quiet; }

}  // namespace kestrella
