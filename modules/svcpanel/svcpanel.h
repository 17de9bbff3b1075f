#pragma once
// The C interface of the service library (svcpanel.dll / libsvcpanel.so): the about box and the
// offline update of the program file. The program loads the library on demand, looks the entries
// up by name and unloads it again; a missing library or entry simply leaves the command without
// effect. Only C types cross the boundary and no C++ exception leaves an entry.

#if defined(_WIN32) && !defined(_WIN64)
#define SVCPANEL_CALL __stdcall
#else
#define SVCPANEL_CALL
#endif

#if defined(_WIN32)
#define SVCPANEL_EXPORT __declspec(dllexport)
#else
#define SVCPANEL_EXPORT __attribute__((visibility("default")))
#endif

#ifdef __cplusplus
extern "C" {
#endif

// Shows the modal about box: `title` (UTF-8; null for the program's name), the program's
// version and build date, the versions of Qt and AngelScript and their licences. `parent` is the
// caller's QWidget* or null.
SVCPANEL_EXPORT void SVCPANEL_CALL ShowAbout(void *parent, const char *title);
typedef void(SVCPANEL_CALL *ShowAboutProc)(void *parent, const char *title);

// Shows the modal update dialog: the user picks a newer program file, which is checked (it must
// answer --version as a Tessarin program of a higher version) and placed beside the program as
// ATessarin, to be swapped in when the program exits.
SVCPANEL_EXPORT void SVCPANEL_CALL ShowUpdate(void *parent);
typedef void(SVCPANEL_CALL *ShowUpdateProc)(void *parent);

#ifdef __cplusplus
}
#endif
