// `tarrovel install [--user]` and `tarrovel uninstall [--user]`: the command,
// its library and bundle copied from the command's own prefix, and the
// integration of every file manager, recorded in the install list so that
// uninstall removes exactly that and a changed setting can rewrite the static
// menus. The decisions are InstallPlan's and InstallList's; this is the I/O.
// The list is written before anything else, so an install stopped anywhere
// can be undone; a path that holds something install did not write is never
// written over.
#pragma once

#include "host/InstallList.h"
#include "host/InstallPlan.h"

#include <cstdio>
#include <string>
#include <vector>

namespace tv::host {

class PlugInHost;
struct StaticItem;

// Under the Debian package, without --user, only the package's maintainer
// scripts (TARROVEL_PACKAGE_SCRIPT=1) change anything: the Thunar actions.
int Install(bool user, FILE *out, FILE *err);
int Uninstall(bool user, FILE *out, FILE *err);

// The Dolphin service menu for the command at `tarrovel`, from what the
// loaded plug-ins offer now (cmake --install writes the one of the defaults).
bool CurrentDolphinMenu(PlugInHost &host, const std::string &tarrovel, std::string *content, std::string *error);

}  // namespace tv::host
