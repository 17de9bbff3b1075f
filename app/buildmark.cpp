// The build identity of the program file, kept by compiler and linker though nothing reads it at
// run time: the offline update looks for it in a candidate's section table.
#include "buildidentity.h"

#if defined(__has_attribute)
#if __has_attribute(retain)
#define TESSARIN_KEEP_SECTION used, retain
#endif
#endif
#ifndef TESSARIN_KEEP_SECTION
#define TESSARIN_KEEP_SECTION used
#endif

__attribute__((section(TESSARIN_BUILD_ID_SECTION),
               TESSARIN_KEEP_SECTION)) static const char buildIdentity[]
    = TESSARIN_BUILD_ID_PREFIX "Tessarin " TESSARIN_VERSION;
