#pragma once

#include <string>

#include "common/result.h"

namespace marlwood {

// A library loaded when a feature first needs it (dlopen), so that a plain conversion never maps
// it: its start-up time and memory stay the program's own. Handles stay open for the life of the
// process, as the functions taken from them are used until its end.
class SharedLibrary {
  public:
    // Opens `file` (a soname such as "libarchive.so.13"); the Error says that the machine has no
    // such file, naming the Debian `package` that has it and what it was wanted `for_what`.
    static Result<SharedLibrary> open(const char* file, const char* package, const char* for_what);

    // The Error of a library that did not load, from the loader's reason: missing, the line
    // above; there but not loaded (no memory to map it, a broken file), the loader's reason.
    static Error openProblem(const char* file, const char* package, const char* for_what,
                             const std::string& loader_reason);

    // Sets `to` to the function `name`; false when the library has no such symbol.
    template <typename Function>
    bool load(const char* name, Function& to) const {
        to = reinterpret_cast<Function>(symbol(name));
        return to != nullptr;
    }

    // The line of a library that lacks a function it should have.
    std::string lacksFunction() const;

  private:
    SharedLibrary(void* handle, const char* file) : handle_(handle), file_(file) {}
    void* symbol(const char* name) const;

    void* handle_;
    const char* file_;
};

// What a loader names: the soname, the Debian package that has it, and what it is wanted for.
struct LibraryName {
    const char* file;
    const char* package;
    const char* for_what;
};

// A library's functions, a struct of pointers that `bind` fills (true when every one was
// there), loaded on the first call, once and thread-safely, and kept for the life of the
// process. Each struct type is one library.
template <class Functions>
Result<const Functions*> libraryFunctions(const LibraryName& name,
                                          bool (*bind)(const SharedLibrary&, Functions&)) {
    static const Result<Functions> loaded = [&]() -> Result<Functions> {
        const Result<SharedLibrary> so =
            SharedLibrary::open(name.file, name.package, name.for_what);
        if (!so) return so.error();
        Functions functions;
        if (!bind(*so, functions)) return failure(so->lacksFunction());
        return functions;
    }();
    if (!loaded) return loaded.error();
    return &*loaded;
}

}  // namespace marlwood
