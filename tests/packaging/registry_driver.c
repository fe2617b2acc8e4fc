// Calls the program's registry write with a key and a value from the command line, so that a
// test can run it under Wine and read the registry back.
//   registry_driver.exe KEY VALUE

#include "host/host_services/win32_registry.h"

#include <stdio.h>

int wmain(int argc, wchar_t** argv)
{
    if (argc != 3) {
        fputs("usage: registry_driver KEY VALUE\n", stderr);
        return 2;
    }
    return virellockSetClassesDefaultValue(argv[1], argv[2]) == VIRELLOCK_REGISTRY_CLASSES_ROOT ? 0
                                                                                                : 1;
}
