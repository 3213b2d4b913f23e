// Prints the Dolphin service menu that `tarrovel install` would write for the
// settings of the environment, for the command path given; cmake --install
// runs it with an empty HOME to install the menu of the defaults.
#include "host/Install.h"
#include "host/PlugInHost.h"

#include <cstdio>

int main(int argc, char **argv) {
  if (argc != 2) {
    fputs("usage: tarrovel-servicemenu TARROVEL-PATH\n", stderr);
    return 2;
  }
  tv::host::PlugInHost host;
  host.Load(tv::host::FindBundles(tv::host::PlugInFolders()));
  std::string content, error = "no plug-in found";
  if (host.plugIns().empty() || !tv::host::CurrentDolphinMenu(host, argv[1], &content, &error)) {
    fprintf(stderr, "tarrovel-servicemenu: %s\n", error.c_str());
    return 1;
  }
  fputs(content.c_str(), stdout);
  return 0;
}
