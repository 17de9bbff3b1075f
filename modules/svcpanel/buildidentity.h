#pragma once
// The identity every build of the program carries: a text in an ELF section of its own, read by
// the offline update and the exit step to know a program file of ours without running it.

// The section's name and the text's start; the rest is "Tessarin <version>", ended by a NUL.
#define TESSARIN_BUILD_ID_SECTION ".tessarin.build"
#define TESSARIN_BUILD_ID_PREFIX "TESSARIN-BUILD-ID:"
