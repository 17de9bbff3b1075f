#pragma once

// The C interface of the script interpreter library: the entry points the engine looks up by
// name, with the calling convention of the platform's system libraries. Texts are NUL-terminated
// UTF-8; every buffer the caller passes is written with at most `size` bytes including the NUL.

#if defined(_WIN32) && !defined(_WIN64)
#define SCRIPTRT_CALL __stdcall
#else
#define SCRIPTRT_CALL
#endif

#if defined(_WIN32)
#define SCRIPTRT_EXPORT __declspec(dllexport)
#else
#define SCRIPTRT_EXPORT __attribute__((visibility("default")))
#endif

extern "C" {

// Prepares the interpreter (nested calls are counted; each needs its _uc_finis). Nonzero on
// success.
SCRIPTRT_EXPORT int SCRIPTRT_CALL _uc_init(int reserved1, int reserved2);
SCRIPTRT_EXPORT void SCRIPTRT_CALL _uc_finis();

// Loads a header whose declarations every later evaluation and program sees. Nonzero on success.
SCRIPTRT_EXPORT int SCRIPTRT_CALL _uc_include(const char *path);

// Evaluates one expression; writes its value (or an "error: ..." text) into `result`.
// Returns nonzero when a value was written.
SCRIPTRT_EXPORT int SCRIPTRT_CALL _uc_eval(const char *expression, char *result, int size);
// The same evaluation without the compiled-code cache: every call compiles the text as written.
SCRIPTRT_EXPORT int SCRIPTRT_CALL _uc_eval_exp(const char *expression, char *result, int size);
// The whole text of the last evaluation (the result buffer of _uc_eval may have cut it). Returns
// the bytes it needs with its NUL, so a caller can ask again with a buffer that large; 0 when the
// interpreter is not initialised.
SCRIPTRT_EXPORT int SCRIPTRT_CALL _uc_result(char *result, int size);

// Makes a host function callable from programs under a C declaration such as
// "void ExportDouble(char*,double)" (parameters char*, int, double; result void, int, double).
SCRIPTRT_EXPORT int SCRIPTRT_CALL _uc_import(const char *declaration, void *function);

// Nonzero when a program can be executed; 0 with the reason in the error entries.
SCRIPTRT_EXPORT int SCRIPTRT_CALL _uc_run();
// Compiles and runs a program that defines main(). Nonzero on success; 0 with the error available.
SCRIPTRT_EXPORT int SCRIPTRT_CALL _uc_exec(const char *program);
// Writes the last error message into `buffer`; the buffer is remembered for _uc_error_pos.
// Returns the message's whole length in bytes (without the NUL).
SCRIPTRT_EXPORT int SCRIPTRT_CALL _uc_error(char *buffer, int size);
// Returns the line of the last error (1-based, 0 when it has none); when `buffer` is the one
// last given to _uc_error, the message is written into it again.
SCRIPTRT_EXPORT int SCRIPTRT_CALL _uc_error_pos(char *buffer);

// The shape of a formula: the source of the function its literals become parameters of (into
// `code`, at most `codeSize` bytes with the NUL) and each literal's kind (0 int, 1 int64,
// 2 uint64, 3 double) and bits. Returns the number of literals, -1 when the formula has no
// shape (it is then compiled as written) or the buffers are too small; `flags` bit 0 is set
// when the shape must not stand for the formula (it divides and branches).
SCRIPTRT_EXPORT int SCRIPTRT_CALL _uc_formula_shape(const char *formula, char *code, int codeSize,
                                                    int *kinds, unsigned long long *bits,
                                                    int maxArgs, int *flags);
// Compiles the shape of a formula (see _uc_formula_shape; text literals may hold any characters)
// unless it is compiled already: 1 when _uc_eval_shaped can run it, else 0.
SCRIPTRT_EXPORT int SCRIPTRT_CALL _uc_prepare_shape(const char *formula);
// Runs the compiled function of a shape that _uc_eval has already compiled, with the given
// literals, exactly as _uc_eval runs that formula. 1 with the value in `result`, 0 with the
// error text, -1 when no compiled function of that shape is at hand (evaluate the text then).
SCRIPTRT_EXPORT int SCRIPTRT_CALL _uc_eval_shaped(const char *code, int count, const int *kinds,
                                                  const unsigned long long *bits, char *result,
                                                  int size);
// Sets a function the interpreter calls about every tenth of a second while a script runs (null:
// none); when it returns nonzero the script stops with an error saying it was stopped on request.
// The function is called on the thread that runs the script.
typedef int(SCRIPTRT_CALL *uc_poll_fn)();
SCRIPTRT_EXPORT void SCRIPTRT_CALL _uc_set_poll(uc_poll_fn poll);

// Entry points of the interface that this interpreter does not support: they change nothing,
// return 0 and leave "not supported" as the last error.
SCRIPTRT_EXPORT int SCRIPTRT_CALL _uc_main(int argc, char **argv);
SCRIPTRT_EXPORT int SCRIPTRT_CALL _uc_interactive_loop();
SCRIPTRT_EXPORT int SCRIPTRT_CALL _uc_main_window();
SCRIPTRT_EXPORT int SCRIPTRT_CALL _uc_load(const char *path);
SCRIPTRT_EXPORT int SCRIPTRT_CALL _uc_set_quote(int begin, int end);
SCRIPTRT_EXPORT int SCRIPTRT_CALL _uc_init_ref(const char *type, const char *name, void *address);
SCRIPTRT_EXPORT int SCRIPTRT_CALL _uc_compile(const char *declaration, const char *body);
SCRIPTRT_EXPORT int uc_eval_args(void *function, void *result, ...);
SCRIPTRT_EXPORT int uc_eval_method_args(void *function, void *object, void *result, ...);
SCRIPTRT_EXPORT void *SCRIPTRT_CALL _uc_compile_fn(const char *declaration, const char *body);

} // extern "C"
