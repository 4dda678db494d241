// Placeholder until the kit installation lands: reports every kit as unregistered.
#include "install_java_extensions.h"

int install_java_extensions(const char*, const char*) { return 1; }
